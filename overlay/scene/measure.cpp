#include "overlay/scene/measure.h"

#include <algorithm>
#include <cmath>

namespace overlay {

namespace {

// Picture 1's point (X1, Y1) in picture 2's pixels: the placement's affine mapping inverted.
TMeasurePoint InPictureTwo(const TMeasureFrame& Frame, double X1, double Y1) {
  double ox, oy, ax, ay, bx, by;
  PreciseMapping(Frame.Placement, Frame.Width2, Frame.Height2, 0, 0, &ox, &oy);
  PreciseMapping(Frame.Placement, Frame.Width2, Frame.Height2, 1, 0, &ax, &ay);
  PreciseMapping(Frame.Placement, Frame.Width2, Frame.Height2, 0, 1, &bx, &by);
  const double a = ax - ox, c = ay - oy, b = bx - ox, d = by - oy;  // x1 = a x2 + b y2 + ox
  const double det = a * d - b * c;
  if (det == 0) return {};
  const double dx = X1 - ox, dy = Y1 - oy;
  return {(d * dx - b * dy) / det, (-c * dx + a * dy) / det};
}

}  // namespace

std::vector<TMeasurePoint> InOwnPixels(const TMeasure& Measure, const TMeasureFrame& Frame) {
  if (Measure.Picture != 2) return Measure.Points;
  std::vector<TMeasurePoint> points;
  points.reserve(Measure.Points.size());
  for (const TMeasurePoint& p : Measure.Points) points.push_back(InPictureTwo(Frame, p.X, p.Y));
  return points;
}

TMeasurement Measure(const TMeasure& Measure, const TMeasureFrame& Frame) {
  const std::vector<TMeasurePoint> p = InOwnPixels(Measure, Frame);
  const int pp100 = Measure.Picture == 2 ? Frame.Pp100MM2 : Frame.Pp100MM1;
  TMeasurement m;
  m.Millimetres = pp100 > 0;
  const double perMm = m.Millimetres ? pp100 / 100.0 : 1.0;
  double longest = 0;
  for (std::size_t i = 0; i < p.size(); ++i) {
    for (std::size_t j = i + 1; j < p.size(); ++j) {
      longest = std::max(longest, std::hypot(p[j].X - p[i].X, p[j].Y - p[i].Y));
    }
  }
  m.Length = longest / perMm;
  if (Measure.Kind == TMeasureKind::Outline && p.size() >= 3) {
    double twice = 0;  // the shoelace sum
    for (std::size_t i = 0; i < p.size(); ++i) {
      const TMeasurePoint& u = p[i];
      const TMeasurePoint& v = p[(i + 1) % p.size()];
      twice += u.X * v.Y - v.X * u.Y;
    }
    m.Area = std::abs(twice) / 2 / (perMm * perMm);
  }
  return m;
}

std::optional<TAreaChange> AreaChange(const TMeasurement& Before, const TMeasurement& After) {
  if (Before.Millimetres != After.Millimetres || !(Before.Area > 0)) return std::nullopt;
  return TAreaChange{After.Area - Before.Area, (After.Area - Before.Area) / Before.Area * 100,
                     Before.Millimetres};
}

std::vector<std::pair<std::size_t, std::size_t>> OutlinePairs(
    const std::vector<TMeasure>& Measures) {
  std::vector<std::size_t> one, two;
  for (std::size_t i = 0; i < Measures.size(); ++i) {
    if (Measures[i].Kind != TMeasureKind::Outline) continue;
    (Measures[i].Picture == 2 ? two : one).push_back(i);
  }
  std::vector<std::pair<std::size_t, std::size_t>> pairs;
  for (std::size_t n = 0; n < std::min(one.size(), two.size()); ++n) {
    pairs.emplace_back(one[n], two[n]);
  }
  return pairs;
}

int MeasureNumber(const std::vector<TMeasure>& Measures, std::size_t Index) {
  int n = 0;
  for (std::size_t i = 0; i <= Index && i < Measures.size(); ++i) {
    if (Measures[i].Kind == Measures[Index].Kind &&
        Measures[i].Picture == Measures[Index].Picture) {
      ++n;
    }
  }
  return n;
}

std::string FormatLength(const TMeasurement& M, std::string_view DecimalSeparator) {
  return M.Millimetres ? FormatDecimal(M.Length, 1, DecimalSeparator) + " mm"
                       : FormatDecimal(M.Length, 0, DecimalSeparator) + " px";
}

std::string FormatArea(const TMeasurement& M, std::string_view DecimalSeparator) {
  return M.Millimetres ? FormatDecimal(M.Area, 1, DecimalSeparator) + " mm\u00b2"
                       : FormatDecimal(M.Area, 0, DecimalSeparator) + " px\u00b2";
}

std::string FormatAreaChange(const TAreaChange& C, std::string_view DecimalSeparator) {
  const std::string sign = C.Difference >= 0 ? "+" : "";
  const std::string psign = C.Percent >= 0 ? "+" : "";
  return sign + FormatDecimal(C.Difference, C.Millimetres ? 1 : 0, DecimalSeparator) +
         (C.Millimetres ? " mm\u00b2" : " px\u00b2") + " (" + psign +
         FormatDecimal(C.Percent, 1, DecimalSeparator) + " %)";
}

}  // namespace overlay
