#include "raster/core.h"

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <utility>
#include <vector>

#include "raster/bmp.h"
#include "raster/lowlevel.h"

namespace raster {

// ---------------------------------------------------------------------------------------
// Colours

namespace {
// Default colours of the 31 system colour indices, as 0x00BBGGRR.
constexpr TWinColor SystemColors[31] = {
    0xC8C8C8, 0x000000, 0xD1B499, 0xDBCDBF, 0xF0F0F0, 0xFFFFFF, 0x646464, 0x000000,
    0x000000, 0x000000, 0xB4B4B4, 0xFCF7F4, 0xABABAB, 0xD77800, 0xFFFFFF, 0xF0F0F0,
    0xA0A0A0, 0x6D6D6D, 0x000000, 0x000000, 0xFFFFFF, 0x696969, 0xE3E3E3, 0x000000,
    0xE1FFFF, 0x000000, 0xCC6600, 0xEAD1B9, 0xF2E4D7, 0xD77800, 0xF0F0F0};
}  // namespace

TWinColor ResolveSystemColor(TWinColor Color) {
  if ((Color & 0xFF000000u) == 0xFF000000u) {
    const unsigned index = Color & 0xFFu;
    return index < 31 ? SystemColors[index] : 0;
  }
  return Color & 0x00FFFFFFu;
}

TColor32 Color32(TWinColor WinColor) {
  return ColorSwap(ResolveSystemColor(WinColor));
}

// ---------------------------------------------------------------------------------------
// Fixed point and geometry

TFixed Fixed(float S) {
  return TFixed(std::llrint(double(S) * 65536.0));
}
TFixed FixedMul(TFixed A, TFixed B) {
  return MulDiv(A, B, 65536);
}
TFixed FixedDiv(TFixed A, TFixed B) {
  return MulDiv(A, 65536, B);
}

TPoint Point(const TFloatPoint& P) {
  return {std::int32_t(std::lrint(P.X)), std::int32_t(std::lrint(P.Y))};
}
TPoint Point(const TFixedPoint& P) {
  return {FixedRound(P.X), FixedRound(P.Y)};
}
TFloatPoint FloatPoint(const TFixedPoint& P) {
  return {P.X / 65536.0f, P.Y / 65536.0f};
}
TFixedPoint FixedPoint(float X, float Y) {
  return {Fixed(X), Fixed(Y)};
}
TFixedPoint FixedPoint(const TFloatPoint& P) {
  return {Fixed(P.X), Fixed(P.Y)};
}

TRect MakeRect(const TFloatRect& FR, TRectRounding Rounding) {
  TRect R;
  switch (Rounding) {
    case rrClosest:  // to nearest, ties to even
      R = {std::int32_t(std::lrint(FR.Left)), std::int32_t(std::lrint(FR.Top)),
           std::int32_t(std::lrint(FR.Right)), std::int32_t(std::lrint(FR.Bottom))};
      break;
    case rrOutside:
      R = {std::int32_t(std::floor(FR.Left)), std::int32_t(std::floor(FR.Top)),
           std::int32_t(std::ceil(FR.Right)), std::int32_t(std::ceil(FR.Bottom))};
      break;
    case rrInside:
      R = {std::int32_t(std::ceil(FR.Left)), std::int32_t(std::ceil(FR.Top)),
           std::int32_t(std::floor(FR.Right)), std::int32_t(std::floor(FR.Bottom))};
      if (R.Right < R.Left) R.Right = R.Left;
      if (R.Bottom < R.Top) R.Bottom = R.Top;
      break;
  }
  return R;
}

TRect MakeRect(const TFixedRect& FXR, TRectRounding Rounding) {
  return MakeRect(FloatRect(FXR), Rounding);
}

TFloatRect FloatRect(const TFixedRect& FXR) {
  return {FXR.Left / 65536.0f, FXR.Top / 65536.0f, FXR.Right / 65536.0f, FXR.Bottom / 65536.0f};
}

namespace {

// The common part of R1 and R2 into Dst, or the zero rectangle into Dst and false when they
// have none; for whole and fractional rectangles alike.
template <class TAnyRect>
bool Intersect(TAnyRect& Dst, const TAnyRect& R1, const TAnyRect& R2) {
  TAnyRect R{std::max(R1.Left, R2.Left), std::max(R1.Top, R2.Top), std::min(R1.Right, R2.Right),
             std::min(R1.Bottom, R2.Bottom)};
  if (R.Right < R.Left || R.Bottom < R.Top) {
    Dst = TAnyRect{};
    return false;
  }
  Dst = R;
  return true;
}

}  // namespace

bool IntersectRect(TRect& Dst, const TRect& R1, const TRect& R2) {
  return Intersect(Dst, R1, R2);
}

bool IntersectRectF(TFloatRect& Dst, const TFloatRect& R1, const TFloatRect& R2) {
  return Intersect(Dst, R1, R2);
}

void OffsetRect(TRect& R, std::int32_t Dx, std::int32_t Dy) {
  R.Left += Dx;
  R.Right += Dx;
  R.Top += Dy;
  R.Bottom += Dy;
}
void OffsetRectF(TFloatRect& R, float Dx, float Dy) {
  R.Left += Dx;
  R.Right += Dx;
  R.Top += Dy;
  R.Bottom += Dy;
}
void InflateRect(TRect& R, std::int32_t Dx, std::int32_t Dy) {
  R.Left -= Dx;
  R.Right += Dx;
  R.Top -= Dy;
  R.Bottom += Dy;
}
void InflateRectF(TFloatRect& R, float Dx, float Dy) {
  R.Left -= Dx;
  R.Right += Dx;
  R.Top -= Dy;
  R.Bottom += Dy;
}

// ---------------------------------------------------------------------------------------
// Object bases

void TPersistent::Assign(const TPersistent* Source) {
  if (Source != nullptr) {
    Source->AssignTo(this);
    return;
  }
  AssignError(nullptr);
}

void TPersistent::AssignTo(TPersistent* Dest) const {
  Dest->AssignError(this);
}

void TPersistent::AssignError(const TPersistent* Source) const {
  const std::string name = Source != nullptr ? Source->ClassName() : "nil";
  throw EConvertError("Cannot assign a " + name + " to a " + ClassName());
}

std::recursive_mutex& ModuleLock() {
  static std::recursive_mutex lock;
  return lock;
}

void TThreadPersistent::Changed() {
  if (FUpdateCount == 0 && OnChange) OnChange(this);
}

void TThreadPersistent::BeginUpdate() {
  ++FUpdateCount;
}

void TThreadPersistent::EndUpdate() {
  if (FUpdateCount <= 0) {
    throw EAssertionFailed("Unpaired TThreadPersistent.EndUpdate (raster/core)");
  }
  --FUpdateCount;
}

void TThreadPersistent::Lock() {
  {
    std::lock_guard<std::recursive_mutex> guard(ModuleLock());
    ++FLockCount;
  }
  FLock.lock();
}

void TThreadPersistent::Unlock() {
  FLock.unlock();
  std::lock_guard<std::recursive_mutex> guard(ModuleLock());
  --FLockCount;
}

void TCustomMap::Resized() {
  if (OnResize) OnResize(this);
}

bool TCustomMap::SetSize(std::int32_t NewWidth, std::int32_t NewHeight) {
  if (NewWidth < 1) NewWidth = 0;
  if (NewHeight < 1) NewHeight = 0;
  if (NewWidth == FWidth && NewHeight == FHeight) return false;
  FWidth = NewWidth;
  FHeight = NewHeight;
  Changed();
  Resized();
  return true;
}

// ---------------------------------------------------------------------------------------
// TBitmap32

namespace {
TPictureDecoder& Decoder() {
  static TPictureDecoder decoder;
  return decoder;
}

// The start of the pixels is aligned to 32 bytes for the vector code.
constexpr std::size_t Alignment = 32;

class THeapPixelAllocator : public TPixelAllocator {
 public:
  void* Allocate(std::size_t Bytes, bool Zeroed) override {
    return Zeroed ? std::calloc(Bytes, 1) : std::malloc(Bytes);
  }
  void Release(void* Block, std::size_t) noexcept override { std::free(Block); }
};

TPixelAllocator& HeapPixelAllocator() {
  // Never destroyed: bitmaps in static storage give their memory back while the program exits.
  static TPixelAllocator* heap = new THeapPixelAllocator;
  return *heap;
}

std::atomic<TPixelAllocator*> installedPixelAllocator{nullptr};
}  // namespace

void SetPixelAllocator(TPixelAllocator* Allocator) {
  installedPixelAllocator.store(Allocator, std::memory_order_release);
}

TPixelAllocator& PixelAllocator() {
  TPixelAllocator* allocator = installedPixelAllocator.load(std::memory_order_acquire);
  return allocator != nullptr ? *allocator : HeapPixelAllocator();
}

void SetPictureDecoder(TPictureDecoder NewDecoder) {
  Decoder() = std::move(NewDecoder);
}

TBitmap32::TBitmap32() = default;

TBitmap32::~TBitmap32() {
  BeginUpdate();
  Lock();
  ReleasePixels();
  FWidth = 0;
  FHeight = 0;
  Unlock();
}

void TBitmap32::ReleasePixels() {
  if (FAllocation != nullptr) FAllocator->Release(FAllocation, FAllocationBytes);
  FAllocation = nullptr;
  FAllocationBytes = 0;
  FAllocator = nullptr;
  FBits = nullptr;
}

void TBitmap32::HandleChanged() {
  if (OnHandleChanged) OnHandleChanged(this);
}

bool TBitmap32::SetSize(std::int32_t NewWidth, std::int32_t NewHeight) {
  return Reallocate(NewWidth, NewHeight, true);
}

bool TBitmap32::SetSizeForOverwrite(std::int32_t NewWidth, std::int32_t NewHeight) {
  return Reallocate(NewWidth, NewHeight, false);
}

bool TBitmap32::Reallocate(std::int32_t NewWidth, std::int32_t NewHeight, bool Zeroed) {
  if (NewWidth < 1) NewWidth = 0;
  if (NewHeight < 1) NewHeight = 0;
  if (NewWidth == FWidth && NewHeight == FHeight) return false;

  ReleasePixels();
  FWidth = 0;
  FHeight = 0;

  bool failed = false;
  if (NewWidth > 0 && NewHeight > 0) {
    const std::int64_t pixels = std::int64_t(NewWidth) * std::int64_t(NewHeight);
    TPixelAllocator& allocator = PixelAllocator();
    const std::size_t bytes = std::size_t(pixels) * sizeof(TColor32) + Alignment;
    void* block = nullptr;
    if (pixels <= MaxBitmapPixels) block = allocator.Allocate(bytes, Zeroed);
    if (block == nullptr) {
      failed = true;
    } else {
      FAllocation = block;
      FAllocationBytes = bytes;
      FAllocator = &allocator;
      const std::uintptr_t address = reinterpret_cast<std::uintptr_t>(block);
      FBits = reinterpret_cast<TColor32*>((address + Alignment - 1) & ~(Alignment - 1));
    }
  }
  if (!failed) {
    FWidth = NewWidth;
    FHeight = NewHeight;
  }
  HandleChanged();
  Changed();
  Resized();
  if (failed) throw EBitmapError("Can't allocate the DIB handle");
  return true;
}

void TBitmap32::Clear(TColor32 FillColor) {
  if (Empty()) return;
  FillLongword(FBits, FWidth * FHeight, FillColor);
  Changed();
}

void TBitmap32::ResetAlpha() {
  if (!Empty()) {
    const std::size_t count = std::size_t(FWidth) * std::size_t(FHeight);
    for (std::size_t i = 0; i < count; ++i) FBits[i] |= 0xFF000000u;
  }
  Changed();
}

void TBitmap32::FillRect(std::int32_t X1, std::int32_t Y1, std::int32_t X2, std::int32_t Y2,
                         TColor32 Value) {
  for (std::int32_t y = Y1; y < Y2; ++y) FillLongword(GetPixelPtr(X1, y), X2 - X1, Value);
  Changed();
}

void TBitmap32::FillRectS(std::int32_t X1, std::int32_t Y1, std::int32_t X2, std::int32_t Y2,
                          TColor32 Value) {
  if (X2 <= X1 || Y2 <= Y1 || X1 >= FWidth || Y1 >= FHeight || X2 <= 0 || Y2 <= 0) return;
  if (X1 < 0) X1 = 0;
  if (Y1 < 0) Y1 = 0;
  if (X2 > FWidth) X2 = FWidth;
  if (Y2 > FHeight) Y2 = FHeight;
  FillRect(X1, Y1, X2, Y2, Value);
}

void TBitmap32::SetDrawMode(TDrawMode Value) {
  if (FDrawMode != Value) {
    FDrawMode = Value;
    Changed();
  }
}

void TBitmap32::SetMasterAlpha(std::uint32_t Value) {
  if (FMasterAlpha != Value) {
    FMasterAlpha = Value;
    Changed();
  }
}

void TBitmap32::SetStretchFilter(TStretchFilter Value) {
  if (FStretchFilter != Value) {
    FStretchFilter = Value;
    Changed();
  }
}

void TBitmap32::Assign(const TPersistent* Source) {
  // Whatever happens, EndUpdate and Changed close the bracket. Not from a destructor: the
  // OnChange handler may throw, and an exception leaving a destructor (or one thrown while
  // another unwinds) would end the program instead of reaching the caller.
  BeginUpdate();
  try {
    AssignBody(Source);
  } catch (...) {
    EndUpdate();
    Changed();
    throw;
  }
  EndUpdate();
  Changed();
}

void TBitmap32::AssignBody(const TPersistent* Source) {
  if (Source == nullptr) {
    SetSize(0, 0);
    return;
  }
  if (const auto* src = dynamic_cast<const TBitmap32*>(Source)) {
    if (src == this) return;
    SetSize(src->Width(), src->Height());
    if (!Empty()) {
      std::memcpy(FBits, src->FBits, std::size_t(FWidth) * std::size_t(FHeight) * sizeof(TColor32));
      FDrawMode = src->FDrawMode;
      FMasterAlpha = src->FMasterAlpha;
      FOuterColor = src->FOuterColor;
      FStretchFilter = src->FStretchFilter;
    }
    return;
  }
  TPersistent::Assign(Source);
}

void TBitmap32::TakeOver(TBitmap32& Source) {
  if (&Source == this) return;
  BeginUpdate();
  ReleasePixels();
  std::swap(FAllocation, Source.FAllocation);
  std::swap(FAllocationBytes, Source.FAllocationBytes);
  std::swap(FAllocator, Source.FAllocator);
  std::swap(FBits, Source.FBits);
  const bool resized = FWidth != Source.FWidth || FHeight != Source.FHeight;
  FWidth = Source.FWidth;
  FHeight = Source.FHeight;
  Source.FWidth = 0;
  Source.FHeight = 0;
  EndUpdate();
  HandleChanged();
  Changed();
  if (resized) Resized();
}

void TBitmap32::LoadFromStream(std::istream& Stream) {
  try {
    TBitmap32 decoded;
    bmp::Decode(Stream, decoded);
    TakeOver(decoded);
  } catch (...) {
    Changed();
    throw;
  }
}

void TBitmap32::SaveToStream(std::ostream& Stream) const {
  bmp::Encode(*this, Stream);
}

void TBitmap32::LoadFromFile(const std::string& FileName) {
  TBitmap32 decoded;
  if (const TPictureDecoder& decoder = Decoder()) {
    if (!decoder(FileName, decoded)) {
      throw EBitmapError("Cannot load the picture file " + FileName);
    }
  } else {
    std::ifstream file(FileName, std::ios::binary);
    if (!file) throw EBitmapError("Cannot open the file " + FileName);
    bmp::Decode(file, decoded);
  }
  TakeOver(decoded);
}

void TBitmap32::SaveToFile(const std::string& FileName) const {
  // Written beside the target first, so a failed write never leaves a half file behind.
  const std::string temporary = FileName + ".part";
  {
    std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
    if (!file) throw EBitmapError("Cannot create the file " + FileName);
    bmp::Encode(*this, file);
    file.flush();
    if (!file) {
      file.close();
      std::remove(temporary.c_str());
      throw EBitmapError("Cannot write the file " + FileName);
    }
  }
  if (std::rename(temporary.c_str(), FileName.c_str()) != 0) {
    std::remove(temporary.c_str());
    throw EBitmapError("Cannot write the file " + FileName);
  }
}

namespace {
void WriteInt32(std::ostream& Stream, std::int32_t Value) {
  const std::uint32_t v = std::uint32_t(Value);
  const char bytes[4] = {char(v & 0xFF), char((v >> 8) & 0xFF), char((v >> 16) & 0xFF),
                         char(v >> 24)};
  Stream.write(bytes, 4);
}
bool ReadInt32(std::istream& Stream, std::int32_t& Value) {
  unsigned char bytes[4];
  if (!Stream.read(reinterpret_cast<char*>(bytes), 4)) return false;
  Value = std::int32_t(std::uint32_t(bytes[0]) | (std::uint32_t(bytes[1]) << 8) |
                       (std::uint32_t(bytes[2]) << 16) | (std::uint32_t(bytes[3]) << 24));
  return true;
}
}  // namespace

void TBitmap32::WriteData(std::ostream& Stream) const {
  WriteInt32(Stream, FWidth);
  WriteInt32(Stream, FHeight);
  if (Empty()) return;
  std::vector<unsigned char> row(std::size_t(FWidth) * 4);
  for (std::int32_t y = 0; y < FHeight; ++y) {
    const TColor32* line = GetScanLine(y);
    for (std::int32_t x = 0; x < FWidth; ++x) {
      for (int b = 0; b < 4; ++b) row[std::size_t(x) * 4 + b] = (line[x] >> (8 * b)) & 0xFF;
    }
    Stream.write(reinterpret_cast<const char*>(row.data()), std::streamsize(row.size()));
  }
}

void TBitmap32::ReadData(std::istream& Stream) {
  // Changed also when reading fails; as in Assign, a throwing handler must reach the caller.
  try {
    ReadPixels(Stream);
  } catch (...) {
    Changed();
    throw;
  }
  Changed();
}

void TBitmap32::ReadPixels(std::istream& Stream) {
  std::int32_t w = 0, h = 0;
  if (!ReadInt32(Stream, w) || !ReadInt32(Stream, h)) {
    throw EBitmapError("Cannot read the bitmap data");
  }
  SetSize(w, h);
  if (Empty()) return;
  std::vector<unsigned char> row(std::size_t(FWidth) * 4);
  for (std::int32_t y = 0; y < FHeight; ++y) {
    if (!Stream.read(reinterpret_cast<char*>(row.data()), std::streamsize(row.size()))) {
      throw EBitmapError("Cannot read the bitmap data");
    }
    TColor32* line = GetScanLine(y);
    for (std::int32_t x = 0; x < FWidth; ++x) {
      const unsigned char* p = &row[std::size_t(x) * 4];
      line[x] =
          TColor32(p[0]) | (TColor32(p[1]) << 8) | (TColor32(p[2]) << 16) | (TColor32(p[3]) << 24);
    }
  }
}

// ---------------------------------------------------------------------------------------
// Module state

std::uint8_t GAMMA_TABLE[256];

void SetGamma(double Gamma) {
  for (int i = 0; i < 256; ++i) {
    GAMMA_TABLE[i] = std::uint8_t(std::lrint(255.0 * std::pow(Gamma, i / 255.0)));
  }
}

namespace {
struct CoreInit {
  CoreInit() {
    ModuleLock();
    SetGamma(0.7);
  }
} core_init;
}  // namespace

}  // namespace raster
