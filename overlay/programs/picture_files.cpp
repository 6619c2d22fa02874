#include "overlay/programs/picture_files.h"

#include <sys/stat.h>

#include <QBuffer>
#include <QImage>
#include <QImageWriter>
#include <filesystem>

#include "overlay/scene/picture_loading.h"
#include "platform/command_line.h"
#include "platform/file_write.h"

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
  return WriteImageAtomically(image, Path, "PNG");
}

platform::TStatus WriteImageAtomically(const QImage& Image, const std::string& Path,
                                       const char* Format) {
  // Encoded in memory and written as the exports are: a picture of a patient is the user's
  // alone (0600), and a link planted at the name is replaced, never written through (Qt's own
  // save would follow it and write wherever it points).
  QByteArray bytes;
  QBuffer buffer(&bytes);
  if (!buffer.open(QIODevice::WriteOnly)) return platform::TStatus::Failure("no memory buffer");
  QImageWriter writer(&buffer, Format);
  if (!writer.write(Image)) {
    return platform::TStatus::Failure("the picture cannot be encoded: " +
                                      writer.errorString().toStdString());
  }
  std::string error;
  if (!platform::WriteFileAtomically(Path, std::string_view(bytes.constData(), bytes.size()),
                                     &error, {0600, false})) {
    return platform::TStatus::Failure(std::move(error));
  }
  return {};
}

platform::TResult<std::unique_ptr<TBitmap32>> ReadPictureFile(const std::string& Which,
                                                              const std::string& Path) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(Path, ec)) {
    return platform::TStatus::Failure(Which + " not found: " + Path);
  }
  // The import's reason (its sentence and the file) is told here, once, in the tool's line.
  TLoadedPictureResult loaded = LoadPictureWithFacts(Path);
  if (!loaded || loaded.Value().Picture->Empty()) {
    return platform::TStatus::Failure(
        Which + " could not be decoded: " +
        (loaded.Reason().empty() ? Path : platform::OneLine(loaded.Reason())));
  }
  TellPictureNotes(loaded.Value().Facts, Path);
  return std::move(loaded.Value().Picture);
}

platform::TStatus CheckOutputPlaces(const std::vector<std::string>& Outputs,
                                    const std::vector<std::string>& Inputs) {
  namespace fs = std::filesystem;
  for (const std::string& output : Outputs) {
    std::error_code ec;
    const fs::path out(output);
    if (fs::is_directory(out, ec)) {
      return platform::TStatus::Failure("the output is a directory: " + output);
    }
    const fs::path dir = out.has_parent_path() ? out.parent_path() : fs::path(".");
    if (!fs::is_directory(dir, ec)) {
      return platform::TStatus::Failure("the output's directory does not exist: " + dir.string());
    }
  }
  for (const std::string& output : Outputs) {
    struct stat out {};
    if (::stat(output.c_str(), &out) != 0) continue;
    for (const std::string& input : Inputs) {
      struct stat in {};
      if (::stat(input.c_str(), &in) == 0 && in.st_dev == out.st_dev && in.st_ino == out.st_ino) {
        return platform::TStatus::Failure(
            "the output is one of the input pictures, which it would replace: " + output);
      }
    }
  }
  return {};
}

}  // namespace overlay
