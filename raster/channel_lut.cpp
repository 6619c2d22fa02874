#include "raster/channel_lut.h"

#include "raster/row_pool.h"

namespace raster {

TChannelLuts TChannelLuts::Identity() {
  TChannelLuts luts;
  for (auto& table : luts.Table) {
    for (int v = 0; v < 256; ++v) table[std::size_t(v)] = std::uint8_t(v);
  }
  return luts;
}

bool TChannelLuts::IsIdentity() const {
  return *this == Identity();
}

void ApplyChannelLuts(TBitmap32& Bitmap, const TChannelLuts& Luts) {
  const std::int32_t w = Bitmap.Width();
  if (w <= 0 || Bitmap.Height() <= 0) return;
  // Named references, not a structured binding: the lambda below captures them.
  const auto& b = Luts.Table[0];
  const auto& g = Luts.Table[1];
  const auto& r = Luts.Table[2];
  ForRows(0, Bitmap.Height(), w, [&](std::int32_t First, std::int32_t Last) {
    for (std::int32_t y = First; y < Last; ++y) {
      TColor32* p = Bitmap.GetScanLine(y);
      for (std::int32_t x = 0; x < w; ++x) {
        const TColor32 c = p[x];
        p[x] = (c & 0xFF000000u) | (TColor32(r[(c >> 16) & 0xFF]) << 16) |
               (TColor32(g[(c >> 8) & 0xFF]) << 8) | TColor32(b[c & 0xFF]);
      }
    }
  });
}

}  // namespace raster
