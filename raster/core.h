// Colour and geometry value types, the change-notification base classes and TBitmap32,
// the pixel surface of the whole raster engine.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>

namespace raster {

// ---------------------------------------------------------------------------------------
// Colour

// 0xAARRGGBB; in memory the bytes B, G, R, A. Alpha 255 is opaque, 0 transparent.
using TColor32 = std::uint32_t;
using PColor32 = TColor32*;
// A platform colour 0x00BBGGRR (red in the low byte).
using TWinColor = std::uint32_t;

constexpr TColor32 clBlack32 = 0xFF000000u;
constexpr TColor32 clWhite32 = 0xFFFFFFFFu;

// A platform colour with the high byte set names a system colour; these resolve it.
TWinColor ResolveSystemColor(TWinColor Color);
TColor32 Color32(TWinColor WinColor);
constexpr TColor32 Color32(std::uint8_t R, std::uint8_t G, std::uint8_t B, std::uint8_t A = 255) {
  return (TColor32(A) << 24) | (TColor32(R) << 16) | (TColor32(G) << 8) | TColor32(B);
}
inline TColor32 Color32(std::uint8_t Index, const TColor32 (&Palette)[256]) {
  return Palette[Index];
}
constexpr TColor32 Gray32(std::uint8_t Intensity, std::uint8_t Alpha = 255) {
  return (TColor32(Alpha) << 24) | (TColor32(Intensity) * 0x010101u);
}
constexpr TWinColor WinColor(TColor32 Color32) {
  return ((Color32 & 0xFFu) << 16) | (Color32 & 0xFF00u) | ((Color32 >> 16) & 0xFFu);
}
constexpr int RedComponent(TColor32 C) {
  return int((C >> 16) & 0xFF);
}
constexpr int GreenComponent(TColor32 C) {
  return int((C >> 8) & 0xFF);
}
constexpr int BlueComponent(TColor32 C) {
  return int(C & 0xFF);
}
constexpr int AlphaComponent(TColor32 C) {
  return int(C >> 24);
}
constexpr int Intensity(TColor32 C) {
  return (RedComponent(C) * 61 + GreenComponent(C) * 174 + BlueComponent(C) * 21) >> 8;
}
constexpr TColor32 SetAlpha(TColor32 Color, int NewAlpha) {
  if (NewAlpha < 0) NewAlpha = 0;
  if (NewAlpha > 255) NewAlpha = 255;
  return (Color & 0x00FFFFFFu) | (TColor32(NewAlpha) << 24);
}

// ---------------------------------------------------------------------------------------
// Fixed point: TFixed is signed 16.16 (one unit is 65536).

using TFixed = std::int32_t;
constexpr TFixed FixedOne = 0x10000;
constexpr TFixed FixedHalf = 0x8000;

TFixed Fixed(float S);  // round to nearest (ties to even) of S * 65536
constexpr TFixed Fixed(int S) {
  return TFixed(std::uint32_t(S) << 16);
}
constexpr int FixedFloor(TFixed A) {
  return A >> 16;
}
constexpr int FixedCeil(TFixed A) {
  return int((std::int64_t(A) + 0xFFFF) >> 16);
}
// 0x7FFF, not 0x8000: an exact half rounds down.
constexpr int FixedRound(TFixed A) {
  return int((std::int64_t(A) + 0x7FFF) >> 16);
}
TFixed FixedMul(TFixed A, TFixed B);
TFixed FixedDiv(TFixed A, TFixed B);

// ---------------------------------------------------------------------------------------
// Geometry. Integer rectangles have exclusive Right and Bottom edges for pixel coverage.

struct TPoint {
  std::int32_t X = 0, Y = 0;
  friend bool operator==(const TPoint&, const TPoint&) = default;
};
struct TRect {
  std::int32_t Left = 0, Top = 0, Right = 0, Bottom = 0;
  std::int32_t Width() const { return Right - Left; }
  std::int32_t Height() const { return Bottom - Top; }
  friend bool operator==(const TRect&, const TRect&) = default;
};
struct TFloatPoint {
  float X = 0, Y = 0;
  friend bool operator==(const TFloatPoint&, const TFloatPoint&) = default;
};
struct TFloatRect {
  float Left = 0, Top = 0, Right = 0, Bottom = 0;
  friend bool operator==(const TFloatRect&, const TFloatRect&) = default;
};
struct TFixedPoint {
  TFixed X = 0, Y = 0;
  friend bool operator==(const TFixedPoint&, const TFixedPoint&) = default;
};
struct TFixedRect {
  TFixed Left = 0, Top = 0, Right = 0, Bottom = 0;
  friend bool operator==(const TFixedRect&, const TFixedRect&) = default;
};

enum TRectRounding { rrClosest, rrOutside, rrInside };

constexpr TPoint Point(std::int32_t X, std::int32_t Y) {
  return {X, Y};
}
TPoint Point(const TFloatPoint& P);  // rounds to nearest
TPoint Point(const TFixedPoint& P);  // FixedRound
constexpr TFloatPoint FloatPoint(float X, float Y) {
  return {X, Y};
}
constexpr TFloatPoint FloatPoint(const TPoint& P) {
  return {float(P.X), float(P.Y)};
}
TFloatPoint FloatPoint(const TFixedPoint& P);
constexpr TFixedPoint FixedPoint(std::int32_t X, std::int32_t Y) {
  return {Fixed(X), Fixed(Y)};
}
TFixedPoint FixedPoint(float X, float Y);
TFixedPoint FixedPoint(const TFloatPoint& P);
constexpr TRect MakeRect(std::int32_t L, std::int32_t T, std::int32_t R, std::int32_t B) {
  return {L, T, R, B};
}
TRect MakeRect(const TFloatRect& FR, TRectRounding Rounding = rrClosest);
inline TRect sMakeRect(const TFloatRect& FR, TRectRounding Rounding = rrClosest) {
  return MakeRect(FR, Rounding);
}
TRect MakeRect(const TFixedRect& FXR, TRectRounding Rounding = rrClosest);
constexpr TFloatRect FloatRect(float L, float T, float R, float B) {
  return {L, T, R, B};
}
constexpr TFloatRect FloatRect(const TRect& R) {
  return {float(R.Left), float(R.Top), float(R.Right), float(R.Bottom)};
}
TFloatRect FloatRect(const TFixedRect& FXR);

bool IntersectRect(TRect& Dst, const TRect& R1, const TRect& R2);
bool IntersectRectF(TFloatRect& Dst, const TFloatRect& R1, const TFloatRect& R2);
constexpr bool IsRectEmpty(const TRect& R) {
  return !(R.Left < R.Right && R.Top < R.Bottom);
}
constexpr bool IsRectEmptyF(const TFloatRect& R) {
  return !(R.Left < R.Right && R.Top < R.Bottom);
}
constexpr bool PtInRect(const TRect& R, const TPoint& P) {
  return R.Left <= P.X && P.X < R.Right && R.Top <= P.Y && P.Y < R.Bottom;
}
void OffsetRect(TRect& R, std::int32_t Dx, std::int32_t Dy);
void OffsetRectF(TFloatRect& R, float Dx, float Dy);
void InflateRect(TRect& R, std::int32_t Dx, std::int32_t Dy);
void InflateRectF(TFloatRect& R, float Dx, float Dy);
constexpr bool EqualRect(const TRect& R1, const TRect& R2) {
  return R1 == R2;
}

// ---------------------------------------------------------------------------------------
// Errors

// Resource and argument failures of the raster engine, raised with fixed English texts.
class ERasterError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};
class EBitmapError : public ERasterError {
 public:
  using ERasterError::ERasterError;
};
// A source that cannot be assigned to a destination ("Cannot assign a X to a Y").
class EConvertError : public ERasterError {
 public:
  using ERasterError::ERasterError;
};
// A programming error such as an unpaired EndUpdate; the text names the module.
class EAssertionFailed : public std::logic_error {
 public:
  using std::logic_error::logic_error;
};

// ---------------------------------------------------------------------------------------
// Object bases

class TObject {
 public:
  virtual ~TObject() = default;
  virtual const char* ClassName() const { return "TObject"; }
};

using TNotifyEvent = std::function<void(TObject* Sender)>;

class TPersistent : public TObject {
 public:
  const char* ClassName() const override { return "TPersistent"; }
  // Copies Source into this object; the base asks Source to assign itself to this, and
  // raises EConvertError when neither side knows how.
  virtual void Assign(const TPersistent* Source);

 protected:
  virtual void AssignTo(TPersistent* Dest) const;
  [[noreturn]] void AssignError(const TPersistent* Source) const;
};

// The lock every TThreadPersistent's LockCount is kept under.
std::recursive_mutex& ModuleLock();

class TThreadPersistent : public TPersistent {
 public:
  TThreadPersistent() = default;
  TThreadPersistent(const TThreadPersistent&) = delete;
  TThreadPersistent& operator=(const TThreadPersistent&) = delete;
  ~TThreadPersistent() override = default;
  const char* ClassName() const override { return "TThreadPersistent"; }

  // Fires OnChange when no update is in progress and a handler is set.
  virtual void Changed();
  void BeginUpdate();
  // Does not call Changed; callers that bracket a series of changes call it afterwards.
  void EndUpdate();
  void Lock();
  void Unlock();

  std::int32_t LockCount() const { return FLockCount; }
  std::int32_t UpdateCount() const { return FUpdateCount; }

  TNotifyEvent OnChange;

 protected:
  std::recursive_mutex FLock;
  std::int32_t FLockCount = 0;
  std::int32_t FUpdateCount = 0;
};

// Keeps an update bracket (BeginUpdate ... EndUpdate) closed whatever happens inside the scope,
// for a bitmap, a layer collection or anything else with the pair. Like EndUpdate it calls no
// Changed: the caller does that after the scope, where it wants the notification.
template <class T>
class TUpdateScope {
 public:
  explicit TUpdateScope(T& Object) : FObject(Object) { FObject.BeginUpdate(); }
  ~TUpdateScope() { FObject.EndUpdate(); }
  TUpdateScope(const TUpdateScope&) = delete;
  TUpdateScope& operator=(const TUpdateScope&) = delete;

 private:
  T& FObject;
};

// Holds an object's lock (Lock ... Unlock) for a scope.
class TLockScope {
 public:
  explicit TLockScope(TThreadPersistent& Object) : FObject(Object) { FObject.Lock(); }
  ~TLockScope() { FObject.Unlock(); }
  TLockScope(const TLockScope&) = delete;
  TLockScope& operator=(const TLockScope&) = delete;

 private:
  TThreadPersistent& FObject;
};

class TCustomMap : public TThreadPersistent {
 public:
  const char* ClassName() const override { return "TCustomMap"; }
  std::int32_t Width() const { return FWidth; }
  std::int32_t Height() const { return FHeight; }
  void SetWidth(std::int32_t NewWidth) { SetSize(NewWidth, FHeight); }
  void SetHeight(std::int32_t NewHeight) { SetSize(FWidth, NewHeight); }

  virtual void Delete() { SetSize(0, 0); }
  virtual bool Empty() const { return FWidth == 0 || FHeight == 0; }
  virtual void Resized();
  // Returns whether the size changed.
  virtual bool SetSize(std::int32_t NewWidth, std::int32_t NewHeight);

  TNotifyEvent OnResize;

 protected:
  std::int32_t FWidth = 0;
  std::int32_t FHeight = 0;
};

// dmDifference writes, per colour channel, the absolute difference of the source and the
// destination (|F - B| for red, green and blue) and keeps the destination's alpha: what has not
// changed between two aligned pictures turns black. Master alpha plays no part in it.
enum TDrawMode : std::uint8_t { dmOpaque = 0, dmBlend = 1, dmCustom = 2, dmDifference = 3 };
enum TStretchFilter : std::uint8_t { sfNearest = 0, sfLinear = 1, sfLinear2 = 2, sfSpline = 3 };

// Called with the foreground colour F, the background pixel B and the master alpha M;
// writes the combined colour into B.
using TPixelCombineEvent = std::function<void(TColor32 F, TColor32& B, TColor32 M)>;

class TBitmap32;

// Turns a picture file into a bitmap. Programs register the decoder that knows their picture
// formats (the overlay program registers its picture import); it returns false, leaving the
// target untouched, when the file gives no picture.
using TPictureDecoder = std::function<bool(const std::string& FileName, TBitmap32& Target)>;
void SetPictureDecoder(TPictureDecoder Decoder);

// The largest pixel count a bitmap may hold: 2^28 pixels is 1 GiB of TColor32.
constexpr std::int64_t MaxBitmapPixels = std::int64_t(1) << 28;

// Where bitmaps get their pixel memory. The built-in allocator uses the C heap (calloc for
// zeroed blocks, which hands large blocks over as fresh zero pages). A program may install one
// that knows the operating system's memory better (platform/pixel_memory.h does); the raster
// engine itself makes no system calls.
class TPixelAllocator {
 public:
  virtual ~TPixelAllocator() = default;
  // A block of at least Bytes bytes (Bytes > 0): every byte zero when Zeroed, any contents
  // otherwise. nullptr when the memory cannot be had.
  virtual void* Allocate(std::size_t Bytes, bool Zeroed) = 0;
  // Takes back a block that Allocate returned for the same Bytes.
  virtual void Release(void* Block, std::size_t Bytes) noexcept = 0;
};

// The allocator that new pixel blocks come from; nullptr restores the built-in one. A block
// always goes back to the allocator that made it, so an installed allocator must live as long
// as any bitmap it served.
void SetPixelAllocator(TPixelAllocator* Allocator);
TPixelAllocator& PixelAllocator();

class TBitmap32 : public TCustomMap {
 public:
  TBitmap32();
  ~TBitmap32() override;
  const char* ClassName() const override { return "TBitmap32"; }

  void Assign(const TPersistent* Source) override;
  // Size changes drop the pixel contents; a new buffer is all zero. Raises
  // "Can't allocate the DIB handle" (bitmap left empty, notifications fired) when the memory
  // cannot be had.
  bool SetSize(std::int32_t NewWidth, std::int32_t NewHeight) override;
  // SetSize for callers that write every pixel before any is read: a new buffer's contents
  // are left unspecified (it may hold pixels of an earlier bitmap), which spares filling it
  // with zeros. Return value, notifications and errors as SetSize.
  bool SetSizeForOverwrite(std::int32_t NewWidth, std::int32_t NewHeight);
  bool Empty() const override { return FBits == nullptr || FWidth == 0 || FHeight == 0; }
  void Delete() override { SetSize(0, 0); }

  void Clear() { Clear(clBlack32); }
  void Clear(TColor32 FillColor);
  void ResetAlpha();

  // Unchecked pixel access: callers guarantee 0 <= X < Width and 0 <= Y < Height.
  TColor32 GetPixel(std::int32_t X, std::int32_t Y) const { return FBits[Index(X, Y)]; }
  void SetPixel(std::int32_t X, std::int32_t Y, TColor32 Value) { FBits[Index(X, Y)] = Value; }
  TColor32* GetPixelPtr(std::int32_t X, std::int32_t Y) { return FBits + Index(X, Y); }
  const TColor32* GetPixelPtr(std::int32_t X, std::int32_t Y) const { return FBits + Index(X, Y); }
  TColor32* GetScanLine(std::int32_t Y) { return FBits + Index(0, Y); }
  const TColor32* GetScanLine(std::int32_t Y) const { return FBits + Index(0, Y); }
  // Checked access: reads outside give OuterColor, writes outside do nothing.
  TColor32 GetPixelS(std::int32_t X, std::int32_t Y) const {
    return InBounds(X, Y) ? FBits[Index(X, Y)] : FOuterColor;
  }
  void SetPixelS(std::int32_t X, std::int32_t Y, TColor32 Value) {
    if (InBounds(X, Y)) FBits[Index(X, Y)] = Value;
  }
  bool InBounds(std::int32_t X, std::int32_t Y) const {
    return X >= 0 && Y >= 0 && X < FWidth && Y < FHeight && FBits != nullptr;
  }

  // The flat, top-down, 32-byte-aligned pixel array; row Y starts at element Y * Width.
  TColor32* PixelBuffer() { return FBits; }
  const TColor32* PixelBuffer() const { return FBits; }
  TColor32* Bits() { return FBits; }
  const TColor32* Bits() const { return FBits; }
  TRect BoundsRect() const { return {0, 0, FWidth, FHeight}; }

  void FillRect(std::int32_t X1, std::int32_t Y1, std::int32_t X2, std::int32_t Y2, TColor32 Value);
  void FillRectS(std::int32_t X1, std::int32_t Y1, std::int32_t X2, std::int32_t Y2,
                 TColor32 Value);
  void FillRectS(const TRect& R, TColor32 Value) {
    FillRectS(R.Left, R.Top, R.Right, R.Bottom, Value);
  }

  TDrawMode DrawMode() const { return FDrawMode; }
  void SetDrawMode(TDrawMode Value);
  std::uint32_t MasterAlpha() const { return FMasterAlpha; }
  void SetMasterAlpha(std::uint32_t Value);
  TColor32 OuterColor() const { return FOuterColor; }
  void SetOuterColor(TColor32 Value) { FOuterColor = Value; }
  TStretchFilter StretchFilter() const { return FStretchFilter; }
  void SetStretchFilter(TStretchFilter Value);
  TColor32 PenColor() const { return FPenColor; }
  void SetPenColor(TColor32 Value) { FPenColor = Value; }
  float StippleStep() const { return FStippleStep; }
  void SetStippleStep(float Value) { FStippleStep = Value; }

  // Copies onto Dst (implemented with the block and stretch transfers); each does nothing
  // when this bitmap or Dst is empty and ends with Dst.Changed().
  void DrawTo(TBitmap32& Dst) const;
  void DrawTo(TBitmap32& Dst, std::int32_t DstX, std::int32_t DstY) const;
  void DrawTo(TBitmap32& Dst, const TRect& DstRect) const;
  void DrawTo(TBitmap32& Dst, const TRect& DstRect, const TRect& SrcRect) const;
  void Draw(std::int32_t DstX, std::int32_t DstY, const TBitmap32* Src);
  void Draw(const TRect& DstRect, const TRect& SrcRect, const TBitmap32* Src);

  // BMP file images (see raster/bmp.h for the formats read). Loading always ends in Changed,
  // also when decoding fails (the error then propagates and the bitmap is unchanged).
  void LoadFromStream(std::istream& Stream);
  void SaveToStream(std::ostream& Stream) const;
  // Through the registered picture decoder; without one, the file is read as a BMP.
  void LoadFromFile(const std::string& FileName);
  void SaveToFile(const std::string& FileName) const;

  // Form streaming of the pixels: 32-bit Width, 32-bit Height, then the pixels (little-endian,
  // top row first).
  void ReadData(std::istream& Stream);
  void WriteData(std::ostream& Stream) const;

  // Takes over the pixels of Source, which is left empty, without copying them.
  void TakeOver(TBitmap32& Source);

  virtual void HandleChanged();

  TNotifyEvent OnHandleChanged;
  TPixelCombineEvent OnPixelCombine;

 private:
  std::size_t Index(std::int32_t X, std::int32_t Y) const {
    return std::size_t(Y) * std::size_t(FWidth) + std::size_t(X);
  }
  void ReleasePixels();
  // The parts of Assign and ReadData inside their closing notifications.
  void AssignBody(const TPersistent* Source);
  void ReadPixels(std::istream& Stream);
  bool Reallocate(std::int32_t NewWidth, std::int32_t NewHeight, bool Zeroed);

  TColor32* FBits = nullptr;
  void* FAllocation = nullptr;  // what was allocated; FBits is it aligned to 32 bytes
  std::size_t FAllocationBytes = 0;
  TPixelAllocator* FAllocator = nullptr;  // the one FAllocation goes back to
  TDrawMode FDrawMode = dmOpaque;
  std::uint32_t FMasterAlpha = 255;
  TColor32 FOuterColor = 0;
  TColor32 FPenColor = 0xFFFFFFFFu;
  float FStippleStep = 1.0f;
  TStretchFilter FStretchFilter = sfNearest;
};

// The gamma table used by antialiased text: entry i is round(255 * Gamma ^ (i / 255)).
extern std::uint8_t GAMMA_TABLE[256];
void SetGamma(double Gamma = 0.7);

}  // namespace raster
