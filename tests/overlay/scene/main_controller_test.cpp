#include "overlay/scene/main_controller.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <numbers>
#include <string>
#include <tuple>
#include <vector>

#include "overlay/base/texts.h"
#include "overlay/decode/picture_import.h"
#include "platform/message.h"
#include "tests/support/dicom_files.h"
#include "tests/support/temp_folder.h"

namespace overlay {
namespace {

using raster::TBitmap32;
using raster::TFloatPoint;

void Fill(TBitmap32& B, int W, int H, int Seed) {
  B.SetSize(W, H);
  for (int y = 0; y < H; ++y) {
    for (int x = 0; x < W; ++x) B.SetPixel(x, y, raster::Color32((x + Seed) & 255, y & 255, Seed));
  }
}

class AlignTest : public ::testing::Test {
 protected:
  // Picture 1 300 x 200, picture 2 of the given size; both loaded as the window loads them.
  void Load(int W2, int H2) { Load(C, W2, H2); }
  static void Load(TMainController& Controller, int W2, int H2) {
    TBitmap32 p1, p2;
    Fill(p1, 300, 200, 1);
    Fill(p2, W2, H2, 2);
    Controller.SetImage1("one.png", p1);
    Controller.SetImage2("two.png", p2);
  }
  // Where the overlay shows picture 2's pixel (X, Y), in picture-1 pixels: the layer maps a
  // bitmap pixel P to R(P - centre) + position, and its bitmap is picture 2 zoomed.
  TFloatPoint Shown(double X, double Y) const {
    const raster::TRotLayer& layer = *C.RotLayer();
    const double f = double(layer.Bitmap()->Width()) / C.OverlayOriginal()->Width();
    const double a = double(layer.Angle()) * std::numbers::pi / 180;
    const double px = X * f - layer.BitmapCenter().X, py = Y * f - layer.BitmapCenter().Y;
    return {float(std::cos(a) * px + std::sin(a) * py + layer.Position().X),
            float(-std::sin(a) * px + std::cos(a) * py + layer.Position().Y)};
  }
  TMainController C{200, 150};
};

TEST_F(AlignTest, IdenticalPointsLeaveTheResetOverlay) {
  Load(101, 60);
  ASSERT_TRUE(C.AlignOverlay(20, 30, 20, 30, 80, 50, 80, 50));
  EXPECT_EQ(C.RotLayer()->Position(), (TFloatPoint{50, 30}));
  EXPECT_EQ(C.Sliders(), TSliderPositions{});
  EXPECT_EQ(C.Text(TField::EditZoomOvl), "1.000");
  EXPECT_EQ(C.RotLayer()->Bitmap()->Width(), 101);
}

TEST_F(AlignTest, APureShiftMovesTheOffsetSlidersOnly) {
  Load(100, 80);
  // Picture 2's points lie 10 pixels left of and 20 above picture 1's.
  ASSERT_TRUE(C.AlignOverlay(40, 50, 30, 30, 90, 70, 80, 50));
  const TSliderPositions s = C.Sliders();
  EXPECT_EQ(s.OffsetX, 10);
  EXPECT_EQ(s.OffsetY, 20);
  EXPECT_EQ(s.Angle, 0);
  EXPECT_EQ(s.OverlayZoom, 0);
  EXPECT_EQ(C.RotLayer()->Position(), (TFloatPoint{60, 60}));
  EXPECT_EQ(C.Text(TField::EditX), "10");
  EXPECT_EQ(C.Text(TField::EditY), "20");
}

TEST_F(AlignTest, ZoomTwoIsExactTheSliderShowsStep301) {
  Load(100, 100);
  ASSERT_TRUE(C.AlignOverlay(0, 0, 0, 0, 40, 0, 20, 0));
  EXPECT_TRUE(C.Precise());
  EXPECT_EQ(C.Sliders().OverlayZoom, 301);          // the nearest step, 10^0.301 = 1.99986
  EXPECT_EQ(C.RotLayer()->Bitmap()->Width(), 200);  // 100 x 2, not 100 x 10^0.301
  EXPECT_EQ(C.Text(TField::EditZoomOvl), std::string(BetweenStepsMark) + "2.000");
}

TEST_F(AlignTest, AnOffsetBeyondTheSliderGoesWhereThePointsSayTheSliderStopsAtItsEnd) {
  Load(100, 80);
  ASSERT_TRUE(C.AlignOverlay(750, 10, 50, 10, 760, 40, 60, 40));  // 700 pixels to the right
  EXPECT_EQ(C.Sliders().OffsetX, 600);
  EXPECT_EQ(C.RotLayer()->Position().X, 750.0f);
}

// From X = 750 (its bar at the end, 600) with Y between steps: a key or a bar moves X from 750,
// a drag as far as the mouse moves, another bar leaves it; the read-out shows X, undo restores it.
TEST_F(AlignTest, AnOffsetBeyondItsBarMovesFromItsValue) {
  const struct {
    const char* What;
    std::function<void(TMainController&)> Act;
    double X, Y;
  } cases[] = {
      {"left key", [](TMainController& c) { c.NudgeKey(TNudgeKey::Left, false); }, 749, 20.25},
      {"right key", [](TMainController& c) { c.NudgeKey(TNudgeKey::Right, true); }, 760, 20.25},
      {"wheel on the bar", [](TMainController& c) { c.GaugeBar2().SetPosition(598); }, 748, 20},
      {"Y bar", [](TMainController& c) { c.GaugeBar3().SetPosition(30); }, 750, 30},
      {"drag",
       [](TMainController& c) {
         c.BeginGesture();
         for (const int p : {596, 590, 592}) c.GaugeBar2().SetPosition(p);
         c.EndGesture();
       },
       742, 20},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.What);
    Load(100, 80);
    ASSERT_TRUE(C.PlacePrecisely({0, 1, 750, 20.25}));
    ASSERT_EQ(C.Sliders().OffsetX, 600);
    c.Act(C);
    EXPECT_EQ(C.Placement().X, c.X);
    EXPECT_EQ(C.Placement().Y, c.Y);
    EXPECT_EQ(C.Sliders().OffsetX, 600);
    EXPECT_EQ(C.RotLayer()->Position().X, float(c.X + 50));
    EXPECT_EQ(C.Text(TField::EditX), BetweenStepsMark + FormatDecimal(c.X, 1));
    ASSERT_TRUE(C.Undo());
    EXPECT_EQ(C.Placement(), (TPrecisePlacement{0, 1, 750, 20.25}));
  }
}

// Where the layer shows picture 2's point (X, Y), by the layer's parts rather than its matrix:
// the bitmap is picture 2 stretched to its whole-pixel size, the layer's own zoom completes it
// about the centre, then the turn and the position.
TFloatPoint ShownExactly(const raster::TRotLayer& Layer, const TBitmap32& Original, double X,
                         double Y) {
  const auto stretch = [](int Loaded, int Zoomed) {
    return Zoomed == Loaded ? 1.0 : double(Zoomed) / (Loaded - 1);
  };
  const double bx = X * stretch(Original.Width(), Layer.Bitmap()->Width());
  const double by = Y * stretch(Original.Height(), Layer.Bitmap()->Height());
  const double px = (bx - Layer.BitmapCenter().X) * Layer.Zoom().X;
  const double py = (by - Layer.BitmapCenter().Y) * Layer.Zoom().Y;
  const double a = double(Layer.Angle()) * std::numbers::pi / 180;
  return {float(std::cos(a) * px + std::sin(a) * py + Layer.Position().X),
          float(-std::sin(a) * px + std::cos(a) * py + Layer.Position().Y)};
}

// The points the user marked meet, at turns and zooms between slider steps; a slider moved
// afterwards gives exactly the overlay those slider positions give when set by hand.
TEST_F(AlignTest, TheMarkedPointsMeetAndASliderMoveGivesTheSliderState) {
  for (const auto& [degrees, f] :
       {std::pair{9.92, 1.0}, std::pair{181.5, 0.83}, std::pair{-23.4, 2.0}}) {
    SCOPED_TRACE(degrees);
    Load(240, 160);
    const double a = degrees * std::numbers::pi / 180;
    const double b1x = 40, b1y = 30, b2x = 190, b2y = 120;
    const double zoom = f;  // a lambda cannot capture a structured binding in every compiler
    const auto toPicture1 = [&](double x, double y) {
      return TFloatPoint{float(zoom * (std::cos(a) * x + std::sin(a) * y) + 135),
                         float(zoom * (-std::sin(a) * x + std::cos(a) * y) + 40)};
    };
    const TFloatPoint a1 = toPicture1(b1x, b1y), a2 = toPicture1(b2x, b2y);
    ASSERT_TRUE(C.AlignOverlay(a1.X, a1.Y, b1x, b1y, a2.X, a2.Y, b2x, b2y));
    EXPECT_TRUE(C.Precise());
    for (const auto& [x, y, target] : {std::tuple{b1x, b1y, a1}, std::tuple{b2x, b2y, a2}}) {
      const TFloatPoint shown = ShownExactly(*C.RotLayer(), *C.OverlayOriginal(), x, y);
      EXPECT_NEAR(shown.X, target.X, 0.5) << x;
      EXPECT_NEAR(shown.Y, target.Y, 0.5) << x;
    }

    C.GaugeBar1().SetPosition(C.Sliders().Angle + 1);
    const TSliderPositions moved = C.Sliders();
    EXPECT_FALSE(C.Precise());
    TMainController byHand{200, 150};
    Load(byHand, 240, 160);
    byHand.GaugeBar1().SetPosition(moved.Angle);
    byHand.GaugeBar2().SetPosition(moved.OffsetX);
    byHand.GaugeBar3().SetPosition(moved.OffsetY);
    byHand.GaugeBar5().SetPosition(moved.OverlayZoom);
    const raster::TRotLayer &mine = *C.RotLayer(), &theirs = *byHand.RotLayer();
    EXPECT_EQ(mine.Angle(), theirs.Angle());
    EXPECT_EQ(mine.Position(), theirs.Position());
    EXPECT_EQ(mine.Zoom(), (TFloatPoint{1, 1}));
    EXPECT_EQ(mine.BitmapCenter(), theirs.BitmapCenter());
    ASSERT_EQ(mine.Bitmap()->Width(), theirs.Bitmap()->Width());
    ASSERT_EQ(mine.Bitmap()->Height(), theirs.Bitmap()->Height());
    EXPECT_EQ(std::memcmp(mine.Bitmap()->PixelBuffer(), theirs.Bitmap()->PixelBuffer(),
                          std::size_t(mine.Bitmap()->Width()) * mine.Bitmap()->Height() * 4),
              0);
    EXPECT_EQ(C.Text(TField::EditAngle), std::to_string(moved.Angle));
  }
}

TEST_F(AlignTest, TheAlignedOverlayPutsBothPointsOnTheirPartners) {
  Load(240, 160);
  // Picture 2's points seen from picture 1 through a turn of 23.4 degrees, a zoom of 1.6 and a
  // shift: the alignment brings them back onto picture 1's points, and the sliders show the
  // nearest steps.
  const double a = 23.4 * std::numbers::pi / 180, f = 1.6;
  const double b1x = 40, b1y = 30, b2x = 190, b2y = 120;
  const auto toPicture1 = [&](double x, double y) {
    return TFloatPoint{float(f * (std::cos(a) * x + std::sin(a) * y) + 35),
                       float(f * (-std::sin(a) * x + std::cos(a) * y) + 140)};
  };
  const TFloatPoint a1 = toPicture1(b1x, b1y), a2 = toPicture1(b2x, b2y);
  ASSERT_TRUE(C.AlignOverlay(a1.X, a1.Y, b1x, b1y, a2.X, a2.Y, b2x, b2y));
  EXPECT_EQ(C.Sliders().Angle, 23);
  EXPECT_EQ(C.Sliders().OverlayZoom, 204);  // log10(1.6) x 1000 = 204.1
  for (const auto& [b, target] : {std::pair{TFloatPoint{float(b1x), float(b1y)}, a1},
                                  std::pair{TFloatPoint{float(b2x), float(b2y)}, a2}}) {
    const TFloatPoint shown = Shown(b.X, b.Y);
    EXPECT_NEAR(shown.X, target.X, 3.0) << b.X;
    EXPECT_NEAR(shown.Y, target.Y, 3.0) << b.X;
  }
}

TEST_F(AlignTest, CoincidingPointsAreRefusedAndChangeNothing) {
  Load(100, 80);
  C.GaugeBar1().SetPosition(12);
  platform::MessageRecorder recorder;
  EXPECT_FALSE(C.AlignOverlay(10, 10, 5, 5, 10, 10, 60, 60));  // in picture 1
  EXPECT_FALSE(C.AlignOverlay(10, 10, 5, 5, 70, 40, 5, 5));    // in picture 2
  EXPECT_EQ(recorder.Texts(),
            (std::vector<std::string>{Tr(CoincidentPointsText), Tr(CoincidentPointsText)}));
  EXPECT_EQ(C.Sliders().Angle, 12);
  EXPECT_FLOAT_EQ(C.RotLayer()->Angle(), 12.0f);
  EXPECT_EQ(C.RotLayer()->Bitmap()->Width(), 100);
  EXPECT_EQ(C.Text(TField::EditZoomOvl), "1.0");
}

// A reload sets the sliders back to their start; a placement between the steps whose sliders
// already stood there (angle 0.1, offsets 0.2) leaves no read-out showing it, nor the overlay
// standing there, whichever picture comes anew.
TEST_F(AlignTest, EveryReadOutShowsTheResetAfterAPlacementBetweenTheSteps) {
  for (const bool picture2 : {true, false}) {
    Load(100, 80);
    ASSERT_TRUE(C.PlacePrecisely({0.1, 1, 0.2, 0.2}));
    ASSERT_EQ(C.Sliders(), TSliderPositions{});
    TBitmap32 again;
    Fill(again, 100, 80, 3);
    if (picture2) {
      C.SetImage2("two.png", again);
    } else {
      C.SetImage1("one.png", again);
    }
    EXPECT_FALSE(C.Precise()) << picture2;
    EXPECT_EQ(C.RotLayer()->Angle(), 0.0f) << picture2;
    for (const auto& [field, text] :
         {std::pair{TField::EditAngle, "0"}, std::pair{TField::EditX, "0"},
          std::pair{TField::EditY, "0"}, std::pair{TField::EditZoomOvl, "1.000"}}) {
      EXPECT_EQ(C.Text(field), text) << picture2;
    }
  }
}

// Side by side each picture has half the viewport: at Fit and at 100 %, scrolled to either end,
// picture 1's left and right edges come into the left half (and so the overlay's into the right
// half, half a viewport over).
TEST_F(AlignTest, SideBySideEachHalfReachesTheWholePicture) {
  Load(300, 200);
  C.SetSide(true);
  raster::TImgView32& view = C.ImgView();
  const int half = view.GetViewportRect().Width() / 2;
  for (const bool fit : {true, false}) {
    ASSERT_TRUE(fit ? C.FitView() : C.ActualSizeView());
    view.Scroll(-100000, 0);
    EXPECT_GE(view.GetBitmapRect().Left, 0) << fit;
    view.Scroll(100000, 0);
    EXPECT_LE(view.GetBitmapRect().Right, half) << fit;
  }
}

// From Fit, where picture 1 lies whole in the viewport and is centred across its shorter side,
// a wheel notch (or two) in and one out keeps the picture point under the mouse within half a
// screen pixel, wherever the mouse is over the picture.
TEST_F(AlignTest, WheelZoomFromFitKeepsThePointUnderTheMouse) {
  const raster::TPoint spots[] = {{20, 20}, {150, 30}, {30, 110}, {160, 115}, {91, 66}};
  for (const int notch : {120, 240, -120}) {
    for (const raster::TPoint at : spots) {
      TMainController c{200, 150};
      Load(c, 100, 80);
      ASSERT_TRUE(c.FitView());
      raster::TImgView32& view = c.ImgView();
      const TFloatPoint before = ViewToBitmap(view, at);
      ASSERT_TRUE(c.WheelZoom(notch, at));
      const TFloatPoint now = BitmapToView(view, before);
      EXPECT_LE(std::abs(now.X - at.X), 0.5) << notch << " " << at.X << "," << at.Y;
      EXPECT_LE(std::abs(now.Y - at.Y), 0.5) << notch << " " << at.X << "," << at.Y;
    }
  }
}

// A gesture (a thumb held, a measure's point dragged) is one step: undo, redo and reset wait for
// its end, and however it ends, the changes after it are steps of their own again.
TEST_F(AlignTest, UndoAndRedoWaitForTheHeldThumb) {
  Load(100, 80);
  C.GaugeBar2().SetPosition(5);
  C.BeginGesture();  // the thumb pressed...
  C.GaugeBar2().SetPosition(20);
  EXPECT_FALSE(C.Undo() || C.Redo() || C.ResetPlacement());
  C.GaugeBar2().SetPosition(10);
  C.EndGesture();  // ...and let go
  ASSERT_TRUE(C.Undo());
  EXPECT_EQ(C.Sliders().OffsetX, 5);
}

TEST_F(AlignTest, AMeasureDragEndsItsStepHoweverItEnds) {
  const std::vector<std::function<void(TMainController&)>> ends{
      [](TMainController& c) {
        EXPECT_FALSE(c.Undo());
        c.MeasureMouseUp();
      },
      [](TMainController& c) { Load(c, 90, 70); },  // new pictures
      [](TMainController& c) { c.SetMeasures({}); },
  };
  for (std::size_t i = 0; i < ends.size(); ++i) {
    TMainController c{200, 150};
    Load(c, 100, 80);
    c.GaugeBar4().SetPosition(0);  // one screen pixel per picture pixel
    c.SetMeasures({TMeasure{TMeasureKind::Ruler, 1, {{150.5, 100.5}, {180.5, 100.5}}}});
    const raster::TPoint at = c.ImgView().BitmapToControl({150, 100});
    ASSERT_TRUE(c.MeasureMouseDown(at)) << i;
    EXPECT_TRUE(c.MeasureMouseMove({at.X + 5, at.Y}, true)) << i;
    ends[i](c);
    c.GaugeBar2().SetPosition(5);
    c.GaugeBar2().SetPosition(10);
    ASSERT_TRUE(c.Undo()) << i;
    EXPECT_EQ(c.Sliders().OffsetX, 5) << i;
  }
}

// Undo while a measure is being drawn drops that measure, as Escape does, and nothing else.
TEST_F(AlignTest, UndoWhileDrawingCancelsOnlyTheMeasureBeingDrawn) {
  Load(100, 80);
  C.SetMeasures(std::vector<TMeasure>(4, {TMeasureKind::Ruler, 1, {{10.5, 10.5}, {50.5, 10.5}}}));
  const std::vector<TMeasure> restored = C.Measures();  // named by the editor
  C.SetMeasureTool(TMeasureTool::Ruler);
  ASSERT_TRUE(C.MeasureMouseDown(C.ImgView().BitmapToControl({150, 100})));
  ASSERT_TRUE(C.Undo());
  EXPECT_FALSE(C.MeasureEditor().Drawing());
  EXPECT_EQ(C.Measures(), restored);
  EXPECT_EQ(C.MeasureTool(), TMeasureTool::Ruler);
}

// A DICOM photograph made by img2dcm from the sample, opened as picture 1 through the decoder
// process: its very pixels, and its scale from Pixel Spacing 0.05 mm (2000 pixels per 100 mm)
// for the scale bar, which it turns on, and the measures; the interface file's scale wins.
// Picture 2 gives the measures its own. A multi-frame picture 2 is told once per load, not again
// when the assistant reloads it.
TEST(DicomPictures, TheirPixelSpacingGivesTheScaleTheInterfaceFileDoesNot) {
  const testsupport::TTempFolder folder("main_controller_test");
  const std::unique_ptr<TBitmap32> crop = testsupport::SampleCrop(160, 120);
  const std::string photo = folder / "photo.dcm";
  testsupport::MakeDicomWithTools(*crop, photo, "0.05\\0.05", "1.2.3");
  // Two RGB frames of 2 x 1, without extension (found by its preamble).
  const std::string framesPath = folder / "frames";
  testsupport::WriteDicom(framesPath, 2, 1, "RGB", 8, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12},
                          {{DCM_NumberOfFrames, "2"}});

  platform::MessageRecorder recorder;
  TMainController c{200, 150};
  ASSERT_TRUE(c.LoadImage1(photo));
  const TBitmap32& shown = c.ImgView().Bitmap();
  ASSERT_EQ(shown.Width(), 160);
  ASSERT_EQ(shown.Height(), 120);
  EXPECT_TRUE(
      std::equal(shown.PixelBuffer(), shown.PixelBuffer() + 160 * 120, crop->PixelBuffer()));
  EXPECT_EQ(c.ScaleBar().Pp100MM(), 2000);
  EXPECT_TRUE(c.ScaleBarShown());
  EXPECT_EQ(c.Facts1().StudyInstanceUid, "1.2.3");
  EXPECT_EQ(c.MeasureFrame().Pp100MM1, 2000);
  c.SetPictureScale(photo, 1234);
  EXPECT_EQ(c.MeasureFrame().Pp100MM1, 1234);
  c.SetPictureScale(photo, 0);
  EXPECT_EQ(c.MeasureFrame().Pp100MM1, 2000);

  ASSERT_TRUE(c.LoadImage2(framesPath));
  EXPECT_EQ(c.MeasureFrame().Pp100MM2, 0);                                   // it gives no spacing
  EXPECT_EQ(c.OverlayOriginal()->GetPixel(1, 0), raster::Color32(4, 5, 6));  // the first frame
  ASSERT_TRUE(c.LoadImage2(photo));
  EXPECT_EQ(c.MeasureFrame().Pp100MM2, 2000);
  c.SetPictureScale2(photo, 500);
  EXPECT_EQ(c.MeasureFrame().Pp100MM2, 500);
  ASSERT_TRUE(c.LoadImage2(framesPath));
  ASSERT_TRUE(c.BeginAssistant());
  c.EndAssistant(false);
  c.LoadBothImages(photo, framesPath, {});  // as an interface file's pair
  // The overlay's copy, made on picture 2's loading thread, is picture 2's.
  EXPECT_EQ(c.OverlayOriginal()->GetPixel(1, 0), raster::Color32(4, 5, 6));
  const std::string note = PictureFailureText(Tr(MultiFrameText, "2"), framesPath);
  EXPECT_EQ(recorder.Texts(), (std::vector<std::string>(3, note)));  // once per load

  // Pixel Spacing 0.7 mm: 142.86 pixels per 100 mm, 143 for the bar, but measured exact: 100
  // pixels are 70 mm on either picture, not 69.9.
  const std::string fine = folder / "fine.dcm";
  testsupport::MakeDicomWithTools(*crop, fine, "0.7\\0.7", "1.2.4");
  ASSERT_TRUE(c.LoadImage1(fine));
  ASSERT_TRUE(c.LoadImage2(fine));
  EXPECT_EQ(c.ScaleBar().Pp100MM(), 143);
  for (const int picture : {1, 2}) {
    const TMeasure ruler{TMeasureKind::Ruler, picture, {{10, 20}, {110, 20}}};
    EXPECT_NEAR(Measure(ruler, c.MeasureFrame()).Length, 70.0, 1e-9) << picture;
  }
}

// The detector's Imager Pixel Spacing alone is no scale at the patient: none is taken, and the
// user is told why; through the magnification factor it is one, and Pixel Spacing wins over it.
TEST(DicomPictures, TheDetectorsSpacingAloneGivesNoScaleAndANote) {
  const testsupport::TTempFolder folder("main_controller_test");
  const std::vector<std::uint16_t> pixels(2 * 1 * 3, 128);
  const struct {
    std::vector<std::pair<DcmTagKey, std::string>> Spacing;
    int Pp100MM;
    bool Told;
  } cases[] = {
      {{{DCM_ImagerPixelSpacing, "0.2\\0.2"}}, 0, true},
      {{{DCM_ImagerPixelSpacing, "0.2\\0.2"},
        {DCM_EstimatedRadiographicMagnificationFactor, "1.25"}},
       625,
       false},
      {{{DCM_ImagerPixelSpacing, "0.2\\0.2"}, {DCM_PixelSpacing, "0.1\\0.1"}}, 1000, false},
  };
  for (const auto& c : cases) {
    const std::string path = folder / "detector.dcm";
    testsupport::WriteDicom(path, 2, 1, "RGB", 8, pixels, c.Spacing);
    platform::MessageRecorder recorder;
    TMainController controller{200, 150};
    ASSERT_TRUE(controller.LoadImage1(path));
    EXPECT_EQ(controller.MeasureFrame().Pp100MM1, c.Pp100MM);
    EXPECT_EQ(recorder.Texts(),
              c.Told ? std::vector<std::string>{PictureFailureText(Tr(DetectorSpacingText), path)}
                     : std::vector<std::string>{});
  }
}

// The interface file's visit wins over the EXIF date while its picture is shown, and both show
// where they name different days; the DICOM objects take the visit's date and time.
TEST(VisitDates, TheInterfaceFilesDateHoldsForItsPictureAndShowsBesideAnotherExifDay) {
  const std::string sample = std::string(TESSALY_SOURCE_DIR) + "/data/sample/";
  const std::string one = sample + "NT96650_pcb_002.JPG", two = sample + "NT96650_pcb_004.JPG";
  TMainController c{200, 150};
  c.SetVisitDate(1, one, "03.02.2026", "14:05");
  c.SetVisitDate(2, two, "6.6.2015", "");
  c.LoadBothImages(one, two, [] {});
  EXPECT_EQ(c.DateShown(1), "03.02.2026 14:05 (EXIF 2015-06-06 00:05)");
  EXPECT_EQ(c.DateShown(2), "6.6.2015");
  EXPECT_EQ(c.WhenTaken(1), 20260203140500u);
  EXPECT_EQ(c.WhenTaken(2), 20150606000000u);
  // Another picture 1: its own EXIF date again.
  ASSERT_TRUE(c.LoadImage1(two));
  EXPECT_EQ(c.DateShown(1), "2015-06-06 00:05");
  EXPECT_EQ(c.WhenTaken(1), 20150606000540u);
  for (const auto& [date, time] : {std::pair{"31.02.2026", ""}, std::pair{"2026-02-03", ""},
                                   std::pair{"03.02.2026", "25:00"}, std::pair{"", ""}}) {
    EXPECT_EQ(VisitDateTaken(date, time), 0u) << date << " " << time;
  }
}

}  // namespace
}  // namespace overlay
