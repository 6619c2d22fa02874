#include "controls/range_bars.h"

#include <gtest/gtest.h>

#include <string>

#include "controls/controls.h"

namespace raster {
namespace {

// Records OnChange ('C') and OnUserChange ('U') in the order they arrive.
struct EventLog {
  std::string order;
  int changes = 0, userChanges = 0;
  void Attach(TArrowBar& Bar) {
    Bar.OnChange = [this, &Bar](TObject* Sender) {
      EXPECT_EQ(Sender, &Bar);
      ++changes;
      order += 'C';
    };
    Bar.OnUserChange = [this, &Bar](TObject* Sender) {
      EXPECT_EQ(Sender, &Bar);
      ++userChanges;
      order += 'U';
    };
  }
  void Clear() {
    order.clear();
    changes = userChanges = 0;
  }
};

// A 337 x 20 slider of the main window (single border, rbsMac, -600 .. 600) inside a 400 x 100
// window at (10, 20), so its client area starts at (11, 21) in window coordinates.
class GaugeBarTest : public ::testing::Test {
 protected:
  GaugeBarTest() {
    root.SetBounds(0, 0, 400, 100);
    host.Resize(400, 100);
    bar.SetBounds(10, 20, 337, 20);
    bar.SetStyle(rbsMac);
    bar.SetMin(-600);
    bar.SetMax(600);
    log.Attach(bar);
  }
  // Window coordinates of a client point of the bar.
  static int WX(int ClientX) { return 11 + ClientX; }
  static int WY(int ClientY) { return 21 + ClientY; }
  void Press(int ClientX, int ClientY = 9) { host.MouseDown(WX(ClientX), WY(ClientY)); }
  void Move(int ClientX, int ClientY = 9) { host.MouseMove(WX(ClientX), WY(ClientY)); }
  void Release(int ClientX, int ClientY = 9) { host.MouseUp(WX(ClientX), WY(ClientY)); }
  // A screen pixel at a client point of the bar.
  TColor32 ClientPixel(int ClientX, int ClientY) {
    host.ProcessPaint();
    return host.Screen().GetPixel(WX(ClientX), WY(ClientY));
  }

  TControl root;
  TGaugeBar bar{&root};
  THeadlessHost host{root};
  EventLog log;
};

TEST(ArrowBarDefaults, PropertiesAsDocumented) {
  TGaugeBar g;
  EXPECT_EQ(g.Width(), 100);
  EXPECT_EQ(g.Height(), 16);
  EXPECT_EQ(g.Color(), clScrollBar);
  EXPECT_EQ(g.Backgnd(), bgPattern);
  EXPECT_EQ(g.BorderStyle(), bsSingle);
  EXPECT_EQ(g.ButtonSize(), 0);
  EXPECT_EQ(g.HandleColor(), clBtnShadow);
  EXPECT_TRUE(g.ShowArrows());
  EXPECT_TRUE(g.ShowHandleGrip());
  EXPECT_EQ(g.Style(), rbsDefault);
  EXPECT_EQ(g.Kind(), sbHorizontal);
  EXPECT_EQ(g.Min(), 0);
  EXPECT_EQ(g.Max(), 100);
  EXPECT_EQ(g.Position(), 0);
  EXPECT_EQ(g.SmallChange(), 1);
  EXPECT_EQ(g.LargeChange(), 1);
  EXPECT_EQ(g.HandleSize(), 0);
  TCustomRangeBar r;
  EXPECT_EQ(r.Increment(), 8);
  EXPECT_EQ(r.Range(), 0);
  EXPECT_EQ(r.Position(), 0.0f);
  EXPECT_EQ(r.EffectiveWindow(), 100);
}

TEST_F(GaugeBarTest, MainWindowSliderGeometry) {
  EXPECT_EQ(bar.GetClientBoundary(), (TRect{1, 1, 336, 19}));
  EXPECT_EQ(bar.GetButtonLength(), 17);
  EXPECT_EQ(bar.GetTrackBoundary(), (TRect{17, 0, 318, 18}));
  // Travel 301 - 18 = 283 pixels for 1200 positions; the middle lands on 141.5, rounded to 142.
  EXPECT_EQ(bar.GetHandleRect(), (TRect{159, 0, 177, 18}));
  bar.SetPosition(-600);
  EXPECT_EQ(bar.GetHandleRect(), (TRect{17, 0, 35, 18}));
  bar.SetPosition(600);
  EXPECT_EQ(bar.GetHandleRect(), (TRect{300, 0, 318, 18}));
  bar.SetPosition(-1);  // 141.26
  EXPECT_EQ(bar.GetHandleRect().Left, 17 + 141);
  bar.SetPosition(3);  // 142.21
  EXPECT_EQ(bar.GetHandleRect().Left, 17 + 142);
  bar.SetPosition(5);  // 142.68
  EXPECT_EQ(bar.GetHandleRect().Left, 17 + 143);
}

TEST_F(GaugeBarTest, ButtonAndHandleLengthRules) {
  bar.SetStyle(rbsDefault);
  EXPECT_EQ(bar.GetButtonLength(), 18);  // only the Mac look is one shorter
  bar.SetButtonSize(40);
  EXPECT_EQ(bar.GetButtonLength(), 40);
  bar.SetButtonSize(-2147483647 - 1);
  EXPECT_EQ(bar.GetButtonLength(), 0);
  bar.SetButtonSize(0);
  bar.SetBounds(10, 20, 337, 60);  // thickness 58: at most 32
  EXPECT_EQ(bar.GetButtonLength(), 32);
  bar.SetBounds(10, 20, 30, 20);  // 2 x 18 >= 28: half the client length
  EXPECT_EQ(bar.GetButtonLength(), 14);
  bar.SetStyle(rbsMac);
  EXPECT_EQ(bar.GetButtonLength(), 13);
  bar.SetBounds(10, 20, 6, 20);  // 4 div 2 = 2, less one: no buttons
  EXPECT_EQ(bar.GetButtonLength(), 0);
  bar.SetBounds(10, 20, 337, 20);
  bar.SetShowArrows(false);
  EXPECT_EQ(bar.GetButtonLength(), 0);
  EXPECT_EQ(bar.GetTrackBoundary(), (TRect{0, 0, 335, 18}));
  bar.SetShowArrows(true);
  bar.SetHandleSize(500);  // at most the track length - 1
  EXPECT_EQ(bar.GetHandleRect(), (TRect{17, 0, 317, 18}));
  bar.SetHandleSize(-3);
  EXPECT_EQ(bar.HandleSize(), 0);
  EXPECT_EQ(bar.GetHandleRect().Width(), 18);
  bar.SetBorderStyle(bsNone);
  EXPECT_EQ(bar.GetClientBoundary(), (TRect{0, 0, 337, 20}));
  EXPECT_EQ(bar.GetButtonLength(), 19);
}

TEST(GaugeBarRounding, HandleOffsetTiesGoToEven) {
  // No border, no arrows, 4 pixels thick: the handle is 4 long and travels length - 4.
  TGaugeBar g;
  g.SetBorderStyle(bsNone);
  g.SetShowArrows(false);
  g.SetMax(2);
  g.SetPosition(1);
  g.SetBounds(0, 0, 9, 4);  // travel 5: 2.5 -> 2
  EXPECT_EQ(g.GetHandleRect().Left, 2);
  g.SetBounds(0, 0, 11, 4);  // travel 7: 3.5 -> 4
  EXPECT_EQ(g.GetHandleRect().Left, 4);
}

TEST_F(GaugeBarTest, ZonesAtTheirBoundaries) {
  // Handle at 159 .. 176.
  EXPECT_EQ(bar.GetZone(-1, 9), zNone);
  EXPECT_EQ(bar.GetZone(0, 9), zBtnPrev);
  EXPECT_EQ(bar.GetZone(16, 9), zBtnPrev);
  EXPECT_EQ(bar.GetZone(17, 9), zTrackPrev);
  EXPECT_EQ(bar.GetZone(158, 9), zTrackPrev);
  EXPECT_EQ(bar.GetZone(159, 9), zHandle);
  EXPECT_EQ(bar.GetZone(176, 0), zHandle);
  EXPECT_EQ(bar.GetZone(177, 17), zTrackNext);
  EXPECT_EQ(bar.GetZone(317, 9), zTrackNext);
  EXPECT_EQ(bar.GetZone(318, 9), zBtnNext);
  EXPECT_EQ(bar.GetZone(334, 9), zBtnNext);
  EXPECT_EQ(bar.GetZone(335, 9), zNone);
  EXPECT_EQ(bar.GetZone(100, -1), zNone);
  EXPECT_EQ(bar.GetZone(100, 18), zNone);
  // Without buttons the track ends one pixel short of each end.
  bar.SetShowArrows(false);
  bar.SetPosition(0);
  const TRect handle = bar.GetHandleRect();
  EXPECT_EQ(bar.GetZone(0, 9), zNone);
  EXPECT_EQ(bar.GetZone(1, 9), zTrackPrev);
  EXPECT_EQ(bar.GetZone(handle.Left - 1, 9), zTrackPrev);
  EXPECT_EQ(bar.GetZone(handle.Right, 9), zTrackNext);
  EXPECT_EQ(bar.GetZone(333, 9), zTrackNext);
  EXPECT_EQ(bar.GetZone(334, 9), zNone);
}

TEST_F(GaugeBarTest, SetPositionClampsAndFiresOnlyOnRealChange) {
  bar.SetPosition(0);
  EXPECT_EQ(log.changes, 0);
  bar.SetPosition(700);
  EXPECT_EQ(bar.Position(), 600);
  EXPECT_EQ(log.order, "C");
  bar.SetPosition(601);
  EXPECT_EQ(log.changes, 1);
  bar.SetPosition(-2147483647 - 1);
  EXPECT_EQ(bar.Position(), -600);
  EXPECT_EQ(log.order, "CC");  // programmatic changes never report a user change
}

TEST_F(GaugeBarTest, MinMaxRules) {
  bar.SetMin(600);
  EXPECT_EQ(bar.Min(), 599);
  EXPECT_EQ(bar.Position(), 599);  // pulled into the range, with one OnChange
  EXPECT_EQ(log.changes, 1);
  bar.SetMax(-1000);
  EXPECT_EQ(bar.Max(), 600);  // Min + 1
  EXPECT_EQ(log.changes, 1);
  bar.SetMin(599);  // unchanged
  EXPECT_EQ(log.changes, 1);
  bar.SetMin(-600);
  EXPECT_EQ(bar.Position(), 599);
  bar.SetMax(10);
  EXPECT_EQ(bar.Position(), 10);
  EXPECT_EQ(log.changes, 2);
  bar.SetMax(2147483647);
  bar.SetMin(-2147483647 - 1);
  bar.SetPosition(2147483647);
  EXPECT_EQ(bar.GetHandleRect().Right, bar.GetTrackBoundary().Right);
  bar.SetSmallChange(0);
  bar.SetLargeChange(-5);
  EXPECT_EQ(bar.SmallChange(), 1);
  EXPECT_EQ(bar.LargeChange(), 1);
  // Steps at the ends of the widest range do not overflow.
  bar.SetSmallChange(2147483647);
  Press(320);
  EXPECT_EQ(bar.Position(), 2147483647);
  EXPECT_EQ(host.TimerInterval(bar), 0);
  Release(320);
}

TEST_F(GaugeBarTest, HeldButtonStepsAtOnceThenAfter600ThenEvery100) {
  bar.SetMin(0);
  bar.SetMax(10);
  Press(325);
  EXPECT_EQ(bar.DragZone(), zBtnNext);
  EXPECT_EQ(bar.Position(), 1);
  host.AdvanceTime(599);
  EXPECT_EQ(bar.Position(), 1);
  host.AdvanceTime(1);
  EXPECT_EQ(bar.Position(), 2);
  host.AdvanceTime(99);
  EXPECT_EQ(bar.Position(), 2);
  host.AdvanceTime(1);
  EXPECT_EQ(bar.Position(), 3);
  host.AdvanceTime(300);
  EXPECT_EQ(bar.Position(), 6);
  EXPECT_EQ(log.order, "CUCUCUCUCUCU");
  Release(325);
  EXPECT_EQ(bar.DragZone(), zNone);
  host.AdvanceTime(1000);
  EXPECT_EQ(bar.Position(), 6);

  // Back down with the start button and SmallChange 4, stopping at Min.
  bar.SetSmallChange(4);
  Press(3);
  EXPECT_EQ(bar.Position(), 2);
  host.AdvanceTime(600);
  EXPECT_EQ(bar.Position(), 0);
  EXPECT_EQ(host.TimerInterval(bar), 100);
  host.AdvanceTime(100);  // no change: the repetition stops
  EXPECT_EQ(host.TimerInterval(bar), 0);
  Release(3);
}

TEST_F(GaugeBarTest, HeldButtonAtMaxStopsAtOnce) {
  bar.SetPosition(600);
  log.Clear();
  Press(325);
  EXPECT_EQ(host.TimerInterval(bar), 0);
  host.AdvanceTime(2000);
  EXPECT_EQ(bar.Position(), 600);
  EXPECT_EQ(log.changes, 0);
  Release(325);
}

TEST_F(GaugeBarTest, TrackPressPagesOnlyWhileTheMouseStaysOnThatSide) {
  bar.SetLargeChange(100);
  // Handle 159 .. 176; the mouse at 230 is reached after three pages (300 -> 229 .. 246).
  Press(230);
  EXPECT_EQ(bar.DragZone(), zTrackNext);
  EXPECT_EQ(bar.Position(), 100);
  host.AdvanceTime(600);
  EXPECT_EQ(bar.Position(), 200);
  host.AdvanceTime(100);
  EXPECT_EQ(bar.Position(), 300);
  EXPECT_EQ(bar.GetZone(230, 9), zHandle);
  host.AdvanceTime(500);
  EXPECT_EQ(bar.Position(), 300);
  EXPECT_EQ(host.TimerInterval(bar), 100);  // waiting, not stopped
  // Back on the far side of the track: paging resumes.
  Move(300);
  host.AdvanceTime(100);
  EXPECT_EQ(bar.Position(), 400);
  // Over the other side, or outside the bar above the start button, nothing happens.
  host.MouseMove(WX(5), 0);
  host.AdvanceTime(300);
  EXPECT_EQ(bar.Position(), 400);
  // Far beyond the end button, clamped into the client area: the end button counts.
  host.MouseMove(399, 99);
  host.AdvanceTime(100);
  EXPECT_EQ(bar.Position(), 500);
  Release(300);
  EXPECT_EQ(log.userChanges, log.changes);

  // The start side pages down.
  Press(20);
  EXPECT_EQ(bar.DragZone(), zTrackPrev);
  EXPECT_EQ(bar.Position(), 400);
  Release(20);
}

TEST_F(GaugeBarTest, HandleDragMapsPixelsToPositions) {
  Move(165);
  EXPECT_EQ(host.TimerInterval(bar), 150);  // hot tracking
  Press(165);                               // pressing the handle stops every timer
  EXPECT_EQ(bar.DragZone(), zHandle);
  EXPECT_EQ(host.TimerInterval(bar), 0);
  EXPECT_EQ(log.changes, 0);
  Move(166);  // 1200 / 283 = 4.24 positions per pixel
  EXPECT_EQ(bar.Position(), 4);
  Move(167);  // 8.48
  EXPECT_EQ(bar.Position(), 8);
  Move(175);  // 42.40
  EXPECT_EQ(bar.Position(), 42);
  Move(162);  // -12.72
  EXPECT_EQ(bar.Position(), -13);
  host.MouseMove(399, 50);  // far outside: captured, clamped
  EXPECT_EQ(bar.Position(), 600);
  host.MouseMove(-50, 50);
  EXPECT_EQ(bar.Position(), -600);
  Move(165);
  EXPECT_EQ(bar.Position(), 0);
  EXPECT_EQ(log.order, "CUCUCUCUCUCUCU");
  Release(165);
  Move(200);  // no button: no drag
  EXPECT_EQ(bar.Position(), 0);
}

TEST_F(GaugeBarTest, HandleDragStartsFromPositionAsFloat) {
  // P0 is the position itself, not the handle's rounded pixel.
  bar.SetPosition(3);
  const int handleX = bar.GetHandleRect().Left + 2;
  Press(handleX);
  Move(handleX + 1);  // 3 + 4.24 = 7.24
  EXPECT_EQ(bar.Position(), 7);
  Release(handleX + 1);
}

TEST_F(GaugeBarTest, OnlyMouseChangesReportUserChangeAfterOnChange) {
  std::string order;
  bar.OnChange = [&](TObject*) {
    order += 'C';
    order += std::to_string(bar.Position());
  };
  bar.OnUserChange = [&](TObject*) {
    order += 'U';
    order += std::to_string(bar.Position());
  };
  bar.SetPosition(5);
  EXPECT_EQ(order, "C5");
  Press(3);
  Release(3);
  EXPECT_EQ(order, "C5C4U4");
  host.MouseWheel(WX(100), WY(9), 120);
  EXPECT_EQ(order, "C5C4U4C5U5");
  bar.SetPosition(0);
  EXPECT_EQ(order, "C5C4U4C5U5C0");
}

TEST_F(GaugeBarTest, WheelMovesBySmallChangePerNotch) {
  // The opacity slider: 0 .. 255 at 120, small change 1.
  bar.SetMin(0);
  bar.SetMax(255);
  bar.SetPosition(120);
  log.Clear();
  host.MouseWheel(WX(100), WY(9), 120);
  EXPECT_EQ(bar.Position(), 121);
  host.MouseWheel(WX(100), WY(9), -240);
  EXPECT_EQ(bar.Position(), 119);
  host.MouseWheel(WX(100), WY(9), 60);  // integer division: half a notch is nothing
  EXPECT_EQ(bar.Position(), 119);
  EXPECT_EQ(log.changes, 2);
  bar.SetSmallChange(5);
  host.MouseWheel(WX(100), WY(9), 360);
  EXPECT_EQ(bar.Position(), 134);
}

TEST_F(GaugeBarTest, HotTrackingFollowsTheMouseUntilItLeaves) {
  Move(5);
  EXPECT_EQ(bar.HotZone(), zBtnPrev);
  EXPECT_EQ(host.TimerInterval(bar), TArrowBar::HotTrackIntervalMs);
  Move(100);
  EXPECT_EQ(bar.HotZone(), zTrackPrev);
  host.AdvanceTime(450);  // still inside: tracking goes on
  EXPECT_EQ(host.TimerInterval(bar), 150);
  host.MouseMove(5, 5);  // into the window beside the bar
  EXPECT_EQ(bar.HotZone(), zNone);
  host.AdvanceTime(150);
  EXPECT_EQ(host.TimerInterval(bar), 0);

  // After a release the bar polls every 150 ms and stops once the mouse has gone.
  Press(325);
  EXPECT_EQ(host.TimerInterval(bar), 600);
  Release(325);
  EXPECT_EQ(host.TimerInterval(bar), 150);
  EXPECT_EQ(bar.HotZone(), zBtnNext);
  const int position = bar.Position();
  host.AdvanceTime(300);
  EXPECT_EQ(bar.Position(), position);  // hot tracking does not step
  EXPECT_EQ(host.TimerInterval(bar), 150);
  host.MouseLeave();
  host.ProcessPaint();
  host.AdvanceTime(150);
  EXPECT_EQ(host.TimerInterval(bar), 0);
  EXPECT_EQ(bar.HotZone(), zNone);
}

TEST_F(GaugeBarTest, DisabledBarIgnoresTheMouse) {
  bar.SetEnabled(false);
  Press(325);
  host.AdvanceTime(1000);
  Release(325);
  Press(165);
  Move(200);
  Release(200);
  host.MouseWheel(WX(100), WY(9), 120);
  EXPECT_EQ(bar.Position(), 0);
  EXPECT_EQ(log.changes, 0);
  EXPECT_EQ(host.TimerInterval(bar), 0);
  // Disabling it in the middle of a press ends the repetition and the capture.
  bar.SetEnabled(true);
  Press(325);
  EXPECT_EQ(bar.Position(), 1);
  bar.SetEnabled(false);
  EXPECT_EQ(host.Capture(), nullptr);
  EXPECT_EQ(bar.DragZone(), zNone);
  host.AdvanceTime(1000);
  EXPECT_EQ(bar.Position(), 1);
}

TEST_F(GaugeBarTest, OtherButtonsDoNothing) {
  host.MouseDown(WX(325), WY(9), mbRight);
  host.AdvanceTime(1000);
  host.MouseUp(WX(325), WY(9), mbRight);
  EXPECT_EQ(bar.Position(), 0);
  EXPECT_EQ(bar.DragZone(), zNone);
}

TEST_F(GaugeBarTest, VerticalBarWorksAlongY) {
  bar.SetKind(sbVertical);
  bar.SetBounds(10, 0, 20, 100);  // client 18 x 98, buttons 17, track 64, travel 46
  EXPECT_EQ(bar.GetTrackBoundary(), (TRect{0, 17, 18, 81}));
  EXPECT_EQ(bar.GetHandleRect(), (TRect{0, 40, 18, 58}));  // 23
  EXPECT_EQ(bar.GetZone(9, 5), zBtnPrev);
  EXPECT_EQ(bar.GetZone(9, 45), zHandle);
  EXPECT_EQ(bar.GetZone(9, 90), zBtnNext);
  EXPECT_EQ(bar.GetZone(18, 45), zNone);
  host.MouseDown(11 + 9, 1 + 90);
  EXPECT_EQ(bar.Position(), 1);
  host.MouseUp(11 + 9, 1 + 90);
  // Drawn transposed: the frame runs down the left side, the handle fill is inside.
  host.PaintNow();
  EXPECT_EQ(host.Screen().GetPixel(11 + 0, 1 + 50), Color32(clWindowFrame));
  const TRect h = bar.GetHandleRect();
  EXPECT_EQ(host.Screen().GetPixel(11 + 2, 1 + h.Top + 2), Color32(bar.HandleColor()));
}

// ----- rbsMac drawing, read back from the screen -----

TEST_F(GaugeBarTest, MacLookFrameButtonsAndTrack) {
  const TColor32 frame = Color32(clWindowFrame);
  const TColor32 face = Color32(clBtnFace);
  const TColor32 highlight = Color32(clBtnHighlight);
  const TColor32 shadow = Color32(clBtnShadow);
  const TColor32 color = Color32(clScrollBar);
  // Sunken border outside the client area.
  EXPECT_EQ(ClientPixel(-1, -1), shadow);
  EXPECT_EQ(ClientPixel(100, -1), shadow);
  EXPECT_EQ(ClientPixel(100, 18), highlight);
  EXPECT_EQ(ClientPixel(335, 5), highlight);
  // Start button: frame on its outer sides, released bevel, clBtnFace fill, a left arrow.
  EXPECT_EQ(ClientPixel(0, 0), frame);
  EXPECT_EQ(ClientPixel(0, 9), frame);
  EXPECT_EQ(ClientPixel(8, 17), frame);
  EXPECT_EQ(ClientPixel(1, 1), highlight);
  EXPECT_EQ(ClientPixel(16, 16), shadow);
  EXPECT_EQ(ClientPixel(3, 3), face);
  EXPECT_EQ(ClientPixel(6, 8), Color32(clBtnText));   // apex
  EXPECT_EQ(ClientPixel(6, 7), face);                 // left of the apex' neighbours
  EXPECT_EQ(ClientPixel(9, 5), Color32(clBtnText));   // base
  EXPECT_EQ(ClientPixel(9, 11), Color32(clBtnText));  // base
  EXPECT_EQ(ClientPixel(9, 4), face);
  // End button: the arrow points the other way.
  EXPECT_EQ(ClientPixel(334, 9), frame);
  EXPECT_EQ(ClientPixel(328, 8), Color32(clBtnText));
  EXPECT_EQ(ClientPixel(325, 5), Color32(clBtnText));
  // Track: frame, the inner shadow (frame and Color mixed 160 : 95), then the checker.
  EXPECT_EQ(ClientPixel(17, 9), frame);
  EXPECT_EQ(ClientPixel(100, 0), frame);
  EXPECT_EQ(ClientPixel(100, 17), frame);
  EXPECT_EQ(ClientPixel(100, 1), 0xFF898989u);
  EXPECT_EQ(ClientPixel(18, 9), 0xFF898989u);
  EXPECT_EQ(ClientPixel(20, 2), highlight);
  EXPECT_EQ(ClientPixel(21, 2), color);
  EXPECT_EQ(ClientPixel(21, 3), highlight);
  bar.SetBackgnd(bgSolid);
  EXPECT_EQ(ClientPixel(20, 2), color);
  EXPECT_EQ(ClientPixel(21, 3), color);
  bar.SetColor(0x00102030);
  EXPECT_EQ(ClientPixel(21, 3), 0xFF302010u);
}

TEST_F(GaugeBarTest, MacLookHandle) {
  // Blue 250 brightens to 255 (clamped); red 8 darkens to 0.
  bar.SetHandleColor(0x00FA1008);
  const TColor32 handle = 0xFF0810FAu;
  const TColor32 frame = Color32(clWindowFrame);
  // Handle 159 .. 176: outline, light top-left, frame/handle mix bottom-right, fill.
  EXPECT_EQ(ClientPixel(159, 5), frame);
  EXPECT_EQ(ClientPixel(176, 5), frame);
  EXPECT_EQ(ClientPixel(165, 0), frame);
  EXPECT_EQ(ClientPixel(160, 1), 0xFF2028FFu);
  EXPECT_EQ(ClientPixel(165, 1), 0xFF2028FFu);
  EXPECT_EQ(ClientPixel(175, 16), 0xFF363AAFu);
  EXPECT_EQ(ClientPixel(161, 2), handle);
  EXPECT_EQ(ClientPixel(174, 15), handle);
  // Four grip marks (the handle is 18 long) 3 pixels apart in the middle.
  EXPECT_NE(ClientPixel(163, 9), handle);
  EXPECT_NE(ClientPixel(172, 9), handle);
  EXPECT_EQ(ClientPixel(165, 9), handle);
  bar.SetShowHandleGrip(false);
  EXPECT_EQ(ClientPixel(163, 9), handle);
  bar.SetShowHandleGrip(true);
  // Pressed: dark top-left, handle colour bottom-right.
  Press(165);
  EXPECT_EQ(ClientPixel(160, 1), 0xFF0000E2u);
  EXPECT_EQ(ClientPixel(175, 16), handle);
  EXPECT_EQ(ClientPixel(163, 9), handle);  // grip marks shifted by one
  EXPECT_NE(ClientPixel(164, 10), handle);
  Release(165);
  EXPECT_EQ(ClientPixel(160, 1), 0xFF2028FFu);
}

TEST_F(GaugeBarTest, MacLookPressedButton) {
  const TColor32 text = Color32(clBtnText);
  EXPECT_EQ(ClientPixel(318, 1), Color32(clBtnHighlight));
  EXPECT_EQ(ClientPixel(328, 8), text);
  Press(325);
  // Flat clBtnFace, the arrow one pixel right and down.
  EXPECT_EQ(ClientPixel(318, 1), Color32(clBtnFace));
  EXPECT_EQ(ClientPixel(333, 16), Color32(clBtnFace));
  EXPECT_EQ(ClientPixel(329, 9), text);
  EXPECT_EQ(ClientPixel(326, 12), text);
  EXPECT_EQ(ClientPixel(325, 5), Color32(clBtnFace));
  Release(325);
  EXPECT_EQ(ClientPixel(318, 1), Color32(clBtnHighlight));
}

TEST_F(GaugeBarTest, MacLookDisabled) {
  bar.SetEnabled(false);
  const TColor32 shadow = Color32(clBtnShadow);
  EXPECT_EQ(ClientPixel(0, 9), shadow);                // button frame
  EXPECT_EQ(ClientPixel(100, 0), shadow);              // track frame
  EXPECT_EQ(ClientPixel(165, 5), Color32(clBtnFace));  // plain fill, no handle
  EXPECT_EQ(ClientPixel(20, 2), Color32(clBtnFace));
  // Embossed arrow: shadow arrow over a highlight copy one pixel right and down.
  EXPECT_EQ(ClientPixel(6, 8), shadow);
  EXPECT_EQ(ClientPixel(10, 12), Color32(clBtnHighlight));
}

TEST_F(GaugeBarTest, DefaultLookDrawsHandleAndPressedTrack) {
  bar.SetStyle(rbsDefault);
  const TRect h = bar.GetHandleRect();
  const TColor32 before = ClientPixel(h.Left - 10, 9);
  Press(h.Left - 10);
  EXPECT_NE(ClientPixel(h.Left - 10, 9), before);  // the pressed part is darkened
  Release(h.Left - 10);
  EXPECT_EQ(ClientPixel(bar.GetHandleRect().Left + 3, 3), Color32(clBtnFace));
}

// ----- the scroll bar -----

class RangeBarTest : public ::testing::Test {
 protected:
  RangeBarTest() {
    root.SetBounds(0, 0, 500, 100);
    host.Resize(500, 100);
    bar.SetBorderStyle(bsNone);
    bar.SetBounds(0, 0, 400, 17);
    log.Attach(bar);
  }
  TControl root;
  TCustomRangeBar bar{&root};
  THeadlessHost host{root};
  EventLog log;
};

TEST_F(RangeBarTest, PositionStaysInsideRangeLessWindow) {
  bar.SetRange(1000);
  bar.SetPosition(700);
  EXPECT_EQ(bar.Position(), 600.0f);
  bar.SetPosition(-5);
  EXPECT_EQ(bar.Position(), 0.0f);
  bar.SetPosition(0);
  EXPECT_EQ(log.order, "CC");
  bar.SetPosition(12.5f);
  EXPECT_EQ(bar.Position(), 12.5f);
  // A range smaller than the window pins the position to 0, without an event.
  bar.SetRange(300);
  EXPECT_EQ(bar.Position(), 0.0f);
  EXPECT_EQ(log.changes, 3);
  bar.SetRange(-10);
  EXPECT_EQ(bar.Range(), 0);
  bar.SetRange(1000);
  bar.SetWindow(100);
  EXPECT_EQ(bar.EffectiveWindow(), 100);
  bar.SetPosition(5000);
  EXPECT_EQ(bar.Position(), 900.0f);
  bar.SetWindow(0);
  EXPECT_EQ(bar.Position(), 600.0f);
}

TEST_F(RangeBarTest, CentredBarKeepsItsWindowCentreWhenTheRangeChanges) {
  bar.SetCentered(true);
  bar.SetRange(1000);  // the old window showed everything: centred
  EXPECT_EQ(bar.Position(), 300.0f);
  bar.SetRange(2000);  // centre 500 of 1000 -> 1000 of 2000
  EXPECT_EQ(bar.Position(), 800.0f);
  bar.SetPosition(0);
  log.Clear();
  bar.SetRange(4000);  // centre 200 of 2000 -> 400 of 4000
  EXPECT_EQ(bar.Position(), 200.0f);
  bar.SetRange(500);  // 50 - 200, clamped
  EXPECT_EQ(bar.Position(), 0.0f);
  EXPECT_EQ(log.changes, 0);  // range changes send no event
  bar.SetRange(100);          // smaller than the window
  EXPECT_EQ(bar.Position(), 0.0f);
}

TEST_F(RangeBarTest, UncentredBarOnlyClamps) {
  bar.SetRange(1000);
  bar.SetPosition(300);
  bar.SetRange(2000);
  EXPECT_EQ(bar.Position(), 300.0f);
  bar.SetRange(500);
  EXPECT_EQ(bar.Position(), 100.0f);
}

TEST_F(RangeBarTest, CentredBarKeepsItsCentreWhenResized) {
  bar.SetCentered(true);
  bar.SetRange(1000);
  bar.SetPosition(300);
  bar.SetBounds(0, 0, 200, 17);  // centre (200 + 300) / 1000 -> 500 - 100
  EXPECT_EQ(bar.Position(), 400.0f);
  bar.SetBounds(0, 0, 200, 30);  // thickness only: nothing moves
  EXPECT_EQ(bar.Position(), 400.0f);
  bar.SetBounds(0, 0, 1200, 17);  // window larger than the range
  EXPECT_EQ(bar.Position(), 0.0f);
  EXPECT_EQ(log.changes, 0);  // resizing sends no event
}

TEST_F(RangeBarTest, MouseScrollsByIncrementPageAndDrag) {
  bar.SetRange(1000);  // window 400, travel (366 - 146) = 220 for 600 positions
  EXPECT_EQ(bar.GetButtonLength(), 17);
  EXPECT_EQ(bar.GetHandleRect(), (TRect{17, 0, 163, 17}));
  host.MouseDown(390, 8);
  EXPECT_EQ(bar.Position(), 8.0f);
  host.AdvanceTime(700);
  EXPECT_EQ(bar.Position(), 24.0f);
  host.MouseUp(390, 8);
  EXPECT_EQ(log.order, "CUCUCU");
  host.MouseDown(300, 8);  // page: one window
  EXPECT_EQ(bar.Position(), 424.0f);
  host.MouseUp(300, 8);
  bar.SetPosition(0);
  const TRect h = bar.GetHandleRect();
  host.MouseDown(h.Left + 5, 8);
  host.MouseMove(h.Left + 5 + 11, 8);  // 11 x 600 / 220 = 30
  EXPECT_EQ(bar.Position(), 30.0f);
  host.MouseUp(h.Left + 16, 8);
  host.MouseWheel(100, 8, 120);  // forward scrolls toward the start
  EXPECT_EQ(bar.Position(), 22.0f);
  bar.SetRange(100);  // nothing to scroll: no handle, clicks change nothing
  EXPECT_TRUE(IsRectEmpty(bar.GetHandleRect()));
  log.Clear();
  host.MouseDown(390, 8);
  host.MouseUp(390, 8);
  EXPECT_EQ(log.changes, 0);
}

TEST_F(RangeBarTest, VerticalKindMeasuresItsHeight) {
  bar.SetKind(sbVertical);
  bar.SetBounds(0, 0, 17, 300);
  EXPECT_EQ(bar.EffectiveWindow(), 300);
  bar.SetRange(900);
  bar.SetPosition(1000);
  EXPECT_EQ(bar.Position(), 600.0f);
  host.PaintNow();  // draws without touching pixels outside its bitmap
}

}  // namespace
}  // namespace raster
