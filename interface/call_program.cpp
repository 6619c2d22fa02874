// Starting the receiving program and waiting for its end.
#include <poll.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "interface/interfaceba.h"
#include "platform/application.h"
#include "platform/paths.h"
#include "platform/process.h"

namespace iface {

namespace {

// Waits for one child process, in slices, so that the caller can handle its events between
// them. A pidfd wakes the wait as soon as the child ends; where the kernel has none, each slice
// simply sleeps.
class TChildWait {
 public:
  explicit TChildWait(pid_t Pid) : FPid(Pid) {
#ifdef SYS_pidfd_open
    FPidFd = int(syscall(SYS_pidfd_open, Pid, 0));
#endif
  }
  ~TChildWait() {
    if (FPidFd >= 0) close(FPidFd);
  }
  TChildWait(const TChildWait&) = delete;
  TChildWait& operator=(const TChildWait&) = delete;

  // True once the child has ended and has been reaped.
  bool Ended(int Milliseconds) {
    if (Reaped()) return true;
    if (FPidFd >= 0) {
      pollfd fd{FPidFd, POLLIN, 0};
      if (poll(&fd, 1, Milliseconds) < 0 && errno != EINTR) Sleep(Milliseconds);
    } else {
      Sleep(Milliseconds);
    }
    return Reaped();
  }

 private:
  bool Reaped() {
    int status = 0;
    for (;;) {
      const pid_t r = waitpid(FPid, &status, WNOHANG);
      if (r == FPid) return true;
      if (r == 0) return false;
      if (errno == EINTR) continue;
      return true;  // ECHILD: nothing left to wait for
    }
  }
  static void Sleep(int Milliseconds) {
    timespec t{Milliseconds / 1000, long(Milliseconds % 1000) * 1000000L};
    while (nanosleep(&t, &t) != 0 && errno == EINTR) {
    }
  }

  pid_t FPid;
  int FPidFd = -1;
};

}  // namespace

platform::TStatus TInterfaceBA::ProgramExists() const {
  if (platform::FileExists(FProgramFile)) return {};
  return platform::TStatus::Failure("Das Programm '" + FProgramFile +
                                    "' existiert nicht! [ProgramFile]");
}

std::string TInterfaceBA::BuildCommandLine() const {
  std::string cmd = "\"" + FProgramFile + "\"";
  for (const std::string& p : FParameters) {
    if (!p.empty()) cmd += " \"" + p + "\"";
  }
  return cmd;
}

TInterfaceBA::TProgramCall TInterfaceBA::CallProgram() {
  if (platform::TStatus exists = ProgramExists(); !exists) return {std::move(exists), {}};
  const std::string cmd = BuildCommandLine();

  // An argument vector, never a shell: blanks, quotes and other characters in the paths reach
  // the program exactly as they are.
  std::vector<std::string> args{FProgramFile};
  for (const std::string& p : FParameters) {
    if (!p.empty()) args.push_back(p);
  }
  // The program starts as from a fresh login: default signal handling and no blocked signals,
  // whatever the caller has set up for itself.
  const auto [pid, rc] = platform::SpawnProgram(FProgramFile, args);
  if (rc != 0) {
    return {platform::TStatus::Failure("Fehler bei Programmaufruf: " + cmd), std::strerror(rc)};
  }

  // "Ready for input" has no meaning here: a started program counts as ready at once.
  TChildWait child(pid);
  while (!child.Ended(100)) platform::ProcessPendingEvents();
  return {};
}

}  // namespace iface
