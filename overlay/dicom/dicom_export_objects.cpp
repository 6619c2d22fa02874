// The image objects' parts: what every image of the export shares, their pixels, and the
// photographs and captures made of them; the UIDs, dates and the file's bytes.
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcostrmb.h>
#include <dcmtk/dcmdata/dcuid.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <ctime>

#include "overlay/dicom/dicom_export_p.h"

namespace overlay {

namespace {

constexpr const char* VlPhotographicImageClass = "1.2.840.10008.5.1.4.1.1.77.1.4";
constexpr const char* SecondaryCaptureImageClass = "1.2.840.10008.5.1.4.1.1.7";
// The scale comes from the calling application's calibration of the camera at the skin's
// distance, or from the DICOM picture's own spacing in the patient's plane: a geometric one, at
// the plane photographed. The description says which (LO: 64 at most).
constexpr const char* SpacingCalibrationType = "GEOMETRY";

// Lossy Image Compression Method's defined term of a compression; empty for none known.
const char* LossyMethod(TLossyCompression Lossy) {
  switch (Lossy) {
    case TLossyCompression::Jpeg:
      return "ISO_10918_1";
    case TLossyCompression::JpegLs:
      return "ISO_14495_1";
    case TLossyCompression::Jpeg2000:
      return "ISO_15444_1";
    case TLossyCompression::None:
    case TLossyCompression::Unknown:
      break;
  }
  return "";
}

// SOP Common, Patient, General Study, General Series, General Equipment: the same in every
// image of the export.
void PutCommon(TPutter& Data, const TShared& Shared, const char* SopClass, int InstanceNumber) {
  Data.Put(DCM_SpecificCharacterSet, "ISO_IR 192");
  Data.Put(DCM_SOPClassUID, SopClass);
  Data.Put(DCM_SOPInstanceUID, NewUid(SITE_INSTANCE_UID_ROOT));
  Data.Put(DCM_InstanceCreationDate, Shared.Created.Date);
  Data.Put(DCM_InstanceCreationTime, Shared.Created.Time);
  Data.Put(DCM_PatientName, Shared.PatientName);
  Data.Put(DCM_PatientID, Shared.PatientId);
  Data.Put(DCM_PatientBirthDate, Shared.BirthDate);
  Data.Put(DCM_PatientSex, "");
  Data.Put(DCM_StudyInstanceUID, Shared.StudyUid);
  Data.Put(DCM_StudyDate, Shared.Study.Date);
  Data.Put(DCM_StudyTime, Shared.Study.Time);
  Data.Put(DCM_ReferringPhysicianName, "");
  Data.Put(DCM_StudyID, "");
  Data.Put(DCM_AccessionNumber, "");
  Data.Put(DCM_Modality, "XC");
  Data.Put(DCM_Laterality, "");  // the skin may lie on either side: not known here
  Data.Put(DCM_SeriesInstanceUID, Shared.SeriesUid);
  Data.Put(DCM_SeriesNumber, "1");
  Data.Put(DCM_Manufacturer, Manufacturer);
  Data.Put(DCM_SoftwareVersions, TESSALY_VERSION);
  Data.Put(DCM_InstanceNumber, std::to_string(InstanceNumber));
  Data.Put(DCM_PatientOrientation, "");
  Data.Put(DCM_BurnedInAnnotation, "NO");
}

// Image Pixel: the picture's colour as 8-bit RGB, pixel-interleaved (alpha dropped), how its
// pixels came to be (Lossy: the lossy compressions of its sources) and their spacing; with
// Calibration, also how the spacing was had (the SC Image module has the calibration macro, the
// VL Photographic Image has not).
void PutPixels(TPutter& Data, const raster::TBitmap32& Picture, const TShared& Shared,
               const std::vector<TLossyCompression>& Lossy, bool Calibration) {
  const int w = Picture.Width(), h = Picture.Height();
  Data.PutUint16(DCM_SamplesPerPixel, 3);
  Data.Put(DCM_PhotometricInterpretation, "RGB");
  Data.PutUint16(DCM_PlanarConfiguration, 0);
  Data.PutUint16(DCM_Rows, Uint16(h));
  Data.PutUint16(DCM_Columns, Uint16(w));
  Data.PutUint16(DCM_BitsAllocated, 8);
  Data.PutUint16(DCM_BitsStored, 8);
  Data.PutUint16(DCM_HighBit, 7);
  Data.PutUint16(DCM_PixelRepresentation, 0);
  Data.PutPixelData(std::size_t(w) * 3, h, [&](int Y, Uint8* Out) {
    const raster::TColor32* row = Picture.GetScanLine(Y);
    for (int x = 0; x < w; ++x) {
      *Out++ = Uint8(row[x] >> 16);
      *Out++ = Uint8(row[x] >> 8);
      *Out++ = Uint8(row[x]);
    }
  });
  // Each source's method once, in the order of the sources.
  std::vector<std::string> methods;
  bool lossy = false;
  for (const TLossyCompression l : Lossy) {
    lossy = lossy || l != TLossyCompression::None;
    const std::string method = LossyMethod(l);
    if (!method.empty() && std::find(methods.begin(), methods.end(), method) == methods.end()) {
      methods.push_back(method);
    }
  }
  Data.Put(DCM_LossyImageCompression, lossy ? "01" : "00");
  if (!methods.empty()) {
    std::string joined = methods.front();
    for (std::size_t k = 1; k < methods.size(); ++k) joined += "\\" + methods[k];
    Data.Put(DCM_LossyImageCompressionMethod, joined);
  }
  if (!Shared.PixelSpacing.empty()) {
    Data.Put(DCM_PixelSpacing, Shared.PixelSpacing);
    if (Calibration) {
      Data.Put(DCM_PixelSpacingCalibrationType, SpacingCalibrationType);
      Data.Put(DCM_PixelSpacingCalibrationDescription, Shared.SpacingDescription);
    }
  }
}

}  // namespace

std::string NewUid(const char* Root) {
  char uid[100];
  return dcmGenerateUniqueIdentifier(uid, Root);
}

TDateTime Now() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  char date[16], time[16];
  std::strftime(date, sizeof date, "%Y%m%d", &local);
  std::strftime(time, sizeof time, "%H%M%S", &local);
  return {date, time};
}

TDateTime DateTimeOf(std::uint64_t DateTaken) {
  if (DateTaken == 0) return Now();
  char text[32];
  std::snprintf(text, sizeof text, "%014llu", static_cast<unsigned long long>(DateTaken));
  const std::string all(text);
  return {all.substr(0, 8), all.substr(8, 6)};
}

std::string DecimalString(double Value) {
  char text[64];
  const std::to_chars_result shortest = std::to_chars(text, text + sizeof text, Value);
  if (shortest.ec == std::errc() && shortest.ptr - text <= 16)
    return std::string(text, shortest.ptr);
  for (int digits = 15; digits > 0; --digits) {
    const int length = std::snprintf(text, sizeof text, "%.*g", digits, Value);
    if (length > 0 && length <= 16) return std::string(text, std::size_t(length));
  }
  return {};
}

void PutPhotograph(TPutter& Data, const TShared& Shared, int InstanceNumber, bool Original,
                   const TDateTime& Taken, const raster::TBitmap32& Picture,
                   TLossyCompression Lossy) {
  PutCommon(Data, Shared, VlPhotographicImageClass, InstanceNumber);
  Data.Put(DCM_ImageType, Original ? "ORIGINAL\\PRIMARY" : "DERIVED\\PRIMARY");
  Data.Put(DCM_ContentDate, Taken.Date);
  Data.Put(DCM_ContentTime, Taken.Time);
  Data.Put(DCM_AcquisitionDateTime, Taken.Date + Taken.Time);
  Data.PutEmptySequence(DCM_AcquisitionContextSequence);
  PutPixels(Data, Picture, Shared, {Lossy}, false);
}

void PutCapture(TPutter& Data, const TShared& Shared, int InstanceNumber,
                const raster::TBitmap32& Shot, const std::vector<TLossyCompression>& Lossy) {
  const TDateTime made = Now();
  PutCommon(Data, Shared, SecondaryCaptureImageClass, InstanceNumber);
  Data.Put(DCM_ImageType, "DERIVED\\SECONDARY");
  Data.Put(DCM_ConversionType, "WSD");
  Data.Put(DCM_SecondaryCaptureDeviceManufacturer, Manufacturer);
  Data.Put(DCM_SecondaryCaptureDeviceSoftwareVersions, TESSALY_VERSION);
  Data.Put(DCM_ContentDate, made.Date);
  Data.Put(DCM_ContentTime, made.Time);
  Data.Put(DCM_DateOfSecondaryCapture, made.Date);
  Data.Put(DCM_TimeOfSecondaryCapture, made.Time);
  PutPixels(Data, Shot, Shared, Lossy, true);
}

platform::TFilePieces FilePieces(DcmFileFormat& File) {
  return [&File](const std::function<bool(std::string_view)>& Put, std::string* Why) {
    std::vector<char> buffer(std::size_t(1) << 20);
    DcmOutputBufferStream stream(buffer.data(), offile_off_t(buffer.size()));
    File.transferInit();
    OFCondition status = EC_StreamNotifyClient;
    bool put = true;
    while (put && status == EC_StreamNotifyClient) {
      status = File.write(stream, EXS_LittleEndianExplicit, EET_ExplicitLength, nullptr);
      void* part = nullptr;
      offile_off_t length = 0;
      stream.flushBuffer(part, length);
      put = Put(std::string_view(static_cast<const char*>(part), std::size_t(length)));
    }
    File.transferEnd();
    if (put && status.bad()) *Why = status.text();
    return put && status.good();
  };
}

}  // namespace overlay
