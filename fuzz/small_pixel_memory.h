// Pixel memory of a small machine for the picture targets: up to 8 MiB a bitmap. Larger
// pictures, which a few bytes of a header or a run-length code can ask for, take the engine's
// out-of-memory path instead of a gigabyte allocation each, so the fuzzer keeps its pace and
// that path is exercised as well.
#pragma once

#include <cstdlib>

#include "raster/core.h"

namespace fuzz {

class TSmallPixelMemory : public raster::TPixelAllocator {
 public:
  void* Allocate(std::size_t Bytes, bool Zeroed) override {
    if (Bytes > (std::size_t(8) << 20)) return nullptr;
    return Zeroed ? std::calloc(1, Bytes) : std::malloc(Bytes);
  }
  void Release(void* Block, std::size_t) noexcept override { std::free(Block); }
};

// Makes every bitmap of the process take its memory from a TSmallPixelMemory.
inline void UseSmallPixelMemory() {
  static TSmallPixelMemory memory;
  raster::SetPixelAllocator(&memory);
}

}  // namespace fuzz
