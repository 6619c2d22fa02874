#include "platform/paths.h"

#include <filesystem>
#include <system_error>
#include <utility>

namespace platform {

std::string ProgramFile() {
  std::error_code ec;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : exe.string();
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

}  // namespace platform
