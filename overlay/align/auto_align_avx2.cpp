// The inner loops of the alignment's reduction and matcher for AVX2. The grey and weighting
// loops are the portable code of auto_align_p.h compiled with -mavx2 and -ffp-contract=off:
// integer grey bytes and the same two float steps per pixel, so the same bits. The dot products
// take eight train rows a step, one per 32-bit lane, with no sum across lanes at the end; they
// are exact integer sums like the portable ones. Called only when raster::HasAVX2().
#include <immintrin.h>

#include <cstring>

#include "overlay/align/auto_align_p.h"

namespace overlay {

void GreyRowAvx2(const std::uint8_t* Bgra, std::uint8_t* Grey, int Count) {
  alignloops::GreyRow(Bgra, Grey, Count);
}

void WeighDownAvx2(const std::uint8_t* Grey, float Weight, bool First, float* Down, int Count) {
  alignloops::WeighDown(Grey, Weight, First, Down, Count);
}

void DotsOfFourAvx2(const std::int16_t* Queries, const std::int16_t* Eights, int TrainRows,
                    int Length, std::int32_t* Out) {
  const int pairs = Length / 2;
  for (int group = 0; group < TrainRows / 8; ++group) {
    const std::int16_t* t = Eights + std::size_t(group) * std::size_t(Length) * 8;
    __m256i sum[4] = {_mm256_setzero_si256(), _mm256_setzero_si256(), _mm256_setzero_si256(),
                      _mm256_setzero_si256()};
    for (int p = 0; p < pairs; ++p) {
      // Pair p of eight train rows against pair p of each query row, broadcast: each 32-bit lane
      // adds its row's two products.
      const __m256i rows = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(t + 16 * p));
      for (int k = 0; k < 4; ++k) {
        std::int32_t pair;
        std::memcpy(&pair, Queries + std::size_t(k) * std::size_t(Length) + 2 * p, sizeof pair);
        sum[k] = _mm256_add_epi32(sum[k], _mm256_madd_epi16(rows, _mm256_set1_epi32(pair)));
      }
    }
    for (int k = 0; k < 4; ++k) {
      _mm256_storeu_si256(
          reinterpret_cast<__m256i*>(Out + std::size_t(k) * std::size_t(TrainRows) + 8 * group),
          sum[k]);
    }
  }
}

}  // namespace overlay
