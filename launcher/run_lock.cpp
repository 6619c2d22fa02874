#include "launcher/run_lock.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace launcher {

namespace {

constexpr const char* Prefix = "MVIni";
constexpr const char* LockSuffix = ".lock";

// "MVIni" + decimal digits + Suffix.
bool IsRunFileName(const std::string& Name, const std::string& Suffix) {
  const std::size_t prefix = std::char_traits<char>::length(Prefix);
  if (Name.size() <= prefix + Suffix.size() || Name.compare(0, prefix, Prefix) != 0 ||
      Name.compare(Name.size() - Suffix.size(), Suffix.size(), Suffix) != 0)
    return false;
  for (std::size_t i = prefix; i < Name.size() - Suffix.size(); ++i) {
    if (Name[i] < '0' || Name[i] > '9') return false;
  }
  return true;
}

bool OursAndRegular(const struct stat& St) {
  return S_ISREG(St.st_mode) && St.st_uid == geteuid();
}

}  // namespace

std::string RunLockPath(const std::string& InterfaceFile) {
  const std::string ini = ".ini";
  if (InterfaceFile.size() >= ini.size() &&
      InterfaceFile.compare(InterfaceFile.size() - ini.size(), ini.size(), ini) == 0)
    return InterfaceFile.substr(0, InterfaceFile.size() - ini.size()) + LockSuffix;
  return InterfaceFile + LockSuffix;
}

TRunLock::~TRunLock() {
  if (FFd >= 0) close(FFd);  // the lock goes; the file stays for the next run to find free
}

TRunLock::TTaken TRunLock::Take(const std::string& InterfaceFile) {
  Release();
  const std::string path = RunLockPath(InterfaceFile);
  std::string temporary = path.substr(0, path.rfind('/') + 1) + ".MVIni-lock-XXXXXX";
  const int fd = mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) return TTaken::NotMade;
  TTaken taken = TTaken::NotMade;
  if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
    if (link(temporary.c_str(), path.c_str()) == 0)
      taken = TTaken::Taken;
    else if (errno == EEXIST)
      taken = TTaken::Held;
  }
  unlink(temporary.c_str());
  if (taken == TTaken::Taken) {
    FFd = fd;
    FPath = path;
  } else {
    close(fd);
  }
  return taken;
}

void TRunLock::Release() {
  if (FFd < 0) return;
  unlink(FPath.c_str());
  close(FFd);
  FFd = -1;
  FPath.clear();
}

std::vector<std::string> RemoveFilesOfEndedRuns(const std::string& Folder) {
  std::vector<std::string> removed;
  const int dirFd = open(Folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd < 0) return removed;
  DIR* dir = fdopendir(dup(dirFd));
  if (!dir) {
    close(dirFd);
    return removed;
  }
  std::vector<std::string> locks;
  while (const dirent* entry = readdir(dir)) {
    if (IsRunFileName(entry->d_name, LockSuffix)) locks.emplace_back(entry->d_name);
  }
  closedir(dir);
  for (const std::string& lock : locks) {
    const int fd = openat(dirFd, lock.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat held {
    }, named{}, file{};
    // Still the same file after the lock is taken: one whose run ended just now and that a
    // new run made again would otherwise pass as free.
    if (fstat(fd, &held) == 0 && OursAndRegular(held) && flock(fd, LOCK_EX | LOCK_NB) == 0 &&
        fstatat(dirFd, lock.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
        named.st_dev == held.st_dev && named.st_ino == held.st_ino) {
      const std::string ini =
          lock.substr(0, lock.size() - std::char_traits<char>::length(LockSuffix)) + ".ini";
      if (fstatat(dirFd, ini.c_str(), &file, AT_SYMLINK_NOFOLLOW) == 0 && OursAndRegular(file) &&
          unlinkat(dirFd, ini.c_str(), 0) == 0)
        removed.push_back(Folder + ini);
      unlinkat(dirFd, lock.c_str(), 0);
    }
    close(fd);
  }
  close(dirFd);
  return removed;
}

}  // namespace launcher
