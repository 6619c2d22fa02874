// The shell's "open" action on a web address or a file, and a recorder that tests put in its
// place so that no browser ever starts.
#pragma once

#include <string>
#include <vector>

namespace platform {

// Opens Target with the user's preferred program (xdg-open); false when that failed.
bool ShellOpen(const std::string& Target);

class ShellOpenRecorder {
 public:
  ShellOpenRecorder();
  ~ShellOpenRecorder();
  ShellOpenRecorder(const ShellOpenRecorder&) = delete;
  ShellOpenRecorder& operator=(const ShellOpenRecorder&) = delete;
  const std::vector<std::string>& Targets() const { return FTargets; }

 private:
  friend bool ShellOpen(const std::string&);
  std::vector<std::string> FTargets;
  ShellOpenRecorder* FOuter;
};

}  // namespace platform
