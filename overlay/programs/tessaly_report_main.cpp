// tessaly-report: the overlay program's print page and its captures made without a window.
#include <QGuiApplication>
#include <iostream>
#include <string>
#include <vector>

#include "overlay/programs/report_command.h"
#include "platform/command_line.h"
#include "platform/pixel_memory.h"

int main(int argc, char** argv) {
  return platform::RunGuarded("tessaly-report", [&] {
    // Each picture-sized bitmap is made once here: none is kept for reuse.
    platform::InstallMappedPixelAllocator().SetKeepReleased(false);
    const std::vector<std::string> args(argv + 1, argv + argc);
    // The labels and the scale bar's length are text, and text needs the toolkit's fonts; no
    // window is ever shown, so no display is needed either.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    int qtArgc = 1;
    QGuiApplication application(qtArgc, argv);
    return overlay::RunReportCommand(args, std::cout, std::cerr);
  });
}
