// The shell's "open" action on a web address or a file, and a recorder that tests put in its
// place so that no browser or viewer ever starts.
#pragma once

#include <string>
#include <vector>

namespace platform {

// Opens Target (a web address, or a file path, relative ones from the current directory) with
// the user's preferred program, as xdg-open does; false when Target is empty or not a valid
// address, or the desktop could not open it. While a ShellOpenRecorder is alive, Target is only
// recorded and true returned.
bool ShellOpen(const std::string& Target);

// Captures every target opened while it is alive, in order. Recorders nest; the most recently
// created one that is still alive receives the targets.
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
