// INI profile files as the Windows profile functions read and write them, so that files from
// other programs of that world read exactly as they did there.
//
// Reading: section and key names match without regard to ASCII case, after the caller's names
// lose their surrounding spaces (tabs are kept, so "S\t" finds nothing). A header is a line
// whose first non-blank byte is "["; its name ends at the first "]" (or the line's end) and
// loses its blanks. Only the first section of a name is searched, and in it the first key of a
// name. Lines before the first header, ";" lines and lines without "=" hold no value; "#" is an
// ordinary character. A value is the text after the first "=", without its blanks, without one
// pair of matching outer quotes, and cut at a NUL byte. Lines end at CR LF, LF or CR alone. A
// byte-order mark is part of the first line.
//
// Writing edits only the line it concerns and keeps every other byte of the file: comments,
// blank lines, the spelling of names, line ends. A new key goes after the last key of its
// section (before trailing comments and blank lines), a new section at the end of the file.
// New lines end as the file's first line does (CR LF in a new file). Writing the value already
// there leaves the file untouched. Names and values that would change the file's structure (a
// line break or NUL anywhere, "=" in a key, "]" in a section name, a key starting with ";" or
// "[", a name starting or ending with a tab) are refused rather than written into something
// that reads back differently. New lines never join a lone CR before them with an LF after
// them into one line break.
//
// Files: only a regular file of at most platform::MaxReadBytes is read (a FIFO or a device is
// refused without a byte read); a file that cannot be read reads as empty and takes no write,
// so that a write never replaces what could not be read. A symbolic link at the path is
// replaced by the written file, never written through.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/file_write.h"
#include "platform/status.h"

namespace platform {

// The most characters a text value is read with (the profile functions' 2048-byte buffer).
constexpr std::size_t IniMaxValueLength = 2047;

// The parsed text of one profile file. The text is held as lines grouped in sections, each line
// parsed on its own; an edit replaces, adds or drops one line and re-parses that line alone,
// so that N writes cost O(N) together and the bytes are put together once, when asked for.
class TIniText {
 public:
  TIniText() = default;
  explicit TIniText(std::string Bytes);

  // The text with every edit so far.
  const std::string& Bytes() const;

  // The value of Key in Section, as read (trimmed, unquoted, cut at NUL), whole; nothing when
  // the section or key is absent.
  std::optional<std::string> Find(std::string_view Section, std::string_view Key) const;
  // The profile read: the value, or Default when the key is absent (nullptr reads as ""; its
  // trailing spaces are dropped), cut to BufferSize - 1 bytes.
  std::string Get(std::string_view Section, std::string_view Key, const char* Default,
                  std::size_t BufferSize = IniMaxValueLength + 1) const;
  bool HasSection(std::string_view Section) const;
  // Section names in file order, each name once (as first spelled).
  std::vector<std::string> SectionNames() const;
  // The key names of the first section of that name, in order, each once.
  std::vector<std::string> KeyNames(std::string_view Section) const;

  // Writes Value under Key in Section; false (nothing changed, *Error set) for names or values
  // that cannot be stored. *Changed tells whether the bytes changed.
  bool Set(std::string_view Section, std::string_view Key, std::string_view Value,
           bool* Changed = nullptr, std::string* Error = nullptr);
  // Removes the first line of Key in Section; comment lines are never removed. True when a line
  // went.
  bool Delete(std::string_view Section, std::string_view Key);

  // The lines parsed by all texts of this process so far: what the cost of a group of writes
  // is measured in (a test checks that N writes parse O(N) lines, not N times the file).
  static std::uint64_t LinesParsed();

 private:
  enum class LineKind : std::uint8_t { Gone, Blank, Comment, Header, Key };
  // Offsets into the line's buffer: the bytes read (FSource) or those of an edit (FEdits).
  struct Line {
    std::size_t Begin, End, Next;    // content [Begin, End), line break [End, Next)
    std::size_t NameBegin, NameEnd;  // header or key name, trimmed
    std::size_t Equals;              // offset of "=" in a key line, or npos
    std::size_t CutEnd;              // End, or the first NUL byte before it
    LineKind Kind;
    bool Edited;
  };
  struct Section {
    std::vector<Line> Lines;  // the header first; section 0 holds the lines before any header
    std::size_t LastKey = 0;  // the last key line, or 0 (the header) when there is none
    // The lines of each lower-cased key name, in order; built for a long section when first
    // searched (also by a read), then kept up to date.
    mutable std::unordered_map<std::string, std::vector<std::size_t>> Keys;
    mutable bool Indexed = false;
  };
  struct Place {
    std::size_t Section, Line;
  };

  void Parse();
  const std::string& Buffer(const Line& L) const { return L.Edited ? FEdits : FSource; }
  void ParseLine(Line& L) const;
  std::string_view Name(const Line& L) const;
  std::string_view Text(const Line& L) const;
  std::optional<std::size_t> FindSection(std::string_view Name) const;
  void IndexKeys(const Section& S) const;
  std::optional<std::size_t> FindKeyLine(const Section& S, std::string_view Key) const;
  std::string NewLine() const;
  // The line before (Forward false) or after a place, over sections, skipping dropped lines.
  std::optional<Place> Neighbour(Place At, bool Forward) const;
  std::optional<Place> LastLine() const;
  void ReplaceLine(Line& L, std::string_view Content, std::string_view Break);
  Line NewLineOf(std::string_view Content, std::string_view Break);

  std::string FSource, FEdits;
  std::vector<Section> FSections = std::vector<Section>(1);  // section 0: before any header
  // First section of each lower-cased name, for files with many sections.
  std::unordered_map<std::string, std::size_t> FIndex;
  // The bytes, put together from the lines when they have changed since.
  mutable std::string FBytes;
  mutable bool FStale = false;
};

// One profile file on disk. Every read sees the file as it is now (a changed file is parsed
// again); every write goes to the file at once and atomically. A missing file reads as empty
// and is created by the first write.
// How profile files are written unless a caller says otherwise: a symbolic link at the path is
// replaced by the file, never written through.
TFileWriteOptions ProfileWriteOptions();

class TProfileFile {
 public:
  explicit TProfileFile(std::string Path, TFileWriteOptions Options = ProfileWriteOptions());

  const std::string& Path() const { return FPath; }
  // Why the file could not be read ("not a regular file", "larger than 16 MiB", the system's
  // reason); empty when it was read or does not exist. A file that cannot be read reads as
  // empty and every write to it fails with this reason.
  const std::string& ReadFailure();

  std::string Get(std::string_view Section, std::string_view Key, const char* Default,
                  std::size_t BufferSize = IniMaxValueLength + 1);
  std::optional<std::string> Find(std::string_view Section, std::string_view Key);
  bool HasSection(std::string_view Section);
  std::vector<std::string> SectionNames();
  std::vector<std::string> KeyNames(std::string_view Section);

  // The profile write: false with the reason in *Error when the name or value is refused or
  // the file cannot be written (the file is then as before).
  bool Set(std::string_view Section, std::string_view Key, std::string_view Value,
           std::string* Error = nullptr);
  // The profile delete. A missing file becomes an empty one, as the profile functions do.
  bool Delete(std::string_view Section, std::string_view Key, std::string* Error = nullptr);

  // Collects the writes that follow and stores them in one replacement of the file at
  // EndUpdate, so a group of keys that belongs together (an interface file, the window's
  // bounds) is in the file completely or not at all. Reads in between see the collected
  // writes. The file is parsed once and written once, however many writes the group holds.
  void BeginUpdate();
  bool EndUpdate(std::string* Error = nullptr);
  // Ends the group without storing it: the file stays as it is, and reads see it so again.
  void DiscardUpdate();

 private:
  const TIniText& Text();
  bool Unreadable(std::string* Error);
  bool Store(const std::string& Bytes, std::string* Error);

  std::string FPath;
  TFileWriteOptions FOptions;
  TIniText FText;
  std::string FReadFailure;
  bool FLoaded = false;
  bool FDeferred = false, FPending = false;
  // What the cached text was read from, to notice a file changed by someone else.
  std::int64_t FInode = -1, FSize = -1, FMtimeNs = -1;
};

// Integer text as the profile readers take it: decimal with an optional sign, or, when longer
// than two characters, "0x"/"0X" and hexadecimal digits (up to 32 bits, wrapping to negative
// as a 32-bit value does); nothing when it does not parse or does not fit 32 bits.
std::optional<std::int32_t> ParseIniInteger(std::string_view Text);

// The settings-file object the programs use: typed reads with defaults, and writes whose
// failure Save reports.
class TIniFile {
 public:
  explicit TIniFile(std::string Path, TFileWriteOptions Options = ProfileWriteOptions())
      : FFile(std::move(Path), std::move(Options)) {}

  const std::string& FileName() const { return FFile.Path(); }
  // See TProfileFile::ReadFailure.
  const std::string& ReadFailure() { return FFile.ReadFailure(); }

  std::string ReadString(std::string_view Section, std::string_view Key,
                         const std::string& Default);
  std::int32_t ReadInteger(std::string_view Section, std::string_view Key, std::int32_t Default);
  bool ReadBool(std::string_view Section, std::string_view Key, bool Default);
  bool SectionExists(std::string_view Section);

  // Each write goes to the file at once, or between BeginUpdate and Save with its group. One
  // that fails (a name or value refused, a file that cannot be read or written) changes nothing
  // and is kept, the first of them, for Save to report; a group with a failed write is not
  // stored at all, so that a file is never left with part of a group.
  void WriteString(std::string_view Section, std::string_view Key, std::string_view Value);
  void WriteInteger(std::string_view Section, std::string_view Key, std::int32_t Value);
  void WriteBool(std::string_view Section, std::string_view Key, bool Value);
  void DeleteKey(std::string_view Section, std::string_view Key);

  // Writes until Save go to the file in one replacement (see TProfileFile::BeginUpdate).
  void BeginUpdate() { FFile.BeginUpdate(); }
  // Stores the group begun by BeginUpdate, and reports the first write since the last Save that
  // failed, with the system's reason ("Permission denied", "not a regular file") for a sentence
  // of the caller's, which names the file: the file is then as it was before the group.
  TStatus Save();

 private:
  void Failed(std::string Reason);

  TProfileFile FFile;
  TStatus FFailure;
};

}  // namespace platform
