// SSE2 kernels of the transfers and the transformed drawing, for processors without AVX2. The
// same packed-lane arithmetic as the AVX2 kernels, four pixels at a time: per channel
// (F*W + B*(256-W) + 128) >> 8 formed in 16-bit lanes, exact despite the wrap-around.
#include <emmintrin.h>

#include <cstdint>
#include <cstring>

#include "raster/blend_p.h"
#include "raster/transforms_p.h"

namespace raster {
namespace {

// The packed-lane arithmetic on registers is shared with the blend module.
using sse2::LerpLanes;
using sse2::SpreadWeights;

[[gnu::always_inline]] inline __m128i Lo16(__m128i P) {
  return _mm_unpacklo_epi8(P, _mm_setzero_si128());
}
[[gnu::always_inline]] inline __m128i Hi16(__m128i P) {
  return _mm_unpackhi_epi8(P, _mm_setzero_si128());
}

[[gnu::always_inline]] inline __m128i Pair(const TColor32* P) {
  return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(P));
}

// The left and right pixels of four pixel pairs, in pixel order.
[[gnu::always_inline]] inline void Pairs4(const TColor32* P0, const TColor32* P1,
                                          const TColor32* P2, const TColor32* P3, __m128i& Left,
                                          __m128i& Right) {
  const __m128 a = _mm_castsi128_ps(_mm_unpacklo_epi64(Pair(P0), Pair(P1)));
  const __m128 b = _mm_castsi128_ps(_mm_unpacklo_epi64(Pair(P2), Pair(P3)));
  Left = _mm_castps_si128(_mm_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0)));
  Right = _mm_castps_si128(_mm_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1)));
}

// The packed BlendMemEx of colours C (16-bit lanes) onto four pixels; weight 0 keeps B.
[[gnu::always_inline]] inline __m128i BlendEx(__m128i CLo, __m128i CHi, __m128i B, __m128i M1) {
  const __m128i faLo = _mm_shufflehi_epi16(_mm_shufflelo_epi16(CLo, 0xFF), 0xFF);
  const __m128i faHi = _mm_shufflehi_epi16(_mm_shufflelo_epi16(CHi, 0xFF), 0xFF);
  const __m128i wLo = _mm_srli_epi16(_mm_mullo_epi16(faLo, M1), 8);
  const __m128i wHi = _mm_srli_epi16(_mm_mullo_epi16(faHi, M1), 8);
  return _mm_packus_epi16(LerpLanes(CLo, Lo16(B), wLo), LerpLanes(CHi, Hi16(B), wHi));
}

// dmDifference on four pixels: |C - B| per byte, B's alpha bytes.
[[gnu::always_inline]] inline __m128i Difference(__m128i C, __m128i B) {
  const __m128i d = _mm_or_si128(_mm_subs_epu8(C, B), _mm_subs_epu8(B, C));
  const __m128i alpha = _mm_set1_epi32(int(0xFF000000u));
  return _mm_or_si128(_mm_andnot_si128(alpha, d), _mm_and_si128(alpha, B));
}

// Four finished samples onto the destination as the span's mode says: Packed holds them, Lo and
// Hi the same in 16-bit lanes (for the blend).
[[gnu::always_inline]] inline void Put4(const AffineSpan& S, TColor32* D, __m128i Packed,
                                        __m128i Lo, __m128i Hi, __m128i M1) {
  __m128i* out = reinterpret_cast<__m128i*>(D);
  if (S.Blend)
    _mm_storeu_si128(out, BlendEx(Lo, Hi, _mm_loadu_si128(out), M1));
  else if (S.Difference)
    _mm_storeu_si128(out, Difference(Packed, _mm_loadu_si128(out)));
  else
    _mm_storeu_si128(out, Packed);
}

// Both spans, four pixels at a time: bilinear samples (Linear) or the nearest pixels.
template <bool Linear>
void TransformSpan(const AffineSpan& S) {
  const __m128i m1 = _mm_set1_epi16(std::int16_t(S.MasterAlpha + 1));
  std::uint32_t ux = S.SumX, uy = S.SumY;
  TColor32* d = S.Dst;
  std::int32_t i = 0;
  for (; i + 4 <= S.Count; i += 4) {
    if constexpr (Linear) {
      const TColor32* p[4];
      std::uint32_t wx[4], wy[4];
      for (int k = 0; k < 4; ++k, ux += S.StepX, uy += S.StepY) {
        // 24.8 positions: the integer part is the sum shifted by 12, the fraction bits 4 to 11.
        const std::int32_t X = std::int32_t(ux) >> 4, Y = std::int32_t(uy) >> 4;
        p[k] = S.Src + std::int64_t(Y >> 8) * S.Stride + (X >> 8);
        wx[k] = 255 - std::uint32_t(X & 255);
        wy[k] = 255 - std::uint32_t(Y & 255);
      }
      __m128i q1, q2, q3, q4;
      Pairs4(p[0], p[1], p[2], p[3], q1, q2);
      Pairs4(p[0] + S.Stride, p[1] + S.Stride, p[2] + S.Stride, p[3] + S.Stride, q3, q4);
      __m128i wxl, wxh, wyl, wyh;
      SpreadWeights(_mm_setr_epi32(int(wx[0]), int(wx[1]), int(wx[2]), int(wx[3])), wxl, wxh);
      SpreadWeights(_mm_setr_epi32(int(wy[0]), int(wy[1]), int(wy[2]), int(wy[3])), wyl, wyh);
      const __m128i lo =
          LerpLanes(LerpLanes(Lo16(q1), Lo16(q2), wxl), LerpLanes(Lo16(q3), Lo16(q4), wxl), wyl);
      const __m128i hi =
          LerpLanes(LerpLanes(Hi16(q1), Hi16(q2), wxh), LerpLanes(Hi16(q3), Hi16(q4), wxh), wyh);
      Put4(S, d + i, _mm_packus_epi16(lo, hi), lo, hi, m1);
    } else {
      TColor32 c[4];
      for (int k = 0; k < 4; ++k, ux += S.StepX, uy += S.StepY)
        c[k] = S.Src[std::int64_t(std::int32_t(uy) >> 12) * S.Stride + (std::int32_t(ux) >> 12)];
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c));
      Put4(S, d + i, v, Lo16(v), Hi16(v), m1);
    }
  }
  SpanPixels<Linear>(S, i, ux, uy);
}

}  // namespace

void TransformLinearSpan_SSE2(const AffineSpan& S) {
  TransformSpan<true>(S);
}

void TransformNearestSpan_SSE2(const AffineSpan& S) {
  TransformSpan<false>(S);
}

void StretchVerticalLerp_SSE2(const TColor32* Upper, const TColor32* Lower, TColor32 WY,
                              TColor32* Out, std::int32_t Count) {
  const __m128i w = _mm_set1_epi16(std::int16_t(WY));
  std::int32_t i = 0;
  for (; i + 4 <= Count; i += 4) {
    const __m128i u = _mm_loadu_si128(reinterpret_cast<const __m128i*>(Upper + i));
    const __m128i l = _mm_loadu_si128(reinterpret_cast<const __m128i*>(Lower + i));
    _mm_storeu_si128(
        reinterpret_cast<__m128i*>(Out + i),
        _mm_packus_epi16(LerpLanes(Lo16(u), Lo16(l), w), LerpLanes(Hi16(u), Hi16(l), w)));
  }
  for (; i < Count; ++i) Out[i] = PackedLerp(Upper[i], Lower[i], WY);
}

void StretchHorizontalLerp_SSE2(const TColor32* V, const std::int32_t* T, const std::uint32_t* WX,
                                TColor32* Out, std::int32_t Count) {
  std::int32_t i = 0;
  for (; i + 4 <= Count; i += 4) {
    __m128i a, b;
    Pairs4(V + T[i], V + T[i + 1], V + T[i + 2], V + T[i + 3], a, b);
    __m128i wl, wh;
    SpreadWeights(_mm_loadu_si128(reinterpret_cast<const __m128i*>(WX + i)), wl, wh);
    _mm_storeu_si128(
        reinterpret_cast<__m128i*>(Out + i),
        _mm_packus_epi16(LerpLanes(Lo16(a), Lo16(b), wl), LerpLanes(Hi16(a), Hi16(b), wh)));
  }
  for (; i < Count; ++i) Out[i] = PackedLerp(V[T[i]], V[T[i] + 1], WX[i]);
}

void BlendMemExRow_SSE2(const TColor32* Samples, TColor32* Dst, std::int32_t Count, TColor32 M) {
  const __m128i m1 = _mm_set1_epi16(std::int16_t(M + 1));
  std::int32_t i = 0;
  for (; i + 4 <= Count; i += 4) {
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(Samples + i));
    __m128i* out = reinterpret_cast<__m128i*>(Dst + i);
    _mm_storeu_si128(out, BlendEx(Lo16(c), Hi16(c), _mm_loadu_si128(out), m1));
  }
  for (; i < Count; ++i) PackedBlendMemExPixel(Samples[i], Dst[i], M);
}

}  // namespace raster
