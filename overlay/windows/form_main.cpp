#include "overlay/windows/form_main.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QDateTime>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QGuiApplication>
#include <QIcon>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QResizeEvent>
#include <QScopeGuard>
#include <QScreen>
#include <QSignalBlocker>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <QWheelEvent>
#include <optional>

#include "overlay/base/settings.h"
#include "overlay/base/texts.h"
#include "overlay/decode/picture_import.h"
#include "overlay/windows/export_menu.h"
#include "overlay/windows/icons.h"
#include "overlay/windows/notes_dialog.h"
#include "overlay/windows/print_page.h"
#include "overlay/windows/sprache.h"
#include "overlay/windows/widget_factory.h"
#include "overlay/windows/window_layout.h"
#include "platform/content_hash.h"
#include "platform/control_host.h"
#include "platform/file_write.h"
#include "platform/ini_profile.h"
#include "platform/message.h"
#include "platform/paths.h"

namespace overlay {

namespace {

// Where the bottom panels lie in the window as it is created; the picture panel fills the room
// above them, its view inside the panel's bevel.
constexpr int ControlsTop = MainClientHeight - PanelControlsHeight;
constexpr int NameTop = ControlsTop - PanelNameHeight;
constexpr int StatusTop = NameTop - StatusBarHeight;
static_assert(StatusTop == MainViewHeight + 2 * PanelBevel);
static_assert(MainClientWidth == MainViewWidth + 2 * PanelBevel);

std::optional<TNudgeKey> NudgeKeyOf(const QKeyEvent& Event) {
  // Combinations with Ctrl or Meta stay shortcuts; Shift, Alt (the fine steps) and the keypad
  // are part of the keys below.
  if (Event.modifiers() & (Qt::ControlModifier | Qt::MetaModifier)) return {};
  switch (Event.key()) {
    case Qt::Key_Left:
      return TNudgeKey::Left;
    case Qt::Key_Right:
      return TNudgeKey::Right;
    case Qt::Key_Up:
      return TNudgeKey::Up;
    case Qt::Key_Down:
      return TNudgeKey::Down;
    case Qt::Key_PageUp:
      return TNudgeKey::PageUp;
    case Qt::Key_PageDown:
      return TNudgeKey::PageDown;
    case Qt::Key_Plus:
    case Qt::Key_Equal:  // plus without Shift on US layouts
      return TNudgeKey::Plus;
    case Qt::Key_Minus:
      return TNudgeKey::Minus;
    default:
      return {};
  }
}

}  // namespace

TFormMain::TFormMain(QWidget* Parent)
    : QWidget(Parent), FController(std::make_unique<TMainController>()) {
  SetComponentName(*this, "FormMain");
  setWindowTitle(QStringLiteral("Tessaly"));
  setMinimumSize(MainMinClientWidth, MainMinClientHeight);
  setAcceptDrops(true);
  RegisterProgramWindow(this);
  TMainController& c = *FController;

  // The controls in the order they are declared, at their created bounds.
  FPanelImage = MakePanel(this, "PanelImage");
  FPanelImage->setGeometry(0, 0, MainClientWidth, StatusTop);
  FImgViewHost.reset(MakeNamed<platform::TControlHostWidget>("ImgView", c.ImgView(), FPanelImage));
  FImgViewHost->setGeometry(PanelBevel, PanelBevel, MainViewWidth, MainViewHeight);

  FPanelStatus = MakePanel(this, "PanelStatus");
  FPanelStatus->setGeometry(0, StatusTop, MainClientWidth, StatusBarHeight);
  FLabelStatusPosition = MakeNamed<QLabel>("LabelStatusPosition", FPanelStatus);
  FLabelStatusMode = MakeNamed<QLabel>("LabelStatusMode", FPanelStatus);
  FLabelStatusMode->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  FLabelStatusSaved = MakeNamed<QLabel>("LabelStatusSaved", FPanelStatus);
  FLabelStatusSaved->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

  FPanelControls = MakePanel(this, "PanelControls");
  FPanelControls->setGeometry(0, ControlsTop, MainClientWidth, PanelControlsHeight);
  QWidget* pc = FPanelControls;
  MakeFittedLabel(pc, "LabelAngle", "Drehung", 8, 73);
  MakeFittedLabel(pc, "LabelX", "Position X", 8, 13);
  MakeFittedLabel(pc, "LabelY", "Position Y", 8, 45);
  FLabelZoom = MakeFittedLabel(pc, "LabelZoom", "Zoom", 512, 43);
  FButtonClose = MakeButton(pc, "ButtonClose", "Schließen", {888, 89, 82, 27});

  const auto host = [&](raster::TGaugeBar& Bar, int Index, const char* Name, int Left, int Top) {
    auto* w = MakeNamed<platform::TControlHostWidget>(Name, Bar, pc);
    w->setGeometry(Left, Top, MainSliderWidth, MainSliderHeight);
    FBarHosts[std::size_t(Index)].reset(w);
    w->installEventFilter(this);  // a press to its release is one step of the history
  };
  const auto readOut = [this](QWidget* Parent, TField Field, const char* Name, QRect Bounds) {
    FEdits[std::size_t(Field)] = MakeReadOnlyEdit(Parent, Name, Bounds, TEditFrame::Compact);
  };
  host(c.GaugeBar1(), 0, "GaugeBar1", 80, 69);
  host(c.GaugeBar2(), 1, "GaugeBar2", 80, 9);
  host(c.GaugeBar4(), 3, "GaugeBar4", 592, 41);
  FLabelTransp = MakeFittedLabel(pc, "LabelTransp", "Tranparenz", 512, 13);
  host(c.GaugeAlpha(), 5, "GaugeAlpha", 592, 9);
  host(c.GaugeBar3(), 2, "GaugeBar3", 80, 39);
  readOut(pc, TField::EditX, "EditX", {424, 9, PlacingReadOutWidth, 24});
  readOut(pc, TField::EditY, "EditY", {424, 39, PlacingReadOutWidth, 24});
  readOut(pc, TField::EditZoom, "EditZoom", {936, 41, ZoomReadOutWidth, 24});
  readOut(pc, TField::EditTransp, "EditTransp", {936, 9, 33, 24});
  readOut(pc, TField::EditAngle, "EditAngle", {424, 69, PlacingReadOutWidth, 24});

  FPanelName = MakePanel(this, "PanelName");
  FPanelName->setGeometry(0, NameTop, MainClientWidth, PanelNameHeight);
  QWidget* pn = FPanelName;
  MakeFittedLabel(pn, "LabelImage1", "Bild 1", 8, 12);
  readOut(pn, TField::EditImage1, "EditImage1", {80, 8, MainSliderWidth, 24});
  FLabelImage2 = MakeFittedLabel(pn, "LabelImage2", "Bild 2", 512, 12);
  readOut(pn, TField::EditImage2, "EditImage2", {592, 8, MainSliderWidth, 24});
  FButtonImage1 = MakeButton(pn, "ButtonImage1", "...", {424, 8, 33, 24});
  FButtonImage2 = MakeButton(pn, "ButtonImage2", "...", {936, 8, 33, 24});

  FBitBtnInfo = MakeGlyphButton(pc, "BitBtnInfo", InfoIcon(), {848, 89, 33, 27});
  host(c.GaugeBar5(), 4, "GaugeBar5", 80, 99);
  MakeFittedLabel(pc, "LabelZoomOvl", "Zoom Ovl", 8, 101);
  readOut(pc, TField::EditZoomOvl, "EditZoomOvl", {424, 99, PlacingReadOutWidth, 24});
  FButtonAssistent = MakeButton(pc, "ButtonAssistent", "Assistent", {593, 90, 80, 27});
  FButtonAutoAlign = MakeButton(pc, "ButtonAutoAlign", "Automatisch", {505, 90, 80, 27});
  FBitBtnPrint = MakeGlyphButton(pc, "BitBtnPrint", PrinterIcon(), {808, 90, 33, 27});

  for (int i = 0; i < FieldCount; ++i) {
    FEdits[std::size_t(i)]->setText(QString::fromStdString(c.Text(TField(i))));
  }

  // The zoom read-outs follow the user's locale, whatever its separators.
  const QLocale locale;
  c.SetNumberFormat(locale.decimalPoint().toStdString(), locale.groupSeparator().toStdString());
  c.OnText = [this](TField Field, const std::string& Text) {
    FEdits[std::size_t(Field)]->setText(QString::fromStdString(Text));
    // Every change of the placement or the zoom shows in a read-out: the status follows.
    ShowStatus();
  };
  c.OnEnabledChanged = [this](bool Enabled) { ShowEnabled(Enabled); };
  c.OnPlacementChanged = [this] { ScheduleRecordSave(); };
  c.OnMeasuresChanged = [this] { ScheduleRecordSave(); };
  FRecordTimer = new QTimer(this);
  FRecordTimer->setSingleShot(true);
  FRecordTimer->setInterval(400);  // a drag or a run of key presses is written once
  connect(FRecordTimer, &QTimer::timeout, this, [this] { SaveRecordNow(); });

  connect(FButtonClose, &QPushButton::clicked, this, [this] { ButtonCloseClick(); });
  connect(FButtonImage1, &QPushButton::clicked, this, [this] { ButtonImage1Click(); });
  // A right click on a "..." button offers the recent pictures for that row.
  for (const auto& row : {std::pair{FButtonImage1, 1}, std::pair{FButtonImage2, 2}}) {
    QPushButton* button = row.first;
    const int picture = row.second;
    button->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(button, &QWidget::customContextMenuRequested, this,
            [this, button, picture](const QPoint& At) {
              RecentMenu(picture)->exec(button->mapToGlobal(At));
            });
  }
  connect(FButtonImage2, &QPushButton::clicked, this, [this] { ButtonImage2Click(); });
  connect(FBitBtnInfo, &QToolButton::clicked, this, [this] { BitBtnInfoClick(); });
  connect(FButtonAssistent, &QPushButton::clicked, this, [this] { ButtonAssistentClick(); });
  connect(FButtonAutoAlign, &QPushButton::clicked, this, [this] { ButtonAutoAlignClick(); });
  AttachExportMenu(
      *FBitBtnPrint, [this] { BitBtnPrintClick(); },
      [this](TExportKind Kind) { ExportClick(Kind); }, [this] { DicomExportClick(); });
  AttachPacsEntries(
      *FBitBtnPrint, [this] { PacsSendClick(); },
      [this] { RunLongWork([this] { CheckPacsWithProgress(this, SettingsFileToRead()); }); });
  ChooseFile = [this] { return RunOpenPictureDialog(); };
  ChooseExportFile = [this](TExportKind) { return RunExportDialog(this, FOpenDialog.Folder); };
  ChooseDicomFolder = [this] { return RunDicomFolderDialog(this, FOpenDialog.Folder); };

  // The keys of each control in its tool tip (the view's menu shows its own).
  const auto tip = [](QWidget* W, const char* Text) { W->setToolTip(QString::fromUtf8(Text)); };
  tip(FBarHosts[0].get(), "Drehung: Bild auf / Bild ab um 1°, mit Alt um 0,1°");
  tip(FBarHosts[1].get(),
      "Position X: Pfeil links / rechts um 1 Pixel, mit Umschalt um 10, mit Alt um 0,1");
  tip(FBarHosts[2].get(),
      "Position Y: Pfeil auf / ab um 1 Pixel, mit Umschalt um 10, mit Alt um 0,1");
  tip(FBarHosts[3].get(), "Zoom der Ansicht: + / − und Mausrad; Strg+0 einpassen, Strg+1 100 %");
  tip(FBarHosts[4].get(), "Zoom von Bild 2");
  tip(FBarHosts[5].get(), "Deckkraft von Bild 2: 0 durchsichtig, 255 deckend");
  tip(FImgViewHost.get(),
      "Ziehen: verschieben; Rechtsklick: Menü (D Differenz, F Blinken, N Angleichen, M Maßstab, "
      "L Lineal, U Umriss, Strg+Z rückgängig)");
  tip(FButtonImage1, "Bild 1 öffnen (Rechtsklick: zuletzt geöffnete Bilder)");
  tip(FButtonImage2, "Bild 2 öffnen (Rechtsklick: zuletzt geöffnete Bilder)");

  // The comparison aids: actions of the window (their keys work anywhere in it) and the
  // entries of the view's context menu, which shows each with its key.
  const auto aid = [this](const char* Name, const char* Text, Qt::Key Key) {
    auto* action = MakeNamed<QAction>(Name, QString::fromUtf8(Text), this);
    action->setCheckable(true);
    action->setShortcut(QKeySequence(Key));
    action->setShortcutVisibleInContextMenu(true);
    action->setEnabled(false);
    addAction(action);
    FImgViewHost->addAction(action);
    return action;
  };
  // The ways of comparing, one at a time: each entry's checks follow what the controller draws.
  const auto mode = [this, &aid](const char* Name, const char* Text, Qt::Key Key,
                                 void (TMainController::*Set)(bool)) {
    QAction* action = aid(Name, Text, Key);
    connect(action, &QAction::toggled, this, [this, Set](bool On) {
      (FController.get()->*Set)(On);
      ShowModes();
    });
    FCommands.push_back(action);
    return action;
  };
  FActionDifference =
      mode("MenuDifference", "Differenz", Qt::Key_D, &TMainController::SetDifferenceView);
  FActionSwipe = mode("MenuSwipe", "Vorhang", Qt::Key_S, &TMainController::SetSwipe);
  FActionSide = mode("MenuSide", "Nebeneinander", Qt::Key_B, &TMainController::SetSide);
  FActionChecker = mode("MenuChecker", "Schachbrett", Qt::Key_C, &TMainController::SetChecker);
  FActionFlicker = aid("MenuFlicker", "Blinken", Qt::Key_F);
  FFlickerTimer = new QTimer(this);
  connect(FActionFlicker, &QAction::toggled, this, [this](bool On) {
    if (On) {
      FController->StartFlicker();
      FFlickerTimer->start(FlickerIntervalMs);
    } else {
      FController->StopFlicker();
      FFlickerTimer->stop();
    }
    ShowStatus();
  });
  connect(FFlickerTimer, &QTimer::timeout, this, [this] { FlickerTick(); });
  FActionMatch = aid("MenuMatchColours", "Angleichen", Qt::Key_N);
  FCommands.push_back(FActionMatch);
  connect(FActionMatch, &QAction::toggled, this, [this](bool On) {
    FController->SetColourMatch(On);
    ShowStatus();
    ScheduleRecordSave();
    StoreSetting([this, On] { return WriteMatchColours(SettingsFile, On); });  // for the next start
  });
  FActionScaleBar = aid("MenuScaleBar", "Maßstab", Qt::Key_M);
  connect(FActionScaleBar, &QAction::toggled, this,
          [this](bool On) { FController->SetScaleBar(On); });
  // The view's two zooms of their own, through the zoom slider's nearest position, and the
  // placement's history.
  const auto separator = [this](const char* Name) {
    auto* action = MakeNamed<QAction>(Name, this);
    action->setSeparator(true);
    FImgViewHost->addAction(action);
  };
  const auto command = [this](const char* Name, const char* Text, QKeyCombination Key,
                              const std::function<void()>& Do) {
    auto* action = MakeNamed<QAction>(Name, QString::fromUtf8(Text), this);
    action->setShortcut(QKeySequence(Key));
    action->setShortcutVisibleInContextMenu(true);
    action->setEnabled(false);
    addAction(action);
    FImgViewHost->addAction(action);
    connect(action, &QAction::triggered, this, Do);
    FCommands.push_back(action);
    return action;
  };
  separator("MenuSeparatorMeasure");
  // The measuring tools, one at a time, and deleting the measure where the menu was asked for
  // (or, by its key, under the mouse).
  const auto measureTool = [this, &aid](const char* Name, const char* Text, Qt::Key Key,
                                        TMeasureTool Tool) {
    QAction* action = aid(Name, Text, Key);
    FCommands.push_back(action);
    connect(action, &QAction::toggled, this, [this, Tool](bool On) {
      if (On || FController->MeasureTool() == Tool) {
        FController->SetMeasureTool(On ? Tool : TMeasureTool::None);
      }
      ShowMeasureTool();
    });
    return action;
  };
  FActionRuler = measureTool("MenuRuler", "Lineal", Qt::Key_L, TMeasureTool::Ruler);
  FActionOutline = measureTool("MenuOutline", "Umriss", Qt::Key_U, TMeasureTool::Outline);
  command("MenuDeleteMeasure", "Messung löschen", Qt::SHIFT | Qt::Key_Delete, [this] {
    const std::optional<raster::TPoint> at = FMenuAt ? FMenuAt : FMouseOverView;
    if (at) FController->DeleteMeasureAt(*at);
  });
  command("MenuRenameMeasure", "Messung umbenennen…", QKeyCombination(Qt::Key_F2), [this] {
    const std::optional<raster::TPoint> at = FMenuAt ? FMenuAt : FMouseOverView;
    if (at) RenameMeasureAt(*at);
  });
  separator("MenuSeparatorZoom");
  command("MenuFit", "Einpassen", Qt::CTRL | Qt::Key_0, [this] { FController->FitView(); });
  command("MenuActualSize", "100 %", Qt::CTRL | Qt::Key_1,
          [this] { FController->ActualSizeView(); });
  separator("MenuSeparatorHistory");
  // The history waits while a thumb is held, but not for a release that went elsewhere.
  const auto releaseLost = [this] {
    if (FBarGesture && QGuiApplication::mouseButtons() == Qt::NoButton) {
      FBarGesture = false;
      FController->EndGesture();
    }
  };
  // Undo while a measure is drawn drops that measure: the status shows the tool's first hint.
  command("MenuUndo", "Rückgängig", Qt::CTRL | Qt::Key_Z, [this, releaseLost] {
    releaseLost();
    if (FController->Undo()) ShowMeasureTool();
  });
  command("MenuRedo", "Wiederholen", Qt::CTRL | Qt::SHIFT | Qt::Key_Z, [this, releaseLost] {
    releaseLost();
    FController->Redo();
  });
  command("MenuReset", "Zurücksetzen", Qt::CTRL | Qt::Key_R, [this, releaseLost] {
    releaseLost();
    FController->ResetPlacement();
  });
  // The comparison's notes, kept with its record and printed with it.
  separator("MenuSeparatorNotes");
  auto* notes = MakeNamed<QAction>("MenuNotes", QStringLiteral("Notizen…"), this);
  notes->setEnabled(false);
  FImgViewHost->addAction(notes);
  connect(notes, &QAction::triggered, this, [this] {
    if (std::optional<std::string> text = EditNotes(this, FSession.Notes())) {
      SetNotes(std::move(*text));
    }
  });
  FCommands.push_back(notes);
  FImgViewHost->setContextMenuPolicy(Qt::ActionsContextMenu);
  const platform::TProgramFileLocation settings = platform::LocateProgramFile("Tessaly.ini");
  SettingsFile = settings.Write;
  SettingsSource = settings.Read;

  // The overlay controls start disabled.
  c.UpdateControls();
  resize(MainClientWidth, MainClientHeight);
  LayoutPanels();
  WireViewInput();
}

void TFormMain::WireViewInput() {
  raster::TImgView32& view = FController->ImgView();
  view.OnMouseDown = [this](raster::TObject*, raster::TMouseButton Button, raster::TShiftState,
                            std::int32_t X, std::int32_t Y, raster::TCustomLayer*) {
    if (Button != raster::mbLeft) return;
    // A measure's point, or a point of the tool, before the swipe's line and the pan.
    if (FController->MeasureMouseDown({X, Y})) {
      ShowStatus();
      return;
    }
    // In the swipe a drag moves the line; the picture under it stays.
    FSwipeDrag = FController->SwipeTo({X, Y});
    if (!FSwipeDrag) FController->BeginPan({X, Y});
  };
  view.OnMouseMove = [this](raster::TObject*, raster::TShiftState Shift, std::int32_t X,
                            std::int32_t Y, raster::TCustomLayer*) {
    FMenuAt.reset();
    // A dragged measure's point takes the move from the swipe's line and the pan.
    if (FController->MeasureMouseMove({X, Y}, (Shift & raster::ssLeft) != 0)) {
      // taken
    } else if (FSwipeDrag) {
      if (Shift & raster::ssLeft) FController->SwipeTo({X, Y});
    } else {
      FController->PanMove(Shift, {X, Y});
    }
    FMouseOverView = raster::TPoint{X, Y};
    FController->SetSideCursor(FMouseOverView);
    ShowStatus();
  };
  view.OnMouseUp = [this](raster::TObject*, raster::TMouseButton Button, raster::TShiftState,
                          std::int32_t, std::int32_t, raster::TCustomLayer*) {
    if (Button != raster::mbLeft) return;
    FController->MeasureMouseUp();
    FSwipeDrag = false;
    FController->EndPan();
  };
  FImgViewHost->installEventFilter(this);
  for (QWidget* child : findChildren<QWidget*>()) {
    if (child->focusPolicy() != Qt::NoFocus) child->installEventFilter(this);
  }
}

bool TFormMain::NudgeFromKey(const QKeyEvent& Event) {
  const std::optional<TNudgeKey> key = NudgeKeyOf(Event);
  if (!key) return false;
  if (Event.modifiers() & Qt::AltModifier) return FController->FineNudgeKey(*key);
  return FController->NudgeKey(*key, (Event.modifiers() & Qt::ShiftModifier) != 0);
}

bool TFormMain::MeasureFromKey(const QKeyEvent& Event) {
  if (Event.modifiers() & ~Qt::KeypadModifier) return false;
  bool used = false;
  switch (Event.key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
      used = FController->FinishMeasure();
      break;
    case Qt::Key_Escape:
      used = FController->CancelMeasure();
      break;
    case Qt::Key_Delete:
      used = FMouseOverView && FController->DeleteMeasurePoint(*FMouseOverView);
      break;
    default:
      return false;
  }
  if (used) ShowMeasureTool();
  return used;
}

bool TFormMain::RenameMeasureAt(raster::TPoint At) {
  const std::optional<std::size_t> index = FController->MeasureIndexAt(At);
  if (!index) return false;
  bool ok = false;
  const QString name =
      QInputDialog::getText(this, QString::fromStdString(Tr(MeasureRenameTitleText)),
                            QString::fromStdString(Tr(MeasureRenameLabelText)), QLineEdit::Normal,
                            QString::fromStdString(FController->Measures()[*index].Name), &ok);
  if (!ok || *index >= FController->Measures().size()) return true;
  const platform::TStatus renamed = FController->RenameMeasure(*index, name.toStdString());
  if (!renamed) platform::ShowFailure(renamed);
  return true;
}

void TFormMain::ShowMeasureTool() {
  for (const auto& [action, tool] : {std::pair{FActionRuler, TMeasureTool::Ruler},
                                     std::pair{FActionOutline, TMeasureTool::Outline}}) {
    const QSignalBlocker quiet(action);
    action->setChecked(FController->MeasureTool() == tool);
  }
  ShowStatus();
}

bool TFormMain::ZoomFromWheel(const QWheelEvent& Event) {
  const int delta = Event.angleDelta().y();
  const QPoint p = Event.position().toPoint();
  if (delta == 0 || !FController->WheelZooms({p.x(), p.y()})) return false;
  // The zoom handler repaints at once, zoomed about the viewport centre, before the scroll
  // bars take the mouse point back; with updates held the window shows only the final frame.
  FImgViewHost->setUpdatesEnabled(false);
  bool used = false;
  try {
    used = FController->WheelZoom(delta, {p.x(), p.y()});
  } catch (...) {
    FImgViewHost->setUpdatesEnabled(true);
    throw;
  }
  FImgViewHost->setUpdatesEnabled(true);  // schedules the repaint
  return used;
}

void TFormMain::FlickerTick() {
  // A slider change has ended the flicker meanwhile: the entry follows.
  if (!FController->Flickering()) {
    FActionFlicker->setChecked(false);
    return;
  }
  FController->FlickerTick();
}

void TFormMain::dragEnterEvent(QDragEnterEvent* Event) {
  // Files only; whether they make a drop that loads is told at the drop.
  if (Event->mimeData()->hasUrls()) Event->acceptProposedAction();
}

void TFormMain::dropEvent(QDropEvent* Event) {
  std::vector<TDroppedFile> files;
  for (const QUrl& url : Event->mimeData()->urls()) {
    const QFileInfo file(url.toLocalFile());
    files.push_back({url.isLocalFile() ? file.absoluteFilePath().toStdString() : std::string(),
                     file.lastModified().toMSecsSinceEpoch(), url.isLocalFile() && file.isFile()});
  }
  const QPoint at = Event->position().toPoint();
  TDropTarget target = TDropTarget::Elsewhere;
  if (FPanelName->geometry().contains(at)) {
    target =
        at.x() < FPanelName->x() + FPanelName->width() / 2 ? TDropTarget::Row1 : TDropTarget::Row2;
  } else if (FPanelImage->geometry().contains(at)) {
    target = TDropTarget::View;
  }
  const TDropPlan plan = PlanDrop(target, std::move(files));
  Event->acceptProposedAction();
  if (plan.Refused) {
    platform::ShowMessage(Tr(DropHelpText));
    return;
  }
  if (!plan.Picture1.empty()) OpenPicture(1, plan.Picture1);
  if (!plan.Picture2.empty()) OpenPicture(2, plan.Picture2);
}

void TFormMain::keyPressEvent(QKeyEvent* Event) {
  // Any key ends a flicker (F itself is the action's shortcut and does not arrive here).
  if (FActionFlicker->isChecked()) FActionFlicker->setChecked(false);
  if (MeasureFromKey(*Event) || NudgeFromKey(*Event)) {
    Event->accept();
    return;
  }
  QWidget::keyPressEvent(Event);
}

std::array<std::pair<QAction*, TViewMode>, 4> TFormMain::ModeActions() const {
  return {{{FActionDifference, TViewMode::Difference},
           {FActionSwipe, TViewMode::Swipe},
           {FActionChecker, TViewMode::Checker},
           {FActionSide, TViewMode::Side}}};
}

void TFormMain::ShowModes() {
  ScheduleRecordSave();
  // One way of comparing at a time: the entries show what the controller now draws.
  for (const auto& [action, mode] : ModeActions()) {
    const QSignalBlocker quiet(action);
    action->setChecked(FController->DrawnMode() == mode);
  }
  ShowStatus();
}

void TFormMain::ShowStatus() {
  if (FLabelStatusPosition == nullptr) return;  // a read-out set while the window is built
  const TViewStatus status = FController->ViewStatusAt(FMouseOverView);
  FLabelStatusPosition->setText(
      QString::fromStdString(StatusPositionText(status, QLocale().decimalPoint().toStdString())));
  // While a measuring tool is on, what it expects next.
  const TText* hint = FController->MeasureEditor().Hint();
  FLabelStatusMode->setText(
      !FController->ControlsEnabled() ? QString()
      : hint != nullptr
          ? QString::fromStdString(Tr(*hint))
          : QString::fromStdString(StatusModeText(status, QLocale().decimalPoint().toStdString())));
  // Whether the work is safe: when the comparison was last saved, or that it is not saved.
  const auto saved = FSession.LastSaved();
  std::string when;
  if (FController->ControlsEnabled() && !FSession.Keeps()) {
    when = Tr(RecordNotKeptText);
  } else if (FController->ControlsEnabled() && saved) {
    const QDateTime at =
        QDateTime::fromSecsSinceEpoch(std::chrono::system_clock::to_time_t(*saved));
    when = Tr(RecordSavedText, at.toString(QStringLiteral("HH:mm:ss")).toStdString());
  }
  FLabelStatusSaved->setText(QString::fromStdString(when));
}

bool TFormMain::eventFilter(QObject* Watched, QEvent* Event) {
  const bool onBar = std::any_of(FBarHosts.begin(), FBarHosts.end(),
                                 [Watched](const auto& Host) { return Host.get() == Watched; });
  if (onBar &&
      (Event->type() == QEvent::MouseButtonPress || Event->type() == QEvent::MouseButtonRelease)) {
    // A release that went elsewhere must not leave every later change in one step.
    if (FBarGesture) FController->EndGesture();
    FBarGesture = Event->type() == QEvent::MouseButtonPress;
    if (FBarGesture) FController->BeginGesture();
  }
  if (Watched == FImgViewHost.get() && Event->type() == QEvent::Leave) {
    FMouseOverView.reset();
    FController->SetSideCursor({});
    ShowStatus();
  }
  if (Watched == FImgViewHost.get() && Event->type() == QEvent::ContextMenu) {
    const QPoint at = static_cast<QContextMenuEvent*>(Event)->pos();
    FMenuAt = raster::TPoint{at.x(), at.y()};
  }
  // A double click closes the outline being drawn (its first press added the last point); on a
  // finished measure, without a tool, it renames it.
  if (Watched == FImgViewHost.get() && Event->type() == QEvent::MouseButtonDblClick &&
      static_cast<QMouseEvent*>(Event)->button() == Qt::LeftButton) {
    if (FController->FinishMeasure()) {
      ShowStatus();
      return true;
    }
    const QPoint at = static_cast<QMouseEvent*>(Event)->position().toPoint();
    if (FController->MeasureTool() == TMeasureTool::None && RenameMeasureAt({at.x(), at.y()})) {
      return true;
    }
  }
  if (Watched == FImgViewHost.get() && Event->type() == QEvent::Wheel) {
    if (ZoomFromWheel(*static_cast<QWheelEvent*>(Event))) return true;
  } else if (Watched != FImgViewHost.get() && Event->type() == QEvent::KeyPress) {
    if (FActionFlicker->isChecked()) FActionFlicker->setChecked(false);
    const auto& key = *static_cast<QKeyEvent*>(Event);
    if (MeasureFromKey(key) || NudgeFromKey(key)) return true;
  }
  return QWidget::eventFilter(Watched, Event);
}

TFormMain::~TFormMain() {
  // A running alignment works on its own copies; its result, posted to this window, is
  // dropped with it.
  if (FAlignWorker.joinable()) FAlignWorker.join();
  SaveRecordNow();  // the last change, still pending
}

platform::TControlHostWidget* TFormMain::BarHost(const raster::TGaugeBar& Bar) const {
  for (const auto& w : FBarHosts) {
    if (w != nullptr && w->Root() == &Bar) return w.get();
  }
  return nullptr;
}

void TFormMain::FormCreate() {
  LoadSettings();
  const int count = ReadInterfaceFile();
  // The language before the pictures, so that a picture that does not load is told in the
  // window's language; the caption the interface file gave is set before either.
  if (!ApplyLanguage("TsLang.ini")) {
    platform::ShowWarning("Sprachdatei fehlt.\nNo language file.\n\n[TsLang.ini]");
  }
  if (count == 2) LoadBothPictures();
}

void TFormMain::LoadSettings() {
  const TSettings settings = ReadSettings(SettingsFileToRead());
  FController->SetExifOrientation(settings.ExifOrientation);
  FlickerIntervalMs = settings.FlickerMs;
  if (settings.Bounds) {
    const TWindowBounds& b = *settings.Bounds;
    // Bounds on no screen any more (a monitor unplugged) would open the window out of sight:
    // then the window system places it, with the stored size.
    const QRect outer(b.Left, b.Top, b.Width, b.Height);
    bool onScreen = false;
    for (const QScreen* screen : QGuiApplication::screens()) {
      const QRect seen = screen->availableGeometry().intersected(outer);
      onScreen = onScreen || (seen.width() >= 50 && seen.height() >= 30);
    }
    if (onScreen) move(b.Left, b.Top);
    // The minimum size still applies.
    resize(std::max(b.Width - MainFrameExtraWidth, minimumWidth()),
           std::max(b.Height - MainFrameExtraHeight, minimumHeight()));
  }
  ImageCount = settings.ImageCount;
  FullResolutionPrint = settings.FullResolution;
  FOpenDialog = settings.OpenDialog;
  {
    // As it was chosen last; nothing to write back.
    const QSignalBlocker quiet(FActionMatch);
    FActionMatch->setChecked(settings.MatchColours);
  }
  FController->SetColourMatch(settings.MatchColours);
  FController->SetCheckerSquare(settings.CheckerSquare);
}

platform::TStatus TFormMain::SaveSettings() {
  // The outer bounds as the window has them; the frame's share is fixed, so that bounds read
  // back give the same window whatever the window system's frame.
  TWindowBounds b;
  b.Top = pos().y();
  b.Left = pos().x();
  b.Height = height() + MainFrameExtraHeight;
  b.Width = width() + MainFrameExtraWidth;
  PrepareSettingsWrite();
  return WriteSettings(SettingsFile, b);
}

void TFormMain::PrepareSettingsWrite() const {
  // A first write into the user's folder starts from the settings read so far (an
  // administrator's copy), so that keys this write does not touch keep their values.
  if (!SettingsSource.empty()) platform::PrepareToWrite({SettingsSource, SettingsFile});
}

int TFormMain::ReadInterfaceFile() {
  const TInterfaceStart start = ReadInterfaceStart();
  platform::ShowFailure(start.Status);
  if (start.Count > 1) {
    setWindowTitle(QString::fromStdString(start.Caption));
    FController->SetImageFile1(start.ImageFile1);
    FController->SetImageFile2(start.ImageFile2);
    FController->SetPictureScale(start.ImageFile1, start.Pp100MM1);
    FController->SetPictureScale2(start.ImageFile2, start.Pp100MM2);
    FController->SetVisitDate(1, start.ImageFile1, start.Date1, start.Time1);
    FController->SetVisitDate(2, start.ImageFile2, start.Date2, start.Time2);
    for (const int outside : {start.OutsidePp100MM1, start.OutsidePp100MM2}) {
      if (outside != 0)
        platform::ShowMessage(Tr(InterfaceScaleOutsideText, std::to_string(outside)));
    }
    // The patient holds for these two pictures only (PicturesLoaded decides it again).
    FSession.SetNamed(NamedComparisonOf(start));
    FSession.DecidePatient(*FController);
    ShowCaption();
  }
  return start.Count;
}

void TFormMain::LoadBothPictures() {
  TMainController& c = *FController;
  const std::string one = c.ImageFile1(), two = c.ImageFile2();
  c.ShowPath(TField::EditImage1, one);
  c.ShowPath(TField::EditImage2, two);
  // Both pictures decode at once in the background; the window is on screen meanwhile and keeps
  // drawing itself, with the wait cursor, but takes no input until both are in.
  if (!isVisible()) show();
  QGuiApplication::setOverrideCursor(Qt::WaitCursor);
  const auto restoreCursor = qScopeGuard([] { QGuiApplication::restoreOverrideCursor(); });
  c.LoadBothImages(one, two,
                   [] { QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents); });
  PicturesLoaded();
}

void TFormMain::ShowEnabled(bool Enabled) {
  // The bars draw their disabled look themselves; their hosts follow, so that a disabled bar
  // takes no input at all.
  for (const auto& w : FBarHosts) {
    if (w != nullptr) w->setEnabled(Enabled);
  }
  FButtonAssistent->setEnabled(Enabled);
  FControlsEnabled = Enabled;
  FButtonAutoAlign->setEnabled(Enabled && !FAligning);
  FBitBtnPrint->setEnabled(Enabled);
  for (QAction* command : FCommands) command->setEnabled(Enabled);
  if (FActionFlicker != nullptr) {
    if (!Enabled) FActionFlicker->setChecked(false);
    FActionFlicker->setEnabled(Enabled);
  }
  // The scale bar needs picture 1 with a known scale only.
  if (FActionScaleBar != nullptr) {
    const QSignalBlocker quiet(FActionScaleBar);
    FActionScaleBar->setEnabled(FController->ScaleBarAvailable());
    FActionScaleBar->setChecked(FController->ScaleBarShown());
  }
  // A menu of greyed entries only says that nothing can be done: then there is none.
  const bool anyAid = Enabled || (FActionScaleBar != nullptr && FActionScaleBar->isEnabled());
  FImgViewHost->setContextMenuPolicy(anyAid ? Qt::ActionsContextMenu : Qt::NoContextMenu);
}

void TFormMain::PrepareOpenPictureDialog(QFileDialog& Dialog) const {
  QStringList filters;
  for (const std::string& f :
       PictureDialogFilters(ImportedExtensions(), Tr(AllPicturesText), Tr(AllFilesText))) {
    filters << QString::fromStdString(f);
  }
  SetComponentName(Dialog, "OpenPictureDialog");
  Dialog.setWindowTitle(QString::fromStdString(Tr(OpenPictureTitle)));
  Dialog.setFileMode(QFileDialog::ExistingFile);
  Dialog.setAcceptMode(QFileDialog::AcceptOpen);
  // "Alle Bilder" with its forty patterns would fill the screen's width.
  Dialog.setOption(QFileDialog::HideNameFilterDetails);
  Dialog.setNameFilters(filters);
  QString chosen = filters.front();
  for (const QString& f : filters) {
    if (FilterPatterns(f.toStdString()) == FOpenDialog.Filter) chosen = f;
  }
  Dialog.selectNameFilter(chosen);
  if (!FOpenDialog.Folder.empty() &&
      QFileInfo(QString::fromStdString(FOpenDialog.Folder)).isDir()) {
    Dialog.setDirectory(QString::fromStdString(FOpenDialog.Folder));
  }
  // The folders of the recent pictures in the dialog's sidebar, after its own places.
  QList<QUrl> places = Dialog.sidebarUrls();
  for (const std::string& picture : FOpenDialog.Recent) {
    const QUrl folder =
        QUrl::fromLocalFile(QFileInfo(QString::fromStdString(picture)).absolutePath());
    if (!places.contains(folder)) places << folder;
  }
  Dialog.setSidebarUrls(places);
}

std::string TFormMain::RunOpenPictureDialog() {
  QFileDialog dialog(this);
  PrepareOpenPictureDialog(dialog);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  const std::string path = dialog.selectedFiles().front().toStdString();
  // With the details hidden the dialog names the filter without its patterns.
  const QString chosen = dialog.selectedNameFilter();
  for (const QString& f : dialog.nameFilters()) {
    if (f == chosen || f.startsWith(chosen + QStringLiteral(" ("))) {
      FOpenDialog.Filter = FilterPatterns(f.toStdString());
    }
  }
  FOpenDialog.Folder = QFileInfo(dialog.selectedFiles().front()).absolutePath().toStdString();
  return path;
}

bool TFormMain::OpenPicture(int Picture, const std::string& Path) {
  SaveRecordNow();  // the comparison that is left
  const bool loaded = Picture == 1 ? FController->LoadImage1(Path) : FController->LoadImage2(Path);
  if (loaded) {
    PicturesLoaded();
    FOpenDialog.Recent =
        WithRecentPicture(std::move(FOpenDialog.Recent),
                          QFileInfo(QString::fromStdString(Path)).absoluteFilePath().toStdString());
    StoreSetting([this] { return WriteOpenDialogSettings(SettingsFile, FOpenDialog); });
  }
  return loaded;
}

void TFormMain::PicturesLoaded() {
  FRecordTimer->stop();
  TMainController& c = *FController;
  FSession.SetFolder(RecordFolder);
  const TRecordSession::TOpened opened = FSession.Open(c);
  // Another picture than the ones the interface file named has no patient of its, or its own.
  ShowCaption();
  switch (opened.Found) {
    case TRecordSession::TFound::Refused:
      // Told once; the file stays as it is and this comparison keeps no record.
      platform::ShowFailure(opened.Status);
      break;
    case TRecordSession::TFound::Offered:
      if (platform::AskYesNo(Tr(RestoreRecordText))) {
        FSession.Accept(c);
        ShowAppliedRecord();
      } else {
        // Left in its file untouched; nothing of it plays a part.
        FSession.Decline();
      }
      break;
    case TRecordSession::TFound::None:
    case TRecordSession::TFound::Unkept:
      break;
  }
  ShowStatus();
}

void TFormMain::ShowCaption() {
  // An interface file that names nobody keeps the caption it gave while its pictures show.
  if (!FSession.Patient().Known() &&
      NamedPicturesShown(FSession.Named(), FController->ImageFile1(), FController->ImageFile2())) {
    return;
  }
  setWindowTitle(QString::fromStdString(PatientCaption(FSession.Patient())));
}

void TFormMain::ShowAppliedRecord() {
  for (const auto& [action, mode] : ModeActions()) {
    const QSignalBlocker quiet(action);
    action->setChecked(FController->DrawnMode() == mode);
  }
  const QSignalBlocker quiet(FActionMatch);
  FActionMatch->setChecked(FController->ColourMatchOn());
}

void TFormMain::ScheduleRecordSave() {
  FSession.Changed();
  if (FSession.Keeps()) FRecordTimer->start();
}

void TFormMain::SaveRecordNow() {
  if (FRecordTimer == nullptr) return;
  FRecordTimer->stop();
  // A record that cannot be written is told once, not at every change.
  platform::ShowFailure(FSession.SaveIfChanged(*FController));
  ShowStatus();
}

void TFormMain::SetNotes(std::string Notes) {
  FSession.SetNotes(std::move(Notes));
  ScheduleRecordSave();
}

void TFormMain::StoreSetting(const std::function<platform::TStatus()>& Write) {
  // A convenience: a settings file that cannot be written loses the choice, not the work, and
  // Close still tells that the file cannot be written.
  PrepareSettingsWrite();
  static_cast<void>(Write());
}

std::unique_ptr<QMenu> TFormMain::RecentMenu(int Picture) {
  auto menu = std::make_unique<QMenu>(this);
  menu->setObjectName(QStringLiteral("MenuRecent%1").arg(Picture));
  menu->setTitle(QString::fromStdString(Tr(RecentPicturesText)));
  for (const std::string& path : FOpenDialog.Recent) {
    const QFileInfo file(QString::fromStdString(path));
    // The name first, so that the list reads at a glance; the folder tells two alike apart.
    QAction* entry =
        menu->addAction(file.fileName() + QStringLiteral("  —  ") + file.absolutePath());
    connect(entry, &QAction::triggered, this,
            [this, Picture, path] { OpenPicture(Picture, path); });
  }
  if (FOpenDialog.Recent.empty()) {
    menu->addAction(QString::fromStdString(Tr(NoRecentPicturesText)))->setEnabled(false);
  }
  return menu;
}

void TFormMain::ButtonImage1Click() {
  const std::string path = ChooseFile ? ChooseFile() : std::string();
  if (path.empty()) return;
  OpenPicture(1, path);
}

void TFormMain::ButtonImage2Click() {
  const std::string path = ChooseFile ? ChooseFile() : std::string();
  if (path.empty()) return;
  OpenPicture(2, path);
}

void TFormMain::ButtonCloseClick() {
  // A settings file that cannot be written is told, in the window's language, and the window
  // stays open.
  if (const platform::TStatus saved = SaveSettings(); !saved) {
    platform::ShowFailure(saved);
    return;
  }
  close();
}

void TFormMain::BitBtnPrintClick() {
  FActionFlicker->setChecked(false);  // the captures show the overlay as its sliders say
  TPrintExtras extras;
  extras.Patient = FSession.Patient();
  extras.Measures = FController->Measures();
  extras.Notes = FSession.Notes();
  extras.FullResolution = FullResolutionPrint;
  PrintComparisonWith(*this, *FController, ImageCount,
                      platform::LocateProgramFile("output.html").Read, extras);
}

void TFormMain::ExportClick(TExportKind Kind) {
  const std::string path = ChooseExportFile ? ChooseExportFile(Kind) : std::string();
  if (path.empty()) return;
  ExportWithWaitCursor(*FController, Kind, path, FController->MeasureFrame().Pp100MM1);
}

std::string TFormMain::SettingsFileToRead() const {
  return platform::FileExists(SettingsFile) || SettingsSource.empty() ? SettingsFile
                                                                      : SettingsSource;
}

TDicomExport TFormMain::DicomRequest(const std::string& Folder) const {
  TDicomExport request;
  request.Folder = Folder;
  request.Patient = DicomPatientOf(FSession.Patient());
  request.KeptStudyInstanceUid = FSession.StudyInstanceUid();
  request.ImageCount = ImageCount;
  return request;
}

void TFormMain::PacsSendClick() {
  const platform::TResult<TPacsSettings> settings = ReadPacsSettings(SettingsFileToRead());
  if (!settings) return platform::ShowFailure(settings.Status());
  std::unique_ptr<TDicomExportJob> job;
  std::string digest, folder;
  if (FController->ControlsEnabled()) {
    FActionFlicker->setChecked(false);  // the captures show the overlay as its sliders say
    const TDicomTexts texts = DicomTextsOfLanguage();
    digest = DicomExportDigest(*FController, FSession.Comparison(*FController), DicomRequest());
    // Sent before as it is now: only what still waits goes (the retry after a failure), unless
    // nothing waits and the user wants it sent again, as a new series.
    const bool waiting = !TOutbox(TOutbox::UserOutboxFolder()).Waiting().empty();
    if (digest != FSession.SentDigest() ||
        (!waiting && platform::AskYesNo(Tr(PacsUnchangedText)))) {
      // The objects are made in a private folder of their own, from which they join the outbox.
      // Named for this process, so that the next start removes it should this run end abruptly.
      std::string error;
      const std::string temp = platform::TempDirectory(&error);
      folder = platform::ProcessFolderPattern(temp + PacsFolderPrefix);
      if (temp.empty() || ::mkdtemp(folder.data()) == nullptr) {
        platform::ShowWarning(Tr(PrintNoFolderText, temp.empty() ? error : folder));
        return;
      }
      job = std::make_unique<TDicomExportJob>(*FController, DicomRequest(folder), texts);
    } else if (!waiting) {
      return;
    }
  }
  const auto removeFolder = qScopeGuard([&] {
    std::error_code ec;
    if (!folder.empty()) std::filesystem::remove_all(folder, ec);
  });
  if (job != nullptr && !job->Refusal()) return platform::ShowFailure(job->Refusal());
  const TPacsSendOutcome outcome =
      RunLongWork([&] { return SendToPacsWithProgress(this, settings.Value(), job.get()); });
  if (job != nullptr && outcome.Exported.Status && outcome.Run) {
    // In the outbox: it goes with this send or the next, and is not made again unchanged.
    FSession.SetStudyInstanceUid(outcome.Exported.StudyInstanceUid);
    FSession.SetSentDigest(digest);
    SaveRecordNow();
  }
  TellPacsSend(outcome);
}

void TFormMain::DicomExportClick() {
  const std::string folder = ChooseDicomFolder ? ChooseDicomFolder() : std::string();
  if (folder.empty()) return;
  // The patient's objects go only into a folder of the user's alone: a folder the dialog's New
  // Folder button made is open to others, and the user is offered to close it.
  switch (platform::FolderPrivacy(folder)) {
    case platform::TFolderPrivacy::OwnOpen:
      if (!platform::AskYesNo(Tr(DicomFolderOpenText, folder))) return;
      if (std::string error; !platform::MakeOwnFolderPrivate(folder, &error)) {
        platform::ShowWarning(Tr(DicomNoFolderText) + "\n" + error);
        return;
      }
      break;
    case platform::TFolderPrivacy::Foreign:
      platform::ShowWarning(Tr(DicomFolderForeignText, folder));
      return;
    case platform::TFolderPrivacy::NotFolder:
      platform::ShowWarning(Tr(DicomFolderNotFolderText, folder));
      return;
    case platform::TFolderPrivacy::Missing:
    case platform::TFolderPrivacy::Private:
      break;
  }
  if (ExportDicomInto(folder)) platform::ShowMessage(Tr(DicomExportDoneText, folder));
}

bool TFormMain::ExportDicomInto(const std::string& Folder) {
  FActionFlicker->setChecked(false);  // the captures show the overlay as its sliders say
  TDicomExportJob job(*FController, DicomRequest(Folder), DicomTextsOfLanguage());
  if (!job.Refusal()) {
    platform::ShowFailure(job.Refusal());
    return false;
  }
  const TDicomExportOutcome outcome =
      RunLongWork([&] { return ExportDicomWithProgress(this, job); });
  if (outcome.Status && outcome.StudyInstanceUid != FSession.StudyInstanceUid()) {
    FSession.SetStudyInstanceUid(outcome.StudyInstanceUid);
    SaveRecordNow();
  }
  return bool(outcome.Status);
}

void TFormMain::BitBtnInfoClick() {
  if (OnInfo) OnInfo();
}

void TFormMain::ButtonAssistentClick() {
  // Every run starts from the overlay at the sliders' start, one step of the history; when
  // picture 2 can no longer be read, the overlay as it is stays and the assistant does not open.
  if (!FController->BeginAssistant()) return;
  const bool aligned = OnAssistent && OnAssistent(Edit(TField::EditImage1)->text().toStdString(),
                                                  Edit(TField::EditImage2)->text().toStdString());
  // Cancelled, the overlay goes back where it stood and the history as it was.
  FController->EndAssistant(aligned);
  FImgViewHost->setFocus(Qt::OtherFocusReason);  // the keys nudge the overlay just placed
}

void TFormMain::ButtonAutoAlignClick() {
  if (FAligning) return;
  QGuiApplication::setOverrideCursor(Qt::WaitCursor);
  std::uint64_t generation = 0;
  std::shared_ptr<TAlignmentJob> job = FController->PrepareAutoAlign(&generation);
  if (job == nullptr) {
    QGuiApplication::restoreOverrideCursor();
    return;
  }
  FAligning = true;
  FButtonAutoAlign->setEnabled(false);
  if (FAlignWorker.joinable()) FAlignWorker.join();  // the last one has posted its result
  FAlignWorker = std::thread([this, job, generation] {
    const TAutoAlignResult result = job->Run();
    // Queued to this window's thread; dropped if the window has gone meanwhile.
    QMetaObject::invokeMethod(
        this, [this, result, generation] { AutoAlignDone(result, generation); },
        Qt::QueuedConnection);
  });
}

void TFormMain::AutoAlignDone(const TAutoAlignResult& Result, std::uint64_t Generation) {
  if (FWorking) {
    // Long work reads the controller on its thread: the placement waits until it has ended.
    FAlignWaiting = [this, Result, Generation] { AutoAlignDone(Result, Generation); };
    return;
  }
  FAligning = false;
  QGuiApplication::restoreOverrideCursor();
  FButtonAutoAlign->setEnabled(FControlsEnabled);
  // Pictures changed meanwhile make the result stale: it is dropped without a word.
  FController->ApplyAutoAlign(Result, Generation);
  // The button was pressed last; left with the focus, Space would press the print button
  // that the focus moved on to.
  FImgViewHost->setFocus(Qt::OtherFocusReason);
}

void TFormMain::resizeEvent(QResizeEvent* Event) {
  QWidget::resizeEvent(Event);
  LayoutPanels();
}

void TFormMain::LayoutPanels() {
  // The two bottom panels are bottom-aligned, the picture panel fills what is left above them.
  const int w = width(), h = height();
  const int controlsTop = std::max(0, h - PanelControlsHeight);
  const int nameTop = std::max(0, controlsTop - PanelNameHeight);
  const int statusTop = std::max(0, nameTop - StatusBarHeight);
  FPanelControls->setGeometry(0, controlsTop, w, PanelControlsHeight);
  FPanelName->setGeometry(0, nameTop, w, PanelNameHeight);
  FPanelStatus->setGeometry(0, statusTop, w, StatusBarHeight);
  // The mode on the right, the position on the left, 8 pixels in from the edges.
  FLabelStatusPosition->setGeometry(8, 0, w / 2 - 8, StatusBarHeight);
  // When the comparison was last saved, at the right end; the mode before it.
  const int savedWidth = std::min(StatusSavedWidth, std::max(0, w / 4));
  FLabelStatusSaved->setGeometry(w - 8 - savedWidth, 0, savedWidth, StatusBarHeight);
  FLabelStatusMode->setGeometry(w / 2, 0, std::max(0, w - w / 2 - 24 - savedWidth),
                                StatusBarHeight);
  FPanelImage->setGeometry(0, 0, w, statusTop);
  FImgViewHost->setGeometry(PanelBevel, PanelBevel, std::max(0, w - 2 * PanelBevel),
                            std::max(0, statusTop - 2 * PanelBevel));
  if (FPanelControls->width() != FLastControlsWidth) {
    FLastControlsWidth = FPanelControls->width();
    PanelControlsResize();
  }
}

void TFormMain::PanelControlsResize() {
  const QWidget* gauge1 = FBarHosts[0].get();
  // The column's width is that of ButtonImage1 above the read-outs: the placing read-outs are
  // wider only into the space before the right column.
  const TBottomPanelLayout l = PanelControlsLayout(width(), gauge1->x(), FButtonImage1->width(),
                                                   Edit(TField::EditZoom)->width(),
                                                   FBitBtnInfo->width(), FBitBtnPrint->width());
  const auto setWidth = [](QWidget* W, int Width) { W->resize(Width, W->height()); };
  const auto setLeft = [](QWidget* W, int Left) { W->move(Left, W->y()); };

  setWidth(FBarHosts[1].get(), l.SliderWidth);  // GaugeBar2
  setLeft(Edit(TField::EditX), l.LeftEditLeft);
  setWidth(FBarHosts[2].get(), l.SliderWidth);  // GaugeBar3
  setLeft(Edit(TField::EditY), l.LeftEditLeft);
  setWidth(FBarHosts[0].get(), l.SliderWidth);  // GaugeBar1
  setLeft(Edit(TField::EditAngle), l.LeftEditLeft);
  setWidth(FBarHosts[4].get(), l.SliderWidth);  // GaugeBar5
  setLeft(Edit(TField::EditZoomOvl), l.LeftEditLeft);
  setWidth(Edit(TField::EditImage1), l.SliderWidth);
  setLeft(FButtonImage1, l.LeftEditLeft);

  setLeft(FLabelImage2, l.RightColumn);
  setLeft(Edit(TField::EditImage2), l.RightSliderLeft);
  setWidth(Edit(TField::EditImage2), l.SliderWidth);
  setLeft(FButtonImage2, l.RightEditLeft);
  setLeft(FLabelTransp, l.RightColumn);
  setLeft(FLabelZoom, l.RightColumn);
  setLeft(FBarHosts[5].get(), l.RightSliderLeft);  // GaugeAlpha
  setWidth(FBarHosts[5].get(), l.SliderWidth);
  setLeft(Edit(TField::EditTransp), l.RightEditLeft);
  setLeft(FBarHosts[3].get(), l.RightSliderLeft);  // GaugeBar4
  setWidth(FBarHosts[3].get(), l.SliderWidth);
  setLeft(Edit(TField::EditZoom), l.RightEditLeft);
  setLeft(FButtonAssistent, l.RightSliderLeft);
  setLeft(FButtonAutoAlign, l.ButtonAutoAlignLeft);

  setWidth(FButtonClose, l.ButtonCloseWidth);
  setLeft(FButtonClose, l.ButtonCloseLeft);
  setLeft(FBitBtnInfo, l.BitBtnInfoLeft);
  setLeft(FBitBtnPrint, l.BitBtnPrintLeft);
}

}  // namespace overlay
