// The measures on the main view: rulers and outlines drawn over the pictures where their points
// lie in picture 1, following the view's zoom and scroll at every paint, with a handle on each
// point, picture 1's and picture 2's in two colours, each labelled with its name and what it
// measures (an outline pair's picture-2 outline also with the change). A layer of the view, so
// whatever shows or captures the view's buffer (the window, the print captures) carries the
// measures.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "controls/image_view.h"
#include "controls/layers.h"
#include "overlay/scene/measure_edit.h"
#include "raster/core.h"

namespace overlay {

// The two pictures' colours: picture 1's cyan, picture 2's orange, as the flicker's and the
// swipe's halves are told apart.
constexpr raster::TColor32 MeasureColour1 = raster::Color32(0, 200, 255, 255);
constexpr raster::TColor32 MeasureColour2 = raster::Color32(255, 140, 0, 255);

// An outline's or a ruler's label lines: its name, then "250.0 mm"; or "2500.0 mm²" and
// "Ø 70.7 mm", for the picture-2 outline of a pair also the change, "+525.0 mm² (+21.0 %)".
std::vector<std::string> MeasureLabel(const std::vector<TMeasure>& Measures, std::size_t Index,
                                      const TMeasureFrame& Frame,
                                      std::string_view DecimalSeparator);

class TMeasureLayer : public raster::TCustomLayer {
 public:
  explicit TMeasureLayer(raster::TLayerCollection* Collection);
  ~TMeasureLayer() override { BeforeDestruction(); }
  const char* ClassName() const override { return "TMeasureLayer"; }
  raster::TLayerClass GetLayerClass() const override { return &raster::CreateLayer<TMeasureLayer>; }

  // The view whose viewport it draws in; the editor whose measures it draws; at each paint,
  // where they lie on screen and what they are measured through. Nothing is painted without
  // all of them.
  void SetView(raster::TCustomImgView32* View) { FView = View; }
  void SetEditor(const TMeasureEditor* Editor) { FEditor = Editor; }
  std::function<TMeasureScreen()> Screen;
  std::function<TMeasureFrame()> Frame;
  void SetDecimalSeparator(std::string Value);
  // Lines, handles and labels Value times as large (see TScaleBarLayer::SetMagnification).
  void SetMagnification(int Value);
  // The measures changed: painted again.
  void Update();

  void Paint(raster::TBitmap32* Buffer) override;

 private:
  const raster::TBitmap32& Badge(const std::vector<std::string>& Lines);
  void PaintMeasure(raster::TBitmap32& Buffer, const raster::TRect& Viewport,
                    const TMeasureScreen& Screen, const TMeasure& Measure, bool Closed,
                    const std::vector<std::string>& Label);

  raster::TCustomImgView32* FView = nullptr;
  const TMeasureEditor* FEditor = nullptr;
  std::string FDecimalSeparator = ".";
  int FMagnification = 1;
  // The labels' badges by their text, made once and kept while they are shown.
  std::map<std::string, std::unique_ptr<raster::TBitmap32>> FBadges, FBadgesShown;
  std::vector<raster::TRect> FPlaced;  // the labels painted so far in this paint
  // The labels of the measures as they were last measured, through that frame and separator:
  // measured again only when one of them changed, not at every paint.
  std::vector<TMeasure> FLabelled;
  TMeasureFrame FLabelFrame;
  std::string FLabelSeparator;
  std::vector<std::vector<std::string>> FLabels;
};

}  // namespace overlay
