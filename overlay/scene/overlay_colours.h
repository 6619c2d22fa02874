// Exposure and colour matching of the overlay: while on, the overlay's copy of picture 2 holds
// picture 2 through the per-channel tables fitted at the placement shown (FitColourMatch),
// refitted after each placement change and each new picture; off, picture 2 as loaded. The
// picture as loaded is kept beside the copy while the copy holds matched colours, so that every
// fit starts from it, never from an earlier match.
#pragma once

#include <memory>

#include "overlay/comparison/colour_match.h"
#include "overlay/comparison/sliders.h"
#include "raster/core.h"

namespace overlay {

class TOverlayColours {
 public:
  void SetOn(bool On) { FOn = On; }
  bool On() const { return FOn; }
  // The fit now applied (identity while off).
  const TColourMatch& Match() const { return FMatch; }
  // Picture 2 as loaded, given the overlay's copy of it.
  const raster::TBitmap32& Loaded(const raster::TBitmap32& Original) const {
    return FPristine ? *FPristine : Original;
  }
  // A new picture 2 (Original as loaded): its colours are fitted anew.
  void Forget() {
    FPristine.reset();
    FMatch = {};
  }
  // Fits picture 2 onto Picture1 at Placement while on and Fit (both pictures loaded), else
  // the identity, and gives Original those colours; true when they changed, so that the
  // overlay's bitmap is to be built again from Original.
  bool Refit(const raster::TBitmap32& Picture1, raster::TBitmap32& Original,
             const TPrecisePlacement& Placement, bool Fit);

 private:
  bool FOn = false;
  TColourMatch FMatch;
  std::unique_ptr<raster::TBitmap32> FPristine;
};

}  // namespace overlay
