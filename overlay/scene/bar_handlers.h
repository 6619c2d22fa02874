// What each of the six bars' change handlers does to the view and picture 2's layer, without a
// window: the controller calls these while both pictures are loaded; the formulas themselves are
// the comparison's (sliders.h), so that the outputs and the alignment use them without a view.
#pragma once

#include "controls/image_view.h"
#include "controls/rot_layer.h"
#include "overlay/comparison/sliders.h"
#include "raster/core.h"

namespace overlay {

// ---------------------------------------------------------------------------------------
// Change handlers (each used only while both pictures are loaded)

// GaugeBar2Change / GaugeBar3Change.
void ApplyOverlayOffset(raster::TRotLayer& Layer, const raster::TBitmap32& Original, int OffsetX,
                        int OffsetY);
// GaugeBar1Change.
void ApplyOverlayAngle(raster::TRotLayer& Layer, int Position);
// GaugeBar5Change: the layer bitmap is rebuilt from the unscaled copy (which draws opaque with
// bilinear filtering, replacing every pixel); centre and position stay.
void ApplyOverlayZoom(raster::TRotLayer& Layer, const raster::TBitmap32& Original, int Position);
// The rebuild inside GaugeBar5Change at factor F: the layer bitmap takes the zoomed size and
// gets the unscaled copy stretched into it.
void RebuildOverlayBitmap(raster::TBitmap32& Bitmap, const raster::TBitmap32& Original, float F);
// GaugeBar4Change: the view's scale, then an immediate repaint.
void ApplyViewZoom(raster::TImgView32& View, int Position);
// GaugeAlphaChange.
void ApplyOverlayAlpha(raster::TRotLayer& Layer, int Position);

}  // namespace overlay
