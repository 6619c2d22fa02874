#include "overlay/decode/picture_import.h"

#include <FreeImage.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QImage>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "overlay/decode/picture_import_p.h"
#include "platform/message.h"
#include "raster/cpu.h"
#include "tests/support/temp_folder.h"

namespace overlay {
namespace {

using raster::TBitmap32;
using raster::TColor32;

std::string TestData() {
  return TESSALY_TESTDATA;
}
std::string TestFile(const std::string& Name) {
  return TestData() + "/" + Name;
}

// These files crash FreeImage itself (a segmentation fault or heap corruption inside the
// library), which no in-process caller can survive; they stay out of the in-process tests
// (isolated_decode_test takes them through the decoder process).
const std::set<std::string> CrashFreeImage = {
    "malformed/truncated_exif_dpi.jpg",
    "malformed/m2-336db1cd76254717eb50a8602b651fbf.tif",
    "malformed/m10-42c19f8e79e582bef107f372f18a074b.tif",
};

// Extensions of the test files that FreeImage maps to no type the program loads.
const std::set<std::string> UnknownExtensions = {".gif", ".kla", ".im1"};

struct Expectation {
  bool Loads = false;
  int Width = 0;
  int Height = 0;
};

// The manifest's tables give, per file, what FreeImage_Load made of it and the size.
std::map<std::string, Expectation> ReadManifest() {
  std::ifstream file(TestFile("MANIFEST.md"));
  EXPECT_TRUE(file.good());
  std::map<std::string, Expectation> result;
  std::vector<std::string> header;
  std::string line;
  while (std::getline(file, line)) {
    if (line.rfind("|", 0) != 0) {
      header.clear();
      continue;
    }
    std::vector<std::string> cells;
    std::stringstream stream(line.substr(1));
    std::string cell;
    while (std::getline(stream, cell, '|')) {
      const auto first = cell.find_first_not_of(' ');
      const auto last = cell.find_last_not_of(' ');
      cells.push_back(first == std::string::npos ? "" : cell.substr(first, last - first + 1));
    }
    if (header.empty()) {
      header = cells;
      continue;
    }
    if (cells.empty() || cells[0].rfind("---", 0) == 0) continue;
    std::map<std::string, std::string> row;
    for (std::size_t i = 0; i < cells.size() && i < header.size(); ++i) row[header[i]] = cells[i];
    if (!row.count("FreeImage result") || !row.count("dims")) continue;
    Expectation e;
    e.Loads = row["FreeImage result"].rfind("OK", 0) == 0;
    if (e.Loads) {
      const std::string& dims = row["dims"];
      const auto x = dims.find('x');
      e.Width = std::atoi(dims.substr(0, x).c_str());
      e.Height = std::atoi(dims.substr(x + 1).c_str());
    }
    result[row["file"]] = e;
  }
  return result;
}

std::vector<std::string> FilesIn(const std::string& Folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(TestFile(Folder))) {
    if (entry.is_regular_file()) {
      names.push_back(
          std::filesystem::relative(entry.path(), std::filesystem::path(TestData())).string());
    }
  }
  std::sort(names.begin(), names.end());
  return names;
}

int Channel(TColor32 C, int Shift) {
  return int((C >> Shift) & 0xFF);
}

// Compares R, G, B and A within a tolerance.
::testing::AssertionResult Near(TColor32 Actual, TColor32 Expected, int Tolerance) {
  for (int shift : {0, 8, 16, 24}) {
    if (std::abs(Channel(Actual, shift) - Channel(Expected, shift)) > Tolerance) {
      std::stringstream s;
      s << std::hex << "0x" << Actual << " is not within " << std::dec << Tolerance << " of 0x"
        << std::hex << Expected;
      return ::testing::AssertionFailure() << s.str();
    }
  }
  return ::testing::AssertionSuccess();
}

// FreeImage corrects PNG files that carry a gAMA chunk for a display gamma of 2.2; the PngSuite
// files declare a gamma of 1.0. Raw sample values (Max is 255 or 65535) are corrected here the
// same way, and 16-bit results reduced to their high byte.
int PngGamma(int Raw, int Max = 255) {
  const double v = std::pow(double(Raw) / Max, 1.0 / 2.2) * Max;
  return Max == 255 ? int(std::lround(v)) : int(std::lround(v)) >> 8;
}
TColor32 PngColour(int R, int G, int B, int A = 255, int Max = 255) {
  return raster::Color32(std::uint8_t(PngGamma(R, Max)), std::uint8_t(PngGamma(G, Max)),
                         std::uint8_t(PngGamma(B, Max)), std::uint8_t(A));
}

// ---------------------------------------------------------------------------------------

TEST(FileExtension, TakesTheLastDotOfTheFileNameOnly) {
  EXPECT_EQ(FileExtension("/a/b/photo.jpg"), ".jpg");
  EXPECT_EQ(FileExtension("photo.tar.JPG"), ".JPG");
  EXPECT_EQ(FileExtension("/a.b/photo"), "");
  EXPECT_EQ(FileExtension("/a.b/"), "");
  EXPECT_EQ(FileExtension("noext"), "");
  EXPECT_EQ(FileExtension("dir/name."), ".");
  EXPECT_EQ(FileExtension(".hidden"), ".hidden");
}

TEST(LoadPictureInProcess, EveryTestFileGivesAPictureOfItsSizeOrFailsQuietly) {
  const std::map<std::string, Expectation> manifest = ReadManifest();
  ASSERT_GT(manifest.size(), 100u);
  std::vector<std::string> files = FilesIn("formats");
  for (const std::string& name : FilesIn("malformed")) files.push_back(name);
  int loaded = 0;
  for (const std::string& name : files) {
    if (CrashFreeImage.count(name) || name == "malformed/decompression_bomb.ico") continue;
    SCOPED_TRACE(name);
    const auto it = manifest.find(name);
    ASSERT_NE(it, manifest.end());
    platform::MessageRecorder recorder;
    const TPictureResult result = LoadPictureInProcess(TestFile(name));
    const std::unique_ptr<TBitmap32>& picture = result.Value();
    // The import only says why; showing it is its caller's part.
    EXPECT_TRUE(recorder.Texts().empty());
    const std::string extension = FileExtension(name);
    if (UnknownExtensions.count(extension)) {
      EXPECT_EQ(picture, nullptr);
      EXPECT_FALSE(result.Ok());
      EXPECT_EQ(result.Reason(),
                PictureFailureText("Unknown file format *" + extension, TestFile(name)));
      continue;
    }
    if (name == "malformed/reallybig.bmp") {
      // Its header claims 3000000 x 2000000 pixels: refused before FreeImage tries.
      EXPECT_EQ(picture, nullptr);
      EXPECT_EQ(result.Reason(), PictureFailureText("Das Bild ist zu groß: 3000000 × 2000000 Pixel",
                                                    TestFile(name)));
      continue;
    }
    if (!it->second.Loads) {
      EXPECT_EQ(picture, nullptr);
      EXPECT_FALSE(result.Ok());
      // Damaged, or not of the type its extension names: either way the user hears which.
      const TPictureFailureTexts says;
      EXPECT_TRUE(result.Reason() == PictureFailureText(says.Damaged, TestFile(name)) ||
                  result.Reason() == PictureFailureText(says.NotPicture, TestFile(name)))
          << result.Reason();
      continue;
    }
    EXPECT_EQ(result.Reason(), "");
    ASSERT_NE(picture, nullptr);
    ++loaded;
    EXPECT_EQ(picture->Width(), it->second.Width);
    EXPECT_EQ(picture->Height(), it->second.Height);
    // Plausible pixels: a real picture is not a single flat colour. The first page of the
    // multi-page TIFF is one, and broken files may decode to anything.
    if (name == "formats/tiff/multipage.tiff" || name.rfind("malformed/", 0) == 0) continue;
    const TColor32* p = picture->PixelBuffer();
    const std::size_t n = std::size_t(picture->Width()) * std::size_t(picture->Height());
    bool varied = false;
    for (std::size_t i = 1; i < n && !varied; ++i) varied = p[i] != p[0];
    EXPECT_TRUE(varied);
  }
  EXPECT_GT(loaded, 60);
}

// A failure with its reason, for Path.
void ExpectRefused(const std::string& Path, std::string TPictureFailureTexts::*Sentence) {
  const TPictureResult loaded = LoadPicture(Path);
  EXPECT_FALSE(loaded.Ok());
  EXPECT_EQ(loaded.Value(), nullptr);
  EXPECT_EQ(loaded.Reason(), PictureFailureText(TPictureFailureTexts().*Sentence, Path));
}

TEST(LoadPicture, MissingFilesFoldersAndDevicesAreRefusedUnopenedAndShowNothing) {
  platform::MessageRecorder recorder;
  ExpectRefused(TestFile("formats/jpeg/does_not_exist.jpg"), &TPictureFailureTexts::Missing);
  ExpectRefused(TestFile("does_not_exist.gif"), &TPictureFailureTexts::Missing);
  ExpectRefused(TestFile("formats/jpeg"), &TPictureFailureTexts::NotPicture);
  ExpectRefused("", &TPictureFailureTexts::Missing);
  // A device named like a picture is not opened (it would be read without end).
  ExpectRefused("/dev/zero", &TPictureFailureTexts::NotPicture);
  testsupport::TTempFolder folder("picture_import_test");
  const std::string pipe = folder.File("pipe.jpg");
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  ExpectRefused(pipe, &TPictureFailureTexts::NotPicture);  // would block for good if opened
  EXPECT_TRUE(recorder.Texts().empty());
}

TEST(LoadPicture, UnknownTypesShowTheirExtension) {
  platform::MessageRecorder recorder;
  // The manifest is a file without a loader type; a name without a dot shows nothing after *.
  const testsupport::TTempFolder folder("picture_import_test");
  const std::filesystem::path& dir = folder.Path();
  std::filesystem::create_directories(dir / "folder.jpg");
  const std::filesystem::path noDot = dir / "folder.jpg" / "picture";
  std::filesystem::copy_file(TestFile("formats/jpeg/hopper.jpg"), noDot);
  const TPictureResult noType = LoadPicture(noDot.string());
  const TPictureResult manifest = LoadPicture(TestFile("MANIFEST.md"));
  const TPictureResult gif = LoadPicture(TestFile("formats/gif/hopper.gif"));
  EXPECT_EQ(noType.Value(), nullptr);
  EXPECT_EQ(manifest.Value(), nullptr);
  EXPECT_EQ(gif.Value(), nullptr);
  EXPECT_EQ(
      (std::vector<std::string>{noType.Reason(), manifest.Reason(), gif.Reason()}),
      (std::vector<std::string>{
          PictureFailureText("Unknown file format *", noDot.string()),
          PictureFailureText("Unknown file format *.md", TestFile("MANIFEST.md")),
          PictureFailureText("Unknown file format *.gif", TestFile("formats/gif/hopper.gif"))}));
  EXPECT_TRUE(recorder.Texts().empty());
}

TEST(LoadPicture, UpperCaseExtensionsReachFreeImage) {
  platform::MessageRecorder recorder;
  const auto picture = LoadPicture(TestFile("photos-large/NT96650_pcb_002.JPG")).Value();
  ASSERT_NE(picture, nullptr);
  EXPECT_EQ(picture->Width(), 2048);
  EXPECT_EQ(picture->Height(), 1536);
  EXPECT_TRUE(recorder.Texts().empty());
}

// When a photograph was taken comes from its EXIF data through the decoder process; a picture
// without one says nothing.
TEST(LoadPicture, TheDateTakenComesFromTheDecoder) {
  const auto facts = [](const std::string& File) {
    const TLoadedPictureResult loaded = LoadPictureWithFacts(TestFile(File));
    EXPECT_TRUE(loaded) << File;
    return loaded.Value().Facts;
  };
  const std::uint64_t taken = facts("photos-large/NT96650_pcb_004.JPG").DateTaken;
  EXPECT_EQ(taken, 20150606000540u);
  EXPECT_EQ(FormatDateTaken(taken), "2015-06-06 00:05");
  EXPECT_EQ(facts("formats/png/basn2c08.png").DateTaken, 0u);
}

// Lossy by what the file is: a JPEG, a TIFF of JPEG-compressed pixels; not an LZW TIFF or a PNG.
TEST(LoadPicture, ThePicturesLossyCompressionComesFromTheDecoder) {
  for (const auto& [file, lossy] :
       {std::pair("photos-large/NT96650_pcb_004.JPG", TLossyCompression::Jpeg),
        std::pair("formats/tiff/hopper_jpg.tif", TLossyCompression::Jpeg),
        std::pair("formats/tiff/hopper_lzw.tif", TLossyCompression::None),
        std::pair("formats/png/basn2c08.png", TLossyCompression::None)}) {
    const TLoadedPictureResult loaded = LoadPictureWithFacts(TestFile(file));
    ASSERT_TRUE(loaded) << file;
    EXPECT_EQ(loaded.Value().Facts.Lossy, lossy) << file;
  }
}

TEST(ConvertRow24, VectorAndScalarAgreeAtEveryWidthWithoutOverrun) {
  if (!detail::HasSsse3()) GTEST_SKIP() << "no SSSE3 on this processor";
  std::vector<std::uint8_t> row(3 * 64);
  for (std::size_t i = 0; i < row.size(); ++i) row[i] = std::uint8_t(i * 37 + 11);
  for (unsigned width = 0; width <= 64; ++width) {
    // The source is copied to the end of its own block so that a read past the row's last byte
    // is caught by the address sanitizer; the destinations carry guard pixels.
    std::vector<std::uint8_t> src(row.begin(), row.begin() + 3 * width);
    std::vector<std::uint32_t> scalar(width + 4, 0xDEADBEEFu), vector(width + 4, 0xDEADBEEFu);
    detail::ConvertRow24Scalar(src.data(), width, scalar.data());
    detail::ConvertRow24Ssse3(src.data(), width, vector.data());
    for (unsigned x = 0; x < width; ++x) {
      ASSERT_EQ(scalar[x], raster::Color32(src[3 * x + 2], src[3 * x + 1], src[3 * x])) << width;
    }
    ASSERT_EQ(scalar, vector) << width;
    for (unsigned x = width; x < width + 4; ++x) ASSERT_EQ(vector[x], 0xDEADBEEFu) << width;
  }
}

TEST(LoadPictureInProcess, RowBandsOnSeveralThreadsGiveTheSamePixels) {
  platform::MessageRecorder recorder;
  const int saved = raster::RasterThreadCount();
  std::vector<std::unique_ptr<TBitmap32>> pictures;
  // 3.1 million pixels: split over every thread the engine may use.
  for (int threads : {1, 2, 3, 7}) {
    raster::SetRasterThreadCount(threads);
    pictures.push_back(LoadPictureInProcess(TestFile("photos-large/NT96650_pcb_004.JPG")).Value());
    ASSERT_NE(pictures.back(), nullptr);
  }
  raster::SetRasterThreadCount(saved);
  const std::size_t n = 2048 * 1536;
  for (std::size_t i = 1; i < pictures.size(); ++i) {
    ASSERT_EQ(std::memcmp(pictures[0]->PixelBuffer(), pictures[i]->PixelBuffer(), n * 4), 0) << i;
  }
  // Rows at the band borders really are the picture's (top-down), not left-over zeros.
  for (int y : {0, 511, 512, 1023, 1024, 1535}) {
    EXPECT_EQ(pictures[0]->GetPixel(1000, y) >> 24, 0xFFu) << y;
  }
}

TEST(LoadPicture, TheDecompressionBombIsRefusedWithAMessage) {
  platform::MessageRecorder recorder;
  const TPictureResult bomb = LoadPicture(TestFile("malformed/decompression_bomb.ico"));
  EXPECT_EQ(bomb.Value(), nullptr);
  EXPECT_EQ(bomb.Reason().substr(0, bomb.Reason().find('\n')),
            "Das Bild ist zu groß: 65535 × 32767 Pixel");
  EXPECT_TRUE(recorder.Texts().empty());
}

// Reference colours were read with an independent decoder (ImageMagick) when the test was
// written: exact for lossless formats, a tolerance for JPEG decoders.
TEST(LoadPictureInProcess, PixelsMatchAnIndependentDecoder) {
  platform::MessageRecorder recorder;
  struct TPixel {
    int X, Y;
    TColor32 Colour;
  };
  struct TPicture {
    const char* File;
    int Tolerance;  // per channel; 0 for lossless formats
    std::vector<TPixel> Pixels;
  };
  const TPicture pictures[] = {
      // JPEG decoders may differ in chroma upsampling and rounding, most at sharp edges.
      {"formats/jpeg/hopper.jpg",
       12,
       {{0, 0, 0xFF141543u}, {31, 0, 0xFFB49D8Fu}, {100, 20, 0xFF4A71B6u}, {64, 64, 0xFFAD4637u}}},
      {"formats/png/basn2c08.png",
       1,
       {{31, 0, PngColour(255, 255, 224)},
        {5, 3, PngColour(255, 255, 154)},
        {20, 10, PngColour(255, 171, 255)},
        {0, 31, PngColour(31, 31, 31)}}},
      // FreeImage does not gamma-correct palette entries.
      {"formats/png/basn3p08.png",
       0,
       {{5, 3, 0xFF331A00u}, {20, 10, 0xFF00AAAAu}, {31, 31, 0xFFFFFEFFu}}},
      // Top-left and bottom-left origins, raw and run-length encoded. The bottom-left file
      // stores the picture bottom row first: its first stored pixel, B, G, R = 3, 49, 8, is the
      // bottom-left one. (ImageMagick 6 shows this file upside down.)
      {"formats/tga/200x32_rgb_tl_raw.tga",
       0,
       {{0, 0, 0xFF092904u},
        {199, 0, 0xFF5F9A14u},
        {100, 20, 0xFFC0462Fu},
        {199, 31, 0xFF5D8202u}}},
      {"formats/tga/200x32_rgb_bl_rle.tga", 0, {{0, 31, 0xFF083103u}}},
      {"formats/bmp/rgb16-565.bmp", 0, {{126, 0, 0xFF9C9EBDu}, {5, 3, 0xFFF72829u}}},
      {"formats/bmp/rgb16.bmp", 0, {{126, 0, 0xFF9C9CBDu}, {126, 63, 0xFF63637Bu}}},
      // (126, 0) is the last pixel of a row: the tail case.
      {"formats/bmp/rgb24.bmp",
       0,
       {{126, 0, 0xFF9F9FBDu}, {5, 3, 0xFFF32929u}, {126, 63, 0xFF60607Eu}}},
  };
  for (const TPicture& p : pictures) {
    SCOPED_TRACE(p.File);
    const auto picture = LoadPictureInProcess(TestFile(p.File)).Value();
    ASSERT_NE(picture, nullptr);
    for (const TPixel& px : p.Pixels)
      EXPECT_TRUE(Near(picture->GetPixel(px.X, px.Y), px.Colour, p.Tolerance))
          << px.X << "," << px.Y;
  }
  // The two TGA files hold the same picture.
  const auto tga = LoadPictureInProcess(TestFile("formats/tga/200x32_rgb_tl_raw.tga")).Value();
  const auto tgaRle = LoadPictureInProcess(TestFile("formats/tga/200x32_rgb_bl_rle.tga")).Value();
  for (int y = 0; y < 32; ++y) {
    for (int x = 0; x < 200; ++x) ASSERT_EQ(tgaRle->GetPixel(x, y), tga->GetPixel(x, y));
  }
}

TEST(LoadPictureInProcess, OneBitTiffIsBlackAndWhiteThroughItsPalette) {
  platform::MessageRecorder recorder;
  // Min-is-white G4: FreeImage's palette is white, black.
  const auto picture = LoadPictureInProcess(TestFile("formats/tiff/hopper_g4.tif")).Value();
  ASSERT_NE(picture, nullptr);
  EXPECT_EQ(picture->GetPixel(0, 0), 0xFF000000u);
  EXPECT_EQ(picture->GetPixel(31, 0), 0xFFFFFFFFu);
  EXPECT_EQ(picture->GetPixel(20, 10), 0xFF000000u);
  EXPECT_EQ(picture->GetPixel(100, 20), 0xFFFFFFFFu);
  EXPECT_EQ(picture->GetPixel(64, 64), 0xFFFFFFFFu);
  for (int y = 0; y < picture->Height(); ++y) {
    for (int x = 0; x < picture->Width(); ++x) {
      const TColor32 c = picture->GetPixel(x, y);
      ASSERT_TRUE(c == 0xFF000000u || c == 0xFFFFFFFFu) << x << "," << y;
    }
  }
}

TEST(LoadPictureInProcess, EightBitGreyPngThroughItsPalette) {
  platform::MessageRecorder recorder;
  const auto picture = LoadPictureInProcess(TestFile("formats/png/basn0g08.png")).Value();
  ASSERT_NE(picture, nullptr);
  EXPECT_EQ(picture->GetPixel(0, 0), 0xFF000000u);
  EXPECT_TRUE(Near(picture->GetPixel(31, 0), PngColour(31, 31, 31), 1));
  EXPECT_TRUE(Near(picture->GetPixel(5, 3), PngColour(101, 101, 101), 1));
  EXPECT_TRUE(Near(picture->GetPixel(20, 10), PngColour(170, 170, 170), 1));
  EXPECT_TRUE(Near(picture->GetPixel(0, 31), PngColour(28, 28, 28), 1));
  // Grey through the palette: all three channels equal everywhere.
  for (int y = 0; y < 32; ++y) {
    for (int x = 0; x < 32; ++x) {
      const TColor32 c = picture->GetPixel(x, y);
      ASSERT_EQ(c, raster::Gray32(std::uint8_t(c & 0xFF))) << x << "," << y;
    }
  }
}

TEST(LoadPictureInProcess, ThirtyTwoBitPngKeepsItsTransparency) {
  platform::MessageRecorder recorder;
  const auto picture = LoadPictureInProcess(TestFile("formats/png/basn6a08.png")).Value();
  ASSERT_NE(picture, nullptr);
  // Alpha is not gamma-corrected.
  EXPECT_TRUE(Near(picture->GetPixel(0, 0), PngColour(255, 0, 8, 0), 1));
  EXPECT_TRUE(Near(picture->GetPixel(31, 0), PngColour(255, 0, 8, 255), 1));
  EXPECT_TRUE(Near(picture->GetPixel(5, 3), PngColour(255, 95, 8, 41), 1));
  EXPECT_TRUE(Near(picture->GetPixel(20, 10), PngColour(192, 255, 6, 164), 1));
  EXPECT_TRUE(Near(picture->GetPixel(0, 31), PngColour(0, 32, 255, 0), 1));
  EXPECT_TRUE(Near(picture->GetPixel(31, 31), PngColour(0, 32, 255, 255), 1));
  EXPECT_EQ(picture->GetPixel(0, 0) >> 24, 0u);
  EXPECT_EQ(picture->GetPixel(5, 3) >> 24, 41u);
}

// A palette picture with a transparency table keeps its transparency as a 32-bit one does.
// Qt's PNG reader, which expands the table itself, gives every pixel's reference alpha; the
// colour-key picture (24-bit with a tRNS colour) arrives from FreeImage as 32 bits already.
TEST(LoadPictureInProcess, PalettePicturesKeepTheTransparencyOfTheirTable) {
  for (const char* name : {"formats/png/tbbn3p08.png", "formats/png/tbrn2c08.png"}) {
    SCOPED_TRACE(name);
    const auto picture = LoadPictureInProcess(TestFile(name)).Value();
    ASSERT_NE(picture, nullptr);
    const QImage reference =
        QImage(QString::fromStdString(TestFile(name))).convertToFormat(QImage::Format_ARGB32);
    ASSERT_EQ(picture->Width(), reference.width());
    ASSERT_EQ(picture->Height(), reference.height());
    int transparent = 0;
    for (int y = 0; y < reference.height(); ++y) {
      for (int x = 0; x < reference.width(); ++x) {
        const unsigned alpha = picture->GetPixel(x, y) >> 24;
        ASSERT_EQ(alpha, unsigned(qAlpha(reference.pixel(x, y)))) << x << "," << y;
        transparent += alpha == 0;
      }
    }
    EXPECT_GT(transparent, 0);
  }

  // A table shorter than the palette: the entries beyond it are opaque.
  testsupport::TTempFolder folder("picture_import_test");
  FIBITMAP* dib = FreeImage_Allocate(4, 1, 8);
  ASSERT_NE(dib, nullptr);
  RGBQUAD* palette = FreeImage_GetPalette(dib);
  for (int i = 0; i < 4; ++i) palette[i] = {BYTE(10 * i), BYTE(20 * i), BYTE(30 * i), 0};
  BYTE table[2] = {0, 128};
  FreeImage_SetTransparencyTable(dib, table, 2);
  BYTE* row = FreeImage_GetScanLine(dib, 0);
  for (int x = 0; x < 4; ++x) row[x] = BYTE(x);
  const std::string path = folder.File("palette_trns.png");
  ASSERT_TRUE(FreeImage_Save(FIF_PNG, dib, path.c_str(), 0));
  FreeImage_Unload(dib);
  const auto picture = LoadPictureInProcess(path).Value();
  ASSERT_NE(picture, nullptr);
  EXPECT_EQ(picture->GetPixel(0, 0), raster::Color32(0, 0, 0, 0));
  EXPECT_EQ(picture->GetPixel(1, 0), raster::Color32(30, 20, 10, 128));
  EXPECT_EQ(picture->GetPixel(2, 0), raster::Color32(60, 40, 20, 255));
  EXPECT_EQ(picture->GetPixel(3, 0), raster::Color32(90, 60, 30, 255));
}

TEST(LoadPictureInProcess, SixteenBitGreyLooksLikeItsEightBitVersion) {
  platform::MessageRecorder recorder;
  const auto wide = LoadPictureInProcess(TestFile("formats/pnm/hopper_16bit.pgm")).Value();
  const auto narrow = LoadPictureInProcess(TestFile("formats/pnm/hopper_8bit.pgm")).Value();
  ASSERT_NE(wide, nullptr);
  ASSERT_NE(narrow, nullptr);
  ASSERT_EQ(wide->Width(), narrow->Width());
  ASSERT_EQ(wide->Height(), narrow->Height());
  int lo = 255, hi = 0;
  for (int y = 0; y < wide->Height(); ++y) {
    for (int x = 0; x < wide->Width(); ++x) {
      ASSERT_TRUE(Near(wide->GetPixel(x, y), narrow->GetPixel(x, y), 1)) << x << "," << y;
      lo = std::min(lo, Channel(wide->GetPixel(x, y), 0));
      hi = std::max(hi, Channel(wide->GetPixel(x, y), 0));
    }
  }
  EXPECT_LT(lo, 40);
  EXPECT_GT(hi, 200);

  // PngSuite's 16-bit grey gradient, against its raw 16-bit samples.
  const auto png = LoadPictureInProcess(TestFile("formats/png/basn0g16.png")).Value();
  ASSERT_NE(png, nullptr);
  const auto grey16 = [](int V) { return PngColour(V, V, V, 255, 65535); };
  EXPECT_TRUE(Near(png->GetPixel(31, 0), grey16(0xBAFF), 1));
  EXPECT_TRUE(Near(png->GetPixel(5, 3), grey16(0x3300), 1));
  EXPECT_TRUE(Near(png->GetPixel(20, 10), grey16(0xC800), 1));
  EXPECT_TRUE(Near(png->GetPixel(0, 31), grey16(0x3E00), 1));
  EXPECT_TRUE(Near(png->GetPixel(31, 31), grey16(0x00FF), 1));

  // A very dark 16-bit TIFF (samples 336 to 480 of 65535) stays very dark.
  const auto tiff = LoadPictureInProcess(TestFile("formats/tiff/16bit.cropped.tif")).Value();
  ASSERT_NE(tiff, nullptr);
  EXPECT_EQ(tiff->Width(), 64);
  EXPECT_EQ(tiff->GetPixel(0, 0), raster::Gray32(480 >> 8));
  EXPECT_EQ(tiff->GetPixel(63, 63), raster::Gray32(357 >> 8));
}

TEST(LoadPictureInProcess, FortyEightBitColourLooksLikeItsEightBitVersion) {
  platform::MessageRecorder recorder;
  const auto png = LoadPictureInProcess(TestFile("formats/png/basn2c16.png")).Value();
  ASSERT_NE(png, nullptr);
  // Raw 16-bit samples of PngSuite's 48-bit picture.
  const auto rgb16 = [](int R, int G, int B) { return PngColour(R, G, B, 255, 65535); };
  EXPECT_TRUE(Near(png->GetPixel(0, 0), rgb16(0xFFFF, 0xFFFF, 0), 1));
  EXPECT_TRUE(Near(png->GetPixel(31, 0), rgb16(0, 0xFFFF, 0), 1));
  EXPECT_TRUE(Near(png->GetPixel(5, 3), rgb16(0xD6B5, 0xE739, 0), 1));
  EXPECT_TRUE(Near(png->GetPixel(20, 10), rgb16(0x5AD6, 0xAD6B, 0), 1));
  EXPECT_TRUE(Near(png->GetPixel(0, 31), rgb16(0xFFFF, 0, 0), 1));
  EXPECT_TRUE(Near(png->GetPixel(31, 31), rgb16(0, 0, 0xFFFF), 1));

  // 48-bit TIFF (no gamma): the high byte of each 16-bit sample.
  const auto tiff = LoadPictureInProcess(TestFile("formats/tiff/tiff_16bit_RGB.tiff")).Value();
  ASSERT_NE(tiff, nullptr);
  EXPECT_EQ(tiff->Width(), 100);
  EXPECT_EQ(tiff->Height(), 40);
  EXPECT_EQ(tiff->GetPixel(0, 0), 0xFF000000u);
  EXPECT_EQ(tiff->GetPixel(99, 0), raster::Color32(18889 >> 8, 7700 >> 8, 5063 >> 8));
  EXPECT_EQ(tiff->GetPixel(50, 20), raster::Color32(3754 >> 8, 2574 >> 8, 2762 >> 8));
  EXPECT_EQ(tiff->GetPixel(99, 39), raster::Color32(16118 >> 8, 13311 >> 8, 11095 >> 8));
}

TEST(LoadPictureInProcess, SixtyFourBitColourKeepsItsAlpha) {
  testsupport::TTempFolder folder("picture_import_test");
  FIBITMAP* dib = FreeImage_AllocateT(FIT_RGBA16, 3, 2);
  ASSERT_NE(dib, nullptr);
  // Scan line 0 is the bottom row.
  auto* bottom = reinterpret_cast<FIRGBA16*>(FreeImage_GetScanLine(dib, 0));
  auto* top = reinterpret_cast<FIRGBA16*>(FreeImage_GetScanLine(dib, 1));
  top[0] = {0xFFFF, 0x0000, 0x0000, 0xFFFF};
  top[1] = {0x1234, 0x5678, 0x9ABC, 0x0000};
  top[2] = {0x0000, 0x0000, 0xFFFF, 0x8000};
  bottom[0] = {0x00FF, 0xFF00, 0x7F7F, 0xFFFF};
  bottom[1] = bottom[2] = {0, 0, 0, 0x4000};
  const std::string path = folder.File("rgba16.png");
  ASSERT_TRUE(FreeImage_Save(FIF_PNG, dib, path.c_str(), 0));
  FreeImage_Unload(dib);

  platform::MessageRecorder recorder;
  const auto picture = LoadPictureInProcess(path).Value();
  ASSERT_NE(picture, nullptr);
  EXPECT_TRUE(recorder.Texts().empty());
  // Without a gAMA chunk nothing is gamma-corrected: the high byte of every sample.
  EXPECT_EQ(picture->GetPixel(0, 0), 0xFFFF0000u);
  EXPECT_EQ(picture->GetPixel(1, 0), 0x0012569Au);
  EXPECT_EQ(picture->GetPixel(2, 0), 0x800000FFu);
  EXPECT_EQ(picture->GetPixel(0, 1), 0xFF00FF7Fu);
  EXPECT_EQ(picture->GetPixel(2, 1), 0x40000000u);
}

TEST(LoadPictureInProcess, FloatingPointTiffIsScaledToItsRange) {
  testsupport::TTempFolder folder("picture_import_test");
  FIBITMAP* dib = FreeImage_AllocateT(FIT_FLOAT, 4, 1);
  ASSERT_NE(dib, nullptr);
  auto* row = reinterpret_cast<float*>(FreeImage_GetScanLine(dib, 0));
  row[0] = -1.0f;
  row[1] = 0.0f;
  row[2] = 1.0f;
  row[3] = 3.0f;
  const std::string path = folder.File("float.tif");
  ASSERT_TRUE(FreeImage_Save(FIF_TIFF, dib, path.c_str(), 0));
  FreeImage_Unload(dib);

  platform::MessageRecorder recorder;
  const auto picture = LoadPictureInProcess(path).Value();
  ASSERT_NE(picture, nullptr);
  EXPECT_EQ(picture->GetPixel(0, 0), raster::Gray32(0));
  EXPECT_EQ(picture->GetPixel(3, 0), raster::Gray32(255));
  EXPECT_TRUE(Near(picture->GetPixel(2, 0), raster::Gray32(128), 1));
}

}  // namespace
}  // namespace overlay
