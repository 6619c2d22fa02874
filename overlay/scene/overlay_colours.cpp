#include "overlay/scene/overlay_colours.h"

namespace overlay {

bool TOverlayColours::Refit(const raster::TBitmap32& Picture1, raster::TBitmap32& Original,
                            const TPrecisePlacement& Placement, bool Fit) {
  // Always from picture 2 as loaded, never from an earlier match.
  TColourMatch match;
  if (FOn && Fit) match = FitColourMatch(Picture1, Loaded(Original), Placement);
  const bool same = match.Luts == FMatch.Luts;
  FMatch = match;
  if (same) return false;
  if (FPristine == nullptr) {
    FPristine = std::make_unique<raster::TBitmap32>();
    FPristine->Assign(&Original);
  }
  Original.Assign(FPristine.get());
  Original.SetStretchFilter(raster::sfLinear);
  Original.SetDrawMode(raster::dmOpaque);
  if (match.Luts.IsIdentity()) {
    FPristine.reset();  // the copy is picture 2 itself again
  } else {
    raster::ApplyChannelLuts(Original, match.Luts);
  }
  return true;
}

}  // namespace overlay
