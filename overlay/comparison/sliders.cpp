#include "overlay/comparison/sliders.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace overlay {

using raster::TBitmap32;

// ---------------------------------------------------------------------------------------
// Sliders

float OverlayZoomFactor(int Position) {
  return float(std::pow(10.0L, Position * 0.001L));
}

float ViewZoomFactor(int Position) {
  return float(std::pow(10.0L, Position * 0.01L));
}

raster::TFloatPoint OverlayPosition(int OffsetX, int OffsetY, std::int32_t Width,
                                    std::int32_t Height) {
  // Integer sums first, then converted: the offsets are whole picture-1 pixels.
  return {float(OffsetX + Width / 2), float(OffsetY + Height / 2)};
}

double OverlayStretchFactor(int Loaded, int Zoomed) {
  if (Zoomed == Loaded || Loaded < 2) return Loaded > 0 ? double(Zoomed) / Loaded : 1;
  return double(Zoomed) / (Loaded - 1);
}

raster::TFloatPoint OverlayPosition(int OffsetX, int OffsetY, const TBitmap32& Original) {
  return OverlayPosition(OffsetX, OffsetY, Original.Width(), Original.Height());
}

raster::TSize OverlayZoomSize(std::int32_t Width, std::int32_t Height, float F) {
  // The product in extended precision, as the factor meets an integer; truncated toward zero.
  return {std::int32_t(std::trunc(static_cast<long double>(Width) * F)),
          std::int32_t(std::trunc(static_cast<long double>(Height) * F))};
}

raster::TSize OverlayZoomSize(const TBitmap32& Original, float F) {
  return OverlayZoomSize(Original.Width(), Original.Height(), F);
}

int StepDecimals(double Factor, double StepRatio) {
  // Two factors one step apart differ by Factor * (StepRatio - 1); rounded to decimals of at
  // most that size they never show alike.
  const double step = std::abs(Factor) * (StepRatio - 1);
  if (!(step > 0) || !std::isfinite(step)) return 2;
  return std::clamp(int(std::ceil(-std::log10(step) - 1e-9)), 0, 9);
}

std::string FormatStepZoom(double Factor, double StepRatio, std::string_view DecimalSeparator,
                           std::string_view ThousandSeparator) {
  if (!std::isfinite(Factor)) Factor = 0;
  return FormatDecimal(Factor, StepDecimals(Factor, StepRatio), DecimalSeparator,
                       ThousandSeparator);
}

int FitViewZoomPosition(int Width, int Height, int ViewWidth, int ViewHeight) {
  for (int p = ViewZoomSlider.Max; p > ViewZoomSlider.Min; --p) {
    // The view's own rounding of the scaled bitmap's sides.
    const long double f = ViewZoomFactor(p);
    if (raster::RoundTiesToEven((long double)Width * f) <= ViewWidth &&
        raster::RoundTiesToEven((long double)Height * f) <= ViewHeight) {
      return p;
    }
  }
  return ViewZoomSlider.Min;
}

double ViewZoomStepRatio() {
  return std::pow(10.0, 1.0 / 100);
}
double OverlayZoomStepRatio() {
  return std::pow(10.0, 1.0 / 1000);
}

std::string FormatZoom(float Value, int Precision, std::string_view DecimalSeparator,
                       std::string_view ThousandSeparator) {
  if (!std::isfinite(Value)) Value = 0;
  Precision = std::clamp(Precision, 2, 18);
  // Round to Precision significant digits first (2.3442 -> 2.3), then show two decimals.
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*e", Precision - 1, double(Value));
  const double rounded = std::strtod(buffer, nullptr);
  return FormatDecimal(rounded, 2, DecimalSeparator, ThousandSeparator);
}

// ---------------------------------------------------------------------------------------
// Placements

int NearestStep(double Value, const TSliderRange& Range) {
  if (std::isnan(Value)) return Range.Initial;
  return int(std::clamp(std::round(Value), double(Range.Min), double(Range.Max)));
}

namespace {

// The settings of a placement between slider steps: the rebuilt bitmap's pixel b shows picture 2
// at b / f; the layer scales by factor / f.
TLayerSettings BetweenStepsSettings(const TPrecisePlacement& Placement, int Width, int Height) {
  TLayerSettings s;
  const float factor = float(Placement.Zoom);
  s.Size = OverlayZoomSize(Width, Height, factor);
  s.Angle = float(Placement.Angle);
  s.Center = {float(Width / 2), float(Height / 2)};
  s.Position = {float(Placement.X + Width / 2), float(Placement.Y + Height / 2)};
  s.Zoom = {float(double(factor) / OverlayStretchFactor(Width, s.Size.cx)),
            float(double(factor) / OverlayStretchFactor(Height, s.Size.cy))};
  return s;
}

void MapThrough(const TLayerSettings& S, int Width, int Height, double X2, double Y2, double* X1,
                double* Y1) {
  raster::TAffineTransformation t;
  raster::SetRotLayerPlacement(t, S.Center, S.Angle, S.Position, S.Zoom);
  const raster::TFloatMatrix& m = t.Matrix;
  const double bx = X2 * OverlayStretchFactor(Width, S.Size.cx);
  const double by = Y2 * OverlayStretchFactor(Height, S.Size.cy);
  *X1 = m[0][0] * bx + m[1][0] * by + m[2][0];
  *Y1 = m[0][1] * bx + m[1][1] * by + m[2][1];
}

}  // namespace

TLayerSettings LayerSettingsFor(const TPrecisePlacement& Placement, int Width, int Height) {
  TLayerSettings s = BetweenStepsSettings(Placement, Width, Height);
  // A slider state is drawn as its sliders draw it: the stretched bitmap at the layer's scale
  // 1, which shows picture 2 at S / (W - 1) rather than at the factor. Measured through the
  // same settings, a measure takes picture 2 as it is seen, whichever way the state came.
  if (OnSteps(Placement, NearestSteps(Placement))) s.Zoom = {1, 1};
  return s;
}

void PreciseMapping(const TPrecisePlacement& Placement, int Width, int Height, double X2, double Y2,
                    double* X1, double* Y1) {
  MapThrough(LayerSettingsFor(Placement, Width, Height), Width, Height, X2, Y2, X1, Y1);
}

TPrecisePlacement PlacementThrough(double Degrees, float Factor, int Width, int Height,
                                   raster::TFloatPoint Target, raster::TFloatPoint Source) {
  // Where Source lands with the offset at 0; the offset then moves it onto Target. Mapped as
  // between steps even where the turn and the zoom are a slider's: with the offset it finds the
  // placement lies between steps (one that lands on the steps the sliders draw instead).
  TPrecisePlacement p{Degrees, double(Factor), 0, 0};
  double x, y;
  MapThrough(BetweenStepsSettings(p, Width, Height), Width, Height, Source.X, Source.Y, &x, &y);
  // As the layer holds it: its position is a float.
  const int hw = Width / 2, hh = Height / 2;
  p.X = double(float(double(Target.X) - x + hw)) - hw;
  p.Y = double(float(double(Target.Y) - y + hh)) - hh;
  return p;
}

std::optional<TPlacementFault> PlacementFault(const TPrecisePlacement& Placement) {
  const auto range = [](double Low, double High, int Decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "lies outside %.*f..%.*f", Decimals, Low, Decimals, High);
    return std::string(text);
  };
  // Written so that a value that is not a number fails each test.
  if (!(Placement.Angle >= AngleSlider.Min && Placement.Angle <= AngleSlider.Max)) {
    return TPlacementFault{"Angle", range(AngleSlider.Min, AngleSlider.Max, 0)};
  }
  if (!(Placement.Zoom >= MinPlacementZoom && Placement.Zoom <= MaxPlacementZoom)) {
    return TPlacementFault{"Zoom", range(MinPlacementZoom, MaxPlacementZoom, 2)};
  }
  for (const auto& [key, value] : {std::pair{"X", Placement.X}, std::pair{"Y", Placement.Y}}) {
    if (!(std::abs(value) <= FarthestOverlayOffset)) {
      return TPlacementFault{key, "lies beyond 1000000 pixels"};
    }
  }
  return std::nullopt;
}

bool PlacementFits(const TPrecisePlacement& Placement, int Width, int Height) {
  if (!(Placement.Zoom > 0 && Placement.Zoom <= MaxPlacementZoom)) return false;
  const raster::TSize size = OverlayZoomSize(Width, Height, float(Placement.Zoom));
  return size.cx >= 1 && size.cy >= 1 && std::int64_t(size.cx) * size.cy <= raster::MaxBitmapPixels;
}

double OverlayZoomSteps(double Zoom) {
  return std::log10(double(float(Zoom))) * 1000;
}

TPlacement NearestSteps(const TPrecisePlacement& Placement) {
  TPlacement steps;
  steps.Angle = NearestStep(Placement.Angle, AngleSlider);
  steps.OffsetX = NearestStep(Placement.X, OffsetXSlider);
  steps.OffsetY = NearestStep(Placement.Y, OffsetYSlider);
  steps.OverlayZoom = NearestStep(OverlayZoomSteps(Placement.Zoom), OverlayZoomSlider);
  return steps;
}

bool OnSteps(const TPrecisePlacement& Placement, const TPlacement& Steps) {
  return float(Placement.Angle) == float(Steps.Angle) &&
         float(Placement.Zoom) == OverlayZoomFactor(Steps.OverlayZoom) &&
         Placement.X == double(Steps.OffsetX) && Placement.Y == double(Steps.OffsetY);
}

TPrecisePlacement PreciseOf(const TPlacement& Steps) {
  return {double(Steps.Angle), double(OverlayZoomFactor(Steps.OverlayZoom)), double(Steps.OffsetX),
          double(Steps.OffsetY)};
}

}  // namespace overlay
