// The launcher's log: one plain text file (beside the program, or where platform/paths.h places
// it) that says what a run did and why it failed. Every run starts a new log, unless another
// launcher is still writing it: then the runs share it, each run's lines kept together.
//
// The log holds picture paths and patient data, so it is the user's alone (0600). Two locks on
// it (open-file-description locks on single bytes, so that they also hold between two runs in
// one process): every run holds the "in use" byte shared while it runs, and only a run that can
// take it exclusively starts a new log; every write holds the "write" byte exclusively.
#pragma once

#include <string>
#include <string_view>

namespace launcher {

// The program directory + "Kestrin.log".
std::string LogFileName();

// Text with every control character and the backslash written as an escape ("\r", "\n", "\t",
// "\\", else "\x" and two hexadecimal digits), so that a value taken from outside (a camera
// model, a path, an interface file's value) can neither add lines of its own to the log nor
// hide in it; every other byte stays as it is.
std::string EscapeLogText(std::string_view Text);

// Appends Text, escaped, and a line end (CR LF). The file is opened and closed for every line,
// so each line is on disk when the call returns; a line that cannot be written is dropped.
// While a TLogSession of a run that shares the log lives, its lines are kept and written as
// one block at its end instead.
void WriteLog(const std::string& Text);
// Deletes the log unless another run uses it (within a TLogSession: empties the session's own
// log then); nothing happens when there is none.
void DeleteLogFile();

// One run's hold on the log, from the construction of its launcher to its close. When no other
// run uses the log, the run starts a new one and writes through: each line is on disk at once,
// and blocks that other runs finish meanwhile are moved behind this run's later lines. When
// another run uses it, nothing is deleted and the lines go in as one block at End. Sessions
// nest: the newest one is the one WriteLog serves, until it ends.
class TLogSession {
 public:
  TLogSession();
  ~TLogSession();
  TLogSession(const TLogSession&) = delete;
  TLogSession& operator=(const TLogSession&) = delete;

  // Writes a kept block and lets the log go; later calls do nothing.
  void End();

 private:
  friend void WriteLog(const std::string& Text);
  friend void DeleteLogFile();

  std::string FPath;      // the log's name when the session began
  int FFd = -1;           // holds the "in use" lock
  bool FThrough = false;  // no other run used the log at the start
  long long FEnd = 0;     // where this run's next line goes, while writing through
  std::string FBlock;     // the lines kept for End
  TLogSession* FOuter = nullptr;
  bool FEnded = false;
};

}  // namespace launcher
