// Measuring on the two pictures: a ruler (two points: its length) and an outline (a closed
// polygon: its area and longest diameter), with their points in picture-1 coordinates as the
// view shows them. Each belongs to picture 1 or picture 2; picture 2's is measured in picture
// 2's own pixels, through the placement, so that its own scale counts. Millimetres come from
// the pictures' pixels per 100 mm; without a scale the figures stay in pixels.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "overlay/scene/sliders.h"

namespace overlay {

struct TMeasurePoint {
  double X = 0, Y = 0;
  friend bool operator==(const TMeasurePoint&, const TMeasurePoint&) = default;
};

enum class TMeasureKind { Ruler, Outline };

struct TMeasure {
  TMeasureKind Kind = TMeasureKind::Ruler;
  int Picture = 1;                    // 1 or 2
  std::vector<TMeasurePoint> Points;  // picture-1 coordinates
  friend bool operator==(const TMeasure&, const TMeasure&) = default;
};

// What a measure needs to know of the pictures.
struct TMeasureFrame {
  int Pp100MM1 = 0, Pp100MM2 = 0;  // pixels per 100 mm; 0 or less: not known
  TPrecisePlacement Placement;     // where picture 2 lies on picture 1
  int Width2 = 0, Height2 = 0;     // picture 2's size, which the placement turns about
};

struct TMeasurement {
  bool Millimetres = false;  // false: pixels (no scale for the measure's picture)
  double Length = 0;         // a ruler's length; an outline's longest diameter
  double Area = 0;           // an outline's area (mm² or pixels²); 0 for a ruler
};

// The measure's points in its own picture's pixels: picture 1's as they are, picture 2's mapped
// back through the placement.
std::vector<TMeasurePoint> InOwnPixels(const TMeasure& Measure, const TMeasureFrame& Frame);
TMeasurement Measure(const TMeasure& Measure, const TMeasureFrame& Frame);

// An outline pair, the same structure in both pictures: After's area less Before's, and that as
// a percentage of Before's. Nothing when the two are not in the same unit or Before has no area.
struct TAreaChange {
  double Difference = 0, Percent = 0;
  bool Millimetres = false;
};
std::optional<TAreaChange> AreaChange(const TMeasurement& Before, const TMeasurement& After);

// Which outlines are pairs: the n-th outline drawn on picture 1 with the n-th drawn on picture
// 2, in the order of Measures; each pair as the indices (of picture 1's, of picture 2's).
std::vector<std::pair<std::size_t, std::size_t>> OutlinePairs(
    const std::vector<TMeasure>& Measures);

// The measure's number as the user reads it: rulers and outlines counted apart and per picture,
// from 1, so that an outline pair shares its number.
int MeasureNumber(const std::vector<TMeasure>& Measures, std::size_t Index);

// "250.0 mm", "2500.0 mm²", "+525.0 mm² (+21.0 %)", or in pixels ("1000 px", "px²"), with the
// locale's decimal separator.
std::string FormatLength(const TMeasurement& M, std::string_view DecimalSeparator = ".");
std::string FormatArea(const TMeasurement& M, std::string_view DecimalSeparator = ".");
std::string FormatAreaChange(const TAreaChange& C, std::string_view DecimalSeparator = ".");

}  // namespace overlay
