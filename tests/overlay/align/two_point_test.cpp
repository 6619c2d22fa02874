// The two-point placement in worked values: picture 2's points seen from picture 1 through a
// known turn, zoom and shift come back onto their partners.
#include "overlay/align/two_point.h"

#include <gtest/gtest.h>

#include <utility>

namespace overlay {
namespace {

using raster::TFloatPoint;

// A right angle comes out as the angle slider's -90 (the float nearest pi / 2 gives it; one just
// below gives -89.99999), and so does a turn of 270 degrees, folded.
TEST(TwoPoint, LaysBothPointsOnTheirPartners) {
  const struct {
    const char* What;
    TFloatPoint A1, B1, A2, B2;
    float Angle, Zoom;
  } cases[] = {
      {"vertical pair", {0, 100}, {100, 0}, {0, 0}, {0, 0}, -90, 1},
      {"270 degrees", {0, 0}, {0, 0}, {0, 100}, {100, 0}, -90, 1},
      {"shift", {40, 50}, {30, 30}, {90, 70}, {80, 50}, 0, 1},
      {"zoom two", {0, 0}, {0, 0}, {40, 0}, {20, 0}, 0, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.What);
    const std::optional<TPrecisePlacement> p = TwoPointPlacement(c.A1, c.B1, c.A2, c.B2, 100, 80);
    ASSERT_TRUE(p);
    EXPECT_EQ(float(p->Angle), c.Angle);
    EXPECT_EQ(float(p->Zoom), c.Zoom);
    for (const auto& [a, b] : {std::pair{c.A1, c.B1}, std::pair{c.A2, c.B2}}) {
      double x = 0, y = 0;
      PreciseMapping(*p, 100, 80, b.X, b.Y, &x, &y);
      EXPECT_NEAR(x, a.X, 0.01);
      EXPECT_NEAR(y, a.Y, 0.01);
    }
  }
}

TEST(TwoPoint, CoincidingPointsDefineNoPlacement) {
  EXPECT_FALSE(TwoPointPlacement({10, 10}, {5, 5}, {10, 10}, {60, 60}, 100, 80));  // picture 1
  EXPECT_FALSE(TwoPointPlacement({10, 10}, {5, 5}, {70, 40}, {5, 5}, 100, 80));    // picture 2
}

}  // namespace
}  // namespace overlay
