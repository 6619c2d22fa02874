// The messages between Tessaly and its picture decoder process, tessaly-decode. Both sides run
// on the same machine from the same build, but the parent trusts nothing the decoder says: a
// decoder that FreeImage has led astray may answer anything, so every reply is checked here
// before a single byte of shared memory is read. No Qt, no processes, no system calls: plain
// functions over bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "overlay/decode/picture_import.h"

namespace overlay::decoder {

// What the parent asks for. Each request travels as one message of a SOCK_SEQPACKET socket.
enum class TRequestKind : std::uint32_t {
  // Decode the picture file named in the request into 32-bit pixels. The request may carry the
  // memfd of an earlier reply for the decoder to fill again.
  DecodePicture = 1,
  // Encode the 24-bit pixels of the shared memory sent with the request as a file image of the
  // format the request names (the print's JPEG captures, the exported pictures).
  EncodePicture = 2,
  // Read the DICOM file named in the request as the PACS client sends it (TObjectReply): its
  // whole data set loaded, within MaxObjectNesting and MaxObjectElements. DCMTK's parser
  // recurses once per nested sequence, so a file can end the process that parses it; the PACS
  // client parses a file itself only after this request said it is whole.
  ReadDicomObject = 3,
};

// The file formats an encode request may ask for.
enum class TEncodeFormat : std::uint32_t { Jpeg = 1, Png = 2, Tiff = 3 };

enum class TReplyStatus : std::uint32_t {
  Ok = 0,
  CannotDecode = 1,  // no picture: damaged, or of a type that cannot be converted
  TooLarge = 2,      // Width x Height exceed the pixel limit (known from the header or the file)
  NoMemory = 3,      // the decoder could not get the memory for the result
  NotPicture = 4,    // no picture: the file's contents are not of the type its extension names
};

// The largest picture the decoder hands over (2^28 pixels, 1 GiB of 32-bit pixels).
constexpr std::uint64_t MaxPixels = std::uint64_t(1) << 28;
// A request names a file of at most this many bytes.
constexpr std::size_t MaxPathLength = 4096;
// An encoded file image larger than this is not believed (the largest picture, 2^28 pixels of
// 3 bytes, fits with room to spare even when its compression gains nothing).
constexpr std::uint64_t MaxEncodedBytes = std::uint64_t(1) << 30;
// An encode request's text: a keyword of 1..79 printable ASCII characters (as a PNG text
// chunk's keyword may be, with no space at either end), and a text of at most MaxTextLength
// bytes without a NUL; both empty for none.
constexpr std::size_t MaxTextKeyLength = 79;
constexpr std::size_t MaxTextLength = 2048;
// A DICOM picture's Study Instance UID: digits and dots, at most 64 of them (its value
// representation's limit).
constexpr std::size_t MaxUidLength = 64;
// A picture of more frames than this is not believed (the count of a DICOM file is a 32-bit
// text field in principle; a real multi-frame photograph has a few hundred at most).
constexpr std::uint32_t MaxFrames = 1u << 24;
// A DICOM picture's Patient's Name, Patient ID and Patient's Birth Date, each at most this many
// bytes as the decoder passes them on (a longer value is cut there: a valid one of these is far
// shorter, so a cut one is refused wherever it is checked as a DICOM value).
constexpr std::size_t MaxPatientTextLength = 1024;
// Where a DICOM picture's spacing came from (TPictureFacts::SpacingSource), and how its pixels
// were compressed on their way (TPictureFacts::Lossy): the largest value of each.
constexpr std::uint32_t MaxSpacingSource = 3;
constexpr std::uint32_t MaxLossy = 4;
// The fixed sizes of the messages (a decode request adds its path, an encode request its text,
// a reply the study's UID and the patient's texts).
constexpr std::size_t ReplySize = 80;
constexpr std::size_t MaxReplySize = ReplySize + MaxUidLength + 3 * MaxPatientTextLength;
constexpr std::size_t RequestHeaderSize = 16;
constexpr std::size_t EncodeRequestFixedSize = RequestHeaderSize + 32;
// The longest request of either kind.
constexpr std::size_t MaxRequestSize = RequestHeaderSize + MaxPathLength;
static_assert(EncodeRequestFixedSize + MaxTextKeyLength + MaxTextLength <= MaxRequestSize);

struct TRequest {
  TRequestKind Kind = TRequestKind::DecodePicture;
  // The engine threads the decoder may convert with (as many as the parent's engine uses).
  std::uint32_t Threads = 1;
  // DecodePicture and ReadDicomObject: the file.
  std::string Path;
  // EncodePicture: the pixels in the shared memory, B, G, R bytes, top row first, Pitch bytes
  // from one row to the next; the resolution in dots per metre, as a BMP header carries it (0:
  // none in a PNG, the customary 72 dots per inch in a TIFF or JPEG, which must state one); the
  // format; and a text the file is to carry under TextKey (a PNG text chunk), none when both
  // are empty.
  std::uint32_t Width = 0, Height = 0, Pitch = 0;
  std::uint32_t DotsPerMeterX = 0, DotsPerMeterY = 0;
  TEncodeFormat Format = TEncodeFormat::Jpeg;
  std::string TextKey, Text;
};

struct TReply {
  TReplyStatus Status = TReplyStatus::CannotDecode;
  // Ok for a picture and TooLarge: its size. Zero otherwise.
  std::uint32_t Width = 0, Height = 0;
  // Ok: the bytes of the shared memory sent with the reply that hold the result (the pixels,
  // Width * Height * 4 of them, rows top-down without padding, as a TBitmap32 keeps them; or
  // the encoded file image). Zero otherwise.
  std::uint64_t Bytes = 0;
  // Ok for a picture: the EXIF orientation tag (0x0112) of the file, 1..8, or 0 when it has
  // none. Zero otherwise. Reported rather than applied, so that the pixels stay as stored and
  // no EXIF parser runs in the parent; the parent turns the picture when its settings say so.
  std::uint32_t Orientation = 0;
  // Ok for a picture: when it was taken by its EXIF DateTimeOriginal, as the decimal digits
  // YYYYMMDDhhmmss (20250812140305), or 0 when it has none that reads as a date. Zero otherwise.
  std::uint64_t DateTaken = 0;
  // Ok for a picture: a DICOM file's distance of the pixels' centres in millimetres, rows apart
  // and columns apart (both finite and positive), or both 0 when it gives none; its number of
  // frames (1..MaxFrames, of which the pixels are the first's), or 0 for a format that has no
  // frames; and its Study Instance UID (ValidUid), empty for none. Zeros and empty otherwise.
  double PixelSpacingRow = 0, PixelSpacingColumn = 0;
  std::uint32_t Frames = 0;
  std::string StudyInstanceUid = {};
  // Ok for a picture: where the spacing came from (overlay::TSpacingSource, at most
  // MaxSpacingSource; 1 and 2 with a spacing, 0 and 3 without one), the lossy compression its
  // pixels went through (overlay::TLossyCompression, at most MaxLossy), and a DICOM file's
  // patient as it stores it (each at most MaxPatientTextLength bytes, empty for none). Zeros
  // and empty otherwise.
  std::uint32_t SpacingSource = 0;
  std::uint32_t Lossy = 0;
  std::string PatientName = {}, PatientId = {}, PatientBirthDate = {};
};

// Whether Value is 0 or YYYYMMDDhhmmss of a real time of day and a day 1..31 of a month 1..12
// of a year 1800..9999.
bool ValidDateTaken(std::uint64_t Value);

// Whether Row and Column are both 0, or both finite and positive.
bool ValidPixelSpacing(double Row, double Column);
// Whether Uid has at most MaxUidLength characters, each a digit or a dot.
bool ValidUid(const std::string& Uid);

// The largest orientation value EXIF defines.
constexpr std::uint32_t MaxOrientation = 8;

std::vector<std::uint8_t> EncodeRequest(const TRequest& Request);
// False for anything but a well-formed request (unknown kind or format, wrong size, a path that
// is empty, too long or holds a NUL, pixel sizes that do not fit their pitch or the limits, a
// text key or text outside its limits, or a text without a key).
bool ParseRequest(const std::uint8_t* Data, std::size_t Size, TRequest* Request);
// The pixel bytes an encode request's shared memory must hold at least: Pitch * Height.
std::uint64_t EncodeRequestBytes(const TRequest& Request);

std::vector<std::uint8_t> EncodeReply(const TReply& Reply);
// The Ok reply for a decoded picture of Width x Height with its EXIF orientation and Facts: the
// decoder's, and the fuzz target's that checks the parent takes what the decoder sends.
TReply PictureReply(std::uint32_t Width, std::uint32_t Height, std::uint32_t Orientation,
                    const overlay::TPictureFacts& Facts);

// THE FUZZING ENTRY POINT for the decoder's answers. Reads a reply of Size bytes at Data to a
// request of kind Expected; MemoryLength is the length of the shared memory that came with it
// (0 when none came). True, with *Reply filled, only when every field is consistent: the known
// magic and status, the size of the fixed part and of the UID and patient texts (each within
// its limit), for a picture 0 < Width, Height and
// Width * Height <= MaxPixels with Bytes == Width * Height * 4 <= MemoryLength, Orientation <=
// MaxOrientation, a ValidDateTaken, a ValidPixelSpacing and a SpacingSource that agrees with
// it, Lossy <= MaxLossy, Frames <= MaxFrames and a ValidUid,
// for an encoded file image 0 < Bytes <= min(MemoryLength, MaxEncodedBytes), for TooLarge a size
// that really exceeds MaxPixels, and zeros where a status carries nothing (Orientation and
// DateTaken, the spacing and its source, the frames, the UID, Lossy and the patient included).
// Never reads outside [Data, Data + Size), for any input.
bool ParseDecoderReply(const std::uint8_t* Data, std::size_t Size, TRequestKind Expected,
                       std::uint64_t MemoryLength, TReply* Reply);

// The answer to ReadDicomObject, a message of its own (its own magic, no shared memory).
enum class TObjectStatus : std::uint32_t {
  Ok = 0,
  NotDicom = 1,  // no DICOM file (no meta header), or without SOP class, instance or syntax
  TooDeep = 2,   // sequences nest deeper than MaxObjectNesting
  TooMany = 3,   // more than MaxObjectElements elements
  Damaged = 4,   // the data set does not load whole (a value runs past the end, say)
  TooLarge = 5,  // the file has more than MaxObjectBytes
};
// The bounds of an object the PACS client will parse itself: a parser that recurses per level
// meets no deeper nesting than this, and holds no more elements (a photograph has some hundred;
// a structured report some thousand).
constexpr std::uint32_t MaxObjectNesting = 64;
constexpr std::uint32_t MaxObjectElements = 1u << 20;
constexpr std::uint64_t MaxObjectBytes = std::uint64_t(1) << 30;
constexpr std::size_t ObjectReplySize = 20;
constexpr std::size_t MaxObjectReplySize = ObjectReplySize + 3 * MaxUidLength;

struct TObjectReply {
  TObjectStatus Status = TObjectStatus::NotDicom;
  // Ok: each 1..MaxUidLength digits and dots; empty otherwise.
  std::string SopClassUid, SopInstanceUid, TransferSyntaxUid;
};

std::vector<std::uint8_t> EncodeObjectReply(const TObjectReply& Reply);
// True, with *Reply filled, only for a reply of the known magic and status whose UIDs are
// ValidUid, all three present for Ok and none otherwise, and whose lengths add up to Size.
// Never reads outside [Data, Data + Size).
bool ParseObjectReply(const std::uint8_t* Data, std::size_t Size, TObjectReply* Reply);

}  // namespace overlay::decoder
