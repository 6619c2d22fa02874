// The two-point positioning assistant's state without a window: which picture is shown, which
// point the next click sets, the stored points, which of the four marks are shown and where,
// the four edits' texts and which of the three buttons may be pressed. TFormAssistent mirrors it
// into its controls after each handler.
#pragma once

#include <array>
#include <functional>
#include <string>

namespace overlay {

// Indices of the marks and of the edits that show the same point.
enum TAssistentPoint {
  apImage1Point1 = 0,
  apImage1Point2 = 1,
  apImage2Point1 = 2,
  apImage2Point2 = 3
};

// A mark in picture coordinates: on the point's pixel centre, (X + 0.5, Y + 0.5) in the view's
// continuous coordinates.
struct TMarkerPos {
  double X = 0;
  double Y = 0;
  bool Shown = false;
  friend bool operator==(const TMarkerPos&, const TMarkerPos&) = default;
};

class TAssistentLogic {
 public:
  // X1[0] / X2[0] above 0 mark point 1 of that picture as set; a run starts below it. A point
  // 1 in column 0 (or left of pixel 0's centre) is stored and aligned, but counts as unset for
  // its marks when the picture is shown again.
  static constexpr double UnsetMark = -100;

  // Loads picture 1 or 2 (from PathImage1 / PathImage2) into the picture control and returns
  // whether it could; on false the control must keep what it showed.
  using TPictureLoader = std::function<bool(int Picture, const std::string& Path)>;

  TAssistentLogic();

  // The start of a run (the start timer). All three buttons are disabled first. Then picture 1
  // is loaded; only when that succeeds are the marks hidden, the points unset (zero, point 1's
  // x at UnsetMark), the edits "0 x 0" and the state (1, 1). When it fails no run starts: Step 0
  // (clicks ignored) with the buttons disabled, so a previous run's points can never be aligned
  // again; everything else stays.
  // Returns the picture now shown (1) or 0.
  int StartRun(const TPictureLoader& Load);

  // A click of any mouse button naming picture point (X, Y) (whole, or to 1/100 pixel when
  // zoomed in). Returns whether the click set a point.
  bool Click(double X, double Y);

  // "Weiter >>" (only in step 1, only while enabled) and "<< Zurück" (only in step 2, only while
  // enabled). The other picture is loaded first; when it cannot be, nothing changes. Returns the
  // picture now shown (2 or 1), or 0 when nothing changed.
  int Forward(const TPictureLoader& Load);
  int Back(const TPictureLoader& Load);

  // What "Fertig" hands to the alignment, in its order: point 1 in picture 1, point 1 in
  // picture 2, point 2 in picture 1, point 2 in picture 2.
  std::array<float, 8> AlignPoints() const;

  std::string PathImage1;
  std::string PathImage2;
  int Step = 0;
  int PointState = 1;
  double X1[2] = {0, 0};
  double Y1[2] = {0, 0};
  double X2[2] = {0, 0};
  double Y2[2] = {0, 0};

  std::array<TMarkerPos, 4> Markers;  // by TAssistentPoint
  std::array<std::string, 4> Edits;   // by TAssistentPoint
  bool ButtonBackEnabled = false;
  bool ButtonForwEnabled = false;
  bool ButtonOkEnabled = false;

  bool MarkerHidden(TAssistentPoint Point) const { return !Markers[Point].Shown; }

  // "120 x 45" for X 120, Y 45; fractions with two decimals at most, "120.25 x 45.5".
  static std::string PointText(double X, double Y);

 private:
  // Forward (To 2) and Back (To 1): from the other picture to picture To.
  int SwitchTo(int To, const TPictureLoader& Load);
  void HideMarker(TAssistentPoint Point);
  void PlaceMarker(TAssistentPoint Point, double X, double Y);

  // Whether point 2 of picture 1 / picture 2 has been marked in this run.
  bool FPoint2Set[2] = {false, false};
};

}  // namespace overlay
