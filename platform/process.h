// Starting another program, with the signal handling of a fresh start: whatever this process
// has ignored, caught or blocked for itself is not handed on.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace platform {

struct TSpawnOptions {
  // The program's environment, one "NAME=value" an entry. Unset: it gets ours.
  std::optional<std::vector<std::string>> Environment;
  // When PassFd >= 0: that descriptor of ours is descriptor PassAs in the program, and every
  // descriptor above PassAs is closed there, so that nothing we hold without close-on-exec
  // leaks into it. The descriptors below PassAs (the standard streams) stay as they are.
  int PassFd = -1;
  int PassAs = -1;
};

struct TSpawned {
  pid_t Pid = -1;
  // 0 when the program has started; else the errno value of what failed.
  int Error = 0;
};

// Starts Program with Arguments as its argument vector (Arguments[0] included), with every
// signal at its default handling and none blocked. The caller waits for it.
TSpawned SpawnProgram(const std::string& Program, const std::vector<std::string>& Arguments,
                      const TSpawnOptions& Options = {});

// Waits for one child process in slices, so that the caller can handle its events between
// them. A pidfd wakes the wait as soon as the child ends; where the kernel has none, each slice
// simply sleeps.
class TChildWait {
 public:
  explicit TChildWait(pid_t Pid);
  ~TChildWait();
  TChildWait(const TChildWait&) = delete;
  TChildWait& operator=(const TChildWait&) = delete;

  // Waits at most Milliseconds; true once the child has ended and has been reaped.
  bool Ended(int Milliseconds);

 private:
  bool Reaped();

  pid_t FPid;
  int FPidFd = -1;
};

}  // namespace platform
