#include "platform/version_info.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "platform/paths.h"

namespace platform {

const std::array<const char*, 10> VersionKeys = {
    "CompanyName",     "FileDescription",  "FileVersion", "InternalName",   "LegalCopyright",
    "LegalTrademarks", "OriginalFilename", "ProductName", "ProductVersion", "Comments"};

const std::string& TVersionRecord::Get(int Index) const {
  return Texts[std::size_t(Index >= 0 && Index < 10 ? Index : 2)];
}

namespace {

constexpr std::size_t HeaderSize = 12;  // version, reserved, length, checksum
constexpr std::uint16_t LayoutVersion = 1;
const char* const TranslationQuery = "\\VarFileInfo\\Translation";

// The marker is kept masked and unmasked at run time, so that the reading code itself never
// holds it as it stands in a block.
std::string Marker() {
  static const unsigned char masked[] = {0x89, 0x0E, 0x09, 0x16, 0x03, 0x0C,
                                         0x1F, 0x08, 0x57, 0x50, 0x40, 0x50};
  std::string m;
  for (unsigned char c : masked) m += char(c ^ 0x5A);
  return m;
}

std::uint32_t Fnv1a(const std::string& Bytes) {
  std::uint32_t h = 2166136261u;
  for (unsigned char c : Bytes) h = (h ^ c) * 16777619u;
  return h;
}

void PutU16(std::string& Out, std::size_t Value) {
  if (Value > 0xFFFF) throw std::length_error("version record: a field exceeds 65535 bytes");
  Out += char(Value & 0xFF);
  Out += char(Value >> 8);
}

void PutU32(std::string& Out, std::uint32_t Value) {
  for (int i = 0; i < 4; ++i) Out += char((Value >> (8 * i)) & 0xFF);
}

// Bounds-checked little-endian reads over a byte string.
class TReader {
 public:
  explicit TReader(const std::string& Bytes) : FBytes(Bytes) {}
  bool U16(std::uint16_t& Value) {
    if (FBytes.size() - FAt < 2) return false;
    Value = std::uint16_t(Byte(FAt) | Byte(FAt + 1) << 8);
    FAt += 2;
    return true;
  }
  bool U32(std::uint32_t& Value) {
    if (FBytes.size() - FAt < 4) return false;
    Value = 0;
    for (int i = 3; i >= 0; --i) Value = Value << 8 | Byte(FAt + std::size_t(i));
    FAt += 4;
    return true;
  }
  bool Text(std::string& Value) {
    std::uint16_t n = 0;
    if (!U16(n) || FBytes.size() - FAt < n) return false;
    Value = FBytes.substr(FAt, n);
    FAt += n;
    return true;
  }
  bool AtEnd() const { return FAt == FBytes.size(); }

 private:
  std::uint32_t Byte(std::size_t At) const { return static_cast<unsigned char>(FBytes[At]); }
  const std::string& FBytes;
  std::size_t FAt = 0;
};

// The body of an intact block whose marker ends at Offset, read through File.
bool ReadBlockAt(std::ifstream& File, std::uint64_t Offset, std::string& Body) {
  File.clear();
  File.seekg(std::streamoff(Offset));
  std::string header(HeaderSize, '\0');
  if (!File.read(header.data(), std::streamsize(header.size()))) return false;
  TReader h(header);
  std::uint16_t version = 0, reserved = 0;
  std::uint32_t length = 0, checksum = 0;
  h.U16(version);
  h.U16(reserved);
  h.U32(length);
  h.U32(checksum);
  if (version != LayoutVersion || reserved != 0 || length > MaxVersionBody) return false;
  std::string body(length, '\0');
  if (!File.read(body.data(), std::streamsize(length))) return false;
  if (Fnv1a(body) != checksum || !TVersionQuery().Parse(body)) return false;
  Body = std::move(body);
  return true;
}

}  // namespace

std::string StringTablePrefix(std::uint16_t Language, std::uint16_t CodePage) {
  char code[9];
  std::snprintf(code, sizeof code, "%04X%04X", unsigned(Language), unsigned(CodePage));
  return std::string("\\StringFileInfo\\") + code;
}

std::string EncodeVersionBlock(const TVersionBlockContent& Content) {
  std::string body;
  PutU16(body, Content.Translations.size());
  for (const auto& [language, codePage] : Content.Translations) {
    PutU16(body, language);
    PutU16(body, codePage);
  }
  PutU16(body, Content.Strings.size());
  for (const auto& [key, text] : Content.Strings) {
    PutU16(body, key.size());
    body += key;
    PutU16(body, text.size());
    body += text;
  }
  if (body.size() > MaxVersionBody) throw std::length_error("version record: body too large");
  std::string block = Marker();
  PutU16(block, LayoutVersion);
  PutU16(block, 0);
  PutU32(block, std::uint32_t(body.size()));
  PutU32(block, Fnv1a(body));
  return block + body;
}

bool TVersionQuery::Parse(const std::string& Body) {
  FAnswers.clear();
  std::map<std::string, std::string> answers;
  TReader r(Body);
  std::uint16_t count = 0;
  if (!r.U16(count)) return false;
  std::string translations;
  for (std::uint16_t i = 0; i < count; ++i) {
    std::uint16_t language = 0, codePage = 0;
    if (!r.U16(language) || !r.U16(codePage)) return false;
    for (std::uint16_t v : {language, codePage}) {
      translations += char(v & 0xFF);
      translations += char(v >> 8);
    }
  }
  if (count > 0) answers[TranslationQuery] = translations;
  if (!r.U16(count)) return false;
  for (std::uint16_t i = 0; i < count; ++i) {
    std::string key, text;
    if (!r.Text(key) || !r.Text(text)) return false;
    answers.emplace(std::move(key), std::move(text));
  }
  if (!r.AtEnd()) return false;
  FAnswers = std::move(answers);
  return true;
}

bool TVersionQuery::Query(const std::string& SubBlock, std::string& Value) const {
  const auto it = FAnswers.find(SubBlock);
  if (it == FAnswers.end()) return false;
  Value = it->second;
  return true;
}

bool ReadVersionBlock(const std::string& Path, std::string& Body) {
  std::ifstream scan(Path, std::ios::binary);
  std::ifstream block(Path, std::ios::binary);
  if (!scan || !block) return false;
  const std::string marker = Marker();
  // The last marker-length-less-one bytes of each piece are kept in front of the next one, so
  // a marker split across two pieces is still found, and none is found twice.
  const std::size_t keep = marker.size() - 1;
  std::string window;
  std::uint64_t windowStart = 0;  // file offset of window[0]
  std::string chunk(VersionScanChunk, '\0');
  for (;;) {
    scan.read(chunk.data(), std::streamsize(chunk.size()));
    const std::size_t got = std::size_t(scan.gcount());
    if (got == 0) return false;
    window.append(chunk, 0, got);
    for (std::size_t at = window.find(marker); at != std::string::npos;
         at = window.find(marker, at + 1)) {
      if (ReadBlockAt(block, windowStart + at + marker.size(), Body)) return true;
    }
    if (window.size() > keep) {
      windowStart += window.size() - keep;
      window.erase(0, window.size() - keep);
    }
  }
}

TVersionRecord ReadVersionInfo(const std::string& Path) {
  TVersionRecord record;
  std::error_code ec;
  const std::string file = std::filesystem::is_regular_file(Path, ec) ? Path : ProgramFile();
  std::string body;
  TVersionQuery query;
  if (file.empty() || !ReadVersionBlock(file, body) || !query.Parse(body)) return record;
  // The first translation entry (language, then code page) names the string table to read.
  std::string translation;
  if (!query.Query(TranslationQuery, translation) || translation.size() < 4) return record;
  const auto byte = [&](std::size_t i) {
    return unsigned(static_cast<unsigned char>(translation[i]));
  };
  const std::string prefix = StringTablePrefix(std::uint16_t(byte(0) | byte(1) << 8),
                                               std::uint16_t(byte(2) | byte(3) << 8));
  for (std::size_t i = 0; i < VersionKeys.size(); ++i) {
    if (!query.Query(prefix + "\\" + VersionKeys[i], record.Texts[i])) record.Texts[i].clear();
  }
  return record;
}

}  // namespace platform
