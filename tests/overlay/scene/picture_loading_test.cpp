// Picture loads that tell the user: the import's reason shown once, by the scene.
#include "overlay/scene/picture_loading.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/message.h"

namespace overlay {
namespace {

using raster::TBitmap32;

std::string TestFile(const std::string& Name) {
  return std::string(TESSALY_TESTDATA) + "/" + Name;
}

// A picture the user asked for by name gets exactly one message for any failure: the import's
// own reason where it has one, "cannot be loaded" otherwise.
TEST(LoadPictureOrTell, OneMessagePerFailure) {
  platform::MessageRecorder recorder;
  const std::string missing = TestFile("does_not_exist.xyz");
  const std::string bomb = TestFile("malformed/decompression_bomb.ico");
  const std::string gif = TestFile("formats/gif/hopper.gif");
  EXPECT_EQ(LoadPictureOrTell(missing), nullptr);
  EXPECT_EQ(LoadPictureOrTell(bomb), nullptr);
  EXPECT_EQ(LoadPictureOrTell(gif), nullptr);
  EXPECT_NE(LoadPictureOrTell(TestFile("formats/jpeg/hopper.jpg")), nullptr);
  EXPECT_EQ(recorder.Texts(), (std::vector<std::string>{PictureNotLoadedText(missing),
                                                        "Das Bild ist zu groß: 65535 × 32767 Pixel",
                                                        "Unknown file format *.gif"}));
}

// The main window's loads: the import's reason when it has one, and a missing file quietly.
TEST(LoadPictureAndTell, ShowsTheImportsReasonOnly) {
  platform::MessageRecorder recorder;
  EXPECT_EQ(LoadPictureAndTell(TestFile("does_not_exist.jpg")), nullptr);
  EXPECT_EQ(LoadPictureAndTell(TestFile("malformed/decompression_bomb.ico")), nullptr);
  EXPECT_EQ(LoadPictureAndTell(TestFile("formats/gif/hopper.gif")), nullptr);
  EXPECT_EQ(recorder.Texts(), (std::vector<std::string>{"Das Bild ist zu groß: 65535 × 32767 Pixel",
                                                        "Unknown file format *.gif"}));
}

TEST(RegisterPictureDecoder, TBitmap32OpensWhatLoadPictureOpens) {
  platform::MessageRecorder recorder;
  RegisterPictureDecoder();
  TBitmap32 bitmap;
  const std::string png = TestFile("formats/png/basn6a08.png");
  bitmap.LoadFromFile(png);
  const std::unique_ptr<TBitmap32> loaded = LoadPicture(png).Value();
  ASSERT_NE(loaded, nullptr);
  ASSERT_EQ(bitmap.Width(), 32);
  ASSERT_EQ(bitmap.Height(), loaded->Height());
  EXPECT_EQ(std::memcmp(bitmap.PixelBuffer(), loaded->PixelBuffer(), 32 * 32 * 4), 0);
  bitmap.LoadFromFile(TestFile("formats/tga/utc32.tga"));
  EXPECT_EQ(bitmap.Width(), 128);
  EXPECT_THROW(bitmap.LoadFromFile(TestFile("malformed/shortfile.bmp")), raster::EBitmapError);
  EXPECT_THROW(bitmap.LoadFromFile(TestFile("formats/gif/hopper.gif")), raster::EBitmapError);
  EXPECT_EQ(bitmap.Width(), 128);  // unchanged by the failed loads
  EXPECT_EQ(recorder.Texts(), std::vector<std::string>{"Unknown file format *.gif"});
  raster::SetPictureDecoder(nullptr);
}

}  // namespace
}  // namespace overlay
