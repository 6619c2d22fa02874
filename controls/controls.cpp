#include "controls/controls.h"

#include <algorithm>
#include <cstring>

#include "raster/row_pool.h"

namespace raster {

// ---------------------------------------------------------------------------------------
// TControl

TControl::TControl(TControl* AParent) {
  SetParent(AParent);
}

TControl::~TControl() {
  // The children outlive this control only as controls of no tree: the host forgets them now,
  // since it could never hear of them again (their destructors find no host).
  if (TControlHost* host = Host()) ForgetTree(*host);
  for (TControl* child : FChildren) child->FParent = nullptr;
  FChildren.clear();
  Unlink();
}

void TControl::SetParent(TControl* NewParent) {
  if (NewParent == FParent) return;
  TControlHost* const oldHost = Host();
  Unlink();
  FParent = NewParent;
  if (FParent != nullptr) FParent->FChildren.push_back(this);
  // Taken out of a host's tree, this control and its children are no longer the host's.
  if (oldHost != nullptr && Host() != oldHost) ForgetTree(*oldHost);
}

void TControl::Unlink() {
  if (FParent == nullptr) return;
  auto& siblings = FParent->FChildren;
  siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
  FParent = nullptr;
}

void TControl::ForgetTree(TControlHost& OldHost) {
  for (TControl* child : FChildren) child->ForgetTree(OldHost);
  OldHost.ControlDestroyed(*this);
}

TControlHost* TControl::Host() const {
  const TControl* c = this;
  while (c->FParent != nullptr) c = c->FParent;
  return c->FHost;
}

void TControl::SetBounds(std::int32_t ALeft, std::int32_t ATop, std::int32_t AWidth,
                         std::int32_t AHeight) {
  AWidth = std::max(AWidth, 0);
  AHeight = std::max(AHeight, 0);
  const bool resized = AWidth != FWidth || AHeight != FHeight;
  const bool moved = ALeft != FLeft || ATop != FTop;
  if (!resized && !moved) return;
  if (moved && FParent != nullptr) FParent->Invalidate();
  FLeft = ALeft;
  FTop = ATop;
  FWidth = AWidth;
  FHeight = AHeight;
  if (resized) Resize();
  Invalidate();
}

TPoint TControl::RootOrigin() const {
  TPoint p;
  for (const TControl* c = this; c->FParent != nullptr; c = c->FParent) {
    p.X += c->FLeft;
    p.Y += c->FTop;
  }
  return p;
}

void TControl::SetVisible(bool Value) {
  if (FVisible == Value) return;
  FVisible = Value;
  if (FParent != nullptr) FParent->Invalidate();
  Invalidate();
}

void TControl::SetEnabled(bool Value) {
  if (FEnabled == Value) return;
  FEnabled = Value;
  EnabledChanged();
}

void TControl::SetColor(TWinColor Value) {
  if (FColor == Value) return;
  FColor = Value;
  ColorChanged();
}

void TControl::Invalidate() {
  if (TControlHost* host = Host()) host->InvalidateControl(*this);
}

void TControl::Update() {
  if (TControlHost* host = Host()) host->UpdateControl(*this);
}

void TControl::SetMouseCapture(bool Value) {
  TControlHost* host = Host();
  if (host == nullptr) return;
  if (Value) {
    host->SetCapture(this);
  } else if (host->Capture() == this) {
    host->SetCapture(nullptr);
  }
}

bool TControl::MouseCapture() const {
  TControlHost* host = Host();
  return host != nullptr && host->Capture() == this;
}

void TControl::StartTimer(int IntervalMs) {
  if (TControlHost* host = Host()) host->SetTimer(*this, IntervalMs);
}

void TControl::StopTimer() {
  if (TControlHost* host = Host()) host->SetTimer(*this, 0);
}

void TControl::SetCursor(TCursor Cursor) {
  if (TControlHost* host = Host()) host->SetCursor(Cursor);
}

TPoint TControl::CursorPos() const {
  TControlHost* host = Host();
  if (host == nullptr) return {};
  const TPoint p = host->CursorPos();
  const TPoint origin = RootOrigin();
  return {p.X - origin.X, p.Y - origin.Y};
}

void TControl::Blit(const TBitmap32& Src, const TRect& SrcRect, TPoint DstPos) {
  TControlHost* host = Host();
  if (host == nullptr || Src.Empty()) return;
  // Clip to the source, to this control and to every ancestor, in root coordinates.
  TRect src;
  if (!IntersectRect(src, SrcRect, Src.BoundsRect()) || IsRectEmpty(src)) return;
  const TPoint origin = RootOrigin();
  TRect dst{origin.X + DstPos.X + (src.Left - SrcRect.Left),
            origin.Y + DstPos.Y + (src.Top - SrcRect.Top), 0, 0};
  dst.Right = dst.Left + src.Width();
  dst.Bottom = dst.Top + src.Height();
  for (const TControl* c = this; c != nullptr; c = c->FParent) {
    const TPoint o = c->RootOrigin();
    TRect clip{o.X, o.Y, o.X + c->FWidth, o.Y + c->FHeight};
    TRect clipped;
    if (!IntersectRect(clipped, dst, clip) || IsRectEmpty(clipped)) return;
    src.Left += clipped.Left - dst.Left;
    src.Top += clipped.Top - dst.Top;
    src.Right = src.Left + clipped.Width();
    src.Bottom = src.Top + clipped.Height();
    dst = clipped;
  }
  host->Blit(Src, src, {dst.Left, dst.Top});
}

TControl* TControl::ControlAt(TPoint P) {
  if (!FVisible || P.X < 0 || P.Y < 0 || P.X >= FWidth || P.Y >= FHeight) return nullptr;
  // Later children lie on top.
  for (auto it = FChildren.rbegin(); it != FChildren.rend(); ++it) {
    TControl* child = *it;
    if (TControl* hit = child->ControlAt({P.X - child->FLeft, P.Y - child->FTop})) return hit;
  }
  return this;
}

// ---------------------------------------------------------------------------------------
// TControlDispatcher

void TControlDispatcher::Paint(TControl& Control) {
  if (!Control.Visible()) return;
  Control.Paint();
  for (TControl* child : std::vector<TControl*>(Control.Children())) Paint(*child);
}

void TControlDispatcher::PaintAll() {
  Paint(FRoot);
}

TControl* TControlDispatcher::Target(TPoint P, TPoint& Local) {
  TControl* target = nullptr;
  if (TControlHost* host = FRoot.Host()) target = host->Capture();
  if (target == nullptr) target = FRoot.ControlAt(P);
  if (target != nullptr) {
    const TPoint origin = target->RootOrigin();
    Local = {P.X - origin.X, P.Y - origin.Y};
  }
  return target;
}

void TControlDispatcher::Hover(TControl* Control) {
  if (Control == FHover) return;
  TControl* previous = FHover;
  FHover = Control;
  if (previous != nullptr) previous->MouseLeave();
  if (Control != nullptr) Control->MouseEnter();
}

void TControlDispatcher::MouseDown(TMouseButton Button, TShiftState Shift, TPoint P) {
  TPoint local;
  TControl* target = Target(P, local);
  if (target == nullptr || !target->Enabled()) return;
  Hover(target);
  target->MouseDown(Button, Shift, local.X, local.Y);
}

void TControlDispatcher::MouseMove(TShiftState Shift, TPoint P) {
  TPoint local;
  TControl* target = Target(P, local);
  TControlHost* host = FRoot.Host();
  const bool captured = host != nullptr && host->Capture() != nullptr;
  if (!captured) Hover(target);
  if (target == nullptr || !target->Enabled()) return;
  target->MouseMove(Shift, local.X, local.Y);
}

void TControlDispatcher::MouseUp(TMouseButton Button, TShiftState Shift, TPoint P) {
  TPoint local;
  TControl* target = Target(P, local);
  if (target == nullptr || !target->Enabled()) return;
  target->MouseUp(Button, Shift, local.X, local.Y);
}

void TControlDispatcher::MouseWheel(TShiftState Shift, std::int32_t WheelDelta, TPoint P) {
  TPoint local;
  TControl* target = Target(P, local);
  for (TControl* c = target; c != nullptr; c = c->Parent()) {
    if (!c->Enabled()) continue;
    const TPoint origin = c->RootOrigin();
    if (c->MouseWheel(Shift, WheelDelta, {P.X - origin.X, P.Y - origin.Y})) return;
  }
}

void TControlDispatcher::MouseLeaveRoot() {
  TControlHost* host = FRoot.Host();
  if (host != nullptr && host->Capture() != nullptr) return;
  Hover(nullptr);
}

void TControlDispatcher::Resize(std::int32_t Width, std::int32_t Height) {
  FRoot.SetBounds(FRoot.Left(), FRoot.Top(), Width, Height);
}

void TControlDispatcher::ControlDestroyed(TControl& Control) {
  if (FHover == &Control) FHover = nullptr;
}

// ---------------------------------------------------------------------------------------
// THeadlessHost

THeadlessHost::THeadlessHost(TControl& Root) : FRoot(Root), FDispatcher(Root) {
  // The screen first: a root too large for one must not keep this half-made host, which its
  // destruction would call back.
  FScreen.SetSize(FRoot.Width(), FRoot.Height());
  FRoot.SetHost(this);
  FPaintPending = true;
}

THeadlessHost::~THeadlessHost() {
  if (FRootAlive && FRoot.Host() == this) FRoot.SetHost(nullptr);
}

void THeadlessHost::Resize(std::int32_t Width, std::int32_t Height) {
  FScreen.SetSize(Width, Height);
  if (FRootAlive) FDispatcher.Resize(Width, Height);
  FPaintPending = true;
}

bool THeadlessHost::ProcessPaint() {
  if (!FPaintPending) return false;
  PaintNow();
  return true;
}

void THeadlessHost::PaintNow() {
  FPaintPending = false;
  if (!FRootAlive) return;
  if (FScreen.Width() != FRoot.Width() || FScreen.Height() != FRoot.Height()) {
    FScreen.SetSize(FRoot.Width(), FRoot.Height());
  }
  ++FPaintCount;
  FDispatcher.PaintAll();
}

void THeadlessHost::AdvanceTime(std::int64_t Milliseconds) {
  const std::int64_t end = FNow + Milliseconds;
  for (;;) {
    // The earliest due timer fires first; a timer stopped or restarted by a tick is honoured.
    TControl* next = nullptr;
    std::int64_t due = end + 1;
    for (auto& [control, timer] : FTimers) {
      if (timer.Due < due) {
        due = timer.Due;
        next = control;
      }
    }
    if (next == nullptr || due > end) break;
    FNow = due;
    FTimers[next].Due = due + FTimers[next].Interval;
    next->TimerTick();
  }
  FNow = end;
}

int THeadlessHost::TimerInterval(const TControl& Control) const {
  auto it = FTimers.find(const_cast<TControl*>(&Control));
  return it == FTimers.end() ? 0 : it->second.Interval;
}

void THeadlessHost::MouseDown(std::int32_t X, std::int32_t Y, TMouseButton Button,
                              TShiftState Shift) {
  FCursorPos = {X, Y};
  if (FRootAlive) FDispatcher.MouseDown(Button, Shift, {X, Y});
}

void THeadlessHost::MouseMove(std::int32_t X, std::int32_t Y, TShiftState Shift) {
  FCursorPos = {X, Y};
  if (FRootAlive) FDispatcher.MouseMove(Shift, {X, Y});
}

void THeadlessHost::MouseUp(std::int32_t X, std::int32_t Y, TMouseButton Button,
                            TShiftState Shift) {
  FCursorPos = {X, Y};
  if (FRootAlive) FDispatcher.MouseUp(Button, Shift, {X, Y});
}

void THeadlessHost::MouseWheel(std::int32_t X, std::int32_t Y, std::int32_t WheelDelta,
                               TShiftState Shift) {
  FCursorPos = {X, Y};
  if (FRootAlive) FDispatcher.MouseWheel(Shift, WheelDelta, {X, Y});
}

void THeadlessHost::MouseLeave() {
  FCursorPos = {-1, -1};
  if (FRootAlive) FDispatcher.MouseLeaveRoot();
}

void THeadlessHost::InvalidateControl(TControl&) {
  FPaintPending = true;
}

void THeadlessHost::UpdateControl(TControl&) {
  PaintNow();
}

void THeadlessHost::SetTimer(TControl& Control, int IntervalMs) {
  if (IntervalMs <= 0) {
    FTimers.erase(&Control);
  } else {
    FTimers[&Control] = Timer{IntervalMs, FNow + IntervalMs};
  }
}

namespace {
// One row of the screen copy. The restrict qualifiers tell the compiler that source and
// target do not overlap, so that it processes the row in vector registers without checking.
void CopyRowOpaque(const TColor32* __restrict Src, TColor32* __restrict Dst, std::int32_t Count) {
  for (std::int32_t x = 0; x < Count; ++x) Dst[x] = Src[x] | 0xFF000000u;
}
// The same for the screen copied onto itself, where source and target may overlap: memmove
// copies in whichever direction reads every pixel before it is overwritten.
void CopyRowOpaqueInPlace(const TColor32* Src, TColor32* Dst, std::int32_t Count) {
  std::memmove(Dst, Src, std::size_t(Count) * sizeof(TColor32));
  for (std::int32_t x = 0; x < Count; ++x) Dst[x] |= 0xFF000000u;
}
}  // namespace

void THeadlessHost::Blit(const TBitmap32& Src, const TRect& SrcRect, TPoint DstPos) {
  TRect dst{DstPos.X, DstPos.Y, DstPos.X + SrcRect.Width(), DstPos.Y + SrcRect.Height()};
  TRect clipped;
  if (!IntersectRect(clipped, dst, FScreen.BoundsRect()) || IsRectEmpty(clipped)) return;
  const std::int32_t sx = SrcRect.Left + (clipped.Left - dst.Left);
  const std::int32_t sy = SrcRect.Top + (clipped.Top - dst.Top);
  if (&Src == &FScreen) {
    // Moving down, the rows go bottom-up, so that no source row is overwritten before it is
    // read.
    const auto row = [&](std::int32_t y) {
      CopyRowOpaqueInPlace(Src.GetPixelPtr(sx, sy + (y - clipped.Top)),
                           FScreen.GetPixelPtr(clipped.Left, y), clipped.Width());
    };
    if (sy < clipped.Top) {
      for (std::int32_t y = clipped.Bottom; y-- > clipped.Top;) row(y);
    } else {
      for (std::int32_t y = clipped.Top; y < clipped.Bottom; ++y) row(y);
    }
    return;
  }
  ForRows(clipped.Top, clipped.Bottom, clipped.Width(), [&](std::int32_t First, std::int32_t Last) {
    for (std::int32_t y = First; y < Last; ++y) {
      CopyRowOpaque(Src.GetPixelPtr(sx, sy + (y - clipped.Top)),
                    FScreen.GetPixelPtr(clipped.Left, y), clipped.Width());
    }
  });
}

void THeadlessHost::ControlDestroyed(TControl& Control) {
  FTimers.erase(&Control);
  if (FCapture == &Control) FCapture = nullptr;
  FDispatcher.ControlDestroyed(Control);
  // Without its root the host paints and routes nothing, and never touches it again.
  if (&Control == &FRoot) FRootAlive = false;
}

}  // namespace raster
