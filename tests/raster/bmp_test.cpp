#include "raster/bmp.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <ostream>
#include <sstream>
#include <streambuf>
#include <string>
#include <tuple>
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
  std::vector<std::uint32_t> Masks{};  // written into the header or after a 40-byte header
  Bytes Palette{};                     // raw entries, 3 or 4 bytes each
  std::vector<Bytes> Rows{};
  Bytes RawPixels{};  // used instead of Rows when not empty (RLE data)
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
constexpr TColor32 Blue = 0xFF0000FFu, Green = 0xFF00FF00u, Red = 0xFFFF0000u, White = 0xFFFFFFFFu,
                   Black = 0xFF000000u;

// A run-length picture (BI_RLE8 at 8 bits, BI_RLE4 at 4) over the four-colour palette.
BmpSpec RlePicture(std::uint16_t BitCount, std::int32_t Width, std::int32_t Height,
                   Bytes RawPixels) {
  return {.Width = Width,
          .Height = Height,
          .BitCount = BitCount,
          .Compression = BitCount == 8 ? 1u : 2u,
          .ColorsUsed = 4,
          .Palette = FourColourPalette(4),
          .RawPixels = std::move(RawPixels)};
}

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
// Pictures built from a header description, each with the pixels it must decode to

struct TPixel {
  int X, Y;
  TColor32 Colour;
};

struct TDecodeCase {
  std::string Name;
  BmpSpec Spec;
  std::vector<TPixel> Pixels;
};
void PrintTo(const TDecodeCase& C, std::ostream* Out) {
  *Out << C.Name;
}

class BmpPicture : public ::testing::TestWithParam<TDecodeCase> {};

TEST_P(BmpPicture, DecodesToItsPixels) {
  const TDecodeCase& c = GetParam();
  auto b = DecodeBytes(Build(c.Spec));
  ASSERT_EQ(b->Width(), std::abs(c.Spec.Width));
  ASSERT_EQ(b->Height(), std::abs(c.Spec.Height));
  for (const TPixel& p : c.Pixels) {
    EXPECT_EQ(b->GetPixel(p.X, p.Y), p.Colour) << p.X << "," << p.Y;
  }
}

std::string CaseName(const ::testing::TestParamInfo<TDecodeCase>& Info) {
  return Info.param.Name;
}

// ---------------------------------------------------------------------------------------
// Palette pictures

// A palette picture: its size, bits per pixel, colours-used field, raw palette and rows.
BmpSpec Paletted(std::int32_t Width, std::int32_t Height, std::uint16_t BitCount,
                 std::uint32_t ColorsUsed, Bytes Palette, std::vector<Bytes> Rows) {
  return {.Width = Width,
          .Height = Height,
          .BitCount = BitCount,
          .ColorsUsed = ColorsUsed,
          .Palette = std::move(Palette),
          .Rows = std::move(Rows)};
}

std::vector<TDecodeCase> PaletteCases() {
  std::vector<TDecodeCase> cases = {
      // Bottom row first; bits past the width ignored.
      {"OneBitOddWidthUsesPaletteAndRowPadding",
       Paletted(3, 2, 1, 2, {0, 0, 0, 0, 255, 255, 255, 0}, {{0b10100000}, {0b01011111}}),
       {{0, 1, White}, {1, 1, Black}, {2, 1, White}, {0, 0, Black}, {1, 0, White}, {2, 0, Black}}},
      // The palette is white, red.
      {"IndicesBeyondThePaletteAreBlack",
       Paletted(3, 1, 8, 2, {255, 255, 255, 0, 0, 0, 255, 0}, {{1, 2, 255}}),
       {{0, 0, Red}, {1, 0, Black}, {2, 0, Black}}},
      // The palette is red, green.
      {"ColoursUsedZeroMeansAFullPalette",
       Paletted(2, 1, 1, 0, {0, 0, 255, 0, 0, 255, 0, 0}, {{0b01000000}}),
       {{0, 0, Red}, {1, 0, Green}}},
      // More colours than a 1-bit picture can have; the entries are still read.
      {"TooManyColoursUsedAreCapped",
       Paletted(2, 1, 1, 1000, {0, 0, 255, 0, 0, 255, 0, 0}, {{0b01000000}}),
       {{1, 0, Green}}},
      // Colours-used claims 256 entries but only one lies before the pixel data.
      {"PaletteNeverReachesIntoThePixelData",
       Paletted(2, 1, 8, 256, {0, 255, 0, 0}, {{0, 1}}),
       {{0, 0, Green}, {1, 0, Black}}},
  };
  // Four and eight bits with both header kinds and row orders. Logical picture: top row blue,
  // green, red; bottom row white, red, blue.
  for (const auto& [info, bits, topDown] :
       {std::tuple{40u, 4, false}, std::tuple{40u, 4, true}, std::tuple{12u, 4, false},
        std::tuple{40u, 8, false}, std::tuple{40u, 8, true}, std::tuple{12u, 8, false},
        std::tuple{108u, 8, false}, std::tuple{124u, 4, true}}) {
    const Bytes top = bits == 4 ? Bytes{0x01, 0x20} : Bytes{0, 1, 2};
    const Bytes bottom = bits == 4 ? Bytes{0x32, 0x00} : Bytes{3, 2, 0};
    cases.push_back(
        {std::string(bits == 4 ? "Four" : "Eight") + "BitIn" + std::to_string(info) + "ByteHeader" +
             (topDown ? "TopDown" : "BottomUp"),
         {.InfoSize = info,
          .Width = 3,
          .Height = topDown ? -2 : 2,
          .BitCount = std::uint16_t(bits),
          // The core header has no colours-used field: its palette runs up to the pixel data.
          .ColorsUsed = info == 12 ? 0u : 4u,
          .Palette = FourColourPalette(info == 12 ? 3 : 4),
          .Rows = topDown ? std::vector<Bytes>{top, bottom} : std::vector<Bytes>{bottom, top}},
         {{0, 0, Blue}, {1, 0, Green}, {2, 0, Red}, {0, 1, White}, {1, 1, Red}, {2, 1, Blue}}});
  }
  return cases;
}
INSTANTIATE_TEST_SUITE_P(Palette, BmpPicture, ::testing::ValuesIn(PaletteCases()), CaseName);

// ---------------------------------------------------------------------------------------
// Direct colour

std::vector<TDecodeCase> DirectColourCases() {
  // A 32-bit bit-field picture of one pixel, stored as the bytes 11 22 33 44.
  const auto onePixel = [](std::uint32_t InfoSize, std::uint32_t Compression,
                           std::vector<std::uint32_t> Masks) {
    return BmpSpec{.InfoSize = InfoSize,
                   .Width = 1,
                   .Height = 1,
                   .BitCount = 32,
                   .Compression = Compression,
                   .Masks = std::move(Masks),
                   .Rows = {{0x11, 0x22, 0x33, 0x44}}};
  };
  std::vector<TDecodeCase> cases = {
      // 0x7FFF white, 0x801F blue with the unused bit set, 5-bit red 15 with green 1
      {"SixteenBit555IgnoresTheTopBitAndIsOpaque",
       {.Width = 3, .Height = 1, .BitCount = 16, .Rows = {{0xFF, 0x7F, 0x1F, 0x80, 0x20, 0x3C}}},
       // 15 of 31 is 123.4 of 255; 1 of 31 is 8.2
       {{0, 0, White}, {1, 0, Blue}, {2, 0, Color32(123, 8, 0)}}},
      // 32-bit bit fields use an alpha mask only when there is one. Unusual order: red in the
      // top byte, alpha in the third.
      {"ThirtyTwoBitAlphaMaskIn56ByteHeader",
       onePixel(56, 3, {0xFF000000u, 0x0000FF00u, 0x000000FFu, 0x00FF0000u}),
       {{0, 0, Color32(0x44, 0x22, 0x11, 0x33)}}},
      {"ThirtyTwoBitAlphaMaskIn124ByteHeader",
       onePixel(124, 3, {0xFF000000u, 0x0000FF00u, 0x000000FFu, 0x00FF0000u}),
       {{0, 0, Color32(0x44, 0x22, 0x11, 0x33)}}},
      // Three masks after a 40-byte header: no alpha, opaque.
      {"ThirtyTwoBitThreeMasksAfterA40ByteHeaderAreOpaque",
       onePixel(40, 3, {0xFF000000u, 0x0000FF00u, 0x000000FFu}),
       {{0, 0, Color32(0x44, 0x22, 0x11, 255)}}},
      // BI_ALPHABITFIELDS: four masks after a 40-byte header.
      {"ThirtyTwoBitAlphaBitFieldsAfterA40ByteHeader",
       onePixel(40, 6, {0x00FF0000u, 0x0000FF00u, 0x000000FFu, 0xFF000000u}),
       {{0, 0, 0x44332211u}}},
      // An alpha mask of zero in a large header means no alpha.
      {"ThirtyTwoBitZeroAlphaMaskMeansOpaque",
       onePixel(108, 3, {0x00FF0000u, 0x0000FF00u, 0x000000FFu, 0}),
       {{0, 0, 0xFF332211u}}},
  };
  // 5-6-5: after a 40-byte header, and inside 52, 56, 108 and 124-byte headers.
  for (std::uint32_t info : {40u, 52u, 56u, 108u, 124u}) {
    cases.push_back({"BitFields565In" + std::to_string(info) + "ByteHeader",
                     {.InfoSize = info,
                      .Width = 3,
                      .Height = -1,
                      .BitCount = 16,
                      .Compression = 3,
                      .Masks = {0xF800, 0x07E0, 0x001F},
                      .Rows = {{0xE0, 0x07, 0x00, 0xF8, 0x00, 0x04}}},
                     // pure green, pure red, 6-bit green 32 (32 * 255 / 63 = 129.5, rounded to 130)
                     {{0, 0, Green}, {1, 0, Red}, {2, 0, Color32(0, 130, 0)}}});
  }
  // 24 bits in both row orders, an odd width, opaque.
  for (bool topDown : {false, true}) {
    const Bytes top = {1, 2, 3, 4, 5, 6, 7, 8, 9};  // 9 bytes: 3 padding bytes follow
    const Bytes bottom = {10, 11, 12, 13, 14, 15, 16, 17, 18};
    cases.push_back(
        {std::string("TwentyFourBitOddWidth") + (topDown ? "TopDown" : "BottomUp"),
         {.Width = 3,
          .Height = topDown ? -2 : 2,
          .Rows = topDown ? std::vector<Bytes>{top, bottom} : std::vector<Bytes>{bottom, top}},
         {{0, 0, 0xFF030201u}, {2, 0, 0xFF090807u}, {0, 1, 0xFF0C0B0Au}, {2, 1, 0xFF121110u}}});
  }
  // 32-bit BI_RGB keeps the fourth byte as alpha.
  for (std::uint32_t info : {40u, 108u, 124u}) {
    cases.push_back({"ThirtyTwoBitRgbIn" + std::to_string(info) + "ByteHeaderKeepsTheFourthByte",
                     {.InfoSize = info,
                      .Width = 2,
                      .Height = 1,
                      .BitCount = 32,
                      .Rows = {{1, 2, 3, 0, 4, 5, 6, 200}}},
                     {{0, 0, 0x00030201u}, {1, 0, 0xC8060504u}}});
  }
  return cases;
}
INSTANTIATE_TEST_SUITE_P(DirectColour, BmpPicture, ::testing::ValuesIn(DirectColourCases()),
                         CaseName);

// ---------------------------------------------------------------------------------------
// Run-length encoding

std::vector<TDecodeCase> RunLengthCases() {
  return {
      {"Rle8RunsLiteralsDeltaAndEndOfLine",
       RlePicture(8, 5, 3,
                  {2, 1,              // bottom row: 2 x green
                   0, 3, 2, 3, 0, 0,  // literal red white blue, padded
                   0, 0,              // end of line
                   0, 2, 1, 1,        // move right 1, up 1: row 2 from the bottom, x = 1
                   1, 3,              // white at (1, top)
                   0, 1}),            // end of bitmap
       {{0, 2, Green},                // bottom row (y = 2)
        {1, 2, Green},
        {2, 2, Red},
        {3, 2, White},
        {4, 2, Blue},
        // the middle row was skipped: palette entry 0
        {0, 1, Blue},
        {1, 1, Blue},
        {2, 1, Blue},
        {3, 1, Blue},
        {4, 1, Blue},
        {0, 0, Blue},
        {1, 0, White},
        {2, 0, Blue}}},
      // run of one red; literal white, green, blue (two data bytes); run of one white
      {"Rle4NibbleRunsAndLiterals",
       RlePicture(4, 5, 1, {1, 0x20, 0, 3, 0x31, 0x00, 1, 0x30, 0, 1}),
       {{0, 0, Red}, {1, 0, White}, {2, 0, Green}, {3, 0, Blue}, {4, 0, White}}},
      {"Rle4RunOfAlternatingNibbles",
       RlePicture(4, 5, 1, {5, 0x12, 0, 1}),
       {{0, 0, Green}, {1, 0, Red}, {4, 0, Green}}},
      // Data that ends right after the last row without an end-of-bitmap code is accepted.
      {"Rle8EndingAfterTheLastRowWithoutAnEndCode",
       RlePicture(8, 4, 2, {4, 1, 0, 0, 4, 2, 0, 0}),
       {{0, 1, Green}, {3, 0, Red}}},
  };
}
INSTANTIATE_TEST_SUITE_P(RunLength, BmpPicture, ::testing::ValuesIn(RunLengthCases()), CaseName);

TEST(BmpDecode, MalformedRunLengthDataIsRefused) {
  BmpSpec s = RlePicture(8, 4, 2, {});
  const struct {
    const char* Why;
    Bytes RawPixels;
  } broken[] = {
      {"run past the row end", {5, 1, 0, 1}},
      {"literal past the row end", {0, 5, 1, 2, 3, 1, 2, 0, 0, 1}},
      {"run above the top row", {0, 0, 0, 0, 0, 0, 4, 1, 0, 1}},
      {"delta past the row end", {0, 2, 9, 0, 0, 1}},
      {"delta above the picture", {0, 2, 0, 3, 0, 1}},
      {"data ends inside a code", {4, 1, 0}},
      {"data ends before the last row", {4, 1, 0, 0}},
      {"data ends inside a literal", {0, 4, 1, 2}},
      {"data ends inside a delta", {0, 2}},
  };
  for (const auto& c : broken) {
    s.RawPixels = c.RawPixels;
    ExpectRefused(Build(s), c.Why);
  }
  s.Height = -2;
  s.RawPixels = {4, 1, 0, 1};
  ExpectRefused(Build(s), "top-down RLE");
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
  // 127 x 2097153 pixels, just under the 2^28-pixel limit: two rows skipped, then a run past
  // the row end.
  const BmpSpec s = RlePicture(4, 127, 2097153, {0, 0, 0, 0, 200, 0x12});
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
  // One or two 32-bit fields of the valid file changed.
  struct TField {
    std::size_t At;
    std::uint32_t Value;
  };
  const struct {
    const char* Why;
    std::vector<TField> Fields;
  } changed[] = {
      {"pixel offset beyond the file", {{10, std::uint32_t(valid.size() + 1)}}},
      {"pixel offset near 4 GiB", {{10, 0xFFFFFFF0u}}},
      {"pixel offset inside the header", {{10, 20}}},
      {"negative width", {{18, std::uint32_t(-3)}}},
      {"one row more than stored", {{22, 3}}},
      {"height INT32_MIN", {{22, 0x80000000u}}},
      {"2^31 x 2^31 pixels", {{18, 0x7FFFFFFFu}, {22, 0x7FFFFFFFu}}},
      {"just above the largest bitmap", {{18, 16385}, {22, 16384}}},
      {"row size beyond 32 bits", {{18, 0x7FFFFFFFu}, {22, 1}}},
  };
  for (const auto& c : changed) {
    b = valid;
    for (const TField& f : c.Fields) Put32(b, f.At, f.Value);
    ExpectRefused(b, c.Why);
  }
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
  files.push_back(Build(RlePicture(8, 3, 2, {3, 1, 0, 0, 0, 3, 1, 2, 3, 0, 0, 1})));
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
  // No end code: the zeros after it end the bitmap.
  const BmpSpec rle = RlePicture(8, 3, 2, {3, 1, 0, 0, 3, 2});
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

// The good samples, every one 127 x 64, with reference colours read with an independent decoder
// (ImageMagick) when the test was written.
struct TSample {
  const char* Name;
  std::vector<TPixel> Pixels;
};
std::vector<TSample> GoodSamples() {
  const std::vector<TPixel> pal8 = {{0, 0, 0xFFFF0000u},   {126, 0, 0xFF99AACCu},
                                    {5, 3, 0xFFFF2B33u},   {100, 10, 0xFF99AA99u},
                                    {60, 30, 0xFF000000u}, {126, 63, 0xFF665566u}};
  const std::vector<TPixel> pal4 = {
      {0, 0, 0xFFFF0000u}, {126, 0, 0xFFFF80FFu}, {60, 30, 0xFF000000u}};
  return {
      {"formats/bmp/pal1.bmp", {{0, 0, 0xFFFFFFFFu}, {5, 3, 0xFF000000u}, {100, 10, 0xFFFFFFFFu}}},
      {"formats/bmp/pal4.bmp", pal4},
      {"formats/bmp/pal4rle.bmp", pal4},
      {"formats/bmp/pal8.bmp", pal8},
      {"formats/bmp/pal8os2.bmp", pal8},
      {"formats/bmp/pal8rle.bmp", pal8},
      {"formats/bmp/pal8v4.bmp", pal8},
      {"formats/bmp/rgb16-565.bmp",
       {{126, 0, 0xFF9C9EBDu}, {5, 3, 0xFFF72829u}, {126, 63, 0xFF63617Bu}}},
      {"formats/bmp/rgb16.bmp",
       {{126, 0, 0xFF9C9CBDu}, {5, 3, 0xFFF72929u}, {126, 63, 0xFF63637Bu}}},
      {"formats/bmp/rgb24.bmp",
       {{126, 0, 0xFF9F9FBDu}, {5, 3, 0xFFF32929u}, {126, 63, 0xFF60607Eu}}},
      // 32-bit BI_RGB whose fourth byte is 0: the colours are right and the fourth byte is kept.
      {"formats/bmp/rgb32.bmp", {{126, 0, 0x009F9FBDu}, {5, 3, 0x00F32929u}}},
      // V5 header with an alpha mask; a green area is fully transparent.
      {"formats/bmp/rgba32.bmp",
       {{126, 0, 0xFF9F9FBDu}, {5, 3, 0xFFF32929u}, {27, 21, 0x0000FF00u}}},
      // Indices 196 and 154 lie beyond its 101 palette entries.
      {"malformed/pal8badindex.bmp",
       {{0, 0, 0xFFFF0000u}, {5, 3, 0xFFFF2B33u}, {126, 0, 0xFF000000u}, {100, 10, 0xFF000000u}}},
  };
}

TEST(BmpFiles, EveryGoodSampleDecodesToItsSize) {
  for (const TSample& sample : GoodSamples()) {
    SCOPED_TRACE(sample.Name);
    auto b = DecodeFile(sample.Name);
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

TEST(BmpFiles, PixelsMatchAnIndependentDecoder) {
  for (const TSample& sample : GoodSamples()) {
    SCOPED_TRACE(sample.Name);
    auto b = DecodeFile(sample.Name);
    for (const TPixel& p : sample.Pixels) {
      EXPECT_EQ(b->GetPixel(p.X, p.Y), p.Colour) << p.X << "," << p.Y;
    }
  }
}

}  // namespace
}  // namespace raster::bmp
