// Compiled with -mssse3; called only after a run-time check.
#include <cstddef>

#include "overlay/decode/picture_import_p.h"

#if defined(__SSSE3__)
#include <tmmintrin.h>
#endif

namespace overlay::detail {

#if defined(__SSSE3__)
void ConvertRow24Ssse3(const std::uint8_t* Src, unsigned Width, std::uint32_t* Dst) {
  // Bytes 0-11 of a 16-byte load are four B, G, R triples; -1 selects zero for the alpha lane,
  // which the OR then sets to 255.
  const __m128i spread = _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
  const __m128i alpha = _mm_set1_epi32(int(0xFF000000u));
  unsigned x = 0;
  // A load at pixel x reads bytes 3x to 3x + 15, inside the row while x + 6 <= Width.
  for (; x + 6 <= Width; x += 4) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(Src + 3 * std::size_t(x)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(Dst + x),
                     _mm_or_si128(_mm_shuffle_epi8(v, spread), alpha));
  }
  ConvertRow24Scalar(Src + 3 * std::size_t(x), Width - x, Dst + x);
}
#else
// Other processors never choose this; it exists so that the table of conversions links.
void ConvertRow24Ssse3(const std::uint8_t* Src, unsigned Width, std::uint32_t* Dst) {
  ConvertRow24Scalar(Src, Width, Dst);
}
#endif

}  // namespace overlay::detail
