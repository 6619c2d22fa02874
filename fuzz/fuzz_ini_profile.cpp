// The INI profile layer on random files and a random sequence of reads, writes and deletes.
// Each write must read back as the read rules give the written value (or be refused for a
// reason the layer names), and every line outside the touched key must stay, byte for byte and
// in meaning. The same sequence through TProfileFile on disk must end with the same bytes as the
// in-memory text.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_common.h"
#include "platform/ini_profile.h"

namespace {

using fuzz::Check;
using fuzz::Fail;
using platform::TIniText;

std::string_view TrimBlanks(std::string_view S) {
  while (!S.empty() && (S.front() == ' ' || S.front() == '\t')) S.remove_prefix(1);
  while (!S.empty() && (S.back() == ' ' || S.back() == '\t')) S.remove_suffix(1);
  return S;
}

std::string_view TrimSpaces(std::string_view S) {
  while (!S.empty() && S.front() == ' ') S.remove_prefix(1);
  while (!S.empty() && S.back() == ' ') S.remove_suffix(1);
  return S;
}

std::string Lower(std::string_view S) {
  std::string out(S);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return out;
}

// What a reader gets back for a value written as Value: without surrounding blanks and one pair
// of matching outer quotes.
std::string ReadForm(std::string_view Value) {
  std::string_view v = TrimBlanks(Value);
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
    v = v.substr(1, v.size() - 2);
  return std::string(v);
}

// The file's lines with their line ends (CR LF, LF or CR alone).
std::vector<std::string_view> Lines(std::string_view B) {
  std::vector<std::string_view> lines;
  std::size_t pos = 0;
  while (pos < B.size()) {
    std::size_t end = B.find_first_of("\r\n", pos);
    if (end == std::string_view::npos) {
      end = B.size();
    } else if (B[end] == '\r' && end + 1 < B.size() && B[end + 1] == '\n') {
      end += 2;
    } else {
      end += 1;
    }
    lines.push_back(B.substr(pos, end - pos));
    pos = end;
  }
  return lines;
}

// Every (section, key) -> value the text holds, by lower-cased names, first section and first
// key of a name only (as a reader finds them).
using TValues = std::map<std::pair<std::string, std::string>, std::string>;
std::optional<TValues> AllValues(const TIniText& Text) {
  TValues values;
  for (const std::string& s : Text.SectionNames()) {
    for (const std::string& k : Text.KeyNames(s)) {
      if (values.size() > 400) return std::nullopt;
      const auto v = Text.Find(s, k);
      if (!v) Fail("a listed key has no value");
      values.emplace(std::make_pair(Lower(s), Lower(k)), *v);
    }
  }
  return values;
}

// The lines of Before that are not in After, between their common start and common end: at most
// one, and only the touched key's own line.
void CheckOtherLinesKept(std::string_view Before, std::string_view After, std::string_view Key,
                         bool Deleted) {
  const auto b = Lines(Before), a = Lines(After);
  std::size_t prefix = 0;
  while (prefix < b.size() && prefix < a.size() && b[prefix] == a[prefix]) ++prefix;
  std::size_t suffix = 0;
  while (suffix < b.size() - prefix && suffix < a.size() - prefix &&
         b[b.size() - 1 - suffix] == a[a.size() - 1 - suffix])
    ++suffix;
  const std::size_t goneLines = b.size() - prefix - suffix;
  if (goneLines == 0) {
    Check(!Deleted || a.size() - prefix - suffix == 0, "a delete added a line");
    return;
  }
  Check(goneLines == 1, "a write or delete changed more than one existing line");
  const std::string_view gone = b[prefix];
  // The last line of a file without a line end gains one when something goes after it.
  if (!Deleted && prefix + 1 == b.size() && gone.find_first_of("\r\n") == std::string_view::npos &&
      a.size() > prefix && a[prefix].substr(0, gone.size()) == gone &&
      a[prefix].find_first_of("\r\n") == gone.size())
    return;
  std::string_view content = gone.substr(0, gone.find_first_of("\r\n"));
  content = content.substr(0, content.find('\0'));
  const std::string_view name = TrimBlanks(content.substr(0, content.find('=')));
  Check(Lower(name) == Lower(TrimSpaces(Key)), "a line other than the key's own changed");
  // Between a lone CR and an LF the deleted line leaves an empty CR LF line, so that the two
  // do not join.
  if (Deleted)
    Check(a.size() - prefix - suffix == 0 ||
              (a.size() - prefix - suffix == 1 && a[prefix] == "\r\n" && prefix > 0 &&
               b[prefix - 1].back() == '\r'),
          "a delete changed a line it kept");
}

bool HasLineBreakOrNul(std::string_view S) {
  return S.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

// A name: one of the file's own (in another letter case or with spaces around, which must
// still find it) or fresh bytes.
std::string PickName(FuzzedDataProvider& In, const std::vector<std::string>& Known) {
  if (!Known.empty() && In.ConsumeBool()) {
    std::string name = Known[In.ConsumeIntegralInRange<std::size_t>(0, Known.size() - 1)];
    const int variant = In.ConsumeIntegralInRange(0, 2);
    if (variant == 1) {
      for (char& c : name)
        if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    } else if (variant == 2) {
      name = " " + name + "  ";
    }
    return name;
  }
  return In.ConsumeRandomLengthString(24);
}

// FUZZ_TRACE=1 prints every operation and the text after it, to read a crashing input.
std::string Escaped(std::string_view S) {
  return fuzz::EscapeBytes(
      S, [](unsigned char c) { return c >= 0x20 && c < 0x7F && c != '\\'; }, "\\x");
}

struct TOp {
  int Kind;  // 0 read, 1 write, 2 delete
  std::string Section, Key, Value;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  FuzzedDataProvider in(Data, Size);
  const std::string initial = in.ConsumeRandomLengthString(4096);
  TIniText text(initial);
  std::vector<TOp> ops;

  while (in.remaining_bytes() > 0 && ops.size() < 12) {
    TOp op;
    op.Kind = in.ConsumeIntegralInRange(0, 2);
    const std::vector<std::string> sections = text.SectionNames();
    op.Section = PickName(in, sections);
    op.Key = PickName(in, text.KeyNames(op.Section));
    if (op.Kind == 1) op.Value = in.ConsumeRandomLengthString(48);
    ops.push_back(op);

    const std::string before = text.Bytes();
    static const bool trace = std::getenv("FUZZ_TRACE") != nullptr;
    if (trace)
      std::fprintf(stderr, "text \"%s\"\nop %d [%s] [%s] [%s]\n", Escaped(before).c_str(), op.Kind,
                   Escaped(op.Section).c_str(), Escaped(op.Key).c_str(), Escaped(op.Value).c_str());
    if (op.Kind == 0) {
      const auto found = text.Find(op.Section, op.Key);
      const std::string got = text.Get(op.Section, op.Key, "dflt ", 8);
      Check(got == (found ? found->substr(0, 7) : std::string("dflt")), "Get differs from Find");
      continue;
    }
    const std::optional<TValues> valuesBefore = AllValues(text);
    const std::pair<std::string, std::string> touched(Lower(TrimSpaces(op.Section)),
                                                      Lower(TrimSpaces(op.Key)));
    if (op.Kind == 1) {
      bool changed = false;
      std::string error;
      if (!text.Set(op.Section, op.Key, op.Value, &changed, &error)) {
        Check(text.Bytes() == before, "a refused write changed the text");
        Check(!error.empty(), "a refused write without a reason");
        Check(HasLineBreakOrNul(op.Section) || HasLineBreakOrNul(op.Key) ||
                  HasLineBreakOrNul(op.Value) || op.Section.find(']') != std::string::npos ||
                  op.Key.find('=') != std::string::npos || TrimBlanks(op.Key).starts_with(';') ||
                  TrimBlanks(op.Key).starts_with('[') ||
                  TrimSpaces(op.Section) != TrimBlanks(op.Section) ||
                  TrimSpaces(op.Key) != TrimBlanks(op.Key),
              "a write refused without cause");
        continue;
      }
      Check(changed == (text.Bytes() != before), "Changed does not tell the truth");
      const auto back = text.Find(op.Section, op.Key);
      Check(back.has_value(), "a written key reads as absent");
      Check(*back == ReadForm(op.Value), "a written value reads back differently");
      CheckOtherLinesKept(before, text.Bytes(), op.Key, false);
    } else {
      const bool deleted = text.Delete(op.Section, op.Key);
      Check(deleted == (text.Bytes() != before), "Delete does not tell the truth");
      CheckOtherLinesKept(before, text.Bytes(), op.Key, true);
    }
    if (valuesBefore) {
      const std::optional<TValues> valuesAfter = AllValues(text);
      if (!valuesAfter) continue;
      for (const auto& [name, value] : *valuesBefore) {
        if (name == touched) continue;
        const auto it = valuesAfter->find(name);
        Check(it != valuesAfter->end(), "another key disappeared");
        Check(it->second == value, "another key's value changed");
      }
      for (const auto& [name, value] : *valuesAfter)
        Check(name == touched || valuesBefore->count(name) == 1, "a key appeared from nowhere");
    }
  }

  // The same sequence on disk, half of the time as one deferred update, ends in the same bytes.
  const bool deferred = Size % 2 == 1;
  const std::string path = fuzz::ScratchDir() + "profile.ini";
  fuzz::WriteFile(path, initial);
  {
    platform::TProfileFile file(path);
    if (deferred) file.BeginUpdate();
    for (const TOp& op : ops) {
      if (op.Kind == 0)
        file.Get(op.Section, op.Key, "");
      else if (op.Kind == 1)
        file.Set(op.Section, op.Key, op.Value);
      else
        file.Delete(op.Section, op.Key);
    }
    if (deferred) Check(file.EndUpdate(), "the deferred update was not stored");
  }
  Check(fuzz::ReadFile(path) == text.Bytes(), "the file on disk differs from the text");
  return 0;
}
