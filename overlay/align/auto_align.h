// Automatic alignment: the turn, uniform scale and shift that lay picture 2 on picture 1, found
// from the pictures themselves (features detected and matched on reduced copies, a robust fit
// of the matched points, docs/auto-align.md), and the slider state that comes closest to it.
// No window and no Qt: the main window, tessaly-align and tessaly-render call the same code.
//
// Coordinates are pixel positions with the centre of pixel (i, j) at (i, j), as the engine's
// drawing uses them.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "overlay/base/number_format.h"
#include "overlay/comparison/sliders.h"
#include "raster/core.h"

namespace overlay {

// p1 = [A -B; B A] p2 + (Tx, Ty): a point of picture 2 onto picture 1. Scale() and
// AngleDegrees() are those of the overlay: AngleDegrees() is positive where the overlay is
// turned anticlockwise on the screen (the rotation layer's sense).
struct TSimilarity {
  double A = 1, B = 0, Tx = 0, Ty = 0;
  double Scale() const;
  double AngleDegrees() const;
  void Map(double X2, double Y2, double* X1, double* Y1) const;
};

// Where the overlay shows point (X2, Y2) of picture 2 (Width2 x Height2) over picture 1 at the
// placement: the zoom's rebuilt bitmap (sides truncated, stretched bilinearly), turned about
// Center (a point of that bitmap; the middle pixel Width2 / 2, Height2 / 2 unless the
// assistant moved it) to the offset plus half the loaded size.
void PlacementMapping(const TPlacement& Placement, int Width2, int Height2,
                      raster::TFloatPoint Center, double X2, double Y2, double* X1, double* Y1);

// The fit as a precise placement of picture 2 (Width2 x Height2): its turn and scale, and the
// offset that lays picture 2's middle pixel where the fit puts it.
TPrecisePlacement PreciseFit(const TSimilarity& Fit, int Width2, int Height2);

// Why an alignment is refused. A fit beyond the sliders' ranges is none of these: the overlay
// is placed there precisely, the sliders at their ends.
enum class TAlignFailure {
  None,
  TooFewMatches,  // fewer matches after the ratio test than a reliable fit needs (Matches)
  Inconsistent,   // too few of the matches agree on one fit (Inliers of Matches)
  NoOverlap,      // the fit lays (almost) nothing of picture 2 on picture 1
  ZoomOutside,    // the fit's scale lies outside MinPlacementZoom..MaxPlacementZoom
  TooLarge,       // picture 2 at the fit's scale is more than a bitmap holds (PlacementFits)
  Failed,         // the computation itself failed (memory, OpenCV)
};

struct TPlacementFit {
  TPlacement Placement;
  // Root mean square distance, in picture-1 pixels, between the placement's mapping and the
  // fit over the part of picture 2 that the fit lays on picture 1.
  double Residual = 0;
};

// Of the slider states around Fit (whole degrees, whole pixels, whole zoom steps, within the
// sliders' ranges), the one whose mapping lies closest to Fit over the overlap: a fit beyond a
// range gets the state at that end. Failure says why there is none (no overlap, a scale that
// is no number).
TAlignFailure NearestPlacement(const TSimilarity& Fit, int Width1, int Height1, int Width2,
                               int Height2, raster::TFloatPoint Center, TPlacementFit* Out);

struct TAutoAlignOptions {
  int LongestSide = 1400;   // the reduced copies' longest side, in pixels
  int MaxFeatures = 3000;   // per picture, the strongest kept
  double RatioTest = 0.75;  // a match counts when it is this much closer than the runner-up
  int MinInliers = 20;      // consistent matches needed for a reliable fit
  double MinInlierShare = 0.2;
};

// Wall times of the stages, in milliseconds.
struct TAutoAlignTimes {
  double Reduction = 0, Detection = 0, Matching = 0, Fit = 0;
};

struct TAutoAlignResult {
  TAlignFailure Failure = TAlignFailure::TooFewMatches;
  bool Reliable() const { return Failure == TAlignFailure::None; }
  int Matches = 0;  // after the ratio test
  int Inliers = 0;  // consistent with the fit
  TSimilarity Fit;
  TPlacementFit Nearest;  // when Reliable()
  // The fit itself as a placement between slider steps (PreciseFit), and its residual as
  // Nearest's (what is left is the layer's float arithmetic); when Reliable().
  TPrecisePlacement Precise;
  double PreciseResidual = 0;
  TAutoAlignTimes Times;
};

// An alignment in two parts, so that a window can let the pictures go at once and do the long
// part on a worker thread: the constructor makes the reduced copies (the only part that reads
// the pictures), Run the rest on those copies. Neither raises; a failure of OpenCV itself
// (memory among them) gives an unreliable result.
class TAlignmentJob {
 public:
  TAlignmentJob(const raster::TBitmap32& Picture1, const raster::TBitmap32& Picture2,
                raster::TFloatPoint Center, const TAutoAlignOptions& Options = {});
  ~TAlignmentJob();
  TAlignmentJob(const TAlignmentJob&) = delete;
  TAlignmentJob& operator=(const TAlignmentJob&) = delete;
  // Once.
  TAutoAlignResult Run();

 private:
  struct TData;
  std::unique_ptr<TData> F;
};

// Picture 2 onto picture 1; Center as for PlacementMapping (the rotation layer's bitmap centre).
// Both parts of a TAlignmentJob at once.
TAutoAlignResult AutoAlign(const raster::TBitmap32& Picture1, const raster::TBitmap32& Picture2,
                           raster::TFloatPoint Center, const TAutoAlignOptions& Options = {});
// With the centre a freshly loaded picture 2 has.
TAutoAlignResult AutoAlign(const raster::TBitmap32& Picture1, const raster::TBitmap32& Picture2,
                           const TAutoAlignOptions& Options = {});

// A residual: two decimals.
inline std::string FormatResidual(double Pixels) {
  return FormatFixed(Pixels, 2);
}

// The command-line tools, which read no language file, say it in both languages.
constexpr const char* NoReliableAlignmentBothText =
    "Keine sichere Ausrichtung gefunden.\nNo reliable alignment found.";
// Why Result (unreliable) was refused, for the tools: "only 12 matches, at least 20 needed".
std::string AlignFailureReason(const TAutoAlignResult& Result,
                               const TAutoAlignOptions& Options = {});
// The same in the window's language, after NoReliableAlignmentText on a line of its own, the
// figures with DecimalSeparator.
std::string AlignRefusalText(const TAutoAlignResult& Result,
                             std::string_view DecimalSeparator = ".",
                             const TAutoAlignOptions& Options = {});

}  // namespace overlay
