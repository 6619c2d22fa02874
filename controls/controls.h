// Toolkit-free window controls. A control paints itself into bitmaps and hands them to its
// host through Blit; the host (a Qt widget, or THeadlessHost for tests and command-line
// rendering) delivers paint, resize, mouse, wheel and timer events. Controls form a tree: child
// controls (the image view's scroll bars) lie inside their parent, in parent coordinates, and
// the host routes events to them.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "raster/core.h"

namespace raster {

// System colours as platform colours with the high byte set (resolved by Color32).
constexpr TWinColor clScrollBar = 0xFF000000u;
constexpr TWinColor clWindow = 0xFF000005u;
constexpr TWinColor clWindowFrame = 0xFF000006u;
constexpr TWinColor clBtnFace = 0xFF00000Fu;
constexpr TWinColor clBtnShadow = 0xFF000010u;
constexpr TWinColor clBtnText = 0xFF000012u;
constexpr TWinColor clBtnHighlight = 0xFF000014u;

enum TMouseButton { mbLeft, mbRight, mbMiddle };
// Set of ss* bits.
using TShiftState = std::uint32_t;
constexpr TShiftState ssShift = 1, ssAlt = 2, ssCtrl = 4, ssLeft = 8, ssRight = 16, ssMiddle = 32;

enum TCursor { crDefault, crArrow, crHandPoint, crSizeAll, crSizeNWSE, crHourGlass, crCross };

class TControl;

// What a toolkit offers a tree of controls. One host serves one root control.
class TControlHost {
 public:
  virtual ~TControlHost() = default;
  // A repaint of the control's area, later (requests are coalesced).
  virtual void InvalidateControl(TControl& Control) = 0;
  // A repaint of the control's area now, before returning.
  virtual void UpdateControl(TControl& Control) = 0;
  // Mouse events go to Control until released (nullptr releases).
  virtual void SetCapture(TControl* Control) = 0;
  virtual TControl* Capture() const = 0;
  // Starts (IntervalMs > 0) or stops (0) the one timer of Control; it calls TimerTick.
  virtual void SetTimer(TControl& Control, int IntervalMs) = 0;
  virtual void SetCursor(TCursor Cursor) = 0;
  // The mouse position in root coordinates.
  virtual TPoint CursorPos() const = 0;
  // Copies SrcRect of Src to the window with its top-left at DstPos (root coordinates),
  // ignoring alpha. Only called while a paint is in progress.
  virtual void Blit(const TBitmap32& Src, const TRect& SrcRect, TPoint DstPos) = 0;
  // Forgets everything it holds about Control (timer, capture, hover); called when it is
  // destroyed or leaves the host's tree (its parent destroyed, or SetParent), whichever comes
  // first. Control may still be alive, but the host must not reach it again.
  virtual void ControlDestroyed(TControl& Control) = 0;
};

class TControl : public TObject {
 public:
  explicit TControl(TControl* Parent = nullptr);
  ~TControl() override;
  TControl(const TControl&) = delete;
  TControl& operator=(const TControl&) = delete;
  const char* ClassName() const override { return "TControl"; }

  TControl* Parent() const { return FParent; }
  const std::vector<TControl*>& Children() const { return FChildren; }
  void SetParent(TControl* NewParent);
  // The host of the tree this control belongs to (set on the root).
  TControlHost* Host() const;
  void SetHost(TControlHost* NewHost) { FHost = NewHost; }

  std::int32_t Left() const { return FLeft; }
  std::int32_t Top() const { return FTop; }
  std::int32_t Width() const { return FWidth; }
  std::int32_t Height() const { return FHeight; }
  // Position in the parent; calls Resize when the size changed.
  virtual void SetBounds(std::int32_t ALeft, std::int32_t ATop, std::int32_t AWidth,
                         std::int32_t AHeight);
  TRect BoundsRect() const { return {FLeft, FTop, FLeft + FWidth, FTop + FHeight}; }
  TRect ClientRect() const { return {0, 0, FWidth, FHeight}; }
  // Offset of this control's (0, 0) in root coordinates.
  TPoint RootOrigin() const;

  bool Visible() const { return FVisible; }
  void SetVisible(bool Value);
  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool Value);
  TWinColor Color() const { return FColor; }
  void SetColor(TWinColor Value);

  virtual void Invalidate();
  void Update();
  void SetMouseCapture(bool Value);
  bool MouseCapture() const;
  void StartTimer(int IntervalMs);
  void StopTimer();
  void SetCursor(TCursor Cursor);
  // The mouse position in this control's coordinates.
  TPoint CursorPos() const;
  // Copies SrcRect of Src to this control at DstPos (control coordinates), clipped to the
  // control and its ancestors. Only meaningful inside Paint.
  void Blit(const TBitmap32& Src, const TRect& SrcRect, TPoint DstPos);

  // Events, delivered by the host. Coordinates are this control's.
  virtual void Paint() {}
  virtual void Resize() {}
  virtual void ColorChanged() { Invalidate(); }
  virtual void EnabledChanged() { Invalidate(); }
  virtual void MouseDown(TMouseButton, TShiftState, std::int32_t, std::int32_t) {}
  virtual void MouseMove(TShiftState, std::int32_t, std::int32_t) {}
  virtual void MouseUp(TMouseButton, TShiftState, std::int32_t, std::int32_t) {}
  // Returns whether the wheel was handled; unhandled wheels go to the parent.
  virtual bool MouseWheel(TShiftState, std::int32_t /*WheelDelta*/, TPoint /*MousePos*/) {
    return false;
  }
  virtual void MouseEnter() {}
  virtual void MouseLeave() {}
  virtual void TimerTick() {}

  // The deepest visible, enabled-or-not control under P (this control's coordinates), or
  // nullptr when P is outside.
  TControl* ControlAt(TPoint P);

 private:
  // Leaves the parent's children without telling any host.
  void Unlink();
  // Tells OldHost that this control and all below it are gone from its tree.
  void ForgetTree(TControlHost& OldHost);

  TControl* FParent = nullptr;
  std::vector<TControl*> FChildren;
  TControlHost* FHost = nullptr;
  std::int32_t FLeft = 0, FTop = 0, FWidth = 0, FHeight = 0;
  bool FVisible = true;
  bool FEnabled = true;
  TWinColor FColor = clBtnFace;
};

// Routes a host's raw input to the controls of one tree: capture, the control under the mouse,
// enter and leave, wheel bubbling, and painting the tree parent first.
class TControlDispatcher {
 public:
  explicit TControlDispatcher(TControl& Root) : FRoot(Root) {}
  void PaintAll();
  void Paint(TControl& Control);
  void MouseDown(TMouseButton Button, TShiftState Shift, TPoint P);
  void MouseMove(TShiftState Shift, TPoint P);
  void MouseUp(TMouseButton Button, TShiftState Shift, TPoint P);
  void MouseWheel(TShiftState Shift, std::int32_t WheelDelta, TPoint P);
  void MouseLeaveRoot();
  void Resize(std::int32_t Width, std::int32_t Height);
  void ControlDestroyed(TControl& Control);

 private:
  TControl* Target(TPoint P, TPoint& Local);
  void Hover(TControl* Control);
  TControl& FRoot;
  TControl* FHover = nullptr;
};

// A host without any toolkit: paints into a bitmap the size of the root control, keeps a
// manual clock for the controls' timers, and lets tests inject mouse input.
class THeadlessHost : public TControlHost {
 public:
  explicit THeadlessHost(TControl& Root);
  ~THeadlessHost() override;

  // What the window would show (alpha set to 255, as a screen copy ignores it).
  const TBitmap32& Screen() const { return FScreen; }
  // Resizes the root and the screen.
  void Resize(std::int32_t Width, std::int32_t Height);
  // Paints when something was invalidated; returns whether it painted.
  bool ProcessPaint();
  void PaintNow();
  int PaintCount() const { return FPaintCount; }
  bool PaintPending() const { return FPaintPending; }

  // The clock: milliseconds since the host was made. Advancing it fires due timers in order.
  std::int64_t Now() const { return FNow; }
  void AdvanceTime(std::int64_t Milliseconds);
  int TimerInterval(const TControl& Control) const;

  void MouseDown(std::int32_t X, std::int32_t Y, TMouseButton Button = mbLeft,
                 TShiftState Shift = 0);
  void MouseMove(std::int32_t X, std::int32_t Y, TShiftState Shift = 0);
  void MouseUp(std::int32_t X, std::int32_t Y, TMouseButton Button = mbLeft, TShiftState Shift = 0);
  void MouseWheel(std::int32_t X, std::int32_t Y, std::int32_t WheelDelta, TShiftState Shift = 0);
  void MouseLeave();
  TCursor Cursor() const { return FCursor; }

  void InvalidateControl(TControl& Control) override;
  void UpdateControl(TControl& Control) override;
  void SetCapture(TControl* Control) override { FCapture = Control; }
  TControl* Capture() const override { return FCapture; }
  void SetTimer(TControl& Control, int IntervalMs) override;
  void SetCursor(TCursor Cursor) override { FCursor = Cursor; }
  TPoint CursorPos() const override { return FCursorPos; }
  void Blit(const TBitmap32& Src, const TRect& SrcRect, TPoint DstPos) override;
  void ControlDestroyed(TControl& Control) override;

 private:
  struct Timer {
    int Interval;
    std::int64_t Due;
  };
  TControl& FRoot;
  TControlDispatcher FDispatcher;
  TBitmap32 FScreen;
  std::map<TControl*, Timer> FTimers;
  TControl* FCapture = nullptr;
  TPoint FCursorPos;
  TCursor FCursor = crDefault;
  std::int64_t FNow = 0;
  int FPaintCount = 0;
  bool FPaintPending = false;
  // False once the root was destroyed (the host may outlive it).
  bool FRootAlive = true;
};

}  // namespace raster
