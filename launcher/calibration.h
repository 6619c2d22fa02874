// A picture's scale (pixels per 100 mm) and exclusion circle, derived from the camera model,
// focal length and pixel width in its EXIF data and a linear calibration per camera in
// "camera.ini" (beside the program, or a user's or administrator's copy: platform/paths.h).
#pragma once

#include <optional>
#include <string>

#include "interface/interfaceba.h"

namespace launcher {

// The EXIF reader's one function: tag Tag of the picture at Path as a zero-terminated text in
// the caller's 2048-byte Buffer. Tests put a reader of their own in its place.
using TExifTagReader = int (*)(const char* Path, int Tag, char* Buffer);
// Installs Reader (nullptr: the EXIF reader library) and returns the one that was installed.
TExifTagReader SetExifTagReader(TExifTagReader Reader);

struct TExifData {
  std::string Model;        // the camera model, the section name in camera.ini
  int PixelXDimension = 0;  // picture width; -1 when the text is not a whole number
  double FocalLength = 0;   // mm; 0 without "/", -1 when it does not convert
};

// The three values, read in the order Model, PixelXDimension, FocalLength.
TExifData ReadExifData(const std::string& Path);

// A whole number in decimal (optional sign, surrounding blanks allowed) that fits 32 bits.
std::optional<int> TextToInteger(const std::string& Text);
// A floating-point number with "." as decimal separator, whatever the locale.
std::optional<double> TextToFloat(const std::string& Text);
// A number for a log line: up to 15 significant digits, "." as decimal separator, an exponent
// only for very large or small values ("1E-7", "1E20").
std::string FloatToText(double Value);

// numerator / denominator of a text "numerator/denominator"; 0 without "/", -1 when either
// part is not a whole number or the denominator is 0.
double RationalToFloat(const std::string& Text);

// Sets Record's Pp100MM and exclusion circle from its picture (0 where nothing is computed),
// writing every failure to the log. True when nothing failed.
bool SetCamProperties(iface::TImageData& Record);

}  // namespace launcher
