// The interface record read from and written to its files, as calling applications, the
// launcher and the overlay program exchange them.
#include "interface/interfaceba.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "platform/command_line.h"
#include "platform/message.h"
#include "platform/paths.h"
#include "tests/support/temp_folder.h"

namespace {

namespace fs = std::filesystem;
using namespace iface;
using namespace std::string_literals;

// A folder of this test process: ctest runs the tests of this file side by side, and they
// write files of the same names.
std::string Dir() {
  static const testsupport::TTempFolder folder("interfaceba_test");
  return folder.Path().string() + "/";
}

std::string WriteFile(const std::string& Name, const std::string& Bytes) {
  const std::string path = Dir() + Name;
  std::ofstream(path, std::ios::binary) << Bytes;
  return path;
}

std::string ReadBytes(const std::string& Path) {
  std::ifstream in(Path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Reads Path as the program would when started with it.
TInterfaceBA ReadAs(const std::vector<std::string>& Parameters, TReadOptions Options = {}) {
  platform::SetProgramParameters(Parameters);
  TInterfaceBA ba(miReceive, Options);
  ba.Read();
  return ba;
}

const std::string TwoPictures =
    "[General]\r\nSender=Praxis\r\nReceiver=Tessaly\r\nCount=2\r\n"
    "[Image0]\r\nImage=/pic/a.jpg\r\nResultFileDB=db0.txt\r\nDate=2026-01-02\r\nTime=10:11\r\n"
    "Pp100MM=0x20\r\nExclusionCircleRadiusInPixel=5\r\nExclusionCircleX0InPixel=6\r\n"
    "ExclusionCircleY0InPixel=abc\r\n"
    "[Subject0]\r\nName=Muster\r\nFirstName=Erika\r\nBirthDate=1.2.1960\r\n"
    "[Image1]\r\nImage=/pic/b.jpg\r\n[Subject1]\r\nName=Muster\r\n"
    "[Analysis]\r\nAutomatic=1\r\nStoppAtEnd=0\r\nResultFile=sub/r.txt\r\n"
    "ResultImageDirectory=/data/out\r\n"
    "[Additional]\r\nAdd0Name=a\r\nAdd0Value=1\r\nAdd2Name=c\r\nAdd2Value=3\r\n";

TEST(InterfaceBA, ReadsTheInterfaceFormWithItsDefaultsAndNormalisations) {
  const TInterfaceBA ba = ReadAs({WriteFile("two.ini", TwoPictures)});
  const std::string prog = platform::ProgramDirectory();
  ASSERT_EQ(ba.GetCount(), 2);
  EXPECT_EQ(ba.GetSender(), "Praxis");
  const TImageData i0 = ba.GetImage(0);
  EXPECT_EQ(i0.Image, "/pic/a.jpg");
  EXPECT_EQ(i0.ResultFileDB, "db0.txt");
  EXPECT_EQ(i0.Pp100MM, 32);
  EXPECT_EQ(i0.ExclusionCircleY0InPixel, 0);  // not a number: the default
  EXPECT_EQ(ba.GetImage(1).Pp100MM, 0);       // absent
  // Written FirstName/BirthDate, read Firstname/Birthdate.
  EXPECT_EQ(ba.GetSubject(0).Firstname, "Erika");
  EXPECT_EQ(ba.GetSubject(0).Birthdate, "1.2.1960");
  EXPECT_TRUE(ba.GetAutomatic());
  EXPECT_FALSE(ba.GetStoppAtEnd());
  EXPECT_TRUE(ba.GetResultRequest());
  EXPECT_EQ(ba.GetResultFile(), "sub/r.txt");
  EXPECT_EQ(ba.GetResultFileDetail(), prog + "detail.txt");
  EXPECT_EQ(ba.GetResultImageDirectory(), "/data/out/");
  // A gap ends the additional pairs.
  EXPECT_EQ(ba.GetAdditionalNames(), std::vector<std::string>{"a"});

  for (const auto& [given, read] : std::vector<std::pair<std::string, std::string>>{
           {"/data/out/", "/data/out/"}, {"", "/"}, {"/data/out//", "/data/out//"}}) {
    const TInterfaceBA d = ReadAs(
        {WriteFile("dir.ini", "[General]\nCount=1\n[Analysis]\nResultImageDirectory=" + given +
                                  "\nResultFile=r.txt\nResultFileDB=db.txt\n")});
    EXPECT_EQ(d.GetResultImageDirectory(), read) << given;
    EXPECT_EQ(d.GetResultFile(), prog + "r.txt");
    EXPECT_EQ(d.GetResultFileDB(), prog + "db.txt");
  }
  // The overlay program takes no ResultFileDB.
  EXPECT_EQ(ReadAs({WriteFile("two.ini", TwoPictures)}, {false}).GetImage(0).ResultFileDB, "");
}

TEST(InterfaceBA, WrittenFileReadsBackAndKeepsWhatItDoesNotWrite) {
  TInterfaceBA ba = ReadAs({WriteFile("two.ini", TwoPictures)});
  ba.SetMode(miSend);
  EXPECT_TRUE(ba.SetProgramFile("/opt/tessaly/tessaly"));
  EXPECT_TRUE(ba.SetResultRequest(false));
  TImageData i1 = ba.GetImage(1);
  i1.Pp100MM = 812;
  EXPECT_TRUE(ba.SetImage(1, i1));
  // The target holds a stale ResultFileDB for picture 1 and a comment of its own.
  const std::string out =
      WriteFile("out.ini", "; from the clinic system\n[Image1]\nResultFileDB=stale\n");
  ASSERT_TRUE(ba.WriteIni(out));
  const std::string bytes = ReadBytes(out);
  EXPECT_EQ(bytes.rfind("; from the clinic system\n", 0), 0u);
  EXPECT_EQ(bytes.find("stale"), std::string::npos);
  EXPECT_NE(bytes.find("FirstName=Erika"), std::string::npos);
  EXPECT_NE(bytes.find("StoppAtEnd=0"), std::string::npos);
  EXPECT_EQ(bytes.find("ResultFileDetail"), std::string::npos);  // receiving default emptied
  EXPECT_EQ(bytes.find("Automatic=1") < bytes.find("StoppAtEnd=0"), true);

  const TInterfaceBA back = ReadAs({out});
  ASSERT_EQ(back.GetCount(), 2);
  for (int i = 0; i < 2; ++i) {
    const TImageData a = ba.GetImage(i), b = back.GetImage(i);
    EXPECT_EQ(std::tie(a.Image, a.Date, a.Time, a.Pp100MM, a.ExclusionCircleRadiusInPixel,
                       a.ExclusionCircleX0InPixel, a.ExclusionCircleY0InPixel, a.ResultFileDB),
              std::tie(b.Image, b.Date, b.Time, b.Pp100MM, b.ExclusionCircleRadiusInPixel,
                       b.ExclusionCircleX0InPixel, b.ExclusionCircleY0InPixel, b.ResultFileDB));
    EXPECT_EQ(ba.GetSubject(i).Firstname, back.GetSubject(i).Firstname);
    EXPECT_EQ(ba.GetSubject(i).Birthdate, back.GetSubject(i).Birthdate);
  }
  EXPECT_EQ(back.GetSender(), "Praxis");
  EXPECT_EQ(back.GetReceiver(), "Tessaly");
  EXPECT_FALSE(back.GetStoppAtEnd());
  EXPECT_FALSE(back.GetResultRequest());
  EXPECT_TRUE(back.GetAutomatic());
  EXPECT_EQ(back.GetAdditionalValues(), ba.GetAdditionalValues());

  // A file without the three path keys and with StoppAtEnd absent: none of them is written.
  TInterfaceBA bare =
      ReadAs({WriteFile("bare.ini", "[General]\nSender=S\nCount=1\n[Image0]\nImage=x\n")});
  EXPECT_TRUE(bare.GetStoppAtEnd());
  bare.SetMode(miSend);
  const std::string bareOut = Dir() + "bare_out.ini";
  fs::remove(bareOut);
  ASSERT_TRUE(bare.WriteIni(bareOut));
  EXPECT_EQ(ReadBytes(bareOut).find("[Analysis]"), std::string::npos);
  // Back to receiving, the emptied paths get their defaults again.
  bare.SetMode(miReceive);
  EXPECT_EQ(bare.GetResultFile(), platform::ProgramDirectory() + "result.txt");
}

// The refusals' texts are the reasons of the failures, for the caller to show; the record
// shows nothing itself.
TEST(InterfaceBA, RefusalsGiveTheirTextsAndChangeNothing) {
  platform::MessageRecorder messages;
  TInterfaceBA ba(miReceive);
  std::vector<std::string> reasons;
  const auto refused = [&](const platform::TStatus& Status) {
    EXPECT_FALSE(Status.Ok());
    reasons.push_back(Status.Reason());
  };
  refused(ba.SetAutomatic(true));
  refused(ba.SetProgramFile("x"));
  refused(ba.ResetFlags());
  refused(ba.SetImage(0, {}));
  const std::string out = WriteFile("refused.ini", "[General]\nCount=7\n");
  refused(ba.WriteIni(out));
  ba.SetMode(miSend);
  refused(ba.WriteIni(out));  // no sender
  EXPECT_TRUE(messages.Texts().empty());
  EXPECT_EQ(
      reasons,
      (std::vector<std::string>{
          "Wert kann nicht gesetzt werden. (Wert kann nur im Modus 'miSend' gesetzt werden",
          "Wert kann nicht gesetzt werden. (Wert kann nur im Modus 'miSend' gesetzt werden",
          "Werte können nicht gesetzt werden. (Wert kann nur im Modus 'miSend' gesetzt werden",
          "Internal error: TInterfaceBA::SetSubjects: Count nicht im gültigen Bereich",
          "Error: WriteIni() kann nicht ausgeführt werden. (Kann nur im Modus 'miSend' "
          "ausgeführt werden",
          "Error: Sender is missing. WriteIni() kann nicht ausgeführt werden."}));
  EXPECT_FALSE(ba.GetAutomatic());
  EXPECT_EQ(ba.GetProgramFile(), "");
  EXPECT_EQ(ReadBytes(out), "[General]\nCount=7\n");

  // A file that cannot be written is reported, not passed off as written.
  ba.SetSender("S");
  const std::string unwritable = Dir() + "no_such_folder/out.ini";
  const platform::TStatus written = ba.WriteIni(unwritable);
  EXPECT_FALSE(written.Ok());
  EXPECT_EQ(written.Reason(), "nach " + unwritable + " kann nicht geschrieben werden");
  EXPECT_TRUE(messages.Texts().empty());
}

TEST(InterfaceBA, CountsThatCannotBeTrustedGiveNoRecords) {
  TInterfaceBA ba = ReadAs({WriteFile("two.ini", TwoPictures)});
  ASSERT_EQ(ba.GetCount(), 2);
  // A second Read that finds no file leaves no count over discarded records.
  platform::SetProgramParameters({Dir() + "gone.ini"});
  EXPECT_FALSE(ba.Read());
  EXPECT_EQ(ba.GetCount(), 0);
  EXPECT_EQ(ba.GetImage(0).Image, "");
  for (const char* count : {"-1", "0", "100001", "2147483647", "0x7FFFFFFF", ""}) {
    const TInterfaceBA bad =
        ReadAs({WriteFile("count.ini", std::string("[General]\nCount=") + count + "\n")});
    EXPECT_EQ(bad.GetCount(), 0) << count;
  }
  // Bad bytes read as the profile functions read them: CR-only lines, NULs, duplicates.
  const TInterfaceBA odd = ReadAs({WriteFile(
      "odd.ini", "[General]\rCount=1\r[Image0]\rImage=/a\0junk\r\n[Image0]\rImage=/b\r"s)});
  ASSERT_EQ(odd.GetCount(), 1);
  EXPECT_EQ(odd.GetImage(0).Image, "/a");
  // A byte-order mark hides the first section, as it does on Windows.
  EXPECT_EQ(ReadAs({WriteFile("bom.ini", "\xEF\xBB\xBF[General]\r\nCount=1\r\n")}).GetCount(), 0);
}

TEST(InterfaceBA, RecordDataFilesOnePerPictureWithTheCameraTable) {
  const std::string table = platform::ProgramDirectory() + "camera.ini";
  std::ofstream(table) << "[CamA]\nPp100MM=1234\nExclusionCircleRadiusInPixel=10\n"
                          "ExclusionCircleX0InPixel=11\nExclusionCircleY0InPixel=12\n";
  const std::string a = WriteFile("rd_a.ini",
                                  "[RecordData]\nCameratype=CamA\nfilename=/p/a.jpg\n"
                                  "Aufnahmedatum=3.4.2025\nName=N\nVorname=V\nGeburtsdatum=G\n");
  const std::string c =
      WriteFile("rd_c.ini", "[RecordData]\nCameratype=Unknown\nfilename=/p/c.jpg\n");
  const std::string missing = Dir() + "rd_missing.ini";
  fs::remove(missing);

  const TInterfaceBA ba = ReadAs({a, missing, c});
  // The count skips the missing file, the reading does not: records come from a and missing.
  ASSERT_EQ(ba.GetCount(), 2);
  const TImageData i0 = ba.GetImage(0), i1 = ba.GetImage(1);
  EXPECT_EQ(i0.Image, "/p/a.jpg");
  EXPECT_EQ(i0.Date, "3.4.2025");
  EXPECT_EQ(std::tie(i0.Pp100MM, i0.ExclusionCircleRadiusInPixel, i0.ExclusionCircleX0InPixel,
                     i0.ExclusionCircleY0InPixel),
            std::make_tuple(1234, 10, 11, 12));
  EXPECT_EQ(ba.GetSubject(0).Firstname, "V");
  EXPECT_EQ(i1.Image, "");
  EXPECT_EQ(i1.Pp100MM, 0);

  const TInterfaceBA three = ReadAs({a, c, c});
  ASSERT_EQ(three.GetCount(), 3);
  EXPECT_EQ(three.GetImage(1).Image, "/p/c.jpg");
  EXPECT_EQ(three.GetImage(1).Pp100MM, 0);  // a type the table does not know
  // The overlay program does not look the camera up.
  EXPECT_EQ(ReadAs({a}, {false}).GetImage(0).Pp100MM, 0);
  fs::remove(table);
}

// A FIFO among the record-data files would block the read before any window, /dev/zero would
// grow it without end: both are refused unread, and the read says which file and why.
TEST(InterfaceBA, FilesThatAreNotRegularAreRefusedWithTheirReason) {
  const std::string a = WriteFile("rd_fifo_a.ini", "[RecordData]\nfilename=/p/a.jpg\n");
  const std::string fifo = Dir() + "rd_fifo.ini";
  fs::remove(fifo);
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const TInterfaceBA record = ReadAs({a, fifo, a});
  EXPECT_EQ(record.GetCount(), 0);
  EXPECT_EQ(record.LastReadStatus().Reason(), "Cannot read " + fifo + ": not a regular file");
  const TInterfaceBA zero = ReadAs({"/dev/zero"});
  EXPECT_EQ(zero.GetCount(), 0);
  EXPECT_EQ(zero.LastReadStatus().Reason(), "Cannot read /dev/zero: not a regular file");
  EXPECT_TRUE(ReadAs({a}).LastReadStatus().Ok());
  fs::remove(fifo);
}

TEST(InterfaceBA, DisplayTextIsUtf8AsItIsAndWindows1252Otherwise) {
  EXPECT_EQ(DisplayText("M\u00fcller"), "M\u00fcller");
  EXPECT_EQ(DisplayText("M\xfcller \x80\x9f"), "M\u00fcller \u20ac\u0178");
  // An overlong form is no UTF-8; an undefined byte shows as the replacement mark.
  EXPECT_EQ(DisplayText("\xc0\xaf\x81"), "\u00c0\u00af\ufffd");
}

}  // namespace
