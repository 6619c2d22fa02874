// Drawing and editing the measures of a comparison, without a window: a ruler or an outline
// started with a tool, its points added by clicks, the one being drawn finished or cancelled,
// and the finished ones' points found under the mouse, dragged and deleted. Also where the
// measures lie on screen, and which picture a new measure belongs to: the one the view shows
// where it is drawn.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "overlay/base/texts.h"
#include "overlay/comparison/measure.h"
#include "overlay/scene/view_status.h"

namespace overlay {

enum class TMeasureTool { None, Ruler, Outline };

// How the pictures' coordinates lie on the view's screen: picture-1 point (X, Y) at
// (Left + X * ScaleX, Top + Y * ScaleY); picture 2's point first onto picture 1 through the
// placement the view shows (Two). Side by side shows picture 2 half a viewport to the right
// (SideShift screen pixels), and its measures with it.
struct TMeasureScreen {
  double ScaleX = 1, ScaleY = 1;
  double Left = 0, Top = 0;
  double SideShift = 0;
  TPictureTwoMapping Two;
  // Picture Picture's own point P on the screen, and back.
  TMeasurePoint ToScreen(int Picture, TMeasurePoint P) const;
  TMeasurePoint FromScreen(int Picture, TMeasurePoint S) const;
};

// What the view draws, as far as it decides which picture shows at a point.
struct TShownPictures {
  TViewMode Mode = TViewMode::Blend;  // Flicker while the flicker runs
  bool FlickerOverlay = false;        // the flicker shows picture 2 now
  int Alpha = 255;                    // picture 2's opacity in the blend (0..255)
  double SwipeLine = 0;               // picture-1 column where the swipe's picture 2 begins
  int CheckerSquare = 64;             // screen pixels
  double SideSplit = 0;               // screen column where the side by side's right half begins
  TMeasureScreen Screen;
  TMeasureFrame Frame;  // picture 2's place and size: where it is not, picture 1 shows
};

// The picture a measure started at screen point At belongs to: 2 where the view shows picture
// 2 there (the flicker showing it, right of the swipe's line, on its squares of the
// checkerboard, in the right half side by side, or in the blend at full opacity), else 1. The
// difference shows neither alone and counts as picture 1.
int PictureShownAt(const TShownPictures& View, TMeasurePoint At);

enum class TRename { Renamed, Unchanged, Empty, Taken, NoMeasure };

// A point of a finished measure.
struct TMeasureHandle {
  std::size_t Measure = 0, Point = 0;
  friend bool operator==(const TMeasureHandle&, const TMeasureHandle&) = default;
};

class TMeasureEditor {
 public:
  // Screen pixels within which a click or the mouse is taken to be on a point.
  static constexpr double Tolerance = 6;

  TMeasureTool Tool() const { return FTool; }
  // Another tool (or none) drops the measure being drawn.
  void SetTool(TMeasureTool Tool);
  const std::vector<TMeasure>& Measures() const { return FMeasures; }
  // Unnamed ones take their default names (NameUnnamed).
  void SetMeasures(std::vector<TMeasure> Measures);
  // The measure being drawn, not yet one of Measures.
  const std::optional<TMeasure>& Drawing() const { return FDrawing; }
  // Where the mouse is while a measure is drawn: the next point, as the view previews it.
  const std::optional<TMeasurePoint>& Hover() const { return FHover; }
  void SetHover(std::optional<TMeasurePoint> P) { FHover = P; }

  // A click with the tool on at picture-1 point P (screen point S), while a measure on Picture
  // is begun there: the first point starts a measure; a ruler ends at its second; an outline
  // takes more points and closes on a click near its first point. A click on the last point
  // again adds nothing. True when Measures changed (a measure was finished).
  bool Click(TMeasurePoint P, int Picture, const TMeasureScreen& Screen);
  // Enter or a double click: the outline being drawn closes, when it has three points.
  bool Finish();
  // Escape: the measure being drawn goes; when none is, the tool goes off. False when neither.
  bool Cancel();

  // The finished measure's point nearest to screen point S within Tolerance.
  std::optional<TMeasureHandle> HandleAt(const TMeasureScreen& Screen, TMeasurePoint S) const;
  // The finished measure under S: a point of it, or one of its lines, within Tolerance.
  std::optional<std::size_t> MeasureAt(const TMeasureScreen& Screen, TMeasurePoint S) const;
  // The point moves to picture-1 point P.
  bool MovePoint(TMeasureHandle Handle, TMeasurePoint P);
  // The point goes; an outline keeps at least three points, else it goes whole, and so does a
  // ruler.
  bool DeletePoint(TMeasureHandle Handle);
  bool DeleteMeasure(std::size_t Index);
  // Measure Index takes Name (cleaned); refused when that is empty or another measure of its
  // picture has it.
  TRename Rename(std::size_t Index, std::string_view Name);

  // What the status bar tells while a tool is on (nothing without one).
  const TText* Hint() const;

 private:
  TMeasureTool FTool = TMeasureTool::None;
  std::vector<TMeasure> FMeasures;
  std::optional<TMeasure> FDrawing;
  std::optional<TMeasurePoint> FHover;
};

}  // namespace overlay
