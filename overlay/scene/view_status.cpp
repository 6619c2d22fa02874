#include "overlay/scene/view_status.h"

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

}  // namespace overlay
