// Internal to raster/transforms: the prepared geometry that the exact scalar code and the
// vector fast paths share, and the fast-path entry points.
#pragma once

#include <cstdint>

#include "raster/blend.h"
#include "raster/blend_p.h"
#include "raster/core.h"
#include "raster/transforms.h"

namespace raster {

// a * b / c for a, b >= 0 and c > 0, rounded like MulDiv, without its 32-bit limits.
std::int64_t MulDivWide(std::int64_t a, std::int64_t b, std::int64_t c);

// x * A + y * B + C in 32-bit wrap-around arithmetic (unsigned, so the wrap is defined).
inline std::int32_t AffineSum(std::int32_t x, std::int32_t y, std::int32_t A, std::int32_t B,
                              std::uint32_t C) {
  return std::int32_t(std::uint32_t(x) * std::uint32_t(A) + std::uint32_t(y) * std::uint32_t(B) +
                      C);
}

// dmDifference on one pixel: |F - B| per colour channel, B's alpha.
inline TColor32 DifferencePixel(TColor32 F, TColor32 B) {
  TColor32 r = B & 0xFF000000u;
  for (int shift = 0; shift < 24; shift += 8) {
    const TColor32 f = (F >> shift) & 255, b = (B >> shift) & 255;
    r |= (f > b ? f - b : b - f) << shift;
  }
  return r;
}

// A stretch after its prologue. Positions are 16.16 accumulators relative to SrcRect's top-left
// corner; they are kept in 64 bits by the reference code so that no geometry can wrap.
struct StretchSetup {
  TDrawMode Mode = dmOpaque;  // dmCustom only with a handler
  TColor32 MasterAlpha = 255;
  const TPixelCombineEvent* Handler = nullptr;
  TRect SrcRect;  // inside Src, not empty
  TRect Clip;     // inside Dst, not empty
  std::int64_t SW = 0, SH = 0, DW = 0, DH = 0;
  std::int64_t sx = 0, sy = 0, X0 = 0, Y0 = 0;
};

// Transform(Dst, Src, T) after its set-up.
struct TransformSetup {
  TDrawMode Mode = dmOpaque;  // dmCustom only with a handler
  TColor32 MasterAlpha = 255;
  const TPixelCombineEvent* Handler = nullptr;
  // Inclusive source sampling bounds. When SrcRect misses the source, the failed intersection
  // leaves the zero rectangle, which still names pixel (0, 0): nearest sampling reads it there.
  TRect S;
  // Only an empty source has no pixel (0, 0) for the zero rectangle to name; nearest sampling
  // then has no sample anywhere (bilinear sampling reads the band through GetPixelS).
  bool SrcEmpty = false;
  TRect D;  // inclusive destination bounds, inside Dst, not empty
};

// The exact scalar code, the reference for everything else (Transform's is TransformScalar in
// transforms.cpp).
void StretchNearestScalar(const StretchSetup& S, TBitmap32& Dst, const TBitmap32& Src);
void StretchLinearScalar(const StretchSetup& S, TBitmap32& Dst, const TBitmap32& Src);

// Fast paths, pixel-identical to the scalar code. Each returns false, having written nothing,
// when it does not cover the case (or vector paths are off); the caller then runs the scalar
// code.
bool StretchNearestFast(const StretchSetup& S, TBitmap32& Dst, const TBitmap32& Src);
bool StretchLinearFast(const StretchSetup& S, TBitmap32& Dst, const TBitmap32& Src);
bool TransformNearestFast(const TransformSetup& T, TBitmap32& Dst, const TBitmap32& Src,
                          TTransformation& Transformation);
bool TransformLinearFast(const TransformSetup& T, TBitmap32& Dst, const TBitmap32& Src,
                         TTransformation& Transformation);

// One destination row span of Transform in which every pixel has a sample read directly
// (nearest: inside S; bilinear: the inner case). The sums are the 20.12 mapping sums, rounding
// constant included, of the span's first pixel; no sum along the span leaves 32 bits.
struct AffineSpan {
  const TColor32* Src = nullptr;  // pixel (0, 0) of the source
  std::int32_t Stride = 0;        // source width
  std::uint32_t SumX = 0, SumY = 0;
  std::uint32_t StepX = 0, StepY = 0;  // InvA, InvD: the sums' change per column
  std::uint32_t RowX = 0, RowY = 0;    // InvB, InvE: the sums' change per row
  TColor32* Dst = nullptr;
  std::int32_t Count = 0;
  bool Blend = false;       // packed BlendMemEx with MasterAlpha (0..255), else store
  bool Difference = false;  // DifferencePixel onto the destination (Blend is then false)
  TColor32 MasterAlpha = 255;
};

// The pixels From..Count-1 of span S one at a time, SumX and SumY being the sums of pixel From:
// the end of a row that a whole vector register of the kernels does not cover. Static, as the
// kernels' files are compiled for different instruction sets and must not share one copy.
template <bool Linear>
static inline void SpanPixels(const AffineSpan& S, std::int32_t From, std::uint32_t SumX,
                              std::uint32_t SumY) {
  // Locals, which the destination's pixels cannot alias.
  const TColor32* src = S.Src;
  const std::int64_t stride = S.Stride;
  const std::uint32_t stepX = S.StepX, stepY = S.StepY;
  const bool blend = S.Blend, difference = S.Difference;
  const TColor32 m = S.MasterAlpha;
  TColor32* d = S.Dst;
  for (std::int32_t i = From; i < S.Count; ++i, SumX += stepX, SumY += stepY) {
    TColor32 c;
    if constexpr (Linear) {
      // 24.8 positions: the integer part is the sum shifted by 12, the fraction bits 4 to 11.
      const std::int32_t X = std::int32_t(SumX) >> 4, Y = std::int32_t(SumY) >> 4;
      const TColor32* p = src + (Y >> 8) * stride + (X >> 8);
      c = PackedBilinear(p[0], p[1], p[stride], p[stride + 1], 255 - (X & 255), 255 - (Y & 255));
    } else {
      c = src[(std::int32_t(SumY) >> 12) * stride + (std::int32_t(SumX) >> 12)];
    }
    if (blend)
      PackedBlendMemExPixel(c, d[i], m);
    else if (difference)
      d[i] = DifferencePixel(c, d[i]);
    else
      d[i] = c;
  }
}

// AVX2 kernels (transforms_avx2.cpp), packed-lane arithmetic.
void TransformLinearSpan_AVX2(const AffineSpan& S);
void TransformNearestSpan_AVX2(const AffineSpan& S);
// Dst[i] = Row[Cols[i]].
void StretchGatherRow_AVX2(const TColor32* Row, const std::int32_t* Cols, TColor32* Dst,
                           std::int32_t Count);
// Out[i] = CombineReg(Upper[i], Lower[i], WY).
void StretchVerticalLerp_AVX2(const TColor32* Upper, const TColor32* Lower, TColor32 WY,
                              TColor32* Out, std::int32_t Count);
// Out[i] = CombineReg(V[T[i]], V[T[i] + 1], WX[i]).
void StretchHorizontalLerp_AVX2(const TColor32* V, const std::int32_t* T, const std::uint32_t* WX,
                                TColor32* Out, std::int32_t Count);
// Out[i] = CombineReg(CombineReg(Upper[T[i]], Lower[T[i]], WY),
//                     CombineReg(Upper[T[i] + 1], Lower[T[i] + 1], WY), WX[i]), prefetching
// NextUpper[T[i]] and NextLower[T[i]] unless NextUpper is null.
void StretchLinearRow_AVX2(const TColor32* Upper, const TColor32* Lower, TColor32 WY,
                           const TColor32* NextUpper, const TColor32* NextLower,
                           const std::int32_t* T, const std::uint32_t* WX, TColor32* Out,
                           std::int32_t Count);
// Dst[i] := packed BlendMemEx(Samples[i], Dst[i], M), M in 0..255.
void BlendMemExRow_AVX2(const TColor32* Samples, TColor32* Dst, std::int32_t Count, TColor32 M);

// SSE2 kernels (transforms_sse2.cpp), the same contracts four pixels at a time.
void TransformLinearSpan_SSE2(const AffineSpan& S);
void TransformNearestSpan_SSE2(const AffineSpan& S);
void StretchVerticalLerp_SSE2(const TColor32* Upper, const TColor32* Lower, TColor32 WY,
                              TColor32* Out, std::int32_t Count);
void StretchHorizontalLerp_SSE2(const TColor32* V, const std::int32_t* T, const std::uint32_t* WX,
                                TColor32* Out, std::int32_t Count);
void BlendMemExRow_SSE2(const TColor32* Samples, TColor32* Dst, std::int32_t Count, TColor32 M);

// Which kernels the fast paths may use: the best the processor has, or at most SSE2 (so that
// tests on an AVX2 machine check the SSE2 kernels too).
enum class TTransformKernels { Best, SSE2 };
void SetTransformKernels(TTransformKernels Kernels);

}  // namespace raster
