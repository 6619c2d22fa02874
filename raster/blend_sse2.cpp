// Packed-lane blending with SSE2: four pixels per step, two pixels per register once widened to
// 16-bit lanes. Every result is bit-identical to the scalar packed set (see blend_p.h for why the
// wrapped 16-bit lane arithmetic is exact). Pixels that the scalar code skips keep their value:
// the vector code selects the old destination for them, and does not store a group of four at
// all when every pixel in it is skipped.
#include "raster/blend_p.h"

#if defined(__x86_64__) || defined(__i386__)

#include <emmintrin.h>

namespace raster {

namespace {

using sse2::Lerp4;

inline __m128i Load(const TColor32* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
inline void Store(TColor32* p, __m128i v) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
}

// Keep where the mask is set, else Value.
inline __m128i Select(__m128i Mask, __m128i Keep, __m128i Value) {
  return _mm_or_si128(_mm_and_si128(Mask, Keep), _mm_andnot_si128(Mask, Value));
}

// A later source pixel may be an earlier destination pixel that the scalar loop has already
// written (Src a little before Dst). Only then is the per-pixel order visible; such calls take
// the scalar path. Src == Dst and disjoint ranges are fine.
inline bool OrderMatters(const TColor32* Src, const TColor32* Dst, std::int32_t Count) {
  return Src < Dst && Dst < Src + Count;
}

inline __m128i Alpha32(__m128i Pixels) {
  return _mm_srli_epi32(Pixels, 24);
}

// BlendLineEx weight ((Fa + 1) * M) >> 8 in 32-bit lanes. The product is at most 256 * 255 =
// 65280, so the low 16-bit multiply holds it whole (the upper half of each lane is 0 * 0).
inline __m128i LineExWeight(__m128i Src, __m128i M32) {
  const __m128i fa1 = _mm_add_epi32(Alpha32(Src), _mm_set1_epi32(1));
  return _mm_srli_epi32(_mm_mullo_epi16(fa1, M32), 8);
}

// Blend four pixels with per-pixel weights W32; pixels whose weight is 0 keep Dst. (Fa = 0
// always gives weight 0 for M in 0..255, so the Fa = 0 rule needs no test of its own.)
// Stores nothing when all four are skipped.
inline void WeightedStep(const TColor32* S, TColor32* D, __m128i W32) {
  const __m128i skip = _mm_cmpeq_epi32(W32, _mm_setzero_si128());
  if (_mm_movemask_epi8(skip) == 0xFFFF) return;
  const __m128i src = Load(S);
  const __m128i dst = Load(D);
  Store(D, Select(skip, dst, Lerp4(src, dst, W32)));
}

}  // namespace

void BlendLine_SSE2(const TColor32* Src, TColor32* Dst, std::int32_t Count) {
  std::int32_t i = 0;
  if (!OrderMatters(Src, Dst, Count)) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i opaque = _mm_set1_epi32(255);
    for (; i + 4 <= Count; i += 4) {
      const __m128i src = Load(Src + i);
      const __m128i fa = Alpha32(src);
      const __m128i clear = _mm_cmpeq_epi32(fa, zero);
      const __m128i solid = _mm_cmpeq_epi32(fa, opaque);
      const int clearBits = _mm_movemask_epi8(clear);
      if (clearBits == 0xFFFF) continue;  // all transparent: nothing changes
      if (_mm_movemask_epi8(solid) == 0xFFFF) {
        Store(Dst + i, src);  // all opaque: F is stored as it is
        continue;
      }
      const __m128i dst = Load(Dst + i);
      __m128i r = Lerp4(src, dst, fa);
      r = Select(solid, src, r);
      r = Select(clear, dst, r);
      Store(Dst + i, r);
    }
  }
  for (; i < Count; ++i) PackedBlendMemPixel(Src[i], Dst[i]);
}

void BlendLineEx_SSE2(const TColor32* Src, TColor32* Dst, std::int32_t Count, TColor32 M) {
  std::int32_t i = 0;
  if (!OrderMatters(Src, Dst, Count)) {
    const __m128i m32 = _mm_set1_epi32(int(M));
    for (; i + 4 <= Count; i += 4) WeightedStep(Src + i, Dst + i, LineExWeight(Load(Src + i), m32));
  }
  for (; i < Count; ++i) PackedBlendLineExPixel(Src[i], Dst[i], M);
}

}  // namespace raster

#endif
