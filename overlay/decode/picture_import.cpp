#include "overlay/decode/picture_import.h"

#include <filesystem>

#include "overlay/decode/decoder_protocol.h"
#include "overlay/decode/isolated_decode.h"
#include "overlay/decode/orientation.h"
#include "overlay/decode/picture_import_p.h"
#include "platform/message.h"

namespace overlay {

static_assert(decoder::MaxPixels == std::uint64_t(MaxPicturePixels),
              "the decoder process and the import refuse the same sizes");

namespace {

// The checks made before any decoding: only regular files (or links to them), since a
// directory is no picture and a pipe or device named like a picture would make the decoder
// wait or read without end; and only extensions with a loader. False when Load must stop.
bool Admit(const std::string& Path, bool& Told) {
  std::error_code error;
  const auto status = std::filesystem::status(Path, error);
  if (error || !std::filesystem::is_regular_file(status)) return false;
  if (!IsImportedExtension(Path)) {
    platform::ShowMessage("Unknown file format *" + FileExtension(Path));
    Told = true;
    return false;
  }
  return true;
}

// Turns Picture upright when Orientation asks for it and the file's tag says how.
std::unique_ptr<raster::TBitmap32> Hand(std::unique_ptr<raster::TBitmap32> Picture, int Tag,
                                        TPictureOrientation Orientation) {
  if (Picture != nullptr && Orientation == TPictureOrientation::Upright) {
    ApplyExifOrientation(*Picture, Tag);
  }
  return Picture;
}

// LoadPicture; Told says whether the user has already been given the reason for a failure.
std::unique_ptr<raster::TBitmap32> Load(const std::string& Path, bool& Told,
                                        TPictureOrientation Orientation) {
  Told = false;
  if (!Admit(Path, Told)) return nullptr;
  TIsolatedPicture picture = DecodePictureIsolated(Path);
  switch (picture.Status) {
    case TIsolatedStatus::Picture:
      return Hand(std::move(picture.Bitmap), picture.Orientation, Orientation);
    case TIsolatedStatus::TooLarge:
      platform::ShowMessage(TooLargeText(picture.Width, picture.Height));
      Told = true;
      return nullptr;
    case TIsolatedStatus::NoMemory:
      throw raster::EBitmapError("Can't allocate the DIB handle");
    case TIsolatedStatus::NoPicture:
      break;
  }
  return nullptr;
}

}  // namespace

std::unique_ptr<raster::TBitmap32> LoadPicture(const std::string& Path) {
  return LoadPicture(Path, TPictureOrientation::AsStored);
}

std::unique_ptr<raster::TBitmap32> LoadPicture(const std::string& Path,
                                               TPictureOrientation Orientation) {
  bool told = false;
  return Load(Path, told, Orientation);
}

std::unique_ptr<raster::TBitmap32> LoadPictureInProcess(const std::string& Path) {
  return LoadPictureInProcess(Path, TPictureOrientation::AsStored);
}

std::unique_ptr<raster::TBitmap32> LoadPictureInProcess(const std::string& Path,
                                                        TPictureOrientation Orientation) {
  bool told = false;
  if (!Admit(Path, told)) return nullptr;
  std::unique_ptr<raster::TBitmap32> bitmap;
  const detail::TDecodeResult result =
      detail::DecodeWithFreeImage(Path, [&](FIBITMAP* Dib, unsigned Width, unsigned Height) {
        bitmap = std::make_unique<raster::TBitmap32>();
        // Every pixel is written, so the memory need not be cleared first.
        bitmap->SetSizeForOverwrite(std::int32_t(Width), std::int32_t(Height));
        detail::ConvertDib(Dib, bitmap->PixelBuffer(), 0, std::int32_t(Height));
        return true;
      });
  if (result.Status == detail::TDecodeStatus::TooLarge) {
    platform::ShowMessage(TooLargeText(result.Width, result.Height));
  }
  if (result.Status != detail::TDecodeStatus::Ok) return nullptr;
  return Hand(std::move(bitmap), result.Orientation, Orientation);
}

std::string PictureNotLoadedText(const std::string& Path) {
  return "Das Bild kann nicht geladen werden.\nThe picture cannot be loaded.\n\n[" + Path + "]";
}

std::unique_ptr<raster::TBitmap32> LoadPictureOrTell(const std::string& Path) {
  return LoadPictureOrTell(Path, TPictureOrientation::AsStored);
}

std::unique_ptr<raster::TBitmap32> LoadPictureOrTell(const std::string& Path,
                                                     TPictureOrientation Orientation) {
  bool told = false;
  std::unique_ptr<raster::TBitmap32> picture = Load(Path, told, Orientation);
  if (picture == nullptr && !told) platform::ShowMessage(PictureNotLoadedText(Path));
  return picture;
}

void RegisterPictureDecoder() {
  StartDecoderInAdvance();
  raster::SetPictureDecoder([](const std::string& FileName, raster::TBitmap32& Target) {
    std::unique_ptr<raster::TBitmap32> picture = LoadPicture(FileName);
    if (picture == nullptr) return false;
    Target.TakeOver(*picture);
    return true;
  });
}

}  // namespace overlay
