#include "overlay/decode/decoder_protocol.h"

#include <bit>
#include <cmath>
#include <utility>

namespace overlay::decoder {

namespace {

constexpr std::uint32_t RequestMagic = 0x31515354u;  // "TSQ1" in memory
constexpr std::uint32_t ReplyMagic = 0x31525354u;    // "TSR1" in memory
constexpr std::uint32_t ObjectMagic = 0x314F5354u;   // "TSO1" in memory
// Far more threads than a machine has is a damaged request, not a wish.
constexpr std::uint32_t MaxThreads = 256;

// Fields are little-endian whatever the processor, so that the format is the same everywhere
// the bytes are looked at (a fuzz corpus included).
void Put32(std::vector<std::uint8_t>& Out, std::uint32_t V) {
  for (int i = 0; i < 4; ++i) Out.push_back(std::uint8_t(V >> (8 * i)));
}
void Put64(std::vector<std::uint8_t>& Out, std::uint64_t V) {
  for (int i = 0; i < 8; ++i) Out.push_back(std::uint8_t(V >> (8 * i)));
}
std::uint32_t Get32(const std::uint8_t* P) {
  return std::uint32_t(P[0]) | std::uint32_t(P[1]) << 8 | std::uint32_t(P[2]) << 16 |
         std::uint32_t(P[3]) << 24;
}
std::uint64_t Get64(const std::uint8_t* P) {
  return std::uint64_t(Get32(P)) | std::uint64_t(Get32(P + 4)) << 32;
}

bool KnownFormat(std::uint32_t Format) {
  return Format == std::uint32_t(TEncodeFormat::Jpeg) ||
         Format == std::uint32_t(TEncodeFormat::Png) ||
         Format == std::uint32_t(TEncodeFormat::Tiff);
}

// A PNG keyword's rules in their strictest form: printable ASCII, no space at either end (the
// chunk's own rules also forbid two spaces in a row; a key of ours has none at all).
bool ValidTextKey(const std::string& Key) {
  if (Key.size() > MaxTextKeyLength) return false;
  for (const char c : Key) {
    if (c < '!' || c > '~') return false;
  }
  return true;
}

bool ValidText(const std::string& Key, const std::string& Text) {
  return ValidTextKey(Key) && Text.size() <= MaxTextLength &&
         Text.find('\0') == std::string::npos && (Key.empty() == Text.empty());
}

}  // namespace

std::vector<std::uint8_t> EncodeRequest(const TRequest& Request) {
  std::vector<std::uint8_t> out;
  Put32(out, RequestMagic);
  Put32(out, std::uint32_t(Request.Kind));
  Put32(out, Request.Threads);
  if (Request.Kind != TRequestKind::EncodePicture) {  // a file's path
    Put32(out, std::uint32_t(Request.Path.size()));
    out.insert(out.end(), Request.Path.begin(), Request.Path.end());
  } else {
    Put32(out, std::uint32_t(EncodeRequestFixedSize - RequestHeaderSize + Request.TextKey.size() +
                             Request.Text.size()));
    for (std::uint32_t v :
         {Request.Width, Request.Height, Request.Pitch, Request.DotsPerMeterX,
          Request.DotsPerMeterY, std::uint32_t(Request.Format),
          std::uint32_t(Request.TextKey.size()), std::uint32_t(Request.Text.size())}) {
      Put32(out, v);
    }
    out.insert(out.end(), Request.TextKey.begin(), Request.TextKey.end());
    out.insert(out.end(), Request.Text.begin(), Request.Text.end());
  }
  return out;
}

std::uint64_t EncodeRequestBytes(const TRequest& Request) {
  return std::uint64_t(Request.Pitch) * Request.Height;
}

bool ParseRequest(const std::uint8_t* Data, std::size_t Size, TRequest* Request) {
  if (Data == nullptr || Request == nullptr || Size < RequestHeaderSize) return false;
  if (Get32(Data) != RequestMagic) return false;
  TRequest r;
  const std::uint32_t kind = Get32(Data + 4);
  r.Threads = Get32(Data + 8);
  const std::uint32_t length = Get32(Data + 12);
  if (r.Threads == 0 || r.Threads > MaxThreads) return false;
  if (length != Size - RequestHeaderSize) return false;
  const std::uint8_t* payload = Data + RequestHeaderSize;
  if (kind == std::uint32_t(TRequestKind::DecodePicture) ||
      kind == std::uint32_t(TRequestKind::ReadDicomObject)) {
    r.Kind = TRequestKind(kind);
    if (length == 0 || length > MaxPathLength) return false;
    r.Path.assign(reinterpret_cast<const char*>(payload), length);
    if (r.Path.find('\0') != std::string::npos) return false;
  } else if (kind == std::uint32_t(TRequestKind::EncodePicture)) {
    r.Kind = TRequestKind::EncodePicture;
    if (Size < EncodeRequestFixedSize) return false;
    r.Width = Get32(payload);
    r.Height = Get32(payload + 4);
    r.Pitch = Get32(payload + 8);
    r.DotsPerMeterX = Get32(payload + 12);
    r.DotsPerMeterY = Get32(payload + 16);
    const std::uint32_t format = Get32(payload + 20);
    const std::uint32_t keyLength = Get32(payload + 24), textLength = Get32(payload + 28);
    if (r.Width == 0 || r.Height == 0 || std::uint64_t(r.Width) * r.Height > MaxPixels) {
      return false;
    }
    if (std::uint64_t(r.Pitch) < std::uint64_t(r.Width) * 3) return false;
    if (!KnownFormat(format)) return false;
    r.Format = TEncodeFormat(format);
    // In 64 bits, so that no pair of lengths can wrap to the size there is.
    if (std::uint64_t(EncodeRequestFixedSize) + keyLength + textLength != Size) return false;
    const char* text = reinterpret_cast<const char*>(Data + EncodeRequestFixedSize);
    r.TextKey.assign(text, keyLength);
    r.Text.assign(text + keyLength, textLength);
    if (!ValidText(r.TextKey, r.Text)) return false;
  } else {
    return false;
  }
  *Request = std::move(r);
  return true;
}

std::vector<std::uint8_t> EncodeReply(const TReply& Reply) {
  std::vector<std::uint8_t> out;
  Put32(out, ReplyMagic);
  Put32(out, std::uint32_t(Reply.Status));
  Put32(out, Reply.Width);
  Put32(out, Reply.Height);
  Put64(out, Reply.Bytes);
  Put32(out, Reply.Orientation);
  Put64(out, Reply.DateTaken);
  // The spacing as its IEEE 754 bits, so that it arrives exactly as the decoder read it.
  Put64(out, std::bit_cast<std::uint64_t>(Reply.PixelSpacingRow));
  Put64(out, std::bit_cast<std::uint64_t>(Reply.PixelSpacingColumn));
  Put32(out, Reply.Frames);
  Put32(out, Reply.SpacingSource);
  Put32(out, Reply.Lossy);
  const std::string* texts[] = {&Reply.StudyInstanceUid, &Reply.PatientName, &Reply.PatientId,
                                &Reply.PatientBirthDate};
  for (const std::string* text : texts) Put32(out, std::uint32_t(text->size()));
  for (const std::string* text : texts) out.insert(out.end(), text->begin(), text->end());
  return out;
}

bool ValidDateTaken(std::uint64_t Value) {
  if (Value == 0) return true;
  const std::uint64_t second = Value % 100, minute = Value / 100 % 100, hour = Value / 10000 % 100;
  const std::uint64_t day = Value / 1000000 % 100, month = Value / 100000000 % 100;
  const std::uint64_t year = Value / 10000000000ULL;
  return year >= 1800 && year <= 9999 && month >= 1 && month <= 12 && day >= 1 && day <= 31 &&
         hour < 24 && minute < 60 && second < 60;
}

bool ValidPixelSpacing(double Row, double Column) {
  if (Row == 0 && Column == 0) return true;
  return std::isfinite(Row) && std::isfinite(Column) && Row > 0 && Column > 0;
}

bool ValidUid(const std::string& Uid) {
  if (Uid.size() > MaxUidLength) return false;
  for (const char c : Uid) {
    if (c != '.' && (c < '0' || c > '9')) return false;
  }
  return true;
}

bool ParseDecoderReply(const std::uint8_t* Data, std::size_t Size, TRequestKind Expected,
                       std::uint64_t MemoryLength, TReply* Reply) {
  if (Data == nullptr || Reply == nullptr || Size < ReplySize || Size > MaxReplySize) {
    return false;
  }
  if (Get32(Data) != ReplyMagic) return false;
  TReply r;
  const std::uint32_t status = Get32(Data + 4);
  r.Width = Get32(Data + 8);
  r.Height = Get32(Data + 12);
  r.Bytes = Get64(Data + 16);
  r.Orientation = Get32(Data + 24);
  r.DateTaken = Get64(Data + 28);
  r.PixelSpacingRow = std::bit_cast<double>(Get64(Data + 36));
  r.PixelSpacingColumn = std::bit_cast<double>(Get64(Data + 44));
  r.Frames = Get32(Data + 52);
  r.SpacingSource = Get32(Data + 56);
  r.Lossy = Get32(Data + 60);
  std::string* texts[] = {&r.StudyInstanceUid, &r.PatientName, &r.PatientId, &r.PatientBirthDate};
  const std::size_t limits[] = {MaxUidLength, MaxPatientTextLength, MaxPatientTextLength,
                                MaxPatientTextLength};
  // Each length within its limit before they are added, so that no sum can wrap.
  std::size_t at = ReplySize;
  for (int k = 0; k < 4; ++k) {
    const std::uint32_t length = Get32(Data + 64 + 4 * k);
    if (length > limits[k] || length > Size - at) return false;
    texts[k]->assign(reinterpret_cast<const char*>(Data + at), length);
    at += length;
  }
  if (at != Size) return false;
  if (!ValidDateTaken(r.DateTaken) || !ValidUid(r.StudyInstanceUid)) return false;
  if (!ValidPixelSpacing(r.PixelSpacingRow, r.PixelSpacingColumn) || r.Frames > MaxFrames) {
    return false;
  }
  // A spacing the file gave (1, 2) has one; none (0) and the detector's alone (3) have none.
  const bool spaced = r.PixelSpacingRow != 0;
  if (r.SpacingSource > MaxSpacingSource || r.Lossy > MaxLossy ||
      spaced != (r.SpacingSource == 1 || r.SpacingSource == 2)) {
    return false;
  }
  // What only a decoded picture carries.
  const bool facts = r.DateTaken != 0 || spaced || r.Frames != 0 || !r.StudyInstanceUid.empty() ||
                     r.SpacingSource != 0 || r.Lossy != 0 || !r.PatientName.empty() ||
                     !r.PatientId.empty() || !r.PatientBirthDate.empty();
  // Two 32-bit factors cannot overflow 64 bits.
  const std::uint64_t pixels = std::uint64_t(r.Width) * r.Height;
  switch (status) {
    case std::uint32_t(TReplyStatus::Ok):
      r.Status = TReplyStatus::Ok;
      if (Expected == TRequestKind::DecodePicture) {
        if (r.Width == 0 || r.Height == 0 || pixels > MaxPixels) return false;
        if (r.Bytes != pixels * 4 || r.Bytes > MemoryLength) return false;
        if (r.Orientation > MaxOrientation) return false;
      } else if (Expected == TRequestKind::EncodePicture) {
        if (r.Width != 0 || r.Height != 0 || r.Orientation != 0 || facts) return false;
        if (r.Bytes == 0 || r.Bytes > MemoryLength || r.Bytes > MaxEncodedBytes) return false;
      } else {
        return false;
      }
      break;
    case std::uint32_t(TReplyStatus::TooLarge):
      r.Status = TReplyStatus::TooLarge;
      if (Expected != TRequestKind::DecodePicture || pixels <= MaxPixels || r.Bytes != 0 ||
          r.Orientation != 0 || facts) {
        return false;
      }
      break;
    case std::uint32_t(TReplyStatus::CannotDecode):
    case std::uint32_t(TReplyStatus::NoMemory):
    case std::uint32_t(TReplyStatus::NotPicture):
      r.Status = TReplyStatus(status);
      if (r.Width != 0 || r.Height != 0 || r.Bytes != 0 || r.Orientation != 0 || facts) {
        return false;
      }
      break;
    default:
      return false;
  }
  *Reply = std::move(r);
  return true;
}

std::vector<std::uint8_t> EncodeObjectReply(const TObjectReply& Reply) {
  std::vector<std::uint8_t> out;
  Put32(out, ObjectMagic);
  Put32(out, std::uint32_t(Reply.Status));
  for (const std::string* uid :
       {&Reply.SopClassUid, &Reply.SopInstanceUid, &Reply.TransferSyntaxUid}) {
    Put32(out, std::uint32_t(uid->size()));
  }
  for (const std::string* uid :
       {&Reply.SopClassUid, &Reply.SopInstanceUid, &Reply.TransferSyntaxUid}) {
    out.insert(out.end(), uid->begin(), uid->end());
  }
  return out;
}

bool ParseObjectReply(const std::uint8_t* Data, std::size_t Size, TObjectReply* Reply) {
  if (Data == nullptr || Reply == nullptr || Size < ObjectReplySize || Size > MaxObjectReplySize ||
      Get32(Data) != ObjectMagic) {
    return false;
  }
  const std::uint32_t status = Get32(Data + 4);
  if (status > std::uint32_t(TObjectStatus::TooLarge)) return false;
  TObjectReply r;
  r.Status = TObjectStatus(status);
  std::size_t at = ObjectReplySize;
  int field = 0;
  for (std::string* uid : {&r.SopClassUid, &r.SopInstanceUid, &r.TransferSyntaxUid}) {
    const std::uint32_t length = Get32(Data + 8 + 4 * field++);
    if (length > MaxUidLength || length > Size - at) return false;
    uid->assign(reinterpret_cast<const char*>(Data + at), length);
    at += length;
    if (!ValidUid(*uid) || uid->empty() != (r.Status != TObjectStatus::Ok)) return false;
  }
  if (at != Size) return false;
  *Reply = std::move(r);
  return true;
}

TReply PictureReply(std::uint32_t Width, std::uint32_t Height, std::uint32_t Orientation,
                    const overlay::TPictureFacts& Facts) {
  TReply reply{TReplyStatus::Ok,
               Width,
               Height,
               std::uint64_t(Width) * Height * 4,
               Orientation,
               Facts.DateTaken,
               Facts.PixelSpacingRow,
               Facts.PixelSpacingColumn,
               Facts.Frames,
               Facts.StudyInstanceUid};
  reply.SpacingSource = std::uint32_t(Facts.SpacingSource);
  reply.Lossy = std::uint32_t(Facts.Lossy);
  reply.PatientName = Facts.PatientName;
  reply.PatientId = Facts.PatientId;
  reply.PatientBirthDate = Facts.PatientBirthDate;
  return reply;
}

}  // namespace overlay::decoder
