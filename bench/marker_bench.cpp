// The marker calibration of a 24-megapixel picture: a photo-like picture with a printed marker of
// 20 mm laid in, 400 pixels wide and tilted 25 degrees, as a close-up of a wound with a sticker
// beside it would show it. Calibration (detection, corner refinement, homography) and the
// straightening's resampling are timed apart; wall time on both cores.
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <opencv2/aruco.hpp>
#include <opencv2/imgproc.hpp>

#include "bench/bench_pictures.h"
#include "bench/registry.h"
#include "overlay/align/marker.h"
#include "raster/cpu.h"

namespace bench {

namespace {

const raster::TBitmap32& MarkedPicture() {
  static const std::unique_ptr<raster::TBitmap32> picture = [] {
    auto p = std::make_unique<raster::TBitmap32>();
    p->Assign(&Picture1());
    cv::Mat marker, bgra;
    cv::aruco::drawMarker(cv::aruco::getPredefinedDictionary(cv::aruco::DICT_4X4_50), 3, 480,
                          marker, 1);
    cv::copyMakeBorder(marker, marker, 120, 120, 120, 120, cv::BORDER_CONSTANT, 255);
    cv::cvtColor(marker, bgra, cv::COLOR_GRAY2BGRA);
    // The sheet's corners onto a quadrilateral foreshortened by about 25 degrees.
    const float s = float(marker.cols);
    const std::vector<cv::Point2f> from{{0, 0}, {s, 0}, {s, s}, {0, s}},
        to{{3000, 1800}, {3600, 1830}, {3560, 2370}, {3020, 2330}};
    const cv::Mat m = cv::getPerspectiveTransform(from, to);
    cv::Mat photo(p->Height(), p->Width(), CV_8UC4, p->Bits()), laid, mask;
    cv::warpPerspective(bgra, laid, m, photo.size(), cv::INTER_AREA);
    cv::warpPerspective(cv::Mat(marker.size(), CV_8UC1, cv::Scalar(255)), mask, m, photo.size(),
                        cv::INTER_AREA);
    laid.copyTo(photo, mask > 128);
    return p;
  }();
  return *picture;
}

void BM_MarkerCalibration24MP(benchmark::State& State) {
  raster::SetRasterThreadCount(2);
  const raster::TBitmap32& picture = MarkedPicture();
  for (auto _ : State) {
    const platform::TResult<overlay::TMarkerCalibration> found = overlay::FindMarker(picture);
    if (!found) {
      State.SkipWithError(found.Reason().c_str());
      break;
    }
    benchmark::DoNotOptimize(found.Value().Pp100MM);
  }
}

void BM_MarkerStraighten24MP(benchmark::State& State) {
  raster::SetRasterThreadCount(2);
  const raster::TBitmap32& picture = MarkedPicture();
  const platform::TResult<overlay::TMarkerCalibration> found = overlay::FindMarker(picture);
  if (!found) {
    State.SkipWithError(found.Reason().c_str());
    return;
  }
  for (auto _ : State) {
    const auto straight = overlay::StraightenPicture(picture, found.Value());
    benchmark::DoNotOptimize(bool(straight));
  }
}

}  // namespace

void RegisterMarkerBenchmarks() {
  benchmark::RegisterBenchmark("BM_MarkerCalibration24MP", BM_MarkerCalibration24MP)
      ->Unit(benchmark::kMillisecond)
      ->UseRealTime();
  benchmark::RegisterBenchmark("BM_MarkerStraighten24MP", BM_MarkerStraighten24MP)
      ->Unit(benchmark::kMillisecond)
      ->UseRealTime();
}

}  // namespace bench
