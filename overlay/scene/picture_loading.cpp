#include "overlay/scene/picture_loading.h"

#include "overlay/decode/isolated_decode.h"
#include "platform/message.h"

namespace overlay {

std::unique_ptr<raster::TBitmap32> LoadPictureAndTell(const std::string& Path,
                                                      TPictureOrientation Orientation) {
  TPictureResult loaded = LoadPicture(Path, Orientation);
  platform::ShowFailure(loaded.Status());
  return std::move(loaded).Value();
}

std::unique_ptr<raster::TBitmap32> LoadPictureOrTell(const std::string& Path,
                                                     TPictureOrientation Orientation) {
  TPictureResult loaded = LoadPicture(Path, Orientation);
  if (!loaded) {
    platform::ShowMessage(loaded.Reason().empty() ? PictureNotLoadedText(Path) : loaded.Reason());
  }
  return std::move(loaded).Value();
}

void RegisterPictureDecoder() {
  StartDecoderInAdvance();
  raster::SetPictureDecoder([](const std::string& FileName, raster::TBitmap32& Target) {
    std::unique_ptr<raster::TBitmap32> picture = LoadPictureAndTell(FileName);
    if (picture == nullptr) return false;
    Target.TakeOver(*picture);
    return true;
  });
}

}  // namespace overlay
