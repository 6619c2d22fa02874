#include "overlay/scene/picture_loading.h"

#include <chrono>
#include <exception>
#include <future>

#include "overlay/base/texts.h"
#include "overlay/decode/isolated_decode.h"
#include "platform/message.h"

namespace overlay {

void TellPictureFailure(const TPictureResult& Loaded, const std::string& Path) {
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

std::unique_ptr<raster::TBitmap32> LoadPictureOrTell(const std::string& Path,
                                                     TPictureOrientation Orientation,
                                                     TPictureFacts* Facts) {
  TPictureFacts facts;
  TPictureResult loaded = LoadPicture(Path, Orientation, &facts);
  TellPictureFailure(loaded, Path);
  if (loaded) TellPictureNotes(facts, Path);
  if (Facts != nullptr) *Facts = std::move(facts);
  return std::move(loaded).Value();
}

std::vector<TPictureResult> LoadPicturesTogether(
    const std::vector<std::string>& Paths, TPictureOrientation Orientation,
    const std::function<void()>& WhileWaiting, std::vector<TPictureFacts>* Facts,
    const std::function<void(std::size_t Index, raster::TBitmap32& Picture)>& AfterLoad) {
  std::vector<std::future<TPictureResult>> pending;
  pending.reserve(Paths.size());
  // Each thread fills its own entry; they are read once every thread is done.
  std::vector<TPictureFacts> facts(Paths.size());
  for (std::size_t i = 0; i < Paths.size(); ++i) {
    pending.push_back(std::async(std::launch::async, [&Paths, i, Orientation, &facts, &AfterLoad] {
      TPictureResult loaded = LoadPicture(Paths[i], Orientation, &facts[i]);
      if (loaded && AfterLoad) AfterLoad(i, *loaded.Value());
      return loaded;
    }));
  }
  for (std::future<TPictureResult>& f : pending) {
    while (f.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready) {
      if (WhileWaiting) WhileWaiting();
    }
  }
  // Collected only when every thread is done, so that an exception (no memory for a copy)
  // leaves no thread behind that still writes into a result.
  std::vector<TPictureResult> results;
  results.reserve(Paths.size());
  std::exception_ptr failure;
  for (std::future<TPictureResult>& f : pending) {
    try {
      results.push_back(f.get());
    } catch (...) {
      if (!failure) failure = std::current_exception();
      results.push_back(platform::TStatus::Failure());
    }
  }
  if (failure) std::rethrow_exception(failure);
  if (Facts != nullptr) *Facts = std::move(facts);
  return results;
}

void RegisterPictureDecoder() {
  StartDecoderInAdvance();
  raster::SetPictureDecoder([](const std::string& FileName, raster::TBitmap32& Target) {
    std::unique_ptr<raster::TBitmap32> picture = LoadPictureOrTell(FileName);
    if (picture == nullptr) return false;
    Target.TakeOver(*picture);
    return true;
  });
}

}  // namespace overlay
