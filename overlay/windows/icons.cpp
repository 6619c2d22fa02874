#include "overlay/windows/icons.h"

#include <QString>
#include <mutex>

// Q_INIT_RESOURCE declares a function of the global namespace, so it cannot be used inside ours.
static void InitTessalyIconsResource() {
  Q_INIT_RESOURCE(tessaly_icons);
}

namespace overlay {

void InitIcons() {
  static std::once_flag once;
  std::call_once(once, InitTessalyIconsResource);
}

namespace {
QIcon Bundled(const char* Name) {
  InitIcons();
  return QIcon(QStringLiteral(":/icons/") + QLatin1String(Name));
}
}  // namespace

QIcon InfoIcon() {
  return Bundled("info.svg");
}
QIcon PrinterIcon() {
  return Bundled("printer.svg");
}
QIcon ProgramIcon() {
  return Bundled("tessaly.svg");
}

}  // namespace overlay
