#include "overlay/scene/picture_loading.h"

#include <chrono>
#include <exception>
#include <future>

#include "overlay/base/texts.h"
#include "overlay/decode/isolated_decode.h"
#include "platform/message.h"

namespace overlay {

void TellPictureFailure(const platform::TStatus& Loaded, const std::string& Path) {
  if (Loaded) return;
  platform::ShowWarning(Loaded.Reason().empty() ? PictureNotLoadedText(Path) : Loaded.Reason());
}

void TellPictureNotes(const TPictureFacts& Facts, const std::string& Path) {
  if (Facts.Frames > 1) {
    platform::ShowMessage(
        PictureFailureText(Tr(MultiFrameText, std::to_string(Facts.Frames)), Path));
  }
  if (Facts.SpacingSource == TSpacingSource::DetectorOnly) {
    platform::ShowMessage(PictureFailureText(Tr(DetectorSpacingText), Path));
  }
}

TLoadedPicture LoadPictureOrTell(const std::string& Path, TPictureOrientation Orientation) {
  TLoadedPictureResult loaded = LoadPictureWithFacts(Path, Orientation);
  TellPictureFailure(loaded.Status(), Path);
  if (loaded) TellPictureNotes(loaded.Value().Facts, Path);
  return std::move(loaded).Value();
}

std::vector<TLoadedPictureResult> LoadPicturesTogether(
    const std::vector<std::string>& Paths, TPictureOrientation Orientation,
    const std::function<void()>& WhileWaiting,
    const std::function<void(std::size_t Index, raster::TBitmap32& Picture)>& AfterLoad) {
  std::vector<std::future<TLoadedPictureResult>> pending;
  pending.reserve(Paths.size());
  for (std::size_t i = 0; i < Paths.size(); ++i) {
    pending.push_back(std::async(std::launch::async, [&Paths, i, Orientation, &AfterLoad] {
      TLoadedPictureResult loaded = LoadPictureWithFacts(Paths[i], Orientation);
      if (loaded && AfterLoad) AfterLoad(i, *loaded.Value().Picture);
      return loaded;
    }));
  }
  for (std::future<TLoadedPictureResult>& f : pending) {
    while (f.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready) {
      if (WhileWaiting) WhileWaiting();
    }
  }
  // Collected only when every thread is done, so that an exception (no memory for a copy)
  // leaves no thread behind that still writes into a result.
  std::vector<TLoadedPictureResult> results;
  results.reserve(Paths.size());
  std::exception_ptr failure;
  for (std::future<TLoadedPictureResult>& f : pending) {
    try {
      results.push_back(f.get());
    } catch (...) {
      if (!failure) failure = std::current_exception();
      results.push_back(platform::TStatus::Failure());
    }
  }
  if (failure) std::rethrow_exception(failure);
  return results;
}

void RegisterPictureDecoder() {
  StartDecoderInAdvance();
  raster::SetPictureDecoder([](const std::string& FileName, raster::TBitmap32& Target) {
    std::unique_ptr<raster::TBitmap32> picture = LoadPictureOrTell(FileName).Picture;
    if (picture == nullptr) return false;
    Target.TakeOver(*picture);
    return true;
  });
}

}  // namespace overlay
