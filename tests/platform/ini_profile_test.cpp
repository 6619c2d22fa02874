// The INI profile layer against the measured behaviour of the profile functions: every case of
// the reference file runs here, with the real-Windows results where they differ from the
// measured ones.
#include "platform/ini_profile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <random>
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

  // A folder that does not exist: the settings object's Save reports the system's reason, and a
  // group with a refused write is not stored even where the file could be.
  platform::TIniFile ini(testing::TempDir() + "no_such_folder/Tessaly.ini");
  ini.WriteBool("AutoLoad", "FormProperties", true);
  EXPECT_EQ(ini.Save().Reason(), std::strerror(ENOENT));
  EXPECT_TRUE(ini.Save());
  platform::TIniFile group(path);
  group.BeginUpdate();
  group.WriteString("A", "k", "stored");
  group.WriteString("A", "k=j", "1");
  group.WriteString("A", "m", "stored");
  EXPECT_FALSE(group.Save());
  EXPECT_EQ(ReadBytes(path), before);
  fs::remove(path);
}

// Writes applied in one group (one parse, one write) against the same writes applied one at a
// time, each to the file as the last one left it: the bytes must agree exactly, over files with
// every kind of line end, comments, blank lines, keys without "=", duplicate sections, NUL bytes
// and a last line without a break, and writes to existing, new and repeated keys in any case.
TEST(IniProfile, AGroupOfWritesGivesTheBytesOfTheSameWritesOneAtATime) {
  std::string longSection = "[A]\n";
  for (int i = 0; i < 20; ++i) {
    const std::string n = std::to_string(i);
    longSection.append("p").append(n).append("=").append(n).append("\n");
  }
  const std::vector<std::string> files = {
      "",
      longSection + "p3=again\n; end\n\n[B]\nk=1\n",
      "[A]\r\nk=1\r\n; note\r\n\r\n[b]\r\nx = 2 \r\n[A]\r\nk=dup\r\n",
      "top=1\n[A]\nk\nj=\"q\"\n\n;c\n[C]\n[B]\ny=1",
      "[A]\rk=1\n\n[B]\r",
      "[S]\rk=1\n\nx=2\r",
      std::string("[A]\nk=a\0b\n[B]\n", 15),
      "[A]",
  };
  const std::vector<std::string> sections = {"A", "a", "B", "b", "C", "New", "NEW", " A "};
  const std::vector<std::string> keys = {"k",  "K",  "j",   "x", "y",  "n1",
                                         "N1", "n2", "top", "",  "p3", "P19"};
  const std::vector<std::string> values = {"", "1", "v", " lead", "trail ", "\"q\"", "a=b"};
  std::mt19937 random(20240601);
  const auto pick = [&](const std::vector<std::string>& From) {
    return From[std::uniform_int_distribution<std::size_t>(0, From.size() - 1)(random)];
  };
  for (const std::string& file : files) {
    for (int round = 0; round < 40; ++round) {
      platform::TIniText group(file), single(file);
      for (int w = 0; w < 30; ++w) {
        const std::string section = pick(sections), key = pick(keys);
        if (random() % 6 == 0) {
          group.Delete(section, key);
          single = platform::TIniText(single.Bytes());
          single.Delete(section, key);
        } else {
          const std::string value = pick(values);
          group.Set(section, key, value);
          single = platform::TIniText(single.Bytes());
          single.Set(section, key, value);
        }
      }
      ASSERT_EQ(group.Bytes(), single.Bytes()) << "from " << testing::PrintToString(file);
      for (const std::string& section : sections)
        for (const std::string& key : keys)
          EXPECT_EQ(group.Find(section, key), single.Find(section, key)) << section << "/" << key;
    }
  }
}

// A group of N writes to a large file costs O(N): the file is parsed once, not once a write.
TEST(IniProfile, AGroupOfWritesParsesTheFileOnce) {
  const std::string path = testing::TempDir() + "ini_group.ini";
  std::string text;
  for (int i = 0; i < 2000; ++i) text += "[Image" + std::to_string(i) + "]\r\nImage=a\r\n";
  std::ofstream(path, std::ios::binary) << text;
  platform::TIniFile ini(path);
  const std::uint64_t before = platform::TIniText::LinesParsed();
  ini.BeginUpdate();
  for (int i = 0; i < 4000; ++i) {
    ini.WriteString("Image" + std::to_string(i), "Image", "b");
    ini.WriteInteger("Image" + std::to_string(i), "Pp100MM", i);
  }
  ASSERT_TRUE(ini.Save());
  const std::uint64_t parsed = platform::TIniText::LinesParsed() - before;
  EXPECT_LE(parsed, 4000u + 3 * 8000u) << "lines parsed for 8000 writes to a file of 4000 lines";
  platform::TIniFile back(path);
  EXPECT_EQ(back.ReadString("Image1999", "Image", ""), "b");
  EXPECT_EQ(back.ReadInteger("Image3999", "Pp100MM", 0), 3999);
  fs::remove(path);
}

// A FIFO would block, a device never end, a huge file take the memory: none is read, and what
// was not read is never written over.
TEST(IniProfile, OnlyRegularFilesUpToTheLimitAreReadAndTheOthersAreNeverWritten) {
  const std::string dir = testing::TempDir() + "ini_unreadable/";
  fs::remove_all(dir);
  fs::create_directories(dir);
  const std::string fifo = dir + "fifo.ini", large = dir + "large.ini";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::ofstream(large) << "[A]\nk=1\n";
  fs::resize_file(large, platform::MaxReadBytes + 1);
  for (const auto& [path, reason] :
       std::vector<std::pair<std::string, std::string>>{{"/dev/zero", "not a regular file"},
                                                        {fifo, "not a regular file"},
                                                        {dir, "not a regular file"},
                                                        {large, "larger than 16 MiB"}}) {
    SCOPED_TRACE(path);
    TProfileFile file(path);
    EXPECT_EQ(file.ReadFailure(), reason);
    EXPECT_FALSE(file.HasSection("A"));
    std::string error;
    EXPECT_FALSE(file.Set("A", "k", "2", &error));
    EXPECT_EQ(error, reason);
    file.BeginUpdate();
    EXPECT_FALSE(file.Set("A", "k", "2"));
    EXPECT_TRUE(file.EndUpdate());
  }
  EXPECT_TRUE(fs::is_fifo(fifo));
  EXPECT_EQ(fs::file_size(large), platform::MaxReadBytes + 1);
  fs::remove_all(dir);
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

  // Made in pieces, as a new private file: the pieces in order; a maker that fails on the way
  // leaves no file at all, and its reason.
  platform::TFileWriteOptions fresh = priv;
  fresh.Replace = false;
  const auto pieces = [](bool Fail) {
    return [Fail](const std::function<bool(std::string_view)>& Put, std::string* Why) {
      if (!Put("one ") || !Put("two")) return false;
      if (Fail) *Why = "made no more";
      return !Fail;
    };
  };
  ASSERT_TRUE(platform::WriteFileInPieces(dir + "pieces", pieces(false), nullptr, fresh));
  EXPECT_EQ(ReadBytes(dir + "pieces"), "one two");
  std::string why;
  EXPECT_FALSE(platform::WriteFileInPieces(dir + "failed", pieces(true), &why, fresh));
  EXPECT_EQ(why, "made no more");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 4);
  fs::remove_all(dir);
}

}  // namespace
