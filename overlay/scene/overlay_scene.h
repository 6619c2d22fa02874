// The main window's controller with a headless host: the scene that the command-line renderer,
// the tests and the benchmarks drive to get the window's pixels without a window.
#pragma once

#include <memory>

#include "controls/controls.h"
#include "controls/image_view.h"
#include "controls/range_bars.h"
#include "controls/rot_layer.h"
#include "overlay/comparison/sliders.h"
#include "overlay/scene/main_controller.h"
#include "raster/core.h"

namespace overlay {

// The main window's controller with a headless host for its view: what the command-line
// renderer, tests and benchmarks drive. Sliders change only while both pictures are loaded;
// setting one to the value it has runs nothing, and a value outside its range is clamped, as
// a gauge bar does.
class TOverlayScene {
 public:
  explicit TOverlayScene(int ViewWidth = MainViewWidth, int ViewHeight = MainViewHeight);
  ~TOverlayScene();
  TOverlayScene(const TOverlayScene&) = delete;
  TOverlayScene& operator=(const TOverlayScene&) = delete;

  TMainController& Controller() { return *FController; }
  raster::TImgView32& View();
  raster::THeadlessHost& Host() { return *FHost; }
  raster::TRotLayer* RotLayer() const;
  const raster::TBitmap32* OverlayOriginal() const;
  TSliderPositions Sliders() const;
  bool Enabled() const;

  // Picture 1 replaces the view's bitmap (shown centred on its middle pixel); a copy of
  // Picture is taken.
  void LoadImage1(const raster::TBitmap32& Picture);
  // A new rotation layer for picture 2 at its start position, with its unscaled copy.
  void LoadImage2(const raster::TBitmap32& Picture);

  void SetAngle(int Position);
  void SetOffsetX(int Position);
  void SetOffsetY(int Position);
  void SetViewZoom(int Position);
  void SetOverlayZoom(int Position);
  void SetAlpha(int Position);
  // Each slider that differs from Target is set once, in UpdateControls order (angle, X, Y,
  // view zoom, overlay zoom, opacity).
  void ApplySliders(const TSliderPositions& Target);

  // Paints now and returns the viewport as the window shows it (alpha 255).
  std::unique_ptr<raster::TBitmap32> RenderViewport();

 private:
  void SetBar(raster::TGaugeBar& Bar, int Position);

  std::unique_ptr<TMainController> FController;
  // The host must go before the view it hosts: declared after the controller, it is freed first.
  std::unique_ptr<raster::THeadlessHost> FHost;
};

}  // namespace overlay
