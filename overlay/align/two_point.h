// The two-point placement: the overlay turned, zoomed and moved so that two points marked on
// picture 2 meet their partners on picture 1 (the positioning assistant's result).
#pragma once

#include <optional>

#include "overlay/comparison/sliders.h"
#include "raster/core.h"

namespace overlay {

// A1 and A2 in picture 1, B1 and B2 their partners in picture 2 (Width2 x Height2): the precise
// placement that lays B1 on A1 and B2 on A2, its turn folded into -180..180 degrees. None when
// two points of either picture coincide, which defines no turn or zoom.
std::optional<TPrecisePlacement> TwoPointPlacement(raster::TFloatPoint A1, raster::TFloatPoint B1,
                                                   raster::TFloatPoint A2, raster::TFloatPoint B2,
                                                   int Width2, int Height2);

}  // namespace overlay
