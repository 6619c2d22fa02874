#include "overlay/scene/view_status.h"

#include <algorithm>

#include "overlay/comparison/sliders.h"

namespace overlay {

std::string StatusPositionText(const TViewStatus& Status, std::string_view DecimalSeparator) {
  if (!Status.X || !Status.Y) return {};
  std::string text = std::to_string(*Status.X) + ", " + std::to_string(*Status.Y) + " px";
  if (Status.Pp100MM > 0) {
    const auto mm = [&](int Pixel) {
      return FormatDecimal(Pixel * 100.0 / Status.Pp100MM, 1, DecimalSeparator);
    };
    text += "   " + mm(*Status.X) + ", " + mm(*Status.Y) + " mm";
  }
  return text;
}

std::string StatusModeText(const TViewStatus& Status, std::string_view DecimalSeparator) {
  std::string text = Tr(ViewModeText(Status.Mode));
  if (Status.Precise) text += ", " + Tr(BetweenStepsText);
  if (Status.Gains) {
    text += ", " + Tr(MatchedText);
    const char* names[] = {"R", "G", "B"};
    for (std::size_t c = 0; c < 3; ++c) {
      text += std::string(" ") + names[c] + "\u00d7" +
              FormatDecimal((*Status.Gains)[c], 2, DecimalSeparator);
    }
  }
  return text;
}

void SetPixelUnder(TViewStatus& Status, raster::TImgView32& View,
                   std::optional<raster::TPoint> ControlPos) {
  const raster::TBitmap32& picture = View.Bitmap();
  const raster::TRect port = View.GetViewportRect();
  if (!ControlPos || picture.Empty() || ControlPos->X < port.Left || ControlPos->X >= port.Right ||
      ControlPos->Y < port.Top || ControlPos->Y >= port.Bottom) {
    return;
  }
  // Over the picture itself, not the backdrop beside it.
  const raster::TRect shown = View.GetBitmapRect();
  if (ControlPos->X < shown.Left || ControlPos->X >= shown.Right || ControlPos->Y < shown.Top ||
      ControlPos->Y >= shown.Bottom) {
    return;
  }
  const raster::TPoint p = View.ControlToBitmap(*ControlPos);
  Status.X = std::clamp(p.X, 0, picture.Width() - 1);
  Status.Y = std::clamp(p.Y, 0, picture.Height() - 1);
}

}  // namespace overlay
