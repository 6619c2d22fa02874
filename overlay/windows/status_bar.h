// The main window's status bar between the picture panel and the name panel: the pixel under the
// mouse (in millimetres where the scale is known) on the left; the way of drawing, or what a
// measuring tool expects next; and at the right end whether the comparison is saved.
#pragma once

#include <optional>

#include "overlay/comparison/record_session.h"
#include "overlay/scene/main_controller.h"
#include "overlay/windows/window_layout.h"

class QFrame;
class QLabel;
class QWidget;

namespace overlay {

class TStatusBar {
 public:
  // The panel "PanelStatus" and its labels in Parent, at Top and Width wide.
  TStatusBar(QWidget* Parent, int Top, int Width);
  // The panel and its labels as Layout places them for Width.
  void Place(const TMainPanelsLayout& Layout, int Width);
  // What Controller shows with the mouse at MouseOverView (none: not over the view), and whether
  // Session has the work saved.
  void Show(TMainController& Controller, const std::optional<raster::TPoint>& MouseOverView,
            const TRecordSession& Session);

  // How wide the saved time is at the most.
  static constexpr int SavedWidth = 170;

 private:
  QFrame* FPanel = nullptr;
  QLabel *FPosition = nullptr, *FMode = nullptr, *FSaved = nullptr;
};

}  // namespace overlay
