#include "raster/bmp.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <streambuf>
#include <string>
#include <utility>
#include <vector>

namespace raster::bmp {
namespace {

using Bytes = std::vector<std::uint8_t>;

void Put16(Bytes& B, std::size_t At, std::uint32_t V) {
  B[At] = std::uint8_t(V);
  B[At + 1] = std::uint8_t(V >> 8);
}
void Put32(Bytes& B, std::size_t At, std::uint32_t V) {
  for (int i = 0; i < 4; ++i) B[At + i] = std::uint8_t(V >> (8 * i));
}

// Builds a BMP file image in memory. Rows are given in stored order (first stored row first)
// and without padding; the builder pads each to a multiple of four bytes.
struct BmpSpec {
  std::uint32_t InfoSize = 40;
  std::int32_t Width = 3;
  std::int32_t Height = 2;  // negative: top-down
  std::uint16_t BitCount = 24;
  std::uint32_t Compression = 0;
  std::uint32_t ColorsUsed = 0;
  std::vector<std::uint32_t> Masks;  // written into the header or after a 40-byte header
  Bytes Palette;                     // raw entries, 3 or 4 bytes each
  std::vector<Bytes> Rows;
  Bytes RawPixels;  // used instead of Rows when not empty (RLE data)
};

Bytes Build(const BmpSpec& S) {
  Bytes out(14 + S.InfoSize, 0);
  out[0] = 'B';
  out[1] = 'M';
  Put32(out, 14, S.InfoSize);
  if (S.InfoSize == 12) {
    Put16(out, 18, std::uint32_t(S.Width));
    Put16(out, 20, std::uint32_t(S.Height));
    Put16(out, 22, 1);
    Put16(out, 24, S.BitCount);
  } else {
    Put32(out, 18, std::uint32_t(S.Width));
    Put32(out, 22, std::uint32_t(S.Height));
    Put16(out, 26, 1);
    Put16(out, 28, S.BitCount);
    Put32(out, 30, S.Compression);
    Put32(out, 46, S.ColorsUsed);
    if (S.InfoSize > 40) {
      for (std::size_t i = 0; i < S.Masks.size() && 40 + 4 * i + 4 <= S.InfoSize; ++i) {
        Put32(out, 14 + 40 + 4 * i, S.Masks[i]);
      }
    } else {
      for (std::uint32_t m : S.Masks) {
        out.resize(out.size() + 4);
        Put32(out, out.size() - 4, m);
      }
    }
  }
  out.insert(out.end(), S.Palette.begin(), S.Palette.end());
  Put32(out, 10, std::uint32_t(out.size()));
  if (!S.RawPixels.empty()) {
    out.insert(out.end(), S.RawPixels.begin(), S.RawPixels.end());
  } else {
    for (const Bytes& row : S.Rows) {
      out.insert(out.end(), row.begin(), row.end());
      out.resize(out.size() + (4 - row.size() % 4) % 4, 0);
    }
  }
  Put32(out, 2, std::uint32_t(out.size()));
  return out;
}

std::unique_ptr<TBitmap32> DecodeBytes(const Bytes& Data) {
  auto bmp = std::make_unique<TBitmap32>();
  Decode(Data.data(), Data.size(), *bmp);
  return bmp;
}

// Asserts that decoding fails with EBmpError and leaves a sized target as it was.
void ExpectRefused(const Bytes& Data, const std::string& Why) {
  SCOPED_TRACE(Why);
  TBitmap32 target;
  target.SetSize(2, 2);
  target.Clear(0x12345678u);
  EXPECT_THROW(Decode(Data.data(), Data.size(), target), EBmpError);
  ASSERT_EQ(target.Width(), 2);
  ASSERT_EQ(target.Height(), 2);
  for (int y = 0; y < 2; ++y) {
    for (int x = 0; x < 2; ++x) EXPECT_EQ(target.GetPixel(x, y), 0x12345678u);
  }
}

// A 4-entry palette: blue, green, red, white; the reserved bytes are deliberately not zero.
Bytes FourColourPalette(std::size_t EntrySize) {
  const std::uint8_t entries[4][4] = {
      {255, 0, 0, 0x7F}, {0, 255, 0, 0x01}, {0, 0, 255, 0xFF}, {255, 255, 255, 0x00}};
  Bytes p;
  for (const auto& e : entries) p.insert(p.end(), e, e + EntrySize);
  return p;
}
constexpr TColor32 kBlue = 0xFF0000FFu, kGreen = 0xFF00FF00u, kRed = 0xFFFF0000u,
                   kWhite = 0xFFFFFFFFu, kBlack = 0xFF000000u;

// ---------------------------------------------------------------------------------------

TEST(BmpEncode, RoundTripKeepsEveryByteIncludingAlpha) {
  TBitmap32 src;
  src.SetSize(5, 3);
  for (int y = 0; y < 3; ++y) {
    for (int x = 0; x < 5; ++x) src.SetPixel(x, y, 0x01020304u * std::uint32_t(x + 7 * y + 1));
  }
  src.SetPixel(0, 0, 0x00FFFFFFu);  // fully transparent
  std::stringstream stream;
  Encode(src, stream);
  TBitmap32 back;
  Decode(stream, back);
  ASSERT_EQ(back.Width(), 5);
  ASSERT_EQ(back.Height(), 3);
  for (int y = 0; y < 3; ++y) {
    for (int x = 0; x < 5; ++x) EXPECT_EQ(back.GetPixel(x, y), src.GetPixel(x, y)) << x << "," << y;
  }
}

TEST(BmpEncode, WritesA32BitBottomUpFileWithA40ByteHeader) {
  TBitmap32 src;
  src.SetSize(2, 2);
  src.SetPixel(0, 0, 0x80112233u);  // top left
  src.SetPixel(0, 1, 0x40445566u);  // bottom left
  std::stringstream stream;
  Encode(src, stream);
  const std::string s = stream.str();
  ASSERT_EQ(s.size(), 14u + 40u + 16u);
  const auto u8 = [&](std::size_t i) { return std::uint8_t(s[i]); };
  const auto u32 = [&](std::size_t i) {
    return std::uint32_t(u8(i)) | (std::uint32_t(u8(i + 1)) << 8) |
           (std::uint32_t(u8(i + 2)) << 16) | (std::uint32_t(u8(i + 3)) << 24);
  };
  EXPECT_EQ(s.substr(0, 2), "BM");
  EXPECT_EQ(u32(2), 70u);   // file size
  EXPECT_EQ(u32(10), 54u);  // pixel offset
  EXPECT_EQ(u32(14), 40u);
  EXPECT_EQ(u32(18), 2u);
  EXPECT_EQ(u32(22), 2u);  // positive height: bottom-up
  EXPECT_EQ(u8(28), 32);
  EXPECT_EQ(u32(30), 0u);           // BI_RGB
  EXPECT_EQ(u32(54), 0x40445566u);  // first stored row is the bottom row, B G R A
  EXPECT_EQ(u32(62), 0x80112233u);
}

TEST(BmpEncode, EmptyBitmapRoundTripsToEmpty) {
  TBitmap32 empty;
  std::stringstream stream;
  Encode(empty, stream);
  TBitmap32 back;
  back.SetSize(3, 3);
  Decode(stream, back);
  EXPECT_TRUE(back.Empty());
  EXPECT_EQ(back.Width(), 0);
}

TEST(BmpEncode, TBitmap32StreamsGoThroughTheCodec) {
  TBitmap32 src;
  src.SetSize(3, 1);
  src.SetPixel(2, 0, 0x7F010203u);
  std::stringstream stream;
  src.SaveToStream(stream);
  TBitmap32 back;
  int changes = 0;
  back.OnChange = [&](TObject*) { ++changes; };
  back.LoadFromStream(stream);
  EXPECT_EQ(back.Width(), 3);
  EXPECT_EQ(back.GetPixel(2, 0), 0x7F010203u);
  EXPECT_GE(changes, 1);
}

// ---------------------------------------------------------------------------------------
// Palette pictures

TEST(BmpDecode, OneBitOddWidthUsesPaletteAndRowPadding) {
  BmpSpec s;
  s.BitCount = 1;
  s.Width = 3;
  s.Height = 2;
  s.ColorsUsed = 2;
  s.Palette = Bytes{0, 0, 0, 0, 255, 255, 255, 0};
  s.Rows = {{0b10100000}, {0b01011111}};  // bottom row first; bits past the width ignored
  auto b = DecodeBytes(Build(s));
  ASSERT_EQ(b->Width(), 3);
  ASSERT_EQ(b->Height(), 2);
  EXPECT_EQ(b->GetPixel(0, 1), kWhite);
  EXPECT_EQ(b->GetPixel(1, 1), kBlack);
  EXPECT_EQ(b->GetPixel(2, 1), kWhite);
  EXPECT_EQ(b->GetPixel(0, 0), kBlack);
  EXPECT_EQ(b->GetPixel(1, 0), kWhite);
  EXPECT_EQ(b->GetPixel(2, 0), kBlack);
}

TEST(BmpDecode, FourAndEightBitWithBothHeaderKindsAndRowOrders) {
  struct Case {
    std::uint32_t InfoSize;
    std::uint16_t BitCount;
    bool TopDown;
  };
  for (const Case c :
       {Case{40, 4, false}, Case{40, 4, true}, Case{12, 4, false}, Case{40, 8, false},
        Case{40, 8, true}, Case{12, 8, false}, Case{108, 8, false}, Case{124, 4, true}}) {
    SCOPED_TRACE(std::to_string(c.InfoSize) + " bytes, " + std::to_string(c.BitCount) + " bpp" +
                 (c.TopDown ? ", top-down" : ""));
    BmpSpec s;
    s.InfoSize = c.InfoSize;
    s.BitCount = c.BitCount;
    s.Width = 3;
    s.Height = c.TopDown ? -2 : 2;
    s.ColorsUsed = c.InfoSize == 12 ? 0 : 4;
    // The core header has no colours-used field: its palette runs up to the pixel data.
    s.Palette = FourColourPalette(c.InfoSize == 12 ? 3 : 4);
    // Logical picture: top row blue, green, red; bottom row white, red, blue.
    const Bytes top = c.BitCount == 4 ? Bytes{0x01, 0x20} : Bytes{0, 1, 2};
    const Bytes bottom = c.BitCount == 4 ? Bytes{0x32, 0x00} : Bytes{3, 2, 0};
    s.Rows = c.TopDown ? std::vector<Bytes>{top, bottom} : std::vector<Bytes>{bottom, top};
    auto b = DecodeBytes(Build(s));
    ASSERT_EQ(b->Width(), 3);
    ASSERT_EQ(b->Height(), 2);
    EXPECT_EQ(b->GetPixel(0, 0), kBlue);
    EXPECT_EQ(b->GetPixel(1, 0), kGreen);
    EXPECT_EQ(b->GetPixel(2, 0), kRed);
    EXPECT_EQ(b->GetPixel(0, 1), kWhite);
    EXPECT_EQ(b->GetPixel(1, 1), kRed);
    EXPECT_EQ(b->GetPixel(2, 1), kBlue);
  }
}

TEST(BmpDecode, IndicesBeyondThePaletteAreBlack) {
  BmpSpec s;
  s.BitCount = 8;
  s.Width = 3;
  s.Height = 1;
  s.ColorsUsed = 2;
  s.Palette = Bytes{255, 255, 255, 0, 0, 0, 255, 0};  // white, red
  s.Rows = {{1, 2, 255}};
  auto b = DecodeBytes(Build(s));
  EXPECT_EQ(b->GetPixel(0, 0), kRed);
  EXPECT_EQ(b->GetPixel(1, 0), kBlack);
  EXPECT_EQ(b->GetPixel(2, 0), kBlack);
}

TEST(BmpDecode, ColoursUsedZeroMeansAFullPaletteAndTooManyAreCapped) {
  BmpSpec s;
  s.BitCount = 1;
  s.Width = 2;
  s.Height = 1;
  s.ColorsUsed = 0;
  s.Palette = Bytes{0, 0, 255, 0, 0, 255, 0, 0};  // red, green
  s.Rows = {{0b01000000}};
  auto b = DecodeBytes(Build(s));
  EXPECT_EQ(b->GetPixel(0, 0), kRed);
  EXPECT_EQ(b->GetPixel(1, 0), kGreen);

  s.ColorsUsed = 1000;  // more than a 1-bit picture can have; the entries are still read
  b = DecodeBytes(Build(s));
  EXPECT_EQ(b->GetPixel(1, 0), kGreen);
}

TEST(BmpDecode, PaletteNeverReachesIntoThePixelData) {
  // Colours-used claims 256 entries but only one lies before the pixel data.
  BmpSpec s;
  s.BitCount = 8;
  s.Width = 2;
  s.Height = 1;
  s.ColorsUsed = 256;
  s.Palette = Bytes{0, 255, 0, 0};
  s.Rows = {{0, 1}};
  auto b = DecodeBytes(Build(s));
  EXPECT_EQ(b->GetPixel(0, 0), kGreen);
  EXPECT_EQ(b->GetPixel(1, 0), kBlack);
}

// ---------------------------------------------------------------------------------------
// Direct colour

TEST(BmpDecode, SixteenBit555IgnoresTheTopBitAndIsOpaque) {
  BmpSpec s;
  s.BitCount = 16;
  s.Width = 3;
  s.Height = 1;
  // 0x7FFF white, 0x801F blue with the unused bit set, 5-bit red 15 with green 1
  s.Rows = {{0xFF, 0x7F, 0x1F, 0x80, 0x20, 0x3C}};
  auto b = DecodeBytes(Build(s));
  EXPECT_EQ(b->GetPixel(0, 0), kWhite);
  EXPECT_EQ(b->GetPixel(1, 0), kBlue);
  // 15 of 31 is 123.4 of 255; 1 of 31 is 8.2
  EXPECT_EQ(b->GetPixel(2, 0), Color32(123, 8, 0));
}

TEST(BmpDecode, BitFieldMasksFromEveryHeaderKind) {
  // 5-6-5: after a 40-byte header, and inside 52, 56, 108 and 124-byte headers.
  for (std::uint32_t info : {40u, 52u, 56u, 108u, 124u}) {
    SCOPED_TRACE(info);
    BmpSpec s;
    s.InfoSize = info;
    s.BitCount = 16;
    s.Compression = 3;
    s.Width = 3;
    s.Height = -1;
    s.Masks = {0xF800, 0x07E0, 0x001F};
    // pure green, pure red, 6-bit green 32 (32 * 255 / 63 = 129.5, rounded to 130)
    s.Rows = {{0xE0, 0x07, 0x00, 0xF8, 0x00, 0x04}};
    auto b = DecodeBytes(Build(s));
    EXPECT_EQ(b->GetPixel(0, 0), kGreen);
    EXPECT_EQ(b->GetPixel(1, 0), kRed);
    EXPECT_EQ(b->GetPixel(2, 0), Color32(0, 130, 0));
  }
}

TEST(BmpDecode, ThirtyTwoBitBitFieldsUseAnAlphaMaskOnlyWhenThereIsOne) {
  const Bytes row = {0x11, 0x22, 0x33, 0x44};
  BmpSpec s;
  s.BitCount = 32;
  s.Compression = 3;
  s.Width = 1;
  s.Height = 1;
  s.Rows = {row};
  // Unusual order: red in the top byte, alpha in the third.
  s.Masks = {0xFF000000u, 0x0000FF00u, 0x000000FFu, 0x00FF0000u};
  s.InfoSize = 56;
  EXPECT_EQ(DecodeBytes(Build(s))->GetPixel(0, 0), Color32(0x44, 0x22, 0x11, 0x33));
  s.InfoSize = 124;
  EXPECT_EQ(DecodeBytes(Build(s))->GetPixel(0, 0), Color32(0x44, 0x22, 0x11, 0x33));
  // Three masks after a 40-byte header: no alpha, opaque.
  s.InfoSize = 40;
  s.Masks = {0xFF000000u, 0x0000FF00u, 0x000000FFu};
  EXPECT_EQ(DecodeBytes(Build(s))->GetPixel(0, 0), Color32(0x44, 0x22, 0x11, 255));
  // BI_ALPHABITFIELDS: four masks after a 40-byte header.
  s.Compression = 6;
  s.Masks = {0x00FF0000u, 0x0000FF00u, 0x000000FFu, 0xFF000000u};
  EXPECT_EQ(DecodeBytes(Build(s))->GetPixel(0, 0), 0x44332211u);
  // An alpha mask of zero in a large header means no alpha.
  s.Compression = 3;
  s.InfoSize = 108;
  s.Masks = {0x00FF0000u, 0x0000FF00u, 0x000000FFu, 0};
  EXPECT_EQ(DecodeBytes(Build(s))->GetPixel(0, 0), 0xFF332211u);
}

TEST(BmpDecode, TwentyFourBitBothRowOrdersOddWidthIsOpaque) {
  for (bool topDown : {false, true}) {
    SCOPED_TRACE(topDown);
    BmpSpec s;
    s.Width = 3;
    s.Height = topDown ? -2 : 2;
    const Bytes top = {1, 2, 3, 4, 5, 6, 7, 8, 9};  // 9 bytes: 3 padding bytes follow
    const Bytes bottom = {10, 11, 12, 13, 14, 15, 16, 17, 18};
    s.Rows = topDown ? std::vector<Bytes>{top, bottom} : std::vector<Bytes>{bottom, top};
    auto b = DecodeBytes(Build(s));
    EXPECT_EQ(b->GetPixel(0, 0), 0xFF030201u);
    EXPECT_EQ(b->GetPixel(2, 0), 0xFF090807u);
    EXPECT_EQ(b->GetPixel(0, 1), 0xFF0C0B0Au);
    EXPECT_EQ(b->GetPixel(2, 1), 0xFF121110u);
  }
}

TEST(BmpDecode, ThirtyTwoBitRgbKeepsTheFourthByteAsAlpha) {
  for (std::uint32_t info : {40u, 108u, 124u}) {
    BmpSpec s;
    s.InfoSize = info;
    s.BitCount = 32;
    s.Width = 2;
    s.Height = 1;
    s.Rows = {{1, 2, 3, 0, 4, 5, 6, 200}};
    auto b = DecodeBytes(Build(s));
    EXPECT_EQ(b->GetPixel(0, 0), 0x00030201u) << info;
    EXPECT_EQ(b->GetPixel(1, 0), 0xC8060504u) << info;
  }
}

// ---------------------------------------------------------------------------------------
// Run-length encoding

TEST(BmpDecode, Rle8RunsLiteralsDeltaAndEndOfLine) {
  BmpSpec s;
  s.BitCount = 8;
  s.Compression = 1;
  s.Width = 5;
  s.Height = 3;
  s.ColorsUsed = 4;
  s.Palette = FourColourPalette(4);
  s.RawPixels = {2, 1,              // bottom row: 2 x green
                 0, 3, 2, 3, 0, 0,  // literal red white blue, padded
                 0, 0,              // end of line
                 0, 2, 1, 1,        // move right 1, up 1: row 2 from the bottom, x = 1
                 1, 3,              // white at (1, top)
                 0, 1};             // end of bitmap
  auto b = DecodeBytes(Build(s));
  // bottom row (y = 2)
  EXPECT_EQ(b->GetPixel(0, 2), kGreen);
  EXPECT_EQ(b->GetPixel(1, 2), kGreen);
  EXPECT_EQ(b->GetPixel(2, 2), kRed);
  EXPECT_EQ(b->GetPixel(3, 2), kWhite);
  EXPECT_EQ(b->GetPixel(4, 2), kBlue);
  // the middle row was skipped: palette entry 0
  for (int x = 0; x < 5; ++x) EXPECT_EQ(b->GetPixel(x, 1), kBlue);
  EXPECT_EQ(b->GetPixel(0, 0), kBlue);
  EXPECT_EQ(b->GetPixel(1, 0), kWhite);
  EXPECT_EQ(b->GetPixel(2, 0), kBlue);
}

TEST(BmpDecode, Rle4NibbleRunsAndLiterals) {
  BmpSpec s;
  s.BitCount = 4;
  s.Compression = 2;
  s.Width = 5;
  s.Height = 1;
  s.ColorsUsed = 4;
  s.Palette = FourColourPalette(4);
  // run of one red; literal white, green, blue (two data bytes); run of one white
  s.RawPixels = {1, 0x20, 0, 3, 0x31, 0x00, 1, 0x30, 0, 1};
  auto b = DecodeBytes(Build(s));
  EXPECT_EQ(b->GetPixel(0, 0), kRed);
  EXPECT_EQ(b->GetPixel(1, 0), kWhite);
  EXPECT_EQ(b->GetPixel(2, 0), kGreen);
  EXPECT_EQ(b->GetPixel(3, 0), kBlue);
  EXPECT_EQ(b->GetPixel(4, 0), kWhite);

  s.RawPixels = {5, 0x12, 0, 1};  // alternating nibbles
  auto c = DecodeBytes(Build(s));
  EXPECT_EQ(c->GetPixel(0, 0), kGreen);
  EXPECT_EQ(c->GetPixel(1, 0), kRed);
  EXPECT_EQ(c->GetPixel(4, 0), kGreen);
}

TEST(BmpDecode, MalformedRunLengthDataIsRefused) {
  BmpSpec s;
  s.BitCount = 8;
  s.Compression = 1;
  s.Width = 4;
  s.Height = 2;
  s.ColorsUsed = 4;
  s.Palette = FourColourPalette(4);
  s.RawPixels = {5, 1, 0, 1};
  ExpectRefused(Build(s), "run past the row end");
  s.RawPixels = {0, 5, 1, 2, 3, 1, 2, 0, 0, 1};
  ExpectRefused(Build(s), "literal past the row end");
  s.RawPixels = {0, 0, 0, 0, 0, 0, 4, 1, 0, 1};
  ExpectRefused(Build(s), "run above the top row");
  s.RawPixels = {0, 2, 9, 0, 0, 1};
  ExpectRefused(Build(s), "delta past the row end");
  s.RawPixels = {0, 2, 0, 3, 0, 1};
  ExpectRefused(Build(s), "delta above the picture");
  s.RawPixels = {4, 1, 0};
  ExpectRefused(Build(s), "data ends inside a code");
  s.RawPixels = {4, 1, 0, 0};
  ExpectRefused(Build(s), "data ends before the last row");
  s.RawPixels = {0, 4, 1, 2};
  ExpectRefused(Build(s), "data ends inside a literal");
  s.RawPixels = {0, 2};
  ExpectRefused(Build(s), "data ends inside a delta");
  s.Height = -2;
  s.RawPixels = {4, 1, 0, 1};
  ExpectRefused(Build(s), "top-down RLE");
  // Data that ends right after the last row without an end-of-bitmap code is accepted.
  s.Height = 2;
  s.RawPixels = {4, 1, 0, 0, 4, 2, 0, 0};
  auto b = DecodeBytes(Build(s));
  EXPECT_EQ(b->GetPixel(0, 1), kGreen);
  EXPECT_EQ(b->GetPixel(3, 0), kRed);
}

// A few bytes of run-length data claiming a picture of 1 GiB: the data is found broken before
// any pixel memory is taken (found by fuzzing: the decoder used to fill the whole picture
// first).
TEST(BmpDecode, BrokenRunLengthDataOfAHugePictureTakesNoPictureMemory) {
  struct TLargestRequest : TPixelAllocator {
    std::size_t Largest = 0;
    void* Allocate(std::size_t Bytes, bool Zeroed) override {
      Largest = std::max(Largest, Bytes);
      return Zeroed ? std::calloc(1, Bytes) : std::malloc(Bytes);
    }
    void Release(void* Block, std::size_t) noexcept override { std::free(Block); }
  } allocator;
  BmpSpec s;
  s.BitCount = 4;
  s.Compression = 2;
  s.Width = 127;
  s.Height = 2097153;  // 127 x 2097153 pixels, just under the 2^28-pixel limit
  s.ColorsUsed = 4;
  s.Palette = FourColourPalette(4);
  s.RawPixels = {0, 0, 0, 0, 200, 0x12};  // two rows skipped, then a run past the row end
  SetPixelAllocator(&allocator);
  ExpectRefused(Build(s), "run past the row end of a huge picture");
  SetPixelAllocator(nullptr);
  EXPECT_LT(allocator.Largest, std::size_t(1) << 20);
}

// ---------------------------------------------------------------------------------------
// Malformed headers

TEST(BmpDecode, MalformedHeadersAreRefusedAndLeaveTheTargetUntouched) {
  BmpSpec good;
  good.Rows = {{1, 2, 3, 4, 5, 6, 7, 8, 9}, {1, 2, 3, 4, 5, 6, 7, 8, 9}};
  const Bytes valid = Build(good);
  ASSERT_NO_THROW(DecodeBytes(valid));

  ExpectRefused(Bytes{}, "empty");
  ExpectRefused(Bytes{'B', 'M'}, "two bytes");
  Bytes b = valid;
  b[0] = 'X';
  ExpectRefused(b, "signature");
  for (std::uint32_t bad : {0u, 11u, 16u, 64u, 66u, 0xFFFFFFFFu}) {
    b = valid;
    Put32(b, 14, bad);
    ExpectRefused(b, "info header size " + std::to_string(bad));
  }
  for (std::uint32_t bits : {0u, 2u, 3u, 15u, 48u, 64u, 30000u}) {
    b = valid;
    Put16(b, 28, bits);
    ExpectRefused(b, "bit count " + std::to_string(bits));
  }
  for (std::uint32_t compression : {1u, 2u, 3u, 4u, 5u, 7u, 0xFFFFFFFFu}) {
    b = valid;  // 24 bits per pixel fits none of these
    Put32(b, 30, compression);
    ExpectRefused(b, "compression " + std::to_string(compression));
  }
  b = valid;
  Put32(b, 10, std::uint32_t(valid.size() + 1));
  ExpectRefused(b, "pixel offset beyond the file");
  b = valid;
  Put32(b, 10, 0xFFFFFFF0u);
  ExpectRefused(b, "pixel offset near 4 GiB");
  b = valid;
  Put32(b, 10, 20);
  ExpectRefused(b, "pixel offset inside the header");
  b = valid;
  Put32(b, 18, std::uint32_t(-3));
  ExpectRefused(b, "negative width");
  b = valid;
  Put32(b, 22, 3);
  ExpectRefused(b, "one row more than stored");
  b = valid;
  Put32(b, 22, 0x80000000u);
  ExpectRefused(b, "height INT32_MIN");
  b = valid;
  Put32(b, 18, 0x7FFFFFFFu);
  Put32(b, 22, 0x7FFFFFFFu);
  ExpectRefused(b, "2^31 x 2^31 pixels");
  b = valid;
  Put32(b, 18, 16385);
  Put32(b, 22, 16384);
  ExpectRefused(b, "just above the largest bitmap");
  b = valid;
  Put32(b, 18, 0x7FFFFFFFu);
  Put32(b, 22, 1);
  ExpectRefused(b, "row size beyond 32 bits");
  b = valid;
  b.pop_back();
  ExpectRefused(b, "one byte short");

  BmpSpec masks;
  masks.BitCount = 16;
  masks.Compression = 3;
  masks.Rows = {{0, 0, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 0}};
  b = Build(masks);  // no masks written after the 40-byte header
  b.resize(14 + 40 + 8);
  Put32(b, 10, 14 + 40);
  ExpectRefused(b, "bit-field masks cut off");
}

TEST(BmpDecode, TooLargePicturesAreRefusedWithAClearText) {
  BmpSpec s;
  s.Width = 65535;
  s.Height = 32767;
  s.Rows = {{0, 0, 0}};
  const Bytes b = Build(s);
  TBitmap32 target;
  try {
    Decode(b.data(), b.size(), target);
    FAIL() << "no error";
  } catch (const EBmpError& e) {
    EXPECT_STREQ(e.what(), "The BMP picture is too large: 65535 x 32767 pixels");
  }
  EXPECT_TRUE(target.Empty());
}

TEST(BmpDecode, EveryTruncationOfValidFilesFailsCleanly) {
  std::vector<Bytes> files;
  BmpSpec pal;
  pal.BitCount = 4;
  pal.ColorsUsed = 4;
  pal.Palette = FourColourPalette(4);
  pal.Rows = {{0x01, 0x20}, {0x32, 0x00}};
  files.push_back(Build(pal));
  BmpSpec rle = pal;
  rle.BitCount = 8;
  rle.Compression = 1;
  rle.RawPixels = {3, 1, 0, 0, 0, 3, 1, 2, 3, 0, 0, 1};
  files.push_back(Build(rle));
  BmpSpec fields;
  fields.InfoSize = 40;
  fields.BitCount = 32;
  fields.Compression = 6;
  fields.Masks = {0xFF0000u, 0xFF00u, 0xFFu, 0xFF000000u};
  fields.Rows = {Bytes(12, 7), Bytes(12, 9)};
  files.push_back(Build(fields));
  for (const Bytes& file : files) {
    ASSERT_NO_THROW(DecodeBytes(file));
    for (std::size_t n = 0; n < file.size(); ++n) {
      const Bytes cut(file.begin(), file.begin() + std::ptrdiff_t(n));
      // The RLE file may end after its last row; the others may not end early at all.
      TBitmap32 target;
      try {
        Decode(cut.data(), cut.size(), target);
        EXPECT_EQ(target.Width(), 3) << n;
      } catch (const EBmpError&) {
        EXPECT_TRUE(target.Empty()) << n;
      }
    }
  }
}

// A stream that yields Data and then zero bytes without end, like a device file.
class EndlessStream : public std::streambuf {
 public:
  explicit EndlessStream(Bytes Data) : FData(std::move(Data)), FZeros(4096, 0) {}

 protected:
  int_type underflow() override {
    std::vector<char>& next = FServed ? FZeros : FDataChars;
    if (!FServed) FDataChars.assign(FData.begin(), FData.end());
    FServed = true;
    setg(next.data(), next.data(), next.data() + next.size());
    return traits_type::to_int_type(*gptr());
  }

 private:
  Bytes FData;
  std::vector<char> FDataChars, FZeros;
  bool FServed = false;
};

TEST(BmpDecode, StreamsAreReadOnlyAsFarAsTheImageNeeds) {
  BmpSpec plain;
  plain.Rows = {{1, 2, 3, 4, 5, 6, 7, 8, 9}, {9, 8, 7, 6, 5, 4, 3, 2, 1}};
  BmpSpec rle;
  rle.BitCount = 8;
  rle.Compression = 1;
  rle.ColorsUsed = 4;
  rle.Palette = FourColourPalette(4);
  rle.RawPixels = {3, 1, 0, 0, 3, 2};  // no end code: the zeros after it end the bitmap
  for (const BmpSpec& spec : {plain, rle}) {
    EndlessStream buffer(Build(spec));
    std::istream stream(&buffer);
    TBitmap32 target;
    Decode(stream, target);
    EXPECT_EQ(target.Width(), 3);
    EXPECT_EQ(target.Height(), 2);
  }
  TBitmap32 target;
  EndlessStream zeros(Bytes{'B', 'M'});
  std::istream stream(&zeros);
  EXPECT_THROW(Decode(stream, target), EBmpError);
}

// ---------------------------------------------------------------------------------------
// Real files

std::string TestFile(const std::string& Name) {
  return std::string(TESSALY_TESTDATA) + "/" + Name;
}

std::unique_ptr<TBitmap32> DecodeFile(const std::string& Name) {
  std::ifstream file(TestFile(Name), std::ios::binary);
  EXPECT_TRUE(file.good()) << Name;
  auto bmp = std::make_unique<TBitmap32>();
  Decode(file, *bmp);
  return bmp;
}

TEST(BmpFiles, EveryGoodSampleDecodesToItsSize) {
  for (const char* name :
       {"formats/bmp/pal1.bmp", "formats/bmp/pal4.bmp", "formats/bmp/pal4rle.bmp",
        "formats/bmp/pal8.bmp", "formats/bmp/pal8os2.bmp", "formats/bmp/pal8rle.bmp",
        "formats/bmp/pal8v4.bmp", "formats/bmp/rgb16-565.bmp", "formats/bmp/rgb16.bmp",
        "formats/bmp/rgb24.bmp", "formats/bmp/rgb32.bmp", "formats/bmp/rgba32.bmp",
        "malformed/pal8badindex.bmp"}) {
    SCOPED_TRACE(name);
    auto b = DecodeFile(name);
    EXPECT_EQ(b->Width(), 127);
    EXPECT_EQ(b->Height(), 64);
  }
}

TEST(BmpFiles, BrokenSamplesAreRefused) {
  for (const char* name :
       {"malformed/badbitcount.bmp", "malformed/badheadersize.bmp", "malformed/badrle.bmp",
        "malformed/reallybig.bmp", "malformed/shortfile.bmp"}) {
    SCOPED_TRACE(name);
    std::ifstream file(TestFile(name), std::ios::binary);
    ASSERT_TRUE(file.good());
    TBitmap32 target;
    target.SetSize(1, 1);
    EXPECT_THROW(Decode(file, target), EBmpError);
    EXPECT_EQ(target.Width(), 1);
  }
}

// Reference colours read with an independent decoder (ImageMagick) when the test was written.
TEST(BmpFiles, PixelsMatchAnIndependentDecoder) {
  struct Probe {
    int X, Y;
    TColor32 Colour;
  };
  const std::vector<Probe> palette = {{0, 0, 0xFFFF0000u},   {126, 0, 0xFF99AACCu},
                                      {5, 3, 0xFFFF2B33u},   {100, 10, 0xFF99AA99u},
                                      {60, 30, 0xFF000000u}, {126, 63, 0xFF665566u}};
  for (const char* name : {"formats/bmp/pal8.bmp", "formats/bmp/pal8os2.bmp",
                           "formats/bmp/pal8rle.bmp", "formats/bmp/pal8v4.bmp"}) {
    auto b = DecodeFile(name);
    for (const Probe& p : palette) EXPECT_EQ(b->GetPixel(p.X, p.Y), p.Colour) << name << " " << p.X;
  }
  for (const char* name : {"formats/bmp/pal4.bmp", "formats/bmp/pal4rle.bmp"}) {
    auto b = DecodeFile(name);
    EXPECT_EQ(b->GetPixel(0, 0), 0xFFFF0000u) << name;
    EXPECT_EQ(b->GetPixel(126, 0), 0xFFFF80FFu) << name;
    EXPECT_EQ(b->GetPixel(60, 30), 0xFF000000u) << name;
  }
  auto one = DecodeFile("formats/bmp/pal1.bmp");
  EXPECT_EQ(one->GetPixel(0, 0), 0xFFFFFFFFu);
  EXPECT_EQ(one->GetPixel(5, 3), 0xFF000000u);
  EXPECT_EQ(one->GetPixel(100, 10), 0xFFFFFFFFu);

  auto rgb16 = DecodeFile("formats/bmp/rgb16.bmp");
  EXPECT_EQ(rgb16->GetPixel(126, 0), 0xFF9C9CBDu);
  EXPECT_EQ(rgb16->GetPixel(5, 3), 0xFFF72929u);
  EXPECT_EQ(rgb16->GetPixel(126, 63), 0xFF63637Bu);
  auto rgb565 = DecodeFile("formats/bmp/rgb16-565.bmp");
  EXPECT_EQ(rgb565->GetPixel(126, 0), 0xFF9C9EBDu);
  EXPECT_EQ(rgb565->GetPixel(5, 3), 0xFFF72829u);
  EXPECT_EQ(rgb565->GetPixel(126, 63), 0xFF63617Bu);

  auto rgb24 = DecodeFile("formats/bmp/rgb24.bmp");
  EXPECT_EQ(rgb24->GetPixel(126, 0), 0xFF9F9FBDu);
  EXPECT_EQ(rgb24->GetPixel(5, 3), 0xFFF32929u);
  EXPECT_EQ(rgb24->GetPixel(126, 63), 0xFF60607Eu);

  // 32-bit BI_RGB whose fourth byte is 0: the colours are right and the fourth byte is kept.
  auto rgb32 = DecodeFile("formats/bmp/rgb32.bmp");
  EXPECT_EQ(rgb32->GetPixel(126, 0), 0x009F9FBDu);
  EXPECT_EQ(rgb32->GetPixel(5, 3), 0x00F32929u);

  // V5 header with an alpha mask; a green area is fully transparent.
  auto rgba32 = DecodeFile("formats/bmp/rgba32.bmp");
  EXPECT_EQ(rgba32->GetPixel(126, 0), 0xFF9F9FBDu);
  EXPECT_EQ(rgba32->GetPixel(5, 3), 0xFFF32929u);
  EXPECT_EQ(rgba32->GetPixel(27, 21), 0x0000FF00u);

  // Indices 196 and 154 lie beyond its 101 palette entries.
  auto bad = DecodeFile("malformed/pal8badindex.bmp");
  EXPECT_EQ(bad->GetPixel(0, 0), 0xFFFF0000u);
  EXPECT_EQ(bad->GetPixel(5, 3), 0xFFFF2B33u);
  EXPECT_EQ(bad->GetPixel(126, 0), 0xFF000000u);
  EXPECT_EQ(bad->GetPixel(100, 10), 0xFF000000u);
}

}  // namespace
}  // namespace raster::bmp
