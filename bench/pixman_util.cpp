#include "bench/pixman_util.h"

#include <cstdint>
#include <cstdlib>

namespace bench {

PixmanImage WrapBitmap(raster::TBitmap32& Bitmap) {
  return PixmanImage(pixman_image_create_bits(PIXMAN_a8r8g8b8, Bitmap.Width(), Bitmap.Height(),
                                              Bitmap.PixelBuffer(), Bitmap.Width() * 4));
}

PixmanImage SolidAlpha(std::uint8_t Alpha) {
  // pixman colours are 16 bits per channel; 257 widens 8 bits exactly.
  const pixman_color_t Color = {0, 0, 0, std::uint16_t(Alpha * 257)};
  return PixmanImage(pixman_image_create_solid_fill(&Color));
}

namespace {

pixman_transform ScaleAndShift(pixman_fixed_t Sx, pixman_fixed_t Tx, pixman_fixed_t Sy,
                               pixman_fixed_t Ty) {
  pixman_transform T;
  pixman_transform_init_identity(&T);
  T.matrix[0][0] = Sx;
  T.matrix[0][2] = Tx;
  T.matrix[1][1] = Sy;
  T.matrix[1][2] = Ty;
  return T;
}

}  // namespace

pixman_transform NearestStretchTransform(int SrcWidth, int SrcHeight, int DstWidth, int DstHeight) {
  // The engine samples column (x * Step) >> 16 with Step = (SW << 16) div DW. pixman samples
  // floor(T(x + 0.5) - 1/65536); shifting back by half a step and forward by two 16.16 units
  // gives the engine's column without pixman stepping to -1 at x = 0.
  const pixman_fixed_t Sx = pixman_fixed_t((std::int64_t(SrcWidth) << 16) / DstWidth);
  const pixman_fixed_t Sy = pixman_fixed_t((std::int64_t(SrcHeight) << 16) / DstHeight);
  return ScaleAndShift(Sx, 2 - Sx / 2, Sy, 2 - Sy / 2);
}

pixman_transform LinearStretchTransform(int SrcWidth, int SrcHeight, int DstWidth, int DstHeight) {
  // The engine's bilinear steps span SW - 1 source pixels over DW destination pixels, starting
  // on the first pixel centre: position x * Step. pixman's filter reads T(x + 0.5) - 0.5.
  const pixman_fixed_t Sx = pixman_fixed_t((std::int64_t(SrcWidth - 1) << 16) / DstWidth);
  const pixman_fixed_t Sy = pixman_fixed_t((std::int64_t(SrcHeight - 1) << 16) / DstHeight);
  return ScaleAndShift(Sx, pixman_fixed_1 / 2 - Sx / 2, Sy, pixman_fixed_1 / 2 - Sy / 2);
}

double MeanAbsDifference(const raster::TBitmap32& A, const raster::TBitmap32& B) {
  if (A.Width() != B.Width() || A.Height() != B.Height()) return -1;
  const std::size_t Count = std::size_t(A.Width()) * std::size_t(A.Height());
  if (Count == 0) return 0;
  const raster::TColor32* Pa = A.PixelBuffer();
  const raster::TColor32* Pb = B.PixelBuffer();
  std::uint64_t Sum = 0;
  for (std::size_t I = 0; I < Count; ++I)
    for (int Shift = 0; Shift < 24; Shift += 8)
      Sum += std::uint64_t(std::abs(int((Pa[I] >> Shift) & 0xFF) - int((Pb[I] >> Shift) & 0xFF)));
  return double(Sum) / (3.0 * double(Count));
}

}  // namespace bench
