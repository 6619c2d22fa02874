// Where the overlay stands, in one place: at the slider state the four placing bars show, or at
// a precise placement (between slider steps, or beyond a bar's end) that the bars show only as
// its nearest state. It holds the precise placement, decides what the bars and the read-outs
// show for it, and what a bar's move does to it; the controller moves the bars and the layer.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "overlay/comparison/sliders.h"

namespace overlay {

// The four bars that place the overlay, as the placement names them.
enum class TPlacingBar { Angle, OffsetX, OffsetY, OverlayZoom };

class TOverlayPlacement {
 public:
  // A bar moved while the overlay stands precisely: where it goes, and the bar (dragged, from
  // HeldPosition) that leaves it there while the gesture lasts.
  struct TFollow {
    TPrecisePlacement Placement;
    std::optional<TPlacingBar> Held;
    int HeldPosition = 0;
  };

  bool Precise() const { return FPrecise.has_value(); }
  const std::optional<TPrecisePlacement>& PreciseOne() const { return FPrecise; }
  // Where the overlay stands, the bars standing at Bars.
  TPrecisePlacement Placement(const TPlacement& Bars) const {
    return FPrecise ? *FPrecise : PreciseOf(Bars);
  }
  // The overlay now stands at Placement.
  void StandAt(const TPrecisePlacement& Placement) { FPrecise = Placement; }
  // Back at the slider state, each bar's handler applying its own position again; true when it
  // was precise (the layer's own scale is then to be dropped).
  bool Drop();
  // A bar dragged from a value beyond its end, while the gesture lasts, and its position at the
  // last change: the value moves from there by as much as the bar moves.
  void Hold(std::optional<TPlacingBar> Bar, int Position = 0) {
    FHeld = Bar;
    FHeldPosition = Position;
  }
  std::optional<TPlacingBar> Held() const { return FHeld; }

  // What the move of a bar to Bars does to the precise placement: a value beyond its bar's end
  // (the bar stands at the end) is kept when another bar moves, and moves from where it is by as
  // much as its own bar moved, so that a bar taken from its end never makes the overlay jump; a
  // bar dragged (InGesture) holds the value where the mouse puts it. None when nothing is kept:
  // the overlay goes back to exactly the slider state the bars show.
  std::optional<TFollow> Follow(const TPlacement& Bars, bool InGesture) const;

  // The read-outs of the angle, X, Y and overlay zoom for a precise placement, marked as lying
  // between slider steps (BetweenStepsMark).
  static std::array<std::string, 4> ReadOuts(const TPrecisePlacement& Placement,
                                             std::string_view DecimalSeparator);

  // While the bars are set to show a placement their handlers leave the overlay alone.
  bool ShowingOnBars() const { return FShowingOnBars; }
  class TShowOnBars {
   public:
    explicit TShowOnBars(TOverlayPlacement& Owner) : FOwner(Owner) { FOwner.FShowingOnBars = true; }
    ~TShowOnBars() { FOwner.FShowingOnBars = false; }
    TShowOnBars(const TShowOnBars&) = delete;
    TShowOnBars& operator=(const TShowOnBars&) = delete;

   private:
    TOverlayPlacement& FOwner;
  };

 private:
  std::optional<TPrecisePlacement> FPrecise;
  std::optional<TPlacingBar> FHeld;
  int FHeldPosition = 0;
  bool FShowingOnBars = false;
};

// Put before a read-out that shows a placement between slider steps.
inline constexpr const char* BetweenStepsMark = "\u2248 ";

}  // namespace overlay
