// The fit's checks: where a similarity lays picture 2, the nearest placement the sliders can
// give, and why a fit is refused, for the window and the tools.
#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

#include "controls/rot_layer.h"
#include "overlay/align/auto_align.h"
#include "overlay/align/auto_align_p.h"
#include "overlay/base/texts.h"

namespace overlay {

namespace {

constexpr double Pi = std::numbers::pi;

double StretchFactor(int Loaded, int Zoomed) {
  return OverlayStretchFactor(Loaded, Zoomed);
}

constexpr int OverlapGrid = 33;
constexpr int MinOverlapPoints = 12;

}  // namespace

std::vector<TSample> OverlapSamples(const TSimilarity& Fit, int Width1, int Height1, int Width2,
                                    int Height2) {
  std::vector<TSample> samples;
  for (int j = 0; j < OverlapGrid; ++j) {
    for (int i = 0; i < OverlapGrid; ++i) {
      TSample s{};
      s.X2 = (Width2 - 1) * double(i) / (OverlapGrid - 1);
      s.Y2 = (Height2 - 1) * double(j) / (OverlapGrid - 1);
      Fit.Map(s.X2, s.Y2, &s.X1, &s.Y1);
      if (s.X1 >= -0.5 && s.X1 <= Width1 - 0.5 && s.Y1 >= -0.5 && s.Y1 <= Height1 - 0.5) {
        samples.push_back(s);
      }
    }
  }
  return samples;
}

double TSimilarity::Scale() const {
  return std::hypot(A, B);
}

double TSimilarity::AngleDegrees() const {
  // The fit turns by atan2(B, A) in Y-down coordinates, which is clockwise on the screen.
  return -std::atan2(B, A) * 180 / Pi;
}

void TSimilarity::Map(double X2, double Y2, double* X1, double* Y1) const {
  *X1 = A * X2 - B * Y2 + Tx;
  *Y1 = B * X2 + A * Y2 + Ty;
}

void PlacementMapping(const TPlacement& Placement, int Width2, int Height2,
                      raster::TFloatPoint Center, double X2, double Y2, double* X1, double* Y1) {
  const raster::TSize zoomed =
      OverlayZoomSize(Width2, Height2, OverlayZoomFactor(Placement.OverlayZoom));
  const double bx = X2 * StretchFactor(Width2, zoomed.cx);
  const double by = Y2 * StretchFactor(Height2, zoomed.cy);
  // The rotation layer's own matrix, so that the fit judges exactly where the view draws.
  raster::TAffineTransformation t;
  raster::SetRotLayerPlacement(
      t, Center, float(Placement.Angle),
      OverlayPosition(Placement.OffsetX, Placement.OffsetY, Width2, Height2));
  const raster::TFloatMatrix& m = t.Matrix;
  *X1 = m[0][0] * bx + m[1][0] * by + m[2][0];
  *Y1 = m[0][1] * bx + m[1][1] * by + m[2][1];
}

TPrecisePlacement PreciseFit(const TSimilarity& Fit, int Width2, int Height2) {
  const raster::TFloatPoint middle{float(Width2 / 2), float(Height2 / 2)};
  double x1, y1;
  Fit.Map(middle.X, middle.Y, &x1, &y1);
  return PlacementThrough(Fit.AngleDegrees(), float(Fit.Scale()), Width2, Height2,
                          {float(x1), float(y1)}, middle);
}

TAlignFailure NearestPlacement(const TSimilarity& Fit, int Width1, int Height1, int Width2,
                               int Height2, raster::TFloatPoint Center, TPlacementFit* Out) {
  if (Width1 <= 0 || Height1 <= 0 || Width2 <= 0 || Height2 <= 0 || !(Fit.Scale() > 0)) {
    return TAlignFailure::NoOverlap;
  }
  const std::vector<TSample> samples = OverlapSamples(Fit, Width1, Height1, Width2, Height2);
  if (samples.size() < std::size_t(MinOverlapPoints)) return TAlignFailure::NoOverlap;

  // The zoom steps and degrees around the fit's; for each pair the best shift in whole pixels
  // is the rounded mean of what remains, as the distance is a sum of squares in X and in Y.
  const double zoom = std::log10(Fit.Scale()) * 1000;
  const double angle = Fit.AngleDegrees();
  if (!std::isfinite(zoom) || !std::isfinite(angle)) return TAlignFailure::ZoomOutside;
  const int z0 = int(std::floor(zoom)), a0 = int(std::floor(angle));
  bool found = false;
  TPlacementFit best;
  double bestApart = 0;
  std::vector<double> dx(samples.size()), dy(samples.size());
  // Beyond the zoom slider's range, its end (once); beyond the offsets', theirs.
  const int zFirst = std::clamp(z0 - 1, OverlayZoomSlider.Min, OverlayZoomSlider.Max);
  const int zLast = std::clamp(z0 + 2, OverlayZoomSlider.Min, OverlayZoomSlider.Max);
  for (int z = zFirst; z <= zLast; ++z) {
    for (int a = a0 - 1; a <= a0 + 2; ++a) {
      TPlacement p;
      p.OverlayZoom = z;
      p.Angle = a > 180 ? a - 360 : a < -180 ? a + 360 : a;
      double sumX = 0, sumY = 0;
      for (std::size_t i = 0; i < samples.size(); ++i) {
        double x1, y1;
        PlacementMapping(p, Width2, Height2, Center, samples[i].X2, samples[i].Y2, &x1, &y1);
        dx[i] = samples[i].X1 - x1;
        dy[i] = samples[i].Y1 - y1;
        sumX += dx[i];
        sumY += dy[i];
      }
      // The sum of squares is one in X and one in Y: the clamped rounded mean is the best
      // whole shift within each range.
      const double ox = std::clamp(std::round(sumX / double(samples.size())),
                                   double(OffsetXSlider.Min), double(OffsetXSlider.Max));
      const double oy = std::clamp(std::round(sumY / double(samples.size())),
                                   double(OffsetYSlider.Min), double(OffsetYSlider.Max));
      if (!std::isfinite(ox) || !std::isfinite(oy)) continue;
      p.OffsetX = int(ox);
      p.OffsetY = int(oy);
      double sum = 0;
      for (std::size_t i = 0; i < samples.size(); ++i) {
        sum += (dx[i] - ox) * (dx[i] - ox) + (dy[i] - oy) * (dy[i] - oy);
      }
      const double residual = std::sqrt(sum / double(samples.size()));
      // Zoom steps a truncated size cannot tell apart map alike; of those the nearer step to
      // the fit's is taken.
      const double apart = std::abs(z - zoom) + std::abs(a - angle);
      if (!found || residual < best.Residual - 1e-9 ||
          (residual <= best.Residual + 1e-9 && apart < bestApart)) {
        best = {p, residual};
        bestApart = apart;
        found = true;
      }
    }
  }
  if (!found) return TAlignFailure::NoOverlap;
  *Out = best;
  return TAlignFailure::None;
}

std::string AlignFailureReason(const TAutoAlignResult& Result, const TAutoAlignOptions& Options) {
  const std::string matches = std::to_string(Result.Matches);
  switch (Result.Failure) {
    case TAlignFailure::None:
      return {};
    case TAlignFailure::TooFewMatches:
      return "only " + matches + " matches, at least " + std::to_string(Options.MinInliers) +
             " needed";
    case TAlignFailure::Inconsistent:
      return "only " + std::to_string(Result.Inliers) + " of " + matches +
             " matches consistent with one fit";
    case TAlignFailure::NoOverlap:
      return "the fit lays picture 2 beside picture 1";
    case TAlignFailure::ZoomOutside:
      return "the fit's zoom " + FormatFixed(Result.Fit.Scale(), 4) + " lies outside " +
             FormatFixed(MinPlacementZoom, 2) + ".." + FormatFixed(MaxPlacementZoom, 0);
    case TAlignFailure::TooLarge:
      return "picture 2 at the fit's zoom " + FormatFixed(Result.Fit.Scale(), 4) +
             " would be too large";
    case TAlignFailure::Failed:
      return "the computation failed (out of memory?)";
  }
  return {};
}

std::string AlignRefusalText(const TAutoAlignResult& Result, std::string_view DecimalSeparator,
                             const TAutoAlignOptions& Options) {
  const std::string matches = std::to_string(Result.Matches);
  const std::string zoom = FormatDecimal(Result.Fit.Scale(), 4, DecimalSeparator);
  std::string reason;
  switch (Result.Failure) {
    case TAlignFailure::None:
      return {};
    case TAlignFailure::TooFewMatches:
      reason = Tr(AlignTooFewMatchesText, matches, std::to_string(Options.MinInliers));
      break;
    case TAlignFailure::Inconsistent:
      reason = Tr(AlignInconsistentText, std::to_string(Result.Inliers), matches);
      break;
    case TAlignFailure::NoOverlap:
      reason = Tr(AlignNoOverlapText);
      break;
    case TAlignFailure::ZoomOutside:
      reason = Tr(AlignZoomOutsideText, zoom,
                  FormatDecimal(MinPlacementZoom, 2, DecimalSeparator) + " .. " +
                      FormatDecimal(MaxPlacementZoom, 0, DecimalSeparator));
      break;
    case TAlignFailure::TooLarge:
      reason = Tr(AlignTooLargeText, zoom);
      break;
    case TAlignFailure::Failed:
      reason = Tr(AlignFailedText);
      break;
  }
  return Tr(NoReliableAlignmentText) + "\n" + reason;
}

}  // namespace overlay
