#include "overlay/windows/auto_align_run.h"

#include <QGuiApplication>
#include <QPushButton>
#include <utility>

namespace overlay {

TAutoAlignRun::TAutoAlignRun(QPushButton& Button, QWidget& View, TMainController& Controller,
                             std::function<bool()> Busy)
    : FButton(Button), FView(View), FController(Controller), FBusy(std::move(Busy)) {
  connect(&FButton, &QPushButton::clicked, this, [this] { Start(); });
}

TAutoAlignRun::~TAutoAlignRun() {
  if (FWorker.joinable()) FWorker.join();
}

void TAutoAlignRun::Start() {
  if (FRunning) return;
  QGuiApplication::setOverrideCursor(Qt::WaitCursor);
  std::uint64_t generation = 0;
  std::shared_ptr<TAlignmentJob> job = FController.PrepareAutoAlign(&generation);
  if (job == nullptr) {
    QGuiApplication::restoreOverrideCursor();
    return;
  }
  FRunning = true;
  FButton.setEnabled(false);
  if (FWorker.joinable()) FWorker.join();  // the last one has posted its result
  FWorker = std::thread([this, job, generation] {
    const TAutoAlignResult result = job->Run();
    // Queued to the window's thread; dropped if this object has gone meanwhile.
    QMetaObject::invokeMethod(
        this, [this, result, generation] { Done(result, generation); }, Qt::QueuedConnection);
  });
}

void TAutoAlignRun::ShowEnabled(bool Enabled) {
  FEnabled = Enabled;
  FButton.setEnabled(Enabled && !FRunning);
}

void TAutoAlignRun::BusyEnded() {
  if (FWaiting) std::exchange(FWaiting, {})();
}

void TAutoAlignRun::Done(const TAutoAlignResult& Result, std::uint64_t Generation) {
  if (FBusy()) {
    // Long work reads the controller on its thread: the placement waits until it has ended.
    FWaiting = [this, Result, Generation] { Done(Result, Generation); };
    return;
  }
  FRunning = false;
  QGuiApplication::restoreOverrideCursor();
  FButton.setEnabled(FEnabled);
  // Pictures changed meanwhile make the result stale: it is dropped without a word.
  FController.ApplyAutoAlign(Result, Generation);
  // The button was pressed last; left with the focus, Space would press the print button
  // that the focus moved on to.
  FView.setFocus(Qt::OtherFocusReason);
}

}  // namespace overlay
