#include "platform/pixel_memory.h"

#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace platform {

namespace {

constexpr std::size_t HugePage = std::size_t(2) << 20;
// A mapping starts with its own length; the block handed out follows, 64 bytes in, so that it
// stays aligned for the vector code.
constexpr std::size_t Header = 64;

std::size_t RoundUp(std::size_t Value, std::size_t Unit) {
  return (Value + Unit - 1) / Unit * Unit;
}

// A kept block serves a request it exceeds by at most half the request: more would hold on to
// memory that the smaller bitmap never uses.
bool Fits(std::size_t Length, std::size_t Needed) {
  return Length >= Needed && Length - Needed <= Needed / 2;
}

}  // namespace

TMappedPixelAllocator::TMappedPixelAllocator() {
  FCache.reserve(CachedBlockLimit + 1);
}

TMappedPixelAllocator::~TMappedPixelAllocator() {
  Trim();
}

TMappedPixelAllocator::TMapping TMappedPixelAllocator::Map(std::size_t Bytes) {
  const std::size_t length = RoundUp(Bytes, HugePage);
  // One huge page more than needed, so that a start on a huge-page boundary lies inside; the
  // ends around it are given back at once.
  void* raw =
      mmap(nullptr, length + HugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) return {};
  char* const first = static_cast<char*>(raw);
  char* const start =
      reinterpret_cast<char*>(RoundUp(reinterpret_cast<std::uintptr_t>(first), HugePage));
  if (start != first) munmap(first, std::size_t(start - first));
  char* const end = start + length;
  if (end != first + length + HugePage) {
    munmap(end, std::size_t(first + length + HugePage - end));
  }
#ifdef MADV_HUGEPAGE
  // Only a request: without transparent huge pages the mapping works with small pages.
  madvise(start, length, MADV_HUGEPAGE);
#endif
  std::memcpy(start, &length, sizeof length);
  return {start, length};
}

void TMappedPixelAllocator::Unmap(const TMapping& Mapping) noexcept {
  munmap(Mapping.Start, Mapping.Length);
}

void* TMappedPixelAllocator::Allocate(std::size_t Bytes, bool Zeroed) {
  if (Bytes < MappedThreshold) return Zeroed ? std::calloc(Bytes, 1) : std::malloc(Bytes);
  const std::size_t needed = Bytes + Header;
  TMapping mapping;
  {
    std::lock_guard<std::mutex> lock(FLock);
    std::size_t best = FCache.size();
    for (std::size_t i = 0; i < FCache.size(); ++i) {
      if (Fits(FCache[i].Length, needed) &&
          (best == FCache.size() || FCache[i].Length < FCache[best].Length)) {
        best = i;
      }
    }
    if (best != FCache.size()) {
      mapping = FCache[best];
      FCache.erase(FCache.begin() + std::ptrdiff_t(best));
    }
  }
  if (mapping.Start != nullptr) {
    // A kept block holds the pixels of its last bitmap.
    if (Zeroed) std::memset(mapping.Start + Header, 0, Bytes);
    return mapping.Start + Header;
  }
  // Fresh anonymous memory reads as zero, asked for or not.
  mapping = Map(needed);
  if (mapping.Start == nullptr) {
    // The kept blocks may be what is missing.
    Trim();
    mapping = Map(needed);
    if (mapping.Start == nullptr) return nullptr;
  }
  return mapping.Start + Header;
}

void TMappedPixelAllocator::Release(void* Block, std::size_t Bytes) noexcept {
  if (Block == nullptr) return;
  if (Bytes < MappedThreshold) {
    std::free(Block);
    return;
  }
  TMapping mapping;
  mapping.Start = static_cast<char*>(Block) - Header;
  std::memcpy(&mapping.Length, mapping.Start, sizeof mapping.Length);
  bool keep = true;
  {
    std::lock_guard<std::mutex> lock(FLock);
    keep = FKeepReleased;
  }
  if (!keep || mapping.Length > CachedByteLimit) {
    Unmap(mapping);
    return;
  }
  {
    std::lock_guard<std::mutex> lock(FLock);
    // Within the capacity reserved by the constructor: this never allocates.
    FCache.push_back(mapping);
    std::size_t total = 0;
    for (const TMapping& m : FCache) total += m.Length;
    // The oldest go first.
    std::size_t drop = 0;
    while (FCache.size() - drop > CachedBlockLimit || total > CachedByteLimit) {
      total -= FCache[drop].Length;
      ++drop;
    }
    for (std::size_t i = 0; i < drop; ++i) Unmap(FCache[i]);
    FCache.erase(FCache.begin(), FCache.begin() + std::ptrdiff_t(drop));
  }
}

void TMappedPixelAllocator::Trim() {
  // Cleared, not swapped away: the vector keeps the capacity reserved by the constructor, so
  // that Release, which must not throw, still never allocates after a trim.
  std::lock_guard<std::mutex> lock(FLock);
  for (const TMapping& m : FCache) Unmap(m);
  FCache.clear();
}

void TMappedPixelAllocator::SetKeepReleased(bool Keep) {
  {
    std::lock_guard<std::mutex> lock(FLock);
    FKeepReleased = Keep;
  }
  if (!Keep) Trim();
}

std::size_t TMappedPixelAllocator::CachedBlocks() const {
  std::lock_guard<std::mutex> lock(FLock);
  return FCache.size();
}

std::size_t TMappedPixelAllocator::CachedBytes() const {
  std::lock_guard<std::mutex> lock(FLock);
  std::size_t total = 0;
  for (const TMapping& m : FCache) total += m.Length;
  return total;
}

TMappedPixelAllocator& InstallMappedPixelAllocator() {
  static TMappedPixelAllocator* const allocator = [] {
    auto* a = new TMappedPixelAllocator;
    raster::SetPixelAllocator(a);
    return a;
  }();
  return *allocator;
}

}  // namespace platform
