// AVX2 kernels of the transfers and the transformed drawing. Every result is bit-identical to
// the packed-lane scalar arithmetic: per channel (F*W + B*(256-W) + 128) >> 8, formed as
// ((F - B)*W + (B << 8) + 128) in 16-bit lanes, whose wrap-around leaves the exact value
// because the true sum lies in 128..65408. Interpolated intermediates stay in 16-bit lanes;
// they hold 0..255 exactly as the scalar routine would return them.
#include <immintrin.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "raster/blend_p.h"
#include "raster/transforms_p.h"

namespace raster {
namespace {

[[gnu::always_inline]] inline __m256i LerpLanes(__m256i F16, __m256i B16, __m256i W16) {
  const __m256i diff = _mm256_sub_epi16(F16, B16);
  const __m256i base = _mm256_add_epi16(_mm256_slli_epi16(B16, 8), _mm256_set1_epi16(128));
  return _mm256_srli_epi16(_mm256_add_epi16(_mm256_mullo_epi16(diff, W16), base), 8);
}

// Eight 32-bit weights to the 16-bit lane order of _mm256_unpacklo/hi_epi8 (within each
// 128-bit half: pixels 0, 1 in Lo and 2, 3 in Hi, four lanes each).
[[gnu::always_inline]] inline void SpreadWeights(__m256i W32, __m256i& Lo, __m256i& Hi) {
  const __m256i w = _mm256_or_si256(W32, _mm256_slli_epi32(W32, 16));
  Lo = _mm256_unpacklo_epi32(w, w);
  Hi = _mm256_unpackhi_epi32(w, w);
}

[[gnu::always_inline]] inline __m256i Lo16(__m256i P) {
  return _mm256_unpacklo_epi8(P, _mm256_setzero_si256());
}
[[gnu::always_inline]] inline __m256i Hi16(__m256i P) {
  return _mm256_unpackhi_epi8(P, _mm256_setzero_si256());
}

// Bilinear sample of eight pixels, left to right then top to bottom, in 16-bit lanes.
[[gnu::always_inline]] inline void Bilinear8(__m256i Q1, __m256i Q2, __m256i Q3, __m256i Q4,
                                             __m256i WX, __m256i WY, __m256i& Lo, __m256i& Hi) {
  __m256i wxl, wxh, wyl, wyh;
  SpreadWeights(WX, wxl, wxh);
  SpreadWeights(WY, wyl, wyh);
  const __m256i topL = LerpLanes(Lo16(Q1), Lo16(Q2), wxl);
  const __m256i topH = LerpLanes(Hi16(Q1), Hi16(Q2), wxh);
  const __m256i botL = LerpLanes(Lo16(Q3), Lo16(Q4), wxl);
  const __m256i botH = LerpLanes(Hi16(Q3), Hi16(Q4), wxh);
  Lo = LerpLanes(topL, botL, wyl);
  Hi = LerpLanes(topH, botH, wyh);
}

// The packed BlendMemEx of colours C (16-bit lanes) onto eight destination pixels: weight
// ((M + 1) * Fa) >> 8, and a weight of 0 (Fa = 0 included) leaves the pixel exactly as it is,
// which P(0) does by itself.
[[gnu::always_inline]] inline __m256i BlendEx(__m256i CLo, __m256i CHi, __m256i B, __m256i M1) {
  const __m256i faLo = _mm256_shufflehi_epi16(_mm256_shufflelo_epi16(CLo, 0xFF), 0xFF);
  const __m256i faHi = _mm256_shufflehi_epi16(_mm256_shufflelo_epi16(CHi, 0xFF), 0xFF);
  const __m256i wLo = _mm256_srli_epi16(_mm256_mullo_epi16(faLo, M1), 8);
  const __m256i wHi = _mm256_srli_epi16(_mm256_mullo_epi16(faHi, M1), 8);
  return _mm256_packus_epi16(LerpLanes(CLo, Lo16(B), wLo), LerpLanes(CHi, Hi16(B), wHi));
}

// dmDifference on eight pixels: |C - B| per byte, B's alpha bytes.
[[gnu::always_inline]] inline __m256i Difference(__m256i C, __m256i B) {
  const __m256i d = _mm256_or_si256(_mm256_subs_epu8(C, B), _mm256_subs_epu8(B, C));
  const __m256i alpha = _mm256_set1_epi32(int(0xFF000000u));
  return _mm256_or_si256(_mm256_andnot_si256(alpha, d), _mm256_and_si256(alpha, B));
}

// Two neighbouring pixels as one 64-bit value.
[[gnu::always_inline]] inline long long Pair(const TColor32* P) {
  long long v;
  std::memcpy(&v, P, sizeof v);
  return v;
}

// The left and right pixels of eight pixel pairs, in pixel order. Loading pairs with scalar
// loads keeps many independent reads in flight, which gathers do not on every processor.
[[gnu::always_inline]] inline void Pairs8(const TColor32* Base, const std::int32_t* Idx,
                                          __m256i& Left, __m256i& Right) {
  const __m256 a = _mm256_castsi256_ps(_mm256_setr_epi64x(
      Pair(Base + Idx[0]), Pair(Base + Idx[1]), Pair(Base + Idx[4]), Pair(Base + Idx[5])));
  const __m256 b = _mm256_castsi256_ps(_mm256_setr_epi64x(
      Pair(Base + Idx[2]), Pair(Base + Idx[3]), Pair(Base + Idx[6]), Pair(Base + Idx[7])));
  Left = _mm256_castps_si256(_mm256_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0)));
  Right = _mm256_castps_si256(_mm256_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1)));
}

[[gnu::always_inline]] inline __m256i Load8(const TColor32* Base, const std::int32_t* Idx) {
  return _mm256_setr_epi32(int(Base[Idx[0]]), int(Base[Idx[1]]), int(Base[Idx[2]]),
                           int(Base[Idx[3]]), int(Base[Idx[4]]), int(Base[Idx[5]]),
                           int(Base[Idx[6]]), int(Base[Idx[7]]));
}

// Pixels ahead whose source rows are prefetched into the first-level cache (measured: 16 and 64
// are both slower).
constexpr int PrefetchAhead = 32;

// Whether to prefetch, besides, the source lines of the next destination row into the
// second-level cache. A downscaled row reads lines that the row above has not touched (at 0.27
// its rows lie ~3.7 source rows apart), so all its misses would otherwise be paid while it is
// drawn, a few at a time; a row ahead they arrive in time, and one row's lines (~80 KB at 0.27)
// wait in the second-level cache. Measured: two or three rows ahead are slower, so is every
// other lane. When the next row lies at most a row down and a line across it reads this row's
// lines, and the extra prefetches would only cost.
inline bool PrefetchNextRow(const AffineSpan& S) {
  const std::int64_t rx = std::abs(std::int64_t(std::int32_t(S.RowX)));
  const std::int64_t ry = std::abs(std::int64_t(std::int32_t(S.RowY)));
  return ry > 4096 || rx > 16 * 4096;
}

// Pixel indices (row * Stride + column) of the positions (SX + DX, SY + DY), 32-bit wrapping.
[[gnu::always_inline]] inline __m256i PixelIndex(__m256i SX, __m256i SY, __m256i DX, __m256i DY,
                                                 __m256i Stride) {
  return _mm256_add_epi32(
      _mm256_mullo_epi32(_mm256_srai_epi32(_mm256_add_epi32(SY, DY), 12), Stride),
      _mm256_srai_epi32(_mm256_add_epi32(SX, DX), 12));
}

inline __m256i LaneSteps(std::uint32_t Step) {
  return _mm256_mullo_epi32(_mm256_set1_epi32(int(Step)),
                            _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
}

// Eight finished samples onto the destination as the span's mode says: Packed holds them, Lo
// and Hi the same in 16-bit lanes (for the blend).
[[gnu::always_inline]] inline void Put8(const AffineSpan& S, TColor32* D, __m256i Packed,
                                        __m256i Lo, __m256i Hi, __m256i M1) {
  __m256i* out = reinterpret_cast<__m256i*>(D);
  if (S.Blend)
    _mm256_storeu_si256(out, BlendEx(Lo, Hi, _mm256_loadu_si256(out), M1));
  else if (S.Difference)
    _mm256_storeu_si256(out, Difference(Packed, _mm256_loadu_si256(out)));
  else
    _mm256_storeu_si256(out, Packed);
}

}  // namespace

void TransformLinearSpan_AVX2(const AffineSpan& S) {
  const __m256i stride = _mm256_set1_epi32(S.Stride);
  const __m256i m255 = _mm256_set1_epi32(255);
  const __m256i m1 = _mm256_set1_epi16(std::int16_t(S.MasterAlpha + 1));
  __m256i sx = _mm256_add_epi32(_mm256_set1_epi32(int(S.SumX)), LaneSteps(S.StepX));
  __m256i sy = _mm256_add_epi32(_mm256_set1_epi32(int(S.SumY)), LaneSteps(S.StepY));
  const __m256i stepX = _mm256_set1_epi32(int(S.StepX * 8u));
  const __m256i stepY = _mm256_set1_epi32(int(S.StepY * 8u));
  // The source is read along a slanted line, which the hardware prefetcher does not follow
  // (above all when downscaled, where the reads are sparse): fetch the lines of the pixels
  // some way ahead, and those of the next row, explicitly.
  const bool nextRow = PrefetchNextRow(S);
  const __m256i aheadX = _mm256_set1_epi32(int(S.StepX * std::uint32_t(PrefetchAhead)));
  const __m256i aheadY = _mm256_set1_epi32(int(S.StepY * std::uint32_t(PrefetchAhead)));
  const __m256i rowX = _mm256_set1_epi32(int(S.RowX));
  const __m256i rowY = _mm256_set1_epi32(int(S.RowY));
  const std::uintptr_t base = reinterpret_cast<std::uintptr_t>(S.Src);
  const std::uintptr_t below = std::uintptr_t(S.Stride) * 4;
  TColor32* d = S.Dst;
  std::int32_t n = S.Count;
  for (; n >= 8; n -= 8, d += 8) {
    // Addresses only, never dereferenced: positions beyond the span or the source are
    // harmless. All eight lanes (measured: fetching only some is slower, even at 1:1).
    if (nextRow) {
      alignas(32) std::int32_t next[8];
      _mm256_store_si256(reinterpret_cast<__m256i*>(next), PixelIndex(sx, sy, rowX, rowY, stride));
      for (int k = 0; k < 8; ++k) {
        const std::uintptr_t a = base + std::uintptr_t(std::intptr_t(next[k]) * 4);
        _mm_prefetch(reinterpret_cast<const char*>(a), _MM_HINT_T1);
        _mm_prefetch(reinterpret_cast<const char*>(a + below), _MM_HINT_T1);
      }
    }
    {
      alignas(32) std::int32_t ahead[8];
      _mm256_store_si256(reinterpret_cast<__m256i*>(ahead),
                         PixelIndex(sx, sy, aheadX, aheadY, stride));
      for (int k = 0; k < 8; ++k) {
        const std::uintptr_t a = base + std::uintptr_t(std::intptr_t(ahead[k]) * 4);
        _mm_prefetch(reinterpret_cast<const char*>(a), _MM_HINT_T0);
        _mm_prefetch(reinterpret_cast<const char*>(a + below), _MM_HINT_T0);
      }
    }
    // 24.8 positions: the integer part is the sum shifted by 12, the fraction bits 4 to 11.
    const __m256i xi = _mm256_srai_epi32(sx, 12), yi = _mm256_srai_epi32(sy, 12);
    const __m256i wx = _mm256_andnot_si256(_mm256_srai_epi32(sx, 4), m255);
    const __m256i wy = _mm256_andnot_si256(_mm256_srai_epi32(sy, 4), m255);
    alignas(32) std::int32_t idx[8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(idx),
                       _mm256_add_epi32(_mm256_mullo_epi32(yi, stride), xi));
    __m256i q1, q2, q3, q4;
    Pairs8(S.Src, idx, q1, q2);
    Pairs8(S.Src + S.Stride, idx, q3, q4);
    __m256i lo, hi;
    Bilinear8(q1, q2, q3, q4, wx, wy, lo, hi);
    Put8(S, d, _mm256_packus_epi16(lo, hi), lo, hi, m1);
    sx = _mm256_add_epi32(sx, stepX);
    sy = _mm256_add_epi32(sy, stepY);
  }
  SpanPixels<true>(S, S.Count - n, std::uint32_t(_mm256_cvtsi256_si32(sx)),
                   std::uint32_t(_mm256_cvtsi256_si32(sy)));
}

void TransformNearestSpan_AVX2(const AffineSpan& S) {
  const __m256i stride = _mm256_set1_epi32(S.Stride);
  const __m256i m1 = _mm256_set1_epi16(std::int16_t(S.MasterAlpha + 1));
  __m256i sx = _mm256_add_epi32(_mm256_set1_epi32(int(S.SumX)), LaneSteps(S.StepX));
  __m256i sy = _mm256_add_epi32(_mm256_set1_epi32(int(S.SumY)), LaneSteps(S.StepY));
  const __m256i stepX = _mm256_set1_epi32(int(S.StepX * 8u));
  const __m256i stepY = _mm256_set1_epi32(int(S.StepY * 8u));
  TColor32* d = S.Dst;
  std::int32_t n = S.Count;
  for (; n >= 8; n -= 8, d += 8) {
    alignas(32) std::int32_t idx[8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(idx),
                       _mm256_add_epi32(_mm256_mullo_epi32(_mm256_srai_epi32(sy, 12), stride),
                                        _mm256_srai_epi32(sx, 12)));
    const __m256i c = Load8(S.Src, idx);
    Put8(S, d, c, Lo16(c), Hi16(c), m1);
    sx = _mm256_add_epi32(sx, stepX);
    sy = _mm256_add_epi32(sy, stepY);
  }
  SpanPixels<false>(S, S.Count - n, std::uint32_t(_mm256_cvtsi256_si32(sx)),
                    std::uint32_t(_mm256_cvtsi256_si32(sy)));
}

void StretchGatherRow_AVX2(const TColor32* Row, const std::int32_t* Cols, TColor32* Dst,
                           std::int32_t Count) {
  std::int32_t i = 0;
  for (; i + 8 <= Count; i += 8)
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(Dst + i), Load8(Row, Cols + i));
  for (; i < Count; ++i) Dst[i] = Row[Cols[i]];
}

void StretchVerticalLerp_AVX2(const TColor32* Upper, const TColor32* Lower, TColor32 WY,
                              TColor32* Out, std::int32_t Count) {
  const __m256i w = _mm256_set1_epi16(std::int16_t(WY));
  std::int32_t i = 0;
  for (; i + 8 <= Count; i += 8) {
    const __m256i u = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(Upper + i));
    const __m256i l = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(Lower + i));
    _mm256_storeu_si256(
        reinterpret_cast<__m256i*>(Out + i),
        _mm256_packus_epi16(LerpLanes(Lo16(u), Lo16(l), w), LerpLanes(Hi16(u), Hi16(l), w)));
  }
  for (; i < Count; ++i) Out[i] = PackedLerp(Upper[i], Lower[i], WY);
}

void StretchHorizontalLerp_AVX2(const TColor32* V, const std::int32_t* T, const std::uint32_t* WX,
                                TColor32* Out, std::int32_t Count) {
  std::int32_t i = 0;
  for (; i + 8 <= Count; i += 8) {
    __m256i a, b;
    Pairs8(V, T + i, a, b);
    __m256i wl, wh;
    SpreadWeights(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(WX + i)), wl, wh);
    _mm256_storeu_si256(
        reinterpret_cast<__m256i*>(Out + i),
        _mm256_packus_epi16(LerpLanes(Lo16(a), Lo16(b), wl), LerpLanes(Hi16(a), Hi16(b), wh)));
  }
  for (; i < Count; ++i) Out[i] = PackedLerp(V[T[i]], V[T[i] + 1], WX[i]);
}

void StretchLinearRow_AVX2(const TColor32* Upper, const TColor32* Lower, TColor32 WY,
                           const TColor32* NextUpper, const TColor32* NextLower,
                           const std::int32_t* T, const std::uint32_t* WX, TColor32* Out,
                           std::int32_t Count) {
  const __m256i wy = _mm256_set1_epi16(std::int16_t(WY));
  std::int32_t i = 0;
  for (; i + 8 <= Count; i += 8) {
    // The lines of the next destination row's source rows, a row ahead (measured: faster than
    // none; the hardware prefetcher stops at every page of these long rows).
    if (NextUpper != nullptr) {
      _mm_prefetch(reinterpret_cast<const char*>(NextUpper + T[i]), _MM_HINT_T0);
      _mm_prefetch(reinterpret_cast<const char*>(NextLower + T[i]), _MM_HINT_T0);
    }
    __m256i ul, ur, ll, lr;
    Pairs8(Upper, T + i, ul, ur);
    Pairs8(Lower, T + i, ll, lr);
    __m256i wl, wh;
    SpreadWeights(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(WX + i)), wl, wh);
    // Columns first (each of t and t + 1 between the rows), then between the columns.
    const __m256i leftLo = LerpLanes(Lo16(ul), Lo16(ll), wy);
    const __m256i leftHi = LerpLanes(Hi16(ul), Hi16(ll), wy);
    const __m256i rightLo = LerpLanes(Lo16(ur), Lo16(lr), wy);
    const __m256i rightHi = LerpLanes(Hi16(ur), Hi16(lr), wy);
    _mm256_storeu_si256(
        reinterpret_cast<__m256i*>(Out + i),
        _mm256_packus_epi16(LerpLanes(leftLo, rightLo, wl), LerpLanes(leftHi, rightHi, wh)));
  }
  for (; i < Count; ++i)
    Out[i] = PackedLerp(PackedLerp(Upper[T[i]], Lower[T[i]], WY),
                        PackedLerp(Upper[T[i] + 1], Lower[T[i] + 1], WY), WX[i]);
}

void BlendMemExRow_AVX2(const TColor32* Samples, TColor32* Dst, std::int32_t Count, TColor32 M) {
  const __m256i m1 = _mm256_set1_epi16(std::int16_t(M + 1));
  std::int32_t i = 0;
  for (; i + 8 <= Count; i += 8) {
    const __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(Samples + i));
    __m256i* out = reinterpret_cast<__m256i*>(Dst + i);
    _mm256_storeu_si256(out, BlendEx(Lo16(c), Hi16(c), _mm256_loadu_si256(out), m1));
  }
  for (; i < Count; ++i) PackedBlendMemExPixel(Samples[i], Dst[i], M);
}

}  // namespace raster
