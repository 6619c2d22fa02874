#include "launcher/exifreader/exif_reader.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <exiv2/exiv2.hpp>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/temp_folder.h"

namespace {

namespace fs = std::filesystem;

const fs::path TestData = TESSALY_TESTDATA;

// The text ReadExifTag leaves in a buffer that was full of 'x' before, after checking that it
// is terminated within the buffer.
std::string Read(const std::string& Path, int Tag, int* Result = nullptr) {
  char Buffer[ExifBufferSize];
  std::memset(Buffer, 'x', sizeof Buffer);
  const int Found = ReadExifTag(Path.c_str(), Tag, Buffer);
  if (Result != nullptr) *Result = Found;
  const void* End = std::memchr(Buffer, '\0', sizeof Buffer);
  EXPECT_NE(End, nullptr) << Path << " tag " << Tag << ": no terminating zero";
  if (End == nullptr) return {};
  const std::string Text(Buffer);
  EXPECT_EQ(Found, Text.empty() ? 0 : 1) << Path << " tag " << Tag;
  return Text;
}

struct TPhoto {
  const char* File;
  const char* Model;
  const char* PixelXDimension;
  const char* FocalLength;
};

// The values as stored in the photos; "" where the photo has no such tag.
const TPhoto Photos[] = {
    {"Canon_40D.jpg", "Canon EOS 40D", "100", "135/1"},
    {"Nikon_D70.jpg", "NIKON D70", "100", "100/1"},
    {"Pentax_K10D.jpg", "PENTAX K10D        ", "100", "9000/100"},
    {"Fujifilm_FinePix_E500.jpg", "FinePix E500   ", "59", "470/100"},
    {"Konica_Minolta_DiMAGE_Z3.jpg", "DiMAGE Z3", "70", "384000/65536"},
    {"Kodak_CX7530.jpg", "KODAK CX7530 ZOOM DIGITAL CAMERA", "100", "84/5"},
    {"Olympus_C8080WZ.jpg", "C8080WZ", "100", "158/10"},
    {"Panasonic_DMC-FZ30.jpg", "DMC-FZ30", "100", "141/10"},
    {"Sony_HDR-HC3.jpg", "HDR-HC3", "100", "51/10"},
    {"Samsung_Digimax_i50_MP3.jpg", "<Digimax i50 MP3, Samsung #1 MP3>", "100", "66/10"},
    {"Ricoh_Caplio_RR330.jpg", "RR330      ", "100", ""},
    {"kodak-dc210.jpg", "DC210 Zoom (V05.00)", "", "44/10"},
    {"canon-ixus.jpg", "Canon DIGITAL IXUS", "640", "346/32"},
    {"Canon_PowerShot_S40.jpg", "Canon PowerShot S40", "2272", "682/32"},
    {"Canon_40D_photoshop_import.jpg", "", "100", ""},
    {"exif-72dpi-int.jpg", "", "500", ""},
};

TEST(ExifReader, PhotosGiveTheirStoredValues) {
  ASSERT_EQ(std::distance(fs::directory_iterator(TestData / "photos-exif"), {}),
            static_cast<std::ptrdiff_t>(std::size(Photos)));
  for (const TPhoto& Photo : Photos) {
    SCOPED_TRACE(Photo.File);
    const std::string Path = (TestData / "photos-exif" / Photo.File).string();
    EXPECT_EQ(Read(Path, ExifTagModel), Photo.Model);
    EXPECT_EQ(Read(Path, ExifTagPixelXDimension), Photo.PixelXDimension);
    EXPECT_EQ(Read(Path, ExifTagFocalLength), Photo.FocalLength);
  }
}

TEST(ExifReader, OtherTagsComeFromTheMainAndExifIfdsOnly) {
  // Make (IFD0, ASCII with a padding blank) and FocalLengthIn35mmFilm (Exif IFD, SHORT).
  EXPECT_EQ(Read((TestData / "photos-large/NT96650_pcb_002.JPG").string(), 271), "MAKER NAME ");
  EXPECT_EQ(Read((TestData / "photos-large/Pixel_6_Pro_UltraHDR_01.jpg").string(), 41989), "24");

  // The thumbnail's offset lives only in IFD1, so it is not found.
  const std::string Path = (TestData / "photos-exif/Canon_40D.jpg").string();
  auto Image = Exiv2::ImageFactory::open(Path);
  Image->readMetadata();
  ASSERT_NE(Image->exifData().findKey(Exiv2::ExifKey("Exif.Thumbnail.JPEGInterchangeFormat")),
            Image->exifData().end());
  EXPECT_EQ(Read(Path, 513), "");
}

TEST(ExifReader, DamagedAndOtherPicturesGiveTerminatedTexts) {
  std::vector<fs::path> Files;
  for (const char* Folder : {"malformed", "formats"}) {
    for (const auto& Entry : fs::recursive_directory_iterator(TestData / Folder)) {
      if (Entry.is_regular_file()) Files.push_back(Entry.path());
    }
  }
  ASSERT_GE(Files.size(), 100u);
  std::sort(Files.begin(), Files.end());
  for (const fs::path& File : Files) {
    for (int Tag : {ExifTagModel, ExifTagPixelXDimension, ExifTagFocalLength}) {
      EXPECT_LE(Read(File.string(), Tag).size(), static_cast<std::size_t>(ExifBufferSize - 1))
          << File;
    }
  }
}

TEST(ExifReader, UnreadablePathsGiveEmptyText) {
  testsupport::TTempFolder Dir("tessaly_exifreader");
  int Result = -1;
  EXPECT_EQ(Read(Dir / "missing.jpg", ExifTagModel, &Result), "");
  EXPECT_EQ(Result, 0);
  EXPECT_EQ(Read("", ExifTagModel), "");
  EXPECT_EQ(Read(Dir / "", ExifTagModel), "");

  char Buffer[ExifBufferSize];
  std::memset(Buffer, 'x', sizeof Buffer);
  EXPECT_EQ(ReadExifTag(nullptr, ExifTagModel, Buffer), 0);
  EXPECT_EQ(Buffer[0], '\0');
  EXPECT_EQ(ReadExifTag((TestData / "photos-exif/Canon_40D.jpg").c_str(), ExifTagModel, nullptr),
            0);

  // A path is a file name only: a "data://" path, which exiv2 would decode into the picture,
  // names no file here.
  std::ifstream In(TestData / "photos-exif/Canon_40D.jpg", std::ios::binary);
  const std::string Jpeg{std::istreambuf_iterator<char>(In), {}};
  std::string Base64(Jpeg.size() * 4 / 3 + 8, '\0');
  ASSERT_EQ(Exiv2::base64encode(Jpeg.data(), Jpeg.size(), Base64.data(), Base64.size()), 1);
  EXPECT_EQ(Read("data://image/jpeg;base64," + std::string(Base64.c_str()), ExifTagModel), "");
}

// The picture's own width, which a scaled copy's PixelXDimension may not tell.
TEST(ExifReader, PictureWidthIsThatOfTheImageDataNotOfTheExifData) {
  EXPECT_EQ(ReadPictureWidth((TestData / "photos-exif/Canon_PowerShot_S40.jpg").c_str()), 480);
  EXPECT_EQ(ReadPictureWidth((TestData / "photos-exif/Fujifilm_FinePix_E500.jpg").c_str()), 59);
  EXPECT_EQ(ReadPictureWidth((TestData / "formats/png/basn2c08.png").c_str()), 32);
  testsupport::TTempFolder Dir("tessaly_exifreader");
  std::ofstream(Dir / "text.jpg") << "no picture";
  for (const std::string& Path : {Dir / "text.jpg", Dir / "missing.jpg", Dir / "", std::string()})
    EXPECT_EQ(ReadPictureWidth(Path.c_str()), -1) << Path;
  EXPECT_EQ(ReadPictureWidth(nullptr), -1);
}

TEST(ExifReader, LongValueIsCutToTheBuffer) {
  testsupport::TTempFolder Dir("tessaly_exifreader");
  const std::string Path = Dir / "long_model.jpg";
  fs::copy_file(TestData / "photos-exif/Canon_40D.jpg", Path);
  std::string Model;
  for (int i = 0; Model.size() < 3000; ++i) Model += std::to_string(i) + ' ';
  {
    auto Image = Exiv2::ImageFactory::open(Path);
    Image->readMetadata();
    Image->exifData()["Exif.Image.Model"] = Model;
    Image->writeMetadata();
  }
  int Result = 0;
  EXPECT_EQ(Read(Path, ExifTagModel, &Result), Model.substr(0, ExifBufferSize - 1));
  EXPECT_EQ(Result, 1);
}

}  // namespace
