#include "overlay/windows/assistent.h"

#include <QEvent>
#include <QFrame>
#include <QGuiApplication>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QResizeEvent>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QTimer>
#include <algorithm>
#include <array>
#include <cstring>
#include <utility>
#include <vector>

#include "overlay/base/settings.h"
#include "overlay/decode/orientation.h"
#include "overlay/decode/picture_import.h"
#include "overlay/scene/picture_loading.h"
#include "overlay/windows/picture_view.h"
#include "overlay/windows/sprache.h"
#include "overlay/windows/widget_factory.h"
#include "platform/application.h"
#include "platform/message.h"
#include "platform/paths.h"
#include "raster/core.h"

namespace overlay {

QImage ToQImage(const raster::TBitmap32& Bitmap) {
  if (Bitmap.Empty()) return {};
  QImage image(Bitmap.Width(), Bitmap.Height(), QImage::Format_RGB32);
  if (image.isNull()) return {};
  const std::size_t rowBytes = std::size_t(Bitmap.Width()) * sizeof(raster::TColor32);
  for (int y = 0; y < Bitmap.Height(); ++y) {
    std::memcpy(image.scanLine(y), Bitmap.GetScanLine(y), rowBytes);
  }
  return image;
}

namespace {

constexpr int PanelTopHeight = 65;
constexpr int PanelBottomHeight = 33;
constexpr int MinHeight = 200;
// The top panel: the picture labels, then per point a label and its edit, in two rows.
constexpr int ImageLabelLeft = 16;
constexpr int LabelEditGap = 6;   // from a label to its edit
constexpr int ColumnGap = 14;     // from a label or edit to the next column's label
constexpr int PanelRightGap = 8;  // after the last edit
constexpr int EditHeight = 21;
constexpr int Row1EditTop = 8, Row2EditTop = 38;
// The bottom panel: the zoom buttons from the left, the three run buttons from the right.
constexpr int ButtonGap = 8;
constexpr int ButtonTop = 7;
constexpr int ButtonHeight = 20;
constexpr int Zoom100Width = 50, ZoomFitWidth = 67;
constexpr int ZoomGroupGap = 16;  // between the zoom buttons and "<< Zurück" at the least width

const QColor MarkColours[4] = {Qt::white, Qt::red, Qt::white, Qt::red};  // by TAssistentPoint

void SetBackground(QLabel* Label, const QColor& Colour) {
  QPalette p = Label->palette();
  p.setColor(QPalette::Window, Colour);
  Label->setPalette(p);
  Label->setAutoFillBackground(true);
}

// The width at which Edit shows Text whole, measured as the edit measures its own size: the
// text, the edit's inner margins and cursor, and the style's frame; and a little room, so that
// the last digit does not touch the frame.
int EditWidthFor(const QLineEdit& Edit, const QString& Text) {
  constexpr int InnerMargins = 2 * 2 + 1 + 3;  // QLineEdit's horizontal margins, cursor, room
  QStyleOptionFrame option;
  option.initFrom(&Edit);
  option.lineWidth = Edit.style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, &Edit);
  const QSize contents(Edit.fontMetrics().horizontalAdvance(Text) + InnerMargins, EditHeight);
  return Edit.style()->sizeFromContents(QStyle::CT_LineEdit, &option, contents, &Edit).width();
}

}  // namespace

TFormAssistent::TFormAssistent(QWidget* Parent, std::function<void(QWidget&)> ApplyLanguage)
    : QDialog(Parent) {
  SetComponentName(*this, "FormAssistent");
  setWindowTitle(QString::fromUtf8("Assistent für Positionierung"));
  setMinimumSize(200, MinHeight);
  SetPixelSize(this, 10);
  // The language file reaches the program's windows through this list.
  RegisterProgramWindow(this);

  const QColor white(Qt::white);
  const QColor red(Qt::red);

  // The labels' lefts and the edits' places are set by LayoutTopPanel; the tops stay.
  FPanelTop = MakePanel(this, "PanelTop");
  FAutoSized[0] = MakeLabel(FPanelTop, "LabelP1", "Punkt 1", 87, 10);
  SetBackground(FAutoSized[0], white);
  FAutoSized[1] = MakeLabel(FPanelTop, "LabelP2", "Punkt 2", 239, 12);
  SetTextColour(FAutoSized[1], red);
  SetPixelSize(FAutoSized[1], 11);
  FAutoSized[2] = MakeLabel(FPanelTop, "Label2P1", "Punkt 1", 87, 40);
  SetBackground(FAutoSized[2], white);
  FAutoSized[3] = MakeLabel(FPanelTop, "Label2P2", "Punkt 2", 239, 42);
  SetTextColour(FAutoSized[3], red);
  SetPixelSize(FAutoSized[3], 11);
  FAutoSized[4] = MakeLabel(FPanelTop, "LabelImage1", "Bild 1", ImageLabelLeft, 8);
  FAutoSized[5] = MakeLabel(FPanelTop, "LabelImage2", "Bild 2", ImageLabelLeft, 40);

  const std::array<std::pair<const char*, int>, 4> edits{{{"Edit1P1", Row1EditTop},
                                                          {"Edit1P2", Row1EditTop},
                                                          {"Edit2P1", Row2EditTop},
                                                          {"Edit2P2", Row2EditTop}}};
  for (std::size_t i = 0; i < edits.size(); ++i) {
    FEdits[i] = MakeReadOnlyEdit(FPanelTop, edits[i].first, {0, edits[i].second, 65, EditHeight},
                                 TEditFrame::Style);
  }

  FPanelBottom = MakePanel(this, "PanelBottom");
  const auto button = [this](const char* Name, const char* Text, QRect Bounds) {
    QPushButton* b = MakeButton(FPanelBottom, Name, Text, Bounds);
    // Enter in the dialog must not press "Fertig" behind the user's back.
    b->setAutoDefault(false);
    return b;
  };
  FButtonForw = button("ButtonForw", "Weiter >>", {223, ButtonTop, 67, ButtonHeight});
  FButtonOk = button("ButtonOk", "Fertig", {301, ButtonTop, 67, ButtonHeight});
  FButtonBack = button("ButtonBack", "<< Zurück", {143, ButtonTop, 69, ButtonHeight});
  for (QPushButton* b : {FButtonForw, FButtonOk, FButtonBack}) b->setEnabled(false);
  FButtonZoom100 =
      button("ButtonZoom100", "100 %", {ButtonGap, ButtonTop, Zoom100Width, ButtonHeight});
  FButtonZoomFit =
      button("ButtonZoomFit", "Einpassen",
             {ButtonGap + Zoom100Width + ButtonGap, ButtonTop, ZoomFitWidth, ButtonHeight});
  // A click on them must leave the keys 1 and 0 to the window.
  FButtonZoom100->setFocusPolicy(Qt::NoFocus);
  FButtonZoomFit->setFocusPolicy(Qt::NoFocus);
  FButtonZoom100->setToolTip(QString::fromUtf8("Ein Bildpixel je Bildschirmpixel (Taste 1)"));
  FButtonZoomFit->setToolTip(QString::fromUtf8("Das ganze Bild (Taste 0)"));
  FPanelBottom->installEventFilter(this);

  FImage = MakeNamed<TPictureView>("Image", this);
  FImage->OnPick = [this](TPointD Point) { ImageMouseDown(Point.X, Point.Y); };

  FTimerStart = MakeNamed<QTimer>("TimerStart", this);
  FTimerStart->setSingleShot(true);
  FTimerStart->setInterval(100);

  connect(FTimerStart, &QTimer::timeout, this, [this] { TimerStartTimer(); });
  connect(FButtonForw, &QPushButton::clicked, this, [this] { ButtonForwClick(); });
  connect(FButtonBack, &QPushButton::clicked, this, [this] { ButtonBackClick(); });
  connect(FButtonOk, &QPushButton::clicked, this, [this] { ButtonOkClick(); });
  connect(FButtonZoom100, &QPushButton::clicked, this, [this] { ButtonZoom100Click(); });
  connect(FButtonZoomFit, &QPushButton::clicked, this, [this] { ButtonZoomFitClick(); });

  resize(DefaultWidth, DefaultHeight);
  SyncControls();

  if (ApplyLanguage) ApplyLanguage(*this);
  // Labels size themselves to their texts, whichever language they now show.
  for (QLabel* label : FAutoSized) label->adjustSize();
  LayoutTopPanel();
}

TFormAssistent::~TFormAssistent() = default;

void TFormAssistent::LayoutTopPanel() {
  const auto widest = [this](int A, int B) {
    return std::max(FAutoSized[A]->width(), FAutoSized[B]->width());
  };
  const int editWidth = EditWidthFor(*FEdits[0], QString::fromLatin1(WidestPointText));
  const auto column = [&](int Left, int Label1, int Label2, int Edit1, int Edit2) {
    FAutoSized[Label1]->move(Left, FAutoSized[Label1]->y());
    FAutoSized[Label2]->move(Left, FAutoSized[Label2]->y());
    const int editLeft = Left + widest(Label1, Label2) + LabelEditGap;
    FEdits[Edit1]->setGeometry(editLeft, Row1EditTop, editWidth, EditHeight);
    FEdits[Edit2]->setGeometry(editLeft, Row2EditTop, editWidth, EditHeight);
    return editLeft + editWidth;
  };
  const int point1Left = ImageLabelLeft + widest(4, 5) + ColumnGap;
  const int point1Right = column(point1Left, 0, 2, apImage1Point1, apImage2Point1);
  const int point2Right = column(point1Right + ColumnGap, 1, 3, apImage1Point2, apImage2Point2);
  const int bottomWidth = FButtonZoomFit->geometry().right() + 1 + ZoomGroupGap +
                          FButtonBack->width() + FButtonForw->width() + FButtonOk->width() +
                          3 * ButtonGap;
  setMinimumSize(std::max(point2Right + PanelRightGap, bottomWidth), MinHeight);
}

void TFormAssistent::Prepare(const std::string& PathImage1, const std::string& PathImage2) {
  FLogic.PathImage1 = PathImage1;
  FLogic.PathImage2 = PathImage2;
  RestoreBounds();
  FTimerStart->start();
}

bool TFormAssistent::Run(const std::string& PathImage1, const std::string& PathImage2) {
  Prepare(PathImage1, PathImage2);
  return exec() == QDialog::Accepted;
}

void TFormAssistent::Open(const std::string& PathImage1, const std::string& PathImage2) {
  Prepare(PathImage1, PathImage2);
  open();
}

void TFormAssistent::done(int Result) {
  // A window closed before its run started must not start one while hidden.
  FTimerStart->stop();
  if (isVisible()) StoreBounds();
  QDialog::done(Result);
}

void TFormAssistent::RestoreBounds() {
  const TSettings settings = ReadSettings(platform::LocateProgramFile("Tessaly.ini").Read);
  // Nothing stored: the default size, placed by the window system over the main window.
  if (!settings.AssistentBounds) return;
  // The place is the frame's, the size the inner one: the screens lose the frame's share, as
  // far as the window system tells it before the window is shown (create() asks it).
  create();
  const QSize frame = frameGeometry().size() - size();
  std::vector<TAssistentBounds> screens;
  for (const QScreen* screen : QGuiApplication::screens()) {
    const QRect r = screen->availableGeometry();
    screens.push_back({r.left(), r.top(), r.width() - frame.width(), r.height() - frame.height()});
  }
  const TAssistentBounds b =
      ClampIntoScreens(*settings.AssistentBounds, screens, minimumWidth(), minimumHeight());
  move(b.Left, b.Top);
  resize(b.Width, b.Height);
}

void TFormAssistent::StoreBounds() {
  const platform::TProgramFileLocation settings = platform::LocateProgramFile("Tessaly.ini");
  // The place of the frame, as move() takes it, and the inner size, as resize() takes it.
  const TAssistentBounds b{pos().x(), pos().y(), width(), height()};
  // As the main window's Close button: a first write into the user's folder starts from the
  // settings read so far.
  platform::PrepareToWrite(settings);
  // Told as the main window's failed write is told; the window closes all the same, and the
  // file stays as it was (it is replaced whole or not at all).
  platform::ShowFailure(WriteAssistentBounds(settings.Write, b));
}

bool TFormAssistent::LoadImage(const std::string& Path) {
  // The assistant's points refer to the pictures as the main window shows them, so it turns
  // them by the same setting of the main window's settings file.
  const std::unique_ptr<raster::TBitmap32> picture =
      LoadPictureOrTell(Path,
                        ReadExifOrientationSetting(platform::LocateProgramFile("Tessaly.ini").Read)
                            ? TPictureOrientation::Upright
                            : TPictureOrientation::AsStored)
          .Picture;
  if (picture == nullptr) return false;
  const QImage image = ToQImage(*picture);
  if (image.isNull()) {  // no memory for the screen copy
    platform::ShowWarning(PictureNotLoadedText(Path));
    return false;
  }
  FImage->SetPicture(image);
  return true;
}

void TFormAssistent::SyncControls() {
  std::vector<TPictureMark> marks;
  for (std::size_t i = 0; i < 4; ++i) {
    FEdits[i]->setText(QString::fromStdString(FLogic.Edits[i]));
    const TMarkerPos& m = FLogic.Markers[i];
    if (m.Shown) marks.push_back({{m.X, m.Y}, MarkColours[i]});
  }
  FImage->SetMarks(std::move(marks));
  FButtonForw->setEnabled(FLogic.ButtonForwEnabled);
  FButtonOk->setEnabled(FLogic.ButtonOkEnabled);
  FButtonBack->setEnabled(FLogic.ButtonBackEnabled);
}

void TFormAssistent::TimerStartTimer() {
  FTimerStart->stop();
  FLogic.StartRun([this](int, const std::string& Path) { return LoadImage(Path); });
  SyncControls();
}

void TFormAssistent::ImageMouseDown(double X, double Y) {
  if (FLogic.Click(X, Y)) SyncControls();
}

void TFormAssistent::ButtonForwClick() {
  if (FLogic.Forward([this](int, const std::string& Path) { return LoadImage(Path); }) != 0) {
    SyncControls();
  }
}

void TFormAssistent::ButtonBackClick() {
  if (FLogic.Back([this](int, const std::string& Path) { return LoadImage(Path); }) != 0) {
    SyncControls();
  }
}

void TFormAssistent::ButtonOkClick() {
  // Without an alignment to hand the points to, closing would pretend that they were used.
  if (!OnAlign) return;
  const std::array<float, 8> p = FLogic.AlignPoints();
  if (!OnAlign(p[0], p[1], p[2], p[3], p[4], p[5], p[6], p[7])) return;
  FImage->ClearPicture();
  accept();
}

void TFormAssistent::ButtonZoom100Click() {
  FImage->Actual();
}

void TFormAssistent::ButtonZoomFitClick() {
  FImage->Fit();
}

void TFormAssistent::FormResize() {
  const int w = width();
  const int h = height();
  // Top and bottom panels keep their heights; the picture takes what lies between.
  FPanelTop->setGeometry(0, 0, w, PanelTopHeight);
  const int bottomTop = std::max(PanelTopHeight, h - PanelBottomHeight);
  FPanelBottom->setGeometry(0, bottomTop, w, PanelBottomHeight);
  FImage->setGeometry(0, PanelTopHeight, w, bottomTop - PanelTopHeight);
}

void TFormAssistent::PanelBottomResize() {
  // The run buttons stay right-aligned, the zoom buttons where they were made, on the left.
  const int clientWidth = width();
  FButtonOk->move(clientWidth - FButtonOk->width() - ButtonGap, FButtonOk->y());
  FButtonForw->move(FButtonOk->x() - FButtonForw->width() - ButtonGap, FButtonForw->y());
  FButtonBack->move(FButtonForw->x() - FButtonBack->width() - ButtonGap, FButtonBack->y());
}

void TFormAssistent::resizeEvent(QResizeEvent* Event) {
  QDialog::resizeEvent(Event);
  FormResize();
}

void TFormAssistent::keyPressEvent(QKeyEvent* Event) {
  // 1 and 0, from the main keys or the keypad, while the window has the focus.
  const bool plain = (Event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
  if (plain && Event->key() == Qt::Key_1) {
    ButtonZoom100Click();
  } else if (plain && Event->key() == Qt::Key_0) {
    ButtonZoomFitClick();
  } else {
    QDialog::keyPressEvent(Event);
  }
}

bool TFormAssistent::eventFilter(QObject* Watched, QEvent* Event) {
  if (Watched == FPanelBottom && Event->type() == QEvent::Resize) PanelBottomResize();
  return QDialog::eventFilter(Watched, Event);
}

}  // namespace overlay
