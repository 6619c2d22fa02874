// Where the overlay stands, in one place: at the slider state the four placing bars show, or at
// a precise placement (between slider steps, or beyond a bar's end) that the bars show only as
// its nearest state. It holds the precise placement and the placing bars, places picture 2's
// layer by either, decides what the bars and the read-outs show for a precise placement, and
// what a bar's move does to it.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "controls/range_bars.h"
#include "controls/rot_layer.h"
#include "overlay/comparison/sliders.h"
#include "overlay/scene/view_input.h"

namespace overlay {

// The four bars that place the overlay, as the placement names them.
enum class TPlacingBar { Angle, OffsetX, OffsetY, OverlayZoom };

// What placing the overlay needs of the view that holds it.
class TPlacementHost {
 public:
  // Picture 2's layer and its unscaled copy; null while there is none.
  virtual raster::TRotLayer* RotLayer() const = 0;
  virtual const raster::TBitmap32* OverlayOriginal() const = 0;
  // Both pictures loaded.
  virtual bool ControlsEnabled() const = 0;
  // Placing shows the overlay as its placement says.
  virtual void StopFlicker() = 0;
  // One step of the history, however many bars it moves, and whether one is open.
  virtual void BeginGesture() = 0;
  virtual void EndGesture() = 0;
  virtual bool InGesture() const = 0;
  // The overlay was placed: a step of the history where it is one.
  virtual void RecordPlacement() = 0;
  // A placing bar's read-out, and the overlay zoom's for its bar.
  virtual void ShowReadOut(TPlacingBar Bar, std::string Text) = 0;
  virtual std::string OverlayZoomText() const = 0;
  virtual const std::string& DecimalSeparator() const = 0;

 protected:
  ~TPlacementHost() = default;
};

class TOverlayPlacement {
 public:
  // Host and the four bars (angle, X, Y, overlay zoom) outlive this.
  TOverlayPlacement(TPlacementHost& Host, raster::TGaugeBar& Angle, raster::TGaugeBar& OffsetX,
                    raster::TGaugeBar& OffsetY, raster::TGaugeBar& OverlayZoom)
      : FHost(Host), FBars{&Angle, &OffsetX, &OffsetY, &OverlayZoom} {}
  TOverlayPlacement(const TOverlayPlacement&) = delete;
  TOverlayPlacement& operator=(const TOverlayPlacement&) = delete;

  // The placing bars' positions, and one of them.
  TPlacement Bars() const;
  raster::TGaugeBar& Bar(TPlacingBar Which) const { return *FBars[std::size_t(Which)]; }
  // Where the overlay stands: the precise placement, or the bars' state.
  TPrecisePlacement Placement() const { return Placement(Bars()); }

  // The overlay exactly at Placement, also between slider steps or beyond the bars' ends, as one
  // step; the bars show the nearest slider state without moving it, the read-outs the placement
  // itself (BetweenStepsMark); a placement on slider steps is the slider state itself. False, with
  // nothing changed, unless both pictures are loaded and picture 2 so zoomed fits a bitmap.
  bool PlacePrecisely(const TPrecisePlacement& Placement);
  // The bars moved to Placement, in the order angle, X, Y, overlay zoom, each handler running
  // (also where a bar stands there already), as one step.
  void ApplyPlacement(const TPlacement& Placement);
  // The placing bars' change handlers (the X handler serves Y too): each places the overlay by
  // its bar, or moves a precise placement by it.
  void AngleChanged();
  void OffsetChanged();
  void OverlayZoomChanged();
  // The overlay no longer between steps or beyond the bars, so that each placing bar's handler
  // applies its own position.
  void DropPrecise();

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

  // An arrow's Nudge of an offset beyond its bar's end moves the offset from its value, either
  // way (the bar at its end cannot move outward): the placement it goes to; none otherwise.
  std::optional<TPrecisePlacement> NudgedBeyondBar(const TNudge& Nudge) const;
  // A key with Alt: Placement moved by Step (picture-1 pixels or degrees) in Nudge's direction,
  // the turn folded into -180..180; a value that comes back to a whole number within rounding is
  // that number, so that ten nudges one way and ten back give the slider state again. None for
  // the view's zoom, which has no finer steps.
  static std::optional<TPrecisePlacement> FineNudged(TPrecisePlacement Placement,
                                                     const TNudge& Nudge, double Step);

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
  // PlacePrecisely, leaving Held (a bar being dragged) where it is.
  bool PlaceAt(const TPrecisePlacement& Placement, const raster::TGaugeBar* Held);
  // In a placing bar's handler: true when the handler has nothing more to do, because the bars
  // only show a placement, or because it has just put the overlay back at the bars' state.
  bool LeavePrecisePlacement();

  TPlacementHost& FHost;
  std::array<raster::TGaugeBar*, 4> FBars;
  std::optional<TPrecisePlacement> FPrecise;
  std::optional<TPlacingBar> FHeld;
  int FHeldPosition = 0;
  bool FShowingOnBars = false;
};

// Put before a read-out that shows a placement between slider steps.
inline constexpr const char* BetweenStepsMark = "\u2248 ";

}  // namespace overlay
