#include "overlay/programs/calibrate_command.h"

#include <ostream>
#include <string>

#include "overlay/align/marker.h"
#include "overlay/base/number_format.h"
#include "overlay/programs/picture_files.h"
#include "platform/command_line.h"

namespace overlay {

namespace {

constexpr const char* UsageText =
    "Usage: tessaly-calibrate [--marker-mm N] [--json] [--straighten OUT.png] PICTURE\n"
    "\n"
    "Finds the printed square marker (4x4, ids 0 to 49) in PICTURE, taken as stored, and\n"
    "prints the picture's scale on the marker's plane: pixels per 100 mm in the picture\n"
    "straightened so that the marker is an upright square at the picture's resolution\n"
    "there, with the marker's id, its tilt against the picture and the residual of its\n"
    "corners. The scale holds on the marker's plane (a flat region around it), not on a\n"
    "curved body.\n"
    "\n"
    "Exit status: 0 calibrated, 1 no usable marker (none, too small, too oblique, at the\n"
    "picture's edge) or a file that cannot be read or written, 2 bad command line.\n"
    "\n"
    "Options:\n"
    "  --marker-mm N       the printed marker's side, outer black edge to edge, in\n"
    "                      millimetres (default 20)\n"
    "  --json              print one JSON object: pp100mm, source, marker {dictionary, id,\n"
    "                      size_mm, corners}, tilt_degrees, homography (row-major, a stored\n"
    "                      pixel to the straightened picture's), straightened_size,\n"
    "                      residual_px\n"
    "  --straighten OUT.png\n"
    "                      also write the straightened picture, whole, mode 0600\n"
    "  -h, --help          show this help\n"
    "  --version           show the version\n";

void PrintJson(const TMarkerCalibration& C, std::ostream& Out) {
  Out << "{\"pp100mm\": " << FormatExact(C.Pp100MM) << ", \"source\": \"marker\", "
      << "\"marker\": {\"dictionary\": \"DICT_4X4_50\", \"id\": " << C.Id
      << ", \"size_mm\": " << FormatExact(C.SizeMM) << ", \"corners\": [";
  for (std::size_t i = 0; i < C.Corners.size(); ++i) {
    Out << (i ? ", " : "") << "[" << FormatExact(C.Corners[i].X) << ", "
        << FormatExact(C.Corners[i].Y) << "]";
  }
  Out << "]}, \"tilt_degrees\": " << FormatExact(C.TiltDegrees) << ", \"homography\": [";
  for (std::size_t i = 0; i < C.Homography.size(); ++i) {
    Out << (i ? ", " : "") << FormatExact(C.Homography[i]);
  }
  Out << "], \"straightened_size\": [" << C.StraightenedWidth << ", " << C.StraightenedHeight
      << "], \"residual_px\": " << FormatExact(C.ResidualPx) << "}\n";
}

}  // namespace

int RunCalibrateCommand(const std::vector<std::string>& Args, std::ostream& Out,
                        std::ostream& Err) {
  bool json = false;
  TMarkerSizes sizes;
  std::string straighten;
  platform::TCommandLine line("tessaly-calibrate", UsageText, Out, Err);
  line.Flag("--json", [&] { json = true; });
  line.Option("--marker-mm", [&](const std::string& Value) {
    const double mm = platform::ParseNumber("--marker-mm", Value);
    if (!(mm >= 1 && mm <= 1000)) {
      throw platform::ECommandLineError("--marker-mm is a length of 1 to 1000 mm, not \"" + Value +
                                        "\"");
    }
    sizes.DefaultMM = mm;
  });
  line.Option("--straighten", [&](const std::string& Value) { straighten = Value; });
  return line.Run(Args, [&](const std::vector<std::string>& Names) {
    platform::ExpectNames(Names, 1, 1, "PICTURE");
    if (!straighten.empty()) {
      if (const platform::TStatus free = CheckOutputPlaces({straighten}, {Names[0]}); !free) {
        return line.Fail(free);
      }
    }
    const auto picture = ReadPictureFile("the picture", Names[0]);
    if (!picture) return line.Fail(picture.Status());
    const platform::TResult<TMarkerCalibration> found = FindMarker(*picture.Value(), sizes);
    if (!found) return line.Fail(found.Status());
    const TMarkerCalibration& c = found.Value();
    if (json) {
      PrintJson(c, Out);
    } else {
      Out << "marker " << c.Id << ", " << FormatFixed(c.SizeMM, 1)
          << " mm: " << FormatFixed(c.Pp100MM, 2) << " pixels per 100 mm straightened, tilt "
          << FormatFixed(c.TiltDegrees, 1) << " degrees, residual " << FormatFixed(c.ResidualPx, 2)
          << " px\n";
    }
    if (!straighten.empty()) {
      const auto straight = StraightenPicture(*picture.Value(), c);
      if (!straight) return line.Fail(straight.Status());
      if (const platform::TStatus written = WritePngAtomically(*straight.Value(), straighten);
          !written) {
        return line.Fail(written);
      }
    }
    return platform::ExitDone;
  });
}

}  // namespace overlay
