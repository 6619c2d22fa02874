// The launcher's one window: a small picture shown for a moment while the run starts, and
// again when an error box explains a failure.
#pragma once

#include <QWidget>

#include "launcher/launcher_run.h"

class QLabel;
class QSocketNotifier;
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
  // Stops the run when a stop signal arrives on Fd (BlockStopSignals), whatever it is doing:
  // waiting for the receiver, showing a message, or not yet started.
  void WatchStopSignals(int Fd);

 protected:
  void closeEvent(QCloseEvent* Event) override;  // FormClose

 private:
  QLabel* Image1 = nullptr;
  QTimer* Timer1 = nullptr;
  QSocketNotifier* FStopSignals = nullptr;
  TLauncherRun FRun;
};

}  // namespace launcher
