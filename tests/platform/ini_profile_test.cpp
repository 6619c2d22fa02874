// The INI profile layer against the measured behaviour of the profile functions: every case of
// the reference file runs here, with the real-Windows results where they differ from the
// measured ones.
#include "platform/ini_profile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>

#include "platform/file_write.h"

namespace {

namespace fs = std::filesystem;
using platform::TProfileFile;

const std::string Cases = std::string(TESSALY_TESTDATA) + "/../ini-reference/cases.txt";

// Where the layer knowingly differs from the reference, with the bytes it writes instead.
// Both cases have no observation of real Windows; the layer keeps every line end of the file
// (an LF-only or CR-only file stays so) and ends new lines as the file's first line ends.
const std::map<std::string, std::vector<std::string>> OwnAfter = {
    {"W39", {"[A]\na=9\n[B]\nb=2\n", "[A]\na=9\n[B]\nb=2\nc=3\n"}},
    {"W40", {"[A]\ra=1\rb=2\r"}},
};

std::string ReadBytes(const std::string& Path) {
  std::ifstream in(Path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// STRING := NULL | PIECE ('+' PIECE)*, PIECE := '"' CHARS '"' ['*' COUNT].
class TLineReader {
 public:
  explicit TLineReader(std::string Line) : FLine(std::move(Line)) {}

  std::string Word() {
    SkipBlanks();
    const std::size_t start = FPos;
    while (FPos < FLine.size() && FLine[FPos] != ' ') ++FPos;
    return FLine.substr(start, FPos - start);
  }

  std::optional<std::string> String() {
    SkipBlanks();
    if (FLine.compare(FPos, 4, "NULL") == 0) {
      FPos += 4;
      return std::nullopt;
    }
    std::string out;
    for (;;) {
      if (FLine.at(FPos) != '"') throw std::runtime_error("bad string: " + FLine);
      ++FPos;
      std::string piece;
      while (FLine.at(FPos) != '"') {
        char c = FLine[FPos++];
        if (c == '\\') {
          const char e = FLine.at(FPos++);
          switch (e) {
            case 'r':
              c = '\r';
              break;
            case 'n':
              c = '\n';
              break;
            case 't':
              c = '\t';
              break;
            case 'x':
              c = char(std::stoi(FLine.substr(FPos, 2), nullptr, 16)), FPos += 2;
              break;
            default:
              c = e;
          }
        }
        piece += c;
      }
      ++FPos;
      std::size_t count = 1;
      if (FPos < FLine.size() && FLine[FPos] == '*') {
        const std::size_t start = ++FPos;
        while (FPos < FLine.size() && std::isdigit(static_cast<unsigned char>(FLine[FPos]))) ++FPos;
        count = std::stoul(FLine.substr(start, FPos - start));
      }
      for (std::size_t i = 0; i < count; ++i) out += piece;
      if (FPos < FLine.size() && FLine[FPos] == '+') {
        ++FPos;
        continue;
      }
      return out;
    }
  }

 private:
  void SkipBlanks() {
    while (FPos < FLine.size() && FLine[FPos] == ' ') ++FPos;
  }
  std::string FLine;
  std::size_t FPos = 0;
};

struct TOperation {
  std::string Verb;  // get, set, del
  std::optional<std::string> Section, Key, Text;
  std::size_t Size = 0;
  std::string ExpectRet, WinRet;               // "RET STRING" or "BOOL"
  std::optional<std::string> After, WinAfter;  // file bytes; "\x01NOFILE" for none
};

struct TCase {
  std::string Id, Description;
  std::optional<std::string> File;  // nothing: no file
  std::vector<TOperation> Ops;
};

const std::string NoFile = "\x01NOFILE";

std::vector<TCase> LoadCases() {
  std::ifstream in(Cases);
  std::vector<TCase> cases;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    TLineReader r(line);
    const std::string d = r.Word();
    if (d == "case") {
      cases.emplace_back();
      cases.back().Id = r.Word();
      r.Word();
      cases.back().Description = r.String().value_or("");
      continue;
    }
    TCase& c = cases.back();
    if (d == "file") {
      c.File = r.String();
    } else if (d == "get" || d == "set" || d == "del") {
      TOperation op;
      op.Verb = d;
      op.Section = r.String();
      op.Key = r.String();
      if (d != "del") op.Text = r.String();
      if (d == "get") op.Size = std::stoul(r.Word());
      c.Ops.push_back(op);
    } else if (d == "=>" || d == "win=>") {
      std::string ret = r.Word();
      if (c.Ops.back().Verb == "get") ret += "|" + r.String().value_or("");
      (d == "=>" ? c.Ops.back().ExpectRet : c.Ops.back().WinRet) = ret;
    } else if (d == "after" || d == "winafter") {
      std::optional<std::string> bytes;
      if (line.find("NOFILE") != std::string::npos)
        bytes = NoFile;
      else
        bytes = r.String();
      (d == "after" ? c.Ops.back().After : c.Ops.back().WinAfter) = bytes;
    }
  }
  return cases;
}

TEST(IniProfileReference, EveryCaseReadsAndWritesAsOnWindows) {
  const std::vector<TCase> cases = LoadCases();
  ASSERT_GE(cases.size(), 60u) << "reference cases not found at " << Cases;
  const std::string path = testing::TempDir() + "ini_profile_case.ini";
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Id + " " + c.Description);
    fs::remove(path);
    if (c.File) std::ofstream(path, std::ios::binary) << *c.File;
    TProfileFile file(path);
    std::size_t writes = 0;
    for (const TOperation& op : c.Ops) {
      const std::string section = op.Section.value_or(""), key = op.Key.value_or("");
      const std::string expected = op.WinRet.empty() ? op.ExpectRet : op.WinRet;
      if (op.Verb == "get") {
        const std::string v = file.Get(section, key, op.Text ? op.Text->c_str() : nullptr, op.Size);
        EXPECT_EQ(std::to_string(v.size()) + "|" + v, expected) << "get " << section << "/" << key;
        continue;
      }
      const bool ok =
          op.Verb == "set" ? file.Set(section, key, *op.Text) : file.Delete(section, key);
      EXPECT_EQ(ok ? "1" : "0", expected);
      std::optional<std::string> after = op.WinAfter ? op.WinAfter : op.After;
      if (const auto own = OwnAfter.find(c.Id); own != OwnAfter.end())
        after = own->second.at(writes);
      ++writes;
      if (!after) continue;
      if (*after == NoFile)
        EXPECT_FALSE(fs::exists(path)) << op.Verb << " " << section << "/" << key;
      else
        EXPECT_EQ(ReadBytes(path), *after) << op.Verb << " " << section << "/" << key;
    }
  }
  fs::remove(path);
}

TEST(IniProfile, IntegersParseAsTheProgramsReadThem) {
  const std::vector<std::pair<std::string, std::optional<int>>> table = {
      {"32", 32},
      {"-5", -5},
      {"+7", 7},
      {"0x20", 32},
      {"0X1f", 31},
      {"0xFFFFFFFF", -1},
      {"0x000000010", 16},
      {"2147483647", 2147483647},
      {"-2147483648", INT32_MIN},
      {"2147483648", {}},
      {"0x1FFFFFFFF", {}},
      {"0x", {}},
      {"abc", {}},
      {"yes", {}},
      {"12abc", {}},
      {"", {}},
      {"-", {}},
      {"0xg", {}},
      {"- 1", {}},
  };
  for (const auto& [text, value] : table) EXPECT_EQ(platform::ParseIniInteger(text), value) << text;
}

TEST(IniProfile, RefusedValuesAndFailedWritesChangeNothing) {
  const std::string path = testing::TempDir() + "ini_refusal.ini";
  const std::string before = "; kept\r\n[A]\r\nk=1\r\n";
  std::ofstream(path, std::ios::binary) << before;
  TProfileFile file(path);
  std::string error;
  // A line break would inject a section of its own into the file.
  EXPECT_FALSE(file.Set("A", "k", "x\r\n[Analysis]\r\nProg=evil", &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(file.Set("A", "k=j", "1"));
  EXPECT_FALSE(file.Set("A]", "k", "1"));
  EXPECT_FALSE(file.Set("A", ";k", "1"));
  EXPECT_EQ(ReadBytes(path), before);

  // A folder that does not exist: the settings object raises its text.
  platform::TIniFile ini(testing::TempDir() + "no_such_folder/Tessaly.ini");
  try {
    ini.WriteBool("AutoLoad", "FormProperties", true);
    ADD_FAILURE() << "no exception";
  } catch (const platform::EIniFileException& e) {
    EXPECT_EQ(
        std::string(e.what()),
        "nach " + testing::TempDir() + "no_such_folder/Tessaly.ini kann nicht geschrieben werden");
  }
  fs::remove(path);
}

TEST(FileWrite, ReplacesAtomicallyKeepingModeAndNeverWritesThroughALinkWhenAsked) {
  const std::string dir = testing::TempDir() + "file_write_test/";
  fs::remove_all(dir);
  fs::create_directories(dir);
  const std::string path = dir + "settings.ini";
  std::ofstream(path) << "old";
  chmod(path.c_str(), 0640);
  ASSERT_TRUE(platform::WriteFileAtomically(path, "new"));
  struct stat st {};
  stat(path.c_str(), &st);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(ReadBytes(path), "new");

  // A link followed: its target gets the bytes, the link stays.
  const std::string target = dir + "target.ini", link = dir + "link.ini";
  std::ofstream(target) << "t";
  fs::create_symlink("target.ini", link);
  ASSERT_TRUE(platform::WriteFileAtomically(link, "through"));
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(ReadBytes(target), "through");
  // Not followed (patient pictures): the link is replaced by a private file, the target kept.
  platform::TFileWriteOptions priv;
  priv.FollowSymlink = false;
  priv.Mode = 0600;
  ASSERT_TRUE(platform::WriteFileAtomically(link, "own", nullptr, priv));
  EXPECT_FALSE(fs::is_symlink(link));
  EXPECT_EQ(ReadBytes(target), "through");
  stat(link.c_str(), &st);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  // Nothing of the temporary files is left behind.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 3);
  fs::remove_all(dir);
}

}  // namespace
