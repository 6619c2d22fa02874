#include "platform/file_write.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string_view>
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

// What fills a file: writes its whole content into Fd from offset 0; false (errno set) when it
// cannot. It may be called a second time, on another descriptor.
using TFill = std::function<bool(int Fd)>;

// Writes the content as a new file at Target, which must not exist: into a file without a name
// (O_TMPFILE), which then gets its name in one link; where the file system has no such files,
// into a hidden temporary file, linked the same way and then removed.
bool WriteNewFile(const std::string& Target, const TFill& Fill, mode_t Mode, std::string* Error) {
  const auto fill = [&](int Fd) {
    bool ok = Fill(Fd) && fchmod(Fd, Mode) == 0 && fsync(Fd) == 0;
    const int err = errno;
    if (close(Fd) != 0 && ok) return false;
    errno = err;
    return ok;
  };
  const std::string dir = DirectoryOf(Target);
  int fd = open(dir.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
  if (fd >= 0) {
    // The descriptor's link in /proc names the file without a name.
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    bool ok = Fill(fd) && fchmod(fd, Mode) == 0 && fsync(fd) == 0 &&
              linkat(AT_FDCWD, self.c_str(), AT_FDCWD, Target.c_str(), AT_SYMLINK_FOLLOW) == 0;
    const int err = errno;
    close(fd);
    if (!ok && err != ENOENT) {
      SetError(Error, err);
      return false;
    }
    if (ok) return true;
    // No /proc: the file is gone with its descriptor; write it again the other way.
  }
  const std::size_t slash = Target.rfind('/');
  const std::string name = slash == std::string::npos ? Target : Target.substr(slash + 1);
  std::string temp = dir + "/." + name + ".XXXXXX";
  fd = mkstemp(temp.data());
  if (fd < 0) {
    SetError(Error, errno);
    return false;
  }
  // link, unlike rename, never replaces what is at its target.
  const bool ok = fill(fd) && link(temp.c_str(), Target.c_str()) == 0;
  const int err = errno;
  unlink(temp.c_str());
  if (!ok) SetError(Error, err);
  return ok;
}

std::string SizeText(std::size_t Bytes) {
  constexpr std::size_t MiB = std::size_t(1) << 20;
  return Bytes % MiB == 0 ? std::to_string(Bytes / MiB) + " MiB" : std::to_string(Bytes) + " bytes";
}

void FsyncDirectory(const std::string& Path) {
  // Makes a rename or link durable; a failure here leaves a complete file either way.
  const int dir = open(DirectoryOf(Path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    fsync(dir);
    close(dir);
  }
}

}  // namespace

namespace {

bool WriteFilled(const std::string& Path, const TFill& Fill, std::string* Error,
                 const TFileWriteOptions& Options) {
  const std::string target = Options.FollowSymlink ? FollowLinks(Path) : Path;
  struct stat old {};
  const bool present = lstat(target.c_str(), &old) == 0;
  const bool link = present && S_ISLNK(old.st_mode);
  const bool exists = present && !link;
  if (present && !Options.Replace) {
    SetError(Error, EEXIST);
    return false;
  }
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
    struct stat linked {};
    if (link && stat(target.c_str(), &linked) == 0 && S_ISREG(linked.st_mode))
      mode &= linked.st_mode;
  }
  if (!Options.Replace) {
    if (!WriteNewFile(target, Fill, mode, Error)) return false;
    FsyncDirectory(target);
    return true;
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
  bool ok = Fill(fd);
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
  FsyncDirectory(target);
  return true;
}

}  // namespace

bool WriteFileAtomically(const std::string& Path, std::string_view Bytes, std::string* Error,
                         const TFileWriteOptions& Options) {
  return WriteFilled(
      Path, [Bytes](int Fd) { return WriteAt(Fd, Bytes.data(), Bytes.size(), 0); }, Error, Options);
}

bool WriteFileInPieces(const std::string& Path, const TFilePieces& Make, std::string* Error,
                       const TFileWriteOptions& Options) {
  // Why Make stopped, when it says: kept apart from errno's reason.
  std::string stopped;
  const bool written = WriteFilled(
      Path,
      [&](int Fd) {
        off_t offset = 0;
        const bool made = Make(
            [&](std::string_view Piece) {
              if (!WriteAt(Fd, Piece.data(), Piece.size(), offset)) return false;
              offset += off_t(Piece.size());
              return true;
            },
            &stopped);
        if (!made && errno == 0) errno = EIO;
        return made;
      },
      Error, Options);
  if (!written && !stopped.empty() && Error != nullptr) *Error = stopped;
  return written;
}

bool ReadWholeFile(const std::string& Path, std::string* Bytes, std::string* Error,
                   std::size_t MaxBytes) {
  Bytes->clear();
  const auto refuse = [&](const std::string& Reason) {
    Bytes->clear();
    if (Error) *Error = Reason;
    return false;
  };
  // A FIFO, a terminal or a device is refused before it is opened; the descriptor's own check
  // below covers a file swapped in between. O_NONBLOCK keeps the open of a FIFO from waiting
  // for a writer.
  struct stat st {};
  if (stat(Path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) return refuse("not a regular file");
  const int fd = open(Path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return refuse(std::strerror(errno));
  const auto fail = [&](const std::string& Reason) {
    close(fd);
    return refuse(Reason);
  };
  if (fstat(fd, &st) != 0) return fail(std::strerror(errno));
  if (!S_ISREG(st.st_mode)) return fail("not a regular file");
  const std::string tooLarge = "larger than " + SizeText(MaxBytes);
  if (std::uint64_t(st.st_size) > MaxBytes) return fail(tooLarge);
  const int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) return fail(std::strerror(errno));
  char buffer[65536];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      return fail(std::strerror(errno));
    }
    if (n == 0) break;
    // A file that grows while it is read is held to the same limit.
    if (Bytes->size() + std::size_t(n) > MaxBytes) return fail(tooLarge);
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

TFolderPrivacy FolderPrivacy(const std::string& Path) {
  struct stat st {};
  if (::lstat(Path.c_str(), &st) != 0) {
    return errno == ENOENT ? TFolderPrivacy::Missing : TFolderPrivacy::NotFolder;
  }
  if (!S_ISDIR(st.st_mode)) return TFolderPrivacy::NotFolder;
  if (st.st_uid != geteuid()) return TFolderPrivacy::Foreign;
  return (st.st_mode & 0777) == 0700 ? TFolderPrivacy::Private : TFolderPrivacy::OwnOpen;
}

bool MakeOwnFolderPrivate(const std::string& Path, std::string* Error) {
  const int fd = open(Path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  struct stat st {};
  const bool ok = fd >= 0 && fstat(fd, &st) == 0 && st.st_uid == geteuid() && fchmod(fd, 0700) == 0;
  const int err = errno;
  if (fd >= 0) close(fd);
  if (!ok && Error) *Error = Path + ": " + std::strerror(err);
  return ok;
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
// folder ProcessFolderPattern(Parent + Name + "-"), kept for the rest of the run. Parent ends in
// "/".
std::string PrivateFolderIn(const std::string& Parent, const std::string& Name,
                            std::string* Error) {
  const std::string named = Parent + Name;
  if (MakePrivateFolder(named, Error)) return named + "/";
  static std::mutex lock;
  static std::string fresh;
  const std::lock_guard<std::mutex> guard(lock);
  std::string pattern = ProcessFolderPattern(named + "-");
  const std::string ours = pattern.substr(0, pattern.size() - 6);
  if (fresh.size() == pattern.size() && fresh.rfind(ours, 0) == 0 &&
      MakePrivateFolder(fresh, nullptr)) {
    return fresh + "/";
  }
  // The first fresh one of this run: those that ended runs left beside it go.
  if (fresh.empty()) RemoveFoldersOfEndedProcesses(Parent, Name + "-");
  // mkdtemp makes a new folder 0700 or fails; it never takes one that is there.
  if (mkdtemp(pattern.data()) == nullptr) {
    if (Error) *Error = pattern + ": " + std::strerror(errno);
    return {};
  }
  fresh = pattern;
  return fresh + "/";
}

}  // namespace

std::string ProcessFolderPattern(const std::string& Prefix) {
  return Prefix + std::to_string(getpid()) + "-XXXXXX";
}

void RemoveFoldersOfEndedProcesses(const std::string& Parent, const std::string& Prefix) {
  namespace fs = std::filesystem;
  std::error_code ec;
  for (fs::directory_iterator it(Parent, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.rfind(Prefix, 0) != 0) continue;
    // The id, a dash and mkdtemp's six characters.
    const std::string_view rest = std::string_view(name).substr(Prefix.size());
    const std::size_t dash = rest.find('-');
    if (dash == std::string_view::npos || rest.size() != dash + 7) continue;
    long pid = 0;
    const auto [last, error] = std::from_chars(rest.data(), rest.data() + dash, pid);
    if (error != std::errc() || last != rest.data() + dash || pid <= 0 || pid > INT_MAX) continue;
    // Another user's process that runs answers EPERM: only "no such process" has ended.
    if (kill(pid_t(pid), 0) == 0 || errno != ESRCH) continue;
    struct stat st {};
    const std::string path = it->path().string();
    if (lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != geteuid()) continue;
    std::error_code removed;
    fs::remove_all(path, removed);
  }
}

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
