// FreeImage in a process of its own. Some damaged files make FreeImage crash, abort or never
// finish; in Tessaly's process that would end the program and lose the user's alignment. The
// decoder program tessaly-decode, beside the running program, therefore does all of FreeImage's
// work on untrusted input; Tessaly only reads its checked answer.
//
// One decoder process per request: started with posix_spawn (always two ahead, each new one
// started while a request is decoded, so that its libraries are loaded when its request comes),
// it gets one end of a SOCK_SEQPACKET socket pair as its file descriptor 3 and nothing else of
// ours.
// The request and the reply are one message each (overlay/decoder_protocol.h); the pixels travel in
// a memfd, sealed against shrinking, that the decoder fills in the final TBitmap32 layout and sends
// with its reply (SCM_RIGHTS); it is read into the bitmap in one copy and kept for the next
// request, whose decoder fills it again. A decoder that crashes, aborts, answers nonsense or runs
// past its time is killed and reaped; its request then gives no result, like a file that cannot be
// decoded.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "overlay/decode/decoder_protocol.h"
#include "overlay/decode/picture_import.h"
#include "platform/status.h"
#include "raster/core.h"

namespace overlay {

enum class TIsolatedStatus {
  Picture,     // Bitmap holds the picture
  Damaged,     // the decoder could not decode it, or crashed, aborted, hung or answered nonsense
  NotPicture,  // the decoder found the contents not of the type the extension names
  NoDecoder,   // no decoder could be started (or the path cannot be sent to one)
  TooLarge,    // Width x Height exceed MaxPicturePixels
  NoMemory,    // the memory for the pixels could not be had (in the decoder or here)
};

struct TIsolatedPicture {
  TIsolatedStatus Status = TIsolatedStatus::Damaged;
  std::uint64_t Width = 0, Height = 0;  // Picture and TooLarge
  std::unique_ptr<raster::TBitmap32> Bitmap;
  // Picture: the file's EXIF orientation tag as the decoder read it, 1..8, or 0 for none. The
  // pixels are as stored; turning them is the caller's choice.
  int Orientation = 0;
  // Picture: what the file says besides its pixels, as the decoder read it and the reply's
  // checks let it through.
  TPictureFacts Facts;
};

// Decodes the picture file at Path (its type by its extension) in a decoder process. Decides
// nothing about the file itself: the caller checks that it is a regular file with an extension
// the import loads. Never raises.
TIsolatedPicture DecodePictureIsolated(const std::string& Path);

// What became of a request to read a DICOM object (decoder::TRequestKind::ReadDicomObject).
enum class TObjectCheck {
  Answered,   // Reply holds the decoder's checked answer: the object, or why the file is none
  Died,       // the decoder ended without an answer (by Signal when it is not 0), or answered
              // nonsense: the file led the parser astray
  TimedOut,   // no answer within DecoderTimeoutSeconds(); the decoder was killed
  NoDecoder,  // no decoder could be started (or the path cannot be sent to one)
};

struct TIsolatedObject {
  TObjectCheck Check = TObjectCheck::NoDecoder;
  decoder::TObjectReply Reply;
  int Signal = 0;
};

// Reads the DICOM file at Path in a decoder process, which loads its whole data set within the
// protocol's bounds (overlay/decode/dicom_object.h). Never raises.
TIsolatedObject ReadDicomObjectIsolated(const std::string& Path);

// What a file image made from pixels carries besides them: its format, its resolution in dots
// per metre (0: unknown, as decoder::TRequest says), and a text under a keyword (in a PNG a text
// chunk; none when both are empty; limits as decoder::TRequest's).
struct TEncodeSettings {
  decoder::TEncodeFormat Format = decoder::TEncodeFormat::Jpeg;
  std::uint32_t DotsPerMeterX = 0, DotsPerMeterY = 0;
  std::string TextKey, Text;
};

// Encodes Width x Height 24-bit pixels (B, G, R bytes, top row first, Pitch bytes apart) as a
// file image with FreeImage's writer of the format at its default settings, in a decoder
// process. Nothing of any file goes with it: no EXIF, no GPS, only the pixels and the settings.
// The file image's bytes, or a failure without a reason when none came of it.
platform::TResult<std::string> EncodePictureIsolated(const std::uint8_t* Pixels,
                                                     std::uint32_t Width, std::uint32_t Height,
                                                     std::uint32_t Pitch,
                                                     const TEncodeSettings& Settings);
// The same for a bitmap's colours (alpha dropped).
platform::TResult<std::string> EncodePictureIsolated(const raster::TBitmap32& Picture,
                                                     const TEncodeSettings& Settings);
// A JPEG (the print's captures) with the resolution as given.
platform::TResult<std::string> EncodeJpegIsolated(const std::uint8_t* Pixels, std::uint32_t Width,
                                                  std::uint32_t Height, std::uint32_t Pitch,
                                                  std::uint32_t DotsPerMeterX,
                                                  std::uint32_t DotsPerMeterY);

// The decoder program: the one set by SetDecoderProgram, else tessaly-decode in
// platform::ProgramDirectory(). When it cannot be started, no picture can be opened; one line
// on the error stream says so, once per process.
std::string DecoderProgram();
// Makes the decoder requests run Path instead (tests and benchmarks, whose programs do not lie
// beside the decoder); an empty Path restores the default. A decoder waiting in advance for
// the former program is ended.
void SetDecoderProgram(std::string Path);

// How many decoders wait, started in advance, for the next requests: two, so that the two
// pictures of a comparison, loaded at the same time, both find one ready.
constexpr int WaitingDecoders = 2;

// Starts the decoders for the next requests now, unless they wait already (a program calls
// this at its start, so that the first pictures do not wait for the decoder's libraries
// either).
void StartDecoderInAdvance();

// How long one decoder process may take, in seconds: TESSALY_DECODE_TIMEOUT from the
// environment when it holds a positive number (fractions allowed), else 30. Read per request.
double DecoderTimeoutSeconds();

}  // namespace overlay
