#include "overlay/programs/picture_files.h"

#include <QImage>
#include <QSaveFile>
#include <filesystem>

#include "overlay/decode/picture_import.h"

namespace overlay {

using raster::TBitmap32;

bool WritePngAtomically(const TBitmap32& Picture, const std::string& Path, std::string& Error) {
  if (Picture.Empty()) {
    Error = "nothing to write (empty picture)";
    return false;
  }
  QImage image(Picture.Width(), Picture.Height(), QImage::Format_RGB888);
  if (image.isNull()) {
    Error = "not enough memory for the picture";
    return false;
  }
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
    Error = file.errorString().toStdString();
    return false;
  }
  if (!image.save(&file, "PNG")) {
    Error = file.error() != QFileDevice::NoError ? file.errorString().toStdString()
                                                 : std::string("PNG encoding failed");
    file.cancelWriting();  // the temporary file goes with the QSaveFile
    return false;
  }
  if (!file.commit()) {
    Error = file.errorString().toStdString();
    return false;
  }
  return true;
}

std::unique_ptr<TBitmap32> ReadPictureFile(const std::string& Which, const std::string& Path,
                                           std::string& Error) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(Path, ec)) {
    Error = Which + " not found: " + Path;
    return nullptr;
  }
  std::unique_ptr<TBitmap32> picture = LoadPicture(Path);
  if (picture == nullptr || picture->Empty()) {
    Error = Which + " could not be decoded: " + Path;
    return nullptr;
  }
  return picture;
}

}  // namespace overlay
