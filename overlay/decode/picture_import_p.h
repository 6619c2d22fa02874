// Internal to the picture import: the FreeImage decoding that runs in the decoder process (and
// in-process for the conversion tests), and the 24 to 32-bit row conversions, exposed so the
// tests can hold the vector version against the scalar one.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "overlay/decode/picture_import.h"
#include "raster/core.h"

struct FIBITMAP;

namespace overlay::detail {

// B, G, R bytes of Width pixels to opaque 0xAARRGGBB pixels. Reads no byte past the row's
// 3 * Width bytes.
void ConvertRow24Scalar(const std::uint8_t* Src, unsigned Width, std::uint32_t* Dst);
// The same with SSSE3 shuffles, four pixels per step; call only where HasSsse3() is true.
void ConvertRow24Ssse3(const std::uint8_t* Src, unsigned Width, std::uint32_t* Dst);
bool HasSsse3();

// The conversion in use: the SSSE3 one where the processor has it, unless the environment
// variable RASTER_SIMD is "off", then the scalar one.
using TConvertRow24 = void (*)(const std::uint8_t*, unsigned, std::uint32_t*);
TConvertRow24 ConvertRow24();

// Whether a decoded FreeImage bitmap can be converted, and its size when it can: FIT_BITMAP of
// 1, 4, 8, 16, 24 or 32 bits per pixel, not empty, at most MaxPicturePixels.
bool Convertible(FIBITMAP* Dib, unsigned* Width, unsigned* Height);
// Converts the rows [First, Last) (counted from the top) of a Convertible bitmap into pixels at
// Dst, which is where row First goes: rows without padding, top row first (the layout of
// TBitmap32), split over the engine's threads.
void ConvertDib(FIBITMAP* Dib, raster::TColor32* Dst, std::int32_t First, std::int32_t Last);

// A new TBitmap32 of a Convertible bitmap's Width x Height with its pixels converted
// (ConvertDib): FreeImage's bottom-up rows turned top-down; palette entries take their alpha
// from the transparency table where it has one for them.
std::unique_ptr<raster::TBitmap32> BitmapFromFreeImage(FIBITMAP* Dib, unsigned Width,
                                                       unsigned Height);

// CannotDecode: the file looks like its type but does not decode (damaged); NotPicture: its
// contents are not of the type its extension names (a text file named .jpg, a PNG named .jpg).
enum class TDecodeStatus { Ok, CannotDecode, TooLarge, NoMemory, NotPicture };
struct TDecodeResult {
  TDecodeStatus Status = TDecodeStatus::CannotDecode;
  // Ok and TooLarge: the picture's size.
  std::uint64_t Width = 0, Height = 0;
  // Ok: the file's EXIF orientation tag, 1..8, or 0 when it has none or an undefined value.
  int Orientation = 0;
  // Ok: what the file says besides the pixels (EXIF DateTimeOriginal, a DICOM file's spacing,
  // study and frames; decoder::TReply's limits).
  TPictureFacts Facts = {};
};
// Takes a decoded, Convertible picture of Width x Height and converts it (ConvertDib) to where
// its pixels go; false when the memory for them cannot be had.
using TPixelSink = std::function<bool(FIBITMAP* Dib, unsigned Width, unsigned Height)>;
// Decodes the picture file at Path with FreeImage, the type chosen by its extension: refuses a
// picture too large by its header before decoding its pixels (and again by the decoded size),
// reduces non-standard types to 8 bits per channel and hands the result to Sink. Shows no
// message, turns no pixels (the orientation is only reported) and makes no other decision of the
// import; the file's existence, type and extension are checked by the caller.
TDecodeResult DecodeWithFreeImage(const std::string& Path, const TPixelSink& Sink);

// Whether the extension of Path is .dcm in any case.
bool IsDicomExtension(const std::string& Path);
// Whether Path is to be read as DICOM: its extension is .dcm in any case, or it has none and
// the file holds "DICM" at byte 128 (the DICOM preamble's end). Reads at most those bytes.
bool IsDicomFile(const std::string& Path);
// Decodes the DICOM file at Path with DCMTK, as DecodeWithFreeImage does with FreeImage: its
// first frame (Facts.Frames says how many there are) as an 8-bit picture handed to Sink, its
// pixel spacing and study in Facts.
TDecodeResult DecodeWithDcmtk(const std::string& Path, const TPixelSink& Sink);
// Whether a JPEG fragment of a DICOM picture can go to the toolkit's decoder: its scan for the
// bit depth never ends at a TEM marker (0xFF01) before the frame header (or anywhere in a
// fragment without one), so such a fragment is refused as damaged first.
bool JpegHeaderReadable(const std::uint8_t* Data, std::uint32_t Length);
// DecodeWithDcmtk for a DICOM file (IsDicomFile), else DecodeWithFreeImage.
TDecodeResult DecodePictureFile(const std::string& Path, const TPixelSink& Sink);

}  // namespace overlay::detail
