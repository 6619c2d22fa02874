// Pictures the right way up: the EXIF orientation tag (0x0112) says how the stored pixels must
// be turned or mirrored to be seen upright. The decoder only reports the tag; these plain
// functions (no Qt) turn the pixels where the settings ask for it.
#pragma once

#include <string>

#include "raster/core.h"

namespace overlay {

// Turns and mirrors Bitmap as the EXIF orientation Orientation says, so that it is upright:
// 2 mirrored left to right, 3 turned by 180 degrees, 4 mirrored top to bottom, 5 mirrored about
// the main diagonal (transposed), 6 turned by 90 degrees clockwise, 7 mirrored about the other
// diagonal, 8 turned by 90 degrees counter-clockwise. 5..8 swap width and height. Every pixel
// is moved whole, none resampled. 1 and any value outside 1..8 leave Bitmap as it is. Raises
// raster::EBitmapError when the memory for a turned copy cannot be had (5..8).
void ApplyExifOrientation(raster::TBitmap32& Bitmap, int Orientation);

// [Display] ExifOrientation of the settings file at Path: true only for the value 1; 0, any
// other value, a missing key or file read as false (pictures as stored).
bool ReadExifOrientationSetting(const std::string& Path);

}  // namespace overlay
