// The overlay program's entry: the application, its three windows in their order, and the
// message loop. The executable calls it; the screenshot tool calls it with a script that acts
// on the real windows once they are shown.
#pragma once

#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

namespace overlay {

class TFormMain;
class TFormAssistent;
class TAboutBox;

struct TProgramWindows {
  TFormMain* FormMain = nullptr;
  TFormAssistent* FormAssistent = nullptr;
  TAboutBox* AboutBox = nullptr;
};

// Answers -h, --help and --version as parameter 1 on Out without opening a window, as every tool
// does (platform::TCommandLine::AnswerFirst): returns true when one of them was given (the
// program then ends with status 0). Any other parameter 1 is the program's.
bool AnswerInformationalArguments(const std::vector<std::string>& Args, std::ostream& Out);

// Creates the application, then the main window (whose start-up runs while it is created),
// the positioning assistant and the about box, wires them, shows the main window, runs
// AfterStart (when given) and the message loop. An exception escaping an event handler is
// shown and the program goes on; one escaping the start-up is shown and the program ends.
int RunTessaly(int Argc, char** Argv, const std::function<void(TProgramWindows&)>& AfterStart = {});

}  // namespace overlay
