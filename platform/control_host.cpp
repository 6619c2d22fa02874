#include "platform/control_host.h"

#include <QImage>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QTimerEvent>
#include <QWheelEvent>

namespace platform {

using raster::TControl;

raster::TShiftState ToShiftState(Qt::KeyboardModifiers Modifiers, Qt::MouseButtons Buttons) {
  raster::TShiftState shift = 0;
  if (Modifiers & Qt::ShiftModifier) shift |= raster::ssShift;
  if (Modifiers & Qt::AltModifier) shift |= raster::ssAlt;
  if (Modifiers & Qt::ControlModifier) shift |= raster::ssCtrl;
  if (Buttons & Qt::LeftButton) shift |= raster::ssLeft;
  if (Buttons & Qt::RightButton) shift |= raster::ssRight;
  if (Buttons & Qt::MiddleButton) shift |= raster::ssMiddle;
  return shift;
}

Qt::CursorShape ToQtCursor(raster::TCursor Cursor) {
  switch (Cursor) {
    case raster::crHandPoint:
      return Qt::PointingHandCursor;
    case raster::crSizeAll:
      return Qt::SizeAllCursor;
    case raster::crSizeNWSE:
      return Qt::SizeFDiagCursor;
    case raster::crHourGlass:
      return Qt::WaitCursor;
    case raster::crCross:
      return Qt::CrossCursor;
    case raster::crDefault:
    case raster::crArrow:
      break;
  }
  return Qt::ArrowCursor;
}

namespace {

bool ToMouseButton(Qt::MouseButton Button, raster::TMouseButton& Result) {
  switch (Button) {
    case Qt::LeftButton:
      Result = raster::mbLeft;
      return true;
    case Qt::RightButton:
      Result = raster::mbRight;
      return true;
    case Qt::MiddleButton:
      Result = raster::mbMiddle;
      return true;
    default:
      return false;  // the controls know no other buttons
  }
}

raster::TPoint ToPoint(const QPointF& P) {
  const QPoint p = P.toPoint();
  return {p.x(), p.y()};
}

}  // namespace

TControlHostWidget::TControlHostWidget(TControl& Root, QWidget* Parent)
    : QWidget(Parent),
      FRoot(&Root),
      FDispatcher(std::make_unique<raster::TControlDispatcher>(Root)) {
  // The controls paint every pixel of their area from their own buffers: Qt must neither
  // erase nor fill the background first, or each repaint would flash the background colour.
  setAttribute(Qt::WA_OpaquePaintEvent);
  setAttribute(Qt::WA_NoSystemBackground);
  setAutoFillBackground(false);
  // Hover (enter, leave, move without a button) drives the scroll bars' button highlight.
  setMouseTracking(true);
  Root.SetHost(this);
  if (Root.Width() > 0 && Root.Height() > 0) resize(Root.Width(), Root.Height());
}

TControlHostWidget::~TControlHostWidget() {
  for (auto& [control, timer] : FTimers) timer.stop();
  if (FRoot != nullptr && FRoot->Host() == this) FRoot->SetHost(nullptr);
}

QSize TControlHostWidget::sizeHint() const {
  if (FRoot == nullptr || FRoot->Width() <= 0 || FRoot->Height() <= 0) return QWidget::sizeHint();
  return {FRoot->Width(), FRoot->Height()};
}

int TControlHostWidget::TimerInterval(const TControl& Control) const {
  auto it = FIntervals.find(const_cast<TControl*>(&Control));
  return it == FIntervals.end() ? 0 : it->second;
}

QRect TControlHostWidget::RootRect(const TControl& Control) const {
  const raster::TPoint origin = Control.RootOrigin();
  return {origin.X, origin.Y, Control.Width(), Control.Height()};
}

void TControlHostWidget::SyncRootSize() {
  if (FRoot != nullptr && (FRoot->Width() != width() || FRoot->Height() != height())) {
    FDispatcher->Resize(width(), height());
  }
}

void TControlHostWidget::InvalidateControl(TControl& Control) {
  const QRect r = RootRect(Control);
  if (!r.isEmpty()) update(r);
}

void TControlHostWidget::UpdateControl(TControl& Control) {
  const QRect r = RootRect(Control);
  // Not while painting: a nested paint of the same widget is refused by Qt, and the paint in
  // progress shows the control anyway.
  if (!r.isEmpty() && FPainter == nullptr) repaint(r);
}

void TControlHostWidget::SetTimer(TControl& Control, int IntervalMs) {
  if (IntervalMs <= 0) {
    auto it = FTimers.find(&Control);
    if (it != FTimers.end()) {
      it->second.stop();
      FTimers.erase(it);
    }
    FIntervals.erase(&Control);
    return;
  }
  // Restarting an already running timer starts its interval again, as a fresh timer would.
  FTimers[&Control].start(IntervalMs, Qt::PreciseTimer, this);
  FIntervals[&Control] = IntervalMs;
}

void TControlHostWidget::SetCursor(raster::TCursor Cursor) {
  if (Cursor == raster::crDefault) {
    unsetCursor();
  } else {
    setCursor(ToQtCursor(Cursor));
  }
}

void TControlHostWidget::Blit(const raster::TBitmap32& Src, const raster::TRect& SrcRect,
                              raster::TPoint DstPos) {
  if (FPainter == nullptr || Src.Empty()) return;
  raster::TRect src;
  if (!raster::IntersectRect(src, SrcRect, Src.BoundsRect()) || raster::IsRectEmpty(src)) return;
  DstPos.X += src.Left - SrcRect.Left;
  DstPos.Y += src.Top - SrcRect.Top;
  // TColor32 is 0xAARRGGBB in native order, which is QImage::Format_RGB32's layout; RGB32
  // ignores the top byte, as the screen copy of a bitmap does. The QImage only borrows the
  // pixels for the one draw call below: no copy is made.
  const QImage view(reinterpret_cast<const uchar*>(Src.GetPixelPtr(src.Left, src.Top)), src.Width(),
                    src.Height(), qsizetype(Src.Width()) * 4, QImage::Format_RGB32);
  FPainter->drawImage(QPoint(DstPos.X, DstPos.Y), view);
}

void TControlHostWidget::ControlDestroyed(TControl& Control) {
  auto it = FTimers.find(&Control);
  if (it != FTimers.end()) {
    it->second.stop();
    FTimers.erase(it);
  }
  FIntervals.erase(&Control);
  if (FCapture == &Control) FCapture = nullptr;
  if (&Control == FRoot) {
    FRoot = nullptr;
    FDispatcher.reset();
    update();
    return;
  }
  if (FDispatcher) FDispatcher->ControlDestroyed(Control);
}

void TControlHostWidget::paintEvent(QPaintEvent*) {
  if (FRoot == nullptr) return;
  SyncRootSize();
  ++FPaintCount;
  QPainter painter(this);
  // Pixel copies: no blending, no smoothing. A copy with alpha ignored is an opaque source.
  painter.setCompositionMode(QPainter::CompositionMode_Source);
  FPainter = &painter;
  try {
    FDispatcher->PaintAll();
  } catch (...) {
    FPainter = nullptr;
    throw;
  }
  FPainter = nullptr;
}

void TControlHostWidget::resizeEvent(QResizeEvent* Event) {
  QWidget::resizeEvent(Event);
  SyncRootSize();
}

void TControlHostWidget::mousePressEvent(QMouseEvent* Event) {
  raster::TMouseButton button;
  if (FRoot == nullptr || !ToMouseButton(Event->button(), button)) return;
  FCursorPos = ToPoint(Event->position());
  FDispatcher->MouseDown(button, ToShiftState(Event->modifiers(), Event->buttons()), FCursorPos);
}

void TControlHostWidget::mouseMoveEvent(QMouseEvent* Event) {
  if (FRoot == nullptr) return;
  FCursorPos = ToPoint(Event->position());
  FDispatcher->MouseMove(ToShiftState(Event->modifiers(), Event->buttons()), FCursorPos);
}

void TControlHostWidget::mouseReleaseEvent(QMouseEvent* Event) {
  raster::TMouseButton button;
  if (FRoot == nullptr || !ToMouseButton(Event->button(), button)) return;
  FCursorPos = ToPoint(Event->position());
  FDispatcher->MouseUp(button, ToShiftState(Event->modifiers(), Event->buttons()), FCursorPos);
}

void TControlHostWidget::wheelEvent(QWheelEvent* Event) {
  // 120 per notch, positive away from the user, as the controls expect.
  const int delta = Event->angleDelta().y();
  if (FRoot == nullptr || delta == 0) {
    Event->ignore();
    return;
  }
  FCursorPos = ToPoint(Event->position());
  FDispatcher->MouseWheel(ToShiftState(Event->modifiers(), Event->buttons()), delta, FCursorPos);
  Event->accept();
}

void TControlHostWidget::leaveEvent(QEvent* Event) {
  QWidget::leaveEvent(Event);
  if (FRoot == nullptr) return;
  FCursorPos = {-1, -1};
  FDispatcher->MouseLeaveRoot();
}

void TControlHostWidget::timerEvent(QTimerEvent* Event) {
  TControl* due = nullptr;
  for (auto& [control, timer] : FTimers) {
    if (timer.timerId() == Event->timerId()) {
      due = control;
      break;
    }
  }
  if (due == nullptr) {
    QWidget::timerEvent(Event);
    return;
  }
  // The tick may stop or restart this timer, or destroy the control; nothing is touched after.
  due->TimerTick();
}

}  // namespace platform
