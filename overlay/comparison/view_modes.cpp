#include "overlay/comparison/view_modes.h"

#include <array>

namespace overlay {

namespace {

using raster::TPaintRegion;

const std::array<TViewModeRow, 6> Rows{{
    {TViewMode::Blend, "blend", "blend", nullptr, nullptr, 0, &BlendModeText, raster::dmBlend,
     TPaintRegion::prAll},
    {TViewMode::Difference, "difference", "difference", "MenuDifference", "Differenz", 'D',
     &DifferenceModeText, raster::dmDifference, TPaintRegion::prAll},
    {TViewMode::Flicker, "", "", "MenuFlicker", "Blinken", 'F', &FlickerModeText, raster::dmOpaque,
     TPaintRegion::prAll},
    {TViewMode::Swipe, "swipe", "swipe", "MenuSwipe", "Vorhang", 'S', &SwipeModeText,
     raster::dmOpaque, TPaintRegion::prRightOf},
    {TViewMode::Checker, "checker", "checker", "MenuChecker", "Schachbrett", 'C', &CheckerModeText,
     raster::dmOpaque, TPaintRegion::prChecker},
    {TViewMode::Side, "side", "side", "MenuSide", "Nebeneinander", 'B', &SideModeText,
     raster::dmOpaque, TPaintRegion::prSide},
}};

}  // namespace

std::span<const TViewModeRow> ViewModes() {
  return Rows;
}

const TViewModeRow& ViewModeRowOf(TViewMode Mode) {
  for (const TViewModeRow& row : Rows) {
    if (row.Mode == Mode) return row;
  }
  return Rows.front();
}

TText ViewModeText(TViewMode Mode) {
  return *ViewModeRowOf(Mode).Text;
}

std::string_view ViewModeName(TViewMode Mode) {
  const std::string_view name = ViewModeRowOf(Mode).RecordName;
  return name.empty() ? Rows.front().RecordName : name;
}

std::optional<TViewMode> ViewModeOfName(std::string_view Name) {
  for (const TViewModeRow& row : Rows) {
    if (!row.RecordName.empty() && row.RecordName == Name) return row.Mode;
  }
  return std::nullopt;
}

}  // namespace overlay
