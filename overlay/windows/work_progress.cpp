#include "overlay/windows/work_progress.h"

#include <QEventLoop>
#include <QProgressDialog>
#include <atomic>
#include <thread>

#include "overlay/base/texts.h"
#include "overlay/windows/widget_factory.h"

namespace overlay {

void TWorkProgress::Step(int Done, int Count, const std::string& Text) {
  QProgressDialog* dialog = FDialog;
  // Queued to the dialog's thread; dropped should the dialog be gone by then.
  QMetaObject::invokeMethod(
      dialog,
      [dialog, Done, Count, text = QString::fromStdString(Text)] {
        if (dialog->wasCanceled()) return;
        dialog->setMaximum(Count);
        dialog->setValue(Count > 0 ? Done : 0);
        dialog->setLabelText(text);
      },
      Qt::QueuedConnection);
}

void RunWithProgress(QWidget* Parent, const std::string& Title,
                     const std::function<void(TWorkProgress&)>& Work) {
  QProgressDialog dialog(Parent);
  SetComponentName(dialog, "WorkProgress");
  dialog.setWindowTitle(QString::fromStdString(Title));
  dialog.setCancelButtonText(QString::fromStdString(Tr(CancelButtonText)));
  dialog.setWindowModality(Qt::WindowModal);
  dialog.setAutoClose(false);
  dialog.setAutoReset(false);
  dialog.setMinimumDuration(0);
  dialog.setRange(0, 0);
  TWorkProgress progress(&dialog);
  QObject::connect(&dialog, &QProgressDialog::canceled, &dialog,
                   [&progress] { progress.Cancel().Cancel(); });
  QEventLoop loop;
  std::atomic<bool> done{false};
  std::thread worker([&] {
    Work(progress);
    done = true;
    QMetaObject::invokeMethod(
        &loop, [&loop] { loop.quit(); }, Qt::QueuedConnection);
  });
  dialog.show();
  if (!done) loop.exec();
  // Ended from outside (or done): the work stops at its next step, and is awaited.
  if (!done) progress.Cancel().Cancel();
  worker.join();
}

}  // namespace overlay
