// A folder of its own for the files a test writes.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <stdexcept>
#include <string>

namespace testsupport {

// A new folder (mkdtemp: a name no other test or run has, readable by this user only) in the
// system's temporary folder, removed with everything in it at the end.
class TTempFolder {
 public:
  explicit TTempFolder(const std::string& Prefix = "tessaly_test") {
    std::string pattern = (std::filesystem::temp_directory_path() / (Prefix + "_XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp " + pattern);
    FPath = pattern;
  }
  ~TTempFolder() {
    std::error_code ec;
    std::filesystem::remove_all(FPath, ec);
  }
  TTempFolder(const TTempFolder&) = delete;
  TTempFolder& operator=(const TTempFolder&) = delete;

  const std::filesystem::path& Path() const { return FPath; }
  std::string File(const std::string& Name) const { return (FPath / Name).string(); }
  std::string operator/(const std::string& Name) const { return File(Name); }

 private:
  std::filesystem::path FPath;
};

}  // namespace testsupport
