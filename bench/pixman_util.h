// pixman twins of the engine's operations share the engine's pixel memory: a TBitmap32 is a
// flat 0xAARRGGBB array with a stride of Width * 4 bytes, which is pixman's a8r8g8b8.
#pragma once

#include <pixman.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "raster/core.h"

namespace bench {

struct PixmanImageRelease {
  void operator()(pixman_image_t* Image) const { pixman_image_unref(Image); }
};
using PixmanImage = std::unique_ptr<pixman_image_t, PixmanImageRelease>;

// The image refers to Bitmap's pixels; Bitmap must outlive it and keep its size.
PixmanImage WrapBitmap(raster::TBitmap32& Bitmap);
// The same pixels seen bottom up (negative stride): pixman's row y is the bitmap's row
// Height - 1 - y, so pixman visits the bitmap's rows from the last to the first.
PixmanImage WrapBitmapBottomUp(raster::TBitmap32& Bitmap);
PixmanImage SolidAlpha(std::uint8_t Alpha);

// pixman maps destination pixel centres (x + 0.5) to the source and its bilinear filter then
// steps back half a pixel, while the engine maps pixel corners. These build pixman transforms
// that sample the source at the same positions as the engine's 16.16 stretch steps, so that
// both sides do the same work and their results can be compared.
pixman_transform NearestStretchTransform(int SrcWidth, int SrcHeight, int DstWidth, int DstHeight);
pixman_transform LinearStretchTransform(int SrcWidth, int SrcHeight, int DstWidth, int DstHeight);

// How pixman is asked to do a transformed composite. Neither setting moves a sample: the row
// order only changes the order in which pixman visits the destination rows, and a repeat mode
// other than the twin's own is only used where it gives the very same pixels (every sample
// inside the picture).
struct PixmanSetup {
  bool BottomUp = false;
  pixman_repeat_t Repeat = PIXMAN_REPEAT_NONE;
};

// A bilinear (or other filtered) source composited into a bitmap under a transform that maps
// the bitmap's pixel centres to source positions, with source coordinates equal to destination
// coordinates. Both row orders use exactly the same 16.16 sample positions: the bottom-up view
// gets the transform composed with the row flip, which is exact in fixed point.
class PixmanTransformed {
 public:
  PixmanTransformed(raster::TBitmap32& Source, raster::TBitmap32& Target,
                    const pixman_transform& Transform, pixman_filter_t Filter);

  // False when the flipped transform does not fit 16.16 (the setup is then not usable).
  bool Use(const PixmanSetup& Setup);
  const PixmanSetup& Setup() const { return FSetup; }

  // Area in the target bitmap's coordinates.
  void Composite(pixman_op_t Op, pixman_image_t* Mask, const raster::TRect& Area);

 private:
  raster::TBitmap32& FTarget;
  PixmanImage FSource, FTopDown, FBottomUp;
  pixman_transform FTransform;
  pixman_filter_t FFilter;
  PixmanSetup FSetup;
};

// Which setup is pixman's fastest on this machine for one piece of work. The speed of a turned,
// downscaled source depends on the row order by a factor near two (the next destination row
// reads each source row a few cache lines to one side, and the processors prefetch one side
// only), and which order wins depends on the turn, the zoom and the processor, so it is
// measured rather than assumed. Draw(Setup) must redo the whole piece of work into Result;
// Candidates[0] is the reference, and a candidate whose Result differs from the reference in
// any pixel is dropped. The others are timed by thread CPU time, best of Runs each.
PixmanSetup FastestSetup(const std::vector<PixmanSetup>& Candidates,
                         const std::function<bool(const PixmanSetup&)>& Draw,
                         const raster::TBitmap32& Result, int Runs = 3);

// The twins' candidates: the reference (top down, Reference repeat), then the other row order
// and the other of PIXMAN_REPEAT_NONE / PIXMAN_REPEAT_PAD.
std::vector<PixmanSetup> SetupCandidates(pixman_repeat_t Reference);

// Mean absolute difference of the red, green and blue channels over two bitmaps of the same
// size (-1 when the sizes differ). A sanity figure: small values show that both sides drew the
// same picture at the same place.
double MeanAbsDifference(const raster::TBitmap32& A, const raster::TBitmap32& B);

}  // namespace bench
