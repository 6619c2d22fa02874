// A picture shown through a TZoomView: the wheel zooms about the mouse, a drag pans, a click
// names a picture point (PickPoint), and marks are drawn on their points at any zoom. The
// positioning assistant shows its pictures in it.
#pragma once

#include <QColor>
#include <QImage>
#include <QWidget>
#include <functional>
#include <optional>
#include <vector>

#include "overlay/scene/zoom_view.h"

namespace overlay {

struct TPictureMark {
  TPointD At;  // a picture point: the mark stands on its pixel centre, At + (0.5, 0.5)
  QColor Colour;
};

class TPictureView : public QWidget {
 public:
  // A press that the mouse leaves by more than this many screen pixels (in x or in y) before
  // its release is a drag, which pans and names no point; a press released within it is a
  // click, which names the point under the press, whichever button it was.
  static constexpr int DragThreshold = 3;

  explicit TPictureView(QWidget* Parent = nullptr);

  // Shows Picture fitted (TZoomView::Fit).
  void SetPicture(const QImage& Picture);
  void ClearPicture();
  const QImage& Picture() const { return FPicture; }

  const TZoomView& Zoom() const { return FZoom; }
  void Fit();
  void Actual();
  void ZoomAbout(double Factor, QPointF ViewPoint);
  void PanBy(double Dx, double Dy);

  void SetMarks(std::vector<TPictureMark> Marks);

  // A click on the picture, with the point it names.
  std::function<void(TPointD Point)> OnPick;

 protected:
  void paintEvent(QPaintEvent* Event) override;
  void resizeEvent(QResizeEvent* Event) override;
  void wheelEvent(QWheelEvent* Event) override;
  void mousePressEvent(QMouseEvent* Event) override;
  void mouseDoubleClickEvent(QMouseEvent* Event) override;
  void mouseMoveEvent(QMouseEvent* Event) override;
  void mouseReleaseEvent(QMouseEvent* Event) override;

 private:
  // Zoomed in or at 100 %: each screen pixel shows the picture pixel a click on it names, so
  // pixels are squares and the marks sit on them.
  void PaintNearest(QPainter& Painter);
  // Zoomed out: smoothly from the halving that is at least as large as the view needs.
  void PaintSmooth(QPainter& Painter);

  QImage FPicture;
  // FHalvings[k]: the picture halved k + 1 times (2 x 2 means), made once per picture, so
  // that a zoomed-out paint resamples a little from a picture near its size, never the whole
  // picture.
  std::vector<QImage> FHalvings;
  QImage FFrame;  // the nearest-neighbour paint's pixels, kept at the view's size
  TZoomView FZoom;
  std::vector<TPictureMark> FMarks;

  std::optional<QPointF> FPressAt;
  Qt::MouseButton FPressButton = Qt::NoButton;
  QPointF FLastAt;
  bool FDragging = false;
};

}  // namespace overlay
