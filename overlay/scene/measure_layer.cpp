#include "overlay/scene/measure_layer.h"

#include <algorithm>
#include <cmath>

#include "overlay/scene/scale_bar.h"
#include "raster/blend.h"

namespace overlay {

namespace {

// A line in the picture's colour on a darker, wider rim, so that it shows on light and dark
// parts of a picture alike; square handles on the points; the label a little away from the
// point it belongs to.
constexpr double LineWidth = 2;
constexpr double RimWidth = 4;
constexpr raster::TColor32 RimColour = raster::Color32(0, 0, 0, 150);
constexpr int HandleRadius = 3;  // 7 x 7 pixels
constexpr int LabelOffset = 8;
constexpr int LabelGap = 2;
constexpr int LabelStripe = 3;  // the picture's colour down the label's left edge

raster::TColor32 Colour(int Picture) {
  return Picture == 2 ? MeasureColour2 : MeasureColour1;
}

// Colour at Coverage (0..1) of its own alpha, blended onto pixel (X, Y) through the engine's
// blend routine.
void BlendPixel(raster::TBitmap32& Buffer, int X, int Y, raster::TColor32 Colour, double Coverage) {
  const auto alpha = std::uint32_t(std::lround((Colour >> 24) * std::clamp(Coverage, 0.0, 1.0)));
  if (alpha == 0) return;
  raster::BlendMem((Colour & 0x00FFFFFFu) | (alpha << 24), *Buffer.GetPixelPtr(X, Y));
}

// An antialiased line of Width from A to C (screen coordinates, pixel centres at +0.5) with round
// ends, only within Clip. Along its longer axis, each column (or row) covers the few pixels
// near the line, so that a long line at a high zoom costs its length, not its box.
void PaintSegment(raster::TBitmap32& Buffer, const raster::TRect& Clip, TMeasurePoint A,
                  TMeasurePoint C, double Width, raster::TColor32 Colour) {
  const double r = Width / 2, reach = r + 1;
  const double dx = C.X - A.X, dy = C.Y - A.Y, length2 = dx * dx + dy * dy;
  const auto coverage = [&](double Px, double Py) {
    const double t =
        length2 > 0 ? std::clamp(((Px - A.X) * dx + (Py - A.Y) * dy) / length2, 0.0, 1.0) : 0.0;
    const double d = std::hypot(Px - (A.X + t * dx), Py - (A.Y + t * dy));
    return std::clamp(r + 0.5 - d, 0.0, 1.0);
  };
  const bool steep = std::abs(dy) > std::abs(dx);
  // u runs along the major axis, v across it.
  const double ua = steep ? A.Y : A.X, uc = steep ? C.Y : C.X;
  const double va = steep ? A.X : A.Y, vc = steep ? C.X : C.Y;
  const int uLow = steep ? Clip.Top : Clip.Left, uHigh = steep ? Clip.Bottom : Clip.Right;
  const int vLow = steep ? Clip.Left : Clip.Top, vHigh = steep ? Clip.Right : Clip.Bottom;
  const int u0 = std::max(uLow, int(std::floor(std::min(ua, uc) - reach)));
  const int u1 = std::min(uHigh - 1, int(std::ceil(std::max(ua, uc) + reach)));
  for (int u = u0; u <= u1; ++u) {
    const double t = uc != ua ? std::clamp((u + 0.5 - ua) / (uc - ua), 0.0, 1.0) : 0.0;
    const double v = va + t * (vc - va);
    const int v0 = std::max(vLow, int(std::floor(v - reach - 1)));
    const int v1 = std::min(vHigh - 1, int(std::ceil(v + reach + 1)));
    for (int w = v0; w <= v1; ++w) {
      const int x = steep ? w : u, y = steep ? u : w;
      BlendPixel(Buffer, x, y, Colour, coverage(x + 0.5, y + 0.5));
    }
  }
}

void FillClipped(raster::TBitmap32& Buffer, const raster::TRect& Clip, raster::TRect R,
                 raster::TColor32 Colour) {
  raster::TRect inside;
  if (raster::IntersectRect(inside, R, Clip)) Buffer.FillRectS(inside, Colour);
}

}  // namespace

std::vector<std::string> MeasureLabel(const std::vector<TMeasure>& Measures, std::size_t Index,
                                      const TMeasureFrame& Frame,
                                      std::string_view DecimalSeparator) {
  const TMeasure& m = Measures[Index];
  const TMeasurement measured = Measure(m, Frame);
  if (m.Kind == TMeasureKind::Ruler) return {m.Name, FormatLength(measured, DecimalSeparator)};
  std::vector<std::string> lines{m.Name, FormatArea(measured, DecimalSeparator),
                                 "\u00d8 " + FormatLength(measured, DecimalSeparator)};
  for (const auto& [before, after] : OutlinePairs(Measures)) {
    if (after != Index) continue;
    if (const std::optional<TAreaChange> change =
            AreaChange(Measure(Measures[before], Frame), measured)) {
      lines.push_back(FormatAreaChange(*change, DecimalSeparator));
    }
  }
  return lines;
}

TMeasureLayer::TMeasureLayer(raster::TLayerCollection* Collection)
    : raster::TCustomLayer(Collection) {}

void TMeasureLayer::SetDecimalSeparator(std::string Value) {
  if (Value == FDecimalSeparator) return;
  Changing();
  FDecimalSeparator = std::move(Value);
  Changed();
}

void TMeasureLayer::SetMagnification(int Value) {
  Value = std::max(Value, 1);
  if (Value == FMagnification) return;
  Changing();
  FMagnification = Value;
  FBadges.clear();
  Changed();
}

void TMeasureLayer::Update() {
  Changing();
  Changed();
}

const raster::TBitmap32& TMeasureLayer::Badge(const std::vector<std::string>& Lines) {
  std::string key;
  for (const std::string& line : Lines) key += line + "\n";
  std::unique_ptr<raster::TBitmap32>& shown = FBadgesShown[key];
  if (shown == nullptr) {
    const auto kept = FBadges.find(key);
    if (kept != FBadges.end()) {
      shown = std::move(kept->second);
    } else {
      shown = std::make_unique<raster::TBitmap32>();
      shown->SetDrawMode(raster::dmBlend);
      MakeTextBadge(*shown, Lines, FMagnification);
    }
  }
  return *shown;
}

void TMeasureLayer::PaintMeasure(raster::TBitmap32& Buffer, const raster::TRect& Clip,
                                 const TMeasureScreen& Screen, const TMeasure& Measure, bool Closed,
                                 const std::vector<std::string>& Label) {
  std::vector<TMeasurePoint> at;
  for (const TMeasurePoint& p : Measure.Points) at.push_back(Screen.ToScreen(Measure.Picture, p));
  const std::size_t n = at.size();
  const std::size_t lines = Closed ? n : n - 1;
  const int k = FMagnification;
  for (const auto& [width, colour] :
       {std::pair{RimWidth * k, RimColour}, std::pair{LineWidth * k, Colour(Measure.Picture)}}) {
    for (std::size_t i = 0; i < lines && n > 1; ++i) {
      PaintSegment(Buffer, Clip, at[i], at[(i + 1) % n], width, colour);
    }
  }
  for (const TMeasurePoint& p : at) {
    const int x = int(std::floor(p.X)), y = int(std::floor(p.Y));
    const int r = HandleRadius * k;
    FillClipped(Buffer, Clip, {x - r, y - r, x + r + 1, y + r + 1}, raster::clBlack32);
    FillClipped(Buffer, Clip, {x - r + k, y - r + k, x + r + 1 - k, y + r + 1 - k},
                Colour(Measure.Picture));
  }
  if (Label.empty() || n == 0) return;
  const raster::TBitmap32& badge = Badge(Label);
  if (badge.Empty()) return;
  // A ruler's label beside its middle, an outline's right of its rightmost point, level with
  // its middle.
  int left = 0, top = 0;
  if (Measure.Kind == TMeasureKind::Ruler) {
    left = int(std::lround((at.front().X + at.back().X) / 2)) + LabelOffset * k;
    top = int(std::lround((at.front().Y + at.back().Y) / 2)) + LabelOffset * k;
  } else {
    double sumY = 0, rightmost = at.front().X;
    for (const TMeasurePoint& p : at) {
      sumY += p.Y;
      rightmost = std::max(rightmost, p.X);
    }
    left = int(std::lround(rightmost)) + LabelOffset * k;
    top = int(std::lround(sumY / double(n))) - badge.Height() / 2;
  }
  // Below the labels already placed that it would cover (a pair's outlines lie close).
  raster::TRect placed{left, top, left + badge.Width(), top + badge.Height()};
  for (bool moved = true; moved;) {
    moved = false;
    for (const raster::TRect& other : FPlaced) {
      raster::TRect common;
      if (raster::IntersectRect(common, placed, other)) {
        raster::OffsetRect(placed, 0, other.Bottom + LabelGap * k - placed.Top);
        moved = true;
      }
    }
  }
  // Within the view where it would leave it while its measure shows (it then may cover
  // another).
  double minX = at.front().X, maxX = minX, minY = at.front().Y, maxY = minY;
  for (const TMeasurePoint& p : at) {
    minX = std::min(minX, p.X), maxX = std::max(maxX, p.X);
    minY = std::min(minY, p.Y), maxY = std::max(maxY, p.Y);
  }
  if (maxX >= Clip.Left && minX < Clip.Right && maxY >= Clip.Top && minY < Clip.Bottom) {
    raster::OffsetRect(placed,
                       std::max(Clip.Left - placed.Left, std::min(Clip.Right - placed.Right, 0)),
                       std::max(Clip.Top - placed.Top, std::min(Clip.Bottom - placed.Bottom, 0)));
  }
  FPlaced.push_back(placed);
  left = placed.Left, top = placed.Top;
  raster::TRect shown;
  if (!raster::IntersectRect(shown, placed, Clip)) return;
  badge.DrawTo(Buffer, shown,
               {shown.Left - left, shown.Top - top, shown.Right - left, shown.Bottom - top});
  FillClipped(Buffer, Clip, {left, top, left + LabelStripe * k, top + badge.Height()},
              Colour(Measure.Picture));
}

void TMeasureLayer::Paint(raster::TBitmap32* Buffer) {
  if (FView == nullptr || FEditor == nullptr || Buffer == nullptr || !Screen || !Frame) return;
  const std::vector<TMeasure>& measures = FEditor->Measures();
  if (measures.empty() && !FEditor->Drawing()) {
    FBadges.clear();
    return;
  }
  FPlaced.clear();
  const TMeasureScreen screen = Screen();
  const TMeasureFrame frame = Frame();
  raster::TRect viewport;
  raster::IntersectRect(viewport, FView->GetViewportRect(), Buffer->BoundsRect());
  // Side by side: each picture's measures in its own half.
  const auto clipFor = [&](int Picture) {
    raster::TRect clip = viewport;
    if (screen.SideShift > 0) {
      const int split = viewport.Left + int(screen.SideShift);
      (Picture == 2 ? clip.Left : clip.Right) = split;
    }
    return clip;
  };
  if (measures != FLabelled || frame != FLabelFrame || FDecimalSeparator != FLabelSeparator ||
      FLabels.size() != measures.size()) {
    FLabels.clear();
    for (std::size_t i = 0; i < measures.size(); ++i) {
      FLabels.push_back(MeasureLabel(measures, i, frame, FDecimalSeparator));
    }
    FLabelled = measures, FLabelFrame = frame, FLabelSeparator = FDecimalSeparator;
  }
  for (std::size_t i = 0; i < measures.size(); ++i) {
    PaintMeasure(*Buffer, clipFor(measures[i].Picture), screen, measures[i], true, FLabels[i]);
  }
  if (const std::optional<TMeasure>& drawing = FEditor->Drawing()) {
    TMeasure shown = *drawing;
    if (FEditor->Hover()) shown.Points.push_back(*FEditor->Hover());
    PaintMeasure(*Buffer, clipFor(shown.Picture), screen, shown, false, {});
  }
  raster::EMMS();
  // Badges no longer shown are dropped; those shown are kept for the next paint.
  FBadges = std::move(FBadgesShown);
  FBadgesShown.clear();
}

}  // namespace overlay
