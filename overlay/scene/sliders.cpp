#include "overlay/scene/sliders.h"

#include <cmath>

#include "raster/transforms.h"

namespace overlay {

using raster::TBitmap32;

// ---------------------------------------------------------------------------------------
// Sliders

float OverlayZoomFactor(int Position) {
  return float(std::pow(10.0L, Position * 0.001L));
}

float ViewZoomFactor(int Position) {
  return float(std::pow(10.0L, Position * 0.01L));
}

raster::TFloatPoint OverlayPosition(int OffsetX, int OffsetY, std::int32_t Width,
                                    std::int32_t Height) {
  // Integer sums first, then converted: the offsets are whole picture-1 pixels.
  return {float(OffsetX + Width / 2), float(OffsetY + Height / 2)};
}

double OverlayStretchFactor(int Loaded, int Zoomed) {
  if (Zoomed == Loaded || Loaded < 2) return Loaded > 0 ? double(Zoomed) / Loaded : 1;
  return double(Zoomed) / (Loaded - 1);
}

raster::TFloatPoint OverlayPosition(int OffsetX, int OffsetY, const TBitmap32& Original) {
  return OverlayPosition(OffsetX, OffsetY, Original.Width(), Original.Height());
}

raster::TSize OverlayZoomSize(std::int32_t Width, std::int32_t Height, float F) {
  // The product in extended precision, as the factor meets an integer; truncated toward zero.
  return {std::int32_t(std::trunc(static_cast<long double>(Width) * F)),
          std::int32_t(std::trunc(static_cast<long double>(Height) * F))};
}

raster::TSize OverlayZoomSize(const TBitmap32& Original, float F) {
  return OverlayZoomSize(Original.Width(), Original.Height(), F);
}

std::string FormatZoom(float Value, int Precision, std::string_view DecimalSeparator,
                       std::string_view ThousandSeparator) {
  if (!std::isfinite(Value)) Value = 0;
  Precision = std::clamp(Precision, 2, 18);
  // Round to Precision significant digits first (2.3442 -> 2.3), then show two decimals.
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*e", Precision - 1, double(Value));
  const double rounded = std::strtod(buffer, nullptr);
  std::snprintf(buffer, sizeof buffer, "%.2f", rounded);
  std::string text = buffer;
  const std::size_t point = text.find('.');
  std::string whole = text.substr(0, point), fraction = text.substr(point + 1);
  const bool negative = !whole.empty() && whole[0] == '-';
  if (negative) whole.erase(0, 1);
  std::string grouped;
  for (std::size_t i = 0; i < whole.size(); ++i) {
    if (i > 0 && (whole.size() - i) % 3 == 0) grouped += ThousandSeparator;
    grouped += whole[i];
  }
  std::string result = negative ? "-" : "";
  result += grouped;
  result += DecimalSeparator;
  result += fraction;
  return result;
}

// ---------------------------------------------------------------------------------------
// Change handlers

void ApplyOverlayOffset(raster::TRotLayer& Layer, const TBitmap32& Original, int OffsetX,
                        int OffsetY) {
  Layer.SetPosition(OverlayPosition(OffsetX, OffsetY, Original));
}

void ApplyOverlayAngle(raster::TRotLayer& Layer, int Position) {
  Layer.SetAngle(float(Position));
}

void RebuildOverlayBitmap(TBitmap32& Bitmap, const TBitmap32& Original, float F) {
  const raster::TSize size = OverlayZoomSize(Original, F);
  // The layer bitmap keeps its draw mode, master alpha and filter; only its pixels are
  // replaced, always from the unscaled copy, so repeated zooming never degrades the overlay.
  // Zero-filling a buffer that the draw overwrites entirely would be wasted work.
  if (raster::StretchWritesEveryPixel(Original)) {
    Bitmap.SetSizeForOverwrite(size.cx, size.cy);
  } else {
    Bitmap.SetSize(size.cx, size.cy);
  }
  Original.DrawTo(Bitmap, raster::MakeRect(0, 0, size.cx, size.cy));
  // An empty result draws nothing and notifies nothing; the layer's source rectangle must
  // follow the new size all the same.
  if (Bitmap.Empty()) Bitmap.Changed();
}

void ApplyOverlayZoom(raster::TRotLayer& Layer, const TBitmap32& Original, int Position) {
  RebuildOverlayBitmap(*Layer.Bitmap(), Original, OverlayZoomFactor(Position));
}

void ApplyViewZoom(raster::TImgView32& View, int Position) {
  View.SetScale(ViewZoomFactor(Position));
  View.Update();
}

void ApplyOverlayAlpha(raster::TRotLayer& Layer, int Position) {
  Layer.Bitmap()->SetMasterAlpha(std::uint32_t(Position));
}

}  // namespace overlay
