// The main window's layout facts that are plain arithmetic: the panels' heights, where the bottom
// panels' controls go for a client width, and the open-picture dialog's filter. The sliders' size
// as they are created is the scene's (MainSliderWidth in overlay/scene/main_controller.h), since
// the controller creates them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace overlay {

// The two bottom panels keep their heights, PanelControls at the window's bottom and PanelName
// above it; the picture panel takes the room above them, and its view lies inside the panel's
// bevel.
constexpr int PanelControlsHeight = 127;
constexpr int PanelNameHeight = 39;
constexpr int PanelBevel = 1;
// The status bar between the picture panel and PanelName: the pixel under the mouse, the mode.
constexpr int StatusBarHeight = 20;

// Layout of the two bottom panels for a window client width (PanelControlsResize).
struct TBottomPanelLayout {
  int SliderWidth;          // GaugeBar1, 2, 3, 5, GaugeAlpha, GaugeBar4, EditImage1, EditImage2
  int LeftEditLeft;         // EditX, EditY, EditAngle, EditZoomOvl, ButtonImage1
  int RightColumn;          // LabelImage2, LabelTransp, LabelZoom
  int RightSliderLeft;      // EditImage2, GaugeAlpha, GaugeBar4, ButtonAssistent
  int ButtonAutoAlignLeft;  // as wide as ButtonAssistent, left of it
  int RightEditLeft;        // ButtonImage2, EditTransp, EditZoom
  int ButtonCloseWidth;
  int ButtonCloseLeft;
  int BitBtnInfoLeft;
  int BitBtnPrintLeft;
};

// The read-outs of the four placing sliders (EditX, EditY, EditAngle, EditZoomOvl): wide enough
// for a placement between steps ("≈ -179.9"), reaching into the space before the right
// column and ending 8 pixels before ButtonAutoAlign.
constexpr int PlacingReadOutWidth = 56;
// The view zoom's read-out: wide enough for the three decimals its steps change below 0.43
// ("0.355"); it grows to the right, towards the window's edge.
constexpr int ZoomReadOutWidth = 44;

// The created values: GaugeBar1.Left 80, EditX.Width 33, EditZoom.Width 33, button widths.
TBottomPanelLayout PanelControlsLayout(int ClientWidth, int GaugeBar1Left = 80, int EditXWidth = 33,
                                       int EditZoomWidth = 33, int BitBtnInfoWidth = 33,
                                       int BitBtnPrintWidth = 33);

// Where files were dropped on the main window, and what they are.
enum class TDropTarget { Row1, Row2, View, Elsewhere };
struct TDroppedFile {
  std::string Path;
  std::int64_t Modified = 0;  // the file's time, in any unit
  bool RegularFile = true;
};
// What a drop loads: one file on the "Bild 1" or "Bild 2" row loads there; two files on the
// view load as picture 1 and 2, the older first (the earlier photograph is the before). Anything
// else is refused (Refused, nothing to load): the user is told how a drop works.
struct TDropPlan {
  std::string Picture1, Picture2;  // empty: that picture stays
  bool Refused = false;
};
TDropPlan PlanDrop(TDropTarget Target, std::vector<TDroppedFile> Files);

// The open-picture dialog's filter as "description|pattern" pairs, patterns separated by ";".
extern const char* const OpenPictureFilter;
// The pairs as Qt name filters ("*.png (*.png)"), in order; the first is the one selected at
// the start.
std::vector<std::string> NameFilters(const std::string& PipeFilter);
// The open dialog's filters: first AllPictures with every extension in Extensions (each in
// lower and upper case, so that a camera's "IMG_0001.JPG" shows), then OpenPictureFilter's in
// their order, last AllFiles ("*").
std::vector<std::string> PictureDialogFilters(const std::vector<std::string>& Extensions,
                                              const std::string& AllPictures,
                                              const std::string& AllFiles);
// The patterns of a Qt name filter, "Alle Bilder (*.bmp *.BMP)" -> "*.bmp *.BMP": what is
// stored of the chosen filter, whatever the language of its name.
std::string FilterPatterns(const std::string& NameFilter);

}  // namespace overlay
