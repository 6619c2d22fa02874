// The chunks of a PNG file, read from its bytes, for tests that check what a written PNG carries.
#pragma once

#include <charconv>
#include <cmath>
#include <cstdint>
#include <map>
#include <string>

namespace testsupport {

// The chunks by type (the last of a type wins); none when Bytes is no PNG.
inline std::map<std::string, std::string> PngChunks(const std::string& Bytes) {
  std::map<std::string, std::string> chunks;
  const auto be32 = [&](std::size_t At) {
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v = v << 8 | std::uint8_t(Bytes[At + i]);
    return v;
  };
  if (Bytes.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0) return chunks;
  for (std::size_t at = 8; at + 12 <= Bytes.size();) {
    const std::uint32_t length = be32(at);
    if (length > Bytes.size() - at - 12) break;
    chunks[Bytes.substr(at + 4, 4)] = Bytes.substr(at + 8, length);
    at += 12 + length;
  }
  return chunks;
}

// The text of the first text chunk (tEXt, iTXt) under Keyword, from its bytes after the keyword's
// NUL (an iTXt's flags and empty language fields included); empty when there is none.
inline std::string PngText(const std::map<std::string, std::string>& Chunks,
                           const std::string& Keyword) {
  for (const char* type : {"tEXt", "iTXt"}) {
    const auto found = Chunks.find(type);
    if (found == Chunks.end() ||
        found->second.compare(0, Keyword.size() + 1, Keyword + std::string(1, '\0')) != 0) {
      continue;
    }
    return found->second.substr(Keyword.size() + 1);
  }
  return {};
}

// The number after "Name=" in Text, read back exactly; NaN when there is none.
inline double NamedNumber(const std::string& Text, const std::string& Name) {
  const std::size_t at = Text.find(Name + "=");
  if (at == std::string::npos) return NAN;
  double value = NAN;
  std::from_chars(Text.c_str() + at + Name.size() + 1, Text.c_str() + Text.size(), value);
  return value;
}

}  // namespace testsupport
