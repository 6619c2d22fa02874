#include "launcher/kestrinmain.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QSocketNotifier>
#include <QTimer>
#include <QVBoxLayout>
#include <clocale>

#include "launcher/stop_signals.h"

namespace launcher {

namespace {

// The window's outer size is 184 x 206; the frame takes about 8 x 30 of it.
constexpr int ClientWidth = 176, ClientHeight = 176;

// The locale's decimal separator must not reach the number conversions of the calibration;
// Qt has set the user's locale by the time the window exists.
int UseDotAsDecimalSeparator() {
  std::setlocale(LC_NUMERIC, "C");
  return 0;
}

}  // namespace

QImage KestrinPicture() {
  QImage picture(195, 192, QImage::Format_RGB888);
  QPainter p(&picture);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient sky(0, 0, 0, 192);
  sky.setColorAt(0, QColor(0x2b, 0x5d, 0x8a));
  sky.setColorAt(1, QColor(0xa9, 0xcb, 0xe3));
  p.fillRect(picture.rect(), sky);
  // A ruler along the bottom: the launcher turns pictures into millimetres.
  p.fillRect(QRect(10, 160, 175, 22), QColor(0xf2, 0xe6, 0xc4));
  p.setPen(QPen(QColor(0x3a, 0x2e, 0x1c), 1));
  for (int mm = 0; mm <= 170; mm += 5) p.drawLine(13 + mm, 160, 13 + mm, mm % 10 ? 166 : 171);
  // A hovering falcon, wings spread.
  QPainterPath bird;
  bird.moveTo(97, 70);
  bird.cubicTo(70, 40, 40, 42, 14, 58);
  bird.cubicTo(45, 62, 68, 76, 88, 92);
  bird.lineTo(84, 128);
  bird.lineTo(97, 120);
  bird.lineTo(110, 128);
  bird.lineTo(106, 92);
  bird.cubicTo(126, 76, 149, 62, 181, 58);
  bird.cubicTo(155, 42, 124, 40, 97, 70);
  p.setPen(QPen(QColor(0x4a, 0x2a, 0x12), 2));
  p.setBrush(QColor(0xb5, 0x65, 0x2a));
  p.drawPath(bird);
  p.setBrush(QColor(0x6e, 0x3b, 0x17));
  p.drawEllipse(QPointF(97, 70), 9, 10);
  p.end();
  return picture;
}

TFormKestrin::TFormKestrin() : QWidget(nullptr) {
  UseDotAsDecimalSeparator();
  setWindowTitle(QStringLiteral("FormKestrin"));
  move(354, 337);
  resize(ClientWidth, ClientHeight);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  Image1 = new QLabel(this);
  Image1->setPixmap(QPixmap::fromImage(KestrinPicture()));
  Image1->setScaledContents(true);
  layout->addWidget(Image1);

  FRun.ShowWindow = [this] { show(); };
  Timer1 = new QTimer(this);
  Timer1->setInterval(10);
  connect(Timer1, &QTimer::timeout, this, [this] { Timer1Timer(); });
  Timer1->start();
}

void TFormKestrin::Timer1Timer() {
  Timer1->stop();
  hide();
  FRun.Start();
  close();
  // Closing a hidden window does not end the loop by itself.
  QCoreApplication::exit(FRun.Failed() ? 1 : 0);
}

void TFormKestrin::WatchStopSignals(int Fd) {
  if (Fd < 0) return;
  FStopSignals = new QSocketNotifier(Fd, QSocketNotifier::Read, this);
  connect(FStopSignals, &QSocketNotifier::activated, this, [this, Fd] {
    if (const int signal = TakeStopSignal(Fd)) FRun.Stop(signal);
  });
}

void TFormKestrin::closeEvent(QCloseEvent* Event) {
  FRun.Close();
  Event->accept();
}

}  // namespace launcher
