// The marker's scale on real photographs with a printed marker laid into them through a known
// camera: a length elsewhere on the marker's plane, measured in the straightened picture, against
// its true millimetres; and the refusals.
#include "overlay/align/marker.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <opencv2/aruco.hpp>
#include <opencv2/imgproc.hpp>
#include <string>
#include <vector>

#include "overlay/decode/picture_import.h"
#include "overlay/programs/calibrate_command.h"
#include "overlay/programs/picture_files.h"
#include "tests/support/temp_folder.h"

namespace {

using overlay::TMarkerPoint;

constexpr double MarkerMM = 20;
constexpr double TexturePerMM = 20;  // the printed sheet's pixels per millimetre

// A camera looking at the sheet's plane (millimetres, the marker's top left at the origin) from
// DistanceMM, turned by TiltDegrees about the plane's horizontal axis and by SpinDegrees within
// it, the plane's point (CentreX, CentreY) at picture pixel (AtX, AtY); focal length F pixels.
struct TCamera {
  double F = 3000, TiltDegrees = 0, SpinDegrees = 0, DistanceMM = 400;
  double AtX = 1000, AtY = 700;
  cv::Matx33d PlaneToPicture() const {
    const double t = TiltDegrees * CV_PI / 180, s = SpinDegrees * CV_PI / 180;
    const cv::Matx33d spin(std::cos(s), -std::sin(s), 0, std::sin(s), std::cos(s), 0, 0, 0, 1);
    const cv::Matx33d tilt(1, 0, 0, 0, std::cos(t), -std::sin(t), 0, std::sin(t), std::cos(t));
    const cv::Matx33d r = tilt * spin;
    // Columns r1, r2 and the marker's centre at the distance on the optical axis.
    const cv::Vec3d centre(0, 0, DistanceMM);
    const cv::Vec3d toCentre = centre - r * cv::Vec3d(MarkerMM / 2, MarkerMM / 2, 0);
    const cv::Matx33d rt(r(0, 0), r(0, 1), toCentre[0], r(1, 0), r(1, 1), toCentre[1], r(2, 0),
                         r(2, 1), toCentre[2]);
    const cv::Matx33d k(F, 0, AtX, 0, F, AtY, 0, 0, 1);
    return k * rt;
  }
  TMarkerPoint Project(double X, double Y) const {
    const cv::Vec3d p = PlaneToPicture() * cv::Vec3d(X, Y, 1);
    return {p[0] / p[2], p[1] / p[2]};
  }
};

std::unique_ptr<raster::TBitmap32> Photo() {
  overlay::TPictureResult loaded =
      overlay::LoadPicture(std::string(TESSALY_TESTDATA) + "/photos-large/NT96650_pcb_002.JPG");
  EXPECT_TRUE(loaded) << loaded.Reason();
  return loaded ? std::move(loaded).Value() : nullptr;
}

// The printed sheet (white, the marker with id 7, a 5 mm white margin) laid into the photo
// through the camera, bilinearly, as a lens draws it.
void LayMarker(raster::TBitmap32& Picture, const TCamera& Camera, int Id = 7) {
  const int marker = int(MarkerMM * TexturePerMM), margin = int(5 * TexturePerMM);
  cv::Mat sheet(marker + 2 * margin, marker + 2 * margin, CV_8UC1, cv::Scalar(255)), drawn;
  cv::aruco::drawMarker(cv::aruco::getPredefinedDictionary(cv::aruco::DICT_4X4_50), Id, marker,
                        drawn, 1);
  drawn.copyTo(sheet(cv::Rect(margin, margin, marker, marker)));
  cv::Mat sheetBgra;
  cv::cvtColor(sheet, sheetBgra, cv::COLOR_GRAY2BGRA);
  // Sheet pixel centre (i, j) is plane point ((i + 0.5) / TexturePerMM - 5, ...).
  const cv::Matx33d sheetToPlane(1 / TexturePerMM, 0, 0.5 / TexturePerMM - 5, 0, 1 / TexturePerMM,
                                 0.5 / TexturePerMM - 5, 0, 0, 1);
  const cv::Matx33d m = Camera.PlaneToPicture() * sheetToPlane;
  cv::Mat photo(Picture.Height(), Picture.Width(), CV_8UC4, Picture.Bits());
  cv::Mat laid, mask;
  cv::warpPerspective(sheetBgra, laid, cv::Mat(m), photo.size(), cv::INTER_AREA);
  cv::warpPerspective(cv::Mat(sheet.size(), CV_8UC1, cv::Scalar(255)), mask, cv::Mat(m),
                      photo.size(), cv::INTER_AREA);
  laid.copyTo(photo, mask > 128);
}

double Millimetres(const overlay::TMarkerCalibration& C, TMarkerPoint A, TMarkerPoint B) {
  const TMarkerPoint a = overlay::Straightened(C, A), b = overlay::Straightened(C, B);
  return std::hypot(a.X - b.X, a.Y - b.Y) / C.Pp100MM * 100;
}

TEST(Marker, ALengthOnItsPlaneMeasuresTrueInTheStraightenedPicture) {
  struct TCase {
    double Tilt, Spin, Distance;
  };
  // Markers of about 300, 150 and 75 pixels, head-on to 35 degrees, turned in the plane.
  for (const TCase& k : {TCase{0, 0, 200}, TCase{15, 10, 400}, TCase{25, -30, 400},
                         TCase{35, 5, 400}, TCase{35, 40, 800}, TCase{20, 0, 800}}) {
    SCOPED_TRACE("tilt " + std::to_string(k.Tilt) + ", distance " + std::to_string(k.Distance));
    const std::unique_ptr<raster::TBitmap32> picture = Photo();
    ASSERT_NE(picture, nullptr);
    TCamera camera;
    camera.TiltDegrees = k.Tilt;
    camera.SpinDegrees = k.Spin;
    camera.DistanceMM = k.Distance;
    LayMarker(*picture, camera);
    const platform::TResult<overlay::TMarkerCalibration> found =
        overlay::FindMarker(*picture, {MarkerMM, {}});
    ASSERT_TRUE(found) << found.Reason();
    const overlay::TMarkerCalibration& c = found.Value();
    EXPECT_EQ(c.Id, 7);
    EXPECT_NEAR(c.TiltDegrees, k.Tilt, 3);
    // 100 mm across the plane beside the marker, and 60 mm down it.
    EXPECT_NEAR(Millimetres(c, camera.Project(-40, 10), camera.Project(60, 10)), 100, 1.0);
    EXPECT_NEAR(Millimetres(c, camera.Project(30, -20), camera.Project(30, 40)), 60, 0.6);
    // The marker's own corners are an upright square of its size in the straightened picture.
    EXPECT_NEAR(Millimetres(c, c.Corners[0], c.Corners[2]), MarkerMM * std::sqrt(2.0), 0.1);
  }
}

TEST(Marker, ApictureWithoutAUsableMarkerIsRefusedSayingWhy) {
  struct TCase {
    const char* Name;
    bool Lay;
    TCamera Camera;
    const char* Says;
  };
  TCamera small, oblique, cut;
  small.DistanceMM = 2400;  // a marker of about 25 pixels
  oblique.TiltDegrees = 68;
  oblique.DistanceMM = 150;
  cut.AtX = 75;  // the marker's left side on the picture's left edge
  for (const TCase& k :
       {TCase{"none", false, {}, "no marker"}, TCase{"small", true, small, "too small"},
        TCase{"oblique", true, oblique, "too obliquely"},
        TCase{"cut", true, cut, "cut by the picture's edge"}}) {
    SCOPED_TRACE(k.Name);
    const std::unique_ptr<raster::TBitmap32> picture = Photo();
    ASSERT_NE(picture, nullptr);
    if (k.Lay) LayMarker(*picture, k.Camera);
    const platform::TResult<overlay::TMarkerCalibration> found = overlay::FindMarker(*picture);
    ASSERT_FALSE(found);
    EXPECT_NE(found.Reason().find(k.Says), std::string::npos) << found.Reason();
  }
}

// tessaly-calibrate on a photograph with a marker: the JSON the scripts read, the
// straightened picture written 0600 at the size it names, and its refusals' statuses.
TEST(Marker, TheCalibrateToolPrintsTheScaleAndWritesTheStraightenedPicture) {
  const testsupport::TTempFolder folder("tessaly_calibrate");
  const std::unique_ptr<raster::TBitmap32> picture = Photo();
  ASSERT_NE(picture, nullptr);
  TCamera camera;
  camera.TiltDegrees = 25;
  LayMarker(*picture, camera, 12);
  const std::string photo = folder / "marker.png", straight = folder / "straight.png";
  ASSERT_TRUE(overlay::WritePngAtomically(*picture, photo));
  const overlay::TMarkerCalibration expected = overlay::FindMarker(*picture, {15, {}}).Value();

  std::ostringstream out, err;
  ASSERT_EQ(overlay::RunCalibrateCommand(
                {"--json", "--marker-mm", "15", "--straighten", straight, photo}, out, err),
            0)
      << err.str();
  const std::string json = out.str();
  for (const std::string& part : std::vector<std::string>{
           "\"source\": \"marker\"", "\"dictionary\": \"DICT_4X4_50\", \"id\": 12",
           "\"size_mm\": 15",
           "\"straightened_size\": [" + std::to_string(expected.StraightenedWidth) + ", " +
               std::to_string(expected.StraightenedHeight) + "]"}) {
    EXPECT_NE(json.find(part), std::string::npos) << part << " in " << json;
  }
  EXPECT_NEAR(std::stod(json.substr(json.find("\"pp100mm\": ") + 11)), expected.Pp100MM, 1e-9);
  struct stat written {};
  ASSERT_EQ(::stat(straight.c_str(), &written), 0);
  EXPECT_EQ(written.st_mode & 0777, 0600u);
  overlay::TPictureResult back = overlay::LoadPicture(straight);
  ASSERT_TRUE(back) << back.Reason();
  EXPECT_EQ(back.Value()->Width(), expected.StraightenedWidth);
  EXPECT_EQ(back.Value()->Height(), expected.StraightenedHeight);

  // No marker: status 1 and why; a marker size that is no length: status 2; the photo as its
  // own straightened output: refused before anything is read.
  const std::string plain = std::string(TESSALY_TESTDATA) + "/photos-large/NT96650_pcb_002.JPG";
  std::ostringstream o1, e1, o2, e2, o3, e3;
  EXPECT_EQ(overlay::RunCalibrateCommand({plain}, o1, e1), 1);
  EXPECT_NE(e1.str().find("no marker"), std::string::npos) << e1.str();
  EXPECT_EQ(overlay::RunCalibrateCommand({"--marker-mm", "0", photo}, o2, e2), 2);
  EXPECT_EQ(overlay::RunCalibrateCommand({"--straighten", photo, photo}, o3, e3), 1);
  EXPECT_NE(e3.str().find("one of the input pictures"), std::string::npos) << e3.str();
}

// The shipped sheet, printed at 300 dots per inch as a printer at 100 % prints it: a 20 mm
// marker gives 300 / 25.4 pixels per millimetre.
TEST(Marker, TheShippedSheetPrintedAtActualSizeGivesItsPrintersScale) {
  const testsupport::TTempFolder folder("tessaly_marker_sheet");
  const std::string printed = folder / "sheet.png";
  const std::string command = "rsvg-convert -d 300 -p 300 -o '" + printed + "' '" +
                              TESSALY_SOURCE_DIR "/data/markers/tessaly-markers.svg'";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  overlay::TPictureResult sheet = overlay::LoadPicture(printed);
  ASSERT_TRUE(sheet) << sheet.Reason();
  const platform::TResult<overlay::TMarkerCalibration> found = overlay::FindMarker(*sheet.Value());
  ASSERT_TRUE(found) << found.Reason();
  EXPECT_LE(found.Value().Id, 5);  // one of the 20 mm markers, the largest
  EXPECT_NEAR(found.Value().Pp100MM, 300 / 25.4 * 100, 300 / 25.4 * 100 * 0.002);
}

}  // namespace
