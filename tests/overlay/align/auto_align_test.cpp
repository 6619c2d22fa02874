#include "overlay/align/auto_align.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <opencv2/core.hpp>
#include <opencv2/features2d.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "controls/rot_layer.h"
#include "overlay/align/auto_align_p.h"
#include "overlay/base/texts.h"
#include "overlay/decode/picture_import.h"
#include "overlay/programs/align_command.h"
#include "overlay/scene/main_controller.h"
#include "overlay/scene/overlay_scene.h"
#include "raster/cpu.h"
#include "tests/support/temp_folder.h"

namespace {

using overlay::TPlacement;
using overlay::TSimilarity;
using raster::TBitmap32;

std::string Photo(const std::string& Name) {
  return std::string(TESSALY_TESTDATA) + "/photos-large/" + Name;
}

cv::Mat ToMat(const TBitmap32& B) {
  const cv::Mat bgra(B.Height(), B.Width(), CV_8UC4, const_cast<raster::TColor32*>(B.PixelBuffer()),
                     std::size_t(B.Width()) * 4);
  cv::Mat bgr;
  cv::cvtColor(bgra, bgr, cv::COLOR_BGRA2BGR);
  return bgr;
}

std::unique_ptr<TBitmap32> FromMat(const cv::Mat& Bgr) {
  auto b = std::make_unique<TBitmap32>();
  b->SetSize(Bgr.cols, Bgr.rows);
  cv::Mat bgra(Bgr.rows, Bgr.cols, CV_8UC4, b->PixelBuffer(), std::size_t(Bgr.cols) * 4);
  cv::cvtColor(Bgr, bgra, cv::COLOR_BGR2BGRA);
  return b;
}

cv::Mat LoadPhoto(const std::string& Name, int LongestSide) {
  const std::unique_ptr<TBitmap32> picture = overlay::LoadPicture(Photo(Name)).Value();
  if (picture == nullptr) return {};
  cv::Mat bgr = ToMat(*picture);
  const double f = double(LongestSide) / std::max(bgr.cols, bgr.rows);
  if (f < 1) cv::resize(bgr, bgr, cv::Size(), f, f, cv::INTER_AREA);
  return bgr;
}

// Picture 2 as another camera position would give it: picture 1 seen through Truth (each point
// p of picture 2 shows picture 1 at Truth(p)), brighter or darker, with more or less contrast,
// noise, and saved as a JPEG again.
cv::Mat Retake(const cv::Mat& Picture1, const TSimilarity& Truth, std::mt19937& Random) {
  const cv::Mat m =
      (cv::Mat_<double>(2, 3) << Truth.A, -Truth.B, Truth.Tx, Truth.B, Truth.A, Truth.Ty);
  cv::Mat seen;
  cv::warpAffine(Picture1, seen, m, Picture1.size(), cv::INTER_LINEAR | cv::WARP_INVERSE_MAP,
                 cv::BORDER_CONSTANT, cv::Scalar(90, 90, 90));
  std::uniform_real_distribution<double> contrast(0.8, 1.25), brightness(-25, 25);
  seen.convertTo(seen, -1, contrast(Random), brightness(Random));
  cv::Mat noise(seen.size(), CV_16SC3);
  cv::theRNG().state = Random();
  cv::randn(noise, 0, 5);
  cv::Mat noisy;
  seen.convertTo(noisy, CV_16SC3);
  noisy += noise;
  noisy.convertTo(seen, CV_8UC3);
  std::vector<unsigned char> jpeg;
  cv::imencode(".jpg", seen, jpeg, {cv::IMWRITE_JPEG_QUALITY, 80});
  return cv::imdecode(jpeg, cv::IMREAD_COLOR);
}

// The turn, scale and shift of a retake whose middle
// lands near picture 1's middle.
TSimilarity RandomTruth(int Width, int Height, std::mt19937& Random) {
  std::uniform_real_distribution<double> turn(-30, 30), zoom(std::log10(0.7), std::log10(1.4)),
      shift(-0.08, 0.08);
  const double degrees = turn(Random);
  const double scale = std::pow(10.0, zoom(Random));
  // Anticlockwise on the screen for a positive overlay angle: the fit's matrix turns the
  // other way in Y-down coordinates.
  const double a = -degrees * 3.14159265358979323846 / 180;
  TSimilarity t;
  t.A = scale * std::cos(a);
  t.B = scale * std::sin(a);
  const double cx = (Width - 1) / 2.0, cy = (Height - 1) / 2.0;
  double mx, my;
  t.Map(cx, cy, &mx, &my);
  t.Tx = cx + shift(Random) * Width - mx;
  t.Ty = cy + shift(Random) * Height - my;
  return t;
}

int AngleApart(int A, int B) {
  const int d = std::abs(A - B) % 360;
  return std::min(d, 360 - d);
}

// A precise placement as close to the truth as a user needs it: turn within 0.1 degree, zoom
// within 0.2 %, and picture 2's corners within one picture-1 pixel of where the truth puts them.
bool CloseToTheTruth(const overlay::TPrecisePlacement& P, const TSimilarity& Truth, int Width,
                     int Height, std::string* Why) {
  const double turn = std::remainder(P.Angle - Truth.AngleDegrees(), 360.0);
  const double zoom = P.Zoom / Truth.Scale() - 1;
  double worst = 0;
  for (const auto& [x2, y2] :
       {std::pair{0, 0}, {Width - 1, 0}, {0, Height - 1}, {Width - 1, Height - 1}}) {
    double x1, y1, tx, ty;
    overlay::PreciseMapping(P, Width, Height, x2, y2, &x1, &y1);
    Truth.Map(x2, y2, &tx, &ty);
    worst = std::max(worst, std::hypot(x1 - tx, y1 - ty));
  }
  char text[160];
  std::snprintf(text, sizeof text, "turn off by %.3f deg, zoom by %.3f %%, corners by %.2f px",
                turn, zoom * 100, worst);
  *Why = text;
  return std::abs(turn) <= 0.1 && std::abs(zoom) <= 0.002 && worst <= 1;
}

// The "precise" object of tessaly-align --json.
overlay::TPrecisePlacement PreciseOfJson(const std::string& Json) {
  overlay::TPrecisePlacement p{NAN, NAN, NAN, NAN};
  const std::size_t at = Json.find("\"precise\": {");
  if (at == std::string::npos) return p;
  std::sscanf(Json.c_str() + at,
              "\"precise\": {\"angle\": %lf, \"zoom\": %lf, \"x\": %lf, \"y\": %lf", &p.Angle,
              &p.Zoom, &p.X, &p.Y);
  return p;
}

// Twenty retakes of four photographs with known turn (-30..30 degrees), scale (0.7..1.4) and
// shift, brightness, noise and JPEG recompression. In at least 19 the found slider state lies
// within one slider step of the state closest to the truth, and the precise placement (the
// one the window applies) is close to the truth itself. Every fifth pair goes through
// tessaly-align --json from files as well, whose "precise" figures must be as close.
TEST(AutoAlign, SyntheticRetakesAlignCloseToTheTruth) {
  const std::vector<std::pair<std::string, int>> photos = {
      {"NT96650_pcb_002.JPG", 2048},
      {"NT96650_pcb_004.JPG", 1800},
      {"Pixel_6_Pro_UltraHDR_01.jpg", 2400},
      {"Pixel_6_Pro_UltraHDR_04.jpg", 2000},
  };
  const unsigned seed = 20261209;
  std::mt19937 random(seed);
  const testsupport::TTempFolder dir("tessaly_align_retakes");
  int steps = 0, precise = 0, pairs = 0, tool = 0, toolPairs = 0;
  for (const auto& [name, side] : photos) {
    const cv::Mat picture1 = LoadPhoto(name, side);
    ASSERT_FALSE(picture1.empty()) << name;
    const std::unique_ptr<TBitmap32> bitmap1 = FromMat(picture1);
    for (int k = 0; k < 5; ++k, ++pairs) {
      // A large zoom of a large picture needs a shift beyond the sliders' ranges: the nearest
      // slider state then stands at their ends, the precise placement beyond.
      const TSimilarity truth = RandomTruth(picture1.cols, picture1.rows, random);
      overlay::TPlacementFit expected;
      const raster::TFloatPoint centre{float(picture1.cols / 2), float(picture1.rows / 2)};
      ASSERT_EQ(overlay::NearestPlacement(truth, picture1.cols, picture1.rows, picture1.cols,
                                          picture1.rows, centre, &expected),
                overlay::TAlignFailure::None);
      const cv::Mat retake = Retake(picture1, truth, random);
      const std::unique_ptr<TBitmap32> bitmap2 = FromMat(retake);
      const overlay::TAutoAlignResult found = overlay::AutoAlign(*bitmap1, *bitmap2);
      const TPlacement& e = expected.Placement;
      const TPlacement& f = found.Nearest.Placement;
      const bool close = found.Reliable() && AngleApart(f.Angle, e.Angle) <= 1 &&
                         std::abs(f.OffsetX - e.OffsetX) <= 1 &&
                         std::abs(f.OffsetY - e.OffsetY) <= 1 &&
                         std::abs(f.OverlayZoom - e.OverlayZoom) <= 1;
      steps += close;
      std::string why;
      const bool exact =
          found.Reliable() && CloseToTheTruth(found.Precise, truth, retake.cols, retake.rows, &why);
      precise += exact;
      if (!close || !exact) {
        std::printf(
            "seed %u, %s pair %d: truth angle %.2f scale %.4f -> %d %d %d %d; found %s %d %d "
            "%d %d (matches %d, inliers %d); precise: %s\n",
            seed, name.c_str(), k, truth.AngleDegrees(), truth.Scale(), e.Angle, e.OffsetX,
            e.OffsetY, e.OverlayZoom, found.Reliable() ? "" : "(unreliable)", f.Angle, f.OffsetX,
            f.OffsetY, f.OverlayZoom, found.Matches, found.Inliers, why.c_str());
      }
      if (k == 0) {
        // Lossless files, so that the tool sees the same pixels.
        const std::string one = dir / "one.png", two = dir / "two.png";
        ASSERT_TRUE(cv::imwrite(one, picture1) && cv::imwrite(two, retake));
        std::ostringstream out, err;
        ++toolPairs;
        if (overlay::RunAlignCommand({"--json", one, two}, out, err) == 0) {
          std::string toolWhy;
          tool +=
              CloseToTheTruth(PreciseOfJson(out.str()), truth, retake.cols, retake.rows, &toolWhy);
          std::printf("tessaly-align --json, %s: %s\n", name.c_str(), toolWhy.c_str());
        }
      }
    }
  }
  EXPECT_GE(steps, 19) << "of " << pairs << " pairs (seed " << seed << ")";
  EXPECT_GE(precise, 19) << "of " << pairs << " pairs (seed " << seed << ")";
  EXPECT_GE(tool, toolPairs - 1) << "of " << toolPairs << " pairs from tessaly-align --json";
}

// The reduced copies are OpenCV's grey conversion and area resize to the byte, with the
// processor's best code and with the portable code: at ratios with fractions, one to one along a
// side, whole along both sides and none at all; on a photograph, and on noise, whose many means
// near a half take the slow way.
TEST(AutoAlign, TheReducedCopyIsOpenCvsGreyAreaResize) {
  const std::unique_ptr<TBitmap32> photo =
      overlay::LoadPicture(Photo("Pixel_6_Pro_UltraHDR_04.jpg")).Value();
  ASSERT_TRUE(photo != nullptr);
  TBitmap32 noise;
  noise.SetSize(1031, 777);
  std::mt19937 random(20261209);
  for (int j = 0; j < noise.Height(); ++j) {
    for (int i = 0; i < noise.Width(); ++i) noise.SetPixel(i, j, raster::TColor32(random()));
  }
  const struct {
    const TBitmap32* Picture;
    int Width, Height;
  } cases[] = {{photo.get(), 1400, 1054}, {photo.get(), 1399, 1000},
               {photo.get(), 2040, 1536}, {&noise, 700, 500},
               {&noise, 1031, 400},       {&noise, 333, 111},
               {&noise, 1030, 777},       {&noise, 1, 1},
               {&noise, 1031, 777}};
  for (const auto& c : cases) {
    const TBitmap32& p = *c.Picture;
    const cv::Mat bgra(p.Height(), p.Width(), CV_8UC4,
                       const_cast<raster::TColor32*>(p.PixelBuffer()));
    cv::Mat grey, expected;
    cv::cvtColor(bgra, grey, cv::COLOR_BGRA2GRAY);
    cv::resize(grey, expected, cv::Size(c.Width, c.Height), 0, 0, cv::INTER_AREA);
    for (const overlay::TKernels kernels : {overlay::TKernels::Best, overlay::TKernels::Portable}) {
      cv::Mat reduced(c.Height, c.Width, CV_8U);
      overlay::ReduceToGrey(p, c.Width, c.Height, reduced.data, kernels);
      EXPECT_EQ(cv::countNonZero(reduced != expected), 0)
          << p.Width() << " x " << p.Height() << " to " << c.Width << " x " << c.Height
          << (kernels == overlay::TKernels::Best ? "" : ", portable code");
    }
  }
}

// The matcher finds the rows and distances of OpenCV's brute-force matcher to the bit, with the
// processor's best code and with the portable code: for SIFT's descriptors of a photograph and of
// it turned and enlarged; for whole numbers of few values (ties everywhere), odd counts and a
// single train row; for numbers with fractions.
TEST(AutoAlign, NearestTwoIsOpenCvsBruteForceMatch) {
  const auto compare = [](const cv::Mat& Query, const cv::Mat& Train) {
    std::vector<std::vector<cv::DMatch>> expected;
    cv::BFMatcher(cv::NORM_L2).knnMatch(Query, Train, expected, 2);
    for (const overlay::TKernels kernels : {overlay::TKernels::Best, overlay::TKernels::Portable}) {
      const std::vector<overlay::TNearestTwo> found = overlay::NearestTwo(
          Query.ptr<float>(), Query.rows, Train.ptr<float>(), Train.rows, Train.cols, kernels);
      ASSERT_EQ(found.size(), expected.size());
      int differ = 0;
      for (std::size_t i = 0; i < found.size(); ++i) {
        const std::vector<cv::DMatch>& e = expected[i];
        const overlay::TNearestTwo& f = found[i];
        differ +=
            !(f.First == e[0].trainIdx && f.FirstDistance == e[0].distance &&
              (e.size() < 2 ? f.Second == -1
                            : f.Second == e[1].trainIdx && f.SecondDistance == e[1].distance));
      }
      EXPECT_EQ(differ, 0) << "of " << Query.rows << " rows against " << Train.rows
                           << (kernels == overlay::TKernels::Best ? "" : ", portable code");
    }
  };
  const cv::Mat park = LoadPhoto("Pixel_6_Pro_UltraHDR_04.jpg", 1400);
  ASSERT_FALSE(park.empty());
  cv::Mat grey, turned;
  cv::cvtColor(park, grey, cv::COLOR_BGR2GRAY);
  cv::warpAffine(grey, turned, cv::getRotationMatrix2D(cv::Point2f(700, 500), 7, 1.08),
                 grey.size());
  const cv::Ptr<cv::SIFT> sift = cv::SIFT::create(3000);
  std::vector<cv::KeyPoint> points;
  cv::Mat first, second;
  sift->detectAndCompute(grey, cv::noArray(), points, first);
  sift->detectAndCompute(turned, cv::noArray(), points, second);
  compare(second, first);

  std::mt19937 random(20261209);
  const auto whole = [&](int Rows, unsigned Top) {
    cv::Mat m(Rows, 128, CV_32F);
    for (float& v : cv::Mat_<float>(m)) v = float(random() % (Top + 1));
    return m;
  };
  compare(whole(301, 2), whole(177, 2));
  compare(whole(7, 255), whole(1, 255));
  cv::Mat fractions(51, 128, CV_32F);
  cv::randu(fractions, 0, 255);
  compare(fractions, whole(31, 255));
}

// The bundled sample pair: two frames of a focus stack, the second a little magnified.
TEST(AutoAlign, TheSamplePairAlignsWithinOneAndAHalfPixels) {
  const std::unique_ptr<TBitmap32> first =
      overlay::LoadPicture(Photo("NT96650_pcb_002.JPG")).Value();
  const std::unique_ptr<TBitmap32> second =
      overlay::LoadPicture(Photo("NT96650_pcb_004.JPG")).Value();
  ASSERT_TRUE(first != nullptr && second != nullptr);
  const overlay::TAutoAlignResult r = overlay::AutoAlign(*first, *second);
  ASSERT_TRUE(r.Reliable());
  EXPECT_LE(r.Nearest.Residual, 1.5);
  EXPECT_GT(r.Inliers, 100);
}

// However the work is split (the detection of both pictures at once, the reduction and the
// matcher over the engine's threads), the alignment comes out the same to the bit.
TEST(AutoAlign, OneEngineThreadOrTwoGiveTheSameFit) {
  const std::unique_ptr<TBitmap32> first =
      overlay::LoadPicture(Photo("NT96650_pcb_002.JPG")).Value();
  const std::unique_ptr<TBitmap32> second =
      overlay::LoadPicture(Photo("NT96650_pcb_004.JPG")).Value();
  ASSERT_TRUE(first != nullptr && second != nullptr);
  const int threads = raster::RasterThreadCount();
  raster::SetRasterThreadCount(1);
  const overlay::TAutoAlignResult alone = overlay::AutoAlign(*first, *second);
  raster::SetRasterThreadCount(2);
  const overlay::TAutoAlignResult split = overlay::AutoAlign(*first, *second);
  raster::SetRasterThreadCount(threads);
  ASSERT_TRUE(alone.Reliable() && split.Reliable());
  EXPECT_EQ(alone.Matches, split.Matches);
  EXPECT_EQ(alone.Inliers, split.Inliers);
  EXPECT_EQ(alone.Fit.A, split.Fit.A);
  EXPECT_EQ(alone.Fit.B, split.Fit.B);
  EXPECT_EQ(alone.Fit.Tx, split.Fit.Tx);
  EXPECT_EQ(alone.Fit.Ty, split.Fit.Ty);
}

// Photographs with nothing in common are refused, never aligned to nonsense.
TEST(AutoAlign, PicturesWithoutCommonContentAreRefused) {
  const cv::Mat board = LoadPhoto("NT96650_pcb_002.JPG", 2048);
  const cv::Mat sky = LoadPhoto("Pixel_6_Pro_UltraHDR_01.jpg", 2400);
  const cv::Mat park = LoadPhoto("Pixel_6_Pro_UltraHDR_04.jpg", 2400);
  ASSERT_FALSE(board.empty() || sky.empty() || park.empty());
  const std::vector<std::pair<const cv::Mat*, const cv::Mat*>> pairs = {
      {&board, &sky}, {&sky, &board}, {&board, &park}, {&sky, &park}, {&park, &sky}};
  for (const auto& [first, second] : pairs) {
    const overlay::TAutoAlignResult r = overlay::AutoAlign(*FromMat(*first), *FromMat(*second));
    EXPECT_FALSE(r.Reliable()) << "matches " << r.Matches << ", inliers " << r.Inliers;
  }
}

// A 12-megapixel photograph and its retake 888 pixels further right, far beyond the X slider's
// range: the window's alignment places the overlay there, the bar at its end, the read-out 888.
TEST(AutoAlign, AShiftBeyondTheSliderIsPlacedAndShown) {
  const cv::Mat photo = LoadPhoto("Pixel_6_Pro_UltraHDR_04.jpg", 4080);
  ASSERT_EQ(photo.cols, 4080);
  const int width = photo.cols - 888;
  overlay::TMainController c;
  std::unique_ptr<TBitmap32> one = FromMat(photo(cv::Rect(0, 0, width, photo.rows)).clone());
  std::unique_ptr<TBitmap32> two = FromMat(photo(cv::Rect(888, 0, width, photo.rows)).clone());
  c.SetImage1("one.jpg", *one);
  c.SetImage2("two.jpg", *two);
  std::uint64_t generation = 0;
  const std::unique_ptr<overlay::TAlignmentJob> job = c.PrepareAutoAlign(&generation);
  ASSERT_NE(job, nullptr);
  const overlay::TAutoAlignResult r = job->Run();
  ASSERT_TRUE(c.ApplyAutoAlign(r, generation)) << overlay::AlignFailureReason(r);
  EXPECT_NEAR(c.Placement().X, 888, 0.5);
  EXPECT_NEAR(c.Placement().Y, 0, 0.5);
  EXPECT_EQ(c.GaugeBar2().Position(), overlay::OffsetXSlider.Max);
  EXPECT_EQ(c.Text(overlay::TField::EditX),
            overlay::BetweenStepsMark + overlay::FormatDecimal(c.Placement().X, 1));
  EXPECT_NE(c.Text(overlay::TField::EditX).find("888"), std::string::npos);
}

// A refusal names its reason and figures after the general sentence: a picture without
// features, two photographs without anything in common, and a part of a photograph enlarged
// five times, so that the photograph itself would have to be enlarged beyond any bitmap (fewer
// consistent matches suffice there: features match poorly across such a scale).
TEST(AutoAlign, ARefusalSaysWhy) {
  const cv::Mat park = LoadPhoto("Pixel_6_Pro_UltraHDR_04.jpg", 4080);
  const cv::Mat board = LoadPhoto("NT96650_pcb_002.JPG", 2048);
  ASSERT_FALSE(park.empty() || board.empty());
  const cv::Mat plain(600, 800, CV_8UC3, cv::Scalar(0, 200, 230));
  cv::Mat enlarged;
  cv::resize(park(cv::Rect(1600, 1200, 816, 614)), enlarged, cv::Size(), 5, 5, cv::INTER_CUBIC);
  const struct {
    const cv::Mat *One, *Two;
    int MinInliers;
    overlay::TAlignFailure Failure;
  } cases[] = {{&plain, &plain, 20, overlay::TAlignFailure::TooFewMatches},
               {&board, &park, 20, overlay::TAlignFailure::Inconsistent},
               {&enlarged, &park, 10, overlay::TAlignFailure::TooLarge}};
  std::vector<std::string> reasons;
  for (const auto& c : cases) {
    overlay::TAutoAlignOptions options;
    options.MinInliers = c.MinInliers;
    const overlay::TAutoAlignResult r =
        overlay::AutoAlign(*FromMat(*c.One), *FromMat(*c.Two), options);
    EXPECT_EQ(r.Failure, c.Failure) << overlay::AlignFailureReason(r, options);
    const std::string general = overlay::Tr(overlay::NoReliableAlignmentText) + "\n";
    const std::string text = overlay::AlignRefusalText(r, ".", options);
    ASSERT_TRUE(text.starts_with(general)) << text;
    const std::string why = text.substr(general.size());
    const std::string figure = c.Failure == overlay::TAlignFailure::TooLarge
                                   ? overlay::FormatDecimal(r.Fit.Scale(), 4)
                                   : std::to_string(r.Inliers > 0 ? r.Inliers : r.Matches);
    EXPECT_NE(why.find(figure), std::string::npos) << why;
    EXPECT_EQ(std::count(reasons.begin(), reasons.end(), why), 0) << why;
    reasons.push_back(why);
  }
}

// The placement's mapping is where the rendered view really shows a point of picture 2: bright
// dots of picture 2 are found in the viewport at the predicted picture-1 positions, for turned,
// zoomed and shifted overlays.
TEST(AutoAlign, PlacementMappingIsWhereTheViewShowsPicture2) {
  TBitmap32 picture1, picture2;
  picture1.SetSize(420, 300);
  picture1.Clear(raster::Color32(0, 0, 0));
  picture2.SetSize(301, 201);
  picture2.Clear(raster::Color32(0, 0, 0));
  const std::vector<std::pair<int, int>> dots = {{40, 30}, {250, 60}, {150, 100}, {70, 170}};
  for (const auto& [x, y] : dots) {
    for (int j = -2; j <= 2; ++j) {
      for (int i = -2; i <= 2; ++i) picture2.SetPixel(x + i, y + j, raster::Color32(255, 255, 255));
    }
  }
  const std::vector<TPlacement> placements = {
      {0, 0, 0, 0}, {17, 35, -20, 0}, {-40, 10, 25, 150}, {90, 60, 40, -200}, {-163, 200, 120, 77}};
  for (const TPlacement& p : placements) {
    SCOPED_TRACE(::testing::Message()
                 << p.Angle << " " << p.OffsetX << " " << p.OffsetY << " " << p.OverlayZoom);
    overlay::TOverlayScene scene;
    TBitmap32 copy1, copy2;
    copy1.Assign(&picture1);
    copy2.Assign(&picture2);
    scene.Controller().SetImage1("1", copy1);
    scene.Controller().SetImage2("2", copy2);
    overlay::TSliderPositions s = scene.Sliders();
    s.Angle = p.Angle;
    s.OffsetX = p.OffsetX;
    s.OffsetY = p.OffsetY;
    s.OverlayZoom = p.OverlayZoom;
    s.Alpha = 255;
    scene.ApplySliders(s);
    const std::unique_ptr<TBitmap32> shot = scene.RenderViewport();
    const raster::TPoint origin = scene.View().BitmapToControl({0, 0});
    const raster::TRect viewport = scene.View().GetViewportRect();
    const raster::TFloatPoint centre = scene.RotLayer()->BitmapCenter();
    // And back: the similarity of this mapping gives this placement again. The truncated
    // sides make the mapping a little anisotropic, so a neighbouring zoom step or pixel may
    // come as close; the angle may not differ.
    TSimilarity fit;
    double x0, y0, x1, y1;
    overlay::PlacementMapping(p, picture2.Width(), picture2.Height(), centre, 0, 0, &x0, &y0);
    overlay::PlacementMapping(p, picture2.Width(), picture2.Height(), centre, 1000, 0, &x1, &y1);
    fit.A = (x1 - x0) / 1000;
    fit.B = (y1 - y0) / 1000;
    fit.Tx = x0;
    fit.Ty = y0;
    overlay::TPlacementFit nearest;
    ASSERT_EQ(overlay::NearestPlacement(fit, picture1.Width(), picture1.Height(), picture2.Width(),
                                        picture2.Height(), centre, &nearest),
              overlay::TAlignFailure::None);
    EXPECT_EQ(nearest.Placement.Angle, p.Angle);
    EXPECT_LE(std::abs(nearest.Placement.OverlayZoom - p.OverlayZoom), 1);
    EXPECT_LE(std::abs(nearest.Placement.OffsetX - p.OffsetX), 1);
    EXPECT_LE(std::abs(nearest.Placement.OffsetY - p.OffsetY), 1);
    EXPECT_LT(nearest.Residual, 0.5);
    for (const auto& [x, y] : dots) {
      double px, py;
      overlay::PlacementMapping(p, picture2.Width(), picture2.Height(), centre, x, y, &px, &py);
      // The centroid of the bright pixels around the predicted place, in picture-1 pixels.
      const double cx = px + origin.X - viewport.Left, cy = py + origin.Y - viewport.Top;
      double sum = 0, sx = 0, sy = 0;
      for (int j = int(cy) - 8; j <= int(cy) + 8; ++j) {
        for (int i = int(cx) - 8; i <= int(cx) + 8; ++i) {
          if (i < 0 || j < 0 || i >= shot->Width() || j >= shot->Height()) continue;
          const double v = raster::RedComponent(shot->GetPixel(i, j));
          sum += v;
          sx += v * i;
          sy += v * j;
        }
      }
      ASSERT_GT(sum, 0) << "no dot near (" << px << ", " << py << ")";
      EXPECT_NEAR(sx / sum, cx, 0.35);
      EXPECT_NEAR(sy / sum, cy, 0.35);
    }
  }
}

}  // namespace
