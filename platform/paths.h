// Where the running program lies. Every file that a program finds by a bare name (settings,
// language file, print template, tables) lies in its directory.
#pragma once

#include <string>
#include <vector>

namespace platform {

// The running program's executable, resolved through /proc/self/exe; empty when it cannot be
// read.
std::string ProgramFile();
// The directory of ProgramFile, ending in "/" (just "/" for a program in the root, "./" when
// the executable cannot be found).
std::string ProgramDirectory();

// Whether a regular file (links followed) lies at Path, and whether a folder does; an empty
// Path is neither. These are the "exists" of every file the programs find by name.
bool FileExists(const std::string& Path);
bool DirectoryExists(const std::string& Path);

// Where a file that the programs find by a bare name is read and written. The program's folder
// holds the shipped files, and a portable installation (a build folder, an unpacked archive in
// the user's home) keeps writing beside the programs as calling applications expect. An
// installation whose folder the user cannot write, or one under /usr or /opt (never written,
// not even by root), writes into the user's XDG folders instead, and the files written there are
// found again first. Administrators put their own copies (a clinic's camera.ini and Kestrin.ini)
// into $XDG_CONFIG_DIRS/tessaly (/etc/xdg/tessaly), where no package upgrade touches them.
//
//   read:  the written place when the file is there, else the first that exists of
//          the user's folder, each administrator folder (settings only), the program's folder
//   write: the user's folder when the file is there; else the program's folder when it may be
//          written; else the user's folder
enum class TFileKind {
  Setting,  // settings and tables: $XDG_CONFIG_HOME/tessaly (~/.config/tessaly)
  State,    // the log and the interface files handed on: $XDG_STATE_HOME/tessaly
  Data,     // the user's own records (comparison records): $XDG_DATA_HOME/tessaly
};
struct TProgramFileLocation {
  std::string Read, Write;
};
// Names are the file's spellings, tried in order in each folder (camera.ini, Camera.ini); the
// first is the one written and the one named when no folder has any.
TProgramFileLocation LocateProgramFile(const std::vector<std::string>& Names,
                                       TFileKind Kind = TFileKind::Setting);
inline TProgramFileLocation LocateProgramFile(const std::string& Name,
                                              TFileKind Kind = TFileKind::Setting) {
  return LocateProgramFile(std::vector<std::string>{Name}, Kind);
}
// The user's folder of Kind, ending in "/"; empty when neither the XDG variable nor HOME is set.
std::string UserFolder(TFileKind Kind);
// mkdir -p: Dir and the folders above it that are missing, those it makes readable by the user
// alone (0700). False, with the folder and the reason in *Error, when one cannot be made.
bool MakeFolders(const std::string& Dir, std::string* Error = nullptr);
// Whether the programs write into their own folder (see above).
bool ProgramFolderWritable();
// The folder new files of Kind go to: the program's folder when it may be written, else the
// user's folder, created (readable by the user alone) when missing. Empty when there is none.
std::string WritableFolder(TFileKind Kind);
// Before Location.Write is changed in place: creates the user's folder when Write lies there,
// and when Write does not exist yet, copies the file read so far into it, so that an update of
// a few keys keeps everything else the file said (an administrator's defaults). False, with the
// reason in *Error, when this fails; the write itself then reports too.
bool PrepareToWrite(const TProgramFileLocation& Location, std::string* Error = nullptr);

// Makes ProgramDirectory answer Directory (ending in "/") instead, so that a test can give the
// code under test a program directory of its own; an empty Directory restores the real one.
void OverrideProgramDirectory(std::string Directory);

}  // namespace platform
