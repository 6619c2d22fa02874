// Exposure and colour matching: per colour channel a gain and an offset that bring picture 2's
// colours onto picture 1's over the part that the placement lays on picture 1, so that the
// difference view and the flicker show change rather than another lamp or exposure.
#pragma once

#include <array>

#include "overlay/comparison/sliders.h"
#include "raster/channel_lut.h"
#include "raster/core.h"

namespace overlay {

struct TColourMatch {
  bool Fitted = false;  // false: too little overlap or too few unsaturated pixels; no change
  std::array<double, 3> Gain{1, 1, 1};    // blue, green, red
  std::array<double, 3> Offset{0, 0, 0};  // in 0..255 values
  raster::TChannelLuts Luts = raster::TChannelLuts::Identity();
};

// The most sample points the fit reads (a grid over picture 2), so that its cost does not grow
// with the pictures.
constexpr int ColourMatchSamples = 256 * 256;

// Samples picture 2 on a grid, maps each point through Placement onto picture 1 and keeps the
// pairs where both pixels lie inside and no channel of either is clipped (at or below 4, at or
// above 251). Per channel, the two distributions' quantiles from 2 % to 98 % (the outermost
// values, and so highlights, shadows and most of a changed spot, left out) give a least-squares
// gain and offset; the gain is kept within 0.25..4. The lookup table is the line, rounded and
// clamped to 0..255.
TColourMatch FitColourMatch(const raster::TBitmap32& Picture1, const raster::TBitmap32& Picture2,
                            const TPrecisePlacement& Placement);

}  // namespace overlay
