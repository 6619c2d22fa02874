// The ways of drawing the comparison, each described once: what the record keeps, what
// tessaly-render is told, the view menu's entry and key, and what the status bar says. A new way
// of drawing is a row here plus its drawing code in the scene.
#pragma once

#include <optional>
#include <span>
#include <string_view>

#include "controls/rot_layer.h"
#include "overlay/base/texts.h"
#include "raster/core.h"

namespace overlay {

enum class TViewMode { Blend, Difference, Flicker, Swipe, Checker, Side };

struct TViewModeRow {
  TViewMode Mode;
  // "[View] Mode" in the comparison record; empty for a mode that is never kept (the flicker
  // shows the blend again when it stops).
  std::string_view RecordName;
  // tessaly-render's --mode; a mode with a parameter takes it after a colon ("swipe:X").
  std::string_view CommandLineName;
  // The view menu's entry: its name in the language file, its German text and its key (a
  // letter); none for the blend, which is what shows when no entry is checked.
  const char* MenuName;
  const char* MenuText;
  char MenuKey;
  // What the status bar, the print and the captures' labels call it.
  const TText* Text;
  // How picture 2 is drawn over picture 1 and where it covers it (the flicker's: while it shows
  // picture 2, opaque and whole). The swipe, the checkerboard and the side by side set picture 1
  // beside the overlay itself, not blended.
  raster::TDrawMode DrawMode;
  raster::TPaintRegion::TKind Region;
};

// Every way of drawing, the blend first.
std::span<const TViewModeRow> ViewModes();
const TViewModeRow& ViewModeRowOf(TViewMode Mode);

// The way of drawing's name: "Differenz", "Vorhang", ...
TText ViewModeText(TViewMode Mode);
// The record's name of a way of drawing ("blend" for the flicker), and the way of a name.
std::string_view ViewModeName(TViewMode Mode);
std::optional<TViewMode> ViewModeOfName(std::string_view Name);

}  // namespace overlay
