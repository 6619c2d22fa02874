#include "overlay/decode/picture_import.h"

#include <filesystem>

#include "overlay/decode/decoder_protocol.h"
#include "overlay/decode/isolated_decode.h"
#include "overlay/decode/orientation.h"
#include "overlay/decode/picture_import_p.h"

namespace overlay {

static_assert(decoder::MaxPixels == std::uint64_t(MaxPicturePixels),
              "the decoder process and the import refuse the same sizes");

namespace {

// The checks made before any decoding: only regular files (or links to them), since a
// directory is no picture and a pipe or device named like a picture would make the decoder
// wait or read without end; and only extensions with a loader. A failure when Load must stop.
platform::TStatus Admit(const std::string& Path) {
  std::error_code error;
  const auto status = std::filesystem::status(Path, error);
  if (error || !std::filesystem::is_regular_file(status)) return platform::TStatus::Failure();
  if (!IsImportedExtension(Path)) {
    return platform::TStatus::Failure("Unknown file format *" + FileExtension(Path));
  }
  return {};
}

// Turns Picture upright when Orientation asks for it and the file's tag says how.
std::unique_ptr<raster::TBitmap32> Hand(std::unique_ptr<raster::TBitmap32> Picture, int Tag,
                                        TPictureOrientation Orientation) {
  if (Picture != nullptr && Orientation == TPictureOrientation::Upright) {
    ApplyExifOrientation(*Picture, Tag);
  }
  return Picture;
}

}  // namespace

TPictureResult LoadPicture(const std::string& Path) {
  return LoadPicture(Path, TPictureOrientation::AsStored);
}

TPictureResult LoadPicture(const std::string& Path, TPictureOrientation Orientation) {
  if (platform::TStatus admitted = Admit(Path); !admitted) return admitted;
  TIsolatedPicture picture = DecodePictureIsolated(Path);
  switch (picture.Status) {
    case TIsolatedStatus::Picture:
      return Hand(std::move(picture.Bitmap), picture.Orientation, Orientation);
    case TIsolatedStatus::TooLarge:
      return platform::TStatus::Failure(TooLargeText(picture.Width, picture.Height));
    case TIsolatedStatus::NoMemory:
      throw raster::EBitmapError("Can't allocate the DIB handle");
    case TIsolatedStatus::NoPicture:
      break;
  }
  return platform::TStatus::Failure();
}

TPictureResult LoadPictureInProcess(const std::string& Path) {
  return LoadPictureInProcess(Path, TPictureOrientation::AsStored);
}

TPictureResult LoadPictureInProcess(const std::string& Path, TPictureOrientation Orientation) {
  if (platform::TStatus admitted = Admit(Path); !admitted) return admitted;
  std::unique_ptr<raster::TBitmap32> bitmap;
  const detail::TDecodeResult result =
      detail::DecodeWithFreeImage(Path, [&](FIBITMAP* Dib, unsigned Width, unsigned Height) {
        bitmap = detail::BitmapFromFreeImage(Dib, Width, Height);
        return true;
      });
  if (result.Status == detail::TDecodeStatus::TooLarge) {
    return platform::TStatus::Failure(TooLargeText(result.Width, result.Height));
  }
  if (result.Status != detail::TDecodeStatus::Ok) return platform::TStatus::Failure();
  return Hand(std::move(bitmap), result.Orientation, Orientation);
}

std::string PictureNotLoadedText(const std::string& Path) {
  return "Das Bild kann nicht geladen werden.\nThe picture cannot be loaded.\n\n[" + Path + "]";
}

}  // namespace overlay
