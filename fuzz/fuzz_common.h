// Helpers shared by the fuzz targets: a private scratch folder per process and whole-file
// writes into it, so that code which reads files by name can be fed the fuzzer's bytes.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

namespace fuzz {

// Ends the run with a crash the fuzzer records, after saying which invariant broke.
[[noreturn]] inline void Fail(const char* What) {
  std::fprintf(stderr, "invariant violated: %s\n", What);
  std::fflush(stderr);
  __builtin_trap();
}

inline void Check(bool Condition, const char* What) {
  if (!Condition) Fail(What);
}

// A folder of this process alone, ending in "/", removed when the process exits normally.
inline const std::string& ScratchDir() {
  static const std::string dir = [] {
    std::string pattern = (std::filesystem::temp_directory_path() / "tessaly-fuzz-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) Fail("no scratch folder");
    static std::string removeAtExit = pattern;
    std::atexit([] {
      std::error_code ec;
      std::filesystem::remove_all(removeAtExit, ec);
    });
    return pattern + "/";
  }();
  return dir;
}

inline void WriteFile(const std::string& Path, std::string_view Bytes) {
  std::ofstream out(Path, std::ios::binary | std::ios::trunc);
  out.write(Bytes.data(), std::streamsize(Bytes.size()));
  if (!out) Fail("scratch file not written");
}

inline std::string ReadFile(const std::string& Path) {
  std::ifstream in(Path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Bytes with each byte that Keep refuses written as Prefix and two upper-case hex digits, so that
// a trace or an address holds no byte of its own meaning ("\\x" + "0A", "%" + "20").
template <class TKeep>
std::string EscapeBytes(std::string_view Bytes, TKeep Keep, const char* Prefix) {
  std::string out;
  for (const unsigned char c : Bytes) {
    if (Keep(c)) {
      out += char(c);
    } else {
      char code[8];
      std::snprintf(code, sizeof code, "%s%02X", Prefix, c);
      out += code;
    }
  }
  return out;
}

// The input cut at every Separator. Targets that need several files take them from one input
// this way, so that a plain file is a valid seed (one part) and the fuzzer's comparison hooks
// find the separator on their own.
inline std::vector<std::string_view> SplitParts(std::string_view Input, std::string_view Separator,
                                                std::size_t MaxParts) {
  std::vector<std::string_view> parts;
  while (parts.size() + 1 < MaxParts) {
    const std::size_t at = Input.find(Separator);
    if (at == std::string_view::npos) break;
    parts.push_back(Input.substr(0, at));
    Input.remove_prefix(at + Separator.size());
  }
  parts.push_back(Input);
  return parts;
}

// The separator between the files of one input, on a line of its own.
constexpr std::string_view PartSeparator = "\n--8<--\n";

}  // namespace fuzz
