#include "platform/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

extern char** environ;

namespace platform {

namespace {

// Sleeps the whole time, however often a signal cuts the sleep short.
void SleepFor(int Milliseconds) {
  timespec t{Milliseconds / 1000, long(Milliseconds % 1000) * 1000000L};
  while (nanosleep(&t, &t) != 0 && errno == EINTR) {
  }
}

// posix_spawn takes char* const[] but changes none of the strings.
std::vector<char*> NullTerminated(const std::vector<std::string>& Strings) {
  std::vector<char*> pointers;
  pointers.reserve(Strings.size() + 1);
  for (const std::string& s : Strings) pointers.push_back(const_cast<char*>(s.c_str()));
  pointers.push_back(nullptr);
  return pointers;
}

int ResetSignals(posix_spawnattr_t* Attributes) {
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  int error = ::posix_spawnattr_setsigmask(Attributes, &none);
  if (error == 0) error = ::posix_spawnattr_setsigdefault(Attributes, &all);
  if (error == 0) {
    error = ::posix_spawnattr_setflags(Attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  }
  return error;
}

int PassDescriptor(posix_spawn_file_actions_t* Actions, int Fd, int PassAs) {
  int error = ::posix_spawn_file_actions_adddup2(Actions, Fd, PassAs);
  if (error == 0) error = ::posix_spawn_file_actions_addclosefrom_np(Actions, PassAs + 1);
  return error;
}

}  // namespace

TSpawned SpawnProgram(const std::string& Program, const std::vector<std::string>& Arguments,
                      const TSpawnOptions& Options) {
  TSpawned result;
  const bool passing = Options.PassFd >= 0;
  int passFd = Options.PassFd;
  int moved = -1;
  // dup2 onto the same number would keep close-on-exec set, so such a descriptor goes over
  // from another number.
  if (passing && passFd == Options.PassAs) {
    moved = ::fcntl(passFd, F_DUPFD_CLOEXEC, Options.PassAs + 1);
    if (moved < 0) {
      result.Error = errno;
      return result;
    }
    passFd = moved;
  }

  posix_spawnattr_t attributes;
  posix_spawn_file_actions_t actions;
  bool haveAttributes = false, haveActions = false;
  result.Error = ::posix_spawnattr_init(&attributes);
  if (result.Error == 0) {
    haveAttributes = true;
    result.Error = ResetSignals(&attributes);
  }
  if (result.Error == 0 && passing) {
    result.Error = ::posix_spawn_file_actions_init(&actions);
    if (result.Error == 0) {
      haveActions = true;
      result.Error = PassDescriptor(&actions, passFd, Options.PassAs);
    }
  }
  if (result.Error == 0) {
    const std::vector<char*> argv = NullTerminated(Arguments);
    const std::vector<char*> envp =
        Options.Environment ? NullTerminated(*Options.Environment) : std::vector<char*>{};
    pid_t pid = -1;
    result.Error =
        ::posix_spawn(&pid, Program.c_str(), haveActions ? &actions : nullptr, &attributes,
                      argv.data(), Options.Environment ? envp.data() : environ);
    if (result.Error == 0) result.Pid = pid;
  }
  if (haveActions) ::posix_spawn_file_actions_destroy(&actions);
  if (haveAttributes) ::posix_spawnattr_destroy(&attributes);
  if (moved >= 0) ::close(moved);
  return result;
}

TChildWait::TChildWait(pid_t Pid) : FPid(Pid) {
#ifdef SYS_pidfd_open
  FPidFd = int(syscall(SYS_pidfd_open, Pid, 0));
#endif
}

TChildWait::~TChildWait() {
  if (FPidFd >= 0) close(FPidFd);
}

bool TChildWait::Ended(int Milliseconds) {
  if (Reaped()) return true;
  if (FPidFd >= 0) {
    pollfd fd{FPidFd, POLLIN, 0};
    if (poll(&fd, 1, Milliseconds) < 0 && errno != EINTR) SleepFor(Milliseconds);
  } else {
    SleepFor(Milliseconds);
  }
  return Reaped();
}

bool TChildWait::Reaped() {
  int status = 0;
  for (;;) {
    const pid_t r = waitpid(FPid, &status, WNOHANG);
    if (r == FPid) return true;
    if (r == 0) return false;
    if (errno == EINTR) continue;
    return true;  // ECHILD: nothing left to wait for
  }
}

}  // namespace platform
