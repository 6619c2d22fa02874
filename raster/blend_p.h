// Internal to the raster engine: the packed-lane arithmetic of raster/blend as scalar helpers,
// the vector line routines of the table, and register-level SSE2 helpers that other engine
// modules fuse into their own vector loops.
//
// Everything here computes the packed-lane numbers exactly:
//   P(W)_c = (F_c*W + B_c*(256 - W) + 128) >> 8   for each channel c, W in 0..255.
// The vector code forms ((F_c - B_c)*W + (B_c << 8) + 128) in 16-bit lanes with wrap-around
// and shifts it right logically by 8; the true sum lies in 128..65408, so the wrapped value is
// the true value and the result is bit-identical to the scalar helpers below.
//
// Use the vector code only while VectorPathsActive() is true (packed set with vector code in
// force): under the plain set the numbers differ, and the scalar packed set is how the tests
// check the vector code against the reference. The *_SSE2 routines need a processor with SSE2
// (HasSSE2()), the *_AVX2 ones HasAVX2().
//
// Preconditions, not checked (as for the routine table): weights and master alpha in 0..255,
// Count >= 0 (a Count of 0 or less does nothing), Src and Dst either equal or not overlapping.
#pragma once

#include <cstdint>

#include "raster/core.h"

namespace raster {

// ---- Scalar packed-lane helpers ---------------------------------------------------------------
// `static inline` on purpose: these are also compiled into blend_avx2.cpp with -mavx2, and an
// inline function with external linkage could then be merged with the AVX2 copy at link time
// and run on a processor without AVX2.

// P(W) on all four channels. Two channels share one 32-bit word, 16 bits each: a field holds
// at most 255*256 + 128 = 65408 < 65536, so no carry crosses into the next field and each
// field is exactly one 16-bit lane of the packed-lane arithmetic.
static inline TColor32 PackedLerp(TColor32 F, TColor32 B, TColor32 W) {
  const TColor32 wb = 256u - W;
  const TColor32 rb =
      (((F & 0x00FF00FFu) * W + (B & 0x00FF00FFu) * wb + 0x00800080u) >> 8) & 0x00FF00FFu;
  const TColor32 ag =
      (((F >> 8) & 0x00FF00FFu) * W + ((B >> 8) & 0x00FF00FFu) * wb + 0x00800080u) & 0xFF00FF00u;
  return ag | rb;
}

// Packed BlendMem: Fa = 0 leaves B, Fa = 255 stores F, otherwise P(Fa).
static inline void PackedBlendMemPixel(TColor32 F, TColor32& B) {
  const TColor32 fa = F >> 24;
  if (fa == 0) return;
  if (fa == 255) {
    B = F;
    return;
  }
  B = PackedLerp(F, B, fa);
}

// Packed BlendMemEx: weight ((M + 1) * Fa) >> 8; Fa = 0 or weight 0 leaves B.
static inline void PackedBlendMemExPixel(TColor32 F, TColor32& B, TColor32 M) {
  const TColor32 fa = F >> 24;
  if (fa == 0) return;
  const TColor32 w = ((M + 1) * fa) >> 8;
  if (w == 0) return;
  B = PackedLerp(F, B, w);
}

// One pixel of packed BlendLineEx: weight ((Fa + 1) * M) >> 8 (alpha plus one, not master
// alpha plus one); Fa = 0 or weight 0 leaves B.
static inline void PackedBlendLineExPixel(TColor32 F, TColor32& B, TColor32 M) {
  const TColor32 fa = F >> 24;
  if (fa == 0) return;
  const TColor32 w = ((fa + 1) * M) >> 8;
  if (w == 0) return;
  B = PackedLerp(F, B, w);
}

// ---- Vector line routines (the table's BlendLine and BlendLineEx under PackedVector) ----------
// Identical numbers to the packed BlendLine / BlendLineEx, including the per-pixel rules: a
// skipped pixel keeps its value.
void BlendLine_SSE2(const TColor32* Src, TColor32* Dst, std::int32_t Count);
void BlendLineEx_SSE2(const TColor32* Src, TColor32* Dst, std::int32_t Count, TColor32 M);
void BlendLine_AVX2(const TColor32* Src, TColor32* Dst, std::int32_t Count);
void BlendLineEx_AVX2(const TColor32* Src, TColor32* Dst, std::int32_t Count, TColor32 M);

// The scalar form of the bilinear sample (packed CombineReg three times).
static inline TColor32 PackedBilinear(TColor32 Q1, TColor32 Q2, TColor32 Q3, TColor32 Q4,
                                      TColor32 WX, TColor32 WY) {
  return PackedLerp(PackedLerp(Q1, Q2, WX), PackedLerp(Q3, Q4, WX), WY);
}

}  // namespace raster

// ---- Register-level SSE2 helpers, for fusing into other modules' vector loops -------------------
#if defined(__SSE2__)
#include <emmintrin.h>

namespace raster::sse2 {

// P(W) on 16-bit lanes: F16, B16 hold channels 0..255 (two pixels, unpacked with zero), W16 the
// weight replicated in each pixel's four lanes. Returns lanes 0..255 (not yet packed).
[[gnu::always_inline]] static inline __m128i LerpLanes(__m128i F16, __m128i B16, __m128i W16) {
  const __m128i diff = _mm_sub_epi16(F16, B16);
  const __m128i base = _mm_add_epi16(_mm_slli_epi16(B16, 8), _mm_set1_epi16(128));
  return _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(diff, W16), base), 8);
}

// Four 32-bit weights (0..255) to two registers of 16-bit lanes: Lo holds w0 x4, w1 x4; Hi holds
// w2 x4, w3 x4 (the lanes of _mm_unpacklo/hi_epi8 of four pixels).
[[gnu::always_inline]] static inline void SpreadWeights(__m128i W32, __m128i& Lo, __m128i& Hi) {
  const __m128i w = _mm_or_si128(W32, _mm_slli_epi32(W32, 16));
  Lo = _mm_unpacklo_epi32(w, w);
  Hi = _mm_unpackhi_epi32(w, w);
}

// P(W) of four pixels with four per-pixel weights in 32-bit lanes.
[[gnu::always_inline]] static inline __m128i Lerp4(__m128i F, __m128i B, __m128i W32) {
  const __m128i zero = _mm_setzero_si128();
  __m128i wlo, whi;
  SpreadWeights(W32, wlo, whi);
  const __m128i lo = LerpLanes(_mm_unpacklo_epi8(F, zero), _mm_unpacklo_epi8(B, zero), wlo);
  const __m128i hi = LerpLanes(_mm_unpackhi_epi8(F, zero), _mm_unpackhi_epi8(B, zero), whi);
  return _mm_packus_epi16(lo, hi);
}

}  // namespace raster::sse2
#endif
