// image_diff A B: prints how many pixels of two pictures of the same size differ, in percent
// (exit status 2 when a picture cannot be read or the sizes differ).
#include <QImage>
#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: image_diff A B\n");
    return 2;
  }
  const QImage a = QImage(argv[1]).convertToFormat(QImage::Format_RGB32);
  const QImage b = QImage(argv[2]).convertToFormat(QImage::Format_RGB32);
  if (a.isNull() || b.isNull() || a.size() != b.size()) {
    std::fprintf(stderr, "image_diff: cannot compare %s and %s\n", argv[1], argv[2]);
    return 2;
  }
  long long differing = 0;
  for (int y = 0; y < a.height(); ++y) {
    const QRgb* pa = reinterpret_cast<const QRgb*>(a.constScanLine(y));
    const QRgb* pb = reinterpret_cast<const QRgb*>(b.constScanLine(y));
    for (int x = 0; x < a.width(); ++x) differing += (pa[x] & 0xFFFFFF) != (pb[x] & 0xFFFFFF);
  }
  std::printf("%lld\n", differing * 100 / (long long)(a.width()) / a.height());
  return 0;
}
