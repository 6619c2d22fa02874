// TBitmap32::ReadData, the form streaming of pixels (32-bit width and height, then the pixels),
// on random bytes: it must either read a bitmap whose WriteData gives back the bytes it took,
// or raise its error.
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "fuzz/fuzz_common.h"
#include "raster/core.h"

namespace {
// Pixel memory of a small machine: up to 8 MiB a bitmap. Larger pictures, which a few bytes of
// a header or a run-length code can ask for, take the engine's out-of-memory path instead of a
// gigabyte allocation each, so the fuzzer keeps its pace and that path is exercised as well.
class TSmallPixelMemory : public raster::TPixelAllocator {
 public:
  void* Allocate(std::size_t Bytes, bool Zeroed) override {
    if (Bytes > (std::size_t(8) << 20)) return nullptr;
    return Zeroed ? std::calloc(1, Bytes) : std::malloc(Bytes);
  }
  void Release(void* Block, std::size_t) noexcept override { std::free(Block); }
};
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  static TSmallPixelMemory memory;
  raster::SetPixelAllocator(&memory);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  const std::string input(reinterpret_cast<const char*>(Data), Size);
  std::istringstream stream(input);
  raster::TBitmap32 bitmap;
  try {
    bitmap.ReadData(stream);
  } catch (const raster::ERasterError&) {
    return 0;
  }
  std::ostringstream written;
  bitmap.WriteData(written);
  const std::string out = written.str();
  // Sizes below 1 are read as an empty bitmap, which writes 0 x 0.
  if (!bitmap.Empty())
    fuzz::Check(input.compare(0, out.size(), out) == 0,
                "WriteData differs from what ReadData took");
  return 0;
}
