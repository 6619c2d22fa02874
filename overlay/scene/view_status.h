// What the main window's status bar says: the picture-1 pixel under the mouse, in millimetres as
// well when picture 1's scale is known, how the overlay is drawn, and whether it stands between
// slider steps.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "controls/image_view.h"
#include "overlay/base/texts.h"
#include "overlay/comparison/view_modes.h"

namespace overlay {

struct TViewStatus {
  // The picture-1 pixel under the mouse; none when the mouse is not over picture 1.
  std::optional<int> X, Y;
  int Pp100MM = 0;  // picture 1's pixels per 100 mm; 0: not known
  TViewMode Mode = TViewMode::Blend;
  bool Precise = false;  // the overlay stands between slider steps
  // Picture 2's colours matched to picture 1's: the gains of red, green and blue.
  std::optional<std::array<double, 3>> Gains;
};

// Status's pixel: the picture-1 pixel under the mouse at ControlPos, where it is over picture 1
// itself in the view's viewport (not the backdrop beside it); left none elsewhere.
void SetPixelUnder(TViewStatus& Status, raster::TImgView32& View,
                   std::optional<raster::TPoint> ControlPos);

// "1234, 567 px" and, with a scale, "   61.7, 28.4 mm" after it (one decimal, the locale's
// separator); empty without a pixel.
std::string StatusPositionText(const TViewStatus& Status, std::string_view DecimalSeparator = ".");
// "Differenz", "Überblendung, zwischen den Stufen", "Differenz, angeglichen R×1.12 G×0.97
// B×1.05" (the gains with two decimals and the locale's separator).
std::string StatusModeText(const TViewStatus& Status, std::string_view DecimalSeparator = ".");

}  // namespace overlay
