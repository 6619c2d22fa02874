// Rulers and outlines on both pictures, with different scales and a turned, zoomed placement,
// against figures worked out by hand; picture 2's of an old record through its own placement.
#include "overlay/comparison/measure.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "overlay/scene/measure_edit.h"

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

  // On picture 2: a square of 550 of its own pixels (55 mm at its scale, 3025 mm²).
  const TMeasure later{TMeasureKind::Outline, 2, {{100, 100}, {650, 100}, {650, 650}, {100, 650}}};
  const TMeasurement after = Measure(later, frame);
  EXPECT_NEAR(after.Area, 3025.0, 1e-9);
  // The same square as a record written before kept it: picture-1 coordinates under the
  // placement of then. Measured through that placement, not the one of now, and made picture
  // 2's own again.
  TMeasure old{TMeasureKind::Outline, 2, {}};
  for (const TMeasurePoint& p : later.Points) {
    old.Points.emplace_back();
    PreciseMapping(frame.Placement, frame.Width2, frame.Height2, p.X, p.Y, &old.Points.back().X,
                   &old.Points.back().Y);
  }
  old.Under = frame.Placement;
  frame.Placement = {-3, 0.7, 12, 8};
  EXPECT_NEAR(Measure(old, frame).Area, 3025.0, 1e-6);
  const TMeasure own = OwnPoints(old, frame);
  EXPECT_FALSE(own.Under);
  for (std::size_t i = 0; i < own.Points.size(); ++i) {
    EXPECT_NEAR(own.Points[i].X, later.Points[i].X, 1e-6);
    EXPECT_NEAR(own.Points[i].Y, later.Points[i].Y, 1e-6);
  }

  const std::optional<TAreaChange> change = AreaChange(before, after);
  ASSERT_TRUE(change);
  EXPECT_NEAR(change->Difference, 525.0, 1e-6);
  EXPECT_NEAR(change->Percent, 21.0, 1e-6);
  EXPECT_EQ(FormatAreaChange(*change, ","), "+525,0 mm\u00b2 (+21,0 %)");

  // Without picture 2's scale its outline stays in pixels, and no change in mm² is claimed.
  frame.Pp100MM2 = 0;
  const TMeasurement pixels = Measure(later, frame);
  EXPECT_FALSE(pixels.Millimetres);
  EXPECT_NEAR(pixels.Area, 550.0 * 550.0, 1e-9);
  EXPECT_FALSE(AreaChange(before, pixels));
}

// The longest diameter through the hull equals the largest distance of all pairs, bit for bit,
// on random sets: scattered, on a small grid (duplicates, collinear and parallel hull edges),
// and on a circle (every point a corner).
TEST(Measure, LongestDiameterEqualsTheLargestDistanceOfAllPairs) {
  std::mt19937 random(12);
  for (int round = 0; round < 600; ++round) {
    const int n = 1 + int(random() % 60), kind = round % 3;
    std::uniform_real_distribution<double> any(-5000, 5000), angle(0, 6.283185307179586);
    std::vector<TMeasurePoint> p;
    for (int i = 0; i < n; ++i) {
      if (kind == 0) p.push_back({any(random), any(random)});
      if (kind == 1) p.push_back({double(random() % 5), double(random() % 4)});
      if (kind == 2) {
        const double a = angle(random);
        p.push_back({300 * std::cos(a) + 7, 300 * std::sin(a) - 3});
      }
    }
    double pairs = 0;
    for (std::size_t i = 0; i < p.size(); ++i) {
      for (std::size_t j = i + 1; j < p.size(); ++j) {
        pairs = std::max(pairs, std::hypot(p[j].X - p[i].X, p[j].Y - p[i].Y));
      }
    }
    ASSERT_EQ(LongestDiameter(p), pairs) << "round " << round;
  }
}

// Drawing an outline stops taking points at the bound; it still closes.
TEST(Measure, AnOutlineBeingDrawnTakesNoMoreThanTheBoundOfPoints) {
  TMeasureEditor editor;
  editor.SetTool(TMeasureTool::Outline);
  const TMeasureScreen screen;
  for (std::size_t i = 0; i <= MaxMeasurePoints; ++i) {
    editor.Click({10.0 * double(i % 1000), 10.0 * double(i / 1000) + 20}, 1, screen);
  }
  EXPECT_EQ(editor.Drawing()->Points.size(), MaxMeasurePoints);
  EXPECT_TRUE(editor.Finish());
}

}  // namespace
}  // namespace overlay
