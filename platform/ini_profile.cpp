#include "platform/ini_profile.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>

#include "platform/file_write.h"

namespace platform {

namespace {

constexpr std::size_t npos = std::string::npos;

bool IsBlank(char C) {
  return C == ' ' || C == '\t';
}

char Lower(char C) {
  return C >= 'A' && C <= 'Z' ? char(C - 'A' + 'a') : C;
}

bool SameName(std::string_view A, std::string_view B) {
  if (A.size() != B.size()) return false;
  for (std::size_t i = 0; i < A.size(); ++i)
    if (Lower(A[i]) != Lower(B[i])) return false;
  return true;
}

std::string LowerName(std::string_view Name) {
  std::string s(Name);
  for (char& c : s) c = Lower(c);
  return s;
}

// The caller's section and key names lose their spaces, not their tabs.
std::string_view TrimSpaces(std::string_view S) {
  while (!S.empty() && S.front() == ' ') S.remove_prefix(1);
  while (!S.empty() && S.back() == ' ') S.remove_suffix(1);
  return S;
}

std::string_view TrimBlanks(std::string_view S) {
  while (!S.empty() && IsBlank(S.front())) S.remove_prefix(1);
  while (!S.empty() && IsBlank(S.back())) S.remove_suffix(1);
  return S;
}

bool HasLineBreakOrNul(std::string_view S) {
  return S.find_first_of(std::string_view("\r\n\0", 3)) != npos;
}

}  // namespace

TIniText::TIniText(std::string Bytes) : FBytes(std::move(Bytes)) {
  Parse();
}

void TIniText::Parse() {
  FLines.clear();
  FSections.clear();
  FIndex.clear();
  const std::string& b = FBytes;
  std::size_t pos = 0;
  while (pos < b.size()) {
    Line l{};
    l.Begin = pos;
    std::size_t end = b.find_first_of("\r\n", pos);
    if (end == npos) end = b.size();
    l.End = end;
    l.Next = end;
    if (l.Next < b.size()) {
      if (b[l.Next] == '\r' && l.Next + 1 < b.size() && b[l.Next + 1] == '\n')
        l.Next += 2;
      else
        l.Next += 1;
    }
    pos = l.Next;

    const char* nul = static_cast<const char*>(std::memchr(b.data() + l.Begin, 0, l.End - l.Begin));
    l.CutEnd = nul ? std::size_t(nul - b.data()) : l.End;
    l.Equals = npos;
    std::size_t p = l.Begin;
    while (p < l.CutEnd && IsBlank(b[p])) ++p;
    if (p == l.CutEnd) {
      l.Kind = LineKind::Blank;
    } else if (b[p] == '[') {
      l.Kind = LineKind::Header;
      std::size_t close = b.find(']', p + 1);
      if (close == npos || close > l.CutEnd) close = l.CutEnd;
      l.NameBegin = p + 1;
      l.NameEnd = close;
    } else if (b[p] == ';') {
      l.Kind = LineKind::Comment;
    } else {
      l.Kind = LineKind::Key;
      const std::size_t eq = b.find('=', p);
      l.Equals = eq < l.CutEnd ? eq : npos;
      l.NameBegin = p;
      l.NameEnd = l.Equals == npos ? l.CutEnd : l.Equals;
    }
    if (l.Kind == LineKind::Header || l.Kind == LineKind::Key) {
      while (l.NameBegin < l.NameEnd && IsBlank(b[l.NameBegin])) ++l.NameBegin;
      while (l.NameEnd > l.NameBegin && IsBlank(b[l.NameEnd - 1])) --l.NameEnd;
    }
    FLines.push_back(l);
  }
  for (std::size_t i = 0; i < FLines.size(); ++i) {
    if (FLines[i].Kind != LineKind::Header) continue;
    if (!FSections.empty()) FSections.back().LineEnd = i;
    FSections.push_back({i, FLines.size()});
    FIndex.emplace(LowerName(Name(FLines[i])), FSections.size() - 1);
  }
}

std::string_view TIniText::Name(const Line& L) const {
  return std::string_view(FBytes).substr(L.NameBegin, L.NameEnd - L.NameBegin);
}

const TIniText::Section* TIniText::FindSection(std::string_view SectionName) const {
  const auto it = FIndex.find(LowerName(TrimSpaces(SectionName)));
  return it == FIndex.end() ? nullptr : &FSections[it->second];
}

std::optional<std::size_t> TIniText::FindKeyLine(const Section& S, std::string_view Key) const {
  Key = TrimSpaces(Key);
  for (std::size_t i = S.Header + 1; i < S.LineEnd; ++i)
    if (FLines[i].Kind == LineKind::Key && SameName(Name(FLines[i]), Key)) return i;
  return std::nullopt;
}

std::optional<std::string> TIniText::Find(std::string_view SectionName,
                                          std::string_view Key) const {
  const Section* s = FindSection(SectionName);
  if (!s) return std::nullopt;
  Key = TrimSpaces(Key);
  for (std::size_t i = s->Header + 1; i < s->LineEnd; ++i) {
    const Line& l = FLines[i];
    // A line without "=" names a key for writing but holds no value.
    if (l.Kind != LineKind::Key || l.Equals == npos || !SameName(Name(l), Key)) continue;
    std::string_view v =
        TrimBlanks(std::string_view(FBytes).substr(l.Equals + 1, l.CutEnd - l.Equals - 1));
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
      v = v.substr(1, v.size() - 2);
    return std::string(v);
  }
  return std::nullopt;
}

std::string TIniText::Get(std::string_view SectionName, std::string_view Key, const char* Default,
                          std::size_t BufferSize) const {
  std::string value;
  if (auto found = Find(SectionName, Key)) {
    value = std::move(*found);
  } else {
    value = Default ? Default : "";
    while (!value.empty() && value.back() == ' ') value.pop_back();
  }
  const std::size_t limit = BufferSize == 0 ? 0 : BufferSize - 1;
  if (value.size() > limit) value.resize(limit);
  return value;
}

bool TIniText::HasSection(std::string_view SectionName) const {
  return FindSection(SectionName) != nullptr;
}

std::vector<std::string> TIniText::SectionNames() const {
  std::vector<std::string> names;
  for (std::size_t i = 0; i < FSections.size(); ++i) {
    const std::string_view name = Name(FLines[FSections[i].Header]);
    if (FIndex.at(LowerName(name)) == i) names.emplace_back(name);
  }
  return names;
}

std::vector<std::string> TIniText::KeyNames(std::string_view SectionName) const {
  std::vector<std::string> names;
  const Section* s = FindSection(SectionName);
  if (!s) return names;
  for (std::size_t i = s->Header + 1; i < s->LineEnd; ++i) {
    const Line& l = FLines[i];
    if (l.Kind != LineKind::Key || l.Equals == npos) continue;
    const std::string_view name = Name(l);
    if (std::none_of(names.begin(), names.end(),
                     [&](const std::string& n) { return SameName(n, name); }))
      names.emplace_back(name);
  }
  return names;
}

std::string TIniText::NewLine() const {
  for (const Line& l : FLines)
    if (l.Next > l.End) return FBytes.substr(l.End, l.Next - l.End);
  return "\r\n";
}

void TIniText::Replace(std::size_t Begin, std::size_t End, std::string_view With) {
  FBytes.replace(Begin, End - Begin, With);
  Parse();
}

bool TIniText::Set(std::string_view SectionName, std::string_view Key, std::string_view Value,
                   bool* Changed, std::string* Error) {
  if (Changed) *Changed = false;
  SectionName = TrimSpaces(SectionName);
  Key = TrimSpaces(Key);
  const char* refusal = nullptr;
  if (HasLineBreakOrNul(SectionName) || HasLineBreakOrNul(Key) || HasLineBreakOrNul(Value))
    refusal = "a name or value holds a line break or NUL byte";
  else if (SectionName.find(']') != npos)
    refusal = "a section name holds \"]\"";
  else if (Key.find('=') != npos)
    refusal = "a key holds \"=\"";
  // Names in the file lose their tabs as well as their spaces, so a name with a tab at either
  // end would be stored under a name that nothing can read back; after a tab, ";" and "["
  // still make the line a comment or a section header.
  else if (TrimBlanks(SectionName) != SectionName || TrimBlanks(Key) != Key)
    refusal = "a name starts or ends with a tab";
  else if (!Key.empty() && (Key.front() == ';' || Key.front() == '['))
    refusal = "a key starts with \";\" or \"[\"";
  if (refusal) {
    if (Error) *Error = refusal;
    return false;
  }

  const std::string nl = NewLine();
  const std::string entry = std::string(Key) + "=" + std::string(Value);
  const Section* s = FindSection(SectionName);
  if (!s) {
    std::string add;
    if (!FLines.empty() && FLines.back().Next == FLines.back().End) add += nl;
    add += "[" + std::string(SectionName) + "]" + nl + entry + nl;
    Replace(FBytes.size(), FBytes.size(), add);
    if (Changed) *Changed = true;
    return true;
  }
  if (auto li = FindKeyLine(*s, Key)) {
    const Line l = FLines[*li];
    std::string line;
    if (l.Equals != npos) {
      const std::string_view old =
          TrimBlanks(std::string_view(FBytes).substr(l.Equals + 1, l.End - l.Equals - 1));
      if (old == Value) return true;
      std::size_t valueBegin = l.Equals + 1;
      while (valueBegin < l.End && IsBlank(FBytes[valueBegin])) ++valueBegin;
      line = FBytes.substr(l.Begin, valueBegin - l.Begin);
    } else {
      line = FBytes.substr(l.Begin, l.NameEnd - l.Begin) + "=";
    }
    line += Value;
    line += l.Next > l.End ? FBytes.substr(l.End, l.Next - l.End) : nl;
    // The same value with the same blanks around it: the file stays as it is.
    if (std::string_view(FBytes).substr(l.Begin, l.Next - l.Begin) == line) return true;
    Replace(l.Begin, l.Next, line);
  } else {
    std::size_t after = s->Header;
    for (std::size_t i = s->Header + 1; i < s->LineEnd; ++i)
      if (FLines[i].Kind == LineKind::Key) after = i;
    const Line l = FLines[after];
    std::string add = l.Next == l.End ? nl : std::string();
    // A lone CR in front of the LF that starts the next line would join it into one CR LF and
    // swallow that line; the new line then ends as the line it follows.
    const bool joins = nl == "\r" && l.Next < FBytes.size() && FBytes[l.Next] == '\n';
    add += entry + (joins ? FBytes.substr(l.End, l.Next - l.End) : nl);
    Replace(l.Next, l.Next, add);
  }
  if (Changed) *Changed = true;
  return true;
}

bool TIniText::Delete(std::string_view SectionName, std::string_view Key) {
  const Section* s = FindSection(SectionName);
  if (!s) return false;
  const auto li = FindKeyLine(*s, Key);
  if (!li) return false;
  const Line l = FLines[*li];
  // Between a lone CR and an LF, removing the whole line would join the two into one CR LF and
  // swallow the empty line that the LF ends; an empty CR LF line then stays in its place.
  const bool joins = l.Begin > 0 && FBytes[l.Begin - 1] == '\r' && l.Next < FBytes.size() &&
                     FBytes[l.Next] == '\n';
  Replace(l.Begin, l.Next, joins ? "\r\n" : "");
  return true;
}

TProfileFile::TProfileFile(std::string Path) : FPath(std::move(Path)) {}

const TIniText& TProfileFile::Text() {
  if (FDeferred) return FText;
  struct stat st {};
  std::int64_t inode = -1, size = -1, mtime = -1;
  if (stat(FPath.c_str(), &st) == 0) {
    inode = std::int64_t(st.st_ino);
    size = std::int64_t(st.st_size);
    mtime = std::int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  }
  if (FLoaded && inode == FInode && size == FSize && mtime == FMtimeNs) return FText;
  std::string bytes;
  if (inode >= 0) ReadWholeFile(FPath, &bytes);
  FText = TIniText(std::move(bytes));
  FLoaded = true;
  FInode = inode;
  FSize = size;
  FMtimeNs = mtime;
  return FText;
}

std::string TProfileFile::Get(std::string_view Section, std::string_view Key, const char* Default,
                              std::size_t BufferSize) {
  return Text().Get(Section, Key, Default, BufferSize);
}

std::optional<std::string> TProfileFile::Find(std::string_view Section, std::string_view Key) {
  return Text().Find(Section, Key);
}

bool TProfileFile::HasSection(std::string_view Section) {
  return Text().HasSection(Section);
}

std::vector<std::string> TProfileFile::SectionNames() {
  return Text().SectionNames();
}

std::vector<std::string> TProfileFile::KeyNames(std::string_view Section) {
  return Text().KeyNames(Section);
}

bool TProfileFile::Store(const std::string& Bytes, std::string* Error) {
  if (!WriteFileAtomically(FPath, Bytes, Error)) {
    FLoaded = false;
    return false;
  }
  FLoaded = false;  // the next read parses the file as written
  return true;
}

bool TProfileFile::Set(std::string_view Section, std::string_view Key, std::string_view Value,
                       std::string* Error) {
  if (FDeferred) {
    bool changed = false;
    if (!FText.Set(Section, Key, Value, &changed, Error)) return false;
    FPending = FPending || changed;
    return true;
  }
  TIniText text = Text();
  bool changed = false;
  if (!text.Set(Section, Key, Value, &changed, Error)) return false;
  return !changed || Store(text.Bytes(), Error);
}

bool TProfileFile::Delete(std::string_view Section, std::string_view Key, std::string* Error) {
  if (FDeferred) {
    struct stat st {};
    FPending = FText.Delete(Section, Key) || FPending || stat(FPath.c_str(), &st) != 0;
    return true;
  }
  struct stat st {};
  if (stat(FPath.c_str(), &st) != 0) return Store(std::string(), Error);
  TIniText text = Text();
  if (!text.Delete(Section, Key)) return true;
  return Store(text.Bytes(), Error);
}

void TProfileFile::BeginUpdate() {
  Text();
  FDeferred = true;
  FPending = false;
}

bool TProfileFile::EndUpdate(std::string* Error) {
  if (!FDeferred) return true;
  FDeferred = false;
  const bool pending = FPending;
  FPending = false;
  return !pending || Store(FText.Bytes(), Error);
}

std::optional<std::int32_t> ParseIniInteger(std::string_view Text) {
  if (Text.size() > 2 && Text[0] == '0' && (Text[1] == 'x' || Text[1] == 'X')) {
    std::uint64_t v = 0;
    std::size_t digits = 0;
    for (const char c : Text.substr(2)) {
      int d;
      if (c >= '0' && c <= '9')
        d = c - '0';
      else if (c >= 'a' && c <= 'f')
        d = c - 'a' + 10;
      else if (c >= 'A' && c <= 'F')
        d = c - 'A' + 10;
      else
        return std::nullopt;
      v = v * 16 + std::uint64_t(d);
      if (v != 0 && ++digits > 8) return std::nullopt;
    }
    return std::int32_t(std::uint32_t(v));
  }
  bool negative = false;
  if (!Text.empty() && (Text[0] == '+' || Text[0] == '-')) {
    negative = Text[0] == '-';
    Text.remove_prefix(1);
  }
  if (Text.empty()) return std::nullopt;
  std::int64_t v = 0;
  for (const char c : Text) {
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10 + (c - '0');
    if (v > std::int64_t(1) << 31) return std::nullopt;
  }
  if (negative) v = -v;
  if (v > INT32_MAX || v < INT32_MIN) return std::nullopt;
  return std::int32_t(v);
}

EIniFileException::EIniFileException(const std::string& Path, const std::string& Reason)
    : std::runtime_error("nach " + Path + " kann nicht geschrieben werden"), FReason(Reason) {}

std::string TIniFile::ReadString(std::string_view Section, std::string_view Key,
                                 const std::string& Default) {
  return FFile.Get(Section, Key, Default.c_str());
}

std::int32_t TIniFile::ReadInteger(std::string_view Section, std::string_view Key,
                                   std::int32_t Default) {
  return ParseIniInteger(FFile.Get(Section, Key, "")).value_or(Default);
}

bool TIniFile::ReadBool(std::string_view Section, std::string_view Key, bool Default) {
  return ReadInteger(Section, Key, Default ? 1 : 0) != 0;
}

bool TIniFile::SectionExists(std::string_view Section) {
  return FFile.HasSection(Section);
}

void TIniFile::WriteString(std::string_view Section, std::string_view Key, std::string_view Value) {
  std::string error;
  if (!FFile.Set(Section, Key, Value, &error)) throw EIniFileException(FFile.Path(), error);
}

void TIniFile::WriteInteger(std::string_view Section, std::string_view Key, std::int32_t Value) {
  WriteString(Section, Key, std::to_string(Value));
}

void TIniFile::WriteBool(std::string_view Section, std::string_view Key, bool Value) {
  WriteString(Section, Key, Value ? "1" : "0");
}

void TIniFile::UpdateFile() {
  std::string error;
  if (!FFile.EndUpdate(&error)) throw EIniFileException(FFile.Path(), error);
}

void TIniFile::DeleteKey(std::string_view Section, std::string_view Key) {
  std::string error;
  if (!FFile.Delete(Section, Key, &error)) throw EIniFileException(FFile.Path(), error);
}

}  // namespace platform
