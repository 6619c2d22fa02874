// Picture import (the program's Mvfreeimage unit): FreeImage decodes a picture file, and its
// device-independent bitmap is converted straight into the 32-bit layout of a TBitmap32. The
// decoding runs in the decoder process (overlay/isolated_decode.h), so that a file that makes
// FreeImage crash costs no more than that picture.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/status.h"
#include "raster/core.h"

namespace overlay {

// The part of the file name (not of a directory) from its last dot on, dot included; empty
// when the name has no dot. "/a.b/c" gives "", "x/photo.JPG" gives ".JPG".
std::string FileExtension(const std::string& Path);

// A picture whose 32-bit copy would need more than 1 GiB (2^28 pixels) is refused.
constexpr std::int64_t MaxPicturePixels = raster::MaxBitmapPixels;

// The sentences that say why a picture did not load, in the window's language: German as the
// windows are built; the language file's [Messages] section replaces them (ApplyLanguage of
// overlay/windows/sprache.h). In TooLarge, %1 and %2 stand for the width and the height.
struct TPictureFailureTexts {
  std::string Missing = "Die Datei gibt es nicht.";
  std::string CannotRead = "Die Datei kann nicht gelesen werden.";
  std::string NotPicture = "Die Datei ist kein Bild der Art, die ihre Endung nennt.";
  std::string Damaged = "Das Bild ist beschädigt.";
  std::string TooLarge = "Das Bild ist zu groß: %1 × %2 Pixel";
  std::string NotLoaded = "Das Bild kann nicht geladen werden.";
};
// The texts in use; safe to call from any thread.
TPictureFailureTexts PictureFailureTexts();
void SetPictureFailureTexts(TPictureFailureTexts Texts);

// The sentence for a refused picture, e.g. "Das Bild ist zu groß: 65535 × 32767 Pixel".
std::string TooLargeText(std::uint64_t Width, std::uint64_t Height);
// A reason as the user sees it: Sentence, then the file on a line of its own, so that of two
// pictures the user knows which one it was.
std::string PictureFailureText(const std::string& Sentence, const std::string& Path);

// Whether the extension of Path names a type the import has a loader for (so that LoadPicture
// does not refuse it with "Unknown file format *").
bool IsImportedExtension(const std::string& Path);
// Every extension the import has a loader for, lower case, without the dot, sorted ("bmp",
// "jpe", "jpeg", "jpg", ...).
std::vector<std::string> ImportedExtensions();

// A loaded picture, or why there is none (platform/status.h).
using TPictureResult = platform::TResult<std::unique_ptr<raster::TBitmap32>>;

// Loads the picture file at Path: with FreeImage, or with DCMTK for a DICOM file (IsDicomFile of
// picture_import_p.h: .dcm, or no extension and the DICOM preamble), whose first frame it gives
// (TPictureFacts::Frames says how many there are), colour or grey as shown by its window or, for
// more than 8 bits without one, its range of values. Every failure has its reason
// (PictureFailureText of one of the sentences): no file (Missing); a file this user may not read
// (CannotRead); a folder, pipe or device, or contents FreeImage does not take for the type the
// extension names (NotPicture); a file that does not decode or makes the decoder process crash,
// abort, answer nonsense or run past DecoderTimeoutSeconds (Damaged); no decoder process
// (NotLoaded); a picture too large (TooLargeText); and "Unknown file format *" + extension when the
// extension names no type the program loads (decided here, before any decoder starts). Shows
// nothing: the caller tells the user (LoadPictureOrTell of overlay/scene/picture_loading.h).
// Palette pictures become their palette colours, opaque except for the entries of their
// transparency table; 15/16/24-bit pictures their colours, opaque; 32-bit pictures keep their
// fourth byte as alpha; 16-bit grey, 48 and 64-bit colour and other non-standard pictures are
// reduced to 8 bits per channel. Raises raster::EBitmapError when the memory for the 32-bit copy
// cannot be had.
TPictureResult LoadPicture(const std::string& Path);

// How a loaded picture is handed over: with its pixels as stored in the file (LoadPicture's
// way), or Upright, turned and mirrored as the file's EXIF orientation tag says
// (ApplyExifOrientation of overlay/orientation.h; a file without the tag is as stored).
enum class TPictureOrientation { AsStored, Upright };
// LoadPicture, the picture then handed over as Orientation says. The tag is read by the decoder
// process, not here.
TPictureResult LoadPicture(const std::string& Path, TPictureOrientation Orientation);
// Where a DICOM picture's spacing came from.
enum class TSpacingSource : std::uint8_t {
  None,          // the file gives none
  PixelSpacing,  // Pixel Spacing (0028,0030): in the patient's plane
  // Imager Pixel Spacing (0018,1164), the detector's, divided by the Estimated Radiographic
  // Magnification Factor (0018,1114): in the patient's plane
  MagnifiedImagerSpacing,
  // Imager Pixel Spacing alone: the detector's, larger than the patient's by a magnification the
  // file does not give, so it is not taken (no spacing); the scene's loading tells the user
  DetectorOnly,
};
// The lossy compression a picture's pixels went through on their way to the file, as DICOM's
// Lossy Image Compression Method names it (Unknown: lossy, by a method not named here).
enum class TLossyCompression : std::uint8_t { None, Jpeg, JpegLs, Jpeg2000, Unknown };
// What the file says of a picture besides its pixels.
struct TPictureFacts {
  std::uint64_t DateTaken = 0;  // EXIF DateTimeOriginal as YYYYMMDDhhmmss, or 0 for none
  // A DICOM picture's own: the distance of its pixels' centres in millimetres in the patient's
  // plane, exactly as the file gives it (rows apart, columns apart; 0 when it gives none), where
  // it came from, and the UID of the study it belongs to (empty for none).
  double PixelSpacingRow = 0, PixelSpacingColumn = 0;
  TSpacingSource SpacingSource = TSpacingSource::None;
  std::string StudyInstanceUid;
  // A DICOM picture's patient as the file stores it, in UTF-8 without the padding: Patient's
  // Name as a DICOM person name ("Family^Given^Middle^Prefix^Suffix"), Patient ID, Patient's
  // Birth Date ("YYYYMMDD"); empty where it names none. Not checked here: the export checks
  // them as DICOM values (a value cut at decoder::MaxPatientTextLength never passes).
  std::string PatientName, PatientId, PatientBirthDate;
  // Lossy by what the source is: a JPEG file (by its contents or its extension), a TIFF whose
  // pixels are JPEG-compressed, a DICOM file of a lossy transfer syntax or whose Lossy Image
  // Compression is "01".
  TLossyCompression Lossy = TLossyCompression::None;
  // A DICOM file's number of frames (the pixels are its first's); 0 for a format without frames.
  // More than one is a note for the user (the scene's loading tells it).
  std::uint32_t Frames = 0;
  // The EXIF orientation the pixels were turned by as handed over (2..8), or 1 when they are as
  // stored (no tag, or loaded as stored): what the comparison record keeps, so that a placement
  // is never applied to the picture turned another way.
  int ShownOrientation = 1;
};
// The scale a picture's own facts give, in pixels per 100 mm: round(100 / the column spacing),
// since the scale bar and the measures take one scale along x (a picture whose rows lie apart
// otherwise measures its vertical lengths with that error); 0 when the facts give no spacing or
// one whose scale would be below 1 or above MaxFactsPp100MM.
constexpr int MaxFactsPp100MM = 1000000;
int FactsPp100MM(const TPictureFacts& Facts);
// A picture that loaded, with what its file says of it.
struct TLoadedPicture {
  std::unique_ptr<raster::TBitmap32> Picture;
  TPictureFacts Facts;
};
using TLoadedPictureResult = platform::TResult<TLoadedPicture>;
// LoadPicture(Path, Orientation), the picture with its facts.
TLoadedPictureResult LoadPictureWithFacts(
    const std::string& Path, TPictureOrientation Orientation = TPictureOrientation::AsStored);
// "2025-08-12 14:03" for 20250812140305; empty for 0.
std::string FormatDateTaken(std::uint64_t DateTaken);
// An interface file's Date ("D.M.YYYY", one or two digits for day and month) and Time ("H:MM" or
// "H:MM:SS", or empty for none) as YYYYMMDDhhmmss; 0 when they are no calendar date and time in
// that form.
std::uint64_t VisitDateTaken(const std::string& Date, const std::string& Time);

// LoadPicture with FreeImage in this process: the same checks, reasons and pixels, but a file
// that crashes FreeImage ends this process. For the tests of the conversion only.
TPictureResult LoadPictureInProcess(const std::string& Path);
TPictureResult LoadPictureInProcess(const std::string& Path, TPictureOrientation Orientation);

// The text for a picture that cannot be loaded for no reason of its own (no decoder, no memory
// for a copy): PictureFailureText of the NotLoaded sentence.
std::string PictureNotLoadedText(const std::string& Path);

}  // namespace overlay
