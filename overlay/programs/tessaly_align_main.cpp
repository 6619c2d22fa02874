// tessaly-align: prints the slider positions that lay picture 2 on picture 1.
#include <iostream>
#include <string>
#include <vector>

#include "overlay/programs/align_command.h"
#include "platform/command_line.h"
#include "platform/pixel_memory.h"

int main(int argc, char** argv) {
  return platform::RunGuarded("tessaly-align", [&] {
    platform::InstallMappedPixelAllocator();
    const std::vector<std::string> args(argv + 1, argv + argc);
    return overlay::RunAlignCommand(args, std::cout, std::cerr);
  });
}
