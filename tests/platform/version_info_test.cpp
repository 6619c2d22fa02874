#include "platform/version_info.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "platform/paths.h"

namespace {

using platform::EncodeVersionBlock;
using platform::ReadVersionInfo;
using platform::TVersionBlockContent;
using platform::TVersionRecord;

std::string WriteFile(const std::string& Name, const std::string& Bytes) {
  const std::string path = ::testing::TempDir() + "version_info_" + Name;
  std::ofstream(path, std::ios::binary) << Bytes;
  return path;
}

// A block whose string table is the one its translation names, holding Texts under Keys.
std::string Block(std::uint16_t Language, std::uint16_t CodePage,
                  const std::vector<std::pair<std::string, std::string>>& Texts) {
  TVersionBlockContent content;
  content.Translations.emplace_back(Language, CodePage);
  for (const auto& [key, text] : Texts) {
    content.Strings.emplace_back(platform::StringTablePrefix(Language, CodePage) + "\\" + key,
                                 text);
  }
  return EncodeVersionBlock(content);
}

const std::string Sample = Block(0x0407, 0x04E4, {{"FileVersion", "5.4.3.2"}});

bool IsEmpty(const TVersionRecord& Record) {
  for (const std::string& text : Record.Texts) {
    if (!text.empty()) return false;
  }
  return true;
}

// The build stored this binary's record (tests/platform/CMakeLists.txt); it reads back from the
// file, and a path where no file exists falls back to the running program.
TEST(VersionInfo, EmbeddedRecordReadsBackFromTheProgramFile) {
  for (const std::string& path : {platform::ProgramFile(), std::string("/no/such/program")}) {
    const TVersionRecord r = ReadVersionInfo(path);
    EXPECT_EQ(r.Get(0), "Tessaly-Team") << path;
    EXPECT_EQ(r.Get(1), "Versionsprüfung");
    EXPECT_EQ(r.Get(2), "3.1.4.0");  // given as 3.1.4, stored with four parts
    EXPECT_EQ(r.Get(3), "version_info_test");
    EXPECT_EQ(r.Get(4), "© 2026 Tessaly-Team");
    EXPECT_EQ(r.Get(5), "");  // left out of the block
    EXPECT_EQ(r.Get(6), "version_info_test");
    EXPECT_EQ(r.Get(7), "Tessaly");
    EXPECT_EQ(r.Get(8), "2.7.0.0");
    EXPECT_EQ(r.Get(9), "Kommentar mit = und \\ darin");
  }
}

TEST(VersionInfo, TextsInRecordOrderAndOtherIndicesGiveFileVersion) {
  std::vector<std::pair<std::string, std::string>> texts;
  for (const char* key : platform::VersionKeys) texts.emplace_back(key, std::string("t-") + key);
  const TVersionRecord r =
      ReadVersionInfo(WriteFile("order", "head" + Block(0x0407, 0x04E4, texts) + "tail"));
  const char* order[] = {"CompanyName",    "FileDescription", "FileVersion",      "InternalName",
                         "LegalCopyright", "LegalTrademarks", "OriginalFilename", "ProductName",
                         "ProductVersion", "Comments"};
  for (int i = 0; i < 10; ++i) EXPECT_EQ(r.Get(i), std::string("t-") + order[i]);
  for (int i : {-1, 10, 11, 1000}) EXPECT_EQ(r.Get(i), "t-FileVersion") << i;
}

TEST(VersionInfo, TranslationNamesTheStringTable) {
  // 0409 / 04B0 is read through ...040904B0, not through the German table beside it.
  TVersionBlockContent content;
  content.Translations = {{0x0409, 0x04B0}, {0x0407, 0x04E4}};
  content.Strings = {{"\\StringFileInfo\\040704E4\\FileVersion", "german"},
                     {"\\StringFileInfo\\040904b0\\ProductName", "lower-case digits"},
                     {"\\StringFileInfo\\040904B0\\FileVersion", "english"}};
  const TVersionRecord r = ReadVersionInfo(WriteFile("us", EncodeVersionBlock(content)));
  EXPECT_EQ(r.FileVersion(), "english");
  EXPECT_EQ(r.Texts[7], "");

  content.Translations.clear();  // no translation: no table to read
  EXPECT_TRUE(IsEmpty(ReadVersionInfo(WriteFile("none", EncodeVersionBlock(content)))));
}

TEST(VersionInfo, FileWithoutIntactBlockGivesEmptyRecord) {
  EXPECT_TRUE(IsEmpty(ReadVersionInfo(WriteFile("plain", std::string(100000, 'x')))));
  EXPECT_TRUE(IsEmpty(ReadVersionInfo(WriteFile("empty", ""))));

  // Every truncation and every changed byte of a block is refused, without reading past the
  // end of the file.
  for (std::size_t n = 0; n < Sample.size(); ++n) {
    EXPECT_TRUE(IsEmpty(ReadVersionInfo(WriteFile("cut", Sample.substr(0, n))))) << n;
  }
  for (std::size_t i = 0; i < Sample.size(); ++i) {
    std::string damaged = Sample;
    damaged[i] = char(damaged[i] ^ 0x10);
    EXPECT_TRUE(IsEmpty(ReadVersionInfo(WriteFile("flip", damaged)))) << i;
  }

  // A length that reaches past the end of the file.
  std::string longer = Sample;
  longer[16] = longer[17] = '\xFF';
  EXPECT_TRUE(IsEmpty(ReadVersionInfo(WriteFile("long", longer))));
}

TEST(VersionInfo, ScanSkipsDamagedBlocksAndCrossesChunks) {
  std::string damaged = Sample;
  damaged.back() = char(damaged.back() ^ 1);
  EXPECT_EQ(
      ReadVersionInfo(WriteFile("second", damaged + Sample.substr(0, 20) + Sample)).FileVersion(),
      "5.4.3.2");

  // The block starting just before, on and after the end of the first piece read, and far in.
  const std::size_t chunk = platform::VersionScanChunk;
  for (std::size_t at :
       {chunk - 11, chunk - 12, chunk - 13, chunk - 1, chunk, chunk - 30, 3 * chunk + 5}) {
    const std::string file = WriteFile("chunk", std::string(at, '\0') + Sample);
    EXPECT_EQ(ReadVersionInfo(file).FileVersion(), "5.4.3.2") << at;
  }
}

TEST(VersionInfo, EncodingRefusesWhatTheLayoutCannotHold) {
  TVersionBlockContent content;
  content.Translations.emplace_back(0x0407, 0x04E4);
  content.Strings.emplace_back("\\StringFileInfo\\040704E4\\Comments", std::string(70000, 'c'));
  EXPECT_THROW(EncodeVersionBlock(content), std::length_error);
}

}  // namespace
