#include "overlay/align/marker.h"

#include <algorithm>
#include <cmath>
#include <opencv2/aruco.hpp>
#include <opencv2/calib3d.hpp>
#include <opencv2/imgproc.hpp>
#include <string>
#include <vector>

#include "overlay/align/auto_align_p.h"
#include "overlay/base/number_format.h"

namespace overlay {

namespace {

// Detection runs on a grey copy whose longest side is at most this: ArUco's thresholds and
// contours cost in proportion to the pixels, and a marker the scale can be taken from (at least
// MinMarkerSidePx wide in the picture) stays findable; its corners are then refined on the
// picture's own pixels.
constexpr int DetectionSide = 2400;
// The half side of the window each corner is refined in, in the picture's pixels.
constexpr int RefineHalf = 12;

double Side(const TMarkerPoint& A, const TMarkerPoint& B) {
  return std::hypot(A.X - B.X, A.Y - B.Y);
}

// The area of the corners' quadrilateral (shoelace).
double Area(const std::array<TMarkerPoint, 4>& C) {
  double twice = 0;
  for (std::size_t i = 0; i < 4; ++i) {
    const TMarkerPoint& a = C[i];
    const TMarkerPoint& b = C[(i + 1) % 4];
    twice += a.X * b.Y - b.X * a.Y;
  }
  return std::abs(twice) / 2;
}

// A grey window of the picture around (X, Y), for the corner's refinement: its pixels and where
// its top left lies in the picture.
cv::Mat GreyWindow(const raster::TBitmap32& Picture, int X, int Y, int Half, cv::Point* Origin) {
  const int x0 = std::clamp(X - Half, 0, Picture.Width() - 1);
  const int y0 = std::clamp(Y - Half, 0, Picture.Height() - 1);
  const int x1 = std::clamp(X + Half, 0, Picture.Width() - 1);
  const int y1 = std::clamp(Y + Half, 0, Picture.Height() - 1);
  const cv::Mat whole(Picture.Height(), Picture.Width(), CV_8UC4,
                      const_cast<raster::TColor32*>(Picture.Bits()));
  cv::Mat grey;
  cv::cvtColor(whole(cv::Rect(x0, y0, x1 - x0 + 1, y1 - y0 + 1)), grey, cv::COLOR_BGRA2GRAY);
  *Origin = {x0, y0};
  return grey;
}

// The marker plane's tilt against the picture's, from how the square is foreshortened about
// its middle: the homography's derivative there, whose singular values' ratio is the cosine of
// the tilt for a marker small against its distance (no focal length is needed). And how far a
// flat square seen by a camera with a centred lens of the picture's longer side as focal length
// misses the four corners.
void TiltAndResidual(const std::array<TMarkerPoint, 4>& Corners, int Width, int Height,
                     double* TiltDegrees, double* ResidualPx) {
  const double cx = (Width - 1) / 2.0, cy = (Height - 1) / 2.0;
  std::vector<cv::Point2f> square{{0, 0}, {1, 0}, {1, 1}, {0, 1}}, seen;
  for (const TMarkerPoint& p : Corners) seen.emplace_back(float(p.X - cx), float(p.Y - cy));
  const cv::Mat h = cv::getPerspectiveTransform(square, seen);
  const auto H = [&](int r, int c) { return h.at<double>(r, c); };
  // d(x, y) / d(u, v) at (u, v) = (0.5, 0.5).
  const double z = H(2, 0) * 0.5 + H(2, 1) * 0.5 + H(2, 2);
  const double x = (H(0, 0) * 0.5 + H(0, 1) * 0.5 + H(0, 2)) / z;
  const double y = (H(1, 0) * 0.5 + H(1, 1) * 0.5 + H(1, 2)) / z;
  const cv::Matx22d j((H(0, 0) - x * H(2, 0)) / z, (H(0, 1) - x * H(2, 1)) / z,
                      (H(1, 0) - y * H(2, 0)) / z, (H(1, 1) - y * H(2, 1)) / z);
  cv::Vec2d sigma;
  cv::SVD::compute(j, sigma, cv::SVD::NO_UV);
  *TiltDegrees = sigma[0] > 0 ? std::acos(std::min(1.0, sigma[1] / sigma[0])) * 180 / CV_PI : 90;

  const double f = std::max(Width, Height);
  cv::Vec3d r1(H(0, 0) / f, H(1, 0) / f, H(2, 0)), r2(H(0, 1) / f, H(1, 1) / f, H(2, 1));
  cv::Vec3d t(H(0, 2) / f, H(1, 2) / f, H(2, 2));
  const double scale = 2 / (cv::norm(r1) + cv::norm(r2));
  r1 *= scale;
  r2 *= scale;
  t *= scale;
  // The nearest pair of perpendicular unit axes: about the bisectors of the two.
  const cv::Vec3d a = cv::normalize(r1 + r2), b = cv::normalize(r1 - r2);
  r1 = (a + b) / std::sqrt(2.0);
  r2 = (a - b) / std::sqrt(2.0);
  double sum = 0;
  for (std::size_t i = 0; i < 4; ++i) {
    const cv::Vec3d p = r1 * square[i].x + r2 * square[i].y + t;
    const double px = f * p[0] / p[2], py = f * p[1] / p[2];
    sum += (px - seen[i].x) * (px - seen[i].x) + (py - seen[i].y) * (py - seen[i].y);
  }
  *ResidualPx = std::sqrt(sum / 4);
}

}  // namespace

double TMarkerSizes::Of(int Id) const {
  const auto found = ByIdMM.find(Id);
  return found != ByIdMM.end() ? found->second : DefaultMM;
}

platform::TResult<TMarkerCalibration> FindMarker(const raster::TBitmap32& Picture,
                                                 const TMarkerSizes& Sizes) {
  const int width = Picture.Width(), height = Picture.Height();
  if (width < 8 || height < 8) return platform::TStatus::Failure("the picture is too small");
  const double reduction = std::min(1.0, double(DetectionSide) / std::max(width, height));
  const int w = std::max(1, int(std::lround(width * reduction)));
  const int h = std::max(1, int(std::lround(height * reduction)));
  cv::Mat grey(h, w, CV_8UC1);
  ReduceToGrey(Picture, w, h, grey.data);

  const cv::Ptr<cv::aruco::Dictionary> dictionary =
      cv::aruco::getPredefinedDictionary(cv::aruco::DICT_4X4_50);
  const cv::Ptr<cv::aruco::DetectorParameters> parameters = cv::aruco::DetectorParameters::create();
  // The copy in a white frame: a marker that reaches the picture's edge is still found, to be
  // told as cut instead of as no marker at all (its corners there cannot be trusted).
  constexpr int Pad = 16;
  cv::Mat padded;
  cv::copyMakeBorder(grey, padded, Pad, Pad, Pad, Pad, cv::BORDER_CONSTANT, cv::Scalar(255));
  std::vector<std::vector<cv::Point2f>> found, rejected;
  std::vector<int> ids;
  cv::aruco::detectMarkers(padded, dictionary, found, ids, parameters, rejected);
  for (std::vector<cv::Point2f>& marker : found) {
    for (cv::Point2f& p : marker) p -= cv::Point2f(Pad, Pad);
  }
  // From the reduced copy to the picture's pixels (pixel centres at whole numbers).
  const double sx = double(width) / w, sy = double(height) / h;
  const auto toPicture = [&](const cv::Point2f& P) {
    return TMarkerPoint{(P.x + 0.5) * sx - 0.5, (P.y + 0.5) * sy - 0.5};
  };
  const auto atEdge = [&](const std::vector<cv::Point2f>& Candidate) {
    return std::any_of(Candidate.begin(), Candidate.end(), [&](const cv::Point2f& P) {
      return P.x < 2 || P.y < 2 || P.x > w - 3 || P.y > h - 3;
    });
  };
  // A marker at the edge: the picture may cut it, and its corners there are not the marker's.
  bool cut = false;
  for (std::size_t i = found.size(); i-- > 0;) {
    if (atEdge(found[i])) {
      cut = true;
      found.erase(found.begin() + std::ptrdiff_t(i));
      ids.erase(ids.begin() + std::ptrdiff_t(i));
    }
  }
  if (found.empty()) {
    return platform::TStatus::Failure(
        cut ? "the marker is cut by the picture's edge: all four corners must show"
            : "no marker (4x4, ids 0 to 49) in the picture");
  }
  std::size_t best = 0;
  for (std::size_t i = 1; i < found.size(); ++i) {
    if (cv::contourArea(found[i]) > cv::contourArea(found[best])) best = i;
  }
  TMarkerCalibration c;
  c.Id = ids[best];
  c.SizeMM = Sizes.Of(c.Id);
  for (std::size_t i = 0; i < 4; ++i) c.Corners[i] = toPicture(found[best][i]);

  const double smallest =
      std::min({Side(c.Corners[0], c.Corners[1]), Side(c.Corners[1], c.Corners[2]),
                Side(c.Corners[2], c.Corners[3]), Side(c.Corners[3], c.Corners[0])});
  if (smallest < MinMarkerSidePx) {
    return platform::TStatus::Failure("the marker is too small: a side of " +
                                      FormatFixed(smallest, 0) + " pixels, at least " +
                                      FormatFixed(MinMarkerSidePx, 0) + " are needed");
  }
  // Each corner again on the picture's own pixels, to a fraction of a pixel.
  const int half = std::clamp(int(smallest / 8), 3, RefineHalf);
  for (TMarkerPoint& corner : c.Corners) {
    cv::Point origin;
    const cv::Mat window = GreyWindow(Picture, int(std::lround(corner.X)),
                                      int(std::lround(corner.Y)), 2 * half, &origin);
    std::vector<cv::Point2f> point{
        cv::Point2f(float(corner.X - origin.x), float(corner.Y - origin.y))};
    if (window.cols > 2 * half + 2 && window.rows > 2 * half + 2) {
      cv::cornerSubPix(window, point, cv::Size(half, half), cv::Size(-1, -1),
                       cv::TermCriteria(cv::TermCriteria::EPS + cv::TermCriteria::COUNT, 40, 0.01));
      corner = {point[0].x + double(origin.x), point[0].y + double(origin.y)};
    }
  }
  TiltAndResidual(c.Corners, width, height, &c.TiltDegrees, &c.ResidualPx);
  if (c.TiltDegrees > MaxMarkerTilt) {
    return platform::TStatus::Failure("the marker is seen too obliquely: tilted " +
                                      FormatFixed(c.TiltDegrees, 0) + "°, at most " +
                                      FormatFixed(MaxMarkerTilt, 0) + "° can be straightened");
  }

  // The marker's plane straightened: the marker an upright square of the picture's resolution at
  // the marker (its area kept), the whole picture moved to begin at (0, 0).
  const double side = std::sqrt(Area(c.Corners));
  std::vector<cv::Point2f> seen,
      square{{0, 0}, {float(side), 0}, {float(side), float(side)}, {0, float(side)}};
  for (const TMarkerPoint& p : c.Corners) seen.emplace_back(float(p.X), float(p.Y));
  cv::Mat m = cv::getPerspectiveTransform(seen, square);
  std::vector<cv::Point2f> frame{
      {-0.5f, -0.5f}, {width - 0.5f, -0.5f}, {width - 0.5f, height - 0.5f}, {-0.5f, height - 0.5f}},
      framed;
  for (const cv::Point2f& p : frame) {
    const double z = m.at<double>(2, 0) * p.x + m.at<double>(2, 1) * p.y + m.at<double>(2, 2);
    if (z <= 1e-6) {
      return platform::TStatus::Failure(
          "the marker is seen too obliquely: straightened, the picture reaches its horizon");
    }
  }
  cv::perspectiveTransform(frame, framed, m);
  float left = framed[0].x, top = framed[0].y, right = left, bottom = top;
  for (const cv::Point2f& p : framed) {
    left = std::min(left, p.x);
    top = std::min(top, p.y);
    right = std::max(right, p.x);
    bottom = std::max(bottom, p.y);
  }
  const double area = double(right - left) * double(bottom - top);
  if (area > MaxStraightenedGrowth * double(width) * double(height)) {
    return platform::TStatus::Failure(
        "the marker is seen too obliquely: straightened, the picture would be " +
        FormatFixed(area / (double(width) * height), 1) + " times as large");
  }
  const cv::Mat shift =
      (cv::Mat_<double>(3, 3) << 1, 0, -(left + 0.5), 0, 1, -(top + 0.5), 0, 0, 1);
  m = shift * m;
  for (int i = 0; i < 9; ++i) c.Homography[std::size_t(i)] = m.at<double>(i / 3, i % 3);
  c.StraightenedWidth = int(std::ceil(right - left));
  c.StraightenedHeight = int(std::ceil(bottom - top));
  c.Pp100MM = side / c.SizeMM * 100;
  return c;
}

TMarkerPoint Straightened(const TMarkerCalibration& C, TMarkerPoint P) {
  const auto& h = C.Homography;
  const double z = h[6] * P.X + h[7] * P.Y + h[8];
  return {(h[0] * P.X + h[1] * P.Y + h[2]) / z, (h[3] * P.X + h[4] * P.Y + h[5]) / z};
}

platform::TResult<std::unique_ptr<raster::TBitmap32>> StraightenPicture(
    const raster::TBitmap32& Picture, const TMarkerCalibration& C) {
  auto out = std::make_unique<raster::TBitmap32>();
  if (C.StraightenedWidth <= 0 || C.StraightenedHeight <= 0 ||
      !out->SetSizeForOverwrite(C.StraightenedWidth, C.StraightenedHeight)) {
    return platform::TStatus::Failure("the straightened picture does not fit in memory");
  }
  // The stored picture as a four-channel OpenCV image over the same pixels, no copy.
  const cv::Mat source(Picture.Height(), Picture.Width(), CV_8UC4,
                       const_cast<raster::TColor32*>(Picture.Bits()));
  cv::Mat target(out->Height(), out->Width(), CV_8UC4, out->Bits());
  const cv::Mat m(3, 3, CV_64F, const_cast<double*>(C.Homography.data()));
  cv::warpPerspective(source, target, m, target.size(), cv::INTER_LINEAR, cv::BORDER_CONSTANT,
                      cv::Scalar(0, 0, 0, 0));
  return out;
}

}  // namespace overlay
