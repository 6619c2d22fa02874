#include "overlay/scene/overlay_scene.h"

namespace overlay {

using raster::TBitmap32;

TOverlayScene::TOverlayScene(int ViewWidth, int ViewHeight)
    : FController(std::make_unique<TMainController>(ViewWidth, ViewHeight)),
      FHost(std::make_unique<raster::THeadlessHost>(FController->ImgView())) {}

TOverlayScene::~TOverlayScene() = default;

raster::TImgView32& TOverlayScene::View() {
  return FController->ImgView();
}
raster::TRotLayer* TOverlayScene::RotLayer() const {
  return FController->RotLayer();
}
const TBitmap32* TOverlayScene::OverlayOriginal() const {
  return FController->OverlayOriginal();
}
TSliderPositions TOverlayScene::Sliders() const {
  return FController->Sliders();
}
bool TOverlayScene::Enabled() const {
  return FController->ControlsEnabled();
}

void TOverlayScene::LoadImage1(const TBitmap32& Picture) {
  TBitmap32 copy;
  copy.Assign(&Picture);
  FController->SetImage1("", copy);
}

void TOverlayScene::LoadImage2(const TBitmap32& Picture) {
  TBitmap32 copy;
  copy.Assign(&Picture);
  FController->SetImage2("", copy);
}

void TOverlayScene::SetBar(raster::TGaugeBar& Bar, int Position) {
  // A disabled bar takes no input; the scene's callers stand for the user.
  if (Enabled()) Bar.SetPosition(Position);
}

void TOverlayScene::SetAngle(int Position) {
  SetBar(FController->GaugeBar1(), Position);
}
void TOverlayScene::SetOffsetX(int Position) {
  SetBar(FController->GaugeBar2(), Position);
}
void TOverlayScene::SetOffsetY(int Position) {
  SetBar(FController->GaugeBar3(), Position);
}
void TOverlayScene::SetViewZoom(int Position) {
  SetBar(FController->GaugeBar4(), Position);
}
void TOverlayScene::SetOverlayZoom(int Position) {
  SetBar(FController->GaugeBar5(), Position);
}
void TOverlayScene::SetAlpha(int Position) {
  SetBar(FController->GaugeAlpha(), Position);
}

void TOverlayScene::ApplySliders(const TSliderPositions& Target) {
  SetAngle(Target.Angle);
  SetOffsetX(Target.OffsetX);
  SetOffsetY(Target.OffsetY);
  SetViewZoom(Target.ViewZoom);
  SetOverlayZoom(Target.OverlayZoom);
  SetAlpha(Target.Alpha);
}

std::unique_ptr<TBitmap32> TOverlayScene::RenderViewport() {
  FHost->PaintNow();
  raster::TImgView32& view = View();
  const raster::TBitmap32& screen = FHost->Screen();
  raster::TRect viewport;
  auto result = std::make_unique<TBitmap32>();
  if (!raster::IntersectRect(viewport, view.GetViewportRect(), screen.BoundsRect()) ||
      raster::IsRectEmpty(viewport)) {
    return result;
  }
  result->SetSize(viewport.Width(), viewport.Height());
  for (std::int32_t y = 0; y < viewport.Height(); ++y) {
    std::copy_n(screen.GetPixelPtr(viewport.Left, viewport.Top + y), viewport.Width(),
                result->GetScanLine(y));
  }
  return result;
}

}  // namespace overlay
