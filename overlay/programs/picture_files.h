// Picture files for the command-line tools: reading through the program's picture import, and
// writing a PNG with Qt's image writer.
#pragma once

#include <memory>
#include <string>

#include "raster/core.h"

namespace overlay {

// Writes Picture (alpha dropped) as an RGB PNG. The file appears complete or not at all: it is
// written under a temporary name in the target directory and renamed. Returns false and sets
// Error when it cannot.
bool WritePngAtomically(const raster::TBitmap32& Picture, const std::string& Path,
                        std::string& Error);

// Reads a picture for a command-line tool through the program's picture import; Which names it
// in the message ("picture 1"). Null, with Error set, when it is no file or cannot be decoded.
std::unique_ptr<raster::TBitmap32> ReadPictureFile(const std::string& Which,
                                                   const std::string& Path, std::string& Error);

}  // namespace overlay
