#include "platform/file_write.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/file_io.h"

namespace platform {

namespace {

void SetError(std::string* Error, int Errno) {
  if (Error) *Error = std::strerror(Errno);
}

std::string DirectoryOf(const std::string& Path) {
  const std::size_t slash = Path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return Path.substr(0, slash);
}

// The file a chain of symbolic links ends at (the target need not exist yet).
std::string FollowLinks(std::string Path) {
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st {};
    if (lstat(Path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return Path;
    std::vector<char> target(std::size_t(st.st_size > 0 ? st.st_size : PATH_MAX) + 1);
    const ssize_t n = readlink(Path.c_str(), target.data(), target.size() - 1);
    if (n < 0) return Path;
    std::string next(target.data(), std::size_t(n));
    if (next.empty() || next[0] != '/') next = DirectoryOf(Path) + "/" + next;
    Path = next;
  }
  return Path;
}

}  // namespace

bool WriteFileAtomically(const std::string& Path, std::string_view Bytes, std::string* Error,
                         const TFileWriteOptions& Options) {
  const std::string target = Options.FollowSymlink ? FollowLinks(Path) : Path;
  struct stat old {};
  const bool exists = lstat(target.c_str(), &old) == 0 && !S_ISLNK(old.st_mode);
  if (exists && !S_ISREG(old.st_mode)) {
    if (Error) *Error = "not a regular file";
    return false;
  }
  mode_t mode;
  if (Options.Mode) {
    mode = *Options.Mode;
  } else if (exists) {
    mode = old.st_mode & 07777;
  } else {
    const mode_t mask = umask(0);
    umask(mask);
    mode = 0666 & ~mask;
  }

  const std::size_t slash = target.rfind('/');
  const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
  std::string temp = DirectoryOf(target) + "/." + name + ".XXXXXX";
  // mkstemp creates the file 0600 and never follows a link; the final mode is set before the
  // rename, so no moment exists in which the new file is more open than it will be.
  const int fd = mkstemp(temp.data());
  if (fd < 0) {
    SetError(Error, errno);
    return false;
  }
  bool ok = WriteAt(fd, Bytes.data(), Bytes.size(), 0);
  int err = errno;
  if (ok && exists && !Options.Mode) {
    // Keep the old file's group where we may (a shared folder's group stays).
    if (fchown(fd, old.st_uid, old.st_gid) != 0) {
      // Not our file to give away: the rename still leaves ours, with the old permissions.
    }
  }
  if (ok && fchmod(fd, mode) != 0) ok = false, err = errno;
  if (ok && fsync(fd) != 0) ok = false, err = errno;
  if (close(fd) != 0 && ok) ok = false, err = errno;
  if (ok && rename(temp.c_str(), target.c_str()) != 0) ok = false, err = errno;
  if (!ok) {
    unlink(temp.c_str());
    SetError(Error, err);
    return false;
  }
  // Make the rename itself durable; a failure here leaves a complete file either way.
  const int dir = open(DirectoryOf(target).c_str(), O_RDONLY | O_DIRECTORY);
  if (dir >= 0) {
    fsync(dir);
    close(dir);
  }
  return true;
}

bool ReadWholeFile(const std::string& Path, std::string* Bytes) {
  Bytes->clear();
  const int fd = open(Path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char buffer[65536];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      close(fd);
      Bytes->clear();
      return false;
    }
    if (n == 0) break;
    Bytes->append(buffer, std::size_t(n));
  }
  close(fd);
  return true;
}

bool MakePrivateFolder(const std::string& Path, std::string* Error) {
  const auto fail = [&](const std::string& Why) {
    if (Error) *Error = Path + ": " + Why;
    return false;
  };
  const bool made = mkdir(Path.c_str(), 0700) == 0;
  if (!made && errno != EEXIST) return fail(std::strerror(errno));
  // Opened without following a link, and checked on what was opened, so that nothing can be
  // swapped in between the check and the answer.
  const int fd = open(Path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    return fail(errno == ELOOP || errno == ENOTDIR ? "not a folder (a link or a file)"
                                                   : std::strerror(errno));
  }
  struct stat st {};
  bool ok = fstat(fd, &st) == 0;
  // A folder just made may have lost bits to the umask; it is ours to set.
  if (ok && made && st.st_uid == geteuid() && (st.st_mode & 0777) != 0700) {
    ok = fchmod(fd, 0700) == 0 && fstat(fd, &st) == 0;
  }
  const int err = errno;
  close(fd);
  if (!ok) return fail(std::strerror(err));
  if (st.st_uid != geteuid()) return fail("the folder belongs to another user");
  if ((st.st_mode & 0777) != 0700) return fail("the folder is open to other users");
  return true;
}

std::string TempVariableFolder() {
  for (const char* name : {"TEMP", "TMPDIR"}) {
    const char* value = std::getenv(name);
    if (value && *value) {
      std::string dir = value;
      if (dir.back() != '/') dir += '/';
      return dir;
    }
  }
  return {};
}

namespace {

// Parent + Name + "/" when that is, or can be made, a private folder; else a fresh private
// folder Parent + Name + "-XXXXXX", kept for the rest of the run. Parent ends in "/".
std::string PrivateFolderIn(const std::string& Parent, const std::string& Name,
                            std::string* Error) {
  const std::string named = Parent + Name;
  if (MakePrivateFolder(named, Error)) return named + "/";
  static std::mutex lock;
  static std::string fresh;
  const std::lock_guard<std::mutex> guard(lock);
  if (fresh.rfind(named + "-", 0) == 0 && fresh.size() == named.size() + 7 &&
      MakePrivateFolder(fresh, nullptr)) {
    return fresh + "/";
  }
  std::string pattern = named + "-XXXXXX";
  // mkdtemp makes a new folder 0700 or fails; it never takes one that is there.
  if (mkdtemp(pattern.data()) == nullptr) {
    if (Error) *Error = pattern + ": " + std::strerror(errno);
    return {};
  }
  fresh = pattern;
  return fresh + "/";
}

}  // namespace

std::string TempDirectory(std::string* Error) {
  const std::string own = "tessaly-" + std::to_string(geteuid());
  if (const std::string shared = TempVariableFolder(); !shared.empty()) {
    return PrivateFolderIn(shared, own, Error);
  }
  std::string cache;
  if (const char* xdg = std::getenv("XDG_CACHE_HOME"); xdg && *xdg == '/') {
    cache = xdg;
  } else if (const char* home = std::getenv("HOME"); home && *home == '/') {
    struct stat st {};
    if (stat(home, &st) == 0 && S_ISDIR(st.st_mode)) cache = std::string(home) + "/.cache";
  }
  if (!cache.empty()) {
    mkdir(cache.c_str(), 0700);
    const std::string dir = cache + "/tessaly-tmp";
    if (MakePrivateFolder(dir, nullptr)) return dir + "/";
  }
  return PrivateFolderIn(std::string(P_tmpdir) + "/", own, Error);
}

}  // namespace platform
