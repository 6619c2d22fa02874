#include "overlay/scene/overlay_placement.h"

#include <cmath>

#include "overlay/base/number_format.h"

namespace overlay {

bool TOverlayPlacement::Drop() {
  FHeld.reset();
  const bool was = FPrecise.has_value();
  FPrecise.reset();
  return was;
}

std::optional<TOverlayPlacement::TFollow> TOverlayPlacement::Follow(const TPlacement& Bars,
                                                                    bool InGesture) const {
  if (!FPrecise) return std::nullopt;
  const TPrecisePlacement& now = *FPrecise;
  const TPlacement shown = NearestSteps(now);
  bool kept = false;
  std::optional<TPlacingBar> moved;
  const auto follow = [&](TPlacingBar Bar, int Position, int Shown, bool Beyond, double Value,
                          double Snapped, auto Move) {
    if (!Beyond && Bar != FHeld) return Snapped;
    kept = true;
    const int by = Position - (Bar == FHeld ? FHeldPosition : Shown);
    if (by == 0) return Value;
    moved = Bar;
    return Move(Value, by);
  };
  const auto shift = [](double Value, int By) { return Value + By; };
  TFollow to;
  TPrecisePlacement& p = to.Placement;
  p.Angle = Bars.Angle;  // the angle slider's range holds every turn
  p.X = follow(TPlacingBar::OffsetX, Bars.OffsetX, shown.OffsetX, !OffsetXSlider.Holds(now.X),
               now.X, Bars.OffsetX, shift);
  p.Y = follow(TPlacingBar::OffsetY, Bars.OffsetY, shown.OffsetY, !OffsetYSlider.Holds(now.Y),
               now.Y, Bars.OffsetY, shift);
  p.Zoom = follow(TPlacingBar::OverlayZoom, Bars.OverlayZoom, shown.OverlayZoom,
                  !OverlayZoomSlider.Holds(OverlayZoomSteps(now.Zoom)), now.Zoom,
                  double(OverlayZoomFactor(Bars.OverlayZoom)),
                  [](double Value, int By) { return Value * std::pow(10.0, By / 1000.0); });
  if (!kept) return std::nullopt;
  to.Held = InGesture ? moved ? moved : FHeld : std::nullopt;
  if (to.Held) {
    to.HeldPosition = *to.Held == TPlacingBar::OffsetX   ? Bars.OffsetX
                      : *to.Held == TPlacingBar::OffsetY ? Bars.OffsetY
                      : *to.Held == TPlacingBar::Angle   ? Bars.Angle
                                                         : Bars.OverlayZoom;
  }
  return to;
}

std::array<std::string, 4> TOverlayPlacement::ReadOuts(const TPrecisePlacement& Placement,
                                                       std::string_view DecimalSeparator) {
  const auto fixed = [DecimalSeparator](double Value, int Decimals) {
    return BetweenStepsMark + FormatDecimal(Value, Decimals, DecimalSeparator);
  };
  return {fixed(Placement.Angle, 1), fixed(Placement.X, 1), fixed(Placement.Y, 1),
          fixed(float(Placement.Zoom), 3)};
}

}  // namespace overlay
