// Per-channel lookup tables on a bitmap's pixels: each of blue, green and red goes through its
// own table of 256 entries, alpha stays. Exact integer work, the same on every processor.
#pragma once

#include <array>
#include <cstdint>

#include "raster/core.h"

namespace raster {

struct TChannelLuts {
  std::array<std::array<std::uint8_t, 256>, 3> Table;  // blue, green, red, as TColor32 holds them
  // Each table maps every value onto itself.
  static TChannelLuts Identity();
  bool IsIdentity() const;
  friend bool operator==(const TChannelLuts&, const TChannelLuts&) = default;
};

// Every pixel of Bitmap through Luts.
void ApplyChannelLuts(TBitmap32& Bitmap, const TChannelLuts& Luts);

}  // namespace raster
