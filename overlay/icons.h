// The program's own glyphs, drawn in code at any size: an information sign, a printer and the
// program icon (two overlapping pictures, one turned and translucent).
#pragma once

#include <QIcon>

namespace overlay {

QIcon InfoIcon();
QIcon PrinterIcon();
QIcon ProgramIcon();

}  // namespace overlay
