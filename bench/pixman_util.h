// pixman twins of the engine's operations share the engine's pixel memory: a TBitmap32 is a
// flat 0xAARRGGBB array with a stride of Width * 4 bytes, which is pixman's a8r8g8b8.
#pragma once

#include <pixman.h>

#include <memory>

#include "raster/core.h"

namespace bench {

struct PixmanImageRelease {
  void operator()(pixman_image_t* Image) const { pixman_image_unref(Image); }
};
using PixmanImage = std::unique_ptr<pixman_image_t, PixmanImageRelease>;

// The image refers to Bitmap's pixels; Bitmap must outlive it and keep its size.
PixmanImage WrapBitmap(raster::TBitmap32& Bitmap);
PixmanImage SolidAlpha(std::uint8_t Alpha);

// pixman maps destination pixel centres (x + 0.5) to the source and its bilinear filter then
// steps back half a pixel, while the engine maps pixel corners. These build pixman transforms
// that sample the source at the same positions as the engine's 16.16 stretch steps, so that
// both sides do the same work and their results can be compared.
pixman_transform NearestStretchTransform(int SrcWidth, int SrcHeight, int DstWidth, int DstHeight);
pixman_transform LinearStretchTransform(int SrcWidth, int SrcHeight, int DstWidth, int DstHeight);

// Mean absolute difference of the red, green and blue channels over two bitmaps of the same
// size (-1 when the sizes differ). A sanity figure: small values show that both sides drew the
// same picture at the same place.
double MeanAbsDifference(const raster::TBitmap32& A, const raster::TBitmap32& B);

}  // namespace bench
