#include "overlay/output/export_aligned.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "overlay/decode/picture_import.h"
#include "overlay/scene/overlay_scene.h"
#include "platform/file_write.h"
#include "tests/support/png_chunks.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_pictures.h"

namespace overlay {
namespace {

using raster::TBitmap32;
using raster::TColor32;
using testsupport::NamedNumber;
using testsupport::PngChunks;

constexpr TColor32 Rgb = 0x00FFFFFFu;

const TExportTexts Texts{"nothing", "unknown format", "not encoded", "not written"};

// Picture 1 (200 x 150, even, so that a view of its size plus the scroll bars shows it 1:1 at
// the origin) and picture 2 placed between the slider steps.
struct TPair {
  TBitmap32 One, Two;
  TPrecisePlacement Placement{17.3, 1.23, 50.5, 45.25};  // inside picture 1
  TPair() {
    testsupport::FillPattern(One, 200, 150, 3);
    testsupport::FillPattern(Two, 101, 60, 11);
  }
};

std::string ReadFile(const std::string& Path) {
  std::ifstream in(Path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The exported difference is the view's own difference view at zoom 1, pixel for pixel, over
// the part the overlay covers whole, and black elsewhere; also with colour matching on (a
// darker picture 2, brightened as the view brightens it). The covered part has the area of
// picture 2's pixel centres at its zoom, less at most a pixel band along its edges.
TEST(ExportAligned, TheDifferenceIsTheViewsDifferenceViewAtZoomOne) {
  for (const bool matched : {false, true}) {
    SCOPED_TRACE(matched ? "colours matched" : "as loaded");
    TPair pair;
    if (matched) {
      for (std::int32_t y = 0; y < pair.Two.Height(); ++y) {
        for (std::int32_t x = 0; x < pair.Two.Width(); ++x) {
          const TColor32 c = pair.One.GetPixel(x + 40, y + 30);
          const auto dim = [](int V) { return V * 3 / 4 + 10; };
          pair.Two.SetPixel(
              x, y,
              raster::Color32(dim(raster::RedComponent(c)), dim(raster::GreenComponent(c)),
                              dim(raster::BlueComponent(c))));
        }
      }
    }
    TOverlayScene scene(200 + 17, 150 + 17);
    scene.LoadImage1(pair.One);
    scene.LoadImage2(pair.Two);
    TMainController& c = scene.Controller();
    c.PlacePrecisely(pair.Placement);
    c.SetColourMatch(matched);
    if (matched) {
      ASSERT_TRUE(c.ColourMatch().Fitted && !c.ColourMatch().Luts.IsIdentity());
    }
    c.SetDifferenceView(true);
    const std::unique_ptr<TBitmap32> view = scene.RenderViewport();
    ASSERT_EQ(view->Width(), 200);
    ASSERT_EQ(view->Height(), 150);

    const std::unique_ptr<TBitmap32> aligned = AlignedPicture(c.ImgView().Bitmap(), *c.RotLayer());
    const std::unique_ptr<TBitmap32> difference = DifferencePicture(pair.One, *aligned);
    int covered = 0, mismatched = 0, blackOutside = 0;
    for (std::int32_t y = 0; y < 150; ++y) {
      for (std::int32_t x = 0; x < 200; ++x) {
        const TColor32 d = difference->GetPixel(x, y) & Rgb;
        if ((aligned->GetPixel(x, y) >> 24) == 255) {
          ++covered;
          if (d != (view->GetPixel(x, y) & Rgb)) ++mismatched;
        } else if (d == 0) {
          ++blackOutside;
        }
      }
    }
    EXPECT_EQ(mismatched, 0);
    EXPECT_EQ(blackOutside, 200 * 150 - covered);
    // The bilinear samples lie whole inside picture 2 between its first and last pixel centres.
    const double w = 100 * pair.Placement.Zoom, h = 59 * pair.Placement.Zoom;
    EXPECT_LE(covered, w * h);
    EXPECT_GE(covered, (w - 2) * (h - 2));

    // Drawn by the layer itself (a tool's export, no copy of picture 2), with a checkerboard
    // region that the aligned picture ignores: the same to the bit, and the layer as it was.
    c.SetChecker(true);
    const raster::TPaintRegion region = c.RotLayer()->PaintRegion();
    const auto mode = c.RotLayer()->Bitmap()->DrawMode();
    const std::unique_ptr<TBitmap32> inPlace =
        AlignedPictureInPlace(c.ImgView().Bitmap(), *c.RotLayer());
    int differing = 0;
    for (std::int32_t y = 0; y < 150; ++y) {
      for (std::int32_t x = 0; x < 200; ++x) {
        differing += inPlace->GetPixel(x, y) != aligned->GetPixel(x, y);
      }
    }
    EXPECT_EQ(differing, 0);
    EXPECT_EQ(c.RotLayer()->PaintRegion(), region);
    EXPECT_EQ(c.RotLayer()->Bitmap()->DrawMode(), mode);
    EXPECT_EQ(region.Kind, raster::TPaintRegion::prChecker);

    // Side by side: picture 1, then the aligned picture.
    const std::unique_ptr<TBitmap32> side = SideBySidePicture(pair.One, *aligned);
    ASSERT_EQ(side->Width(), 400);
    EXPECT_EQ(side->GetPixel(37, 80), pair.One.GetPixel(37, 80));
    EXPECT_EQ(side->GetPixel(200 + 81, 40), aligned->GetPixel(81, 40));
  }
}

// The PNG carries picture 1's scale as pHYs in pixels per metre and the placement as a text that
// reads back to the very numbers, and nothing of either original; the file is the user's alone.
// Without a known scale there is no pHYs at all.
TEST(ExportAligned, ThePngCarriesTheScaleAndThePlacementExactly) {
  TPair pair;
  TOverlayScene scene(400, 300);
  scene.LoadImage1(pair.One);
  scene.LoadImage2(pair.Two);
  scene.Controller().PlacePrecisely(pair.Placement);
  const testsupport::TTempFolder dir("tessaly_export");
  const std::string path = dir / "aligned.png";
  ASSERT_TRUE(ExportComparison(scene.Controller(), TExportKind::Aligned, path, 734, Texts));

  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  const std::map<std::string, std::string> chunks = PngChunks(ReadFile(path));
  ASSERT_EQ(chunks.count("pHYs"), 1u);
  // 7340 pixels per metre both ways (0x00001CAC), unit 1: the metre.
  EXPECT_EQ(chunks.at("pHYs"), std::string("\0\0\x1c\xac\0\0\x1c\xac\x01", 9));
  const std::string text = testsupport::PngText(chunks, "Placement");
  ASSERT_FALSE(text.empty());
  const TPrecisePlacement placed = scene.Controller().Placement();
  EXPECT_EQ(NamedNumber(text, "angle"), placed.Angle);
  EXPECT_EQ(NamedNumber(text, "zoom"), placed.Zoom);
  EXPECT_EQ(NamedNumber(text, "x"), 50.5);
  EXPECT_EQ(NamedNumber(text, "y"), 45.25);
  EXPECT_EQ(chunks.count("eXIf"), 0u);
  EXPECT_EQ(chunks.count("iCCP"), 0u);

  // The pixels are the aligned picture's colours.
  const std::unique_ptr<TBitmap32> read = LoadPicture(path).Value();
  ASSERT_NE(read, nullptr);
  const std::unique_ptr<TBitmap32> aligned =
      AlignedPicture(scene.Controller().ImgView().Bitmap(), *scene.Controller().RotLayer());
  ASSERT_EQ(read->Width(), 200);
  ASSERT_EQ(read->Height(), 150);
  int differing = 0;
  for (std::int32_t y = 0; y < 150; ++y) {
    for (std::int32_t x = 0; x < 200; ++x) {
      differing += (read->GetPixel(x, y) & Rgb) != (aligned->GetPixel(x, y) & Rgb);
    }
  }
  EXPECT_EQ(differing, 0);

  ASSERT_TRUE(ExportComparison(scene.Controller(), TExportKind::Difference, path, 0, Texts));
  EXPECT_EQ(PngChunks(ReadFile(path)).count("pHYs"), 0u);
}

// The format goes by the extension in any case; any other extension, or none, is refused with
// its reason before anything is written, and so is an export without both pictures.
TEST(ExportAligned, TheFormatGoesByTheExtensionInAnyCase) {
  TPair pair;
  TOverlayScene scene(400, 300);
  scene.LoadImage1(pair.One);
  const testsupport::TTempFolder dir("tessaly_export");
  const platform::TStatus early =
      ExportComparison(scene.Controller(), TExportKind::Aligned, dir / "a.png", 0, Texts);
  EXPECT_FALSE(early);
  EXPECT_EQ(early.Reason(), "nothing");
  scene.LoadImage2(pair.Two);
  const std::map<std::string, std::string> magic{{"a.PNG", "\x89PNG"},
                                                 {"b.Tif", "II*"},
                                                 {"c.tiff", "II*"},
                                                 {"d.JPG", "\xff\xd8\xff"},
                                                 {"e.jpeg", "\xff\xd8\xff"}};
  for (const auto& entry : magic) {
    SCOPED_TRACE(entry.first);
    ASSERT_TRUE(
        ExportComparison(scene.Controller(), TExportKind::Side, dir / entry.first, 500, Texts));
    EXPECT_EQ(ReadFile(dir / entry.first).substr(0, entry.second.size()), entry.second);
  }
  for (const char* name : {"f.gif", "g", "h.png.bak", "png"}) {
    SCOPED_TRACE(name);
    const platform::TStatus refused =
        ExportComparison(scene.Controller(), TExportKind::Aligned, dir / name, 0, Texts);
    EXPECT_FALSE(refused);
    EXPECT_EQ(refused.Reason(), "unknown format\n" + (dir / name));
    EXPECT_FALSE(std::filesystem::exists(dir / name));
  }
}

}  // namespace
}  // namespace overlay
