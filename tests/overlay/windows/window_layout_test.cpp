#include "overlay/windows/window_layout.h"

#include <gtest/gtest.h>

namespace overlay {
namespace {

TEST(PanelLayout, ClientWidth979) {
  const TBottomPanelLayout l = PanelControlsLayout(979);
  EXPECT_EQ(l.SliderWidth, 328);
  EXPECT_EQ(l.LeftEditLeft, 416);
  EXPECT_EQ(l.RightEditLeft, 905);
  EXPECT_EQ(l.ButtonCloseLeft, 858);  // right edge on EditZoom's right edge
  EXPECT_EQ(l.BitBtnPrintLeft, 858 - 41 - 41);
}

TEST(OpenPictureFilter, PairsBecomeQtNameFiltersInOrder) {
  const std::vector<std::string> f = NameFilters(OpenPictureFilter);
  ASSERT_EQ(f.size(), 7u);
  EXPECT_EQ(f[0], "*.jpg, *.bmp (*.jpg *.jpeg *.bmp)");
  EXPECT_EQ(f[6], "*.tga (*.tga)");
}

}  // namespace
}  // namespace overlay
