// The automatic alignment of two 24-megapixel pictures: a real photograph enlarged to
// 6000 x 4000 as picture 1, and picture 2 the same turned by 7 degrees and enlarged by 8 %, as a
// second photograph of the same subject would be. Wall time on both cores, with the time of
// each stage as counters (milliseconds).
#include <benchmark/benchmark.h>

#include <memory>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <string>

#include "bench/bench_pictures.h"
#include "bench/registry.h"
#include "overlay/align/auto_align.h"
#include "overlay/comparison/colour_match.h"
#include "raster/channel_lut.h"
#include "raster/cpu.h"

namespace bench {

namespace {

std::unique_ptr<raster::TBitmap32> ToBitmap(const cv::Mat& Bgr) {
  auto b = std::make_unique<raster::TBitmap32>();
  b->SetSize(Bgr.cols, Bgr.rows);
  cv::Mat bgra(Bgr.rows, Bgr.cols, CV_8UC4, b->PixelBuffer(), std::size_t(Bgr.cols) * 4);
  cv::cvtColor(Bgr, bgra, cv::COLOR_BGR2BGRA);
  return b;
}

struct TPair {
  std::unique_ptr<raster::TBitmap32> First, Second;
};

const TPair& Pair() {
  static const TPair pair = [] {
    TPair p;
    const cv::Mat photo =
        cv::imread(std::string(TESSALY_TESTDATA) + "/photos-large/Pixel_6_Pro_UltraHDR_04.jpg");
    if (photo.empty()) return p;
    cv::Mat first, second;
    cv::resize(photo, first, cv::Size(PictureWidth, PictureHeight), 0, 0, cv::INTER_CUBIC);
    const cv::Mat turn =
        cv::getRotationMatrix2D(cv::Point2f(PictureWidth / 2.0f, PictureHeight / 2.0f), 7, 1.08);
    cv::warpAffine(first, second, turn, first.size(), cv::INTER_LINEAR, cv::BORDER_REFLECT);
    p.First = ToBitmap(first);
    p.Second = ToBitmap(second);
    return p;
  }();
  return pair;
}

void BM_AutoAlign24MP(benchmark::State& State) {
  raster::SetRasterThreadCount(2);
  const TPair& pair = Pair();
  if (pair.First == nullptr) {
    State.SkipWithError("the test photograph could not be read");
    return;
  }
  overlay::TAutoAlignTimes sum;
  int runs = 0;
  for (auto _ : State) {
    const overlay::TAutoAlignResult r = overlay::AutoAlign(*pair.First, *pair.Second);
    if (!r.Reliable()) {
      State.SkipWithError("no reliable alignment of the benchmark pair");
      break;
    }
    sum.Reduction += r.Times.Reduction;
    sum.Detection += r.Times.Detection;
    sum.Matching += r.Times.Matching;
    sum.Fit += r.Times.Fit;
    ++runs;
  }
  if (runs > 0) {
    State.counters["reduction_ms"] = sum.Reduction / runs;
    State.counters["detection_ms"] = sum.Detection / runs;
    State.counters["matching_ms"] = sum.Matching / runs;
    State.counters["fit_ms"] = sum.Fit / runs;
  }
}

// A refit of the colour matching on two 24-megapixel pictures at the sample pair's placement:
// the fit, and picture 2's copy made again through the fitted tables. Wall time on both cores.
void BM_ColourMatchFit(benchmark::State& State) {
  raster::SetRasterThreadCount(2);
  const raster::TBitmap32& one = Picture1();
  const raster::TBitmap32& two = Picture2();
  const overlay::TPrecisePlacement sample{-0.016, 0.9650557, 38.6, 35.26};
  raster::TBitmap32 copy;
  for (auto _ : State) {
    const overlay::TColourMatch match = overlay::FitColourMatch(one, two, sample);
    copy.Assign(&two);
    raster::ApplyChannelLuts(copy, match.Luts);
    benchmark::DoNotOptimize(copy.PixelBuffer());
  }
}

}  // namespace

void RegisterAlignBenchmarks() {
  benchmark::RegisterBenchmark("BM_ColourMatchFit", BM_ColourMatchFit)
      ->Unit(benchmark::kMillisecond)
      ->UseRealTime();
  benchmark::RegisterBenchmark("BM_AutoAlign24MP", BM_AutoAlign24MP)
      ->Unit(benchmark::kMillisecond)
      ->UseRealTime();
}

}  // namespace bench
