#include "controls/range_bars.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace raster {

namespace {

// Sets a flag for the lifetime of the scope and restores the previous value, also when an
// event handler throws.
class TFlagScope {
 public:
  explicit TFlagScope(bool& Flag) : FFlag(Flag), FOld(Flag) { FFlag = true; }
  ~TFlagScope() { FFlag = FOld; }
  TFlagScope(const TFlagScope&) = delete;
  TFlagScope& operator=(const TFlagScope&) = delete;

 private:
  bool& FFlag;
  bool FOld;
};

// A + (B - A) mix with the weight of A out of 255 on each channel, rounded; opaque.
TColor32 MixColors(TColor32 A, TColor32 B, int WeightA) {
  const auto channel = [WeightA](int a, int b) {
    return TColor32((a * WeightA + b * (255 - WeightA) + 127) / 255);
  };
  return 0xFF000000u | (channel(RedComponent(A), RedComponent(B)) << 16) |
         (channel(GreenComponent(A), GreenComponent(B)) << 8) |
         channel(BlueComponent(A), BlueComponent(B));
}

// Adds Delta to each colour channel, clamped to 0..255; opaque.
TColor32 ShadeColor(TColor32 C, int Delta) {
  const auto channel = [Delta](int v) { return TColor32(std::clamp(v + Delta, 0, 255)); };
  return 0xFF000000u | (channel(RedComponent(C)) << 16) | (channel(GreenComponent(C)) << 8) |
         channel(BlueComponent(C));
}

// Weight of clWindowFrame in the track's inner shadow (a dark mix with the bar's Color) and in
// the handle's dark edge (an even mix with the handle colour).
constexpr int TrackShadowWeight = 160;
constexpr int HandleEdgeWeight = 128;
// The handle brightens and darkens its colour by this much per channel for its bevel.
constexpr int HandleBevelDelta = 24;
// The shortest handle of a scroll bar, so that it stays easy to grab on a long range.
constexpr std::int32_t MinRangeHandle = 8;

// Inclusive end points; silently clipped by FillRectS.
void HLine(TBitmap32& B, std::int32_t X1, std::int32_t X2, std::int32_t Y, TColor32 C) {
  B.FillRectS(X1, Y, X2 + 1, Y + 1, C);
}
void VLine(TBitmap32& B, std::int32_t X, std::int32_t Y1, std::int32_t Y2, TColor32 C) {
  B.FillRectS(X, Y1, X + 1, Y2 + 1, C);
}
void FrameRect(TBitmap32& B, const TRect& R, TColor32 C) {
  if (IsRectEmpty(R)) return;
  HLine(B, R.Left, R.Right - 1, R.Top, C);
  HLine(B, R.Left, R.Right - 1, R.Bottom - 1, C);
  VLine(B, R.Left, R.Top, R.Bottom - 1, C);
  VLine(B, R.Right - 1, R.Top, R.Bottom - 1, C);
}
// Light top and left edge, dark bottom and right edge, one pixel inside R.
void Bevel(TBitmap32& B, const TRect& R, TColor32 Light, TColor32 Dark) {
  if (IsRectEmpty(R)) return;
  HLine(B, R.Left, R.Right - 1, R.Top, Light);
  VLine(B, R.Left, R.Top, R.Bottom - 1, Light);
  HLine(B, R.Left, R.Right - 1, R.Bottom - 1, Dark);
  VLine(B, R.Right - 1, R.Top, R.Bottom - 1, Dark);
}
TRect Shrink(TRect R, std::int32_t D) {
  InflateRect(R, -D, -D);
  if (R.Right < R.Left) R.Right = R.Left;
  if (R.Bottom < R.Top) R.Bottom = R.Top;
  return R;
}

// The fine checker of bgPattern: the highlight on every other pixel, starting at the client
// area's top-left pixel.
void FillBackgnd(TBitmap32& B, const TRect& R, TRBBackgnd Backgnd, TColor32 Color) {
  if (Backgnd == bgSolid) {
    B.FillRectS(R, Color);
    return;
  }
  const TColor32 highlight = Color32(clBtnHighlight);
  TRect r;
  if (!IntersectRect(r, R, B.BoundsRect()) || IsRectEmpty(r)) return;
  for (std::int32_t y = r.Top; y < r.Bottom; ++y) {
    TColor32* line = B.GetScanLine(y);
    for (std::int32_t x = r.Left; x < r.Right; ++x)
      line[x] = ((x + y) & 1) == 0 ? highlight : Color;
  }
}

// A filled triangle pointing left or right, centred on the button R. Its base is about three
// quarters of the button's smaller half-extent.
void DrawArrow(TBitmap32& B, const TRect& R, bool PointsLeft, TColor32 C, std::int32_t Shift) {
  const std::int32_t size = 3 * (std::min(R.Width(), R.Height()) / 2) / 4;
  const std::int32_t k = size / 2;  // half the base; the triangle is k + 1 pixels deep
  if (size <= 0) return;
  const std::int32_t cx = PointsLeft ? R.Left + R.Width() / 2 : R.Right - 1 - R.Width() / 2;
  const std::int32_t cy = R.Top + (R.Height() - 1) / 2 + Shift;
  const std::int32_t depth = k + 1;
  for (std::int32_t i = 0; i <= k; ++i) {
    const std::int32_t x = PointsLeft ? cx - depth / 2 + i + Shift : cx + depth / 2 - i + Shift;
    VLine(B, x, cy - i, cy + i, C);
  }
}

void DrawArrowLook(TBitmap32& B, const TRect& R, bool PointsLeft, bool Enabled, bool Pressed) {
  if (Enabled) {
    DrawArrow(B, R, PointsLeft, Color32(clBtnText), Pressed ? 1 : 0);
  } else {
    // Embossed: a highlight copy one pixel right and down under the shadow-coloured arrow.
    DrawArrow(B, R, PointsLeft, Color32(clBtnHighlight), 1);
    DrawArrow(B, R, PointsLeft, Color32(clBtnShadow), 0);
  }
}

// Vertical grip marks 3 pixels apart at the centre of the handle's fill area Inner, each a
// dark line with a light line to its right.
void DrawGrip(TBitmap32& B, const TRect& Handle, const TRect& Inner, TColor32 Dark, TColor32 Light,
              std::int32_t Shift) {
  if (IsRectEmpty(Inner)) return;
  const std::int32_t count = Handle.Width() > 10 ? 4 : 3;
  const std::int32_t span = (count - 1) * 3;
  const std::int32_t first = Handle.Left + (Handle.Width() - 1) / 2 - span / 2 + Shift;
  const std::int32_t height = std::max(2, Inner.Height() / 2);
  const std::int32_t top = Inner.Top + (Inner.Height() - height) / 2 + Shift;
  const auto clipped = [&](std::int32_t x, TColor32 c) {
    if (x < Inner.Left || x >= Inner.Right) return;
    for (std::int32_t y = std::max(top, Inner.Top); y < std::min(top + height, Inner.Bottom); ++y)
      B.SetPixelS(x, y, c);
  };
  for (std::int32_t i = 0; i < count; ++i) {
    clipped(first + 3 * i, Dark);
    clipped(first + 3 * i + 1, Light);
  }
}

}  // namespace

// ---------------------------------------------------------------------------------------
// TArrowBar: geometry

TArrowBar::TArrowBar(TControl* AParent) : TControl(AParent) {
  SetColor(clScrollBar);
  SetBounds(Left(), Top(), 100, 16);
}

TArrowBar::~TArrowBar() = default;

TRect TArrowBar::GetClientBoundary() const {
  TRect r = ClientRect();
  if (FBorderStyle == bsSingle) r = Shrink(r, 1);
  return r;
}

std::int32_t TArrowBar::ClientLength() const {
  const TRect c = GetClientBoundary();
  return FKind == sbHorizontal ? c.Width() : c.Height();
}

std::int32_t TArrowBar::ClientThickness() const {
  const TRect c = GetClientBoundary();
  return FKind == sbHorizontal ? c.Height() : c.Width();
}

std::int32_t TArrowBar::GetButtonLength() const {
  if (!FShowArrows) return 0;
  const std::int32_t length = ClientLength();
  std::int32_t b = FButtonSize != 0 ? FButtonSize : std::min(ClientThickness(), 32);
  b = std::max(b, 0);  // a negative size means no buttons (and must not wrap below)
  if (2 * std::int64_t(b) >= length) b = length / 2;
  // The Mac look shares the frame line between button and track.
  if (FStyle == rbsMac) --b;
  return b <= 1 ? 0 : b;
}

TArrowBar::TAlongSpan TArrowBar::TrackSpan() const {
  const std::int32_t b = GetButtonLength();
  return {b, ClientLength() - b};
}

TArrowBar::TAlongSpan TArrowBar::HandleSpan() const {
  const TAlongSpan track = TrackSpan();
  const std::int32_t trackLength = track.End - track.Start;
  std::int32_t h = DoGetHandleLength(trackLength);
  h = std::max(std::min(h, trackLength - 1), 0);
  const std::int32_t travel = trackLength - h;
  std::int32_t offset = 0;
  if (travel > 0) {
    // Round to nearest, ties to even (the default rounding mode).
    const double exact = std::nearbyint(DoGetHandleOffset(travel));
    if (exact >= travel) {
      offset = travel;
    } else if (exact > 0) {  // also keeps a NaN at 0
      offset = std::int32_t(exact);
    }
  }
  return {track.Start + offset, track.Start + offset + h};
}

TRect TArrowBar::SpanToRect(TAlongSpan Span) const {
  const std::int32_t thickness = ClientThickness();
  if (FKind == sbHorizontal) return {Span.Start, 0, Span.End, thickness};
  return {0, Span.Start, thickness, Span.End};
}

TRect TArrowBar::GetTrackBoundary() const {
  return SpanToRect(TrackSpan());
}

TRect TArrowBar::GetHandleRect() const {
  const TAlongSpan span = HandleSpan();
  if (span.End <= span.Start) return {};
  return SpanToRect(span);
}

TRBZone TArrowBar::GetZone(std::int32_t X, std::int32_t Y) const {
  const std::int32_t length = ClientLength();
  const std::int32_t along = FKind == sbHorizontal ? X : Y;
  const std::int32_t across = FKind == sbHorizontal ? Y : X;
  if (along < 0 || along >= length || across < 0 || across >= ClientThickness()) return zNone;
  const std::int32_t b = GetButtonLength();
  if (along < b) return zBtnPrev;
  if (along >= length - b) return zBtnNext;
  const TAlongSpan handle = HandleSpan();
  if (along >= handle.Start && along < handle.End) return zHandle;
  if (along > 0 && along < handle.Start) return zTrackPrev;
  if (along >= handle.End && along <= length - 2) return zTrackNext;
  return zNone;
}

TPoint TArrowBar::ControlToClient(std::int32_t X, std::int32_t Y) const {
  const TRect c = GetClientBoundary();
  return {X - c.Left, Y - c.Top};
}

// ---------------------------------------------------------------------------------------
// TArrowBar: properties

void TArrowBar::SetBackgnd(TRBBackgnd Value) {
  if (FBackgnd == Value) return;
  FBackgnd = Value;
  Invalidate();
}

void TArrowBar::SetBorderStyle(TBorderStyle Value) {
  if (FBorderStyle == Value) return;
  FBorderStyle = Value;
  Invalidate();
}

void TArrowBar::SetButtonSize(std::int32_t Value) {
  if (FButtonSize == Value) return;
  FButtonSize = Value;
  Invalidate();
}

void TArrowBar::SetHandleColor(TWinColor Value) {
  if (FHandleColor == Value) return;
  FHandleColor = Value;
  Invalidate();
}

void TArrowBar::SetShowArrows(bool Value) {
  if (FShowArrows == Value) return;
  FShowArrows = Value;
  Invalidate();
}

void TArrowBar::SetShowHandleGrip(bool Value) {
  if (FShowHandleGrip == Value) return;
  FShowHandleGrip = Value;
  Invalidate();
}

void TArrowBar::SetStyle(TRBStyle Value) {
  if (FStyle == Value) return;
  FStyle = Value;
  Invalidate();
}

void TArrowBar::SetKind(TScrollBarKind Value) {
  if (FKind == Value) return;
  FKind = Value;
  // The bar's length is measured along its kind, so this is a change of length.
  Resize();
  Invalidate();
}

// ---------------------------------------------------------------------------------------
// TArrowBar: mouse and timer

void TArrowBar::DoChange() {
  if (OnChange) OnChange(this);
  if (FUserChange && OnUserChange) OnUserChange(this);
}

void TArrowBar::SetTimerMode(TTimerMode Mode) {
  FTimerMode = Mode;
  switch (Mode) {
    case TTimerMode::None:
      StopTimer();
      break;
    case TTimerMode::FirstDelay:
      StartTimer(RepeatDelayMs);
      break;
    case TTimerMode::Repeat:
      StartTimer(RepeatIntervalMs);
      break;
    case TTimerMode::HotTrack:
      StartTimer(HotTrackIntervalMs);
      break;
  }
}

void TArrowBar::SetHotZone(TRBZone Zone) {
  if (FHotZone == Zone) return;
  FHotZone = Zone;
  Invalidate();
}

void TArrowBar::CancelTracking() {
  const bool wasTracking = FDragZone != zNone || FTimerMode != TTimerMode::None;
  FDragZone = zNone;
  SetMouseCapture(false);
  SetTimerMode(TTimerMode::None);
  if (wasTracking) Invalidate();
}

void TArrowBar::EnabledChanged() {
  // A bar disabled in the middle of a press must not keep repeating or holding the mouse.
  CancelTracking();
  FHotZone = zNone;
  Invalidate();
}

void TArrowBar::RepeatStep() {
  const TRBZone zone = FDragZone;
  bool keepRepeating = true;
  // A track press only pages while the mouse, held inside the client area, stays on the
  // side of the handle it started on; moving back there resumes paging.
  const auto mouseOnSide = [this](TRBZone A, TRBZone B) {
    const TPoint p = CursorPos();
    TPoint c = ControlToClient(p.X, p.Y);
    const TRect client = GetClientBoundary();
    c.X = std::clamp(c.X, 0, std::max(client.Width() - 1, 0));
    c.Y = std::clamp(c.Y, 0, std::max(client.Height() - 1, 0));
    const TRBZone z = GetZone(c.X, c.Y);
    return z == A || z == B;
  };
  switch (zone) {
    case zBtnPrev:
    case zBtnNext: {
      TFlagScope user(FUserChange);
      keepRepeating = DoStep(zone);
      break;
    }
    case zTrackPrev:
      if (mouseOnSide(zBtnPrev, zTrackPrev)) {
        TFlagScope user(FUserChange);
        DoStep(zone);
      }
      break;
    case zTrackNext:
      if (mouseOnSide(zTrackNext, zBtnNext)) {
        TFlagScope user(FUserChange);
        DoStep(zone);
      }
      break;
    default:
      keepRepeating = false;
      break;
  }
  if (!keepRepeating && FDragZone == zone &&
      (FTimerMode == TTimerMode::FirstDelay || FTimerMode == TTimerMode::Repeat)) {
    SetTimerMode(TTimerMode::None);
  }
}

void TArrowBar::MouseDown(TMouseButton Button, TShiftState, std::int32_t X, std::int32_t Y) {
  if (Button != mbLeft || !Enabled()) return;
  const TPoint p = ControlToClient(X, Y);
  FDragZone = GetZone(p.X, p.Y);
  FPressAlong = FKind == sbHorizontal ? p.X : p.Y;
  Invalidate();  // the pressed zone draws pressed
  if (FDragZone == zNone) {
    SetTimerMode(TTimerMode::None);
    return;
  }
  SetMouseCapture(true);
  if (FDragZone == zHandle) {
    SetTimerMode(TTimerMode::None);
    DoDragStart();
    return;
  }
  // The timer runs before the first step so that a step that cannot move stops it at once.
  SetTimerMode(TTimerMode::FirstDelay);
  RepeatStep();
}

void TArrowBar::MouseMove(TShiftState, std::int32_t X, std::int32_t Y) {
  if (!Enabled()) return;
  const TPoint p = ControlToClient(X, Y);
  if (FDragZone == zHandle) {
    const TAlongSpan track = TrackSpan();
    const TAlongSpan handle = HandleSpan();
    const std::int32_t travel = (track.End - track.Start) - (handle.End - handle.Start);
    if (travel <= 0) return;  // the bar shrank under the mouse; nothing to map the move on
    const std::int32_t along = FKind == sbHorizontal ? p.X : p.Y;
    TFlagScope user(FUserChange);
    DoDrag(along - FPressAlong, travel);
    return;
  }
  // A held button or track press reads the mouse itself on each step.
  if (FDragZone != zNone) return;
  SetHotZone(GetZone(p.X, p.Y));
  if (FTimerMode == TTimerMode::None) SetTimerMode(TTimerMode::HotTrack);
}

void TArrowBar::MouseUp(TMouseButton Button, TShiftState, std::int32_t X, std::int32_t Y) {
  if (Button != mbLeft) return;
  FDragZone = zNone;
  SetMouseCapture(false);
  Invalidate();
  const TPoint p = ControlToClient(X, Y);
  SetHotZone(PtInRect(ClientRect(), {X, Y}) ? GetZone(p.X, p.Y) : zNone);
  SetTimerMode(TTimerMode::HotTrack);
}

bool TArrowBar::MouseWheel(TShiftState, std::int32_t WheelDelta, TPoint) {
  if (!Enabled()) return false;
  TFlagScope user(FUserChange);
  return DoWheel(WheelDelta);
}

void TArrowBar::MouseLeave() {
  if (FDragZone == zNone) SetHotZone(zNone);
}

void TArrowBar::TimerTick() {
  switch (FTimerMode) {
    case TTimerMode::FirstDelay:
      SetTimerMode(TTimerMode::Repeat);
      RepeatStep();
      break;
    case TTimerMode::Repeat:
      RepeatStep();
      break;
    case TTimerMode::HotTrack: {
      const TPoint p = CursorPos();
      if (!PtInRect(ClientRect(), p)) {
        SetTimerMode(TTimerMode::None);
        FHotZone = zNone;
        Invalidate();
      } else {
        const TPoint c = ControlToClient(p.X, p.Y);
        SetHotZone(GetZone(c.X, c.Y));
      }
      break;
    }
    case TTimerMode::None:
      StopTimer();
      break;
  }
}

// ---------------------------------------------------------------------------------------
// TArrowBar: drawing. The client area is drawn into a horizontal strip (along x, across y);
// a vertical bar shows the strip transposed, so both kinds share one drawing code.

void TArrowBar::Paint() {
  if (Width() <= 0 || Height() <= 0) return;
  FBuffer.SetSize(Width(), Height());
  const TRect client = GetClientBoundary();
  if (!IsRectEmpty(client)) {
    FStrip.SetSize(ClientLength(), ClientThickness());
    if (FStyle == rbsMac) {
      DrawMac(FStrip);
    } else {
      DrawDefault(FStrip);
    }
    for (std::int32_t y = 0; y < FStrip.Height(); ++y) {
      const TColor32* src = FStrip.GetScanLine(y);
      for (std::int32_t x = 0; x < FStrip.Width(); ++x) {
        if (FKind == sbHorizontal) {
          FBuffer.SetPixel(client.Left + x, client.Top + y, src[x]);
        } else {
          FBuffer.SetPixel(client.Left + y, client.Top + x, src[x]);
        }
      }
    }
  }
  DrawBorder();
  Blit(FBuffer, FBuffer.BoundsRect(), {0, 0});
}

void TArrowBar::DrawBorder() {
  if (FBorderStyle != bsSingle) return;
  // Sunken: shadow on the top and left, highlight on the bottom and right.
  const std::int32_t w = FBuffer.Width(), h = FBuffer.Height();
  const TColor32 shadow = Color32(clBtnShadow);
  const TColor32 highlight = Color32(clBtnHighlight);
  HLine(FBuffer, 0, w - 2, 0, shadow);
  VLine(FBuffer, 0, 0, h - 2, shadow);
  HLine(FBuffer, 0, w - 1, h - 1, highlight);
  VLine(FBuffer, w - 1, 0, h - 1, highlight);
}

void TArrowBar::DrawMac(TBitmap32& Strip) const {
  const std::int32_t length = Strip.Width(), thickness = Strip.Height();
  const bool enabled = Enabled();
  const TColor32 frame = Color32(enabled ? clWindowFrame : clBtnShadow);
  const TColor32 face = Color32(clBtnFace);
  const TColor32 highlight = Color32(clBtnHighlight);
  const TColor32 shadow = Color32(clBtnShadow);
  const TColor32 color = Color32(Color());

  // Buttons: the frame on the three outer sides, a bevel inside it unless pressed.
  const std::int32_t b = GetButtonLength();
  if (b > 0) {
    for (const bool prev : {true, false}) {
      const TRect r = prev ? TRect{0, 0, b, thickness} : TRect{length - b, 0, length, thickness};
      const bool pressed = enabled && FDragZone == (prev ? zBtnPrev : zBtnNext);
      HLine(Strip, r.Left, r.Right - 1, r.Top, frame);
      HLine(Strip, r.Left, r.Right - 1, r.Bottom - 1, frame);
      VLine(Strip, prev ? r.Left : r.Right - 1, r.Top, r.Bottom - 1, frame);
      const TRect inner = prev ? TRect{r.Left + 1, r.Top + 1, r.Right, r.Bottom - 1}
                               : TRect{r.Left, r.Top + 1, r.Right - 1, r.Bottom - 1};
      Strip.FillRectS(inner, face);
      if (!pressed) Bevel(Strip, inner, highlight, shadow);
      DrawArrowLook(Strip, r, prev, enabled, pressed);
    }
  }

  // Track: framed all round (the ends are the separators from the buttons).
  const TRect track{b, 0, length - b, thickness};
  if (IsRectEmpty(track)) return;
  FrameRect(Strip, track, frame);
  const TRect inner = Shrink(track, 1);
  if (!enabled) {
    Strip.FillRectS(inner, face);
    return;
  }
  if (!IsRectEmpty(inner)) {
    const TColor32 innerShadow = MixColors(frame, color, TrackShadowWeight);
    HLine(Strip, inner.Left, inner.Right - 1, inner.Top, innerShadow);
    VLine(Strip, inner.Left, inner.Top, inner.Bottom - 1, innerShadow);
    FillBackgnd(Strip, {inner.Left + 1, inner.Top + 1, inner.Right, inner.Bottom}, FBackgnd, color);
  }

  // Handle.
  const TAlongSpan span = HandleSpan();
  if (span.End <= span.Start) return;
  const TRect handle{span.Start, 0, span.End, thickness};
  const bool pressed = FDragZone == zHandle;
  const TColor32 handleColor = Color32(FHandleColor);
  const TColor32 light = ShadeColor(handleColor, HandleBevelDelta);
  const TColor32 dark = ShadeColor(handleColor, -HandleBevelDelta);
  const TColor32 edge = MixColors(frame, handleColor, HandleEdgeWeight);
  FrameRect(Strip, handle, frame);
  const TRect bevel = Shrink(handle, 1);
  Strip.FillRectS(bevel, handleColor);
  if (pressed) {
    Bevel(Strip, bevel, dark, handleColor);
  } else {
    Bevel(Strip, bevel, light, edge);
  }
  if (FShowHandleGrip) {
    DrawGrip(Strip, handle, Shrink(bevel, 1), edge, light, pressed ? 1 : 0);
  }
}

void TArrowBar::DrawDefault(TBitmap32& Strip) const {
  // A plain scroll-bar look of our own: raised buttons and handle over a patterned track,
  // the pressed part of the track darkened, the hot part lightened.
  const std::int32_t length = Strip.Width(), thickness = Strip.Height();
  const bool enabled = Enabled();
  const TColor32 face = Color32(clBtnFace);
  const TColor32 highlight = Color32(clBtnHighlight);
  const TColor32 shadow = Color32(clBtnShadow);
  const TColor32 dark = Color32(clWindowFrame);
  const TColor32 color = Color32(Color());
  const TColor32 hotFace = MixColors(highlight, face, 96);

  const auto raised = [&](const TRect& r, bool pressed, bool hot) {
    if (pressed) {
      Strip.FillRectS(r, face);
      FrameRect(Strip, r, shadow);
      return;
    }
    Strip.FillRectS(r, hot ? hotFace : face);
    Bevel(Strip, r, highlight, dark);
    const TRect inner = Shrink(r, 1);
    if (!IsRectEmpty(inner)) {
      HLine(Strip, inner.Left, inner.Right - 1, inner.Bottom - 1, shadow);
      VLine(Strip, inner.Right - 1, inner.Top, inner.Bottom - 1, shadow);
    }
  };

  const std::int32_t b = GetButtonLength();
  const TRect track{b, 0, length - b, thickness};
  FillBackgnd(Strip, track, FBackgnd, color);
  if (b > 0) {
    for (const bool prev : {true, false}) {
      const TRect r = prev ? TRect{0, 0, b, thickness} : TRect{length - b, 0, length, thickness};
      const TRBZone zone = prev ? zBtnPrev : zBtnNext;
      const bool pressed = enabled && FDragZone == zone;
      raised(r, pressed, enabled && FHotZone == zone);
      DrawArrowLook(Strip, r, prev, enabled, pressed);
    }
  }
  if (!enabled || IsRectEmpty(track)) return;

  const TAlongSpan span = HandleSpan();
  if (FDragZone == zTrackPrev) {
    Strip.FillRectS(track.Left, 0, span.Start, thickness, MixColors(dark, color, 160));
  } else if (FDragZone == zTrackNext) {
    Strip.FillRectS(span.End, 0, track.Right, thickness, MixColors(dark, color, 160));
  }
  if (span.End <= span.Start) return;
  const TRect handle{span.Start, 0, span.End, thickness};
  raised(handle, false, FDragZone == zHandle || FHotZone == zHandle);
  if (FShowHandleGrip) DrawGrip(Strip, handle, Shrink(handle, 2), shadow, highlight, 0);
}

// ---------------------------------------------------------------------------------------
// TCustomGaugeBar

TCustomGaugeBar::TCustomGaugeBar(TControl* AParent) : TArrowBar(AParent) {}

void TCustomGaugeBar::SetMin(std::int32_t Value) {
  // Max > Min always holds, so Max - 1 cannot overflow.
  if (Value >= FMax) Value = FMax - 1;
  if (Value == FMin) return;
  FMin = Value;
  SetPosition(FPosition);
  Invalidate();
}

void TCustomGaugeBar::SetMax(std::int32_t Value) {
  if (Value <= FMin) Value = FMin + 1;
  if (Value == FMax) return;
  FMax = Value;
  SetPosition(FPosition);
  Invalidate();
}

void TCustomGaugeBar::SetPosition(std::int32_t Value) {
  SetPositionWide(Value);
}

void TCustomGaugeBar::SetPositionWide(std::int64_t Value) {
  const std::int32_t clamped = std::int32_t(std::clamp<std::int64_t>(Value, FMin, FMax));
  if (clamped == FPosition) return;
  FPosition = clamped;
  Invalidate();
  DoChange();
}

void TCustomGaugeBar::SetSmallChange(std::int32_t Value) {
  FSmallChange = std::max(Value, 1);
}

void TCustomGaugeBar::SetLargeChange(std::int32_t Value) {
  FLargeChange = std::max(Value, 1);
}

void TCustomGaugeBar::SetHandleSize(std::int32_t Value) {
  Value = std::max(Value, 0);
  if (Value == FHandleSize) return;
  FHandleSize = Value;
  Invalidate();
}

std::int32_t TCustomGaugeBar::DoGetHandleLength(std::int32_t) const {
  return FHandleSize != 0 ? FHandleSize : ClientThickness();
}

double TCustomGaugeBar::DoGetHandleOffset(std::int32_t Travel) const {
  // In the order travel × (Position − Min) / (Max − Min), so halves come out exact.
  return double(Travel) * double(std::int64_t(FPosition) - FMin) /
         double(std::int64_t(FMax) - FMin);
}

bool TCustomGaugeBar::DoStep(TRBZone Zone) {
  const std::int32_t old = FPosition;
  switch (Zone) {
    case zBtnPrev:
      SetPositionWide(std::int64_t(FPosition) - FSmallChange);
      break;
    case zBtnNext:
      SetPositionWide(std::int64_t(FPosition) + FSmallChange);
      break;
    case zTrackPrev:
      SetPositionWide(std::int64_t(FPosition) - FLargeChange);
      break;
    case zTrackNext:
      SetPositionWide(std::int64_t(FPosition) + FLargeChange);
      break;
    default:
      break;
  }
  return FPosition != old;
}

void TCustomGaugeBar::DoDragStart() {
  FDragStartPosition = FPosition;
}

void TCustomGaugeBar::DoDrag(std::int32_t Delta, std::int32_t Travel) {
  const double range = double(std::int64_t(FMax) - FMin);
  const double exact = std::nearbyint(FDragStartPosition + double(Delta) * range / double(Travel));
  // Clamped before the conversion, which would be undefined outside the integer range.
  SetPositionWide(std::int64_t(std::clamp(exact, double(FMin), double(FMax))));
}

bool TCustomGaugeBar::DoWheel(std::int32_t WheelDelta) {
  SetPositionWide(std::int64_t(FPosition) + std::int64_t(FSmallChange) * WheelDelta / 120);
  return true;
}

// ---------------------------------------------------------------------------------------
// TCustomRangeBar

TCustomRangeBar::TCustomRangeBar(TControl* AParent) : TArrowBar(AParent) {
  FLastLength = BarLength();
}

std::int32_t TCustomRangeBar::EffectiveWindow() const {
  return FWindow > 0 ? FWindow : BarLength();
}

float TCustomRangeBar::ClampPosition(double Value) const {
  // First down to Range - window, then up to 0: a range smaller than the window gives 0.
  const double highest = double(FRange) - EffectiveWindow();
  if (Value > highest) Value = highest;
  if (!(Value >= 0)) Value = 0;  // also catches a NaN
  return float(Value);
}

void TCustomRangeBar::ChangePosition(double Value) {
  const float clamped = ClampPosition(Value);
  if (clamped == FPosition) return;
  FPosition = clamped;
  Invalidate();
  DoChange();
}

void TCustomRangeBar::SetPosition(float Value) {
  ChangePosition(Value);
}

void TCustomRangeBar::Recenter(std::int32_t OldRange, std::int32_t OldWindow) {
  const std::int32_t window = EffectiveWindow();
  double position = FPosition;
  if (FCentered && window < FRange) {
    // The relative place of the window's centre in the range; the middle when the old
    // window showed everything.
    const double centre =
        OldWindow < OldRange ? (OldWindow / 2.0 + FPosition) / double(OldRange) : 0.5;
    position = double(FRange) * centre - window / 2.0;
  }
  FPosition = ClampPosition(position);
}

void TCustomRangeBar::SetRange(std::int32_t Value) {
  Value = std::max(Value, 0);
  if (Value == FRange) return;
  const std::int32_t oldRange = FRange;
  FRange = Value;
  Recenter(oldRange, EffectiveWindow());
  Invalidate();
}

void TCustomRangeBar::SetWindow(std::int32_t Value) {
  Value = std::max(Value, 0);
  if (Value == FWindow) return;
  FWindow = Value;
  FPosition = ClampPosition(FPosition);
  Invalidate();
}

void TCustomRangeBar::Resize() {
  TArrowBar::Resize();
  const std::int32_t length = BarLength();
  if (length == FLastLength) return;
  const std::int32_t oldWindow = FWindow > 0 ? FWindow : FLastLength;
  FLastLength = length;
  Recenter(FRange, oldWindow);
}

std::int32_t TCustomRangeBar::DoGetHandleLength(std::int32_t TrackLength) const {
  const std::int32_t window = EffectiveWindow();
  if (FRange <= 0 || window >= FRange) return 0;  // nothing to scroll
  const auto h = std::int32_t(std::lround(double(TrackLength) * window / FRange));
  return std::max(h, MinRangeHandle);
}

double TCustomRangeBar::DoGetHandleOffset(std::int32_t Travel) const {
  const double scroll = double(FRange) - EffectiveWindow();
  return scroll > 0 ? double(Travel) * FPosition / scroll : 0;
}

bool TCustomRangeBar::DoStep(TRBZone Zone) {
  const float old = FPosition;
  switch (Zone) {
    case zBtnPrev:
      ChangePosition(double(FPosition) - FIncrement);
      break;
    case zBtnNext:
      ChangePosition(double(FPosition) + FIncrement);
      break;
    case zTrackPrev:
      ChangePosition(double(FPosition) - EffectiveWindow());
      break;
    case zTrackNext:
      ChangePosition(double(FPosition) + EffectiveWindow());
      break;
    default:
      break;
  }
  return FPosition != old;
}

void TCustomRangeBar::DoDragStart() {
  FDragStartPosition = FPosition;
}

void TCustomRangeBar::DoDrag(std::int32_t Delta, std::int32_t Travel) {
  const double scroll = double(FRange) - EffectiveWindow();
  if (scroll <= 0) return;
  ChangePosition(FDragStartPosition + double(Delta) * scroll / double(Travel));
}

bool TCustomRangeBar::DoWheel(std::int32_t WheelDelta) {
  // Wheel forward scrolls toward the start, as in any scrolled window.
  ChangePosition(double(FPosition) - double(std::int64_t(FIncrement) * WheelDelta / 120));
  return true;
}

}  // namespace raster
