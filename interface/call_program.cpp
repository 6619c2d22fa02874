#include "interface/call_program.h"

#include <cstring>

#include "interface/interfaceba.h"
#include "platform/application.h"
#include "platform/paths.h"
#include "platform/process.h"

namespace iface {

platform::TStatus ProgramFileExists(const std::string& Program) {
  if (platform::FileExists(Program)) return {};
  return platform::TStatus::Failure("Das Programm '" + Program +
                                    "' existiert nicht! [ProgramFile]");
}

std::string CommandLineText(const std::string& Program,
                            const std::vector<std::string>& Parameters) {
  std::string cmd = "\"" + Program + "\"";
  for (const std::string& p : Parameters) {
    if (!p.empty()) cmd += " \"" + p + "\"";
  }
  return cmd;
}

TProgramCall RunProgram(const std::string& Program, const std::vector<std::string>& Parameters,
                        const std::function<void(pid_t)>& Running) {
  if (platform::TStatus exists = ProgramFileExists(Program); !exists)
    return {std::move(exists), {}};

  // An argument vector, never a shell: blanks, quotes and other characters in the paths reach
  // the program exactly as they are.
  std::vector<std::string> args{Program};
  for (const std::string& p : Parameters) {
    if (!p.empty()) args.push_back(p);
  }
  // The program starts as from a fresh login: default signal handling and no blocked signals,
  // whatever the caller has set up for itself.
  const auto [pid, rc] = platform::SpawnProgram(Program, args);
  if (rc != 0) {
    return {platform::TStatus::Failure("Fehler bei Programmaufruf: " +
                                       CommandLineText(Program, Parameters)),
            std::strerror(rc)};
  }

  // "Ready for input" has no meaning here: a started program counts as ready at once.
  platform::TChildWait child(pid);
  if (Running) Running(pid);
  while (!child.Ended(100)) platform::ProcessPendingEvents();
  if (Running) Running(-1);
  return {};
}

// TInterfaceBA's part of it: the record's program file and parameters.

platform::TStatus TInterfaceBA::ProgramExists() const {
  return ProgramFileExists(FProgramFile);
}

std::string TInterfaceBA::BuildCommandLine() const {
  return CommandLineText(FProgramFile, FParameters);
}

TInterfaceBA::TProgramCall TInterfaceBA::CallProgram() {
  return RunProgram(FProgramFile, FParameters);
}

}  // namespace iface
