#include "platform/paths.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <utility>

#include "platform/file_write.h"

namespace platform {

std::string ProgramFile() {
  // Read once: the running program's file does not change, and the launcher asks for its folder
  // for every line of its log.
  static const std::string file = [] {
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : exe.string();
  }();
  return file;
}

namespace {
std::string& Override() {
  static std::string directory;
  return directory;
}
}  // namespace

bool FileExists(const std::string& Path) {
  std::error_code ec;
  return !Path.empty() && std::filesystem::is_regular_file(Path, ec);
}

bool DirectoryExists(const std::string& Path) {
  std::error_code ec;
  return !Path.empty() && std::filesystem::is_directory(Path, ec);
}

void OverrideProgramDirectory(std::string Directory) {
  Override() = std::move(Directory);
}

std::string ProgramDirectory() {
  if (!Override().empty()) return Override();
  const std::string file = ProgramFile();
  const std::size_t slash = file.rfind('/');
  if (slash == std::string::npos) return "./";
  return file.substr(0, slash + 1);
}

namespace {

constexpr const char* FolderName = "tessaly/";

std::string Env(const char* Name) {
  const char* v = std::getenv(Name);
  return v != nullptr ? std::string(v) : std::string();
}

std::string WithSlash(std::string Dir) {
  if (!Dir.empty() && Dir.back() != '/') Dir += '/';
  return Dir;
}

// $XDG_CONFIG_DIRS, or /etc/xdg; relative entries are ignored as the XDG rules say.
std::vector<std::string> AdministratorFolders() {
  std::string list = Env("XDG_CONFIG_DIRS");
  if (list.empty()) list = "/etc/xdg";
  std::vector<std::string> folders;
  std::size_t start = 0;
  while (start <= list.size()) {
    const std::size_t colon = std::min(list.find(':', start), list.size());
    const std::string dir = list.substr(start, colon - start);
    if (!dir.empty() && dir.front() == '/') folders.push_back(WithSlash(dir) + FolderName);
    start = colon + 1;
  }
  return folders;
}

bool UnderSystemPrefix(const std::string& Dir) {
  for (const char* prefix : {"/usr/", "/opt/"}) {
    if (Dir.compare(0, std::strlen(prefix), prefix) == 0) return true;
  }
  return false;
}

}  // namespace

bool MakeFolders(const std::string& Dir, std::string* Error) {
  std::error_code ec;
  if (std::filesystem::is_directory(Dir, ec)) return true;
  std::string path;
  for (std::size_t i = 1; i <= Dir.size(); ++i) {
    if (i < Dir.size() && Dir[i] != '/') continue;
    path = Dir.substr(0, i);
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
      if (Error != nullptr) *Error = path + ": " + std::strerror(errno);
      return false;
    }
  }
  return std::filesystem::is_directory(Dir, ec);
}

std::string UserFolder(TFileKind Kind) {
  const char* variable = Kind == TFileKind::Setting ? "XDG_CONFIG_HOME"
                         : Kind == TFileKind::State ? "XDG_STATE_HOME"
                                                    : "XDG_DATA_HOME";
  const char* fallback = Kind == TFileKind::Setting ? ".config"
                         : Kind == TFileKind::State ? ".local/state"
                                                    : ".local/share";
  std::string base = Env(variable);
  if (base.empty() || base.front() != '/') {
    const std::string home = Env("HOME");
    if (home.empty()) return {};
    base = WithSlash(home) + fallback;
  }
  return WithSlash(base) + FolderName;
}

bool ProgramFolderWritable() {
  const std::string dir = ProgramDirectory();
  return !UnderSystemPrefix(dir) && ::access(dir.c_str(), W_OK) == 0;
}

TProgramFileLocation LocateProgramFile(const std::vector<std::string>& Names, TFileKind Kind) {
  const std::string user = UserFolder(Kind), program = ProgramDirectory();
  const std::string& name = Names.front();
  TProgramFileLocation location;
  const auto found = [&](const std::string& Dir) {
    for (const std::string& n : Names) {
      if (FileExists(Dir + n)) return Dir + n;
    }
    return std::string();
  };
  const std::string inUser = user.empty() ? std::string() : found(user);
  const std::string inProgram = found(program);
  if (!inUser.empty()) {
    location.Write = inUser;
  } else if (ProgramFolderWritable() &&
             (inProgram.empty() || ::access(inProgram.c_str(), W_OK) == 0)) {
    location.Write = inProgram.empty() ? program + name : inProgram;
  } else {
    location.Write = user.empty() ? program + name : user + name;
  }
  if (FileExists(location.Write)) {
    location.Read = location.Write;
    return location;
  }
  if (Kind == TFileKind::Setting) {
    for (const std::string& dir : AdministratorFolders()) {
      location.Read = found(dir);
      if (!location.Read.empty()) return location;
    }
  }
  location.Read = inProgram.empty() ? program + name : inProgram;
  return location;
}

std::string WritableFolder(TFileKind Kind) {
  if (ProgramFolderWritable()) return ProgramDirectory();
  const std::string user = UserFolder(Kind);
  if (user.empty() || !MakeFolders(user, nullptr)) return {};
  return user;
}

bool PrepareToWrite(const TProgramFileLocation& Location, std::string* Error) {
  const std::string& target = Location.Write;
  const std::string folder = target.substr(0, target.rfind('/') + 1);
  for (const TFileKind kind : {TFileKind::Setting, TFileKind::State}) {
    const std::string user = UserFolder(kind);
    if (!user.empty() && folder == user && !MakeFolders(user, Error)) return false;
  }
  if (FileExists(target) || Location.Read == target || !FileExists(Location.Read)) return true;
  std::string bytes;
  if (!ReadWholeFile(Location.Read, &bytes)) {
    if (Error != nullptr) *Error = Location.Read + " cannot be read";
    return false;
  }
  return WriteFileAtomically(target, bytes, Error);
}

}  // namespace platform
