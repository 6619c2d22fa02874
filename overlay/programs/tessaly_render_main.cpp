// tessaly-render: the overlay program's view composed without a window and written as a PNG.
#include <iostream>
#include <string>
#include <vector>

#include "overlay/programs/render_command.h"
#include "platform/command_line.h"
#include "platform/pixel_memory.h"

int main(int argc, char** argv) {
  return platform::RunGuarded("tessaly-render", [&] {
    platform::InstallMappedPixelAllocator();
    const std::vector<std::string> args(argv + 1, argv + argc);
    return overlay::RunRenderCommand(args, std::cout, std::cerr);
  });
}
