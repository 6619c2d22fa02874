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
constexpr StretchCase Cases[] = {
    {"up150", PictureWidth * 3 / 2, PictureHeight * 3 / 2},
    {"down50", PictureWidth / 2, PictureHeight / 2},
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

// The whole target, drawn with the setup (row order, repeat mode) given to Use.
class PixmanStretch {
 public:
  PixmanStretch(TBitmap32& Target, TBitmap32& Source)
      : FStretch(Source, Target,
                 LinearStretchTransform(Source.Width(), Source.Height(), Target.Width(),
                                        Target.Height()),
                 PIXMAN_FILTER_BILINEAR),
        FArea(Target.BoundsRect()) {}

  bool Use(const PixmanSetup& Setup) { return FStretch.Use(Setup); }
  void Draw() { FStretch.Composite(PIXMAN_OP_SRC, nullptr, FArea); }

 private:
  PixmanTransformed FStretch;
  TRect FArea;
};

// Edge pixels repeat (PIXMAN_REPEAT_PAD), as the engine's last row and column pair with
// themselves; FastestSetup keeps another repeat mode only where it gives the same pixels.
PixmanSetup FastestStretchSetup(PixmanStretch& Stretch, const TBitmap32& Target) {
  return FastestSetup(
      SetupCandidates(PIXMAN_REPEAT_PAD),
      [&Stretch](const PixmanSetup& Candidate) {
        if (!Stretch.Use(Candidate)) return false;
        Stretch.Draw();
        return true;
      },
      Target);
}

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

struct PixmanStretchFacts {
  PixmanSetup Setup;
  double DifferenceVsEngine;
};

// pixman's fastest setup for the case and how far its result is from the engine's, found once
// per case, so that every repetition times the same calls.
const PixmanStretchFacts& StretchFacts(const StretchCase& Case) {
  static std::mutex Lock;
  static std::map<std::string, PixmanStretchFacts> Known;
  std::lock_guard<std::mutex> Guard(Lock);
  auto It = Known.find(Case.Name);
  if (It != Known.end()) return It->second;
  TBitmap32& Source = PrepareSource();
  TBitmap32 EngineTarget, PixmanTarget;
  EngineTarget.SetSize(Case.Width, Case.Height);
  PixmanTarget.SetSize(Case.Width, Case.Height);
  PixmanStretch Stretch(PixmanTarget, Source);
  const PixmanSetup Setup = FastestStretchSetup(Stretch, PixmanTarget);
  Stretch.Use(Setup);
  Stretch.Draw();
  EngineStretch(EngineTarget, Source);
  return Known[Case.Name] = {Setup, MeanAbsDifference(EngineTarget, PixmanTarget)};
}

void BM_StretchLinear_Pixman(benchmark::State& State, StretchCase Case) {
  TBitmap32& Source = PrepareSource();
  const PixmanStretchFacts& Facts = StretchFacts(Case);
  State.counters["mean_abs_diff_vs_engine"] = Facts.DifferenceVsEngine;
  State.counters["rows_bottom_up"] = Facts.Setup.BottomUp;
  State.counters["repeat_pad"] = Facts.Setup.Repeat == PIXMAN_REPEAT_PAD;
  TBitmap32 Target;
  Target.SetSize(Case.Width, Case.Height);
  PixmanStretch Stretch(Target, Source);
  Stretch.Use(Facts.Setup);
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
  for (const StretchCase& Case : Cases) {
    const std::string Suffix = std::string("/") + Case.Name;
    benchmark::RegisterBenchmark(("BM_StretchLinear" + Suffix).c_str(), BM_StretchLinear, Case, 1)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("BM_StretchLinear_Pixman" + Suffix).c_str(),
                                 BM_StretchLinear_Pixman, Case)
        ->Unit(benchmark::kMillisecond);
  }
  for (const StretchCase& Case : Cases) {
    const std::string Name = std::string("BM_StretchLinear/") + Case.Name + "/engine_threads:2";
    benchmark::RegisterBenchmark(Name.c_str(), BM_StretchLinear, Case, 2)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
  }
}

}  // namespace bench
