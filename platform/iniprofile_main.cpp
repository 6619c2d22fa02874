// iniprofile: the INI profile functions for scripts that write or read interface files. It
// reads and writes exactly as the programs do, so a file it writes reads the same in them.
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "platform/command_line.h"
#include "platform/ini_profile.h"

#ifndef TESSALY_VERSION
#define TESSALY_VERSION "unknown"
#endif

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

int Usage() {
  std::cerr << UsageText;
  return 2;
}

int Fail(const std::string& What) {
  std::cerr << "iniprofile: " << What << "\n";
  return 1;
}

void PrintLines(const std::vector<std::string>& Lines) {
  for (const std::string& l : Lines) std::cout << l << '\n';
}

int Main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) return Usage();
  const std::string& command = args[0];
  if (command == "--help" || command == "-h") {
    std::cout << UsageText;
    return 0;
  }
  if (command == "--version") {
    std::cout << "iniprofile " << TESSALY_VERSION << "\n";
    return 0;
  }
  const std::size_t n = args.size();
  if (n < 2) return Usage();
  platform::TProfileFile file(args[1]);
  std::string error;
  // A file that is not read (a FIFO, a device, too large) gives no output that could pass for
  // its contents.
  const auto unreadable = [&] { return !file.ReadFailure().empty(); };
  const auto tellUnreadable = [&] { return Fail(args[1] + ": " + file.ReadFailure()); };
  if (command == "get" && (n == 4 || n == 5)) {
    if (unreadable()) return tellUnreadable();
    const std::string value = file.Get(args[2], args[3], n == 5 ? args[4].c_str() : nullptr);
    std::fwrite(value.data(), 1, value.size(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
  }
  if (command == "set" && n == 5) {
    return file.Set(args[2], args[3], args[4], &error) ? 0 : Fail(args[1] + ": " + error);
  }
  if (command == "del" && n == 4) {
    return file.Delete(args[2], args[3], &error) ? 0 : Fail(args[1] + ": " + error);
  }
  if (command == "sections" && n == 2) {
    if (unreadable()) return tellUnreadable();
    PrintLines(file.SectionNames());
    return 0;
  }
  if (command == "keys" && n == 3) {
    if (unreadable()) return tellUnreadable();
    PrintLines(file.KeyNames(args[2]));
    return 0;
  }
  return Usage();
}

}  // namespace

int main(int argc, char** argv) {
  return platform::RunGuarded("iniprofile", [&] { return Main(argc, argv); });
}
