#include "launcher/general.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "platform/paths.h"

namespace launcher {

std::string LogFileName() {
  return platform::LocateProgramFile("Kestrin.log", platform::TFileKind::State).Write;
}

void WriteLog(const std::string& Text) {
  const std::string path = LogFileName();
  platform::PrepareToWrite({path, path});  // the user's folder, when the log goes there
  std::FILE* file = std::fopen(path.c_str(), "ab");
  if (!file) return;
  std::fwrite(Text.data(), 1, Text.size(), file);
  std::fputs("\r\n", file);
  std::fclose(file);
}

void DeleteLogFile() {
  std::error_code ec;
  std::filesystem::remove(LogFileName(), ec);
}

}  // namespace launcher
