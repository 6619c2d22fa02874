#include "overlay/windows/picture_view.h"

#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>

namespace overlay {

namespace {

// Halvings stop at this size: below it a halving saves nothing worth its memory.
constexpr int SmallestHalving = 64;
// The marks: an "x" of this half-size in screen pixels, whatever the zoom.
constexpr double MarkArm = 4;
constexpr double MarkPen = 2;
const QColor MarkRim(0, 0, 0, 160);

// 2 x 2 means of an RGB32 picture, rounding halves up; an odd last row or column is paired
// with itself, so that halving k covers the picture exactly.
QImage Halved(const QImage& Picture) {
  const int w = Picture.width(), h = Picture.height();
  QImage half((w + 1) / 2, (h + 1) / 2, QImage::Format_RGB32);
  if (half.isNull()) return half;
  for (int y = 0; y < half.height(); ++y) {
    const auto* r0 = reinterpret_cast<const std::uint32_t*>(Picture.constScanLine(2 * y));
    const auto* r1 =
        reinterpret_cast<const std::uint32_t*>(Picture.constScanLine(std::min(2 * y + 1, h - 1)));
    auto* out = reinterpret_cast<std::uint32_t*>(half.scanLine(y));
    for (int x = 0; x < half.width(); ++x) {
      const int x0 = 2 * x, x1 = std::min(2 * x + 1, w - 1);
      std::uint32_t pixel = 0xFF000000u;
      for (int shift = 0; shift < 24; shift += 8) {
        const std::uint32_t sum = ((r0[x0] >> shift) & 0xFF) + ((r0[x1] >> shift) & 0xFF) +
                                  ((r1[x0] >> shift) & 0xFF) + ((r1[x1] >> shift) & 0xFF);
        pixel |= ((sum + 2) / 4) << shift;
      }
      out[x] = pixel;
    }
  }
  return half;
}

}  // namespace

TPictureView::TPictureView(QWidget* Parent) : QWidget(Parent) {
  setCursor(Qt::CrossCursor);
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void TPictureView::SetPicture(const QImage& Picture) {
  FPicture = Picture.format() == QImage::Format_RGB32
                 ? Picture
                 : Picture.convertToFormat(QImage::Format_RGB32);
  FHalvings.clear();
  const QImage* last = &FPicture;
  while (std::max(last->width(), last->height()) > SmallestHalving) {
    QImage half = Halved(*last);
    if (half.isNull()) break;  // no memory: zoomed out paints from the largest there is
    FHalvings.push_back(std::move(half));
    last = &FHalvings.back();
  }
  FZoom.SetViewSize(width(), height());
  FZoom.SetPictureSize(FPicture.width(), FPicture.height());
  update();
}

void TPictureView::ClearPicture() {
  FPicture = QImage();
  FHalvings.clear();
  FFrame = QImage();
  FMarks.clear();
  update();
}

void TPictureView::Fit() {
  FZoom.Fit();
  update();
}

void TPictureView::Actual() {
  FZoom.Actual();
  update();
}

void TPictureView::ZoomAbout(double Factor, QPointF ViewPoint) {
  FZoom.ZoomAbout(Factor, {ViewPoint.x(), ViewPoint.y()});
  update();
}

void TPictureView::SetMarks(std::vector<TPictureMark> Marks) {
  FMarks = std::move(Marks);
  update();
}

void TPictureView::resizeEvent(QResizeEvent* Event) {
  QWidget::resizeEvent(Event);
  FZoom.SetViewSize(width(), height());
}

void TPictureView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), palette().window());
  if (FPicture.isNull()) return;
  if (FZoom.Scale() >= 1) {
    PaintNearest(painter);
  } else {
    PaintSmooth(painter);
  }
  painter.setRenderHint(QPainter::Antialiasing);
  for (const TPictureMark& mark : FMarks) {
    const TPointD c = FZoom.ToView({mark.At.X + 0.5, mark.At.Y + 0.5});
    // A dark rim under the colour keeps a white mark visible on a light picture.
    for (const auto& [colour, pen] :
         {std::pair{MarkRim, MarkPen + 2}, std::pair{mark.Colour, MarkPen}}) {
      painter.setPen(QPen(colour, pen, Qt::SolidLine, Qt::SquareCap));
      painter.drawLine(QPointF(c.X - MarkArm, c.Y - MarkArm),
                       QPointF(c.X + MarkArm, c.Y + MarkArm));
      painter.drawLine(QPointF(c.X - MarkArm, c.Y + MarkArm),
                       QPointF(c.X + MarkArm, c.Y - MarkArm));
    }
  }
}

void TPictureView::PanBy(double Dx, double Dy) {
  FZoom.PanBy(Dx, Dy);
  update();
}

void TPictureView::PaintNearest(QPainter& Painter) {
  // Screen pixel d shows picture pixel floor((d - offset) / scale), the one PickPoint names for
  // a click on it. Only the view's pixels are touched, however large the picture.
  const auto sources = [&](int ViewExtent, int PictureExtent, double Offset, int& First) {
    std::vector<int> index;
    First = -1;
    for (int d = 0; d < ViewExtent; ++d) {
      const double u = (d - Offset) / FZoom.Scale();
      if (u < 0 || u >= PictureExtent) continue;
      if (First < 0) First = d;
      index.push_back(std::min(int(u), PictureExtent - 1));
    }
    return index;
  };
  int left = 0, top = 0;
  const std::vector<int> columns = sources(width(), FPicture.width(), FZoom.OffsetX(), left);
  const std::vector<int> rows = sources(height(), FPicture.height(), FZoom.OffsetY(), top);
  if (columns.empty() || rows.empty()) return;
  const QSize size(int(columns.size()), int(rows.size()));
  if (FFrame.size() != size) FFrame = QImage(size, QImage::Format_RGB32);
  if (FFrame.isNull()) return;
  for (int y = 0; y < size.height(); ++y) {
    const auto* in = reinterpret_cast<const std::uint32_t*>(FPicture.constScanLine(rows[y]));
    auto* out = reinterpret_cast<std::uint32_t*>(FFrame.scanLine(y));
    for (int x = 0; x < size.width(); ++x) out[x] = in[columns[x]];
  }
  Painter.drawImage(left, top, FFrame);
}

void TPictureView::PaintSmooth(QPainter& Painter) {
  // Halving k shows the picture at 2^-k; the one at or just above the scale leaves a reduction
  // of at most one half to the painter's bilinear filter, which it does without aliasing.
  const int k = std::min(int(std::floor(std::log2(1 / FZoom.Scale()))), int(FHalvings.size()));
  const QImage& level = k == 0 ? FPicture : FHalvings[std::size_t(k) - 1];
  const double fx = double(level.width()) / FPicture.width();
  const double fy = double(level.height()) / FPicture.height();
  // The part in view, in the level's pixels, with one more around it for the filter.
  const TPointD a = FZoom.ToPicture({0, 0});
  const TPointD b = FZoom.ToPicture({double(width()), double(height())});
  const double x0 = std::max(0.0, std::floor(a.X * fx) - 1);
  const double y0 = std::max(0.0, std::floor(a.Y * fy) - 1);
  const double x1 = std::min(double(level.width()), std::ceil(b.X * fx) + 1);
  const double y1 = std::min(double(level.height()), std::ceil(b.Y * fy) + 1);
  if (x1 <= x0 || y1 <= y0) return;
  const TPointD topLeft = FZoom.ToView({x0 / fx, y0 / fy});
  const TPointD bottomRight = FZoom.ToView({x1 / fx, y1 / fy});
  Painter.setRenderHint(QPainter::SmoothPixmapTransform);
  Painter.drawImage(QRectF(QPointF(topLeft.X, topLeft.Y), QPointF(bottomRight.X, bottomRight.Y)),
                    level, QRectF(x0, y0, x1 - x0, y1 - y0));
}

void TPictureView::wheelEvent(QWheelEvent* Event) {
  const int delta = Event->angleDelta().y();
  if (delta == 0 || FPicture.isNull()) {
    Event->ignore();
    return;
  }
  ZoomAbout(WheelZoomFactor(delta), Event->position());
  Event->accept();
}

void TPictureView::mousePressEvent(QMouseEvent* Event) {
  if (FPressAt) return;  // a second button during a press changes nothing
  FPressAt = Event->position();
  FPressButton = Event->button();
  FLastAt = Event->position();
  FDragging = false;
}

void TPictureView::mouseDoubleClickEvent(QMouseEvent* Event) {
  // The second press of a quick double click: a press all the same (it may come without a
  // press event of its own).
  mousePressEvent(Event);
}

void TPictureView::mouseMoveEvent(QMouseEvent* Event) {
  if (!FPressAt) return;
  const QPointF at = Event->position();
  if (!FDragging && std::max(std::abs(at.x() - FPressAt->x()), std::abs(at.y() - FPressAt->y())) >
                        DragThreshold) {
    FDragging = true;
    setCursor(Qt::ClosedHandCursor);
  }
  if (!FDragging) return;
  // The picture follows the mouse from the press on, the threshold's move included.
  PanBy(at.x() - FLastAt.x(), at.y() - FLastAt.y());
  FLastAt = at;
}

void TPictureView::mouseReleaseEvent(QMouseEvent* Event) {
  if (!FPressAt || Event->button() != FPressButton) return;
  const QPointF at = *FPressAt;
  const bool click = !FDragging;
  FPressAt.reset();
  FDragging = false;
  setCursor(Qt::CrossCursor);
  if (!click || FPicture.isNull() || !OnPick) return;
  if (const std::optional<TPointD> point = PickPoint(FZoom, {at.x(), at.y()})) OnPick(*point);
}

}  // namespace overlay
