// Our own codec for Windows BMP file images: 1, 4 and 8-bit palette pictures, 16-bit 5-5-5 and
// 5-6-5 (bitfields), 24 and 32-bit, bottom-up and top-down rows, info headers of 12, 40, 52,
// 56, 108 and 124 bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>

#include "raster/core.h"

namespace raster::bmp {

// A file image that cannot be decoded; the text says why.
class EBmpError : public ERasterError {
 public:
  using ERasterError::ERasterError;
};

// Decodes a complete BMP file image into Target (resized). Palette pictures become their
// palette colours; 16 and 24-bit pictures become opaque; 32-bit pictures keep their fourth
// byte as alpha. Raises EBmpError and leaves Target untouched when the image is malformed.
void Decode(const std::uint8_t* Data, std::size_t Size, TBitmap32& Target);
void Decode(std::istream& Stream, TBitmap32& Target);

// Writes Source as a 32-bit, bottom-up BMP file image with a 40-byte info header (alpha kept
// in the fourth byte).
void Encode(const TBitmap32& Source, std::ostream& Stream);

}  // namespace raster::bmp
