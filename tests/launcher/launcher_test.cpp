// The launcher's calibration, log and run, each test in a program directory of its own with a
// stand-in EXIF reader, a recording receiver script and recorded message boxes.
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QImage>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <regex>
#include <sstream>
#include <stdexcept>

#include "launcher/calibration.h"
#include "launcher/general.h"
#include "launcher/launcher_run.h"
#include "platform/command_line.h"
#include "platform/ini_profile.h"
#include "platform/message.h"
#include "platform/paths.h"

namespace {

namespace fs = std::filesystem;
using iface::TImageData;
using namespace launcher;

struct TExifTexts {
  std::string Model, Width, Focal;
};
std::map<std::string, TExifTexts>& Pictures() {
  static std::map<std::string, TExifTexts> pictures;
  return pictures;
}
int& ReaderCalls() {
  static int calls = 0;
  return calls;
}
bool& ReaderThrows() {
  static bool throws = false;
  return throws;
}
// A file whose presence the reader notes while the run calibrates.
std::string& WatchedFile() {
  static std::string path;
  return path;
}
bool& WatchedFileSeen() {
  static bool seen = false;
  return seen;
}

int FakeExifReader(const char* Path, int Tag, char* Buffer) {
  ++ReaderCalls();
  if (!WatchedFile().empty() && std::filesystem::exists(WatchedFile())) WatchedFileSeen() = true;
  if (ReaderThrows()) throw std::runtime_error("reader failed");
  const TExifTexts& t = Pictures()[Path];
  const std::string& text = Tag == 272 ? t.Model : Tag == 40962 ? t.Width : t.Focal;
  text.copy(Buffer, 2047);
  Buffer[std::min<std::size_t>(text.size(), 2047)] = 0;
  return 1;
}

std::string ReadBytes(const std::string& Path) {
  std::ifstream in(Path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteBytes(const std::string& Path, const std::string& Bytes) {
  std::ofstream(Path, std::ios::binary) << Bytes;
}

class Launcher : public testing::Test {
 protected:
  void SetUp() override {
    FDir = testing::TempDir() + "kestrin " +
           testing::UnitTest::GetInstance()->current_test_info()->name() + "/";
    fs::remove_all(FDir);
    fs::create_directories(FDir);
    platform::OverrideProgramDirectory(FDir);
    platform::SetProgramParameters({});
    Pictures().clear();
    ReaderCalls() = 0;
    ReaderThrows() = false;
    FOldReader = SetExifTagReader(&FakeExifReader);
  }
  void TearDown() override {
    SetExifTagReader(FOldReader);
    platform::OverrideProgramDirectory({});
  }

  // A picture file (its bytes do not matter to the stand-in reader) with its EXIF texts.
  std::string Picture(const std::string& Name, TExifTexts Texts) {
    const std::string path = FDir + Name;
    WriteBytes(path, "picture");
    Pictures()[path] = std::move(Texts);
    return path;
  }
  void CameraTable(const std::string& Text) { WriteBytes(FDir + "camera.ini", Text); }

  // The log's lines, without their CR LF ends.
  std::vector<std::string> Log() const {
    std::vector<std::string> lines;
    std::string bytes = ReadBytes(FDir + "Kestrin.log");
    for (std::size_t at = 0; at < bytes.size();) {
      const std::size_t end = bytes.find("\r\n", at);
      EXPECT_NE(end, std::string::npos) << "every line ends in CR LF";
      if (end == std::string::npos) break;
      lines.push_back(bytes.substr(at, end - at));
      at = end + 2;
    }
    return lines;
  }

  TImageData Calibrate(const std::string& Path) {
    TImageData r;
    r.Image = Path;
    FOk = SetCamProperties(r);
    return r;
  }

  // A receiver script that records its arguments (one a line) and the file it was given.
  std::string Receiver(const std::string& Name, const std::string& Body = {}) {
    const std::string path = FDir + Name;
    WriteBytes(path, "#!/bin/sh\n" + (Body.empty()
                                          ? std::string("d=$(dirname \"$0\")\n"
                                                        "printf '%s\\n' \"$@\" > \"$d/args.txt\"\n"
                                                        "if [ -e \"$1\" ]; then cp \"$1\" "
                                                        "\"$d/received.ini\"; fi\nexit 3\n")
                                          : Body));
    chmod(path.c_str(), 0755);
    return path;
  }

  // One whole run with the current parameters; the texts of the boxes it showed.
  std::vector<std::string> RunOnce(bool* Failed = nullptr) {
    platform::MessageRecorder boxes;
    TLauncherRun run;
    run.Start();
    run.Close();
    if (Failed) *Failed = run.Failed();
    return boxes.Texts();
  }

  std::string FDir;
  bool FOk = false;
  TExifTagReader FOldReader = nullptr;
};

std::vector<std::string> Calibrated(const TImageData& R) {
  return {std::to_string(R.Pp100MM), std::to_string(R.ExclusionCircleRadiusInPixel),
          std::to_string(R.ExclusionCircleX0InPixel), std::to_string(R.ExclusionCircleY0InPixel)};
}

using Values = std::vector<std::string>;

TEST_F(Launcher, CalibrationFromFocalLengthWidthAndTheCameraTable) {
  CameraTable(
      "[Linear]\nconst=20\nslopeFL=10\nslopeX=0.01\n"
      "[Fixed]\nconst=20\nslopeFL=10\nslopeX=0\nPixelXDimension=3072\n"
      "[Tiny]\nconst=0\nslopeFL=0.1\nslopeX=0\nPixelXDimension=4\n"
      "[PENTAX K10D]\nconst=100\nslopeFL=8\nslopeX=0.9\n");
  // 10 * 7.2 + 20 + 0.01 * 2048 + 0.5 = 112.98.
  EXPECT_EQ(Calibrated(Calibrate(Picture("a.jpg", {"Linear", "2048", "72/10"}))),
            (Values{"112", "1024", "1024", "768"}));
  EXPECT_TRUE(FOk);
  // A fixed-resolution section for exactly this width: the width term drops out.
  EXPECT_EQ(Calibrated(Calibrate(Picture("b.jpg", {"Fixed", "3072", "72/10"}))),
            (Values{"92", "1536", "1536", "1152"}));
  // A sum of 0.4 rounds to 0, which is no scale; the circle still comes from the width.
  EXPECT_EQ(Calibrated(Calibrate(Picture("c.jpg", {"Tiny", "4", "4/1"}))),
            (Values{"0", "2", "2", "1"}));
  // The model's trailing blanks, as cameras store them, do not stop the section matching;
  // 8 * 90 + 100 + 0.9 * 100 + 0.5 = 910.5.
  EXPECT_EQ(Calibrated(Calibrate(Picture("d.jpg", {"PENTAX K10D        ", "100", "9000/100"}))),
            (Values{"910", "50", "50", "37"}));
  EXPECT_TRUE(FOk);
  EXPECT_EQ(Log(), Values{});

  // The same fixed-resolution section for another width.
  const std::string wrong = Picture("e.jpg", {"Fixed", "2048", "72/10"});
  EXPECT_EQ(Calibrated(Calibrate(wrong)), (Values{"0", "0", "0", "0"}));
  EXPECT_FALSE(FOk);
  EXPECT_EQ(Log(), (Values{"Error: Not prepared for this resolution:", "       - camera:Fixed",
                           "       - slopeX:0", "       - PixelXDimension from ini:3072",
                           "       - PixelXDimension from image:2048", "Error in SetCamProperties:",
                           "       - configuration file:" + FDir + "camera.ini",
                           "       - image file:" + wrong}));
}

TEST_F(Launcher, CalibrationFailuresAreLoggedAndStoreNothing) {
  CameraTable(
      "[Comma]\nconst=1,5\nslopeFL=10\nslopeX=0.01\n"
      "[Good]\nconst=20\nslopeFL=10\nslopeX=0.01\n"
      "[WidthText]\nconst=20\nslopeFL=10\nslopeX=0\nPixelXDimension=abc\n"
      "[NoSlope]\nconst=20\nslopeFL=0\nslopeX=0.5\n"
      "[Huge]\nconst=0\nslopeFL=1e300\nslopeX=0.01\n"
      "[PlusMinus]\nconst=+-5\nslopeFL=10\nslopeX=0.01\n"
      "[PlusMinusWidth]\nconst=20\nslopeFL=10\nslopeX=0\nPixelXDimension=+-5\n");
  const std::string ini = FDir + "camera.ini";
  struct Case {
    TExifTexts Exif;
    Values Result;
    std::string FirstLine;  // empty: nothing logged, the calibration succeeds
  };
  const Case cases[] = {
      {{"Comma", "2048", "72/10"},
       {"0", "0", "0", "0"},
       "Error: Conversion of 'const', 'slopeFL' or 'slopeX' not possible - do NOT use ',', "
       "use '.'!"},
      {{"Unknown cam", "2048", "72/10"},
       {"0", "0", "0", "0"},
       "Error: No entry for camera 'Unknown cam' in File:" + ini},
      {{"WidthText", "2048", "72/10"},
       {"0", "0", "0", "0"},
       "Error: Conversion of 'PixelXDimension' not possible - use a whole number!"},
      {{"NoSlope", "2048", "72/10"},
       {"0", "0", "0", "0"},
       "Error: In " + ini + " slopeFL not valid - slopeX:0"},
      // One sign only: "+-5" is no number.
      {{"PlusMinus", "2048", "72/10"},
       {"0", "0", "0", "0"},
       "Error: Conversion of 'const', 'slopeFL' or 'slopeX' not possible - do NOT use ',', "
       "use '.'!"},
      {{"PlusMinusWidth", "2048", "72/10"},
       {"0", "0", "0", "0"},
       "Error: Conversion of 'PixelXDimension' not possible - use a whole number!"},
      {{"Huge", "2048", "72/10"},
       {"0", "0", "0", "0"},
       "Error: Conversion of the computed scale not possible:7.2E300"},
      // Without a usable focal length there is no scale and no message, but a circle.
      {{"Good", "2048", "72"}, {"0", "1024", "1024", "768"}, ""},
      {{"Good", "2048", "abc/10"}, {"0", "1024", "1024", "768"}, ""},
      {{"Good", "2048", "72/0"}, {"0", "1024", "1024", "768"}, ""},
      // Without a usable width neither.
      {{"Good", "2048px", "72/10"}, {"0", "0", "0", "0"}, ""},
      {{"Good", "", ""}, {"0", "0", "0", "0"}, ""},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Exif.Model + " " + c.Exif.Width + " " + c.Exif.Focal);
    DeleteLogFile();
    const std::string path = Picture(std::to_string(n++) + ".jpg", c.Exif);
    EXPECT_EQ(Calibrated(Calibrate(path)), c.Result);
    EXPECT_EQ(FOk, c.FirstLine.empty());
    const Values log = Log();
    if (c.FirstLine.empty()) {
      EXPECT_EQ(log, Values{});
    } else {
      // The steps after a failed conversion still run, and may add their own lines.
      ASSERT_GE(log.size(), 4u);
      EXPECT_EQ(log[0], c.FirstLine);
      EXPECT_EQ(log[log.size() - 3], "Error in SetCamProperties:");
      EXPECT_EQ(log.back(), "       - image file:" + path);
    }
  }

  // A missing picture: the EXIF reader is not even asked.
  DeleteLogFile();
  ReaderCalls() = 0;
  EXPECT_EQ(Calibrated(Calibrate(FDir + "gone.jpg")), (Values{"0", "0", "0", "0"}));
  EXPECT_EQ(ReaderCalls(), 0);
  EXPECT_EQ(Log(), (Values{"Error: File of image does not exist:" + FDir + "gone.jpg",
                           "Error in SetCamProperties:", "       - configuration file:" + ini,
                           "       - image file:" + FDir + "gone.jpg"}));

  EXPECT_DOUBLE_EQ(RationalToFloat("384000/65536"), 5.859375);
  EXPECT_EQ(FloatToText(20.48), "20.48");
  EXPECT_EQ(FloatToText(-1e-7), "-1E-7");
}

TEST_F(Launcher, AWidthThePictureDoesNotHaveGivesWayToItsOwn) {
  CameraTable("[Linear]\nconst=20\nslopeFL=10\nslopeX=0.01\n");
  const std::string path = FDir + "narrow.png";
  ASSERT_TRUE(QImage(128, 96, QImage::Format_RGB32).save(QString::fromStdString(path)));
  Pictures()[path] = {"Linear", "2147483647", "72/10"};
  // 10 * 7.2 + 20 + 0.01 * 128 + 0.5 = 93.78.
  EXPECT_EQ(Calibrated(Calibrate(path)), (Values{"93", "64", "64", "48"}));
  EXPECT_TRUE(FOk);
  EXPECT_EQ(Log(), (Values{"Warning: PixelXDimension 2147483647 is not the width of the picture, "
                           "which is used instead: 128",
                           "       - image file:" + path}));
}

TEST_F(Launcher, TheLogIsPrivateAndOutsideTextCannotForgeLinesInIt) {
  // A log that others could read is narrowed; a new one is ours alone.
  WriteBytes(FDir + "Kestrin.log", "");
  chmod((FDir + "Kestrin.log").c_str(), 0644);
  WriteLog("first");
  struct stat st {};
  ASSERT_EQ(stat((FDir + "Kestrin.log").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  RunOnce();
  ASSERT_EQ(stat((FDir + "Kestrin.log").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  // A camera model and a picture name with line ends, tabs, backslashes and other controls.
  CameraTable("[Good]\nconst=20\nslopeFL=10\nslopeX=0.01\n");
  DeleteLogFile();
  const std::string picture =
      Picture("two\nlines.jpg", {"Cam\r\nError: forged\t\\\x01\x7f", "2048", "72/10"});
  Calibrate(picture);
  const std::string ini = FDir + "camera.ini";
  EXPECT_EQ(
      Log(),
      (Values{"Error: No entry for camera 'Cam\\r\\nError: forged\\t\\\\\\x01\\x7F' in File:" + ini,
              "Error in SetCamProperties:", "       - configuration file:" + ini,
              "       - image file:" + FDir + "two\\nlines.jpg"}));
}

TEST_F(Launcher, TheFilesOfEndedRunsGoAtTheStartAndNoOthers) {
  WriteBytes(FDir + "target.ini", "someone's file");
  const auto runFiles = [&](int N, bool Lock) {
    const std::string name = FDir + "MVIni" + std::to_string(N);
    if (N != 3) WriteBytes(name + ".ini", "[Subject0]\nName=Muster\n");
    if (Lock) WriteBytes(name + ".lock", "");
  };
  runFiles(0, true);   // a run that ended without its clean-up
  runFiles(1, false);  // no record: not a run's file
  runFiles(2, true);   // a run that still runs, below
  fs::create_symlink(FDir + "target.ini", FDir + "MVIni3.ini");
  runFiles(3, true);                     // a link in the place of an ended run's file
  WriteBytes(FDir + "MVIni4.lock", "");  // a record without its file
  const int running = open((FDir + "MVIni2.lock").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_EQ(flock(running, LOCK_EX), 0);

  RunOnce();
  close(running);
  EXPECT_FALSE(fs::exists(FDir + "MVIni0.ini"));
  EXPECT_FALSE(fs::exists(FDir + "MVIni0.lock"));
  EXPECT_TRUE(fs::exists(FDir + "MVIni1.ini"));
  EXPECT_TRUE(fs::exists(FDir + "MVIni2.ini"));
  EXPECT_TRUE(fs::exists(FDir + "MVIni2.lock"));
  EXPECT_TRUE(fs::is_symlink(FDir + "MVIni3.ini"));
  EXPECT_EQ(ReadBytes(FDir + "target.ini"), "someone's file");
  EXPECT_FALSE(fs::exists(FDir + "MVIni4.lock"));
  const Values log = Log();
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log[1], "Removed the interface file of an ended run:" + FDir + "MVIni0.ini");
}

TEST_F(Launcher, RealPhotosThroughTheExifReaderAndTheShippedTable) {
  SetExifTagReader(nullptr);
  fs::copy_file(TESSALY_SOURCE_DIR "/data/camera.ini", FDir + "camera.ini");
  TImageData canon = Calibrate(TESSALY_TESTDATA "/photos-exif/Canon_40D.jpg");
  // 9.5 * 135 + 150 + 0.8 * 100 + 0.5 = 1513.
  EXPECT_EQ(Calibrated(canon), (Values{"1513", "50", "50", "37"}));
  // The fixed-resolution S40 section is for 2272-pixel pictures; this one says 2272 but is a
  // copy scaled to 480, for which the section does not hold.
  DeleteLogFile();
  EXPECT_EQ(Calibrated(Calibrate(TESSALY_TESTDATA "/photos-exif/Canon_PowerShot_S40.jpg")),
            (Values{"0", "0", "0", "0"}));
  const Values log = Log();
  ASSERT_GE(log.size(), 7u);
  EXPECT_EQ(log[0],
            "Warning: PixelXDimension 2272 is not the width of the picture, which is used "
            "instead: 480");
  EXPECT_EQ(log[6], "       - PixelXDimension from image:480");
  // Every other file at least goes through without harm.
  for (const char* folder : {"/photos-exif", "/malformed", "/formats"}) {
    for (const auto& entry :
         fs::recursive_directory_iterator(TESSALY_TESTDATA + std::string(folder))) {
      if (!entry.is_regular_file()) continue;
      const TImageData r = Calibrate(entry.path().string());
      EXPECT_GE(r.Pp100MM, 0) << entry.path();
    }
  }
}

// The log's date and time in the user's locale; where none is set, or only C / POSIX, or one
// not installed, ISO 8601 rather than the C locale's "12/09/26", which reads differently in
// every country.
TEST(DateTimeText, TheUsersLocaleElseIso8601) {
  const char* names[] = {"LC_ALL", "LC_TIME", "LANG"};
  std::map<std::string, std::optional<std::string>> saved;
  for (const char* n : names) {
    if (const char* v = std::getenv(n))
      saved[n] = v;
    else
      saved[n] = std::nullopt;
  }
  const std::regex iso(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)");
  // glibc's en_US: "Wed 09 Dec 2026 10:30:00 PM UTC".
  const std::regex us(R"([A-Z][a-z]{2} \d\d [A-Z][a-z]{2} \d{4} \d\d:\d\d:\d\d [AP]M.*)");
  const bool usInstalled = [] {
    const locale_t l = newlocale(LC_TIME_MASK, "en_US.UTF-8", locale_t(nullptr));
    if (l) freelocale(l);
    return l != nullptr;
  }();
  const struct {
    const char *All, *Time, *Lang;
    bool Iso;
  } cases[] = {
      {nullptr, nullptr, nullptr, true},       {nullptr, nullptr, "C", true},
      {"POSIX", nullptr, "en_US.UTF-8", true}, {nullptr, nullptr, "xx_XX.UTF-8", true},
      {nullptr, "en_US.UTF-8", "C", false},    {"en_US.UTF-8", "C", nullptr, false},
  };
  for (const auto& c : cases) {
    const char* values[] = {c.All, c.Time, c.Lang};
    for (int i = 0; i < 3; ++i) {
      if (values[i])
        setenv(names[i], values[i], 1);
      else
        unsetenv(names[i]);
    }
    if (!c.Iso && !usInstalled) continue;
    const std::string text = DateTimeText();
    EXPECT_TRUE(std::regex_match(text, c.Iso ? iso : us)) << text;
  }
  for (const auto& [n, v] : saved) {
    if (v)
      setenv(n.c_str(), v->c_str(), 1);
    else
      unsetenv(n.c_str());
  }
}

TEST_F(Launcher, ARunWithoutParametersAndTwoRunsInARow) {
  {
    TLauncherRun run;
    int shown = 0;
    run.ShowWindow = [&] { ++shown; };
    platform::MessageRecorder boxes;
    run.Start();
    run.Close();
    EXPECT_EQ(shown, 1);
    ASSERT_EQ(boxes.Messages().size(), 1u);
    EXPECT_EQ(boxes.Messages()[0].Caption, "Error in Kestrin");
    EXPECT_EQ(boxes.Messages()[0].Text,
              "Count of given parameters (ParamCount) smaller 1. For details see " + FDir +
                  "Kestrin.log");
  }
  const Values first = Log();
  ASSERT_EQ(first.size(), 4u);
  EXPECT_TRUE(first[0].ends_with(" Start"));
  EXPECT_EQ(first[0].size(), DateTimeText().size() + 6);
  EXPECT_EQ(first[1], "Error: ParamCount<=0 - ParamCount:0");
  EXPECT_TRUE(first[2].ends_with(" Close"));
  EXPECT_EQ(first[3], "---------------------");

  // The next run starts a new log.
  platform::SetProgramParameters({FDir + "missing.ini"});
  TLauncherRun second;
  platform::MessageRecorder boxes;
  second.Start();
  second.Close();
  const Values log = Log();
  ASSERT_EQ(log.size(), 6u);
  EXPECT_EQ(log[1], "This program was called with:" + platform::ProgramFile());
  EXPECT_EQ(log[2], "This program was called with:" + FDir + "missing.ini");
  EXPECT_EQ(log[3], "Error: Read() was not successful");
  EXPECT_EQ(boxes.Texts(),
            Values{"Cannot read given file sucessfully. For details see " + FDir + "Kestrin.log"});
}

TEST_F(Launcher, FindProgramFileInTheProgramTable) {
  fs::create_directories(FDir + "tools");
  const std::string here = Receiver("recv.sh"), there = Receiver("tools/recv.sh");
  WriteBytes(FDir + "Kestrin.ini",
             "[Here]\nProgFile=recv.sh\n[There]\nProgFile=recv.sh\nProgDir=tools/\n"
             "[Absolute]\nProgFile=recv.sh\nProgDir=" +
                 FDir + "tools\n");
  TLauncherRun run;
  EXPECT_EQ(run.FindProgramFile("here"), FDir + "recv.sh");
  EXPECT_EQ(run.FindProgramFile("There"), FDir + "tools/recv.sh");
  DeleteLogFile();
  // An absolute ProgDir is still taken relative to the program directory.
  EXPECT_EQ(run.FindProgramFile("Absolute"), "");
  const std::string dir = FDir + FDir + "tools";
  EXPECT_EQ(Log(),
            (Values{"IniAnaFile:" + FDir + "Kestrin.ini", "Error: Directory does not exist:" + dir,
                    "Error: File does not exist:", "      - ProgFileName:recv.sh",
                    "      - ProgFile:" + dir + "/recv.sh"}));
  // A receiver without a section has no file name; without the table there is nothing.
  DeleteLogFile();
  EXPECT_EQ(run.FindProgramFile("Nobody"), "");
  fs::remove(FDir + "Kestrin.ini");
  EXPECT_EQ(run.FindProgramFile("Here"), "");
  const std::string programDir = FDir.substr(0, FDir.size() - 1);
  EXPECT_EQ(Log(), (Values{"IniAnaFile:" + FDir + "Kestrin.ini", "Error: File does not exist:",
                           "      - ProgFileName:", "      - ProgFile:" + programDir + "/",
                           "IniAnaFile:" + FDir + "Kestrin.ini",
                           "Error: IniAnaFile does not exist:" + FDir + "Kestrin.ini",
                           "Error: Directory does not exist:", "Error: File does not exist:",
                           "      - ProgFileName:", "      - ProgFile:/"}));
}

TEST_F(Launcher, ARecordDataFileNamesNoReceiver) {
  Receiver("recv.sh");
  WriteBytes(FDir + "Kestrin.ini", "[Here]\nProgFile=recv.sh\n");
  WriteBytes(FDir + "rd.ini", "[RecordData]\nfilename=" + FDir + "a.jpg\n");
  platform::SetProgramParameters({FDir + "rd.ini"});
  const Values boxes = RunOnce();
  const Values log = Log();
  ASSERT_EQ(log.size(), 12u);
  EXPECT_EQ(Values(log.begin() + 3, log.begin() + 10),
            (Values{"IniAnaFile:" + FDir + "Kestrin.ini", "Error: Programname == ''",
                    "Error: Directory does not exist:", "Error: File does not exist:",
                    "      - ProgFileName:", "      - ProgFile:/",
                    "Error: Can not find ProgramFile for Programname:"}));
  EXPECT_EQ(boxes, Values{"Programfile  not found. For details see " + FDir + "Kestrin.log"});
  EXPECT_FALSE(fs::exists(FDir + "MVIni0.ini"));
}

const char* Interface =
    "[General]\nCount=3\nSender=Praxis\nReceiver=Recorder\n"
    "[Subject0]\nName=Muster\n"
    "[Image0]\nImage=%0\nPp100MM=150\nExclusionCircleRadiusInPixel=-1\n"
    "[Image1]\nImage=%1\nPp100MM=0\n"
    "[Image2]\nImage=%2\nPp100MM=-1\nExclusionCircleY0InPixel=7\n";

std::string Replace(std::string Text, const std::vector<std::string>& Values_) {
  for (std::size_t i = 0; i < Values_.size(); ++i) {
    std::string mark(1, '%');
    mark += std::to_string(i);
    Text.replace(Text.find(mark), mark.size(), Values_[i]);
  }
  return Text;
}

TEST_F(Launcher, ASuccessfulRunCompletesTheFileStartsTheReceiverAndCleansUp) {
  // A program folder with a blank in its name, and two earlier files that must stay.
  CameraTable("[Linear]\nconst=20\nslopeFL=10\nslopeX=0.01\n");
  const std::string receiver = Receiver("recorder.sh");
  WriteBytes(FDir + "Kestrin.ini", "[Recorder]\nProgFile=recorder.sh\n");
  WriteBytes(FDir + "MVIni0.ini", "old 0");
  WriteBytes(FDir + "MVIni1.ini", "old 1");
  const std::string a = Picture("a.jpg", {"Linear", "2048", "72/10"});
  const std::string b = Picture("b.jpg", {"Linear", "2048", "72/10"});
  const std::string input = FDir + "in.ini";
  WriteBytes(input, Replace(Interface, {a, b, FDir + "missing.jpg"}));
  platform::SetProgramParameters({input});

  platform::MessageRecorder boxes;
  TLauncherRun run;
  run.Start();
  EXPECT_EQ(run.OutputFileName(), FDir + "MVIni2.ini");
  EXPECT_TRUE(fs::exists(FDir + "MVIni2.ini"));
  run.Close();
  EXPECT_FALSE(fs::exists(FDir + "MVIni2.ini"));
  EXPECT_EQ(ReadBytes(FDir + "MVIni0.ini"), "old 0");
  EXPECT_EQ(ReadBytes(FDir + "MVIni1.ini"), "old 1");
  EXPECT_FALSE(run.Failed());
  EXPECT_EQ(boxes.Texts(), Values{});

  EXPECT_EQ(ReadBytes(FDir + "args.txt"), FDir + "MVIni2.ini\n");
  platform::TIniFile got(FDir + "received.ini");
  const auto values = [&](const char* Section) {
    Values v;
    for (const char* key : {"Pp100MM", "ExclusionCircleRadiusInPixel", "ExclusionCircleX0InPixel",
                            "ExclusionCircleY0InPixel"})
      v.push_back(got.ReadString(Section, key, "absent"));
    return v;
  };
  // A positive input value wins; 0 and -1 take the computed value, or 0 without one.
  EXPECT_EQ(values("Image0"), (Values{"150", "1024", "1024", "768"}));
  EXPECT_EQ(values("Image1"), (Values{"112", "1024", "1024", "768"}));
  EXPECT_EQ(values("Image2"), (Values{"0", "0", "0", "7"}));
  EXPECT_EQ(got.ReadString("Analysis", "Prog", "absent"), "absent");
  EXPECT_EQ(got.ReadString("Analysis", "ResultFile", "absent"), "absent");
  EXPECT_EQ(got.ReadString("Subject0", "Name", ""), "Muster");

  const Values log = Log();
  ASSERT_EQ(log.size(), 11u);
  EXPECT_TRUE(log[0].ends_with(" Start"));
  EXPECT_EQ(log[2], "This program was called with:" + input);
  EXPECT_EQ(log[3], "IniAnaFile:" + FDir + "Kestrin.ini");
  EXPECT_EQ(log[4], "Error: File of image does not exist:" + FDir + "missing.jpg");
  EXPECT_EQ(log[8], "Programcall:\"" + receiver + "\" \"" + FDir + "MVIni2.ini\"");
  EXPECT_TRUE(log[9].ends_with(" Close"));
  EXPECT_EQ(log[10], "---------------------");
}

TEST_F(Launcher, FailuresAfterTheFileIsChosenStillEndTheRunAndRemoveIt) {
  WriteBytes(FDir + "Kestrin.ini",
             "[Plain]\nProgFile=plain.txt\n[Broken]\nProgFile=broken.sh\n"
             "[Recorder]\nProgFile=recorder.sh\n");
  WriteBytes(FDir + "plain.txt", "not a program\n");
  Receiver("broken.sh", "");
  WriteBytes(FDir + "broken.sh", "#!/nonexistent/interpreter\n");
  Receiver("recorder.sh");
  const std::string a = Picture("a.jpg", {"", "", ""});
  struct Case {
    std::string Receiver, Reason;
  };
  for (const Case& c :
       {Case{"Plain", "Permission denied"}, Case{"Broken", "No such file or directory"}}) {
    SCOPED_TRACE(c.Receiver);
    WriteBytes(FDir + "in.ini", "[General]\nCount=1\nSender=Praxis\nReceiver=" + c.Receiver +
                                    "\n[Image0]\nImage=" + a + "\n");
    platform::SetProgramParameters({FDir + "in.ini"});
    bool failed = false;
    const Values boxes = RunOnce(&failed);
    EXPECT_TRUE(failed);
    EXPECT_FALSE(fs::exists(FDir + "MVIni0.ini"));
    const Values log = Log();
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(log[log.size() - 3], "Error: Program could not be started: " + c.Reason);
    const std::string prog = FDir + (c.Receiver == "Plain" ? "plain.txt" : "broken.sh");
    EXPECT_EQ(boxes,
              (Values{"Fehler bei Programmaufruf: \"" + prog + "\" \"" + FDir + "MVIni0.ini\"",
                      "Programfile " + prog + " could not be started: " + c.Reason +
                          ". For details see " + FDir + "Kestrin.log"}));
  }

  // Without a Sender nothing is written, and the receiver still gets the (missing) file's name.
  WriteBytes(FDir + "in.ini", "[General]\nCount=1\nReceiver=Recorder\n[Image0]\nImage=" + a + "\n");
  bool failed = true;
  EXPECT_EQ(RunOnce(&failed),
            Values{"Error: Sender is missing. WriteIni() kann nicht ausgeführt werden."});
  EXPECT_FALSE(failed);
  EXPECT_EQ(ReadBytes(FDir + "args.txt"), FDir + "MVIni0.ini\n");
  EXPECT_FALSE(fs::exists(FDir + "received.ini"));

  // An exception in the middle of the run is logged and reported, and the run still ends.
  WriteBytes(FDir + "in.ini",
             "[General]\nCount=1\nSender=Praxis\nReceiver=Recorder\n"
             "[Image0]\nImage=" +
                 a + "\n");
  fs::remove(FDir + "args.txt");
  CameraTable("[x]\n");
  ReaderThrows() = true;
  const Values boxes = RunOnce(&failed);
  EXPECT_TRUE(failed);
  EXPECT_FALSE(fs::exists(FDir + "MVIni0.ini"));
  EXPECT_FALSE(fs::exists(FDir + "args.txt"));
  const Values log = Log();
  ASSERT_GE(log.size(), 3u);
  EXPECT_EQ(log[log.size() - 3], "Error: The run stopped on an unexpected error: reader failed");
  EXPECT_EQ(boxes, Values{"The run stopped on an unexpected error: reader failed. For "
                          "details see " +
                          FDir + "Kestrin.log"});
}

// A launcher killed while it calibrates (the slow part) or writes must leave no empty or
// half-written MVIni file: the file appears only complete, when it is written.
TEST_F(Launcher, NoMVIniFileExistsBeforeItIsWrittenComplete) {
  CameraTable("[Linear]\nconst=20\nslopeFL=10\nslopeX=0.01\n");
  Receiver("recorder.sh");
  WriteBytes(FDir + "Kestrin.ini", "[Recorder]\nProgFile=recorder.sh\n");
  const std::string a = Picture("a.jpg", {"Linear", "2048", "72/10"});
  WriteBytes(FDir + "in.ini", Replace(Interface, {a, a, a}));
  platform::SetProgramParameters({FDir + "in.ini"});
  WatchedFile() = FDir + "MVIni0.ini";
  WatchedFileSeen() = false;
  platform::MessageRecorder boxes;
  TLauncherRun run;
  run.Start();
  WatchedFile().clear();
  EXPECT_GT(ReaderCalls(), 0);
  EXPECT_FALSE(WatchedFileSeen()) << "MVIni0.ini existed while the pictures were calibrated";
  ASSERT_EQ(run.OutputFileName(), FDir + "MVIni0.ini");
  struct stat st {};
  ASSERT_EQ(stat(run.OutputFileName().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(platform::TIniFile(run.OutputFileName()).ReadInteger("General", "Count", 0), 3);
  run.Close();
}

}  // namespace
