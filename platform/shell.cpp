#include "platform/shell.h"

#include <QDesktopServices>
#include <QDir>
#include <QString>
#include <QUrl>

namespace platform {

namespace {
ShellOpenRecorder*& Current() {
  static ShellOpenRecorder* current = nullptr;
  return current;
}
}  // namespace

ShellOpenRecorder::ShellOpenRecorder() : FOuter(Current()) {
  Current() = this;
}
ShellOpenRecorder::~ShellOpenRecorder() {
  Current() = FOuter;
}

bool ShellOpen(const std::string& Target) {
  if (ShellOpenRecorder* recorder = Current()) {
    recorder->FTargets.push_back(Target);
    return true;
  }
  if (Target.empty()) return false;
  // With a working directory, an existing relative path is taken as that file rather than as
  // a host name.
  const QUrl url = QUrl::fromUserInput(QString::fromStdString(Target), QDir::currentPath());
  return url.isValid() && QDesktopServices::openUrl(url);
}

}  // namespace platform
