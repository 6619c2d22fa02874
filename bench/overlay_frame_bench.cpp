// One frame of the overlay program's view, composed the way the view paints it: clear the back
// buffer, draw picture 1 scaled with nearest sampling, then blend picture 2 turned, scaled and
// semi-transparent over it with bilinear sampling. The pixman twin composes the same frame
// (same rectangles, same sample positions, same pixel counts) as the baseline.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <map>
#include <mutex>
#include <numbers>
#include <string>
#include <vector>

#include "bench/bench_pictures.h"
#include "bench/pixman_util.h"
#include "bench/registry.h"
#include "controls/rot_layer.h"
#include "raster/channel_lut.h"
#include "raster/core.h"
#include "raster/cpu.h"
#include "raster/row_pool.h"
#include "raster/transforms.h"

namespace bench {
namespace {

using namespace raster;

// A full-HD view; the back buffer has the viewport's size.
constexpr int BufferWidth = 1920;
constexpr int BufferHeight = 1080;
// The main window's view colour (platform colour 4530208, i.e. R 0x20, G 0x20, B 0x45).
constexpr TColor32 Background = Color32(0x20, 0x20, 0x45);
constexpr std::uint8_t OverlayAlpha = 120;
constexpr float OverlayAngle = 7.0f;

struct FrameCase {
  const char* Name;
  float Scale;
};
// W1: both pictures fit the view (the usual overview); W1b: 1:1, the pictures are far larger
// than the view, so picture 1 is a clipped copy and picture 2 covers the whole buffer.
constexpr FrameCase Cases[] = {{"W1", 0.27f}, {"W1b", 1.0f}};

// Where the view puts the scaled picture 1: Round(picture size x Scale), centred. A picture
// smaller than the viewport sits at Round((viewport - size) / 2); a larger one, scrolled to its
// middle pixel, lands on the same place for these even sizes.
TRect Picture1Rect(const TBitmap32& Picture, float Scale) {
  const int W = int(std::lround(Picture.Width() * double(Scale)));
  const int H = int(std::lround(Picture.Height() * double(Scale)));
  const int Left = int(std::nearbyint((BufferWidth - W) / 2.0));
  const int Top = int(std::nearbyint((BufferHeight - H) / 2.0));
  return MakeRect(Left, Top, Left + W, Top + H);
}

void PreparePictures() {
  TBitmap32& P1 = Picture1();
  P1.SetDrawMode(dmOpaque);
  P1.SetStretchFilter(sfNearest);
  P1.SetMasterAlpha(255);
  TBitmap32& P2 = Picture2();
  P2.SetDrawMode(dmBlend);
  P2.SetStretchFilter(sfLinear);
  P2.SetMasterAlpha(OverlayAlpha);
}

// Picture 2 turned about its centre, scaled, and centred in the buffer. The source rectangle
// spans pixel centres, as the rotation layer sets it.
void BuildOverlayTransformation(TAffineTransformation& T, const TBitmap32& Picture, float Scale) {
  T.Clear();
  T.SetSrcRect(FloatRect(0, 0, float(Picture.Width() - 1), float(Picture.Height() - 1)));
  T.Translate(-float(Picture.Width() / 2), -float(Picture.Height() / 2));
  T.Rotate(0, 0, OverlayAngle);
  T.Scale(Scale, Scale);
  T.Translate(float(BufferWidth / 2), float(BufferHeight / 2));
}

void DrawEngineFrame(TBitmap32& Buffer, TAffineTransformation& T, float Scale) {
  const TBitmap32& P1 = Picture1();
  const TBitmap32& P2 = Picture2();
  Buffer.Clear(Background);
  P1.DrawTo(Buffer, Picture1Rect(P1, Scale));
  // Rebuilt every frame, as the rotation layer does before it paints.
  BuildOverlayTransformation(T, P2, Scale);
  raster::Transform(Buffer, P2, T);
}

// The engine's own destination area for picture 2, inclusive bounds: pixman composites exactly
// this rectangle so that both sides visit the same pixels.
TRect OverlayArea(float Scale) {
  TAffineTransformation T;
  BuildOverlayTransformation(T, Picture2(), Scale);
  TRect D;
  IntersectRect(D, T.GetTransformedBounds(), MakeRect(0, 0, BufferWidth - 1, BufferHeight - 1));
  return D;
}

// Destination pixel to picture-2 position for pixman, computed independently in double: the
// inverse of translate(-centre), rotate, scale, translate(buffer centre), shifted by half a
// pixel on both sides because pixman samples at pixel centres and its bilinear filter steps
// back half a pixel, while the engine maps pixel corners.
pixman_transform OverlayPixmanTransform(float Scale) {
  const TBitmap32& P2 = Picture2();
  const double A = double(OverlayAngle) * std::numbers::pi / 180.0;
  const double C = std::cos(A) / Scale, S = std::sin(A) / Scale;
  const double Mx = BufferWidth / 2, My = BufferHeight / 2;
  const double Cx = P2.Width() / 2, Cy = P2.Height() / 2;
  // Forward: x' = cos x + sin y, y' = -sin x + cos y (about the centre), so the inverse turns
  // the other way.
  const double M[2][3] = {{C, -S, Cx - C * Mx + S * My}, {S, C, Cy - S * Mx - C * My}};
  pixman_transform T;
  pixman_transform_init_identity(&T);
  for (int Row = 0; Row < 2; ++Row) {
    const double Shift = M[Row][2] + 0.5 - 0.5 * (M[Row][0] + M[Row][1]);
    T.matrix[Row][0] = pixman_fixed_t(std::lround(M[Row][0] * 65536.0));
    T.matrix[Row][1] = pixman_fixed_t(std::lround(M[Row][1] * 65536.0));
    T.matrix[Row][2] = pixman_fixed_t(std::lround(Shift * 65536.0));
  }
  return T;
}

// The pixman images of one frame, wrapping the engine's pixel memory. Picture 2 is drawn with
// the setup (row order, repeat mode) that FastestSetup found quickest for the same pixels.
class PixmanFrame {
 public:
  PixmanFrame(TBitmap32& Buffer, float Scale)
      : FBuffer(Buffer),
        FTarget(WrapBitmap(Buffer)),
        FPicture1(WrapBitmap(Picture1())),
        FPicture2(Picture2(), Buffer, OverlayPixmanTransform(Scale), PIXMAN_FILTER_BILINEAR),
        FMask(SolidAlpha(OverlayAlpha)),
        FRect1(Picture1Rect(Picture1(), Scale)),
        FArea2(OverlayArea(Scale)) {
    IntersectRect(FClip1, FRect1, Buffer.BoundsRect());
    if (FRect1.Width() != Picture1().Width() || FRect1.Height() != Picture1().Height()) {
      FTransform1 = NearestStretchTransform(Picture1().Width(), Picture1().Height(), FRect1.Width(),
                                            FRect1.Height());
      FScaled1 = true;
    }
    // The engine's area has inclusive bounds.
    if (!IsRectEmpty(FArea2)) ++FArea2.Right, ++FArea2.Bottom;
  }

  bool Use(const PixmanSetup& Setup) { return FPicture2.Use(Setup); }

  void Draw() {
    pixman_fill(FBuffer.PixelBuffer(), FBuffer.Width(), 32, 0, 0, FBuffer.Width(), FBuffer.Height(),
                Background);
    pixman_image_set_transform(FPicture1.get(), FScaled1 ? &FTransform1 : nullptr);
    pixman_image_set_filter(FPicture1.get(), PIXMAN_FILTER_NEAREST, nullptr, 0);
    pixman_image_composite32(PIXMAN_OP_SRC, FPicture1.get(), nullptr, FTarget.get(),
                             FClip1.Left - FRect1.Left, FClip1.Top - FRect1.Top, 0, 0, FClip1.Left,
                             FClip1.Top, FClip1.Width(), FClip1.Height());
    // Source coordinates equal destination coordinates: the transform does all the mapping.
    FPicture2.Composite(PIXMAN_OP_OVER, FMask.get(), FArea2);
  }

 private:
  TBitmap32& FBuffer;
  PixmanImage FTarget, FPicture1;
  PixmanTransformed FPicture2;
  PixmanImage FMask;
  TRect FRect1, FClip1, FArea2;
  pixman_transform FTransform1{};
  bool FScaled1 = false;
};

void BM_OverlayFrame(benchmark::State& State, float Scale, int EngineThreads,
                     TDrawMode OverlayMode) {
  SetRasterThreadCount(EngineThreads);
  PreparePictures();
  Picture2().SetDrawMode(OverlayMode);
  TBitmap32 Buffer;
  Buffer.SetSize(BufferWidth, BufferHeight);
  TAffineTransformation T;
  DrawEngineFrame(Buffer, T, Scale);  // first touch of the buffer and the pictures, untimed
  for (auto _ : State) {
    DrawEngineFrame(Buffer, T, Scale);
    benchmark::DoNotOptimize(Buffer.PixelBuffer());
    benchmark::ClobberMemory();
  }
}

// The comparison views' frames: the swipe and the checkerboard draw picture 2 opaque and give
// picture 1's pixels back outside their region (the rotation layer's own KeepOutsideRegion);
// the matched view draws picture 2 through the tables fitted once, so its frame is W1's.
enum class TComparison { Swipe, Checker, Matched, Side };

void BM_ComparisonFrame(benchmark::State& State, float Scale, TComparison Comparison) {
  SetRasterThreadCount(1);
  PreparePictures();
  TBitmap32 Buffer, Below;
  Buffer.SetSize(BufferWidth, BufferHeight);
  TAffineTransformation T;
  const TRect picture1 = Picture1Rect(Picture1(), Scale);
  TViewMapping mapping;
  mapping.ScaleX = mapping.ScaleY = TFixed(std::lround(Scale * 65536.0));
  mapping.ShiftX = picture1.Left;
  mapping.ShiftY = picture1.Top;
  TPaintRegion region;
  region.Kind = Comparison == TComparison::Swipe     ? TPaintRegion::prRightOf
                : Comparison == TComparison::Checker ? TPaintRegion::prChecker
                : Comparison == TComparison::Side    ? TPaintRegion::prSide
                                                     : TPaintRegion::prAll;
  region.Background = Background;
  region.Line = Picture1().Width() / 2.0;
  TBitmap32 matched;
  if (Comparison == TComparison::Matched) {
    matched.Assign(&Picture2());
    TChannelLuts luts = TChannelLuts::Identity();
    for (int v = 0; v < 256; ++v)
      luts.Table[2][std::size_t(v)] = std::uint8_t(std::min(255, v + 12));
    ApplyChannelLuts(matched, luts);
    matched.SetDrawMode(dmBlend);
    matched.SetStretchFilter(sfLinear);
    matched.SetMasterAlpha(OverlayAlpha);
  } else {
    Picture2().SetDrawMode(dmOpaque);
  }
  const TBitmap32& P2 = Comparison == TComparison::Matched ? matched : Picture2();
  const auto frame = [&] {
    Buffer.Clear(Background);
    Picture1().DrawTo(Buffer, picture1);
    if (region.Kind != TPaintRegion::prAll) {
      Below.SetSizeForOverwrite(BufferWidth, BufferHeight);
      std::memcpy(Below.PixelBuffer(), Buffer.PixelBuffer(),
                  std::size_t(BufferWidth) * BufferHeight * sizeof(TColor32));
    }
    BuildOverlayTransformation(T, P2, Scale);
    if (Comparison == TComparison::Side) {
      // As the layer paints it: the right half on the view's colour, the overlay half over.
      Buffer.FillRectS(BufferWidth / 2, 0, BufferWidth, BufferHeight, Background);
      T.Translate(float(BufferWidth / 2), 0);
    }
    raster::Transform(Buffer, P2, T);
    KeepOutsideRegion(Buffer, Below, region, mapping);
  };
  frame();
  for (auto _ : State) {
    frame();
    benchmark::DoNotOptimize(Buffer.PixelBuffer());
    benchmark::ClobberMemory();
  }
  Picture2().SetDrawMode(dmBlend);
}

struct PixmanFrameFacts {
  PixmanSetup Setup;
  double DifferenceVsEngine;
};

// pixman's fastest setup for the frame at Scale, and how far its frame is from the engine's;
// found once per scale, so that every repetition times the same calls.
const PixmanFrameFacts& FrameFacts(float Scale) {
  static std::mutex Lock;
  static std::map<float, PixmanFrameFacts> Known;
  std::lock_guard<std::mutex> Guard(Lock);
  auto It = Known.find(Scale);
  if (It != Known.end()) return It->second;
  TBitmap32 EngineBuffer, PixmanBuffer;
  EngineBuffer.SetSize(BufferWidth, BufferHeight);
  PixmanBuffer.SetSize(BufferWidth, BufferHeight);
  PixmanFrame Frame(PixmanBuffer, Scale);
  const PixmanSetup Setup = FastestSetup(
      SetupCandidates(PIXMAN_REPEAT_NONE),
      [&Frame](const PixmanSetup& Candidate) {
        if (!Frame.Use(Candidate)) return false;
        Frame.Draw();
        return true;
      },
      PixmanBuffer);
  Frame.Use(Setup);
  Frame.Draw();
  TAffineTransformation T;
  DrawEngineFrame(EngineBuffer, T, Scale);
  return Known[Scale] = {Setup, MeanAbsDifference(EngineBuffer, PixmanBuffer)};
}

void BM_OverlayFrame_Pixman(benchmark::State& State, float Scale) {
  PreparePictures();
  const PixmanFrameFacts& Facts = FrameFacts(Scale);
  State.counters["mean_abs_diff_vs_engine"] = Facts.DifferenceVsEngine;
  State.counters["rows_bottom_up"] = Facts.Setup.BottomUp;
  State.counters["repeat_pad"] = Facts.Setup.Repeat == PIXMAN_REPEAT_PAD;
  TBitmap32 Buffer;
  Buffer.SetSize(BufferWidth, BufferHeight);
  PixmanFrame Frame(Buffer, Scale);
  Frame.Use(Facts.Setup);
  Frame.Draw();
  for (auto _ : State) {
    Frame.Draw();
    benchmark::DoNotOptimize(Buffer.PixelBuffer());
    benchmark::ClobberMemory();
  }
}

// The memory floor of a W1 frame: the least a frame can cost is moving the bytes it must move,
// the buffer written once and every 64-byte line of both pictures that the frame samples read
// once. Which lines those are is worked out once, untimed, from the frame's own sampling: picture
// 1's nearest rows and columns at its rectangle's scale, and the four bilinear taps of every
// buffer pixel whose position the overlay's inverse mapping lays inside picture 2. The timed
// loop then only fills the buffer and loads one word of each line (which brings the whole line
// into the cache), both in address order and split over the engine's threads as a frame's rows
// are: the frame's time over this one is what the frame's arithmetic and its access order cost.
constexpr std::uintptr_t CacheLine = 64;

std::vector<const std::uint64_t*> SampledLines(float Scale) {
  std::vector<std::uintptr_t> lines;
  const auto mark = [&lines](const TBitmap32& Picture, std::int32_t X, std::int32_t Y) {
    X = std::clamp(X, 0, Picture.Width() - 1);
    Y = std::clamp(Y, 0, Picture.Height() - 1);
    lines.push_back(reinterpret_cast<std::uintptr_t>(Picture.GetScanLine(Y) + X) / CacheLine);
  };
  const TBitmap32& P1 = Picture1();
  TRect clip;
  const TRect rect1 = Picture1Rect(P1, Scale);
  IntersectRect(clip, rect1, MakeRect(0, 0, BufferWidth, BufferHeight));
  for (std::int32_t y = clip.Top; y < clip.Bottom; ++y) {
    const auto sy = std::int32_t(std::int64_t(y - rect1.Top) * P1.Height() / rect1.Height());
    for (std::int32_t x = clip.Left; x < clip.Right; ++x) {
      mark(P1, std::int32_t(std::int64_t(x - rect1.Left) * P1.Width() / rect1.Width()), sy);
    }
  }
  const TBitmap32& P2 = Picture2();
  TAffineTransformation T;
  BuildOverlayTransformation(T, P2, Scale);
  T.PrepareTransform();
  const TRect area = OverlayArea(Scale);
  for (std::int32_t y = area.Top; y <= area.Bottom; ++y) {
    for (std::int32_t x = area.Left; x <= area.Right; ++x) {
      std::int32_t sx, sy;
      T.Transform256(x, y, sx, sy);
      if (sx < 0 || sy < 0 || sx >= (P2.Width() - 1) * 256 || sy >= (P2.Height() - 1) * 256) {
        continue;
      }
      for (std::int32_t k = 0; k < 4; ++k) mark(P2, (sx >> 8) + (k & 1), (sy >> 8) + (k >> 1));
    }
  }
  std::sort(lines.begin(), lines.end());
  lines.erase(std::unique(lines.begin(), lines.end()), lines.end());
  std::vector<const std::uint64_t*> result;
  result.reserve(lines.size());
  for (const std::uintptr_t line : lines) {
    result.push_back(reinterpret_cast<const std::uint64_t*>(line * CacheLine));
  }
  return result;
}

void BM_MemoryFloor(benchmark::State& State, float Scale, int EngineThreads) {
  SetRasterThreadCount(EngineThreads);
  const std::vector<const std::uint64_t*> lines = SampledLines(Scale);
  TBitmap32 Buffer;
  Buffer.SetSize(BufferWidth, BufferHeight);
  // Parts of the work as the engine hands out rows: BufferHeight parts, each a row of the
  // buffer and its share of the lines.
  const std::size_t perPart = (lines.size() + BufferHeight - 1) / BufferHeight;
  std::atomic<std::uint64_t> seen{0};
  const auto pass = [&] {
    ForRows(0, BufferHeight, BufferWidth, [&](std::int32_t First, std::int32_t Last) {
      std::uint64_t sum = 0;
      std::fill_n(Buffer.GetScanLine(First), std::size_t(Last - First) * BufferWidth, Background);
      const std::size_t end = std::min(lines.size(), std::size_t(Last) * perPart);
      for (std::size_t i = std::size_t(First) * perPart; i < end; ++i) sum += *lines[i];
      seen += sum;
    });
  };
  pass();
  for (auto _ : State) {
    pass();
    benchmark::DoNotOptimize(Buffer.PixelBuffer());
    benchmark::ClobberMemory();
  }
  benchmark::DoNotOptimize(seen.load());
  State.counters["lines_read"] = double(lines.size());
  State.counters["mb_moved"] =
      (double(lines.size()) * CacheLine + double(BufferWidth) * BufferHeight * 4) / 1e6;
}

}  // namespace

void RegisterOverlayFrameBenchmarks() {
  for (const FrameCase& Case : Cases) {
    const std::string Suffix = std::string("/") + Case.Name;
    benchmark::RegisterBenchmark(("BM_OverlayFrame" + Suffix).c_str(), BM_OverlayFrame, Case.Scale,
                                 1, dmBlend)
        ->Unit(benchmark::kMillisecond);
    // The difference view: the same frame with the overlay drawn in dmDifference.
    benchmark::RegisterBenchmark(("BM_OverlayFrame" + Suffix + "_Difference").c_str(),
                                 BM_OverlayFrame, Case.Scale, 1, dmDifference)
        ->Unit(benchmark::kMillisecond);
    for (const auto& [name, comparison] :
         {std::pair{"_Swipe", TComparison::Swipe}, std::pair{"_Checker", TComparison::Checker},
          std::pair{"_Matched", TComparison::Matched}, std::pair{"_Side", TComparison::Side}}) {
      benchmark::RegisterBenchmark(("BM_OverlayFrame" + Suffix + name).c_str(), BM_ComparisonFrame,
                                   Case.Scale, comparison)
          ->Unit(benchmark::kMillisecond);
    }
    benchmark::RegisterBenchmark(("BM_OverlayFrame_Pixman" + Suffix).c_str(),
                                 BM_OverlayFrame_Pixman, Case.Scale)
        ->Unit(benchmark::kMillisecond);
  }
  benchmark::RegisterBenchmark("BM_MemoryFloor/W1", BM_MemoryFloor, Cases[0].Scale, 1)
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("BM_MemoryFloor/W1_2threads", BM_MemoryFloor, Cases[0].Scale, 2)
      ->Unit(benchmark::kMillisecond)
      ->UseRealTime();
  // The engine splits rows over its own threads; the calling thread's CPU time would hide the
  // helpers' work, so these are timed by the wall clock.
  for (const FrameCase& Case : Cases) {
    const std::string Name = std::string("BM_OverlayFrame/") + Case.Name + "/engine_threads:2";
    benchmark::RegisterBenchmark(Name.c_str(), BM_OverlayFrame, Case.Scale, 2, dmBlend)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
  }
}

}  // namespace bench
