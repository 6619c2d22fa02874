#include "overlay/scene/auto_align.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <exception>
#include <numbers>
#include <opencv2/calib3d.hpp>
#include <opencv2/core.hpp>
#include <opencv2/features2d.hpp>
#include <opencv2/imgproc.hpp>
#include <thread>
#include <vector>

#include "controls/rot_layer.h"

namespace overlay {

namespace {

constexpr double Pi = std::numbers::pi;

double StretchFactor(int Loaded, int Zoomed) {
  return OverlayStretchFactor(Loaded, Zoomed);
}

// Points of picture 2 on a grid, kept where the fit lays them on picture 1: the overlap over
// which a placement is judged.
constexpr int OverlapGrid = 33;
constexpr int MinOverlapPoints = 12;

struct TSample {
  double X2, Y2, X1, Y1;  // a point of picture 2 and where the fit puts it
};

std::vector<TSample> OverlapSamples(const TSimilarity& Fit, int Width1, int Height1, int Width2,
                                    int Height2) {
  std::vector<TSample> samples;
  for (int j = 0; j < OverlapGrid; ++j) {
    for (int i = 0; i < OverlapGrid; ++i) {
      TSample s{};
      s.X2 = (Width2 - 1) * double(i) / (OverlapGrid - 1);
      s.Y2 = (Height2 - 1) * double(j) / (OverlapGrid - 1);
      Fit.Map(s.X2, s.Y2, &s.X1, &s.Y1);
      if (s.X1 >= -0.5 && s.X1 <= Width1 - 0.5 && s.Y1 >= -0.5 && s.Y1 <= Height1 - 0.5) {
        samples.push_back(s);
      }
    }
  }
  return samples;
}

double Milliseconds(std::chrono::steady_clock::time_point Since) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - Since)
      .count();
}

// A reduced grey copy for the detector, and how its pixels map back.
struct TReduced {
  cv::Mat Grey;
  double ScaleX = 1, ScaleY = 1;  // reduced pixels per full-size pixel
  void ToFull(const cv::Point2f& P, double* X, double* Y) const {
    // Area reduction keeps the pixel areas aligned: a reduced centre (i + 0.5) / scale - 0.5.
    *X = (P.x + 0.5) / ScaleX - 0.5;
    *Y = (P.y + 0.5) / ScaleY - 0.5;
  }
};

TReduced Reduce(const raster::TBitmap32& Picture, int LongestSide) {
  TReduced r;
  const int w = Picture.Width(), h = Picture.Height();
  // The engine's pixels are B, G, R, A bytes in memory; the alpha byte plays no part.
  const cv::Mat bgra(h, w, CV_8UC4, const_cast<raster::TColor32*>(Picture.PixelBuffer()),
                     std::size_t(w) * 4);
  cv::Mat grey;
  cv::cvtColor(bgra, grey, cv::COLOR_BGRA2GRAY);
  const int longest = std::max(w, h);
  if (longest <= LongestSide) {
    r.Grey = std::move(grey);
    return r;
  }
  const double f = double(LongestSide) / longest;
  const int rw = std::max(1, int(std::lround(w * f))), rh = std::max(1, int(std::lround(h * f)));
  cv::resize(grey, r.Grey, cv::Size(rw, rh), 0, 0, cv::INTER_AREA);
  r.ScaleX = double(rw) / w;
  r.ScaleY = double(rh) / h;
  return r;
}

struct TFeatures {
  std::vector<cv::KeyPoint> Points;
  cv::Mat Descriptors;
};

TFeatures Detect(const cv::Mat& Grey, int MaxFeatures) {
  TFeatures f;
  cv::Ptr<cv::SIFT> sift = cv::SIFT::create(MaxFeatures);
  sift->detectAndCompute(Grey, cv::noArray(), f.Points, f.Descriptors);
  return f;
}

// Runs Work for both pictures at once (the reduction: its colour conversion and area resize
// leave a core idle in places).
template <typename TWork>
void ForBoth(TWork Work) {
  std::exception_ptr failure;
  std::thread second([&] {
    try {
      Work(1);
    } catch (...) {
      failure = std::current_exception();
    }
  });
  try {
    Work(0);
  } catch (...) {
    second.join();
    throw;
  }
  second.join();
  if (failure) std::rethrow_exception(failure);
}

}  // namespace

struct TAlignmentJob::TData {
  TAutoAlignOptions Options;
  raster::TFloatPoint Center;
  int W1 = 0, H1 = 0, W2 = 0, H2 = 0;
  TReduced Reduced[2];
  bool Usable = false;
  TAutoAlignResult Result;
};

TAlignmentJob::TAlignmentJob(const raster::TBitmap32& Picture1, const raster::TBitmap32& Picture2,
                             raster::TFloatPoint Center, const TAutoAlignOptions& Options)
    : F(std::make_unique<TData>()) {
  F->Options = Options;
  F->Center = Center;
  if (Picture1.Empty() || Picture2.Empty()) return;
  F->W1 = Picture1.Width();
  F->H1 = Picture1.Height();
  F->W2 = Picture2.Width();
  F->H2 = Picture2.Height();
  const auto start = std::chrono::steady_clock::now();
  try {
    ForBoth(
        [&](int I) { F->Reduced[I] = Reduce(I == 0 ? Picture1 : Picture2, Options.LongestSide); });
    F->Usable = true;
  } catch (const std::exception&) {
    // OpenCV reports its own failures (memory among them) as exceptions: no alignment.
  }
  F->Result.Times.Reduction = Milliseconds(start);
}

TAlignmentJob::~TAlignmentJob() = default;

TAutoAlignResult TAlignmentJob::Run() {
  TAutoAlignResult& result = F->Result;
  if (!F->Usable) return result;
  F->Usable = false;
  try {
    const TAutoAlignOptions& options = F->Options;
    const TReduced& r1 = F->Reduced[0];
    const TReduced& r2 = F->Reduced[1];
    auto start = std::chrono::steady_clock::now();
    TFeatures features[2];
    // One picture after the other: the detector spreads its own work over the cores, and two
    // at once only fight over them and over memory (757 ms against 964 ms for the 24-megapixel
    // pair).
    for (int i = 0; i < 2; ++i) features[i] = Detect(F->Reduced[i].Grey, options.MaxFeatures);
    const TFeatures& f1 = features[0];
    const TFeatures& f2 = features[1];
    result.Times.Detection = Milliseconds(start);

    start = std::chrono::steady_clock::now();
    std::vector<cv::Point2f> from, to;  // picture 2, picture 1, at full size
    if (f1.Points.size() >= 2 && f2.Points.size() >= 2) {
      cv::BFMatcher matcher(cv::NORM_L2);
      std::vector<std::vector<cv::DMatch>> pairs;
      matcher.knnMatch(f2.Descriptors, f1.Descriptors, pairs, 2);
      for (const std::vector<cv::DMatch>& m : pairs) {
        if (m.size() < 2 || !(m[0].distance < options.RatioTest * m[1].distance)) continue;
        double x2, y2, x1, y1;
        r2.ToFull(f2.Points[std::size_t(m[0].queryIdx)].pt, &x2, &y2);
        r1.ToFull(f1.Points[std::size_t(m[0].trainIdx)].pt, &x1, &y1);
        from.emplace_back(float(x2), float(y2));
        to.emplace_back(float(x1), float(y1));
      }
    }
    result.Matches = int(from.size());
    result.Times.Matching = Milliseconds(start);

    start = std::chrono::steady_clock::now();
    if (result.Matches < options.MinInliers) {
      result.Times.Fit = Milliseconds(start);
      return result;
    }
    // Three reduced pixels of picture 1, as full-size pixels.
    const double threshold = 3.0 / std::min(r1.ScaleX, r1.ScaleY);
    std::vector<unsigned char> inliers;
    const cv::Mat m =
        cv::estimateAffinePartial2D(from, to, inliers, cv::RANSAC, threshold, 5000, 0.999, 20);
    result.Times.Fit = Milliseconds(start);
    if (m.empty()) return result;
    result.Inliers = int(std::count(inliers.begin(), inliers.end(), 1));
    result.Fit.A = m.at<double>(0, 0);
    result.Fit.B = m.at<double>(1, 0);
    result.Fit.Tx = m.at<double>(0, 2);
    result.Fit.Ty = m.at<double>(1, 2);
    if (result.Inliers < options.MinInliers ||
        result.Inliers < options.MinInlierShare * result.Matches || !(result.Fit.Scale() > 0)) {
      return result;
    }
    result.Failure =
        NearestPlacement(result.Fit, F->W1, F->H1, F->W2, F->H2, F->Center, &result.Nearest);
    if (result.Reliable()) {
      result.Precise = PreciseFit(result.Fit, F->W2, F->H2);
      const std::vector<TSample> samples = OverlapSamples(result.Fit, F->W1, F->H1, F->W2, F->H2);
      double sum = 0;
      for (const TSample& t : samples) {
        double x1, y1;
        PreciseMapping(result.Precise, F->W2, F->H2, t.X2, t.Y2, &x1, &y1);
        sum += (x1 - t.X1) * (x1 - t.X1) + (y1 - t.Y1) * (y1 - t.Y1);
      }
      result.PreciseResidual = std::sqrt(sum / double(samples.size()));
    }
  } catch (const std::exception&) {
    result.Failure = TAlignFailure::TooFewMatches;
  }
  return result;
}

double TSimilarity::Scale() const {
  return std::hypot(A, B);
}

double TSimilarity::AngleDegrees() const {
  // The fit turns by atan2(B, A) in Y-down coordinates, which is clockwise on the screen.
  return -std::atan2(B, A) * 180 / Pi;
}

void TSimilarity::Map(double X2, double Y2, double* X1, double* Y1) const {
  *X1 = A * X2 - B * Y2 + Tx;
  *Y1 = B * X2 + A * Y2 + Ty;
}

void PlacementMapping(const TPlacement& Placement, int Width2, int Height2,
                      raster::TFloatPoint Center, double X2, double Y2, double* X1, double* Y1) {
  const raster::TSize zoomed =
      OverlayZoomSize(Width2, Height2, OverlayZoomFactor(Placement.OverlayZoom));
  const double bx = X2 * StretchFactor(Width2, zoomed.cx);
  const double by = Y2 * StretchFactor(Height2, zoomed.cy);
  // The rotation layer's own matrix, so that the fit judges exactly where the view draws.
  raster::TAffineTransformation t;
  raster::SetRotLayerPlacement(
      t, Center, float(Placement.Angle),
      OverlayPosition(Placement.OffsetX, Placement.OffsetY, Width2, Height2));
  const raster::TFloatMatrix& m = t.Matrix;
  *X1 = m[0][0] * bx + m[1][0] * by + m[2][0];
  *Y1 = m[0][1] * bx + m[1][1] * by + m[2][1];
}

TPrecisePlacement PreciseFit(const TSimilarity& Fit, int Width2, int Height2) {
  const raster::TFloatPoint middle{float(Width2 / 2), float(Height2 / 2)};
  double x1, y1;
  Fit.Map(middle.X, middle.Y, &x1, &y1);
  return PlacementThrough(Fit.AngleDegrees(), float(Fit.Scale()), Width2, Height2,
                          {float(x1), float(y1)}, middle);
}

TAlignFailure NearestPlacement(const TSimilarity& Fit, int Width1, int Height1, int Width2,
                               int Height2, raster::TFloatPoint Center, TPlacementFit* Out) {
  if (Width1 <= 0 || Height1 <= 0 || Width2 <= 0 || Height2 <= 0 || !(Fit.Scale() > 0)) {
    return TAlignFailure::NoOverlap;
  }
  const std::vector<TSample> samples = OverlapSamples(Fit, Width1, Height1, Width2, Height2);
  if (samples.size() < std::size_t(MinOverlapPoints)) return TAlignFailure::NoOverlap;

  // The zoom steps and degrees around the fit's; for each pair the best shift in whole pixels
  // is the rounded mean of what remains, as the distance is a sum of squares in X and in Y.
  const double zoom = std::log10(Fit.Scale()) * 1000;
  const double angle = Fit.AngleDegrees();
  if (!std::isfinite(zoom) || !std::isfinite(angle)) return TAlignFailure::OutOfRange;
  const int z0 = int(std::floor(zoom)), a0 = int(std::floor(angle));
  bool found = false;
  TPlacementFit best;
  double bestApart = 0;
  std::vector<double> dx(samples.size()), dy(samples.size());
  for (int z = z0 - 1; z <= z0 + 2; ++z) {
    if (!OverlayZoomSlider.Contains(z)) continue;
    for (int a = a0 - 1; a <= a0 + 2; ++a) {
      TPlacement p;
      p.OverlayZoom = z;
      p.Angle = a > 180 ? a - 360 : a < -180 ? a + 360 : a;
      double sumX = 0, sumY = 0;
      for (std::size_t i = 0; i < samples.size(); ++i) {
        double x1, y1;
        PlacementMapping(p, Width2, Height2, Center, samples[i].X2, samples[i].Y2, &x1, &y1);
        dx[i] = samples[i].X1 - x1;
        dy[i] = samples[i].Y1 - y1;
        sumX += dx[i];
        sumY += dy[i];
      }
      const double ox = std::round(sumX / double(samples.size()));
      const double oy = std::round(sumY / double(samples.size()));
      if (!(std::abs(ox) <= OffsetXSlider.Max) || !(std::abs(oy) <= OffsetYSlider.Max)) continue;
      p.OffsetX = int(ox);
      p.OffsetY = int(oy);
      double sum = 0;
      for (std::size_t i = 0; i < samples.size(); ++i) {
        sum += (dx[i] - ox) * (dx[i] - ox) + (dy[i] - oy) * (dy[i] - oy);
      }
      const double residual = std::sqrt(sum / double(samples.size()));
      // Zoom steps a truncated size cannot tell apart map alike; of those the nearer step to
      // the fit's is taken.
      const double apart = std::abs(z - zoom) + std::abs(a - angle);
      if (!found || residual < best.Residual - 1e-9 ||
          (residual <= best.Residual + 1e-9 && apart < bestApart)) {
        best = {p, residual};
        bestApart = apart;
        found = true;
      }
    }
  }
  if (!found) return TAlignFailure::OutOfRange;
  *Out = best;
  return TAlignFailure::None;
}

TAutoAlignResult AutoAlign(const raster::TBitmap32& Picture1, const raster::TBitmap32& Picture2,
                           raster::TFloatPoint Center, const TAutoAlignOptions& Options) {
  return TAlignmentJob(Picture1, Picture2, Center, Options).Run();
}

TAutoAlignResult AutoAlign(const raster::TBitmap32& Picture1, const raster::TBitmap32& Picture2,
                           const TAutoAlignOptions& Options) {
  return AutoAlign(Picture1, Picture2, {float(Picture2.Width() / 2), float(Picture2.Height() / 2)},
                   Options);
}

std::string FormatFixed(double Value, int Decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", Decimals, Value);
  std::string out = text;
  std::replace(out.begin(), out.end(), ',', '.');
  return out;
}

std::string FormatExact(double Value) {
  char text[64];
  const auto [end, ec] = std::to_chars(text, text + sizeof text, Value);
  return ec == std::errc() ? std::string(text, end) : FormatFixed(Value, 17);
}

}  // namespace overlay
