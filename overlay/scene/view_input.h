// The arithmetic of the main window's direct input, without any widget: which slider a key
// nudges and by how much, wheel angle deltas counted in notches, and the two view geometries
// behind wheel zoom and drag panning (picture-1 coordinates under a view point and back, the
// scroll position a drag asks for). The controller applies them through the sliders and the
// view's scroll bars, so that every change runs the code a slider or scroll bar runs.
#pragma once

#include "controls/image_view.h"
#include "raster/core.h"

namespace overlay {

// The keys the main window answers, whatever toolkit reports them.
enum class TNudgeKey { Left, Right, Up, Down, PageUp, PageDown, Plus, Minus };
enum class TNudgeSlider { Angle, OffsetX, OffsetY, ViewZoom };

struct TNudge {
  TNudgeSlider Slider;
  int Delta;
  friend bool operator==(const TNudge&, const TNudge&) = default;
};

// Arrows move the X / Y offset by 1 (10 with Shift), in the direction the overlay moves on
// screen; Page Up / Page Down the angle by +1 / -1 degree; plus / minus the view zoom by one
// step. Shift counts for the arrows only: on many layouts plus itself needs Shift.
TNudge NudgeFor(TNudgeKey Key, bool Shift);

// Counts wheel angle deltas in whole notches of 120, positive away from the user. Wheels with
// finer steps send parts of a notch; the rest is kept for the next event, and dropped when
// the direction turns, so that a reversal answers at once.
class TWheelNotches {
 public:
  static constexpr int NotchDelta = 120;
  int Add(int AngleDelta);
  int Remainder() const { return FRemainder; }

 private:
  int FRemainder = 0;
};

// The point of the view's bitmap under a view point, in fractional bitmap pixels, as the view
// places the bitmap now (its rectangle, rounded as painted), and the view point where a bitmap
// point lies. An empty bitmap or rectangle maps through the identity.
raster::TFloatPoint ViewToBitmap(raster::TCustomImage32& View, raster::TPoint P);
raster::TFloatPoint BitmapToView(raster::TCustomImage32& View, raster::TFloatPoint P);

// A left-button drag over the view: the scroll positions at the press and where the mouse was
// then. The content follows the mouse, so the scroll position moves against it.
class TViewPan {
 public:
  void Begin(raster::TPoint Mouse, raster::TFloatPoint ScrollPosition);
  void End() { FActive = false; }
  bool Active() const { return FActive; }
  // The scroll positions that put what lay under the press point under Mouse (the bars clamp).
  raster::TFloatPoint Target(raster::TPoint Mouse) const;

 private:
  bool FActive = false;
  raster::TPoint FStart;
  raster::TFloatPoint FStartScroll;
};

// Scrolls the view by whole pixels toward the scroll positions (X, Y), as far as the bars
// reach (0 .. Range - EffectiveWindow); nothing when they are there already, because a scroll
// that moves no bar would still rebuild the same frame.
void ScrollToward(raster::TCustomImgView32& View, double X, double Y);

}  // namespace overlay
