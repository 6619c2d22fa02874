#include "bench/pixman_util.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>

namespace bench {
namespace {

using raster::TBitmap32;

// Seeded noise, opaque and not, so that a moved sample shows in the result.
void FillNoise(TBitmap32& Bitmap, std::uint32_t Seed) {
  std::mt19937 Random(Seed);
  raster::TColor32* P = Bitmap.PixelBuffer();
  for (int I = 0; I < Bitmap.Width() * Bitmap.Height(); ++I) P[I] = raster::TColor32(Random());
}

bool SamePixels(const TBitmap32& A, const TBitmap32& B) {
  for (int I = 0; I < A.Width() * A.Height(); ++I)
    if (A.PixelBuffer()[I] != B.PixelBuffer()[I]) return false;
  return true;
}

// Turned about 7 degrees, scaled about 0.37, fractional offsets: every coefficient has low bits
// that a rounding slip in the row flip would change.
pixman_transform TurnedTransform() {
  pixman_transform T;
  pixman_transform_init_identity(&T);
  T.matrix[0][0] = 176141;
  T.matrix[0][1] = -21627;
  T.matrix[0][2] = 250003;
  T.matrix[1][0] = 21627;
  T.matrix[1][1] = 176141;
  T.matrix[1][2] = -130001;
  return T;
}

struct DrawnTwin {
  TBitmap32 Target;
  bool Used = false;
};

void DrawTwin(DrawnTwin& Out, TBitmap32& Source, const pixman_transform& T, pixman_filter_t Filter,
              const PixmanSetup& Setup, const raster::TRect& Area) {
  Out.Target.SetSize(61, 47);
  FillNoise(Out.Target, 7);
  PixmanTransformed Twin(Source, Out.Target, T, Filter);
  Out.Used = Twin.Use(Setup);
  PixmanImage Mask = SolidAlpha(120);
  if (Out.Used) Twin.Composite(PIXMAN_OP_OVER, Mask.get(), Area);
}

TEST(PixmanTransformed, EverySetupGivesTheReferencePixels) {
  TBitmap32 Source;
  Source.SetSize(173, 131);
  FillNoise(Source, 1);
  TBitmap32 Untouched;
  Untouched.SetSize(61, 47);
  FillNoise(Untouched, 7);
  const raster::TRect Area = raster::MakeRect(3, 5, 58, 44);
  for (pixman_filter_t Filter : {PIXMAN_FILTER_BILINEAR, PIXMAN_FILTER_NEAREST}) {
    for (const PixmanSetup& Setup : SetupCandidates(PIXMAN_REPEAT_NONE)) {
      // The source reaches past the area's corners, so NONE and PAD differ there: the row
      // order is what must never change a pixel.
      DrawnTwin Reference, Other;
      DrawTwin(Reference, Source, TurnedTransform(), Filter, {false, Setup.Repeat}, Area);
      DrawTwin(Other, Source, TurnedTransform(), Filter, Setup, Area);
      ASSERT_TRUE(Reference.Used);
      ASSERT_TRUE(Other.Used);
      EXPECT_FALSE(SamePixels(Reference.Target, Untouched)) << "nothing was drawn";
      EXPECT_TRUE(SamePixels(Reference.Target, Other.Target))
          << "bottom up " << Setup.BottomUp << ", repeat " << Setup.Repeat << ", filter " << Filter;
      // Outside the area nothing changes, in either row order.
      for (int Y = 0; Y < 47; ++Y) {
        for (int X = 0; X < 61; ++X) {
          if (X < Area.Left || X >= Area.Right || Y < Area.Top || Y >= Area.Bottom) {
            ASSERT_EQ(Other.Target.PixelBuffer()[Y * 61 + X], Untouched.PixelBuffer()[Y * 61 + X])
                << X << "," << Y;
          }
        }
      }
    }
  }
}

TEST(PixmanTransformed, RefusesABottomUpViewItCannotExpress) {
  TBitmap32 Source, Target;
  Source.SetSize(8, 8);
  Target.SetSize(8, 1000);
  pixman_transform Far = TurnedTransform();
  Far.matrix[1][1] = 1 << 30;  // 1000 rows of it leave 16.16
  PixmanTransformed Twin(Source, Target, Far, PIXMAN_FILTER_BILINEAR);
  EXPECT_FALSE(Twin.Use({true, PIXMAN_REPEAT_NONE}));
  EXPECT_TRUE(Twin.Use({false, PIXMAN_REPEAT_NONE}));

  pixman_transform Projective = TurnedTransform();
  Projective.matrix[2][0] = 5;
  PixmanTransformed Perspective(Source, Target, Projective, PIXMAN_FILTER_BILINEAR);
  EXPECT_FALSE(Perspective.Use({true, PIXMAN_REPEAT_NONE}));
}

TEST(FastestSetup, NeverPicksASetupWithOtherPixels) {
  TBitmap32 Result;
  Result.SetSize(64, 64);
  const std::vector<PixmanSetup> Candidates = SetupCandidates(PIXMAN_REPEAT_PAD);
  // The reference is made far slower than the others, and only the last gives its pixels: a
  // choice by time alone would take the second.
  const auto Draw = [&](const PixmanSetup& Setup) {
    const bool IsReference = !Setup.BottomUp && Setup.Repeat == PIXMAN_REPEAT_PAD;
    const bool SamePixelsAsReference = Setup.BottomUp && Setup.Repeat == PIXMAN_REPEAT_NONE;
    const int Passes = IsReference ? 400 : SamePixelsAsReference ? 40 : 1;
    for (int Pass = 0; Pass < Passes; ++Pass)
      Result.Clear(IsReference || SamePixelsAsReference ? 0xFF102030u : 0xFF000000u + Pass);
    return true;
  };
  const PixmanSetup Chosen = FastestSetup(Candidates, Draw, Result);
  EXPECT_TRUE(Chosen.BottomUp);
  EXPECT_EQ(Chosen.Repeat, PIXMAN_REPEAT_NONE);
}

TEST(FastestSetup, KeepsTheReferenceWhenItAloneWorks) {
  TBitmap32 Result;
  Result.SetSize(4, 4);
  const std::vector<PixmanSetup> Candidates = SetupCandidates(PIXMAN_REPEAT_NONE);
  const PixmanSetup Chosen = FastestSetup(
      Candidates,
      [](const PixmanSetup& Setup) {
        return !Setup.BottomUp && Setup.Repeat == PIXMAN_REPEAT_NONE;
      },
      Result);
  EXPECT_FALSE(Chosen.BottomUp);
  EXPECT_EQ(Chosen.Repeat, PIXMAN_REPEAT_NONE);
}

}  // namespace
}  // namespace bench
