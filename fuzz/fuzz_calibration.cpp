// RationalToFloat and SetCamProperties on random camera tables and EXIF texts. The input holds,
// cut by fuzz::PartSeparator: the camera table, then the texts the EXIF reader gives for the
// model, the pixel width and the focal length (missing parts read as empty). The log goes to
// Kestrin.log in the scratch folder and is deleted after every run.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_common.h"
#include "launcher/calibration.h"
#include "launcher/exifreader/exif_reader.h"
#include "launcher/general.h"
#include "platform/paths.h"

namespace {

using fuzz::Check;

std::string Model, Width, Focal;

int FuzzedExifReader(const char*, int Tag, char* Buffer) {
  const std::string& text = Tag == ExifTagModel             ? Model
                            : Tag == ExifTagPixelXDimension ? Width
                            : Tag == ExifTagFocalLength     ? Focal
                                                            : std::string();
  // The reader's contract: at most 2047 bytes and a terminating NUL.
  const std::size_t n = std::min<std::size_t>(text.size(), ExifBufferSize - 1);
  std::memcpy(Buffer, text.data(), n);
  Buffer[n] = '\0';
  return n > 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  const std::string& dir = fuzz::ScratchDir();
  platform::OverrideProgramDirectory(dir);
  launcher::SetExifTagReader(&FuzzedExifReader);
  const std::vector<std::string_view> parts = fuzz::SplitParts(
      std::string_view(reinterpret_cast<const char*>(Data), Size), fuzz::PartSeparator, 4);
  auto part = [&](std::size_t i) {
    return i < parts.size() ? std::string(parts[i]) : std::string();
  };
  Model = part(1);
  Width = part(2);
  Focal = part(3);

  for (const std::string& text : {Model, Width, Focal}) {
    const double r = launcher::RationalToFloat(text);
    if (text.find('/') == std::string::npos)
      Check(r == 0, "a text without '/' is not 0");
    else
      Check(r == -1 || std::isfinite(r), "a rational that is not a number");
  }

  fuzz::WriteFile(dir + "camera.ini", parts[0]);
  const std::string image = dir + "picture.jpg";
  fuzz::WriteFile(image, "");
  iface::TImageData record;
  record.Image = image;
  const bool ok = launcher::SetCamProperties(record);
  Check(record.Pp100MM >= 0 && record.ExclusionCircleRadiusInPixel >= 0 &&
            record.ExclusionCircleX0InPixel >= 0 && record.ExclusionCircleY0InPixel >= 0,
        "a negative calibration value");
  const std::string log = fuzz::ReadFile(launcher::LogFileName());
  Check(ok == log.empty(), "a failure without a log line, or a log line without a failure");
  if (!ok)
    Check(record.Pp100MM == 0 && record.ExclusionCircleRadiusInPixel == 0,
          "values set by a failed calibration");
  launcher::DeleteLogFile();
  return 0;
}
