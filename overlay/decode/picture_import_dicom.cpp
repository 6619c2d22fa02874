// DCMTK's side of the picture import: DICOM photographs (VL Photographic, Secondary Capture and
// any other object with pixel data DCMTK renders) decoded into an 8-bit FreeImage bitmap, so that
// the conversion into 32-bit pixels and the way to the parent are those of every other picture.
// It runs in the decoder process, like FreeImage.
#include <FreeImage.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <fstream>
#include <mutex>

#include "dcmtk/dcmdata/dcdeftag.h"
#include "dcmtk/dcmdata/dcfilefo.h"
#include "dcmtk/dcmdata/dcpixel.h"
#include "dcmtk/dcmdata/dcpixseq.h"
#include "dcmtk/dcmdata/dcpxitem.h"
#include "dcmtk/dcmdata/dcxfer.h"
#include "dcmtk/dcmimage/diregist.h"  // colour pictures: registers dcmimage's colour support
#include "dcmtk/dcmimgle/dcmimage.h"
#include "dcmtk/dcmjpeg/djdecode.h"
#include "dcmtk/dcmjpls/djdecode.h"
#include "dcmtk/oflog/oflog.h"
#include "overlay/decode/decoder_protocol.h"
#include "overlay/decode/dicom_object.h"
#include "overlay/decode/picture_import_p.h"

namespace overlay::detail {

namespace {

constexpr std::size_t PreambleLength = 128;
constexpr char DicomPrefix[] = "DICM";

bool HasDicomPrefix(const std::string& Path) {
  std::ifstream file(Path, std::ios::binary);
  char prefix[4] = {};
  file.seekg(std::streamoff(PreambleLength));
  return file.read(prefix, sizeof prefix) && std::memcmp(prefix, DicomPrefix, 4) == 0;
}

// Once per process: the JPEG (baseline, extended, lossless) and JPEG-LS decoders, and DCMTK's
// log quiet, since a damaged file is told through the reply, not on standard error.
void PrepareDcmtk() {
  static std::once_flag once;
  std::call_once(once, [] {
    OFLog::configure(OFLogger::OFF_LOG_LEVEL);
    DJDecoderRegistration::registerCodecs();
    DJLSDecoderRegistration::registerCodecs();
  });
}

struct TDibDeleter {
  void operator()(FIBITMAP* Dib) const {
    if (Dib != nullptr) FreeImage_Unload(Dib);
  }
};

// Rows apart, then columns apart, of Key; one value alone stands for both. False for none, or
// for anything that is not finite and positive.
bool ReadSpacing(DcmDataset& Data, const DcmTagKey& Key, double* Row, double* Column) {
  Float64 row = 0, column = 0;
  if (Data.findAndGetFloat64(Key, row, 0).bad()) return false;
  if (Data.findAndGetFloat64(Key, column, 1).bad()) column = row;
  if (row == 0 || !decoder::ValidPixelSpacing(row, column)) return false;
  *Row = row;
  *Column = column;
  return true;
}

// The spacing in the patient's plane: Pixel Spacing (0028,0030); else Imager Pixel Spacing
// (0018,1164), which is the detector's, divided by the Estimated Radiographic Magnification
// Factor (0018,1114) the file gives for it. Imager Pixel Spacing alone is larger than the
// patient's by the unknown magnification (a few to tens of percent), so it is not taken: the
// scale is unknown, and the facts say why.
void ReadPixelSpacing(DcmDataset& Data, TPictureFacts* Facts) {
  double row = 0, column = 0;
  if (ReadSpacing(Data, DCM_PixelSpacing, &row, &column)) {
    Facts->SpacingSource = TSpacingSource::PixelSpacing;
  } else if (ReadSpacing(Data, DCM_ImagerPixelSpacing, &row, &column)) {
    Float64 magnification = 0;
    if (Data.findAndGetFloat64(DCM_EstimatedRadiographicMagnificationFactor, magnification)
            .good() &&
        std::isfinite(magnification) && magnification > 0 &&
        decoder::ValidPixelSpacing(row / magnification, column / magnification) &&
        row / magnification > 0) {
      row /= magnification;
      column /= magnification;
      Facts->SpacingSource = TSpacingSource::MagnifiedImagerSpacing;
    } else {
      Facts->SpacingSource = TSpacingSource::DetectorOnly;
      return;
    }
  } else {
    return;
  }
  Facts->PixelSpacingRow = row;
  Facts->PixelSpacingColumn = column;
}

// A text element as the file stores it, without the padding DICOM adds to an even length (and
// that a viewer ignores), cut at the limit the reply carries.
std::string ReadText(DcmDataset& Data, const DcmTagKey& Key) {
  OFString value;
  if (Data.findAndGetOFStringArray(Key, value).bad()) return {};
  std::string text(value.c_str(), value.length());
  while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) text.pop_back();
  if (text.size() > decoder::MaxPatientTextLength) text.resize(decoder::MaxPatientTextLength);
  return text;
}

// The patient the picture belongs to, in UTF-8 (the file's character set converted where DCMTK
// can; where it cannot, the bytes stay as they are and are refused as no UTF-8 by the export).
void ReadPatient(DcmFileFormat& File, TPictureFacts* Facts) {
  DcmDataset& data = *File.getDataset();
  (void)data.convertToUTF8();
  Facts->PatientName = ReadText(data, DCM_PatientName);
  Facts->PatientId = ReadText(data, DCM_PatientID);
  Facts->PatientBirthDate = ReadText(data, DCM_PatientBirthDate);
}

// Whether the pixels went through a lossy compression: by the transfer syntax they are encoded
// in, else by the file's own record of an earlier one (Lossy Image Compression "01" and its
// method).
TLossyCompression ReadLossy(DcmDataset& Data) {
  const DcmXfer xfer(Data.getOriginalXfer());
  switch (xfer.getXfer()) {
    case EXS_JPEGLSLossy:
      return TLossyCompression::JpegLs;
    case EXS_JPEG2000:
    case EXS_JPEG2000Multicomponent:
      return TLossyCompression::Jpeg2000;
    default:
      break;
  }
  if (xfer.isLossy()) {
    return xfer.getJPEGProcess8Bit() != 0 ? TLossyCompression::Jpeg : TLossyCompression::Unknown;
  }
  OFString lossy, method;
  if (Data.findAndGetOFString(DCM_LossyImageCompression, lossy).bad() || lossy != "01") {
    return TLossyCompression::None;
  }
  Data.findAndGetOFString(DCM_LossyImageCompressionMethod, method, 0);
  if (method == "ISO_10918_1") return TLossyCompression::Jpeg;
  if (method == "ISO_14495_1") return TLossyCompression::JpegLs;
  if (method == "ISO_15444_1") return TLossyCompression::Jpeg2000;
  return TLossyCompression::Unknown;
}

}  // namespace

// The toolkit's scan for the bit depth (DJCodecDecoder) never ends at a TEM marker, which has no
// length, and the decoder process hung until it was killed. The markers are walked up to the
// frame header; where none comes first (the scan then reads on into the data), the fragment must
// hold no 0xFF01 at all.
bool JpegHeaderReadable(const std::uint8_t* Data, std::uint32_t Length) {
  if (Data == nullptr) return true;
  std::uint32_t at = Length >= 2 && Data[0] == 0xFF && Data[1] == 0xD8 ? 2 : Length;
  while (at + 1 < Length && Data[at] == 0xFF) {
    const std::uint8_t marker = Data[at + 1];
    if (marker == 0x01) return false;
    if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC) {
      return true;  // the frame header, where the scan stops
    }
    if (marker == 0xFF || (marker >= 0xD0 && marker <= 0xD8)) {  // fill, RSTn, SOI
      at += marker == 0xFF ? 1 : 2;
      continue;
    }
    if (marker == 0xD9 || marker == 0xDA || at + 3 >= Length) break;
    at += 2 + ((std::uint32_t(Data[at + 2]) << 8) | Data[at + 3]);
  }
  for (std::uint32_t k = 0; k + 1 < Length; ++k) {
    if (Data[k] == 0xFF && Data[k + 1] == 0x01) return false;
  }
  return true;
}

namespace {

// Whether every fragment of an encapsulated JPEG picture passes JpegHeaderReadable.
bool JpegFragmentsReadable(DcmDataset& Data) {
  const DcmXfer xfer(Data.getOriginalXfer());
  if (!xfer.isEncapsulated() || xfer.getJPEGProcess8Bit() == 0) return true;
  DcmElement* element = nullptr;
  if (Data.findAndGetElement(DCM_PixelData, element).bad()) return true;
  auto* pixels = dynamic_cast<DcmPixelData*>(element);
  DcmPixelSequence* sequence = nullptr;
  if (pixels == nullptr ||
      pixels->getEncapsulatedRepresentation(xfer.getXfer(), nullptr, sequence).bad() ||
      sequence == nullptr) {
    return true;
  }
  // The first item is the offset table.
  for (unsigned long i = 1; i < sequence->card(); ++i) {
    DcmPixelItem* item = nullptr;
    Uint8* bytes = nullptr;
    if (sequence->getItem(item, i).bad() || item == nullptr || item->getUint8Array(bytes).bad()) {
      continue;
    }
    if (!JpegHeaderReadable(bytes, item->getLength())) return false;
  }
  return true;
}

}  // namespace

bool IsDicomExtension(const std::string& Path) {
  std::string extension = FileExtension(Path);
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char C) { return char(std::tolower(C)); });
  return extension == ".dcm";
}

bool IsDicomFile(const std::string& Path) {
  return FileExtension(Path).empty() ? HasDicomPrefix(Path) : IsDicomExtension(Path);
}

TDecodeResult DecodeWithDcmtk(const std::string& Path, const TPixelSink& Sink) {
  PrepareDcmtk();
  // A file that is not DICOM at all is not of the type its name says; one that starts like
  // DICOM and does not read is damaged.
  const TDecodeResult refused{HasDicomPrefix(Path) ? TDecodeStatus::CannotDecode
                                                   : TDecodeStatus::NotPicture};
  // No picture this program shows inflates beyond the bound of an object to send.
  if (InflatesBeyond(Path, decoder::MaxObjectBytes)) return {TDecodeStatus::CannotDecode};
  DcmFileFormat file;
  if (file.loadFile(Path.c_str()).bad()) return refused;
  DcmDataset& data = *file.getDataset();
  Uint16 rows = 0, columns = 0;
  if (data.findAndGetUint16(DCM_Rows, rows).bad() ||
      data.findAndGetUint16(DCM_Columns, columns).bad() || !data.tagExists(DCM_PixelData)) {
    return refused;
  }
  // Refused by its header before a pixel is decoded.
  if (std::uint64_t(rows) * columns > std::uint64_t(MaxPicturePixels)) {
    return {TDecodeStatus::TooLarge, columns, rows};
  }

  if (!JpegFragmentsReadable(data)) return {TDecodeStatus::CannotDecode};

  // The first frame only, read from the file when the object is compressed frame by frame.
  DicomImage image(&file, data.getOriginalXfer(), CIF_UsePartialAccessToPixelData, 0, 1);
  if (image.getStatus() != EIS_Normal) return {TDecodeStatus::CannotDecode};
  const unsigned width = unsigned(image.getWidth()), height = unsigned(image.getHeight());
  if (width == 0 || height == 0 || width != columns || height != rows) {
    return {TDecodeStatus::CannotDecode};
  }
  const bool grey = image.isMonochrome() != 0;
  if (grey) {
    // The file's first VOI window, as a viewer shows it at first; a picture of more than 8
    // bits without one is spread from its darkest to its brightest pixel, so that 12 bits in
    // 16 do not come out nearly black. MONOCHROME1 is inverted by DCMTK's rendering (its output
    // is always MONOCHROME2).
    if (image.getWindowCount() > 0) {
      image.setWindow(0);
    } else if (image.getDepth() > 8) {
      image.setMinMaxWindow(0);
    }
  }
  const auto* pixels = static_cast<const std::uint8_t*>(image.getOutputData(8, 0, 0));
  const std::size_t channels = grey ? 1 : 3;
  if (pixels == nullptr || image.getOutputDataSize(8) < std::size_t(width) * height * channels) {
    return {TDecodeStatus::CannotDecode};
  }

  std::unique_ptr<FIBITMAP, TDibDeleter> dib(
      FreeImage_Allocate(int(width), int(height), grey ? 8 : 24));
  if (dib == nullptr) return {TDecodeStatus::NoMemory};
  if (grey) {
    RGBQUAD* palette = FreeImage_GetPalette(dib.get());
    for (unsigned i = 0; i < 256; ++i) {
      palette[i].rgbRed = palette[i].rgbGreen = palette[i].rgbBlue = BYTE(i);
    }
  }
  for (unsigned y = 0; y < height; ++y) {
    // FreeImage's scan line 0 is the bottom row; a 24-bit row is B, G, R.
    BYTE* dst = FreeImage_GetScanLine(dib.get(), int(height - 1 - y));
    const std::uint8_t* src = pixels + std::size_t(y) * width * channels;
    if (grey) {
      std::memcpy(dst, src, width);
    } else {
      for (unsigned x = 0; x < width; ++x) {
        dst[3 * x + FI_RGBA_RED] = src[3 * x];
        dst[3 * x + FI_RGBA_GREEN] = src[3 * x + 1];
        dst[3 * x + FI_RGBA_BLUE] = src[3 * x + 2];
      }
    }
  }

  TDecodeResult result{TDecodeStatus::Ok, width, height};
  ReadPixelSpacing(data, &result.Facts);
  result.Facts.Lossy = ReadLossy(data);
  ReadPatient(file, &result.Facts);
  OFString uid;
  if (data.findAndGetOFString(DCM_StudyInstanceUID, uid).good() && decoder::ValidUid(uid.c_str())) {
    result.Facts.StudyInstanceUid = uid.c_str();
  }
  result.Facts.Frames =
      std::uint32_t(std::clamp<unsigned long>(image.getNumberOfFrames(), 1, decoder::MaxFrames));

  unsigned w = 0, h = 0;
  if (!Convertible(dib.get(), &w, &h)) return {TDecodeStatus::CannotDecode};
  if (!Sink(dib.get(), w, h)) return {TDecodeStatus::NoMemory};
  return result;
}

TDecodeResult DecodePictureFile(const std::string& Path, const TPixelSink& Sink) {
  return IsDicomFile(Path) ? DecodeWithDcmtk(Path, Sink) : DecodeWithFreeImage(Path, Sink);
}

}  // namespace overlay::detail
