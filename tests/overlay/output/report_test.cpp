// The report without a window: the full-resolution capture against picture 1's own pixels, and
// the page's placeholders against texts that try to break out of them.
#include "overlay/output/report.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "overlay/base/texts.h"
#include "overlay/scene/main_controller.h"
#include "overlay/scene/overlay_scene.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_pictures.h"

namespace overlay {
namespace {

using raster::TBitmap32;

// The scene's two pictures: a pattern each, so that a pixel out of place shows.
void LoadPair(TOverlayScene& Scene, int W, int H) {
  TBitmap32 one, two;
  testsupport::FillPattern(one, W, H, 1);
  testsupport::FillPattern(two, W / 2, H / 2, 9);
  Scene.Controller().SetImage1("one.png", one);
  Scene.Controller().SetImage2("two.png", two);
}

TEST(FullResolutionCapture, IsPicture1PixelForPixelWhereTheOverlayIsTransparent) {
  TOverlayScene scene(400, 300);  // a view much smaller than the picture, zoomed out
  LoadPair(scene, 1203, 807);
  scene.SetViewZoom(-40);
  scene.SetOffsetX(37);

  TBitmap32 picture1;
  picture1.Assign(&scene.View().Bitmap());
  for (const raster::TRect part : {raster::TRect{0, 0, 1203, 807}, raster::TRect{101, 57, 640, 700},
                                   VisiblePicturePart(scene.Controller())}) {
    SCOPED_TRACE(std::to_string(part.Left) + "," + std::to_string(part.Top));
    const auto shot = RenderFullResolution(scene.Controller(), part, 0, "");
    ASSERT_NE(shot, nullptr);
    ASSERT_EQ(shot->Width(), part.Width());
    ASSERT_EQ(shot->Height(), part.Height());
    int wrong = 0;
    for (int y = 0; y < part.Height(); ++y) {
      for (int x = 0; x < part.Width(); ++x) {
        wrong += (shot->GetPixel(x, y) & 0xFFFFFF) !=
                 (picture1.GetPixel(part.Left + x, part.Top + y) & 0xFFFFFF);
      }
    }
    EXPECT_EQ(wrong, 0);
  }

  // At full opacity the overlay lies where the view shows it; the label marks the corner.
  const raster::TRect part{0, 0, 1203, 807};
  const auto opaque = RenderFullResolution(scene.Controller(), part, 255, "");
  const auto labelled = RenderFullResolution(scene.Controller(), part, 255, "Deckkraft 100 %");
  int overlay = 0, marked = 0;
  for (int y = 0; y < 40; ++y) {
    for (int x = 0; x < 200; ++x) marked += opaque->GetPixel(x, y) != labelled->GetPixel(x, y);
  }
  for (int y = 0; y < 807; y += 7) {
    for (int x = 0; x < 1203; x += 7) {
      overlay += (opaque->GetPixel(x, y) & 0xFFFFFF) != (picture1.GetPixel(x, y) & 0xFFFFFF);
    }
  }
  EXPECT_GT(marked, 200);
  EXPECT_GT(overlay, 1000);
}

// A tool's renderer takes the pictures instead of copying them (each held once): its captures are
// the copying renderer's to the bit, colour matching and a placement included, and the
// controller it took them from holds no picture any more.
TEST(FullResolutionCapture, TakingThePicturesDrawsWhatCopyingThemDraws) {
  std::unique_ptr<TBitmap32> shots[2];
  for (const auto pictures :
       {TFullResolutionRenderer::TPictures::Copy, TFullResolutionRenderer::TPictures::Take}) {
    TOverlayScene scene(300, 200);
    LoadPair(scene, 603, 407);
    scene.SetOffsetX(41);
    scene.Controller().SetColourMatch(true);
    TFullResolutionRenderer renderer(scene.Controller(), {0, 0, 603, 407}, pictures);
    const int n = pictures == TFullResolutionRenderer::TPictures::Take;
    shots[n] = renderer.Render({TCaptureShows::Comparison, 180, "Deckkraft 70 %"});
    ASSERT_NE(shots[n], nullptr);
    EXPECT_EQ(scene.View().Bitmap().Empty(), n == 1);
  }
  ASSERT_EQ(shots[0]->Width(), shots[1]->Width());
  ASSERT_EQ(shots[0]->Height(), shots[1]->Height());
  int differing = 0;
  for (int y = 0; y < shots[0]->Height(); ++y) {
    for (int x = 0; x < shots[0]->Width(); ++x) {
      differing += shots[0]->GetPixel(x, y) != shots[1]->GetPixel(x, y);
    }
  }
  EXPECT_EQ(differing, 0);
}

// Only the blend draws the opacity. In every other way of drawing the print takes the comparison
// as drawn and each picture alone (not copies of one picture labelled as opacities), and the
// page's note says so.
TEST(PrintCaptures, OutsideTheBlendShowTheWayOfDrawingAndEachPictureAlone) {
  TOverlayScene scene(300, 200);
  LoadPair(scene, 240, 160);
  TMainController& c = scene.Controller();
  TBitmap32 picture1;
  picture1.Assign(&scene.View().Bitmap());
  c.SetSwipeLine(40);  // through the overlay, which lies in picture 1's upper-left quarter
  const struct {
    TViewMode Mode;
    std::vector<std::string> Labels;
  } cases[] = {
      {TViewMode::Blend, {"Deckkraft 0 %", "Deckkraft 50 %", "Deckkraft 100 %"}},
      {TViewMode::Difference, {"Differenz", "Bild 1", "Bild 2"}},
      {TViewMode::Swipe, {"Vorhang", "Bild 1", "Bild 2"}},
      {TViewMode::Checker, {"Schachbrett", "Bild 1", "Bild 2"}},
      {TViewMode::Side, {"Nebeneinander", "Bild 1", "Bild 2"}},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.Labels[0]);
    c.ShowMode(test.Mode);
    TReportFacts facts;
    facts.Mode = c.DrawnMode();
    facts.Captures = PrintCapturesOf(c, 3);
    std::vector<std::string> labels;
    std::vector<std::unique_ptr<TBitmap32>> shots;
    TFullResolutionRenderer renderer(c, {0, 0, 240, 160});
    for (const TPrintCapture& capture : facts.Captures) {
      labels.push_back(capture.Label);
      shots.push_back(renderer.Render(capture));
      ASSERT_NE(shots.back(), nullptr);
    }
    EXPECT_EQ(labels, test.Labels);
    const auto differing = [](const TBitmap32& A, const TBitmap32& B, int FromRow) {
      int n = 0;
      for (int y = FromRow; y < A.Height(); ++y) {
        for (int x = 0; x < A.Width(); ++x)
          n += ((A.GetPixel(x, y) ^ B.GetPixel(x, y)) & 0xFFFFFF) != 0;
      }
      return n;
    };
    for (std::size_t i = 0; i < shots.size(); ++i) {
      for (std::size_t j = i + 1; j < shots.size(); ++j) {
        EXPECT_GT(differing(*shots[i], *shots[j], 40), 0) << i << " " << j;  // below the labels
      }
    }
    // Picture 1 alone is picture 1, below its label.
    if (test.Mode != TViewMode::Blend) {
      EXPECT_EQ(differing(*shots[1], picture1, 40), 0);
    }
    EXPECT_EQ(
        FillReportPlaceholders("#PrintHint#", facts).Value(),
        test.Mode == TViewMode::Blend ? Tr(PrintHintText) : Tr(PrintModeHintText, test.Labels[0]));
  }
}

// A part whose scene (the part and the view's scroll bars) no bitmap can hold is refused, not a
// crash; one within the limit is drawn.
// The capture's JPEG states its scale in dots per inch, a 16-bit field: a scale it cannot
// hold, or one whose dots per metre are no int, is stated as none (72 dpi), not wrapped round.
TEST(CaptureJpeg, StatesTheScaleOrNoneNeverAWrappedOne) {
  const testsupport::TTempFolder dir("tessaly_capture");
  TBitmap32 capture;
  testsupport::FillPattern(capture, 8, 8, 3);
  for (const auto& [pp100mm, dpi] : {std::pair{2000, 508}, std::pair{250000, 63500},
                                     std::pair{300000, 72}, std::pair{214748365, 72}}) {
    ASSERT_TRUE(WriteCaptureJpeg(capture, pp100mm, dir.File(""), 0)) << pp100mm;
    std::ifstream in(dir / "test0.jpg", std::ios::binary);
    const std::string jpeg{std::istreambuf_iterator<char>(in), {}};
    const std::size_t jfif = jpeg.find(std::string("JFIF\0", 5));
    ASSERT_NE(jfif, std::string::npos);
    EXPECT_EQ(jpeg[jfif + 7], 1) << pp100mm;  // dots per inch
    EXPECT_EQ(std::uint8_t(jpeg[jfif + 8]) * 256 + std::uint8_t(jpeg[jfif + 9]), dpi) << pp100mm;
  }
}

TEST(FullResolutionCapture, APartTooLargeForItsSceneIsRefused) {
  TOverlayScene scene(200, 150);
  LoadPair(scene, 40, 30);
  const auto fits = [](int W, int H) {
    const int bars = raster::TCustomImgView32::SystemScrollBarSize;
    return std::int64_t(W + bars) * (H + bars) <= raster::MaxBitmapPixels;
  };
  for (const auto& [w, h] : {std::pair{16370, 16370}, std::pair{1000000, 268}, std::pair{40, 30}}) {
    SCOPED_TRACE(std::to_string(w) + " x " + std::to_string(h));
    TFullResolutionRenderer renderer(scene.Controller(), {0, 0, w, h});
    EXPECT_EQ(renderer.TooLarge(), !fits(w, h));
    EXPECT_EQ(renderer.Render(255, "") != nullptr, fits(w, h));
  }
}

TEST(ReportPage, PlaceholdersAreFilledOnceWithEscapedTextsAndMeasuredValues) {
  TReportFacts facts;
  facts.Name = "O'Brien <b>&amp;</b> \"#Picture1#\"";
  facts.Firstname = "Ann";
  facts.Picture1 = "/x/y/erste<1>.jpg";
  facts.Picture2 = "zweite.jpg";
  facts.Frame.Pp100MM1 = 2000;
  facts.Frame.Pp100MM2 = 1000;
  facts.Frame.Width2 = 800, facts.Frame.Height2 = 600;  // placed as it starts: 1:1 on picture 1
  // A 1000-pixel square on picture 1 at 20 px/mm: 2500 mm². The same square on picture 2 at 10
  // px/mm: 10000 mm², so +7500 mm² (+300 %).
  const std::vector<TMeasurePoint> square{{0, 0}, {1000, 0}, {1000, 1000}, {0, 1000}};
  facts.Measures = {{TMeasureKind::Ruler, 1, {{0, 0}, {300, 400}}},
                    {TMeasureKind::Outline, 1, square},
                    {TMeasureKind::Outline, 2, square}};
  facts.Captures = PrintCaptures(TViewMode::Blend, 2, 255, 0);
  const std::string page =
      FillReportPlaceholders(
          "<p>#Patient#</p><p>#Picture1#|#Picture2#</p>#Measurements#<i>#Opacity#;#Opacity#;"
          "#Opacity#</i>#Unknown# # #",
          facts)
          .Value();

  EXPECT_NE(
      page.find("<p>O&apos;Brien &lt;b&gt;&amp;amp;&lt;/b&gt; &quot;#Picture1#&quot;, Ann</p>"),
      std::string::npos)
      << page;
  EXPECT_NE(page.find("<p>erste&lt;1&gt;.jpg|zweite.jpg</p>"), std::string::npos) << page;
  EXPECT_NE(page.find("<i>Deckkraft 0 %;Deckkraft 100 %;</i>#Unknown# # #"), std::string::npos)
      << page;
  EXPECT_NE(page.find("<td>Messstrecke 1</td><td>Bild 1</td><td>25.0 mm</td><td></td>"),
            std::string::npos)
      << page;
  EXPECT_NE(
      page.find("<td>Umriss 1</td><td>Bild 1</td><td>70.7 mm</td><td>2500.0 mm²</td><td></td>"),
      std::string::npos)
      << page;
  EXPECT_NE(page.find("<td>Umriss 1</td><td>Bild 2</td><td>141.4 mm</td><td>10000.0 mm²</td>"
                      "<td>+7500.0 mm² (+300.0 %)</td>"),
            std::string::npos)
      << page;
}

TEST(ReportPage, ATemplateOrAPageTooLargeIsRefusedByTheTemplatesName) {
  // A template over 16 MiB, and a small one that names a table of five measures 200 000 times
  // (over 100 MB of page): refused before any page is written, saying which template.
  testsupport::TTempFolder dir;
  std::ofstream(dir / "huge.html") << std::string(17'000'000, 'x');
  std::ofstream many(dir / "many.html");
  for (int i = 0; i < 200'000; ++i) many << "#Measurements#";
  many.close();
  TReportFacts facts;
  for (int i = 0; i < 5; ++i) facts.Measures.push_back({TMeasureKind::Ruler, 1, {{0, 0}, {3, 4}}});
  for (const std::string name : {"huge.html", "many.html"}) {
    const platform::TStatus written = WriteReportPage(dir / name, dir.Path().string(), &facts);
    EXPECT_FALSE(written) << name;
    EXPECT_EQ(written.Reason(), Tr(PrintPageTooLargeText, dir / name));
    EXPECT_FALSE(std::filesystem::exists(dir / "output.html"));
  }
}

TEST(ReportRun, ACaptureNotWhereThePageNamesItIsAFailure) {
  // Capture 1 is written into the folder, capture 2 (said to be written) is not.
  testsupport::TTempFolder dir;
  std::ofstream(dir / "page.html") << "<img src=\"#Image#\">\n<img src=\"#Image#\">\n";
  TReportRun run;
  run.Folder = dir.Path().string() + "/out/";
  std::filesystem::create_directory(run.Folder);
  run.TemplatePath = dir / "page.html";
  run.Facts.Captures = PrintCaptures(TViewMode::Blend, 2, 255, 0);
  run.Capture = [&](std::size_t Index, const TPrintCapture&) -> platform::TStatus {
    if (Index == 0) std::ofstream(run.Folder + "image1.jpg") << "jpeg";
    return {};
  };
  const TReportOutcome outcome = WriteReport(run);
  EXPECT_FALSE(outcome.Captures);
  EXPECT_NE(outcome.Captures.Reason().find(run.Folder + "image2.jpg"), std::string::npos)
      << outcome.Captures.Reason();
}

TEST(ReportRun, IntoTheUsersFolderANameTakenMeanwhileIsNeverReplaced) {
  // A file that appears after the folder was found free (the user's, at a capture's or the
  // page's name) fails the write and stays as it was.
  testsupport::TTempFolder dir;
  const std::string folder = dir.Path().string() + "/";
  std::ofstream(dir / "image1.jpg") << "the user's";
  std::ofstream(dir / "output.html") << "the user's";
  std::ofstream(dir / "page.html") << "#Image#";
  TBitmap32 capture;
  testsupport::FillPattern(capture, 8, 8, 1);
  ASSERT_TRUE(WriteCaptureJpeg(capture, 0, folder, 1, /*Replace=*/false));  // new names: taken
  EXPECT_FALSE(WriteCaptureJpeg(capture, 0, folder, 0, /*Replace=*/false));
  EXPECT_FALSE(WriteReportPage(dir / "page.html", folder, nullptr, /*Replace=*/false));
  for (const char* name : {"image1.jpg", "output.html"}) {
    std::ifstream in(dir / name);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "the user's") << name;
  }
  EXPECT_FALSE(std::filesystem::exists(dir / "test0.jpg"));  // this call's half is taken back
}

}  // namespace
}  // namespace overlay
