// Picture files for the command-line tools: reading through the program's picture import, and
// writing a PNG with Qt's image writer.
#pragma once

#include <QImage>
#include <memory>
#include <string>
#include <vector>

#include "platform/status.h"
#include "raster/core.h"

namespace overlay {

// Writes Picture (alpha dropped) as an RGB PNG through WriteImageAtomically.
platform::TStatus WritePngAtomically(const raster::TBitmap32& Picture, const std::string& Path);

// Writes Image in Format (Qt's name: "PNG", "JPEG" ...) as every picture output is written: whole
// or not at all (platform::WriteFileAtomically), 0600, a link at Path replaced and never
// written through. A failure's reason says why it cannot be written.
platform::TStatus WriteImageAtomically(const QImage& Image, const std::string& Path,
                                       const char* Format);

// Reads a picture for a command-line tool through the program's picture import; Which names it
// in the reason ("picture 1"). A failure when it is no file or cannot be decoded, its reason one
// line for standard error that carries the import's own (an unknown type, a picture too large)
// and shows nothing else. A picture's notes (a multi-frame file) are told as the window tells
// them.
platform::TResult<std::unique_ptr<raster::TBitmap32>> ReadPictureFile(const std::string& Which,
                                                                      const std::string& Path);

// Whether a tool may write its Outputs, checked before any picture is decoded so that a typo
// costs no work (the write itself can still fail and is checked again): each one's folder
// exists, none is a folder, and none is one of the Inputs (the same file by device and inode,
// whatever the names: another spelling, a hard link, a link to it), which writing it would
// replace.
platform::TStatus CheckOutputPlaces(const std::vector<std::string>& Outputs,
                                    const std::vector<std::string>& Inputs);

}  // namespace overlay
