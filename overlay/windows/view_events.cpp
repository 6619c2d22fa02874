#include "overlay/windows/view_events.h"

#include <QContextMenuEvent>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QWheelEvent>
#include <QWidget>
#include <utility>

#include "overlay/base/texts.h"
#include "platform/message.h"

namespace overlay {

namespace {

// The nudging keys; plus also without Shift on US layouts (=).
constexpr std::pair<int, TNudgeKey> NudgeKeys[]{
    {Qt::Key_Left, TNudgeKey::Left},     {Qt::Key_Right, TNudgeKey::Right},
    {Qt::Key_Up, TNudgeKey::Up},         {Qt::Key_Down, TNudgeKey::Down},
    {Qt::Key_PageUp, TNudgeKey::PageUp}, {Qt::Key_PageDown, TNudgeKey::PageDown},
    {Qt::Key_Plus, TNudgeKey::Plus},     {Qt::Key_Equal, TNudgeKey::Plus},
    {Qt::Key_Minus, TNudgeKey::Minus},
};

std::optional<TNudgeKey> NudgeKeyOf(const QKeyEvent& Event) {
  // Combinations with Ctrl or Meta stay shortcuts; Shift, Alt (the fine steps) and the keypad
  // are part of the keys above.
  if (Event.modifiers() & (Qt::ControlModifier | Qt::MetaModifier)) return {};
  for (const auto& [key, nudge] : NudgeKeys) {
    if (Event.key() == key) return nudge;
  }
  return {};
}

}  // namespace

TViewEvents::TViewEvents(QWidget& View, TMainController& Controller, TViewEventsWiring Wiring)
    : FView(View), FController(Controller), FWiring(std::move(Wiring)) {
  raster::TImgView32& view = FController.ImgView();
  view.OnMouseDown = [this](raster::TObject*, raster::TMouseButton Button, raster::TShiftState,
                            std::int32_t X, std::int32_t Y, raster::TCustomLayer*) {
    if (Button != raster::mbLeft) return;
    if (FController.ViewTools().MouseDown({X, Y})) FWiring.ShowStatus();
  };
  view.OnMouseMove = [this](raster::TObject*, raster::TShiftState Shift, std::int32_t X,
                            std::int32_t Y, raster::TCustomLayer*) {
    FMenuAt.reset();
    FController.ViewTools().MouseMove(Shift, {X, Y});
    FMouseOverView = raster::TPoint{X, Y};
    FController.SetSideCursor(FMouseOverView);
    FWiring.ShowStatus();
  };
  view.OnMouseUp = [this](raster::TObject*, raster::TMouseButton Button, raster::TShiftState,
                          std::int32_t, std::int32_t, raster::TCustomLayer*) {
    if (Button != raster::mbLeft) return;
    FController.ViewTools().MouseUp();
  };
  FView.installEventFilter(this);
}

bool TViewEvents::Key(const QKeyEvent& Event) {
  return MeasureFromKey(Event) || NudgeFromKey(Event);
}

bool TViewEvents::NudgeFromKey(const QKeyEvent& Event) {
  const std::optional<TNudgeKey> key = NudgeKeyOf(Event);
  if (!key) return false;
  if (Event.modifiers() & Qt::AltModifier) return FController.FineNudgeKey(*key);
  return FController.NudgeKey(*key, (Event.modifiers() & Qt::ShiftModifier) != 0);
}

bool TViewEvents::MeasureFromKey(const QKeyEvent& Event) {
  if (Event.modifiers() & ~Qt::KeypadModifier) return false;
  bool used = false;
  switch (Event.key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
      used = FController.FinishMeasure();
      break;
    case Qt::Key_Escape:
      used = FController.CancelMeasure();
      break;
    case Qt::Key_Delete:
      used = FMouseOverView && FController.DeleteMeasurePoint(*FMouseOverView);
      break;
    default:
      return false;
  }
  if (used) FWiring.ShowMeasureTool();
  return used;
}

bool TViewEvents::RenameMeasureAt(raster::TPoint At) {
  const std::optional<std::size_t> index = FController.MeasureIndexAt(At);
  if (!index) return false;
  bool ok = false;
  const QString name =
      QInputDialog::getText(FView.window(), QString::fromStdString(Tr(MeasureRenameTitleText)),
                            QString::fromStdString(Tr(MeasureRenameLabelText)), QLineEdit::Normal,
                            QString::fromStdString(FController.Measures()[*index].Name), &ok);
  if (!ok || *index >= FController.Measures().size()) return true;
  const platform::TStatus renamed = FController.RenameMeasure(*index, name.toStdString());
  if (!renamed) platform::ShowFailure(renamed);
  return true;
}

bool TViewEvents::ZoomFromWheel(const QWheelEvent& Event) {
  const int delta = Event.angleDelta().y();
  const QPoint p = Event.position().toPoint();
  if (delta == 0 || !FController.WheelZooms({p.x(), p.y()})) return false;
  // The zoom handler repaints at once, zoomed about the viewport centre, before the scroll
  // bars take the mouse point back; with updates held the window shows only the final frame.
  FView.setUpdatesEnabled(false);
  bool used = false;
  try {
    used = FController.WheelZoom(delta, {p.x(), p.y()});
  } catch (...) {
    FView.setUpdatesEnabled(true);
    throw;
  }
  FView.setUpdatesEnabled(true);  // schedules the repaint
  return used;
}

bool TViewEvents::eventFilter(QObject* Watched, QEvent* Event) {
  if (Watched != &FView) return false;
  if (Event->type() == QEvent::Leave) {
    FMouseOverView.reset();
    FController.SetSideCursor({});
    FWiring.ShowStatus();
  }
  if (Event->type() == QEvent::ContextMenu) {
    const QPoint at = static_cast<QContextMenuEvent*>(Event)->pos();
    FMenuAt = raster::TPoint{at.x(), at.y()};
  }
  // A double click closes the outline being drawn (its first press added the last point); on a
  // finished measure, without a tool, it renames it.
  if (Event->type() == QEvent::MouseButtonDblClick &&
      static_cast<QMouseEvent*>(Event)->button() == Qt::LeftButton) {
    if (FController.FinishMeasure()) {
      FWiring.ShowStatus();
      return true;
    }
    const QPoint at = static_cast<QMouseEvent*>(Event)->position().toPoint();
    if (FController.MeasureTool() == TMeasureTool::None && RenameMeasureAt({at.x(), at.y()})) {
      return true;
    }
  }
  return Event->type() == QEvent::Wheel && ZoomFromWheel(*static_cast<QWheelEvent*>(Event));
}

}  // namespace overlay
