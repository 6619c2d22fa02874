// How the comparison is drawn in the view: one way of drawing at a time (TViewMode; what each
// means, its draw mode and the part of the view picture 2 covers, is its row of ViewModes()),
// with the swipe's line, the checkerboard's square and the side by side's mouse cross, and the
// flicker, which alternates picture 1 alone and the opaque overlay over any of them. A new
// comparison aid is a row of ViewModes() plus its drawing here.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "controls/image_view.h"
#include "controls/rot_layer.h"
#include "overlay/comparison/view_modes.h"
#include "overlay/scene/scale_bar.h"

namespace overlay {

class TViewModes {
 public:
  static constexpr int MinCheckerSquare = 4, MaxCheckerSquare = 1024;

  // View and FlickerLabel (one of its layers) outlive this.
  TViewModes(raster::TImgView32& View, TCornerLabelLayer& FlickerLabel)
      : FView(View), FFlickerLabel(FlickerLabel) {}
  // Picture 2's layer, which the ways of drawing set; null while there is none.
  void SetLayer(raster::TRotLayer* Layer) { FLayer = Layer; }
  // When picture Picture (1 or 2) was taken as the flicker's label shows it.
  std::function<std::string(int Picture)> DateShown;

  // The way of drawing, the flicker aside (never Flicker), and what shows now (Flicker while the
  // flicker runs).
  TViewMode Mode() const { return FMode; }
  TViewMode Shown() const { return FFlickering ? TViewMode::Flicker : FMode; }
  // Mode on, ending the one before; off, the blend again where Mode was on. Either ends a flicker.
  void Set(TViewMode Mode, bool On);
  // Mode alone (the flicker, which is no way of drawing here: the blend).
  void Show(TViewMode Mode);

  // Swipe: picture 1 left of the line (picture-1 pixels; at first the middle of picture 1).
  void SetSwipeLine(double X);
  double SwipeLine() const { return FSwipeLine.value_or(0); }
  // Checkerboard: squares of Pixels screen pixels, held to Min..MaxCheckerSquare.
  void SetCheckerSquare(int Pixels);
  int CheckerSquare() const { return FCheckerSquare; }
  // Side by side: the mouse, in view coordinates, shown as a cross in both halves.
  void SetSideCursor(std::optional<raster::TPoint> ControlPos);

  // How picture 2 is drawn, and where, while it shows as its sliders say.
  raster::TDrawMode DrawMode() const { return ViewModeRowOf(FMode).DrawMode; }
  raster::TPaintRegion Region() const;

  // The flicker: Start shows picture 1 alone, each Tick the other state; Stop shows the way of
  // drawing again. The opacity is never touched: the overlay shows opaque, not blended.
  void StartFlicker();
  void FlickerTick();
  void StopFlicker();
  bool Flickering() const { return FFlickering; }
  // The state the flicker shows (or showed last): picture 2.
  bool FlickerOverlay() const { return FFlickerOverlay; }
  // The label names the picture shown again (a visit's date changed).
  void RelabelFlicker() { FFlickerLabel.SetText(FlickerLabelText()); }

 private:
  // The layer drawn by the way of drawing, and the view's scroll range for it.
  void ShowDrawing();
  std::string FlickerLabelText() const;

  raster::TImgView32& FView;
  TCornerLabelLayer& FFlickerLabel;
  raster::TRotLayer* FLayer = nullptr;
  TViewMode FMode = TViewMode::Blend;
  std::optional<double> FSwipeLine;
  std::optional<raster::TPoint> FSideCursor;
  int FCheckerSquare = 64;
  bool FFlickering = false, FFlickerOverlay = false;
};

}  // namespace overlay
