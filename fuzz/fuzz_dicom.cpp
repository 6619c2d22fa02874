// The decoder process's DICOM reading (DecodeWithDcmtk) on random and mutated DICOM files: a
// picture it hands on lies within the size limit and is converted whole, and its facts are what
// the parent's check of the reply accepts (so a decoder never answers with a reply the parent
// must refuse); a file that gives no picture gives no facts either.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_common.h"
#include "overlay/decode/decoder_protocol.h"
#include "overlay/decode/picture_import_p.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  namespace dec = overlay::decoder;
  const std::string path = fuzz::ScratchDir() + "picture.dcm";
  fuzz::WriteFile(path, std::string_view(reinterpret_cast<const char*>(Data), Size));
  std::uint64_t converted = 0;
  const overlay::detail::TDecodeResult result =
      overlay::detail::DecodeWithDcmtk(path, [&](FIBITMAP* Dib, unsigned Width, unsigned Height) {
        const auto bitmap = overlay::detail::BitmapFromFreeImage(Dib, Width, Height);
        converted = std::uint64_t(bitmap->Width()) * std::uint64_t(bitmap->Height());
        return true;
      });
  const overlay::TPictureFacts& facts = result.Facts;
  if (result.Status == overlay::detail::TDecodeStatus::Ok) {
    const std::uint64_t pixels = result.Width * result.Height;
    fuzz::Check(pixels > 0 && pixels <= dec::MaxPixels, "a picture outside the size limit");
    fuzz::Check(converted == pixels, "the picture handed on is not the one reported");
    // The reply the decoder process would send, as the parent checks it.
    const dec::TReply reply =
        dec::PictureReply(std::uint32_t(result.Width), std::uint32_t(result.Height), 0, facts);
    const std::vector<std::uint8_t> bytes = dec::EncodeReply(reply);
    dec::TReply read;
    fuzz::Check(facts.Frames >= 1 &&
                    dec::ParseDecoderReply(bytes.data(), bytes.size(),
                                           dec::TRequestKind::DecodePicture, reply.Bytes, &read),
                "facts the reply's check refuses");
  } else {
    fuzz::Check(facts.PixelSpacingRow == 0 && facts.Frames == 0 && facts.StudyInstanceUid.empty() &&
                    facts.PatientName.empty() && facts.PatientId.empty() &&
                    facts.Lossy == overlay::TLossyCompression::None &&
                    facts.SpacingSource == overlay::TSpacingSource::None,
                "facts without a picture");
  }
  return 0;
}
