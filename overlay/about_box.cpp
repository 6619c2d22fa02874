#include "overlay/about_box.h"

#include <QEvent>
#include <QFrame>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>

#include "overlay/icons.h"
#include "overlay/sprache.h"
#include "platform/paths.h"
#include "platform/shell.h"
#include "platform/version_info.h"

namespace overlay {

const char* const MakerAddress = "https://tessaly.example.org";

namespace {

QLabel* MakeLabel(QWidget* Parent, const char* Name, const char* Text, int Left, int Top) {
  auto* label = new QLabel(QString::fromUtf8(Text), Parent);
  label->setObjectName(Name);
  label->adjustSize();
  label->move(Left, Top);
  return label;
}

void MakeLink(QLabel* Label) {
  QFont f = Label->font();
  f.setUnderline(true);
  Label->setFont(f);
  QPalette p = Label->palette();
  p.setColor(QPalette::WindowText, Qt::blue);
  Label->setPalette(p);
  Label->setCursor(Qt::PointingHandCursor);
  Label->adjustSize();
}

std::string Trimmed(const std::string& Text) {
  const std::size_t first = Text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return Text.substr(first, Text.find_last_not_of(" \t") - first + 1);
}

}  // namespace

TAboutBox::TAboutBox(QWidget* Parent) : QDialog(Parent) {
  setObjectName(QStringLiteral("AboutBox"));
  setWindowTitle(QStringLiteral("Info"));
  setWindowFlags(Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::MSWindowsFixedSizeDialogHint);
  setFixedSize(319, 239);
  QFont f = font();
  f.setPixelSize(11);
  setFont(f);
  QPalette pal = palette();
  pal.setColor(QPalette::WindowText, Qt::black);
  setPalette(pal);
  ProgramFile = platform::ProgramFile();
  RegisterProgramWindow(this);

  auto* panel1 = new QFrame(this);
  panel1->setObjectName(QStringLiteral("Panel1"));
  panel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  panel1->setGeometry(8, 8, 305, 185);
  auto* panel2 = new QFrame(panel1);
  panel2->setObjectName(QStringLiteral("Panel2"));
  panel2->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  panel2->setGeometry(8, 8, 65, 65);
  auto* icon = new QLabel(panel2);
  icon->setObjectName(QStringLiteral("ProgramIcon"));
  icon->setPixmap(ProgramIcon().pixmap(56, 56));
  icon->setGeometry(4, 4, 56, 56);

  QLabel* product = MakeLabel(panel1, "ProductName", "Tessaly", 88, 8);
  QFont pf = product->font();
  pf.setBold(true);
  pf.setPixelSize(16);
  product->setFont(pf);
  QPalette pp = product->palette();
  pp.setColor(QPalette::WindowText, Qt::blue);
  product->setPalette(pp);
  product->adjustSize();
  MakeLabel(panel1, "Version", "Version 1.1 (10/2002)", 88, 33);
  MakeLabel(panel1, "Label5", "Build", 88, 56);
  FLabelBuild = MakeLabel(panel1, "LabelBuild", "2.0.0.0", 128, 56);
  MakeLabel(panel1, "Label3", "Tessaly-Team", 8, 80);
  MakeLabel(panel1, "Label4", "Bildvergleich für die Verlaufsdokumentation", 8, 96);
  FLabel2 = MakeLabel(panel1, "Label2", MakerAddress, 8, 114);
  MakeLink(FLabel2);
  MakeLabel(panel1, "Label6", "Raster-Engine: eigene Entwicklung", 8, 144);
  MakeLabel(panel1, "Label7", "Bilddateien: FreeImage (freeimage.sourceforge.io)", 8, 160);
  MakeLabel(this, "LabelDistrib", "Vertrieb: Tessaly-Team", 8, 186 + 8);
  MakeLabel(this, "LabelContactMedium", "Internet:", 8, 211);
  FLabelInternet = MakeLabel(this, "LabelInternet", MakerAddress, 60, 210);
  MakeLink(FLabelInternet);
  FLabel2->installEventFilter(this);
  FLabelInternet->installEventFilter(this);

  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  ok->setObjectName(QStringLiteral("OKButton"));
  QFont of = ok->font();
  of.setBold(true);
  ok->setFont(of);
  ok->setDefault(true);
  ok->setGeometry(240, 202, 65, 31);
  connect(ok, &QPushButton::clicked, this, [this] { OKButtonClick(); });
}

void TAboutBox::FormCreate() {
  FLabelBuild->setText(QString::fromStdString(platform::ReadVersionInfo(ProgramFile).FileVersion()));
  FLabelBuild->adjustSize();
  if (ApplyLanguageHook) ApplyLanguageHook();
}

void TAboutBox::OKButtonClick() { hide(); }

void TAboutBox::Label2Click() { platform::ShellOpen(MakerAddress); }

void TAboutBox::LabelInternetClick() {
  platform::ShellOpen(Trimmed(FLabelInternet->text().toStdString()));
}

bool TAboutBox::eventFilter(QObject* Watched, QEvent* Event) {
  if (Event->type() == QEvent::MouseButtonRelease &&
      static_cast<QMouseEvent*>(Event)->button() == Qt::LeftButton) {
    if (Watched == FLabel2) Label2Click();
    if (Watched == FLabelInternet) LabelInternetClick();
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
