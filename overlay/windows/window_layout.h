// The main window's layout facts that are plain arithmetic: the panels' heights, where the bottom
// panels' controls go for a client width, and the open-picture dialog's filter; and the window's
// choices that need no widget (what a drop loads, where stored bounds go, which folder the DICOM
// export takes, what "Send to PACS" makes). The sliders' size as they are created is the scene's
// (MainSliderWidth in overlay/scene/main_controller.h), since the controller creates them.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "overlay/base/settings.h"
#include "overlay/base/texts.h"
#include "platform/file_write.h"

namespace overlay {

// The two bottom panels keep their heights, PanelControls at the window's bottom and PanelName
// above it; the picture panel takes the room above them, and its view lies inside the panel's
// bevel.
constexpr int PanelControlsHeight = 127;
constexpr int PanelNameHeight = 39;
constexpr int PanelBevel = 1;
// The status bar between the picture panel and PanelName: the pixel under the mouse, the mode.
constexpr int StatusBarHeight = 20;

// The panels' rows for a client size: the two bottom panels bottom-aligned, the status bar above
// them, the picture panel filling what is left; the status bar's position on the left, when the
// comparison was last saved at the right end (SavedWidth at most), the mode before it.
struct TMainPanelsLayout {
  int ControlsTop, NameTop, StatusTop;
  int PositionWidth, ModeLeft, ModeWidth, SavedLeft, SavedWidth;
};
TMainPanelsLayout MainPanelsLayout(int ClientWidth, int ClientHeight, int SavedWidth);

// What the window's frame and title bar add to the client area in the stored bounds, which
// are the window's outer bounds.
constexpr int MainFrameExtraWidth = 8;
constexpr int MainFrameExtraHeight = 30;
// Where the window goes for the outer bounds the settings keep: their place only when at least
// 50 x 30 pixels of them lie on one of the screens (bounds on no screen any more, a monitor
// unplugged, would open the window out of sight: the window system then places it), and the
// client size they give, at least the minimum.
struct TScreenArea {
  int Left, Top, Width, Height;
};
struct TStoredPlacement {
  bool Move;
  int ClientWidth, ClientHeight;
};
TStoredPlacement PlaceStoredBounds(const TWindowBounds& Bounds,
                                   const std::vector<TScreenArea>& Screens, int MinClientWidth,
                                   int MinClientHeight);

// What the DICOM export does with the folder the user chose, by its privacy: the patient's objects
// go only into a folder of the user's alone. A folder the dialog's New Folder button made is open
// to others: the user is asked (Question) whether to close it first; a folder of another user or
// no folder is refused (Refusal, told).
struct TDicomFolderUse {
  std::string Question, Refusal;  // both empty: written into as it is (or made)
};
TDicomFolderUse DicomFolderUse(platform::TFolderPrivacy Privacy, const std::string& Folder);

// What "Send to PACS" makes of the comparison shown: anew when it changed since it last went
// (Digest against SentDigest); unchanged, only what still waits in the outbox (the retry after a
// failure), or, when nothing waits, anew only when the user wants it sent again (Ask).
enum class TPacsSendChoice { ExportAnew, WaitingOnly, Nothing };
TPacsSendChoice ChoosePacsSend(const std::string& Digest, const std::string& SentDigest,
                               bool Waiting, const std::function<bool()>& Ask);

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
