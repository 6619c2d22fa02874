// The program file's version record: ten texts and a translation code that the build stores
// in the executable as a marked block, read back from the file.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>

namespace platform {

struct TVersionRecord {
  // CompanyName, FileDescription, FileVersion, InternalName, LegalCopyright, LegalTrademarks,
  // OriginalFilename, ProductName, ProductVersion, Comments.
  std::array<std::string, 10> Texts;
  // Index 0..9 selects a text; any other index gives FileVersion.
  const std::string& Get(int Index) const;
  const std::string& FileVersion() const { return Texts[2]; }
};

extern const std::array<const char*, 10> VersionKeys;

// The record of the file at Path (of the running program when no file exists there); the
// empty record when the file holds no valid block.
TVersionRecord ReadVersionInfo(const std::string& Path);

// The block as the build stores it: the queries ("\VarFileInfo\Translation" holding
// "LLLLCCCC", language and code page in hex, and "\StringFileInfo\LLLLCCCC\Key") with their
// answers, behind a marker and the body's length.
std::string EncodeVersionBlock(const std::map<std::string, std::string>& Queries);
// The queries of the first valid block in Bytes; false when there is none.
bool DecodeVersionBlock(const std::string& Bytes, std::map<std::string, std::string>& Queries);

}  // namespace platform
