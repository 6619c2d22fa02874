// The automatic alignment's job: the pictures reduced, their features found and matched, the fit
// made and checked (auto_align_match.cpp, auto_align_fit.cpp).
#include "overlay/align/auto_align.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <exception>
#include <memory>
#include <opencv2/calib3d.hpp>
#include <opencv2/core.hpp>
#include <opencv2/features2d.hpp>
#include <vector>

#include "overlay/align/auto_align_p.h"
#include "raster/row_pool.h"

namespace overlay {

namespace {

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
  const int longest = std::max(w, h);
  if (longest <= LongestSide) {
    r.Grey.create(h, w, CV_8U);
    ReduceToGrey(Picture, w, h, r.Grey.data);
    return r;
  }
  const double f = double(LongestSide) / longest;
  const int rw = std::max(1, int(std::lround(w * f))), rh = std::max(1, int(std::lround(h * f)));
  r.Grey.create(rh, rw, CV_8U);
  ReduceToGrey(Picture, rw, rh, r.Grey.data);
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

// Runs Work for both pictures at once: the second on the engine's pool thread, whose heap keeps
// the detector's memory from one alignment to the next (a new thread each time would map it
// afresh). One after the other on the calling thread where the pool is busy or has no second
// thread.
template <typename TWork>
void ForBoth(TWork Work) {
  // Far above the pool's threshold for waking a thread: a picture is a lot of work.
  constexpr std::int64_t WorkPerPicture = std::int64_t(1) << 30;
  raster::ForRows(0, 2, WorkPerPicture, [&](std::int32_t First, std::int32_t Last) {
    for (int i = First; i < Last; ++i) Work(i);
  });
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
    // One picture after the other, each spread over the engine's threads.
    for (int i = 0; i < 2; ++i) {
      F->Reduced[i] = Reduce(i == 0 ? Picture1 : Picture2, Options.LongestSide);
    }
    F->Usable = true;
  } catch (const std::exception&) {
    // OpenCV reports its own failures (memory among them) as exceptions: no alignment.
    F->Result.Failure = TAlignFailure::Failed;
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
    // Both pictures at once: the detector builds its scale pyramid on one core and spreads
    // only the later steps over the others, so one picture alone leaves a core idle.
    ForBoth([&](int I) { features[I] = Detect(F->Reduced[I].Grey, options.MaxFeatures); });
    const TFeatures& f1 = features[0];
    const TFeatures& f2 = features[1];
    result.Times.Detection = Milliseconds(start);

    start = std::chrono::steady_clock::now();
    std::vector<cv::Point2f> from, to;  // picture 2, picture 1, at full size
    if (f1.Points.size() >= 2 && f2.Points.size() >= 2) {
      // SIFT's descriptors: a row of floats for each point, the rows one after the other.
      for (const TFeatures& f : features) {
        CV_Assert(f.Descriptors.type() == CV_32F && f.Descriptors.isContinuous() &&
                  f.Descriptors.rows == int(f.Points.size()));
      }
      const std::vector<TNearestTwo> nearest =
          NearestTwo(f2.Descriptors.ptr<float>(), f2.Descriptors.rows, f1.Descriptors.ptr<float>(),
                     f1.Descriptors.rows, f1.Descriptors.cols);
      for (std::size_t i = 0; i < nearest.size(); ++i) {
        const TNearestTwo& n = nearest[i];
        if (n.Second < 0 || !(n.FirstDistance < options.RatioTest * n.SecondDistance)) continue;
        double x2, y2, x1, y1;
        r2.ToFull(f2.Points[i].pt, &x2, &y2);
        r1.ToFull(f1.Points[std::size_t(n.First)].pt, &x1, &y1);
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
    result.Failure = TAlignFailure::Inconsistent;
    if (m.empty()) return result;
    result.Inliers = int(std::count(inliers.begin(), inliers.end(), 1));
    result.Fit.A = m.at<double>(0, 0);
    result.Fit.B = m.at<double>(1, 0);
    result.Fit.Tx = m.at<double>(0, 2);
    result.Fit.Ty = m.at<double>(1, 2);
    if (result.Inliers < options.MinInliers ||
        result.Inliers < options.MinInlierShare * result.Matches) {
      return result;
    }
    // What the overlay can show, whatever the sliders' ranges: the window places it precisely.
    const double scale = result.Fit.Scale();
    result.Precise = PreciseFit(result.Fit, F->W2, F->H2);
    if (!(scale >= MinPlacementZoom && scale <= MaxPlacementZoom)) {
      result.Failure = TAlignFailure::ZoomOutside;
      return result;
    }
    if (!PlacementFits(result.Precise, F->W2, F->H2)) {
      result.Failure = TAlignFailure::TooLarge;
      return result;
    }
    result.Failure =
        NearestPlacement(result.Fit, F->W1, F->H1, F->W2, F->H2, F->Center, &result.Nearest);
    // Far beyond any picture is no overlap either; PlacementFault says what is held at all.
    if (result.Reliable() && PlacementFault(result.Precise)) {
      result.Failure = TAlignFailure::NoOverlap;
    }
    if (result.Reliable()) {
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
    result.Failure = TAlignFailure::Failed;
  }
  return result;
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

}  // namespace overlay
