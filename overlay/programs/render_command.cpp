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
#include "platform/command_line.h"

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

using TUsageError = platform::ECommandLineError;
using platform::ParseNumber;

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

// The mode's value: a way of drawing by its command-line name (ViewModes()), the swipe's and the
// checkerboard's with their parameter after a colon: blend, difference, swipe:X, checker:N, side.
void ParseMode(const std::string& Value, TRenderRequest& Request) {
  const std::size_t colon = Value.find(':');
  const std::string name = Value.substr(0, colon);
  const auto row = std::find_if(ViewModes().begin(), ViewModes().end(), [&](const TViewModeRow& R) {
    return !R.CommandLineName.empty() && R.CommandLineName == name;
  });
  const bool parameter = row != ViewModes().end() &&
                         (row->Mode == TViewMode::Swipe || row->Mode == TViewMode::Checker);
  if (row == ViewModes().end() || parameter != (colon != std::string::npos)) {
    throw TUsageError("--mode is blend, difference, swipe:X, checker:N or side, not \"" + Value +
                      "\"");
  }
  Request.Mode = row->Mode;
  if (row->Mode == TViewMode::Swipe) {
    Request.SwipeLine = ParseNumber("--mode swipe", Value.substr(colon + 1));
  } else if (row->Mode == TViewMode::Checker) {
    Request.CheckerSquare = ParseInt("--mode checker", Value.substr(colon + 1));
    if (*Request.CheckerSquare < TMainController::MinCheckerSquare ||
        *Request.CheckerSquare > TMainController::MaxCheckerSquare) {
      throw TUsageError("--mode checker: the square lies outside 4..1024");
    }
  }
}

// The options that set a slider of the main window; the first four place the overlay.
struct TSliderOption {
  const char* Name;
  int TSliderPositions::*Position;
  const TSliderRange& Range;
  bool Places;
};
const TSliderOption SliderOptions[] = {
    {"--x", &TSliderPositions::OffsetX, OffsetXSlider, true},
    {"--y", &TSliderPositions::OffsetY, OffsetYSlider, true},
    {"--angle", &TSliderPositions::Angle, AngleSlider, true},
    {"--zoom-overlay", &TSliderPositions::OverlayZoom, OverlayZoomSlider, true},
    {"--zoom-view", &TSliderPositions::ViewZoom, ViewZoomSlider, false},
    {"--alpha", &TSliderPositions::Alpha, AlphaSlider, false}};

// The export options, and how the output names what each wrote.
const struct {
  const char* Name;
  TExportKind Kind;
  const char* Label;
} ExportOptions[] = {{"--export-aligned", TExportKind::Aligned, "aligned picture"},
                     {"--export-side", TExportKind::Side, "side by side"},
                     {"--export-difference", TExportKind::Difference, "difference"}};

// The request as the command line gives it, and whether a slider option placed the overlay.
struct TRenderArguments {
  TRenderRequest Request;
  bool Placed = false;
};

// The command line's table: every option into Arguments.
void AddRenderOptions(platform::TCommandLine& Line, TRenderArguments& Arguments) {
  TRenderRequest& Request = Arguments.Request;
  Line.Flag("--auto-align", [&Request] { Request.AutoAlign = true; })
      .Flag("--match-colours", [&Request] { Request.MatchColours = true; })
      .Option("--size", [&Request](const std::string& V) { ParseSize(V, Request); })
      .Option("--precise", [&Request](const std::string& V) { Request.Precise = ParsePrecise(V); })
      .Option("--mode", [&Request](const std::string& V) { ParseMode(V, Request); })
      .Option("--pp100mm", [&Request](const std::string& V) {
        Request.Pp100MM = ParseInt("--pp100mm", V);
        if (Request.Pp100MM < 1 || Request.Pp100MM > MaxExportPp100MM) {
          throw TUsageError("--pp100mm " + V + " is outside 1.." +
                            std::to_string(MaxExportPp100MM));
        }
      });
  for (const TSliderOption& o : SliderOptions) {
    Line.Option(o.Name, [&Arguments, o](const std::string& V) {
      Arguments.Request.Sliders.*o.Position = ParseSlider(o.Name, V, o.Range);
      Arguments.Placed = Arguments.Placed || o.Places;
    });
  }
  for (const auto& e : ExportOptions) {
    Line.Option(e.Name, [&Request, e](const std::string& V) {
      if (!ExportFormatOf(V)) {
        throw TUsageError(std::string(e.Name) +
                          ": the file must end in .png, .tif, .tiff, .jpg or .jpeg: " + V);
      }
      Request.Exports.push_back({e.Kind, V});
    });
  }
}

// What the options say together, and the names: PICTURE1 PICTURE2 and OUT.png (which may be left
// out when something is exported).
void TakeRenderNames(const std::vector<std::string>& Names, TRenderArguments& Arguments) {
  TRenderRequest& Request = Arguments.Request;
  const bool placed = Arguments.Placed;
  if (placed && Request.AutoAlign) {
    throw TUsageError("--auto-align sets --x, --y, --angle and --zoom-overlay itself");
  }
  if (Request.Precise && (placed || Request.AutoAlign)) {
    throw TUsageError("--precise places the overlay itself: not with " +
                      std::string(placed ? "--x, --y, --angle or --zoom-overlay" : "--auto-align"));
  }
  const bool exporting = !Request.Exports.empty();
  platform::ExpectNames(Names, exporting ? 2 : 3, 3,
                        exporting ? "PICTURE1 PICTURE2 [OUT.png]" : "PICTURE1 PICTURE2 OUT.png");
  Request.Picture1 = Names[0];
  Request.Picture2 = Names[1];
  if (Names.size() == 3) Request.Output = Names[2];
  if (!Request.Output.empty() && !EndsWithPng(Request.Output)) {
    throw TUsageError("the output file must end in .png: " + Request.Output);
  }
}

// The command line's own English for the export's failures.
const TExportTexts ExportTexts{"nothing to export: both pictures must be loaded",
                               "unknown export format (PNG, TIFF or JPEG)",
                               "the picture cannot be encoded", "cannot write"};

// Every output's place checked before the pictures are decoded (CheckOutputPlaces).
platform::TStatus CheckOutputs(const TRenderRequest& Request) {
  std::vector<std::string> outputs;
  if (!Request.Output.empty()) outputs.push_back(Request.Output);
  for (const TExportRequest& e : Request.Exports) outputs.push_back(e.Path);
  return CheckOutputPlaces(outputs, {Request.Picture1, Request.Picture2});
}

// The request carried out: the pictures read, the scene placed and drawn, every output written.
int Render(TRenderRequest& Request, const platform::TCommandLine& Line, std::ostream& Out) {
  if (const platform::TStatus free = CheckOutputs(Request); !free) return Line.Fail(free);
  auto read1 = ReadPictureFile("picture 1", Request.Picture1);
  if (!read1) return Line.Fail(read1.Status());
  auto read2 = ReadPictureFile("picture 2", Request.Picture2);
  if (!read2) return Line.Fail(read2.Status());
  std::unique_ptr<TBitmap32> picture1 = std::move(read1).Value();
  std::unique_ptr<TBitmap32> picture2 = std::move(read2).Value();
  Out << "picture 1: " << Request.Picture1 << " (" << picture1->Width() << " x "
      << picture1->Height() << ")\n"
      << "picture 2: " << Request.Picture2 << " (" << picture2->Width() << " x "
      << picture2->Height() << ")\n";

  if (Request.AutoAlign) {
    const TAutoAlignResult aligned = AutoAlign(*picture1, *picture2);
    if (!aligned.Reliable()) {
      return Line.Fail(NoReliableAlignmentBothText + std::string("\n(") +
                       AlignFailureReason(aligned) + ")");
    }
    Request.Precise = aligned.Precise;
    Out << "auto-align: " << aligned.Inliers << " of " << aligned.Matches
        << " matches consistent, residual " << FormatResidual(aligned.PreciseResidual)
        << " picture-1 pixels\n";
  }
  TOverlayScene scene(Request.ViewWidth, Request.ViewHeight);
  // The pictures' pixels are taken over, not copied.
  scene.Controller().SetImage1(Request.Picture1, *picture1);
  picture1.reset();
  scene.Controller().SetImage2(Request.Picture2, *picture2);
  picture2.reset();
  scene.ApplySliders(Request.Sliders);
  if (Request.Precise && !scene.Controller().PlacePrecisely(*Request.Precise)) {
    return Line.Fail("--precise: picture 2 so zoomed is too large");
  }
  if (Request.CheckerSquare) scene.Controller().SetCheckerSquare(*Request.CheckerSquare);
  scene.Controller().ShowMode(Request.Mode);
  if (Request.SwipeLine) scene.Controller().SetSwipeLine(*Request.SwipeLine);
  if (Request.MatchColours) {
    scene.Controller().SetColourMatch(true);
    const TColourMatch& m = scene.Controller().ColourMatch();
    if (m.Fitted) {
      Out << "colours matched: gain red " << FormatFixed(m.Gain[2], 3) << ", green "
          << FormatFixed(m.Gain[1], 3) << ", blue " << FormatFixed(m.Gain[0], 3) << "; offset red "
          << FormatFixed(m.Offset[2], 1) << ", green " << FormatFixed(m.Offset[1], 1) << ", blue "
          << FormatFixed(m.Offset[0], 1) << "\n";
    } else {
      Out << "colours not matched: too little overlap with unclipped colours\n";
    }
  }

  const TSliderPositions& s = scene.Sliders();
  const raster::TRect viewport = scene.View().GetViewportRect();
  Out << "view: " << Request.ViewWidth << " x " << Request.ViewHeight << ", viewport "
      << viewport.Width() << " x " << viewport.Height() << "\n"
      << "angle " << s.Angle << ", x " << s.OffsetX << ", y " << s.OffsetY << ", view zoom "
      << s.ViewZoom << " (" << FormatZoom(ViewZoomFactor(s.ViewZoom), 1) << "), overlay zoom "
      << s.OverlayZoom << " (" << FormatZoom(OverlayZoomFactor(s.OverlayZoom), 2) << ", overlay "
      << scene.RotLayer()->Bitmap()->Width() << " x " << scene.RotLayer()->Bitmap()->Height()
      << "), opacity " << s.Alpha << "\n";
  if (scene.Controller().Precise()) {
    const TPrecisePlacement p = scene.Controller().Placement();
    Out << "between the steps: angle " << FormatFixed(p.Angle, 4) << ", zoom "
        << FormatFixed(p.Zoom, 6) << ", x " << FormatFixed(p.X, 3) << ", y " << FormatFixed(p.Y, 3)
        << "\n";
  }

  for (const TExportRequest& e : Request.Exports) {
    const platform::TStatus exported =
        ExportComparison(scene.Controller(), e.Kind, e.Path, Request.Pp100MM, ExportTexts);
    if (!exported) return Line.Fail(platform::OneLine(exported.Reason()));
    const TBitmap32& one = scene.View().Bitmap();
    const auto option = std::find_if(std::begin(ExportOptions), std::end(ExportOptions),
                                     [&](const auto& o) { return o.Kind == e.Kind; });
    Out << "exported " << option->Label << " " << e.Path << " ("
        << (e.Kind == TExportKind::Side ? 2 : 1) * one.Width() << " x " << one.Height() << ")\n";
  }
  if (Request.Output.empty()) return platform::ExitDone;

  const std::unique_ptr<TBitmap32> shot = scene.RenderViewport();
  if (const platform::TStatus written = WritePngAtomically(*shot, Request.Output); !written) {
    return Line.Fail("cannot write " + Request.Output + ": " + written.Reason());
  }
  Out << "wrote " << Request.Output << " (" << shot->Width() << " x " << shot->Height()
      << ", RGB)\n";
  return platform::ExitDone;
}

}  // namespace

int RunRenderCommand(const std::vector<std::string>& Args, std::ostream& Out, std::ostream& Err) {
  TRenderArguments arguments;
  platform::TCommandLine line("tessaly-render", UsageText, Out, Err);
  AddRenderOptions(line, arguments);
  return line.Run(Args, [&](const std::vector<std::string>& Names) {
    TakeRenderNames(Names, arguments);
    return Render(arguments.Request, line, Out);
  });
}

}  // namespace overlay
