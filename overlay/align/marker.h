// A picture's scale from a printed square marker in it: the marker found (OpenCV's ArUco module,
// the 4x4 dictionary of 50 markers, any id), its corners refined to a fraction of a pixel on the
// picture's own pixels, and the homography that straightens the marker's plane to a uniform
// scale equal to the picture's resolution at the marker. No window and no Qt: the window, the
// tools and the launcher call the same code.
//
// Coordinates are pixel positions with the centre of pixel (i, j) at (i, j).
#pragma once

#include <array>
#include <map>
#include <memory>

#include "platform/status.h"
#include "raster/core.h"

namespace overlay {

// The printed side lengths (outer black edge to edge) in millimetres: one for every id, and
// where given, one per id.
struct TMarkerSizes {
  double DefaultMM = 20;
  std::map<int, double> ByIdMM;
  double Of(int Id) const;
};

struct TMarkerPoint {
  double X = 0, Y = 0;
};

struct TMarkerCalibration {
  int Id = -1;
  double SizeMM = 0;
  // In the dictionary's order (the marker's top left, top right, bottom right, bottom left), in
  // the picture's stored pixels.
  std::array<TMarkerPoint, 4> Corners{};
  // Pixels per 100 mm in the straightened picture (the marker's side there, per 100 mm).
  double Pp100MM = 0;
  // The angle between the marker's plane and the picture's (0: photographed head-on).
  double TiltDegrees = 0;
  // Row-major, a stored pixel (x, y, 1) to the straightened picture's pixel (homogeneous).
  std::array<double, 9> Homography{};
  int StraightenedWidth = 0, StraightenedHeight = 0;
  // How far, in pixels, a flat square seen by a camera with a centred lens (focal length the
  // picture's longer side) misses the four corners found (root mean square): large for corners
  // a flat square cannot give.
  double ResidualPx = 0;
};

// Limits of a marker the scale is taken from.
constexpr double MinMarkerSidePx = 30;  // a smaller one's corners are too uncertain
constexpr double MaxMarkerTilt = 60;    // beyond it the straightened picture is too stretched
// The straightened picture holds at most this many times the picture's pixels.
constexpr double MaxStraightenedGrowth = 4;

// The first marker of the picture (the largest, where several are seen), or the reason none can
// give the scale: none seen, one cut by the picture's edge, too small, too oblique.
platform::TResult<TMarkerCalibration> FindMarker(const raster::TBitmap32& Picture,
                                                 const TMarkerSizes& Sizes = {});

// Where a stored pixel lands in the straightened picture.
TMarkerPoint Straightened(const TMarkerCalibration& Calibration, TMarkerPoint Stored);

// The picture straightened: each pixel taken from the stored picture through the inverse
// homography, bilinearly; outside the stored picture, transparent black.
platform::TResult<std::unique_ptr<raster::TBitmap32>> StraightenPicture(
    const raster::TBitmap32& Picture, const TMarkerCalibration& Calibration);

}  // namespace overlay
