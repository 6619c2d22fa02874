// Arrow bars: a bar with an arrow button at each end, a track and a handle. TCustomGaugeBar
// (published as TGaugeBar) is the integer slider of the overlay program's main window;
// TCustomRangeBar is the scroll bar of the image view. Both share TArrowBar's geometry, its mouse
// tracking with auto-repeat and its drawing.
//
// Geometry is worked out along the bar ("along" is x for a horizontal bar and y for a vertical
// one); every rectangle below is in client coordinates, whose origin is the top-left pixel
// inside the optional one-pixel border.
#pragma once

#include <cstdint>

#include "controls/controls.h"
#include "raster/core.h"

namespace raster {

enum TRBStyle { rbsDefault, rbsMac };
enum TRBBackgnd { bgPattern, bgSolid };
enum TRBZone { zNone, zBtnPrev, zTrackPrev, zHandle, zTrackNext, zBtnNext };
enum TScrollBarKind { sbHorizontal, sbVertical };
enum TBorderStyle { bsNone, bsSingle };

class TArrowBar : public TControl {
 public:
  // Repetition of a held button or track press, and the hot-tracking poll after a release.
  static constexpr int RepeatDelayMs = 600;
  static constexpr int RepeatIntervalMs = 100;
  static constexpr int HotTrackIntervalMs = 150;

  explicit TArrowBar(TControl* Parent = nullptr);
  ~TArrowBar() override;
  const char* ClassName() const override { return "TArrowBar"; }

  TRBBackgnd Backgnd() const { return FBackgnd; }
  void SetBackgnd(TRBBackgnd Value);
  TBorderStyle BorderStyle() const { return FBorderStyle; }
  void SetBorderStyle(TBorderStyle Value);
  // 0 means the bar's thickness, at most 32.
  std::int32_t ButtonSize() const { return FButtonSize; }
  void SetButtonSize(std::int32_t Value);
  TWinColor HandleColor() const { return FHandleColor; }
  void SetHandleColor(TWinColor Value);
  bool ShowArrows() const { return FShowArrows; }
  void SetShowArrows(bool Value);
  bool ShowHandleGrip() const { return FShowHandleGrip; }
  void SetShowHandleGrip(bool Value);
  TRBStyle Style() const { return FStyle; }
  void SetStyle(TRBStyle Value);
  TScrollBarKind Kind() const { return FKind; }
  void SetKind(TScrollBarKind Value);

  // The client area in control coordinates: the control less the border.
  TRect GetClientBoundary() const;
  // Length of each arrow button (0: no buttons).
  std::int32_t GetButtonLength() const;
  // The track: the client area less the buttons (client coordinates).
  TRect GetTrackBoundary() const;
  // The handle inside the track (client coordinates); empty when the bar shows none.
  TRect GetHandleRect() const;
  // The zone under a point given in client coordinates.
  TRBZone GetZone(std::int32_t X, std::int32_t Y) const;

  // The zone held down by the left button (zNone when idle) and the highlighted zone.
  TRBZone DragZone() const { return FDragZone; }
  TRBZone HotZone() const { return FHotZone; }

  // Called with the bar on every position change; OnUserChange follows it when the change
  // came from the mouse.
  TNotifyEvent OnChange;
  TNotifyEvent OnUserChange;

  void Paint() override;
  void EnabledChanged() override;
  void MouseDown(TMouseButton Button, TShiftState Shift, std::int32_t X, std::int32_t Y) override;
  void MouseMove(TShiftState Shift, std::int32_t X, std::int32_t Y) override;
  void MouseUp(TMouseButton Button, TShiftState Shift, std::int32_t X, std::int32_t Y) override;
  bool MouseWheel(TShiftState Shift, std::int32_t WheelDelta, TPoint MousePos) override;
  void MouseLeave() override;
  void TimerTick() override;

 protected:
  // The handle's length for a track of TrackLength pixels; the base clamps it to
  // 0 .. TrackLength - 1. The base bar has no handle.
  virtual std::int32_t DoGetHandleLength(std::int32_t /*TrackLength*/) const { return 0; }
  // Where the handle starts inside the track, in pixels before rounding, when it can travel
  // Travel (> 0) pixels.
  virtual double DoGetHandleOffset(std::int32_t /*Travel*/) const { return 0; }
  // One step of a pressed button or track zone; returns whether the position changed.
  virtual bool DoStep(TRBZone /*Zone*/) { return false; }
  // The handle was pressed: remember the position it started from.
  virtual void DoDragStart() {}
  // The pressed handle is now Delta pixels away from the press point along a track on which
  // it can travel Travel (> 0) pixels.
  virtual void DoDrag(std::int32_t /*Delta*/, std::int32_t /*Travel*/) {}
  // One wheel movement (120 per notch); returns whether the bar used it.
  virtual bool DoWheel(std::int32_t /*WheelDelta*/) { return false; }

  // OnChange, then OnUserChange when the change comes from the mouse.
  void DoChange();
  // The bar's own length along its kind (the whole control, border included).
  std::int32_t BarLength() const { return FKind == sbHorizontal ? Width() : Height(); }
  // Client area length along the bar and thickness across it.
  std::int32_t ClientLength() const;
  std::int32_t ClientThickness() const;

  // Cancels a press or drag in progress (capture, timer, pressed look).
  void CancelTracking();

 private:
  enum class TTimerMode { None, FirstDelay, Repeat, HotTrack };
  struct TAlongSpan {
    std::int32_t Start = 0, End = 0;  // along the bar, End exclusive
  };

  TAlongSpan TrackSpan() const;
  TAlongSpan HandleSpan() const;
  TRect SpanToRect(TAlongSpan Span) const;
  TPoint ControlToClient(std::int32_t X, std::int32_t Y) const;
  // Runs one repetition step of the pressed zone and stops the timer when the rules say so.
  void RepeatStep();
  void SetTimerMode(TTimerMode Mode);
  void SetHotZone(TRBZone Zone);

  void DrawMac(TBitmap32& Strip) const;
  void DrawDefault(TBitmap32& Strip) const;
  void DrawBorder();

  TRBBackgnd FBackgnd = bgPattern;
  TBorderStyle FBorderStyle = bsSingle;
  std::int32_t FButtonSize = 0;
  TWinColor FHandleColor = clBtnShadow;
  bool FShowArrows = true;
  bool FShowHandleGrip = true;
  TRBStyle FStyle = rbsDefault;
  TScrollBarKind FKind = sbHorizontal;

  TRBZone FDragZone = zNone;
  TRBZone FHotZone = zNone;
  std::int32_t FPressAlong = 0;  // press point along the bar, client coordinates
  TTimerMode FTimerMode = TTimerMode::None;
  bool FUserChange = false;  // true while a mouse action changes the position

  TBitmap32 FBuffer;  // the whole control
  TBitmap32 FStrip;   // the client area drawn horizontally, transposed for vertical bars
};

// The integer slider.
class TCustomGaugeBar : public TArrowBar {
 public:
  explicit TCustomGaugeBar(TControl* Parent = nullptr);
  const char* ClassName() const override { return "TCustomGaugeBar"; }

  std::int32_t Min() const { return FMin; }
  void SetMin(std::int32_t Value);
  std::int32_t Max() const { return FMax; }
  void SetMax(std::int32_t Value);
  std::int32_t Position() const { return FPosition; }
  void SetPosition(std::int32_t Value);
  std::int32_t SmallChange() const { return FSmallChange; }
  void SetSmallChange(std::int32_t Value);
  std::int32_t LargeChange() const { return FLargeChange; }
  void SetLargeChange(std::int32_t Value);
  // 0 means the bar's thickness.
  std::int32_t HandleSize() const { return FHandleSize; }
  void SetHandleSize(std::int32_t Value);

 protected:
  std::int32_t DoGetHandleLength(std::int32_t TrackLength) const override;
  double DoGetHandleOffset(std::int32_t Travel) const override;
  bool DoStep(TRBZone Zone) override;
  void DoDragStart() override;
  void DoDrag(std::int32_t Delta, std::int32_t Travel) override;
  bool DoWheel(std::int32_t WheelDelta) override;

 private:
  // Sets the position from a wide value, clamped first so that nothing overflows.
  void SetPositionWide(std::int64_t Value);

  std::int32_t FMin = 0;
  std::int32_t FMax = 100;
  std::int32_t FPosition = 0;
  std::int32_t FSmallChange = 1;
  std::int32_t FLargeChange = 1;
  std::int32_t FHandleSize = 0;
  double FDragStartPosition = 0;  // P0 of a handle drag
};

class TGaugeBar : public TCustomGaugeBar {
 public:
  using TCustomGaugeBar::TCustomGaugeBar;
  const char* ClassName() const override { return "TGaugeBar"; }
};

// The scroll bar: a window of Window pixels (or of the bar's own length when Window is 0)
// over a range of Range pixels, the window starting at Position.
class TCustomRangeBar : public TArrowBar {
 public:
  explicit TCustomRangeBar(TControl* Parent = nullptr);
  const char* ClassName() const override { return "TCustomRangeBar"; }

  std::int32_t Range() const { return FRange; }
  // Negative values become 0. Sends no event, also when the position moves.
  void SetRange(std::int32_t Value);
  std::int32_t Window() const { return FWindow; }
  void SetWindow(std::int32_t Value);
  // Window when above 0, otherwise the bar's own length.
  std::int32_t EffectiveWindow() const;
  float Position() const { return FPosition; }
  // Kept inside 0 .. Range - EffectiveWindow (0 when the range is smaller than the window).
  void SetPosition(float Value);
  // Pixels per arrow-button step and per wheel notch.
  std::int32_t Increment() const { return FIncrement; }
  void SetIncrement(std::int32_t Value) { FIncrement = Value; }
  // While set, range and length changes keep the window's centre at its relative place.
  bool Centered() const { return FCentered; }
  void SetCentered(bool Value) { FCentered = Value; }

  void Resize() override;

 protected:
  std::int32_t DoGetHandleLength(std::int32_t TrackLength) const override;
  double DoGetHandleOffset(std::int32_t Travel) const override;
  bool DoStep(TRBZone Zone) override;
  void DoDragStart() override;
  void DoDrag(std::int32_t Delta, std::int32_t Travel) override;
  bool DoWheel(std::int32_t WheelDelta) override;

 private:
  float ClampPosition(double Value) const;
  // Re-places the window after the range or the effective window changed.
  void Recenter(std::int32_t OldRange, std::int32_t OldWindow);
  // Store and clamp; repaint and send OnChange on a real change.
  void ChangePosition(double Value);

  std::int32_t FRange = 0;
  std::int32_t FWindow = 0;
  float FPosition = 0;
  std::int32_t FIncrement = 8;
  bool FCentered = false;
  std::int32_t FLastLength = 0;  // bar length the position was last placed for
  double FDragStartPosition = 0;
};

}  // namespace raster
