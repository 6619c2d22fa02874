// Bilinear resampling of a whole 24-megapixel picture, as the main window does for picture 2
// whenever the overlay zoom changes, against pixman resampling at the same sample positions.
// Reported as output pixels per second.
#include <benchmark/benchmark.h>

#include <map>
#include <mutex>
#include <string>

#include "bench/bench_pictures.h"
#include "bench/pixman_util.h"
#include "bench/registry.h"
#include "raster/core.h"
#include "raster/cpu.h"
#include "raster/transforms.h"

namespace bench {
namespace {

using namespace raster;

struct StretchCase {
  const char* Name;
  int Width, Height;
};
constexpr StretchCase kCases[] = {
    {"up150", kPictureWidth * 3 / 2, kPictureHeight * 3 / 2},
    {"down50", kPictureWidth / 2, kPictureHeight / 2},
};

TBitmap32& PrepareSource() {
  TBitmap32& Source = Picture2();
  Source.SetDrawMode(dmOpaque);
  Source.SetStretchFilter(sfLinear);
  // A bilinear stretch draws nothing from a source whose master alpha is 0.
  Source.SetMasterAlpha(255);
  return Source;
}

void EngineStretch(TBitmap32& Target, const TBitmap32& Source) {
  StretchTransfer(&Target, Target.BoundsRect(), &Source, Source.BoundsRect(), sfLinear, dmOpaque,
                  Source.OnPixelCombine);
}

class PixmanStretch {
 public:
  PixmanStretch(TBitmap32& Target, TBitmap32& Source)
      : FTarget(WrapBitmap(Target)),
        FSource(WrapBitmap(Source)),
        FTransform(LinearStretchTransform(Source.Width(), Source.Height(), Target.Width(),
                                          Target.Height())),
        FWidth(Target.Width()),
        FHeight(Target.Height()) {
    // Edge pixels repeat, as the engine's last row and column pair with themselves.
    pixman_image_set_repeat(FSource.get(), PIXMAN_REPEAT_PAD);
  }

  void Draw() {
    pixman_image_set_transform(FSource.get(), &FTransform);
    pixman_image_set_filter(FSource.get(), PIXMAN_FILTER_BILINEAR, nullptr, 0);
    pixman_image_composite32(PIXMAN_OP_SRC, FSource.get(), nullptr, FTarget.get(), 0, 0, 0, 0, 0, 0,
                             FWidth, FHeight);
  }

 private:
  PixmanImage FTarget, FSource;
  pixman_transform FTransform;
  int FWidth, FHeight;
};

void BM_StretchLinear(benchmark::State& State, StretchCase Case, int EngineThreads) {
  SetRasterThreadCount(EngineThreads);
  TBitmap32& Source = PrepareSource();
  TBitmap32 Target;
  Target.SetSize(Case.Width, Case.Height);
  EngineStretch(Target, Source);  // faults the fresh pages in, untimed
  for (auto _ : State) {
    EngineStretch(Target, Source);
    benchmark::DoNotOptimize(Target.PixelBuffer());
    benchmark::ClobberMemory();
  }
  State.SetItemsProcessed(State.iterations() * std::int64_t(Case.Width) * Case.Height);
}

// How far pixman's result is from the engine's, measured once per case.
double StretchDifference(const StretchCase& Case) {
  static std::mutex Lock;
  static std::map<std::string, double> Known;
  std::lock_guard<std::mutex> Guard(Lock);
  auto It = Known.find(Case.Name);
  if (It != Known.end()) return It->second;
  TBitmap32& Source = PrepareSource();
  TBitmap32 EngineTarget, PixmanTarget;
  EngineTarget.SetSize(Case.Width, Case.Height);
  PixmanTarget.SetSize(Case.Width, Case.Height);
  EngineStretch(EngineTarget, Source);
  PixmanStretch(PixmanTarget, Source).Draw();
  return Known[Case.Name] = MeanAbsDifference(EngineTarget, PixmanTarget);
}

void BM_StretchLinear_Pixman(benchmark::State& State, StretchCase Case) {
  TBitmap32& Source = PrepareSource();
  State.counters["mean_abs_diff_vs_engine"] = StretchDifference(Case);
  TBitmap32 Target;
  Target.SetSize(Case.Width, Case.Height);
  PixmanStretch Stretch(Target, Source);
  Stretch.Draw();
  for (auto _ : State) {
    Stretch.Draw();
    benchmark::DoNotOptimize(Target.PixelBuffer());
    benchmark::ClobberMemory();
  }
  State.SetItemsProcessed(State.iterations() * std::int64_t(Case.Width) * Case.Height);
}

}  // namespace

void RegisterStretchBenchmarks() {
  for (const StretchCase& Case : kCases) {
    const std::string Suffix = std::string("/") + Case.Name;
    benchmark::RegisterBenchmark(("BM_StretchLinear" + Suffix).c_str(), BM_StretchLinear, Case, 1)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("BM_StretchLinear_Pixman" + Suffix).c_str(),
                                 BM_StretchLinear_Pixman, Case)
        ->Unit(benchmark::kMillisecond);
  }
  for (const StretchCase& Case : kCases) {
    const std::string Name = std::string("BM_StretchLinear/") + Case.Name + "/engine_threads:2";
    benchmark::RegisterBenchmark(Name.c_str(), BM_StretchLinear, Case, 2)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
  }
}

}  // namespace bench
