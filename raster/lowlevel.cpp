#include "raster/lowlevel.h"

#include <cstring>

namespace raster {

std::int32_t MulDiv(std::int32_t a, std::int32_t b, std::int32_t c) {
  const bool negative = ((a < 0) != (b < 0)) != (c < 0);
  const std::uint64_t ma = a < 0 ? std::uint64_t(-std::int64_t(a)) : std::uint64_t(a);
  const std::uint64_t mb = b < 0 ? std::uint64_t(-std::int64_t(b)) : std::uint64_t(b);
  const std::uint64_t mc = c < 0 ? std::uint64_t(-std::int64_t(c)) : std::uint64_t(c);
  if (mc == 0) return -1;
  const std::uint64_t product = ma * mb;  // at most 2^62, cannot overflow
  std::uint64_t q = product / mc;
  const std::uint64_t r = product % mc;
  if (mc - r <= r) ++q;
  // A quotient that does not fit is never returned wrapped.
  if (negative) {
    if (q > std::uint64_t(1) << 31) return -1;
    return std::int32_t(-std::int64_t(q));
  }
  if (q > 0x7FFFFFFFu) return -1;
  return std::int32_t(q);
}

void FillLongword(TColor32* Dest, std::int32_t Count, TColor32 Value) {
  for (std::int32_t i = 0; i < Count; ++i) Dest[i] = Value;
}

void MoveLongword(const TColor32* Source, TColor32* Dest, std::int32_t Count) {
  if (Source == Dest || Count <= 0) return;
  // Forwards, word by word, as callers that overlap with Dest before Source expect.
  if (Dest + Count <= Source || Source + Count <= Dest) {
    std::memcpy(Dest, Source, std::size_t(Count) * sizeof(TColor32));
  } else {
    for (std::int32_t i = 0; i < Count; ++i) Dest[i] = Source[i];
  }
}

}  // namespace raster
