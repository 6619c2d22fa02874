// Picture import (the program's Mvfreeimage unit): FreeImage decodes a picture file, and its
// device-independent bitmap is converted straight into the 32-bit layout of a TBitmap32. The
// decoding runs in the decoder process (overlay/isolated_decode.h), so that a file that makes
// FreeImage crash costs no more than that picture.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/status.h"
#include "raster/core.h"

namespace overlay {

// The part of the file name (not of a directory) from its last dot on, dot included; empty
// when the name has no dot. "/a.b/c" gives "", "x/photo.JPG" gives ".JPG".
std::string FileExtension(const std::string& Path);

// A picture whose 32-bit copy would need more than 1 GiB (2^28 pixels) is refused.
constexpr std::int64_t MaxPicturePixels = raster::MaxBitmapPixels;

// The text shown for a refused picture, e.g. "Das Bild ist zu groß: 65535 × 32767 Pixel".
std::string TooLargeText(std::uint64_t Width, std::uint64_t Height);

// Whether the extension of Path names a type the import has a loader for (so that LoadPicture
// does not refuse it with "Unknown file format *").
bool IsImportedExtension(const std::string& Path);

// A loaded picture, or why there is none (platform/status.h).
using TPictureResult = platform::TResult<std::unique_ptr<raster::TBitmap32>>;

// Loads the picture file at Path. Fails without a reason when no file exists or FreeImage
// cannot decode it (also when the decoder process crashes, aborts, answers nonsense, runs past
// DecoderTimeoutSeconds or cannot be started); fails with the reason "Unknown file format *" +
// extension when the extension names no type the program loads (decided here, before any
// decoder starts), and with TooLargeText when the picture is too large. Shows nothing: the
// caller tells the user (LoadPictureOrTell of overlay/scene/picture_loading.h). Palette
// pictures become their palette colours, opaque except for the entries of their transparency
// table; 15/16/24-bit pictures their colours, opaque; 32-bit pictures keep their fourth byte as
// alpha; 16-bit grey, 48 and 64-bit colour and other non-standard pictures are reduced to 8
// bits per channel. Raises raster::EBitmapError when the memory for the 32-bit copy cannot be
// had.
TPictureResult LoadPicture(const std::string& Path);

// How a loaded picture is handed over: with its pixels as stored in the file (LoadPicture's
// way), or Upright, turned and mirrored as the file's EXIF orientation tag says
// (ApplyExifOrientation of overlay/orientation.h; a file without the tag is as stored).
enum class TPictureOrientation { AsStored, Upright };
// LoadPicture, the picture then handed over as Orientation says. The tag is read by the decoder
// process, not here.
TPictureResult LoadPicture(const std::string& Path, TPictureOrientation Orientation);

// LoadPicture with FreeImage in this process: the same checks, reasons and pixels, but a file
// that crashes FreeImage ends this process. For the tests of the conversion only.
TPictureResult LoadPictureInProcess(const std::string& Path);
TPictureResult LoadPictureInProcess(const std::string& Path, TPictureOrientation Orientation);

// The text for a picture that cannot be read (missing, damaged, or out of memory).
std::string PictureNotLoadedText(const std::string& Path);

}  // namespace overlay
