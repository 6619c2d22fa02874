// The print page: the opacity steps, the page written from a template, the captures stored as
// JPEG files, and real prints in the main window under the offscreen platform.
#include "overlay/windows/print_page.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QImage>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>

#include "overlay/decode/isolated_decode.h"
#include "overlay/windows/form_main.h"
#include "platform/file_write.h"
#include "platform/message.h"
#include "platform/shell.h"
#include "tests/support/temp_folder.h"

namespace overlay {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;

TEST(PrintAlphaSteps, StepFromTransparentTowardsOpaqueInWholeSteps) {
  EXPECT_EQ(PrintAlphaSteps(5, 255, 120), (std::vector<int>{0, 63, 126, 189, 252}));
  EXPECT_EQ(PrintAlphaSteps(4, 255, 120), (std::vector<int>{0, 85, 170, 255}));
  // One capture has no step width: it shows the slider's opacity.
  EXPECT_EQ(PrintAlphaSteps(1, 255, 120), (std::vector<int>{120}));
  EXPECT_TRUE(PrintAlphaSteps(0, 255, 120).empty());
  EXPECT_TRUE(PrintAlphaSteps(-3, 255, 120).empty());
}

// A private folder per test, which also serves as TEMP while it lives.
class PrintFolder : public ::testing::Test {
 protected:
  // Keepable: with PRINT_PAGE_KEEP=folder set, the test works in that folder and leaves its
  // output there to be looked at (the page names its pictures by their full paths).
  explicit PrintFolder(bool Keepable = false) {
    const char* keep = std::getenv("PRINT_PAGE_KEEP");
    Keep = Keepable && keep != nullptr && *keep == '/';
    if (Keep) {
      Dir = std::string(keep) + "/";
    } else {
      Dir = (fs::temp_directory_path() /
             ("tessaly_print_" + std::to_string(::getpid()) + "_" +
              ::testing::UnitTest::GetInstance()->current_test_info()->name()))
                .string() +
            "/";
    }
    fs::remove_all(Dir);
    fs::create_directories(Dir);
    if (const char* old = std::getenv("TEMP")) OldTemp = old;
    ::setenv("TEMP", Dir.c_str(), 1);
  }
  ~PrintFolder() override {
    if (OldTemp) {
      ::setenv("TEMP", OldTemp->c_str(), 1);
    } else {
      ::unsetenv("TEMP");
    }
    std::error_code ec;
    if (!Keep) fs::remove_all(Dir, ec);
  }
  std::string Put(const std::string& Name, const std::string& Bytes) {
    EXPECT_TRUE(platform::WriteFileAtomically(Dir + Name, Bytes));
    return Dir + Name;
  }
  std::string Read(const std::string& Name) {
    std::string bytes;
    EXPECT_TRUE(platform::ReadWholeFile(Dir + Name, &bytes)) << Name;
    return bytes;
  }
  // The page of Template; true when it was written.
  bool Page(const std::string& Template) {
    Put("template.html", Template);
    return WritePrintPageFrom(Dir + "template.html", Dir) == 0;
  }
  std::string Image(int N) const { return Dir + "image" + std::to_string(N) + ".jpg"; }
  // The address the page gives picture N of a print into Dir: Dir holds no character that
  // needs escaping.
  std::string Url(int N) const { return "file://" + Image(N); }
  static mode_t Mode(const std::string& Path) {
    struct stat st {};
    EXPECT_EQ(::lstat(Path.c_str(), &st), 0) << Path;
    return st.st_mode & 07777;
  }
  static std::string Contents(const std::string& Path) {
    std::string bytes;
    EXPECT_TRUE(platform::ReadWholeFile(Path, &bytes)) << Path;
    return bytes;
  }
  // The files a page's src attributes name, decoded from their file: addresses.
  static std::vector<std::string> Sources(const std::string& Page) {
    std::vector<std::string> files;
    constexpr std::string_view Attribute = "src=\"";
    for (std::size_t at = Page.find(Attribute); at != std::string::npos;
         at = Page.find(Attribute, at + 1)) {
      const std::size_t start = at + Attribute.size();
      const QUrl url = QUrl::fromEncoded(
          QByteArray::fromStdString(Page.substr(start, Page.find('"', start) - start)),
          QUrl::StrictMode);
      files.push_back(url.isLocalFile() ? url.toLocalFile().toStdString() : "not a file: address");
    }
    return files;
  }

  std::string Dir;
  std::optional<std::string> OldTemp;
  bool Keep = false;
};

using WritePrintPageTest = PrintFolder;

TEST_F(WritePrintPageTest, ReplacesTheFirstPlaceholderOfEachLineCountingOverTheTemplate) {
  ASSERT_TRUE(Page("<p>#Image#</p>\nno picture\n<img src=\"#Image#\">\n#Image# and #Image#\n"));
  EXPECT_EQ(Read("output.html"), "<p>" + Url(1) + "</p>\nno picture\n<img src=\"" + Url(2) +
                                     "\">\n" + Url(3) + " and #Image#\n");
  EXPECT_EQ(Mode(Dir + "output.html"), 0600u);
}

TEST_F(WritePrintPageTest, KeepsLineEndingsAndTheLineCountByteForByte) {
  ASSERT_TRUE(Page("a #Image# b\r\n\r\nlast\r\n"));
  EXPECT_EQ(Read("output.html"), "a " + Url(1) + " b\r\n\r\nlast\r\n");
  ASSERT_TRUE(Page("one\n#Image#"));  // no final line break: none is added
  EXPECT_EQ(Read("output.html"), "one\n" + Url(1));
}

TEST_F(WritePrintPageTest, ALongLineIsReadInPiecesOf1023BytesEachTreatedAsALine) {
  // Placeholders at 0 and 1100 lie in the first and second piece, each replaced; one ending on
  // the first piece's last byte is found, one a byte later straddles the boundary and is not.
  std::string line(1500, 'x');
  line.replace(0, 7, "#Image#");
  line.replace(1100, 7, "#Image#");
  std::string inside(1500, 'y');
  inside.replace(1016, 7, "#Image#");
  std::string across(1500, 'z');
  across.replace(1017, 7, "#Image#");
  ASSERT_TRUE(Page(line + "\n" + inside + "\n" + across + "\n#Image#\n"));
  std::string expected = line;
  expected.replace(1100, 7, Url(2));
  expected.replace(0, 7, Url(1));
  std::string expectedInside = inside;
  expectedInside.replace(1016, 7, Url(3));
  EXPECT_EQ(Read("output.html"),
            expected + "\n" + expectedInside + "\n" + across + "\n" + Url(4) + "\n");
}

TEST_F(WritePrintPageTest, TellsWhatFailedAndLeavesAnEarlierPageAlone) {
  Put("output.html", "earlier");
  platform::MessageRecorder messages;
  EXPECT_EQ(WritePrintPageFrom(Dir + "missing.html", Dir), 1);
  EXPECT_EQ(Read("output.html"), "earlier");
  Put("template.html", "#Image#\n");
  EXPECT_EQ(WritePrintPageFrom(Dir + "template.html", Dir + "no/such/folder/"), 1);
  EXPECT_THAT(messages.Texts(),
              ElementsAre("Cannot open input file: output.html",
                          "Cannot open output file: " + Dir + "no/such/folder/output.html"));
}

TEST(ShippedPrintTemplate, HoldsNoWordsOfItsOwn) {
  // Every word of the page comes from the language file: without its style, tags, placeholders
  // and character references the template leaves only the captures' numbers.
  std::ifstream in(std::string(TESSALY_SOURCE_DIR) + "/data/output.html");
  std::string text{std::istreambuf_iterator<char>(in), {}};
  for (const char* pattern : {"<style>[^]*</style>", "<[^>]*>", "#[A-Za-z0-9]+#", "&[a-z]+;"}) {
    text = std::regex_replace(text, std::regex(pattern), " ");
  }
  EXPECT_EQ(text.find_first_not_of("0123456789 \n"), std::string::npos) << text;
}

using PrintCaptureTest = PrintFolder;

TEST_F(PrintCaptureTest, StoresAPrivateJpegUnderBothNamesNeverThroughALink) {
  Put("elsewhere.jpg", "not to be touched");
  fs::create_symlink(Dir + "elsewhere.jpg", Dir + "test2.jpg");
  QImage capture(31, 17, QImage::Format_RGB888);  // odd width: BMP rows are padded
  capture.fill(QColor(200, 40, 10));
  ASSERT_TRUE(WritePrintCapture(capture, Dir, 2));

  EXPECT_EQ(Read("elsewhere.jpg"), "not to be touched");
  EXPECT_TRUE(Read("test2.jpg") == Read("image3.jpg"));
  for (const char* name : {"test2.jpg", "image3.jpg"}) {
    EXPECT_FALSE(fs::is_symlink(Dir + name));
    EXPECT_EQ(Mode(Dir + name), 0600u);
  }
  QImage jpeg(QString::fromStdString(Dir + "test2.jpg"), "JPG");
  ASSERT_EQ(jpeg.size(), QSize(31, 17));
  const QColor centre = jpeg.pixelColor(15, 8);
  EXPECT_NEAR(centre.red(), 200, 8);
  EXPECT_NEAR(centre.green(), 40, 8);
  EXPECT_NEAR(centre.blue(), 10, 8);
}

TEST_F(PrintCaptureTest, ACaptureThatCannotBeStoredSaysWhichFileAndLeavesNoEarlierPicture) {
  fs::create_directory(Dir + "test0.jpg");  // cannot be replaced by a file
  Put("image1.jpg", "earlier print");
  QImage capture(8, 8, QImage::Format_RGB888);
  capture.fill(Qt::white);
  const platform::TStatus stored = WritePrintCapture(capture, Dir, 0);
  EXPECT_FALSE(stored);
  EXPECT_THAT(stored.Reason(), ::testing::HasSubstr(Dir + "test0.jpg"));
  EXPECT_FALSE(fs::exists(Dir + "image1.jpg"));
}

// What a kill in the middle of a capture would leave is what lies in the folder while the JPEG
// is made: a stand-in for the encoder lists the folder once the request has reached it.
TEST_F(PrintCaptureTest, NoUncompressedCaptureLiesOnDiskWhileTheJpegIsMade) {
  const std::string listing = Dir + "listing.txt", encoder = Dir + "encoder.sh";
  // Only the stand-in that got the request lists; one started in advance is ended unasked.
  std::ofstream(encoder) << "#!/bin/sh\n[ \"$(head -c 1 <&3 | wc -c)\" -eq 1 ] || exit 1\nls -A '"
                         << Dir << "' > '" << listing << "'\n";
  fs::permissions(encoder, fs::perms::owner_all);
  const std::string decoder = DecoderProgram();
  SetDecoderProgram(encoder);
  QImage capture(16, 16, QImage::Format_RGB888);
  capture.fill(Qt::gray);
  const platform::TStatus stored = WritePrintCapture(capture, Dir, 0);
  SetDecoderProgram(decoder);

  EXPECT_FALSE(stored);  // the stand-in answers nothing
  EXPECT_EQ(Contents(listing), "encoder.sh\nlisting.txt\n");
}

TEST_F(PrintCaptureTest, RemovesOnlyTheCapturesOfALongerEarlierPrint) {
  for (const char* name : {"test2.jpg", "test3.jpg", "test10.jpg", "image3.jpg", "image4.jpg",
                           "test1.jpg", "image2.jpg", "test03.jpg", "test3.jpeg", "image.jpg",
                           "xtest3.jpg", "image-4.jpg", "notes.txt"}) {
    Put(name, "x");
  }
  fs::create_directory(Dir + "test5.jpg");
  Put("kept.jpg", "link target");
  fs::create_symlink(Dir + "kept.jpg", Dir + "image9.jpg");
  RemoveStaleCaptures(Dir, 2);
  std::vector<std::string> left;
  for (const auto& entry : fs::directory_iterator(Dir)) left.push_back(entry.path().filename());
  std::sort(left.begin(), left.end());
  EXPECT_THAT(left, ElementsAre("image-4.jpg", "image.jpg", "image2.jpg", "image9.jpg", "kept.jpg",
                                "notes.txt", "test03.jpg", "test1.jpg", "test3.jpeg", "test5.jpg",
                                "xtest3.jpg"));
}

// Real prints in the main window.
class PrintComparisonTest : public PrintFolder {
 protected:
  using PrintFolder::PrintFolder;
  void Show(TFormMain& W) {
    W.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&W));
  }
  std::string Picture(const std::string& Name, int Width, int Height, QColor Colour) {
    QImage image(Width, Height, QImage::Format_RGB32);
    image.fill(Colour);
    EXPECT_TRUE(image.save(QString::fromStdString(Dir + Name)));
    return Dir + Name;
  }
  void LoadPair(TMainController& C) {
    ASSERT_TRUE(C.LoadImage1(Picture("one.png", 200, 120, QColor(0, 0, 255))));
    ASSERT_TRUE(C.LoadImage2(Picture("two.png", 200, 120, QColor(255, 0, 0))));
  }
  // A print of Count captures of a blue and a red picture in a main window of its own; the
  // pages it opened.
  std::vector<std::string> PrintPair(int Count) {
    TFormMain w;
    Show(w);
    LoadPair(w.Controller());
    platform::ShellOpenRecorder shell;
    PrintComparison(w, w.Controller(), Count);
    return shell.Targets();
  }
  // The folder the print writes into, inside TEMP.
  static std::string Out() { return platform::TempDirectory(); }
  static QImage Jpeg(const std::string& Path) {
    return QImage(QString::fromStdString(Path), "JPG");
  }
  static uid_t Owner(const std::string& Path) {
    struct stat st {};
    EXPECT_EQ(::lstat(Path.c_str(), &st), 0) << Path;
    return st.st_uid;
  }
};

class SamplePrintTest : public PrintComparisonTest {
 protected:
  SamplePrintTest() : PrintComparisonTest(true) {}
  // Shows W with the sample pair loaded.
  void ShowSamplePair(TFormMain& W) {
    Show(W);
    ASSERT_TRUE(W.Controller().LoadImage1(TESSALY_SOURCE_DIR "/data/sample/NT96650_pcb_002.JPG"));
    ASSERT_TRUE(W.Controller().LoadImage2(TESSALY_SOURCE_DIR "/data/sample/NT96650_pcb_004.JPG"));
  }
};

TEST_F(SamplePrintTest, PrintsTheSamplePairInFiveStepsAndPutsEverythingBack) {
  TFormMain w;
  ASSERT_NO_FATAL_FAILURE(ShowSamplePair(w));
  TMainController& c = w.Controller();
  c.GaugeAlpha().SetPosition(120);
  const raster::TWinColor colour = c.ImgView().Color();
  const std::string out = Out();
  for (const char* name : {"image7.jpg", "test6.jpg", "image1.jpg"}) {
    ASSERT_TRUE(platform::WriteFileAtomically(out + name, "earlier print"));
  }

  platform::MessageRecorder messages;
  platform::ShellOpenRecorder shell;
  PrintComparison(w, c, 5);

  EXPECT_TRUE(messages.Texts().empty());
  EXPECT_THAT(shell.Targets(), ElementsAre(out + "output.html"));
  EXPECT_EQ(c.ImgView().Color(), colour);
  EXPECT_EQ(c.GaugeAlpha().Position(), 120);
  EXPECT_EQ(c.RotLayer()->Bitmap()->MasterAlpha(), 120u);
  EXPECT_EQ(c.Text(TField::EditTransp), "120");
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
  EXPECT_FALSE(fs::exists(out + "image7.jpg"));
  EXPECT_FALSE(fs::exists(out + "test6.jpg"));

  const raster::TRect viewport = c.ImgView().GetViewportRect();
  std::vector<std::string> captures;
  for (int i = 0; i < 5; ++i) {
    const std::string test = out + "test" + std::to_string(i) + ".jpg";
    captures.push_back(Contents(test));
    EXPECT_TRUE(captures.back() == Contents(out + "image" + std::to_string(i + 1) + ".jpg")) << i;
    EXPECT_EQ(Mode(test), 0600u);
    EXPECT_EQ(Jpeg(test).size(), QSize(viewport.Width(), viewport.Height())) << i;
  }
  EXPECT_NE(captures.front(), captures.back());  // the overlay was faded in

  // Every picture the page shows was taken by this print; the figures beyond the fifth name
  // pictures that do not exist, and the page drops them.
  const std::vector<std::string> sources = Sources(Contents(out + "output.html"));
  ASSERT_GE(sources.size(), 5u);
  for (std::size_t n = 1; n <= sources.size(); ++n) {
    const std::string name = out + "image" + std::to_string(n) + ".jpg";
    EXPECT_EQ(sources[n - 1], name);
    if (n <= 5) {
      EXPECT_TRUE(Contents(name) == captures[n - 1]) << n;
    } else {
      EXPECT_FALSE(fs::exists(name));
    }
  }
}

TEST_F(SamplePrintTest, ThePrintButtonCapturesTheVisiblePartAtThePicturesResolution) {
  const testsupport::TTempFolder settings("tessaly_print_settings");
  std::ofstream(settings / "Tessaly.ini") << "[Output]\nImageCount=2\n";
  TFormMainHooks hooks;
  hooks.SettingsFile = settings / "Tessaly.ini";
  TFormMain w(hooks);
  w.LoadSettings();
  ASSERT_NO_FATAL_FAILURE(ShowSamplePair(w));
  TMainController& c = w.Controller();
  c.GaugeBar4().SetPosition(-20);  // zoomed out, but not so far that all of picture 1 shows
  const raster::TRect part = VisiblePicturePart(c);
  ASSERT_LT(part.Width(), 2048);
  ASSERT_GT(part.Width(), c.ImgView().GetViewportRect().Width());
  platform::MessageRecorder messages;
  platform::ShellOpenRecorder shell;
  w.BitBtnPrintClick();

  EXPECT_TRUE(messages.Texts().empty());
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(Jpeg(Out() + "image" + std::to_string(i + 1) + ".jpg").size(),
              QSize(part.Width(), part.Height()))
        << i;
  }
  const std::string page = Contents(Out() + "output.html");
  EXPECT_NE(page.find("NT96650_pcb_004.JPG"), std::string::npos);
  EXPECT_NE(page.find("Deckkraft 100 %"), std::string::npos);  // the second of two: 255
}

TEST_F(PrintComparisonTest, CapturesShowThePicturesOnWhiteAtEachStep) {
  TFormMain w;
  Show(w);
  TMainController& c = w.Controller();
  LoadPair(c);
  platform::ShellOpenRecorder shell;
  PrintComparison(w, c, 3);  // alpha 0, 127, 254

  // The pictures lie centred in the viewport; the cut-out is shifted by the panel's border.
  for (int i = 0; i < 3; ++i) {
    const QImage capture = Jpeg(Out() + "test" + std::to_string(i) + ".jpg");
    ASSERT_FALSE(capture.isNull()) << i;
    const QColor corner = capture.pixelColor(40, 40);
    EXPECT_GT(std::min({corner.red(), corner.green(), corner.blue()}), 245) << i;
    const QColor centre = capture.pixelColor(capture.width() / 2, capture.height() / 2);
    const int red = i * 127;
    EXPECT_NEAR(centre.red(), red, 12) << i;
    EXPECT_NEAR(centre.blue(), 255 - red, 12) << i;
  }
  EXPECT_EQ(c.ImgView().Color(), MainViewColor);
}

TEST_F(PrintComparisonTest, InTheDifferenceViewCapturesTheDifferenceAndEachPictureAlone) {
  TFormMain w;
  Show(w);
  TMainController& c = w.Controller();
  LoadPair(c);
  c.ShowMode(TViewMode::Difference);
  platform::ShellOpenRecorder shell;
  PrintComparison(w, c, 5);

  // Blue and red: their difference is magenta; then blue alone, then red over it.
  const QColor expected[] = {QColor(255, 0, 255), QColor(0, 0, 255), QColor(255, 0, 0)};
  for (int i = 0; i < 3; ++i) {
    const QImage capture = Jpeg(Out() + "test" + std::to_string(i) + ".jpg");
    const QColor centre = capture.pixelColor(capture.width() / 2, capture.height() / 2);
    EXPECT_NEAR(centre.red(), expected[i].red(), 12) << i;
    EXPECT_NEAR(centre.blue(), expected[i].blue(), 12) << i;
  }
  EXPECT_FALSE(fs::exists(Out() + "test3.jpg"));
  const std::string page = Contents(Out() + "output.html");
  for (const char* caption : {"Aufnahme 1 &middot; Differenz", "Aufnahme 2 &middot; Bild 1",
                              "Aufnahme 3 &middot; Bild 2"}) {
    EXPECT_NE(page.find(caption), std::string::npos) << caption;
  }
  EXPECT_EQ(page.find("&middot; Deckkraft"), std::string::npos);
  EXPECT_FALSE(c.Flickering());
  EXPECT_EQ(c.DrawnMode(), TViewMode::Difference);
}

TEST_F(PrintComparisonTest, NoCaptureStillWritesAndOpensThePage) {
  TFormMain w;
  Show(w);
  const std::string out = Out();
  ASSERT_TRUE(platform::WriteFileAtomically(out + "test0.jpg", "earlier print"));
  ASSERT_TRUE(platform::WriteFileAtomically(out + "image1.jpg", "earlier print"));
  // An older version's uncompressed capture, left by a kill, beside the page or in TEMP itself.
  ASSERT_TRUE(platform::WriteFileAtomically(out + "temp.bmp", "BM earlier capture"));
  Put("temp.bmp", "BM earlier capture");
  platform::ShellOpenRecorder shell;
  PrintComparison(w, w.Controller(), 0);
  EXPECT_THAT(shell.Targets(), ElementsAre(out + "output.html"));
  EXPECT_TRUE(fs::exists(out + "output.html"));
  for (const std::string& gone :
       {out + "test0.jpg", out + "image1.jpg", out + "temp.bmp", Dir + "temp.bmp"}) {
    EXPECT_FALSE(fs::exists(gone)) << gone;
  }
}

TEST_F(PrintComparisonTest, AMissingTemplateIsToldTwiceAndNothingIsOpened) {
  TFormMain w;
  Show(w);
  TMainController& c = w.Controller();
  ASSERT_TRUE(c.LoadImage1(Picture("one.png", 50, 40, Qt::blue)));
  ASSERT_TRUE(c.LoadImage2(Picture("two.png", 50, 40, Qt::red)));
  platform::MessageRecorder messages;
  platform::ShellOpenRecorder shell;
  PrintComparisonWith(w, c, 2, Dir + "missing.html");
  EXPECT_THAT(messages.Texts(),
              ElementsAre("Cannot open input file: output.html",
                          "Error creating output file: " + Out() + "output.html"));
  EXPECT_TRUE(shell.Targets().empty());
  EXPECT_TRUE(fs::exists(Out() + "test1.jpg"));
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

TEST_F(PrintComparisonTest, ACaptureThatCannotBeStoredIsToldByItsNameAndNotShown) {
  const std::string out = Out();
  fs::create_directory(out + "test1.jpg");
  ASSERT_TRUE(platform::WriteFileAtomically(out + "image2.jpg", "earlier print"));
  platform::MessageRecorder messages;
  EXPECT_THAT(PrintPair(2), ElementsAre(out + "output.html"));
  ASSERT_EQ(messages.Texts().size(), 1u);
  EXPECT_THAT(messages.Texts()[0], ::testing::HasSubstr(out + "test1.jpg"));
  EXPECT_FALSE(fs::exists(out + "image2.jpg"));
  EXPECT_TRUE(fs::exists(out + "image1.jpg"));
}

TEST_F(PrintComparisonTest, ATempThatNamesNoFolderIsToldAndNothingIsCaptured) {
  ::setenv("TEMP", (Dir + "missing").c_str(), 1);
  TFormMain w;
  Show(w);
  platform::MessageRecorder messages;
  platform::ShellOpenRecorder shell;
  PrintComparison(w, w.Controller(), 2);
  ASSERT_EQ(messages.Texts().size(), 1u);
  EXPECT_THAT(messages.Texts()[0], ::testing::HasSubstr(Dir + "missing"));
  EXPECT_TRUE(shell.Targets().empty());
  EXPECT_FALSE(fs::exists(Dir + "missing"));
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

// A TEMP whose name holds what a page or an address gives a meaning to.
TEST_F(PrintComparisonTest, ATempFolderWithMarkupInItsNameGivesThePageExactlyThisPrintsFiles) {
  const std::string marked = Dir + "a \"><script>x</script> &amp; #1 %41 b/";
  fs::create_directories(marked);
  ::setenv("TEMP", marked.c_str(), 1);
  PrintPair(2);

  const std::string out = Out();
  ASSERT_EQ(out.rfind(marked, 0), 0u) << out;
  const std::string page = Contents(out + "output.html");
  const std::vector<std::string> sources = Sources(page);
  ASSERT_EQ(sources.size(), 10u);  // the shipped template's figures
  for (std::size_t n = 1; n <= sources.size(); ++n) {
    EXPECT_EQ(sources[n - 1], out + "image" + std::to_string(n) + ".jpg");
  }
  EXPECT_TRUE(Contents(sources[0]) == Contents(out + "test0.jpg"));
  EXPECT_TRUE(Contents(sources[1]) == Contents(out + "test1.jpg"));
  EXPECT_EQ(page.find("<script>"), std::string::npos);
  EXPECT_EQ(page.find(marked), std::string::npos);
}

// Another user's files in a TEMP that all users share (sticky, like /tmp): root may write
// anything, so a print as root must itself keep away from them.
TEST_F(PrintComparisonTest, InASharedTempFolderAnotherUsersFilesSurviveAndNeverAppearOnThePage) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to own files as another user";
  constexpr uid_t Other = 65534;
  fs::permissions(Dir, fs::perms::all | fs::perms::sticky_bit);
  const std::vector<std::string> theirs = {"image1.jpg", "test0.jpg", "temp.bmp", "output.html"};
  for (const std::string& name : theirs) {
    Put(name, "BM theirs");
    ASSERT_EQ(::chown((Dir + name).c_str(), Other, Other), 0);
  }
  const std::vector<std::string> pages = PrintPair(2);

  for (const std::string& name : theirs) {
    EXPECT_TRUE(Read(name) == "BM theirs") << name;  // not their bytes in the log
    EXPECT_EQ(Owner(Dir + name), Other) << name;
  }
  ASSERT_EQ(pages.size(), 1u);
  const std::vector<std::string> sources = Sources(Contents(pages[0]));
  ASSERT_GE(sources.size(), 2u);
  for (std::size_t i = 0; i < 2; ++i) {
    EXPECT_NE(sources[i], Dir + "image" + std::to_string(i + 1) + ".jpg");
    EXPECT_EQ(Owner(sources[i]), ::geteuid());
    EXPECT_TRUE(Contents(sources[i]) == Contents(Out() + "test" + std::to_string(i) + ".jpg"));
  }
}

// Many captures take a while: the window keeps handling its events (painting, timers), not
// the user's input, and the wait cursor stays.
TEST_F(PrintComparisonTest, EventsAreHandledBetweenCapturesUnderTheWaitCursor) {
  TFormMain w;
  Show(w);
  TMainController& c = w.Controller();
  LoadPair(c);
  std::optional<bool> waitCursorDuringPrint;
  const QObject during;  // the check goes with the test when it never ran
  QTimer::singleShot(0, &during, [&] {
    const QCursor* cursor = QGuiApplication::overrideCursor();
    waitCursorDuringPrint = cursor != nullptr && cursor->shape() == Qt::WaitCursor;
  });
  platform::ShellOpenRecorder shell;
  PrintComparison(w, c, 3);
  ASSERT_TRUE(waitCursorDuringPrint.has_value()) << "no event was handled during the print";
  EXPECT_TRUE(*waitCursorDuringPrint);
}

}  // namespace
}  // namespace overlay
