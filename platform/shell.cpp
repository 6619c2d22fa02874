#include "platform/shell.h"

#include <QDesktopServices>
#include <QString>
#include <QUrl>

namespace platform {

namespace {
ShellOpenRecorder*& Current() {
  static ShellOpenRecorder* current = nullptr;
  return current;
}
}  // namespace

ShellOpenRecorder::ShellOpenRecorder() : FOuter(Current()) { Current() = this; }
ShellOpenRecorder::~ShellOpenRecorder() { Current() = FOuter; }

bool ShellOpen(const std::string& Target) {
  if (ShellOpenRecorder* recorder = Current()) {
    recorder->FTargets.push_back(Target);
    return true;
  }
  return QDesktopServices::openUrl(QUrl::fromUserInput(QString::fromStdString(Target)));
}

}  // namespace platform
