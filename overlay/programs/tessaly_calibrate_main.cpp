// tessaly-calibrate: a picture's scale from the printed marker in it.
#include <iostream>
#include <string>
#include <vector>

#include "overlay/programs/calibrate_command.h"
#include "platform/command_line.h"
#include "platform/pixel_memory.h"

int main(int argc, char** argv) {
  return platform::RunGuarded("tessaly-calibrate", [&] {
    platform::InstallMappedPixelAllocator();
    return overlay::RunCalibrateCommand({argv + 1, argv + argc}, std::cout, std::cerr);
  });
}
