// The launcher's one window: a small picture shown for a moment while the run starts, and
// again when an error box explains a failure.
#pragma once

#include <QWidget>

#include "launcher/launcher_run.h"

class QLabel;
class QTimer;

namespace launcher {

// The fixed 195 x 192 picture of the window, drawn by the program.
QImage KestrinPicture();

class TFormKestrin : public QWidget {
 public:
  // Sets "." as the decimal separator of the process, deletes the log, and arms the timer
  // that starts the run 10 ms after the message loop has started.
  TFormKestrin();

  void Timer1Timer();
  TLauncherRun& Run() { return FRun; }

 protected:
  void closeEvent(QCloseEvent* Event) override;  // FormClose

 private:
  QLabel* Image1 = nullptr;
  QTimer* Timer1 = nullptr;
  TLauncherRun FRun;
};

}  // namespace launcher
