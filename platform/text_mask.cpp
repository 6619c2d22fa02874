#include "platform/text_mask.h"

#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>

namespace platform {

TTextMask RenderTextMask(const std::string& Text, int PixelSize) {
  TTextMask mask;
  if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr || Text.empty() ||
      PixelSize <= 0) {
    return mask;
  }
  QFont font = QGuiApplication::font();
  font.setPixelSize(PixelSize);
  const QFontMetrics metrics(font);
  const QString text = QString::fromStdString(Text);
  const int width = metrics.horizontalAdvance(text) + 2;
  const int height = metrics.height();
  if (width <= 0 || height <= 0) return mask;

  // White glyphs on black in 8 bits: the grey value is the coverage.
  QImage image(width, height, QImage::Format_Grayscale8);
  image.fill(0);
  {
    QPainter painter(&image);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(1, metrics.ascent(), text);
  }
  mask.Width = width;
  mask.Height = height;
  mask.Coverage.resize(std::size_t(width) * std::size_t(height));
  for (int y = 0; y < height; ++y) {
    const uchar* row = image.constScanLine(y);
    std::copy(row, row + width, mask.Coverage.begin() + std::ptrdiff_t(y) * width);
  }
  return mask;
}

}  // namespace platform
