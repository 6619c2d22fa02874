#include "overlay/scene/bar_handlers.h"

#include <cstdint>

#include "raster/transforms.h"

namespace overlay {

using raster::TBitmap32;

std::unique_ptr<TBitmap32> OverlayOriginalOf(const TBitmap32& Picture) {
  auto original = std::make_unique<TBitmap32>();
  original->Assign(&Picture);
  original->SetStretchFilter(raster::sfLinear);
  original->SetDrawMode(raster::dmOpaque);
  return original;
}

void SetUpBar(raster::TGaugeBar& Bar, const TSliderRange& Range) {
  Bar.SetBounds(0, 0, MainSliderWidth, MainSliderHeight);
  Bar.SetStyle(raster::rbsMac);
  Bar.SetBackgnd(raster::bgPattern);
  Bar.SetShowHandleGrip(true);
  Bar.SetSmallChange(1);
  Bar.SetLargeChange(1);
  // Max before Min and Position: with the default range 0..100 a minimum of -600 or a
  // position of 120 would otherwise be pulled into the old range.
  Bar.SetMax(Range.Max);
  Bar.SetMin(Range.Min);
  Bar.SetPosition(Range.Initial);
}

void SetUpMainView(raster::TImgView32& View, int Width, int Height) {
  View.SetBounds(0, 0, Width, Height);
  View.SetColor(MainViewColor);
  View.SetScale(1.0f);
  View.SetSizeGrip(raster::sgNone);
  View.ScrollBars().SetColor(raster::clBtnShadow);
  View.ScrollBars().SetShowHandleGrip(true);
  View.ScrollBars().SetStyle(raster::rbsDefault);
  View.Loaded();
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
