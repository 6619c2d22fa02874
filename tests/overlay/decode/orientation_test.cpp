// Pictures the right way up: the turns and mirrors of the EXIF orientations, the tag's way from
// the decoder process to the import, and the setting that asks for it.
#include "overlay/decode/orientation.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <exiv2/exiv2.hpp>
#include <filesystem>
#include <memory>

#include "overlay/decode/decoder_protocol.h"
#include "overlay/decode/picture_import.h"
#include "overlay/scene/picture_loading.h"

namespace overlay {
namespace {

namespace fs = std::filesystem;
using raster::TBitmap32;

// The upright picture of Stored by the EXIF definition of the tag, written independently of
// ApplyExifOrientation: where the stored 0th row and 0th column lie in the upright picture.
// Upright is W x H; a stored pixel (X, Y) shows at the upright pixel returned.
std::pair<int, int> UprightOf(int Orientation, int X, int Y, int W, int H) {
  if (Orientation < 2 || Orientation > 8) return {X, Y};
  const std::pair<int, int> upright[] = {
      {W - 1 - X, Y},          // 2: row 0 top, column 0 right
      {W - 1 - X, H - 1 - Y},  // 3: row 0 bottom, column 0 right
      {X, H - 1 - Y},          // 4: row 0 bottom, column 0 left
      {Y, X},                  // 5: row 0 left, column 0 top
      {W - 1 - Y, X},          // 6: row 0 right, column 0 top
      {W - 1 - Y, H - 1 - X},  // 7: row 0 right, column 0 bottom
      {Y, H - 1 - X},          // 8: row 0 left, column 0 bottom
  };
  return upright[Orientation - 2];
}

std::unique_ptr<TBitmap32> ExpectedUpright(const TBitmap32& Stored, int Orientation) {
  const bool swap = Orientation >= 5 && Orientation <= 8;
  const int w = swap ? Stored.Height() : Stored.Width();
  const int h = swap ? Stored.Width() : Stored.Height();
  auto upright = std::make_unique<TBitmap32>();
  upright->SetSize(w, h);
  for (int y = 0; y < Stored.Height(); ++y) {
    for (int x = 0; x < Stored.Width(); ++x) {
      const auto [ux, uy] = UprightOf(Orientation, x, y, w, h);
      upright->SetPixel(ux, uy, Stored.GetPixel(x, y));
    }
  }
  return upright;
}

// Pixels compared one by one, with the first difference reported.
::testing::AssertionResult SamePixels(const TBitmap32& A, const TBitmap32& B) {
  if (A.Width() != B.Width() || A.Height() != B.Height()) {
    return ::testing::AssertionFailure()
           << A.Width() << "x" << A.Height() << " vs " << B.Width() << "x" << B.Height();
  }
  for (int y = 0; y < A.Height(); ++y) {
    for (int x = 0; x < A.Width(); ++x) {
      if (A.GetPixel(x, y) != B.GetPixel(x, y)) {
        return ::testing::AssertionFailure() << "pixel (" << x << ", " << y << ") differs";
      }
    }
  }
  return ::testing::AssertionSuccess();
}

TEST(ApplyExifOrientation, MovesEveryPixelOfAnOddSizedBitmapAsTheTagDefines) {
  TBitmap32 stored;
  stored.SetSize(5, 3);
  for (int y = 0; y < 3; ++y) {
    for (int x = 0; x < 5; ++x) stored.SetPixel(x, y, raster::TColor32(0xFF000000u + y * 16 + x));
  }
  for (int orientation = 0; orientation <= 9; ++orientation) {
    TBitmap32 turned;
    turned.Assign(&stored);
    ApplyExifOrientation(turned, orientation);
    EXPECT_TRUE(SamePixels(turned, *ExpectedUpright(stored, orientation)))
        << "orientation " << orientation;
  }
  // A worked value, against a mapping mistaken the same way in both: orientation 6 turns the
  // stored picture clockwise, so its bottom-left pixel becomes the upright top-left one.
  TBitmap32 turned;
  turned.Assign(&stored);
  ApplyExifOrientation(turned, 6);
  EXPECT_EQ(turned.GetPixel(0, 0), stored.GetPixel(0, 2));
  EXPECT_EQ(turned.GetPixel(2, 4), stored.GetPixel(4, 0));
}

class OrientationFiles : public ::testing::Test {
 protected:
  OrientationFiles() {
    Dir = fs::temp_directory_path() / ("tessaly_orientation_" + std::to_string(::getpid()));
    fs::create_directories(Dir);
  }
  ~OrientationFiles() override {
    std::error_code ec;
    fs::remove_all(Dir, ec);
  }
  // A copy of Source whose EXIF orientation tag says Orientation: the same compressed pixels,
  // so the stored picture is the original's exactly.
  std::string Tagged(const std::string& Source, int Orientation) {
    const std::string path = (Dir / ("tagged" + std::to_string(Orientation) + ".jpg")).string();
    fs::copy_file(Source, path, fs::copy_options::overwrite_existing);
    auto image = Exiv2::ImageFactory::open(path);
    image->readMetadata();
    image->exifData()["Exif.Image.Orientation"] = std::uint16_t(Orientation);
    image->writeMetadata();
    return path;
  }
  fs::path Dir;
};

// 59 x 100 pixels: an odd width, so the turns of 5..8 give an odd height.
const std::string Photo = std::string(TESSALY_TESTDATA) + "/photos-exif/Fujifilm_FinePix_E500.jpg";

TEST_F(OrientationFiles, UprightLoadingTurnsByTheFileTagInTheDecoderAndInProcess) {
  const std::unique_ptr<TBitmap32> original = LoadPictureInProcess(Photo).Value();
  ASSERT_NE(original, nullptr);
  ASSERT_EQ(original->Width(), 59);
  for (int orientation = 1; orientation <= 8; ++orientation) {
    SCOPED_TRACE("orientation " + std::to_string(orientation));
    const std::string path = Tagged(Photo, orientation);
    const std::unique_ptr<TBitmap32> expected = ExpectedUpright(*original, orientation);

    const std::unique_ptr<TBitmap32> upright =
        LoadPicture(path, TPictureOrientation::Upright).Value();
    ASSERT_NE(upright, nullptr);
    EXPECT_TRUE(SamePixels(*upright, *expected));
    const std::unique_ptr<TBitmap32> inProcess =
        LoadPictureInProcess(path, TPictureOrientation::Upright).Value();
    ASSERT_NE(inProcess, nullptr);
    EXPECT_TRUE(SamePixels(*inProcess, *expected));
    const std::unique_ptr<TBitmap32> told =
        LoadPictureOrTell(path, TPictureOrientation::Upright).Picture;
    ASSERT_NE(told, nullptr);
    EXPECT_TRUE(SamePixels(*told, *expected));

    // As stored by default: the pixels of the file, untouched.
    const std::unique_ptr<TBitmap32> stored = LoadPicture(path).Value();
    ASSERT_NE(stored, nullptr);
    EXPECT_TRUE(SamePixels(*stored, *original));
  }
}

TEST(DecoderReply, CarriesAnOrientationOnlyForAPictureAndOnlyOneExifDefines) {
  namespace decoder = overlay::decoder;
  const auto parse = [](std::uint32_t Status, std::uint32_t W, std::uint32_t H, std::uint64_t N,
                        std::uint32_t Orientation, decoder::TRequestKind Kind) {
    const std::vector<std::uint8_t> bytes =
        decoder::EncodeReply({decoder::TReplyStatus(Status), W, H, N, Orientation});
    decoder::TReply reply;
    const bool ok = decoder::ParseDecoderReply(bytes.data(), bytes.size(), Kind, 4096, &reply);
    return ok ? int(reply.Orientation) : -1;
  };
  const auto picture = decoder::TRequestKind::DecodePicture;
  const auto jpeg = decoder::TRequestKind::EncodePicture;
  EXPECT_EQ(parse(0, 3, 2, 24, 8, picture), 8);
  EXPECT_EQ(parse(0, 3, 2, 24, 0, picture), 0);
  EXPECT_EQ(parse(0, 3, 2, 24, 9, picture), -1);
  EXPECT_EQ(parse(0, 3, 2, 24, 0x80000001u, picture), -1);
  EXPECT_EQ(parse(0, 0, 0, 100, 6, jpeg), -1);
  EXPECT_EQ(parse(1, 0, 0, 0, 6, picture), -1);
  EXPECT_EQ(parse(2, 65535, 32767, 0, 6, picture), -1);
}

}  // namespace
}  // namespace overlay
