#include "platform/control_host.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QTest>
#include <QWheelEvent>
#include <cstdlib>
#include <memory>
#include <vector>

#include "controls/image_view.h"
#include "controls/range_bars.h"

namespace {

using raster::TColor32;

// A control that shows one colour (with a stripe of a second colour in its first column, so an
// offset blit is seen) and records every event it gets.
class TRecordingControl : public raster::TControl {
 public:
  explicit TRecordingControl(TColor32 Fill, TControl* Parent = nullptr)
      : TControl(Parent), FFill(Fill) {}

  void Paint() override {
    ++Paints;
    if (Face.Width() != Width() || Face.Height() != Height()) Face.SetSize(Width(), Height());
    Face.Clear(FFill);
    Face.FillRectS(0, 0, 1, Height(), Stripe);
    Blit(Face, Face.BoundsRect(), {0, 0});
  }
  void MouseDown(raster::TMouseButton Button, raster::TShiftState Shift, std::int32_t X,
                 std::int32_t Y) override {
    Log.push_back({'D', int(Button), Shift, X, Y, 0});
  }
  void MouseMove(raster::TShiftState Shift, std::int32_t X, std::int32_t Y) override {
    Log.push_back({'M', 0, Shift, X, Y, 0});
  }
  void MouseUp(raster::TMouseButton Button, raster::TShiftState Shift, std::int32_t X,
               std::int32_t Y) override {
    Log.push_back({'U', int(Button), Shift, X, Y, 0});
  }
  bool MouseWheel(raster::TShiftState Shift, std::int32_t Delta, raster::TPoint P) override {
    Log.push_back({'W', 0, Shift, P.X, P.Y, Delta});
    return true;
  }
  void MouseLeave() override { Log.push_back({'L', 0, 0, 0, 0, 0}); }
  void TimerTick() override {
    ++Ticks;
    if (StopAfter > 0 && Ticks >= StopAfter) StopTimer();
  }

  struct Event {
    char Kind;
    int Button;
    raster::TShiftState Shift;
    int X, Y, Delta;
  };
  std::vector<Event> Log;
  raster::TBitmap32 Face;
  TColor32 Stripe = raster::Color32(255, 255, 0);
  int Paints = 0;
  int Ticks = 0;
  int StopAfter = 0;

 private:
  TColor32 FFill;
};

// A black root control with a blue child control, hosted in a widget.
struct THostedPair {
  THostedPair(int RootW, int RootH, int X, int Y, int ChildW, int ChildH) {
    root.SetBounds(0, 0, RootW, RootH);
    child.SetBounds(X, Y, ChildW, ChildH);
    host = std::make_unique<platform::TControlHostWidget>(root);
  }
  // Shows the widget and waits until it is on the screen.
  bool Shown() {
    host->show();
    return QTest::qWaitForWindowExposed(host.get());
  }
  TRecordingControl root{raster::Color32(0, 0, 0)};
  TRecordingControl child{raster::Color32(0, 0, 255), &root};
  std::unique_ptr<platform::TControlHostWidget> host;
};

class ControlHostTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(QApplication::instance(), nullptr); }
};

TEST_F(ControlHostTest, GrabShowsTheControlsPixelsIgnoringAlpha) {
  TRecordingControl root(raster::Color32(10, 20, 30));
  root.SetBounds(0, 0, 40, 30);
  TRecordingControl child(raster::Color32(200, 100, 50), &root);
  child.SetBounds(12, 8, 10, 6);
  // Alpha 0 in the buffer must not make the copy transparent: the screen ignores it.
  child.Stripe = 0x0000FF00u;
  platform::TControlHostWidget host(root);
  EXPECT_EQ(host.size(), QSize(40, 30));

  const QImage shot = host.grab().toImage().convertToFormat(QImage::Format_RGB32);
  ASSERT_EQ(shot.size(), QSize(40, 30));
  EXPECT_EQ(shot.pixel(0, 0), qRgb(255, 255, 0));  // root's stripe
  EXPECT_EQ(shot.pixel(1, 0), qRgb(10, 20, 30));
  EXPECT_EQ(shot.pixel(39, 29), qRgb(10, 20, 30));
  EXPECT_EQ(shot.pixel(12, 8), qRgb(0, 255, 0));  // child's stripe, alpha 0 in the buffer
  EXPECT_EQ(shot.pixel(13, 8), qRgb(200, 100, 50));
  EXPECT_EQ(shot.pixel(21, 13), qRgb(200, 100, 50));
  EXPECT_EQ(shot.pixel(22, 13), qRgb(10, 20, 30));
  EXPECT_EQ(shot.pixel(21, 14), qRgb(10, 20, 30));
  EXPECT_GE(root.Paints, 1);
  EXPECT_GE(child.Paints, 1);
}

TEST_F(ControlHostTest, ResizingTheWidgetResizesTheRoot) {
  TRecordingControl root(raster::Color32(1, 2, 3));
  root.SetBounds(0, 0, 20, 20);
  platform::TControlHostWidget host(root);
  host.resize(64, 48);
  const QImage shot = host.grab().toImage();
  EXPECT_EQ(root.Width(), 64);
  EXPECT_EQ(root.Height(), 48);
  EXPECT_EQ(QColor(shot.pixel(63, 47)), QColor(1, 2, 3));
}

TEST_F(ControlHostTest, ClickReachesTheControlUnderTheMouseWithButtonAndModifiers) {
  THostedPair p(100, 80, 50, 40, 30, 20);
  ASSERT_TRUE(p.Shown());

  QTest::mouseClick(p.host.get(), Qt::LeftButton, Qt::ShiftModifier, QPoint(55, 47));
  ASSERT_GE(p.child.Log.size(), 2u);
  const auto down = p.child.Log[p.child.Log.size() - 2];
  const auto up = p.child.Log.back();
  EXPECT_EQ(down.Kind, 'D');
  EXPECT_EQ(down.Button, raster::mbLeft);
  EXPECT_EQ(down.Shift, raster::ssShift | raster::ssLeft);
  EXPECT_EQ(down.X, 5);  // child coordinates
  EXPECT_EQ(down.Y, 7);
  EXPECT_EQ(up.Kind, 'U');
  EXPECT_EQ(up.Button, raster::mbLeft);
  EXPECT_EQ(up.Shift, raster::ssShift);  // the released button is no longer held
  for (const auto& e : p.root.Log) EXPECT_NE(e.Kind, 'D');

  QTest::mouseClick(p.host.get(), Qt::RightButton, Qt::ControlModifier, QPoint(3, 4));
  ASSERT_FALSE(p.root.Log.empty());
  bool sawRight = false;
  for (const auto& e : p.root.Log) {
    if (e.Kind == 'D') {
      sawRight = true;
      EXPECT_EQ(e.Button, raster::mbRight);
      EXPECT_EQ(e.Shift, raster::ssCtrl | raster::ssRight);
      EXPECT_EQ(e.X, 3);
      EXPECT_EQ(e.Y, 4);
    }
  }
  EXPECT_TRUE(sawRight);
}

TEST_F(ControlHostTest, WheelNotchArrivesAs120AtTheMousePosition) {
  THostedPair p(100, 80, 50, 40, 30, 20);

  const QPointF local(60, 45);
  QWheelEvent away(local, p.host->mapToGlobal(local), QPoint(), QPoint(0, 120), Qt::NoButton,
                   Qt::AltModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(p.host.get(), &away);
  QWheelEvent toward(local, p.host->mapToGlobal(local), QPoint(), QPoint(0, -120), Qt::NoButton,
                     Qt::NoModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(p.host.get(), &toward);

  ASSERT_EQ(p.child.Log.size(), 2u);
  EXPECT_EQ(p.child.Log[0].Kind, 'W');
  EXPECT_EQ(p.child.Log[0].Delta, 120);
  EXPECT_EQ(p.child.Log[0].Shift, raster::ssAlt);
  EXPECT_EQ(p.child.Log[0].X, 10);
  EXPECT_EQ(p.child.Log[0].Y, 5);
  EXPECT_EQ(p.child.Log[1].Delta, -120);
  EXPECT_TRUE(away.isAccepted());
}

TEST_F(ControlHostTest, HorizontalWheelIsLeftToTheParentWidget) {
  TRecordingControl root(raster::Color32(0, 0, 0));
  root.SetBounds(0, 0, 30, 30);
  platform::TControlHostWidget host(root);
  QWheelEvent sideways(QPointF(5, 5), host.mapToGlobal(QPointF(5, 5)), QPoint(), QPoint(120, 0),
                       Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(&host, &sideways);
  EXPECT_TRUE(root.Log.empty());
  EXPECT_FALSE(sideways.isAccepted());
}

TEST_F(ControlHostTest, MovesAndLeaveAreDelivered) {
  TRecordingControl root(raster::Color32(0, 0, 0));
  root.SetBounds(0, 0, 50, 50);
  platform::TControlHostWidget host(root);
  host.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&host));
  QTest::mouseMove(&host, QPoint(20, 25));
  ASSERT_TRUE(QTest::qWaitFor([&] { return !root.Log.empty(); }, 2000));
  EXPECT_EQ(root.Log.back().Kind, 'M');
  EXPECT_EQ(root.Log.back().X, 20);
  EXPECT_EQ(root.Log.back().Y, 25);
  EXPECT_EQ(host.CursorPos(), (raster::TPoint{20, 25}));

  QEvent leave(QEvent::Leave);
  QApplication::sendEvent(&host, &leave);
  EXPECT_EQ(root.Log.back().Kind, 'L');
  EXPECT_EQ(host.CursorPos(), (raster::TPoint{-1, -1}));
}

TEST_F(ControlHostTest, CaptureKeepsMovesOnTheCapturingControl) {
  THostedPair p(100, 100, 10, 10, 20, 20);
  ASSERT_TRUE(p.Shown());
  QTest::mousePress(p.host.get(), Qt::LeftButton, Qt::NoModifier, QPoint(15, 15));
  p.child.SetMouseCapture(true);
  EXPECT_EQ(p.host->Capture(), &p.child);
  QMouseEvent move(QEvent::MouseMove, QPointF(80, 90), p.host->mapToGlobal(QPointF(80, 90)),
                   Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(p.host.get(), &move);
  EXPECT_EQ(p.child.Log.back().Kind, 'M');
  EXPECT_EQ(p.child.Log.back().X, 70);  // outside the child, still in its coordinates
  EXPECT_EQ(p.child.Log.back().Y, 80);
  EXPECT_EQ(p.child.Log.back().Shift, raster::ssLeft);
  QTest::mouseRelease(p.host.get(), Qt::LeftButton, Qt::NoModifier, QPoint(80, 90));
  EXPECT_EQ(p.child.Log.back().Kind, 'U');
  p.child.SetMouseCapture(false);
  EXPECT_EQ(p.host->Capture(), nullptr);
}

TEST_F(ControlHostTest, TimerTicksUntilTheControlStopsIt) {
  TRecordingControl root(raster::Color32(0, 0, 0));
  root.SetBounds(0, 0, 10, 10);
  platform::TControlHostWidget host(root);
  root.StopAfter = 3;
  root.StartTimer(5);
  EXPECT_EQ(host.TimerInterval(root), 5);
  ASSERT_TRUE(QTest::qWaitFor([&] { return root.Ticks >= 3; }, 5000));
  EXPECT_EQ(host.TimerInterval(root), 0);
  // No tick after the stop: a zero-timeout pass over the event queue delivers none.
  QCoreApplication::processEvents();
  EXPECT_EQ(root.Ticks, 3);
}

TEST_F(ControlHostTest, DestroyedControlLosesItsTimerAndCapture) {
  TRecordingControl root(raster::Color32(0, 0, 0));
  root.SetBounds(0, 0, 10, 10);
  platform::TControlHostWidget host(root);
  {
    TRecordingControl child(raster::Color32(0, 0, 255), &root);
    child.SetBounds(0, 0, 5, 5);
    child.StartTimer(1);
    child.SetMouseCapture(true);
    EXPECT_EQ(host.TimerInterval(child), 1);
  }
  EXPECT_EQ(host.Capture(), nullptr);
  // While the root's timer ticks three times, a leftover tick for the freed child would touch
  // freed memory (the sanitizer build reports it).
  root.StopAfter = 3;
  root.StartTimer(2);
  ASSERT_TRUE(QTest::qWaitFor([&] { return root.Ticks >= 3; }, 5000));
}

TEST_F(ControlHostTest, AChildFreedAfterItsParentLeavesNothingInTheHost) {
  TRecordingControl root(raster::Color32(0, 0, 0));
  root.SetBounds(0, 0, 10, 10);
  platform::TControlHostWidget host(root);
  auto* parent = new TRecordingControl(raster::Color32(0, 255, 0), &root);
  auto* child = new TRecordingControl(raster::Color32(0, 0, 255), parent);
  child->StartTimer(1);
  child->SetMouseCapture(true);
  // The parent goes first and takes the child out of the tree; the child goes later.
  delete parent;
  EXPECT_EQ(host.TimerInterval(*child), 0);
  EXPECT_EQ(host.Capture(), nullptr);
  delete child;
  root.StopAfter = 3;
  root.StartTimer(2);
  ASSERT_TRUE(QTest::qWaitFor([&] { return root.Ticks >= 3; }, 5000));
}

TEST_F(ControlHostTest, InvalidateSchedulesOneRepaintAndUpdatePaintsAtOnce) {
  TRecordingControl root(raster::Color32(0, 0, 0));
  root.SetBounds(0, 0, 30, 30);
  platform::TControlHostWidget host(root);
  host.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&host));
  QCoreApplication::processEvents();
  const int before = host.PaintCount();
  root.Invalidate();
  root.Invalidate();
  EXPECT_EQ(host.PaintCount(), before);  // later, not now
  ASSERT_TRUE(QTest::qWaitFor([&] { return host.PaintCount() > before; }, 2000));
  QCoreApplication::processEvents();
  EXPECT_EQ(host.PaintCount(), before + 1);  // coalesced

  root.Update();
  EXPECT_EQ(host.PaintCount(), before + 2);  // at once
}

TEST_F(ControlHostTest, CursorShapesFollowTheControls) {
  TRecordingControl root(raster::Color32(0, 0, 0));
  root.SetBounds(0, 0, 10, 10);
  platform::TControlHostWidget host(root);
  root.SetCursor(raster::crSizeNWSE);
  EXPECT_EQ(host.cursor().shape(), Qt::SizeFDiagCursor);
  root.SetCursor(raster::crHandPoint);
  EXPECT_EQ(host.cursor().shape(), Qt::PointingHandCursor);
  root.SetCursor(raster::crDefault);
  EXPECT_EQ(host.cursor().shape(), Qt::ArrowCursor);
}

TEST_F(ControlHostTest, NoBackgroundIsErasedBeforeAPaint) {
  TRecordingControl root(raster::Color32(0, 0, 0));
  root.SetBounds(0, 0, 10, 10);
  platform::TControlHostWidget host(root);
  EXPECT_TRUE(host.testAttribute(Qt::WA_OpaquePaintEvent));
  EXPECT_TRUE(host.testAttribute(Qt::WA_NoSystemBackground));
  EXPECT_FALSE(host.autoFillBackground());
}

TEST_F(ControlHostTest, RootDestroyedBeforeTheWidgetIsSafe) {
  auto root = std::make_unique<TRecordingControl>(raster::Color32(0, 0, 0));
  root->SetBounds(0, 0, 10, 10);
  platform::TControlHostWidget host(*root);
  root.reset();
  EXPECT_EQ(host.Root(), nullptr);
  host.grab();
  QTest::mouseClick(&host, Qt::LeftButton, Qt::NoModifier, QPoint(2, 2));
}

// The real controls through the Qt host: what the widget shows is what the headless host shows
// for the same view (buffer, scroll bars and the blits of each).
TEST_F(ControlHostTest, ImageViewLooksTheSameInTheQtHostAsInTheHeadlessHost) {
  auto makeView = [](raster::TImgView32& View) {
    View.SetBounds(0, 0, 157, 113);
    View.SetColor(4530208);
    View.SetSizeGrip(raster::sgNone);
    View.Loaded();
    raster::TBitmap32 picture;
    picture.SetSize(300, 90);
    for (int y = 0; y < 90; ++y) {
      for (int x = 0; x < 300; ++x) picture.SetPixel(x, y, raster::Color32(x, y * 2, 255 - x / 2));
    }
    View.Bitmap().Assign(&picture);
    View.SetScale(0.8f);
  };
  raster::TImgView32 onScreen, headless;
  makeView(onScreen);
  makeView(headless);
  raster::THeadlessHost reference(headless);
  reference.PaintNow();
  platform::TControlHostWidget host(onScreen);
  const QImage shot = host.grab().toImage().convertToFormat(QImage::Format_RGB32);
  ASSERT_EQ(shot.size(), QSize(157, 113));
  int differing = 0;
  for (int y = 0; y < 113; ++y) {
    for (int x = 0; x < 157; ++x) {
      differing +=
          (shot.pixel(x, y) & 0xFFFFFFu) != (reference.Screen().GetPixel(x, y) & 0xFFFFFFu);
    }
  }
  EXPECT_EQ(differing, 0);
  EXPECT_NE(shot.pixel(70, 40), qRgb(32, 32, 69));  // the picture is there
}

TEST_F(ControlHostTest, GaugeBarStepsOnAClickAndOnAWheelNotch) {
  raster::TGaugeBar bar;
  bar.SetBounds(0, 0, 200, 20);
  bar.SetMin(-10);
  bar.SetMax(10);
  int changes = 0;
  bar.OnChange = [&](raster::TObject*) { ++changes; };
  platform::TControlHostWidget host(bar);
  host.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&host));
  QTest::mouseClick(&host, Qt::LeftButton, Qt::NoModifier, QPoint(196, 10));  // right button
  EXPECT_EQ(bar.Position(), 1);
  EXPECT_EQ(changes, 1);
  const QPointF at(100, 10);
  QWheelEvent notch(at, host.mapToGlobal(at), QPoint(), QPoint(0, 120), Qt::NoButton,
                    Qt::NoModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(&host, &notch);
  EXPECT_EQ(std::abs(bar.Position() - 1), 1);
  EXPECT_EQ(changes, 2);
}

}  // namespace
