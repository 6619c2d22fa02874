// Writing a whole file so that it is never left half-written: the bytes go to a fresh file in
// the same folder, which then replaces the old one in one rename. A crash, a full disk or a
// kill during the write leaves the old file as it was.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>

namespace platform {

struct TFileWriteOptions {
  // Permissions of the written file. Unset: an existing file keeps its permissions, a new one
  // gets 0666 less the umask, as an ordinary create would.
  std::optional<mode_t> Mode;
  // A symbolic link at the path: true writes the file the link points to (a user's settings
  // kept elsewhere); false replaces the link itself, so nothing is ever written through it.
  bool FollowSymlink = true;
};

// Replaces the file at Path with Bytes. Returns false, with the reason in *Error (when given)
// and the old file untouched, when anything fails.
bool WriteFileAtomically(const std::string& Path, std::string_view Bytes,
                         std::string* Error = nullptr, const TFileWriteOptions& Options = {});

// Reads the whole file into *Bytes; false when it cannot be opened or read (Bytes is then
// empty).
bool ReadWholeFile(const std::string& Path, std::string* Bytes);

// The folder for the files a program writes for the moment (the print page and its pictures),
// ending in "/": the environment variable TEMP, else TMPDIR, else a folder of the user's own
// ($XDG_CACHE_HOME/tessaly-tmp, or ~/.cache/tessaly-tmp), created readable by the user alone.
// It is never the folder that all users share unless one of the variables names it.
std::string TempDirectory();

}  // namespace platform
