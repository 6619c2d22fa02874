// iniprofile: the INI profile functions for scripts that write or read interface files. It
// reads and writes exactly as the programs do, so a file it writes reads the same in them.
#include <algorithm>
#include <cstdio>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/command_line.h"
#include "platform/ini_profile.h"

namespace {

constexpr const char* UsageText =
    "Usage: iniprofile get FILE SECTION KEY [DEFAULT]\n"
    "       iniprofile set FILE SECTION KEY VALUE\n"
    "       iniprofile del FILE SECTION KEY\n"
    "       iniprofile sections FILE\n"
    "       iniprofile keys FILE SECTION\n"
    "\n"
    "Reads and writes INI files (interface files, camera.ini, Kestrin.ini, Tessaly.ini)\n"
    "exactly as Tessaly and Kestrin do.\n"
    "\n"
    "  get       writes the value's bytes to standard output, with nothing added (no line\n"
    "            break). A missing key gives DEFAULT, or nothing. Values are read up to\n"
    "            2047 bytes, without surrounding blanks and one pair of outer quotes.\n"
    "  set       writes one key; a missing file or section is created, a new key goes to\n"
    "            the end of its section. Every other byte of the file stays as it was.\n"
    "  del       removes one key (the section header stays).\n"
    "  sections  lists the section names, one a line.\n"
    "  keys      lists the key names of SECTION, one a line.\n"
    "\n"
    "Section and key names match without regard to case. Arguments are taken as bytes.\n"
    "Files are replaced in one step, so a failed write leaves the old file intact.\n"
    "Only regular files of up to 16 MiB are read; a FIFO, a device or a larger file is refused\n"
    "with a message and exit status 1, and is never written.\n"
    "Exit status: 0 on success, 1 when the file cannot be read or written or the value is\n"
    "refused (a line break in it, for example), 2 for wrong arguments.\n"
    "\n"
    "Options:\n"
    "  --help     show this text\n"
    "  --version  show the version\n";

void PrintLines(const std::vector<std::string>& Lines) {
  for (const std::string& l : Lines) std::cout << l << '\n';
}

// A command with FILE and the names after it: how many, and how they read in a usage line.
struct TCommand {
  const char* Name;
  std::size_t Min, Max;
  const char* Arguments;
};
constexpr TCommand Commands[] = {{"get", 4, 5, "get FILE SECTION KEY [DEFAULT]"},
                                 {"set", 5, 5, "set FILE SECTION KEY VALUE"},
                                 {"del", 4, 4, "del FILE SECTION KEY"},
                                 {"sections", 2, 2, "sections FILE"},
                                 {"keys", 3, 3, "keys FILE SECTION"}};

// The names after the options: the command, FILE, and the command's own; a value may look like
// an option ("--").
int RunIniCommand(const std::vector<std::string>& Args, const platform::TCommandLine& Line) {
  if (Args.empty()) throw platform::ECommandLineError("no command");
  const std::string& command = Args[0];
  const auto known = std::find_if(std::begin(Commands), std::end(Commands),
                                  [&](const TCommand& C) { return command == C.Name; });
  if (known == std::end(Commands)) throw platform::ECommandLineError("unknown command " + command);
  platform::ExpectNames(Args, known->Min, known->Max, known->Arguments);
  const std::size_t n = Args.size();
  platform::TProfileFile file(Args[1]);
  std::string error;
  // A file that is not read (a FIFO, a device, too large) gives no output that could pass for
  // its contents.
  const auto fail = [&](const std::string& Why) { return Line.Fail(Args[1] + ": " + Why); };
  if (command != "set" && command != "del" && !file.ReadFailure().empty()) {
    return fail(file.ReadFailure());
  }
  if (command == "get") {
    const std::string value = file.Get(Args[2], Args[3], n == 5 ? Args[4].c_str() : nullptr);
    std::fwrite(value.data(), 1, value.size(), stdout);
    return std::fflush(stdout) == 0 ? platform::ExitDone : platform::ExitFailed;
  }
  if (command == "set") {
    return file.Set(Args[2], Args[3], Args[4], &error) ? platform::ExitDone : fail(error);
  }
  if (command == "del") {
    return file.Delete(Args[2], Args[3], &error) ? platform::ExitDone : fail(error);
  }
  PrintLines(command == "sections" ? file.SectionNames() : file.KeyNames(Args[2]));
  return platform::ExitDone;
}

}  // namespace

int main(int argc, char** argv) {
  return platform::RunGuarded("iniprofile", [&] {
    platform::TCommandLine line("iniprofile", UsageText, std::cout, std::cerr);
    line.OptionsBeforeFirstName();
    return line.Run({argv + 1, argv + argc}, [&](const std::vector<std::string>& Names) {
      return RunIniCommand(Names, line);
    });
  });
}
