#include "overlay/windows/widget_factory.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QWidget>

namespace overlay {
namespace {

TEST(WidgetFactory, AReadOnlyEditIsNamedSkippedByTabAndGreyInEitherFrame) {
  for (const TEditFrame frame : {TEditFrame::Style, TEditFrame::Compact}) {
    QWidget parent;
    QLineEdit* edit = MakeReadOnlyEdit(&parent, "EditX", {4, 5, 33, 24}, frame);
    EXPECT_EQ(edit->parent(), &parent);
    EXPECT_EQ(edit->objectName(), "EditX");
    EXPECT_TRUE(edit->isReadOnly());
    EXPECT_EQ(edit->focusPolicy(), Qt::NoFocus);
    EXPECT_EQ(edit->geometry(), QRect(4, 5, 33, 24));
    // An empty edit shows its background inside the frame.
    const QImage shot = edit->grab().toImage();
    EXPECT_EQ(shot.pixelColor(shot.width() / 2, shot.height() / 2), ReadOnlyBackground)
        << int(frame);
  }
}

TEST(WidgetFactory, LabelsArePlacedAndSizedAsTheirWindowsNeed) {
  QWidget parent;
  QLabel* fitted = MakeFittedLabel(&parent, "LabelX", "Position X", 8, 13);
  EXPECT_EQ(fitted->objectName(), "LabelX");
  EXPECT_EQ(fitted->geometry(), QRect(QPoint(8, 13), fitted->sizeHint()));
  QLabel* wide = MakeLabelUpTo(&parent, "Label3", "Team", 8, 80, 297);
  EXPECT_EQ(wide->geometry(), QRect(8, 80, 289, wide->sizeHint().height()));
  QLabel* placed = MakeLabel(&parent, "LabelP1", "Punkt 1", 87, 10);
  EXPECT_EQ(placed->pos(), QPoint(87, 10));
  EXPECT_EQ(placed->text(), QString::fromUtf8("Punkt 1"));
}

}  // namespace
}  // namespace overlay
