// Tessaly's main window: places the panels and controls at their designed bounds and wires them
// to the controller, which holds the view, the overlay, the sliders and all of their logic, and to
// the view's menu (TViewMenu), the view's input (TViewEvents), the print button's outputs
// (TComparisonOutput), the status bar and the automatic alignment's run.
#pragma once

#include <QWidget>
#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "overlay/base/settings.h"
#include "overlay/comparison/comparison_record.h"
#include "overlay/comparison/record_session.h"
#include "overlay/dicom/dicom_export.h"
#include "overlay/output/export_aligned.h"
#include "overlay/scene/main_controller.h"
#include "overlay/windows/auto_align_run.h"
#include "overlay/windows/comparison_output.h"
#include "overlay/windows/status_bar.h"
#include "overlay/windows/view_events.h"
#include "overlay/windows/view_menu.h"
#include "overlay/windows/window_layout.h"

class QFileDialog;
class QMenu;
class QTimer;
class QFrame;
class QDragEnterEvent;
class QDropEvent;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;

namespace platform {
class TControlHostWidget;
}

namespace overlay {

// The window's client size as designed (the designed outer bounds, 987 x 768, less the frame
// and the title bar, and the status bar's height added) and its smallest client size.
constexpr int MainClientWidth = 979;
constexpr int MainClientHeight = 738 + StatusBarHeight;
constexpr int MainMinClientWidth = 732;
constexpr int MainMinClientHeight = 270;

// What the window asks of the world around it, given once at its creation (tests give their
// own). An empty dialog is the window's own dialog; an empty entry point does nothing.
struct TFormMainHooks {
  // The open-picture dialog: returns the chosen path, or nothing when the user cancels.
  std::function<std::string()> ChooseFile;
  // The export's save dialog likewise.
  std::function<std::string(TExportKind Kind)> ChooseExportFile;
  // The DICOM export's folder dialog likewise.
  std::function<std::string()> ChooseDicomFolder;
  // What the two glyph-less entry points open; wired by the program entry to the about box and
  // the positioning assistant (the assistant is given the two paths of the name panel and
  // returns whether its points were applied; otherwise the overlay goes back where it stood).
  std::function<void()> OnInfo;
  std::function<bool(const std::string& PathImage1, const std::string& PathImage2)> OnAssistent;
  // The settings file "Tessaly.ini": where it is written, and where it is read while it does not
  // exist there yet; SettingsFile empty: where platform::LocateProgramFile finds them (beside
  // the program in a portable installation).
  std::string SettingsFile, SettingsSource;
  // Where the comparison records lie; empty for the user's data folder.
  std::string RecordFolder;
};

class TFormMain : public QWidget {
 public:
  explicit TFormMain(TFormMainHooks Hooks = {}, QWidget* Parent = nullptr);
  ~TFormMain() override;

  TMainController& Controller() { return *FController; }

  // The start-up sequence, run once while the window is being created (by the program entry
  // right after construction): the settings, the interface file of the command line (both
  // pictures loaded when it names exactly two), then the language file, reported when missing.
  void FormCreate();

  // The settings file: the window's bounds when stored (FormProperties), the print's captures,
  // the flicker's clock, the open dialog, colour matching, the checkerboard.
  void LoadSettings();
  const TSettings& Settings() const { return FSettings; }
  // Stores the window's bounds; fails as WriteSettings does (the file is then as it was).
  platform::TStatus SaveSettings();
  // Where the settings are written, and where they are read: the file once it is there, else
  // the source it starts from.
  const std::string& SettingsFile() const { return FSettingsFile; }
  std::string SettingsFileToRead() const;
  // Reads the interface file that parameter 1 names; with more than one picture, sets the
  // caption to the subject and the two paths. Returns the number of pictures.
  int ReadInterfaceFile();
  void LoadBothPictures();

  // Handlers.
  void ButtonImage1Click() { OpenChosenPicture(1); }
  void ButtonImage2Click() { OpenChosenPicture(2); }
  void ButtonCloseClick();
  void ButtonAssistentClick();
  // The automatic alignment (TAutoAlignRun), while it runs.
  bool AutoAligning() const { return FAutoAlign->Running(); }
  void BitBtnPrintClick();
  // One step of the flicker (the timer's; tests call it as their clock).
  void FlickerTick();

  // Loads Path as picture 1 or 2 and, when it loaded, puts it in front of the recent list.
  bool OpenPicture(int Picture, const std::string& Path);
  // The open dialog as the "..." buttons show it: its filters (all pictures first, all files
  // last), the filter and folder chosen last.
  void PrepareOpenPictureDialog(QFileDialog& Dialog) const;
  // The recent pictures as a menu whose entries load into picture Picture (the context menu of
  // its "..." button).
  std::unique_ptr<QMenu> RecentMenu(int Picture);
  const TOpenDialogSettings& OpenDialogSettings() const { return FSettings.OpenDialog; }

  // The comparison record of the two pictures loaded: looked for once both are loaded (and
  // offered for restoring), written a moment after each change. SaveRecordNow writes at once
  // what is pending.
  void SaveRecordNow();
  const std::string& RecordPath() const { return FSession.Path(); }
  // The comparison's record session: the pictures' patient, the notes, the study, the saves.
  const TRecordSession& RecordSession() const { return FSession; }
  // The notes of the comparison, kept in its record (the notes dialog edits them).
  void SetNotes(std::string Notes);

  QLineEdit* Edit(TField Field) const { return FEdits[std::size_t(Field)]; }
  platform::TControlHostWidget* ImgViewHost() const { return FImgViewHost.get(); }
  // The host widget of a gauge bar of the controller.
  platform::TControlHostWidget* BarHost(const raster::TGaugeBar& Bar) const;

 protected:
  void resizeEvent(QResizeEvent* Event) override;
  // The nudging keys, while both pictures are loaded; also when a button has the focus, which
  // would otherwise take the arrows for moving the focus.
  void keyPressEvent(QKeyEvent* Event) override;
  // Pictures dropped on a row or on the view (PlanDrop).
  void dragEnterEvent(QDragEnterEvent* Event) override;
  void dropEvent(QDropEvent* Event) override;
  bool eventFilter(QObject* Watched, QEvent* Event) override;

 private:
  void BuildControls();
  void WireControls();
  void OpenChosenPicture(int Picture);
  void PrepareSettingsWrite() const;
  // Write, into the settings file, without telling when it cannot be written.
  void StoreSetting(const std::function<platform::TStatus()>& Write);
  void PicturesLoaded();
  void ShowCaption();
  void ScheduleRecordSave();
  void ShowEnabled(bool Enabled);
  void LayoutPanels();
  // The status bar for the mouse where it was last seen over the view.
  void ShowStatus();

  TFormMainHooks FHooks;
  std::string FSettingsFile, FSettingsSource;
  TSettings FSettings;
  TRecordSession FSession;
  std::unique_ptr<TMainController> FController;
  QFrame* FPanelImage = nullptr;
  QFrame* FPanelControls = nullptr;
  QFrame* FPanelName = nullptr;
  // The hosts show controls that the controller owns, so they must go first: declared after the
  // controller, they are freed before it, and before their panels would free them as children.
  std::unique_ptr<platform::TControlHostWidget> FImgViewHost;
  std::array<std::unique_ptr<platform::TControlHostWidget>, 6> FBarHosts;
  std::array<QLineEdit*, FieldCount> FEdits{};
  QLabel *FLabelImage2 = nullptr, *FLabelTransp = nullptr, *FLabelZoom = nullptr;
  QPushButton *FButtonClose = nullptr, *FButtonImage1 = nullptr, *FButtonImage2 = nullptr;
  QPushButton *FButtonAssistent = nullptr, *FButtonAutoAlign = nullptr;
  QToolButton *FBitBtnInfo = nullptr, *FBitBtnPrint = nullptr;
  std::unique_ptr<TStatusBar> FStatusBar;
  std::unique_ptr<TViewMenu> FViewMenu;
  std::unique_ptr<TComparisonOutput> FOutput;
  // The view's input goes before the view's host: declared after it.
  std::unique_ptr<TViewEvents> FViewEvents;
  bool FBarGesture = false;  // a mouse button held on a slider
  std::unique_ptr<TAutoAlignRun> FAutoAlign;
  int FLastControlsWidth = -1;
  QTimer* FRecordTimer = nullptr;
};

}  // namespace overlay
