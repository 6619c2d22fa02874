#include "raster/controls.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>

#include "raster/cpu.h"

namespace raster {
namespace {

// A control that shows one bitmap at an offset of its own.
class TPictureControl : public TControl {
 public:
  TBitmap32 Picture;
  TRect Part;
  TPoint At;
  void Paint() override { Blit(Picture, Part, At); }
};

// Every row length from 0 to 64 (the vector loop and its tails), clipped on every side, and a
// whole large picture (split over threads): the screen shows each pixel with its alpha set.
TEST(HeadlessHost, BlitSetsAlphaAndCopiesEveryPixel) {
  std::mt19937 random(20261207);
  const int savedThreads = RasterThreadCount();
  for (int threads : {1, 2}) {
    SetRasterThreadCount(threads);
    TPictureControl control;
    control.SetBounds(0, 0, 700, 500);
    control.Picture.SetSize(690, 480);
    for (std::int32_t y = 0; y < 480; ++y)
      for (std::int32_t x = 0; x < 690; ++x) control.Picture.SetPixel(x, y, TColor32(random()));
    auto check = [&](const TRect& Part, TPoint At) {
      SCOPED_TRACE(testing::Message()
                   << "part " << Part.Left << "," << Part.Top << " " << Part.Width() << "x"
                   << Part.Height() << " at " << At.X << "," << At.Y << ", threads " << threads);
      // A new host each time: its screen starts all zero.
      THeadlessHost host(control);
      control.Part = Part;
      control.At = At;
      const TColor32 untouched = 0;
      host.PaintNow();
      const TBitmap32& screen = host.Screen();
      for (std::int32_t y = 0; y < screen.Height(); ++y) {
        for (std::int32_t x = 0; x < screen.Width(); ++x) {
          const std::int32_t sx = x - At.X + Part.Left, sy = y - At.Y + Part.Top;
          const bool shown =
              PtInRect(Part, {sx, sy}) && PtInRect(control.Picture.BoundsRect(), {sx, sy});
          const TColor32 expected =
              shown ? (control.Picture.GetPixel(sx, sy) | 0xFF000000u) : untouched;
          ASSERT_EQ(screen.GetPixel(x, y), expected) << "at " << x << "," << y;
        }
      }
    };
    for (std::int32_t w = 0; w <= 64; ++w) check({3, 5, 3 + w, 9}, {11, 2});
    check({0, 0, 690, 480}, {0, 0});
    check({0, 0, 690, 480}, {-7, -9});  // cut off at the top left
    check({0, 0, 690, 480}, {30, 40});  // and at the bottom right
  }
  SetRasterThreadCount(savedThreads);
}

}  // namespace
}  // namespace raster
