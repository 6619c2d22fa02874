// The Qt widget that hosts a tree of toolkit-free raster controls (the image view, the gauge
// bars). It turns Qt's paint, resize, mouse, wheel, leave and timer events into the controls'
// events and shows their bitmaps on screen.
#pragma once

#include <QBasicTimer>
#include <QWidget>
#include <map>
#include <memory>

#include "controls/controls.h"

class QPainter;

namespace platform {

// Maps Qt's modifiers and held buttons to the controls' shift state.
raster::TShiftState ToShiftState(Qt::KeyboardModifiers Modifiers, Qt::MouseButtons Buttons);
Qt::CursorShape ToQtCursor(raster::TCursor Cursor);

// Hosts one root control, which fills the widget. The root is not owned: it must outlive the
// widget or be destroyed first (the widget then shows nothing and routes nothing).
class TControlHostWidget : public QWidget, public raster::TControlHost {
 public:
  explicit TControlHostWidget(raster::TControl& Root, QWidget* Parent = nullptr);
  ~TControlHostWidget() override;
  TControlHostWidget(const TControlHostWidget&) = delete;
  TControlHostWidget& operator=(const TControlHostWidget&) = delete;

  raster::TControl* Root() const { return FRoot; }
  QSize sizeHint() const override;
  // Number of paint events handled, for tests of the repaint strategy.
  int PaintCount() const { return FPaintCount; }
  // Whether Control's one timer runs, and its interval (0 when stopped).
  int TimerInterval(const raster::TControl& Control) const;

  // raster::TControlHost
  void InvalidateControl(raster::TControl& Control) override;
  void UpdateControl(raster::TControl& Control) override;
  void SetCapture(raster::TControl* Control) override { FCapture = Control; }
  raster::TControl* Capture() const override { return FCapture; }
  void SetTimer(raster::TControl& Control, int IntervalMs) override;
  void SetCursor(raster::TCursor Cursor) override;
  raster::TPoint CursorPos() const override { return FCursorPos; }
  void Blit(const raster::TBitmap32& Src, const raster::TRect& SrcRect,
            raster::TPoint DstPos) override;
  void ControlDestroyed(raster::TControl& Control) override;

 protected:
  void paintEvent(QPaintEvent* Event) override;
  void resizeEvent(QResizeEvent* Event) override;
  void mousePressEvent(QMouseEvent* Event) override;
  void mouseMoveEvent(QMouseEvent* Event) override;
  void mouseReleaseEvent(QMouseEvent* Event) override;
  void wheelEvent(QWheelEvent* Event) override;
  void leaveEvent(QEvent* Event) override;
  void timerEvent(QTimerEvent* Event) override;

 private:
  QRect RootRect(const raster::TControl& Control) const;
  void SyncRootSize();

  raster::TControl* FRoot;
  std::unique_ptr<raster::TControlDispatcher> FDispatcher;
  std::map<raster::TControl*, QBasicTimer> FTimers;
  std::map<raster::TControl*, int> FIntervals;
  raster::TControl* FCapture = nullptr;
  raster::TPoint FCursorPos{-1, -1};
  QPainter* FPainter = nullptr;  // set only while a paint event runs
  int FPaintCount = 0;
};

}  // namespace platform
