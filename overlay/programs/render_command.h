// tessaly-render: the main window's composition of two picture files at a slider state, written
// as a PNG, from the command line.
#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "overlay/comparison/sliders.h"
#include "overlay/output/export_aligned.h"
#include "overlay/scene/main_controller.h"

namespace overlay {

// One picture of the comparison to export, and where.
struct TExportRequest {
  TExportKind Kind = TExportKind::Aligned;
  std::string Path;
};

struct TRenderRequest {
  int ViewWidth = MainViewWidth;
  int ViewHeight = MainViewHeight;
  TSliderPositions Sliders;
  std::string Picture1, Picture2;
  std::string Output;  // the view's picture; may be empty when something is exported
  std::vector<TExportRequest> Exports;
  int Pp100MM = 0;         // picture 1's scale for the exported files; 0: unknown
  bool AutoAlign = false;  // placed where the automatic alignment's fit says, as the window does
  std::optional<TPrecisePlacement> Precise;  // placed between slider steps
  TViewMode Mode = TViewMode::Blend;         // the way of drawing (--mode)
  bool MatchColours = false;                 // picture 2's colours matched to picture 1's
  std::optional<double> SwipeLine;           // the swipe's line in picture-1 pixels
  std::optional<int> CheckerSquare;          // the checkerboard's side in pixels
};

// Bounds of --size: the viewport (the control less 17 pixels each way) must not be empty, and
// the buffer must stay a sane size.
constexpr int MinViewExtent = 18;
constexpr int MaxViewExtentArg = 8192;

// --precise's ANGLE,ZOOM,X,Y. The zoom stays within the overlay zoom slider's range (the
// overlay's bitmap grows with it); the offsets within what a picture may measure. Raises
// platform::ECommandLineError (platform/command_line.h) for anything else.
TPrecisePlacement ParsePrecise(const std::string& Text);

// The whole program: arguments without the program name; messages go to Out and Err. Returns
// the exit status (0 done, 1 a file could not be read or written, 2 bad command line).
int RunRenderCommand(const std::vector<std::string>& Args, std::ostream& Out, std::ostream& Err);

}  // namespace overlay
