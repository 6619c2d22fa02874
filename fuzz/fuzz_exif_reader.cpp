// The EXIF reader library's ReadExifTag on random and mutated picture files: for the three tags
// the launcher reads and one tag number taken from the input, the text must be terminated
// inside the buffer, and the answer must tell whether it is empty.
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz/fuzz_common.h"
#include "launcher/exifreader/exif_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  const std::string path = fuzz::ScratchDir() + "picture.jpg";
  fuzz::WriteFile(path, std::string_view(reinterpret_cast<const char*>(Data), Size));
  const int other = Size >= 2 ? (Data[Size - 2] << 8 | Data[Size - 1]) : 0x010F;
  for (const int tag : {ExifTagModel, ExifTagPixelXDimension, ExifTagFocalLength, other}) {
    char buffer[ExifBufferSize + 16];
    std::memset(buffer, 0x55, sizeof buffer);
    const int answer = ReadExifTag(path.c_str(), tag, buffer);
    const void* end = std::memchr(buffer, 0, ExifBufferSize);
    fuzz::Check(end != nullptr, "the text is not terminated inside the buffer");
    fuzz::Check(buffer[ExifBufferSize] == 0x55, "a write past the buffer");
    fuzz::Check(answer == (buffer[0] != '\0' ? 1 : 0), "the answer does not tell the text");
  }
  return 0;
}
