// The overlay program's own paint path, end to end: the image view's paint stages with the
// rotation layer, a slider drag, the overlay-zoom rebuild and the Qt host's copy to the window.
// BM_ViewPaint uses the pictures and geometry of BM_OverlayFrame (raster_bench), so the two
// figures side by side show what the view, layer and stage machinery cost over the bare frame.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <memory>

#include "bench/bench_pictures.h"
#include "bench/pixman_util.h"
#include "bench/registry.h"
#include "overlay/scene/overlay_scene.h"
#include "platform/control_host.h"
#include "platform/pixel_memory.h"
#include "raster/core.h"
#include "raster/cpu.h"

namespace bench {
namespace {

using namespace raster;

// A view control whose viewport is full HD: the scroll-bar strips come on top.
constexpr int ViewportWidth = 1920;
constexpr int ViewportHeight = 1080;
constexpr int ViewWidth = ViewportWidth + TCustomImgView32::SystemScrollBarSize;
constexpr int ViewHeight = ViewportHeight + TCustomImgView32::SystemScrollBarSize;
constexpr int OverlayAngle = 7;
constexpr int OverlayAlpha = 120;

// Both pictures loaded as the main window loads them, picture 2 turned 7 degrees at opacity
// 120, the view at Scale. Built once per scale: loading copies 2 x 96 MB.
overlay::TOverlayScene& Scene(float Scale) {
  static std::unique_ptr<overlay::TOverlayScene> scene;
  if (!scene) {
    scene = std::make_unique<overlay::TOverlayScene>(ViewWidth, ViewHeight);
    scene->LoadImage1(Picture1());
    scene->LoadImage2(Picture2());
    scene->SetAngle(OverlayAngle);
    scene->SetAlpha(OverlayAlpha);
  }
  if (scene->View().Scale() != Scale) {
    // Directly, not through the slider: 0.27 lies between two slider steps.
    scene->View().SetScale(Scale);
    scene->Host().PaintNow();
  }
  return *scene;
}

void BM_ViewPaint(benchmark::State& State, float Scale) {
  SetRasterThreadCount(1);
  overlay::TOverlayScene& scene = Scene(Scale);
  scene.Host().PaintNow();  // sizes the buffer and touches everything once, untimed
  TImgView32& view = scene.View();
  for (auto _ : State) {
    // One full rebuild: clear background, picture 1, layers. Without the backdrop copy, as
    // after a change of picture 1, the zoom or the scroll position.
    view.InvalidateBackdrop();
    view.DoPaintBuffer();
    benchmark::DoNotOptimize(view.Buffer().PixelBuffer());
    benchmark::ClobberMemory();
  }
  State.counters["buffer_w"] = view.Buffer().Width();
  State.counters["buffer_h"] = view.Buffer().Height();
}

// What a user's drag of the angle slider costs: every change goes through the slider's handler
// to the layer, which invalidates the view; every paint rebuilds the buffer as the view sees fit
// and copies it to the (headless) window, scroll bars included.
void BM_SliderDrag(benchmark::State& State, int EngineThreads) {
  SetRasterThreadCount(EngineThreads);
  overlay::TOverlayScene& scene = Scene(0.27f);
  constexpr int Steps = 50;
  int angle = 0;
  for (auto _ : State) {
    for (int i = 0; i < Steps; ++i) {
      angle = angle >= 30 ? -30 : angle + 1;
      scene.SetAngle(angle);
      scene.Host().ProcessPaint();
    }
    benchmark::ClobberMemory();
  }
  State.counters["frames_per_second"] =
      benchmark::Counter(double(State.iterations()) * Steps, benchmark::Counter::kIsRate);
  scene.SetAngle(OverlayAngle);
}

constexpr float ZoomFactor = 1.5f;

void BM_OverlayZoomStep(benchmark::State& State) {
  SetRasterThreadCount(1);
  TBitmap32 original;
  original.Assign(&Picture2());
  original.SetDrawMode(dmOpaque);
  original.SetStretchFilter(sfLinear);
  TBitmap32 layerBitmap;
  layerBitmap.SetDrawMode(dmBlend);
  layerBitmap.SetMasterAlpha(OverlayAlpha);
  // One step untimed: the first zoom of a process maps fresh memory (its cost depends on the
  // machine's memory, on a virtual machine on the host's, far more than on the engine); the
  // later steps of a drag find the memory that the pixel allocator kept. The pixman twin, too,
  // writes its target once before it is timed.
  layerBitmap.SetSize(original.Width(), original.Height());
  overlay::RebuildOverlayBitmap(layerBitmap, original, ZoomFactor);
  for (auto _ : State) {
    // From the loaded size each time, as a slider step from 0 does: the size changes.
    State.PauseTiming();
    layerBitmap.SetSize(original.Width(), original.Height());
    State.ResumeTiming();
    overlay::RebuildOverlayBitmap(layerBitmap, original, ZoomFactor);
    benchmark::DoNotOptimize(layerBitmap.PixelBuffer());
  }
  State.counters["out_w"] = layerBitmap.Width();
  State.counters["out_h"] = layerBitmap.Height();
}

void BM_OverlayZoomStep_Pixman(benchmark::State& State) {
  TBitmap32& original = Picture2();
  const int w = int(original.Width() * ZoomFactor), h = int(original.Height() * ZoomFactor);
  TBitmap32 target;
  target.SetSize(w, h);
  // Edge pixels repeat as in the engine's stretch; the setup (row order, repeat mode) is
  // pixman's fastest for the same pixels, measured before the timing. Its first draw is the
  // untimed write of the target.
  PixmanTransformed stretch(original, target,
                            LinearStretchTransform(original.Width(), original.Height(), w, h),
                            PIXMAN_FILTER_BILINEAR);
  const TRect area = target.BoundsRect();
  const PixmanSetup setup = FastestSetup(
      SetupCandidates(PIXMAN_REPEAT_PAD),
      [&](const PixmanSetup& candidate) {
        if (!stretch.Use(candidate)) return false;
        stretch.Composite(PIXMAN_OP_SRC, nullptr, area);
        return true;
      },
      target);
  stretch.Use(setup);
  stretch.Composite(PIXMAN_OP_SRC, nullptr, area);
  for (auto _ : State) {
    stretch.Composite(PIXMAN_OP_SRC, nullptr, area);
    benchmark::DoNotOptimize(target.PixelBuffer());
  }
  State.counters["rows_bottom_up"] = setup.BottomUp;
  State.counters["repeat_pad"] = setup.Repeat == PIXMAN_REPEAT_PAD;
  // How close pixman's stretch is to the engine's, for the record.
  TBitmap32 engine;
  TBitmap32 copy;
  copy.Assign(&original);
  copy.SetDrawMode(dmOpaque);
  copy.SetStretchFilter(sfLinear);
  overlay::RebuildOverlayBitmap(engine, copy, ZoomFactor);
  State.counters["mean_abs_diff_vs_engine"] = MeanAbsDifference(engine, target);
}

// A control that shows one full-HD bitmap, as the view shows its buffer.
class TBufferControl : public TControl {
 public:
  TBufferControl() {
    FBuffer.SetSize(ViewportWidth, ViewportHeight);
    FillPhotoLike(FBuffer.PixelBuffer(), ViewportWidth, ViewportHeight, ViewportWidth, 7);
    SetBounds(0, 0, ViewportWidth, ViewportHeight);
  }
  void Paint() override { Blit(FBuffer, FBuffer.BoundsRect(), {0, 0}); }

 private:
  TBitmap32 FBuffer;
};

void BM_HostBlit(benchmark::State& State) {
  TBufferControl control;
  platform::TControlHostWidget host(control);
  QImage target(ViewportWidth, ViewportHeight, QImage::Format_RGB32);
  host.render(&target);
  for (auto _ : State) {
    host.render(&target);
    benchmark::DoNotOptimize(target.constBits());
  }
  State.counters["paints"] = host.PaintCount();
}

void RegisterViewBenchmarks() {
  benchmark::RegisterBenchmark("BM_ViewPaint/W1", BM_ViewPaint, 0.27f)
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("BM_ViewPaint/W1b", BM_ViewPaint, 1.0f)
      ->Unit(benchmark::kMillisecond);
  // Frames per second as the user sees them: by the wall clock.
  benchmark::RegisterBenchmark("BM_SliderDrag/angle", BM_SliderDrag, 1)
      ->Unit(benchmark::kMillisecond)
      ->Iterations(4)
      ->UseRealTime();
  benchmark::RegisterBenchmark("BM_SliderDrag/angle/engine_threads:2", BM_SliderDrag, 2)
      ->Unit(benchmark::kMillisecond)
      ->Iterations(4)
      ->UseRealTime();
  benchmark::RegisterBenchmark("BM_OverlayZoomStep", BM_OverlayZoomStep)
      ->Unit(benchmark::kMillisecond)
      ->Iterations(5);
  benchmark::RegisterBenchmark("BM_OverlayZoomStep_Pixman", BM_OverlayZoomStep_Pixman)
      ->Unit(benchmark::kMillisecond)
      ->Iterations(5);
  benchmark::RegisterBenchmark("BM_HostBlit", BM_HostBlit)->Unit(benchmark::kMillisecond);
}

}  // namespace
}  // namespace bench

int main(int argc, char** argv) {
  // The host benchmark needs a Qt application; the offscreen platform needs no display.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  // As the programs do, before the first bitmap (the pictures) is made.
  platform::InstallMappedPixelAllocator();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  bench::RegisterViewBenchmarks();
  bench::RegisterWindowBenchmarks();
  // The decoding baseline of the window's load benchmark, in the same run.
  bench::RegisterImportBenchmarks();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  bench::CloseBenchmarkWindow();
  return 0;
}
