// Internal to the picture import: the 24 to 32-bit row conversions, exposed so the tests can
// hold the vector version against the scalar one.
#pragma once

#include <cstdint>

namespace overlay::detail {

// B, G, R bytes of Width pixels to opaque 0xAARRGGBB pixels. Reads no byte past the row's
// 3 * Width bytes.
void ConvertRow24Scalar(const std::uint8_t* Src, unsigned Width, std::uint32_t* Dst);
// The same with SSSE3 shuffles, four pixels per step; call only where HasSsse3() is true.
void ConvertRow24Ssse3(const std::uint8_t* Src, unsigned Width, std::uint32_t* Dst);
bool HasSsse3();

// The conversion in use: the SSSE3 one where the processor has it, unless the environment
// variable RASTER_SIMD is "off", then the scalar one.
using TConvertRow24 = void (*)(const std::uint8_t*, unsigned, std::uint32_t*);
TConvertRow24 ConvertRow24();

}  // namespace overlay::detail
