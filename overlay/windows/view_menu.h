// The view's context menu of the main window: the ways of drawing (an entry each, from the table
// ViewModes()), colour matching, the scale bar, the measuring tools, the two zooms, the history and
// the notes. Every entry is an action of the window too, so that its key works anywhere in it.
// The menu holds the entries and the flicker's clock; what an entry changes beyond the controller
// (the status bar, the record, the settings, a dialog) the window does through TViewMenuWiring.
#pragma once

#include <QObject>
#include <functional>
#include <optional>
#include <vector>

#include "overlay/scene/main_controller.h"

class QAction;
class QTimer;
class QWidget;

namespace overlay {

struct TViewMenuWiring {
  std::function<void()> ShowStatus;          // what the status bar says may have changed
  std::function<void()> ComparisonChanged;   // a change of what the record keeps
  std::function<void(bool On)> MatchChosen;  // colour matching switched by the user
  // Where the delete and rename entries act: where the menu was asked for, or the mouse.
  std::function<std::optional<raster::TPoint>()> MeasureAt;
  std::function<void(raster::TPoint At)> RenameMeasure;
  std::function<void()> EditNotes;
  std::function<void()> BeforeHistory;  // an undo, redo or reset is about to run
};

class TViewMenu {
 public:
  // The entries go to Window (their keys) and to View (its context menu, with the keys shown).
  TViewMenu(QWidget& Window, QWidget& View, TMainController& Controller, TViewMenuWiring Wiring);

  // How long the flicker shows each of its two states.
  void SetFlickerInterval(int Ms) { FFlickerMs = Ms; }
  // One step of the flicker (the clock's; tests call it as their clock).
  void FlickerTick();
  // Ends the flicker when it runs (a key, a print: the overlay as its sliders say).
  void StopFlicker();
  // The entries' checks as the controller draws now: the ways of drawing, colour matching.
  void ShowDrawing();
  // The tool entries' checks as the controller's tool is, then the status.
  void ShowMeasureTool();
  // Colour matching's check, without running the entry (the settings' choice at the start).
  void ShowMatch(bool On);
  // The entries usable with both pictures loaded (Enabled) and the scale bar's with picture 1's
  // scale; a menu of greyed entries only says that nothing can be done, so then there is none.
  void ShowEnabled(bool Enabled);

 private:
  QAction* Add(const char* Name, const char* Text, QKeyCombination Key, bool Checkable);
  QAction* Aid(const char* Name, const char* Text, QKeyCombination Key);
  void Separator(const char* Name);
  void Command(const char* Name, const char* Text, QKeyCombination Key,
               const std::function<void()>& Do);
  void ShowModes();

  QWidget& FWindow;
  QWidget& FView;
  TMainController& FController;
  TViewMenuWiring FWiring;
  std::vector<std::pair<QAction*, TViewMode>> FModes;  // the ways of drawing but the flicker
  QAction* FFlicker = nullptr;
  QAction* FMatch = nullptr;
  QAction* FScaleBar = nullptr;
  std::vector<std::pair<QAction*, TMeasureTool>> FTools;
  std::vector<QAction*> FCommands;  // usable exactly while both pictures are loaded
  QTimer* FFlickerTimer = nullptr;
  int FFlickerMs = 500;
};

}  // namespace overlay
