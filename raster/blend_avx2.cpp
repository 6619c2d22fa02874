// Packed-lane blending with AVX2: eight pixels per step. Same arithmetic and skip rules as
// blend_sse2.cpp, on 256-bit registers; the byte and word unpacks and the pack work within each
// 128-bit half, so pixels 0-3 and 4-7 are simply handled as two independent SSE2-style groups.
// This file is compiled with -mavx2 and called only when HasAVX2() is true. It must not define
// inline functions with external linkage (see blend_p.h).
#include "raster/blend_p.h"

#if defined(__x86_64__) || defined(__i386__)

#include <immintrin.h>

namespace raster {

namespace {

inline __m256i Load(const TColor32* p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}
inline void Store(TColor32* p, __m256i v) {
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
}

// Keep where the mask is set, else Value.
inline __m256i Select(__m256i Mask, __m256i Keep, __m256i Value) {
  return _mm256_blendv_epi8(Value, Keep, Mask);
}

inline bool OrderMatters(const TColor32* Src, const TColor32* Dst, std::int32_t Count) {
  return Src < Dst && Dst < Src + Count;
}

inline __m256i Alpha32(__m256i Pixels) {
  return _mm256_srli_epi32(Pixels, 24);
}

// P(W) on 16-bit lanes (see blend_p.h).
inline __m256i LerpLanes(__m256i F16, __m256i B16, __m256i W16) {
  const __m256i diff = _mm256_sub_epi16(F16, B16);
  const __m256i base = _mm256_add_epi16(_mm256_slli_epi16(B16, 8), _mm256_set1_epi16(128));
  return _mm256_srli_epi16(_mm256_add_epi16(_mm256_mullo_epi16(diff, W16), base), 8);
}

// Eight 32-bit weights to the 16-bit lane layout of _mm256_unpacklo/hi_epi8.
inline void SpreadWeights(__m256i W32, __m256i& Lo, __m256i& Hi) {
  const __m256i w = _mm256_or_si256(W32, _mm256_slli_epi32(W32, 16));
  Lo = _mm256_unpacklo_epi32(w, w);
  Hi = _mm256_unpackhi_epi32(w, w);
}

inline __m256i Lerp8(__m256i F, __m256i B, __m256i W32) {
  const __m256i zero = _mm256_setzero_si256();
  __m256i wlo, whi;
  SpreadWeights(W32, wlo, whi);
  const __m256i lo = LerpLanes(_mm256_unpacklo_epi8(F, zero), _mm256_unpacklo_epi8(B, zero), wlo);
  const __m256i hi = LerpLanes(_mm256_unpackhi_epi8(F, zero), _mm256_unpackhi_epi8(B, zero), whi);
  return _mm256_packus_epi16(lo, hi);
}

// ((Fa + 1) * M) >> 8: the product is at most 65280, exact in the low 16-bit multiply.
inline __m256i LineExWeight(__m256i Src, __m256i M32) {
  const __m256i fa1 = _mm256_add_epi32(Alpha32(Src), _mm256_set1_epi32(1));
  return _mm256_srli_epi32(_mm256_mullo_epi16(fa1, M32), 8);
}

// Weight 0 (which Fa = 0 always gives for M in 0..255) keeps Dst; nothing is stored when all
// eight pixels are skipped.
inline void WeightedStep(const TColor32* S, TColor32* D, __m256i W32) {
  const __m256i skip = _mm256_cmpeq_epi32(W32, _mm256_setzero_si256());
  if (_mm256_movemask_epi8(skip) == -1) return;
  const __m256i src = Load(S);
  const __m256i dst = Load(D);
  Store(D, Select(skip, dst, Lerp8(src, dst, W32)));
}

}  // namespace

void BlendLine_AVX2(const TColor32* Src, TColor32* Dst, std::int32_t Count) {
  std::int32_t i = 0;
  if (!OrderMatters(Src, Dst, Count)) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i opaque = _mm256_set1_epi32(255);
    for (; i + 8 <= Count; i += 8) {
      const __m256i src = Load(Src + i);
      const __m256i fa = Alpha32(src);
      const __m256i clear = _mm256_cmpeq_epi32(fa, zero);
      const __m256i solid = _mm256_cmpeq_epi32(fa, opaque);
      if (_mm256_movemask_epi8(clear) == -1) continue;  // all transparent
      if (_mm256_movemask_epi8(solid) == -1) {          // all opaque: F as it is
        Store(Dst + i, src);
        continue;
      }
      const __m256i dst = Load(Dst + i);
      __m256i r = Lerp8(src, dst, fa);
      r = Select(solid, src, r);
      r = Select(clear, dst, r);
      Store(Dst + i, r);
    }
  }
  for (; i < Count; ++i) PackedBlendMemPixel(Src[i], Dst[i]);
}

void BlendLineEx_AVX2(const TColor32* Src, TColor32* Dst, std::int32_t Count, TColor32 M) {
  std::int32_t i = 0;
  if (!OrderMatters(Src, Dst, Count)) {
    const __m256i m32 = _mm256_set1_epi32(int(M));
    for (; i + 8 <= Count; i += 8) WeightedStep(Src + i, Dst + i, LineExWeight(Load(Src + i), m32));
  }
  for (; i < Count; ++i) PackedBlendLineExPixel(Src[i], Dst[i], M);
}

}  // namespace raster

#endif
