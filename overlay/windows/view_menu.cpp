#include "overlay/windows/view_menu.h"

#include <QAction>
#include <QSignalBlocker>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <array>
#include <vector>

#include "overlay/comparison/view_modes.h"
#include "overlay/windows/widget_factory.h"

namespace overlay {

namespace {

// The ways of drawing with an entry, from the table (the blend has none: it is what shows while no
// entry is checked), in the order the menu has always listed them; one added to the table comes
// last.
std::vector<const TViewModeRow*> MenuRows() {
  constexpr std::array Order{TViewMode::Difference, TViewMode::Swipe, TViewMode::Side,
                             TViewMode::Checker, TViewMode::Flicker};
  const auto place = [&](const TViewModeRow* Row) {
    return std::find(Order.begin(), Order.end(), Row->Mode) - Order.begin();
  };
  std::vector<const TViewModeRow*> rows;
  for (const TViewModeRow& row : ViewModes()) {
    if (row.MenuName != nullptr) rows.push_back(&row);
  }
  std::stable_sort(rows.begin(), rows.end(), [&](const TViewModeRow* A, const TViewModeRow* B) {
    return place(A) < place(B);
  });
  return rows;
}

void SetMode(TMainController& Controller, TViewMode Mode, bool On) {
  switch (Mode) {
    case TViewMode::Difference:
      return Controller.SetDifferenceView(On);
    case TViewMode::Swipe:
      return Controller.SetSwipe(On);
    case TViewMode::Side:
      return Controller.SetSide(On);
    case TViewMode::Checker:
      return Controller.SetChecker(On);
    case TViewMode::Blend:
    case TViewMode::Flicker:
      return;
  }
}

}  // namespace

TViewMenu::TViewMenu(QWidget& Window, QWidget& View, TMainController& Controller,
                     TViewMenuWiring Wiring)
    : FWindow(Window), FView(View), FController(Controller), FWiring(std::move(Wiring)) {
  // The ways of comparing, one at a time: each entry's checks follow what the controller draws.
  for (const TViewModeRow* row : MenuRows()) {
    const TViewMode mode = row->Mode;
    QAction* action = Aid(row->MenuName, row->MenuText, Qt::Key(row->MenuKey));
    if (mode == TViewMode::Flicker) {
      FFlicker = action;
      continue;
    }
    FCommands.push_back(action);
    FModes.emplace_back(action, mode);
    QObject::connect(action, &QAction::toggled, &FWindow, [this, mode](bool On) {
      SetMode(FController, mode, On);
      FWiring.ComparisonChanged();
      ShowModes();
      FWiring.ShowStatus();
    });
  }
  FFlickerTimer = new QTimer(&FWindow);
  QObject::connect(FFlicker, &QAction::toggled, &FWindow, [this](bool On) {
    if (On) {
      FController.StartFlicker();
      FFlickerTimer->start(FFlickerMs);
    } else {
      FController.StopFlicker();
      FFlickerTimer->stop();
    }
    FWiring.ShowStatus();
  });
  QObject::connect(FFlickerTimer, &QTimer::timeout, &FWindow, [this] { FlickerTick(); });
  FMatch = Aid("MenuMatchColours", "Angleichen", Qt::Key_N);
  FCommands.push_back(FMatch);
  QObject::connect(FMatch, &QAction::toggled, &FWindow, [this](bool On) {
    FController.SetColourMatch(On);
    FWiring.ShowStatus();
    FWiring.ComparisonChanged();
    FWiring.MatchChosen(On);
  });
  FScaleBar = Aid("MenuScaleBar", "Maßstab", Qt::Key_M);
  QObject::connect(FScaleBar, &QAction::toggled, &FWindow,
                   [this](bool On) { FController.SetScaleBar(On); });

  // The measuring tools, one at a time, and deleting or renaming the measure where the menu was
  // asked for (or, by its key, under the mouse).
  Separator("MenuSeparatorMeasure");
  for (const auto& [name, text, key, tool] :
       {std::tuple{"MenuRuler", "Lineal", Qt::Key_L, TMeasureTool::Ruler},
        std::tuple{"MenuOutline", "Umriss", Qt::Key_U, TMeasureTool::Outline}}) {
    QAction* action = Aid(name, text, key);
    FCommands.push_back(action);
    FTools.emplace_back(action, tool);
    // A copy: a structured binding cannot be captured by name before C++20's last fixes.
    QObject::connect(action, &QAction::toggled, &FWindow, [this, Tool = tool](bool On) {
      if (On || FController.MeasureTool() == Tool) {
        FController.SetMeasureTool(On ? Tool : TMeasureTool::None);
      }
      ShowMeasureTool();
    });
  }
  Command("MenuDeleteMeasure", "Messung löschen", Qt::SHIFT | Qt::Key_Delete, [this] {
    if (const std::optional<raster::TPoint> at = FWiring.MeasureAt()) {
      FController.DeleteMeasureAt(*at);
    }
  });
  Command("MenuRenameMeasure", "Messung umbenennen…", QKeyCombination(Qt::Key_F2), [this] {
    if (const std::optional<raster::TPoint> at = FWiring.MeasureAt()) FWiring.RenameMeasure(*at);
  });

  // The view's two zooms of their own, through the zoom slider's nearest position.
  Separator("MenuSeparatorZoom");
  Command("MenuFit", "Einpassen", Qt::CTRL | Qt::Key_0, [this] { FController.FitView(); });
  Command("MenuActualSize", "100 %", Qt::CTRL | Qt::Key_1,
          [this] { FController.ActualSizeView(); });

  // The placement's history. Undo while a measure is drawn drops that measure: the status shows
  // the tool's first hint.
  Separator("MenuSeparatorHistory");
  Command("MenuUndo", "Rückgängig", Qt::CTRL | Qt::Key_Z, [this] {
    FWiring.BeforeHistory();
    if (FController.Undo()) ShowMeasureTool();
  });
  Command("MenuRedo", "Wiederholen", Qt::CTRL | Qt::SHIFT | Qt::Key_Z, [this] {
    FWiring.BeforeHistory();
    FController.Redo();
  });
  Command("MenuReset", "Zurücksetzen", Qt::CTRL | Qt::Key_R, [this] {
    FWiring.BeforeHistory();
    FController.ResetPlacement();
  });

  // The comparison's notes, kept with its record and printed with it: the menu's entry only.
  Separator("MenuSeparatorNotes");
  auto* notes = MakeNamed<QAction>("MenuNotes", QStringLiteral("Notizen…"), &FWindow);
  notes->setEnabled(false);
  FView.addAction(notes);
  QObject::connect(notes, &QAction::triggered, &FWindow, [this] { FWiring.EditNotes(); });
  FCommands.push_back(notes);
  FView.setContextMenuPolicy(Qt::ActionsContextMenu);
}

QAction* TViewMenu::Add(const char* Name, const char* Text, QKeyCombination Key, bool Checkable) {
  auto* action = MakeNamed<QAction>(Name, QString::fromUtf8(Text), &FWindow);
  action->setCheckable(Checkable);
  action->setShortcut(QKeySequence(Key));
  action->setShortcutVisibleInContextMenu(true);
  action->setEnabled(false);
  FWindow.addAction(action);
  FView.addAction(action);
  return action;
}

QAction* TViewMenu::Aid(const char* Name, const char* Text, QKeyCombination Key) {
  return Add(Name, Text, Key, true);
}

void TViewMenu::Command(const char* Name, const char* Text, QKeyCombination Key,
                        const std::function<void()>& Do) {
  QAction* action = Add(Name, Text, Key, false);
  QObject::connect(action, &QAction::triggered, &FWindow, Do);
  FCommands.push_back(action);
}

void TViewMenu::Separator(const char* Name) {
  auto* action = MakeNamed<QAction>(Name, &FWindow);
  action->setSeparator(true);
  FView.addAction(action);
}

void TViewMenu::FlickerTick() {
  // A slider change has ended the flicker meanwhile: the entry follows.
  if (!FController.Flickering()) {
    FFlicker->setChecked(false);
    return;
  }
  FController.FlickerTick();
}

void TViewMenu::StopFlicker() {
  if (FFlicker->isChecked()) FFlicker->setChecked(false);
}

void TViewMenu::ShowModes() {
  for (const auto& [action, mode] : FModes) {
    const QSignalBlocker quiet(action);
    action->setChecked(FController.DrawnMode() == mode);
  }
}

void TViewMenu::ShowDrawing() {
  ShowModes();
  ShowMatch(FController.ColourMatchOn());
}

void TViewMenu::ShowMatch(bool On) {
  const QSignalBlocker quiet(FMatch);
  FMatch->setChecked(On);
}

void TViewMenu::ShowMeasureTool() {
  for (const auto& [action, tool] : FTools) {
    const QSignalBlocker quiet(action);
    action->setChecked(FController.MeasureTool() == tool);
  }
  FWiring.ShowStatus();
}

void TViewMenu::ShowEnabled(bool Enabled) {
  for (QAction* command : FCommands) command->setEnabled(Enabled);
  if (!Enabled) FFlicker->setChecked(false);
  FFlicker->setEnabled(Enabled);
  // The scale bar needs picture 1 with a known scale only.
  {
    const QSignalBlocker quiet(FScaleBar);
    FScaleBar->setEnabled(FController.ScaleBarAvailable());
    FScaleBar->setChecked(FController.ScaleBarShown());
  }
  const bool anyAid = Enabled || FScaleBar->isEnabled();
  FView.setContextMenuPolicy(anyAid ? Qt::ActionsContextMenu : Qt::NoContextMenu);
}

}  // namespace overlay
