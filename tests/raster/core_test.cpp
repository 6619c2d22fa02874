#include "raster/core.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <vector>

namespace raster {
namespace {

struct ChangeCounter {
  int changes = 0, resizes = 0, handles = 0;
  std::string order;
  void Attach(TBitmap32& B) {
    B.OnChange = [this](TObject*) {
      ++changes;
      order += 'C';
    };
    B.OnResize = [this](TObject*) {
      ++resizes;
      order += 'R';
    };
    B.OnHandleChanged = [this](TObject*) {
      ++handles;
      order += 'H';
    };
  }
};

TEST(ColorTest, ComponentsAndConstructors) {
  EXPECT_EQ(Color32(0x12, 0x34, 0x56, 0x78), 0x78123456u);
  EXPECT_EQ(Gray32(0x40, 0x80), 0x80404040u);
  EXPECT_EQ(WinColor(0xFF123456u), 0x00563412u);
  EXPECT_EQ(Color32(TWinColor(0x00563412u)), 0xFF123456u);
  EXPECT_EQ(Intensity(0xFFFFFFFFu), 255);
  EXPECT_EQ(Intensity(0xFF000000u), 0);
  EXPECT_EQ(SetAlpha(0x11223344u, -3), 0x00223344u);
  EXPECT_EQ(SetAlpha(0x11223344u, 300), 0xFF223344u);
  EXPECT_EQ(SetAlpha(0x11223344u, 0x80), 0x80223344u);
  TColor32 palette[256] = {};
  palette[7] = 0xDEADBEEFu;
  EXPECT_EQ(Color32(7, palette), 0xDEADBEEFu);
}

TEST(FixedTest, RoundingIsExactAtHalves) {
  EXPECT_EQ(FixedRound(0x8000), 0);  // an exact half rounds down
  EXPECT_EQ(FixedRound(0x8001), 1);
  EXPECT_EQ(FixedRound(-0x8000), -1);  // -0.5 rounds down too
  EXPECT_EQ(FixedFloor(-1), -1);
  EXPECT_EQ(FixedCeil(1), 1);
  EXPECT_EQ(FixedCeil(0x10000), 1);
  EXPECT_EQ(Fixed(1.5f), 0x18000);
  EXPECT_EQ(Fixed(3), 0x30000);
  EXPECT_EQ(FixedMul(Fixed(3), Fixed(0.5f)), Fixed(1.5f));
  EXPECT_EQ(FixedDiv(Fixed(3), Fixed(2)), Fixed(1.5f));
}

TEST(GeometryTest, RectFunctions) {
  TRect r;
  EXPECT_TRUE(IntersectRect(r, {0, 0, 10, 10}, {10, 2, 20, 5}));  // zero width still true
  EXPECT_EQ(r, (TRect{10, 2, 10, 5}));
  EXPECT_FALSE(IntersectRect(r, {0, 0, 10, 10}, {11, 2, 20, 5}));
  EXPECT_EQ(r, TRect{});
  EXPECT_TRUE(IsRectEmpty({5, 5, 5, 9}));
  EXPECT_FALSE(IsRectEmpty({5, 5, 6, 9}));
  EXPECT_TRUE(PtInRect({0, 0, 2, 2}, {1, 1}));
  EXPECT_FALSE(PtInRect({0, 0, 2, 2}, {2, 1}));
  TRect g{1, 2, 3, 4};
  InflateRect(g, 1, 2);
  EXPECT_EQ(g, (TRect{0, 0, 4, 6}));
  OffsetRect(g, 5, -1);
  EXPECT_EQ(g, (TRect{5, -1, 9, 5}));

  // Ties go to even with rrClosest.
  EXPECT_EQ(MakeRect(FloatRect(0.5f, 1.5f, 2.5f, 3.49f), rrClosest), (TRect{0, 2, 2, 3}));
  EXPECT_EQ(MakeRect(FloatRect(0.2f, 0.8f, 2.2f, 3.8f), rrOutside), (TRect{0, 0, 3, 4}));
  EXPECT_EQ(MakeRect(FloatRect(0.2f, 0.8f, 0.7f, 3.8f), rrInside), (TRect{1, 1, 1, 3}));
}

TEST(BitmapTest, SetSizeRules) {
  TBitmap32 b;
  ChangeCounter c;
  c.Attach(b);
  EXPECT_TRUE(b.SetSize(-5, 10));
  EXPECT_EQ(b.Width(), 0);
  EXPECT_EQ(b.Height(), 10);
  EXPECT_TRUE(b.Empty());
  EXPECT_EQ(b.PixelBuffer(), nullptr);
  EXPECT_EQ(c.order, "HCR");

  c.order.clear();
  EXPECT_TRUE(b.SetSize(3, 2));
  EXPECT_EQ(c.order, "HCR");
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(b.PixelBuffer()) % 32, 0u);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) EXPECT_EQ(b.GetPixel(x, y), 0u);

  c.order.clear();
  EXPECT_FALSE(b.SetSize(3, 2));
  EXPECT_EQ(c.order, "");
}

TEST(BitmapTest, AllocationFailureLeavesBitmapEmptyAfterNotifying) {
  TBitmap32 b;
  b.SetSize(4, 4);
  ChangeCounter c;
  c.Attach(b);
  try {
    b.SetSize(1 << 20, 1 << 20);  // 4 TiB
    FAIL() << "no exception";
  } catch (const EBitmapError& e) {
    EXPECT_STREQ(e.what(), "Can't allocate the DIB handle");
  }
  EXPECT_EQ(c.order, "HCR");
  EXPECT_EQ(b.Width(), 0);
  EXPECT_EQ(b.Height(), 0);
  EXPECT_TRUE(b.Empty());
  EXPECT_NO_THROW(b.SetSize(2, 2));
}

// Records what bitmaps ask of the pixel memory and serves it from the C heap, filling blocks
// not asked to be zeroed with a pattern, as reused memory would be.
class TRecordingAllocator : public TPixelAllocator {
 public:
  void* Allocate(std::size_t Bytes, bool Zeroed) override {
    Requests.push_back({Bytes, Zeroed});
    if (Fail) return nullptr;
    void* block = std::malloc(Bytes);
    std::memset(block, Zeroed ? 0 : 0xA5, Bytes);
    ++Live;
    return block;
  }
  void Release(void* Block, std::size_t Bytes) noexcept override {
    Released.push_back(Bytes);
    --Live;
    std::free(Block);
  }
  struct TRequest {
    std::size_t Bytes;
    bool Zeroed;
  };
  std::vector<TRequest> Requests;
  std::vector<std::size_t> Released;
  int Live = 0;
  bool Fail = false;
};

// Installs an allocator for one scope.
struct TAllocatorScope {
  explicit TAllocatorScope(TPixelAllocator* A) { SetPixelAllocator(A); }
  ~TAllocatorScope() { SetPixelAllocator(nullptr); }
};

TEST(BitmapTest, PixelMemoryComesFromTheInstalledAllocator) {
  TRecordingAllocator recorder;
  {
    TAllocatorScope scope(&recorder);
    EXPECT_EQ(&PixelAllocator(), &recorder);
    TBitmap32 b;
    b.SetSize(3, 2);
    ASSERT_EQ(recorder.Requests.size(), 1u);
    EXPECT_TRUE(recorder.Requests[0].Zeroed);
    EXPECT_GE(recorder.Requests[0].Bytes, 3u * 2u * 4u);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(b.PixelBuffer()) % 32, 0u);
    EXPECT_EQ(b.GetPixel(2, 1), 0u);
    b.SetSize(0, 0);
    EXPECT_EQ(recorder.Released.size(), 1u);
    EXPECT_EQ(recorder.Released[0], recorder.Requests[0].Bytes);
    EXPECT_EQ(recorder.Live, 0);
  }
  EXPECT_NE(&PixelAllocator(), &recorder);
}

TEST(BitmapTest, SetSizeForOverwriteSkipsTheZeroFill) {
  TRecordingAllocator recorder;
  TAllocatorScope scope(&recorder);
  TBitmap32 b;
  ChangeCounter c;
  c.Attach(b);
  EXPECT_TRUE(b.SetSizeForOverwrite(4, 3));
  EXPECT_EQ(c.order, "HCR");
  ASSERT_EQ(recorder.Requests.size(), 1u);
  EXPECT_FALSE(recorder.Requests[0].Zeroed);
  EXPECT_EQ(b.Width(), 4);
  EXPECT_EQ(b.Height(), 3);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(b.PixelBuffer()) % 32, 0u);
  // The same size keeps the pixels, and says so, like SetSize.
  b.SetPixel(1, 1, 0x11223344u);
  c.order.clear();
  EXPECT_FALSE(b.SetSizeForOverwrite(4, 3));
  EXPECT_EQ(c.order, "");
  EXPECT_EQ(b.GetPixel(1, 1), 0x11223344u);
  // SetSize after it still hands out zeros.
  EXPECT_TRUE(b.SetSize(5, 3));
  EXPECT_TRUE(recorder.Requests.back().Zeroed);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) EXPECT_EQ(b.GetPixel(x, y), 0u);
  EXPECT_TRUE(b.SetSizeForOverwrite(-1, 7));
  EXPECT_TRUE(b.Empty());
  EXPECT_EQ(recorder.Live, 0);
}

TEST(BitmapTest, PixelMemoryGoesBackWhereItCameFrom) {
  TRecordingAllocator first, second;
  TBitmap32 a, b;
  {
    TAllocatorScope scope(&first);
    a.SetSize(2, 2);
  }
  {
    TAllocatorScope scope(&second);
    b.SetSize(3, 3);
    // a's block came from the first allocator and returns to it, whatever is installed now.
    a.SetSize(1, 1);
    EXPECT_EQ(first.Live, 0);
    EXPECT_EQ(second.Live, 2);
    // Taking over pixels takes over where they go back to.
    TBitmap32 c;
    c.TakeOver(b);
    EXPECT_EQ(second.Live, 2);
  }
  EXPECT_EQ(second.Live, 1);  // c is gone; a's 1 x 1 remains
  a.SetSize(0, 0);
  EXPECT_EQ(second.Live, 0);
  EXPECT_EQ(first.Live, 0);
}

TEST(BitmapTest, AllocatorWithoutMemoryFailsLikeAnyAllocation) {
  TRecordingAllocator recorder;
  TAllocatorScope scope(&recorder);
  TBitmap32 b;
  recorder.Fail = true;
  ChangeCounter c;
  c.Attach(b);
  EXPECT_THROW(b.SetSizeForOverwrite(8, 8), EBitmapError);
  EXPECT_EQ(c.order, "HCR");
  EXPECT_TRUE(b.Empty());
  EXPECT_EQ(b.Width(), 0);
}

TEST(BitmapTest, ClearFillAndAlpha) {
  TBitmap32 b;
  ChangeCounter c;
  c.Attach(b);
  b.Clear(0x12345678u);  // empty: neither writes nor notifies
  EXPECT_EQ(c.changes, 0);
  b.SetSize(5, 3);
  c.changes = 0;
  b.Clear();
  EXPECT_EQ(c.changes, 1);
  EXPECT_EQ(b.GetPixel(4, 2), 0xFF000000u);
  b.Clear(0x00112233u);
  b.ResetAlpha();
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) ASSERT_EQ(b.GetPixel(x, y), 0xFF112233u);

  b.Clear(0);
  c.changes = 0;
  b.FillRectS(-2, 1, 3, 10, 0xAABBCCDDu);
  EXPECT_EQ(c.changes, 1);
  EXPECT_EQ(b.GetPixel(0, 1), 0xAABBCCDDu);
  EXPECT_EQ(b.GetPixel(2, 2), 0xAABBCCDDu);
  EXPECT_EQ(b.GetPixel(3, 2), 0u);
  EXPECT_EQ(b.GetPixel(0, 0), 0u);
  b.FillRectS(5, 0, 9, 3, 1);  // X1 at Width: nothing, no notification
  b.FillRectS(0, 0, 0, 3, 1);
  b.FillRectS(-4, 0, 0, 3, 1);
  EXPECT_EQ(c.changes, 1);
}

TEST(BitmapTest, CheckedPixelAccess) {
  TBitmap32 b;
  b.SetSize(4, 3);
  b.Clear(0xFF010203u);
  EXPECT_EQ(b.GetPixelS(-1, 0), 0u);
  EXPECT_EQ(b.GetPixelS(4, 0), 0u);
  EXPECT_EQ(b.GetPixelS(0, 3), 0u);
  b.SetOuterColor(0x80FFFFFFu);
  EXPECT_EQ(b.GetPixelS(0, -1), 0x80FFFFFFu);
  EXPECT_EQ(b.GetPixelS(3, 2), 0xFF010203u);
  b.SetPixelS(4, 0, 7);
  b.SetPixelS(-1, 2, 7);
  b.SetPixelS(3, 2, 7);
  EXPECT_EQ(b.GetPixel(3, 2), 7u);
  EXPECT_EQ(b.GetScanLine(2) + 3, b.GetPixelPtr(3, 2));
  EXPECT_EQ(b.GetScanLine(1), b.PixelBuffer() + 4);
}

TEST(BitmapTest, PropertySettersNotifyOnlyOnRealChange) {
  TBitmap32 b;
  ChangeCounter c;
  c.Attach(b);
  b.SetMasterAlpha(255);
  b.SetDrawMode(dmOpaque);
  b.SetStretchFilter(sfNearest);
  EXPECT_EQ(c.changes, 0);
  b.SetMasterAlpha(120);
  EXPECT_EQ(c.changes, 1);
  b.SetMasterAlpha(120);
  b.SetDrawMode(dmBlend);
  b.SetStretchFilter(sfLinear);
  EXPECT_EQ(c.changes, 3);
}

TEST(BitmapTest, UpdateBracketsAndUnpairedEndUpdate) {
  TBitmap32 b;
  ChangeCounter c;
  c.Attach(b);
  b.BeginUpdate();
  b.SetSize(2, 2);
  b.Clear(1);
  b.SetMasterAlpha(3);
  EXPECT_EQ(c.changes, 0);
  b.EndUpdate();
  EXPECT_EQ(c.changes, 0);  // EndUpdate does not notify by itself
  b.Changed();
  EXPECT_EQ(c.changes, 1);
  try {
    b.EndUpdate();
    FAIL() << "no assertion";
  } catch (const EAssertionFailed& e) {
    EXPECT_NE(std::string(e.what()).find("Unpaired TThreadPersistent.EndUpdate"),
              std::string::npos);
    EXPECT_NE(std::string(e.what()).find("raster/core"), std::string::npos);
  }
}

TEST(BitmapTest, LockCounting) {
  TBitmap32 b;
  b.Lock();
  b.Lock();
  EXPECT_EQ(b.LockCount(), 2);
  b.Unlock();
  b.Unlock();
  EXPECT_EQ(b.LockCount(), 0);
}

TEST(BitmapTest, AssignCopiesPixelsAndDrawProperties) {
  TBitmap32 src;
  src.SetSize(3, 2);
  for (int i = 0; i < 6; ++i) src.PixelBuffer()[i] = 0x10203040u * TColor32(i + 1);
  src.SetDrawMode(dmBlend);
  src.SetMasterAlpha(77);
  src.SetOuterColor(0x01020304u);
  src.SetStretchFilter(sfLinear);
  src.OnChange = [](TObject*) {};

  TBitmap32 dst;
  ChangeCounter c;
  c.Attach(dst);
  dst.Assign(&src);
  EXPECT_EQ(dst.Width(), 3);
  EXPECT_EQ(dst.Height(), 2);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(dst.PixelBuffer()[i], src.PixelBuffer()[i]);
  EXPECT_EQ(dst.DrawMode(), dmBlend);
  EXPECT_EQ(dst.MasterAlpha(), 77u);
  EXPECT_EQ(dst.OuterColor(), 0x01020304u);
  EXPECT_EQ(dst.StretchFilter(), sfLinear);
  EXPECT_EQ(c.changes, 1);  // only the closing Changed, after EndUpdate
  EXPECT_EQ(dst.UpdateCount(), 0);

  dst.Assign(nullptr);
  EXPECT_TRUE(dst.Empty());
  EXPECT_EQ(dst.Width(), 0);

  TPersistent other;
  EXPECT_THROW(dst.Assign(&other), EConvertError);
  EXPECT_EQ(dst.UpdateCount(), 0);
}

TEST(BitmapTest, FormDataRoundTrip) {
  TBitmap32 src;
  src.SetSize(3, 2);
  for (int i = 0; i < 6; ++i) src.PixelBuffer()[i] = 0xA1B2C3D4u + TColor32(i);
  std::stringstream s;
  src.WriteData(s);
  EXPECT_EQ(s.str().size(), 8u + 24u);
  EXPECT_EQ(static_cast<unsigned char>(s.str()[8]), 0xD4);  // little-endian, top row first

  TBitmap32 dst;
  int changes = 0;
  dst.OnChange = [&](TObject*) { ++changes; };
  dst.ReadData(s);
  EXPECT_GE(changes, 1);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(dst.PixelBuffer()[i], src.PixelBuffer()[i]);

  std::stringstream truncated(s.str().substr(0, 20));
  changes = 0;
  EXPECT_THROW(dst.ReadData(truncated), EBitmapError);
  EXPECT_GE(changes, 1);  // notified also when reading fails
}

// Assign and ReadData notify whatever happens, and an exception from the OnChange handler
// reaches the caller (also one thrown while a failed allocation unwinds) instead of ending
// the program.
TEST(BitmapTest, ThrowingChangeHandlerReachesTheCaller) {
  struct EHandler : std::runtime_error {
    EHandler() : std::runtime_error("handler") {}
  };
  TBitmap32 src;
  src.SetSize(3, 2);
  src.Clear(0x11223344u);
  std::stringstream data;
  src.WriteData(data);

  TBitmap32 dst;
  int calls = 0;
  bool failing = true;
  const TNotifyEvent handler = [&](TObject*) {
    ++calls;
    if (failing) throw EHandler();
  };
  dst.OnChange = handler;
  EXPECT_THROW(dst.Assign(&src), EHandler);
  EXPECT_EQ(dst.UpdateCount(), 0);
  EXPECT_EQ(dst.GetPixel(2, 1), 0x11223344u);
  std::stringstream again(data.str());
  EXPECT_THROW(dst.ReadData(again), EHandler);

  // Failure paths: the pixel memory cannot be had, or the data ends early.
  TRecordingAllocator recorder;
  TAllocatorScope scope(&recorder);
  recorder.Fail = true;
  dst.OnChange = nullptr;
  dst.SetSize(0, 0);
  dst.OnChange = handler;
  EXPECT_THROW(dst.Assign(&src), EHandler);
  EXPECT_EQ(dst.UpdateCount(), 0);
  std::stringstream truncated(data.str().substr(0, 12));
  EXPECT_THROW(dst.ReadData(truncated), EHandler);

  failing = false;
  calls = 0;
  EXPECT_THROW(dst.Assign(&src), EBitmapError);
  EXPECT_EQ(calls, 1);  // the closing Changed, after EndUpdate
  EXPECT_EQ(dst.UpdateCount(), 0);
}

TEST(BitmapTest, TakeOverMovesPixelsWithoutCopy) {
  TBitmap32 a, b;
  a.SetSize(2, 2);
  a.Clear(0xFF00FF00u);
  const TColor32* bits = a.PixelBuffer();
  int resizes = 0;
  b.OnResize = [&](TObject*) { ++resizes; };
  b.TakeOver(a);
  EXPECT_EQ(b.PixelBuffer(), bits);
  EXPECT_EQ(b.GetPixel(1, 1), 0xFF00FF00u);
  EXPECT_TRUE(a.Empty());
  EXPECT_EQ(a.Width(), 0);
  EXPECT_EQ(resizes, 1);
}

TEST(GammaTest, TableFollowsFormula) {
  SetGamma(0.7);
  EXPECT_EQ(GAMMA_TABLE[0], 255);
  EXPECT_EQ(GAMMA_TABLE[255], 178);  // round(255 * 0.7) = round(178.5 - tiny)
}

}  // namespace
}  // namespace raster
