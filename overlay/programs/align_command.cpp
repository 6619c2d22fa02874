#include "overlay/programs/align_command.h"

#include <ostream>
#include <string>

#include "overlay/align/auto_align.h"
#include "overlay/comparison/sliders.h"
#include "overlay/programs/picture_files.h"
#include "platform/command_line.h"

namespace overlay {

namespace {

constexpr const char* UsageText =
    "Usage: tessaly-align [--json] PICTURE1 PICTURE2\n"
    "\n"
    "Finds the turn, scale and shift that lay PICTURE2 on PICTURE1 from the pictures\n"
    "themselves and prints, ready for tessaly-render, the slider positions that come\n"
    "closest to it and the fit itself as a placement between slider steps (--precise, as\n"
    "the window's automatic alignment places the overlay), with the fit's figures: the\n"
    "matches after the ratio test, those consistent with the fit, and the residuals (root\n"
    "mean square distance in picture-1 pixels between each placement's overlay and the\n"
    "fit, over the overlap).\n"
    "\n"
    "Exit status: 0 aligned, 1 no reliable alignment or a picture that cannot be read,\n"
    "2 bad command line.\n"
    "\n"
    "Options:\n"
    "  --json              print one JSON object instead\n"
    "  --help              show this text\n"
    "  --version           show the version\n";

std::string PreciseOption(const TPrecisePlacement& P) {
  return "--precise " + FormatExact(P.Angle) + "," + FormatExact(P.Zoom) + "," + FormatExact(P.X) +
         "," + FormatExact(P.Y);
}

void PrintJson(const TAutoAlignResult& R, std::ostream& Out) {
  const TPlacement& p = R.Nearest.Placement;
  Out << "{\"reliable\": " << (R.Reliable() ? "true" : "false");
  if (R.Reliable()) {
    Out << ", \"x\": " << p.OffsetX << ", \"y\": " << p.OffsetY << ", \"angle\": " << p.Angle
        << ", \"zoom_overlay\": " << p.OverlayZoom
        << ", \"residual\": " << FormatResidual(R.Nearest.Residual)
        << ", \"precise\": {\"angle\": " << FormatExact(R.Precise.Angle)
        << ", \"zoom\": " << FormatExact(R.Precise.Zoom) << ", \"x\": " << FormatExact(R.Precise.X)
        << ", \"y\": " << FormatExact(R.Precise.Y)
        << "}, \"precise_residual\": " << FormatResidual(R.PreciseResidual);
  } else {
    Out << ", \"failure\": \"" << AlignFailureReason(R) << "\"";
  }
  Out << ", \"matches\": " << R.Matches << ", \"inliers\": " << R.Inliers
      << ", \"fit\": {\"scale\": " << FormatFixed(R.Fit.Scale(), 6)
      << ", \"angle_degrees\": " << FormatFixed(R.Fit.AngleDegrees(), 4)
      << ", \"tx\": " << FormatFixed(R.Fit.Tx, 3) << ", \"ty\": " << FormatFixed(R.Fit.Ty, 3) << "}"
      << ", \"milliseconds\": {\"reduction\": " << FormatFixed(R.Times.Reduction, 1)
      << ", \"detection\": " << FormatFixed(R.Times.Detection, 1)
      << ", \"matching\": " << FormatFixed(R.Times.Matching, 1)
      << ", \"fit\": " << FormatFixed(R.Times.Fit, 1) << "}}\n";
}

}  // namespace

int RunAlignCommand(const std::vector<std::string>& Args, std::ostream& Out, std::ostream& Err) {
  bool json = false;
  platform::TCommandLine line("tessaly-align", UsageText, Out, Err);
  line.Flag("--json", [&] { json = true; });
  return line.Run(Args, [&](const std::vector<std::string>& Files) {
    platform::ExpectNames(Files, 2, 2, "PICTURE1 PICTURE2");
    const auto picture1 = ReadPictureFile("picture 1", Files[0]);
    if (!picture1) return line.Fail(picture1.Status());
    const auto picture2 = ReadPictureFile("picture 2", Files[1]);
    if (!picture2) return line.Fail(picture2.Status());
    const TAutoAlignResult r = AutoAlign(*picture1.Value(), *picture2.Value());
    if (json) {
      PrintJson(r, Out);
    } else if (r.Reliable()) {
      const TPlacement& p = r.Nearest.Placement;
      Out << "--x " << p.OffsetX << " --y " << p.OffsetY << " --angle " << p.Angle
          << " --zoom-overlay " << p.OverlayZoom << "\n"
          << PreciseOption(r.Precise) << "\n"
          << "matches " << r.Matches << ", inliers " << r.Inliers << ", residual "
          << FormatResidual(r.Nearest.Residual) << " picture-1 pixels, precise "
          << FormatResidual(r.PreciseResidual) << "\n";
    }
    if (!r.Reliable()) {
      // The window's refusal in both languages, as a script compares it; then why.
      Err << NoReliableAlignmentBothText << "\n";
      if (!json) {
        Err << "(" << AlignFailureReason(r) << ": matches " << r.Matches << ", inliers "
            << r.Inliers << ")\n";
      }
      return platform::ExitFailed;
    }
    return platform::ExitDone;
  });
}

}  // namespace overlay
