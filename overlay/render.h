// The overlay composition of the main window without any window: the six sliders' formulas,
// their change handlers acting on the image view and the rotation layer, and a scene that holds
// view, layer and the unscaled overlay copy and reproduces a slider state. The main window wires
// its widgets to the same functions; the command-line renderer uses the scene directly.
#pragma once

#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "raster/controls.h"
#include "raster/core.h"
#include "raster/image_view.h"
#include "raster/range_bars.h"
#include "raster/rot_layer.h"

namespace overlay {

// ---------------------------------------------------------------------------------------
// Sliders

struct TSliderRange {
  int Min;
  int Max;
  int Initial;
  bool Contains(int Value) const { return Value >= Min && Value <= Max; }
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
// The overlay bitmap's size at factor F: each side times F, truncated toward zero.
raster::TSize OverlayZoomSize(const raster::TBitmap32& Original, float F);
raster::TSize OverlayZoomSize(std::int32_t Width, std::int32_t Height, float F);
// The read-out of the two zoom fields: the precision is raised to at least 2 significant digits,
// the value rounded to that many digits and shown with exactly 2 decimals ("2.30", "0.32",
// "10.00"); from 1000 upwards groups of three digits are separated by ThousandSeparator.
std::string FormatZoom(float Value, int Precision, std::string_view DecimalSeparator = ".",
                       std::string_view ThousandSeparator = ",");

// ---------------------------------------------------------------------------------------
// Change handlers (each used only while both pictures are loaded)

// GaugeBar2Change / GaugeBar3Change.
void ApplyOverlayOffset(raster::TRotLayer& Layer, const raster::TBitmap32& Original, int OffsetX,
                        int OffsetY);
// GaugeBar1Change.
void ApplyOverlayAngle(raster::TRotLayer& Layer, int Position);
// GaugeBar5Change: the layer bitmap is rebuilt from the unscaled copy (which draws opaque with
// bilinear filtering, replacing every pixel); centre and position stay.
void ApplyOverlayZoom(raster::TRotLayer& Layer, const raster::TBitmap32& Original, int Position);
// The rebuild inside GaugeBar5Change at factor F: the layer bitmap takes the zoomed size and
// gets the unscaled copy stretched into it.
void RebuildOverlayBitmap(raster::TBitmap32& Bitmap, const raster::TBitmap32& Original, float F);
// GaugeBar4Change: the view's scale, then an immediate repaint.
void ApplyViewZoom(raster::TImgView32& View, int Position);
// GaugeAlphaChange.
void ApplyOverlayAlpha(raster::TRotLayer& Layer, int Position);

// The main window's view as it is created: colour, scale 1, no size grip, scroll bars with
// handle grip in the button-shadow colour; then Loaded.
void SetUpMainView(raster::TImgView32& View, int Width, int Height);
// The view colour 4530208 (red 32, green 32, blue 69) as the platform colour.
constexpr raster::TWinColor MainViewColor = 4530208;
// The main window's view size.
constexpr int MainViewWidth = 977;
constexpr int MainViewHeight = 570;

// ---------------------------------------------------------------------------------------
// The scene

class TMainController;

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
  std::unique_ptr<raster::THeadlessHost> FHost;
};

// ---------------------------------------------------------------------------------------
// The command-line renderer

struct TRenderRequest {
  int ViewWidth = MainViewWidth;
  int ViewHeight = MainViewHeight;
  TSliderPositions Sliders;
  std::string Picture1, Picture2, Output;
  bool AutoAlign = false;  // the four placing sliders from the automatic alignment
};

// Bounds of --size: the viewport (the control less 17 pixels each way) must not be empty, and
// the buffer must stay a sane size.
constexpr int MinViewExtent = 18;
constexpr int MaxViewExtentArg = 8192;

// Writes Picture (alpha dropped) as an RGB PNG. The file appears complete or not at all: it is
// written under a temporary name in the target directory and renamed. Returns false and sets
// Error when it cannot.
bool WritePngAtomically(const raster::TBitmap32& Picture, const std::string& Path,
                        std::string& Error);

// Reads a picture for a command-line tool through the program's picture import; Which names it
// in the message ("picture 1"). Null, with Error set, when it is no file or cannot be decoded.
std::unique_ptr<raster::TBitmap32> ReadPictureFile(const std::string& Which,
                                                   const std::string& Path, std::string& Error);

// The whole program: arguments without the program name; messages go to Out and Err. Returns
// the exit status (0 done, 1 a file could not be read or written, 2 bad command line).
int RunRenderCommand(const std::vector<std::string>& Args, std::ostream& Out, std::ostream& Err);

}  // namespace overlay
