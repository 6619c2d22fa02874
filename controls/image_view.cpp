#include "controls/image_view.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "raster/blend.h"
#include "raster/lowlevel.h"
#include "raster/row_pool.h"
#include "raster/transforms.h"

namespace raster {

namespace {

// The platform's dotted focus rectangle: every other pixel of the one-pixel outline of R is
// inverted, so drawing it twice restores the picture.
void DrawFocusRect(TBitmap32& Dest, const TRect& R) {
  if (IsRectEmpty(R)) return;
  auto invert = [&Dest](std::int32_t X, std::int32_t Y) {
    if (Dest.InBounds(X, Y)) Dest.SetPixel(X, Y, Dest.GetPixel(X, Y) ^ 0x00FFFFFFu);
  };
  const std::int32_t left = std::max(R.Left, -1), right = std::min(R.Right, Dest.Width() + 1);
  const std::int32_t top = std::max(R.Top, -1), bottom = std::min(R.Bottom, Dest.Height() + 1);
  for (std::int32_t x = left; x < right; ++x) {
    if (((x - R.Left) & 1) != 0) continue;
    invert(x, R.Top);
    if (R.Bottom - 1 != R.Top) invert(x, R.Bottom - 1);
  }
  for (std::int32_t y = std::max(top, R.Top + 1); y < std::min(bottom, R.Bottom - 1); ++y) {
    if (((y - R.Top) & 1) != 0) continue;
    invert(R.Left, y);
    if (R.Right - 1 != R.Left) invert(R.Right - 1, y);
  }
}

[[noreturn]] void StageIndexError() {
  throw EListError("Invalid stage index");
}

// Copies a whole bitmap of the same size; the rows are split over the engine's threads.
void CopyPixels(const TBitmap32& Src, TBitmap32& Dst) {
  const std::int32_t width = Src.Width();
  ForRows(0, Src.Height(), width, [&](std::int32_t First, std::int32_t Last) {
    std::memcpy(Dst.GetScanLine(First), Src.GetScanLine(First),
                std::size_t(Last - First) * std::size_t(width) * sizeof(TColor32));
  });
}

bool BackdropCacheByDefault() {
  const char* env = std::getenv("RASTER_VIEW_CACHE");
  return env == nullptr || std::strcmp(env, "off") != 0;
}

}  // namespace

std::int32_t RoundTiesToEven(long double Value) {
  if (std::isnan(Value)) return 0;
  if (Value >= MaxViewExtent) return MaxViewExtent;
  if (Value <= -MaxViewExtent) return -MaxViewExtent;
  // The default floating-point environment rounds to nearest, halves to even.
  return std::int32_t(std::nearbyint(Value));
}

// ---------------------------------------------------------------------------------------
// TPaintStages

TPaintStage& TPaintStages::Add() {
  FItems.emplace_back();
  return FItems.back();
}

TPaintStage& TPaintStages::Insert(std::int32_t Index) {
  Index = std::clamp(Index, 0, Count());
  return *FItems.emplace(FItems.begin() + Index);
}

void TPaintStages::Delete(std::int32_t Index) {
  if (Index < 0 || Index >= Count()) StageIndexError();
  FItems.erase(FItems.begin() + Index);
}

TPaintStage& TPaintStages::Items(std::int32_t Index) {
  if (Index < 0 || Index >= Count()) StageIndexError();
  return FItems[std::size_t(Index)];
}

const TPaintStage& TPaintStages::Items(std::int32_t Index) const {
  if (Index < 0 || Index >= Count()) StageIndexError();
  return FItems[std::size_t(Index)];
}

// ---------------------------------------------------------------------------------------
// TCustomPaintBox32

TCustomPaintBox32::TCustomPaintBox32(TControl* Parent)
    : TControl(Parent), FBuffer(std::make_unique<TBitmap32>()) {
  FBuffer->BeginUpdate();
  SetBounds(Left(), Top(), DefaultSize, DefaultSize);
}

TCustomPaintBox32::~TCustomPaintBox32() = default;

void TCustomPaintBox32::SetBufferOversize(std::int32_t Value) {
  FBufferOversize = std::max(0, Value);
}

void TCustomPaintBox32::ResizeBuffer() {
  const TRect viewport = GetViewportRect();
  const std::int32_t nw = std::max(0, viewport.Width());
  const std::int32_t nh = std::max(0, viewport.Height());
  auto wanted = [this](std::int32_t Needed, std::int32_t Current) {
    std::int32_t size = Current;
    if (Needed > size) {
      size = Needed + FBufferOversize;
    } else if (Needed < size - FBufferOversize) {
      size = Needed;
    }
    return std::max(size, 1);
  };
  const std::int32_t w = wanted(nw, FBuffer->Width());
  const std::int32_t h = wanted(nh, FBuffer->Height());
  if (w != FBuffer->Width() || h != FBuffer->Height()) {
    {
      TLockScope lock(*FBuffer);
      FBuffer->SetSize(nw, nh);
    }
    FBufferValid = false;
  }
}

void TCustomPaintBox32::Paint() {
  ResizeBuffer();
  const TRect viewport = GetViewportRect();
  {
    // Held over the rebuild too, so layers paint into a locked buffer.
    TLockScope lock(*FBuffer);
    if (!FBufferValid) DoPaintBuffer();
    Blit(*FBuffer, {0, 0, std::max(0, viewport.Width()), std::max(0, viewport.Height())},
         {viewport.Left, viewport.Top});
  }
  DoPaintGDIOverlay();
}

TBitmap32& TCustomPaintBox32::PaintBuffer() {
  ResizeBuffer();
  TLockScope lock(*FBuffer);
  if (!FBufferValid) DoPaintBuffer();
  return *FBuffer;
}

void TCustomPaintBox32::Flush() {
  const TRect viewport = GetViewportRect();
  Flush({0, 0, std::max(0, viewport.Width()), std::max(0, viewport.Height())});
}

void TCustomPaintBox32::Flush(const TRect& R) {
  if (FBuffer->Empty()) return;
  const TRect viewport = GetViewportRect();
  TLockScope lock(*FBuffer);
  Blit(*FBuffer, R, {R.Left + viewport.Left, R.Top + viewport.Top});
}

void TCustomPaintBox32::Invalidate() {
  FBufferValid = false;
  TControl::Invalidate();
}

void TCustomPaintBox32::Resize() {
  ResizeBuffer();
  FBufferValid = false;
  if (OnResize) OnResize(this);
}

void TCustomPaintBox32::SetBounds(std::int32_t ALeft, std::int32_t ATop, std::int32_t AWidth,
                                  std::int32_t AHeight) {
  FBufferValid = false;
  TControl::SetBounds(ALeft, ATop, AWidth, AHeight);
}

void TCustomPaintBox32::Loaded() {
  FBufferValid = false;
}

void TCustomPaintBox32::DoPaintBuffer() {
  FBufferValid = true;
}

void TCustomPaintBox32::DoPaintGDIOverlay() {
  if (OnGDIOverlay) OnGDIOverlay(this);
}

TRect TCustomPaintBox32::GetViewportRect() {
  return {0, 0, Width(), Height()};
}

// ---------------------------------------------------------------------------------------
// TCustomImage32

TCustomImage32::TCustomImage32(TControl* Parent)
    : TCustomPaintBox32(Parent),
      FBitmap(std::make_unique<TBitmap32>()),
      FLayers(std::make_unique<TLayerCollection>(this)),
      FPaintStages(std::make_unique<TPaintStages>()) {
  // Pixel changes reach the backdrop copy also while an update holds back Changed.
  FBitmap->OnChange = [this](TObject*) {
    InvalidateBackdrop();
    Changed();
  };
  FBitmap->OnResize = [this](TObject*) { BitmapResized(); };
  FLayers->SetMapping(&FMapping);
  FLayers->OnChange = [this](TObject*) { LayersChanged(); };
  FBackdropCache = BackdropCacheByDefault();
  // A layer that draws only on the window repaints at once from the buffer it leaves valid.
  FLayers->OnGDIUpdate = [this](TObject*) { Update(); };
  FScale = 1.0f;
  InitDefaultStages();
}

TCustomImage32::~TCustomImage32() {
  BeginUpdate();
  FBitmap->OnChange = nullptr;
  FBitmap->OnResize = nullptr;
  FLayers->OnChange = nullptr;
  FLayers->OnGDIUpdate = nullptr;
  FPaintStages.reset();
  FLayers.reset();
  FBitmap.reset();
}

void TCustomImage32::SetBitmapAlign(TBitmapAlign Value) {
  InvalidateCache();
  FBitmapAlign = Value;
  Changed();
}

void TCustomImage32::SetOffsetHorz(float Value) {
  if (Value == FOffsetHorz) return;
  FOffsetHorz = Value;
  InvalidateCache();
  Changed();
}

void TCustomImage32::SetOffsetVert(float Value) {
  if (Value == FOffsetVert) return;
  FOffsetVert = Value;
  InvalidateCache();
  Changed();
}

void TCustomImage32::SetScale(float Value) {
  // Written so that NaN, too, becomes the smallest scale.
  if (!(Value >= 0.001f)) Value = 0.001f;
  if (Value == FScale) return;
  InvalidateCache();
  FScale = Value;
  DoScaleChange();
  Changed();
}

void TCustomImage32::SetScaleMode(TScaleMode Value) {
  if (Value == FScaleMode) return;
  InvalidateCache();
  FScaleMode = Value;
  Changed();
}

TSize TCustomImage32::GetBitmapSize() {
  TSize size;
  if (FBitmap->Empty() || Width() == 0 || Height() == 0) return size;
  const std::int32_t bw = FBitmap->Width(), bh = FBitmap->Height();
  switch (FScaleMode) {
    case smNormal:
      size = {bw, bh};
      break;
    case smStretch:
      size = {Width(), Height()};
      break;
    case smScale:
      size = {RoundTiesToEven((long double)bw * FScale), RoundTiesToEven((long double)bh * FScale)};
      break;
    case smResize: {
      const float sx = float(Width()) / float(bw);
      const float sy = float(Height()) / float(bh);
      if (sx >= sy) {
        size = {RoundTiesToEven((long double)bw * sy), Height()};
      } else {
        size = {Width(), RoundTiesToEven((long double)bh * sx)};
      }
      break;
    }
  }
  size.cx = std::max(size.cx, 0);
  size.cy = std::max(size.cy, 0);
  return size;
}

TRect TCustomImage32::GetBitmapRect() {
  if (FBitmap->Empty()) return {0, 0, 0, 0};
  const TSize size = GetBitmapSize();
  TRect r{0, 0, size.cx, size.cy};
  switch (FBitmapAlign) {
    case baCenter:
      OffsetRect(r, (Width() - size.cx) / 2, (Height() - size.cy) / 2);
      break;
    case baCustom:
      OffsetRect(r, RoundTiesToEven(FOffsetHorz), RoundTiesToEven(FOffsetVert));
      break;
    case baTopLeft:
    case baTile:
      break;
  }
  return r;
}

void TCustomImage32::UpdateCache() {
  if (FCacheValid) return;
  FCachedBitmapRect = GetBitmapRect();
  const std::int32_t w = FCachedBitmapRect.Width(), h = FCachedBitmapRect.Height();
  // A bitmap scaled down to nothing has no rectangle to derive a mapping from; the view then
  // shows the background only (see DoPaintBuffer) and converts through the identity.
  if (FBitmap->Empty() || w <= 0 || h <= 0) {
    FMapping = IdentityMapping;
  } else {
    const std::int32_t bw = FBitmap->Width(), bh = FBitmap->Height();
    FMapping.ShiftX = FCachedBitmapRect.Left;
    FMapping.ShiftY = FCachedBitmapRect.Top;
    FMapping.ScaleX = MulDiv(w, FixedOne, bw);
    FMapping.ScaleY = MulDiv(h, FixedOne, bh);
    FMapping.InvScaleX = MulDiv(bw, FixedOne, w);
    FMapping.InvScaleY = MulDiv(bh, FixedOne, h);
  }
  FCacheValid = true;
}

TPoint TCustomImage32::BitmapToControl(const TPoint& P) {
  UpdateCache();
  return {std::int32_t(std::int64_t(P.X) * FMapping.ScaleX / FixedOne + FMapping.ShiftX),
          std::int32_t(std::int64_t(P.Y) * FMapping.ScaleY / FixedOne + FMapping.ShiftY)};
}

TPoint TCustomImage32::ControlToBitmap(const TPoint& P) {
  UpdateCache();
  return {std::int32_t((std::int64_t(P.X) - FMapping.ShiftX) * FMapping.InvScaleX / FixedOne),
          std::int32_t((std::int64_t(P.Y) - FMapping.ShiftY) * FMapping.InvScaleY / FixedOne)};
}

void TCustomImage32::BitmapResized() {
  InvalidateCache();
  Invalidate();
  if (OnBitmapResize) OnBitmapResize(this);
}

void TCustomImage32::DoInitStages() {
  if (OnInitStages) OnInitStages(this);
}

void TCustomImage32::DoScaleChange() {}

void TCustomImage32::InitDefaultStages() {
  auto add = [this](std::uint32_t Kind, bool RunVisible, std::uint32_t Param) {
    TPaintStage& stage = FPaintStages->Add();
    stage.DesignVisible = true;
    stage.RunVisible = RunVisible;
    stage.Kind = Kind;
    stage.Param = Param;
  };
  add(pstClearBackgnd, true, 0);
  add(pstControlFrame, false, 0);
  add(pstDrawBitmap, true, 0);
  add(pstBitmapFrame, false, 0);
  add(pstDrawLayers, true, loVisible);
}

void TCustomImage32::BeginUpdate() {
  ++FUpdateCount;
}

void TCustomImage32::EndUpdate() {
  if (FUpdateCount <= 0) throw EAssertionFailed("Unpaired EndUpdate call");
  --FUpdateCount;
}

void TCustomImage32::Changed() {
  if (FUpdateCount != 0) return;
  Invalidate();
  if (OnChange) OnChange(this);
}

void TCustomImage32::LayersChanged() {
  struct Reset {
    bool& Flag;
    ~Reset() { Flag = false; }
  } reset{FLayersChanging};
  FLayersChanging = true;
  Changed();
}

void TCustomImage32::SetBackdropCache(bool Value) {
  FBackdropCache = Value;
  if (!Value) {
    InvalidateBackdrop();
    FBackdrop.SetSize(0, 0);
  }
}

std::int32_t TCustomImage32::BackdropStage() const {
  // A combine handler is the caller's code, which may draw from anything.
  const TBitmap32& buffer = Buffer();
  if (!FBackdropCache || buffer.Empty() || FBitmap->DrawMode() == dmCustom) return -1;
  const bool opaque = !FBitmap->Empty() && FBitmap->DrawMode() == dmOpaque;
  // Whether the stages so far have written every buffer pixel inside, and every one outside,
  // the bitmap rectangle. The copy stands for the buffer only if they have: a pixel left from
  // the previous frame would hold what the layers drew there.
  bool inside = false, outside = false;
  for (std::int32_t i = 0; i < FPaintStages->Count(); ++i) {
    const TPaintStage& stage = FPaintStages->Items(i);
    if (!stage.RunVisible) continue;
    switch (stage.Kind) {
      case pstDrawLayers:
        return inside && outside ? i : -1;
      case pstClearBuffer:
        inside = outside = true;
        break;
      case pstClearBackgnd:
        // Opaque bitmaps leave the rectangle to the bitmap; the rest is filled up to the
        // control's size, which the buffer may exceed by less than its oversize.
        if (!opaque) {
          inside = outside = true;
        } else if (buffer.Width() <= Width() && buffer.Height() <= Height()) {
          outside = true;
        }
        break;
      case pstDrawBitmap:
        if (StretchWritesEveryPixel(*FBitmap)) inside = true;
        break;
      case pstControlFrame:
      case pstBitmapFrame:
        break;  // inverts what lies there: defined if that is
      default:
        return -1;  // custom or unknown: may draw from anything
    }
  }
  return -1;
}

TCustomImage32::TBackdropKey TCustomImage32::MakeBackdropKey(std::int32_t LayersStage) const {
  TBackdropKey key;
  const TBitmap32& buffer = Buffer();
  key.BufferWidth = buffer.Width();
  key.BufferHeight = buffer.Height();
  key.Width = Width();
  key.Height = Height();
  key.BitmapRect = FCachedBitmapRect;
  key.Color = Color32(Color());
  key.Bits = FBitmap->Bits();
  key.BitmapWidth = FBitmap->Width();
  key.BitmapHeight = FBitmap->Height();
  key.DrawMode = FBitmap->DrawMode();
  key.MasterAlpha = FBitmap->MasterAlpha();
  key.StretchFilter = FBitmap->StretchFilter();
  key.BlendImplementation = int(ActiveBlendImplementation());
  for (std::int32_t i = 0; i <= LayersStage; ++i) key.Stages.push_back(FPaintStages->Items(i));
  return key;
}

void TCustomImage32::ExecBitmapFrame(TBitmap32& Dest, std::int32_t) {
  DrawFocusRect(Dest, FCachedBitmapRect);
}

void TCustomImage32::ExecClearBuffer(TBitmap32& Dest, std::int32_t) {
  Dest.Clear(Color32(Color()));
}

void TCustomImage32::ExecClearBackgnd(TBitmap32& Dest, std::int32_t) {
  const TColor32 c = Color32(Color());
  if (FBitmap->Empty() || FBitmap->DrawMode() != dmOpaque) {
    Dest.Clear(c);
    return;
  }
  const TRect& r = FCachedBitmapRect;
  const std::int32_t w = Width(), h = Height();
  if (r.Left > 0 || r.Right < w || r.Top > 0 || r.Bottom < h) {
    Dest.FillRectS(0, 0, w, r.Top, c);
    Dest.FillRectS(0, r.Bottom, w, h, c);
    Dest.FillRectS(0, r.Top, r.Left, r.Bottom, c);
    Dest.FillRectS(r.Right, r.Top, w, r.Bottom, c);
  }
}

void TCustomImage32::ExecControlFrame(TBitmap32& Dest, std::int32_t) {
  DrawFocusRect(Dest, {0, 0, Width(), Height()});
}

void TCustomImage32::ExecCustom(TBitmap32& Dest, std::int32_t StageNum) {
  if (OnPaintStage) OnPaintStage(this, &Dest, std::uint32_t(StageNum));
}

void TCustomImage32::ExecDrawBitmap(TBitmap32& Dest, std::int32_t) {
  if (FBitmap->Empty() || IsRectEmpty(FCachedBitmapRect)) return;
  TLockScope lock(*FBitmap);
  FBitmap->DrawTo(Dest, FCachedBitmapRect);
}

void TCustomImage32::ExecDrawLayers(TBitmap32& Dest, std::int32_t StageNum) {
  const std::uint32_t mask = FPaintStages->Items(StageNum).Param;
  for (std::int32_t i = 0; i < FLayers->Count(); ++i) {
    TCustomLayer* layer = FLayers->Items(i);
    if ((layer->LayerOptions() & mask) != 0) layer->DoPaint(&Dest);
  }
}

void TCustomImage32::Invalidate() {
  if (FLayersChanging) {
    FLayersChanging = false;  // only the invalidation the layers' change itself causes
    FLayersChangedLast = true;
  } else {
    InvalidateBackdrop();
  }
  InvalidateCache();
  TCustomPaintBox32::Invalidate();
}

void TCustomImage32::Loaded() {
  TCustomPaintBox32::Loaded();
  DoInitStages();
}

void TCustomImage32::Resize() {
  InvalidateCache();
  TCustomPaintBox32::Resize();
}

void TCustomImage32::DoPaintBuffer() {
  UpdateCache();
  TBitmap32& buffer = Buffer();
  if (!FBitmap->Empty() && IsRectEmpty(FCachedBitmapRect)) {
    // Scaled down to nothing: there is no geometry for the bitmap or the layers that follow
    // it, so only the background shows.
    buffer.Clear(Color32(Color()));
  } else {
    const std::int32_t layersStage = BackdropStage();
    std::int32_t first = 0;
    TBackdropKey key;
    if (layersStage >= 0) key = MakeBackdropKey(layersStage);
    if (layersStage >= 0 && FBackdropValid && key == FBackdropKey) {
      CopyPixels(FBackdrop, buffer);
      first = layersStage;
    } else {
      FBackdropValid = false;
    }
    for (std::int32_t i = first; i < FPaintStages->Count(); ++i) {
      // The stages before the layers are done: keep what they drew when more changes of the
      // layers alone are likely to follow.
      if (i == layersStage && first == 0 && FLayersChangedLast) {
        FBackdrop.SetSizeForOverwrite(buffer.Width(), buffer.Height());
        CopyPixels(buffer, FBackdrop);
        FBackdropKey = std::move(key);
        FBackdropValid = true;
      }
      const TPaintStage stage = FPaintStages->Items(i);
      if (!stage.RunVisible) continue;
      switch (stage.Kind) {
        case pstCustom:
          ExecCustom(buffer, i);
          break;
        case pstClearBuffer:
          ExecClearBuffer(buffer, i);
          break;
        case pstClearBackgnd:
          ExecClearBackgnd(buffer, i);
          break;
        case pstDrawBitmap:
          ExecDrawBitmap(buffer, i);
          break;
        case pstDrawLayers:
          ExecDrawLayers(buffer, i);
          break;
        case pstControlFrame:
          ExecControlFrame(buffer, i);
          break;
        case pstBitmapFrame:
          ExecBitmapFrame(buffer, i);
          break;
        default:
          break;
      }
    }
  }
  TCustomPaintBox32::DoPaintBuffer();
}

void TCustomImage32::DoPaintGDIOverlay() {
  for (std::int32_t i = 0; i < FLayers->Count(); ++i) {
    TCustomLayer* layer = FLayers->Items(i);
    if ((layer->LayerOptions() & loGdiOverlay) != 0) layer->PaintGDI(*this);
  }
  TCustomPaintBox32::DoPaintGDIOverlay();
}

void TCustomImage32::MouseDown(TMouseButton Button, TShiftState Shift, std::int32_t X,
                               std::int32_t Y) {
  TCustomLayer* layer = nullptr;
  if (FLayers->MouseEvents()) layer = FLayers->MouseDown(Button, Shift, X, Y);
  if (Button == mbLeft || FLayers->MouseListener() != nullptr) SetMouseCapture(true);
  if (OnMouseDown) OnMouseDown(this, Button, Shift, X, Y, layer);
}

void TCustomImage32::MouseMove(TShiftState Shift, std::int32_t X, std::int32_t Y) {
  TCustomLayer* layer = nullptr;
  if (FLayers->MouseEvents()) layer = FLayers->MouseMove(Shift, X, Y);
  if (OnMouseMove) OnMouseMove(this, Shift, X, Y, layer);
}

void TCustomImage32::MouseUp(TMouseButton Button, TShiftState Shift, std::int32_t X,
                             std::int32_t Y) {
  TCustomLayer* layer = nullptr;
  if (FLayers->MouseEvents()) layer = FLayers->MouseUp(Button, Shift, X, Y);
  if (Button == mbLeft && FLayers->MouseListener() == nullptr) SetMouseCapture(false);
  if (OnMouseUp) OnMouseUp(this, Button, Shift, X, Y, layer);
}

void TCustomImage32::MouseEnter() {
  if (OnMouseEnter) OnMouseEnter(this);
}

void TCustomImage32::MouseLeave() {
  if (FLayers->MouseEvents() && FLayers->MouseListener() == nullptr) SetCursor(crDefault);
  if (OnMouseLeave) OnMouseLeave(this);
}

// ---------------------------------------------------------------------------------------
// TIVScrollProperties

TWinColor TIVScrollProperties::Color() const {
  return FView.HScroll().Color();
}

void TIVScrollProperties::SetColor(TWinColor Value) {
  FView.HScroll().SetColor(Value);
  FView.VScroll().SetColor(Value);
}

bool TIVScrollProperties::ShowHandleGrip() const {
  return FView.HScroll().ShowHandleGrip();
}

void TIVScrollProperties::SetShowHandleGrip(bool Value) {
  FView.HScroll().SetShowHandleGrip(Value);
  FView.VScroll().SetShowHandleGrip(Value);
}

TRBStyle TIVScrollProperties::Style() const {
  return FView.HScroll().Style();
}

void TIVScrollProperties::SetStyle(TRBStyle Value) {
  FView.HScroll().SetStyle(Value);
  FView.VScroll().SetStyle(Value);
}

std::int32_t TIVScrollProperties::Increment() const {
  return FView.HScroll().Increment();
}

void TIVScrollProperties::SetIncrement(std::int32_t Value) {
  FView.HScroll().SetIncrement(Value);
  FView.VScroll().SetIncrement(Value);
}

std::int32_t TIVScrollProperties::Size() const {
  return FView.FScrollBarSize;
}

void TIVScrollProperties::SetSize(std::int32_t Value) {
  Value = std::max(0, Value);
  if (Value == FView.FScrollBarSize) return;
  FView.FScrollBarSize = Value;
  // The viewport changes with the bars, so everything is laid out again.
  FView.Resize();
}

// ---------------------------------------------------------------------------------------
// TCustomImgView32

TCustomImgView32::TCustomImgView32(TControl* Parent)
    : TCustomImage32(Parent),
      FHScroll(std::make_unique<TCustomRangeBar>(this)),
      FVScroll(std::make_unique<TCustomRangeBar>(this)) {
  for (TCustomRangeBar* bar : {FHScroll.get(), FVScroll.get()}) {
    bar->SetBorderStyle(bsNone);
    bar->SetCentered(true);
    bar->OnUserChange = [this](TObject* Sender) { ScrollHandler(Sender); };
  }
  FVScroll->SetKind(sbVertical);
  FCentered = true;
  SetScaleMode(smScale);
  SetBitmapAlign(baCustom);
  FScrollBars = std::make_unique<TIVScrollProperties>(*this);
  AlignAll();
}

TCustomImgView32::~TCustomImgView32() {
  FScrollBars.reset();
  FHScroll->OnUserChange = nullptr;
  FVScroll->OnUserChange = nullptr;
  FHScroll.reset();
  FVScroll.reset();
}

std::int32_t TCustomImgView32::GetScrollBarSize() const {
  return FScrollBarSize > 0 ? FScrollBarSize : SystemScrollBarSize;
}

TRect TCustomImgView32::GetViewportRect() {
  const std::int32_t s = GetScrollBarSize();
  return {0, 0, Width() - s, Height() - s};
}

std::int32_t TCustomImgView32::ShownWidth() {
  const std::int32_t w = GetViewportRect().Width();
  return FSplitViewport ? w / 2 : w;  // the half a side-by-side layer splits off
}

void TCustomImgView32::SetSplitViewport(bool Value) {
  if (Value == FSplitViewport) return;
  FSplitViewport = Value;
  InvalidateCache();
  UpdateScrollBars();
  UpdateImage();
  Invalidate();
}

bool TCustomImgView32::GetSizeGripVisible() const {
  switch (FSizeGrip) {
    case sgAlways:
      return true;
    case sgNone:
      return false;
    case sgAuto:
      break;
  }
  // Shown when the view fills its parent, and every parent up to the window fills its own.
  for (const TControl* c = this; c->Parent() != nullptr; c = c->Parent()) {
    if (c->BoundsRect() != c->Parent()->ClientRect()) return false;
  }
  return true;
}

void TCustomImgView32::SetSizeGrip(TSizeGripStyle Value) {
  if (Value == FSizeGrip) return;
  FSizeGrip = Value;
  Invalidate();
}

void TCustomImgView32::SetCentered(bool Value) {
  InvalidateCache();
  FCentered = Value;
  FHScroll->SetCentered(Value);
  FVScroll->SetCentered(Value);
  UpdateScrollBars();
  UpdateImage();
  if (Value) {
    ScrollToCenter(Bitmap().Width() / 2, Bitmap().Height() / 2);
  } else {
    ScrollToCenter(0, 0);
  }
}

void TCustomImgView32::AlignAll() {
  const TRect v = GetViewportRect();
  FHScroll->SetBounds(v.Left, v.Bottom, v.Right - v.Left, Height() - v.Bottom);
  FVScroll->SetBounds(v.Right, v.Top, Width() - v.Right, v.Bottom - v.Top);
  FHScroll->Invalidate();
  FVScroll->Invalidate();
}

void TCustomImgView32::UpdateScrollBars() {
  const TSize size = GetBitmapSize();
  FHScroll->SetWindow(FSplitViewport ? ShownWidth() : 0);
  FHScroll->SetRange(size.cx);
  FVScroll->SetRange(size.cy);
}

void TCustomImgView32::UpdateImage() {
  const TSize size = GetBitmapSize();
  const TRect v = GetViewportRect();
  const std::int32_t vw = ShownWidth(), vh = v.Height();
  BeginUpdate();
  // A centred picture may sit half a pixel off; GetBitmapRect rounds the offset ties-to-even.
  if (FCentered && vw > size.cx) {
    SetOffsetHorz(float(vw - size.cx) / 2);
  } else {
    SetOffsetHorz(-FHScroll->Position());
  }
  if (FCentered && vh > size.cy) {
    SetOffsetVert(float(vh - size.cy) / 2);
  } else {
    SetOffsetVert(-FVScroll->Position());
  }
  InvalidateCache();
  EndUpdate();
  Changed();
}

void TCustomImgView32::ScrollToCenter(std::int32_t X, std::int32_t Y) {
  FScrollLock = true;
  try {
    AlignAll();
    const TRect v = GetViewportRect();
    FHScroll->SetPosition(float((long double)X * Scale() - ShownWidth() / 2.0L));
    FVScroll->SetPosition(float((long double)Y * Scale() - v.Height() / 2.0L));
  } catch (...) {
    FScrollLock = false;
    throw;
  }
  FScrollLock = false;
  UpdateImage();
}

void TCustomImgView32::PlaceBitmapAt(float Left, float Top) {
  FScrollLock = true;
  try {
    FHScroll->SetPosition(-Left);
    FVScroll->SetPosition(-Top);
  } catch (...) {
    FScrollLock = false;
    throw;
  }
  FScrollLock = false;
  BeginUpdate();
  SetOffsetHorz(Left);
  SetOffsetVert(Top);
  InvalidateCache();
  EndUpdate();
  Changed();
}

void TCustomImgView32::Scroll(std::int32_t Dx, std::int32_t Dy) {
  FScrollLock = true;
  try {
    FHScroll->SetPosition(FHScroll->Position() + float(Dx));
    FVScroll->SetPosition(FVScroll->Position() + float(Dy));
  } catch (...) {
    FScrollLock = false;
    throw;
  }
  FScrollLock = false;
  UpdateImage();
}

void TCustomImgView32::DoScroll() {
  if (OnScroll) OnScroll(this);
}

void TCustomImgView32::ScrollHandler(TObject* Sender) {
  if (FScrollLock) return;
  if (auto* bar = dynamic_cast<TControl*>(Sender)) bar->Invalidate();
  UpdateImage();
  DoScroll();
  Update();
}

void TCustomImgView32::BitmapResized() {
  TCustomImage32::BitmapResized();
  UpdateScrollBars();
  if (FCentered) {
    ScrollToCenter(Bitmap().Width() / 2, Bitmap().Height() / 2);
  } else {
    FHScroll->SetPosition(0);
    FVScroll->SetPosition(0);
    UpdateImage();
  }
}

void TCustomImgView32::DoScaleChange() {
  InvalidateCache();
  // The centred bars keep the bitmap point at the viewport centre when their range changes.
  UpdateScrollBars();
  UpdateImage();
  Invalidate();
}

void TCustomImgView32::Loaded() {
  AlignAll();
  Invalidate();
  UpdateScrollBars();
  if (FCentered) ScrollToCenter(Bitmap().Width() / 2, Bitmap().Height() / 2);
  TCustomImage32::Loaded();
}

TRect TCustomImgView32::GripRect() const {
  const std::int32_t s = GetScrollBarSize();
  return {Width() - s, Height() - s, Width(), Height()};
}

void TCustomImgView32::PaintSizeGrip() {
  const TRect r = GripRect();
  if (IsRectEmpty(r)) return;
  FGrip.SetSize(r.Width(), r.Height());
  FGrip.Clear(Color32(clBtnFace));
  if (GetSizeGripVisible()) {
    // Three diagonal ridges towards the bottom-right corner, lit from the top-left.
    const TColor32 light = Color32(clBtnHighlight), dark = Color32(clBtnShadow);
    const std::int32_t w = FGrip.Width(), h = FGrip.Height();
    for (std::int32_t ridge = 0; ridge < 3; ++ridge) {
      const std::int32_t d = 4 * ridge + 3;  // the ridge's distance from the corner
      for (std::int32_t k = 0; k <= d; ++k) {
        const std::int32_t x = w - 1 - k, y = h - 1 - (d - k);
        FGrip.SetPixelS(x, y, light);
        FGrip.SetPixelS(x, y + 1, dark);
        FGrip.SetPixelS(x, y + 2, dark);
      }
    }
  }
  Blit(FGrip, FGrip.BoundsRect(), {r.Left, r.Top});
}

void TCustomImgView32::Paint() {
  PaintSizeGrip();
  TCustomImage32::Paint();
}

void TCustomImgView32::Resize() {
  AlignAll();
  InvalidateCache();
  UpdateScrollBars();
  UpdateImage();
  Invalidate();
  TCustomImage32::Resize();
}

void TCustomImgView32::MouseDown(TMouseButton Button, TShiftState Shift, std::int32_t X,
                                 std::int32_t Y) {
  if (Button == mbLeft && GetSizeGripVisible() && PtInRect(GripRect(), {X, Y})) {
    // The window itself resizes from its bottom-right corner; the view takes no part in it.
    SetMouseCapture(false);
    return;
  }
  TCustomImage32::MouseDown(Button, Shift, X, Y);
}

void TCustomImgView32::MouseMove(TShiftState Shift, std::int32_t X, std::int32_t Y) {
  TCustomImage32::MouseMove(Shift, X, Y);
  if (GetSizeGripVisible() && PtInRect(GripRect(), {X, Y})) SetCursor(crSizeNWSE);
}

}  // namespace raster
