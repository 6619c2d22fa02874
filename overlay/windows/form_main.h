// Tessaly's main window: places the controls at their designed bounds and wires them to the
// controller, which holds the view, the overlay, the sliders and all of their logic.
#pragma once

#include <QWidget>
#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "overlay/base/settings.h"
#include "overlay/comparison/comparison_record.h"
#include "overlay/comparison/record_session.h"
#include "overlay/dicom/dicom_export.h"
#include "overlay/output/export_aligned.h"
#include "overlay/scene/main_controller.h"
#include "overlay/windows/window_layout.h"

class QAction;
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
class QWheelEvent;

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
// What the window's frame and title bar add to the client area in the stored bounds, which
// are the window's outer bounds.
constexpr int MainFrameExtraWidth = 8;
constexpr int MainFrameExtraHeight = 30;
// "Send to PACS" makes its objects in a folder of this name (platform::ProcessFolderPattern) in
// the user's temporary folder; the program's start removes those of ended runs.
inline constexpr const char* PacsFolderPrefix = "dicom-";

class TFormMain : public QWidget {
 public:
  explicit TFormMain(QWidget* Parent = nullptr);
  ~TFormMain() override;

  TMainController& Controller() { return *FController; }

  // The start-up sequence, run once while the window is being created (by the program entry
  // right after construction): the settings, the interface file of the command line (both
  // pictures loaded when it names exactly two), then the language file, reported when missing.
  void FormCreate();

  // The settings file: the window's bounds when stored (FormProperties), and ImageCount.
  void LoadSettings();
  // Stores the window's bounds; fails as WriteSettings does (the file is then as it was).
  platform::TStatus SaveSettings();
  // Reads the interface file that parameter 1 names; with more than one picture, sets the
  // caption to the subject and the two paths. Returns the number of pictures.
  int ReadInterfaceFile();
  void LoadBothPictures();

  // Handlers.
  void ButtonImage1Click();
  void ButtonImage2Click();
  void ButtonCloseClick();
  void BitBtnInfoClick();
  void ButtonAssistentClick();
  // Starts the automatic alignment: the pictures are reduced at once, the rest runs on a
  // worker thread with the wait cursor shown and the button disabled; the result is applied
  // through the sliders when it arrives (or the failure shown).
  void ButtonAutoAlignClick();
  bool AutoAligning() const { return FAligning; }
  void BitBtnPrintClick();
  // An export entry of the print button's menu: a file from ChooseExportFile, then the export
  // with picture 1's known scale.
  void ExportClick(TExportKind Kind);
  // "Send to PACS": the comparison as the DICOM export makes it (into the study the record
  // keeps) joins the user's outbox, and the outbox goes to the PACS of the settings file, off
  // the window's thread; without both pictures, what waits in the outbox alone. A comparison
  // that went to the PACS as it is now (the record's SentDigest) is not made again: what of it
  // still waits goes, or, when nothing waits, the user is asked whether to send it again.
  void PacsSendClick();
  // The DICOM export's request of the comparison shown, into Folder.
  TDicomExport DicomRequest(const std::string& Folder = {}) const;
  // Long work (the DICOM export, the PACS send and check) on a thread of its own: while it runs,
  // a placement the automatic alignment found waits, so that nothing changes what it reads.
  template <typename TWork>
  auto RunLongWork(TWork&& Work) {
    FWorking = true;
    struct TEnd {
      TFormMain* Form;
      ~TEnd() {
        Form->FWorking = false;
        if (Form->FAlignWaiting) std::exchange(Form->FAlignWaiting, {})();
      }
    } end{this};
    return Work();
  }
  // The settings file as it is read: where it is written once it is there, else SettingsSource.
  std::string SettingsFileToRead() const;
  // The menu's DICOM entry: a folder from ChooseDicomFolder, then the comparison as DICOM with
  // the interface file's patient, into the study the record keeps (which it keeps from then on).
  void DicomExportClick();
  // The comparison as DICOM into Folder, the record then keeping its study; false after a
  // failure has been told.
  bool ExportDicomInto(const std::string& Folder);
  void PanelControlsResize();

  // The number of captures of a print, and whether they are at the pictures' resolution, from
  // the settings.
  int ImageCount = 5;
  bool FullResolutionPrint = true;
  // How long the flicker shows each of its two states ([Display] FlickerMs of the settings).
  int FlickerIntervalMs = 500;
  // One step of the flicker (the timer's; tests call it as their clock).
  void FlickerTick();
  // The settings file "Tessaly.ini": where it is written, and where it is read while it does not
  // exist there yet (platform/paths.h). Beside the program in a portable installation.
  std::string SettingsFile;
  std::string SettingsSource;

  // The open-picture dialog: returns the chosen path, or nothing when the user cancels. Tests
  // replace it.
  std::function<std::string()> ChooseFile;
  // The export's save dialog likewise.
  std::function<std::string(TExportKind Kind)> ChooseExportFile;
  // The DICOM export's folder dialog likewise.
  std::function<std::string()> ChooseDicomFolder;
  // Loads Path as picture 1 or 2 and, when it loaded, puts it in front of the recent list.
  bool OpenPicture(int Picture, const std::string& Path);
  // The open dialog as RunOpenPictureDialog shows it: its filters (all pictures first, all
  // files last), the filter and folder chosen last.
  void PrepareOpenPictureDialog(QFileDialog& Dialog) const;
  // The recent pictures as a menu whose entries load into picture Picture (the context menu of
  // its "..." button).
  std::unique_ptr<QMenu> RecentMenu(int Picture);
  const TOpenDialogSettings& OpenDialogSettings() const { return FOpenDialog; }

  // The comparison record of the two pictures loaded: looked for once both are loaded (and
  // offered for restoring), written a moment after each change. RecordFolder: where the records
  // lie; empty for the user's data folder. SaveRecordNow writes at once what is pending.
  std::string RecordFolder;
  void SaveRecordNow();
  const std::string& RecordPath() const { return FSession.Path(); }
  // The comparison's record session: the pictures' patient, the notes, the study, the saves.
  const TRecordSession& RecordSession() const { return FSession; }
  // The notes of the comparison, kept in its record (the notes dialog edits them).
  void SetNotes(std::string Notes);
  // What the two glyph-less entry points open; wired by the program entry to the about box
  // and the positioning assistant (the assistant is given the two paths of the name panel and
  // returns whether its points were applied; otherwise the overlay goes back where it stood).
  std::function<void()> OnInfo;
  std::function<bool(const std::string& PathImage1, const std::string& PathImage2)> OnAssistent;

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
  std::string RunOpenPictureDialog();
  void PrepareSettingsWrite() const;
  // Write, into the settings file, without telling when it cannot be written.
  void StoreSetting(const std::function<platform::TStatus()>& Write);
  void PicturesLoaded();
  // The window's entries follow what an applied record set on the controller.
  void ShowAppliedRecord();
  void ShowCaption();
  void ScheduleRecordSave();
  void ShowEnabled(bool Enabled);
  void LayoutPanels();
  void AutoAlignDone(const TAutoAlignResult& Result, std::uint64_t Generation);
  void WireViewInput();
  bool NudgeFromKey(const QKeyEvent& Event);
  bool ZoomFromWheel(const QWheelEvent& Event);
  // Enter, Escape and Delete for the measures; false when the key was not for them.
  bool MeasureFromKey(const QKeyEvent& Event);
  // The tool entries' checks as the controller's tool is, then the status.
  void ShowMeasureTool();
  // The rename dialog for the finished measure at At (control coordinates); false when there
  // is none.
  bool RenameMeasureAt(raster::TPoint At);
  // The status bar for the mouse where it was last seen over the view.
  void ShowStatus();
  // The comparison entries' checks as the controller draws, then the status.
  void ShowModes();
  // The view menu's ways of drawing, each with its entry.
  std::array<std::pair<QAction*, TViewMode>, 4> ModeActions() const;

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
  QPushButton* FButtonAssistent = nullptr;
  QPushButton* FButtonAutoAlign = nullptr;
  QAction* FActionDifference = nullptr;
  QAction* FActionFlicker = nullptr;
  QAction* FActionScaleBar = nullptr;
  QAction* FActionMatch = nullptr;
  QAction *FActionSwipe = nullptr, *FActionChecker = nullptr, *FActionSide = nullptr;
  bool FSwipeDrag = false;  // a left drag on the view moves the swipe's line
  QAction *FActionRuler = nullptr, *FActionOutline = nullptr;
  std::optional<raster::TPoint> FMenuAt;  // where the view's menu was asked for
  // The view's menu entries that need both pictures and nothing else of ShowEnabled.
  std::vector<QAction*> FCommands;
  QFrame* FPanelStatus = nullptr;
  QLabel *FLabelStatusPosition = nullptr, *FLabelStatusMode = nullptr;
  QLabel* FLabelStatusSaved = nullptr;
  static constexpr int StatusSavedWidth = 170;
  std::optional<raster::TPoint> FMouseOverView;
  QTimer* FFlickerTimer = nullptr;
  bool FControlsEnabled = false;
  bool FBarGesture = false;  // a mouse button held on a slider
  bool FAligning = false;
  std::thread FAlignWorker;
  bool FWorking = false;                // RunLongWork runs
  std::function<void()> FAlignWaiting;  // an alignment's result that came meanwhile
  QToolButton *FBitBtnInfo = nullptr, *FBitBtnPrint = nullptr;
  int FLastControlsWidth = -1;
  TOpenDialogSettings FOpenDialog;
  TRecordSession FSession;
  QTimer* FRecordTimer = nullptr;
};

}  // namespace overlay
