// The real main window under the offscreen platform: what a slider drag and loading a pair of
// camera pictures cost with every widget, host and read-out in the path. Compare with
// BM_SliderDrag/angle and BM_FreeImageLoadOnly of the same run.
#include <benchmark/benchmark.h>

#include <QImage>
#include <fstream>
#include <memory>
#include <string>

#include "bench/bench_pictures.h"
#include "bench/registry.h"
#include "overlay/windows/form_main.h"
#include "platform/control_host.h"
#include "raster/cpu.h"

namespace bench {
namespace {

using overlay::TFormMain;

// Peak resident memory of the process in MB, and its reset (Linux: writing 5 to clear_refs
// starts the peak afresh from the current resident size).
double PeakResidentMB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
  }
  return 0;
}
void ResetPeakResident() {
  std::ofstream("/proc/self/clear_refs") << "5";
}

// The window at its designed client size with both 6000 x 4000 pictures, the view at the
// zoom of BM_SliderDrag, built once (loading copies 2 x 96 MB).
std::unique_ptr<TFormMain>& SharedWindow() {
  static std::unique_ptr<TFormMain> window;
  return window;
}

TFormMain& Window() {
  std::unique_ptr<TFormMain>& window = SharedWindow();
  if (!window) {
    window = std::make_unique<TFormMain>();
    window->resize(overlay::MainClientWidth, overlay::MainClientHeight);
    window->show();
    raster::TBitmap32 one, two;
    one.Assign(&Picture1());
    two.Assign(&Picture2());
    window->Controller().SetImage1("picture1", one);
    window->Controller().SetImage2("picture2", two);
    window->Controller().GaugeAlpha().SetPosition(120);
    // Directly, not through the slider: 0.27 lies between two slider steps.
    window->Controller().ImgView().SetScale(0.27f);
  }
  return *window;
}

void BM_WindowSliderDrag(benchmark::State& State, int EngineThreads) {
  raster::SetRasterThreadCount(EngineThreads);
  TFormMain& w = Window();
  platform::TControlHostWidget& view = *w.ImgViewHost();
  QImage target(view.size(), QImage::Format_RGB32);
  view.render(&target);
  raster::TGaugeBar& angleBar = w.Controller().GaugeBar1();
  constexpr int Steps = 50;
  int angle = 0;
  for (auto _ : State) {
    for (int i = 0; i < Steps; ++i) {
      angle = angle >= 30 ? -30 : angle + 1;
      angleBar.SetPosition(angle);  // the handler turns the layer, which invalidates the view
      view.render(&target);
    }
    benchmark::DoNotOptimize(target.constBits());
  }
  State.counters["frames_per_second"] =
      benchmark::Counter(double(State.iterations()) * Steps, benchmark::Counter::kIsRate);
  State.counters["view_w"] = view.width();
  State.counters["view_h"] = view.height();
}

void BM_WindowLoadPair24MP(benchmark::State& State) {
  raster::SetRasterThreadCount(1);
  const std::string& one = JpegPath();
  const std::string& two = SecondJpegPath();
  if (one.empty() || two.empty()) {
    State.SkipWithError("could not write the test JPEGs");
    return;
  }
  double peakFirstLoad = 0;
  bool first = true;
  for (auto _ : State) {
    // A fresh window each time, as at a program start; building it is not timed.
    State.PauseTiming();
    auto w = std::make_unique<TFormMain>();
    w->resize(overlay::MainClientWidth, overlay::MainClientHeight);
    QImage target(w->ImgViewHost()->size(), QImage::Format_RGB32);
    if (first) ResetPeakResident();
    State.ResumeTiming();
    // As the window loads an interface file's pair: both at once.
    w->Controller().LoadBothImages(one, two, {});
    if (!w->Controller().Image1Loaded() || !w->Controller().Image2Loaded()) {
      State.SkipWithError("the window did not load the pictures");
      break;
    }
    w->ImgViewHost()->render(&target);  // the first frame
    benchmark::DoNotOptimize(target.constBits());
    State.PauseTiming();
    if (first) peakFirstLoad = PeakResidentMB();
    first = false;
    w.reset();
    State.ResumeTiming();
  }
  State.counters["peak_rss_mb_both_loaded"] = peakFirstLoad;
}

}  // namespace

void CloseBenchmarkWindow() {
  SharedWindow().reset();
}

void RegisterWindowBenchmarks() {
  benchmark::RegisterBenchmark("BM_WindowSliderDrag/angle", BM_WindowSliderDrag, 1)
      ->Unit(benchmark::kMillisecond)
      ->Iterations(4)
      ->UseRealTime();
  benchmark::RegisterBenchmark("BM_WindowSliderDrag/angle/engine_threads:2", BM_WindowSliderDrag, 2)
      ->Unit(benchmark::kMillisecond)
      ->Iterations(4)
      ->UseRealTime();
  benchmark::RegisterBenchmark("BM_WindowLoadPair24MP", BM_WindowLoadPair24MP)
      ->Unit(benchmark::kMillisecond)
      ->Iterations(3)
      ->UseRealTime();
}

}  // namespace bench
