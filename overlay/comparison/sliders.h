// The six sliders of the main window without any window: their ranges and start values, the
// formulas that turn a position into an offset, angle, zoom or opacity, and the change handlers
// that apply a position to the image view and the rotation layer. The controller, the
// automatic alignment and the command-line renderer all use these.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "controls/image_view.h"
#include "controls/rot_layer.h"
#include "overlay/base/number_format.h"
#include "raster/core.h"

namespace overlay {

// ---------------------------------------------------------------------------------------
// Sliders

struct TSliderRange {
  int Min;
  int Max;
  int Initial;
  bool Contains(int Value) const { return Value >= Min && Value <= Max; }
  // A value in the slider's steps, fractional: false beyond the bar's ends (and for no number).
  bool Holds(double Steps) const { return Steps >= Min && Steps <= Max; }
};

// The main window's sliders, in the order UpdateControls sets them.
constexpr TSliderRange AngleSlider{-180, 180, 0};        // GaugeBar1: degrees
constexpr TSliderRange OffsetXSlider{-600, 600, 0};      // GaugeBar2: picture-1 pixels
constexpr TSliderRange OffsetYSlider{-400, 400, 0};      // GaugeBar3: picture-1 pixels
constexpr TSliderRange ViewZoomSlider{-100, 100, 0};     // GaugeBar4: 10^(p / 100)
constexpr TSliderRange OverlayZoomSlider{-500, 500, 0};  // GaugeBar5: 10^(p / 1000)
constexpr TSliderRange AlphaSlider{0, 255, 120};         // GaugeAlpha: master alpha

struct TSliderPositions {
  int Angle = AngleSlider.Initial;
  int OffsetX = OffsetXSlider.Initial;
  int OffsetY = OffsetYSlider.Initial;
  int ViewZoom = ViewZoomSlider.Initial;
  int OverlayZoom = OverlayZoomSlider.Initial;
  int Alpha = AlphaSlider.Initial;
  friend bool operator==(const TSliderPositions&, const TSliderPositions&) = default;
};

// 10^(Position x 0.001) in extended precision, stored as a float: 0.316 .. 3.162.
float OverlayZoomFactor(int Position);
// 10^(Position x 0.01) in extended precision, stored as a float: 0.1 .. 10.
float ViewZoomFactor(int Position);
// Where the rotation layer's centre goes for an offset: the offset plus half the loaded size of
// picture 2 (integer halves), so that the offset is that of the unturned overlay's top-left
// corner from picture 1's top-left corner.
raster::TFloatPoint OverlayPosition(int OffsetX, int OffsetY, const raster::TBitmap32& Original);
raster::TFloatPoint OverlayPosition(int OffsetX, int OffsetY, std::int32_t Width,
                                    std::int32_t Height);
// The overlay bitmap's size at factor F: each side times F, truncated toward zero.
raster::TSize OverlayZoomSize(const raster::TBitmap32& Original, float F);
// A factor of the bilinear stretch along one side: the rebuilt bitmap's pixel b shows the
// source at b (Loaded - 1) / Zoomed, so a source point x lies at x Zoomed / (Loaded - 1); an
// unchanged size is copied as it is.
double OverlayStretchFactor(int Loaded, int Zoomed);
raster::TSize OverlayZoomSize(std::int32_t Width, std::int32_t Height, float F);
// The read-out of the two zoom fields: the precision is raised to at least 2 significant digits,
// the value rounded to that many digits and shown with exactly 2 decimals ("2.30", "0.32",
// "10.00"); from 1000 upwards groups of three digits are separated by ThousandSeparator.
std::string FormatZoom(float Value, int Precision, std::string_view DecimalSeparator = ".",
                       std::string_view ThousandSeparator = ",");
// The zoom read-outs of the window: the factor that a slider position gives, with as many
// decimals as one step of the slider (a factor of StepRatio) changes at that factor, so that
// every step shows ("1.02" beside "1.00" for the view zoom, "0.966" beside "0.964" for the
// overlay zoom). Separators as FormatZoom's.
int StepDecimals(double Factor, double StepRatio);
std::string FormatStepZoom(double Factor, double StepRatio, std::string_view DecimalSeparator = ".",
                           std::string_view ThousandSeparator = ",");
// The largest view-zoom position at which picture 1 (Width x Height) shows whole in a viewport
// of ViewWidth x ViewHeight, sized as the view sizes it; the slider's minimum when none does.
int FitViewZoomPosition(int Width, int Height, int ViewWidth, int ViewHeight);
// One step of the view zoom and of the overlay zoom, as factors.
double ViewZoomStepRatio();
double OverlayZoomStepRatio();

// ---------------------------------------------------------------------------------------
// Placements

// The four sliders that place the overlay; view zoom and opacity play no part.
struct TPlacement {
  int Angle = 0, OffsetX = 0, OffsetY = 0, OverlayZoom = 0;
  friend bool operator==(const TPlacement&, const TPlacement&) = default;
};

// A placement that may lie between slider steps, in the sliders' terms: the turn in degrees
// (-180..180, anticlockwise on the screen), the zoom factor (held as a float, as the layer
// holds it), and the offset as the offset sliders measure it, in picture-1 pixels. The overlay
// turns about picture 2's middle pixel (Width / 2, Height / 2).
struct TPrecisePlacement {
  double Angle = 0, Zoom = 1, X = 0, Y = 0;
  friend bool operator==(const TPrecisePlacement&, const TPrecisePlacement&) = default;
};

// What the rotation layer holds to draw a placement of picture 2 (Width x Height): the bitmap
// rebuilt at the zoom's whole-pixel size (Size); between slider steps the layer's own scale
// (Zoom) completes it, so that the overlay shows picture 2 at exactly the zoom without a second
// resampling; at a slider state the scale is 1, as the sliders draw it. The one mapping the
// overlay is drawn with and picture 2 is measured, fitted and sampled through.
struct TLayerSettings {
  float Angle = 0;
  raster::TFloatPoint Center, Position, Zoom{1, 1};
  raster::TSize Size;
};
TLayerSettings LayerSettingsFor(const TPrecisePlacement& Placement, int Width, int Height);
// Where the placement shows point (X2, Y2) of picture 2, through the layer's own matrix.
void PreciseMapping(const TPrecisePlacement& Placement, int Width, int Height, double X2, double Y2,
                    double* X1, double* Y1);
// The placement turned by Degrees and zoomed by Factor that lays picture 2's point Source on
// picture 1's point Target.
TPrecisePlacement PlacementThrough(double Degrees, float Factor, int Width, int Height,
                                   raster::TFloatPoint Target, raster::TFloatPoint Source);
// What is wrong with a placement that comes from outside (a comparison record, the command
// line), or nothing: Key names the value ("Angle", "Zoom", "X", "Y"), Why says what is wrong
// ("lies outside -180..180"). Every such placement passes this one check before it is applied.
// The zoom may lie beyond the slider's range, as the two-point alignment may place it, but not
// beyond MinPlacementZoom..MaxPlacementZoom; whether picture 2 so zoomed can be held at all is
// PlacementFits, which knows its size. An offset beyond any picture's size shows nothing.
struct TPlacementFault {
  std::string Key, Why;
};
constexpr double MinPlacementZoom = 0.01, MaxPlacementZoom = 100;
constexpr double FarthestOverlayOffset = 1e6;
std::optional<TPlacementFault> PlacementFault(const TPrecisePlacement& Placement);
// Whether picture 2 of Width x Height, zoomed as Placement says, is a bitmap the engine holds
// (at least one pixel each way, at most raster::MaxBitmapPixels): a zoom of 1e6 asks for one no
// memory holds, which once ended the program.
bool PlacementFits(const TPrecisePlacement& Placement, int Width, int Height);
// A zoom factor in the overlay-zoom slider's steps, fractional and unbounded, as NearestSteps
// rounds it.
double OverlayZoomSteps(double Zoom);
// Each slider at its step nearest to the placement, within its range: a value beyond a range
// (a placement may lie beyond the bars) gets that end.
TPlacement NearestSteps(const TPrecisePlacement& Placement);
// The slider state itself: the placement lies on the steps Steps.
bool OnSteps(const TPrecisePlacement& Placement, const TPlacement& Steps);
// A slider state in precise terms.
TPrecisePlacement PreciseOf(const TPlacement& Steps);
// A slider's nearest step; a value that is not a number gives the slider's start.
int NearestStep(double Value, const TSliderRange& Range);

}  // namespace overlay
