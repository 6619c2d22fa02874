// A line of text as the coverage of its glyphs, for drawings of the raster engine, which draws
// no text of its own.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

struct TTextMask {
  int Width = 0, Height = 0;
  std::vector<std::uint8_t> Coverage;  // Width * Height, top row first; 255 = fully covered
};

// Text (UTF-8) in the application's font at PixelSize pixels, antialiased. Empty when no
// graphical application is running (a command-line tool), since fonts need one.
TTextMask RenderTextMask(const std::string& Text, int PixelSize);

}  // namespace platform
