#include "launcher/stop_signals.h"

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "platform/process.h"

namespace launcher {

namespace {

sigset_t StopSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (const int s : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&set, s);
  return set;
}

// Waits for the reaped end of Child for at most Milliseconds.
bool EndsWithin(platform::TChildWait& Child, int Milliseconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(Milliseconds);
  while (!Child.Ended(50)) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
  }
  return true;
}

}  // namespace

int BlockStopSignals() {
  const sigset_t set = StopSignals();
  if (pthread_sigmask(SIG_BLOCK, &set, nullptr) != 0) return -1;
  const int fd = signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
  if (fd < 0) pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
  return fd;
}

int TakeStopSignal(int Fd) {
  signalfd_siginfo info{};
  for (;;) {
    const ssize_t n = read(Fd, &info, sizeof info);
    if (n == ssize_t(sizeof info)) return int(info.ssi_signo);
    if (n < 0 && errno == EINTR) continue;
    return 0;
  }
}

void StopChild(pid_t Child, int Signal, int GraceMilliseconds) {
  if (Child <= 0) return;
  platform::TChildWait child(Child);
  kill(Child, Signal);
  if (EndsWithin(child, GraceMilliseconds)) return;
  kill(Child, SIGKILL);
  // A process in uninterruptible sleep may take a moment even now; not forever.
  constexpr int KilledGraceMilliseconds = 2000;
  EndsWithin(child, KilledGraceMilliseconds);
}

void EndBySignal(int Signal) {
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(Signal, &action, nullptr);
  sigset_t one;
  sigemptyset(&one);
  sigaddset(&one, Signal);
  // Pending for this thread while it is still blocked; delivered as the mask opens.
  raise(Signal);
  pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
  _exit(128 + Signal);
}

}  // namespace launcher
