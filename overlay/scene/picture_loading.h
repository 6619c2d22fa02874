// Loading a picture for the user: the import (overlay/decode/picture_import.h) says why a picture
// did not load, and these tell the user, once.
#pragma once

#include <memory>
#include <string>

#include "overlay/decode/picture_import.h"
#include "raster/core.h"

namespace overlay {

// LoadPicture, showing its reason when it has one ("Unknown file format *" + extension, the
// too-large text); a missing or undecodable file gives nullptr quietly.
std::unique_ptr<raster::TBitmap32> LoadPictureAndTell(
    const std::string& Path, TPictureOrientation Orientation = TPictureOrientation::AsStored);

// LoadPicture for a picture the user asked for by name and must hear about: every failure shows
// exactly one message, LoadPicture's reason, or PictureNotLoadedText where it has none.
std::unique_ptr<raster::TBitmap32> LoadPictureOrTell(
    const std::string& Path, TPictureOrientation Orientation = TPictureOrientation::AsStored);

// Makes TBitmap32::LoadFromFile open every format LoadPicture opens, telling as
// LoadPictureAndTell does.
void RegisterPictureDecoder();

}  // namespace overlay
