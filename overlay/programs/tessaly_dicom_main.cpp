// tessaly-dicom: the overlay program's comparison as DICOM, without a window.
#include <QGuiApplication>
#include <iostream>
#include <string>
#include <vector>

#include "overlay/programs/dicom_command.h"
#include "platform/command_line.h"
#include "platform/pixel_memory.h"

int main(int argc, char** argv) {
  return platform::RunGuarded("tessaly-dicom", [&] {
    // Each picture-sized bitmap is made once here: none is kept for reuse.
    platform::InstallMappedPixelAllocator().SetKeepReleased(false);
    const std::vector<std::string> args(argv + 1, argv + argc);
    // The captures' labels and scale bar are text, and text needs the toolkit's fonts; no
    // window is ever shown, so no display is needed either.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    int qtArgc = 1;
    QGuiApplication application(qtArgc, argv);
    return overlay::RunDicomCommand(args, std::cout, std::cerr);
  });
}
