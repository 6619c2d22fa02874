#include "overlay/assistent_logic.h"

namespace overlay {

TAssistentLogic::TAssistentLogic() {
  // The markers' places in the form (I1P1, I1P2, I2P1, I2P2); creation hides them at once, the
  // tops stay until a marker is placed.
  Markers = {TMarkerPos{34, 34}, TMarkerPos{34, 58}, TMarkerPos{34, 82}, TMarkerPos{26, 106}};
  for (int p = 0; p < 4; ++p) HideMarker(static_cast<TAssistentPoint>(p));
  Edits.fill(PointText(0, 0));
  X1[0] = -10000;
  X2[0] = -10000;
}

std::string TAssistentLogic::PointText(int X, int Y) {
  return std::to_string(X) + " x " + std::to_string(Y);
}

void TAssistentLogic::HideMarker(TAssistentPoint Point) {
  Markers[Point].Left = HiddenLeft;
}

void TAssistentLogic::PlaceMarker(TAssistentPoint Point, int X, int Y,
                                  const TMarkerGeometry& Geometry) {
  // Integer division as the form's "div": the marker's middle column lies on the pixel.
  Markers[Point].Left = Geometry.ImageLeft + X - Geometry.MarkerWidth / 2;
  Markers[Point].Top = Geometry.ImageTop + Y - Geometry.MarkerHeight / 2;
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

bool TAssistentLogic::Click(int X, int Y, int MarkerWidth, int MarkerHeight, int ImageLeft,
                            int ImageTop) {
  const TMarkerGeometry geometry{MarkerWidth, MarkerHeight, ImageLeft, ImageTop};
  // Point 2 is tested before point 1, so that one click makes one transition only.
  if (Step == 1 && PointState == 2) {
    X1[1] = X;
    Y1[1] = Y;
    PointState = 3;
    FPoint2Set[0] = true;
    PlaceMarker(apImage1Point2, X, Y, geometry);
    Edits[apImage1Point2] = PointText(X, Y);
    ButtonBackEnabled = false;
    ButtonForwEnabled = true;
    return true;
  }
  if (Step == 1 && PointState == 1) {
    X1[0] = X;
    Y1[0] = Y;
    PointState = 2;
    PlaceMarker(apImage1Point1, X, Y, geometry);
    Edits[apImage1Point1] = PointText(X, Y);
    return true;
  }
  if (Step == 2 && PointState == 2) {
    X2[1] = X;
    Y2[1] = Y;
    PointState = 3;
    FPoint2Set[1] = true;
    PlaceMarker(apImage2Point2, X, Y, geometry);
    Edits[apImage2Point2] = PointText(X, Y);
    ButtonBackEnabled = true;
    ButtonOkEnabled = true;
    return true;
  }
  if (Step == 2 && PointState == 1) {
    X2[0] = X;
    Y2[0] = Y;
    PointState = 2;
    PlaceMarker(apImage2Point1, X, Y, geometry);
    Edits[apImage2Point1] = PointText(X, Y);
    return true;
  }
  return false;
}

int TAssistentLogic::Forward(const TPictureLoader& Load, const TMarkerGeometry& Geometry) {
  if (Step != 1 || !ButtonForwEnabled) return 0;
  if (!Load || !Load(2, PathImage2)) return 0;
  Step = 2;
  PointState = 1;
  HideMarker(apImage1Point1);
  HideMarker(apImage1Point2);
  // The edits keep their texts; the stored points stay shown until they are replaced. A point
  // 2 not yet marked in this run has no marker (it would stand at the top-left pixel).
  if (X2[0] > 0) {
    PlaceMarker(apImage2Point1, X2[0], Y2[0], Geometry);
    if (FPoint2Set[1]) PlaceMarker(apImage2Point2, X2[1], Y2[1], Geometry);
  }
  ButtonBackEnabled = true;
  ButtonForwEnabled = false;
  return 2;
}

int TAssistentLogic::Back(const TPictureLoader& Load, const TMarkerGeometry& Geometry) {
  if (Step != 2 || !ButtonBackEnabled) return 0;
  if (!Load || !Load(1, PathImage1)) return 0;
  Step = 1;
  PointState = 1;
  HideMarker(apImage2Point1);
  HideMarker(apImage2Point2);
  if (X1[0] > 0) {
    PlaceMarker(apImage1Point1, X1[0], Y1[0], Geometry);
    if (FPoint2Set[0]) PlaceMarker(apImage1Point2, X1[1], Y1[1], Geometry);
  }
  ButtonBackEnabled = false;
  ButtonForwEnabled = true;
  return 1;
}

std::array<float, 8> TAssistentLogic::AlignPoints() const {
  return {static_cast<float>(X1[0]), static_cast<float>(Y1[0]), static_cast<float>(X2[0]),
          static_cast<float>(Y2[0]), static_cast<float>(X1[1]), static_cast<float>(Y1[1]),
          static_cast<float>(X2[1]), static_cast<float>(Y2[1])};
}

}  // namespace overlay
