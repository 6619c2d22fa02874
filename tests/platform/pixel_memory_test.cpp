#include "platform/pixel_memory.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include "raster/core.h"

// Every allocation through operator new in this program is counted, so that a test can tell
// whether a call allocated at all (Release is noexcept: one that allocates ends the program
// when memory runs out).
namespace {
std::atomic<long> gNewCalls{0};
}  // namespace

void* operator new(std::size_t Bytes) {
  gNewCalls.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(Bytes != 0 ? Bytes : 1)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t Bytes) {
  return ::operator new(Bytes);
}
void operator delete(void* Block) noexcept {
  std::free(Block);
}
void operator delete[](void* Block) noexcept {
  std::free(Block);
}
void operator delete(void* Block, std::size_t) noexcept {
  std::free(Block);
}
void operator delete[](void* Block, std::size_t) noexcept {
  std::free(Block);
}

namespace platform {
namespace {

constexpr std::size_t Large = TMappedPixelAllocator::MappedThreshold + 12345;

bool AllZero(const void* Block, std::size_t Bytes) {
  const auto* p = static_cast<const unsigned char*>(Block);
  for (std::size_t i = 0; i < Bytes; ++i)
    if (p[i] != 0) return false;
  return true;
}

TEST(MappedPixelAllocator, SmallBlocksComeFromTheHeap) {
  TMappedPixelAllocator a;
  void* block = a.Allocate(1000, true);
  ASSERT_NE(block, nullptr);
  EXPECT_TRUE(AllZero(block, 1000));
  a.Release(block, 1000);
  EXPECT_EQ(a.CachedBlocks(), 0u);
}

TEST(MappedPixelAllocator, LargeBlocksAreAlignedZeroedAndKeptForReuse) {
  TMappedPixelAllocator a;
  void* block = a.Allocate(Large, true);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % 64, 0u);
  EXPECT_TRUE(AllZero(block, Large));
  std::memset(block, 0x5A, Large);
  a.Release(block, Large);
  EXPECT_EQ(a.CachedBlocks(), 1u);
  EXPECT_GE(a.CachedBytes(), Large);

  // Asked for zeros, the kept block comes back cleared.
  void* again = a.Allocate(Large, true);
  EXPECT_EQ(again, block);
  EXPECT_EQ(a.CachedBlocks(), 0u);
  EXPECT_TRUE(AllZero(again, Large));
  std::memset(again, 0x5A, Large);
  a.Release(again, Large);

  // For overwriting, it comes back as it was, a little smaller request included.
  void* reused = a.Allocate(Large - 4096, false);
  EXPECT_EQ(reused, block);
  EXPECT_EQ(static_cast<unsigned char*>(reused)[100], 0x5A);
  a.Release(reused, Large - 4096);
  EXPECT_EQ(a.CachedBlocks(), 1u);

  // A tool's allocator keeps nothing: the kept block goes at once, and the next release too.
  a.SetKeepReleased(false);
  EXPECT_EQ(a.CachedBlocks(), 0u);
  a.Release(a.Allocate(Large, false), Large);
  EXPECT_EQ(a.CachedBlocks(), 0u);
}

TEST(MappedPixelAllocator, AKeptBlockFarTooLargeIsNotUsed) {
  TMappedPixelAllocator a;
  const std::size_t big = 4 * Large;
  void* block = a.Allocate(big, false);
  ASSERT_NE(block, nullptr);
  a.Release(block, big);
  void* small = a.Allocate(Large, true);
  ASSERT_NE(small, nullptr);
  EXPECT_NE(small, block);
  EXPECT_TRUE(AllZero(small, Large));
  EXPECT_EQ(a.CachedBlocks(), 1u);
  a.Release(small, Large);
  EXPECT_EQ(a.CachedBlocks(), 2u);
}

TEST(MappedPixelAllocator, KeepsFewBlocksAndTrims) {
  TMappedPixelAllocator a;
  void* blocks[3];
  for (void*& b : blocks) {
    b = a.Allocate(Large, false);
    ASSERT_NE(b, nullptr);
  }
  for (void* b : blocks) a.Release(b, Large);
  EXPECT_EQ(a.CachedBlocks(), TMappedPixelAllocator::CachedBlockLimit);
  // The oldest was given back; one of the two kept ones comes out again.
  void* reused = a.Allocate(Large, false);
  EXPECT_TRUE(reused == blocks[1] || reused == blocks[2]);
  a.Release(reused, Large);
  a.Trim();
  EXPECT_EQ(a.CachedBlocks(), 0u);
  EXPECT_EQ(a.CachedBytes(), 0u);
}

// Trim (also the one that Allocate runs when mapping fails) must leave the cache's storage in
// place: the Release calls after it, more than the cache keeps, allocate nothing.
TEST(MappedPixelAllocator, ReleaseAfterTrimAllocatesNothing) {
  TMappedPixelAllocator a;
  void* blocks[TMappedPixelAllocator::CachedBlockLimit + 2];
  for (void*& b : blocks) {
    b = a.Allocate(Large, false);
    ASSERT_NE(b, nullptr);
  }
  a.Trim();
  const long before = gNewCalls.load();
  for (void* b : blocks) a.Release(b, Large);
  EXPECT_EQ(gNewCalls.load(), before);
  EXPECT_EQ(a.CachedBlocks(), TMappedPixelAllocator::CachedBlockLimit);
}

TEST(MappedPixelAllocator, BitmapsThroughItStillStartAtZero) {
  TMappedPixelAllocator a;
  raster::SetPixelAllocator(&a);
  {
    const std::int32_t w = 1200, h = 1000;  // above the mapping threshold
    raster::TBitmap32 b;
    b.SetSizeForOverwrite(w, h);
    b.Clear(0xFFFFFFFFu);
    const raster::TColor32* first = b.PixelBuffer();
    b.SetSize(0, 0);
    b.SetSize(w, h);
    EXPECT_EQ(b.PixelBuffer(), first);  // the same memory, cleared
    for (std::int32_t y = 0; y < h; y += 97)
      for (std::int32_t x = 0; x < w; x += 13) ASSERT_EQ(b.GetPixel(x, y), 0u);
    EXPECT_EQ(b.GetPixel(w - 1, h - 1), 0u);
  }
  raster::SetPixelAllocator(nullptr);
}

TEST(MappedPixelAllocator, InstalledOnceForTheProcess) {
  TMappedPixelAllocator& installed = InstallMappedPixelAllocator();
  EXPECT_EQ(&InstallMappedPixelAllocator(), &installed);
  EXPECT_EQ(&raster::PixelAllocator(), &installed);
  raster::SetPixelAllocator(nullptr);
}

}  // namespace
}  // namespace platform
