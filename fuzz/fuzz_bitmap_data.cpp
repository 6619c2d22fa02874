// TBitmap32::ReadData, the form streaming of pixels (32-bit width and height, then the pixels),
// on random bytes: it must either read a bitmap whose WriteData gives back the bytes it took,
// or raise its error.
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "fuzz/fuzz_common.h"
#include "fuzz/small_pixel_memory.h"
#include "raster/core.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::UseSmallPixelMemory();
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
