#include "overlay/scene/view_input.h"

#include <algorithm>
#include <cstdint>

namespace overlay {

TNudge NudgeFor(TNudgeKey Key, bool Shift) {
  const int step = Shift ? 10 : 1;
  switch (Key) {
    case TNudgeKey::Left:
      return {TNudgeSlider::OffsetX, -step};
    case TNudgeKey::Right:
      return {TNudgeSlider::OffsetX, step};
    case TNudgeKey::Up:
      return {TNudgeSlider::OffsetY, -step};  // picture rows grow downwards
    case TNudgeKey::Down:
      return {TNudgeSlider::OffsetY, step};
    case TNudgeKey::PageUp:
      return {TNudgeSlider::Angle, 1};
    case TNudgeKey::PageDown:
      return {TNudgeSlider::Angle, -1};
    case TNudgeKey::Plus:
      return {TNudgeSlider::ViewZoom, 1};
    case TNudgeKey::Minus:
      break;
  }
  return {TNudgeSlider::ViewZoom, -1};
}

int TWheelNotches::Add(int AngleDelta) {
  if ((AngleDelta > 0 && FRemainder < 0) || (AngleDelta < 0 && FRemainder > 0)) FRemainder = 0;
  // In 64 bits: a driver may report any int, and the sum must not overflow.
  const std::int64_t sum = std::int64_t(FRemainder) + AngleDelta;
  const std::int64_t notches = sum / NotchDelta;  // toward zero, so the rest keeps the sign
  FRemainder = int(sum - notches * NotchDelta);
  return int(notches);
}

namespace {

// The bitmap rectangle as painted and the bitmap's size; false when either is empty.
bool Placement(raster::TCustomImage32& View, raster::TRect& R, float& Width, float& Height) {
  R = View.GetBitmapRect();
  Width = float(View.Bitmap().Width());
  Height = float(View.Bitmap().Height());
  return R.Width() > 0 && R.Height() > 0 && Width > 0 && Height > 0;
}

}  // namespace

raster::TFloatPoint ViewToBitmap(raster::TCustomImage32& View, raster::TPoint P) {
  raster::TRect r;
  float w = 0, h = 0;
  if (!Placement(View, r, w, h)) return raster::FloatPoint(P);
  return {float(double(P.X - r.Left) * w / r.Width()), float(double(P.Y - r.Top) * h / r.Height())};
}

raster::TFloatPoint BitmapToView(raster::TCustomImage32& View, raster::TFloatPoint P) {
  raster::TRect r;
  float w = 0, h = 0;
  if (!Placement(View, r, w, h)) return P;
  return {float(r.Left + double(P.X) * r.Width() / w), float(r.Top + double(P.Y) * r.Height() / h)};
}

void TViewPan::Begin(raster::TPoint Mouse, raster::TFloatPoint ScrollPosition) {
  FActive = true;
  FStart = Mouse;
  FStartScroll = ScrollPosition;
}

raster::TFloatPoint TViewPan::Target(raster::TPoint Mouse) const {
  return {float(double(FStartScroll.X) + FStart.X - Mouse.X),
          float(double(FStartScroll.Y) + FStart.Y - Mouse.Y)};
}

void ScrollToward(raster::TCustomImgView32& View, double X, double Y) {
  const auto step = [](raster::TCustomRangeBar& Bar, double Value) {
    const double highest = std::max(0, Bar.Range() - Bar.EffectiveWindow());
    return raster::RoundTiesToEven(std::clamp(Value, 0.0, highest) - Bar.Position());
  };
  const std::int32_t dx = step(View.HScroll(), X), dy = step(View.VScroll(), Y);
  if (dx != 0 || dy != 0) View.Scroll(dx, dy);
}

}  // namespace overlay
