#include "overlay/programs/render_command.h"

#include <sys/stat.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <ostream>
#include <string_view>
#include <vector>

#include "overlay/align/auto_align.h"
#include "overlay/programs/picture_files.h"
#include "overlay/scene/overlay_scene.h"

#ifndef TESSALY_VERSION
#define TESSALY_VERSION "unknown"
#endif

namespace overlay {

using raster::TBitmap32;

namespace {

constexpr const char* UsageText =
    "Usage: tessaly-render [options] PICTURE1 PICTURE2 OUT.png\n"
    "       tessaly-render [options] --export-aligned FILE PICTURE1 PICTURE2 [OUT.png]\n"
    "\n"
    "Lays PICTURE2 over PICTURE1 as the overlay program's view shows them and writes the\n"
    "view's visible area as an RGB PNG. The numbers are slider positions of the main window;\n"
    "each option left out keeps the slider where the window starts. With an export option\n"
    "OUT.png may be left out. Every output is written whole, mode 0600, replacing a link at\n"
    "its name rather than writing through it; one that is PICTURE1 or PICTURE2 (under any\n"
    "name: a hard link, a link, another spelling) is refused.\n"
    "\n"
    "Options:\n"
    "  --size WxH          size of the view control (default 977x570, the main window's\n"
    "                      view); the picture is the viewport, 17 pixels less each way\n"
    "  --x N               overlay X offset in picture-1 pixels, -600..600 (default 0)\n"
    "  --y N               overlay Y offset in picture-1 pixels, -400..400 (default 0)\n"
    "  --angle N           overlay angle in degrees, anticlockwise, -180..180 (default 0)\n"
    "  --zoom-overlay N    overlay zoom 10^(N/1000), -500..500 (default 0)\n"
    "  --zoom-view N       view zoom 10^(N/100), -100..100 (default 0)\n"
    "  --alpha N           overlay opacity, 0 (transparent)..255 (opaque) (default 120)\n"
    "  --precise A,Z,X,Y   place the overlay between slider steps: angle A in degrees\n"
    "                      (-180..180), zoom factor Z (0.01..100), offsets X and Y in\n"
    "                      picture-1 pixels, each may be fractional (as tessaly-align's\n"
    "                      \"precise\" figures); not with --x, --y, --angle, --zoom-overlay\n"
    "  --auto-align        place the overlay exactly where the automatic alignment's fit\n"
    "                      says (as the window does, and tessaly-align prints it); exit 1\n"
    "                      when it finds none\n"
    "  --mode M            how the overlay is drawn: blend (default), difference (the\n"
    "                      per-channel difference from picture 1), swipe:X (picture 1 left\n"
    "                      of picture-1 column X, the overlay opaque right of it) or\n"
    "                      checker:N (squares of N pixels, 4..1024, picture 1 and the\n"
    "                      opaque overlay in turn) or side (picture 1 in the left half,\n"
    "                      the placed overlay alone in the right half, half a view over)\n"
    "  --match-colours     match picture 2's exposure and colours to picture 1's over\n"
    "                      the part the placement lays on it (as the window's key N)\n"
    "  --export-aligned FILE\n"
    "                      write picture 2 resampled into picture 1's frame by the\n"
    "                      placement, at picture 1's full size (black where it does not\n"
    "                      reach), colour-matched with --match-colours\n"
    "  --export-side FILE  write picture 1 and the aligned picture 2 side by side\n"
    "  --export-difference FILE\n"
    "                      write the per-channel difference of picture 1 and the aligned\n"
    "                      picture 2 over their overlap (black elsewhere)\n"
    "                      Exports are PNG, TIFF or JPEG by FILE's extension (.png, .tif,\n"
    "                      .tiff, .jpg, .jpeg, any case), made from the pixels only (no\n"
    "                      EXIF or GPS of the originals), written whole, mode 0600; a PNG\n"
    "                      carries the placement in a text chunk \"Placement\"\n"
    "  --pp100mm N         picture 1's scale, N pixels per 100 mm, 1..1000000, written into\n"
    "                      the exports as their resolution (a PNG's pHYs: N x 10 per metre)\n"
    "  --help              show this text\n"
    "  --version           show the version\n";

using TUsageError = ECommandLineError;

int ParseInt(const std::string& Option, const std::string& Text) {
  std::string_view digits = Text;
  if (!digits.empty() && digits.front() == '+') digits.remove_prefix(1);
  int value = 0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (digits.empty() || ec != std::errc() || end != digits.data() + digits.size()) {
    throw TUsageError(Option + " needs a whole number, not \"" + Text + "\"");
  }
  return value;
}

int ParseSlider(const std::string& Option, const std::string& Text, const TSliderRange& Range) {
  const int value = ParseInt(Option, Text);
  if (!Range.Contains(value)) {
    throw TUsageError(Option + " " + Text + " is outside the slider's range " +
                      std::to_string(Range.Min) + ".." + std::to_string(Range.Max));
  }
  return value;
}

void ParseSize(const std::string& Text, TRenderRequest& Request) {
  const std::size_t x = Text.find_first_of("xX");
  if (x == std::string::npos) {
    throw TUsageError("--size needs WIDTHxHEIGHT, not \"" + Text + "\"");
  }
  const int w = ParseInt("--size", Text.substr(0, x));
  const int h = ParseInt("--size", Text.substr(x + 1));
  if (w < MinViewExtent || h < MinViewExtent || w > MaxViewExtentArg || h > MaxViewExtentArg) {
    throw TUsageError("--size " + Text + " is outside " + std::to_string(MinViewExtent) + ".." +
                      std::to_string(MaxViewExtentArg) + " in each direction");
  }
  Request.ViewWidth = w;
  Request.ViewHeight = h;
}

double ParseNumber(const std::string& Option, std::string_view Text) {
  if (!Text.empty() && Text.front() == '+') Text.remove_prefix(1);
  double value = 0;
  const auto [end, ec] = std::from_chars(Text.data(), Text.data() + Text.size(), value);
  if (Text.empty() || ec != std::errc() || end != Text.data() + Text.size() ||
      !std::isfinite(value)) {
    throw TUsageError(Option + " needs numbers, not \"" + std::string(Text) + "\"");
  }
  return value;
}

}  // namespace

TPrecisePlacement ParsePrecise(const std::string& Text) {
  std::vector<std::string_view> parts;
  std::string_view rest = Text;
  for (std::size_t comma; (comma = rest.find(',')) != std::string_view::npos;) {
    parts.push_back(rest.substr(0, comma));
    rest.remove_prefix(comma + 1);
  }
  parts.push_back(rest);
  if (parts.size() != 4) throw TUsageError("--precise needs ANGLE,ZOOM,X,Y, not \"" + Text + "\"");
  TPrecisePlacement p;
  p.Angle = ParseNumber("--precise", parts[0]);
  p.Zoom = ParseNumber("--precise", parts[1]);
  p.X = ParseNumber("--precise", parts[2]);
  p.Y = ParseNumber("--precise", parts[3]);
  if (const std::optional<TPlacementFault> fault = PlacementFault(p)) {
    const char* what = fault->Key == "Angle"  ? "the angle"
                       : fault->Key == "Zoom" ? "the zoom"
                                              : "an offset";
    throw TUsageError("--precise: " + std::string(what) + " " + fault->Why);
  }
  return p;
}

namespace {

bool EndsWithPng(const std::string& Path) {
  if (Path.size() < 4) return false;
  std::string tail = Path.substr(Path.size() - 4);
  std::transform(tail.begin(), tail.end(), tail.begin(),
                 [](unsigned char c) { return char(std::tolower(c)); });
  return tail == ".png";
}

// Returns false when the usage text or version was asked for (already printed).
bool ParseArguments(const std::vector<std::string>& Args, TRenderRequest& Request,
                    std::ostream& Out) {
  std::vector<std::string> positional;
  bool optionsEnded = false, placed = false;
  for (std::size_t i = 0; i < Args.size(); ++i) {
    const std::string& arg = Args[i];
    if (optionsEnded || arg.size() < 2 || arg[0] != '-' ||
        (arg[1] != '-' && arg != "-h")) {  // "-" alone and negative-looking names are files
      positional.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    if (arg == "--help" || arg == "-h") {
      Out << UsageText;
      return false;
    }
    if (arg == "--version") {
      Out << "tessaly-render " << TESSALY_VERSION << "\n";
      return false;
    }
    if (arg == "--auto-align") {
      Request.AutoAlign = true;
      continue;
    }
    if (arg == "--match-colours") {
      Request.MatchColours = true;
      continue;
    }
    std::string name = arg, value;
    const std::size_t eq = arg.find('=');
    if (eq != std::string::npos) {
      name = arg.substr(0, eq);
      value = arg.substr(eq + 1);
    } else if (name == "--size" || name == "--x" || name == "--y" || name == "--angle" ||
               name == "--zoom-overlay" || name == "--zoom-view" || name == "--alpha" ||
               name == "--precise" || name == "--mode" || name == "--export-aligned" ||
               name == "--export-side" || name == "--export-difference" || name == "--pp100mm") {
      if (i + 1 >= Args.size()) throw TUsageError(name + " needs a value");
      value = Args[++i];
    }
    TSliderPositions& s = Request.Sliders;
    if (name == "--x" || name == "--y" || name == "--angle" || name == "--zoom-overlay") {
      placed = true;
    }
    if (name == "--size") {
      ParseSize(value, Request);
    } else if (name == "--precise") {
      Request.Precise = ParsePrecise(value);
    } else if (name == "--mode") {
      if (value.rfind("swipe:", 0) == 0) {
        Request.SwipeLine = ParseNumber("--mode swipe", value.substr(6));
      } else if (value.rfind("checker:", 0) == 0) {
        Request.CheckerSquare = ParseInt("--mode checker", value.substr(8));
        if (*Request.CheckerSquare < TMainController::MinCheckerSquare ||
            *Request.CheckerSquare > TMainController::MaxCheckerSquare) {
          throw TUsageError("--mode checker: the square lies outside 4..1024");
        }
      } else if (value == "side") {
        Request.Side = true;
      } else if (value == "blend" || value == "difference") {
        Request.Difference = value == "difference";
      } else {
        throw TUsageError("--mode is blend, difference, swipe:X, checker:N or side, not \"" +
                          value + "\"");
      }
    } else if (name == "--x") {
      s.OffsetX = ParseSlider(name, value, OffsetXSlider);
    } else if (name == "--y") {
      s.OffsetY = ParseSlider(name, value, OffsetYSlider);
    } else if (name == "--angle") {
      s.Angle = ParseSlider(name, value, AngleSlider);
    } else if (name == "--zoom-overlay") {
      s.OverlayZoom = ParseSlider(name, value, OverlayZoomSlider);
    } else if (name == "--zoom-view") {
      s.ViewZoom = ParseSlider(name, value, ViewZoomSlider);
    } else if (name == "--alpha") {
      s.Alpha = ParseSlider(name, value, AlphaSlider);
    } else if (name == "--export-aligned" || name == "--export-side" ||
               name == "--export-difference") {
      if (!ExportFormatOf(value)) {
        throw TUsageError(name +
                          ": the file must end in .png, .tif, .tiff, .jpg or .jpeg: " + value);
      }
      const TExportKind kind = name == "--export-aligned" ? TExportKind::Aligned
                               : name == "--export-side"  ? TExportKind::Side
                                                          : TExportKind::Difference;
      Request.Exports.push_back({kind, value});
    } else if (name == "--pp100mm") {
      Request.Pp100MM = ParseInt(name, value);
      if (Request.Pp100MM < 1 || Request.Pp100MM > MaxExportPp100MM) {
        throw TUsageError("--pp100mm " + value + " is outside 1.." +
                          std::to_string(MaxExportPp100MM));
      }
    } else {
      throw TUsageError("unknown option " + name);
    }
  }
  if (placed && Request.AutoAlign) {
    throw TUsageError("--auto-align sets --x, --y, --angle and --zoom-overlay itself");
  }
  if (Request.Precise && (placed || Request.AutoAlign)) {
    throw TUsageError("--precise places the overlay itself: not with " +
                      std::string(placed ? "--x, --y, --angle or --zoom-overlay" : "--auto-align"));
  }
  const bool exporting = !Request.Exports.empty();
  if (positional.size() != 3 && !(exporting && positional.size() == 2)) {
    throw TUsageError(std::string(exporting ? "expected PICTURE1 PICTURE2 [OUT.png], got "
                                            : "expected PICTURE1 PICTURE2 OUT.png, got ") +
                      std::to_string(positional.size()) + " file name(s)");
  }
  Request.Picture1 = positional[0];
  Request.Picture2 = positional[1];
  if (positional.size() == 3) Request.Output = positional[2];
  if (!Request.Output.empty() && !EndsWithPng(Request.Output)) {
    throw TUsageError("the output file must end in .png: " + Request.Output);
  }
  return true;
}

}  // namespace

namespace {

// The output's directory must exist before the pictures are decoded, so that a typo costs
// no work; the write itself can still fail and is checked again.
// The command line's own English for the export's failures.
const TExportTexts ExportTexts{"nothing to export: both pictures must be loaded",
                               "unknown export format (PNG, TIFF or JPEG)",
                               "the picture cannot be encoded", "cannot write"};

const char* ExportName(TExportKind Kind) {
  switch (Kind) {
    case TExportKind::Side:
      return "side by side";
    case TExportKind::Difference:
      return "difference";
    case TExportKind::Aligned:
      break;
  }
  return "aligned picture";
}

// A reason's lines as one line of standard error.
std::string OneLine(std::string Text) {
  for (std::size_t at; (at = Text.find('\n')) != std::string::npos;) Text.replace(at, 1, ": ");
  return Text;
}

bool CheckOutputPlace(const std::string& Path, std::string& Error) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::path out(Path);
  if (fs::is_directory(out, ec)) {
    Error = "the output is a directory: " + Path;
    return false;
  }
  const fs::path dir = out.has_parent_path() ? out.parent_path() : fs::path(".");
  if (!fs::is_directory(dir, ec)) {
    Error = "the output's directory does not exist: " + dir.string();
    return false;
  }
  return true;
}

// The first output that is one of the inputs (the same file, by device and inode, whatever
// the names: another spelling, a hard link, a link to it), or empty: writing it would replace
// the photograph it is made from.
std::string OutputThatIsAnInput(const std::vector<std::string>& Outputs,
                                const std::vector<std::string>& Inputs) {
  for (const std::string& output : Outputs) {
    struct stat out {};
    if (::stat(output.c_str(), &out) != 0) continue;
    for (const std::string& input : Inputs) {
      struct stat in {};
      if (::stat(input.c_str(), &in) == 0 && in.st_dev == out.st_dev && in.st_ino == out.st_ino) {
        return output;
      }
    }
  }
  return {};
}

}  // namespace

int RunRenderCommand(const std::vector<std::string>& Args, std::ostream& Out, std::ostream& Err) {
  TRenderRequest request;
  try {
    if (!ParseArguments(Args, request, Out)) return 0;
  } catch (const TUsageError& e) {
    Err << "tessaly-render: " << e.what() << "\n"
        << "Try 'tessaly-render --help' for more information.\n";
    return 2;
  }

  try {
    std::string error;
    std::vector<std::string> outputs;
    if (!request.Output.empty()) outputs.push_back(request.Output);
    for (const TExportRequest& e : request.Exports) outputs.push_back(e.Path);
    for (const std::string& output : outputs) {
      if (!CheckOutputPlace(output, error)) {
        Err << "tessaly-render: " << error << "\n";
        return 1;
      }
    }
    if (const std::string input =
            OutputThatIsAnInput(outputs, {request.Picture1, request.Picture2});
        !input.empty()) {
      Err << "tessaly-render: the output is one of the input pictures, which it would replace: "
          << input << "\n";
      return 1;
    }
    auto read1 = ReadPictureFile("picture 1", request.Picture1);
    if (!read1) {
      Err << "tessaly-render: " << read1.Reason() << "\n";
      return 1;
    }
    auto read2 = ReadPictureFile("picture 2", request.Picture2);
    if (!read2) {
      Err << "tessaly-render: " << read2.Reason() << "\n";
      return 1;
    }
    std::unique_ptr<TBitmap32> picture1 = std::move(read1).Value();
    std::unique_ptr<TBitmap32> picture2 = std::move(read2).Value();
    Out << "picture 1: " << request.Picture1 << " (" << picture1->Width() << " x "
        << picture1->Height() << ")\n"
        << "picture 2: " << request.Picture2 << " (" << picture2->Width() << " x "
        << picture2->Height() << ")\n";

    if (request.AutoAlign) {
      const TAutoAlignResult aligned = AutoAlign(*picture1, *picture2);
      if (!aligned.Reliable()) {
        Err << "tessaly-render: " << NoReliableAlignmentBothText << "\n("
            << AlignFailureReason(aligned) << ")\n";
        return 1;
      }
      request.Precise = aligned.Precise;
      Out << "auto-align: " << aligned.Inliers << " of " << aligned.Matches
          << " matches consistent, residual " << FormatResidual(aligned.PreciseResidual)
          << " picture-1 pixels\n";
    }
    TOverlayScene scene(request.ViewWidth, request.ViewHeight);
    // The pictures' pixels are taken over, not copied.
    scene.Controller().SetImage1(request.Picture1, *picture1);
    picture1.reset();
    scene.Controller().SetImage2(request.Picture2, *picture2);
    picture2.reset();
    scene.ApplySliders(request.Sliders);
    if (request.Precise && !scene.Controller().PlacePrecisely(*request.Precise)) {
      Err << "tessaly-render: --precise: picture 2 so zoomed is too large\n";
      return 1;
    }
    scene.Controller().SetDifferenceView(request.Difference);
    if (request.SwipeLine) {
      scene.Controller().SetSwipe(true);
      scene.Controller().SetSwipeLine(*request.SwipeLine);
    }
    if (request.Side) scene.Controller().SetSide(true);
    if (request.CheckerSquare) {
      scene.Controller().SetCheckerSquare(*request.CheckerSquare);
      scene.Controller().SetChecker(true);
    }
    if (request.MatchColours) {
      scene.Controller().SetColourMatch(true);
      const TColourMatch& m = scene.Controller().ColourMatch();
      if (m.Fitted) {
        Out << "colours matched: gain red " << FormatFixed(m.Gain[2], 3) << ", green "
            << FormatFixed(m.Gain[1], 3) << ", blue " << FormatFixed(m.Gain[0], 3)
            << "; offset red " << FormatFixed(m.Offset[2], 1) << ", green "
            << FormatFixed(m.Offset[1], 1) << ", blue " << FormatFixed(m.Offset[0], 1) << "\n";
      } else {
        Out << "colours not matched: too little overlap with unclipped colours\n";
      }
    }

    const TSliderPositions& s = scene.Sliders();
    const raster::TRect viewport = scene.View().GetViewportRect();
    Out << "view: " << request.ViewWidth << " x " << request.ViewHeight << ", viewport "
        << viewport.Width() << " x " << viewport.Height() << "\n"
        << "angle " << s.Angle << ", x " << s.OffsetX << ", y " << s.OffsetY << ", view zoom "
        << s.ViewZoom << " (" << FormatZoom(ViewZoomFactor(s.ViewZoom), 1) << "), overlay zoom "
        << s.OverlayZoom << " (" << FormatZoom(OverlayZoomFactor(s.OverlayZoom), 2) << ", overlay "
        << scene.RotLayer()->Bitmap()->Width() << " x " << scene.RotLayer()->Bitmap()->Height()
        << "), opacity " << s.Alpha << "\n";
    if (scene.Controller().Precise()) {
      const TPrecisePlacement p = scene.Controller().Placement();
      Out << "between the steps: angle " << FormatFixed(p.Angle, 4) << ", zoom "
          << FormatFixed(p.Zoom, 6) << ", x " << FormatFixed(p.X, 3) << ", y "
          << FormatFixed(p.Y, 3) << "\n";
    }

    for (const TExportRequest& e : request.Exports) {
      const platform::TStatus exported =
          ExportComparison(scene.Controller(), e.Kind, e.Path, request.Pp100MM, ExportTexts);
      if (!exported) {
        Err << "tessaly-render: " << OneLine(exported.Reason()) << "\n";
        return 1;
      }
      const TBitmap32& one = scene.View().Bitmap();
      Out << "exported " << ExportName(e.Kind) << " " << e.Path << " ("
          << (e.Kind == TExportKind::Side ? 2 : 1) * one.Width() << " x " << one.Height() << ")\n";
    }
    if (request.Output.empty()) return 0;

    const std::unique_ptr<TBitmap32> shot = scene.RenderViewport();
    if (const platform::TStatus written = WritePngAtomically(*shot, request.Output); !written) {
      Err << "tessaly-render: cannot write " << request.Output << ": " << written.Reason() << "\n";
      return 1;
    }
    Out << "wrote " << request.Output << " (" << shot->Width() << " x " << shot->Height()
        << ", RGB)\n";
    return 0;
  } catch (const std::exception& e) {
    Err << "tessaly-render: " << e.what() << "\n";
    return 1;
  }
}

}  // namespace overlay
