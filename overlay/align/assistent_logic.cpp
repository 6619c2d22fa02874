#include "overlay/align/assistent_logic.h"

#include <cstdio>

namespace overlay {

namespace {

// A coordinate with two decimals at most and no trailing zeros: whole pixels read as before.
std::string CoordinateText(double V) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", V + 0.0);
  std::string s = text;
  while (s.back() == '0') s.pop_back();
  if (s.back() == '.') s.pop_back();
  return s == "-0" ? "0" : s;
}

}  // namespace

TAssistentLogic::TAssistentLogic() {
  Edits.fill(PointText(0, 0));
  X1[0] = -10000;
  X2[0] = -10000;
}

std::string TAssistentLogic::PointText(double X, double Y) {
  return CoordinateText(X) + " x " + CoordinateText(Y);
}

void TAssistentLogic::HideMarker(TAssistentPoint Point) {
  Markers[Point].Shown = false;
}

void TAssistentLogic::PlaceMarker(TAssistentPoint Point, double X, double Y) {
  Markers[Point] = {X, Y, true};
}

int TAssistentLogic::StartRun(const TPictureLoader& Load) {
  // Whatever the previous run left enabled must not reach into this one.
  ButtonBackEnabled = false;
  ButtonForwEnabled = false;
  ButtonOkEnabled = false;
  if (!Load || !Load(1, PathImage1)) {
    Step = 0;
    return 0;
  }
  for (int p = 0; p < 4; ++p) HideMarker(static_cast<TAssistentPoint>(p));
  // No point of an earlier run survives: the edits say "0 x 0", and so do the points.
  X1[0] = UnsetMark;
  X2[0] = UnsetMark;
  Y1[0] = Y2[0] = X1[1] = Y1[1] = X2[1] = Y2[1] = 0;
  FPoint2Set[0] = FPoint2Set[1] = false;
  Edits.fill(PointText(0, 0));
  PointState = 1;
  Step = 1;
  return 1;
}

namespace {
// The mark and edit of point Point (0 or 1) in picture Picture (1 or 2).
TAssistentPoint PointOf(int Picture, int Point) {
  return TAssistentPoint((Picture - 1) * 2 + Point);
}
}  // namespace

bool TAssistentLogic::Click(double X, double Y) {
  // No run, or both points of the picture set: the click is ignored. Otherwise one click sets
  // exactly the point PointState asks for.
  if ((Step != 1 && Step != 2) || (PointState != 1 && PointState != 2)) return false;
  const int point = PointState - 1;
  double* xs = Step == 1 ? X1 : X2;
  double* ys = Step == 1 ? Y1 : Y2;
  xs[point] = X;
  ys[point] = Y;
  const TAssistentPoint marker = PointOf(Step, point);
  PlaceMarker(marker, X, Y);
  Edits[marker] = PointText(X, Y);
  PointState = point + 2;
  if (point == 1) {
    FPoint2Set[Step - 1] = true;
    if (Step == 1) {  // picture 1 complete: on to picture 2
      ButtonBackEnabled = false;
      ButtonForwEnabled = true;
    } else {  // picture 2 complete: back, or finish
      ButtonBackEnabled = true;
      ButtonOkEnabled = true;
    }
  }
  return true;
}

int TAssistentLogic::Forward(const TPictureLoader& Load) {
  return SwitchTo(2, Load);
}

int TAssistentLogic::Back(const TPictureLoader& Load) {
  return SwitchTo(1, Load);
}

int TAssistentLogic::SwitchTo(int To, const TPictureLoader& Load) {
  const int from = 3 - To;
  if (Step != from || !(To == 2 ? ButtonForwEnabled : ButtonBackEnabled)) return 0;
  if (!Load || !Load(To, To == 1 ? PathImage1 : PathImage2)) return 0;
  Step = To;
  PointState = 1;
  HideMarker(PointOf(from, 0));
  HideMarker(PointOf(from, 1));
  // The edits keep their texts; the stored points stay shown until they are replaced. A point
  // 2 not yet marked in this run has no mark (it would stand at the top-left pixel).
  const double* xs = To == 1 ? X1 : X2;
  const double* ys = To == 1 ? Y1 : Y2;
  if (xs[0] > 0) {
    PlaceMarker(PointOf(To, 0), xs[0], ys[0]);
    if (FPoint2Set[To - 1]) PlaceMarker(PointOf(To, 1), xs[1], ys[1]);
  }
  ButtonBackEnabled = To == 2;
  ButtonForwEnabled = To == 1;
  return To;
}

std::array<float, 8> TAssistentLogic::AlignPoints() const {
  return {static_cast<float>(X1[0]), static_cast<float>(Y1[0]), static_cast<float>(X2[0]),
          static_cast<float>(Y2[0]), static_cast<float>(X1[1]), static_cast<float>(Y1[1]),
          static_cast<float>(X2[1]), static_cast<float>(Y2[1])};
}

}  // namespace overlay
