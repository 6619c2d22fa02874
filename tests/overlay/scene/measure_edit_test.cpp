// Measuring through the controller as the window drives it, with the view's own mapping from
// picture 1 to the screen: measures drawn on both pictures under a turned, zoomed placement
// against figures computed here with the placement's rotation written out; which picture a new
// measure belongs to in each way of drawing; and editing with undo and redo in order.
#include "overlay/scene/measure_edit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "overlay/scene/main_controller.h"
#include "overlay/scene/measure_layer.h"
#include "raster/transforms.h"

namespace overlay {
namespace {

using raster::TBitmap32;

constexpr int Width1 = 1200, Height1 = 1200, Width2 = 1000, Height2 = 900;

// Blank pictures of W1 x H1 and W2 x H2 loaded into C.
void LoadBlankPictures(TMainController& C, int W1, int H1, int W2, int H2) {
  TBitmap32 one, two;
  one.SetSize(W1, H1);
  two.SetSize(W2, H2);
  C.SetImage1("one.png", one);
  C.SetImage2("two.png", two);
}

class MeasureEditTest : public ::testing::Test {
 protected:
  MeasureEditTest() {
    LoadBlankPictures(C, Width1, Height1, Width2, Height2);
    C.GaugeBar4().SetPosition(0);  // one screen pixel per picture-1 pixel
  }
  // A press and release on the view where picture 1's pixel (X, Y) shows.
  raster::TPoint ClickPicture1(int X, int Y) {
    const raster::TPoint at = C.ImgView().BitmapToControl({X, Y});
    Click(at);
    return at;
  }
  void Click(raster::TPoint At) {
    EXPECT_TRUE(C.MeasureMouseDown(At));
    C.MeasureMouseUp();
  }
  // Picture 1's coordinates of the middle of the screen pixel At, through the view's mapping.
  TMeasurePoint Picture1Of(raster::TPoint At) {
    const raster::TPoint origin = C.ImgView().BitmapToControl({0, 0});
    return {At.X - origin.X + 0.5, At.Y - origin.Y + 0.5};
  }
  TMainController C{1400, 1400};
};

// The placement written out as the engine draws it. Picture 2 (W x H) is stretched to
// S = trunc(W zoom) pixels, its pixel x landing at x S / (W - 1) (the end pixels on the ends);
// the layer's own scale k = zoom (W - 1) / S completes the zoom, and it turns that bitmap
// anticlockwise on the screen about its pixel (W / 2, H / 2) onto the offset plus that centre.
// So picture 2's point X lies at position + R(angle) (zoom X - k centre); and back.
struct TTurn {
  TPrecisePlacement P;
  double Cx = Width2 / 2, Cy = Height2 / 2;
  double Kx = P.Zoom * (Width2 - 1) / std::trunc(Width2 * P.Zoom);
  double Ky = P.Zoom * (Height2 - 1) / std::trunc(Height2 * P.Zoom);
  TMeasurePoint ToPicture1(double X, double Y) const {
    const double a = P.Angle * std::numbers::pi / 180, dx = X * P.Zoom - Kx * Cx,
                 dy = Y * P.Zoom - Ky * Cy;
    return {P.X + Cx + std::cos(a) * dx + std::sin(a) * dy,
            P.Y + Cy - std::sin(a) * dx + std::cos(a) * dy};
  }
  TMeasurePoint ToPicture2(TMeasurePoint Q) const {
    const double a = P.Angle * std::numbers::pi / 180, dx = Q.X - P.X - Cx, dy = Q.Y - P.Y - Cy;
    return {(Kx * Cx + std::cos(a) * dx - std::sin(a) * dy) / P.Zoom,
            (Ky * Cy + std::sin(a) * dx + std::cos(a) * dy) / P.Zoom};
  }
};

double ShoelaceArea(const std::vector<TMeasurePoint>& P) {
  double twice = 0;
  for (std::size_t i = 0; i < P.size(); ++i) {
    const TMeasurePoint& u = P[i];
    const TMeasurePoint& v = P[(i + 1) % P.size()];
    twice += u.X * v.Y - v.X * u.Y;
  }
  return std::abs(twice) / 2;
}

TEST_F(MeasureEditTest, OutlinesAndRulersOnBothPicturesMeasureInTheirOwnScales) {
  C.SetPictureScale("one.png", 2000);   // 20 pixels per mm
  C.SetPictureScale2("two.png", 1250);  // 12.5 pixels per mm
  const TTurn turn{{30, 1.25, 40.5, -20.25}};
  C.PlacePrecisely(turn.P);

  // A 1000 x 1000-pixel square on picture 1 (the opacity below full: picture 1 shows), closed
  // by a click on its first point, and a 600-800 ruler: 2500 mm², 50 mm.
  C.SetMeasureTool(TMeasureTool::Outline);
  for (const auto& [x, y] : {std::pair{100, 100}, std::pair{1100, 100}, std::pair{1100, 1100},
                             std::pair{100, 1100}, std::pair{100, 100}}) {
    ClickPicture1(x, y);
  }
  C.SetMeasureTool(TMeasureTool::Ruler);
  ClickPicture1(200, 1150);
  ClickPicture1(800, 350);

  // At full opacity picture 2 shows: a square of 400 of its pixels (32 mm a side, 1024 mm²),
  // closed with Enter, and a ruler of 400 of its pixels (32 mm), each clicked where the
  // placement shows it, to the nearest screen pixel.
  C.GaugeAlpha().SetPosition(255);
  const auto onScreen = [&](double X2, double Y2) {
    const TMeasurePoint p = turn.ToPicture1(X2, Y2);
    const raster::TPoint origin = C.ImgView().BitmapToControl({0, 0});
    return raster::TPoint{int(std::floor(p.X)) + origin.X, int(std::floor(p.Y)) + origin.Y};
  };
  C.SetMeasureTool(TMeasureTool::Outline);
  std::vector<raster::TPoint> square2;
  for (const auto& [x, y] :
       {std::pair{300, 250}, std::pair{700, 250}, std::pair{700, 650}, std::pair{300, 650}}) {
    square2.push_back(onScreen(x, y));
    Click(square2.back());
  }
  EXPECT_TRUE(C.FinishMeasure());
  C.SetMeasureTool(TMeasureTool::Ruler);
  const raster::TPoint rulerFrom = onScreen(300, 800), rulerTo = onScreen(700, 800);
  Click(rulerFrom);
  Click(rulerTo);

  const std::vector<TMeasure>& m = C.Measures();
  ASSERT_EQ(m.size(), 4u);
  EXPECT_EQ(m[0].Kind, TMeasureKind::Outline);
  EXPECT_EQ(m[0].Points.size(), 4u);
  EXPECT_EQ(m[0].Picture, 1);
  EXPECT_EQ(m[1].Picture, 1);
  EXPECT_EQ(m[2].Picture, 2);
  EXPECT_EQ(m[3].Picture, 2);
  const TMeasureFrame frame = C.MeasureFrame();

  const TMeasurement square1 = Measure(m[0], frame);
  EXPECT_NEAR(square1.Area, 2500.0, 1e-9);
  EXPECT_NEAR(square1.Length, 50 * std::sqrt(2.0), 1e-9);
  EXPECT_NEAR(Measure(m[1], frame).Length, 50.0, 1e-9);

  // Picture 2's, from the clicked pixels' middles taken back through the rotation above.
  std::vector<TMeasurePoint> own;
  for (const raster::TPoint& p : square2) own.push_back(turn.ToPicture2(Picture1Of(p)));
  // Point by point, so that the turn's direction counts (an area does not see it): each click
  // lies within a pixel of the corner it was aimed at.
  const std::vector<TMeasurePoint> mapped = InOwnPixels(m[2], frame);
  ASSERT_EQ(mapped.size(), own.size());
  for (std::size_t i = 0; i < own.size(); ++i) {
    EXPECT_NEAR(mapped[i].X, own[i].X, 1e-3) << i;
    EXPECT_NEAR(mapped[i].Y, own[i].Y, 1e-3) << i;
  }
  EXPECT_NEAR(own[1].X, 700, 1.0);
  EXPECT_NEAR(own[1].Y, 250, 1.0);
  const double area2 = ShoelaceArea(own) / (12.5 * 12.5);
  const TMeasurement measured2 = Measure(m[2], frame);
  EXPECT_NEAR(measured2.Area, area2, 1e-2);
  EXPECT_NEAR(area2, 1024.0, 15.0);  // the clicks lie within a screen pixel of the corners
  const TMeasurePoint a = turn.ToPicture2(Picture1Of(rulerFrom));
  const TMeasurePoint b = turn.ToPicture2(Picture1Of(rulerTo));
  const double length2 = std::hypot(b.X - a.X, b.Y - a.Y) / 12.5;
  EXPECT_NEAR(Measure(m[3], frame).Length, length2, 1e-4);
  EXPECT_NEAR(length2, 32.0, 0.2);

  // The pair's change, as its label shows it.
  const std::vector<std::string> label = MeasureLabel(m, 2, frame, ",");
  ASSERT_EQ(label.size(), 4u);
  EXPECT_EQ(label[0], "Umriss 1");
  const TAreaChange change{area2 - 2500, (area2 - 2500) / 2500 * 100, true};
  EXPECT_EQ(label[3], FormatAreaChange(change, ","));
  EXPECT_EQ(label[3].substr(0, 1), "-");
  EXPECT_EQ(MeasureLabel(m, 0, frame, ","),
            (std::vector<std::string>{"Umriss 1", "2500,0 mm\u00b2", "\u00d8 70,7 mm"}));

  // Moving and zooming the overlay later changes neither picture 2's measures nor their values,
  // and they stay on the same points of picture 2.
  const std::vector<TMeasure> before = m;
  C.GaugeBar2().SetPosition(60);
  C.GaugeBar5().SetPosition(-80);
  C.PlacePrecisely({-12.5, 0.875, 3.25, 7});
  EXPECT_EQ(C.Measures(), before);
  EXPECT_EQ(Measure(m[2], C.MeasureFrame()).Area, measured2.Area);
  EXPECT_EQ(Measure(m[3], C.MeasureFrame()).Length, Measure(before[3], frame).Length);
  const TTurn moved{{-12.5, 0.875, 3.25, 7}};
  const TMeasureScreen screen = C.MeasureScreen();
  const TMeasurePoint shown = screen.ToScreen(2, m[3].Points[0]);
  const TMeasurePoint expected = moved.ToPicture1(m[3].Points[0].X, m[3].Points[0].Y);
  EXPECT_NEAR(shown.X, screen.Left + expected.X, 1e-3);
  EXPECT_NEAR(shown.Y, screen.Top + expected.Y, 1e-3);
}

TEST(MeasurePicture, TheOneTheViewShowsWhereTheMeasureStarts) {
  TShownPictures v;
  v.Screen = {2, 2, 10, 20, 0, {}};             // picture 1 twice enlarged, its corner at (10, 20)
  v.Frame.Width2 = 300, v.Frame.Height2 = 200;  // picture 2 on picture 1's corner
  const auto at = [&](double X, double Y) { return PictureShownAt(v, {X + 0.5, Y + 0.5}); };
  v.Alpha = 254;
  EXPECT_EQ(at(100, 100), 1);
  v.Alpha = 255;
  EXPECT_EQ(at(100, 100), 2);
  EXPECT_EQ(at(100 + 2 * 300, 100), 1);  // beyond picture 2's right edge
  v.Mode = TViewMode::Difference;
  EXPECT_EQ(at(100, 100), 1);
  v.Mode = TViewMode::Flicker;
  EXPECT_EQ(at(100, 100), 1);
  v.FlickerOverlay = true;
  EXPECT_EQ(at(100, 100), 2);
  // The swipe's line at picture-1 column 50.25 lies at screen 110.5: picture 2 from 111 on.
  v.Mode = TViewMode::Swipe;
  v.SwipeLine = 50.25;
  EXPECT_EQ(at(110, 50), 1);
  EXPECT_EQ(at(111, 50), 2);
  // Squares of 64 from (10, 20): the first shows picture 1, the next along either way 2.
  v.Mode = TViewMode::Checker;
  EXPECT_EQ(at(10, 20), 1);
  EXPECT_EQ(at(73, 83), 1);
  EXPECT_EQ(at(74, 83), 2);
  EXPECT_EQ(at(73, 84), 2);
  EXPECT_EQ(at(74, 84), 1);
  // Side by side: the right half, half the viewport over, shows picture 2.
  v.Mode = TViewMode::Side;
  v.Screen.SideShift = 400;
  v.SideSplit = 400;
  EXPECT_EQ(at(399, 100), 1);
  EXPECT_EQ(at(400 + 100, 100), 2);
  EXPECT_EQ(at(400 + 2 * 300 + 10, 100), 1);  // right of picture 2 in its half
}

TEST_F(MeasureEditTest, EditsAndPlacementChangesUndoAndRedoInTheOrderMade) {
  C.SetMeasureTool(TMeasureTool::Outline);
  for (const auto& [x, y] :
       {std::pair{100, 100}, std::pair{300, 100}, std::pair{300, 300}, std::pair{100, 300}}) {
    ClickPicture1(x, y);
  }
  EXPECT_FALSE(C.MeasureMouseDown(C.ImgView().BitmapToControl({1300, 10})))
      << "a press outside the viewport";
  ASSERT_TRUE(C.FinishMeasure());
  C.SetMeasureTool(TMeasureTool::None);
  std::vector<TPlacementState> seen{C.PlacementState()};
  ASSERT_EQ(seen.back().Measures.size(), 1u);

  // A drag of the corner at (300, 300), in three moves: one step, the point where it ended.
  const raster::TPoint corner = C.ImgView().BitmapToControl({300, 300});
  ASSERT_TRUE(C.MeasureMouseDown({corner.X + 3, corner.Y - 2}));  // within the tolerance
  for (int d : {10, 20, 40}) EXPECT_TRUE(C.MeasureMouseMove({corner.X + d, corner.Y + d}, true));
  EXPECT_TRUE(C.MeasureMouseUp());
  EXPECT_EQ(C.Measures()[0].Points[2], (TMeasurePoint{340.5, 340.5}));
  seen.push_back(C.PlacementState());

  C.GaugeBar2().SetPosition(25);  // the overlay moves between the edits
  seen.push_back(C.PlacementState());

  // Delete: a point of four goes; of three, the outline goes whole.
  const raster::TPoint first = C.ImgView().BitmapToControl({100, 100});
  EXPECT_TRUE(C.DeleteMeasurePoint(first));
  ASSERT_EQ(C.Measures()[0].Points.size(), 3u);
  EXPECT_EQ(C.Measures()[0].Points[0], (TMeasurePoint{300.5, 100.5}));
  seen.push_back(C.PlacementState());
  EXPECT_FALSE(C.DeleteMeasurePoint(first)) << "nothing is there any more";
  EXPECT_TRUE(C.DeleteMeasurePoint(C.ImgView().BitmapToControl({300, 100})));
  EXPECT_TRUE(C.Measures().empty());
  seen.push_back(C.PlacementState());

  for (std::size_t i = seen.size() - 1; i > 0; --i) {
    ASSERT_TRUE(C.Undo());
    EXPECT_EQ(C.PlacementState(), seen[i - 1]) << i;
  }
  EXPECT_EQ(C.GaugeBar2().Position(), 0);
  for (std::size_t i = 1; i < seen.size(); ++i) {
    ASSERT_TRUE(C.Redo());
    EXPECT_EQ(C.PlacementState(), seen[i]) << i;
  }
  EXPECT_EQ(C.GaugeBar2().Position(), 25);

  // A ruler goes whole by either point; Escape drops the one being drawn, then the tool.
  C.SetMeasureTool(TMeasureTool::Ruler);
  ClickPicture1(500, 500);
  ClickPicture1(500, 500);  // the same spot again adds nothing
  ASSERT_TRUE(C.MeasureEditor().Drawing());
  ClickPicture1(600, 500);
  ASSERT_EQ(C.Measures().size(), 1u);
  ClickPicture1(700, 700);
  EXPECT_TRUE(C.CancelMeasure());
  EXPECT_FALSE(C.MeasureEditor().Drawing());
  EXPECT_TRUE(C.CancelMeasure());
  EXPECT_EQ(C.MeasureTool(), TMeasureTool::None);
  EXPECT_FALSE(C.CancelMeasure());
  EXPECT_TRUE(C.DeleteMeasurePoint(C.ImgView().BitmapToControl({600, 500})));
  EXPECT_TRUE(C.Measures().empty());
}

// Picture 2's point as the overlay layer draws it: the layer's own matrix over the rebuilt
// bitmap, in which the linear stretch lays picture 2's point x at x S / (W - 1).
TMeasurePoint Drawn(const raster::TRotLayer& Layer, int W, int H, double X2, double Y2) {
  raster::TAffineTransformation t;
  raster::SetRotLayerPlacement(t, Layer.BitmapCenter(), Layer.Angle(), Layer.Position(),
                               Layer.Zoom());
  const double bx = X2 * OverlayStretchFactor(W, Layer.Bitmap()->Width());
  const double by = Y2 * OverlayStretchFactor(H, Layer.Bitmap()->Height());
  const raster::TFloatMatrix& m = t.Matrix;
  return {m[0][0] * bx + m[1][0] * by + m[2][0], m[0][1] * bx + m[1][1] * by + m[2][1]};
}

TEST(MeasureDrawn, Picture2IsMeasuredAsTheOverlayDrawsIt) {
  // A slider state and a placement between steps, each reached by the sliders (where it can)
  // and precisely, on a small and a larger picture 2: what the layer draws and what a picture-2
  // measure is taken through agree.
  const TPlacement steps{12, 20, -15, 150};
  TPrecisePlacement between = PreciseOf(steps);
  between.X += 0.3;
  for (const int w : {101, 512}) {
    const int h = w * 3 / 4;
    for (const int way : {0, 1, 2}) {
      TMainController c{900, 900};
      LoadBlankPictures(c, 700, 700, w, h);
      if (way == 0) {
        c.GaugeBar1().SetPosition(steps.Angle);
        c.GaugeBar2().SetPosition(steps.OffsetX);
        c.GaugeBar3().SetPosition(steps.OffsetY);
        c.GaugeBar5().SetPosition(steps.OverlayZoom);
      } else {
        c.PlacePrecisely(way == 1 ? PreciseOf(steps) : between);
      }
      // Where the layer draws two points of picture 2, clicked on: they become those points,
      // and the ruler between them is as long as they lie apart on picture 2.
      const TMeasurePoint a{3, 4}, b{w - 5.0, h - 2.0};
      const TMeasureScreen screen = c.MeasureScreen();
      const auto clicked = [&](TMeasurePoint P) {
        const TMeasurePoint d = Drawn(*c.RotLayer(), w, h, P.X, P.Y);
        return screen.FromScreen(
            2, {screen.Left + d.X * screen.ScaleX, screen.Top + d.Y * screen.ScaleY});
      };
      const TMeasure ruler{TMeasureKind::Ruler, 2, {clicked(a), clicked(b)}};
      EXPECT_NEAR(ruler.Points[0].X, a.X, 1e-3) << w << " " << way;
      EXPECT_NEAR(ruler.Points[0].Y, a.Y, 1e-3) << w << " " << way;
      EXPECT_NEAR(ruler.Points[1].X, b.X, 1e-3) << w << " " << way;
      EXPECT_NEAR(ruler.Points[1].Y, b.Y, 1e-3) << w << " " << way;
      EXPECT_NEAR(Measure(ruler, c.MeasureFrame()).Length, std::hypot(b.X - a.X, b.Y - a.Y), 1e-3)
          << w << " " << way;
    }
    // Picture 2's point laid exactly onto picture 1's at a slider's turn and zoom: the overlay
    // draws it there.
    TMainController c{900, 900};
    LoadBlankPictures(c, 700, 700, w, h);
    c.PlaceExactly(steps.Angle, OverlayZoomFactor(steps.OverlayZoom), {250.25f, 180.5f}, {2, 3});
    ASSERT_TRUE(c.Precise());
    const TMeasurePoint laid = Drawn(*c.RotLayer(), w, h, 2, 3);
    EXPECT_NEAR(laid.X, 250.25, 1e-3) << w;
    EXPECT_NEAR(laid.Y, 180.5, 1e-3) << w;
  }
}

TEST(MeasureNames, OutlinesPairByNameThroughDeletionsRedrawingAndRenames) {
  const std::vector<TMeasurePoint> small{{0, 0}, {10, 0}, {10, 10}},
      large{{0, 0}, {40, 0}, {0, 40}};
  TMeasureEditor e;
  e.SetMeasures({{TMeasureKind::Outline, 1, small},
                 {TMeasureKind::Outline, 1, large},
                 {TMeasureKind::Ruler, 1, small},
                 {TMeasureKind::Outline, 2, small},
                 {TMeasureKind::Outline, 2, large}});
  const auto names = [&] {
    std::vector<std::string> n;
    for (const TMeasure& m : e.Measures()) n.push_back(m.Name);
    return n;
  };
  using TPairs = std::vector<std::pair<std::size_t, std::size_t>>;
  EXPECT_EQ(names(), (std::vector<std::string>{"Umriss 1", "Umriss 2", "Messstrecke 1", "Umriss 1",
                                               "Umriss 2"}));
  EXPECT_EQ(OutlinePairs(e.Measures()), (TPairs{{0, 3}, {1, 4}}));
  // Picture 2's first outline deleted: the large ones stay a pair, the small one has none.
  ASSERT_TRUE(e.DeleteMeasure(3));
  EXPECT_EQ(OutlinePairs(e.Measures()), (TPairs{{1, 3}}));
  // Drawn again, it takes the free name, and so its partner.
  e.SetTool(TMeasureTool::Outline);
  const TMeasureScreen screen;
  for (const TMeasurePoint& p : small) e.Click(p, 2, screen);
  ASSERT_TRUE(e.Finish());
  EXPECT_EQ(e.Measures().back().Name, "Umriss 1");
  EXPECT_EQ(OutlinePairs(e.Measures()), (TPairs{{0, 4}, {1, 3}}));
  // Renamed, the pairs follow the names; a name is unique per picture, and never empty.
  EXPECT_EQ(e.Rename(4, " Naevus\tlinks "), TRename::Renamed);
  EXPECT_EQ(e.Measures()[4].Name, "Naevus links");
  EXPECT_EQ(OutlinePairs(e.Measures()), (TPairs{{1, 3}}));
  EXPECT_EQ(e.Rename(0, "Naevus links"), TRename::Renamed);
  EXPECT_EQ(OutlinePairs(e.Measures()), (TPairs{{0, 4}, {1, 3}}));
  EXPECT_EQ(e.Rename(1, "Naevus links"), TRename::Taken);
  EXPECT_EQ(e.Rename(2, "\n "), TRename::Empty);
  EXPECT_EQ(e.Rename(9, "x"), TRename::NoMeasure);
  EXPECT_EQ(CleanMeasureName(std::string(60, 'a') + "\u00e4\u00e4\u00e4"),
            std::string(60, 'a') + "\u00e4\u00e4");  // whole characters only
}

TEST_F(MeasureEditTest, ARenameIsAStepOfTheHistory) {
  C.SetMeasures({{TMeasureKind::Outline, 1, {{10, 10}, {90, 10}, {90, 90}}},
                 {TMeasureKind::Ruler, 1, {{10, 200}, {300, 200}}}});
  const raster::TPoint onRuler = C.ImgView().BitmapToControl({150, 200});
  ASSERT_EQ(C.MeasureIndexAt(onRuler), 1u);
  const platform::TStatus taken = C.RenameMeasure(1, "Umriss 1");
  EXPECT_FALSE(taken);
  EXPECT_NE(taken.Reason().find("Umriss 1"), std::string::npos);
  ASSERT_TRUE(C.RenameMeasure(1, "Spanne"));
  EXPECT_EQ(C.Measures()[1].Name, "Spanne");
  ASSERT_TRUE(C.Undo());
  EXPECT_EQ(C.Measures()[1].Name, "Messstrecke 1");
  ASSERT_TRUE(C.Redo());
  EXPECT_EQ(C.Measures()[1].Name, "Spanne");
}

}  // namespace
}  // namespace overlay
