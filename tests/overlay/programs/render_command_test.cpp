#include "overlay/programs/render_command.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QImage>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <sstream>

#include "overlay/decode/picture_import.h"
#include "overlay/programs/picture_files.h"
#include "platform/command_line.h"
#include "platform/message.h"
#include "raster/blend.h"
#include "raster/transforms.h"
#include "tests/support/png_chunks.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_pictures.h"

namespace overlay {
namespace {

namespace fs = std::filesystem;
using raster::TBitmap32;
using raster::TColor32;
using testsupport::FillPattern;
using testsupport::TTempFolder;

const std::string Sample1 = std::string(TESSALY_SOURCE_DIR) + "/data/sample/NT96650_pcb_002.JPG";
const std::string Sample2 = std::string(TESSALY_SOURCE_DIR) + "/data/sample/NT96650_pcb_004.JPG";

int RenderWith(const std::vector<std::string>& Args, std::string* Out = nullptr,
               std::string* Err = nullptr) {
  std::ostringstream out, err;
  const int status = RunRenderCommand(Args, out, err);
  if (Out) *Out = out.str();
  if (Err) *Err = err.str();
  return status;
}

std::string ReadFile(const std::string& Path) {
  std::ifstream in(Path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// ---------------------------------------------------------------------------------------
// The renderer against a straightforward composition

// What the view shows of the sample pair at view zoom 1 and overlay zoom 1: picture 1 scrolled
// to its middle pixel, picture 2 turned by Angle about its centre and moved by the offsets,
// blended with Alpha. Composed directly with the transfers and Transform, with the scalar
// reference blend routines.
std::unique_ptr<TBitmap32> ReferenceFrame(const TBitmap32& P1, TBitmap32& P2, int Angle, int X,
                                          int Y, int Alpha) {
  const int vw = 960, vh = 553;
  auto result = std::make_unique<TBitmap32>();
  TBitmap32& frame = *result;
  frame.SetSize(vw, vh);
  frame.Clear(raster::Color32(32, 32, 69));
  // Scrolled so that the middle pixel is at the viewport centre: bar position = middle minus
  // half the viewport (a float), the bitmap's left/top its negation rounded, ties to even.
  const int left = int(std::nearbyint(-(P1.Width() / 2 - vw / 2.0)));
  const int top = int(std::nearbyint(-(P1.Height() / 2 - vh / 2.0)));
  raster::StretchTransfer(&frame, raster::MakeRect(left, top, left + P1.Width(), top + P1.Height()),
                          &P1, P1.BoundsRect(), raster::sfNearest, raster::dmOpaque, nullptr);
  P2.SetDrawMode(raster::dmBlend);
  P2.SetStretchFilter(raster::sfLinear);
  P2.SetMasterAlpha(std::uint32_t(Alpha));
  raster::TAffineTransformation t;
  t.SetSrcRect(raster::FloatRect(0, 0, float(P2.Width() - 1), float(P2.Height() - 1)));
  const float cx = float(P2.Width() / 2), cy = float(P2.Height() / 2);
  t.Translate(-cx, -cy);
  t.Rotate(0, 0, float(Angle));
  t.Translate(float(X) + cx, float(Y) + cy);
  t.Scale(1, 1);
  t.Translate(float(left), float(top));
  raster::Transform(frame, P2, t);
  return result;
}

void ExpectSameRgb(const QImage& Png, const TBitmap32& Expected) {
  ASSERT_EQ(Png.width(), Expected.Width());
  ASSERT_EQ(Png.height(), Expected.Height());
  const QImage rgb = Png.convertToFormat(QImage::Format_RGB32);
  int mismatches = 0;
  for (int y = 0; y < Expected.Height(); ++y) {
    const auto* row = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
    for (int x = 0; x < Expected.Width(); ++x) {
      const TColor32 e = Expected.GetPixel(x, y);
      if ((row[x] & 0xFFFFFFu) != (e & 0xFFFFFFu) && ++mismatches <= 5) {
        ADD_FAILURE() << "pixel " << x << "," << y << ": " << std::hex << row[x] << " vs " << e;
      }
    }
  }
  EXPECT_EQ(mismatches, 0);
}

class SampleRenderTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    P1 = LoadPicture(Sample1).Value().release();
    P2 = LoadPicture(Sample2).Value().release();
  }
  static void TearDownTestSuite() {
    delete P1;
    delete P2;
  }
  // The renderer runs with the packed-lane arithmetic in force (its vector code when the
  // processor has it); the plain set, chosen by RASTER_BLEND=plain, has other numbers.
  void SetUp() override {
    FPrevious = raster::ActiveBlendImplementation();
    if (FPrevious == raster::TBlendImplementation::Plain) {
      raster::SelectBlendImplementation(raster::TBlendImplementation::PackedScalar);
    }
  }
  void TearDown() override { raster::SelectBlendImplementation(FPrevious); }
  raster::TBlendImplementation FPrevious{};
  // The reference uses the scalar packed-lane routines whatever the renderer ran with.
  std::unique_ptr<TBitmap32> Reference(int Angle, int X, int Y, int Alpha) {
    const raster::TBlendImplementation previous = raster::ActiveBlendImplementation();
    raster::SelectBlendImplementation(raster::TBlendImplementation::PackedScalar);
    TBitmap32 p2;
    p2.Assign(P2);
    std::unique_ptr<TBitmap32> frame = ReferenceFrame(*P1, p2, Angle, X, Y, Alpha);
    raster::SelectBlendImplementation(previous);
    return frame;
  }
  static TBitmap32* P1;
  static TBitmap32* P2;
};
TBitmap32* SampleRenderTest::P1 = nullptr;
TBitmap32* SampleRenderTest::P2 = nullptr;

TEST_F(SampleRenderTest, DefaultsEqualTheStraightforwardComposition) {
  ASSERT_NE(P1, nullptr);
  ASSERT_NE(P2, nullptr);
  ASSERT_EQ(P1->Width(), 2048);
  TTempFolder dir("tessaly_render");
  std::string out;
  ASSERT_EQ(RenderWith({Sample1, Sample2, dir / "defaults.png"}, &out), 0) << out;
  EXPECT_NE(out.find("viewport 960 x 553"), std::string::npos) << out;
  EXPECT_NE(out.find("opacity 120"), std::string::npos) << out;
  const QImage png(QString::fromStdString(dir / "defaults.png"));
  ASSERT_FALSE(png.isNull());
  EXPECT_FALSE(png.hasAlphaChannel());
  ExpectSameRgb(png, *Reference(0, 0, 0, 120));
}

TEST_F(SampleRenderTest, TurnedMovedAndFadedEqualsTheStraightforwardComposition) {
  ASSERT_NE(P1, nullptr);
  TTempFolder dir("tessaly_render");
  ASSERT_EQ(RenderWith({"--angle", "-7", "--x=35", "--y", "-20", "--alpha", "200", Sample1, Sample2,
                        dir / "moved.png"}),
            0);
  const QImage png(QString::fromStdString(dir / "moved.png"));
  ExpectSameRgb(png, *Reference(-7, 35, -20, 200));
}

TEST_F(SampleRenderTest, ZoomedRenderShowsTheWholePictureCentredInAnOtherSize) {
  TTempFolder dir("tessaly_render");
  std::string out;
  ASSERT_EQ(RenderWith({"--size", "617x417", "--zoom-view", "-70", "--zoom-overlay", "30", Sample1,
                        Sample2, dir / "zoomed.png"},
                       &out),
            0);
  EXPECT_NE(out.find("view zoom -70 (0.20)"), std::string::npos) << out;
  EXPECT_NE(out.find("overlay 2194 x 1645"), std::string::npos) << out;
  const QImage png(QString::fromStdString(dir / "zoomed.png"));
  ASSERT_EQ(png.size(), QSize(600, 400));
  // 2048 x 1536 at 0.1995 is 409 x 306 and centred: the corners show the view colour.
  EXPECT_EQ(QColor(png.pixel(0, 0)), QColor(32, 32, 69));
  EXPECT_EQ(QColor(png.pixel(599, 399)), QColor(32, 32, 69));
  EXPECT_NE(QColor(png.pixel(300, 200)), QColor(32, 32, 69));
}

// ---------------------------------------------------------------------------------------
// Bad input

// The sample pair turned and moved, at view zoom ViewZoom, drawn in Mode.
QImage RenderMode(const TTempFolder& Dir, const std::string& ViewZoom, const std::string& Mode) {
  EXPECT_EQ(RenderWith({"--angle", "-7", "--x=35", "--y", "-20", "--zoom-view", ViewZoom, "--mode",
                        Mode, Sample1, Sample2, Dir / "mode.png"}),
            0)
      << Mode;
  return QImage(QString::fromStdString(Dir / "mode.png")).convertToFormat(QImage::Format_RGB32);
}

// The swipe and the checkerboard put together, pixel for pixel, what the view shows with picture
// 1 alone and with the opaque overlay alone, turned, moved and zoomed out; the line and the
// squares stay on picture 1 (anchored at its corner, not the screen's).
TEST_F(SampleRenderTest, SwipeAndCheckerboardPieceTogetherPictureOneAndTheOpaqueOverlay) {
  TTempFolder dir("tessaly_render");
  const auto render = [&](const std::string& Mode) { return RenderMode(dir, "-30", Mode); };
  const QImage one = render("swipe:100000"), two = render("swipe:-100000");
  const QImage swipe = render("swipe:1000"), checker = render("checker:40");
  // Which of the two a pixel is: 1, 2, 0 where they agree, -1 for neither.
  const auto source = [&](const QImage& Shot, int X, int Y) {
    const QRgb p = Shot.pixel(X, Y), a = one.pixel(X, Y), b = two.pixel(X, Y);
    return a == b ? (p == a ? 0 : -1) : p == a ? 1 : p == b ? 2 : -1;
  };
  // At view zoom -30 the picture, 2048 x 1536, shows about 1026 x 770 in the 960 x 553 viewport,
  // centred: its corner near (-33, -108), column 1000 near screen column 468.
  int line = -1;
  for (int y = 0; y < one.height(); ++y) {
    for (int x = 0; x < one.width(); ++x) {
      const int s = source(swipe, x, y);
      ASSERT_GE(s, 0) << x << ", " << y;
      if (s == 2 && line < 0) line = x;
      if (line >= 0) {
        ASSERT_NE(s, line <= x ? 1 : 2) << x << ", " << y;
      }
    }
  }
  EXPECT_NEAR(line, 468, 1);
  // The squares' phase read from the shot, then every pixel checked against it.
  const auto firstChange = [&](bool Across) {
    int last = 0;
    for (int i = 0; i < (Across ? one.width() : one.height()); ++i) {
      const int s = Across ? source(checker, i, 0) : source(checker, 0, i);
      if (s > 0 && last > 0 && s != last) return i;
      if (s > 0) last = s;
    }
    return -1;
  };
  const int phaseX = firstChange(true) % 40, phaseY = firstChange(false) % 40;
  EXPECT_NEAR(phaseX, (-33 % 40 + 40) % 40, 1);
  EXPECT_NEAR(phaseY, (-108 % 40 + 40) % 40, 1);
  int atCorner = 0;  // what a square whose corner lies on the picture's grid shows
  for (int y = phaseY; y < phaseY + 40 && atCorner == 0; ++y) {
    for (int x = phaseX; x < phaseX + 40 && atCorner == 0; ++x) atCorner = source(checker, x, y);
  }
  for (int y = 0; y < one.height(); ++y) {
    for (int x = 0; x < one.width(); ++x) {
      const int s = source(checker, x, y);
      ASSERT_GE(s, 0) << x << ", " << y;
      const bool same = ((x - phaseX + 400) / 40 + (y - phaseY + 400) / 40) % 2 == 0;
      if (s > 0) {
        ASSERT_EQ(s, same ? atCorner : 3 - atCorner) << x << ", " << y;
      }
    }
  }
  EXPECT_EQ(atCorner, 1);  // the square at the picture's corner shows picture 1
}

// Side by side: the left half is picture 1 as the view shows it in a half-wide viewport (moved
// by some columns against the whole-width view, found here); the right half shows the opaque
// overlay half a view to the right of where it lies over picture 1, on the view's colour.
TEST_F(SampleRenderTest, SideBySideShowsTheOverlayHalfAViewOverOnTheBackground) {
  TTempFolder dir("tessaly_render");
  const auto render = [&](const std::string& Mode) { return RenderMode(dir, "-60", Mode); };
  const QImage one = render("swipe:100000"), two = render("swipe:-100000"), side = render("side");
  const int half = one.width() / 2;
  // The shift that makes the left half picture 1 pixel for pixel.
  const auto leftMatches = [&](int Shift) {
    for (int y = 0; y < one.height(); y += 7) {
      for (int x = std::max(0, -Shift); x < half && x + Shift < one.width(); ++x) {
        if (side.pixel(x, y) != one.pixel(x + Shift, y)) return false;
      }
    }
    return true;
  };
  int d = 0;  // the nearest such shift, tried outward from none
  while (d < half && !leftMatches(d)) d = d > 0 ? -d : 1 - d;
  ASSERT_LT(std::abs(d), half / 2) << "the left half is not picture 1";
  const QRgb background = qRgb(0x20, 0x20, 0x45);
  int covered = 0, bare = 0, worst = 0, exact = 0;
  for (int y = 0; y < one.height(); ++y) {
    for (int x = half; x < one.width(); ++x) {
      const int at = x - half + d;
      if (at < 0 || at >= one.width()) continue;
      const QRgb s = side.pixel(x, y), overlay = two.pixel(at, y);
      if (overlay != one.pixel(at, y)) {  // the overlay covers that point
        for (int shift : {0, 8, 16}) {
          worst =
              std::max(worst, std::abs(int((s >> shift) & 0xFF) - int((overlay >> shift) & 0xFF)));
        }
        exact += s == overlay;
        ++covered;
      } else if (s == background) {
        ++bare;
      }
    }
  }
  // Moved by whole pixels the engine samples from another fixed-point start, so a few pixels
  // at sharp edges differ by some levels; a pixel's shift would differ everywhere.
  EXPECT_GT(exact, covered * 3 / 4) << exact << " of " << covered;
  EXPECT_LE(worst, 16);
  EXPECT_GT(covered, 50000);
  EXPECT_GT(bare, 5000);  // zoomed out, the overlay leaves the view's colour around it
}

TEST(RenderCommand, HelpAndVersion) {
  std::string out;
  EXPECT_EQ(RenderWith({"--help"}, &out), 0);
  EXPECT_NE(out.find("Usage: tessaly-render"), std::string::npos);
  EXPECT_NE(out.find("--zoom-overlay"), std::string::npos);
  EXPECT_EQ(RenderWith({"--version"}, &out), 0);
  EXPECT_EQ(out.rfind("tessaly-render ", 0), 0u);
}

TEST(RenderCommand, ValuesOutsideASlidersRangeAreRefused) {
  TTempFolder dir("tessaly_render");
  struct Case {
    std::vector<std::string> Args;
    const char* Message;
  };
  const Case cases[] = {
      {{"--angle", "181"}, "--angle 181 is outside the slider's range -180..180"},
      {{"--x", "-601"}, "outside the slider's range -600..600"},
      {{"--y", "401"}, "-400..400"},
      {{"--zoom-view", "101"}, "-100..100"},
      {{"--zoom-overlay", "-501"}, "-500..500"},
      {{"--alpha", "256"}, "0..255"},
      {{"--alpha", "-1"}, "0..255"},
      {{"--alpha", "12abc"}, "whole number"},
      {{"--angle", "7.5"}, "whole number"},
      {{"--x", ""}, "whole number"},
      {{"--angle", "99999999999"}, "whole number"},
      {{"--size", "977"}, "WIDTHxHEIGHT"},
      {{"--size", "17x500"}, "outside"},
      {{"--size", "axb"}, "whole number"},
      {{"--sharpen", "3"}, "unknown option --sharpen"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = c.Args;
    args.insert(args.end(), {Sample1, Sample2, dir / "never.png"});
    std::string err;
    EXPECT_EQ(RenderWith(args, nullptr, &err), 2) << c.Message;
    EXPECT_NE(err.find(c.Message), std::string::npos) << err;
    EXPECT_FALSE(fs::exists(dir / "never.png")) << c.Message;
  }
  std::string err;
  EXPECT_EQ(RenderWith({"--alpha"}, nullptr, &err), 2);
  EXPECT_NE(err.find("--alpha needs a value"), std::string::npos);
  EXPECT_EQ(RenderWith({Sample1, Sample2}, nullptr, &err), 2);
  EXPECT_NE(err.find("expected PICTURE1 PICTURE2 OUT.png"), std::string::npos);
  EXPECT_EQ(RenderWith({Sample1, Sample2, dir / "out.jpg"}, nullptr, &err), 2);
  EXPECT_NE(err.find("must end in .png"), std::string::npos);
}

TEST(RenderCommand, MissingOrUndecodablePicturesLeaveTheOldOutputAlone) {
  TTempFolder dir("tessaly_render");
  const std::string out = dir / "out.png";
  std::ofstream(out) << "earlier result";
  std::ofstream(dir / "not_a_picture.jpg") << "this is text, not a JPEG";
  std::string err;
  EXPECT_EQ(RenderWith({dir / "missing.jpg", Sample2, out}, nullptr, &err), 1);
  EXPECT_NE(err.find("picture 1 not found"), std::string::npos) << err;
  {
    // Told once, in the tool's one line, with the import's own reason; nothing shown besides.
    const platform::MessageRecorder shown;
    EXPECT_EQ(RenderWith({Sample1, dir / "not_a_picture.jpg", out}, nullptr, &err), 1);
    const std::string why = LoadPicture(dir / "not_a_picture.jpg").Reason();
    ASSERT_FALSE(why.empty());
    EXPECT_EQ(err,
              "tessaly-render: picture 2 could not be decoded: " + platform::OneLine(why) + "\n");
    EXPECT_EQ(shown.Texts(), std::vector<std::string>{});
  }
  EXPECT_EQ(RenderWith({Sample1, dir.Path().string(), out}, nullptr, &err), 1);  // a directory
  EXPECT_EQ(ReadFile(out), "earlier result");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), 2);
}

TEST(RenderCommand, UnwritableOutputFailsWithoutLeavingAFile) {
  TTempFolder dir("tessaly_render");
  std::string err;
  EXPECT_EQ(RenderWith({Sample1, Sample2, dir / "no/such/dir/out.png"}, nullptr, &err), 1);
  EXPECT_NE(err.find("directory does not exist"), std::string::npos) << err;
  fs::create_directory(dir / "taken.png");
  EXPECT_EQ(RenderWith({Sample1, Sample2, dir / "taken.png"}, nullptr, &err), 1);
  EXPECT_NE(err.find("is a directory"), std::string::npos) << err;
  // A directory that exists but takes no new files (also not for root).
  EXPECT_EQ(RenderWith({Sample1, Sample2, "/proc/tessaly-render-test.png"}, nullptr, &err), 1);
  EXPECT_NE(err.find("cannot write /proc/tessaly-render-test.png"), std::string::npos) << err;
  EXPECT_FALSE(fs::exists("/proc/tessaly-render-test.png"));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), 1);
}

TEST(RenderCommand, WrittenPngIsCompleteAndReplacesAnOldFile) {
  TTempFolder dir("tessaly_render");
  const std::string out = dir / "out.png";
  std::ofstream(out) << "earlier result";
  TBitmap32 picture;
  FillPattern(picture, 37, 23, 4);
  picture.SetPixel(3, 4, 0x00FF8040u);  // alpha 0 must not reach the file
  const platform::TStatus written = WritePngAtomically(picture, out);
  ASSERT_TRUE(written) << written.Reason();
  const QImage png(QString::fromStdString(out));
  ASSERT_EQ(png.size(), QSize(37, 23));
  EXPECT_FALSE(png.hasAlphaChannel());
  EXPECT_EQ(png.pixel(3, 4), qRgb(0xFF, 0x80, 0x40));
  EXPECT_EQ(png.pixel(36, 22) & 0xFFFFFFu, picture.GetPixel(36, 22) & 0xFFFFFFu);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), 1);
  // Private as the exports, and a link planted at the name is replaced, not written through.
  EXPECT_EQ(fs::status(out).permissions() & fs::perms::all, fs::perms(0600));
  std::ofstream(dir / "victim") << "not yours";
  fs::create_symlink(dir / "victim", dir / "planted.png");
  ASSERT_TRUE(WritePngAtomically(picture, dir / "planted.png"));
  EXPECT_EQ(ReadFile(dir / "victim"), "not yours");
  EXPECT_FALSE(fs::is_symlink(dir / "planted.png"));
  EXPECT_EQ(fs::status(dir / "planted.png").permissions() & fs::perms::all, fs::perms(0600));
}

// What exiv2 (the command-line tool) lists of a file's metadata.
std::string Exiv2Listing(const std::string& Path) {
  std::string listing;
  if (FILE* pipe = ::popen(("exiv2 -pa '" + Path + "' 2>&1").c_str(), "r")) {
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
      listing.append(buffer, n);
    ::pclose(pipe);
  }
  return listing;
}

// A retake of the sample photograph made here: each pixel q of picture 2 shows picture 1 where
// the placement puts q (zoomed from its corner as the overlay zoom grows it, turned about the
// middle pixel anticlockwise on the screen, moved), sampled bilinearly in doubles, with Gaussian
// noise of sigma 2. The exported aligned picture must lie on picture 1: its mean difference over
// the overlap no more than the noise's (2 * 0.8), and clearly below that at a shift of one pixel
// either way. The files carry no EXIF of picture 1 (which has plenty), the PNG its scale as pHYs
// and the placement exactly.
TEST(RenderCommand, TheExportedAlignedPictureOfARetakeLiesOnPictureOne) {
  const std::unique_ptr<TBitmap32> one = LoadPicture(Sample1).Value();
  ASSERT_NE(one, nullptr);
  const int w2 = 1600, h2 = 1200;
  const double angle = 6.5, zoom = 1.0725, shiftX = 223.25, shiftY = 167.5;
  const double a = angle * 3.14159265358979323846 / 180, c = std::cos(a), s = std::sin(a);
  const double cx = w2 / 2, cy = h2 / 2;
  std::mt19937 random(20261209);
  std::normal_distribution<double> noise(0, 2);
  QImage two(w2, h2, QImage::Format_RGB32);
  for (int y = 0; y < h2; ++y) {
    for (int x = 0; x < w2; ++x) {
      // Zoomed from its corner, then turned about its middle pixel anticlockwise on a Y-down
      // screen (right of the middle goes up), the middle pixel moved by the shift.
      const double dx = x * zoom - cx, dy = y * zoom - cy;
      const double px = cx + shiftX + dx * c + dy * s, py = cy + shiftY - dx * s + dy * c;
      const int x0 = int(std::floor(px)), y0 = int(std::floor(py));
      const double fx = px - x0, fy = py - y0;
      int rgb[3] = {90, 90, 90};
      if (x0 >= 0 && y0 >= 0 && x0 + 1 < one->Width() && y0 + 1 < one->Height()) {
        for (int k = 0; k < 3; ++k) {
          const auto at = [&](int X, int Y) {
            return double((one->GetPixel(X, Y) >> (16 - 8 * k)) & 255);
          };
          const double v = (1 - fy) * ((1 - fx) * at(x0, y0) + fx * at(x0 + 1, y0)) +
                           fy * ((1 - fx) * at(x0, y0 + 1) + fx * at(x0 + 1, y0 + 1));
          rgb[k] = std::clamp(int(std::lround(v + noise(random))), 0, 255);
        }
      }
      two.setPixel(x, y, qRgb(rgb[0], rgb[1], rgb[2]));
    }
  }
  TTempFolder dir("tessaly_render_export");
  ASSERT_TRUE(two.save(QString::fromStdString(dir / "retake.bmp"), "BMP"));

  const std::string aligned = dir / "aligned.png", difference = dir / "difference.JPG";
  std::string out, err;
  ASSERT_EQ(
      RenderWith({"--precise", "6.5,1.0725,223.25,167.5", "--pp100mm", "917", "--export-aligned",
                  aligned, "--export-difference", difference, Sample1, dir / "retake.bmp"},
                 &out, &err),
      0)
      << err;
  EXPECT_NE(out.find("exported aligned picture " + aligned + " (2048 x 1536)"), std::string::npos)
      << out;
  const std::unique_ptr<TBitmap32> exported = LoadPicture(aligned).Value();
  ASSERT_NE(exported, nullptr);
  ASSERT_EQ(exported->Width(), one->Width());
  ASSERT_EQ(exported->Height(), one->Height());

  // Over the pixels of picture 1 that the truth maps at least two pixels inside picture 2: the
  // export against picture 1 where it should lie, and one pixel left, right, up and down.
  constexpr int Shifts[5][2] = {{0, 0}, {-1, 0}, {1, 0}, {0, -1}, {0, 1}};
  double sums[5] = {}, count = 0;
  for (int y = 1; y + 1 < one->Height(); ++y) {
    for (int x = 1; x + 1 < one->Width(); ++x) {
      const double dx = x - cx - shiftX, dy = y - cy - shiftY;
      const double qx = (cx + dx * c - dy * s) / zoom, qy = (cy + dx * s + dy * c) / zoom;
      if (qx < 2 || qy < 2 || qx > w2 - 3 || qy > h2 - 3) continue;
      const TColor32 e = exported->GetPixel(x, y);
      for (int i = 0; i < 5; ++i) {
        const TColor32 p = one->GetPixel(x + Shifts[i][0], y + Shifts[i][1]);
        for (int k = 0; k < 24; k += 8)
          sums[i] += std::abs(int((e >> k) & 255) - int((p >> k) & 255));
      }
      count += 3;
    }
  }
  ASSERT_GT(count, 3.0 * 1600 * 1200);
  const double onPlace = sums[0] / count;
  const double nearest = std::min({sums[1], sums[2], sums[3], sums[4]}) / count;
  std::cout << "mean difference: in place " << onPlace << ", a pixel over at least " << nearest
            << "\n";
  // The noise alone differs by 1.6 on average; resampling twice only averages it down.
  EXPECT_LT(onPlace, 1.6);
  EXPECT_LT(onPlace, 0.7 * nearest);

  // No EXIF from the originals, where exiv2 finds plenty in picture 1.
  EXPECT_NE(Exiv2Listing(Sample1).find("Exif.Image.Model"), std::string::npos);
  for (const std::string& file : {aligned, difference}) {
    EXPECT_EQ(Exiv2Listing(file).find("Exif."), std::string::npos) << Exiv2Listing(file);
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << file;
  }
  const std::map<std::string, std::string> chunks = testsupport::PngChunks(ReadFile(aligned));
  // 9170 pixels per metre (0x000023D2) each way, in metres.
  EXPECT_EQ(chunks.count("pHYs") ? chunks.at("pHYs") : "",
            std::string("\0\0\x23\xd2\0\0\x23\xd2\x01", 9));
  const std::string placement = testsupport::PngText(chunks, "Placement");
  EXPECT_EQ(testsupport::NamedNumber(placement, "angle"), 6.5) << placement;
  EXPECT_EQ(testsupport::NamedNumber(placement, "zoom"), 1.0725) << placement;
  EXPECT_EQ(testsupport::NamedNumber(placement, "x"), 223.25) << placement;
  EXPECT_EQ(testsupport::NamedNumber(placement, "y"), 167.5) << placement;
}

// The export options: a file of a format the export writes, and the view's OUT.png optional
// only with them.
TEST(RenderCommand, ExportOptionsAreCheckedBeforeAnyWork) {
  TTempFolder dir("tessaly_render");
  std::string err;
  EXPECT_EQ(RenderWith({"--export-side", dir / "side.gif", Sample1, Sample2}, nullptr, &err), 2);
  EXPECT_NE(err.find("--export-side: the file must end in .png, .tif, .tiff, .jpg or .jpeg"),
            std::string::npos)
      << err;
  EXPECT_EQ(RenderWith({"--pp100mm", "0", "--export-aligned", dir / "a.png", Sample1, Sample2},
                       nullptr, &err),
            2);
  EXPECT_NE(err.find("--pp100mm 0 is outside"), std::string::npos) << err;
  EXPECT_EQ(RenderWith({"--export-aligned", dir / "a.png", Sample1}, nullptr, &err), 2);
  EXPECT_NE(err.find("expected PICTURE1 PICTURE2 [OUT.png]"), std::string::npos) << err;
  EXPECT_EQ(
      RenderWith({"--export-aligned", dir / "no/such/a.png", Sample1, Sample2}, nullptr, &err), 1);
  EXPECT_NE(err.find("directory does not exist"), std::string::npos) << err;
  EXPECT_TRUE(fs::is_empty(dir.Path()));
}

TEST(RenderCommand, NoOutputIsAnInput) {
  // The same file under its own name, another spelling and a hard link, as the view's output and
  // as each export: refused, the photograph as it was.
  TTempFolder dir("tessaly_render");
  const std::string p1 = dir / "p1.png", p2 = dir / "p2.png";
  TBitmap32 picture;
  FillPattern(picture, 40, 30, 4);
  ASSERT_TRUE(WritePngAtomically(picture, p1));
  ASSERT_TRUE(WritePngAtomically(picture, p2));
  fs::create_hard_link(p2, dir / "link.png");
  const std::string before1 = ReadFile(p1), before2 = ReadFile(p2);
  const std::vector<std::vector<std::string>> runs{
      {"--export-aligned", p1, p1, p2},
      {"--export-side", dir / "sub/../p2.png", p1, p2},
      {"--export-difference", dir / "link.png", p1, p2},
      {p1, p2, dir / "./p1.png"},
      {p1, p2, dir / "link.png"},
  };
  for (const std::vector<std::string>& args : runs) {
    fs::create_directory(dir / "sub");
    std::string err;
    EXPECT_EQ(RenderWith(args, nullptr, &err), 1) << args[0];
    EXPECT_NE(err.find("is one of the input pictures"), std::string::npos) << err;
    EXPECT_EQ(ReadFile(p1), before1);
    EXPECT_EQ(ReadFile(p2), before2);
  }
}

// The built program itself: exit status and streams.
int RunProgram(const std::string& Args, const TTempFolder& Dir, std::string& Out,
               std::string& Err) {
  const std::string command = std::string("'") + TESSALY_RENDER_EXE + "' " + Args + " >'" +
                              (Dir / "stdout.txt") + "' 2>'" + (Dir / "stderr.txt") + "'";
  const int status = std::system(command.c_str());
  Out = ReadFile(Dir / "stdout.txt");
  Err = ReadFile(Dir / "stderr.txt");
  fs::remove(Dir / "stdout.txt");
  fs::remove(Dir / "stderr.txt");
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// One shell word: the paths come from the test itself and hold no single quote.
std::string Quoted(const std::string& Text) {
  std::string word = "'";
  word += Text;
  word += "' ";
  return word;
}

TEST(RenderProgram, RendersTheSamplePairAndRefusesBadInput) {
  TTempFolder dir("tessaly_render");
  std::string out, err;
  const std::string pictures = Quoted(Sample1) + Quoted(Sample2);
  const std::string pair = dir / "pair.png", bad = dir / "bad.png";
  EXPECT_EQ(RunProgram("--angle 5 --alpha 140 " + pictures + Quoted(pair), dir, out, err), 0)
      << err;
  EXPECT_NE(out.find("wrote " + pair + " (960 x 553, RGB)"), std::string::npos) << out;
  EXPECT_EQ(QImage(QString::fromStdString(pair)).size(), QSize(960, 553));

  EXPECT_EQ(RunProgram("--angle 500 " + pictures + Quoted(bad), dir, out, err), 2);
  EXPECT_NE(err.find("outside the slider's range"), std::string::npos) << err;
  EXPECT_EQ(RunProgram("--alpha x " + pictures + Quoted(bad), dir, out, err), 2);
  EXPECT_EQ(RunProgram(Quoted(dir / "none.jpg") + Quoted(Sample2) + Quoted(bad), dir, out, err), 1);
  EXPECT_NE(err.find("not found"), std::string::npos) << err;
  EXPECT_FALSE(fs::exists(bad));
  EXPECT_EQ(RunProgram("--version", dir, out, err), 0);
  EXPECT_EQ(out.rfind("tessaly-render ", 0), 0u);
}

}  // namespace
}  // namespace overlay
