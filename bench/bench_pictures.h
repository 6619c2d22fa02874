// Deterministic photo-like test pictures shared by the benchmarks, generated once per process.
#pragma once

#include <cstddef>
#include <cstdint>

#include "raster/core.h"

namespace bench {

// The size of the pictures the overlay program is tuned for: a 24-megapixel camera frame.
constexpr int PictureWidth = 6000;
constexpr int PictureHeight = 4000;

// Fills Width x Height opaque 0xFFRRGGBB pixels (Stride elements per row) with smooth colour
// fields at three scales plus per-pixel grain, so that resampling and JPEG coding meet the
// mix of flat areas and fine detail that real photographs have. The same seed always gives
// the same pixels.
void FillPhotoLike(raster::TColor32* Pixels, int Width, int Height, std::ptrdiff_t Stride,
                   std::uint32_t Seed);

// Picture 1 and picture 2 of the overlay: similar but different photo-like pictures of
// PictureWidth x PictureHeight. Benchmarks set the draw mode, filter and master alpha they
// need before they use one.
raster::TBitmap32& Picture1();
raster::TBitmap32& Picture2();

}  // namespace bench
