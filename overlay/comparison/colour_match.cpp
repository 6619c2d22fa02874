#include "overlay/comparison/colour_match.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace overlay {

namespace {

bool Clipped(raster::TColor32 C) {
  for (int shift : {0, 8, 16}) {
    const int v = int((C >> shift) & 0xFF);
    if (v <= 4 || v >= 251) return true;
  }
  return false;
}

}  // namespace

TColourMatch FitColourMatch(const raster::TBitmap32& Picture1, const raster::TBitmap32& Picture2,
                            const TPrecisePlacement& Placement) {
  TColourMatch match;
  const int w1 = Picture1.Width(), h1 = Picture1.Height();
  const int w2 = Picture2.Width(), h2 = Picture2.Height();
  if (w1 <= 0 || h1 <= 0 || w2 <= 0 || h2 <= 0) return match;
  const int side = int(std::sqrt(double(ColourMatchSamples)));
  const int nx = std::min(w2, side), ny = std::min(h2, side);
  std::array<std::vector<int>, 3> one, two;
  for (auto* set : {&one, &two}) {
    for (auto& channel : *set) channel.reserve(std::size_t(nx) * ny);
  }
  for (int j = 0; j < ny; ++j) {
    const int y2 = int((std::int64_t(j) * 2 + 1) * h2 / (2 * ny));
    for (int i = 0; i < nx; ++i) {
      const int x2 = int((std::int64_t(i) * 2 + 1) * w2 / (2 * nx));
      double x1 = 0, y1 = 0;
      PreciseMapping(Placement, w2, h2, x2, y2, &x1, &y1);
      const long px = std::lround(x1), py = std::lround(y1);
      if (px < 0 || py < 0 || px >= w1 || py >= h1) continue;
      const raster::TColor32 c1 = Picture1.GetScanLine(std::int32_t(py))[px];
      const raster::TColor32 c2 = Picture2.GetScanLine(y2)[x2];
      if (Clipped(c1) || Clipped(c2)) continue;
      for (int c = 0; c < 3; ++c) {
        one[std::size_t(c)].push_back(int((c1 >> (8 * c)) & 0xFF));
        two[std::size_t(c)].push_back(int((c2 >> (8 * c)) & 0xFF));
      }
    }
  }
  // Fewer pairs than a small picture's worth say nothing reliable about the lighting.
  if (one[0].size() < 1000) return match;

  for (std::size_t c = 0; c < 3; ++c) {
    std::sort(one[c].begin(), one[c].end());
    std::sort(two[c].begin(), two[c].end());
    const std::size_t n = one[c].size();
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    int count = 0;
    for (int q = 2; q <= 98; ++q) {
      const std::size_t k = std::min(n - 1, std::size_t(double(n - 1) * q / 100.0 + 0.5));
      const double x = two[c][k], y = one[c][k];
      sx += x, sy += y, sxx += x * x, sxy += x * y, ++count;
    }
    const double var = sxx - sx * sx / count;
    double gain = var > 1e-9 ? (sxy - sx * sy / count) / var : 1.0;
    gain = std::clamp(gain, 0.25, 4.0);
    const double offset = (sy - gain * sx) / count;
    match.Gain[c] = gain;
    match.Offset[c] = offset;
    for (int v = 0; v < 256; ++v) {
      match.Luts.Table[c][std::size_t(v)] =
          std::uint8_t(std::clamp(std::lround(gain * v + offset), 0L, 255L));
    }
  }
  match.Fitted = true;
  return match;
}

}  // namespace overlay
