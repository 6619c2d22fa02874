#include "platform/paths.h"

#include <filesystem>
#include <system_error>

namespace platform {

std::string ProgramFile() {
  std::error_code ec;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : exe.string();
}

std::string ProgramDirectory() {
  const std::string file = ProgramFile();
  const std::size_t slash = file.rfind('/');
  if (slash == std::string::npos) return "./";
  return file.substr(0, slash + 1);
}

}  // namespace platform
