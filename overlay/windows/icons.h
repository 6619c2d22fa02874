// The program's own glyphs, bundled as SVG resources under ":/icons/": "info.svg" (information
// sign), "printer.svg" and "tessaly.svg" (the program icon).
#pragma once

#include <QIcon>

namespace overlay {

// Registers the bundled glyphs; they live in a static library, whose resources Qt cannot find
// on its own. Safe to call more than once; the icon functions below call it themselves.
void InitIcons();

QIcon InfoIcon();
QIcon PrinterIcon();
QIcon ProgramIcon();

}  // namespace overlay
