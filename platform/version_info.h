// The program file's version record: ten texts and a translation code that the build stores in
// the executable as a marked block (cmake/VersionRecord.cmake), read back from the file.
//
// Block layout, integers little-endian:
//   marker     12 bytes: 0xD3 "TSLYVER" CR LF 0x1A LF (a high-bit byte and line ends, so that
//              a copy mangled by 7-bit or line-end conversion no longer matches)
//   u16        layout version, 1
//   u16        0 (reserved)
//   u32        body length, at most MaxVersionBody
//   u32        FNV-1a (32-bit) of the body
//   body:      u16 count, count x (u16 language, u16 code page)        the translation entries
//              u16 count, count x (u16 n, n bytes key, u16 n, n bytes text)   the string table
// A marker whose header, length, checksum or body does not hold up is skipped and the scan goes
// on, so a stray copy of the marker in the program's data never hides the real block.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace platform {

struct TVersionRecord {
  // CompanyName, FileDescription, FileVersion, InternalName, LegalCopyright, LegalTrademarks,
  // OriginalFilename, ProductName, ProductVersion, Comments; empty where the file has none.
  std::array<std::string, 10> Texts;

  // Index 0..9 selects a text; any other index gives FileVersion.
  const std::string& Get(int Index) const;
  const std::string& FileVersion() const { return Texts[2]; }
};

// The ten key names in the record's order.
extern const std::array<const char*, 10> VersionKeys;

// The record of the file at Path, or of the running program when no file exists there; the
// empty record when the file holds no intact block or the block lacks a translation.
TVersionRecord ReadVersionInfo(const std::string& Path);

// What a block holds. String keys are full query paths, "\StringFileInfo\040704E4\FileVersion".
struct TVersionBlockContent {
  std::vector<std::pair<std::uint16_t, std::uint16_t>> Translations;  // language, code page
  std::vector<std::pair<std::string, std::string>> Strings;
};

inline constexpr std::size_t MaxVersionBody = 64 * 1024;
// Files are scanned in pieces of this size, so any program file can be read.
inline constexpr std::size_t VersionScanChunk = 64 * 1024;

// The whole block (marker, header, body); throws std::length_error when a key, a text, a count
// or the body exceeds what the layout can hold.
std::string EncodeVersionBlock(const TVersionBlockContent& Content);

// The queries of a block body, answered as the version functions answer them:
// "\VarFileInfo\Translation" gives the translation entries as raw little-endian bytes (4 per
// entry), a string key gives its text. False when the query has no answer.
class TVersionQuery {
 public:
  // False (and no answers) when Body is not a well-formed body.
  bool Parse(const std::string& Body);
  bool Query(const std::string& SubBlock, std::string& Value) const;

 private:
  std::map<std::string, std::string> FAnswers;
};

// The body of the first intact block in the file at Path; false when there is none or the file
// cannot be read.
bool ReadVersionBlock(const std::string& Path, std::string& Body);

// "\StringFileInfo\" + language and code page as 4 + 4 upper-case hex digits.
std::string StringTablePrefix(std::uint16_t Language, std::uint16_t CodePage);

}  // namespace platform
