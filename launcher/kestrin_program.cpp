// kestrin: the analysis launcher.
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "launcher/kestrinmain.h"
#include "launcher/stop_signals.h"
#include "platform/application.h"
#include "platform/command_line.h"
#include "platform/window_entry.h"

namespace {

constexpr const char* UsageText =
    "Usage: kestrin INTERFACE-FILE\n"
    "       kestrin RECORD-DATA-FILE...\n"
    "\n"
    "Kestrin completes an interface file for an analysis program and starts that program.\n"
    "For every picture whose scale (Pp100MM) or exclusion circle the file leaves at 0 or\n"
    "less, it derives them from the picture's EXIF data (camera model, focal length, pixel\n"
    "width) and the camera table camera.ini. It writes the completed file as MVIni<N>.ini,\n"
    "starts the program that Kestrin.ini names for the file's Receiver with that file, waits\n"
    "until it ends, and removes the file.\n"
    "\n"
    "Everything a run does is written to Kestrin.log; a failure ends the run with an error\n"
    "message and exit status 1. SIGTERM, SIGINT or SIGHUP are handed on to the program,\n"
    "which is killed when it has not ended 3 seconds later; the file is removed, the log\n"
    "closed, and Kestrin ends by the signal.\n"
    "\n"
    "The files lie beside the program. Where its folder cannot be written (an installation),\n"
    "MVIni<N>.ini and Kestrin.log go to $XDG_STATE_HOME/tessaly (~/.local/state/tessaly), and\n"
    "copies of camera.ini and Kestrin.ini in ~/.config/tessaly or /etc/xdg/tessaly are read\n"
    "first.\n"
    "\n"
    "Environment:\n"
    "  KESTRIN_COPY_TO=FILE  also write a copy of the completed interface file to FILE\n"
    "\n"
    "Options:\n"
    "  --help        show this text\n"
    "  --version     show the version\n";

bool HasDisplay() {
  for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* value = std::getenv(name);
    if (value && *value) return true;
  }
  return false;
}

int Main(int argc, char** argv, int StopSignals) {
  if (platform::TCommandLine("kestrin", UsageText, std::cout, std::cerr)
          .AnswerFirst({argv + 1, argv + argc})) {
    return platform::ExitDone;
  }
  // Without any display the launcher still runs, logs and ends; its messages go to standard
  // error. The receiving program inherits the environment unchanged.
  std::vector<char*> args(argv, argv + argc);
  static char platformOption[] = "-platform", offscreen[] = "offscreen";
  if (!HasDisplay()) args.insert(args.begin() + 1, {platformOption, offscreen});
  int count = int(args.size());
  args.push_back(nullptr);

  platform::TApplication app(count, args.data());
  platform::SetProgramParameters(std::vector<std::string>(args.data() + 1, args.data() + count));
  QApplication::setApplicationName(QStringLiteral("Kestrin"));
  QGuiApplication::setDesktopFileName(QStringLiteral("org.tessaly.Kestrin"));
  return platform::RunShowingExceptions([&] {
    launcher::TFormKestrin form;
    form.WatchStopSignals(StopSignals);
    form.show();
    return app.exec();
  });
}

}  // namespace

int main(int argc, char** argv) {
  // Before any thread exists, so that every thread has them blocked.
  const int stopSignals = launcher::BlockStopSignals();
  return platform::RunGuarded("kestrin", [&] { return Main(argc, argv, stopSignals); });
}
