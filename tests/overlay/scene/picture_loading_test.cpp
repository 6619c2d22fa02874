// Picture loads that tell the user: the import's reason shown once, by the scene; two pictures
// decoded side by side.
#include "overlay/scene/picture_loading.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "overlay/decode/isolated_decode.h"
#include "platform/message.h"
#include "tests/support/temp_folder.h"

namespace overlay {
namespace {

using raster::TBitmap32;

std::string TestFile(const std::string& Name) {
  return std::string(TESSALY_TESTDATA) + "/" + Name;
}

// Every picture the user asked for that does not load is told once, naming the file and why,
// in the order asked; a picture that loads is not told.
TEST(LoadPictureOrTell, EveryFailureIsToldOnceWithTheFileAndItsReason) {
  const testsupport::TTempFolder folder("picture_loading_test");
  const auto write = [&](const std::string& Name, const std::string& Bytes) {
    std::ofstream(folder.File(Name), std::ios::binary) << Bytes;
    return folder.File(Name);
  };
  std::ifstream png(TestFile("formats/png/basn6a08.png"), std::ios::binary);
  const std::string pngBytes{std::istreambuf_iterator<char>(png), {}};
  const std::string pipe = folder.File("pipe.jpg");
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  std::filesystem::create_directory(folder.File("folder.jpg"));
  const TPictureFailureTexts says;
  const std::vector<std::pair<std::string, std::string>> cases = {
      {folder.File("missing.jpg"), says.Missing},
      {folder.File("folder.jpg"), says.NotPicture},
      {pipe, says.NotPicture},  // would block for good if it were opened
      {write("letter.jpg", "Dear colleague,\nplease find attached\n"), says.NotPicture},
      {write("png-named.jpg", pngBytes), says.NotPicture},
      {write("cut.png", pngBytes.substr(0, 60)), says.Damaged},  // a PNG's start, no pixels
      {TestFile("malformed/decompression_bomb.ico"), "Das Bild ist zu groß: 65535 × 32767 Pixel"},
      {TestFile("formats/gif/hopper.gif"), "Unknown file format *.gif"},
  };
  platform::MessageRecorder recorder;
  std::vector<std::string> expected;
  for (const auto& [path, sentence] : cases) {
    EXPECT_EQ(LoadPictureOrTell(path).Picture, nullptr) << path;
    expected.push_back(sentence + "\n\n[" + path + "]");
  }
  EXPECT_NE(LoadPictureOrTell(TestFile("formats/jpeg/hopper.jpg")).Picture, nullptr);
  EXPECT_EQ(recorder.Texts(), expected);

  // Root reads every file; the check of the permission is for everyone else.
  if (::geteuid() != 0) {
    const std::string locked = write("locked.png", pngBytes);
    ::chmod(locked.c_str(), 0);
    EXPECT_EQ(LoadPicture(locked).Reason(), says.CannotRead + "\n\n[" + locked + "]");
  }
}

// Two pictures whose reading keeps the decoder waiting (a file lease, a stalled share) wait side
// by side, not one after the other, and the caller's thread runs WhileWaiting meanwhile. Each
// stand-in decoder notes when it has received its request and then hangs until it is killed.
TEST(LoadPicturesTogether, TwoHangingReadsWaitSideBySide) {
  const testsupport::TTempFolder folder("picture_loading_test");
  const std::string served = folder.File("served"), script = folder.File("hang");
  std::ofstream(script) << "#!/bin/sh\ndd bs=65536 count=1 <&3 >/dev/null 2>&1\necho x >> "
                        << served << "\nexec sleep 600\n";
  std::filesystem::permissions(script, std::filesystem::perms::owner_all);
  const std::string realDecoder = DecoderProgram();
  SetDecoderProgram(script);
  ::setenv("TESSALY_DECODE_TIMEOUT", "3", 1);
  const auto servedCount = [&] {
    std::ifstream in(served);
    return int(std::count(std::istreambuf_iterator<char>(in), {}, '\n'));
  };
  int mostAtOnce = 0, pumps = 0;
  const std::string one = TestFile("formats/jpeg/hopper.jpg"),
                    two = TestFile("formats/png/basn6a08.png");
  const std::vector<TLoadedPictureResult> loaded =
      LoadPicturesTogether({one, two}, TPictureOrientation::AsStored, [&] {
        ++pumps;
        mostAtOnce = std::max(mostAtOnce, servedCount());
      });
  ::unsetenv("TESSALY_DECODE_TIMEOUT");
  SetDecoderProgram(realDecoder);
  EXPECT_EQ(mostAtOnce, 2);
  EXPECT_GT(pumps, 0);
  ASSERT_EQ(loaded.size(), 2u);
  EXPECT_EQ(loaded[0].Reason(), PictureFailureText(TPictureFailureTexts().Damaged, one));
  EXPECT_EQ(loaded[1].Reason(), PictureFailureText(TPictureFailureTexts().Damaged, two));
  // With the real decoder again, both come, each as loaded alone, however the two requests
  // interleave (a spare decoder and the kept memory are shared between them).
  const std::unique_ptr<raster::TBitmap32> alone = LoadPicture(two).Value();
  ASSERT_NE(alone, nullptr);
  for (int round = 0; round < 20; ++round) {
    const std::vector<TLoadedPictureResult> real =
        LoadPicturesTogether({one, two}, TPictureOrientation::AsStored, {});
    ASSERT_TRUE(real[0] && real[1]) << "0:" << real[0].Reason() << " 1:" << real[1].Reason();
    ASSERT_EQ(real[1].Value().Picture->Width(), alone->Width());
    EXPECT_EQ(std::memcmp(real[1].Value().Picture->PixelBuffer(), alone->PixelBuffer(),
                          std::size_t(alone->Width()) * alone->Height() * 4),
              0);
  }
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
  EXPECT_EQ(
      recorder.Texts(),
      (std::vector<std::string>{
          PictureFailureText(TPictureFailureTexts().Damaged, TestFile("malformed/shortfile.bmp")),
          PictureFailureText("Unknown file format *.gif", TestFile("formats/gif/hopper.gif"))}));
  raster::SetPictureDecoder(nullptr);
}

}  // namespace
}  // namespace overlay
