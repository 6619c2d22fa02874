// The record that a run still owns its interface file MVIni<N>.ini (which holds the patient's
// name and birth date): the lock file MVIni<N>.lock beside it, locked (flock) by the run from
// just after the interface file's name is taken until the file is gone. A run that ends without
// its clean-up (killed, a power cut) leaves both; the next run in the folder finds the lock free
// and removes them. An interface file without a lock file is never touched: it was not written
// by a run that keeps this record.
#pragma once

#include <string>
#include <vector>

namespace launcher {

class TRunLock {
 public:
  TRunLock() = default;
  ~TRunLock();
  TRunLock(const TRunLock&) = delete;
  TRunLock& operator=(const TRunLock&) = delete;

  enum class TTaken {
    Taken,    // the lock file is ours and locked
    Held,     // another run's lock file is there: the name is not ours to use
    NotMade,  // no record can be made here (the run goes on without one)
  };
  // Makes and locks the lock file of InterfaceFile ("…/MVIni<N>.ini"). The file appears already
  // locked (it is linked into place after locking), so no other run ever sees it free.
  TTaken Take(const std::string& InterfaceFile);
  // Removes the lock file and lets it go; call after the interface file has been removed.
  void Release();

 private:
  int FFd = -1;
  std::string FPath;
};

// The lock file's path for an interface file: "MVIni<N>.ini" -> "MVIni<N>.lock".
std::string RunLockPath(const std::string& InterfaceFile);

// In Folder (ending in "/"): for every MVIni<N>.lock of this user whose lock can be taken (its
// run has ended), removes MVIni<N>.ini when it is a regular file of this user (a link or
// another's file stays), then the lock file. Returns the removed interface files.
std::vector<std::string> RemoveFilesOfEndedRuns(const std::string& Folder);

}  // namespace launcher
