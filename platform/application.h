// The Qt application of our programs: an exception that escapes an event handler is shown in
// a message box with its text, and the program goes on with the next event.
#pragma once

#include <QApplication>

namespace platform {

class TApplication : public QApplication {
 public:
  TApplication(int& Argc, char** Argv);
  bool notify(QObject* Receiver, QEvent* Event) override;
};

// The standard exception display: the exception's text in an error box titled with the
// application's name. Used by TApplication and by program entries for what escapes them.
void ShowException(const std::exception& Error);
void ShowUnknownException();

// Handles the events that are waiting (painting, timers, input), so that a program that waits
// for something outside stays responsive. Does nothing without an application object.
void ProcessPendingEvents();

}  // namespace platform
