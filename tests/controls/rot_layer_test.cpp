#include "controls/rot_layer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "raster/blend.h"

namespace raster {
namespace {

// Where the layer's forward matrix sends a bitmap point.
TFloatPoint Forward(const TAffineTransformation& T, float X, float Y) {
  const TFloatMatrix& m = T.Matrix;
  return {m[0][0] * X + m[1][0] * Y + m[2][0], m[0][1] * X + m[1][1] * Y + m[2][1]};
}

// A bitmap whose every pixel is distinct and opaque.
void FillPattern(TBitmap32& B, std::int32_t W, std::int32_t H) {
  B.SetSize(W, H);
  for (std::int32_t y = 0; y < H; ++y) {
    for (std::int32_t x = 0; x < W; ++x) B.SetPixel(x, y, Color32(x * 7, y * 11, (x + y) * 3));
  }
}

class RotLayerTest : public ::testing::Test {
 protected:
  RotLayerTest() {
    Layers.SetMapping(&Mapping);
    Layers.OnChange = [this](TObject*) { ++Changes; };
  }
  TViewMapping Mapping;
  TLayerCollection Layers;
  int Changes = 0;
};

TEST_F(RotLayerTest, StartsWithTheDocumentedDefaults) {
  TRotLayer layer(&Layers);
  EXPECT_EQ(Layers.Count(), 1);
  EXPECT_EQ(layer.LayerOptions(), loVisible);
  EXPECT_EQ(layer.Angle(), 0.0f);
  EXPECT_EQ(layer.Position(), (TFloatPoint{0, 0}));
  EXPECT_EQ(layer.BitmapCenter(), (TFloatPoint{0, 0}));
  EXPECT_FALSE(layer.Scaled());
  EXPECT_FALSE(layer.OpaqueHitOnly());
  EXPECT_TRUE(layer.Bitmap()->Empty());
}

TEST_F(RotLayerTest, CentreOnPositionUnscaledDrawsTheBitmapAtTheOrigin) {
  TRotLayer layer(&Layers);
  FillPattern(*layer.Bitmap(), 9, 6);
  layer.SetBitmapCenter({float(9 / 2), float(6 / 2)});
  layer.SetPosition({float(9 / 2), float(6 / 2)});
  TBitmap32 buffer;
  buffer.SetSize(20, 12);
  buffer.Clear(clBlack32);
  layer.Paint(&buffer);  // nearest, opaque: a plain copy where samples exist
  for (std::int32_t y = 0; y < 6; ++y) {
    for (std::int32_t x = 0; x < 9; ++x) {
      ASSERT_EQ(buffer.GetPixel(x, y), layer.Bitmap()->GetPixel(x, y)) << x << "," << y;
    }
  }
  EXPECT_EQ(buffer.GetPixel(10, 0), clBlack32);
  EXPECT_EQ(buffer.GetPixel(0, 7), clBlack32);
}

TEST_F(RotLayerTest, ScaledFollowsTheViewMapping) {
  // Scale 2 and shift (10, 20): picture-1 coordinate (5, 5) is control pixel (20, 30).
  Mapping.ScaleX = Mapping.ScaleY = 131072;
  Mapping.ShiftX = 10;
  Mapping.ShiftY = 20;
  TRotLayer layer(&Layers);
  layer.Bitmap()->SetSize(10, 10);
  layer.SetBitmapCenter({3, 4});
  layer.SetPosition({5, 5});
  layer.SetScaled(true);
  layer.AdjustTransformation();
  const TFloatPoint p = Forward(layer.Transformation(), 3, 4);
  EXPECT_FLOAT_EQ(p.X, 20);
  EXPECT_FLOAT_EQ(p.Y, 30);
  const TFloatPoint q = Forward(layer.Transformation(), 4, 4);  // one bitmap pixel is two
  EXPECT_FLOAT_EQ(q.X, 22);
  EXPECT_FLOAT_EQ(q.Y, 30);
}

TEST_F(RotLayerTest, UnscaledIgnoresTheViewMapping) {
  Mapping.ScaleX = Mapping.ScaleY = 131072;
  Mapping.ShiftX = 10;
  Mapping.ShiftY = 20;
  TRotLayer layer(&Layers);
  layer.SetBitmapCenter({3, 4});
  layer.SetPosition({5, 5});
  layer.AdjustTransformation();
  const TFloatPoint p = Forward(layer.Transformation(), 3, 4);
  EXPECT_FLOAT_EQ(p.X, 5);  // control pixels
  EXPECT_FLOAT_EQ(p.Y, 5);
  const TFloatPoint q = Forward(layer.Transformation(), 4, 4);
  EXPECT_FLOAT_EQ(q.X, 6);
}

TEST_F(RotLayerTest, ScaledWithoutAMappingIsUnscaled) {
  TLayerCollection bare;  // owned by no view: no mapping
  TRotLayer layer(&bare);
  layer.SetPosition({5, 5});
  layer.SetScaled(true);
  layer.AdjustTransformation();
  const TFloatPoint p = Forward(layer.Transformation(), 0, 0);
  EXPECT_FLOAT_EQ(p.X, 5);
  EXPECT_FLOAT_EQ(p.Y, 5);
}

TEST_F(RotLayerTest, ScaledFollowsANonSquareMappingAndItsFractionalScale) {
  Mapping.ScaleX = 17695;  // 0.27 of a view zoom, as a 16.16 MulDiv gives it
  Mapping.ScaleY = 17693;
  Mapping.ShiftX = -7;
  Mapping.ShiftY = 3;
  TRotLayer layer(&Layers);
  layer.SetPosition({100, 200});
  layer.SetScaled(true);
  layer.AdjustTransformation();
  const TFloatPoint p = Forward(layer.Transformation(), 0, 0);
  EXPECT_NEAR(p.X, 100 * 17695 / 65536.0 - 7, 1e-3);
  EXPECT_NEAR(p.Y, 200 * 17693 / 65536.0 + 3, 1e-3);
}

TEST_F(RotLayerTest, AngleTurnsAnticlockwiseAboutTheCentre) {
  TRotLayer layer(&Layers);
  layer.SetBitmapCenter({10, 10});
  layer.SetPosition({50, 60});
  layer.SetAngle(90);
  layer.AdjustTransformation();
  const TFloatPoint c = Forward(layer.Transformation(), 10, 10);
  EXPECT_NEAR(c.X, 50, 1e-4);
  EXPECT_NEAR(c.Y, 60, 1e-4);
  // A point right of the centre ends up above it (Y points down the screen).
  const TFloatPoint r = Forward(layer.Transformation(), 11, 10);
  EXPECT_NEAR(r.X, 50, 1e-4);
  EXPECT_NEAR(r.Y, 59, 1e-4);
}

TEST_F(RotLayerTest, FullTurnDrawsAsNoTurn) {
  TBitmap32 once, turned;
  for (TBitmap32* buffer : {&once, &turned}) {
    buffer->SetSize(30, 30);
    buffer->Clear(clBlack32);
  }
  TRotLayer layer(&Layers);
  FillPattern(*layer.Bitmap(), 12, 9);
  layer.Bitmap()->SetStretchFilter(sfLinear);
  layer.SetBitmapCenter({6, 4});
  layer.SetPosition({14.5f, 13.25f});
  layer.Paint(&once);
  layer.SetAngle(360);
  layer.Paint(&turned);
  int differing = 0;
  for (std::int32_t y = 0; y < 30; ++y) {
    for (std::int32_t x = 0; x < 30; ++x) {
      const TColor32 a = once.GetPixel(x, y), b = turned.GetPixel(x, y);
      for (int shift = 0; shift < 32; shift += 8) {
        EXPECT_LE(std::abs(int((a >> shift) & 0xFF) - int((b >> shift) & 0xFF)), 2);
      }
      differing += a != b;
    }
  }
  EXPECT_LT(differing, 30);  // float rounding of sine and cosine only
}

TEST_F(RotLayerTest, PaintDrawsThroughTheRebuiltTransformationWithTheBitmapsSettings) {
  Mapping.ScaleX = Mapping.ScaleY = 98304;  // 1.5
  Mapping.ShiftX = 4;
  Mapping.ShiftY = -3;
  TRotLayer layer(&Layers);
  FillPattern(*layer.Bitmap(), 16, 11);
  layer.Bitmap()->SetDrawMode(dmBlend);
  layer.Bitmap()->SetMasterAlpha(120);
  layer.Bitmap()->SetStretchFilter(sfLinear);
  layer.SetBitmapCenter({8, 5});
  layer.SetPosition({12, 9});
  layer.SetAngle(-23);
  layer.SetScaled(true);

  TBitmap32 viaLayer, expected;
  for (TBitmap32* buffer : {&viaLayer, &expected}) {
    buffer->SetSize(48, 40);
    buffer->Clear(Color32(30, 60, 90));
  }
  layer.Paint(&viaLayer);

  TAffineTransformation t;
  t.SetSrcRect(FloatRect(0, 0, 15, 10));
  t.Translate(-8, -5);
  t.Rotate(0, 0, -23);
  t.Translate(12, 9);
  t.Scale(1.5f, 1.5f);
  t.Translate(4, -3);
  Transform(expected, *layer.Bitmap(), t);
  int changed = 0;
  for (std::int32_t y = 0; y < 40; ++y) {
    for (std::int32_t x = 0; x < 48; ++x) {
      ASSERT_EQ(viaLayer.GetPixel(x, y), expected.GetPixel(x, y)) << x << "," << y;
      changed += viaLayer.GetPixel(x, y) != Color32(30, 60, 90);
    }
  }
  EXPECT_GT(changed, 200);  // the overlay was really drawn
}

TEST_F(RotLayerTest, EverySetterRequestsARepaintAlsoWithoutAChange) {
  TRotLayer layer(&Layers);
  Changes = 0;
  layer.SetAngle(5);
  layer.SetAngle(5);
  EXPECT_EQ(Changes, 2);
  layer.SetPosition({1, 2});
  layer.SetBitmapCenter({1, 2});
  layer.SetScaled(false);
  EXPECT_EQ(Changes, 5);
  layer.Bitmap()->SetMasterAlpha(77);  // the bitmap's change reaches the view through the layer
  EXPECT_EQ(Changes, 6);
}

TEST_F(RotLayerTest, BitmapOfAnotherSizeUpdatesTheSourceRectangle) {
  TRotLayer layer(&Layers);
  TBitmap32 picture;
  FillPattern(picture, 101, 37);
  layer.SetBitmap(&picture);
  EXPECT_EQ(layer.Transformation().SrcRect, FloatRect(0, 0, 100, 36));
  EXPECT_FALSE(layer.Transformation().Prepared);
  EXPECT_NE(layer.Bitmap(), &picture);  // copied, not taken
  EXPECT_EQ(layer.Bitmap()->GetPixel(100, 36), picture.GetPixel(100, 36));
  layer.Bitmap()->SetSize(4, 3);
  EXPECT_EQ(layer.Transformation().SrcRect, FloatRect(0, 0, 3, 2));
  layer.Bitmap()->SetSize(0, 0);
  EXPECT_EQ(layer.Transformation().SrcRect, FloatRect(0, 0, -1, -1));
}

TEST_F(RotLayerTest, EmptyBitmapPaintsWithoutFault) {
  TRotLayer layer(&Layers);
  TBitmap32 buffer;
  buffer.SetSize(8, 8);
  buffer.Clear(Color32(1, 2, 3));
  layer.Bitmap()->SetSize(0, 0);
  layer.Paint(&buffer);
  // At most the one-pixel edge band of OuterColor (transparent black, opaque draw) may appear.
  for (std::int32_t y = 2; y < 8; ++y) {
    for (std::int32_t x = 2; x < 8; ++x) EXPECT_EQ(buffer.GetPixel(x, y), Color32(1, 2, 3));
  }
}

TEST_F(RotLayerTest, HitTestUsesTheMappingOfTheLastPaint) {
  TRotLayer layer(&Layers);
  FillPattern(*layer.Bitmap(), 10, 8);
  layer.SetBitmapCenter({5, 4});
  layer.SetPosition({25, 14});            // bitmap spans control pixels 20..29, 10..17
  EXPECT_FALSE(layer.DoHitTest(20, 10));  // never painted: hit nowhere
  TBitmap32 buffer;
  buffer.SetSize(40, 30);
  layer.Paint(&buffer);
  EXPECT_TRUE(layer.DoHitTest(20, 10));
  EXPECT_TRUE(layer.DoHitTest(29, 17));
  EXPECT_FALSE(layer.DoHitTest(19, 10));
  EXPECT_FALSE(layer.DoHitTest(30, 12));
  EXPECT_FALSE(layer.DoHitTest(25, 18));
  // Moving the layer without painting leaves the hit test on the old place.
  layer.SetPosition({0, 0});
  EXPECT_TRUE(layer.DoHitTest(25, 14));

  layer.SetPosition({25, 14});
  layer.Paint(&buffer);
  layer.Bitmap()->SetPixel(1, 1, 0x00FFFFFFu);
  EXPECT_TRUE(layer.DoHitTest(21, 11));
  layer.SetOpaqueHitOnly(true);
  EXPECT_FALSE(layer.DoHitTest(21, 11));
  EXPECT_TRUE(layer.DoHitTest(22, 11));
}

TEST_F(RotLayerTest, FreeingTheLayerLeavesTheCollection) {
  auto* layer = new TRotLayer(&Layers);
  auto* top = Layers.Add<TRotLayer>();
  EXPECT_EQ(Layers.Count(), 2);
  delete layer;
  EXPECT_EQ(Layers.Count(), 1);
  EXPECT_EQ(Layers.Items(0), top);
}

// OnDestroy runs while the rotation layer is whole, however it is freed: a handler reads its
// angle, bitmap and transformation (freed memory, under the address sanitizer, if it ran from
// the base destructor).
TEST_F(RotLayerTest, OnDestroySeesTheWholeRotationLayer) {
  std::vector<std::string> seen;
  const auto watch = [&](TRotLayer* Layer, float Angle) {
    FillPattern(*Layer->Bitmap(), 5, 4);
    Layer->SetAngle(Angle);
    Layer->OnDestroy = [&seen](TObject* Sender) {
      auto* rot = dynamic_cast<TRotLayer*>(Sender);
      if (rot == nullptr) {
        seen.push_back("not whole");
        return;
      }
      seen.push_back(std::to_string(int(rot->Angle())) + " " +
                     std::to_string(rot->Bitmap()->Width()) + " " +
                     std::to_string(int(rot->Transformation().SrcRect.Right)) + " " +
                     std::to_string(rot->GetIndex()));
    };
  };
  auto* collection = new TLayerCollection;
  for (int i = 1; i <= 4; ++i) watch(collection->Add<TRotLayer>(), float(10 * i));
  auto* alone = new TRotLayer(nullptr);
  watch(alone, 50);

  delete collection->Items(0);  // as the main window frees it
  collection->Delete(0);
  collection->Clear();
  watch(collection->Add<TRotLayer>(), 60);
  delete collection;
  delete alone;
  EXPECT_EQ(seen, (std::vector<std::string>{"10 5 4 0", "20 5 4 0", "40 5 4 1", "30 5 4 0",
                                            "60 5 4 0", "50 5 4 -1"}));
}

TEST_F(RotLayerTest, CollectionAssignCopiesTheRotationLayer) {
  auto* layer = Layers.Add<TRotLayer>();
  FillPattern(*layer->Bitmap(), 5, 4);
  layer->SetAngle(12);
  layer->SetPosition({3, 7});
  layer->SetBitmapCenter({2, 2});
  layer->SetScaled(true);
  TLayerCollection copy;
  copy.Assign(&Layers);
  ASSERT_EQ(copy.Count(), 1);
  auto* twin = dynamic_cast<TRotLayer*>(copy.Items(0));
  ASSERT_NE(twin, nullptr);
  EXPECT_EQ(twin->Angle(), 12.0f);
  EXPECT_EQ(twin->Position(), (TFloatPoint{3, 7}));
  EXPECT_EQ(twin->BitmapCenter(), (TFloatPoint{2, 2}));
  EXPECT_TRUE(twin->Scaled());
  EXPECT_EQ(twin->Bitmap()->Width(), 5);
  EXPECT_EQ(twin->Bitmap()->GetPixel(4, 3), layer->Bitmap()->GetPixel(4, 3));
  EXPECT_EQ(twin->Transformation().SrcRect, FloatRect(0, 0, 4, 3));
}

}  // namespace
}  // namespace raster
