// Layers that draw a bitmap of their own through an affine transformation: the base that owns
// bitmap and transformation, and the rotation layer that shows picture 2 turned about a point
// of itself, placed at a position and, when scaled, following the view's zoom and scroll.
#pragma once

#include <memory>
#include <optional>

#include "controls/layers.h"
#include "raster/core.h"
#include "raster/transforms.h"

namespace raster {

// Where an affine layer draws: everywhere, only right of a vertical line (a swipe), or only on
// every other square of a checkerboard; elsewhere the buffer keeps what lay below the layer,
// pixel for pixel. The line lies in the layer collection's bitmap coordinates (picture 1 in a
// view), so it stays on the picture when the view scrolls or zooms; the squares have a side in
// buffer pixels and their corners on the picture's corner, so they move with it as it scrolls.
// Side by side (prSide): the buffer's left half keeps what lay below (picture 1), and the right
// half shows the layer alone, on Background, moved right by half the buffer, so that a point of
// picture 1 and the layer's point over it lie half a buffer apart; Cursor (a buffer point, when
// set) is marked by a small cross in the other half too.
struct TPaintRegion {
  enum TKind { prAll, prRightOf, prChecker, prSide };
  TKind Kind = prAll;
  double Line = 0;           // prRightOf: the layer draws where bitmap x >= Line
  std::int32_t Square = 64;  // prChecker: the side; the square at the corner shows what lay below
  TColor32 Background = 0xFF000000u;  // prSide: the right half where the layer is not
  std::optional<TPoint> Cursor;       // prSide: the mouse, to be shown in the other half
  // prSide: the buffer column where the right half begins; below 0, the middle of the buffer.
  // A layer of an image control splits its viewport (the buffer less the scroll bars).
  std::int32_t Split = -1;
  friend bool operator==(const TPaintRegion&, const TPaintRegion&) = default;
};

// Buffer, just drawn on, gets back Below's pixels wherever Region does not let a layer draw;
// Mapping puts the layer collection's bitmap into the buffer. Below has Buffer's size.
void KeepOutsideRegion(TBitmap32& Buffer, const TBitmap32& Below, const TPaintRegion& Region,
                       const TViewMapping& Mapping);

class TCustomAffineLayer : public TCustomLayer {
 public:
  explicit TCustomAffineLayer(TLayerCollection* Collection);
  ~TCustomAffineLayer() override;
  const char* ClassName() const override { return "TCustomAffineLayer"; }
  TLayerClass GetLayerClass() const override { return &CreateLayer<TCustomAffineLayer>; }

  bool OpaqueHitOnly() const { return FOpaqueHitOnly; }
  void SetOpaqueHitOnly(bool Value) { FOpaqueHitOnly = Value; }
  TAffineTransformation& Transformation() { return *FTransformation; }
  const TAffineTransformation& Transformation() const { return *FTransformation; }
  // The point of the bitmap, in bitmap pixels, that the transformation turns about.
  TFloatPoint BitmapCenter() const { return FBitmapCenter; }
  void SetBitmapCenter(const TFloatPoint& Value);
  // The layer's own bitmap; its draw mode, master alpha and filter decide how it is drawn.
  TBitmap32* Bitmap() { return FBitmap.get(); }
  const TBitmap32* Bitmap() const { return FBitmap.get(); }
  // Copies Value into the layer's bitmap; Value stays the caller's.
  void SetBitmap(const TBitmap32* Value);

  // Rebuilds the transformation, then draws the bitmap through it onto Buffer, within the
  // paint region.
  void Paint(TBitmap32* Buffer) override;
  const TPaintRegion& PaintRegion() const { return FPaintRegion; }
  void SetPaintRegion(const TPaintRegion& Value);
  // (X, Y) in control pixels, mapped back with the inverse of the last paint.
  bool DoHitTest(std::int32_t X, std::int32_t Y) override;
  // Derives the transformation from the layer's properties; here it is left as it is.
  virtual void AdjustTransformation() {}

 protected:
  void AssignTo(TPersistent* Dest) const override;

 private:
  void BitmapChanged();

  bool FOpaqueHitOnly = false;
  std::unique_ptr<TAffineTransformation> FTransformation;
  TFloatPoint FBitmapCenter;
  std::unique_ptr<TBitmap32> FBitmap;
  // True once a paint has prepared the inverse mapping that the hit test reads.
  bool FHitMappingPrepared = false;
  TPaintRegion FPaintRegion;
  TBitmap32 FBelow;  // the buffer before the draw, while the region is not all of it
};

// The rotation layer's placement without the view's zoom and scroll: Transformation is cleared,
// then scaled by Zoom about Center (a point of the layer bitmap; only when Zoom is not 1, 1),
// turned by Angle degrees about it and Center moved to Position. The layer starts every paint
// with it; whoever must know where the layer shows a point of its bitmap maps the point
// through the same matrix.
void SetRotLayerPlacement(TAffineTransformation& Transformation, TFloatPoint Center, float Angle,
                          TFloatPoint Position, TFloatPoint Zoom = {1, 1});

class TRotLayer : public TCustomAffineLayer {
 public:
  explicit TRotLayer(TLayerCollection* Collection) : TCustomAffineLayer(Collection) {}
  // OnDestroy still sees the whole rotation layer.
  ~TRotLayer() override { BeforeDestruction(); }
  const char* ClassName() const override { return "TRotLayer"; }
  TLayerClass GetLayerClass() const override { return &CreateLayer<TRotLayer>; }

  // Where BitmapCenter lands: in the view's bitmap pixels when Scaled, else control pixels.
  TFloatPoint Position() const { return FPosition; }
  void SetPosition(const TFloatPoint& Value);
  bool Scaled() const { return FScaled; }
  void SetScaled(bool Value);
  // Degrees; positive turns anticlockwise on the screen.
  float Angle() const { return FAngle; }
  void SetAngle(float Value);
  // A scale of the layer's own, per axis, about BitmapCenter: what an overlay zoom between the
  // whole-pixel sizes of its bitmap leaves over. 1, 1 unless a placement sets it.
  TFloatPoint Zoom() const { return FZoom; }
  void SetZoom(const TFloatPoint& Value);

  // Clear, move BitmapCenter to the origin, rotate, move to Position, then (when Scaled and a
  // view mapping exists) the view's zoom and scroll.
  void AdjustTransformation() override;

 protected:
  void AssignTo(TPersistent* Dest) const override;

 private:
  TFloatPoint FPosition;
  bool FScaled = false;
  float FAngle = 0;
  TFloatPoint FZoom{1, 1};
};

}  // namespace raster
