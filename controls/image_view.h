// The layered image view: a double-buffered control that shows a bitmap zoomed and scrolled in
// a viewport, composing each frame in an off-screen buffer through an ordered list of paint
// stages, one of which draws a layer collection over the bitmap.
//
// TCustomPaintBox32 keeps the buffer and the paint sequence, TCustomImage32 adds the bitmap,
// the layers, the stages and the bitmap-to-control geometry, and TCustomImgView32 adds the two
// scroll bars and keeps the bitmap centred or scrolled inside the viewport.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "controls/controls.h"
#include "controls/layers.h"
#include "controls/range_bars.h"
#include "raster/core.h"

namespace raster {

struct TSize {
  std::int32_t cx = 0, cy = 0;
  friend bool operator==(const TSize&, const TSize&) = default;
};

// Round to the nearest integer, an exact half to the even neighbour. Values beyond the
// geometry limit saturate, so that sums of a position and a size never overflow.
std::int32_t RoundTiesToEven(long double Value);
// The largest coordinate or extent the view geometry works with.
constexpr std::int32_t MaxViewExtent = 1 << 29;

// ---------------------------------------------------------------------------------------
// Paint stages

// Stage kinds.
constexpr std::uint32_t pstCustom = 1;        // ExecCustom: OnPaintStage
constexpr std::uint32_t pstClearBuffer = 2;   // ExecClearBuffer: whole buffer with Color
constexpr std::uint32_t pstClearBackgnd = 3;  // ExecClearBackgnd: what the bitmap leaves free
constexpr std::uint32_t pstDrawBitmap = 4;    // ExecDrawBitmap: Bitmap into CachedBitmapRect
constexpr std::uint32_t pstDrawLayers = 5;    // ExecDrawLayers: layers sharing a bit with Param
constexpr std::uint32_t pstControlFrame = 6;  // ExecControlFrame: focus frame around the control
constexpr std::uint32_t pstBitmapFrame = 7;   // ExecBitmapFrame: focus frame around the bitmap

struct TPaintStage {
  bool DesignVisible = false;
  bool RunVisible = true;
  std::uint32_t Kind = 0;
  std::uint32_t Param = 0;
  friend bool operator==(const TPaintStage&, const TPaintStage&) = default;
};

// References returned by Add, Insert and Items stay valid until the next Add or Insert.
class TPaintStages {
 public:
  TPaintStage& Add();
  // Index is clamped to 0 .. Count; the stages from Index on move up one place.
  TPaintStage& Insert(std::int32_t Index);
  // Raises EListError "Invalid stage index" outside 0 .. Count - 1 (as does Items).
  void Delete(std::int32_t Index);
  void Clear() { FItems.clear(); }
  std::int32_t Count() const { return std::int32_t(FItems.size()); }
  TPaintStage& Items(std::int32_t Index);
  const TPaintStage& Items(std::int32_t Index) const;

 private:
  std::vector<TPaintStage> FItems;
};

// ---------------------------------------------------------------------------------------
// TCustomPaintBox32

using TPaintBoxOptions = std::uint32_t;
constexpr TPaintBoxOptions pboWantArrowKeys = 1;
constexpr TPaintBoxOptions pboAutoFocus = 2;

class TCustomPaintBox32 : public TControl {
 public:
  static constexpr std::int32_t DefaultSize = 192;

  explicit TCustomPaintBox32(TControl* Parent = nullptr);
  ~TCustomPaintBox32() override;
  const char* ClassName() const override { return "TCustomPaintBox32"; }

  // Holds one update count for its whole life, so it never sends change notifications.
  TBitmap32& Buffer() { return *FBuffer; }
  const TBitmap32& Buffer() const { return *FBuffer; }
  std::int32_t BufferOversize() const { return FBufferOversize; }
  void SetBufferOversize(std::int32_t Value);
  bool BufferValid() const { return FBufferValid; }
  void SetBufferValid(bool Value) { FBufferValid = Value; }
  TPaintBoxOptions Options() const { return FOptions; }
  void SetOptions(TPaintBoxOptions Value) { FOptions = Value; }
  // The cursor shown over the control where no layer sets its own.
  TCursor DefaultCursor() const { return FDefaultCursor; }
  void SetDefaultCursor(TCursor Value) { FDefaultCursor = Value; }

  // Sizes the buffer, rebuilds it when invalid, shows the viewport part, then the overlay.
  void Paint() override;
  // The buffer sized and rebuilt as Paint does, without showing it: what a capture of the
  // viewport takes, without a screen of the viewport's size beside it.
  TBitmap32& PaintBuffer();
  // Shows the buffer again without rebuilding it (the whole viewport, or the buffer rectangle
  // R moved by the viewport's top-left). Only has an effect while the host paints.
  void Flush();
  void Flush(const TRect& R);
  void Invalidate() override;
  void Resize() override;
  void SetBounds(std::int32_t ALeft, std::int32_t ATop, std::int32_t AWidth,
                 std::int32_t AHeight) override;
  // Called once the creator has set the designed properties.
  virtual void Loaded();

  virtual void DoPaintBuffer();
  virtual void DoPaintGDIOverlay();
  virtual TRect GetViewportRect();

  TNotifyEvent OnGDIOverlay;
  TNotifyEvent OnResize;

 protected:
  // Buffer sizing: grows to the viewport exactly, and shrinks only when the viewport is more
  // than BufferOversize pixels smaller, so small shrinks do not reallocate.
  void ResizeBuffer();

 private:
  std::unique_ptr<TBitmap32> FBuffer;
  std::int32_t FBufferOversize = 40;
  bool FBufferValid = false;
  TPaintBoxOptions FOptions = 0;
  TCursor FDefaultCursor = crDefault;
};

// ---------------------------------------------------------------------------------------
// TCustomImage32

enum TBitmapAlign { baTopLeft, baCenter, baTile, baCustom };
enum TScaleMode { smNormal, smStretch, smScale, smResize };

using TImgMouseEvent = std::function<void(TObject* Sender, TMouseButton Button, TShiftState Shift,
                                          std::int32_t X, std::int32_t Y, TCustomLayer* Layer)>;
using TImgMouseMoveEvent = std::function<void(TObject* Sender, TShiftState Shift, std::int32_t X,
                                              std::int32_t Y, TCustomLayer* Layer)>;
using TPaintStageEvent =
    std::function<void(TObject* Sender, TBitmap32* Buffer, std::uint32_t StageNum)>;

class TCustomImage32 : public TCustomPaintBox32 {
 public:
  explicit TCustomImage32(TControl* Parent = nullptr);
  ~TCustomImage32() override;
  const char* ClassName() const override { return "TCustomImage32"; }

  TBitmap32& Bitmap() { return *FBitmap; }
  const TBitmap32& Bitmap() const { return *FBitmap; }
  void SetBitmap(const TBitmap32* Value) { FBitmap->Assign(Value); }
  TLayerCollection& Layers() { return *FLayers; }
  const TLayerCollection& Layers() const { return *FLayers; }
  void SetLayers(const TLayerCollection* Value) { FLayers->Assign(Value); }
  TPaintStages& PaintStages() { return *FPaintStages; }

  TBitmapAlign BitmapAlign() const { return FBitmapAlign; }
  void SetBitmapAlign(TBitmapAlign Value);
  float OffsetHorz() const { return FOffsetHorz; }
  void SetOffsetHorz(float Value);
  float OffsetVert() const { return FOffsetVert; }
  void SetOffsetVert(float Value);
  float Scale() const { return FScale; }
  // Values below 0.001 become 0.001.
  void SetScale(float Value);
  TScaleMode ScaleMode() const { return FScaleMode; }
  void SetScaleMode(TScaleMode Value);
  std::int32_t UpdateCount() const { return FUpdateCount; }

  // Where the bitmap lies in control pixels and the mapping derived from it, as of the last
  // UpdateCache.
  const TRect& CachedBitmapRect() const { return FCachedBitmapRect; }
  const TViewMapping& Mapping() const { return FMapping; }
  bool CacheValid() const { return FCacheValid; }
  // Recomputes CachedBitmapRect and the mapping unless they are current.
  void UpdateCache();
  void InvalidateCache() { FCacheValid = false; }

  // The backdrop cache. A change of the layers alone (an overlay turned or moved) leaves
  // everything that the stages before the first layers stage draw as it was, so the view keeps
  // a copy of the buffer as those stages leave it and repaints such a change from the copy,
  // running only the layers and the stages after them. The copy is used only while the bitmap,
  // its pixels and draw properties, the colour, the geometry, the buffer size and the stages
  // are those it was made with, and only when those stages are the built-in ones and define
  // every buffer pixel (a custom stage before the layers turns it off). On by default unless
  // the environment variable RASTER_VIEW_CACHE is "off".
  bool BackdropCache() const { return FBackdropCache; }
  void SetBackdropCache(bool Value);
  // Forgets the copy. Every change made through the view and its bitmap does this by itself;
  // who writes the bitmap's pixels without calling its Changed, or overrides a stage method
  // to draw from other state, calls it.
  void InvalidateBackdrop() {
    FBackdropValid = false;
    FLayersChangedLast = false;
  }
  // Whether the copy is there to repaint from, for the next paint of the same state.
  bool BackdropValid() const { return FBackdropValid; }

  // Bitmap pixels to control pixels and back through the mapping (products in 64 bits,
  // quotients truncated toward zero).
  TPoint BitmapToControl(const TPoint& P);
  TPoint ControlToBitmap(const TPoint& P);

  virtual void BitmapResized();
  virtual void DoInitStages();
  virtual void DoScaleChange();
  virtual void InitDefaultStages();
  // Raise and lower the update count; neither paints.
  virtual void BeginUpdate();
  virtual void EndUpdate();
  // Invalidates and calls OnChange, unless an update is in progress.
  virtual void Changed();
  virtual void ExecBitmapFrame(TBitmap32& Dest, std::int32_t StageNum);
  virtual void ExecClearBuffer(TBitmap32& Dest, std::int32_t StageNum);
  virtual void ExecClearBackgnd(TBitmap32& Dest, std::int32_t StageNum);
  virtual void ExecControlFrame(TBitmap32& Dest, std::int32_t StageNum);
  virtual void ExecCustom(TBitmap32& Dest, std::int32_t StageNum);
  virtual void ExecDrawBitmap(TBitmap32& Dest, std::int32_t StageNum);
  virtual void ExecDrawLayers(TBitmap32& Dest, std::int32_t StageNum);
  virtual TRect GetBitmapRect();
  virtual TSize GetBitmapSize();

  void Invalidate() override;
  void Loaded() override;
  void Resize() override;
  void DoPaintBuffer() override;
  void DoPaintGDIOverlay() override;
  void MouseDown(TMouseButton Button, TShiftState Shift, std::int32_t X, std::int32_t Y) override;
  void MouseMove(TShiftState Shift, std::int32_t X, std::int32_t Y) override;
  void MouseUp(TMouseButton Button, TShiftState Shift, std::int32_t X, std::int32_t Y) override;
  void MouseEnter() override;
  void MouseLeave() override;

  TNotifyEvent OnBitmapResize;
  TNotifyEvent OnChange;
  TNotifyEvent OnInitStages;
  TImgMouseEvent OnMouseDown;
  TNotifyEvent OnMouseEnter;
  TNotifyEvent OnMouseLeave;
  TImgMouseMoveEvent OnMouseMove;
  TImgMouseEvent OnMouseUp;
  TPaintStageEvent OnPaintStage;

 private:
  std::unique_ptr<TBitmap32> FBitmap;
  TBitmapAlign FBitmapAlign = baTopLeft;
  std::unique_ptr<TLayerCollection> FLayers;
  float FOffsetHorz = 0;
  float FOffsetVert = 0;
  std::unique_ptr<TPaintStages> FPaintStages;
  float FScale = 1.0f;
  TScaleMode FScaleMode = smNormal;
  std::int32_t FUpdateCount = 0;
  TRect FCachedBitmapRect;
  TViewMapping FMapping;
  bool FCacheValid = false;

  // Everything the stages before the layers read, besides the bitmap's pixels.
  struct TBackdropKey {
    std::int32_t BufferWidth = 0, BufferHeight = 0, Width = 0, Height = 0;
    TRect BitmapRect;
    TColor32 Color = 0;
    const TColor32* Bits = nullptr;
    std::int32_t BitmapWidth = 0, BitmapHeight = 0;
    TDrawMode DrawMode = dmOpaque;
    std::uint32_t MasterAlpha = 0;
    TStretchFilter StretchFilter = sfNearest;
    int BlendImplementation = 0;
    std::vector<TPaintStage> Stages;  // up to and including the first layers stage
    friend bool operator==(const TBackdropKey&, const TBackdropKey&) = default;
  };
  // The first visible layers stage when the stages before it may be cached, else -1.
  std::int32_t BackdropStage() const;
  TBackdropKey MakeBackdropKey(std::int32_t LayersStage) const;
  void LayersChanged();

  bool FBackdropCache = true;
  bool FBackdropValid = false;
  // Set while the layers' change notification runs Changed: the one Invalidate it causes
  // keeps the copy.
  bool FLayersChanging = false;
  // Whether the latest invalidation came from the layers: only then is a copy worth making,
  // because more changes of the layers alone are likely to follow (a drag).
  bool FLayersChangedLast = false;
  TBackdropKey FBackdropKey;
  TBitmap32 FBackdrop;
};

// ---------------------------------------------------------------------------------------
// TCustomImgView32

enum TSizeGripStyle { sgAuto, sgNone, sgAlways };

class TCustomImgView32;

// The appearance of the view's two scroll bars, set on both at once.
class TIVScrollProperties {
 public:
  explicit TIVScrollProperties(TCustomImgView32& View) : FView(View) {}
  TWinColor Color() const;
  void SetColor(TWinColor Value);
  bool ShowHandleGrip() const;
  void SetShowHandleGrip(bool Value);
  TRBStyle Style() const;
  void SetStyle(TRBStyle Value);
  // The horizontal bar's increment; written to both bars.
  std::int32_t Increment() const;
  void SetIncrement(std::int32_t Value);
  // The bar thickness; 0 means the system's horizontal scroll-bar height.
  std::int32_t Size() const;
  void SetSize(std::int32_t Value);

 private:
  TCustomImgView32& FView;
};

class TCustomImgView32 : public TCustomImage32 {
 public:
  // The system's horizontal scroll-bar height, the same on every platform.
  static constexpr std::int32_t SystemScrollBarSize = 17;

  explicit TCustomImgView32(TControl* Parent = nullptr);
  ~TCustomImgView32() override;
  const char* ClassName() const override { return "TCustomImgView32"; }

  bool Centered() const { return FCentered; }
  void SetCentered(bool Value);
  TIVScrollProperties& ScrollBars() { return *FScrollBars; }
  TSizeGripStyle SizeGrip() const { return FSizeGrip; }
  void SetSizeGrip(TSizeGripStyle Value);
  TCustomRangeBar& HScroll() { return *FHScroll; }
  TCustomRangeBar& VScroll() { return *FVScroll; }
  bool ScrollLock() const { return FScrollLock; }
  // The scroll-bar thickness in effect.
  std::int32_t GetScrollBarSize() const;
  // Whether the size grip is shown in the bottom-right square.
  bool GetSizeGripVisible() const;

  // The control less the two scroll-bar strips, which are always reserved.
  TRect GetViewportRect() override;
  // Side by side: the bitmap shows in the viewport's left half only (a layer draws the right
  // half), so the horizontal scroll bar's window, the centring and ScrollToCenter take that
  // half's width, and every column of the bitmap can be scrolled into it.
  bool SplitViewport() const { return FSplitViewport; }
  void SetSplitViewport(bool Value);
  // The width the bitmap shows in: the viewport's, or its left half's.
  std::int32_t ShownWidth();
  // Scrolls so that bitmap pixel (X, Y) lies at the viewport centre.
  void ScrollToCenter(std::int32_t X, std::int32_t Y);
  // Puts the bitmap's top-left corner at (Left, Top) in control pixels (rounded as the offsets
  // are), also where the scroll bars cannot (a picture about as small as the viewport, which
  // they would centre): a zoom about a point keeps that point under the mouse. The scroll bars
  // go as near as they allow; the next scroll, resize or zoom places by them again.
  void PlaceBitmapAt(float Left, float Top);
  void Scroll(std::int32_t Dx, std::int32_t Dy);
  // Places the bitmap: centred while smaller than the viewport (when Centered), otherwise by
  // the scroll positions.
  void UpdateImage();
  void UpdateScrollBars();
  void AlignAll();

  virtual void DoScroll();
  virtual void ScrollHandler(TObject* Sender);

  void BitmapResized() override;
  void DoScaleChange() override;
  void Loaded() override;
  void Paint() override;
  void Resize() override;
  void MouseDown(TMouseButton Button, TShiftState Shift, std::int32_t X, std::int32_t Y) override;
  void MouseMove(TShiftState Shift, std::int32_t X, std::int32_t Y) override;

  TNotifyEvent OnScroll;

 private:
  friend class TIVScrollProperties;

  TRect GripRect() const;
  void PaintSizeGrip();

  bool FCentered = true;
  bool FSplitViewport = false;
  std::int32_t FScrollBarSize = 0;
  std::unique_ptr<TIVScrollProperties> FScrollBars;
  TSizeGripStyle FSizeGrip = sgAuto;
  bool FScrollLock = false;
  std::unique_ptr<TCustomRangeBar> FHScroll;
  std::unique_ptr<TCustomRangeBar> FVScroll;
  TBitmap32 FGrip;  // the grip square as shown
};

class TImgView32 : public TCustomImgView32 {
 public:
  using TCustomImgView32::TCustomImgView32;
  const char* ClassName() const override { return "TImgView32"; }
};

}  // namespace raster
