#include "platform/message.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMessageBox>
#include <QString>
#include <algorithm>
#include <cstdio>
#include <mutex>

namespace platform {

namespace {

// Recorders are few and short-lived; a list guarded by one lock is all that is needed. The
// lock is not held while a real box is open, so a message shown from inside a box's event loop
// cannot deadlock.
std::mutex& RecorderLock() {
  static std::mutex lock;
  return lock;
}
std::vector<MessageRecorder*>& Recorders() {
  static std::vector<MessageRecorder*> recorders;
  return recorders;
}

bool CanShowBoxes() {
  if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) return false;
  const QString name = QGuiApplication::platformName();
  return name != QLatin1String("offscreen") && name != QLatin1String("minimal");
}

QMessageBox::Icon ToQt(MessageIcon Icon) {
  switch (Icon) {
    case MessageIcon::Information:
      return QMessageBox::Information;
    case MessageIcon::Warning:
      return QMessageBox::Warning;
    case MessageIcon::Error:
      return QMessageBox::Critical;
    case MessageIcon::None:
      break;
  }
  return QMessageBox::NoIcon;
}

}  // namespace

MessageRecorder::MessageRecorder() {
  std::lock_guard<std::mutex> guard(RecorderLock());
  Recorders().push_back(this);
}

MessageRecorder::~MessageRecorder() {
  std::lock_guard<std::mutex> guard(RecorderLock());
  auto& list = Recorders();
  list.erase(std::remove(list.begin(), list.end(), this), list.end());
}

std::vector<Message> MessageRecorder::Messages() const {
  std::lock_guard<std::mutex> guard(RecorderLock());
  return FMessages;
}

std::vector<std::string> MessageRecorder::Texts() const {
  std::lock_guard<std::mutex> guard(RecorderLock());
  std::vector<std::string> texts;
  for (const Message& m : FMessages) texts.push_back(m.Text);
  return texts;
}

void MessageRecorder::Clear() {
  std::lock_guard<std::mutex> guard(RecorderLock());
  FMessages.clear();
}

void ShowMessage(const std::string& Text, const std::string& Caption, MessageIcon Icon) {
  {
    std::lock_guard<std::mutex> guard(RecorderLock());
    if (!Recorders().empty()) {
      Recorders().back()->FMessages.push_back({Text, Caption, Icon});
      return;
    }
  }
  if (CanShowBoxes()) {
    const QString caption = Caption.empty() ? QGuiApplication::applicationDisplayName()
                                            : QString::fromStdString(Caption);
    QMessageBox box(ToQt(Icon), caption, QString::fromStdString(Text), QMessageBox::Ok);
    box.exec();
    return;
  }
  if (Caption.empty()) {
    std::fprintf(stderr, "%s\n", Text.c_str());
  } else {
    std::fprintf(stderr, "%s: %s\n", Caption.c_str(), Text.c_str());
  }
  std::fflush(stderr);
}

bool AskYesNo(const std::string& Text) {
  {
    std::lock_guard<std::mutex> guard(RecorderLock());
    if (!Recorders().empty()) {
      Recorders().back()->FMessages.push_back({Text, {}, MessageIcon::None});
      return Recorders().back()->Answer;
    }
  }
  if (CanShowBoxes()) {
    return QMessageBox::question(nullptr, QGuiApplication::applicationDisplayName(),
                                 QString::fromStdString(Text)) == QMessageBox::Yes;
  }
  std::fprintf(stderr, "%s (no)\n", Text.c_str());
  std::fflush(stderr);
  return false;
}

void ShowWarning(const std::string& Text) {
  ShowMessage(Text, {}, MessageIcon::Warning);
}

void ShowFailure(const TStatus& Status) {
  if (!Status.Ok() && !Status.Reason().empty()) ShowWarning(Status.Reason());
}

}  // namespace platform
