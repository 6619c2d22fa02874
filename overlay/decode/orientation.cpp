#include "overlay/decode/orientation.h"

#include <algorithm>
#include <cstdint>
#include <utility>

#include "platform/ini_profile.h"

namespace overlay {

namespace {

using raster::TBitmap32;
using raster::TColor32;

// Moves every pixel of Bitmap to Map(X, Y), the place of source pixel (X, Y) in a Width' x
// Height' result (Height x Width when Swap, else the same size).
template <typename TMap>
void Remap(TBitmap32& Bitmap, bool Swap, TMap Map) {
  const std::int32_t w = Bitmap.Width(), h = Bitmap.Height();
  TBitmap32 turned;
  turned.SetSizeForOverwrite(Swap ? h : w, Swap ? w : h);
  const std::int32_t outWidth = turned.Width();
  const TColor32* src = Bitmap.PixelBuffer();
  TColor32* dst = turned.PixelBuffer();
  for (std::int32_t y = 0; y < h; ++y) {
    for (std::int32_t x = 0; x < w; ++x) {
      const auto [tx, ty] = Map(x, y);
      dst[std::size_t(ty) * std::size_t(outWidth) + std::size_t(tx)] =
          src[std::size_t(y) * std::size_t(w) + std::size_t(x)];
    }
  }
  Bitmap.TakeOver(turned);
}

}  // namespace

void ApplyExifOrientation(TBitmap32& Bitmap, int Orientation) {
  const std::int32_t w = Bitmap.Width(), h = Bitmap.Height();
  if (w <= 0 || h <= 0) return;
  using TPoint = std::pair<std::int32_t, std::int32_t>;
  switch (Orientation) {
    case 2:  // mirrored left to right: in place, row by row
      for (std::int32_t y = 0; y < h; ++y) {
        TColor32* row = Bitmap.GetScanLine(y);
        std::reverse(row, row + w);
      }
      break;
    case 3:  // turned by 180 degrees: the whole buffer reversed
      std::reverse(Bitmap.PixelBuffer(), Bitmap.PixelBuffer() + std::size_t(w) * std::size_t(h));
      break;
    case 4:  // mirrored top to bottom: rows swapped in place
      for (std::int32_t y = 0; y < h / 2; ++y) {
        std::swap_ranges(Bitmap.GetScanLine(y), Bitmap.GetScanLine(y) + w,
                         Bitmap.GetScanLine(h - 1 - y));
      }
      break;
    case 5:
      Remap(Bitmap, true, [](std::int32_t X, std::int32_t Y) { return TPoint(Y, X); });
      break;
    case 6:
      Remap(Bitmap, true, [h](std::int32_t X, std::int32_t Y) { return TPoint(h - 1 - Y, X); });
      break;
    case 7:
      Remap(Bitmap, true,
            [w, h](std::int32_t X, std::int32_t Y) { return TPoint(h - 1 - Y, w - 1 - X); });
      break;
    case 8:
      Remap(Bitmap, true, [w](std::int32_t X, std::int32_t Y) { return TPoint(Y, w - 1 - X); });
      break;
    default:  // 1 (upright already) and values EXIF does not define
      break;
  }
  if (Orientation >= 2 && Orientation <= 4) Bitmap.Changed();
}

bool ReadExifOrientationSetting(const std::string& Path) {
  platform::TIniFile ini(Path);
  return ini.ReadInteger("Display", "ExifOrientation", 0) == 1;
}

}  // namespace overlay
