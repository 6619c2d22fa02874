// The scale bar: the round length it chooses over the view zooms and picture scales, and the bar
// in the real main window started with an interface file that gives picture 1 its scale.
#include "overlay/scene/scale_bar.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QImage>
#include <QPushButton>
#include <QTest>
#include <cmath>
#include <filesystem>
#include <fstream>

#include "overlay/windows/form_main.h"
#include "platform/command_line.h"
#include "platform/control_host.h"
#include "platform/message.h"

namespace overlay {
namespace {

namespace fs = std::filesystem;

// 1, 2 or 5 times a power of ten, and the next length of that series.
bool InSeries(double Mm, double* Next) {
  const double decade = std::pow(10.0, std::floor(std::log10(Mm) + 1e-9));
  const double m = Mm / decade;
  for (const double mantissa : {1.0, 2.0, 5.0}) {
    if (std::abs(m - mantissa) < 1e-6) {
      *Next = (mantissa == 1 ? 2 : mantissa == 2 ? 5 : 10) * decade;
      return true;
    }
  }
  return false;
}

TEST(ScaleBarLength, IsTheLongestRoundLengthThatFitsAtEveryViewZoom) {
  // From a coarse overview picture to a close-up of a dermatoscope.
  for (const int pp100mm : {1, 37, 250, 1181, 4000, 23622, 100000}) {
    for (int position = ViewZoomSlider.Min; position <= ViewZoomSlider.Max; ++position) {
      const double pxPerMm = ScreenPixelsPerMm(pp100mm, ViewZoomFactor(position));
      const std::optional<TScaleBarLength> length = ChooseScaleBarLength(pxPerMm);
      ASSERT_TRUE(length) << pp100mm << " " << position;
      double next = 0;
      ASSERT_TRUE(InSeries(length->Millimetres, &next)) << length->Millimetres;
      EXPECT_GE(length->Pixels, ScaleBarMinPixels) << pp100mm << " " << position;
      EXPECT_LE(length->Pixels, ScaleBarMaxPixels) << pp100mm << " " << position;
      EXPECT_NEAR(length->Pixels, length->Millimetres * pxPerMm, 0.5);
      EXPECT_GT(next * pxPerMm, ScaleBarMaxPixels) << pp100mm << " " << position;
    }
  }
  // A length that fits exactly is kept, also one whose decimal has no exact binary form.
  EXPECT_EQ(ChooseScaleBarLength(10)->Millimetres, 20);
  EXPECT_EQ(ChooseScaleBarLength(10)->Pixels, 200);
  EXPECT_EQ(ChooseScaleBarLength(2000)->Pixels, 200);
  EXPECT_EQ(FormatScaleBarLength(ChooseScaleBarLength(2000)->Millimetres, ","), "0,1 mm");
  EXPECT_EQ(FormatScaleBarLength(ChooseScaleBarLength(3000)->Millimetres, "."), "0.05 mm");
  for (const double bad : {0.0, -3.0, std::nan(""), HUGE_VAL})
    EXPECT_FALSE(ChooseScaleBarLength(bad)) << bad;
}

class ScaleBarWindowTest : public ::testing::Test {
 protected:
  ScaleBarWindowTest() {
    Dir = fs::temp_directory_path() / ("tessaly_scale_bar_" + std::to_string(::getpid()));
    fs::create_directories(Dir);
    One = Picture("one.png");
    Two = Picture("two.png");
  }
  ~ScaleBarWindowTest() override {
    platform::SetProgramParameters({});
    std::error_code ec;
    fs::remove_all(Dir, ec);
  }
  std::string Picture(const std::string& Name) {
    QImage image(600, 400, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    const std::string path = (Dir / Name).string();
    EXPECT_TRUE(image.save(QString::fromStdString(path)));
    return path;
  }
  // The window started as a calling application starts it; Pp100MM < 0 leaves the key out.
  std::unique_ptr<TFormMain> Start(int Pp100MM) {
    std::string file = "[General]\nCount=2\n[Image0]\nImage=" + One + "\n";
    if (Pp100MM >= 0) file += "Pp100MM=" + std::to_string(Pp100MM) + "\n";
    file += "[Image1]\nImage=" + Two + "\nPp100MM=999\n";
    const std::string path = (Dir / "interface.ini").string();
    std::ofstream(path, std::ios::binary) << file;
    platform::SetProgramParameters({path});
    TFormMainHooks hooks;
    hooks.SettingsFile = (Dir / "Tessaly.ini").string();
    hooks.ChooseFile = [this] { return Chosen; };  // the "..." buttons' dialog
    auto w = std::make_unique<TFormMain>(hooks);
    platform::MessageRecorder messages;  // the language file is missing beside the test
    w->FormCreate();
    w->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(w.get()));
    return w;
  }
  // The length of the black run the window shows from the bar's left end, along its middle.
  static int ShownBarLength(TFormMain& W) {
    const raster::TRect bar = W.Controller().ScaleBar().LastBarRect();
    const QImage shown = W.ImgViewHost()->grab().toImage();
    const int y = (bar.Top + bar.Bottom) / 2;
    int x = bar.Left;
    while (x < shown.width() && shown.pixelColor(x, y) == QColor(Qt::black)) ++x;
    return x - bar.Left;
  }
  fs::path Dir;
  std::string One, Two, Chosen;
};

// Shown by default with a known scale and as long as the chosen length at every zoom; M hides
// it; another picture 1 has no known scale.
TEST_F(ScaleBarWindowTest, TheBarShowsTheChosenLengthAtTheViewZoomUntilPicture1Changes) {
  const auto w = Start(1181);  // 300 dpi
  TMainController& c = w->Controller();
  auto* action = w->findChild<QAction*>("MenuScaleBar");
  ASSERT_NE(action, nullptr);
  EXPECT_TRUE(w->ImgViewHost()->actions().contains(action));
  ASSERT_TRUE(c.ScaleBarShown());
  EXPECT_TRUE(action->isChecked());

  for (const int zoom : {0, 35, -60}) {
    SCOPED_TRACE(zoom);
    c.GaugeBar4().SetPosition(zoom);
    const std::optional<TScaleBarLength> expected =
        ChooseScaleBarLength(ScreenPixelsPerMm(1181, ViewZoomFactor(zoom)));
    QApplication::processEvents();
    ASSERT_EQ(ShownBarLength(*w), expected->Pixels);
    // In the lower-left corner of the view.
    const raster::TRect bar = c.ScaleBar().LastBarRect();
    EXPECT_LT(bar.Left, 20);
    EXPECT_GT(bar.Bottom, c.ImgView().GetViewportRect().Bottom - 20);
  }

  QTest::keyClick(w.get(), Qt::Key_M);
  EXPECT_FALSE(c.ScaleBarShown());
  EXPECT_FALSE(action->isChecked());
  QApplication::processEvents();
  EXPECT_EQ(ShownBarLength(*w), 0);
  QTest::keyClick(w.get(), Qt::Key_M);
  ASSERT_TRUE(c.ScaleBarShown());
  // A new overlay goes under the bar, not over it.
  Chosen = Two;
  QTest::mouseClick(w->findChild<QPushButton*>("ButtonImage2"), Qt::LeftButton);
  QApplication::processEvents();
  EXPECT_GT(ShownBarLength(*w), ScaleBarMinPixels - 1);

  Chosen = Two;
  QTest::mouseClick(w->findChild<QPushButton*>("ButtonImage1"), Qt::LeftButton);
  EXPECT_FALSE(c.ScaleBarAvailable());
  EXPECT_FALSE(action->isEnabled());
  QApplication::processEvents();
  EXPECT_EQ(ShownBarLength(*w), 0);
}

TEST_F(ScaleBarWindowTest, WithoutAScaleThereIsNoBarAndMDoesNothing) {
  for (const int pp100mm : {-1, 0}) {
    SCOPED_TRACE(pp100mm);
    const auto w = Start(pp100mm);
    auto* action = w->findChild<QAction*>("MenuScaleBar");
    ASSERT_NE(action, nullptr);
    EXPECT_FALSE(action->isEnabled());
    QTest::keyClick(w.get(), Qt::Key_M);
    EXPECT_FALSE(w->Controller().ScaleBarShown());
    EXPECT_TRUE(w->Controller().ControlsEnabled());
  }
}

}  // namespace
}  // namespace overlay
