#include "controls/image_view.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "controls/controls.h"
#include "controls/layers.h"
#include "controls/rot_layer.h"
#include "raster/transforms.h"

namespace raster {
namespace {

// The main window's view background, 4530208 (red 32, green 32, blue 69).
constexpr TWinColor ViewColor = 4530208;
constexpr TColor32 ViewColor32 = 0xFF202045u;

// An opaque picture whose every pixel differs from its neighbours.
void MakePicture(TBitmap32& B, std::int32_t W, std::int32_t H) {
  B.SetSize(W, H);
  for (std::int32_t y = 0; y < H; ++y) {
    for (std::int32_t x = 0; x < W; ++x) {
      B.SetPixel(x, y, Color32(std::uint8_t(x * 7 + y), std::uint8_t(y * 3), std::uint8_t(x ^ y)));
    }
  }
  B.Changed();
}

// A view hosted headless at the given size; the host goes before the view.
struct THostedView {
  THostedView(std::int32_t W, std::int32_t H) : Host(View) {
    Host.Resize(W, H);
    View.SetColor(ViewColor);
    View.SetSizeGrip(sgNone);
  }
  TImgView32 View;
  THeadlessHost Host;
};

// A layer filling a rectangle (control pixels) with one colour, counting its paints.
class TFillLayer : public TCustomLayer {
 public:
  explicit TFillLayer(TLayerCollection* Collection) : TCustomLayer(Collection) {}
  TLayerClass GetLayerClass() const override { return &CreateLayer<TFillLayer>; }
  TRect Area{0, 0, 10, 10};
  TColor32 Fill = 0xFFFF0000u;
  int Paints = 0;
  TColor32 SeenBeforePaint = 0;  // the buffer pixel at Area's top-left as this layer began
  std::int32_t BufferLocks = 0;  // the buffer's lock count while this layer paints
  void Paint(TBitmap32* Buffer) override {
    ++Paints;
    BufferLocks = Buffer->LockCount();
    SeenBeforePaint = Buffer->GetPixelS(Area.Left, Area.Top);
    Buffer->FillRectS(Area, Fill);
  }
  bool DoHitTest(std::int32_t X, std::int32_t Y) override { return PtInRect(Area, {X, Y}); }
};

// ---------------------------------------------------------------------------------------
// Geometry

TEST(ImageViewGeometry, ScrollBarsTakeSeventeenPixelsOnEveryPlatform) {
  THostedView v(977, 570);
  EXPECT_EQ(v.View.GetViewportRect(), (TRect{0, 0, 960, 553}));
  EXPECT_EQ(v.View.HScroll().BoundsRect(), (TRect{0, 553, 960, 570}));
  EXPECT_EQ(v.View.VScroll().BoundsRect(), (TRect{960, 0, 977, 553}));
  EXPECT_EQ(v.View.VScroll().Kind(), sbVertical);
  EXPECT_EQ(v.View.HScroll().BorderStyle(), bsNone);
  EXPECT_TRUE(v.View.HScroll().Centered());
  EXPECT_EQ(v.View.ScaleMode(), smScale);
  EXPECT_EQ(v.View.BitmapAlign(), baCustom);
  EXPECT_EQ(v.View.ScrollBars().Increment(), 8);

  // A size of its own moves the bars and shrinks the viewport.
  v.View.ScrollBars().SetSize(20);
  EXPECT_EQ(v.View.GetViewportRect(), (TRect{0, 0, 957, 550}));
  EXPECT_EQ(v.View.HScroll().BoundsRect(), (TRect{0, 550, 957, 570}));
  v.View.ScrollBars().SetSize(0);
  EXPECT_EQ(v.View.GetViewportRect(), (TRect{0, 0, 960, 553}));
}

TEST(ImageViewGeometry, SmallPictureIsCentredWithIdentityScale) {
  THostedView v(417, 317);  // a 400 x 300 viewport
  MakePicture(v.View.Bitmap(), 100, 50);
  EXPECT_FLOAT_EQ(v.View.OffsetHorz(), 150.0f);
  EXPECT_FLOAT_EQ(v.View.OffsetVert(), 125.0f);
  v.View.UpdateCache();
  EXPECT_EQ(v.View.CachedBitmapRect(), (TRect{150, 125, 250, 175}));
  const TViewMapping& m = v.View.Mapping();
  EXPECT_EQ(m.ScaleX, 65536);
  EXPECT_EQ(m.ScaleY, 65536);
  EXPECT_EQ(m.InvScaleX, 65536);
  EXPECT_EQ(m.ShiftX, 150);
  EXPECT_EQ(m.ShiftY, 125);
  EXPECT_EQ(v.View.Layers().Mapping(), &m);
  EXPECT_EQ(v.View.HScroll().Range(), 100);
  EXPECT_EQ(v.View.HScroll().Position(), 0.0f);
}

TEST(ImageViewGeometry, HalfPixelCentringRoundsTiesToEven) {
  THostedView v(418, 317);  // viewport 401 wide
  MakePicture(v.View.Bitmap(), 100, 50);
  EXPECT_FLOAT_EQ(v.View.OffsetHorz(), 150.5f);
  v.View.UpdateCache();
  EXPECT_EQ(v.View.CachedBitmapRect().Left, 150);

  v.Host.Resize(420, 317);  // viewport 403 wide
  EXPECT_FLOAT_EQ(v.View.OffsetHorz(), 151.5f);
  v.View.UpdateCache();
  EXPECT_EQ(v.View.CachedBitmapRect().Left, 152);
  EXPECT_EQ(v.View.CachedBitmapRect().Right, 252);

  EXPECT_EQ(RoundTiesToEven(0.5L), 0);
  EXPECT_EQ(RoundTiesToEven(-2.5L), -2);
  EXPECT_EQ(RoundTiesToEven(2.5000001L), 3);
}

TEST(ImageViewGeometry, ZoomedPictureScrolledToItsCentreConvertsBothWays) {
  THostedView v(417, 317);
  v.View.SetScale(2);
  MakePicture(v.View.Bitmap(), 1000, 800);
  EXPECT_EQ(v.View.HScroll().Range(), 2000);
  EXPECT_EQ(v.View.VScroll().Range(), 1600);
  EXPECT_FLOAT_EQ(v.View.HScroll().Position(), 800.0f);
  EXPECT_FLOAT_EQ(v.View.VScroll().Position(), 650.0f);
  EXPECT_FLOAT_EQ(v.View.OffsetHorz(), -800.0f);
  EXPECT_FLOAT_EQ(v.View.OffsetVert(), -650.0f);

  EXPECT_EQ(v.View.ControlToBitmap({200, 150}), (TPoint{500, 400}));
  EXPECT_EQ(v.View.BitmapToControl({500, 400}), (TPoint{200, 150}));
  EXPECT_EQ(v.View.Mapping().ScaleX, 131072);
  EXPECT_EQ(v.View.Mapping().InvScaleY, 32768);
  // Quotients truncate toward zero, also left of the bitmap.
  EXPECT_EQ(v.View.ControlToBitmap({-803, 0}).X, -1);
  EXPECT_EQ(v.View.ControlToBitmap({-3, 0}).X, 398);
  EXPECT_EQ(v.View.BitmapToControl({-1, 0}).X, -802);
  // Far-off points convert without overflowing.
  EXPECT_EQ(v.View.ControlToBitmap({70000, 0}).X, 35400);
}

TEST(ImageViewGeometry, ZoomKeepsThePictureAtTheViewportCentre) {
  THostedView v(417, 317);
  MakePicture(v.View.Bitmap(), 1000, 800);
  ASSERT_FLOAT_EQ(v.View.HScroll().Position(), 300.0f);
  ASSERT_FLOAT_EQ(v.View.VScroll().Position(), 250.0f);
  int changes = 0;
  v.View.OnChange = [&changes](TObject*) { ++changes; };

  v.View.SetScale(2);
  EXPECT_FLOAT_EQ(v.View.HScroll().Position(), 800.0f);
  EXPECT_FLOAT_EQ(v.View.VScroll().Position(), 650.0f);
  EXPECT_EQ(v.View.ControlToBitmap({200, 150}), (TPoint{500, 400}));
  EXPECT_GE(changes, 1);
  EXPECT_FALSE(v.View.BufferValid());

  // Setting the same scale again changes nothing.
  changes = 0;
  v.View.SetScale(2);
  EXPECT_EQ(changes, 0);

  // Zoomed out below the viewport size the picture is centred again.
  v.View.SetScale(0.1f);
  EXPECT_FLOAT_EQ(v.View.OffsetHorz(), 150.0f);
  EXPECT_FLOAT_EQ(v.View.OffsetVert(), 110.0f);
  EXPECT_EQ(v.View.HScroll().Position(), 0.0f);
}

TEST(ImageViewGeometry, ResizeKeepsTheViewportCentre) {
  THostedView v(417, 317);
  MakePicture(v.View.Bitmap(), 1000, 800);
  ASSERT_FLOAT_EQ(v.View.HScroll().Position(), 300.0f);
  v.Host.Resize(217, 317);  // viewport 200 wide
  EXPECT_FLOAT_EQ(v.View.HScroll().Position(), 400.0f);
  EXPECT_FLOAT_EQ(v.View.OffsetHorz(), -400.0f);
  EXPECT_EQ(v.View.ControlToBitmap({100, 150}), (TPoint{500, 400}));
  EXPECT_EQ(v.View.HScroll().BoundsRect(), (TRect{0, 300, 200, 317}));
}

TEST(ImageViewGeometry, ScaleIsNeverBelowOneThousandth) {
  TImgView32 view;
  view.SetScale(0);
  EXPECT_FLOAT_EQ(view.Scale(), 0.001f);
  view.SetScale(-5);
  EXPECT_FLOAT_EQ(view.Scale(), 0.001f);
  view.SetScale(std::nanf(""));
  EXPECT_FLOAT_EQ(view.Scale(), 0.001f);
  view.SetScale(3);
  EXPECT_FLOAT_EQ(view.Scale(), 3.0f);
}

TEST(ImageViewGeometry, BitmapSizeAndRectByScaleModeAndAlignment) {
  TCustomImage32 image;  // 192 x 192
  EXPECT_EQ(image.GetBitmapSize(), (TSize{0, 0}));
  EXPECT_EQ(image.GetBitmapRect(), (TRect{0, 0, 0, 0}));
  image.Bitmap().SetSize(96, 48);
  EXPECT_EQ(image.GetBitmapSize(), (TSize{96, 48}));  // smNormal
  image.SetScaleMode(smStretch);
  EXPECT_EQ(image.GetBitmapSize(), (TSize{192, 192}));
  image.SetScaleMode(smResize);
  EXPECT_EQ(image.GetBitmapSize(), (TSize{192, 96}));
  image.SetScaleMode(smScale);
  image.SetScale(1.5f);
  EXPECT_EQ(image.GetBitmapSize(), (TSize{144, 72}));
  image.SetBitmapAlign(baCenter);
  EXPECT_EQ(image.GetBitmapRect(), (TRect{24, 60, 168, 132}));
  image.SetBitmapAlign(baCustom);
  image.SetOffsetHorz(-2.5f);
  image.SetOffsetVert(3.5f);
  EXPECT_EQ(image.GetBitmapRect(), (TRect{-2, 4, 142, 76}));
  // The mapping of a 1.5 zoom.
  image.UpdateCache();
  EXPECT_EQ(image.Mapping().ScaleX, 98304);
  EXPECT_EQ(image.Mapping().InvScaleX, 43691);
  // A control of width 0 has no bitmap size.
  image.SetBounds(0, 0, 0, 50);
  EXPECT_EQ(image.GetBitmapSize(), (TSize{0, 0}));
}

TEST(ImageViewGeometry, ImageUpdateCountMustPair) {
  TCustomImage32 image;
  int changes = 0;
  image.OnChange = [&changes](TObject*) { ++changes; };
  image.BeginUpdate();
  image.Changed();
  EXPECT_EQ(changes, 0);
  image.EndUpdate();
  EXPECT_EQ(changes, 0);  // EndUpdate does not notify by itself
  image.Changed();
  EXPECT_EQ(changes, 1);
  try {
    image.EndUpdate();
    FAIL() << "an unpaired EndUpdate must fail";
  } catch (const EAssertionFailed& e) {
    EXPECT_STREQ(e.what(), "Unpaired EndUpdate call");
  }
}

TEST(ImageViewGeometry, NotCenteredPlacesByTheScrollBarsOnly) {
  THostedView v(417, 317);
  v.View.SetCentered(false);
  MakePicture(v.View.Bitmap(), 100, 50);
  EXPECT_FALSE(v.View.HScroll().Centered());
  EXPECT_FLOAT_EQ(v.View.OffsetHorz(), 0.0f);
  EXPECT_FLOAT_EQ(v.View.OffsetVert(), 0.0f);
  MakePicture(v.View.Bitmap(), 1000, 800);
  EXPECT_EQ(v.View.HScroll().Position(), 0.0f);
  v.View.Scroll(30, 1000);
  EXPECT_FLOAT_EQ(v.View.HScroll().Position(), 30.0f);
  EXPECT_FLOAT_EQ(v.View.VScroll().Position(), 500.0f);  // clamped to range - window
  EXPECT_FLOAT_EQ(v.View.OffsetHorz(), -30.0f);
  EXPECT_FLOAT_EQ(v.View.OffsetVert(), -500.0f);
}

// ---------------------------------------------------------------------------------------
// Buffer and paint sequence

TEST(ImageViewPaint, BufferKeepsItsSizeForSmallShrinks) {
  THostedView v(517, 317);  // viewport 500 wide
  v.Host.PaintNow();
  EXPECT_EQ(v.View.Buffer().Width(), 500);
  EXPECT_EQ(v.View.Buffer().Height(), 300);
  EXPECT_EQ(v.View.Buffer().UpdateCount(), 1);  // opened once, never closed

  v.Host.Resize(497, 317);  // 480
  v.Host.PaintNow();
  EXPECT_EQ(v.View.Buffer().Width(), 500);
  v.Host.Resize(467, 317);  // 450: more than 40 smaller
  v.Host.PaintNow();
  EXPECT_EQ(v.View.Buffer().Width(), 450);
  v.Host.Resize(468, 317);  // 451: grows to exactly the viewport
  v.Host.PaintNow();
  EXPECT_EQ(v.View.Buffer().Width(), 451);

  v.View.SetBufferOversize(-3);
  EXPECT_EQ(v.View.BufferOversize(), 0);
  v.Host.Resize(467, 317);
  v.Host.PaintNow();
  EXPECT_EQ(v.View.Buffer().Width(), 450);
  EXPECT_EQ(v.View.Buffer().LockCount(), 0);
}

TEST(ImageViewPaint, DefaultStagesAndStageListEdits) {
  TCustomImage32 image;
  TPaintStages& stages = image.PaintStages();
  ASSERT_EQ(stages.Count(), 5);
  const std::uint32_t kinds[] = {pstClearBackgnd, pstControlFrame, pstDrawBitmap, pstBitmapFrame,
                                 pstDrawLayers};
  const bool run[] = {true, false, true, false, true};
  for (std::int32_t i = 0; i < 5; ++i) {
    EXPECT_EQ(stages.Items(i).Kind, kinds[i]);
    EXPECT_EQ(stages.Items(i).RunVisible, run[i]);
    EXPECT_TRUE(stages.Items(i).DesignVisible);
  }
  EXPECT_EQ(stages.Items(4).Param, loVisible);

  try {
    stages.Delete(5);
    FAIL() << "Delete(5) on five stages must fail";
  } catch (const EListError& e) {
    EXPECT_STREQ(e.what(), "Invalid stage index");
  }
  TPaintStage& appended = stages.Insert(99);
  EXPECT_EQ(appended.Kind, 0u);
  EXPECT_TRUE(appended.RunVisible);
  EXPECT_FALSE(appended.DesignVisible);
  appended.Kind = pstCustom;
  EXPECT_EQ(stages.Items(5).Kind, pstCustom);
  stages.Insert(-4).Kind = pstClearBuffer;
  EXPECT_EQ(stages.Items(0).Kind, pstClearBuffer);
  EXPECT_EQ(stages.Items(1).Kind, pstClearBackgnd);
  EXPECT_EQ(stages.Count(), 7);
  stages.Delete(0);
  EXPECT_EQ(stages.Items(0).Kind, pstClearBackgnd);
  EXPECT_THROW(stages.Items(6), EListError);
  stages.Clear();
  EXPECT_EQ(stages.Count(), 0);
}

TEST(ImageViewPaint, StagesRunInListOrderWithLayersOverThePicture) {
  THostedView v(117, 117);               // a 100 x 100 viewport
  MakePicture(v.View.Bitmap(), 40, 40);  // centred at (30, 30)
  auto* layer = v.View.Layers().Add<TFillLayer>();
  layer->Area = {35, 35, 45, 45};
  std::vector<std::string> log;
  v.View.OnPaintStage = [&](TObject* Sender, TBitmap32* Buffer, std::uint32_t StageNum) {
    EXPECT_EQ(Sender, &v.View);
    EXPECT_EQ(Buffer, &v.View.Buffer());
    log.push_back("custom " + std::to_string(StageNum) + " layer paints " +
                  std::to_string(layer->Paints));
  };
  v.View.PaintStages().Insert(0).Kind = pstCustom;
  v.View.PaintStages().Add().Kind = pstCustom;
  v.View.Invalidate();
  v.Host.PaintNow();
  const std::vector<std::string> expected = {"custom 0 layer paints 0", "custom 6 layer paints 1"};
  EXPECT_EQ(log, expected);
  // The layer found picture 1 already drawn under it, and its own fill is on top.
  EXPECT_EQ(layer->SeenBeforePaint, v.View.Bitmap().GetPixel(5, 5));
  EXPECT_EQ(layer->BufferLocks, 1);
  EXPECT_EQ(v.View.Buffer().LockCount(), 0);
  EXPECT_EQ(v.Host.Screen().GetPixel(36, 36), 0xFFFF0000u);
  EXPECT_EQ(v.Host.Screen().GetPixel(10, 10), ViewColor32);
  EXPECT_TRUE(v.View.BufferValid());

  // A valid buffer is shown again without running the stages.
  v.Host.PaintNow();
  EXPECT_EQ(log.size(), 2u);
  EXPECT_EQ(layer->Paints, 1);
}

TEST(ImageViewPaint, FocusFramesInvertEveryOtherOutlinePixel) {
  THostedView v(117, 117);
  MakePicture(v.View.Bitmap(), 40, 40);             // at (30, 30, 70, 70)
  v.View.PaintStages().Items(1).RunVisible = true;  // control frame
  v.View.PaintStages().Items(3).RunVisible = true;  // bitmap frame
  v.View.Invalidate();
  v.Host.PaintNow();
  const TBitmap32& b = v.View.Buffer();
  const TBitmap32& pic = v.View.Bitmap();
  EXPECT_EQ(b.GetPixel(30, 30), pic.GetPixel(0, 0) ^ 0x00FFFFFFu);
  EXPECT_EQ(b.GetPixel(31, 30), pic.GetPixel(1, 0));
  EXPECT_EQ(b.GetPixel(32, 30), pic.GetPixel(2, 0) ^ 0x00FFFFFFu);
  EXPECT_EQ(b.GetPixel(69, 69), pic.GetPixel(39, 39));  // odd distance along the bottom edge
  EXPECT_EQ(b.GetPixel(68, 69), pic.GetPixel(38, 69 - 30) ^ 0x00FFFFFFu);
  EXPECT_EQ(b.GetPixel(30, 32), pic.GetPixel(0, 2) ^ 0x00FFFFFFu);
  EXPECT_EQ(b.GetPixel(35, 35), pic.GetPixel(5, 5));  // inside untouched
  EXPECT_EQ(b.GetPixel(0, 0), ViewColor32 ^ 0x00FFFFFFu);
  EXPECT_EQ(b.GetPixel(1, 0), ViewColor32);
  EXPECT_EQ(b.GetPixel(0, 2), ViewColor32 ^ 0x00FFFFFFu);
  EXPECT_EQ(b.GetPixel(5, 5), ViewColor32);
}

TEST(ImageViewPaint, LayersPaintBottomFirstAndOnlyWhenVisible) {
  THostedView v(117, 117);
  auto* red = v.View.Layers().Add<TFillLayer>();
  auto* blue = v.View.Layers().Add<TFillLayer>();
  blue->Fill = 0xFF0000FFu;
  v.Host.ProcessPaint();
  EXPECT_EQ(v.Host.Screen().GetPixel(5, 5), 0xFF0000FFu);

  red->BringToFront();
  EXPECT_TRUE(v.Host.PaintPending());
  v.Host.ProcessPaint();
  EXPECT_EQ(v.Host.Screen().GetPixel(5, 5), 0xFFFF0000u);

  red->SetVisible(false);  // hiding must show what lies beneath
  EXPECT_TRUE(v.Host.PaintPending());
  v.Host.ProcessPaint();
  EXPECT_EQ(v.Host.Screen().GetPixel(5, 5), 0xFF0000FFu);
  const int redPaints = red->Paints;

  delete blue;
  v.Host.ProcessPaint();
  EXPECT_EQ(v.Host.Screen().GetPixel(5, 5), ViewColor32);
  EXPECT_EQ(red->Paints, redPaints);
}

TEST(ImageViewPaint, ChangesOnlyInvalidateAndCoalesce) {
  THostedView v(117, 117);
  MakePicture(v.View.Bitmap(), 40, 40);
  int rebuilds = 0;
  v.View.OnPaintStage = [&rebuilds](TObject*, TBitmap32*, std::uint32_t) { ++rebuilds; };
  v.View.PaintStages().Add().Kind = pstCustom;
  v.Host.PaintNow();
  ASSERT_EQ(rebuilds, 1);
  ASSERT_FALSE(v.Host.PaintPending());

  v.View.Bitmap().SetMasterAlpha(200);
  v.View.Bitmap().SetPixel(0, 0, 0);
  v.View.Bitmap().Changed();
  auto* layer = v.View.Layers().Add<TFillLayer>();
  layer->Changed();
  EXPECT_FALSE(v.View.BufferValid());
  EXPECT_FALSE(v.View.CacheValid());
  EXPECT_TRUE(v.Host.PaintPending());
  EXPECT_EQ(rebuilds, 1);  // nothing drawn yet
  v.Host.ProcessPaint();
  EXPECT_EQ(rebuilds, 2);
}

TEST(ImageViewPaint, BackgroundColourChangeRepaintsWithTheNewColour) {
  THostedView v(117, 117);
  MakePicture(v.View.Bitmap(), 20, 20);
  v.Host.PaintNow();
  EXPECT_EQ(v.Host.Screen().GetPixel(0, 0), ViewColor32);
  v.View.SetColor(0x00FFFFFFu);
  EXPECT_FALSE(v.View.BufferValid());
  EXPECT_TRUE(v.Host.PaintPending());
  v.Host.ProcessPaint();
  EXPECT_EQ(v.Host.Screen().GetPixel(0, 0), 0xFFFFFFFFu);
  EXPECT_EQ(v.Host.Screen().GetPixel(99, 99), 0xFFFFFFFFu);
  EXPECT_EQ(v.Host.Screen().GetPixel(40, 40), v.View.Bitmap().GetPixel(0, 0) | 0xFF000000u);
}

TEST(ImageViewPaint, EmptyBitmapClearsWithColourAndMapsByIdentity) {
  THostedView v(117, 117);
  v.Host.PaintNow();
  for (TPoint p : {TPoint{0, 0}, TPoint{50, 50}, TPoint{99, 99}}) {
    EXPECT_EQ(v.Host.Screen().GetPixel(p.X, p.Y), ViewColor32);
  }
  EXPECT_EQ(v.View.Mapping(), IdentityMapping);
  EXPECT_EQ(v.View.ControlToBitmap({7, 9}), (TPoint{7, 9}));
}

TEST(ImageViewPaint, PictureScaledToNothingShowsTheBackgroundOnly) {
  THostedView v(117, 117);
  MakePicture(v.View.Bitmap(), 10, 10);
  auto* layer = v.View.Layers().Add<TFillLayer>();
  v.View.SetScale(0.01f);  // 10 x 0.01 rounds to 0
  ASSERT_NO_THROW(v.Host.PaintNow());
  EXPECT_TRUE(IsRectEmpty(v.View.CachedBitmapRect()));
  EXPECT_EQ(v.View.Mapping(), IdentityMapping);
  EXPECT_EQ(layer->Paints, 0);
  for (std::int32_t y = 0; y < 100; y += 3) {
    for (std::int32_t x = 0; x < 100; x += 3) {
      ASSERT_EQ(v.Host.Screen().GetPixel(x, y), ViewColor32) << x << "," << y;
    }
  }
  // Back to a visible size: picture and layer return.
  v.View.SetScale(1);
  v.Host.ProcessPaint();
  EXPECT_EQ(layer->Paints, 1);
  EXPECT_EQ(v.Host.Screen().GetPixel(45, 45), v.View.Bitmap().GetPixel(0, 0) | 0xFF000000u);
}

TEST(ImageViewPaint, ViewsSmallerThanTheirScrollBarsPaintSafely) {
  for (TSize size : {TSize{0, 0}, TSize{10, 5}, TSize{17, 17}, TSize{18, 19}, TSize{40, 17}}) {
    for (float scale : {1.0f, 3.0f}) {
      SCOPED_TRACE(::testing::Message() << size.cx << " x " << size.cy << " at " << scale);
      THostedView v(size.cx, size.cy);
      MakePicture(v.View.Bitmap(), 50, 50);
      v.View.SetScale(scale);
      ASSERT_NO_THROW(v.Host.PaintNow());
      const TRect viewport = v.View.GetViewportRect();
      EXPECT_EQ(v.View.Buffer().Width(), std::max(0, viewport.Width()));
      EXPECT_TRUE(v.View.BufferValid());
      if (size.cx == 18 && scale == 1.0f) {
        // A 1 x 2 viewport: the bars centre on 24.5 and 24, and -24.5 rounds to -24.
        EXPECT_EQ(v.View.ControlToBitmap({0, 0}), (TPoint{24, 24}));
        EXPECT_EQ(v.Host.Screen().GetPixel(0, 0), v.View.Bitmap().GetPixel(24, 24) | 0xFF000000u);
      }
    }
  }
}

// The view's buffer must be exactly a fill with the colour and one nearest-neighbour opaque
// stretch of the picture into the rectangle computed from scale, centring and scrolling.
TEST(ImageViewPaint, BufferEqualsPlainCompositionAtSeveralScales) {
  THostedView v(317, 257);  // a 300 x 240 viewport
  MakePicture(v.View.Bitmap(), 173, 119);
  const TBitmap32& picture = v.View.Bitmap();
  for (float scale : {1.0f, 0.5f, 0.37f, 1.75f, 2.5f, 3.0f}) {
    for (bool scrolled : {false, true}) {
      SCOPED_TRACE(::testing::Message() << "scale " << scale << (scrolled ? " scrolled" : ""));
      v.View.SetScale(scale);
      if (scrolled) v.View.Scroll(13, 29);
      v.Host.ProcessPaint();

      const std::int32_t cx = std::int32_t(std::nearbyint(173.0 * double(scale)));
      const std::int32_t cy = std::int32_t(std::nearbyint(119.0 * double(scale)));
      const auto place = [](std::int32_t Viewport, std::int32_t Size, float Position) {
        return Viewport > Size ? std::int32_t(std::nearbyint((Viewport - Size) / 2.0))
                               : std::int32_t(std::nearbyint(-double(Position)));
      };
      const std::int32_t left = place(300, cx, v.View.HScroll().Position());
      const std::int32_t top = place(240, cy, v.View.VScroll().Position());
      if (cx > 300) {
        EXPECT_GT(v.View.HScroll().Position(), 0.0f);
      }

      TBitmap32 expected;
      expected.SetSize(300, 240);
      expected.Clear(ViewColor32);
      StretchTransfer(&expected, {left, top, left + cx, top + cy}, &picture, picture.BoundsRect(),
                      sfNearest, dmOpaque, nullptr);
      std::int32_t mismatches = 0;
      for (std::int32_t y = 0; y < 240; ++y) {
        for (std::int32_t x = 0; x < 300; ++x) {
          if (v.View.Buffer().GetPixel(x, y) != expected.GetPixel(x, y) ||
              v.Host.Screen().GetPixel(x, y) != (expected.GetPixel(x, y) | 0xFF000000u)) {
            ++mismatches;
          }
        }
      }
      EXPECT_EQ(mismatches, 0);
    }
  }
}

// ---------------------------------------------------------------------------------------
// Input

TEST(ImageViewInput, MouseReachesLayersInControlPixels) {
  THostedView v(117, 117);
  auto* layer = v.View.Layers().Add<TFillLayer>();
  layer->Area = {20, 20, 40, 40};
  layer->SetMouseEvents(true);
  TCustomLayer* seen = nullptr;
  TPoint seenAt;
  v.View.OnMouseDown = [&](TObject*, TMouseButton, TShiftState, std::int32_t X, std::int32_t Y,
                           TCustomLayer* Layer) {
    seen = Layer;
    seenAt = {X, Y};
  };
  std::vector<TPoint> layerMoves;
  layer->OnMouseMove = [&](TObject*, TShiftState, std::int32_t X, std::int32_t Y) {
    layerMoves.push_back({X, Y});
  };
  v.Host.MouseDown(25, 26);
  EXPECT_EQ(seen, layer);
  EXPECT_EQ(seenAt, (TPoint{25, 26}));
  EXPECT_EQ(v.Host.Capture(), &v.View);
  EXPECT_EQ(v.View.Layers().MouseListener(), layer);
  v.Host.MouseMove(80, 5);  // outside the layer, still its listener
  ASSERT_EQ(layerMoves.size(), 1u);
  EXPECT_EQ(layerMoves[0], (TPoint{80, 5}));
  v.Host.MouseUp(80, 5);
  EXPECT_EQ(v.Host.Capture(), nullptr);
  EXPECT_EQ(v.View.Layers().MouseListener(), nullptr);

  // A press beside every layer reports none but still captures on the left button.
  v.Host.MouseDown(90, 90);
  EXPECT_EQ(seen, nullptr);
  EXPECT_EQ(v.Host.Capture(), &v.View);
  v.Host.MouseUp(90, 90);

  // With the collection's mouse events off no layer is asked.
  v.View.Layers().SetMouseEvents(false);
  v.Host.MouseDown(25, 26);
  EXPECT_EQ(seen, nullptr);
  v.Host.MouseUp(25, 26);
}

TEST(ImageViewInput, EnterAndLeave) {
  THostedView v(117, 117);
  std::vector<std::string> log;
  v.View.OnMouseEnter = [&log](TObject*) { log.push_back("enter"); };
  v.View.OnMouseLeave = [&log](TObject*) { log.push_back("leave"); };
  auto* layer = v.View.Layers().Add<TFillLayer>();
  layer->SetMouseEvents(true);
  layer->SetCursor(crHandPoint);
  v.Host.MouseMove(5, 5);
  EXPECT_EQ(v.Host.Cursor(), crHandPoint);
  v.Host.MouseLeave();
  EXPECT_EQ(v.Host.Cursor(), crDefault);
  // Over the view without a layer: the view's own cursor.
  v.View.SetDefaultCursor(crCross);
  v.Host.MouseMove(50, 50);
  EXPECT_EQ(v.Host.Cursor(), crCross);
  const std::vector<std::string> expected = {"enter", "leave", "enter"};
  EXPECT_EQ(log, expected);
}

TEST(ImageViewInput, UserScrollingMovesThePictureAndReports) {
  THostedView v(417, 317);
  MakePicture(v.View.Bitmap(), 1000, 800);
  int scrolls = 0;
  v.View.OnScroll = [&scrolls](TObject*) { ++scrolls; };
  const float before = v.View.HScroll().Position();
  const int paints = v.Host.PaintCount();
  // The horizontal bar's end button lies at its right end.
  v.Host.MouseDown(395, 308);
  v.Host.MouseUp(395, 308);
  EXPECT_GT(v.View.HScroll().Position(), before);
  EXPECT_FLOAT_EQ(v.View.OffsetHorz(), -v.View.HScroll().Position());
  EXPECT_EQ(scrolls, 1);
  EXPECT_GT(v.Host.PaintCount(), paints);  // repainted at once

  // Programmatic scrolling is not reported as the user's.
  v.View.ScrollToCenter(0, 0);
  EXPECT_EQ(scrolls, 1);
  EXPECT_EQ(v.View.HScroll().Position(), 0.0f);
  EXPECT_FALSE(v.View.ScrollLock());
}

TEST(ImageViewInput, SizeGripSquare) {
  THostedView v(117, 117);
  v.Host.PaintNow();
  const TColor32 face = Color32(clBtnFace);
  EXPECT_EQ(v.Host.Screen().GetPixel(110, 110), face);  // sgNone: plain face colour
  EXPECT_FALSE(v.View.GetSizeGripVisible());

  v.View.SetSizeGrip(sgAlways);
  EXPECT_TRUE(v.View.GetSizeGripVisible());
  v.Host.ProcessPaint();
  bool ridges = false;
  for (std::int32_t y = 100; y < 117; ++y) {
    for (std::int32_t x = 100; x < 117; ++x) ridges |= v.Host.Screen().GetPixel(x, y) != face;
  }
  EXPECT_TRUE(ridges);
  v.Host.MouseMove(110, 110);
  EXPECT_EQ(v.Host.Cursor(), crSizeNWSE);

  // sgAuto shows it only when the view fills its parent.
  TControl parent;
  parent.SetBounds(0, 0, 300, 200);
  TImgView32 child(&parent);
  child.SetSizeGrip(sgAuto);
  child.SetBounds(0, 0, 300, 200);
  EXPECT_TRUE(child.GetSizeGripVisible());
  child.SetBounds(1, 1, 298, 198);
  EXPECT_FALSE(child.GetSizeGripVisible());
}

TEST(ImageViewInput, WindowOverlayLayerRepaintsAtOnceFromTheValidBuffer) {
  THostedView v(117, 117);
  auto* overlay = v.View.Layers().Add<TFillLayer>();
  overlay->SetLayerOptions(loGdiOverlay);
  int gdiPaints = 0;
  int overlays = 0;
  struct TGdi : TCustomLayer {
    using TCustomLayer::TCustomLayer;
    int* Count = nullptr;
    void PaintGDI(TControl&) override { ++*Count; }
  };
  auto* gdi = new TGdi(&v.View.Layers());
  gdi->Count = &gdiPaints;
  gdi->SetLayerOptions(loGdiOverlay);
  v.View.OnGDIOverlay = [&overlays](TObject*) { ++overlays; };
  v.Host.PaintNow();
  ASSERT_TRUE(v.View.BufferValid());
  EXPECT_EQ(gdiPaints, 1);
  EXPECT_EQ(overlays, 1);
  const int paints = v.Host.PaintCount();
  gdi->Changed();
  EXPECT_EQ(v.Host.PaintCount(), paints + 1);
  EXPECT_TRUE(v.View.BufferValid());
  EXPECT_EQ(gdiPaints, 2);
  EXPECT_EQ(overlay->Paints, 0);  // invisible to the layers stage
}

TEST(ImageViewInput, DestroyingAViewWithLayersSendsNothing) {
  int changes = 0;
  {
    auto view = std::make_unique<TImgView32>();
    MakePicture(view->Bitmap(), 30, 30);
    view->Layers().Add<TFillLayer>();
    view->Layers().Add<TFillLayer>();
    view->OnChange = [&changes](TObject*) { ++changes; };
    view.reset();
  }
  EXPECT_EQ(changes, 0);
}

// ---------------------------------------------------------------------------------------
// Backdrop cache

// A view that counts how often it draws its bitmap, i.e. how often the stages before the
// layers really run.
class TCountingView : public TImgView32 {
 public:
  int BitmapDraws = 0;
  void ExecDrawBitmap(TBitmap32& Dest, std::int32_t StageNum) override {
    ++BitmapDraws;
    TImgView32::ExecDrawBitmap(Dest, StageNum);
  }
};

// A view with a turned, semi-transparent overlay, as the overlay program shows its pictures.
struct TOverlayView {
  TOverlayView(std::int32_t W, std::int32_t H, bool Cache) : Host(View) {
    View.SetBackdropCache(Cache);
    Host.Resize(W, H);
    View.SetColor(ViewColor);
    View.SetSizeGrip(sgNone);
    MakePicture(View.Bitmap(), 300, 200);
    Layer = View.Layers().Add<TRotLayer>();
    TBitmap32& overlay = *Layer->Bitmap();
    MakePicture(overlay, 120, 90);
    for (std::int32_t y = 0; y < 90; ++y) {
      for (std::int32_t x = 0; x < 120; ++x) {
        overlay.SetPixel(x, y, SetAlpha(overlay.GetPixel(x, y), (x * 5 + y * 3) & 255));
      }
    }
    overlay.SetDrawMode(dmBlend);
    overlay.SetMasterAlpha(120);
    overlay.SetStretchFilter(sfLinear);
    Layer->SetBitmapCenter({60, 45});
    Layer->SetScaled(true);
    Layer->SetPosition({150, 100});
  }
  TCountingView View;
  THeadlessHost Host;
  TRotLayer* Layer = nullptr;
};

// Two views driven alike, one with the backdrop copy and one without; after every paint both
// must show exactly the same buffer and screen.
struct TViewPair {
  TViewPair(std::int32_t W, std::int32_t H) : Cached(W, H, true), Plain(W, H, false) {}
  template <class Step>
  void Both(Step step) {
    step(Cached);
    step(Plain);
  }
  void PaintAndCompare(const std::string& What) {
    SCOPED_TRACE(What);
    Cached.Host.ProcessPaint();
    Plain.Host.ProcessPaint();
    ExpectSame(Cached.View.Buffer(), Plain.View.Buffer());
    ExpectSame(Cached.Host.Screen(), Plain.Host.Screen());
  }
  // Two turns of the overlay, painted each: the first may have to rebuild the backdrop, the
  // second must come from the copy (unless Cacheable is false, when it must not).
  void TurnTwice(const std::string& What, bool Cacheable = true) {
    SCOPED_TRACE(What);
    Both([](TOverlayView& v) { v.Layer->SetAngle(v.Layer->Angle() + 3); });
    PaintAndCompare(What + ", first turn");
    const int drawsBefore = Cached.View.BitmapDraws;
    Both([](TOverlayView& v) { v.Layer->SetAngle(v.Layer->Angle() + 4); });
    PaintAndCompare(What + ", second turn");
    EXPECT_EQ(Cached.View.BitmapDraws, Cacheable ? drawsBefore : drawsBefore + 1);
    EXPECT_EQ(Cached.View.BackdropValid(), Cacheable);
  }
  static void ExpectSame(const TBitmap32& A, const TBitmap32& B) {
    ASSERT_EQ(A.Width(), B.Width());
    ASSERT_EQ(A.Height(), B.Height());
    int differing = 0;
    for (std::int32_t y = 0; y < A.Height(); ++y) {
      for (std::int32_t x = 0; x < A.Width(); ++x) {
        if (A.GetPixel(x, y) != B.GetPixel(x, y) && ++differing <= 3) {
          ADD_FAILURE() << "pixel (" << x << ", " << y << "): " << std::hex << A.GetPixel(x, y)
                        << " instead of " << B.GetPixel(x, y);
        }
      }
    }
    EXPECT_EQ(differing, 0);
  }
  TOverlayView Cached, Plain;
};

TEST(ImageViewBackdrop, LayerChangesRepaintFromTheCopyExactly) {
  TViewPair p(417, 317);
  p.PaintAndCompare("first paint");
  p.TurnTwice("start");
  // The overlay moved and faded: still the layers alone.
  p.Both([](TOverlayView& v) { v.Layer->SetPosition({170, 90}); });
  p.PaintAndCompare("moved");
  p.Both([](TOverlayView& v) { v.Layer->Bitmap()->SetMasterAlpha(200); });
  p.PaintAndCompare("faded");
  EXPECT_TRUE(p.Cached.View.BackdropValid());
  // The plain view drew its bitmap on every paint; the cached one only on the first, which
  // followed a change of the layer (its set-up) and so made the copy at once.
  EXPECT_EQ(p.Plain.View.BitmapDraws, 5);
  EXPECT_EQ(p.Cached.View.BitmapDraws, 1);
}

TEST(ImageViewBackdrop, EveryOtherChangeRebuildsTheCopy) {
  TViewPair p(417, 317);
  p.PaintAndCompare("first paint");
  p.TurnTwice("start");

  p.Both([](TOverlayView& v) {
    v.View.Bitmap().SetPixel(150, 100, 0xFF00FF00u);
    v.View.Bitmap().Changed();
  });
  p.PaintAndCompare("bitmap pixel");
  p.TurnTwice("after a bitmap pixel");

  // A pixel changed while the view holds back its notifications.
  p.Both([](TOverlayView& v) {
    v.View.BeginUpdate();
    v.View.Bitmap().SetPixel(151, 100, 0xFF0000FFu);
    v.View.Bitmap().Changed();
    v.View.EndUpdate();
  });
  p.TurnTwice("after a bitmap pixel during an update");

  // Written without Changed: whoever does that says so.
  p.Both([](TOverlayView& v) { v.View.Bitmap().SetPixel(152, 100, 0xFFFFFF00u); });
  p.Cached.View.InvalidateBackdrop();
  p.TurnTwice("after a pixel written directly");

  p.Both([](TOverlayView& v) { v.View.SetColor(0x00336699u); });
  p.PaintAndCompare("colour");
  p.TurnTwice("after the colour");

  p.Both([](TOverlayView& v) { v.View.SetScale(0.7f); });
  p.PaintAndCompare("scale");
  p.TurnTwice("after the scale");

  p.Both([](TOverlayView& v) { v.View.SetScale(2.5f); });
  p.Both([](TOverlayView& v) { v.View.Scroll(37, -21); });
  p.PaintAndCompare("scrolled");
  p.TurnTwice("after scrolling");

  p.Both([](TOverlayView& v) { v.View.SetOffsetHorz(v.View.OffsetHorz() + 5); });
  p.PaintAndCompare("offset");
  p.TurnTwice("after an offset");

  p.Both([](TOverlayView& v) { v.View.SetScale(1); });
  p.Both([](TOverlayView& v) { v.Host.Resize(517, 297); });
  p.PaintAndCompare("larger");
  p.TurnTwice("after growing");

  p.Both([](TOverlayView& v) { v.View.Bitmap().SetDrawMode(dmBlend); });
  p.PaintAndCompare("bitmap blended");
  p.TurnTwice("with the bitmap blended");
  p.Both([](TOverlayView& v) { v.View.Bitmap().SetMasterAlpha(77); });
  p.PaintAndCompare("bitmap master alpha");
  p.TurnTwice("with the bitmap's master alpha");
  p.Both([](TOverlayView& v) {
    v.View.Bitmap().SetDrawMode(dmOpaque);
    v.View.Bitmap().SetStretchFilter(sfLinear);
  });
  p.TurnTwice("with the bitmap opaque and linear");

  TBitmap32 other;
  MakePicture(other, 250, 260);
  p.Both([&other](TOverlayView& v) { v.View.SetBitmap(&other); });
  p.PaintAndCompare("another bitmap");
  p.TurnTwice("with another bitmap");
}

TEST(ImageViewBackdrop, StageEditsAreSeenWithoutNotification) {
  TViewPair p(417, 317);
  p.PaintAndCompare("first paint");
  p.TurnTwice("start");
  // Stages are edited in place; nothing tells the view.
  p.Both([](TOverlayView& v) { v.View.PaintStages().Items(1).RunVisible = true; });
  p.TurnTwice("with the control frame");
  p.Both([](TOverlayView& v) { v.View.PaintStages().Items(3).RunVisible = true; });
  p.TurnTwice("with the bitmap frame");
  p.Both([](TOverlayView& v) { v.View.PaintStages().Items(0).Kind = pstClearBuffer; });
  p.TurnTwice("clearing the whole buffer");
  // A frame after the layers runs on every paint, over the layers.
  p.Both([](TOverlayView& v) {
    TPaintStage& frame = v.View.PaintStages().Add();
    frame.Kind = pstControlFrame;
  });
  p.TurnTwice("with a frame over the layers");
}

TEST(ImageViewBackdrop, NotCachedWhereTheStagesLeaveOldPixels) {
  TViewPair p(417, 317);
  p.PaintAndCompare("first paint");
  // A custom stage before the layers may draw from anything.
  p.Both([](TOverlayView& v) {
    TPaintStage& custom = v.View.PaintStages().Insert(3);
    custom.Kind = pstCustom;
    // Draws from state the view knows nothing of.
    v.View.OnPaintStage = [&v](TObject*, TBitmap32* Buffer, std::uint32_t) {
      Buffer->FillRectS(5, 5, 25, 15, Color32(std::uint8_t(v.Layer->Angle()), 0, 0));
    };
  });
  p.TurnTwice("with a custom stage", false);
  p.Both([](TOverlayView& v) {
    v.View.PaintStages().Delete(3);
    v.View.OnPaintStage = nullptr;
  });
  p.TurnTwice("without it again");

  // No background stage: around the bitmap the buffer keeps what the layers drew before.
  p.Both([](TOverlayView& v) { v.View.PaintStages().Items(0).RunVisible = false; });
  p.TurnTwice("without a background", false);
  p.Both([](TOverlayView& v) { v.View.PaintStages().Items(0).RunVisible = true; });
  p.TurnTwice("with the background again");

  // An opaque linear bitmap at master alpha 0 draws nothing.
  p.Both([](TOverlayView& v) {
    v.View.Bitmap().SetStretchFilter(sfLinear);
    v.View.Bitmap().SetMasterAlpha(0);
  });
  p.TurnTwice("with a bitmap that draws nothing", false);
  p.Both([](TOverlayView& v) { v.View.Bitmap().SetMasterAlpha(255); });
  p.TurnTwice("with it drawing again");

  // Shrunk by less than the buffer's oversize: the buffer now reaches past the control, where
  // the background stage does not paint.
  p.Both([](TOverlayView& v) { v.Host.Resize(390, 317); });
  p.PaintAndCompare("shrunk");
  ASSERT_GT(p.Cached.View.Buffer().Width(), p.Cached.View.Width());
  p.TurnTwice("with a buffer wider than the control", false);
}

TEST(ImageViewBackdrop, TurnedOffByPropertyOrEnvironment) {
  TOverlayView v(417, 317, true);
  v.Host.ProcessPaint();
  v.Layer->SetAngle(5);
  v.Host.ProcessPaint();
  ASSERT_TRUE(v.View.BackdropValid());
  v.View.SetBackdropCache(false);
  EXPECT_FALSE(v.View.BackdropValid());
  const int draws = v.View.BitmapDraws;
  v.Layer->SetAngle(6);
  v.Host.ProcessPaint();
  v.Layer->SetAngle(7);
  v.Host.ProcessPaint();
  EXPECT_EQ(v.View.BitmapDraws, draws + 2);
  EXPECT_FALSE(v.View.BackdropValid());

  const char* saved = std::getenv("RASTER_VIEW_CACHE");
  const std::string savedValue = saved != nullptr ? saved : "";
  setenv("RASTER_VIEW_CACHE", "off", 1);
  EXPECT_FALSE(TImgView32().BackdropCache());
  setenv("RASTER_VIEW_CACHE", "on", 1);
  EXPECT_TRUE(TImgView32().BackdropCache());
  unsetenv("RASTER_VIEW_CACHE");
  EXPECT_TRUE(TImgView32().BackdropCache());
  if (saved != nullptr) setenv("RASTER_VIEW_CACHE", savedValue.c_str(), 1);
}

}  // namespace
}  // namespace raster
