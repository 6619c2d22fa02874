// Block and stretch transfers and the TBitmap32 drawing operations built on them.
#include "raster/transforms.h"

#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "raster/blend.h"
#include "raster/cpu.h"
#include "raster/lowlevel.h"
#include "raster/transforms_p.h"
#include "tests/raster/transforms_test_ref.h"

namespace raster {
namespace {

using ref::Combine;

void Sized(TBitmap32& B, int W, int H, TColor32 Fill = 0) {
  B.SetSize(W, H);
  B.Clear(Fill);
}

// A source whose every pixel names its own position, so that a copied pixel tells where it
// came from.
void Numbered(TBitmap32& B, int W, int H) {
  B.SetSize(W, H);
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) B.SetPixel(x, y, 0xFF000000u | TColor32(y << 12) | TColor32(x));
}

std::string ErrorText(const std::function<void()>& F) {
  try {
    F();
  } catch (const ETransformError& E) {
    return E.what();
  }
  return "";
}

// Straightforward re-computation of a stretch, pixel by pixel, from the stated rules.
void ExpectedStretch(TBitmap32& Dst, TRect DstRect, const TBitmap32& Src, TRect SrcRect,
                     TStretchFilter Filter, TDrawMode Mode, TColor32 MA) {
  TRect clip;
  if (!IntersectRect(clip, DstRect, Dst.BoundsRect()) || IsRectEmpty(clip)) return;
  const std::int64_t SW = SrcRect.Width(), SH = SrcRect.Height();
  const std::int64_t DW = DstRect.Width(), DH = DstRect.Height();
  auto write = [&](TColor32 C, TColor32& B) {
    if (Mode == dmOpaque)
      B = C;
    else if (MA >= 255)
      ref::BlendMemRef(C, B);
    else
      ref::BlendMemExRef(C, B, MA);
  };
  if (Filter == sfNearest) {
    const std::int64_t sx = (SW << 16) / DW, sy = (SH << 16) / DH;
    const std::int64_t X0 =
        MulDiv(std::int32_t((clip.Left - DstRect.Left) * SW), 65535, std::int32_t(DW));
    const std::int64_t Y0 =
        MulDiv(std::int32_t((clip.Top - DstRect.Top) * SH), 65535, std::int32_t(DH));
    for (int y = clip.Top; y < clip.Bottom; ++y)
      for (int x = clip.Left; x < clip.Right; ++x) {
        const std::int64_t X = X0 + (x - clip.Left) * sx, Y = Y0 + (y - clip.Top) * sy;
        write(Src.GetPixel(SrcRect.Left + int(X >> 16), SrcRect.Top + int(Y >> 16)),
              *Dst.GetPixelPtr(x, y));
      }
    return;
  }
  const std::int64_t sx = ((SW - 1) << 16) / DW, sy = ((SH - 1) << 16) / DH;
  const std::int64_t X0 =
      MulDiv(std::int32_t((clip.Left - DstRect.Left) * (SW - 1)), 65535, std::int32_t(DW));
  const std::int64_t Y0 =
      MulDiv(std::int32_t((clip.Top - DstRect.Top) * (SH - 1)), 65535, std::int32_t(DH));
  for (int y = clip.Top; y < clip.Bottom; ++y) {
    const std::int64_t Y = Y0 + (y - clip.Top) * sy;
    const int up = int(Y >> 16) + SrcRect.Top;
    const int lo = up < SrcRect.Bottom - 1 ? up + 1 : up;
    const TColor32 wy = 255 - TColor32((Y >> 8) & 255);
    for (int x = clip.Left; x < clip.Right; ++x) {
      const std::int64_t X = X0 + (x - clip.Left) * sx;
      const int t = SrcRect.Left + int(X >> 16);
      const int t1 = SW == 1 ? t : t + 1;
      const TColor32 wx = 255 - TColor32((X >> 8) & 255);
      const TColor32 a = Src.GetPixel(t, up), b = Src.GetPixel(t1, up);
      const TColor32 c = Src.GetPixel(t, lo), d = Src.GetPixel(t1, lo);
      TColor32 C;
      if (Mode == dmBlend && MA < 255)
        C = Combine(Combine(a, b, wx), Combine(c, d, wx), wy);
      else
        C = Combine(Combine(a, c, wy), Combine(b, d, wy), wx);
      write(C, *Dst.GetPixelPtr(x, y));
    }
  }
}

// ---------------------------------------------------------------------------------------

TEST(TransferErrors, BitmapsAreCheckedDestinationFirst) {
  TBitmap32 empty, src, dst;
  Sized(src, 4, 4, 0xFF112233u);
  Sized(dst, 4, 4, 0xFF000000u);
  const TRect r{0, 0, 4, 4};
  EXPECT_EQ(ErrorText([&] { BlockTransfer(nullptr, 0, 0, nullptr, r, dmOpaque, {}); }),
            "Destination bitmap is nil or empty");
  EXPECT_EQ(ErrorText([&] { BlockTransfer(&empty, 0, 0, &src, r, dmOpaque, {}); }),
            "Destination bitmap is nil or empty");
  EXPECT_EQ(ErrorText([&] { BlockTransfer(&dst, 0, 0, &empty, r, dmOpaque, {}); }),
            "Source bitmap is nil or empty");
  EXPECT_EQ(ErrorText([&] { StretchTransfer(&empty, r, nullptr, r, sfNearest, dmOpaque, {}); }),
            "Destination bitmap is nil or empty");
  EXPECT_EQ(ErrorText([&] { StretchTransfer(&dst, r, nullptr, r, sfLinear, dmOpaque, {}); }),
            "Source bitmap is nil or empty");
  EXPECT_EQ(dst.GetPixel(0, 0), 0xFF000000u);
}

TEST(TransferErrors, SourceRectangleBeyondTheSourceIsInvalid) {
  TBitmap32 src, dst;
  Sized(src, 4, 3, 0xFF112233u);
  Sized(dst, 8, 8, 0xFF000000u);
  for (TRect bad : {TRect{-1, 0, 4, 3}, TRect{0, -1, 4, 3}, TRect{0, 0, 5, 3}, TRect{0, 0, 4, 4}})
    for (TStretchFilter f : {sfNearest, sfLinear})
      EXPECT_EQ(ErrorText([&] {
                  StretchTransfer(&dst, {0, 0, 8, 8}, &src, bad, f, dmOpaque, {});
                }),
                "Source rectangle is invalid");
  for (int i = 0; i < 64; ++i) EXPECT_EQ(dst.PixelBuffer()[i], 0xFF000000u);
}

TEST(TransferErrors, KernelFiltersAreRefusedWithAClearError) {
  TBitmap32 src, dst;
  Sized(src, 4, 3, 0xFF112233u);
  Sized(dst, 8, 8, 0xFF000000u);
  for (TStretchFilter f : {sfLinear2, sfSpline})
    EXPECT_NE(ErrorText([&] {
                StretchTransfer(&dst, {0, 0, 8, 8}, &src, {0, 0, 4, 3}, f, dmOpaque, {});
              }),
              "");
  EXPECT_EQ(dst.GetPixel(0, 0), 0xFF000000u);
}

TEST(TransferNothingDrawn, EmptyRectanglesAndZeroMasterAlpha) {
  TBitmap32 src, dst;
  Numbered(src, 4, 4);
  Sized(dst, 8, 8, 0xFF0000FFu);
  // An empty SrcRect draws nothing and raises nothing, even one lying beyond the source.
  EXPECT_NO_THROW(
      StretchTransfer(&dst, {0, 0, 8, 8}, &src, {9, 9, 9, 12}, sfNearest, dmOpaque, {}));
  EXPECT_NO_THROW(StretchTransfer(&dst, {0, 0, 8, 8}, &src, {2, 2, 1, 3}, sfLinear, dmOpaque, {}));
  // Empty DstRect, and one entirely outside the destination.
  StretchTransfer(&dst, {5, 5, 5, 9}, &src, {0, 0, 4, 4}, sfNearest, dmOpaque, {});
  StretchTransfer(&dst, {-9, 0, -1, 8}, &src, {0, 0, 4, 4}, sfNearest, dmOpaque, {});
  StretchTransfer(&dst, {0, 8, 8, 20}, &src, {0, 0, 4, 4}, sfLinear, dmOpaque, {});
  // MasterAlpha 0: every mode except nearest dmOpaque draws nothing.
  src.SetMasterAlpha(0);
  StretchTransfer(&dst, {0, 0, 8, 8}, &src, {0, 0, 4, 4}, sfLinear, dmOpaque, {});
  StretchTransfer(&dst, {0, 0, 8, 8}, &src, {0, 0, 4, 4}, sfNearest, dmBlend, {});
  StretchTransfer(&dst, {0, 0, 8, 8}, &src, {0, 0, 4, 4}, sfLinear, dmBlend, {});
  BlockTransfer(&dst, 0, 0, &src, {0, 0, 4, 4}, dmBlend, {});
  for (int i = 0; i < 64; ++i) ASSERT_EQ(dst.PixelBuffer()[i], 0xFF0000FFu) << i;
  StretchTransfer(&dst, {0, 0, 8, 8}, &src, {0, 0, 4, 4}, sfNearest, dmOpaque, {});
  EXPECT_EQ(dst.GetPixel(7, 7), src.GetPixel(3, 3));
  EXPECT_EQ(dst.GetPixel(0, 0), src.GetPixel(0, 0));
}

// A row of SrcWidth numbered pixels stretched (nearest) to DstRect of a 4 x 1 destination: the
// source column each destination pixel shows.
void ExpectNearestColumns(int SrcWidth, TRect DstRect, const std::array<int, 4>& Cols) {
  TBitmap32 src, dst;
  Numbered(src, SrcWidth, 1);
  Sized(dst, 4, 1);
  StretchTransfer(&dst, DstRect, &src, {0, 0, SrcWidth, 1}, sfNearest, dmOpaque, {});
  for (int x = 0; x < 4; ++x) EXPECT_EQ(dst.GetPixel(x, 0), src.GetPixel(Cols[x], 0)) << x;
}

TEST(NearestStretch, TwoByOneToFourByOneRepeatsEachColumn) {
  ExpectNearestColumns(2, {0, 0, 4, 1}, {0, 0, 1, 1});
}

TEST(NearestStretch, DstRectLeftOfDestinationStartsAtTheMatchingSourceOffset) {
  // Twice the size, half of it left of the destination: the start 16 * 65535 / 8 lies a hair
  // before source column 2, so the first visible column is 1.
  ExpectNearestColumns(4, {-4, 0, 4, 1}, {1, 2, 2, 3});
  // Same for rows and with a sub-rectangle of the source.
  TBitmap32 tall, out;
  Numbered(tall, 3, 6);
  Sized(out, 2, 4);
  StretchTransfer(&out, {-2, -4, 2, 4}, &tall, {1, 2, 3, 6}, sfNearest, dmOpaque, {});
  // Columns start at 4 * 65535 / 4 (source column 0.99998), rows at 16 * 65535 / 8.
  EXPECT_EQ(out.GetPixel(0, 0), tall.GetPixel(1 + 0, 2 + 1));
  EXPECT_EQ(out.GetPixel(1, 0), tall.GetPixel(1 + 1, 2 + 1));
  EXPECT_EQ(out.GetPixel(0, 1), tall.GetPixel(1 + 0, 2 + 2));
  EXPECT_EQ(out.GetPixel(1, 3), tall.GetPixel(1 + 1, 2 + 3));
}

TEST(NearestStretch, VerticalMagnificationReusesRowsWithTheSameResult) {
  TBitmap32 src, dst, expect;
  std::mt19937 rng(ref::TestSeed(7));
  src.SetSize(5, 3);
  ref::FillRandom(src, rng);
  for (TRect dr : {TRect{0, 0, 13, 11}, TRect{-3, -7, 10, 20}, TRect{2, 1, 5, 30}}) {
    Sized(dst, 12, 16, 0xFF00FF00u);
    Sized(expect, 12, 16, 0xFF00FF00u);
    StretchTransfer(&dst, dr, &src, {0, 0, 5, 3}, sfNearest, dmOpaque, {});
    ExpectedStretch(expect, dr, src, {0, 0, 5, 3}, sfNearest, dmOpaque, 255);
    EXPECT_EQ(ref::FirstDifference(dst, expect), -1);
  }
}

TEST(LinearStretch, BlackWhiteTwoByOneRisesWithoutReachingWhite) {
  TBitmap32 src, dst;
  src.SetSize(2, 1);
  src.SetPixel(0, 0, 0xFF000000u);
  src.SetPixel(1, 0, 0xFFFFFFFFu);
  Sized(dst, 4, 1);
  StretchTransfer(&dst, {0, 0, 4, 1}, &src, {0, 0, 2, 1}, sfLinear, dmOpaque, {});
  // Steps of 16384: weights 255, 191, 127, 63 on the left (black) pixel.
  const TColor32 weights[4] = {255, 191, 127, 63};
  for (int x = 0; x < 4; ++x)
    EXPECT_EQ(dst.GetPixel(x, 0), Combine(0xFF000000u, 0xFFFFFFFFu, weights[x])) << x;
  if (ref::Packed()) {
    EXPECT_EQ(dst.GetPixel(0, 0), 0xFF010101u);
    EXPECT_EQ(dst.GetPixel(1, 0), 0xFF414141u);
    EXPECT_EQ(dst.GetPixel(2, 0), 0xFF808080u);
    EXPECT_EQ(dst.GetPixel(3, 0), 0xFFC0C0C0u);
  }
}

TEST(LinearStretch, CombineOrderDependsOnModeAndMasterAlpha) {
  std::mt19937 rng(ref::TestSeed(11));
  TBitmap32 src, dst, expect;
  src.SetSize(7, 5);
  ref::FillRandom(src, rng);
  const TColor32 background = 0xC0406080u;
  for (TDrawMode mode : {dmOpaque, dmBlend})
    for (TColor32 ma : {255u, 254u, 120u, 1u}) {
      src.SetMasterAlpha(ma);
      Sized(dst, 23, 17, background);
      Sized(expect, 23, 17, background);
      StretchTransfer(&dst, {-2, 1, 21, 19}, &src, {0, 0, 7, 5}, sfLinear, mode, {});
      ExpectedStretch(expect, {-2, 1, 21, 19}, src, {0, 0, 7, 5}, sfLinear, mode, ma);
      EXPECT_EQ(ref::FirstDifference(dst, expect), -1) << int(mode) << " " << ma;
    }
}

TEST(LinearStretch, OnePixelWideAndHighSources) {
  TBitmap32 src, dst, expect;
  std::mt19937 rng(ref::TestSeed(12));
  for (auto [w, h] : {std::pair{1, 5}, std::pair{5, 1}, std::pair{1, 1}}) {
    src.SetSize(w, h);
    ref::FillRandom(src, rng);
    Sized(dst, 9, 9, 0xFF000000u);
    Sized(expect, 9, 9, 0xFF000000u);
    StretchTransfer(&dst, {0, 0, 9, 9}, &src, {0, 0, w, h}, sfLinear, dmOpaque, {});
    ExpectedStretch(expect, {0, 0, 9, 9}, src, {0, 0, w, h}, sfLinear, dmOpaque, 255);
    EXPECT_EQ(ref::FirstDifference(dst, expect), -1) << w << "x" << h;
  }
}

TEST(Stretch, SameSizeIsABlockCopyForBothFilters) {
  std::mt19937 rng(ref::TestSeed(13));
  TBitmap32 src, dst;
  src.SetSize(6, 4);
  ref::FillRandom(src, rng);
  for (TStretchFilter f : {sfNearest, sfLinear}) {
    src.SetStretchFilter(f);
    Sized(dst, 10, 10, 0xFF123456u);
    src.DrawTo(dst, TRect{3, 5, 9, 9});
    for (int y = 0; y < 10; ++y)
      for (int x = 0; x < 10; ++x) {
        const bool inside = x >= 3 && x < 9 && y >= 5 && y < 9;
        EXPECT_EQ(dst.GetPixel(x, y), inside ? src.GetPixel(x - 3, y - 5) : 0xFF123456u);
      }
  }
  // In dmBlend the same-size case blends whole lines, with the line form's weight
  // ((alpha + 1) * M) >> 8 rather than the per-pixel ((M + 1) * alpha) >> 8.
  src.SetSize(1, 1);
  src.SetPixel(0, 0, 0x03FFFFFFu);
  src.SetDrawMode(dmBlend);
  src.SetMasterAlpha(254);
  for (TStretchFilter f : {sfNearest, sfLinear}) {
    src.SetStretchFilter(f);
    Sized(dst, 1, 1, 0xFF000000u);
    src.DrawTo(dst, TRect{0, 0, 1, 1});
    TColor32 expect = 0xFF000000u;
    ref::BlendLineExRef(0x03FFFFFFu, expect, 254);
    EXPECT_EQ(dst.GetPixel(0, 0), expect);
  }
}

TEST(Stretch, BlendAndCustomModesWriteEveryClipPixel) {
  TBitmap32 src, dst, expect;
  std::mt19937 rng(ref::TestSeed(14));
  src.SetSize(5, 4);
  ref::FillRandom(src, rng);
  for (TStretchFilter f : {sfNearest, sfLinear})
    for (TColor32 ma : {255u, 77u}) {
      src.SetMasterAlpha(ma);
      Sized(dst, 16, 12, 0x80FF8040u);
      Sized(expect, 16, 12, 0x80FF8040u);
      StretchTransfer(&dst, {-3, 2, 14, 15}, &src, {1, 0, 5, 3}, f, dmBlend, {});
      ExpectedStretch(expect, {-3, 2, 14, 15}, src, {1, 0, 5, 3}, f, dmBlend, ma);
      EXPECT_EQ(ref::FirstDifference(dst, expect), -1) << int(f) << " " << ma;

      // dmCustom: the handler sees the computed colour, every clip pixel left to right, row by
      // row, and the master alpha. Its computed colours equal dmOpaque's.
      Sized(dst, 16, 12, 0);
      Sized(expect, 16, 12, 0);
      std::vector<std::pair<TColor32, TColor32*>> calls;
      TPixelCombineEvent handler = [&](TColor32 F, TColor32& B, TColor32 M) {
        EXPECT_EQ(M, ma);
        calls.push_back({F, &B});
        B = ~F;
      };
      StretchTransfer(&dst, {-3, 2, 14, 15}, &src, {1, 0, 5, 3}, f, dmCustom, handler);
      ExpectedStretch(expect, {-3, 2, 14, 15}, src, {1, 0, 5, 3}, f, dmOpaque, 255);
      ASSERT_EQ(calls.size(), std::size_t(14 * 10));
      for (std::size_t k = 0; k < calls.size(); ++k) {
        EXPECT_EQ(calls[k].second, dst.GetPixelPtr(int(k % 14), 2 + int(k / 14)));
        EXPECT_EQ(calls[k].first, expect.GetPixel(int(k % 14), 2 + int(k / 14)));
      }
      // Without a handler dmCustom is dmOpaque.
      Sized(dst, 16, 12, 0);
      StretchTransfer(&dst, {-3, 2, 14, 15}, &src, {1, 0, 5, 3}, f, dmCustom, {});
      EXPECT_EQ(ref::FirstDifference(dst, expect), -1);
    }
}

TEST(Stretch, RandomGeometriesMatchTheRecomputation) {
  const std::uint32_t seed = ref::TestSeed(20240601);
  std::mt19937 rng(seed);
  TBitmap32 src, dst, expect;
  for (int n = 0; n < 300; ++n) {
    SCOPED_TRACE("seed " + std::to_string(seed) + " case " + std::to_string(n));
    const int sw = 1 + rng() % 23, sh = 1 + rng() % 17;
    src.SetSize(sw, sh);
    ref::FillRandom(src, rng);
    const int l = rng() % sw, t = rng() % sh;
    const TRect sr{l, t, l + 1 + int(rng() % (sw - l)), t + 1 + int(rng() % (sh - t))};
    const int dw = 1 + rng() % 40, dh = 1 + rng() % 40;
    const int dl = int(rng() % 50) - 20, dt = int(rng() % 50) - 20;
    const TRect dr{dl, dt, dl + 1 + int(rng() % 70), dt + 1 + int(rng() % 70)};
    const TStretchFilter f = rng() % 2 ? sfLinear : sfNearest;
    const TDrawMode mode = rng() % 3 ? dmOpaque : dmBlend;
    const TColor32 ma = rng() % 2 ? 255 : rng() % 256;
    src.SetMasterAlpha(ma);
    const TColor32 bg = ref::RandomColor(rng);
    Sized(dst, dw, dh, bg);
    Sized(expect, dw, dh, bg);
    StretchTransfer(&dst, dr, &src, sr, f, mode, {});
    const bool drawn = !(ma == 0 && !(f == sfNearest && mode == dmOpaque));
    if (!drawn) {
      EXPECT_EQ(ref::FirstDifference(dst, expect), -1);
      continue;
    }
    if (sr.Width() == dr.Width() && sr.Height() == dr.Height()) {
      BlockTransfer(&expect, dr.Left, dr.Top, &src, sr, mode, {});
    } else {
      ExpectedStretch(expect, dr, src, sr, f, mode, ma);
    }
    ASSERT_EQ(ref::FirstDifference(dst, expect), -1);
  }
}

TEST(Stretch, HugeDestinationRectanglesStayInsideTheSource) {
  // Positions that would wrap 32-bit accumulators: the result must still sample only inside
  // SrcRect (the sanitizer build checks the reads).
  TBitmap32 src, dst;
  Numbered(src, 40, 30);
  Sized(dst, 16, 16);
  for (TStretchFilter f : {sfNearest, sfLinear}) {
    StretchTransfer(&dst, {INT_MIN, INT_MIN, INT_MAX, INT_MAX}, &src, {3, 2, 40, 30}, f, dmOpaque,
                    {});
    // Nearest copies numbered pixels, which tell their column and row.
    for (int y = 0; y < 16 && f == sfNearest; ++y)
      for (int x = 0; x < 16; ++x) {
        const TColor32 c = dst.GetPixel(x, y);
        EXPECT_GE(int(c & 0xFFF), 3);
        EXPECT_LT(int(c & 0xFFF), 40);
        EXPECT_GE(int((c >> 12) & 0xFFF), 2);
      }
    StretchTransfer(&dst, {-1000000, -5, 16, 600000}, &src, {0, 0, 40, 30}, f, dmOpaque, {});
    StretchTransfer(&dst, {0, 0, 2000000000, 16}, &src, {0, 0, 40, 30}, f, dmOpaque, {});
    if (f == sfNearest) {
      EXPECT_EQ(dst.GetPixel(0, 0) & 0xFFF, 0u);
    }
  }
}

// ---------------------------------------------------------------------------------------

TEST(BlockTransfer, OpaqueCopiesAndClipsAtEveryEdge) {
  TBitmap32 src, dst;
  Numbered(src, 5, 4);
  for (auto [dx, dy] : {std::pair{-2, -1}, std::pair{4, 3}, std::pair{0, 0}, std::pair{-5, 0}}) {
    Sized(dst, 6, 5, 0xFFABCDEFu);
    BlockTransfer(&dst, dx, dy, &src, {1, 1, 5, 4}, dmOpaque, {});
    for (int y = 0; y < 5; ++y)
      for (int x = 0; x < 6; ++x) {
        const int sx = x - dx + 1, sy = y - dy + 1;
        const bool inside = sx >= 1 && sx < 5 && sy >= 1 && sy < 4;
        EXPECT_EQ(dst.GetPixel(x, y), inside ? src.GetPixel(sx, sy) : 0xFFABCDEFu);
      }
  }
}

TEST(BlockTransfer, OpaqueSourceRectangleOutsideTheSourceIsClippedToIt) {
  TBitmap32 src, dst;
  Numbered(src, 3, 3);
  Sized(dst, 8, 8, 0xFF0000FFu);
  // Only the part of SrcRect inside the source is copied, at its matching place.
  BlockTransfer(&dst, 2, 2, &src, {-2, -1, 6, 9}, dmOpaque, {});
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) {
      const int sx = x - 2 - 2, sy = y - 2 - 1;
      const bool inside = sx >= 0 && sx < 3 && sy >= 0 && sy < 3;
      EXPECT_EQ(dst.GetPixel(x, y), inside ? src.GetPixel(sx, sy) : 0xFF0000FFu) << x << "," << y;
    }
  BlockTransfer(&dst, 0, 0, &src, {INT_MIN, INT_MIN, INT_MAX, INT_MAX}, dmBlend, {});
}

TEST(BlockTransfer, BlendUsesTheLineRoutinesAndCustomTheHandler) {
  std::mt19937 rng(ref::TestSeed(21));
  TBitmap32 src, dst;
  src.SetSize(9, 5);
  ref::FillRandom(src, rng);
  for (TColor32 ma : {255u, 200u, 3u}) {
    src.SetMasterAlpha(ma);
    Sized(dst, 7, 7, 0x7F102030u);
    BlockTransfer(&dst, -1, 3, &src, {0, 0, 9, 5}, dmBlend, {});
    for (int y = 0; y < 7; ++y)
      for (int x = 0; x < 7; ++x) {
        TColor32 e = 0x7F102030u;
        if (y >= 3) {
          if (ma >= 255)
            ref::BlendMemRef(src.GetPixel(x + 1, y - 3), e);
          else
            ref::BlendLineExRef(src.GetPixel(x + 1, y - 3), e, ma);
        }
        EXPECT_EQ(dst.GetPixel(x, y), e) << x << "," << y << " ma " << ma;
      }
  }
  int calls = 0;
  Sized(dst, 7, 7, 0);
  BlockTransfer(&dst, 5, 5, &src, {0, 0, 9, 5}, dmCustom, [&](TColor32 F, TColor32& B, TColor32 M) {
    EXPECT_EQ(M, 3u);
    EXPECT_EQ(&B, dst.GetPixelPtr(5 + calls % 2, 5 + calls / 2));
    B = F;
    ++calls;
  });
  EXPECT_EQ(calls, 4);
  EXPECT_EQ(dst.GetPixel(6, 6), src.GetPixel(1, 1));
}

TEST(DrawTo, NotifiesTheDestinationOnceAndSkipsEmptyBitmaps) {
  TBitmap32 src, dst, empty;
  Numbered(src, 3, 2);
  Sized(dst, 6, 4, 0);
  int changes = 0;
  dst.OnChange = [&](TObject*) { ++changes; };
  src.DrawTo(dst);
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(dst.GetPixel(2, 1), src.GetPixel(2, 1));
  src.DrawTo(dst, 3, 2);
  EXPECT_EQ(changes, 2);
  EXPECT_EQ(dst.GetPixel(5, 3), src.GetPixel(2, 1));
  src.DrawTo(dst, TRect{0, 0, 6, 4});
  EXPECT_EQ(changes, 3);
  EXPECT_EQ(dst.GetPixel(5, 3), src.GetPixel(2, 1));
  dst.Draw(TRect{0, 0, 3, 2}, TRect{1, 0, 2, 1}, &src);
  EXPECT_EQ(changes, 4);
  EXPECT_EQ(dst.GetPixel(2, 1), src.GetPixel(1, 0));
  dst.Draw(1, 1, &src);
  EXPECT_EQ(changes, 5);
  EXPECT_EQ(dst.GetPixel(1, 1), src.GetPixel(0, 0));
  dst.Draw(0, 0, nullptr);
  dst.Draw(TRect{0, 0, 1, 1}, TRect{0, 0, 1, 1}, nullptr);
  empty.DrawTo(dst);
  empty.DrawTo(dst, TRect{0, 0, 6, 4});
  src.DrawTo(empty, 0, 0);
  EXPECT_EQ(changes, 5);
  // A refused stretch leaves the destination unnotified.
  EXPECT_THROW(src.DrawTo(dst, TRect{0, 0, 6, 4}, TRect{0, 0, 4, 2}), ETransformError);
  EXPECT_EQ(changes, 5);
}

// ---------------------------------------------------------------------------------------
// Fast paths against the scalar reference code, on many random geometries.

struct Implementation {
  TBlendImplementation saved = ActiveBlendImplementation();
  ~Implementation() { SelectBlendImplementation(saved); }
};

class StretchFastPaths : public ::testing::TestWithParam<TTransformKernels> {
 protected:
  void TearDown() override { SetTransformKernels(TTransformKernels::Best); }
};

TEST_P(StretchFastPaths, MatchTheScalarCodeOnRandomGeometries) {
  if (!VectorPathsActive()) GTEST_SKIP() << "vector paths are off in this run";
  Implementation restore;
  SetTransformKernels(GetParam());
  const std::uint32_t seed = ref::TestSeed(99);
  std::mt19937 rng(seed);
  TBitmap32 src, fast, slow;
  const int threads = RasterThreadCount();
  for (int n = 0; n < 400; ++n) {
    SCOPED_TRACE("seed " + std::to_string(seed) + " case " + std::to_string(n));
    // Every tenth case is large enough to be split over threads.
    const bool large = n % 10 == 0;
    const int sw = 1 + rng() % (large ? 400 : 70), sh = 1 + rng() % (large ? 300 : 50);
    src.SetSize(sw, sh);
    ref::FillRandom(src, rng);
    const int l = rng() % sw, t = rng() % sh;
    const TRect sr{l, t, l + 1 + int(rng() % (sw - l)), t + 1 + int(rng() % (sh - t))};
    // Scales from about 0.1 to 3, clipped at every edge.
    const double scale = 0.1 + (rng() % 1000) / 1000.0 * 2.9;
    const int dwid = std::max(1, int(sr.Width() * scale * (0.8 + (rng() % 40) / 100.0)));
    const int dhei = std::max(1, int(sr.Height() * scale));
    const int dw = large ? 200 + rng() % 300 : 1 + rng() % 90;
    const int dh = large ? 200 + rng() % 200 : 1 + rng() % 60;
    const int dl = int(rng() % (dw + 20)) - dwid / 2, dt = int(rng() % (dh + 20)) - dhei / 2;
    const TRect dr{dl, dt, dl + dwid, dt + dhei};
    const TStretchFilter f = rng() % 2 ? sfLinear : sfNearest;
    const TDrawMode mode = rng() % 3 ? dmOpaque : dmBlend;
    src.SetMasterAlpha(rng() % 2 ? 255 : rng() % 256);
    const TColor32 bg = ref::RandomColor(rng);
    SetRasterThreadCount(1 + n % 3);
    SelectBlendImplementation(TBlendImplementation::PackedVector);
    Sized(fast, dw, dh, bg);
    StretchTransfer(&fast, dr, &src, sr, f, mode, {});
    SelectBlendImplementation(TBlendImplementation::PackedScalar);
    Sized(slow, dw, dh, bg);
    StretchTransfer(&slow, dr, &src, sr, f, mode, {});
    ASSERT_EQ(ref::FirstDifference(fast, slow), -1)
        << "filter " << int(f) << " mode " << int(mode) << " ma " << src.MasterAlpha();
  }
  SetRasterThreadCount(threads);
}

INSTANTIATE_TEST_SUITE_P(Kernels, StretchFastPaths,
                         ::testing::Values(TTransformKernels::Best, TTransformKernels::SSE2),
                         [](const auto& Info) { return Info.index == 0 ? "Best" : "SSE2"; });

}  // namespace
}  // namespace raster
