// The print page: the opacity steps, the page written from a template, the captures stored as
// JPEG files, and real prints in the main window under the offscreen platform.
#include "overlay/windows/print_page.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QImage>
#include <QTest>
#include <cstdlib>
#include <filesystem>
#include <optional>

#include "overlay/windows/form_main.h"
#include "platform/file_write.h"
#include "platform/message.h"
#include "platform/shell.h"

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
  static mode_t Mode(const std::string& Path) {
    struct stat st {};
    EXPECT_EQ(::lstat(Path.c_str(), &st), 0) << Path;
    return st.st_mode & 07777;
  }

  std::string Dir;
  std::optional<std::string> OldTemp;
  bool Keep = false;
};

using WritePrintPageTest = PrintFolder;

TEST_F(WritePrintPageTest, ReplacesTheFirstPlaceholderOfEachLineCountingOverTheTemplate) {
  ASSERT_TRUE(Page("<p>#Image#</p>\nno picture\n<img src=\"#Image#\">\n#Image# and #Image#\n"));
  EXPECT_EQ(Read("output.html"), "<p>" + Image(1) + "</p>\nno picture\n<img src=\"" + Image(2) +
                                     "\">\n" + Image(3) + " and #Image#\n");
  EXPECT_EQ(Mode(Dir + "output.html"), 0600u);
}

TEST_F(WritePrintPageTest, KeepsLineEndingsAndTheLineCountByteForByte) {
  ASSERT_TRUE(Page("a #Image# b\r\n\r\nlast\r\n"));
  EXPECT_EQ(Read("output.html"), "a " + Image(1) + " b\r\n\r\nlast\r\n");
  ASSERT_TRUE(Page("one\n#Image#"));  // no final line break: none is added
  EXPECT_EQ(Read("output.html"), "one\n" + Image(1));
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
  expected.replace(1100, 7, Image(2));
  expected.replace(0, 7, Image(1));
  std::string expectedInside = inside;
  expectedInside.replace(1016, 7, Image(3));
  EXPECT_EQ(Read("output.html"),
            expected + "\n" + expectedInside + "\n" + across + "\n" + Image(4) + "\n");
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

using PrintCaptureTest = PrintFolder;

TEST_F(PrintCaptureTest, StoresAPrivateJpegUnderBothNamesNeverThroughALink) {
  Put("elsewhere.jpg", "not to be touched");
  fs::create_symlink(Dir + "elsewhere.jpg", Dir + "test2.jpg");
  fs::create_symlink(Dir + "elsewhere.jpg", Dir + "temp.bmp");
  QImage capture(31, 17, QImage::Format_RGB888);  // odd width: BMP rows are padded
  capture.fill(QColor(200, 40, 10));
  ASSERT_TRUE(WritePrintCapture(capture, Dir, 2));

  EXPECT_EQ(Read("elsewhere.jpg"), "not to be touched");
  EXPECT_FALSE(fs::exists(fs::symlink_status(Dir + "temp.bmp")));
  EXPECT_EQ(Read("test2.jpg"), Read("image3.jpg"));
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

TEST_F(PrintCaptureTest, ACaptureWithoutABmpLeavesNoEarlierPictureUnderItsNames) {
  Put("test0.jpg", "earlier print");
  Put("image1.jpg", "earlier print");
  fs::create_directory(Dir + "temp.bmp");  // the BMP cannot be written, so not read back
  QImage capture(8, 8, QImage::Format_RGB888);
  capture.fill(Qt::white);
  EXPECT_FALSE(WritePrintCapture(capture, Dir, 0));
  EXPECT_FALSE(fs::exists(Dir + "test0.jpg"));
  EXPECT_FALSE(fs::exists(Dir + "image1.jpg"));
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
  static QImage Jpeg(const std::string& Path) {
    return QImage(QString::fromStdString(Path), "JPG");
  }
};

class SamplePrintTest : public PrintComparisonTest {
 protected:
  SamplePrintTest() : PrintComparisonTest(true) {}
};

TEST_F(SamplePrintTest, PrintsTheSamplePairInFiveStepsAndPutsEverythingBack) {
  TFormMain w;
  Show(w);
  TMainController& c = w.Controller();
  ASSERT_TRUE(c.LoadImage1(TESSALY_SOURCE_DIR "/data/sample/NT96650_pcb_002.JPG"));
  ASSERT_TRUE(c.LoadImage2(TESSALY_SOURCE_DIR "/data/sample/NT96650_pcb_004.JPG"));
  c.GaugeAlpha().SetPosition(120);
  const raster::TWinColor colour = c.ImgView().Color();
  Put("image7.jpg", "earlier print");
  Put("test6.jpg", "earlier print");
  Put("image1.jpg", "earlier print");

  platform::MessageRecorder messages;
  platform::ShellOpenRecorder shell;
  PrintComparison(w, c, 5);

  EXPECT_TRUE(messages.Texts().empty());
  EXPECT_THAT(shell.Targets(), ElementsAre(Dir + "output.html"));
  EXPECT_EQ(c.ImgView().Color(), colour);
  EXPECT_EQ(c.GaugeAlpha().Position(), 120);
  EXPECT_EQ(c.RotLayer()->Bitmap()->MasterAlpha(), 120u);
  EXPECT_EQ(c.Text(TField::EditTransp), "120");
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
  EXPECT_FALSE(fs::exists(Dir + "image7.jpg"));
  EXPECT_FALSE(fs::exists(Dir + "test6.jpg"));
  EXPECT_FALSE(fs::exists(Dir + "temp.bmp"));

  const raster::TRect viewport = c.ImgView().GetViewportRect();
  std::vector<std::string> captures;
  for (int i = 0; i < 5; ++i) {
    const std::string test = "test" + std::to_string(i) + ".jpg";
    captures.push_back(Read(test));
    EXPECT_EQ(captures.back(), Read("image" + std::to_string(i + 1) + ".jpg")) << i;
    EXPECT_EQ(Mode(Dir + test), 0600u);
    EXPECT_EQ(Jpeg(Dir + test).size(), QSize(viewport.Width(), viewport.Height())) << i;
  }
  EXPECT_NE(captures.front(), captures.back());  // the overlay was faded in

  // Every picture the page shows was taken by this print; the figures beyond the fifth name
  // pictures that do not exist, and the page drops them.
  const std::string page = Read("output.html");
  int n = 0;
  for (std::size_t at = page.find(Dir + "image"); at != std::string::npos;
       at = page.find(Dir + "image", at + 1)) {
    const std::string name = "image" + std::to_string(++n) + ".jpg";
    EXPECT_EQ(page.compare(at + Dir.size(), name.size(), name), 0) << n;
    if (n <= 5) {
      EXPECT_EQ(Read(name), captures[std::size_t(n - 1)]);
    } else {
      EXPECT_FALSE(fs::exists(Dir + name));
    }
  }
  EXPECT_GE(n, 5);
}

TEST_F(PrintComparisonTest, CapturesShowThePicturesOnWhiteAtEachStep) {
  TFormMain w;
  Show(w);
  TMainController& c = w.Controller();
  ASSERT_TRUE(c.LoadImage1(Picture("one.png", 200, 120, QColor(0, 0, 255))));
  ASSERT_TRUE(c.LoadImage2(Picture("two.png", 200, 120, QColor(255, 0, 0))));
  platform::ShellOpenRecorder shell;
  PrintComparison(w, c, 3);  // alpha 0, 127, 254

  // The pictures lie centred in the viewport; the cut-out is shifted by the panel's border.
  for (int i = 0; i < 3; ++i) {
    const QImage capture = Jpeg(Dir + "test" + std::to_string(i) + ".jpg");
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

TEST_F(PrintComparisonTest, NoCaptureStillWritesAndOpensThePage) {
  TFormMain w;
  Show(w);
  Put("test0.jpg", "earlier print");
  Put("image1.jpg", "earlier print");
  platform::ShellOpenRecorder shell;
  PrintComparison(w, w.Controller(), 0);
  EXPECT_THAT(shell.Targets(), ElementsAre(Dir + "output.html"));
  EXPECT_TRUE(fs::exists(Dir + "output.html"));
  EXPECT_FALSE(fs::exists(Dir + "test0.jpg"));
  EXPECT_FALSE(fs::exists(Dir + "image1.jpg"));
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
  EXPECT_THAT(messages.Texts(), ElementsAre("Cannot open input file: output.html",
                                            "Error creating output file: " + Dir + "output.html"));
  EXPECT_TRUE(shell.Targets().empty());
  EXPECT_TRUE(fs::exists(Dir + "test1.jpg"));
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

}  // namespace
}  // namespace overlay
