#include "overlay/icons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <functional>

namespace overlay {

namespace {

// Each glyph is drawn on a 32 x 32 design grid and rendered at the sizes toolkits ask for.
QIcon Render(const std::function<void(QPainter&)>& Draw) {
  QIcon icon;
  for (int size : {16, 18, 24, 32, 48, 64, 128}) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 32.0, size / 32.0);
    Draw(p);
    icon.addPixmap(pixmap);
  }
  return icon;
}

}  // namespace

QIcon InfoIcon() {
  return Render([](QPainter& p) {
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(30, 100, 200));
    p.drawEllipse(QRectF(2, 2, 28, 28));
    p.setBrush(Qt::white);
    p.drawEllipse(QRectF(14, 7, 4.5, 4.5));
    p.drawRoundedRect(QRectF(14, 13.5, 4.5, 12), 1, 1);
  });
}

QIcon PrinterIcon() {
  return Render([](QPainter& p) {
    const QColor body(70, 70, 80), paper(250, 250, 250);
    p.setPen(QPen(body, 1.5));
    p.setBrush(paper);
    p.drawRect(QRectF(9, 3, 14, 10));  // paper going in
    p.setBrush(body);
    p.drawRoundedRect(QRectF(3, 12, 26, 11), 2, 2);
    p.setBrush(paper);
    p.drawRect(QRectF(9, 19, 14, 10));  // printed sheet
    p.setPen(QPen(body, 1));
    p.drawLine(QPointF(11, 23), QPointF(21, 23));
    p.drawLine(QPointF(11, 26), QPointF(19, 26));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(90, 200, 90));
    p.drawEllipse(QRectF(24, 15, 2.5, 2.5));
  });
}

QIcon ProgramIcon() {
  return Render([](QPainter& p) {
    p.setPen(QPen(QColor(32, 32, 69), 1.2));
    p.setBrush(QColor(40, 120, 90));
    p.drawRect(QRectF(3, 5, 20, 20));
    p.translate(18, 17);
    p.rotate(-15);
    p.setBrush(QColor(230, 170, 40, 160));
    p.drawRect(QRectF(-9, -9, 18, 18));
  });
}

}  // namespace overlay
