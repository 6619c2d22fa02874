// DICOM photographs through the decoder process: made from the sample photograph by DCMTK's own
// tools, or written with dcmdata where a tool cannot make the case (16 bits, several frames).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "overlay/decode/picture_import.h"
#include "tests/support/dicom_files.h"
#include "tests/support/temp_folder.h"

namespace overlay {
namespace {

using raster::TBitmap32;

// A crop of the sample photograph, as the import decodes it.
std::unique_ptr<TBitmap32> SampleCrop() {
  TPictureResult sample =
      LoadPicture(std::string(TESSALY_SOURCE_DIR) + "/data/sample/NT96650_pcb_002.JPG");
  if (!sample) throw std::runtime_error(sample.Reason());
  auto crop = std::make_unique<TBitmap32>();
  crop->SetSize(200, 150);
  for (int y = 0; y < 150; ++y) {
    for (int x = 0; x < 200; ++x) crop->SetPixel(x, y, sample.Value()->GetPixel(x + 900, y + 600));
  }
  return crop;
}

double MeanDifference(const TBitmap32& A, const TBitmap32& B) {
  double sum = 0;
  for (int y = 0; y < A.Height(); ++y) {
    for (int x = 0; x < A.Width(); ++x) {
      for (int shift : {0, 8, 16}) {
        sum += std::abs(int((A.GetPixel(x, y) >> shift) & 255) -
                        int((B.GetPixel(x, y) >> shift) & 255));
      }
    }
  }
  return sum / (3.0 * A.Width() * A.Height());
}

std::string Grey(int Level) {
  return std::to_string(Level);
}
int GreyOf(raster::TColor32 C) {
  return int(C & 255);
}

// img2dcm's file opens with the very pixels and the spacing and study dcmodify gave it; its
// JPEG baseline copy (dcmcjpeg) opens close to them; the same file without extension opens by
// its preamble; cut short it is a damaged picture; a text named .dcm is not a picture.
TEST(DicomImport, PhotographsMadeByTheToolsOpenAndDamagedOnesAreRefused) {
  const testsupport::TTempFolder folder("dicom_import_test");
  const std::unique_ptr<TBitmap32> crop = SampleCrop();
  const TBitmap32& source = *crop;
  const std::string plain = folder / "photo.dcm";
  testsupport::MakeDicomWithTools(source, plain, "0.05\\0.04", "1.2.826.0.1.3680043.2.1143.7");

  TPictureFacts facts;
  TPictureResult opened = LoadPicture(plain, TPictureOrientation::AsStored, &facts);
  ASSERT_TRUE(opened) << opened.Reason();
  ASSERT_EQ(opened.Value()->Width(), 200);
  ASSERT_EQ(opened.Value()->Height(), 150);
  EXPECT_EQ(MeanDifference(*opened.Value(), source), 0.0);
  EXPECT_EQ(facts.PixelSpacingRow, 0.05);
  EXPECT_EQ(facts.PixelSpacingColumn, 0.04);
  EXPECT_EQ(FactsPp100MM(facts), 2500);  // x by the column spacing
  EXPECT_EQ(facts.StudyInstanceUid, "1.2.826.0.1.3680043.2.1143.7");
  EXPECT_EQ(facts.Frames, 1u);

  const std::string jpeg = folder / "PHOTO_JPEG.DCM";
  testsupport::RunDicomTool("dcmcjpeg +eb " + plain + " " + jpeg);
  opened = LoadPicture(jpeg, TPictureOrientation::AsStored, &facts);
  ASSERT_TRUE(opened) << opened.Reason();
  const double jpegDifference = MeanDifference(*opened.Value(), source);
  EXPECT_GT(jpegDifference, 0.0);  // really recompressed
  EXPECT_LT(jpegDifference, 4.0);
  EXPECT_EQ(facts.PixelSpacingColumn, 0.04);

  const std::string bare = folder / "photo";
  std::filesystem::copy_file(plain, bare);
  EXPECT_TRUE(LoadPicture(bare));

  std::ifstream in(plain, std::ios::binary);
  const std::string bytes{std::istreambuf_iterator<char>(in), {}};
  const std::string cut = folder / "cut.dcm";
  std::ofstream(cut, std::ios::binary) << bytes.substr(0, bytes.size() / 2);
  const TPictureFailureTexts says;
  EXPECT_EQ(LoadPicture(cut).Reason(), PictureFailureText(says.Damaged, cut));
  const std::string letter = folder / "letter.dcm";
  std::ofstream(letter) << "Dear colleague,\nplease find attached\n";
  EXPECT_EQ(LoadPicture(letter).Reason(), PictureFailureText(says.NotPicture, letter));

  const std::vector<std::string> extensions = ImportedExtensions();
  EXPECT_TRUE(std::binary_search(extensions.begin(), extensions.end(), "dcm"));
}

// 16-bit grey: the file's window where it has one (below it black, above it white), else
// spread from the darkest to the brightest pixel; MONOCHROME1 is that the other way round.
TEST(DicomImport, SixteenBitGreyTakesItsWindowOrItsRangeAndMonochrome1IsInverted) {
  const testsupport::TTempFolder folder("dicom_import_test");
  testsupport::TDicomSpec spec;
  spec.Width = 256;
  spec.Height = 2;
  spec.BitsStored = 12;
  for (int y = 0; y < 2; ++y) {
    for (int x = 0; x < 256; ++x) spec.Samples.push_back(std::uint16_t(1000 + 10 * x));
  }
  const auto open = [&](const std::string& Name) {
    testsupport::WriteDicom(spec, folder / Name);
    TPictureResult opened = LoadPicture(folder / Name);
    if (!opened) throw std::runtime_error(opened.Reason());
    return std::move(opened).Value();
  };
  const std::unique_ptr<TBitmap32> rangedPicture = open("range.dcm");
  const TBitmap32& ranged = *rangedPicture;
  // Linear from 1000 (black) to 3550 (white).
  for (int x : {0, 64, 128, 255}) {
    const double expected = 255.0 * (10 * x) / 2550.0;
    EXPECT_NEAR(GreyOf(ranged.GetPixel(x, 1)), expected, 1.0) << x;
  }
  spec.Photometric = "MONOCHROME1";
  const std::unique_ptr<TBitmap32> inverted = open("inverted.dcm");
  for (int x : {0, 64, 128, 255}) {
    EXPECT_NEAR(GreyOf(inverted->GetPixel(x, 1)), 255 - GreyOf(ranged.GetPixel(x, 1)), 1.0) << x;
  }
  spec.Photometric = "MONOCHROME2";
  spec.WindowCenter = Grey(2000);  // 1500 .. 2500
  spec.WindowWidth = Grey(1000);
  const std::unique_ptr<TBitmap32> windowed = open("window.dcm");
  EXPECT_EQ(GreyOf(windowed->GetPixel(10, 0)), 0);            // 1100
  EXPECT_EQ(GreyOf(windowed->GetPixel(200, 0)), 255);         // 3000
  EXPECT_NEAR(GreyOf(windowed->GetPixel(100, 0)), 128, 1.0);  // 2000, the centre
}

// Of several frames the first is shown, and the facts say how many there are.
TEST(DicomImport, AMultiFrameFileGivesItsFirstFrame) {
  const testsupport::TTempFolder folder("dicom_import_test");
  testsupport::TDicomSpec spec;
  spec.Width = 3;
  spec.Height = 2;
  spec.Photometric = "RGB";
  spec.Frames = 3;
  for (std::uint16_t frame = 0; frame < 3; ++frame) {
    for (std::uint16_t i = 0; i < 6; ++i) {
      for (std::uint16_t c = 0; c < 3; ++c)
        spec.Samples.push_back(std::uint16_t(frame * 80 + i * 10 + c));
    }
  }
  testsupport::WriteDicom(spec, folder / "frames.dcm");
  TPictureFacts facts;
  TPictureResult opened = LoadPicture(folder / "frames.dcm", TPictureOrientation::AsStored, &facts);
  ASSERT_TRUE(opened) << opened.Reason();
  EXPECT_EQ(facts.Frames, 3u);
  EXPECT_EQ(opened.Value()->GetPixel(0, 0), raster::Color32(0, 1, 2));
  EXPECT_EQ(opened.Value()->GetPixel(2, 1), raster::Color32(50, 51, 52));
}

}  // namespace
}  // namespace overlay
