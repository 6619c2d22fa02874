#include "platform/application.h"

#include <exception>

#include "platform/message.h"

namespace platform {

TApplication::TApplication(int& Argc, char** Argv) : QApplication(Argc, Argv) {}

bool TApplication::notify(QObject* Receiver, QEvent* Event) {
  try {
    return QApplication::notify(Receiver, Event);
  } catch (const std::exception& e) {
    ShowException(e);
  } catch (...) {
    ShowUnknownException();
  }
  // The event counts as handled: whatever its handler did before it failed stays done.
  return true;
}

void ShowException(const std::exception& Error) {
  ShowMessage(Error.what(), QApplication::applicationName().toStdString(), MessageIcon::Error);
}

void ShowUnknownException() {
  ShowMessage("Unbekannter Fehler.\nUnknown error.", QApplication::applicationName().toStdString(),
              MessageIcon::Error);
}

void ProcessPendingEvents() {
  if (QCoreApplication::instance()) QCoreApplication::processEvents();
}

}  // namespace platform
