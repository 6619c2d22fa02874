#include "launcher/general.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/file_io.h"
#include "platform/paths.h"

namespace launcher {

namespace {

constexpr off_t InUseByte = 0, WriteByte = 1;

TLogSession*& ActiveSession() {
  static TLogSession* session = nullptr;
  return session;
}

bool Lock(int Fd, off_t Byte, short Type, bool Wait) {
  struct flock lock {};
  lock.l_type = Type;
  lock.l_whence = SEEK_SET;
  lock.l_start = Byte;
  lock.l_len = 1;
  while (fcntl(Fd, Wait ? F_OFD_SETLKW : F_OFD_SETLK, &lock) != 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

// The log for reading and writing, created private. Never through a link, and never anything
// but a regular file (O_NONBLOCK: a FIFO planted at the name does not hang the launcher). A log
// of ours that others may read is narrowed to us.
int OpenLog(const std::string& Path, int MoreFlags = 0) {
  const int fd =
      open(Path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | MoreFlags, 0600);
  if (fd < 0) return -1;
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return -1;
  }
  if (st.st_uid == geteuid() && (st.st_mode & 077) != 0) fchmod(fd, st.st_mode & 0700);
  return fd;
}

bool SameFile(int Fd, int Other) {
  struct stat a {
  }, b{};
  return fstat(Fd, &a) == 0 && fstat(Other, &b) == 0 && a.st_dev == b.st_dev &&
         a.st_ino == b.st_ino;
}

bool IsAt(int Fd, const std::string& Path) {
  struct stat a {
  }, b{};
  return fstat(Fd, &a) == 0 && lstat(Path.c_str(), &b) == 0 && a.st_dev == b.st_dev &&
         a.st_ino == b.st_ino;
}

// Bytes at the end of the log; for a session that writes through, at its own end, before the
// blocks other runs have appended since.
void AddToLog(const std::string& Bytes, TLogSession* Session, int SessionFd, long long& End,
              const std::string& SessionPath) {
  // The session's name of the log: finding the log's folder asks the file system a dozen
  // questions, too many for every line of a run with many pictures.
  const std::string path = Session ? SessionPath : LogFileName();
  // A session's own log, still at its name, is written through the session's descriptor: a run
  // with many pictures writes hundreds of thousands of lines, and opening the log for each
  // costs far more than the line.
  const bool held = Session && SessionFd >= 0 && IsAt(SessionFd, path);
  if (!held) platform::PrepareToWrite({path, path});  // the user's folder, when the log goes there
  const int fd = held ? SessionFd : OpenLog(path);
  if (fd < 0) return;
  struct stat st {};
  if (Lock(fd, WriteByte, F_WRLCK, true) && fstat(fd, &st) == 0) {
    off_t at = st.st_size;
    std::string out = Bytes;
    const bool own = held || (Session && SessionFd >= 0 && SameFile(fd, SessionFd));
    if (own && End < st.st_size) {
      std::string later(std::size_t(st.st_size - End), '\0');
      if (platform::ReadAt(fd, later.data(), later.size(), std::uint64_t(End))) {
        out += later;
        at = off_t(End);
      }
    }
    if (platform::WriteAt(fd, out.data(), out.size(), std::uint64_t(at)) && own)
      End = at + off_t(Bytes.size());
  }
  if (held) {
    Lock(fd, WriteByte, F_UNLCK, false);
  } else {
    close(fd);  // lets the write lock go
  }
}

// Removes what lies at Path unless a run uses the log there: a link (never what it points to),
// or a log, whoever's it is, whose "in use" byte nobody holds.
void RemoveUnusedLog(const std::string& Path) {
  struct stat st {};
  if (lstat(Path.c_str(), &st) != 0) return;
  if (S_ISLNK(st.st_mode)) {
    unlink(Path.c_str());
    return;
  }
  int fd = open(Path.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  bool unused = false;
  if (fd >= 0) {
    unused = Lock(fd, InUseByte, F_WRLCK, false);
  } else if ((fd = open(Path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC)) >= 0) {
    // Another user's log that we may not write: only asked, as we cannot lock it.
    struct flock probe {};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    probe.l_start = InUseByte;
    probe.l_len = 1;
    unused = fcntl(fd, F_OFD_GETLK, &probe) == 0 && probe.l_type == F_UNLCK;
  }
  if (fd < 0) return;
  if (unused && IsAt(fd, Path)) unlink(Path.c_str());
  close(fd);
}

}  // namespace

std::string LogFileName() {
  return platform::LocateProgramFile("Kestrin.log", platform::TFileKind::State).Write;
}

std::string EscapeLogText(std::string_view Text) {
  static constexpr char Hex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(Text.size());
  for (const char c : Text) {
    const auto byte = static_cast<unsigned char>(c);
    switch (c) {
      case '\r':
        out += "\\r";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\\':
        out += "\\\\";
        break;
      default:
        if (byte < 0x20 || byte == 0x7F) {
          out += "\\x";
          out += Hex[byte >> 4];
          out += Hex[byte & 0xF];
        } else {
          out += c;
        }
    }
  }
  return out;
}

void WriteLog(const std::string& Text) {
  const std::string line = EscapeLogText(Text) + "\r\n";
  TLogSession* session = ActiveSession();
  if (session && !session->FThrough) {
    session->FBlock += line;
    return;
  }
  long long unused = 0;
  AddToLog(line, session, session ? session->FFd : -1, session ? session->FEnd : unused,
           session ? session->FPath : std::string());
}

void DeleteLogFile() {
  TLogSession* session = ActiveSession();
  if (session && session->FFd >= 0) {
    // Our own log, emptied in place, so that the session keeps its hold on it.
    if (session->FThrough && Lock(session->FFd, InUseByte, F_WRLCK, false)) {
      if (ftruncate(session->FFd, 0) == 0) session->FEnd = 0;
      Lock(session->FFd, InUseByte, F_RDLCK, false);
    }
    return;
  }
  RemoveUnusedLog(LogFileName());
}

TLogSession::TLogSession() {
  const std::string path = LogFileName();
  FPath = path;
  platform::PrepareToWrite({path, path});
  // A few rounds, for the rare case that other runs start in the same moment.
  for (int round = 0; round < 3 && FFd < 0; ++round) {
    // This run's log is a new one, unless another run still uses the old one.
    RemoveUnusedLog(path);
    const int fd = OpenLog(path);
    if (fd < 0) break;
    // Exclusive: nobody else uses it (one that another run made in this moment is empty).
    const bool alone = Lock(fd, InUseByte, F_WRLCK, false);
    if (alone && ftruncate(fd, 0) != 0) {
      close(fd);
      break;
    }
    // Shared from here on (from exclusive, the change cannot fail). A run that took the log
    // away meanwhile shows in IsAt.
    if (!Lock(fd, InUseByte, F_RDLCK, !alone) || !IsAt(fd, path)) {
      close(fd);
      continue;
    }
    FFd = fd;
    FThrough = alone;
  }
  FOuter = ActiveSession();
  ActiveSession() = this;
}

void TLogSession::End() {
  if (FEnded) return;
  FEnded = true;
  if (ActiveSession() == this) ActiveSession() = FOuter;
  if (!FBlock.empty()) {
    long long unused = 0;
    AddToLog(FBlock, nullptr, -1, unused, {});
    FBlock.clear();
  }
  if (FFd >= 0) close(FFd);
  FFd = -1;
}

TLogSession::~TLogSession() {
  End();
}

}  // namespace launcher
