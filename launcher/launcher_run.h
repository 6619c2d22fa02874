// One run of the launcher: read the interface file from the command line, complete each
// picture's calibration, write the completed file under a fresh name beside the program (or in
// the user's state folder), start the receiving program with it, wait, and clean up. Everything
// goes to the log; a failure ends the run with an error box.
#pragma once

#include <sys/types.h>

#include <functional>
#include <memory>
#include <string>

#include "interface/interfaceba.h"
#include "launcher/general.h"
#include "launcher/run_lock.h"

namespace launcher {

// The caption of every error box of the launcher.
inline constexpr const char* ErrorCaption = "Error in Kestrin";

// The local date and time as this user's locale writes them (its "%c"), for the "Start" and
// "Close" lines; ISO 8601 ("2026-12-09 22:30:00") where no locale is set (LC_ALL, LC_TIME, LANG
// unset or "C" / "POSIX") or the one named is not installed.
std::string DateTimeText();

// How long a stopped launcher gives its receiver to end before it kills it.
inline constexpr int ReceiverGraceMilliseconds = 3000;

class TLauncherRun {
 public:
  // Starts the log's session: a new log, so that it holds this run only, unless another run
  // still writes the log.
  TLauncherRun();
  ~TLauncherRun();
  TLauncherRun(const TLauncherRun&) = delete;
  TLauncherRun& operator=(const TLauncherRun&) = delete;

  // Called before an error box, to make the launcher's window visible again.
  std::function<void()> ShowWindow;

  // The "Start" line, the removal of the interface files of ended runs, and the run; an exception
  // that escapes the run is logged and reported like every other failure, so the launcher always
  // ends.
  void Start();
  void RunAnalysis();
  // The full path of the receiving program called Name in Kestrin.ini, or empty.
  std::string FindProgramFile(const std::string& Name);
  // Removes the generated file and ends the log. Runs once; later calls do nothing.
  void Close();
  // For a stop signal (SIGTERM, SIGINT, SIGHUP): hands it on to a running receiver and waits
  // for it (ReceiverGraceMilliseconds, then kills it), closes the run and ends the process as
  // the signal would have.
  [[noreturn]] void Stop(int Signal);

  const std::string& OutputFileName() const { return FOutputFileName; }
  // True once a failure has been reported to the user.
  bool Failed() const { return FFailed; }

 private:
  void Fail(const std::string& Text);
  // Writes the interface file as the first "MVIni" + N + ".ini" in platform::WritableFolder
  // (beside the program) that does not exist, private, and sets FOutputFileName to it (also when
  // WriteIni refuses: the receiver then gets the name of a file that does not exist).
  platform::TStatus WriteOutputFile();
  void CompleteCalibration();
  void KeepRequestedCopy();

  std::unique_ptr<TLogSession> FLog;
  std::string FOutputFileName;
  TRunLock FRunLock;  // the record that this run still owns FOutputFileName
  pid_t FReceiver = -1;
  std::unique_ptr<iface::TInterfaceBA> FInterface;
  bool FFailed = false;
  bool FClosed = false;
};

}  // namespace launcher
