#include "overlay/comparison/measure.h"

#include <algorithm>
#include <cmath>

#include "overlay/base/texts.h"

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

namespace {

// Twice the signed area of triangle O, A, B: positive when A to B turns left about O.
double Cross(const TMeasurePoint& O, const TMeasurePoint& A, const TMeasurePoint& B) {
  return (A.X - O.X) * (B.Y - O.Y) - (A.Y - O.Y) * (B.X - O.X);
}

double Distance(const TMeasurePoint& A, const TMeasurePoint& B) {
  return std::hypot(B.X - A.X, B.Y - A.Y);
}

}  // namespace

double LongestDiameter(const std::vector<TMeasurePoint>& Points) {
  // The two points farthest apart are corners of the convex hull (monotone chain), and among
  // those an antipodal pair, which the rotating calipers visit in one turn round the hull: an
  // outline of thousands of points costs its sorting, not every pair of its points.
  std::vector<TMeasurePoint> sorted = Points;
  std::sort(sorted.begin(), sorted.end(), [](const TMeasurePoint& A, const TMeasurePoint& B) {
    return A.X < B.X || (A.X == B.X && A.Y < B.Y);
  });
  sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
  const std::size_t n = sorted.size();
  if (n < 2) return 0;
  std::vector<TMeasurePoint> hull(2 * n);
  std::size_t k = 0;
  for (std::size_t i = 0; i < n; ++i) {  // the lower hull, left to right
    while (k >= 2 && Cross(hull[k - 2], hull[k - 1], sorted[i]) <= 0) --k;
    hull[k++] = sorted[i];
  }
  for (std::size_t i = n - 1, lower = k + 1; i-- > 0;) {  // the upper hull, back
    while (k >= lower && Cross(hull[k - 2], hull[k - 1], sorted[i]) <= 0) --k;
    hull[k++] = sorted[i];
  }
  hull.resize(k - 1);  // the last is the first again
  const std::size_t h = hull.size();
  if (h <= 3) {
    double longest = 0;
    for (std::size_t i = 0; i < h; ++i) {
      for (std::size_t j = i + 1; j < h; ++j)
        longest = std::max(longest, Distance(hull[i], hull[j]));
    }
    return longest;
  }
  // For each edge i..i+1 the corner j farthest from its line; both ends of the edge and the
  // corners j and j+1 (the edge of j parallel to it) are the candidates.
  double longest = 0;
  for (std::size_t i = 0, j = 1; i < h; ++i) {
    const TMeasurePoint &a = hull[i], &b = hull[(i + 1) % h];
    while (Cross(a, b, hull[(j + 1) % h]) > Cross(a, b, hull[j])) j = (j + 1) % h;
    for (const TMeasurePoint& c : {hull[j], hull[(j + 1) % h]}) {
      longest = std::max({longest, Distance(a, c), Distance(b, c)});
    }
  }
  return longest;
}

TMeasurement Measure(const TMeasure& Measure, const TMeasureFrame& Frame) {
  const std::vector<TMeasurePoint> p = InOwnPixels(Measure, Frame);
  const double exact = Measure.Picture == 2 ? Frame.Exact2 : Frame.Exact1;
  const double pp100 =
      exact > 0 ? exact : double(Measure.Picture == 2 ? Frame.Pp100MM2 : Frame.Pp100MM1);
  TMeasurement m;
  m.Millimetres = pp100 > 0;
  const double perMm = m.Millimetres ? pp100 / 100.0 : 1.0;
  m.Length = LongestDiameter(p) / perMm;
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

std::string DefaultMeasureName(const std::vector<TMeasure>& Measures, TMeasureKind Kind,
                               int Picture) {
  const TText& text = Kind == TMeasureKind::Ruler ? MeasureRulerNameText : MeasureOutlineNameText;
  for (int n = 1;; ++n) {
    std::string name = Tr(text, std::to_string(n));
    if (std::none_of(Measures.begin(), Measures.end(),
                     [&](const TMeasure& M) { return M.Picture == Picture && M.Name == name; })) {
      return name;
    }
  }
}

void NameUnnamed(std::vector<TMeasure>& Measures) {
  for (TMeasure& m : Measures) {
    if (m.Name.empty()) m.Name = DefaultMeasureName(Measures, m.Kind, m.Picture);
  }
}

std::string CleanMeasureName(std::string_view Name) {
  std::string name;
  for (const char c : Name) name += (unsigned char)c < 0x20 || c == 0x7F ? ' ' : c;
  const std::size_t first = name.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  name = name.substr(first, name.find_last_not_of(' ') - first + 1);
  if (name.size() > MaxMeasureName) {
    // Not within a character: back to the start of the one that would be cut.
    std::size_t end = MaxMeasureName;
    while (end > 0 && ((unsigned char)name[end] & 0xC0) == 0x80) --end;
    name.resize(end);
    name = name.substr(0, name.find_last_not_of(' ') + 1);
  }
  return name;
}

}  // namespace overlay
