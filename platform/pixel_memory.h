// Pixel memory for the raster engine's bitmaps straight from the operating system. A 24-megapixel
// picture is 96 MB; taken from the C heap, each of its 4 KiB pages costs a fault and a zero fill
// when first written and an unmap when freed, which together cost more than resampling the
// picture. Large blocks are therefore mapped on huge-page boundaries with huge pages asked for,
// and a few released blocks are kept and handed out again, so that rebuilding a bitmap of about
// the same size (the overlay zoom) finds memory that is already there.
#pragma once

#include <cstddef>
#include <mutex>
#include <vector>

#include "raster/core.h"

namespace platform {

class TMappedPixelAllocator : public raster::TPixelAllocator {
 public:
  // Blocks from this size up are mapped; smaller ones come from the C heap.
  static constexpr std::size_t MappedThreshold = std::size_t(4) << 20;
  // Released mapped blocks kept for reuse: at most this many, holding at most this many bytes.
  static constexpr std::size_t CachedBlockLimit = 2;
  static constexpr std::size_t CachedByteLimit = std::size_t(768) << 20;

  TMappedPixelAllocator();
  ~TMappedPixelAllocator() override;
  TMappedPixelAllocator(const TMappedPixelAllocator&) = delete;
  TMappedPixelAllocator& operator=(const TMappedPixelAllocator&) = delete;

  void* Allocate(std::size_t Bytes, bool Zeroed) override;
  void Release(void* Block, std::size_t Bytes) noexcept override;

  // Unmaps the kept blocks (a program may call this when it goes idle). The cache keeps its
  // reserved storage, so Release never allocates.
  void Trim();
  // Whether released blocks are kept (the default: a window rebuilds bitmaps of one size again
  // and again). A tool that makes each picture-sized bitmap once (tessaly-report, tessaly-dicom)
  // gives them back at once instead, so that kept blocks do not add to its peak.
  void SetKeepReleased(bool Keep);
  std::size_t CachedBlocks() const;
  std::size_t CachedBytes() const;

 private:
  struct TMapping {
    char* Start = nullptr;
    std::size_t Length = 0;
  };
  static TMapping Map(std::size_t Bytes);
  static void Unmap(const TMapping& Mapping) noexcept;

  mutable std::mutex FLock;
  std::vector<TMapping> FCache;  // the most recently released last
  bool FKeepReleased = true;
};

// One process-wide allocator, installed as the engine's pixel allocator (raster::SetPixelAllocator)
// on the first call and never destroyed, since bitmaps in static storage release into it while
// the program exits. Programs and benchmarks call this before they make their first bitmap.
TMappedPixelAllocator& InstallMappedPixelAllocator();

}  // namespace platform
