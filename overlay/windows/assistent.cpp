#include "overlay/windows/assistent.h"

#include <QEvent>
#include <QFrame>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPixmap>
#include <QPushButton>
#include <QResizeEvent>
#include <QScrollArea>
#include <QTimer>
#include <algorithm>
#include <array>
#include <cstring>
#include <system_error>
#include <utility>

#include "overlay/decode/orientation.h"
#include "overlay/decode/picture_import.h"
#include "overlay/scene/picture_loading.h"
#include "overlay/windows/sprache.h"
#include "overlay/windows/widget_factory.h"
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
constexpr int ButtonGap = 8;
constexpr int ImageMargin = 2;

void SetBackground(QLabel* Label, const QColor& Colour) {
  QPalette p = Label->palette();
  p.setColor(QPalette::Window, Colour);
  Label->setPalette(p);
  Label->setAutoFillBackground(true);
}

}  // namespace

TFormAssistent::TFormAssistent(QWidget* Parent, std::function<void(QWidget&)> ApplyLanguage)
    : QDialog(Parent) {
  SetComponentName(*this, "FormAssistent");
  setWindowTitle(QString::fromUtf8("Assistent für Positionierung"));
  setMinimumSize(200, 200);
  SetPixelSize(this, 10);
  // The language file reaches the program's windows through this list.
  RegisterProgramWindow(this);

  const QColor white(Qt::white);
  const QColor red(Qt::red);

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
  FAutoSized[4] = MakeLabel(FPanelTop, "LabelImage1", "Bild 1", 16, 8);
  FAutoSized[5] = MakeLabel(FPanelTop, "LabelImage2", "Bild 2", 16, 40);

  const std::array<std::pair<const char*, QRect>, 4> edits{{{"Edit1P1", {144, 8, 65, 21}},
                                                            {"Edit1P2", {288, 8, 65, 21}},
                                                            {"Edit2P1", {144, 38, 65, 21}},
                                                            {"Edit2P2", {288, 38, 65, 21}}}};
  for (std::size_t i = 0; i < edits.size(); ++i) {
    FEdits[i] = MakeReadOnlyEdit(FPanelTop, edits[i].first, edits[i].second, TEditFrame::Style);
  }

  FPanelBottom = MakePanel(this, "PanelBottom");
  const auto button = [this](const char* Name, const char* Text, QRect Bounds) {
    QPushButton* b = MakeButton(FPanelBottom, Name, Text, Bounds);
    b->setEnabled(false);
    // Enter in the dialog must not press "Fertig" behind the user's back.
    b->setAutoDefault(false);
    return b;
  };
  FButtonForw = button("ButtonForw", "Weiter >>", {223, 7, 67, 20});
  FButtonOk = button("ButtonOk", "Fertig", {301, 7, 67, 20});
  FButtonBack = button("ButtonBack", "<< Zurück", {143, 7, 69, 20});
  FPanelBottom->installEventFilter(this);

  FScrollBoxImage = MakeNamed<QScrollArea>("ScrollBoxImage", this);
  FScrollBoxImage->setWidgetResizable(false);
  // Picture and markers share one content widget so that they scroll together.
  FContent = MakeNamed<QWidget>("ScrollBoxImageContent");
  FImage = MakeNamed<QLabel>("Image", FContent);
  FImage->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  FImage->setCursor(Qt::CrossCursor);
  FImage->setGeometry(1, 1, 0, 0);
  FImage->installEventFilter(this);
  const std::array<std::pair<const char*, QColor>, 4> markers{
      {{"I1P1", white}, {"I1P2", red}, {"I2P1", white}, {"I2P2", red}}};
  for (std::size_t i = 0; i < markers.size(); ++i) {
    auto* m = MakeNamed<QLabel>(markers[i].first, QStringLiteral("x"), FContent);
    m->setAlignment(Qt::AlignCenter);
    SetTextColour(m, markers[i].second);
    SetPixelSize(m, 16);
    // A press on a marker lands on the picture beneath it, so a point can be set right beside
    // an earlier one.
    m->setAttribute(Qt::WA_TransparentForMouseEvents);
    m->resize(7, 20);
    FMarkers[i] = m;
  }
  FScrollBoxImage->setWidget(FContent);

  FTimerStart = MakeNamed<QTimer>("TimerStart", this);
  FTimerStart->setSingleShot(true);
  FTimerStart->setInterval(100);

  connect(FTimerStart, &QTimer::timeout, this, [this] { TimerStartTimer(); });
  connect(FButtonForw, &QPushButton::clicked, this, [this] { ButtonForwClick(); });
  connect(FButtonBack, &QPushButton::clicked, this, [this] { ButtonBackClick(); });
  connect(FButtonOk, &QPushButton::clicked, this, [this] { ButtonOkClick(); });

  resize(422, 490);
  SyncControls();

  if (ApplyLanguage) ApplyLanguage(*this);
  // Labels size themselves to their texts, whichever language they now show.
  for (QLabel* label : FAutoSized) label->adjustSize();
}

TFormAssistent::~TFormAssistent() = default;

void TFormAssistent::Prepare(const std::string& PathImage1, const std::string& PathImage2) {
  FLogic.PathImage1 = PathImage1;
  FLogic.PathImage2 = PathImage2;
  FTimerStart->start();
}

void TFormAssistent::Run(const std::string& PathImage1, const std::string& PathImage2) {
  Prepare(PathImage1, PathImage2);
  exec();
}

void TFormAssistent::Open(const std::string& PathImage1, const std::string& PathImage2) {
  Prepare(PathImage1, PathImage2);
  open();
}

void TFormAssistent::done(int Result) {
  // A window closed before its run started must not start one while hidden.
  FTimerStart->stop();
  QDialog::done(Result);
}

bool TFormAssistent::LoadImage(const std::string& Path) {
  // The assistant's points refer to the pictures as the main window shows them, so it turns
  // them by the same setting of the main window's settings file.
  const std::unique_ptr<raster::TBitmap32> picture = LoadPictureOrTell(
      Path, ReadExifOrientationSetting(platform::LocateProgramFile("Tessaly.ini").Read)
                ? TPictureOrientation::Upright
                : TPictureOrientation::AsStored);
  if (picture == nullptr) return false;
  const QImage image = ToQImage(*picture);
  if (image.isNull()) {  // no memory for the screen copy
    platform::ShowMessage(PictureNotLoadedText(Path));
    return false;
  }
  FImage->setPixmap(QPixmap::fromImage(image));
  FImage->resize(image.size());
  return true;
}

TMarkerGeometry TFormAssistent::Geometry() const {
  // All four markers have the same size.
  return {FMarkers[0]->width(), FMarkers[0]->height(), FImage->x(), FImage->y()};
}

void TFormAssistent::SyncControls() {
  for (std::size_t i = 0; i < 4; ++i) {
    FEdits[i]->setText(QString::fromStdString(FLogic.Edits[i]));
    FMarkers[i]->move(FLogic.Markers[i].Left, FLogic.Markers[i].Top);
    FMarkers[i]->raise();
  }
  FButtonForw->setEnabled(FLogic.ButtonForwEnabled);
  FButtonOk->setEnabled(FLogic.ButtonOkEnabled);
  FButtonBack->setEnabled(FLogic.ButtonBackEnabled);
  UpdateContentSize();
}

void TFormAssistent::UpdateContentSize() {
  // As a scroll box's range: the right and bottom edges of the children, hidden ones (far to
  // the left) adding nothing.
  int right = FImage->geometry().right() + 1;
  int bottom = FImage->geometry().bottom() + 1;
  for (QLabel* m : FMarkers) {
    if (m->x() == TAssistentLogic::HiddenLeft) continue;
    right = std::max(right, m->geometry().right() + 1);
    bottom = std::max(bottom, m->geometry().bottom() + 1);
  }
  FContent->resize(std::max(right, 0) + ImageMargin, std::max(bottom, 0) + ImageMargin);
}

void TFormAssistent::TimerStartTimer() {
  FTimerStart->stop();
  FLogic.StartRun([this](int, const std::string& Path) { return LoadImage(Path); });
  SyncControls();
}

void TFormAssistent::ImageMouseDown(int X, int Y) {
  const TMarkerGeometry g = Geometry();
  if (FLogic.Click(X, Y, g.MarkerWidth, g.MarkerHeight, g.ImageLeft, g.ImageTop)) {
    SyncControls();
  }
}

void TFormAssistent::ButtonForwClick() {
  if (FLogic.Forward([this](int, const std::string& Path) { return LoadImage(Path); },
                     Geometry()) != 0) {
    SyncControls();
  }
}

void TFormAssistent::ButtonBackClick() {
  if (FLogic.Back([this](int, const std::string& Path) { return LoadImage(Path); }, Geometry()) !=
      0) {
    SyncControls();
  }
}

void TFormAssistent::ButtonOkClick() {
  // Without an alignment to hand the points to, closing would pretend that they were used.
  if (!OnAlign) return;
  const std::array<float, 8> p = FLogic.AlignPoints();
  if (!OnAlign(p[0], p[1], p[2], p[3], p[4], p[5], p[6], p[7])) return;
  FImage->clear();
  FImage->resize(0, 0);
  UpdateContentSize();
  accept();
}

void TFormAssistent::FormResize() {
  FImage->move(ImageMargin, ImageMargin);
  UpdateContentSize();
}

void TFormAssistent::PanelBottomResize() {
  const int clientWidth = width();
  FButtonOk->move(clientWidth - FButtonOk->width() - ButtonGap, FButtonOk->y());
  FButtonForw->move(FButtonOk->x() - FButtonForw->width() - ButtonGap, FButtonForw->y());
  FButtonBack->move(FButtonForw->x() - FButtonBack->width() - ButtonGap, FButtonBack->y());
}

void TFormAssistent::resizeEvent(QResizeEvent* Event) {
  QDialog::resizeEvent(Event);
  const int w = width();
  const int h = height();
  // Top and bottom panels keep their heights; the scroll box takes what lies between.
  FPanelTop->setGeometry(0, 0, w, PanelTopHeight);
  const int bottomTop = std::max(PanelTopHeight, h - PanelBottomHeight);
  FPanelBottom->setGeometry(0, bottomTop, w, PanelBottomHeight);
  FScrollBoxImage->setGeometry(0, PanelTopHeight, w, bottomTop - PanelTopHeight);
  FormResize();
}

bool TFormAssistent::eventFilter(QObject* Watched, QEvent* Event) {
  // The second press of a quick double click arrives as a double-click event; it is a press
  // all the same.
  if (Watched == FImage &&
      (Event->type() == QEvent::MouseButtonPress || Event->type() == QEvent::MouseButtonDblClick)) {
    // Any button; the label shows the picture unscaled from its top-left corner, so its
    // coordinates are picture pixels.
    const QPoint p = static_cast<QMouseEvent*>(Event)->position().toPoint();
    ImageMouseDown(p.x(), p.y());
    return true;
  }
  if (Watched == FPanelBottom && Event->type() == QEvent::Resize) PanelBottomResize();
  return QDialog::eventFilter(Watched, Event);
}

}  // namespace overlay
