#include "overlay/windows/about_box.h"

#include <QEvent>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <algorithm>

#include "overlay/windows/icons.h"
#include "overlay/windows/sprache.h"
#include "overlay/windows/widget_factory.h"
#include "platform/paths.h"
#include "platform/shell.h"
#include "platform/version_info.h"

namespace overlay {

const char* const MakerAddress = "https://tessaly.example.org";

namespace {

constexpr int ClientWidth = 319, ClientHeight = 239;
constexpr int PanelWidth = 305, PanelHeight = 185;
constexpr int Margin = 8;
// The row below the panel. The distributor line starts below the panel's frame rather than
// across it, the contact line below that, and the OK button sits at the right edge, so that a
// full web address fits beside "Internet:" without running under the button.
constexpr int DistribTop = 197, ContactTop = 215, InternetLeft = 52;
constexpr int OkLeft = ClientWidth - Margin - 65, OkTop = 202;

void MakeLink(QLabel* Label) {
  QFont f = Label->font();
  f.setUnderline(true);
  Label->setFont(f);
  SetTextColour(Label, Qt::blue);
  Label->setCursor(Qt::PointingHandCursor);
}

// A link is only as wide as its text (up to Right), so that the hand cursor and the click
// cover the address and not the empty room beside it.
void FitLink(QLabel* Label, int Right) {
  Label->resize(std::min(Label->sizeHint().width(), Right - Label->x()), Label->height());
}

// "Internet:" and the address beside it, the address no further left than its designed 52 and
// clear of the caption before it, whatever the language file made of either.
void PlaceContactRow(QLabel* Contact, QLabel* Internet, int Right) {
  Contact->resize(Contact->sizeHint().width(), Contact->height());
  Internet->move(std::max(InternetLeft, Contact->x() + Contact->width() + 4), Internet->y());
  FitLink(Internet, Right);
}

// Blanks as the caption's trimming knows them: spaces and control characters.
std::string TrimBlanks(const std::string& Text) {
  const auto blank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
  const auto first = std::find_if_not(Text.begin(), Text.end(), blank);
  const auto last = std::find_if_not(Text.rbegin(), Text.rend(), blank).base();
  return first < last ? std::string(first, last) : std::string();
}

}  // namespace

TAboutBox::TAboutBox(QWidget* Parent, std::function<void()> ApplyLanguageHook)
    : QDialog(Parent), ApplyLanguageHook(std::move(ApplyLanguageHook)) {
  SetComponentName(*this, "AboutBox");
  setWindowTitle(QStringLiteral("Info"));
  setWindowFlag(Qt::WindowStaysOnTopHint);
  setWindowFlag(Qt::MSWindowsFixedSizeDialogHint);
  setModal(false);
  setFixedSize(ClientWidth, ClientHeight);
  SetPixelSize(this, 11);
  SetTextColour(this, Qt::black);
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
  VersionFile = platform::ProgramFile();
  RegisterProgramWindow(this);

  QFrame* panel1 = MakePanel(this, "Panel1", QFrame::Sunken);
  panel1->setGeometry(Margin, Margin, PanelWidth, PanelHeight);
  QFrame* panel2 = MakePanel(panel1, "Panel2", QFrame::Sunken);
  panel2->setGeometry(8, 8, 65, 65);
  auto* icon = MakeNamed<QLabel>("ProgramIcon", panel2);
  icon->setGeometry(4, 4, 56, 56);
  icon->setPixmap(ProgramIcon().pixmap(56, 56));

  const int right = PanelWidth - Margin;
  auto* product = MakeNamed<QLabel>("ProductName", QStringLiteral("Tessaly"), panel1);
  QFont pf = product->font();
  pf.setBold(true);
  pf.setPixelSize(16);
  product->setFont(pf);
  SetTextColour(product, Qt::blue);
  product->setGeometry(88, 8, right - 88, product->sizeHint().height());
  MakeLabelUpTo(panel1, "Version", "Version 1.1 (10/2002)", 88, 33, right);
  MakeLabelUpTo(panel1, "Label5", "Build", 88, 56, 124);
  FLabelBuild = MakeLabelUpTo(panel1, "LabelBuild", "2.0.0.0", 128, 56, right);
  MakeLabelUpTo(panel1, "Label3", "Tessaly-Team", 8, 80, right);
  MakeLabelUpTo(panel1, "Label4", "Bildvergleich für die Verlaufsdokumentation", 8, 96, right);
  FLabel2 = MakeLabelUpTo(panel1, "Label2", MakerAddress, 8, 114, right);
  MakeLink(FLabel2);
  FitLink(FLabel2, right);
  MakeLabelUpTo(panel1, "Label6", "Raster-Engine: eigene Entwicklung", 8, 144, right);
  MakeLabelUpTo(panel1, "Label7", "Bilddateien: FreeImage (freeimage.sourceforge.io)", 8, 160,
                right);

  MakeLabelUpTo(this, "LabelDistrib", "Vertrieb: Tessaly-Team", Margin, DistribTop, OkLeft - 6);
  FLabelContactMedium =
      MakeLabelUpTo(this, "LabelContactMedium", "Internet:", Margin, ContactTop + 1, InternetLeft);
  FLabelInternet =
      MakeLabelUpTo(this, "LabelInternet", MakerAddress, InternetLeft, ContactTop, OkLeft - 6);
  MakeLink(FLabelInternet);
  PlaceContactRow(FLabelContactMedium, FLabelInternet, OkLeft - 6);
  FLabel2->installEventFilter(this);
  FLabelInternet->installEventFilter(this);

  QPushButton* ok = MakeButton(this, "OKButton", "OK", {OkLeft, OkTop, 65, 31});
  QFont of = ok->font();
  of.setBold(true);
  ok->setFont(of);
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, [this] { OKButtonClick(); });
}

void TAboutBox::FormCreate() {
  FLabelBuild->setText(
      QString::fromStdString(platform::ReadVersionInfo(VersionFile).FileVersion()));
  if (ApplyLanguageHook) ApplyLanguageHook();
  // The language file may have given the links other captions.
  FitLink(FLabel2, PanelWidth - Margin);
  PlaceContactRow(FLabelContactMedium, FLabelInternet, OkLeft - 6);
}

void TAboutBox::OKButtonClick() {
  hide();
}

void TAboutBox::Label2Click() {
  platform::ShellOpen(MakerAddress);
}

void TAboutBox::LabelInternetClick() {
  platform::ShellOpen(TrimBlanks(FLabelInternet->text().toStdString()));
}

bool TAboutBox::eventFilter(QObject* Watched, QEvent* Event) {
  if (Event->type() == QEvent::MouseButtonRelease &&
      (Watched == FLabel2 || Watched == FLabelInternet)) {
    const auto* mouse = static_cast<QMouseEvent*>(Event);
    const auto* label = static_cast<QLabel*>(Watched);
    // Like a button: only a release over the link opens it.
    if (mouse->button() == Qt::LeftButton && label->rect().contains(mouse->position().toPoint())) {
      if (Watched == FLabel2)
        Label2Click();
      else
        LabelInternetClick();
      return true;
    }
  }
  return QDialog::eventFilter(Watched, Event);
}

void ShowAboutBox(TAboutBox& Box) {
  if (Box.parentWidget() != nullptr) Box.setParent(nullptr, Box.windowFlags());
  Box.show();
  Box.raise();
  Box.activateWindow();
}

}  // namespace overlay
