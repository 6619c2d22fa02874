// Writing a whole file so that it is never left half-written: the bytes go to a fresh file in
// the same folder, which then replaces the old one in one rename. A crash, a full disk or a
// kill during the write leaves the old file as it was.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <functional>
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

// Makes a file's bytes piece by piece, handing each to Put in order; false (with why in *Why,
// when it can say) when it cannot, or when a Put fails. It may be called a second time, from
// the start.
using TFilePieces =
    std::function<bool(const std::function<bool(std::string_view Piece)>& Put, std::string* Why)>;
// WriteFileAtomically for a file too large to hold whole in memory first (a DICOM object of a
// camera picture): the same options and guarantees, the bytes as Make makes them.
bool WriteFileInPieces(const std::string& Path, const TFilePieces& Make,
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

// Makes Path (no "/" at its end) a folder of the user's own: created 0700 when missing. An
// existing one is taken only when it is a folder itself (not a link to one), owned by this user
// and closed to everyone else (0700): a folder someone else made, or may look into, could hold
// their files under the names the programs write, or let them read the user's. False, with
// the reason in *Error (naming Path), otherwise.
bool MakePrivateFolder(const std::string& Path, std::string* Error = nullptr);
// What a folder the user chose is to a private export: not there (it will be made private),
// private already, the user's own but open to others (a folder made by a dialog's New Folder
// button under umask 022: the user may close it, MakeOwnFolderPrivate), another user's, or
// something else (a link, a file).
enum class TFolderPrivacy { Missing, Private, OwnOpen, Foreign, NotFolder };
TFolderPrivacy FolderPrivacy(const std::string& Path);
// Closes the user's own folder at Path to others (0700), never through a link.
bool MakeOwnFolderPrivate(const std::string& Path, std::string* Error = nullptr);

// The folder that the environment names for temporary files: TEMP, else TMPDIR, ending in "/";
// empty when neither is set. Other users may share it.
std::string TempVariableFolder();

// The folder for the files a program writes for the moment (the print page and its pictures),
// ending in "/", always a private folder of the user (MakePrivateFolder):
//   - "tessaly-" + uid inside TempVariableFolder when that is set;
//   - else $XDG_CACHE_HOME/tessaly-tmp (when absolute), or ~/.cache/tessaly-tmp when the home
//     folder exists (a service user's HOME often does not, and is never made here);
//   - else "tessaly-" + uid in the system's temporary folder (/tmp).
// When the named folder is there but not private (another user's, a link, open to others), a
// fresh one beside it (ProcessFolderPattern("tessaly-" + uid + "-"), mkdtemp) is taken instead,
// and the same one for the rest of the run; those of ended runs are removed then. Empty, with the
// reason in *Error, when no private folder can be had (TEMP names a missing or unwritable folder).
std::string TempDirectory(std::string* Error = nullptr);

// Prefix + this process's id + "-XXXXXX": the mkdtemp pattern of a private folder for the moment,
// named so that a later start can tell whether the process that made it still runs.
std::string ProcessFolderPattern(const std::string& Prefix);
// Removes what a process that ended abruptly (a crash, a kill) left of its ProcessFolderPattern
// folders in Parent: each folder named Prefix + id + "-" + six characters, the user's own and no
// link, whose process no longer runs. Folders of running processes and anything else stay.
void RemoveFoldersOfEndedProcesses(const std::string& Parent, const std::string& Prefix);

}  // namespace platform
