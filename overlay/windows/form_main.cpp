#include "overlay/windows/form_main.h"

#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QEventLoop>
#include <QFileInfo>
#include <QFrame>
#include <QGuiApplication>
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
#include <QTimer>
#include <QToolButton>
#include <QUrl>

#include "overlay/base/texts.h"
#include "overlay/windows/export_menu.h"
#include "overlay/windows/icons.h"
#include "overlay/windows/notes_dialog.h"
#include "overlay/windows/open_picture_dialog.h"
#include "overlay/windows/sprache.h"
#include "overlay/windows/widget_factory.h"
#include "overlay/windows/window_layout.h"
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

}  // namespace

TFormMain::TFormMain(TFormMainHooks Hooks, QWidget* Parent)
    : QWidget(Parent),
      FHooks(std::move(Hooks)),
      FSession(FHooks.RecordFolder),
      FController(std::make_unique<TMainController>()) {
  SetComponentName(*this, "FormMain");
  setWindowTitle(QStringLiteral("Tessaly"));
  setMinimumSize(MainMinClientWidth, MainMinClientHeight);
  setAcceptDrops(true);
  RegisterProgramWindow(this);
  const platform::TProgramFileLocation settings =
      FHooks.SettingsFile.empty()
          ? platform::LocateProgramFile("Tessaly.ini")
          : platform::TProgramFileLocation{FHooks.SettingsSource, FHooks.SettingsFile};
  FSettingsFile = settings.Write;
  FSettingsSource = settings.Read;
  BuildControls();
  WireControls();
  // The overlay controls start disabled.
  FController->UpdateControls();
  resize(MainClientWidth, MainClientHeight);
  LayoutPanels();
  // The keys reach the view's wherever the focus is, the bars' presses make history steps.
  for (QWidget* child : findChildren<QWidget*>()) {
    if (child->focusPolicy() != Qt::NoFocus) child->installEventFilter(this);
  }
}

void TFormMain::BuildControls() {
  TMainController& c = *FController;
  // The controls in the order they are declared, at their created bounds.
  FPanelImage = MakePanel(this, "PanelImage");
  FPanelImage->setGeometry(0, 0, MainClientWidth, StatusTop);
  FImgViewHost.reset(MakeNamed<platform::TControlHostWidget>("ImgView", c.ImgView(), FPanelImage));
  FImgViewHost->setGeometry(PanelBevel, PanelBevel, MainViewWidth, MainViewHeight);

  FStatusBar = std::make_unique<TStatusBar>(this, StatusTop, MainClientWidth);

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
}

void TFormMain::WireControls() {
  TMainController& c = *FController;
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
  for (const auto& [button, picture] : {std::pair{FButtonImage1, 1}, std::pair{FButtonImage2, 2}}) {
    button->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(button, &QWidget::customContextMenuRequested, this,
            [this, button = button, picture = picture](const QPoint& At) {
              RecentMenu(picture)->exec(button->mapToGlobal(At));
            });
  }
  connect(FButtonImage2, &QPushButton::clicked, this, [this] { ButtonImage2Click(); });
  connect(FBitBtnInfo, &QToolButton::clicked, this, [this] {
    if (FHooks.OnInfo) FHooks.OnInfo();
  });
  connect(FButtonAssistent, &QPushButton::clicked, this, [this] { ButtonAssistentClick(); });
  FOutput = std::make_unique<TComparisonOutput>(
      *this, *FBitBtnPrint, c, FSession, FSettings,
      TOutputWiring{[this](TExportKind Kind) {
                      return FHooks.ChooseExportFile
                                 ? FHooks.ChooseExportFile(Kind)
                                 : RunExportDialog(this, FSettings.OpenDialog.Folder);
                    },
                    [this] {
                      return FHooks.ChooseDicomFolder
                                 ? FHooks.ChooseDicomFolder()
                                 : RunDicomFolderDialog(this, FSettings.OpenDialog.Folder);
                    },
                    [this] { return SettingsFileToRead(); }, [this] { FViewMenu->StopFlicker(); },
                    [this] { SaveRecordNow(); }, [this] { FAutoAlign->BusyEnded(); }});
  FAutoAlign = std::make_unique<TAutoAlignRun>(*FButtonAutoAlign, *FImgViewHost, c,
                                               [this] { return FOutput->Working(); });

  FViewEvents = std::make_unique<TViewEvents>(
      *FImgViewHost, c,
      TViewEventsWiring{[this] { ShowStatus(); }, [this] { FViewMenu->ShowMeasureTool(); }});
  // The view's menu; the history waits while a thumb is held, but not for a release that went
  // elsewhere.
  FViewMenu = std::make_unique<TViewMenu>(
      *this, *FImgViewHost, c,
      TViewMenuWiring{[this] { ShowStatus(); }, [this] { ScheduleRecordSave(); },
                      [this](bool On) {
                        StoreSetting([this, On] {
                          return WriteMatchColours(FSettingsFile, On);
                        });  // the next start
                      },
                      [this] { return FViewEvents->MeasureAt(); },
                      [this](raster::TPoint At) { FViewEvents->RenameMeasureAt(At); },
                      [this] {
                        if (std::optional<std::string> text = EditNotes(this, FSession.Notes())) {
                          SetNotes(std::move(*text));
                        }
                      },
                      [this] {
                        if (FBarGesture && QGuiApplication::mouseButtons() == Qt::NoButton) {
                          FBarGesture = false;
                          FController->EndGesture();
                        }
                      }});
}

void TFormMain::FlickerTick() {
  FViewMenu->FlickerTick();
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
  FViewMenu->StopFlicker();
  if (FViewEvents->Key(*Event)) {
    Event->accept();
    return;
  }
  QWidget::keyPressEvent(Event);
}

void TFormMain::ShowStatus() {
  // Not for a read-out set while the window is still being built.
  if (FStatusBar == nullptr || FViewEvents == nullptr) return;
  FStatusBar->Show(*FController, FViewEvents->MouseOverView(), FSession);
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
  if (Watched != FImgViewHost.get() && Event->type() == QEvent::KeyPress) {
    FViewMenu->StopFlicker();
    if (FViewEvents->Key(*static_cast<QKeyEvent*>(Event))) return true;
  }
  return QWidget::eventFilter(Watched, Event);
}

TFormMain::~TFormMain() {
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
  FSettings = ReadSettings(SettingsFileToRead());
  FController->SetExifOrientation(FSettings.ExifOrientation);
  FViewMenu->SetFlickerInterval(FSettings.FlickerMs);
  if (FSettings.Bounds) {
    std::vector<TScreenArea> screens;
    for (const QScreen* screen : QGuiApplication::screens()) {
      const QRect r = screen->availableGeometry();
      screens.push_back({r.x(), r.y(), r.width(), r.height()});
    }
    const TStoredPlacement p =
        PlaceStoredBounds(*FSettings.Bounds, screens, minimumWidth(), minimumHeight());
    if (p.Move) move(FSettings.Bounds->Left, FSettings.Bounds->Top);
    resize(p.ClientWidth, p.ClientHeight);
  }
  FViewMenu->ShowMatch(FSettings.MatchColours);  // as it was chosen last; nothing to write back
  FController->SetColourMatch(FSettings.MatchColours);
  FController->SetCheckerSquare(FSettings.CheckerSquare);
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
  return WriteSettings(FSettingsFile, b);
}

void TFormMain::PrepareSettingsWrite() const {
  // A first write into the user's folder starts from the settings read so far (an
  // administrator's copy), so that keys this write does not touch keep their values.
  if (!FSettingsSource.empty()) platform::PrepareToWrite({FSettingsSource, FSettingsFile});
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
  if (FAutoAlign != nullptr) FAutoAlign->ShowEnabled(Enabled);
  FBitBtnPrint->setEnabled(Enabled);
  if (FViewMenu != nullptr) FViewMenu->ShowEnabled(Enabled);
}

void TFormMain::PrepareOpenPictureDialog(QFileDialog& Dialog) const {
  overlay::PrepareOpenPictureDialog(Dialog, FSettings.OpenDialog);
}

std::unique_ptr<QMenu> TFormMain::RecentMenu(int Picture) {
  return RecentPicturesMenu(
      this, Picture, FSettings.OpenDialog.Recent,
      [this, Picture](const std::string& Path) { OpenPicture(Picture, Path); });
}

bool TFormMain::OpenPicture(int Picture, const std::string& Path) {
  SaveRecordNow();  // the comparison that is left
  const bool loaded = Picture == 1 ? FController->LoadImage1(Path) : FController->LoadImage2(Path);
  if (loaded) {
    PicturesLoaded();
    FSettings.OpenDialog.Recent =
        WithRecentPicture(std::move(FSettings.OpenDialog.Recent),
                          QFileInfo(QString::fromStdString(Path)).absoluteFilePath().toStdString());
    StoreSetting([this] { return WriteOpenDialogSettings(FSettingsFile, FSettings.OpenDialog); });
  }
  return loaded;
}

void TFormMain::PicturesLoaded() {
  FRecordTimer->stop();
  const TRecordSession::TOpened opened = FSession.Open(*FController);
  // Another picture than the ones the interface file named has no patient of its, or its own.
  ShowCaption();
  // A refusal is told once; the file stays as it is and this comparison keeps no record.
  if (opened.Found == TRecordSession::TFound::Refused) platform::ShowFailure(opened.Status);
  // The window's entries follow what an applied record set on the controller.
  if (FSession.Offer(*FController, [] { return platform::AskYesNo(Tr(RestoreRecordText)); })) {
    FViewMenu->ShowDrawing();
  }
  ShowStatus();
}

void TFormMain::ShowCaption() {
  const std::optional<std::string> caption =
      FSession.Caption(FController->ImageFile1(), FController->ImageFile2());
  if (caption) setWindowTitle(QString::fromStdString(*caption));
}

void TFormMain::ScheduleRecordSave() {
  if (FSession.Changed()) FRecordTimer->start();
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

void TFormMain::OpenChosenPicture(int Picture) {
  const std::string path = FHooks.ChooseFile
                               ? FHooks.ChooseFile()
                               : overlay::RunOpenPictureDialog(this, FSettings.OpenDialog);
  if (!path.empty()) OpenPicture(Picture, path);
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
  FOutput->Print();
}

std::string TFormMain::SettingsFileToRead() const {
  return platform::FileExists(FSettingsFile) || FSettingsSource.empty() ? FSettingsFile
                                                                        : FSettingsSource;
}

void TFormMain::ButtonAssistentClick() {
  // Every run starts from the overlay at the sliders' start, one step of the history; when
  // picture 2 can no longer be read, the overlay as it is stays and the assistant does not open.
  if (!FController->BeginAssistant()) return;
  const bool aligned =
      FHooks.OnAssistent && FHooks.OnAssistent(Edit(TField::EditImage1)->text().toStdString(),
                                               Edit(TField::EditImage2)->text().toStdString());
  // Cancelled, the overlay goes back where it stood and the history as it was.
  FController->EndAssistant(aligned);
  FImgViewHost->setFocus(Qt::OtherFocusReason);  // the keys nudge the overlay just placed
}

void TFormMain::resizeEvent(QResizeEvent* Event) {
  QWidget::resizeEvent(Event);
  LayoutPanels();
}

void TFormMain::LayoutPanels() {
  const int w = width(), h = height();
  const TMainPanelsLayout p = MainPanelsLayout(w, h, TStatusBar::SavedWidth);
  FPanelControls->setGeometry(0, p.ControlsTop, w, PanelControlsHeight);
  FPanelName->setGeometry(0, p.NameTop, w, PanelNameHeight);
  FStatusBar->Place(p, w);
  FPanelImage->setGeometry(0, 0, w, p.StatusTop);
  FImgViewHost->setGeometry(PanelBevel, PanelBevel, std::max(0, w - 2 * PanelBevel),
                            std::max(0, p.StatusTop - 2 * PanelBevel));
  // The bottom panels' controls for the client width, when it changed.
  if (FPanelControls->width() == FLastControlsWidth) return;
  FLastControlsWidth = FPanelControls->width();
  const QWidget* gauge1 = FBarHosts[0].get();
  // The column's width is that of ButtonImage1 above the read-outs: the placing read-outs are
  // wider only into the space before the right column.
  const TBottomPanelLayout l = PanelControlsLayout(width(), gauge1->x(), FButtonImage1->width(),
                                                   Edit(TField::EditZoom)->width(),
                                                   FBitBtnInfo->width(), FBitBtnPrint->width());
  // Each control's new left and width; Kept leaves it as it is.
  constexpr int Kept = -1;
  const auto e = [this](TField Field) { return Edit(Field); };
  const auto b = [this](int Index) { return FBarHosts[std::size_t(Index)].get(); };
  const std::initializer_list<std::tuple<QWidget*, int, int>> places{
      {b(1), Kept, l.SliderWidth},  // GaugeBar2
      {e(TField::EditX), l.LeftEditLeft, Kept},
      {b(2), Kept, l.SliderWidth},  // GaugeBar3
      {e(TField::EditY), l.LeftEditLeft, Kept},
      {b(0), Kept, l.SliderWidth},  // GaugeBar1
      {e(TField::EditAngle), l.LeftEditLeft, Kept},
      {b(4), Kept, l.SliderWidth},  // GaugeBar5
      {e(TField::EditZoomOvl), l.LeftEditLeft, Kept},
      {e(TField::EditImage1), Kept, l.SliderWidth},
      {FButtonImage1, l.LeftEditLeft, Kept},
      {FLabelImage2, l.RightColumn, Kept},
      {e(TField::EditImage2), l.RightSliderLeft, l.SliderWidth},
      {FButtonImage2, l.RightEditLeft, Kept},
      {FLabelTransp, l.RightColumn, Kept},
      {FLabelZoom, l.RightColumn, Kept},
      {b(5), l.RightSliderLeft, l.SliderWidth},  // GaugeAlpha
      {e(TField::EditTransp), l.RightEditLeft, Kept},
      {b(3), l.RightSliderLeft, l.SliderWidth},  // GaugeBar4
      {e(TField::EditZoom), l.RightEditLeft, Kept},
      {FButtonAssistent, l.RightSliderLeft, Kept},
      {FButtonAutoAlign, l.ButtonAutoAlignLeft, Kept},
      {FButtonClose, l.ButtonCloseLeft, l.ButtonCloseWidth},
      {FBitBtnInfo, l.BitBtnInfoLeft, Kept},
      {FBitBtnPrint, l.BitBtnPrintLeft, Kept},
  };
  for (const auto& [control, left, width] : places) {
    control->setGeometry(left == Kept ? control->x() : left, control->y(),
                         width == Kept ? control->width() : width, control->height());
  }
}

}  // namespace overlay
