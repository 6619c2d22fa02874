// The tools that take the view's mouse and keys, without a window: measuring (a point of the
// tool added, a finished measure's point dragged, deleted, a measure renamed), the swipe's line
// dragged, and the view panned by a drag or zoomed by the wheel. One tool at a time holds a drag
// (Active). Each change of the measures goes to Edited, which makes it a step of the history;
// a point's drag is one gesture of the history from press to release.
#pragma once

#include <functional>
#include <optional>
#include <string_view>

#include "controls/image_view.h"
#include "controls/range_bars.h"
#include "overlay/comparison/placement_history.h"
#include "overlay/scene/drawing_modes.h"
#include "overlay/scene/measure_edit.h"
#include "overlay/scene/view_input.h"
#include "platform/status.h"

namespace overlay {

// Where the measures lie on the view (picture 2's through Placement; Picture2 null while there
// is none; side by side, shifted into the right half unless the flicker shows whole pictures),
// and what the view shows for PictureShownAt.
TMeasureScreen MeasureScreenOf(raster::TImgView32& View, const TViewModes& Modes,
                               const TPrecisePlacement& Placement,
                               const raster::TBitmap32* Picture2);
TShownPictures ShownPicturesOf(raster::TImgView32& View, const TViewModes& Modes, int Alpha,
                               const TMeasureScreen& Screen, const TMeasureFrame& Frame);

// The tool that holds the mouse during a drag.
enum class TViewTool { None, MeasurePoint, SwipeLine, Pan };

class TViewTools {
 public:
  // All of these outlive the tools.
  TViewTools(raster::TImgView32& View, TMeasureEditor& Editor, TPlacementHistory& History,
             TViewModes& Modes)
      : FView(View), FEditor(Editor), FHistory(History), FModes(Modes) {}
  // Whether the tools act at all (both pictures loaded); where the measures lie on the view and
  // what it shows; the measures changed (a step of the history when Finished).
  std::function<bool()> Enabled;
  std::function<TMeasureScreen()> Screen;
  std::function<TShownPictures()> Shown;
  std::function<void(bool Finished)> Edited;

  TViewTool Active() const {
    return FMeasureDrag    ? TViewTool::MeasurePoint
           : FSwipeDrag    ? TViewTool::SwipeLine
           : FPan.Active() ? TViewTool::Pan
                           : TViewTool::None;
  }

  // The view's left button, given to the one tool it is for: a finished measure's point or the
  // measuring tool first, then the swipe's line while the swipe shows (the picture under it
  // stays), else the pan; the tool that took the press takes the moves until the release.
  // MouseDown is true when measuring took the press.
  bool MouseDown(raster::TPoint ControlPos);
  void MouseMove(raster::TShiftState Shift, raster::TPoint ControlPos);
  void MouseUp();

  // Measuring, in view (control) coordinates. A left press: on a finished measure's point
  // (nothing being drawn) it starts dragging that point; with a tool on it adds a point; false,
  // with nothing done, otherwise.
  bool MeasureMouseDown(raster::TPoint ControlPos);
  // The dragged point follows the mouse (true), or the measure being drawn previews its next
  // point; a move without the left button held ends a drag (its release went elsewhere).
  bool MeasureMouseMove(raster::TPoint ControlPos, bool LeftHeld);
  bool MeasureMouseUp();
  // Ends a point's drag and its gesture, on every way it can end.
  void EndMeasureDrag();
  // Enter or a double click; Escape; the Delete key on a point; the whole measure at the mouse.
  bool FinishMeasure();
  bool CancelMeasure();
  bool DeleteMeasurePoint(raster::TPoint ControlPos);
  bool DeleteMeasureAt(raster::TPoint ControlPos);
  std::optional<std::size_t> MeasureIndexAt(raster::TPoint ControlPos) const;
  platform::TStatus RenameMeasure(std::size_t Index, std::string_view Name);

  // While the swipe shows: the line to the picture-1 column under ControlPos.
  bool SwipeTo(raster::TPoint ControlPos);

  // The view's zoom bar one step per wheel notch, keeping the picture-1 point under the mouse.
  bool WheelZooms(raster::TPoint MousePos) const;
  bool WheelZoom(int AngleDelta, raster::TPoint MousePos, raster::TGaugeBar& ZoomBar);
  // A left-button drag scrolls the view so that the content follows the mouse.
  void BeginPan(raster::TPoint MousePos);
  void PanMove(raster::TShiftState Shift, raster::TPoint MousePos);
  void EndPan() { FPan.End(); }

 private:
  raster::TImgView32& FView;
  TMeasureEditor& FEditor;
  TPlacementHistory& FHistory;
  TViewModes& FModes;
  std::optional<TMeasureHandle> FMeasureDrag;  // the point a left drag moves
  bool FSwipeDrag = false;                     // a left drag moves the swipe's line
  TWheelNotches FWheel;
  TViewPan FPan;
};

}  // namespace overlay
