#include "controls/rot_layer.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "controls/image_view.h"

namespace raster {

// ---------------------------------------------------------------------------------------
// TCustomAffineLayer

TCustomAffineLayer::TCustomAffineLayer(TLayerCollection* Collection)
    : TCustomLayer(Collection),
      FTransformation(std::make_unique<TAffineTransformation>()),
      FBitmap(std::make_unique<TBitmap32>()) {
  FBitmap->OnChange = [this](TObject*) { BitmapChanged(); };
}

TCustomAffineLayer::~TCustomAffineLayer() {
  BeforeDestruction();
  // The bitmap must not call back into a half-destroyed layer while it is freed.
  FBitmap->OnChange = nullptr;
  FTransformation.reset();
  FBitmap.reset();
}

void TCustomAffineLayer::SetBitmapCenter(const TFloatPoint& Value) {
  FBitmapCenter = Value;
  Changed();
}

void TCustomAffineLayer::SetBitmap(const TBitmap32* Value) {
  FBitmap->Assign(Value);
}

void TCustomAffineLayer::BitmapChanged() {
  // The source rectangle spans pixel centres: one less than the size in each direction.
  FTransformation->SetSrcRect(
      FloatRect(0, 0, float(FBitmap->Width() - 1), float(FBitmap->Height() - 1)));
  Changed();
}

void TCustomAffineLayer::SetPaintRegion(const TPaintRegion& Value) {
  if (Value == FPaintRegion) return;
  Changing();
  FPaintRegion = Value;
  if (FPaintRegion.Kind == TPaintRegion::prAll) FBelow.SetSize(0, 0);
  Changed();
}

namespace {

// floor(A / B) for B > 0.
std::int64_t FloorDiv(std::int64_t A, std::int64_t B) {
  return A >= 0 ? A / B : -((-A + B - 1) / B);
}

}  // namespace

void KeepOutsideRegion(TBitmap32& Buffer, const TBitmap32& Below, const TPaintRegion& Region,
                       const TViewMapping& Mapping) {
  const std::int32_t w = Buffer.Width(), h = Buffer.Height();
  if (Region.Kind == TPaintRegion::prAll || Below.Width() != w || Below.Height() != h) return;
  const auto keep = [&](std::int32_t Y, std::int32_t From, std::int32_t To) {
    From = std::clamp(From, 0, w), To = std::clamp(To, 0, w);
    if (To > From) {
      std::memcpy(Buffer.GetScanLine(Y) + From, Below.GetScanLine(Y) + From,
                  std::size_t(To - From) * sizeof(TColor32));
    }
  };
  if (Region.Kind == TPaintRegion::prSide) {
    const std::int32_t split = Region.Split >= 0 ? Region.Split : w / 2;
    for (std::int32_t y = 0; y < h; ++y) keep(y, 0, split);
    if (Region.Cursor) {
      // The mouse's point in both halves: where it is, and half the split over.
      const std::int32_t x = Region.Cursor->X, y = Region.Cursor->Y;
      const std::int32_t other = x < split ? x + split : x - split;
      for (const std::int32_t cx : {x, other}) {
        for (std::int32_t d = -6; d <= 6; ++d) {
          for (const TColor32 c : {clBlack32, clWhite32}) {
            const std::int32_t o = c == clWhite32 ? 0 : 1;  // a dark rim beside a white line
            Buffer.SetPixelS(cx + d, y + o, c);
            Buffer.SetPixelS(cx + o, y + d, c);
          }
        }
      }
    }
    return;
  }
  if (Region.Kind == TPaintRegion::prRightOf) {
    const double line = Region.Line * (double(Mapping.ScaleX) / FixedOne) + Mapping.ShiftX;
    const auto first = std::int32_t(std::clamp(std::ceil(line), -1.0, double(w)));
    for (std::int32_t y = 0; y < h; ++y) keep(y, 0, first);
    return;
  }
  const std::int64_t side = std::max(Region.Square, 1);
  for (std::int32_t y = 0; y < h; ++y) {
    const std::int64_t row = FloorDiv(std::int64_t(y) - Mapping.ShiftY, side);
    // The first square of the row that starts at or before column 0.
    std::int64_t col = FloorDiv(-std::int64_t(Mapping.ShiftX), side);
    for (std::int64_t x = Mapping.ShiftX + col * side; x < w; x += side, ++col) {
      if (((row + col) & 1) == 0) {
        keep(y, std::int32_t(std::max<std::int64_t>(x, 0)),
             std::int32_t(std::min<std::int64_t>(x + side, w)));
      }
    }
  }
}

void TCustomAffineLayer::Paint(TBitmap32* Buffer) {
  AdjustTransformation();
  const std::int32_t w = Buffer->Width(), h = Buffer->Height();
  const bool region = FPaintRegion.Kind != TPaintRegion::prAll && w > 0 && h > 0;
  if (region) {
    FBelow.SetSizeForOverwrite(w, h);
    std::memcpy(FBelow.PixelBuffer(), Buffer->PixelBuffer(), std::size_t(w) * h * sizeof(TColor32));
  }
  TPaintRegion painted = FPaintRegion;
  const bool side = region && painted.Kind == TPaintRegion::prSide;
  TRect viewport = MakeRect(0, 0, w, h);
  if (side) {
    if (LayerCollection() != nullptr) {
      if (auto* box = dynamic_cast<TCustomPaintBox32*>(LayerCollection()->GetOwner())) {
        IntersectRect(viewport, box->GetViewportRect(), viewport);
      }
    }
    const std::int32_t half = (viewport.Right - viewport.Left) / 2;
    painted.Split = viewport.Left + half;
    // The right half shows the layer alone, half the viewport to the right of where it lies.
    Buffer->FillRectS(painted.Split, viewport.Top, viewport.Right, viewport.Bottom,
                      painted.Background);
    FTransformation->Translate(float(half), 0);
  }
  Transform(*Buffer, *FBitmap, *FTransformation);
  if (side) FTransformation->Translate(-float((viewport.Right - viewport.Left) / 2), 0);
  if (region) {
    // Where the layer collection's bitmap lies in the buffer.
    const TViewMapping* mapping =
        LayerCollection() != nullptr ? LayerCollection()->Mapping() : nullptr;
    KeepOutsideRegion(*Buffer, FBelow, painted, mapping != nullptr ? *mapping : IdentityMapping);
  }
  // Transform prepares the inverse unless its destination was empty; make sure the hit test
  // reads the mapping of this paint either way.
  if (!FTransformation->Prepared) FTransformation->PrepareTransform();
  FHitMappingPrepared = true;
}

bool TCustomAffineLayer::DoHitTest(std::int32_t X, std::int32_t Y) {
  // Before the first paint the inverse coefficients are all zero and would send every point
  // to bitmap pixel (0, 0): a layer never shown is hit nowhere.
  if (!FHitMappingPrepared) return false;
  std::int32_t bx = 0, by = 0;
  FTransformation->Transform(X, Y, bx, by);
  if (!PtInRect(MakeRect(0, 0, FBitmap->Width(), FBitmap->Height()), Point(bx, by))) return false;
  return !FOpaqueHitOnly || AlphaComponent(FBitmap->GetPixelS(bx, by)) != 0;
}

void TCustomAffineLayer::AssignTo(TPersistent* Dest) const {
  if (auto* layer = dynamic_cast<TCustomAffineLayer*>(Dest)) {
    layer->FOpaqueHitOnly = FOpaqueHitOnly;
    layer->FBitmapCenter = FBitmapCenter;
    layer->FBitmap->Assign(FBitmap.get());
  }
  TCustomLayer::AssignTo(Dest);
}

// ---------------------------------------------------------------------------------------
// TRotLayer

void TRotLayer::SetPosition(const TFloatPoint& Value) {
  FPosition = Value;
  Changed();
}

void TRotLayer::SetScaled(bool Value) {
  FScaled = Value;
  Changed();
}

void TRotLayer::SetAngle(float Value) {
  FAngle = Value;
  Changed();
}

void TRotLayer::SetZoom(const TFloatPoint& Value) {
  FZoom = Value;
  Changed();
}

void SetRotLayerPlacement(TAffineTransformation& Transformation, TFloatPoint Center, float Angle,
                          TFloatPoint Position, TFloatPoint Zoom) {
  Transformation.Clear();
  Transformation.Translate(-Center.X, -Center.Y);
  // Left out at 1, 1, so that a slider placement is the same matrix, step for step.
  if (Zoom.X != 1 || Zoom.Y != 1) Transformation.Scale(Zoom.X, Zoom.Y);
  Transformation.Rotate(0, 0, Angle);
  Transformation.Translate(Position.X, Position.Y);
}

void TRotLayer::AdjustTransformation() {
  TAffineTransformation& t = Transformation();
  SetRotLayerPlacement(t, BitmapCenter(), FAngle, FPosition, FZoom);
  if (!FScaled || LayerCollection() == nullptr) return;
  if (const TViewMapping* mapping = LayerCollection()->Mapping()) {
    // 16.16 scales divided exactly (a power of two), then rounded once to float.
    t.Scale(float(double(mapping->ScaleX) / 65536.0), float(double(mapping->ScaleY) / 65536.0));
    t.Translate(float(mapping->ShiftX), float(mapping->ShiftY));
  }
}

void TRotLayer::AssignTo(TPersistent* Dest) const {
  if (auto* layer = dynamic_cast<TRotLayer*>(Dest)) {
    layer->FPosition = FPosition;
    layer->FScaled = FScaled;
    layer->FAngle = FAngle;
    layer->FZoom = FZoom;
  }
  TCustomAffineLayer::AssignTo(Dest);
}

}  // namespace raster
