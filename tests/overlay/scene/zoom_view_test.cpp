// The zoomable view's arithmetic in worked values: a camera picture in a small view.
#include "overlay/scene/zoom_view.h"

#include <gtest/gtest.h>

#include <cmath>

namespace overlay {
namespace {

TEST(ZoomViewTest, FitZoomHundredPercentAndPanLimitsOfACameraPicture) {
  TZoomView v;
  v.SetViewSize(800, 500);
  v.SetPictureSize(6000, 4000);
  // The height limits: 500 / 4000; 750 pixels wide, centred.
  EXPECT_EQ(v.Scale(), 0.125);
  EXPECT_EQ(v.OffsetX(), 25);
  EXPECT_EQ(v.OffsetY(), 0);
  EXPECT_EQ(v.ToPicture({25, 0}), (TPointD{0, 0}));
  EXPECT_EQ(v.ToPicture({775, 500}), (TPointD{6000, 4000}));

  // Twice about (100, 200): picture point (600, 1600) stays under it.
  v.ZoomAbout(2, {100, 200});
  EXPECT_EQ(v.Scale(), 0.25);
  EXPECT_EQ(v.ToPicture({100, 200}), (TPointD{600, 1600}));
  EXPECT_EQ(v.OffsetX(), -50);
  EXPECT_EQ(v.OffsetY(), -200);
  EXPECT_FALSE(v.Fitted());

  // 100 % about the view's centre, which showed picture point (1800, 1800).
  v.Actual();
  EXPECT_EQ(v.Scale(), 1);
  EXPECT_EQ(v.ToPicture({400, 250}), (TPointD{1800, 1800}));

  // A fine wheel step and back map every point to itself.
  v.ZoomAbout(WheelZoomFactor(40), {123, 321});
  EXPECT_DOUBLE_EQ(v.Scale(), std::exp2(1.0 / 12));
  const TPointD p{1234.5, 2345.25};
  const TPointD back = v.ToPicture(v.ToView(p));
  EXPECT_NEAR(back.X, p.X, 1e-9);
  EXPECT_NEAR(back.Y, p.Y, 1e-9);

  // Panning stops where an edge of the picture reaches the view's edge.
  v.Actual();
  v.PanBy(1e6, -1e6);
  EXPECT_EQ(v.OffsetX(), 0);
  EXPECT_EQ(v.OffsetY(), 500 - 4000);

  // The limits of the scale: a quarter of the fit, where the picture is centred again, and 32.
  v.ZoomAbout(1e-9, {0, 0});
  EXPECT_EQ(v.Scale(), 0.125 / 4);
  EXPECT_EQ(v.OffsetX(), (800 - 187.5) / 2);
  EXPECT_EQ(v.OffsetY(), (500 - 125) / 2.0);
  v.ZoomAbout(1e9, {400, 250});
  EXPECT_EQ(v.Scale(), 32);

  // Back to the fit, which a larger view follows.
  v.Fit();
  v.SetViewSize(1600, 1000);
  EXPECT_EQ(v.Scale(), 0.25);
}

TEST(ZoomViewTest, ASmallPictureIsCentredAtOneHundredPercentAndClicksOutsideNameNothing) {
  TZoomView v;
  v.SetViewSize(800, 500);
  v.SetPictureSize(200, 150);
  EXPECT_EQ(v.Scale(), 1);  // the fit does not enlarge
  EXPECT_EQ(v.ToView({0, 0}), (TPointD{300, 175}));
  EXPECT_EQ(PickPoint(v, {299.9, 200}), std::nullopt);
  EXPECT_EQ(PickPoint(v, {500, 200}), std::nullopt);  // x 200 is past the last column
  EXPECT_EQ(PickPoint(v, {499.9, 324.9}), (TPointD{199, 149}));
  // Zoomed in, left of pixel 0's centre: a point of its own, never "-0".
  v.SetScaleAbout(8, {300, 175});
  const std::optional<TPointD> edge = PickPoint(v, v.ToView({0.499, 0.25}));
  ASSERT_TRUE(edge.has_value());
  EXPECT_FALSE(std::signbit(edge->X));
  EXPECT_EQ(*edge, (TPointD{0, -0.25}));
}

}  // namespace
}  // namespace overlay
