#include "overlay/programs/align_command.h"

#include <ostream>
#include <string>

#include "overlay/align/auto_align.h"
#include "overlay/comparison/sliders.h"
#include "overlay/programs/picture_files.h"

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
  bool json = false, optionsEnded = false;
  std::vector<std::string> files;
  for (const std::string& arg : Args) {
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      files.push_back(arg);
    } else if (arg == "--") {
      optionsEnded = true;
    } else if (arg == "--help" || arg == "-h") {
      Out << UsageText;
      return 0;
    } else if (arg == "--version") {
      Out << "tessaly-align " << TESSALY_VERSION << "\n";
      return 0;
    } else if (arg == "--json") {
      json = true;
    } else {
      Err << "tessaly-align: unknown option " << arg << "\n"
          << "Try 'tessaly-align --help' for more information.\n";
      return 2;
    }
  }
  if (files.size() != 2) {
    Err << "tessaly-align: expected PICTURE1 PICTURE2, got " << files.size() << " file name(s)\n"
        << "Try 'tessaly-align --help' for more information.\n";
    return 2;
  }
  try {
    const auto picture1 = ReadPictureFile("picture 1", files[0]);
    if (!picture1) {
      Err << "tessaly-align: " << picture1.Reason() << "\n";
      return 1;
    }
    const auto picture2 = ReadPictureFile("picture 2", files[1]);
    if (!picture2) {
      Err << "tessaly-align: " << picture2.Reason() << "\n";
      return 1;
    }
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
      Err << NoReliableAlignmentBothText << "\n";
      if (!json) {
        Err << "(" << AlignFailureReason(r) << ": matches " << r.Matches << ", inliers "
            << r.Inliers << ")\n";
      }
      return 1;
    }
    return 0;
  } catch (const std::exception& e) {
    Err << "tessaly-align: " << e.what() << "\n";
    return 1;
  }
}

}  // namespace overlay
