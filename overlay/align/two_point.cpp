#include "overlay/align/two_point.h"

#include <cmath>
#include <numbers>

namespace overlay {

std::optional<TPrecisePlacement> TwoPointPlacement(raster::TFloatPoint A1, raster::TFloatPoint B1,
                                                   raster::TFloatPoint A2, raster::TFloatPoint B2,
                                                   int Width2, int Height2) {
  // Intermediate results in double; every named value is stored as a float.
  const auto distance = [](raster::TFloatPoint P, raster::TFloatPoint Q) {
    return float(std::sqrt((double(P.X) - Q.X) * (double(P.X) - Q.X) +
                           (double(P.Y) - Q.Y) * (double(P.Y) - Q.Y)));
  };
  const float d1 = distance(A1, A2);
  const float d2 = distance(B1, B2);
  if (!(d1 > 0) || !(d2 > 0)) return std::nullopt;
  const float r = float(double(d1) / double(d2));
  if (!std::isfinite(r) || !(r > 0)) return std::nullopt;

  // Directions from point 2 to point 1; a vertical one is a right angle without atan2. The
  // float nearest 1.5707963 lies below pi / 2, which would turn a vertical pair by
  // -89.99999 degrees and leave the angle slider truncated at -89; the float nearest pi / 2
  // gives the right angle itself.
  constexpr float halfPi = std::numbers::pi_v<float> / 2;
  const auto direction = [](raster::TFloatPoint P, raster::TFloatPoint Q) {
    const double dx = double(P.X) - Q.X, dy = double(P.Y) - Q.Y;
    if (dx == 0) return dy > 0 ? halfPi : -halfPi;
    return float(std::atan2(dy, dx));
  };
  const float alpha1 = direction(A1, A2);
  const float alpha2 = direction(B1, B2);
  constexpr double pi = std::numbers::pi;
  float phi = float(double(alpha2) - alpha1);
  if (phi < -pi) phi = float(phi + 2 * pi);  // nothing is folded above pi

  // The turn folded into -180..180 degrees, as the angle slider holds it.
  double degrees = double(phi) * 180 / pi;
  if (degrees > 180) degrees -= 360;
  if (degrees < -180) degrees += 360;
  return PlacementThrough(degrees, r, Width2, Height2, A2, B2);
}

}  // namespace overlay
