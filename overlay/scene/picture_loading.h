// Loading a picture for the user: the import (overlay/decode/picture_import.h) says why a picture
// did not load, and these tell the user, once.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "overlay/decode/picture_import.h"
#include "raster/core.h"

namespace overlay {

// LoadPictureWithFacts for a picture the user asked for: every failure shows exactly one message
// naming the file and the import's reason, and gives no picture (a null Picture); a picture that
// loaded, its notes (TellPictureNotes).
TLoadedPicture LoadPictureOrTell(const std::string& Path,
                                 TPictureOrientation Orientation = TPictureOrientation::AsStored);

// Tells what the user should know of a picture that loaded, once: a multi-frame file shows its
// first frame only (MultiFrameText), a DICOM file whose spacing is the detector's alone has no
// known scale (DetectorSpacingText); each followed by the file on a line of its own.
void TellPictureNotes(const TPictureFacts& Facts, const std::string& Path);

// Shows the reason of a failed load (PictureNotLoadedText where it has none); nothing for a
// picture.
void TellPictureFailure(const platform::TStatus& Loaded, const std::string& Path);

// LoadPictureWithFacts of every path at once, each in a thread of its own, so that pictures that
// keep their reader waiting (a file lease, a stalled network share) wait side by side.
// WhileWaiting runs on the calling thread, about every 20 ms, until all are done (a window keeps
// drawing itself there). AfterLoad, when given, runs on a picture's own thread once it has
// loaded, with its index in Paths: work that follows the load overlaps the other loads. Results
// in the order of Paths; nothing is shown.
std::vector<TLoadedPictureResult> LoadPicturesTogether(
    const std::vector<std::string>& Paths, TPictureOrientation Orientation,
    const std::function<void()>& WhileWaiting,
    const std::function<void(std::size_t Index, raster::TBitmap32& Picture)>& AfterLoad = {});

// Makes TBitmap32::LoadFromFile open every format LoadPicture opens, telling as
// LoadPictureOrTell does.
void RegisterPictureDecoder();

}  // namespace overlay
