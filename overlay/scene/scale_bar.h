// The scale bar of the main view: a bar of a round length in millimetres of picture 1 (1, 2, 5,
// 10, 20, 50 mm ...), labelled with that length, in the lower-left corner of the view. It is a
// layer of the view, so whatever shows or captures the view's buffer (the window, the print
// captures) carries it, and it follows the view zoom at every paint.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "controls/image_view.h"
#include "controls/layers.h"
#include "platform/text_mask.h"
#include "raster/core.h"

namespace overlay {

// The bar stays between these lengths on screen: long enough to read, short enough to leave
// the corner of the picture visible. A 1-2-5 series steps by at most 2.5, so the longest round
// length not above the maximum is always above the minimum.
constexpr int ScaleBarMinPixels = 80;
constexpr int ScaleBarMaxPixels = 200;

struct TScaleBarLength {
  double Millimetres = 0;  // 1, 2 or 5 times a power of ten
  int Pixels = 0;          // on screen, rounded
};

// The longest round length whose bar is at most ScaleBarMaxPixels when a millimetre of picture
// 1 covers ScreenPixelsPerMm screen pixels. Nothing for a scale that is not positive and finite.
std::optional<TScaleBarLength> ChooseScaleBarLength(double ScreenPixelsPerMm);
// Screen pixels per millimetre of a picture with Pp100MM pixels per 100 mm shown at ViewScale.
double ScreenPixelsPerMm(int Pp100MM, double ViewScale);
// "20 mm", "0,5 mm" with DecimalSeparator ","; lengths below 1 mm keep their one significant
// digit.
std::string FormatScaleBarLength(double Millimetres, const std::string& DecimalSeparator);

// Lines of text in black, one under the other, on the scale bar's pale translucent backing (a
// badge to draw with dmBlend); empty when no line has any text or no font can be had.
void MakeTextBadge(raster::TBitmap32& Badge, const std::vector<std::string>& Lines,
                   int Magnification = 1);

class TScaleBarLayer : public raster::TCustomLayer {
 public:
  explicit TScaleBarLayer(raster::TLayerCollection* Collection);
  ~TScaleBarLayer() override { BeforeDestruction(); }
  const char* ClassName() const override { return "TScaleBarLayer"; }
  raster::TLayerClass GetLayerClass() const override {
    return &raster::CreateLayer<TScaleBarLayer>;
  }

  // The view whose scale and viewport the bar follows; without one nothing is painted.
  void SetView(raster::TCustomImgView32* View) { FView = View; }
  // Picture 1's pixels per 100 mm; 0 or less paints nothing.
  void SetPp100MM(int Value);
  int Pp100MM() const { return FPp100MM; }
  void SetDecimalSeparator(std::string Value);
  // Everything of the bar (its length range, the label, the margins) Value times as large, for
  // a capture at a picture's full resolution that is printed much smaller than the screen.
  void SetMagnification(int Value);
  // The length the bar shows at the view's present scale.
  std::optional<TScaleBarLength> CurrentLength() const;
  // Where the bar itself (without its label) lies in the buffer at the last paint.
  raster::TRect LastBarRect() const { return FLastBarRect; }

  void Paint(raster::TBitmap32* Buffer) override;

 private:
  void BuildBadge(const TScaleBarLength& Length);

  raster::TCustomImgView32* FView = nullptr;
  int FPp100MM = 0;
  int FMagnification = 1;
  std::string FDecimalSeparator = ".";
  // The bar, its label and their backing, rebuilt only when the length or its text changes.
  raster::TBitmap32 FBadge;
  TScaleBarLength FBadgeLength;
  std::string FBadgeSeparator;
  raster::TRect FBadgeBar{};  // the bar within the badge
  raster::TRect FLastBarRect{};
};

// A label on the same pale backing in the view's upper-left corner: which picture the flicker
// shows, and when it was taken.
class TCornerLabelLayer : public raster::TCustomLayer {
 public:
  explicit TCornerLabelLayer(raster::TLayerCollection* Collection);
  ~TCornerLabelLayer() override { BeforeDestruction(); }
  const char* ClassName() const override { return "TCornerLabelLayer"; }
  raster::TLayerClass GetLayerClass() const override {
    return &raster::CreateLayer<TCornerLabelLayer>;
  }
  void SetView(raster::TCustomImgView32* View) { FView = View; }
  // An empty text paints nothing.
  void SetText(std::string Value);
  // The label and its margins Value times as large (see TScaleBarLayer::SetMagnification).
  void SetMagnification(int Value);
  const std::string& Text() const { return FText; }
  void Paint(raster::TBitmap32* Buffer) override;

 private:
  raster::TCustomImgView32* FView = nullptr;
  std::string FText;
  int FMagnification = 1;
  raster::TBitmap32 FBadge;  // the text on its backing, made when the text changes
};

}  // namespace overlay
