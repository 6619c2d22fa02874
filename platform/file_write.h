// Writing a whole file so that it is never left half-written: the bytes go to a fresh file in
// the same folder, which then replaces the old one in one rename. A crash, a full disk or a
// kill during the write leaves the old file as it was.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

struct TFileWriteOptions {
  // Permissions of the written file. Unset: an existing file keeps its permissions, a new one
  // gets 0666 less the umask, as an ordinary create would.
  std::optional<mode_t> Mode;
  // A symbolic link at the path: true writes the file the link points to (a user's settings
  // kept elsewhere); false replaces the link itself, so nothing is ever written through it. The
  // file that replaces a link gets the mode of the file the link pointed to (unless Mode says
  // otherwise), so that bytes read through the link are no more open than they were there.
  bool FollowSymlink = true;
  // False: the write fails ("file exists") when anything is at the path, and nothing there is
  // replaced; the name is taken in the same step as the bytes appear. The bytes are written
  // into a file without a name first, so a kill at any moment leaves no file and no half of one.
  bool Replace = true;
};

// Replaces the file at Path with Bytes. Returns false, with the reason in *Error (when given)
// and the old file untouched, when anything fails.
bool WriteFileAtomically(const std::string& Path, std::string_view Bytes,
                         std::string* Error = nullptr, const TFileWriteOptions& Options = {});

// The most bytes ReadWholeFile takes by default: every file read whole is a small text (an INI
// file, a template).
constexpr std::size_t MaxReadBytes = std::size_t(16) << 20;

// Reads the whole regular file at Path into *Bytes. False (Bytes then empty, the reason in
// *Error when given) when it cannot be opened or read, when it is no regular file (a FIFO, a
// device such as /dev/zero, a folder: refused without reading a byte, so nothing can block or
// grow without end) and when it holds more than MaxBytes.
bool ReadWholeFile(const std::string& Path, std::string* Bytes, std::string* Error = nullptr,
                   std::size_t MaxBytes = MaxReadBytes);

// The folder for the files a program writes for the moment (the print page and its pictures),
// ending in "/": the environment variable TEMP, else TMPDIR, else a folder of the user's own
// ($XDG_CACHE_HOME/tessaly-tmp, or ~/.cache/tessaly-tmp), created readable by the user alone.
// It is never the folder that all users share unless one of the variables names it.
std::string TempDirectory();

}  // namespace platform
