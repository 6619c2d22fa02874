// Wheel zoom, drag panning and keyboard nudging in the real main window under the offscreen
// platform: keys and wheel act through the sliders (read-outs and handlers follow), the drag
// through the view's scroll bars, and neither wheel nor drag moves the overlay against
// picture 1.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMouseEvent>
#include <QPushButton>
#include <QTest>
#include <QWheelEvent>
#include <cmath>

#include "overlay/windows/form_main.h"
#include "platform/control_host.h"

namespace overlay {
namespace {

using raster::TFloatPoint;

class ViewInputTest : public ::testing::Test {
 protected:
  ViewInputTest() {
    W.show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&W));
  }
  // Picture 1 larger than the viewport both ways at every zoom in, so that the scroll bars
  // can keep any point where it is; picture 2 with an odd width.
  void LoadBoth() {
    LoadPicture1();
    raster::TBitmap32 two;
    two.SetSize(101, 60);
    two.Clear(0xFFFFFF00u);
    C().SetImage2("two.png", two);
  }
  void LoadPicture1() {
    raster::TBitmap32 one;
    one.SetSize(1600, 1200);
    one.Clear(0xFF008080u);
    C().SetImage1("one.png", one);
  }
  TMainController& C() { return W.Controller(); }
  QString Text(TField Field) { return W.Edit(Field)->text(); }
  void Wheel(QPoint At, int AngleDelta) {
    QWheelEvent event(At, W.ImgViewHost()->mapToGlobal(At), QPoint(), QPoint(0, AngleDelta),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(W.ImgViewHost(), &event);
  }
  void Mouse(QEvent::Type Type, QPoint At, Qt::MouseButton Button, Qt::MouseButtons Held) {
    QMouseEvent event(Type, At, W.ImgViewHost()->mapToGlobal(At), Button, Held, Qt::NoModifier);
    QApplication::sendEvent(W.ImgViewHost(), &event);
  }
  // The point of picture 1 under a view point, from the bitmap rectangle the view paints.
  TFloatPoint PictureAt(QPoint At) {
    raster::TImgView32& v = C().ImgView();
    const raster::TRect r = v.GetBitmapRect();
    return {float(double(At.x() - r.Left) * v.Bitmap().Width() / r.Width()),
            float(double(At.y() - r.Top) * v.Bitmap().Height() / r.Height())};
  }
  // The view zoom slider at Step, and the view's scale and the zoom field at its zoom.
  void ExpectViewZoomStep(int Step) {
    const float zoom = ViewZoomFactor(Step);
    EXPECT_EQ(C().GaugeBar4().Position(), Step);
    EXPECT_EQ(C().ImgView().Scale(), zoom);
    EXPECT_EQ(Text(TField::EditZoom).toStdString(),
              FormatStepZoom(zoom, ViewZoomStepRatio(), QLocale().decimalPoint().toStdString(),
                             QLocale().groupSeparator().toStdString()));
  }
  TFloatPoint Scroll() {
    return {C().ImgView().HScroll().Position(), C().ImgView().VScroll().Position()};
  }

  TFormMain W;
};

TEST_F(ViewInputTest, KeysMoveTheirSlidersByTheirStepsThroughTheHandlers) {
  LoadBoth();
  TMainController& c = C();
  QTest::keyClick(&W, Qt::Key_Right);
  QTest::keyClick(&W, Qt::Key_Down, Qt::ShiftModifier);
  QTest::keyClick(&W, Qt::Key_Up);
  EXPECT_EQ(c.GaugeBar2().Position(), 1);
  EXPECT_EQ(c.GaugeBar3().Position(), 9);
  EXPECT_EQ(Text(TField::EditX), "1");
  EXPECT_EQ(Text(TField::EditY), "9");
  // The offset handler placed the overlay: its centre is the offset plus half of 101 x 60.
  EXPECT_EQ(c.RotLayer()->Position(), (TFloatPoint{51, 39}));
  QTest::keyClick(&W, Qt::Key_Left, Qt::ShiftModifier);
  EXPECT_EQ(Text(TField::EditX), "-9");

  QTest::keyClick(&W, Qt::Key_PageUp);
  QTest::keyClick(&W, Qt::Key_PageUp);
  QTest::keyClick(&W, Qt::Key_PageDown);
  EXPECT_EQ(c.GaugeBar1().Position(), 1);
  EXPECT_EQ(Text(TField::EditAngle), "1");
  EXPECT_EQ(c.RotLayer()->Angle(), 1.0f);

  // Plus, its unshifted key and the keypad's (Shift is no tenfold step for them), minus.
  QTest::keyClick(&W, Qt::Key_Plus, Qt::ShiftModifier);
  QTest::keyClick(&W, Qt::Key_Equal);
  QTest::keyClick(&W, Qt::Key_Plus, Qt::KeypadModifier);
  QTest::keyClick(&W, Qt::Key_Minus, Qt::KeypadModifier);
  ExpectViewZoomStep(2);

  // A focused button would take the arrows for moving the focus; the window keeps them.
  auto* button = W.findChild<QPushButton*>("ButtonImage1");
  button->setFocus();
  QTest::keyClick(button, Qt::Key_Right);
  EXPECT_EQ(c.GaugeBar2().Position(), -8);
  // Other combinations are not ours: the sliders stay.
  QTest::keyClick(&W, Qt::Key_Right, Qt::ControlModifier);
  EXPECT_EQ(c.GaugeBar2().Position(), -8);
}

TEST_F(ViewInputTest, NeitherKeysNorWheelActWhileTheControlsAreDisabled) {
  LoadPicture1();  // picture 2 missing
  TMainController& c = C();
  ASSERT_FALSE(c.ControlsEnabled());
  const TSliderPositions before = c.Sliders();
  for (Qt::Key key : {Qt::Key_Left, Qt::Key_Down, Qt::Key_PageUp, Qt::Key_Plus}) {
    QTest::keyClick(&W, key);
  }
  Wheel({300, 200}, 120);
  EXPECT_EQ(c.Sliders(), before);
  EXPECT_EQ(c.ImgView().Scale(), 1.0f);
}

TEST_F(ViewInputTest, WheelZoomsOneStepPerNotchAndKeepsThePictureUnderTheMouse) {
  LoadBoth();
  TMainController& c = C();
  c.GaugeBar2().SetPosition(37);
  const TFloatPoint overlay = c.RotLayer()->Position();
  // Away from the viewport centre, where a zoom about the centre would move the point most.
  const QPoint at(150, 120);
  const TFloatPoint picture = PictureAt(at);
  const auto stays = [&] {
    raster::TImgView32& v = c.ImgView();
    const raster::TRect r = v.GetBitmapRect();
    const double x = r.Left + double(picture.X) * r.Width() / v.Bitmap().Width();
    const double y = r.Top + double(picture.Y) * r.Height() / v.Bitmap().Height();
    return std::abs(x - at.x()) <= 1 && std::abs(y - at.y()) <= 1;
  };

  Wheel(at, 240);
  ExpectViewZoomStep(2);
  EXPECT_TRUE(stays());
  Wheel(at, -120);
  EXPECT_EQ(c.GaugeBar4().Position(), 1);
  EXPECT_TRUE(stays());
  // A finer wheel sends parts of a notch; four quarters make one step.
  for (int i = 0; i < 4; ++i) Wheel(at, 30);
  EXPECT_EQ(c.GaugeBar4().Position(), 2);
  // Half a notch up, then a notch down: the turn answers with a whole step at once.
  Wheel(at, 60);
  Wheel(at, -120);
  EXPECT_EQ(c.GaugeBar4().Position(), 1);
  for (int i = 0; i < 31; ++i) Wheel(at, 120);
  EXPECT_EQ(c.GaugeBar4().Position(), 32);
  EXPECT_TRUE(stays());
  // The overlay keeps its place on picture 1 and every other slider its value.
  EXPECT_EQ(c.RotLayer()->Position(), overlay);
  EXPECT_EQ(c.GaugeBar2().Position(), 37);

  // Over the vertical scroll bar the wheel still scrolls and does not zoom.
  const float vscroll = c.ImgView().VScroll().Position();
  Wheel({W.ImgViewHost()->width() - 5, 100}, 120);
  EXPECT_EQ(c.GaugeBar4().Position(), 32);
  EXPECT_LT(c.ImgView().VScroll().Position(), vscroll);
}

TEST_F(ViewInputTest, DragScrollsTheViewWithTheMouseAndLeavesTheSliders) {
  LoadBoth();
  TMainController& c = C();
  c.GaugeBar3().SetPosition(-12);
  const TSliderPositions sliders = c.Sliders();
  const TFloatPoint overlay = c.RotLayer()->Position();
  const TFloatPoint scroll = Scroll();
  const QPoint from(500, 300), to(430, 260);
  const TFloatPoint grabbed = PictureAt(from);

  Mouse(QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton);
  Mouse(QEvent::MouseMove, {470, 280}, Qt::NoButton, Qt::LeftButton);
  Mouse(QEvent::MouseMove, to, Qt::NoButton, Qt::LeftButton);
  Mouse(QEvent::MouseButtonRelease, to, Qt::LeftButton, Qt::NoButton);
  EXPECT_EQ(Scroll(), (TFloatPoint{scroll.X + 70, scroll.Y + 40}));
  const TFloatPoint under = PictureAt(to);
  EXPECT_NEAR(under.X, grabbed.X, 1);
  EXPECT_NEAR(under.Y, grabbed.Y, 1);
  EXPECT_EQ(c.Sliders(), sliders);
  EXPECT_EQ(c.RotLayer()->Position(), overlay);

  // After the release a move scrolls nothing.
  Mouse(QEvent::MouseMove, {300, 200}, Qt::NoButton, Qt::NoButton);
  EXPECT_EQ(Scroll(), (TFloatPoint{scroll.X + 70, scroll.Y + 40}));
}

TEST_F(ViewInputTest, DragPastTheScrollEndRepaintsNothingMore) {
  LoadBoth();
  raster::TImgView32& v = C().ImgView();
  const float end = float(v.HScroll().Range() - v.HScroll().EffectiveWindow());
  Mouse(QEvent::MouseButtonPress, {900, 300}, Qt::LeftButton, Qt::LeftButton);
  Mouse(QEvent::MouseMove, {100, 300}, Qt::NoButton, Qt::LeftButton);
  ASSERT_EQ(v.HScroll().Position(), end);
  W.ImgViewHost()->repaint();
  ASSERT_TRUE(v.BufferValid());
  // Further on, the bar stays at its end: the view must not rebuild its frame for nothing.
  Mouse(QEvent::MouseMove, {50, 300}, Qt::NoButton, Qt::LeftButton);
  EXPECT_EQ(v.HScroll().Position(), end);
  EXPECT_TRUE(v.BufferValid());
  Mouse(QEvent::MouseButtonRelease, {50, 300}, Qt::LeftButton, Qt::NoButton);
}

// S shows the swipe, whose line a left drag moves to the picture-1 column under the mouse while
// the picture stays where it is; C, S and D are one way of comparing at a time.
TEST_F(ViewInputTest, TheSwipeLineFollowsADragAndTheComparisonKeysTakeTurns) {
  LoadBoth();
  C().ImgView().ScrollToCenter(800, 600);
  const raster::TPoint scrolled = C().ImgView().BitmapToControl({0, 0});
  QTest::keyClick(&W, Qt::Key_S);
  ASSERT_TRUE(C().Swipe());
  EXPECT_EQ(C().SwipeLine(), 800);  // the middle of picture 1
  const raster::TPoint at = C().ImgView().BitmapToControl({700, 600});
  Mouse(QEvent::MouseButtonPress, {at.X, at.Y}, Qt::LeftButton, Qt::LeftButton);
  const raster::TPoint to = C().ImgView().BitmapToControl({950, 610});
  Mouse(QEvent::MouseMove, {to.X, to.Y}, Qt::NoButton, Qt::LeftButton);
  Mouse(QEvent::MouseButtonRelease, {to.X, to.Y}, Qt::LeftButton, Qt::NoButton);
  EXPECT_EQ(C().SwipeLine(), 950);
  EXPECT_EQ(C().ImgView().BitmapToControl({0, 0}), scrolled);  // no pan
  EXPECT_EQ(C().RotLayer()->PaintRegion().Kind, raster::TPaintRegion::prRightOf);

  const auto checked = [&](const char* Name) { return W.findChild<QAction*>(Name)->isChecked(); };
  QTest::keyClick(&W, Qt::Key_C);
  EXPECT_TRUE(C().Checker() && !C().Swipe());
  EXPECT_TRUE(checked("MenuChecker") && !checked("MenuSwipe"));
  QTest::keyClick(&W, Qt::Key_B);
  EXPECT_TRUE(C().Side() && !C().Checker());
  EXPECT_EQ(C().RotLayer()->PaintRegion().Kind, raster::TPaintRegion::prSide);
  Mouse(QEvent::MouseMove, {100, 100}, Qt::NoButton, Qt::NoButton);
  EXPECT_EQ(C().RotLayer()->PaintRegion().Cursor, (raster::TPoint{100, 100}));  // linked cross
  QTest::keyClick(&W, Qt::Key_D);
  EXPECT_TRUE(C().DifferenceView() && !C().Side());
  EXPECT_TRUE(checked("MenuDifference") && !checked("MenuChecker") && !checked("MenuSide"));
  EXPECT_EQ(C().RotLayer()->PaintRegion().Kind, raster::TPaintRegion::prAll);
  EXPECT_EQ(C().RotLayer()->Bitmap()->DrawMode(), raster::dmDifference);
}

// The status bar names the picture-1 pixel under the mouse, in millimetres too once the scale
// is known, also zoomed and scrolled; the mode and a placement between steps; nothing beside the
// picture or once the mouse has left.
TEST_F(ViewInputTest, TheStatusBarNamesThePixelUnderTheMouseAndTheMode) {
  LoadBoth();
  auto* position = W.findChild<QLabel*>("LabelStatusPosition");
  auto* mode = W.findChild<QLabel*>("LabelStatusMode");
  ASSERT_NE(position, nullptr);
  ASSERT_NE(mode, nullptr);
  C().SetPictureScale("one.png", 500);  // 5 pixels per millimetre
  C().GaugeBar4().SetPosition(30);      // zoomed in 2x, so a pixel spans two screen pixels
  C().ImgView().ScrollToCenter(800, 600);
  const raster::TPoint at = C().ImgView().BitmapToControl({812, 590});
  Mouse(QEvent::MouseMove, {at.X + 1, at.Y + 1}, Qt::NoButton, Qt::NoButton);
  EXPECT_EQ(position->text().toStdString(), "812, 590 px   162.4, 118.0 mm");
  EXPECT_EQ(mode->text().toStdString(), "Überblendung");

  W.findChild<QAction*>("MenuDifference")->trigger();
  QTest::keyClick(&W, Qt::Key_Right, Qt::AltModifier);
  EXPECT_EQ(mode->text().toStdString(), "Differenz, zwischen den Stufen");

  C().GaugeBar4().SetPosition(-100);  // the whole picture small, the backdrop around it
  const raster::TRect shown = C().ImgView().GetBitmapRect();
  Mouse(QEvent::MouseMove, {shown.Right + 2, shown.Top + 2}, Qt::NoButton, Qt::NoButton);
  EXPECT_EQ(position->text(), QString());
  Mouse(QEvent::MouseMove, {shown.Right - 1, shown.Bottom - 1}, Qt::NoButton, Qt::NoButton);
  EXPECT_EQ(position->text().toStdString().substr(0, 13),
            "1590, 1190 px");  // a screen pixel spans ten
  QEvent leave(QEvent::Leave);
  QApplication::sendEvent(W.ImgViewHost(), &leave);
  EXPECT_EQ(position->text(), QString());
}

}  // namespace
}  // namespace overlay
