#include "platform/content_hash.h"

#include <QCryptographicHash>
#include <QFile>

namespace platform {

std::string Sha256OfFile(const std::string& Path) {
  QFile file(QString::fromStdString(Path));
  if (!file.open(QIODevice::ReadOnly)) return {};
  QCryptographicHash hash(QCryptographicHash::Sha256);
  // In pieces: a camera picture need not be in memory twice.
  if (!hash.addData(&file)) return {};
  return hash.result().toHex().toStdString();
}

}  // namespace platform
