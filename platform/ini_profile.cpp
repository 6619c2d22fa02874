#include "platform/ini_profile.h"

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <unordered_set>
#include <utility>

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

std::atomic<std::uint64_t> LinesParsedSoFar{0};

bool HasLineBreakOrNul(std::string_view S) {
  return S.find_first_of(std::string_view("\r\n\0", 3)) != npos;
}

}  // namespace

TIniText::TIniText(std::string Bytes) : FSource(std::move(Bytes)) {
  Parse();
}

void TIniText::Parse() {
  FSections.assign(1, Section{});
  FIndex.clear();
  FEdits.clear();
  FBytes.clear();
  FStale = true;
  const std::string& b = FSource;
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
    ParseLine(l);
    if (l.Kind == LineKind::Header) {
      FSections.emplace_back();
      FIndex.emplace(LowerName(Name(l)), FSections.size() - 1);
    }
    Section& s = FSections.back();
    if (l.Kind == LineKind::Key) s.LastKey = s.Lines.size();
    s.Lines.push_back(l);
  }
}

std::uint64_t TIniText::LinesParsed() {
  return LinesParsedSoFar.load(std::memory_order_relaxed);
}

void TIniText::ParseLine(Line& L) const {
  LinesParsedSoFar.fetch_add(1, std::memory_order_relaxed);
  const std::string& b = Buffer(L);
  const char* nul = static_cast<const char*>(std::memchr(b.data() + L.Begin, 0, L.End - L.Begin));
  L.CutEnd = nul ? std::size_t(nul - b.data()) : L.End;
  L.Equals = npos;
  L.NameBegin = L.NameEnd = L.Begin;
  std::size_t p = L.Begin;
  while (p < L.CutEnd && IsBlank(b[p])) ++p;
  if (p == L.CutEnd) {
    L.Kind = LineKind::Blank;
  } else if (b[p] == '[') {
    L.Kind = LineKind::Header;
    std::size_t close = b.find(']', p + 1);
    if (close == npos || close > L.CutEnd) close = L.CutEnd;
    L.NameBegin = p + 1;
    L.NameEnd = close;
  } else if (b[p] == ';') {
    L.Kind = LineKind::Comment;
  } else {
    L.Kind = LineKind::Key;
    const std::size_t eq = b.find('=', p);
    L.Equals = eq < L.CutEnd ? eq : npos;
    L.NameBegin = p;
    L.NameEnd = L.Equals == npos ? L.CutEnd : L.Equals;
  }
  if (L.Kind == LineKind::Header || L.Kind == LineKind::Key) {
    while (L.NameBegin < L.NameEnd && IsBlank(b[L.NameBegin])) ++L.NameBegin;
    while (L.NameEnd > L.NameBegin && IsBlank(b[L.NameEnd - 1])) --L.NameEnd;
  }
}

std::string_view TIniText::Name(const Line& L) const {
  return std::string_view(Buffer(L)).substr(L.NameBegin, L.NameEnd - L.NameBegin);
}

std::string_view TIniText::Text(const Line& L) const {
  return std::string_view(Buffer(L)).substr(L.Begin, L.Next - L.Begin);
}

const std::string& TIniText::Bytes() const {
  if (FStale) {
    std::size_t size = 0;
    for (const Section& s : FSections)
      for (const Line& l : s.Lines) size += l.Next - l.Begin;
    FBytes.clear();
    FBytes.reserve(size);
    for (const Section& s : FSections)
      for (const Line& l : s.Lines) FBytes += Text(l);
    FStale = false;
  }
  return FBytes;
}

std::optional<std::size_t> TIniText::FindSection(std::string_view SectionName) const {
  const auto it = FIndex.find(LowerName(TrimSpaces(SectionName)));
  if (it == FIndex.end()) return std::nullopt;
  return it->second;
}

void TIniText::IndexKeys(const Section& S) const {
  // Short sections are searched line by line; a long one gets its index once.
  constexpr std::size_t IndexFrom = 16;
  if (S.Indexed || S.Lines.size() < IndexFrom) return;
  for (std::size_t i = 1; i < S.Lines.size(); ++i)
    if (S.Lines[i].Kind == LineKind::Key) S.Keys[LowerName(Name(S.Lines[i]))].push_back(i);
  S.Indexed = true;
}

std::optional<std::size_t> TIniText::FindKeyLine(const Section& S, std::string_view Key) const {
  Key = TrimSpaces(Key);
  if (S.Indexed) {
    const auto it = S.Keys.find(LowerName(Key));
    if (it == S.Keys.end() || it->second.empty()) return std::nullopt;
    return it->second.front();
  }
  for (std::size_t i = 1; i < S.Lines.size(); ++i)
    if (S.Lines[i].Kind == LineKind::Key && SameName(Name(S.Lines[i]), Key)) return i;
  return std::nullopt;
}

std::optional<std::string> TIniText::Find(std::string_view SectionName,
                                          std::string_view Key) const {
  const auto si = FindSection(SectionName);
  if (!si) return std::nullopt;
  const Section& s = FSections[*si];
  IndexKeys(s);
  Key = TrimSpaces(Key);
  const auto value = [&](const Line& l) -> std::optional<std::string> {
    // A line without "=" names a key for writing but holds no value.
    if (l.Kind != LineKind::Key || l.Equals == npos || !SameName(Name(l), Key)) return {};
    std::string_view v =
        TrimBlanks(std::string_view(Buffer(l)).substr(l.Equals + 1, l.CutEnd - l.Equals - 1));
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
      v = v.substr(1, v.size() - 2);
    return std::string(v);
  };
  if (s.Indexed) {
    if (const auto it = s.Keys.find(LowerName(Key)); it != s.Keys.end())
      for (const std::size_t i : it->second)
        if (auto v = value(s.Lines[i])) return v;
    return std::nullopt;
  }
  for (std::size_t i = 1; i < s.Lines.size(); ++i)
    if (auto v = value(s.Lines[i])) return v;
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
  return FindSection(SectionName).has_value();
}

std::vector<std::string> TIniText::SectionNames() const {
  std::vector<std::string> names;
  for (std::size_t i = 1; i < FSections.size(); ++i) {
    const std::string_view name = Name(FSections[i].Lines.front());
    if (FIndex.at(LowerName(name)) == i) names.emplace_back(name);
  }
  return names;
}

std::vector<std::string> TIniText::KeyNames(std::string_view SectionName) const {
  std::vector<std::string> names;
  const auto si = FindSection(SectionName);
  if (!si) return names;
  std::unordered_set<std::string> seen;
  for (const Line& l : FSections[*si].Lines) {
    if (l.Kind != LineKind::Key || l.Equals == npos) continue;
    if (seen.insert(LowerName(Name(l))).second) names.emplace_back(Name(l));
  }
  return names;
}

std::optional<TIniText::Place> TIniText::Neighbour(Place At, bool Forward) const {
  for (;;) {
    if (Forward) {
      if (++At.Line >= FSections[At.Section].Lines.size()) {
        do {
          if (++At.Section >= FSections.size()) return std::nullopt;
        } while (FSections[At.Section].Lines.empty());
        At.Line = 0;
      }
    } else {
      while (At.Line == 0) {
        if (At.Section == 0) return std::nullopt;
        At.Line = FSections[--At.Section].Lines.size();
      }
      --At.Line;
    }
    if (FSections[At.Section].Lines[At.Line].Kind != LineKind::Gone) return At;
  }
}

std::optional<TIniText::Place> TIniText::LastLine() const {
  Place end{FSections.size() - 1, FSections.back().Lines.size()};
  return Neighbour(end, false);
}

std::string TIniText::NewLine() const {
  for (const Section& s : FSections)
    for (const Line& l : s.Lines)
      if (l.Next > l.End) return std::string(Buffer(l).substr(l.End, l.Next - l.End));
  return "\r\n";
}

TIniText::Line TIniText::NewLineOf(std::string_view Content, std::string_view Break) {
  Line l{};
  l.Edited = true;
  l.Begin = FEdits.size();
  FEdits += Content;
  l.End = FEdits.size();
  FEdits += Break;
  l.Next = FEdits.size();
  ParseLine(l);
  FStale = true;
  return l;
}

void TIniText::ReplaceLine(Line& L, std::string_view Content, std::string_view Break) {
  L = NewLineOf(Content, Break);
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
  const auto si = FindSection(SectionName);
  if (!si) {
    // A last line without a line break gets one first.
    if (const auto last = LastLine()) {
      Line& l = FSections[last->Section].Lines[last->Line];
      if (l.Next == l.End) ReplaceLine(l, std::string(Text(l)), nl);
    }
    Section s;
    s.Lines.push_back(NewLineOf("[" + std::string(SectionName) + "]", nl));
    s.Lines.push_back(NewLineOf(entry, nl));
    s.LastKey = 1;
    FSections.push_back(std::move(s));
    FIndex.emplace(LowerName(SectionName), FSections.size() - 1);
    if (Changed) *Changed = true;
    return true;
  }
  Section& s = FSections[*si];
  IndexKeys(s);
  if (auto li = FindKeyLine(s, Key)) {
    Line& l = s.Lines[*li];
    const std::string_view b = Buffer(l);
    std::string line;
    if (l.Equals != npos) {
      const std::string_view old = TrimBlanks(b.substr(l.Equals + 1, l.End - l.Equals - 1));
      if (old == Value) return true;
      std::size_t valueBegin = l.Equals + 1;
      while (valueBegin < l.End && IsBlank(b[valueBegin])) ++valueBegin;
      line = b.substr(l.Begin, valueBegin - l.Begin);
    } else {
      line = std::string(b.substr(l.Begin, l.NameEnd - l.Begin)) + "=";
    }
    line += Value;
    const std::string lineBreak =
        l.Next > l.End ? std::string(b.substr(l.End, l.Next - l.End)) : nl;
    // The same value with the same blanks around it: the file stays as it is.
    if (b.substr(l.Begin, l.End - l.Begin) == line && l.Next > l.End) return true;
    ReplaceLine(l, line, lineBreak);
  } else {
    Line& l = s.Lines[s.LastKey];
    if (l.Next == l.End) ReplaceLine(l, std::string(Text(l)), nl);
    // A lone CR in front of the LF that starts the next line would join it into one CR LF and
    // swallow that line; the new line then ends as the line it follows.
    bool joins = false;
    if (nl == "\r") {
      if (const auto next = Neighbour({*si, s.LastKey}, true)) {
        const Line& n = FSections[next->Section].Lines[next->Line];
        joins = Buffer(n)[n.Begin] == '\n';
      }
    }
    const Line& after = s.Lines[s.LastKey];
    const std::string lineBreak =
        joins ? std::string(Buffer(after).substr(after.End, after.Next - after.End)) : nl;
    const std::size_t at = s.LastKey + 1;
    // Only lines without a key follow the last key, so no indexed line moves.
    s.Lines.insert(s.Lines.begin() + std::ptrdiff_t(at), NewLineOf(entry, lineBreak));
    s.LastKey = at;
    if (s.Indexed) s.Keys[LowerName(Key)].push_back(at);
  }
  if (Changed) *Changed = true;
  return true;
}

bool TIniText::Delete(std::string_view SectionName, std::string_view Key) {
  const auto si = FindSection(SectionName);
  if (!si) return false;
  Section& s = FSections[*si];
  IndexKeys(s);
  const auto li = FindKeyLine(s, Key);
  if (!li) return false;
  // Between a lone CR and an LF, removing the whole line would join the two into one CR LF and
  // swallow the empty line that the LF ends; an empty CR LF line then stays in its place.
  bool joins = false;
  const auto before = Neighbour({*si, *li}, false), after = Neighbour({*si, *li}, true);
  if (before && after) {
    const Line& b = FSections[before->Section].Lines[before->Line];
    const Line& a = FSections[after->Section].Lines[after->Line];
    joins = b.Next > b.Begin && Buffer(b)[b.Next - 1] == '\r' && Buffer(a)[a.Begin] == '\n';
  }
  if (s.Indexed) {
    std::vector<std::size_t>& lines = s.Keys[LowerName(Name(s.Lines[*li]))];
    lines.erase(std::find(lines.begin(), lines.end(), *li));
  }
  Line& l = s.Lines[*li];
  if (joins) {
    ReplaceLine(l, "", "\r\n");
  } else {
    l.Kind = LineKind::Gone;
    l.Begin = l.End = l.Next = 0;
    FStale = true;
  }
  if (*li == s.LastKey) {
    while (s.LastKey > 0 && s.Lines[s.LastKey].Kind != LineKind::Key) --s.LastKey;
  }
  return true;
}

TFileWriteOptions ProfileWriteOptions() {
  TFileWriteOptions options;
  options.FollowSymlink = false;
  return options;
}

TProfileFile::TProfileFile(std::string Path, TFileWriteOptions Options)
    : FPath(std::move(Path)), FOptions(std::move(Options)) {}

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
  FReadFailure.clear();
  if (inode >= 0 && !ReadWholeFile(FPath, &bytes, &FReadFailure) && FReadFailure.empty())
    FReadFailure = "cannot be read";
  FText = TIniText(std::move(bytes));
  FLoaded = true;
  FInode = inode;
  FSize = size;
  FMtimeNs = mtime;
  return FText;
}

const std::string& TProfileFile::ReadFailure() {
  Text();
  return FReadFailure;
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

bool TProfileFile::Unreadable(std::string* Error) {
  // What could not be read is never replaced by what little a write would leave of it.
  if (ReadFailure().empty()) return false;
  if (Error) *Error = FReadFailure;
  return true;
}

bool TProfileFile::Store(const std::string& Bytes, std::string* Error) {
  FLoaded = false;  // the next read parses the file as written, or as it stayed
  return WriteFileAtomically(FPath, Bytes, Error, FOptions);
}

bool TProfileFile::Set(std::string_view Section, std::string_view Key, std::string_view Value,
                       std::string* Error) {
  if (Unreadable(Error)) return false;
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
  if (Unreadable(Error)) return false;
  struct stat st {};
  if (FDeferred) {
    FPending = FText.Delete(Section, Key) || FPending || stat(FPath.c_str(), &st) != 0;
    return true;
  }
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

void TProfileFile::DiscardUpdate() {
  FDeferred = FPending = false;
  FLoaded = false;  // the collected writes are in the cached text: read the file again
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

void TIniFile::Failed(std::string Reason) {
  if (FFailure.Ok()) FFailure = TStatus::Failure(std::move(Reason));
}

void TIniFile::WriteString(std::string_view Section, std::string_view Key, std::string_view Value) {
  std::string error;
  if (!FFile.Set(Section, Key, Value, &error)) Failed(std::move(error));
}

void TIniFile::WriteInteger(std::string_view Section, std::string_view Key, std::int32_t Value) {
  WriteString(Section, Key, std::to_string(Value));
}

void TIniFile::WriteBool(std::string_view Section, std::string_view Key, bool Value) {
  WriteString(Section, Key, Value ? "1" : "0");
}

void TIniFile::DeleteKey(std::string_view Section, std::string_view Key) {
  std::string error;
  if (!FFile.Delete(Section, Key, &error)) Failed(std::move(error));
}

TStatus TIniFile::Save() {
  if (!FFailure.Ok()) {
    FFile.DiscardUpdate();
  } else if (std::string error; !FFile.EndUpdate(&error)) {
    Failed(std::move(error));
  }
  return std::exchange(FFailure, TStatus());
}

}  // namespace platform
