#include "overlay/scene/scale_bar.h"

#include <algorithm>
#include <cmath>

namespace overlay {

namespace {

// The badge: a pale backing (translucent, so the picture still shows through) with the label
// above a black bar that has a tick at each end.
constexpr int LabelPixelSize = 12;
constexpr int BadgePadding = 4;
constexpr int LabelGap = 1;
constexpr int BarThickness = 3;
constexpr int TickHeight = 8;
constexpr int TickWidth = 2;
constexpr int CornerMargin = 8;  // from the viewport's left and bottom edges
constexpr std::uint8_t BackingAlpha = 176;
constexpr raster::TColor32 BackingColour = raster::Color32(255, 255, 255, BackingAlpha);

// A label pixel of coverage C (black) over the backing, as one straight-alpha colour: the
// combined opacity is 1 - (1 - C)(1 - A), the grey the backing's white share of it.
raster::TColor32 LabelPixel(std::uint8_t Coverage) {
  const int c = Coverage, a = BackingAlpha;
  const int alpha = 255 - ((255 - c) * (255 - a) + 127) / 255;
  const int grey = alpha == 0 ? 0 : std::min(255, ((255 - c) * a + alpha / 2) / alpha);
  return raster::Color32(std::uint8_t(grey), std::uint8_t(grey), std::uint8_t(grey),
                         std::uint8_t(alpha));
}

}  // namespace

double ScreenPixelsPerMm(int Pp100MM, double ViewScale) {
  return Pp100MM / 100.0 * ViewScale;
}

std::optional<TScaleBarLength> ChooseScaleBarLength(double PixelsPerMm) {
  if (!(PixelsPerMm > 0) || !std::isfinite(PixelsPerMm)) return std::nullopt;
  // A length just too long for the bar, then down the series. The tolerance keeps a length
  // that fits exactly (0.1 mm at 2000 pixels per mm) from being lost to the rounding of 0.1.
  const double limit = ScaleBarMaxPixels * (1 + 1e-9);
  int exponent = int(std::ceil(std::log10(ScaleBarMaxPixels / PixelsPerMm))) + 1;
  for (int step = 0; step < 12; ++step, --exponent) {
    for (const int mantissa : {5, 2, 1}) {
      const double mm = mantissa * std::pow(10.0, exponent);
      const double pixels = mm * PixelsPerMm;
      if (pixels <= limit) {
        return TScaleBarLength{mm, int(std::lround(pixels))};
      }
    }
  }
  return std::nullopt;  // not reached: the start lies at most one decade above the fit
}

std::string FormatScaleBarLength(double Millimetres, const std::string& DecimalSeparator) {
  if (Millimetres >= 1) return std::to_string(std::llround(Millimetres)) + " mm";
  // Below a millimetre the length is one digit after some zeros: 0.5, 0.02 ...
  int zeros = 0;
  double scaled = Millimetres;
  while (scaled * 10 < 0.95 && zeros < 12) {  // the digit is 1, 2 or 5
    scaled *= 10;
    ++zeros;
  }
  const long digit = std::lround(scaled * 10);
  return "0" + DecimalSeparator + std::string(std::size_t(zeros), '0') + std::to_string(digit) +
         " mm";
}

TScaleBarLayer::TScaleBarLayer(raster::TLayerCollection* Collection)
    : raster::TCustomLayer(Collection) {
  FBadge.SetDrawMode(raster::dmBlend);
}

void TScaleBarLayer::SetPp100MM(int Value) {
  if (Value == FPp100MM) return;
  Changing();
  FPp100MM = Value;
  Changed();
}

void TScaleBarLayer::SetDecimalSeparator(std::string Value) {
  if (Value == FDecimalSeparator) return;
  Changing();
  FDecimalSeparator = std::move(Value);
  Changed();
}

std::optional<TScaleBarLength> TScaleBarLayer::CurrentLength() const {
  if (FView == nullptr || FPp100MM <= 0) return std::nullopt;
  // A magnified bar is chosen as the bar of a picture shown that many times smaller, then
  // drawn at the real scale.
  const double perMm = ScreenPixelsPerMm(FPp100MM, FView->Scale());
  std::optional<TScaleBarLength> length = ChooseScaleBarLength(perMm / FMagnification);
  if (length) length->Pixels = int(std::lround(length->Millimetres * perMm));
  return length;
}

void TScaleBarLayer::SetMagnification(int Value) {
  Value = std::max(Value, 1);
  if (Value == FMagnification) return;
  Changing();
  FMagnification = Value;
  FBadge.SetSize(0, 0);
  Changed();
}

void TCornerLabelLayer::SetMagnification(int Value) {
  Value = std::max(Value, 1);
  if (Value == FMagnification) return;
  FMagnification = Value;
  std::string text = std::move(FText);
  FText.clear();
  SetText(std::move(text));
}

namespace {

// Label's coverage onto Badge at (Left, Top), as black over the backing.
void PaintLabel(raster::TBitmap32& Badge, const platform::TTextMask& Label, int Left, int Top) {
  for (int y = 0; y < Label.Height; ++y) {
    for (int x = 0; x < Label.Width; ++x) {
      const std::uint8_t c = Label.Coverage[std::size_t(y) * std::size_t(Label.Width) + x];
      if (c != 0) Badge.SetPixelS(Left + x, Top + y, LabelPixel(c));
    }
  }
}

}  // namespace

void MakeTextBadge(raster::TBitmap32& Badge, const std::vector<std::string>& Lines,
                   int Magnification) {
  const int k = std::max(Magnification, 1);
  std::vector<platform::TTextMask> masks;
  int width = 0, height = 0;
  for (const std::string& line : Lines) {
    if (line.empty()) continue;
    platform::TTextMask mask = platform::RenderTextMask(line, LabelPixelSize * k);
    if (mask.Width <= 0 || mask.Height <= 0) continue;
    width = std::max(width, mask.Width);
    height += (masks.empty() ? 0 : LabelGap * k) + mask.Height;
    masks.push_back(std::move(mask));
  }
  Badge.SetSize(0, 0);
  if (masks.empty()) return;
  const int pad = BadgePadding * k;
  Badge.SetSize(width + 2 * pad, height + 2 * pad);
  Badge.Clear(BackingColour);
  int top = pad;
  for (const platform::TTextMask& mask : masks) {
    PaintLabel(Badge, mask, pad, top);
    top += mask.Height + LabelGap * k;
  }
}

TCornerLabelLayer::TCornerLabelLayer(raster::TLayerCollection* Collection)
    : raster::TCustomLayer(Collection) {
  FBadge.SetDrawMode(raster::dmBlend);
}

void TCornerLabelLayer::SetText(std::string Value) {
  if (Value == FText) return;
  Changing();
  FText = std::move(Value);
  MakeTextBadge(FBadge, {FText}, FMagnification);
  Changed();
}

void TCornerLabelLayer::Paint(raster::TBitmap32* Buffer) {
  if (FView == nullptr || Buffer == nullptr || FBadge.Empty()) return;
  const raster::TRect viewport = FView->GetViewportRect();
  FBadge.DrawTo(*Buffer, viewport.Left + CornerMargin * FMagnification,
                viewport.Top + CornerMargin * FMagnification);
}

void TScaleBarLayer::BuildBadge(const TScaleBarLength& Length) {
  const int k = FMagnification;
  const platform::TTextMask label = platform::RenderTextMask(
      FormatScaleBarLength(Length.Millimetres, FDecimalSeparator), LabelPixelSize * k);
  const int pad = BadgePadding * k, tick = TickHeight * k, tickWidth = TickWidth * k;
  const int labelBlock = label.Height > 0 ? label.Height + LabelGap * k : 0;
  const int width = std::max(Length.Pixels, label.Width) + 2 * pad;
  const int height = 2 * pad + labelBlock + tick;
  FBadge.SetSize(width, height);
  FBadge.Clear(BackingColour);
  PaintLabel(FBadge, label, pad, pad);
  const int ticksTop = pad + labelBlock;
  const int left = pad, right = pad + Length.Pixels;
  FBadgeBar = {left, ticksTop + tick - BarThickness * k, right, ticksTop + tick};
  FBadge.FillRectS(FBadgeBar, raster::clBlack32);
  FBadge.FillRectS(left, ticksTop, left + tickWidth, ticksTop + tick, raster::clBlack32);
  FBadge.FillRectS(right - tickWidth, ticksTop, right, ticksTop + tick, raster::clBlack32);
  FBadgeLength = Length;
  FBadgeSeparator = FDecimalSeparator;
}

void TScaleBarLayer::Paint(raster::TBitmap32* Buffer) {
  FLastBarRect = {};
  const std::optional<TScaleBarLength> length = CurrentLength();
  if (!length || Buffer == nullptr) return;
  if (FBadge.Empty() || FBadgeLength.Millimetres != length->Millimetres ||
      FBadgeLength.Pixels != length->Pixels || FBadgeSeparator != FDecimalSeparator) {
    BuildBadge(*length);
  }
  const raster::TRect viewport = FView->GetViewportRect();
  const int x = viewport.Left + CornerMargin * FMagnification;
  const int y = viewport.Bottom - CornerMargin * FMagnification - FBadge.Height();
  FBadge.DrawTo(*Buffer, x, y);
  FLastBarRect = {FBadgeBar.Left + x, FBadgeBar.Top + y, FBadgeBar.Right + x, FBadgeBar.Bottom + y};
}

}  // namespace overlay
