#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "overlay/scene/overlay_scene.h"
#include "raster/blend.h"
#include "raster/transforms.h"
#include "tests/support/test_pictures.h"

namespace overlay {
namespace {

using raster::TBitmap32;
using raster::TColor32;
using testsupport::FillPattern;

// ---------------------------------------------------------------------------------------
// Slider formulas

TEST(SliderFormulas, OverlayZoomFactorSpansItsRange) {
  EXPECT_FLOAT_EQ(OverlayZoomFactor(0), 1.0f);
  EXPECT_FLOAT_EQ(OverlayZoomFactor(500), 3.1622777f);
  EXPECT_FLOAT_EQ(OverlayZoomFactor(-500), 0.31622777f);
  EXPECT_FLOAT_EQ(OverlayZoomFactor(176), float(std::pow(10.0L, 0.176L)));
}

TEST(SliderFormulas, ViewZoomFactorSpansItsRange) {
  EXPECT_FLOAT_EQ(ViewZoomFactor(-100), 0.1f);
  EXPECT_FLOAT_EQ(ViewZoomFactor(0), 1.0f);
  EXPECT_FLOAT_EQ(ViewZoomFactor(100), 10.0f);
  EXPECT_FLOAT_EQ(ViewZoomFactor(-57), float(std::pow(10.0L, -0.57L)));
}

TEST(SliderFormulas, OverlayZoomOf100PixelsAtTheTopIs316) {
  TBitmap32 original;
  original.SetSize(100, 100);
  EXPECT_EQ(OverlayZoomSize(original, OverlayZoomFactor(500)), (raster::TSize{316, 316}));
  EXPECT_EQ(OverlayZoomSize(original, OverlayZoomFactor(-500)), (raster::TSize{31, 31}));
  original.SetSize(2048, 1536);
  EXPECT_EQ(OverlayZoomSize(original, 1.0f), (raster::TSize{2048, 1536}));
}

TEST(SliderFormulas, OverlayPositionAddsIntegerHalvesOfTheLoadedSize) {
  TBitmap32 original;
  original.SetSize(101, 37);
  EXPECT_EQ(OverlayPosition(0, 0, original), (raster::TFloatPoint{50, 18}));
  EXPECT_EQ(OverlayPosition(-35, 12, original), (raster::TFloatPoint{15, 30}));
}

TEST(SliderFormulas, ZoomReadOutHasTwoDecimalsAfterRoundingToThePrecision) {
  EXPECT_EQ(FormatZoom(1.0f, 1), "1.00");
  EXPECT_EQ(FormatZoom(0.1f, 1), "0.10");
  EXPECT_EQ(FormatZoom(10.0f, 1), "10.00");
  EXPECT_EQ(FormatZoom(2.3442f, 2), "2.30");
  EXPECT_EQ(FormatZoom(0.3162f, 2), "0.32");
  EXPECT_EQ(FormatZoom(3.1623f, 2), "3.20");
  EXPECT_EQ(FormatZoom(ViewZoomFactor(-100), 1), "0.10");
  EXPECT_EQ(FormatZoom(ViewZoomFactor(100), 1), "10.00");
  EXPECT_EQ(FormatZoom(2.5f, 2, ","), "2,50");
  EXPECT_EQ(FormatZoom(1234.5f, 6, ".", ","), "1,234.50");
  EXPECT_EQ(FormatZoom(1234.5f, 2), "1,200.00");
}

// ---------------------------------------------------------------------------------------
// The scene

class SceneTest : public ::testing::Test {
 protected:
  SceneTest() {
    FillPattern(Picture1, 300, 200, 1);
    FillPattern(Picture2, 101, 60, 2);
  }
  TBitmap32 Picture1, Picture2;
};

TEST_F(SceneTest, SlidersStayDisabledUntilBothPicturesAreLoadedInEitherOrder) {
  TOverlayScene scene(200, 150);
  scene.LoadImage2(Picture2);
  EXPECT_FALSE(scene.Enabled());
  scene.SetAngle(30);  // disabled: nothing moves
  EXPECT_EQ(scene.Sliders().Angle, 0);
  EXPECT_EQ(scene.RotLayer()->Angle(), 0.0f);
  scene.LoadImage1(Picture1);
  EXPECT_TRUE(scene.Enabled());
  scene.SetAngle(30);
  EXPECT_EQ(scene.RotLayer()->Angle(), 30.0f);
}

TEST_F(SceneTest, Picture2StartsWithItsCentreAtHalfItsSize) {
  TOverlayScene scene(200, 150);
  scene.LoadImage1(Picture1);
  scene.LoadImage2(Picture2);
  raster::TRotLayer& layer = *scene.RotLayer();
  EXPECT_EQ(layer.BitmapCenter(), (raster::TFloatPoint{50, 30}));  // odd width 101
  EXPECT_EQ(layer.Position(), (raster::TFloatPoint{50, 30}));
  EXPECT_TRUE(layer.Scaled());
  EXPECT_EQ(layer.Bitmap()->DrawMode(), raster::dmBlend);
  EXPECT_EQ(layer.Bitmap()->StretchFilter(), raster::sfLinear);
  EXPECT_EQ(layer.Bitmap()->MasterAlpha(), 120u);
  EXPECT_EQ(layer.Transformation().SrcRect, raster::FloatRect(0, 0, 100, 59));
  const TBitmap32& original = *scene.OverlayOriginal();
  EXPECT_EQ(original.DrawMode(), raster::dmOpaque);
  EXPECT_EQ(original.StretchFilter(), raster::sfLinear);
  EXPECT_EQ(original.GetPixel(100, 59), Picture2.GetPixel(100, 59));
  // The overlay, the measures, the scale bar, the flicker label.
  EXPECT_EQ(scene.View().Layers().Count(), 4);
}

TEST_F(SceneTest, OverlayTopLeftSitsOnPicture1TopLeftAtZeroOffsetsAlsoWhenZoomed) {
  TOverlayScene scene(200, 150);
  scene.LoadImage1(Picture1);
  scene.LoadImage2(Picture2);
  scene.SetViewZoom(30);
  for (int zoom : {0, 250, -400}) {
    scene.SetOverlayZoom(zoom);
    raster::TRotLayer& layer = *scene.RotLayer();
    layer.AdjustTransformation();
    const raster::TFloatMatrix& m = layer.Transformation().Matrix;
    const raster::TViewMapping& mapping = scene.View().Mapping();
    EXPECT_NEAR(m[2][0], float(mapping.ShiftX), 1e-3) << zoom;
    EXPECT_NEAR(m[2][1], float(mapping.ShiftY), 1e-3) << zoom;
  }
}

TEST_F(SceneTest, OverlayZoomRebuildsFromTheUnscaledCopy) {
  TOverlayScene scene(200, 150);
  scene.LoadImage1(Picture1);
  scene.LoadImage2(Picture2);
  TBitmap32& bitmap = *scene.RotLayer()->Bitmap();
  scene.SetOverlayZoom(500);
  EXPECT_EQ(bitmap.Width(), 319);  // 101 x 3.1622777 truncated
  EXPECT_EQ(bitmap.Height(), 189);
  EXPECT_EQ(scene.RotLayer()->Transformation().SrcRect, raster::FloatRect(0, 0, 318, 188));
  EXPECT_EQ(scene.RotLayer()->BitmapCenter(), (raster::TFloatPoint{50, 30}));
  EXPECT_EQ(bitmap.MasterAlpha(), 120u);  // draw settings stay
  EXPECT_EQ(bitmap.DrawMode(), raster::dmBlend);

  // Down and back up again gives exactly the first zoom's pixels: nothing degrades.
  TBitmap32 first;
  first.Assign(&bitmap);
  scene.SetOverlayZoom(-500);
  EXPECT_EQ(bitmap.Width(), 31);
  scene.SetOverlayZoom(500);
  ASSERT_EQ(bitmap.Width(), first.Width());
  for (int y = 0; y < bitmap.Height(); ++y) {
    for (int x = 0; x < bitmap.Width(); ++x) ASSERT_EQ(bitmap.GetPixel(x, y), first.GetPixel(x, y));
  }

  // The stretch is the opaque bilinear one of the unscaled copy.
  TBitmap32 expected;
  expected.SetSize(319, 189);
  raster::StretchTransfer(&expected, raster::MakeRect(0, 0, 319, 189), scene.OverlayOriginal(),
                          scene.OverlayOriginal()->BoundsRect(), raster::sfLinear, raster::dmOpaque,
                          nullptr);
  for (int y = 0; y < 189; ++y) {
    for (int x = 0; x < 319; ++x) ASSERT_EQ(bitmap.GetPixel(x, y), expected.GetPixel(x, y));
  }
}

// Hands out blocks that are not asked to be zeroed full of leftovers, as reused memory is.
class TDirtyPixelMemory : public raster::TPixelAllocator {
 public:
  void* Allocate(std::size_t Bytes, bool Zeroed) override {
    void* block = std::malloc(Bytes);
    if (block != nullptr) std::memset(block, Zeroed ? 0 : 0x5C, Bytes);
    if (!Zeroed) ++Unzeroed;
    return block;
  }
  void Release(void* Block, std::size_t) noexcept override { std::free(Block); }
  int Unzeroed = 0;
};

TEST(OverlayRebuild, LeftoversInReusedMemoryNeverShow) {
  TDirtyPixelMemory memory;
  raster::SetPixelAllocator(&memory);
  TBitmap32 original, bitmap, expected;
  FillPattern(original, 60, 40, 9);
  original.SetStretchFilter(raster::sfLinear);
  // Opaque and linear, as the scene keeps its unscaled copy: every pixel is drawn, so the
  // bitmap's memory is not cleared first.
  RebuildOverlayBitmap(bitmap, original, 1.7f);
  EXPECT_EQ(memory.Unzeroed, 1);
  expected.SetSize(102, 68);
  raster::StretchTransfer(&expected, expected.BoundsRect(), &original, original.BoundsRect(),
                          raster::sfLinear, raster::dmOpaque, nullptr);
  ASSERT_EQ(bitmap.Width(), 102);
  ASSERT_EQ(bitmap.Height(), 68);
  for (int y = 0; y < 68; ++y)
    for (int x = 0; x < 102; ++x) ASSERT_EQ(bitmap.GetPixel(x, y), expected.GetPixel(x, y));

  // Draws that leave pixels alone get cleared memory: blended, or linear at master alpha 0.
  original.SetDrawMode(raster::dmBlend);
  RebuildOverlayBitmap(bitmap, original, 1.3f);
  original.SetDrawMode(raster::dmOpaque);
  original.SetMasterAlpha(0);
  RebuildOverlayBitmap(bitmap, original, 1.5f);
  EXPECT_EQ(memory.Unzeroed, 1);
  for (int y = 0; y < bitmap.Height(); ++y)
    for (int x = 0; x < bitmap.Width(); ++x) ASSERT_EQ(bitmap.GetPixel(x, y), 0u);
  bitmap.SetSize(0, 0);
  expected.SetSize(0, 0);
  original.SetSize(0, 0);
  raster::SetPixelAllocator(nullptr);
}

TEST_F(SceneTest, OverlayZoomedToNothingStillPaints) {
  TOverlayScene scene(200, 150);
  scene.LoadImage1(Picture1);
  TBitmap32 tiny;
  FillPattern(tiny, 2, 3, 5);
  scene.LoadImage2(tiny);
  scene.SetOverlayZoom(-500);  // 2 x 0.316 and 3 x 0.316 truncate to 0
  EXPECT_TRUE(scene.RotLayer()->Bitmap()->Empty());
  EXPECT_EQ(scene.RotLayer()->Transformation().SrcRect, raster::FloatRect(0, 0, -1, -1));
  EXPECT_EQ(scene.RenderViewport()->Width(), 183);
  scene.SetOverlayZoom(500);  // and back from the unscaled copy
  EXPECT_EQ(scene.RotLayer()->Bitmap()->Width(), 6);
  EXPECT_EQ(scene.RotLayer()->Transformation().SrcRect, raster::FloatRect(0, 0, 5, 8));
}

TEST_F(SceneTest, ASliderSetToItsValueRunsNoHandler) {
  TOverlayScene scene(200, 150);
  scene.LoadImage1(Picture1);
  scene.LoadImage2(Picture2);
  scene.SetOverlayZoom(100);
  TBitmap32& bitmap = *scene.RotLayer()->Bitmap();
  bitmap.SetPixel(0, 0, 0x12345678u);  // a handler run would redraw it
  scene.SetOverlayZoom(100);
  EXPECT_EQ(bitmap.GetPixel(0, 0), 0x12345678u);
  scene.SetOverlayZoom(101);
  EXPECT_NE(bitmap.GetPixel(0, 0), 0x12345678u);
}

TEST_F(SceneTest, OutOfRangeValuesAreClampedLikeAGaugeBar) {
  TOverlayScene scene(200, 150);
  scene.LoadImage1(Picture1);
  scene.LoadImage2(Picture2);
  scene.SetAngle(1000);
  scene.SetAlpha(-5);
  scene.SetOffsetY(-999);
  EXPECT_EQ(scene.Sliders().Angle, 180);
  EXPECT_EQ(scene.Sliders().Alpha, 0);
  EXPECT_EQ(scene.Sliders().OffsetY, -400);
  EXPECT_EQ(scene.RotLayer()->Bitmap()->MasterAlpha(), 0u);
  EXPECT_EQ(scene.RotLayer()->Position(), (raster::TFloatPoint{50, -370}));
}

TEST_F(SceneTest, LoadingPicture1AgainResetsEverySlider) {
  TOverlayScene scene(200, 150);
  scene.LoadImage1(Picture1);
  scene.LoadImage2(Picture2);
  scene.ApplySliders({12, -30, 40, 50, 200, 33});
  EXPECT_FLOAT_EQ(scene.View().Scale(), ViewZoomFactor(50));
  scene.LoadImage1(Picture1);
  EXPECT_EQ(scene.Sliders(), TSliderPositions{});
  EXPECT_EQ(scene.View().Scale(), 1.0f);
  EXPECT_EQ(scene.RotLayer()->Angle(), 0.0f);
  EXPECT_EQ(scene.RotLayer()->Position(), (raster::TFloatPoint{50, 30}));
  EXPECT_EQ(scene.RotLayer()->Bitmap()->Width(), 101);
  EXPECT_EQ(scene.RotLayer()->Bitmap()->MasterAlpha(), 120u);
}

TEST_F(SceneTest, ANewPicture2ReplacesTheLayer) {
  TOverlayScene scene(200, 150);
  scene.LoadImage1(Picture1);
  scene.LoadImage2(Picture2);
  scene.SetAlpha(200);
  TBitmap32 other;
  FillPattern(other, 40, 30, 9);
  scene.LoadImage2(other);
  // The old overlay is gone; the new one lies under the measures, the scale bar and the flicker
  // label.
  ASSERT_EQ(scene.View().Layers().Count(), 4);
  EXPECT_EQ(scene.View().Layers().Items(0), scene.RotLayer());
  EXPECT_EQ(scene.RotLayer()->Bitmap()->Width(), 40);
  EXPECT_EQ(scene.OverlayOriginal()->Width(), 40);
  EXPECT_EQ(scene.RotLayer()->Position(), (raster::TFloatPoint{20, 15}));
  // Loaded with the opacity in force, then reset to the default by UpdateControls.
  EXPECT_EQ(scene.Sliders().Alpha, 120);
  EXPECT_EQ(scene.RotLayer()->Bitmap()->MasterAlpha(), 120u);
}

TEST_F(SceneTest, ViewportIsTheControlLessTheScrollBars) {
  TOverlayScene scene;
  scene.LoadImage1(Picture1);
  scene.LoadImage2(Picture2);
  const std::unique_ptr<TBitmap32> viewport = scene.RenderViewport();
  const TBitmap32& shot = *viewport;
  EXPECT_EQ(shot.Width(), 960);
  EXPECT_EQ(shot.Height(), 553);
  // Picture 1 (300 x 200) is centred; around it the view colour shows.
  EXPECT_EQ(shot.GetPixel(0, 0), raster::Color32(32, 32, 69));
  const int left = 330, top = 176;  // (960 - 300) / 2, Round((553 - 200) / 2) = 176.5 -> 176
  EXPECT_EQ(shot.GetPixel(left - 1, top + 100), raster::Color32(32, 32, 69));
  EXPECT_NE(shot.GetPixel(left + 150, top + 100), raster::Color32(32, 32, 69));
}

}  // namespace
}  // namespace overlay
