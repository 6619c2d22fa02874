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

std::string Sha256OfText(std::string_view Text) {
  return QCryptographicHash::hash(QByteArrayView(Text.data(), qsizetype(Text.size())),
                                  QCryptographicHash::Sha256)
      .toHex()
      .toStdString();
}

}  // namespace platform
