#include "overlay/programs/picture_files.h"

#include <QImage>
#include <QSaveFile>
#include <filesystem>

#include "overlay/scene/picture_loading.h"

namespace overlay {

using raster::TBitmap32;

platform::TStatus WritePngAtomically(const TBitmap32& Picture, const std::string& Path) {
  if (Picture.Empty()) return platform::TStatus::Failure("nothing to write (empty picture)");
  QImage image(Picture.Width(), Picture.Height(), QImage::Format_RGB888);
  if (image.isNull()) return platform::TStatus::Failure("not enough memory for the picture");
  for (std::int32_t y = 0; y < Picture.Height(); ++y) {
    const raster::TColor32* src = Picture.GetScanLine(y);
    uchar* dst = image.scanLine(y);
    for (std::int32_t x = 0; x < Picture.Width(); ++x) {
      *dst++ = uchar(raster::RedComponent(src[x]));
      *dst++ = uchar(raster::GreenComponent(src[x]));
      *dst++ = uchar(raster::BlueComponent(src[x]));
    }
  }
  // QSaveFile writes a temporary file beside the target and renames it over the target only
  // when everything was written; on any failure the temporary file is removed.
  QSaveFile file(QString::fromStdString(Path));
  if (!file.open(QIODevice::WriteOnly)) {
    return platform::TStatus::Failure(file.errorString().toStdString());
  }
  if (!image.save(&file, "PNG")) {
    std::string reason = file.error() != QFileDevice::NoError ? file.errorString().toStdString()
                                                              : std::string("PNG encoding failed");
    file.cancelWriting();  // the temporary file goes with the QSaveFile
    return platform::TStatus::Failure(std::move(reason));
  }
  if (!file.commit()) return platform::TStatus::Failure(file.errorString().toStdString());
  return {};
}

platform::TResult<std::unique_ptr<TBitmap32>> ReadPictureFile(const std::string& Which,
                                                              const std::string& Path) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(Path, ec)) {
    return platform::TStatus::Failure(Which + " not found: " + Path);
  }
  // The import's own reason goes where the program's messages go (standard error without a
  // display), before the tool's line about the file.
  std::unique_ptr<TBitmap32> picture = LoadPictureOrTell(Path);
  if (picture == nullptr || picture->Empty()) {
    return platform::TStatus::Failure(Which + " could not be decoded: " + Path);
  }
  return picture;
}

}  // namespace overlay
