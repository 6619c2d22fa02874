#include "overlay/windows/status_bar.h"

#include <QFrame>
#include <QLabel>
#include <QLocale>

#include "overlay/base/texts.h"
#include "overlay/scene/view_status.h"
#include "overlay/windows/widget_factory.h"

namespace overlay {

TStatusBar::TStatusBar(QWidget* Parent, int Top, int Width) {
  FPanel = MakePanel(Parent, "PanelStatus");
  FPanel->setGeometry(0, Top, Width, StatusBarHeight);
  FPosition = MakeNamed<QLabel>("LabelStatusPosition", FPanel);
  FMode = MakeNamed<QLabel>("LabelStatusMode", FPanel);
  FMode->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  FSaved = MakeNamed<QLabel>("LabelStatusSaved", FPanel);
  FSaved->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
}

void TStatusBar::Place(const TMainPanelsLayout& Layout, int Width) {
  FPanel->setGeometry(0, Layout.StatusTop, Width, StatusBarHeight);
  FPosition->setGeometry(8, 0, Layout.PositionWidth, StatusBarHeight);
  FSaved->setGeometry(Layout.SavedLeft, 0, Layout.SavedWidth, StatusBarHeight);
  FMode->setGeometry(Layout.ModeLeft, 0, Layout.ModeWidth, StatusBarHeight);
}

void TStatusBar::Show(TMainController& Controller,
                      const std::optional<raster::TPoint>& MouseOverView,
                      const TRecordSession& Session) {
  const TViewStatus status = Controller.ViewStatusAt(MouseOverView);
  const std::string point = QLocale().decimalPoint().toStdString();
  FPosition->setText(QString::fromStdString(StatusPositionText(status, point)));
  // While a measuring tool is on, what it expects next.
  const TText* hint = Controller.MeasureEditor().Hint();
  const bool shown = Controller.ControlsEnabled();
  FMode->setText(QString::fromStdString(!shown            ? std::string()
                                        : hint != nullptr ? Tr(*hint)
                                                          : StatusModeText(status, point)));
  // Whether the work is safe: when the comparison was last saved, or that it is not saved.
  FSaved->setText(QString::fromStdString(Session.SaveStateText(shown)));
}

}  // namespace overlay
