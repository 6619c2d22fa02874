// The main window's picture view and its input: a press, drag and release on the view (a
// measure's point first, then the swipe's line, then the pan), the mouse's place for the status
// bar and the menu, a double click (closing an outline, or renaming a measure), the wheel's zoom,
// and the keys of the measures and the nudging keys, wherever in the window they are pressed.
#pragma once

#include <QObject>
#include <functional>
#include <optional>

#include "overlay/scene/main_controller.h"

class QKeyEvent;
class QWheelEvent;
class QWidget;

namespace overlay {

struct TViewEventsWiring {
  std::function<void()> ShowStatus;       // the mouse moved, or a measure changed
  std::function<void()> ShowMeasureTool;  // a key finished, cancelled or thinned a measure
};

class TViewEvents : public QObject {
 public:
  TViewEvents(QWidget& View, TMainController& Controller, TViewEventsWiring Wiring);

  // Enter, Escape and Delete for the measures, else a nudging key; false when the key was not
  // for the view.
  bool Key(const QKeyEvent& Event);
  // Where the mouse was last seen over the view; where the delete and rename entries act.
  const std::optional<raster::TPoint>& MouseOverView() const { return FMouseOverView; }
  std::optional<raster::TPoint> MeasureAt() const { return FMenuAt ? FMenuAt : FMouseOverView; }
  // The rename dialog for the finished measure at At (control coordinates); false when there
  // is none.
  bool RenameMeasureAt(raster::TPoint At);

 protected:
  bool eventFilter(QObject* Watched, QEvent* Event) override;

 private:
  bool NudgeFromKey(const QKeyEvent& Event);
  bool MeasureFromKey(const QKeyEvent& Event);
  bool ZoomFromWheel(const QWheelEvent& Event);

  QWidget& FView;
  TMainController& FController;
  TViewEventsWiring FWiring;
  std::optional<raster::TPoint> FMenuAt;  // where the view's menu was asked for
  std::optional<raster::TPoint> FMouseOverView;
};

}  // namespace overlay
