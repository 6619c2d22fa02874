// What each of the six bars' change handlers does to the view and picture 2's layer, without a
// window: the controller calls these while both pictures are loaded; the formulas themselves are
// the comparison's (sliders.h), so that the outputs and the alignment use them without a view.
#pragma once

#include <memory>

#include "controls/image_view.h"
#include "controls/range_bars.h"
#include "controls/rot_layer.h"
#include "overlay/comparison/sliders.h"
#include "raster/core.h"

namespace overlay {

// The main window's view as it is created: colour, scale 1, no size grip, scroll bars with
// handle grip in the button-shadow colour; then Loaded.
void SetUpMainView(raster::TImgView32& View, int Width, int Height);
// The view colour 4530208 (red 32, green 32, blue 69) as the platform colour.
constexpr raster::TWinColor MainViewColor = 4530208;
// The main window's view size.
constexpr int MainViewWidth = 977;
constexpr int MainViewHeight = 570;
// The main window's gauge bars as they are created; the name fields of the pictures start as
// wide as they, and the window's layout then widens or narrows both alike.
constexpr int MainSliderWidth = 337;
constexpr int MainSliderHeight = 20;

// A placing, zoom or opacity bar as the main window creates it, at Range's start.
void SetUpBar(raster::TGaugeBar& Bar, const TSliderRange& Range);
// Picture 2 as the overlay keeps it beside the layer's own bitmap, which the zoom and the colour
// matching rebuild from it.
std::unique_ptr<raster::TBitmap32> OverlayOriginalOf(const raster::TBitmap32& Picture);

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
