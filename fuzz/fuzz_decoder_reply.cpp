// The parent's check of the picture decoder process's messages: ParseDecoderReply and
// ParseObjectReply (and ParseRequest, the decoder's side) on random bytes. The first input byte
// picks the request kind the reply answers, the next eight the length of the shared memory that
// came with it, the rest is the message. Whatever is accepted must satisfy every limit the
// parent relies on before it reads shared memory, and must encode back to the very bytes it was
// read from.
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz/fuzz_common.h"
#include "overlay/decode/decoder_protocol.h"

namespace {

using fuzz::Check;
namespace dec = overlay::decoder;

void CheckReply(const dec::TReply& R, dec::TRequestKind Expected, std::uint64_t MemoryLength) {
  const std::uint64_t pixels = std::uint64_t(R.Width) * std::uint64_t(R.Height);
  // A DICOM picture's facts: within their limits always, and only with a decoded picture.
  Check(dec::ValidPixelSpacing(R.PixelSpacingRow, R.PixelSpacingColumn) &&
            R.Frames <= dec::MaxFrames && dec::ValidUid(R.StudyInstanceUid) &&
            R.SpacingSource <= dec::MaxSpacingSource && R.Lossy <= dec::MaxLossy &&
            R.PatientName.size() <= dec::MaxPatientTextLength &&
            R.PatientId.size() <= dec::MaxPatientTextLength &&
            R.PatientBirthDate.size() <= dec::MaxPatientTextLength,
        "a DICOM fact outside its limits");
  Check((R.PixelSpacingRow != 0) == (R.SpacingSource == 1 || R.SpacingSource == 2),
        "a spacing without its source, or a source without its spacing");
  const bool facts = R.PixelSpacingRow != 0 || R.PixelSpacingColumn != 0 || R.Frames != 0 ||
                     !R.StudyInstanceUid.empty() || R.DateTaken != 0 || R.SpacingSource != 0 ||
                     R.Lossy != 0 || !R.PatientName.empty() || !R.PatientId.empty() ||
                     !R.PatientBirthDate.empty();
  Check(
      !facts || (R.Status == dec::TReplyStatus::Ok && Expected == dec::TRequestKind::DecodePicture),
      "facts without a decoded picture");
  switch (R.Status) {
    case dec::TReplyStatus::Ok:
      if (Expected == dec::TRequestKind::DecodePicture) {
        Check(R.Width > 0 && R.Height > 0 && pixels <= dec::MaxPixels,
              "picture size outside limits");
        Check(R.Bytes == pixels * 4 && R.Bytes <= MemoryLength, "picture bytes do not fit");
        Check(R.Orientation <= dec::MaxOrientation, "an orientation EXIF does not define");
      } else {
        Check(R.Bytes > 0 && R.Bytes <= MemoryLength && R.Bytes <= dec::MaxEncodedBytes,
              "encoded bytes do not fit");
        Check(R.Width == 0 && R.Height == 0 && R.Orientation == 0,
              "an encode reply with a size or an orientation");
      }
      break;
    case dec::TReplyStatus::TooLarge:
      Check(pixels > dec::MaxPixels && R.Bytes == 0 && R.Orientation == 0,
            "TooLarge for a size within limits");
      break;
    case dec::TReplyStatus::CannotDecode:
    case dec::TReplyStatus::NoMemory:
    case dec::TReplyStatus::NotPicture:
      Check(R.Width == 0 && R.Height == 0 && R.Bytes == 0 && R.Orientation == 0,
            "a failure reply carries values");
      break;
    default:
      fuzz::Fail("an unknown status accepted");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  if (Size < 9) return 0;
  const dec::TRequestKind expected =
      Data[0] & 1 ? dec::TRequestKind::DecodePicture : dec::TRequestKind::EncodePicture;
  std::uint64_t memory = 0;
  std::memcpy(&memory, Data + 1, 8);
  // Small lengths half of the time, so that accepted replies are not only those of huge maps.
  if (Data[0] & 2) memory &= 0xFFFFF;
  // The message alone in a block of its own size, so that any read past it is caught.
  const std::vector<std::uint8_t> message(Data + 9, Data + Size);

  dec::TReply reply;
  if (dec::ParseDecoderReply(message.data(), message.size(), expected, memory, &reply)) {
    CheckReply(reply, expected, memory);
    Check(dec::EncodeReply(reply) == message, "an accepted reply encodes to other bytes");
  }
  dec::TObjectReply object;
  if (dec::ParseObjectReply(message.data(), message.size(), &object)) {
    for (const std::string* uid :
         {&object.SopClassUid, &object.SopInstanceUid, &object.TransferSyntaxUid}) {
      Check(dec::ValidUid(*uid) && uid->empty() == (object.Status != dec::TObjectStatus::Ok),
            "an object reply's UID outside its limits");
    }
    Check(dec::EncodeObjectReply(object) == message,
          "an accepted object reply encodes to other bytes");
  }
  dec::TRequest request;
  if (dec::ParseRequest(message.data(), message.size(), &request)) {
    Check(dec::EncodeRequest(request) == message, "an accepted request encodes to other bytes");
    if (request.Kind != dec::TRequestKind::EncodePicture)
      Check(!request.Path.empty() && request.Path.size() <= dec::MaxPathLength &&
                request.Path.find('\0') == std::string::npos,
            "an accepted path outside the limits");
    if (request.Kind == dec::TRequestKind::EncodePicture)
      Check(request.TextKey.size() <= dec::MaxTextKeyLength &&
                request.Text.size() <= dec::MaxTextLength &&
                request.TextKey.empty() == request.Text.empty() &&
                message.size() <= dec::MaxRequestSize,
            "an accepted text outside the limits");
  }
  return 0;
}
