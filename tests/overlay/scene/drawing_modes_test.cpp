// The ways of drawing on a view of their own: one at a time, what each draws, and the flicker
// over them.
#include "overlay/scene/drawing_modes.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace overlay {
namespace {

using raster::TPaintRegion;

// A way turned off ends only itself (the menu unchecks the one before after checking the next),
// and each draws picture 2 as its row says, over the part of the view its row says.
TEST(ViewModes, OneWayAtATimeEachDrawnAsItsRowSays) {
  const struct {
    std::vector<std::pair<TViewMode, bool>> Steps;
    TViewMode Mode;
    raster::TDrawMode DrawMode;
    TPaintRegion::TKind Region;
  } cases[] = {
      {{{TViewMode::Difference, true}},
       TViewMode::Difference,
       raster::dmDifference,
       TPaintRegion::prAll},
      {{{TViewMode::Difference, true}, {TViewMode::Swipe, true}, {TViewMode::Difference, false}},
       TViewMode::Swipe,
       raster::dmOpaque,
       TPaintRegion::prRightOf},
      {{{TViewMode::Checker, true}, {TViewMode::Side, false}},
       TViewMode::Checker,
       raster::dmOpaque,
       TPaintRegion::prChecker},
      {{{TViewMode::Side, true}}, TViewMode::Side, raster::dmOpaque, TPaintRegion::prSide},
      {{{TViewMode::Swipe, true}, {TViewMode::Swipe, false}},
       TViewMode::Blend,
       raster::dmBlend,
       TPaintRegion::prAll},
  };
  for (const auto& c : cases) {
    raster::TImgView32 view;
    view.SetBounds(0, 0, 200, 150);
    view.Bitmap().SetSize(120, 80);
    auto* label = view.Layers().Add<TCornerLabelLayer>();
    auto* layer = view.Layers().Add<raster::TRotLayer>();
    TViewModes modes(view, *label);
    modes.SetLayer(layer);
    for (const auto& [mode, on] : c.Steps) modes.Set(mode, on);
    EXPECT_EQ(modes.Mode(), c.Mode);
    EXPECT_EQ(layer->Bitmap()->DrawMode(), c.DrawMode);
    EXPECT_EQ(layer->PaintRegion().Kind, c.Region);
    EXPECT_EQ(view.SplitViewport(), c.Mode == TViewMode::Side);
    EXPECT_EQ(layer->PaintRegion().Line,
              c.Mode == TViewMode::Swipe ? 60 : 0);  // picture 1's middle

    // The flicker shows picture 1 alone, then picture 2 opaque and whole; a way of drawing chosen
    // meanwhile ends it and draws as before.
    modes.StartFlicker();
    EXPECT_FALSE(layer->GetVisible());
    modes.FlickerTick();
    EXPECT_TRUE(layer->GetVisible());
    EXPECT_EQ(layer->Bitmap()->DrawMode(), raster::dmOpaque);
    EXPECT_EQ(layer->PaintRegion(), TPaintRegion{});
    modes.Set(c.Mode, true);
    EXPECT_FALSE(modes.Flickering());
    EXPECT_EQ(layer->Bitmap()->DrawMode(), c.DrawMode);
    EXPECT_EQ(layer->PaintRegion().Kind, c.Region);
    EXPECT_TRUE(layer->GetVisible());
  }
}

// What the record keeps names every way of drawing there is again, the flicker as the blend it
// stops at.
TEST(ViewModes, TheRecordsNamesRoundTrip) {
  for (const TViewModeRow& row : ViewModes()) {
    const std::optional<TViewMode> back = ViewModeOfName(ViewModeName(row.Mode));
    EXPECT_EQ(back, row.Mode == TViewMode::Flicker ? TViewMode::Blend : row.Mode)
        << ViewModeName(row.Mode);
  }
}

}  // namespace
}  // namespace overlay
