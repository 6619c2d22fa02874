#include "overlay/scene/zoom_view.h"

#include <algorithm>
#include <cmath>

#include "overlay/scene/view_input.h"

namespace overlay {

namespace {

constexpr double NotchesPerDoubling = 4;
// Sub-pixel points are kept to hundredths: finer than any hand aims, and short in the edits.
constexpr double PointSteps = 100;

// The offset of one axis within the pan limits.
double LimitedOffset(double Offset, double PictureExtent, double ViewExtent) {
  if (PictureExtent <= ViewExtent) return (ViewExtent - PictureExtent) / 2;
  return std::clamp(Offset, ViewExtent - PictureExtent, 0.0);
}

}  // namespace

void TZoomView::SetPictureSize(int Width, int Height) {
  FPictureWidth = std::max(Width, 1);
  FPictureHeight = std::max(Height, 1);
  Fit();
}

void TZoomView::SetViewSize(int Width, int Height) {
  const TPointD centre = ToPicture({FViewWidth / 2.0, FViewHeight / 2.0});
  FViewWidth = std::max(Width, 1);
  FViewHeight = std::max(Height, 1);
  if (FFitted) {
    Fit();
    return;
  }
  FScale = std::clamp(FScale, MinScale(), MaxScale);
  FOffsetX = FViewWidth / 2.0 - centre.X * FScale;
  FOffsetY = FViewHeight / 2.0 - centre.Y * FScale;
  Limit();
}

double TZoomView::FitScale() const {
  return std::min({1.0, double(FViewWidth) / FPictureWidth, double(FViewHeight) / FPictureHeight});
}

void TZoomView::Fit() {
  FScale = FitScale();
  Limit();  // centres both axes
  FFitted = true;
}

void TZoomView::Actual() {
  SetScaleAbout(1, {FViewWidth / 2.0, FViewHeight / 2.0});
}

void TZoomView::ZoomAbout(double Factor, TPointD ViewPoint) {
  SetScaleAbout(FScale * Factor, ViewPoint);
}

void TZoomView::SetScaleAbout(double Scale, TPointD ViewPoint) {
  const TPointD held = ToPicture(ViewPoint);
  FScale = std::clamp(Scale, MinScale(), MaxScale);
  FOffsetX = ViewPoint.X - held.X * FScale;
  FOffsetY = ViewPoint.Y - held.Y * FScale;
  Limit();
  FFitted = false;
}

void TZoomView::PanBy(double Dx, double Dy) {
  FOffsetX += Dx;
  FOffsetY += Dy;
  Limit();
}

void TZoomView::Limit() {
  FOffsetX = LimitedOffset(FOffsetX, FPictureWidth * FScale, FViewWidth);
  FOffsetY = LimitedOffset(FOffsetY, FPictureHeight * FScale, FViewHeight);
}

TPointD TZoomView::ToPicture(TPointD ViewPoint) const {
  return {(ViewPoint.X - FOffsetX) / FScale, (ViewPoint.Y - FOffsetY) / FScale};
}

TPointD TZoomView::ToView(TPointD PicturePoint) const {
  return {PicturePoint.X * FScale + FOffsetX, PicturePoint.Y * FScale + FOffsetY};
}

std::optional<TPointD> PickPoint(const TZoomView& View, TPointD ViewPoint) {
  const TPointD u = View.ToPicture(ViewPoint);
  if (u.X < 0 || u.Y < 0 || u.X >= View.PictureWidth() || u.Y >= View.PictureHeight()) {
    return std::nullopt;
  }
  if (View.Scale() <= 1) return TPointD{std::floor(u.X), std::floor(u.Y)};
  // + 0.0 turns a -0 (just left of pixel 0's centre, rounded) into 0.
  const auto fine = [](double V) { return std::round((V - 0.5) * PointSteps) / PointSteps + 0.0; };
  return TPointD{fine(u.X), fine(u.Y)};
}

double WheelZoomFactor(int AngleDelta) {
  return std::exp2(double(AngleDelta) / TWheelNotches::NotchDelta / NotchesPerDoubling);
}

}  // namespace overlay
