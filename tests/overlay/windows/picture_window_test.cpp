// A damaged picture in the real main window: FreeImage crashes on it, in the decoder process,
// and the window goes on with the pictures it had.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <cstring>
#include <filesystem>
#include <vector>

#include "overlay/decode/picture_import.h"
#include "overlay/windows/form_main.h"
#include "platform/message.h"

namespace overlay {
namespace {

namespace fs = std::filesystem;

std::vector<raster::TColor32> Pixels(const raster::TBitmap32& Bitmap) {
  const raster::TColor32* p = Bitmap.PixelBuffer();
  return std::vector<raster::TColor32>(p, p + std::size_t(Bitmap.Width()) * Bitmap.Height());
}

TEST(PictureWindow, ADamagedPicture2LeavesTheOverlayItsBitmapAndItsSlidersAsTheyWere) {
  const fs::path dir = fs::temp_directory_path() / ("picture_window_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const auto write = [&](const char* Name, int W, int H, Qt::GlobalColor Color) {
    QImage image(W, H, QImage::Format_ARGB32);
    image.fill(Color);
    image.setPixel(3, 2, qRgba(10, 20, 30, 40));  // not a flat colour, and not opaque
    const std::string path = (dir / Name).string();
    EXPECT_TRUE(image.save(QString::fromStdString(path)));
    return path;
  };
  const std::string picture1 = write("one.png", 300, 200, Qt::darkCyan);
  const std::string picture2 = write("two.png", 101, 60, Qt::yellow);

  std::string chosen;
  TFormMainHooks hooks;
  hooks.ChooseFile = [&chosen] { return chosen; };
  TFormMain w(hooks);
  w.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
  const auto choose = [&](const char* Button, const std::string& Path) {
    chosen = Path;
    QTest::mouseClick(w.findChild<QPushButton*>(Button), Qt::LeftButton);
  };
  choose("ButtonImage1", picture1);
  choose("ButtonImage2", picture2);
  TMainController& c = w.Controller();
  c.GaugeBar1().SetPosition(12);
  c.GaugeBar2().SetPosition(-7);
  c.GaugeBar3().SetPosition(5);
  c.GaugeBar4().SetPosition(30);
  c.GaugeBar5().SetPosition(-40);
  c.GaugeAlpha().SetPosition(77);
  TSliderPositions sliders = c.Sliders();
  const raster::TBitmap32* overlay = c.RotLayer()->Bitmap();
  std::vector<raster::TColor32> overlayPixels = Pixels(*overlay);
  const std::vector<raster::TColor32> viewPixels = Pixels(c.ImgView().Bitmap());
  raster::TFloatPoint position = c.RotLayer()->Position();
  QString edit2 = w.Edit(TField::EditImage2)->text();

  const auto unchanged = [&] {
    EXPECT_EQ(c.Sliders(), sliders);
    EXPECT_EQ(c.RotLayer()->Bitmap(), overlay);
    EXPECT_EQ(Pixels(*c.RotLayer()->Bitmap()), overlayPixels);
    EXPECT_EQ(c.RotLayer()->Bitmap()->MasterAlpha(), 77u);
    EXPECT_EQ(c.RotLayer()->Position(), position);
    EXPECT_EQ(Pixels(c.ImgView().Bitmap()), viewPixels);
    EXPECT_EQ(w.Edit(TField::EditImage2)->text(), edit2);
  };

  // Chosen with the button, it is a picture that does not load: one message, nothing changed.
  const std::string damaged =
      std::string(TESSALY_TESTDATA) + "/malformed/m2-336db1cd76254717eb50a8602b651fbf.tif";
  platform::MessageRecorder recorder;
  choose("ButtonImage2", damaged);
  EXPECT_EQ(recorder.Texts(),
            std::vector<std::string>{PictureFailureText(TPictureFailureTexts().Damaged, damaged)});
  recorder.Clear();
  unchanged();

  // Reloaded for the assistant after the file has turned into the damaged one on disk (the
  // load that must tell): its one message, nothing changed.
  const std::string changing = (dir / "changing.tif").string();
  fs::copy_file(std::string(TESSALY_TESTDATA) + "/formats/tiff/hopper.tif", changing);
  choose("ButtonImage2", changing);
  ASSERT_EQ(w.Edit(TField::EditImage2)->text().toStdString(), changing);
  overlay = c.RotLayer()->Bitmap();
  overlayPixels = Pixels(*overlay);
  edit2 = w.Edit(TField::EditImage2)->text();
  ASSERT_EQ(c.Sliders(), TSliderPositions{});  // a new picture 2 resets the sliders
  c.GaugeAlpha().SetPosition(77);
  sliders = c.Sliders();
  position = c.RotLayer()->Position();
  fs::copy_file(
      std::string(TESSALY_TESTDATA) + "/malformed/m10-42c19f8e79e582bef107f372f18a074b.tif",
      changing, fs::copy_options::overwrite_existing);
  EXPECT_FALSE(c.BeginAssistant());
  EXPECT_EQ(recorder.Texts(),
            std::vector<std::string>{PictureFailureText(TPictureFailureTexts().Damaged, changing)});
  unchanged();

  // And the window still takes a good picture 2.
  choose("ButtonImage2", picture2);
  EXPECT_EQ(c.RotLayer()->Bitmap()->Width(), 101);
  std::error_code ec;
  fs::remove_all(dir, ec);
}

}  // namespace
}  // namespace overlay
