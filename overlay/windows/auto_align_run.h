// The automatic-alignment button's run: the pictures are reduced at once, the rest runs on a
// worker thread with the wait cursor shown and the button disabled; the result is applied
// through the sliders when it arrives (or the failure shown). While long work reads the
// controller on a thread of its own (Busy), the result waits until BusyEnded.
#pragma once

#include <QObject>
#include <cstdint>
#include <functional>
#include <thread>

#include "overlay/scene/main_controller.h"

class QPushButton;
class QWidget;

namespace overlay {

class TAutoAlignRun : public QObject {
 public:
  // View gets the focus after a run, so that Space presses nothing and the arrows nudge.
  TAutoAlignRun(QPushButton& Button, QWidget& View, TMainController& Controller,
                std::function<bool()> Busy);
  // A running alignment works on its own copies; its result, posted to this object, is dropped
  // with it.
  ~TAutoAlignRun() override;

  void Start();
  bool Running() const { return FRunning; }
  // The button follows the overlay controls while no run is on.
  void ShowEnabled(bool Enabled);
  void BusyEnded();

 private:
  void Done(const TAutoAlignResult& Result, std::uint64_t Generation);

  QPushButton& FButton;
  QWidget& FView;
  TMainController& FController;
  std::function<bool()> FBusy;
  bool FRunning = false;
  bool FEnabled = false;
  std::thread FWorker;
  std::function<void()> FWaiting;  // a result that came during long work
};

}  // namespace overlay
