// Matrix routines, TAffineTransformation and drawing through it.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "raster/blend.h"
#include "raster/cpu.h"
#include "raster/transforms.h"
#include "raster/transforms_p.h"
#include "tests/raster/transforms_test_ref.h"

namespace raster {
namespace {

using ref::Combine;

TFloatPoint Apply(const TFloatMatrix& M, float x, float y) {
  return {M[0][0] * x + M[1][0] * y + M[2][0], M[0][1] * x + M[1][1] * y + M[2][1]};
}

// ---------------------------------------------------------------------------------------
// Matrices

TEST(Matrix, MultAppliesTheSecondArgumentFirst) {
  TFloatMatrix translate = IdentityMatrix, scale = IdentityMatrix;
  translate[2][0] = 10;
  translate[2][1] = -3;
  scale[0][0] = 2;
  scale[1][1] = 5;
  // Translate, then scale: (1, 1) -> (11, -2) -> (22, -10).
  const TFloatPoint p = Apply(Mult(scale, translate), 1, 1);
  EXPECT_FLOAT_EQ(p.X, 22);
  EXPECT_FLOAT_EQ(p.Y, -10);
  const TFloatPoint q = Apply(Mult(translate, scale), 1, 1);
  EXPECT_FLOAT_EQ(q.X, 12);
  EXPECT_FLOAT_EQ(q.Y, 2);
}

TEST(Matrix, DeterminantAdjointScaleInvert) {
  const TFloatMatrix m = {{{2, 1, 0}, {3, 4, 0}, {5, 6, 1}}};
  EXPECT_EQ(Determinant(m), 5.0f);  // 2*4 - 1*3
  TFloatMatrix adj = m;
  Adjoint(adj);
  // Adjugate times the matrix is the determinant times the identity.
  const TFloatMatrix prod = Mult(adj, m);
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) EXPECT_FLOAT_EQ(prod[i][j], i == j ? 5.0f : 0.0f) << i << j;
  TFloatMatrix s = m;
  Scale(s, 0.5f);
  EXPECT_EQ(s[1][0], 1.5f);
  EXPECT_EQ(s[2][2], 0.5f);
  TFloatMatrix inv = m;
  Invert(inv);
  const TFloatMatrix id = Mult(inv, m);
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) EXPECT_NEAR(id[i][j], i == j ? 1.0f : 0.0f, 1e-6) << i << j;
  EXPECT_EQ(inv[0][0], float(4.0L * float(1.0L / 5.0f)));
}

TEST(Matrix, NearlySingularBecomesTheIdentity) {
  TFloatMatrix m = {{{1e-3f, 0, 0}, {0, 9e-3f, 0}, {7, 8, 1}}};  // det 9e-6 < 1e-5
  Invert(m);
  EXPECT_EQ(m, IdentityMatrix);
  TFloatMatrix n = {{{1e-3f, 0, 0}, {0, 1.1e-2f, 0}, {7, 8, 1}}};  // det 1.1e-5
  Invert(n);
  EXPECT_NE(n, IdentityMatrix);
  EXPECT_NEAR(n[0][0], 1000.0f, 0.01f);
}

// ---------------------------------------------------------------------------------------
// Building and preparing

TEST(Affine, NewAndClearedTransformationsAreTheIdentity) {
  TAffineTransformation t;
  EXPECT_EQ(t.Matrix, IdentityMatrix);
  EXPECT_FALSE(t.Prepared);
  EXPECT_EQ(t.SrcRect, TFloatRect{});
  t.Translate(3, 4);
  t.PrepareTransform();
  EXPECT_TRUE(t.Prepared);
  t.Clear();
  EXPECT_FALSE(t.Prepared);
  EXPECT_EQ(t.Matrix, IdentityMatrix);
  // Every building step and SetSrcRect clears Prepared; the coefficients stay as prepared.
  for (int step = 0; step < 5; ++step) {
    t.PrepareTransform();
    switch (step) {
      case 0:
        t.Translate(1, 1);
        break;
      case 1:
        t.Scale(2, 2);
        break;
      case 2:
        t.Skew(0.5f, 0);
        break;
      case 3:
        t.Rotate(1, 2, 30);
        break;
      case 4:
        t.SetSrcRect({0, 0, 5, 5});
        break;
    }
    EXPECT_FALSE(t.Prepared) << step;
  }
  TAffineTransformation u;
  u.Translate(-3, 0);
  u.PrepareTransform();
  u.Translate(100, 100);
  std::int32_t x, y;
  u.Transform(0, 0, x, y);
  EXPECT_EQ(x, 3);
  EXPECT_EQ(y, 0);
}

TEST(Affine, StepsComposeInCallOrder) {
  TAffineTransformation t;
  t.Translate(10, 0);
  t.Rotate(0, 0, 90);
  const TFloatPoint p = Apply(t.Matrix, 1, 0);
  EXPECT_NEAR(p.X, 0, 1e-5);
  EXPECT_NEAR(p.Y, -11, 1e-5);
  TAffineTransformation r;
  r.Rotate(0, 0, 90);
  const TFloatPoint q = Apply(r.Matrix, 1, 0);
  EXPECT_NEAR(q.X, 0, 1e-6);
  EXPECT_EQ(q.Y, -1);
  // The sine and cosine are extended-precision values stored as floats.
  EXPECT_EQ(r.Matrix[1][0], 1.0f);
  EXPECT_EQ(r.Matrix[0][0], float(std::cos(90.0L * 3.141592653589793238462643383279502884L / 180)));
  EXPECT_NE(r.Matrix[0][0], 0.0f);
}

TEST(Affine, RotationAboutACentreKeepsTheCentre) {
  TAffineTransformation t;
  t.Rotate(0, 0, 0);
  EXPECT_EQ(t.Matrix, IdentityMatrix);
  t.Rotate(30, -20, 0);
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) EXPECT_NEAR(t.Matrix[i][j], IdentityMatrix[i][j], 1e-6);
  t.Clear();
  t.Rotate(30, -20, 37);
  const TFloatPoint c = Apply(t.Matrix, 30, -20);
  EXPECT_NEAR(c.X, 30, 1e-4);
  EXPECT_NEAR(c.Y, -20, 1e-4);
  // Positive angles turn anticlockwise on a Y-down screen: the point right of the centre moves
  // up.
  const TFloatPoint r = Apply(t.Matrix, 40, -20);
  EXPECT_LT(r.Y, -20);
}

TEST(Affine, ScaleAndSkew) {
  TAffineTransformation t;
  t.Scale(2, 3);
  t.Skew(0.5f, 0.25f);
  const TFloatPoint p = Apply(t.Matrix, 1, 1);  // (2, 3) -> (2 + 1.5, 0.5 + 3)
  EXPECT_FLOAT_EQ(p.X, 3.5f);
  EXPECT_FLOAT_EQ(p.Y, 3.5f);
}

TEST(Affine, SingularScalePreparesTheIdentity) {
  TAffineTransformation t;
  t.Translate(5, 9);
  t.Scale(0, 0);
  t.PrepareTransform();
  EXPECT_EQ(t.InvA, 4096);
  EXPECT_EQ(t.InvE, 4096);
  EXPECT_EQ(t.InvB, 0);
  EXPECT_EQ(t.InvC, 0);
  EXPECT_EQ(t.InvD, 0);
  EXPECT_EQ(t.InvF, 0);
}

TEST(Affine, CoefficientsRoundTiesToEven) {
  TAffineTransformation t;
  t.Translate(1.5f / 4096, 2.5f / 4096);  // inverse translations -1.5 and -2.5 units
  t.PrepareTransform();
  EXPECT_EQ(t.InvC, -2);
  EXPECT_EQ(t.InvF, -2);
  t.Clear();
  t.Scale(4, 0.5f);
  t.Translate(-3.25f, 7);
  t.PrepareTransform();
  EXPECT_EQ(t.InvA, 1024);
  EXPECT_EQ(t.InvE, 8192);
  EXPECT_EQ(t.InvC, 3328);    // 3.25 / 4 * 4096
  EXPECT_EQ(t.InvF, -57344);  // -7 / 0.5 * 4096
}

TEST(Affine, IdentityMappingAndHalfRoundsDown) {
  TAffineTransformation t;
  t.PrepareTransform();
  std::int32_t x, y;
  t.Transform(5, 7, x, y);
  EXPECT_EQ(x, 5);
  EXPECT_EQ(y, 7);
  t.Transform256(5, 7, x, y);
  EXPECT_EQ(x, 1280);
  EXPECT_EQ(y, 1792);
  // A sum of exactly half a pixel (2048) rounds down to 0; minus half rounds to -1.
  t.Translate(-0.5f, 0.5f);
  t.PrepareTransform();
  ASSERT_EQ(t.InvC, 2048);
  ASSERT_EQ(t.InvF, -2048);
  t.Transform(0, 0, x, y);
  EXPECT_EQ(x, 0);
  EXPECT_EQ(y, -1);
  t.Transform256(0, 0, x, y);
  EXPECT_EQ(x, 128);
  EXPECT_EQ(y, -128);
}

TEST(Affine, MappingWrapsAroundIn32Bits) {
  TAffineTransformation t;
  t.InvA = INT_MAX;
  t.InvB = INT_MIN + 5;
  t.InvC = INT_MAX;
  t.InvD = -7;
  t.InvE = 123456789;
  t.InvF = INT_MIN;
  for (auto [i, j] : {std::pair{3, 9}, std::pair{-100000, 77777}, std::pair{INT_MAX, INT_MIN}}) {
    std::int32_t x, y, x256, y256;
    t.Transform(i, j, x, y);
    t.Transform256(i, j, x256, y256);
    const auto wrap = [](std::int64_t a, std::int64_t b, std::int64_t c, std::int64_t i,
                         std::int64_t j, std::int64_t k) {
      return std::int32_t(std::uint32_t(std::uint64_t(i * a + j * b + c + k)));
    };
    EXPECT_EQ(x, wrap(t.InvA, t.InvB, t.InvC, i, j, 2047) >> 12);
    EXPECT_EQ(y, wrap(t.InvD, t.InvE, t.InvF, i, j, 2047) >> 12);
    EXPECT_EQ(x256, wrap(t.InvA, t.InvB, t.InvC, i, j, 7) >> 4);
    EXPECT_EQ(y256, wrap(t.InvD, t.InvE, t.InvF, i, j, 7) >> 4);
  }
}

TEST(Affine, TransformedBoundsRoundTheCornersOutwardsTiesToEven) {
  TAffineTransformation t;
  t.SetSrcRect({0, 0, 10, 5});
  // round(-0.5) = 0, round(10.5) = 10, round(5.5) = 6 with ties to even.
  EXPECT_EQ(t.GetTransformedBounds(), (TRect{0, 0, 10, 6}));
  t.Translate(0.25f, -1.75f);
  EXPECT_EQ(t.GetTransformedBounds(), (TRect{0, -2, 11, 4}));
  t.Clear();
  t.SetSrcRect({0.2f, 0.2f, 10.2f, 5.2f});
  t.Rotate(0, 0, 90);  // (x, y) -> (y, -x)
  EXPECT_EQ(t.GetTransformedBounds(), (TRect{0, -11, 6, 0}));
}

// ---------------------------------------------------------------------------------------
// Drawing through a transformation

// Straightforward re-computation of Transform from the stated rules, with the coefficients
// the transformation prepared.
// dmDifference by its definition: each colour channel the absolute difference, B's alpha.
TColor32 DifferenceRef(TColor32 F, TColor32 B) {
  const auto channel = [&](int Shift) {
    return TColor32(std::abs(int((F >> Shift) & 255) - int((B >> Shift) & 255))) << Shift;
  };
  return (B & 0xFF000000u) | channel(16) | channel(8) | channel(0);
}

void ExpectedTransform(TBitmap32& Dst, const TBitmap32& Src, TAffineTransformation& T) {
  if (!T.Prepared) T.PrepareTransform();
  TDrawMode mode = Src.DrawMode();
  if (mode == dmCustom && !Src.OnPixelCombine) mode = dmOpaque;
  const TColor32 ma = Src.MasterAlpha();
  // A failed intersection leaves the zero rectangle, which names pixel (0, 0); only an empty
  // source lacks it.
  TRect S;
  IntersectRect(S, MakeRect(T.SrcRect, rrClosest), TRect{0, 0, Src.Width() - 1, Src.Height() - 1});
  TRect D;
  if (!IntersectRect(D, T.GetTransformedBounds(), TRect{0, 0, Dst.Width() - 1, Dst.Height() - 1}) ||
      IsRectEmpty(D))
    return;
  auto map = [&](std::int64_t a, std::int64_t b, std::int64_t c, int i, int j, int k, int sh) {
    return std::int32_t(std::uint32_t(std::uint64_t(i * a + j * b + c + k))) >> sh;
  };
  for (int J = D.Top; J <= D.Bottom; ++J)
    for (int I = D.Left; I <= D.Right; ++I) {
      TColor32 c;
      if (Src.StretchFilter() == sfNearest) {
        const int x = map(T.InvA, T.InvB, T.InvC, I, J, 2047, 12);
        const int y = map(T.InvD, T.InvE, T.InvF, I, J, 2047, 12);
        if (Src.Empty() || x < S.Left || x > S.Right || y < S.Top || y > S.Bottom) continue;
        c = Src.GetPixel(x, y);
      } else {
        const int X = map(T.InvA, T.InvB, T.InvC, I, J, 7, 4);
        const int Y = map(T.InvD, T.InvE, T.InvF, I, J, 7, 4);
        const int xi = X >> 8, yi = Y >> 8;
        if (xi < S.Left - 1 || yi < S.Top - 1 || xi >= S.Right || yi >= S.Bottom) continue;
        const TColor32 wx = 255 - (X & 255), wy = 255 - (Y & 255);
        c = Combine(Combine(Src.GetPixelS(xi, yi), Src.GetPixelS(xi + 1, yi), wx),
                    Combine(Src.GetPixelS(xi, yi + 1), Src.GetPixelS(xi + 1, yi + 1), wx), wy);
      }
      TColor32& b = *Dst.GetPixelPtr(I, J);
      if (mode == dmOpaque)
        b = c;
      else if (mode == dmBlend)
        ref::BlendMemExRef(c, b, ma);
      else if (mode == dmDifference)
        b = DifferenceRef(c, b);
      else
        Src.OnPixelCombine(c, b, ma);
    }
}

TEST(TransformDraw, IdentityNearestCopiesAndLinearLeavesTheLastColumn) {
  std::mt19937 rng(ref::TestSeed(31));
  TBitmap32 src, dst;
  src.SetSize(6, 4);
  ref::FillRandom(src, rng);
  TAffineTransformation t;
  t.SetSrcRect(FloatRect(src.BoundsRect()));
  dst.SetSize(6, 4);
  dst.Clear(0xFF0000FFu);
  Transform(dst, src, t);
  EXPECT_EQ(ref::FirstDifference(dst, src), -1);

  src.SetStretchFilter(sfLinear);
  dst.Clear(0xFF0000FFu);
  Transform(dst, src, t);
  // Column (and row) W - 1 gets no sample; column 0 does, from the band.
  for (int y = 0; y < 4; ++y) EXPECT_EQ(dst.GetPixel(5, y), 0xFF0000FFu) << y;
  for (int x = 0; x < 6; ++x) EXPECT_EQ(dst.GetPixel(x, 3), 0xFF0000FFu) << x;
  for (int y = 0; y < 3; ++y) {
    const TColor32 upper = Combine(src.GetPixel(0, y), src.GetPixel(1, y), 255);
    const TColor32 lower = Combine(src.GetPixel(0, y + 1), src.GetPixel(1, y + 1), 255);
    EXPECT_EQ(dst.GetPixel(0, y), Combine(upper, lower, 255)) << y;
  }
}

TEST(TransformDraw, NothingOutsideTheDestinationAndNoNotification) {
  TBitmap32 src, dst;
  src.SetSize(5, 5);
  src.Clear(0xFFFFFFFFu);
  dst.SetSize(8, 8);
  dst.Clear(0xFF000000u);
  int changes = 0;
  dst.OnChange = [&](TObject*) { ++changes; };
  TAffineTransformation t;
  t.SetSrcRect({0, 0, 5, 5});
  t.Translate(100, 0);
  Transform(dst, src, t);
  t.Clear();
  t.Translate(-20, -20);
  Transform(dst, src, t);
  // D is inclusive: a D of a single column is empty by IsRectEmpty and draws nothing.
  TBitmap32 narrow;
  narrow.SetSize(1, 8);
  narrow.Clear(0xFF000000u);
  narrow.OnChange = [&](TObject*) { ++changes; };
  t.Clear();
  Transform(narrow, src, t);
  EXPECT_EQ(changes, 0);
  EXPECT_EQ(narrow.GetPixel(0, 0), 0xFF000000u);
  for (int i = 0; i < 64; ++i) ASSERT_EQ(dst.PixelBuffer()[i], 0xFF000000u);
  t.Clear();
  Transform(dst, src, t);
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(dst.GetPixel(4, 4), 0xFFFFFFFFu);
}

TEST(TransformDraw, BlendUsesMasterAlphaEvenAt255AndZeroChangesNothing) {
  TBitmap32 src, dst;
  src.SetSize(4, 4);
  src.Clear(0xFFFFFFFFu);
  src.SetDrawMode(dmBlend);
  TAffineTransformation t;
  t.SetSrcRect({0, 0, 4, 4});
  int changes = 0;
  dst.OnChange = [&](TObject*) { ++changes; };
  for (TStretchFilter f : {sfNearest, sfLinear}) {
    src.SetStretchFilter(f);
    src.SetMasterAlpha(0);
    dst.SetSize(4, 4);
    dst.Clear(0xFF000000u);
    changes = 0;
    Transform(dst, src, t);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(dst.PixelBuffer()[i], 0xFF000000u);
    EXPECT_EQ(changes, 1);
    src.SetMasterAlpha(255);
    Transform(dst, src, t);
    TColor32 e = 0xFF000000u;
    ref::BlendMemExRef(0xFFFFFFFFu, e, 255);
    EXPECT_EQ(dst.GetPixel(1, 1), e);
    if (ref::Packed()) {
      EXPECT_EQ(e, 0xFFFEFEFEu);  // 1/256 of the background shows through
    }
  }
}

TEST(TransformDraw, CustomHandlerSeesEverySampleInRowOrder) {
  TBitmap32 src, dst;
  src.SetSize(3, 3);
  for (int i = 0; i < 9; ++i) src.PixelBuffer()[i] = 0xFF000000u + i;
  src.SetDrawMode(dmCustom);
  src.SetMasterAlpha(77);
  std::vector<TColor32*> order;
  src.OnPixelCombine = [&](TColor32 F, TColor32& B, TColor32 M) {
    EXPECT_EQ(M, 77u);
    order.push_back(&B);
    B = F ^ 0x00FFFFFFu;
  };
  dst.SetSize(5, 5);
  dst.Clear(0);
  TAffineTransformation t;
  t.SetSrcRect({0, 0, 3, 3});
  t.Translate(1, 1);
  Transform(dst, src, t);
  ASSERT_EQ(order.size(), 9u);
  for (int k = 0; k < 9; ++k) EXPECT_EQ(order[k], dst.GetPixelPtr(1 + k % 3, 1 + k / 3));
  EXPECT_EQ(dst.GetPixel(3, 3), 0xFF000008u ^ 0x00FFFFFFu);
}

TEST(TransformDraw, EmptyOrMissedSourceReadsNothingOutsideIt) {
  TBitmap32 empty, dst, expect;
  empty.SetOuterColor(0x80FF0000u);
  dst.SetSize(8, 8);
  expect.SetSize(8, 8);
  TAffineTransformation t;
  t.SetSrcRect({0, 0, 6, 6});
  // Nearest: no samples at all. Bilinear: only the band, which reads OuterColor.
  Transform(dst, empty, t);
  EXPECT_EQ(ref::FirstDifference(dst, expect), -1);
  empty.SetStretchFilter(sfLinear);
  Transform(dst, empty, t);
  ExpectedTransform(expect, empty, t);
  EXPECT_EQ(ref::FirstDifference(dst, expect), -1);
  TBitmap32 src;
  src.SetSize(4, 4);
  src.Clear(0xFFFFFFFFu);
  t.SetSrcRect({10, 10, 16, 16});
  t.Translate(-10, -10);
  dst.Clear(0xFF000000u);
  Transform(dst, src, t);
  for (int i = 0; i < 64; ++i) ASSERT_EQ(dst.PixelBuffer()[i], 0xFF000000u);
}

// A source rectangle that misses the source leaves the zero rectangle as S, which names pixel
// (0, 0): nearest sampling draws it where a destination pixel maps there. Scaled by 1/20, the
// missed rectangle (10, 10)-(20, 20) has the bounds (0, 0)-(2, 2), and only destination pixel
// (0, 0) maps back to source pixel (0, 0); the others map to 20 and beyond.
TEST(TransformDraw, MissedSourceRectangleStillSamplesPixelZero) {
  TBitmap32 src, dst;
  src.SetSize(4, 4);
  for (int i = 0; i < 16; ++i) src.PixelBuffer()[i] = 0xFF102030u + TColor32(i);
  dst.SetSize(8, 8);
  dst.Clear(0xFF000000u);
  TAffineTransformation t;
  t.SetSrcRect({10, 10, 20, 20});
  t.Scale(0.05f, 0.05f);
  Transform(dst, src, t);
  EXPECT_EQ(t.GetTransformedBounds(), MakeRect(0, 0, 2, 2));
  EXPECT_EQ(dst.GetPixel(0, 0), 0xFF102030u);
  for (int i = 1; i < 64; ++i) ASSERT_EQ(dst.PixelBuffer()[i], 0xFF000000u) << i;
}

TEST(TransformDraw, HugeCoefficientsNeverReadOutsideTheSource) {
  std::mt19937 rng(ref::TestSeed(41));
  TBitmap32 src, dst, expect;
  src.SetSize(9, 7);
  ref::FillRandom(src, rng);
  for (int n = 0; n < 40; ++n) {
    TAffineTransformation t;
    t.SetSrcRect({-5, -5, 200, 200});
    t.InvA = std::int32_t(rng());
    t.InvB = std::int32_t(rng());
    t.InvC = std::int32_t(rng());
    t.InvD = std::int32_t(rng());
    t.InvE = std::int32_t(rng());
    t.InvF = std::int32_t(rng());
    t.Prepared = true;
    for (TStretchFilter f : {sfNearest, sfLinear}) {
      src.SetStretchFilter(f);
      dst.SetSize(37, 29);
      dst.Clear(0xFF102030u);
      expect.SetSize(37, 29);
      expect.Clear(0xFF102030u);
      Transform(dst, src, t);
      ExpectedTransform(expect, src, t);
      ASSERT_EQ(ref::FirstDifference(dst, expect), -1) << n;
    }
  }
}

TEST(TransformDraw, OntoItselfInDrawingOrder) {
  // Pixels written earlier in the same call are read again: the result is that of the one
  // row-by-row order, with or without fast paths and threads.
  std::mt19937 rng(ref::TestSeed(51));
  TBitmap32 self, expect;
  for (TStretchFilter f : {sfNearest, sfLinear}) {
    self.SetSize(300, 240);
    ref::FillRandom(self, rng);
    self.SetStretchFilter(f);
    self.SetDrawMode(dmBlend);
    self.SetMasterAlpha(200);
    expect.Assign(&self);
    TAffineTransformation t;
    t.SetSrcRect(FloatRect(self.BoundsRect()));
    t.Rotate(150, 120, 11);
    t.Scale(1.1f, 0.9f);
    Transform(self, self, t);
    ExpectedTransform(expect, expect, t);
    EXPECT_EQ(ref::FirstDifference(self, expect), -1) << int(f);
  }
}

struct RandomCase {
  TAffineTransformation T;
  TBitmap32 Src;
  int DW = 0, DH = 0;
  TColor32 Background = 0;
};

void MakeRandomCase(std::mt19937& rng, RandomCase& C, int MaxSrc, int MaxDst) {
  const int sw = 1 + rng() % MaxSrc, sh = 1 + rng() % MaxSrc;
  C.Src.SetSize(sw, sh);
  ref::FillRandom(C.Src, rng);
  C.Src.SetOuterColor(rng() % 2 ? 0 : ref::RandomColor(rng));
  C.DW = 1 + rng() % MaxDst;
  C.DH = 1 + rng() % MaxDst;
  C.T.Clear();
  // Sometimes a sub-rectangle with fractional edges, sometimes the whole source.
  if (rng() % 3 == 0) {
    const float l = float(rng() % 200) / 40 - 1, t = float(rng() % 200) / 40 - 1;
    C.T.SetSrcRect({l, t, l + float(rng() % 400) / 10, t + float(rng() % 400) / 10});
  } else {
    C.T.SetSrcRect(FloatRect(C.Src.BoundsRect()));
  }
  C.T.Translate(-sw / 2.0f, -sh / 2.0f);
  const float scale = 0.1f + float(rng() % 1000) / 1000 * 2.9f;
  C.T.Scale(scale, rng() % 4 ? scale : scale * 1.3f);
  if (rng() % 5 == 0) C.T.Skew(float(int(rng() % 100) - 50) / 100, 0);
  const int angles[] = {0, 90, 180, 270, 7, -7, 45};
  C.T.Rotate(0, 0, rng() % 2 ? float(angles[rng() % 7]) : float(rng() % 36000) / 100);
  C.T.Translate(float(int(rng() % (C.DW + 40)) - 20) + float(rng() % 100) / 100,
                float(int(rng() % (C.DH + 40)) - 20));
  C.Src.SetStretchFilter(rng() % 2 ? sfLinear : sfNearest);
  const int m = rng() % 5;
  C.Src.SetDrawMode(m == 0 ? dmOpaque : m == 4 ? dmDifference : dmBlend);
  C.Src.SetMasterAlpha(m == 1 ? 255 : (m == 2 ? 120 : rng() % 256));
  C.Background = ref::RandomColor(rng);
}

// Count random cases from the seed TestSeed(DefaultSeed): Body(n, rng, C) for each, traced with
// the seed and n; the first fatal failure ends the test.
template <class TBody>
void ForRandomCases(std::uint32_t DefaultSeed, int Count, TBody Body) {
  const std::uint32_t seed = ref::TestSeed(DefaultSeed);
  std::mt19937 rng(seed);
  for (int n = 0; n < Count && !::testing::Test::HasFatalFailure(); ++n) {
    SCOPED_TRACE("seed " + std::to_string(seed) + " case " + std::to_string(n));
    RandomCase C;
    Body(n, rng, C);
  }
}

// B at the case's destination size, cleared to its background.
void ClearedFor(TBitmap32& B, const RandomCase& C) {
  B.SetSize(C.DW, C.DH);
  B.Clear(C.Background);
}

TEST(TransformDraw, RandomCasesMatchTheRecomputation) {
  TBitmap32 dst, expect;
  ForRandomCases(123, 300, [&](int, std::mt19937& rng, RandomCase& C) {
    MakeRandomCase(rng, C, 20, 40);
    ClearedFor(dst, C);
    ClearedFor(expect, C);
    Transform(dst, C.Src, C.T);
    ExpectedTransform(expect, C.Src, C.T);
    ASSERT_EQ(ref::FirstDifference(dst, expect), -1);
  });
}

// The difference mode for every pair of channel values: source and destination pixels of a
// 256 x 256 picture hold x and y in red and green (the other way round), so that both run
// through all 65536 pairs, in every kernel set (the binary runs once per blend implementation).
TEST(TransformDraw, DifferenceIsTheAbsoluteDifferenceOfEveryChannelPair) {
  TBitmap32 src, dst;
  src.SetSize(256, 256);
  for (int y = 0; y < 256; ++y) {
    for (int x = 0; x < 256; ++x) src.SetPixel(x, y, Color32(x, y, 255 - x, x));
  }
  src.SetDrawMode(dmDifference);
  src.SetMasterAlpha(17);  // plays no part
  for (TTransformKernels kernels : {TTransformKernels::Best, TTransformKernels::SSE2}) {
    for (TStretchFilter filter : {sfNearest, sfLinear}) {
      SetTransformKernels(kernels);
      src.SetStretchFilter(filter);
      dst.SetSize(256, 256);
      for (int y = 0; y < 256; ++y) {
        for (int x = 0; x < 256; ++x) dst.SetPixel(x, y, Color32(y, x, (x + y) & 255, y));
      }
      TAffineTransformation t;
      t.SetSrcRect(FloatRect(src.BoundsRect()));
      Transform(dst, src, t);
      SetTransformKernels(TTransformKernels::Best);
      // The identity's bilinear samples are the pixels themselves (its last column and row
      // lie in the edge band and are left out).
      const int last = filter == sfLinear ? 254 : 255;
      for (int y = 0; y <= last; ++y) {
        for (int x = 0; x <= last; ++x) {
          const TColor32 d = dst.GetPixel(x, y);
          ASSERT_EQ(RedComponent(d), std::abs(x - y)) << x << "," << y << " " << int(filter);
          ASSERT_EQ(GreenComponent(d), std::abs(y - x));
          ASSERT_EQ(BlueComponent(d), std::abs((255 - x) - ((x + y) & 255)));
          ASSERT_EQ(AlphaComponent(d), TColor32(y));
        }
      }
    }
  }
}

struct Implementation {
  TBlendImplementation saved = ActiveBlendImplementation();
  int threads = RasterThreadCount();
  ~Implementation() {
    SelectBlendImplementation(saved);
    SetRasterThreadCount(threads);
  }
};

class TransformFastPaths : public ::testing::TestWithParam<TTransformKernels> {
 protected:
  void TearDown() override { SetTransformKernels(TTransformKernels::Best); }
};

TEST_P(TransformFastPaths, MatchTheScalarCodeOnRandomGeometries) {
  if (!VectorPathsActive()) GTEST_SKIP() << "vector paths are off in this run";
  Implementation restore;
  SetTransformKernels(GetParam());
  TBitmap32 fast, slow;
  ForRandomCases(4242, 500, [&](int n, std::mt19937& rng, RandomCase& C) {
    // Every tenth case is large enough to be split over threads.
    const bool large = n % 10 == 0;
    MakeRandomCase(rng, C, large ? 300 : 90, large ? 400 : 120);
    if (large) {
      C.DW = std::max(C.DW, 200);
      C.DH = std::max(C.DH, 200);
    }
    SetRasterThreadCount(1 + n % 3);
    SelectBlendImplementation(TBlendImplementation::PackedVector);
    ClearedFor(fast, C);
    Transform(fast, C.Src, C.T);
    SelectBlendImplementation(TBlendImplementation::PackedScalar);
    ClearedFor(slow, C);
    Transform(slow, C.Src, C.T);
    const long diff = ref::FirstDifference(fast, slow);
    ASSERT_EQ(diff, -1) << "pixel " << diff % C.DW << "," << diff / std::max(1, C.DW) << " filter "
                        << int(C.Src.StretchFilter()) << " mode " << int(C.Src.DrawMode()) << " ma "
                        << C.Src.MasterAlpha();
  });
}

// The overlay's own geometry: a large picture turned a few degrees and scaled down, so that
// consecutive destination rows read source rows several apart (the kernels then prefetch the
// next row's lines too), and at scales where rows share their lines. The last destination rows
// and columns lie where the next row's positions leave the source.
TEST_P(TransformFastPaths, DownscaledTurnedPicturesMatchTheScalarCode) {
  if (!VectorPathsActive()) GTEST_SKIP() << "vector paths are off in this run";
  Implementation restore;
  SetTransformKernels(GetParam());
  const std::uint32_t seed = ref::TestSeed(2718);
  std::mt19937 rng(seed);
  TBitmap32 src, fast, slow;
  src.SetSize(801, 603);
  ref::FillRandom(src, rng);
  const float scales[] = {0.27f, 0.13f, 0.5f, 0.9f, 1.0f};
  const float angles[] = {7, -7, 90, 183};
  int n = 0;
  for (const float scale : scales) {
    for (const float angle : angles) {
      SCOPED_TRACE("seed " + std::to_string(seed) + " scale " + std::to_string(scale) + " angle " +
                   std::to_string(angle));
      TAffineTransformation T;
      T.SetSrcRect(FloatRect(0, 0, float(src.Width() - 1), float(src.Height() - 1)));
      T.Translate(-float(src.Width() / 2), -float(src.Height() / 2));
      T.Rotate(0, 0, angle);
      T.Scale(scale, scale);
      const int dw = 97 + int(rng() % 300), dh = 61 + int(rng() % 200);
      T.Translate(float(dw / 2) + float(rng() % 100) / 100, float(dh / 2));
      const bool blend = n % 2 == 0;
      src.SetDrawMode(blend ? dmBlend : dmOpaque);
      src.SetStretchFilter(sfLinear);
      src.SetMasterAlpha(blend ? 120 : 255);
      SetRasterThreadCount(1 + n % 3);
      ++n;
      const TColor32 background = ref::RandomColor(rng);
      SelectBlendImplementation(TBlendImplementation::PackedVector);
      fast.SetSize(dw, dh);
      fast.Clear(background);
      Transform(fast, src, T);
      SelectBlendImplementation(TBlendImplementation::PackedScalar);
      slow.SetSize(dw, dh);
      slow.Clear(background);
      Transform(slow, src, T);
      const long diff = ref::FirstDifference(fast, slow);
      ASSERT_EQ(diff, -1) << "pixel " << diff % dw << "," << diff / dw;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Kernels, TransformFastPaths,
                         ::testing::Values(TTransformKernels::Best, TTransformKernels::SSE2),
                         [](const auto& Info) { return Info.index == 0 ? "Best" : "SSE2"; });

}  // namespace
}  // namespace raster
