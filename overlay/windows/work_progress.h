// Long work off the window's thread. The work runs on a thread of its own while a window-modal
// progress dialog shows its steps and offers a cancel; the window's thread goes on with its
// events, so the window repaints (its input waits behind the dialog). The work reads only what
// it was given or copied before it started.
#pragma once

#include <functional>
#include <string>

#include "platform/cancel.h"

class QProgressDialog;
class QWidget;

namespace overlay {

// What the work sees of the dialog.
class TWorkProgress {
 public:
  explicit TWorkProgress(QProgressDialog* Dialog) : FDialog(Dialog) {}
  // Any thread: the dialog shows Text and Done of Count (a bar that only moves when Count is 0).
  void Step(int Done, int Count, const std::string& Text);
  // Cancelled by the dialog's button (or its closing), or when the work's end is awaited.
  platform::TCancel& Cancel() { return FCancel; }

 private:
  QProgressDialog* FDialog;  // outlives the work: RunWithProgress awaits it first
  platform::TCancel FCancel;
};

// Runs Work on a thread of its own under a dialog named "WorkProgress" titled Title, and returns
// when Work has ended. Should the event loop be ended from outside (the application quits), Work
// is cancelled and awaited all the same, so nothing it touches goes away under it.
void RunWithProgress(QWidget* Parent, const std::string& Title,
                     const std::function<void(TWorkProgress&)>& Work);

}  // namespace overlay
