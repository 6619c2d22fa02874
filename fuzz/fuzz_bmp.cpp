// The BMP reader of TBitmap32 (LoadFromStream, raster::bmp::Decode) on random and mutated BMP
// files. Decoding from memory and from a stream must agree, a failure must leave the bitmap as
// it was, and what decodes must survive Encode and Decode unchanged.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>

#include "fuzz/fuzz_common.h"
#include "fuzz/small_pixel_memory.h"
#include "raster/bmp.h"
#include "raster/core.h"

namespace {

using fuzz::Check;

bool SamePixels(const raster::TBitmap32& A, const raster::TBitmap32& B) {
  if (A.Width() != B.Width() || A.Height() != B.Height()) return false;
  if (A.Empty()) return B.Empty();
  return std::memcmp(A.Bits(), B.Bits(), std::size_t(A.Width()) * std::size_t(A.Height()) * 4) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::UseSmallPixelMemory();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  raster::TBitmap32 fromMemory;
  fromMemory.SetSize(3, 2);
  fromMemory.Clear(0x12345678);
  bool decoded = true;
  try {
    raster::bmp::Decode(Data, Size, fromMemory);
  } catch (const raster::ERasterError&) {
    decoded = false;
    Check(fromMemory.Width() == 3 && fromMemory.Height() == 2 &&
              fromMemory.GetPixel(2, 1) == 0x12345678,
          "a failed decode changed the target");
  }

  raster::TBitmap32 fromStream;
  bool streamed = true;
  try {
    std::istringstream stream(std::string(reinterpret_cast<const char*>(Data), Size));
    fromStream.LoadFromStream(stream);
  } catch (const raster::ERasterError&) {
    streamed = false;
  }
  Check(decoded == streamed, "memory and stream decoding disagree on success");
  if (!decoded) return 0;
  Check(SamePixels(fromMemory, fromStream), "memory and stream decoding give other pixels");

  std::ostringstream encoded;
  raster::bmp::Encode(fromMemory, encoded);
  raster::TBitmap32 again;
  const std::string bytes = encoded.str();
  raster::bmp::Decode(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), again);
  Check(SamePixels(fromMemory, again), "an encoded picture decodes to other pixels");
  return 0;
}
