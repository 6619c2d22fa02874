#include "overlay/scene/measure.h"

#include <algorithm>
#include <cmath>

namespace overlay {

TMeasurePoint TPictureTwoMapping::ToOne(TMeasurePoint P2) const {
  return {A * P2.X + B * P2.Y + Tx, C * P2.X + D * P2.Y + Ty};
}

TMeasurePoint TPictureTwoMapping::ToTwo(TMeasurePoint P1) const {
  const double det = A * D - B * C;
  if (det == 0) return {};
  const double dx = P1.X - Tx, dy = P1.Y - Ty;
  return {(D * dx - B * dy) / det, (-C * dx + A * dy) / det};
}

TPictureTwoMapping PictureTwoMapping(const TPrecisePlacement& Placement, int Width2, int Height2) {
  double ox, oy, ax, ay, bx, by;
  PreciseMapping(Placement, Width2, Height2, 0, 0, &ox, &oy);
  PreciseMapping(Placement, Width2, Height2, 1, 0, &ax, &ay);
  PreciseMapping(Placement, Width2, Height2, 0, 1, &bx, &by);
  return {ax - ox, bx - ox, ay - oy, by - oy, ox, oy};
}

std::vector<TMeasurePoint> InOwnPixels(const TMeasure& Measure, const TMeasureFrame& Frame) {
  if (Measure.Picture != 2 || !Measure.Under) return Measure.Points;
  const TPictureTwoMapping under = PictureTwoMapping(*Measure.Under, Frame.Width2, Frame.Height2);
  std::vector<TMeasurePoint> points;
  points.reserve(Measure.Points.size());
  for (const TMeasurePoint& p : Measure.Points) points.push_back(under.ToTwo(p));
  return points;
}

TMeasure OwnPoints(TMeasure Measure, const TMeasureFrame& Frame) {
  if (!Measure.Under) return Measure;
  Measure.Points = InOwnPixels(Measure, Frame);
  Measure.Under.reset();
  return Measure;
}

TMeasurement Measure(const TMeasure& Measure, const TMeasureFrame& Frame) {
  const std::vector<TMeasurePoint> p = InOwnPixels(Measure, Frame);
  const double exact = Measure.Picture == 2 ? Frame.Exact2 : Frame.Exact1;
  const double pp100 =
      exact > 0 ? exact : double(Measure.Picture == 2 ? Frame.Pp100MM2 : Frame.Pp100MM1);
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
  const auto outline = [&](std::size_t I, int Picture) {
    return Measures[I].Kind == TMeasureKind::Outline && Measures[I].Picture == Picture;
  };
  std::vector<std::pair<std::size_t, std::size_t>> pairs;
  for (std::size_t i = 0; i < Measures.size(); ++i) {
    if (!outline(i, 1) || Measures[i].Name.empty()) continue;
    for (std::size_t j = 0; j < Measures.size(); ++j) {
      if (outline(j, 2) && Measures[j].Name == Measures[i].Name) {
        pairs.emplace_back(i, j);
        break;
      }
    }
  }
  return pairs;
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
