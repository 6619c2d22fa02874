// The controls of the program's windows as they are created: panels, labels, read-only edits and
// buttons at their designed bounds, each named after the component it is. The language file, the
// tests and the tab order find the controls by these names and this creation order, so every
// window builds its controls here.
#pragma once

#include <QColor>
#include <QFrame>
#include <QRect>
#include <QString>
#include <utility>

class QIcon;
class QLabel;
class QLineEdit;
class QObject;
class QPushButton;
class QToolButton;
class QWidget;

namespace overlay {

// A control's objectName is its component name ("EditX", "ButtonClose").
void SetComponentName(QObject& Control, const char* Name);

// A new TControl(Args...) named Name; a control with a parent belongs to that parent.
template <class TControl, class... TArgs>
TControl* MakeNamed(const char* Name, TArgs&&... Args) {
  auto* control = new TControl(std::forward<TArgs>(Args)...);
  SetComponentName(*control, Name);
  return control;
}

// A panel with a one-pixel bevel, raised as a panel is by default.
QFrame* MakePanel(QWidget* Parent, const char* Name, QFrame::Shadow Shadow = QFrame::Raised);

// A label at Left, Top, left at its default size until its window sizes it.
QLabel* MakeLabel(QWidget* Parent, const char* Name, const char* Text, int Left, int Top);
// A label at Left, Top sized to its text.
QLabel* MakeFittedLabel(QWidget* Parent, const char* Name, const char* Text, int Left, int Top);
// A label at Left, Top as high as its font needs and as wide as the room up to Right, so that a
// longer text from the language file still fits.
QLabel* MakeLabelUpTo(QWidget* Parent, const char* Name, const char* Text, int Left, int Top,
                      int Right);

// The background of the read-only edits: light grey, 221 in each channel.
inline const QColor ReadOnlyBackground(221, 221, 221);
// How a read-only edit is framed: in the style's own frame, or in a plain one-pixel border with
// one pixel of padding, as the main window's narrow read-outs need every pixel for their digits.
enum class TEditFrame { Style, Compact };
// A read-only edit that Tab skips, on ReadOnlyBackground.
QLineEdit* MakeReadOnlyEdit(QWidget* Parent, const char* Name, const QRect& Bounds,
                            TEditFrame Frame);

QPushButton* MakeButton(QWidget* Parent, const char* Name, const char* Text, const QRect& Bounds);
// A button that shows only Icon, at 18 x 18.
QToolButton* MakeGlyphButton(QWidget* Parent, const char* Name, const QIcon& Icon,
                             const QRect& Bounds);

// Palette and font changes of one control.
void SetTextColour(QWidget* Control, const QColor& Colour);
void SetPixelSize(QWidget* Control, int PixelSize);

}  // namespace overlay
