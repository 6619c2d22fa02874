#include "overlay/scene/drawing_modes.h"

#include <algorithm>

#include "overlay/base/texts.h"

namespace overlay {

void TViewModes::Set(TViewMode Mode, bool On) {
  StopFlicker();
  if (On) {
    FMode = Mode;  // one way of comparing at a time
    // At first the line halves picture 1.
    if (Mode == TViewMode::Swipe && !FSwipeLine) FSwipeLine = FView.Bitmap().Width() / 2.0;
  } else if (FMode == Mode) {
    FMode = TViewMode::Blend;
  }
  ShowDrawing();
}

void TViewModes::Show(TViewMode Mode) {
  Set(Mode == TViewMode::Flicker ? TViewMode::Blend : Mode, true);
}

void TViewModes::SetSwipeLine(double X) {
  FSwipeLine = X;
  ShowDrawing();
}

void TViewModes::SetCheckerSquare(int Pixels) {
  FCheckerSquare = std::clamp(Pixels, MinCheckerSquare, MaxCheckerSquare);
  ShowDrawing();
}

void TViewModes::SetSideCursor(std::optional<raster::TPoint> ControlPos) {
  if (ControlPos == FSideCursor) return;
  FSideCursor = ControlPos;
  if (FMode == TViewMode::Side) ShowDrawing();
}

raster::TPaintRegion TViewModes::Region() const {
  raster::TPaintRegion region;
  region.Kind = ViewModeRowOf(FMode).Region;
  switch (region.Kind) {
    case raster::TPaintRegion::prRightOf:
      region.Line = SwipeLine();
      break;
    case raster::TPaintRegion::prChecker:
      region.Square = FCheckerSquare;
      break;
    case raster::TPaintRegion::prSide:
      region.Background = raster::Color32(FView.Color());
      region.Cursor = FSideCursor;
      break;
    case raster::TPaintRegion::prAll:
      break;
  }
  return region;
}

void TViewModes::ShowDrawing() {
  // Side by side, picture 1 has the left half, through which the scroll bars must reach all of it.
  FView.SetSplitViewport(FMode == TViewMode::Side);
  // The draw mode's change repaints the view; picture 1's backdrop stays as it is.
  if (FLayer == nullptr) return;
  FLayer->SetPaintRegion(Region());
  FLayer->Bitmap()->SetDrawMode(DrawMode());
}

void TViewModes::StartFlicker() {
  if (FLayer == nullptr || FFlickering) return;
  FFlickering = true;
  FFlickerOverlay = true;
  FLayer->SetPaintRegion({});  // each state shows a whole picture
  FlickerTick();               // picture 1 alone first
}

void TViewModes::FlickerTick() {
  if (!FFlickering || FLayer == nullptr) return;
  FFlickerOverlay = !FFlickerOverlay;
  // Only the layer changes: picture 1's backdrop is kept by the view and not drawn again.
  // Fully opaque: drawn over picture 1, not blended (a blend at 255 still leaves 1/256).
  if (FFlickerOverlay) FLayer->Bitmap()->SetDrawMode(ViewModeRowOf(TViewMode::Flicker).DrawMode);
  FLayer->SetVisible(FFlickerOverlay);
  RelabelFlicker();
}

void TViewModes::StopFlicker() {
  if (!FFlickering) return;
  FFlickering = false;
  if (FLayer == nullptr) return;
  // The opacity was never touched; only the draw mode, the region and the visibility come back.
  ShowDrawing();
  FLayer->SetVisible(true);
  FFlickerLabel.SetText({});
}

std::string TViewModes::FlickerLabelText() const {
  // Which picture shows, and when it was taken.
  const std::string date = DateShown ? DateShown(FFlickerOverlay ? 2 : 1) : std::string();
  const std::string name = Tr(FFlickerOverlay ? FlickerPicture2Text : FlickerPicture1Text);
  return date.empty() ? name : name + "  " + date;
}

}  // namespace overlay
