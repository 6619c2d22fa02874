#include "overlay/scene/overlay_placement.h"

#include <cmath>
#include <memory>

#include "overlay/base/number_format.h"
#include "overlay/scene/bar_handlers.h"

namespace overlay {

namespace {

// One step of the history for a scope (BeginGesture .. EndGesture), however the scope ends.
auto Step(TPlacementHost& Host) {
  Host.BeginGesture();
  const auto end = [](TPlacementHost* Open) { Open->EndGesture(); };
  return std::unique_ptr<TPlacementHost, decltype(end)>(&Host, end);
}

}  // namespace

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

std::optional<TPrecisePlacement> TOverlayPlacement::NudgedBeyondBar(const TNudge& Nudge) const {
  const bool x = Nudge.Slider == TNudgeSlider::OffsetX;
  if (!FPrecise || (!x && Nudge.Slider != TNudgeSlider::OffsetY)) return std::nullopt;
  TPrecisePlacement p = *FPrecise;
  double& value = x ? p.X : p.Y;
  if ((x ? OffsetXSlider : OffsetYSlider).Holds(value)) return std::nullopt;
  value += Nudge.Delta;
  return p;
}

std::optional<TPrecisePlacement> TOverlayPlacement::FineNudged(TPrecisePlacement Placement,
                                                               const TNudge& Nudge, double Step) {
  const auto step = [&Nudge, Step](double& Value) {
    Value += Step * Nudge.Delta;
    if (const double whole = std::round(Value); std::abs(Value - whole) < 1e-9) Value = whole;
  };
  switch (Nudge.Slider) {
    case TNudgeSlider::Angle:
      step(Placement.Angle);
      if (Placement.Angle > 180) Placement.Angle -= 360;
      if (Placement.Angle < -180) Placement.Angle += 360;
      break;
    case TNudgeSlider::OffsetX:
      step(Placement.X);
      break;
    case TNudgeSlider::OffsetY:
      step(Placement.Y);
      break;
    case TNudgeSlider::ViewZoom:
      return std::nullopt;
  }
  return Placement;
}

std::array<std::string, 4> TOverlayPlacement::ReadOuts(const TPrecisePlacement& Placement,
                                                       std::string_view DecimalSeparator) {
  const auto fixed = [DecimalSeparator](double Value, int Decimals) {
    return BetweenStepsMark + FormatDecimal(Value, Decimals, DecimalSeparator);
  };
  return {fixed(Placement.Angle, 1), fixed(Placement.X, 1), fixed(Placement.Y, 1),
          fixed(float(Placement.Zoom), 3)};
}

TPlacement TOverlayPlacement::Bars() const {
  return {Bar(TPlacingBar::Angle).Position(), Bar(TPlacingBar::OffsetX).Position(),
          Bar(TPlacingBar::OffsetY).Position(), Bar(TPlacingBar::OverlayZoom).Position()};
}

bool TOverlayPlacement::PlaceAt(const TPrecisePlacement& Placement, const raster::TGaugeBar* Held) {
  if (!FHost.ControlsEnabled() || FHost.RotLayer() == nullptr || FHost.OverlayOriginal() == nullptr)
    return false;
  if (!PlacementFits(Placement, FHost.OverlayOriginal()->Width(),
                     FHost.OverlayOriginal()->Height())) {
    return false;
  }
  FHost.StopFlicker();
  // One step, however many sliders it moves.
  const auto step = Step(FHost);
  const raster::TBitmap32& original = *FHost.OverlayOriginal();
  const TLayerSettings settings = LayerSettingsFor(Placement, original.Width(), original.Height());
  FHost.RotLayer()->SetBitmapCenter(settings.Center);
  // The slider state nearest to the placement, shown by the sliders; their handlers do not
  // run, so the overlay stays where the placement says.
  const TPlacement steps = NearestSteps(Placement);
  // A held bar stays where the mouse puts it until it is let go (EndGesture).
  if (Held == nullptr && OnSteps(Placement, steps)) {
    ApplyPlacement(steps);
    return true;
  }
  // The bitmap at the whole-pixel size of the zoom; the layer's own scale completes it.
  RebuildOverlayBitmap(*FHost.RotLayer()->Bitmap(), original, float(Placement.Zoom));
  FHost.RotLayer()->SetAngle(settings.Angle);
  FHost.RotLayer()->SetZoom(settings.Zoom);
  FHost.RotLayer()->SetPosition(settings.Position);
  {
    const TShowOnBars quiet(*this);
    for (const auto& [bar, step] : {std::pair{TPlacingBar::Angle, steps.Angle},
                                    std::pair{TPlacingBar::OffsetX, steps.OffsetX},
                                    std::pair{TPlacingBar::OffsetY, steps.OffsetY},
                                    std::pair{TPlacingBar::OverlayZoom, steps.OverlayZoom}}) {
      if (&Bar(bar) != Held) Bar(bar).SetPosition(step);
    }
  }
  StandAt(Placement);
  // The read-outs show the placement itself, marked as lying between slider steps.
  const std::array<std::string, 4> texts = ReadOuts(Placement, FHost.DecimalSeparator());
  FHost.ShowReadOut(TPlacingBar::Angle, texts[0]);
  FHost.ShowReadOut(TPlacingBar::OffsetX, texts[1]);
  FHost.ShowReadOut(TPlacingBar::OffsetY, texts[2]);
  FHost.ShowReadOut(TPlacingBar::OverlayZoom, texts[3]);
  FHost.RecordPlacement();
  return true;
}

bool TOverlayPlacement::LeavePrecisePlacement() {
  if (ShowingOnBars()) return true;
  if (!Precise()) return false;
  if (const std::optional<TOverlayPlacement::TFollow> to = Follow(Bars(), FHost.InGesture())) {
    if (PlaceAt(to->Placement, to->Held ? &Bar(*to->Held) : nullptr)) {
      Hold(to->Held, to->HeldPosition);
    } else {
      // Picture 2 so zoomed is more than a bitmap holds: the bars show the placement again.
      const TPrecisePlacement placement = *PreciseOne();
      PlacePrecisely(placement);
    }
    return true;
  }
  // Back to exactly the slider state the sliders show, as if they had placed the overlay.
  DropPrecise();
  ApplyOverlayAngle(*FHost.RotLayer(), Bar(TPlacingBar::Angle).Position());
  ApplyOverlayOffset(*FHost.RotLayer(), *FHost.OverlayOriginal(),
                     Bar(TPlacingBar::OffsetX).Position(), Bar(TPlacingBar::OffsetY).Position());
  ApplyOverlayZoom(*FHost.RotLayer(), *FHost.OverlayOriginal(),
                   Bar(TPlacingBar::OverlayZoom).Position());
  FHost.ShowReadOut(TPlacingBar::Angle, std::to_string(Bar(TPlacingBar::Angle).Position()));
  FHost.ShowReadOut(TPlacingBar::OffsetX, std::to_string(Bar(TPlacingBar::OffsetX).Position()));
  FHost.ShowReadOut(TPlacingBar::OffsetY, std::to_string(Bar(TPlacingBar::OffsetY).Position()));
  FHost.ShowReadOut(TPlacingBar::OverlayZoom, FHost.OverlayZoomText());
  return true;
}

void TOverlayPlacement::ApplyPlacement(const TPlacement& Placement) {
  const auto step = Step(FHost);
  // Each bar's handler applies its own position, values beyond the bars' ends too.
  DropPrecise();
  // A bar already at its value runs no handler; after a placement between the steps or beyond
  // the bars' ends the overlay lies elsewhere, so the handler runs then all the same.
  const auto set = [](raster::TGaugeBar& Bar, int Position, auto Handler) {
    if (Bar.Position() == Position) {
      Handler();
    } else {
      Bar.SetPosition(Position);
    }
  };
  set(Bar(TPlacingBar::Angle), Placement.Angle, [this] { AngleChanged(); });
  set(Bar(TPlacingBar::OffsetX), Placement.OffsetX, [this] { OffsetChanged(); });
  set(Bar(TPlacingBar::OffsetY), Placement.OffsetY, [this] { OffsetChanged(); });
  set(Bar(TPlacingBar::OverlayZoom), Placement.OverlayZoom, [this] { OverlayZoomChanged(); });
  // A bar already at its value records nothing, though the overlay may have left a placement
  // between the steps.
  FHost.RecordPlacement();
}

void TOverlayPlacement::DropPrecise() {
  if (Drop() && FHost.RotLayer() != nullptr) FHost.RotLayer()->SetZoom({1, 1});
}

void TOverlayPlacement::AngleChanged() {
  if (FHost.RotLayer() == nullptr || FHost.OverlayOriginal() == nullptr) return;
  if (LeavePrecisePlacement()) return;
  ApplyOverlayAngle(*FHost.RotLayer(), Bar(TPlacingBar::Angle).Position());
  FHost.ShowReadOut(TPlacingBar::Angle, std::to_string(Bar(TPlacingBar::Angle).Position()));
}

void TOverlayPlacement::OffsetChanged() {
  if (FHost.RotLayer() == nullptr || FHost.OverlayOriginal() == nullptr) return;
  if (LeavePrecisePlacement()) return;
  FHost.ShowReadOut(TPlacingBar::OffsetX, std::to_string(Bar(TPlacingBar::OffsetX).Position()));
  FHost.ShowReadOut(TPlacingBar::OffsetY, std::to_string(Bar(TPlacingBar::OffsetY).Position()));
  ApplyOverlayOffset(*FHost.RotLayer(), *FHost.OverlayOriginal(),
                     Bar(TPlacingBar::OffsetX).Position(), Bar(TPlacingBar::OffsetY).Position());
}

void TOverlayPlacement::OverlayZoomChanged() {
  if (FHost.RotLayer() == nullptr || FHost.OverlayOriginal() == nullptr) return;
  if (LeavePrecisePlacement()) return;
  ApplyOverlayZoom(*FHost.RotLayer(), *FHost.OverlayOriginal(),
                   Bar(TPlacingBar::OverlayZoom).Position());
  FHost.ShowReadOut(TPlacingBar::OverlayZoom, FHost.OverlayZoomText());
}

bool TOverlayPlacement::PlacePrecisely(const TPrecisePlacement& Placement) {
  Hold(std::nullopt);
  return PlaceAt(Placement, nullptr);
}

}  // namespace overlay
