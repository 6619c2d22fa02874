#include "overlay/windows/widget_factory.h"

#include <QFont>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>
#include <QToolButton>

namespace overlay {

void SetComponentName(QObject& Control, const char* Name) {
  Control.setObjectName(QString::fromLatin1(Name));
}

QFrame* MakePanel(QWidget* Parent, const char* Name, QFrame::Shadow Shadow) {
  auto* panel = MakeNamed<QFrame>(Name, Parent);
  panel->setFrameStyle(QFrame::Panel | Shadow);
  panel->setLineWidth(1);
  return panel;
}

QLabel* MakeLabel(QWidget* Parent, const char* Name, const char* Text, int Left, int Top) {
  auto* label = MakeNamed<QLabel>(Name, QString::fromUtf8(Text), Parent);
  label->move(Left, Top);
  return label;
}

QLabel* MakeFittedLabel(QWidget* Parent, const char* Name, const char* Text, int Left, int Top) {
  QLabel* label = MakeLabel(Parent, Name, Text, Left, Top);
  label->adjustSize();
  return label;
}

QLabel* MakeLabelUpTo(QWidget* Parent, const char* Name, const char* Text, int Left, int Top,
                      int Right) {
  auto* label = MakeNamed<QLabel>(Name, QString::fromUtf8(Text), Parent);
  label->setGeometry(Left, Top, Right - Left, label->sizeHint().height());
  return label;
}

QLineEdit* MakeReadOnlyEdit(QWidget* Parent, const char* Name, const QRect& Bounds,
                            TEditFrame Frame) {
  auto* edit = MakeNamed<QLineEdit>(Name, Parent);
  edit->setReadOnly(true);
  edit->setFocusPolicy(Qt::NoFocus);  // skipped by Tab
  if (Frame == TEditFrame::Compact) {
    const QColor& c = ReadOnlyBackground;
    edit->setStyleSheet(QStringLiteral("QLineEdit { background-color: rgb(%1, %2, %3); padding: "
                                       "0px 1px; border: 1px solid rgb(160, 160, 160); }")
                            .arg(c.red())
                            .arg(c.green())
                            .arg(c.blue()));
  } else {
    QPalette p = edit->palette();
    p.setColor(QPalette::Base, ReadOnlyBackground);
    edit->setPalette(p);
  }
  edit->setGeometry(Bounds);
  return edit;
}

QPushButton* MakeButton(QWidget* Parent, const char* Name, const char* Text, const QRect& Bounds) {
  auto* button = MakeNamed<QPushButton>(Name, QString::fromUtf8(Text), Parent);
  button->setGeometry(Bounds);
  return button;
}

QToolButton* MakeGlyphButton(QWidget* Parent, const char* Name, const QIcon& Icon,
                             const QRect& Bounds) {
  auto* button = MakeNamed<QToolButton>(Name, Parent);
  button->setIcon(Icon);
  button->setIconSize(QSize(18, 18));
  button->setToolButtonStyle(Qt::ToolButtonIconOnly);
  button->setGeometry(Bounds);
  return button;
}

void SetTextColour(QWidget* Control, const QColor& Colour) {
  QPalette p = Control->palette();
  p.setColor(QPalette::WindowText, Colour);
  Control->setPalette(p);
}

void SetPixelSize(QWidget* Control, int PixelSize) {
  QFont f = Control->font();
  f.setPixelSize(PixelSize);
  Control->setFont(f);
}

}  // namespace overlay
