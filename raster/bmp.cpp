#include "raster/bmp.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <istream>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

namespace raster::bmp {

namespace {

// Compression codes of the info header.
constexpr std::uint32_t BI_RGB = 0;
constexpr std::uint32_t BI_RLE8 = 1;
constexpr std::uint32_t BI_RLE4 = 2;
constexpr std::uint32_t BI_BITFIELDS = 3;
constexpr std::uint32_t BI_ALPHABITFIELDS = 6;

constexpr std::size_t FileHeaderSize = 14;
constexpr TColor32 OpaqueBlack = 0xFF000000u;

std::uint16_t ReadU16(const std::uint8_t* P) {
  return std::uint16_t(P[0] | (P[1] << 8));
}
std::uint32_t ReadU32(const std::uint8_t* P) {
  return std::uint32_t(P[0]) | (std::uint32_t(P[1]) << 8) | (std::uint32_t(P[2]) << 16) |
         (std::uint32_t(P[3]) << 24);
}

[[noreturn]] void Fail(const std::string& Text) {
  throw EBmpError(Text);
}

// One colour channel described by a bit mask. The value is scaled so that the mask's full
// value maps to 255 (rounded to nearest); dividing by the mask itself rather than by 2^bits - 1
// keeps non-contiguous masks in range too.
struct Channel {
  std::uint32_t Mask = 0;
  int Shift = 0;
  std::uint32_t Max = 0;

  explicit Channel(std::uint32_t M = 0) : Mask(M) {
    if (M != 0) {
      Shift = std::countr_zero(M);
      Max = M >> Shift;
    }
  }
  std::uint32_t Extract(std::uint32_t Pixel, std::uint32_t Absent) const {
    if (Max == 0) return Absent;
    const std::uint64_t v = (Pixel & Mask) >> Shift;
    return std::uint32_t((v * 255 + Max / 2) / Max);
  }
};

struct Header {
  std::uint32_t InfoSize = 0;
  std::int64_t Width = 0;
  std::int64_t Height = 0;  // positive; TopDown tells the row order
  bool TopDown = false;
  std::uint32_t BitCount = 0;
  std::uint32_t Compression = BI_RGB;
  std::uint32_t ColorsUsed = 0;
  std::uint32_t Masks[4] = {0, 0, 0, 0};  // red, green, blue, alpha
  bool HasAlphaMask = false;
  std::size_t PaletteStart = 0;
  std::size_t PaletteEntrySize = 4;
  std::uint32_t PixelOffset = 0;
};

Header ReadHeader(const std::uint8_t* Data, std::size_t Size) {
  if (Size < FileHeaderSize + 4) Fail("The BMP file image is truncated in its header");
  if (Data[0] != 'B' || Data[1] != 'M') Fail("Not a BMP file image (no \"BM\" signature)");
  Header h;
  h.PixelOffset = ReadU32(Data + 10);
  h.InfoSize = ReadU32(Data + 14);
  switch (h.InfoSize) {
    case 12:
    case 40:
    case 52:
    case 56:
    case 108:
    case 124:
      break;
    default:
      Fail("Unsupported BMP info header size " + std::to_string(h.InfoSize));
  }
  if (Size < FileHeaderSize + h.InfoSize) Fail("The BMP file image is truncated in its header");
  const std::uint8_t* info = Data + FileHeaderSize;

  if (h.InfoSize == 12) {
    // OS/2 1.x core header: unsigned 16-bit sizes, always bottom-up, 3-byte palette entries.
    h.Width = ReadU16(info + 4);
    h.Height = ReadU16(info + 6);
    h.BitCount = ReadU16(info + 10);
    h.PaletteEntrySize = 3;
  } else {
    h.Width = std::int32_t(ReadU32(info + 4));
    const std::int64_t height = std::int32_t(ReadU32(info + 8));
    h.TopDown = height < 0;
    h.Height = height < 0 ? -height : height;
    h.BitCount = ReadU16(info + 14);
    h.Compression = ReadU32(info + 16);
    h.ColorsUsed = ReadU32(info + 32);
  }
  h.PaletteStart = FileHeaderSize + h.InfoSize;

  if (h.Compression == BI_BITFIELDS || h.Compression == BI_ALPHABITFIELDS) {
    const bool withAlpha = h.Compression == BI_ALPHABITFIELDS;
    const std::size_t count = withAlpha ? 4 : 3;
    const std::uint8_t* masks = info + 40;
    if (h.InfoSize == 40) {
      // The masks follow a plain 40-byte header and come before the palette.
      if (Size < h.PaletteStart + 4 * count) Fail("The BMP file image is truncated in its masks");
      masks = Data + h.PaletteStart;
      h.PaletteStart += 4 * count;
    }
    for (std::size_t i = 0; i < 3; ++i) h.Masks[i] = ReadU32(masks + 4 * i);
    // A 52-byte header has room for three masks only.
    if ((withAlpha && h.InfoSize == 40) || h.InfoSize >= 56) {
      h.Masks[3] = ReadU32(masks + 12);
      h.HasAlphaMask = h.Masks[3] != 0;
    }
  }
  return h;
}

// Expands palette indices of one row; the packed bits run from the most significant end.
void ExpandIndexedRow(const std::uint8_t* Src, std::uint32_t BitCount, std::int64_t Width,
                      const std::array<TColor32, 256>& Palette, TColor32* Dst) {
  switch (BitCount) {
    case 1:
      for (std::int64_t x = 0; x < Width; ++x) Dst[x] = Palette[(Src[x >> 3] >> (7 - (x & 7))) & 1];
      break;
    case 4:
      for (std::int64_t x = 0; x < Width; ++x) {
        Dst[x] = Palette[(x & 1) ? (Src[x >> 1] & 0x0F) : (Src[x >> 1] >> 4)];
      }
      break;
    default:
      for (std::int64_t x = 0; x < Width; ++x) Dst[x] = Palette[Src[x]];
      break;
  }
}

// Run-length encoded 8 or 4-bit rows (always bottom-up). Pixels the data skips keep palette
// entry 0. Any run or move that would leave the picture, and data that ends before all rows are
// done, is an error rather than a silent clip. Put(x, y, index) receives every pixel the data
// sets, y counted from the bottom row.
template <class TPut>
void WalkRle(const std::uint8_t* Src, std::size_t SrcSize, const Header& h, TPut Put) {
  const std::int64_t width = h.Width;
  const std::int64_t height = h.Height;
  const bool four = h.Compression == BI_RLE4;
  const auto fail = [&]() {
    Fail(std::string("Invalid ") + (four ? "RLE4" : "RLE8") + " data in the BMP file image");
  };
  std::size_t pos = 0;
  std::int64_t x = 0;
  std::int64_t y = 0;
  while (true) {
    if (pos + 2 > SrcSize) {
      // Data that simply ends after the last row has been finished is accepted.
      if (y >= height) return;
      fail();
    }
    const std::uint8_t count = Src[pos];
    const std::uint8_t value = Src[pos + 1];
    pos += 2;
    if (count > 0) {
      if (y >= height || x + count > width) fail();
      for (int i = 0; i < count; ++i) {
        Put(x++, y, four ? ((i & 1) ? (value & 0x0F) : (value >> 4)) : value);
      }
      continue;
    }
    switch (value) {
      case 0:  // end of line
        x = 0;
        ++y;
        break;
      case 1:  // end of bitmap
        return;
      case 2: {  // move right and up
        if (pos + 2 > SrcSize) fail();
        x += Src[pos];
        y += Src[pos + 1];
        pos += 2;
        if (x > width || y > height || (y == height && x > 0)) fail();
        break;
      }
      default: {  // literal run of `value` pixels, padded to a 16-bit boundary
        const std::size_t bytes = four ? (value + 1u) / 2u : value;
        const std::size_t padded = (bytes + 1) & ~std::size_t(1);
        if (pos + bytes > SrcSize || y >= height || x + value > width) fail();
        for (int i = 0; i < value; ++i) {
          Put(x++, y,
              four ? ((i & 1) ? (Src[pos + i / 2] & 0x0F) : (Src[pos + i / 2] >> 4))
                   : Src[pos + i]);
        }
        pos += std::min(padded, SrcSize - pos);
        break;
      }
    }
  }
}

// The data is checked in full before the picture's memory is taken: a few bytes of broken
// data must not first cost a picture of the size the header claims (up to 1 GiB).
void DecodeRle(const std::uint8_t* Src, std::size_t SrcSize, const Header& h,
               const std::array<TColor32, 256>& Palette, TBitmap32& Out) {
  WalkRle(Src, SrcSize, h, [](std::int64_t, std::int64_t, std::uint8_t) {});
  const std::int64_t width = h.Width;
  const std::int64_t height = h.Height;
  Out.SetSize(std::int32_t(width), std::int32_t(height));
  TColor32* bits = Out.PixelBuffer();
  std::fill_n(bits, std::size_t(width * height), Palette[0]);
  WalkRle(Src, SrcSize, h, [&](std::int64_t X, std::int64_t Y, std::uint8_t Index) {
    bits[std::size_t((height - 1 - Y) * width + X)] = Palette[Index];
  });
}

}  // namespace

void Decode(const std::uint8_t* Data, std::size_t Size, TBitmap32& Target) {
  const Header h = ReadHeader(Data, Size);

  const std::uint32_t bpp = h.BitCount;
  if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) {
    Fail("Unsupported BMP bit count " + std::to_string(bpp));
  }
  switch (h.Compression) {
    case BI_RGB:
      break;
    case BI_RLE8:
      if (bpp != 8) Fail("BMP RLE8 compression needs 8 bits per pixel");
      break;
    case BI_RLE4:
      if (bpp != 4) Fail("BMP RLE4 compression needs 4 bits per pixel");
      break;
    case BI_BITFIELDS:
    case BI_ALPHABITFIELDS:
      if (bpp != 16 && bpp != 32) Fail("BMP bit-field masks need 16 or 32 bits per pixel");
      break;
    default:
      Fail("Unsupported BMP compression " + std::to_string(h.Compression));
  }
  const bool rle = h.Compression == BI_RLE8 || h.Compression == BI_RLE4;
  if (rle && h.TopDown) Fail("A run-length encoded BMP cannot be stored top-down");
  if (h.Width < 0) Fail("Invalid BMP width " + std::to_string(h.Width));
  if (h.Width > 0 && h.Height > 0 && h.Width * h.Height > MaxBitmapPixels) {
    Fail("The BMP picture is too large: " + std::to_string(h.Width) + " x " +
         std::to_string(h.Height) + " pixels");
  }
  if (h.PixelOffset < h.PaletteStart) Fail("The BMP pixel data offset lies inside its header");
  if (h.PixelOffset > Size) Fail("The BMP pixel data offset lies beyond the end of the file");

  // An empty picture is a valid (if useless) file image; it is what an empty bitmap writes.
  if (h.Width == 0 || h.Height == 0) {
    TBitmap32 empty;
    Target.TakeOver(empty);
    return;
  }

  // Width is at most 2^28 here and bpp at most 32, so the row size cannot overflow 64 bits.
  const std::uint64_t rowSize = ((std::uint64_t(h.Width) * bpp + 31) / 32) * 4;
  const std::size_t dataSize = Size - h.PixelOffset;
  if (!rle && rowSize * std::uint64_t(h.Height) > dataSize) {
    Fail("The BMP file image is truncated in its pixel data");
  }

  std::array<TColor32, 256> palette;
  palette.fill(OpaqueBlack);  // indices beyond the stored palette read as black
  if (bpp <= 8) {
    std::size_t count = h.ColorsUsed == 0 ? std::size_t(1) << bpp : h.ColorsUsed;
    count = std::min(count, std::size_t(1) << bpp);
    // Entries that would overlap the pixel data are not palette entries.
    count = std::min(count, (h.PixelOffset - h.PaletteStart) / h.PaletteEntrySize);
    for (std::size_t i = 0; i < count; ++i) {
      const std::uint8_t* e = Data + h.PaletteStart + i * h.PaletteEntrySize;
      palette[i] = Color32(e[2], e[1], e[0], 255);  // the reserved byte is not alpha
    }
  }

  TBitmap32 out;
  const std::uint8_t* pixels = Data + h.PixelOffset;
  const std::int64_t width = h.Width;

  if (rle) {
    DecodeRle(pixels, dataSize, h, palette, out);
  } else {
    out.SetSize(std::int32_t(h.Width), std::int32_t(h.Height));
    std::uint32_t masks[4] = {h.Masks[0], h.Masks[1], h.Masks[2], h.Masks[3]};
    bool useMasks = h.Compression == BI_BITFIELDS || h.Compression == BI_ALPHABITFIELDS;
    if (bpp == 16 && !useMasks) {
      masks[0] = 0x7C00;  // 5-5-5, top bit unused
      masks[1] = 0x03E0;
      masks[2] = 0x001F;
      masks[3] = 0;
      useMasks = true;
    }
    const Channel red(masks[0]), green(masks[1]), blue(masks[2]), alpha(masks[3]);

    for (std::int64_t row = 0; row < h.Height; ++row) {
      const std::uint8_t* src = pixels + std::size_t(row) * rowSize;
      const std::int64_t y = h.TopDown ? row : h.Height - 1 - row;
      TColor32* dst = out.GetScanLine(std::int32_t(y));
      if (bpp <= 8) {
        ExpandIndexedRow(src, bpp, width, palette, dst);
      } else if (useMasks) {
        for (std::int64_t x = 0; x < width; ++x) {
          const std::uint32_t p = bpp == 16 ? ReadU16(src + 2 * x) : ReadU32(src + 4 * x);
          dst[x] = Color32(std::uint8_t(red.Extract(p, 0)), std::uint8_t(green.Extract(p, 0)),
                           std::uint8_t(blue.Extract(p, 0)), std::uint8_t(alpha.Extract(p, 255)));
        }
      } else if (bpp == 24) {
        for (std::int64_t x = 0; x < width; ++x) {
          const std::uint8_t* s = src + 3 * x;
          dst[x] = Color32(s[2], s[1], s[0], 255);
        }
      } else {  // 32-bit BI_RGB: B, G, R and the fourth byte as alpha
        for (std::int64_t x = 0; x < width; ++x) dst[x] = ReadU32(src + 4 * x);
      }
    }
  }
  Target.TakeOver(out);
}

namespace {

// Appends up to Count bytes of Stream to Data; stops early at the end of the stream.
void ReadMore(std::istream& Stream, std::vector<std::uint8_t>& Data, std::uint64_t Count) {
  char buffer[65536];
  while (Count > 0) {
    const std::streamsize chunk = std::streamsize(std::min<std::uint64_t>(Count, sizeof buffer));
    Stream.read(buffer, chunk);
    const std::streamsize got = Stream.gcount();
    if (got <= 0) return;
    Data.insert(Data.end(), buffer, buffer + got);
    Count -= std::uint64_t(got);
    if (got < chunk) return;
  }
}

// How many bytes of a file image with this header can matter to the decoder. Run-length data
// needs at most two bytes per pixel (runs of one) plus an end code per row; what lies beyond is
// never read, so an endless stream cannot exhaust memory.
std::uint64_t UsefulSize(const Header& h) {
  const std::uint64_t start = std::max<std::uint64_t>(h.PixelOffset, h.PaletteStart);
  if (h.Width <= 0 || h.Height <= 0 || h.BitCount == 0 || h.BitCount > 32 ||
      h.Width * h.Height > MaxBitmapPixels) {
    return start;
  }
  const std::uint64_t pixels = std::uint64_t(h.Width) * std::uint64_t(h.Height);
  if (h.Compression == BI_RLE8 || h.Compression == BI_RLE4) {
    return start + 4 * pixels + 4 * std::uint64_t(h.Height) + 2;
  }
  const std::uint64_t rowSize = ((std::uint64_t(h.Width) * h.BitCount + 31) / 32) * 4;
  return start + rowSize * std::uint64_t(h.Height);
}

}  // namespace

void Decode(std::istream& Stream, TBitmap32& Target) {
  // The headers, masks and a full palette lie in the first 1178 bytes.
  constexpr std::uint64_t HeadBytes = FileHeaderSize + 124 + 16 + 256 * 4;
  std::vector<std::uint8_t> data;
  ReadMore(Stream, data, HeadBytes);
  const Header h = ReadHeader(data.data(), data.size());
  const std::uint64_t useful = UsefulSize(h);
  if (useful > data.size()) ReadMore(Stream, data, useful - data.size());
  Decode(data.data(), data.size(), Target);
}

namespace {
void PutU16(std::uint8_t* P, std::uint32_t V) {
  P[0] = std::uint8_t(V);
  P[1] = std::uint8_t(V >> 8);
}
void PutU32(std::uint8_t* P, std::uint32_t V) {
  for (int i = 0; i < 4; ++i) P[i] = std::uint8_t(V >> (8 * i));
}
}  // namespace

void Encode(const TBitmap32& Source, std::ostream& Stream) {
  const std::uint32_t width = Source.Empty() ? 0 : std::uint32_t(Source.Width());
  const std::uint32_t height = Source.Empty() ? 0 : std::uint32_t(Source.Height());
  const std::uint64_t imageSize = std::uint64_t(width) * height * 4;
  const std::uint64_t fileSize = FileHeaderSize + 40 + imageSize;

  std::uint8_t header[FileHeaderSize + 40] = {};
  header[0] = 'B';
  header[1] = 'M';
  // Above 4 GiB the size fields cannot hold the value; readers go by width and height.
  PutU32(header + 2, fileSize > 0xFFFFFFFFu ? 0 : std::uint32_t(fileSize));
  PutU32(header + 10, FileHeaderSize + 40);
  std::uint8_t* info = header + FileHeaderSize;
  PutU32(info, 40);
  PutU32(info + 4, width);
  PutU32(info + 8, height);  // positive: bottom-up
  PutU16(info + 12, 1);
  PutU16(info + 14, 32);
  PutU32(info + 16, BI_RGB);
  PutU32(info + 20, imageSize > 0xFFFFFFFFu ? 0 : std::uint32_t(imageSize));
  PutU32(info + 24, 2835);  // 72 dpi in pixels per metre
  PutU32(info + 28, 2835);
  Stream.write(reinterpret_cast<const char*>(header), sizeof header);

  std::vector<std::uint8_t> row(std::size_t(width) * 4);
  for (std::uint32_t r = 0; r < height; ++r) {
    const TColor32* line = Source.GetScanLine(std::int32_t(height - 1 - r));
    for (std::uint32_t x = 0; x < width; ++x) PutU32(row.data() + 4 * x, line[x]);
    Stream.write(reinterpret_cast<const char*>(row.data()), std::streamsize(row.size()));
  }
  if (!Stream) throw EBmpError("Cannot write the BMP file image");
}

}  // namespace raster::bmp
