// Rulers and outlines on both pictures, with different scales and a turned, zoomed placement,
// against figures worked out by hand.
#include "overlay/scene/measure.h"

#include <gtest/gtest.h>

#include <cmath>

namespace overlay {
namespace {

TEST(Measure, LengthsAreasAndTheirChangeInEachPicturesOwnScale) {
  TMeasureFrame frame;
  frame.Pp100MM1 = 2000;  // 20 pixels per mm
  frame.Pp100MM2 = 1000;  // 10 pixels per mm
  frame.Placement = {23.4, 1.6, 35.5, -12.25};
  frame.Width2 = 1201, frame.Height2 = 901;

  // On picture 1: a 3-4-5 ruler of 5000 pixels is 250 mm; a 1000-pixel square is 2500 mm²
  // with a longest diameter of 50 mm times the root of 2.
  const TMeasure ruler{TMeasureKind::Ruler, 1, {{100, 100}, {3100, 4100}}};
  EXPECT_NEAR(Measure(ruler, frame).Length, 250.0, 1e-9);
  const TMeasure square{TMeasureKind::Outline, 1, {{0, 0}, {1000, 0}, {1000, 1000}, {0, 1000}}};
  const TMeasurement before = Measure(square, frame);
  EXPECT_NEAR(before.Area, 2500.0, 1e-9);
  EXPECT_NEAR(before.Length, 50 * std::sqrt(2.0), 1e-9);
  EXPECT_EQ(FormatArea(before), "2500.0 mm\u00b2");

  // On picture 2: a square of 550 of its pixels (55 mm at its scale, 3025 mm²), given as the
  // view shows it, in picture-1 coordinates through the placement.
  const auto onPictureOne = [&](double X, double Y) {
    TMeasurePoint p;
    PreciseMapping(frame.Placement, frame.Width2, frame.Height2, X, Y, &p.X, &p.Y);
    return p;
  };
  const TMeasure later{TMeasureKind::Outline,
                       2,
                       {onPictureOne(100, 100), onPictureOne(650, 100), onPictureOne(650, 650),
                        onPictureOne(100, 650)}};
  const TMeasurement after = Measure(later, frame);
  EXPECT_NEAR(after.Area, 3025.0, 1e-6);
  // Picture 1's scale would have given the zoom and scale both wrong: not 3025.
  TMeasure asIfOne = later;
  asIfOne.Picture = 1;
  EXPECT_GT(std::abs(Measure(asIfOne, frame).Area - 3025.0), 1000);

  const std::optional<TAreaChange> change = AreaChange(before, after);
  ASSERT_TRUE(change);
  EXPECT_NEAR(change->Difference, 525.0, 1e-6);
  EXPECT_NEAR(change->Percent, 21.0, 1e-6);
  EXPECT_EQ(FormatAreaChange(*change, ","), "+525,0 mm\u00b2 (+21,0 %)");

  // Without picture 2's scale its outline stays in pixels, and no change in mm² is claimed.
  frame.Pp100MM2 = 0;
  const TMeasurement pixels = Measure(later, frame);
  EXPECT_FALSE(pixels.Millimetres);
  EXPECT_NEAR(pixels.Area, 550.0 * 550.0, 1e-3);
  EXPECT_FALSE(AreaChange(before, pixels));
}

}  // namespace
}  // namespace overlay
