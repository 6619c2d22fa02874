// DICOM pictures through the decoder process, made by DCMTK's tools or written with dcmdata.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "overlay/decode/picture_import.h"
#include "overlay/decode/picture_import_p.h"
#include "tests/support/dicom_files.h"
#include "tests/support/temp_folder.h"

namespace overlay {
namespace {

using raster::TBitmap32;

// Over the colour bytes of every pixel.
double MeanDifference(const TBitmap32& A, const TBitmap32& B) {
  const auto* a = reinterpret_cast<const std::uint8_t*>(A.PixelBuffer());
  const auto* b = reinterpret_cast<const std::uint8_t*>(B.PixelBuffer());
  double sum = 0;
  for (std::size_t i = 0; i < std::size_t(A.Width()) * A.Height() * 4; ++i) {
    if (i % 4 != 3) sum += std::abs(int(a[i]) - int(b[i]));
  }
  return sum / (3.0 * A.Width() * A.Height());
}

// img2dcm's file opens with the very pixels and the spacing and study dcmodify gave it; its
// JPEG baseline copy (dcmcjpeg) opens close to them, its lossless copies exactly; the same file
// without extension opens by its preamble; cut short it is a damaged picture; a text named .dcm is
// not a picture.
TEST(DicomImport, PhotographsMadeByTheToolsOpenAndDamagedOnesAreRefused) {
  const testsupport::TTempFolder folder("dicom_import_test");
  const std::unique_ptr<TBitmap32> source = testsupport::SampleCrop(200, 150);
  const std::string plain = folder / "photo.dcm";
  testsupport::MakeDicomWithTools(*source, plain, "0.05\\0.04", "1.2.826.0.1.3680043.2.1143.7");

  TLoadedPictureResult opened = LoadPictureWithFacts(plain);
  ASSERT_TRUE(opened) << opened.Reason();
  ASSERT_EQ(opened.Value().Picture->Width(), 200);
  ASSERT_EQ(opened.Value().Picture->Height(), 150);
  EXPECT_EQ(MeanDifference(*opened.Value().Picture, *source), 0.0);
  const TPictureFacts& facts = opened.Value().Facts;
  EXPECT_EQ(facts.PixelSpacingRow, 0.05);
  EXPECT_EQ(facts.PixelSpacingColumn, 0.04);
  EXPECT_EQ(FactsPp100MM(facts), 2500);  // x by the column spacing
  EXPECT_EQ(facts.StudyInstanceUid, "1.2.826.0.1.3680043.2.1143.7");
  EXPECT_EQ(facts.Frames, 1u);

  const std::string jpeg = folder / "PHOTO_JPEG.DCM";
  testsupport::RunDicomTool("dcmcjpeg +eb " + plain + " " + jpeg);
  opened = LoadPictureWithFacts(jpeg);
  ASSERT_TRUE(opened) << opened.Reason();
  const double jpegDifference = MeanDifference(*opened.Value().Picture, *source);
  EXPECT_GT(jpegDifference, 0.0);  // really recompressed
  EXPECT_LT(jpegDifference, 4.0);
  EXPECT_EQ(opened.Value().Facts.PixelSpacingColumn, 0.04);

  // JPEG lossless (process 14, selection value 1) and JPEG-LS lossless give the pixels exactly.
  for (const std::string tool : {"dcmcjpeg +e1", "dcmcjpls"}) {
    const std::string lossless = folder / "lossless.dcm";
    std::filesystem::remove(lossless);
    testsupport::RunDicomTool(tool + " " + plain + " " + lossless);
    const TPictureResult exact = LoadPicture(lossless);
    ASSERT_TRUE(exact) << tool << ": " << exact.Reason();
    EXPECT_EQ(MeanDifference(*exact.Value(), *source), 0.0) << tool;
  }

  std::filesystem::copy_file(plain, folder / "photo");
  EXPECT_TRUE(LoadPicture(folder / "photo"));
  std::ifstream in(plain, std::ios::binary);
  const std::string bytes{std::istreambuf_iterator<char>(in), {}};
  const std::string cut = folder / "cut.dcm", letter = folder / "letter.dcm";
  std::ofstream(cut, std::ios::binary) << bytes.substr(0, bytes.size() / 2);
  std::ofstream(letter) << "Dear colleague,\nplease find attached\n";
  const TPictureFailureTexts says;
  EXPECT_EQ(LoadPicture(cut).Reason(), PictureFailureText(says.Damaged, cut));
  // A TEM marker (0xFF01) after the JPEG's APP0 segment kept the toolkit's scan for the bit
  // depth going for ever, until the decoder was killed: refused as damaged at once.
  {
    std::ifstream jpegIn(jpeg, std::ios::binary);
    std::string tem{std::istreambuf_iterator<char>(jpegIn), {}};
    const std::size_t soi = tem.find("\xFF\xD8\xFF\xE0");
    ASSERT_NE(soi, std::string::npos);
    const std::size_t next =
        soi + 4 + ((std::uint8_t(tem[soi + 4]) << 8) | std::uint8_t(tem[soi + 5]));
    ASSERT_EQ(std::uint8_t(tem[next]), 0xFF);
    tem[next + 1] = '\x01';
    const std::string temFile = folder / "tem.dcm";
    std::ofstream(temFile, std::ios::binary) << tem;
    EXPECT_EQ(LoadPicture(temFile).Reason(), PictureFailureText(says.Damaged, temFile));
  }
  EXPECT_EQ(LoadPicture(letter).Reason(), PictureFailureText(says.NotPicture, letter));
  const std::vector<std::string> extensions = ImportedExtensions();  // the open dialog's
  EXPECT_TRUE(std::binary_search(extensions.begin(), extensions.end(), "dcm"));
}

// The JPEG fragments the toolkit's bit-depth scan would never get past (a TEM marker before the
// frame header, or anywhere in a fragment without one) are told apart from sound ones.
TEST(DicomImport, AJpegFragmentWithATemMarkerBeforeItsFrameHeaderIsRefused) {
  const struct {
    std::vector<std::uint8_t> Bytes;
    bool Readable;
  } cases[] = {
      {{0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x04, 0x4A, 0x46, 0xFF, 0xC0, 0x00, 0x0B, 0x08}, true},
      {{0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x04, 0x4A, 0x46, 0xFF, 0x01, 0x55, 0x53}, false},
      // After the frame header the scan has stopped: a TEM in the data does no harm.
      {{0xFF, 0xD8, 0xFF, 0xFF, 0xC0, 0x00, 0x0B, 0x08, 0xFF, 0x01}, true},
      // No frame header: the scan reads on into the data, where a TEM stops it for ever.
      {{0xFF, 0xD8, 0xFF, 0xDA, 0x00, 0x02, 0x12, 0xFF, 0x01, 0x00}, false},
      {{0x12, 0x34, 0xFF, 0x01}, false},
      {{0xFF, 0xD8, 0xFF, 0xD0, 0xFF, 0xD9}, true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(detail::JpegHeaderReadable(c.Bytes.data(), std::uint32_t(c.Bytes.size())),
              c.Readable);
  }
}

// What the decoder says of a DICOM picture besides its pixels: its patient as stored (in UTF-8
// from its own character set), the spacing in the patient's plane and where it came from (the
// detector's Imager Pixel Spacing only through the magnification), and whether its pixels went
// through a lossy compression (by the transfer syntax, or by the file's own record of one).
TEST(DicomImport, FactsCarryThePatientTheSpacingsSourceAndLossyCompression) {
  const testsupport::TTempFolder folder("dicom_import_test");
  const std::string plain = folder / "plain.dcm";
  testsupport::MakeDicomWithTools(*testsupport::SampleCrop(64, 48), plain, "0.7\\0.7", "1.2.3");
  testsupport::RunDicomTool(
      "dcmodify -nb -i \"(0008,0005)=ISO_IR 100\" -i \"(0010,0010)=M\xFCller^J\xFCrgen\" "
      "-i \"(0010,0020)=P-4711\" -i \"(0010,0030)=19640812\" " +
      plain);
  using S = TSpacingSource;
  using L = TLossyCompression;
  struct TCase {
    std::string Make;  // a tool's arguments before "<plain> <file>", or dcmodify's
    double Spacing;
    S Source;
    L Lossy;
  } cases[] = {
      {"", 0.7, S::PixelSpacing, L::None},
      {"dcmcjpeg +eb", 0.7, S::PixelSpacing, L::Jpeg},
      {"dcmcjpeg +e1", 0.7, S::PixelSpacing, L::None},
      {"dcmcjpls +en", 0.7, S::PixelSpacing, L::JpegLs},
      {"dcmodify -nb -i \"(0028,2110)=01\" -i \"(0028,2114)=ISO_15444_1\"", 0.7, S::PixelSpacing,
       L::Jpeg2000},
      {"dcmodify -nb -e \"(0028,0030)\" -i \"(0018,1164)=0.2\\0.2\"", 0, S::DetectorOnly, L::None},
      {"dcmodify -nb -e \"(0028,0030)\" -i \"(0018,1164)=0.2\\0.2\" -i \"(0018,1114)=1.25\"", 0.16,
       S::MagnifiedImagerSpacing, L::None},
      {"dcmodify -nb -i \"(0018,1164)=0.2\\0.2\"", 0.7, S::PixelSpacing, L::None},
  };
  int n = 0;
  for (const TCase& c : cases) {
    const std::string file = folder / ("case" + std::to_string(++n) + ".dcm");
    if (c.Make.rfind("dcmodify", 0) == 0) {
      std::filesystem::copy_file(plain, file);
      testsupport::RunDicomTool(c.Make + " " + file);
    } else if (!c.Make.empty()) {
      testsupport::RunDicomTool(c.Make + " " + plain + " " + file);
    } else {
      std::filesystem::copy_file(plain, file);
    }
    const TLoadedPictureResult opened = LoadPictureWithFacts(file);
    ASSERT_TRUE(opened) << c.Make << ": " << opened.Reason();
    const TPictureFacts& facts = opened.Value().Facts;
    EXPECT_EQ(facts.PatientName, "Müller^Jürgen") << c.Make;
    EXPECT_EQ(facts.PatientId, "P-4711") << c.Make;
    EXPECT_EQ(facts.PatientBirthDate, "19640812") << c.Make;
    EXPECT_DOUBLE_EQ(facts.PixelSpacingColumn, c.Spacing) << c.Make;
    EXPECT_EQ(facts.SpacingSource, c.Source) << c.Make;
    EXPECT_EQ(facts.Lossy, c.Lossy) << c.Make;
  }
  // A photograph is lossy by what it is: a JPEG by any of its extensions; a PNG is not.
  const std::string sample = std::string(TESSALY_SOURCE_DIR) + "/data/sample/NT96650_pcb_002.JPG";
  std::filesystem::copy_file(sample, folder / "photo.jpe");
  const TLoadedPictureResult photo = LoadPictureWithFacts(folder / "photo.jpe");
  ASSERT_TRUE(photo);
  const TPictureFacts& facts = photo.Value().Facts;
  EXPECT_EQ(facts.Lossy, L::Jpeg);
  EXPECT_EQ(facts.SpacingSource, S::None);
}

// 12 bits in 16: spread from the darkest to the brightest pixel without a window, the other way
// round for MONOCHROME1, and with a window black below it and white above it.
TEST(DicomImport, SixteenBitGreyTakesItsWindowOrItsRangeAndMonochrome1IsInverted) {
  const testsupport::TTempFolder folder("dicom_import_test");
  std::vector<std::uint16_t> samples;
  for (int x = 0; x < 256; ++x) samples.push_back(std::uint16_t(1000 + 10 * x));
  const auto open = [&](const std::string& Photometric,
                        const std::vector<std::pair<DcmTagKey, std::string>>& Window) {
    testsupport::WriteDicom(folder / "grey.dcm", 256, 1, Photometric, 12, samples, Window);
    TPictureResult opened = LoadPicture(folder / "grey.dcm");
    if (!opened) throw std::runtime_error(opened.Reason());
    return std::move(opened).Value();
  };
  const auto ranged = open("MONOCHROME2", {});
  const auto inverted = open("MONOCHROME1", {});
  for (int x : {0, 64, 128, 255}) {
    const double expected = 255.0 * (10 * x) / 2550.0;  // 1000 black, 3550 white
    EXPECT_NEAR(int(ranged->GetPixel(x, 0) & 255), expected, 1.0) << x;
    EXPECT_NEAR(int(inverted->GetPixel(x, 0) & 255), 255 - expected, 1.0) << x;
  }
  const auto windowed =
      open("MONOCHROME2", {{DCM_WindowCenter, "2000"}, {DCM_WindowWidth, "1000"}});
  EXPECT_EQ(windowed->GetPixel(10, 0) & 255, 0u);                // 1100
  EXPECT_EQ(windowed->GetPixel(200, 0) & 255, 255u);             // 3000
  EXPECT_NEAR(int(windowed->GetPixel(100, 0) & 255), 128, 1.0);  // 2000, the centre
}

}  // namespace
}  // namespace overlay
