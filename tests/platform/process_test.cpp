// Starting a program: what it gets of this process's signal handling, descriptors and
// environment.
#include "platform/process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

namespace {

TEST(SpawnProgram, TheProgramGetsDefaultSignalsItsOneDescriptorAndTheGivenEnvironment) {
  // What a caller may have set up for itself: a signal ignored, one blocked, and a descriptor
  // open without close-on-exec.
  void (*const oldUsr1)(int) = ::signal(SIGUSR1, SIG_IGN);
  sigset_t usr2, oldMask;
  sigemptyset(&usr2);
  sigaddset(&usr2, SIGUSR2);
  ::sigprocmask(SIG_BLOCK, &usr2, &oldMask);
  const int leaky = ::fcntl(STDERR_FILENO, F_DUPFD, 10);
  ASSERT_GE(leaky, 10);
  int pipeFds[2];
  ASSERT_EQ(::pipe2(pipeFds, O_CLOEXEC), 0);

  // The shell reports on its descriptor 3, which is the pipe.
  const std::string script = "[ -e /proc/$$/fd/" + std::to_string(leaky) +
                             " ] && echo leaked >&3\n"
                             "echo \"$MARK\" >&3\n"
                             "while read -r l; do case $l in Sig[BI]*) echo \"$l\" >&3;; esac; "
                             "done </proc/$$/status\n";
  platform::TSpawnOptions options;
  options.Environment = std::vector<std::string>{"MARK=given"};
  options.PassFd = pipeFds[1];
  options.PassAs = 3;
  const platform::TSpawned spawned =
      platform::SpawnProgram("/bin/sh", {"sh", "-c", script}, options);
  ::sigprocmask(SIG_SETMASK, &oldMask, nullptr);
  ::signal(SIGUSR1, oldUsr1);
  ::close(leaky);
  ::close(pipeFds[1]);
  ASSERT_EQ(spawned.Error, 0);

  std::string report;
  char buffer[256];
  for (ssize_t n; (n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;) {
    report.append(buffer, std::size_t(n));
  }
  ::close(pipeFds[0]);
  int status = -1;
  ASSERT_EQ(::waitpid(spawned.Pid, &status, 0), spawned.Pid);
  // The masks as /proc shows them, bit N-1 for signal N. Only the signals below the real-time
  // ones are looked at: glibc hands the two it keeps for itself (32 and 33) on as ignored.
  const auto ordinary = [&](const std::string& Name) {
    const std::size_t at = report.find(Name + ":\t");
    if (at == std::string::npos) return ~0ull;
    return std::stoull(report.substr(at + Name.size() + 2, 16), nullptr, 16) & 0x7FFFFFFFull;
  };
  EXPECT_EQ(ordinary("SigBlk"), 0u) << report;
  EXPECT_EQ(ordinary("SigIgn"), 0u) << report;
  EXPECT_EQ(report.substr(0, report.find("Sig")), "given\n");
}

}  // namespace
