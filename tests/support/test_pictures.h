// Pictures that tests make for themselves.
#pragma once

#include "raster/core.h"

namespace testsupport {

// W x H pixels whose colours vary with x, y and Seed, so that a pixel out of place shows.
inline void FillPattern(raster::TBitmap32& B, int W, int H, int Seed) {
  B.SetSize(W, H);
  for (int y = 0; y < H; ++y) {
    for (int x = 0; x < W; ++x) {
      B.SetPixel(x, y,
                 raster::Color32((x * 5 + Seed) & 255, (y * 3 + Seed * 7) & 255, (x ^ y) & 255));
    }
  }
}

}  // namespace testsupport
