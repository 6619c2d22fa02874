#include "platform/version_info.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/paths.h"

namespace platform {

const std::array<const char*, 10> VersionKeys = {
    "CompanyName",      "FileDescription",  "FileVersion", "InternalName",   "LegalCopyright",
    "LegalTrademarks",  "OriginalFilename", "ProductName", "ProductVersion", "Comments"};

const std::string& TVersionRecord::Get(int Index) const {
  return Texts[std::size_t(Index >= 0 && Index < 10 ? Index : 2)];
}

namespace {

// Made at run time, so that the program's own code never holds the marker as it stands in the
// block (a scan would find the code first).
std::string Marker() {
  std::string m = "~TESSALY~VERSION~RECORD~1~";
  for (char& c : m) {
    if (c == '~') c = '\x01';
  }
  return m;
}

constexpr std::size_t kMaxBody = 64 * 1024;

}  // namespace

std::string EncodeVersionBlock(const std::map<std::string, std::string>& Queries) {
  std::string body;
  for (const auto& [query, answer] : Queries) body += query + "=" + answer + "\n";
  char length[16];
  std::snprintf(length, sizeof length, "%08zu\n", body.size());
  return Marker() + length + body;
}

bool DecodeVersionBlock(const std::string& Bytes, std::map<std::string, std::string>& Queries) {
  const std::string marker = Marker();
  for (std::size_t at = Bytes.find(marker); at != std::string::npos;
       at = Bytes.find(marker, at + 1)) {
    const std::size_t lengthAt = at + marker.size();
    if (lengthAt + 9 > Bytes.size() || Bytes[lengthAt + 8] != '\n') continue;
    std::size_t length = 0;
    bool digits = true;
    for (std::size_t i = 0; i < 8; ++i) {
      const char c = Bytes[lengthAt + i];
      if (c < '0' || c > '9') digits = false;
      length = length * 10 + std::size_t(c - '0');
    }
    const std::size_t bodyAt = lengthAt + 9;
    if (!digits || length > kMaxBody || length > Bytes.size() - bodyAt) continue;
    std::map<std::string, std::string> found;
    std::istringstream body(Bytes.substr(bodyAt, length));
    std::string line;
    bool valid = true;
    while (std::getline(body, line)) {
      const std::size_t eq = line.find('=');
      if (eq == std::string::npos) {
        valid = false;
        break;
      }
      found.emplace(line.substr(0, eq), line.substr(eq + 1));
    }
    if (!valid) continue;
    Queries = std::move(found);
    return true;
  }
  return false;
}

TVersionRecord ReadVersionInfo(const std::string& Path) {
  TVersionRecord record;
  std::error_code ec;
  const std::string file = std::filesystem::is_regular_file(Path, ec) ? Path : ProgramFile();
  std::ifstream in(file, std::ios::binary);
  if (!in) return record;
  std::ostringstream bytes;
  bytes << in.rdbuf();
  std::map<std::string, std::string> queries;
  if (!DecodeVersionBlock(bytes.str(), queries)) return record;
  // The first translation (language and code page, 4 + 4 hex digits) names the string table.
  const auto translation = queries.find("\\VarFileInfo\\Translation");
  if (translation == queries.end() || translation->second.size() < 8) return record;
  std::string code = translation->second.substr(0, 8);
  for (char& c : code) c = char(std::toupper(static_cast<unsigned char>(c)));
  const std::string prefix = "\\StringFileInfo\\" + code;
  for (std::size_t i = 0; i < VersionKeys.size(); ++i) {
    const auto text = queries.find(prefix + "\\" + VersionKeys[i]);
    if (text != queries.end()) record.Texts[i] = text->second;
  }
  return record;
}

}  // namespace platform
