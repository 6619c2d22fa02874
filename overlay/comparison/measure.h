// Measuring on the two pictures: a ruler (two points: its length) and an outline (a closed
// polygon: its area and longest diameter), each on picture 1 or picture 2 with its points in
// that picture's own pixels, so that moving the overlay later changes neither a measure's value
// nor where it lies on its picture; the view maps picture 2's through the placement it shows.
// Millimetres come from the pictures' pixels per 100 mm; without a scale the figures stay in
// pixels.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "overlay/comparison/sliders.h"

namespace overlay {

struct TMeasurePoint {
  double X = 0, Y = 0;
  friend bool operator==(const TMeasurePoint&, const TMeasurePoint&) = default;
};

enum class TMeasureKind { Ruler, Outline };

struct TMeasure {
  TMeasure() = default;
  TMeasure(TMeasureKind Kind, int Picture, std::vector<TMeasurePoint> Points, std::string Name = {})
      : Kind(Kind), Picture(Picture), Points(std::move(Points)), Name(std::move(Name)) {}
  TMeasureKind Kind = TMeasureKind::Ruler;
  int Picture = 1;                    // 1 or 2
  std::vector<TMeasurePoint> Points;  // in picture Picture's own pixels
  // Unique among its picture's measures; outlines of one name on both pictures are a pair.
  std::string Name;
  // A picture-2 measure of a record written before its points were its own: they are picture-1
  // coordinates under this placement, until OwnPoints makes them picture 2's.
  std::optional<TPrecisePlacement> Under;
  friend bool operator==(const TMeasure&, const TMeasure&) = default;
};

// The most points a measure may have: a record of an outline with more is refused, and drawing
// one adds no more. Ten thousand clicks are far more than any outline drawn by hand needs, and
// the labels and lines of that many points cost a paint little.
constexpr std::size_t MaxMeasurePoints = 10000;
// No point of a measure lies farther than this from a picture's corner, in pixels: a record's
// points beyond it are refused (a point at 1e308 measured "inf px").
constexpr double FarthestMeasurePoint = 1e6;

// What a measure needs to know of the pictures.
struct TMeasureFrame {
  int Pp100MM1 = 0, Pp100MM2 = 0;  // pixels per 100 mm; 0 or less: not known
  // The same unrounded, where a picture's own pixel spacing gives it (a DICOM file's 0.7 mm:
  // 142.857..., which Pp100MM rounds to 143); 0: Pp100MM holds. Measures use it first.
  double Exact1 = 0, Exact2 = 0;
  TPrecisePlacement Placement;  // where picture 2 lies on picture 1
  int Width2 = 0, Height2 = 0;  // picture 2's size, which the placement turns about
  friend bool operator==(const TMeasureFrame&, const TMeasureFrame&) = default;
};

// Where a placement lays picture 2's pixels on picture 1, as the overlay is drawn
// (PreciseMapping): x1 = A x2 + B y2 + Tx, y1 = C x2 + D y2 + Ty; and back.
struct TPictureTwoMapping {
  double A = 1, B = 0, C = 0, D = 1, Tx = 0, Ty = 0;
  TMeasurePoint ToOne(TMeasurePoint P2) const;
  TMeasurePoint ToTwo(TMeasurePoint P1) const;  // (0, 0) where the mapping has no inverse
};
TPictureTwoMapping PictureTwoMapping(const TPrecisePlacement& Placement, int Width2, int Height2);

struct TMeasurement {
  bool Millimetres = false;  // false: pixels (no scale for the measure's picture)
  double Length = 0;         // a ruler's length; an outline's longest diameter
  double Area = 0;           // an outline's area (mm² or pixels²); 0 for a ruler
};

// The measure's points in its own picture's pixels: as they are, or, for a measure Under an old
// placement, mapped back through that placement onto picture 2 of Frame's size.
std::vector<TMeasurePoint> InOwnPixels(const TMeasure& Measure, const TMeasureFrame& Frame);
// The measure with its points its picture's own (Under gone).
TMeasure OwnPoints(TMeasure Measure, const TMeasureFrame& Frame);
TMeasurement Measure(const TMeasure& Measure, const TMeasureFrame& Frame);
// The largest distance between two of Points (0 for fewer than two), in O(n log n): exactly the
// largest of all pairs' std::hypot.
double LongestDiameter(const std::vector<TMeasurePoint>& Points);

// An outline pair, the same structure in both pictures: After's area less Before's, and that as
// a percentage of Before's. Nothing when the two are not in the same unit or Before has no area.
struct TAreaChange {
  double Difference = 0, Percent = 0;
  bool Millimetres = false;
};
std::optional<TAreaChange> AreaChange(const TMeasurement& Before, const TMeasurement& After);

// Which outlines are pairs: each outline of picture 1 with the outline of picture 2 of the same
// name, so that deleting or redrawing one never pairs others anew; each pair as the indices
// (of picture 1's, of picture 2's), in picture 1's order.
std::vector<std::pair<std::size_t, std::size_t>> OutlinePairs(
    const std::vector<TMeasure>& Measures);

// "250.0 mm", "2500.0 mm²", "+525.0 mm² (+21.0 %)", or in pixels ("1000 px", "px²"), with the
// locale's decimal separator.
std::string FormatLength(const TMeasurement& M, std::string_view DecimalSeparator = ".");
std::string FormatArea(const TMeasurement& M, std::string_view DecimalSeparator = ".");
std::string FormatAreaChange(const TAreaChange& C, std::string_view DecimalSeparator = ".");

// The name a new measure of Kind on Picture takes: "Umriss n" or "Messstrecke n" in the
// window's language, with the smallest n no measure of that picture is named by, so that an
// outline drawn again after its deletion takes the name, and so the partner, of the one it
// replaces.
std::string DefaultMeasureName(const std::vector<TMeasure>& Measures, TMeasureKind Kind,
                               int Picture);
// Each measure without a name takes its default, in their order: a record written before
// measures had names keeps its outlines paired by their order on each picture.
void NameUnnamed(std::vector<TMeasure>& Measures);
// A name as the user gave it, made fit to keep and to show: control characters as spaces,
// spaces around it gone, at most MaxMeasureName bytes (whole UTF-8 characters).
constexpr std::size_t MaxMeasureName = 64;
std::string CleanMeasureName(std::string_view Name);

}  // namespace overlay
