#include "overlay/dicom/dicom_export.h"

#include <dcmtk/config/osconfig.h>  // first of DCMTK's headers, as its own sources have it
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcostrmb.h>
#include <dcmtk/dcmdata/dcuid.h>
#include <dcmtk/dcmsr/codes/dcm.h>
#include <dcmtk/dcmsr/dsrdoc.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <memory>

#include "overlay/scene/export_aligned.h"
#include "overlay/scene/main_controller.h"
#include "overlay/scene/report.h"
#include "overlay/scene/texts.h"
#include "platform/file_write.h"
#include "platform/paths.h"

#ifndef TESSALY_VERSION
#define TESSALY_VERSION "unknown"
#endif

namespace overlay {

namespace {

constexpr const char* VlPhotographicImageClass = "1.2.840.10008.5.1.4.1.1.77.1.4";
constexpr const char* SecondaryCaptureImageClass = "1.2.840.10008.5.1.4.1.1.7";
// The equipment that made the objects: this program, as the General Equipment and SC Equipment
// modules name it.
constexpr const char* Manufacturer = "Tessaly";
// The scale comes from the calling application's calibration of the camera at the skin's
// distance: a geometric one, at the plane photographed.
constexpr const char* SpacingCalibrationType = "GEOMETRY";
constexpr const char* SpacingCalibrationDescription =
    "Pixels per 100 mm at the plane photographed, from the caller";  // LO: 64 at most

// Everything written holds a patient's pictures or data; nothing already at a name is ever
// replaced (the names are new UIDs, so something there is not ours).
const platform::TFileWriteOptions PrivateNewFile{0600, false, false};

std::string NewUid(const char* Root) {
  char uid[100];
  return dcmGenerateUniqueIdentifier(uid, Root);
}

struct TDateTime {
  std::string Date, Time;  // "YYYYMMDD", "HHMMSS"
};

TDateTime Now() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  char date[16], time[16];
  std::strftime(date, sizeof date, "%Y%m%d", &local);
  std::strftime(time, sizeof time, "%H%M%S", &local);
  return {date, time};
}

// The EXIF date (YYYYMMDDhhmmss), else now.
TDateTime DateTimeOf(std::uint64_t DateTaken) {
  if (DateTaken == 0) return Now();
  char text[32];
  std::snprintf(text, sizeof text, "%014llu", static_cast<unsigned long long>(DateTaken));
  const std::string all(text);
  return {all.substr(0, 8), all.substr(8, 6)};
}

bool IsJpegFile(const std::string& Path) {
  const std::size_t dot = Path.rfind('.');
  if (dot == std::string::npos) return false;
  std::string extension = Path.substr(dot + 1);
  for (char& c : extension) c = char(std::tolower(static_cast<unsigned char>(c)));
  return extension == "jpg" || extension == "jpeg";
}

// What every object of one export shares.
struct TShared {
  std::string PatientName, PatientId, BirthDate;
  std::string StudyUid, SeriesUid;
  TDateTime Study, Created;
  std::string PixelSpacing;  // "s\s", empty when the scale is not known
  bool Lossy = false;        // a picture decoded from a JPEG file
};

// A failed put is a broken invariant (a tag of the wrong VR), not a state to go on from.
void Put(DcmItem& Item, const DcmTagKey& Tag, const std::string& Value) {
  const OFCondition status = Item.putAndInsertString(Tag, Value.c_str());
  if (status.bad()) {
    throw std::logic_error(std::string("DICOM attribute ") + DcmTag(Tag).getTagName() + ": " +
                           status.text());
  }
}

// SOP Common, Patient, General Study, General Series, General Equipment: the same in every
// image of the export.
void PutCommon(DcmItem& Data, const TShared& Shared, const char* SopClass, int InstanceNumber) {
  Put(Data, DCM_SpecificCharacterSet, "ISO_IR 192");
  Put(Data, DCM_SOPClassUID, SopClass);
  Put(Data, DCM_SOPInstanceUID, NewUid(SITE_INSTANCE_UID_ROOT));
  Put(Data, DCM_InstanceCreationDate, Shared.Created.Date);
  Put(Data, DCM_InstanceCreationTime, Shared.Created.Time);
  Put(Data, DCM_PatientName, Shared.PatientName);
  Put(Data, DCM_PatientID, Shared.PatientId);
  Put(Data, DCM_PatientBirthDate, Shared.BirthDate);
  Put(Data, DCM_PatientSex, "");
  Put(Data, DCM_StudyInstanceUID, Shared.StudyUid);
  Put(Data, DCM_StudyDate, Shared.Study.Date);
  Put(Data, DCM_StudyTime, Shared.Study.Time);
  Put(Data, DCM_ReferringPhysicianName, "");
  Put(Data, DCM_StudyID, "");
  Put(Data, DCM_AccessionNumber, "");
  Put(Data, DCM_Modality, "XC");
  Put(Data, DCM_Laterality, "");  // the skin may lie on either side: not known here
  Put(Data, DCM_SeriesInstanceUID, Shared.SeriesUid);
  Put(Data, DCM_SeriesNumber, "1");
  Put(Data, DCM_Manufacturer, Manufacturer);
  Put(Data, DCM_SoftwareVersions, TESSALY_VERSION);
  Put(Data, DCM_InstanceNumber, std::to_string(InstanceNumber));
  Put(Data, DCM_PatientOrientation, "");
  Put(Data, DCM_BurnedInAnnotation, "NO");
}

// Image Pixel: the picture's colour as 8-bit RGB, pixel-interleaved (alpha dropped), how its
// pixels came to be and their spacing; with Calibration, also how the spacing was had (the SC
// Image module has the calibration macro, the VL Photographic Image has not).
void PutPixels(DcmItem& Data, const raster::TBitmap32& Picture, const TShared& Shared,
               bool Calibration) {
  const int w = Picture.Width(), h = Picture.Height();
  std::vector<Uint8> rgb(std::size_t(w) * std::size_t(h) * 3);
  Uint8* out = rgb.data();
  for (int y = 0; y < h; ++y) {
    const raster::TColor32* row = Picture.GetScanLine(y);
    for (int x = 0; x < w; ++x) {
      *out++ = Uint8(row[x] >> 16);
      *out++ = Uint8(row[x] >> 8);
      *out++ = Uint8(row[x]);
    }
  }
  Data.putAndInsertUint16(DCM_SamplesPerPixel, 3);
  Put(Data, DCM_PhotometricInterpretation, "RGB");
  Data.putAndInsertUint16(DCM_PlanarConfiguration, 0);
  Data.putAndInsertUint16(DCM_Rows, Uint16(h));
  Data.putAndInsertUint16(DCM_Columns, Uint16(w));
  Data.putAndInsertUint16(DCM_BitsAllocated, 8);
  Data.putAndInsertUint16(DCM_BitsStored, 8);
  Data.putAndInsertUint16(DCM_HighBit, 7);
  Data.putAndInsertUint16(DCM_PixelRepresentation, 0);
  Data.putAndInsertUint8Array(DCM_PixelData, rgb.data(), unsigned(rgb.size()));
  Put(Data, DCM_LossyImageCompression, Shared.Lossy ? "01" : "00");
  if (Shared.Lossy) Put(Data, DCM_LossyImageCompressionMethod, "ISO_10918_1");
  if (!Shared.PixelSpacing.empty()) {
    Put(Data, DCM_PixelSpacing, Shared.PixelSpacing);
    if (Calibration) {
      Put(Data, DCM_PixelSpacingCalibrationType, SpacingCalibrationType);
      Put(Data, DCM_PixelSpacingCalibrationDescription, SpacingCalibrationDescription);
    }
  }
}

// The file's bytes: preamble, meta information and the data set in Explicit VR Little Endian.
platform::TResult<std::string> FileBytes(DcmFileFormat& File) {
  std::vector<char> buffer(std::size_t(1) << 20);
  DcmOutputBufferStream stream(buffer.data(), offile_off_t(buffer.size()));
  std::string bytes;
  File.transferInit();
  OFCondition status = EC_StreamNotifyClient;
  while (status == EC_StreamNotifyClient) {
    status = File.write(stream, EXS_LittleEndianExplicit, EET_ExplicitLength, nullptr);
    void* part = nullptr;
    offile_off_t length = 0;
    stream.flushBuffer(part, length);
    bytes.append(static_cast<const char*>(part), std::size_t(length));
  }
  File.transferEnd();
  if (status.bad()) return platform::TStatus::Failure(status.text());
  return bytes;
}

}  // namespace

std::string DicomPersonName(const std::string& Name, const std::string& Firstname) {
  const auto part = [](const std::string& Text) {
    std::string out;
    for (const char c : Text) {
      if (c != '^' && c != '=' && c != '\\') out += c;
    }
    return out;
  };
  const std::string first = part(Firstname);
  return first.empty() ? part(Name) : part(Name) + "^" + first;
}

std::string DicomDate(std::string_view InterfaceDate) {
  int field[3] = {0, 0, 0};
  std::size_t digits[3] = {0, 0, 0};
  std::size_t f = 0;
  for (const char c : InterfaceDate) {
    if (c == '.') {
      if (++f > 2) return {};
    } else if (c >= '0' && c <= '9' && digits[f] < 4) {
      field[f] = field[f] * 10 + (c - '0');
      ++digits[f];
    } else {
      return {};
    }
  }
  const int day = field[0], month = field[1], year = field[2];
  if (f != 2 || digits[0] < 1 || digits[0] > 2 || digits[1] < 1 || digits[1] > 2 ||
      digits[2] != 4 || month < 1 || month > 12 || day < 1) {
    return {};
  }
  constexpr int MonthDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  if (day > MonthDays[month - 1] || (month == 2 && day == 29 && !leap)) return {};
  char text[32];
  std::snprintf(text, sizeof text, "%04d%02d%02d", year, month, day);
  return text;
}

std::string ChooseStudyInstanceUid(const TPictureFacts& Facts1, const std::string& Kept) {
  if (!Facts1.StudyInstanceUid.empty()) return Facts1.StudyInstanceUid;
  if (!Kept.empty()) return Kept;
  return NewUid(SITE_STUDY_UID_ROOT);
}

TDicomTexts DicomTextsOfLanguage() {
  return {Tr(ExportNothingText), Tr(DicomNoFolderText), Tr(DicomNotWrittenText),
          Tr(FullResolutionTooLargeText)};
}

TDicomExportOutcome ExportDicom(TMainController& Controller, const TDicomExport& Request,
                                const TDicomTexts& Texts) {
  TDicomExportOutcome outcome;
  if (!Controller.ControlsEnabled() || Controller.RotLayer() == nullptr) {
    outcome.Status = platform::TStatus::Failure(Texts.NothingToExport);
    return outcome;
  }
  // The captures' scene first: a comparison too large for it is refused before any file is made.
  const raster::TBitmap32& shown1 = Controller.ImgView().Bitmap();
  TFullResolutionRenderer renderer(Controller, {0, 0, shown1.Width(), shown1.Height()});
  if (renderer.TooLarge()) {
    std::string why = Texts.TooLarge;
    if (const std::size_t at = why.find("%1"); at != std::string::npos) {
      why.replace(at, 2, renderer.PartSize());
    }
    outcome.Status = platform::TStatus::Failure(why);
    return outcome;
  }
  std::string folder = Request.Folder;
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  std::string error;
  const std::size_t slash = folder.rfind('/');
  if ((slash != std::string::npos && slash > 0 &&
       !platform::MakeFolders(folder.substr(0, slash), &error)) ||
      !platform::MakePrivateFolder(folder, &error)) {
    outcome.Status = platform::TStatus::Failure(Texts.NoFolder + "\n" + Request.Folder +
                                                (error.empty() ? "" : "\n" + error));
    return outcome;
  }
  folder += '/';

  TShared shared;
  shared.PatientName = DicomPersonName(Request.Patient.Name, Request.Patient.Firstname);
  shared.PatientId = Request.Patient.PatientId;
  shared.BirthDate = DicomDate(Request.Patient.Birthdate);
  shared.StudyUid = ChooseStudyInstanceUid(Controller.Facts1(), Request.KeptStudyInstanceUid);
  shared.SeriesUid = NewUid(SITE_SERIES_UID_ROOT);
  shared.Study = DateTimeOf(Controller.Facts1().DateTaken);
  shared.Created = Now();
  const int pp100mm = Controller.MeasureFrame().Pp100MM1;
  if (pp100mm > 0 && pp100mm <= MaxExportPp100MM) {
    char spacing[32];
    std::snprintf(spacing, sizeof spacing, "%.10g", 100.0 / pp100mm);
    shared.PixelSpacing = std::string(spacing) + "\\" + spacing;
  }
  shared.Lossy = IsJpegFile(Controller.ImageFile1()) || IsJpegFile(Controller.ImageFile2());
  outcome.StudyInstanceUid = shared.StudyUid;
  outcome.SeriesInstanceUid = shared.SeriesUid;

  // Rows and Columns are 16-bit.
  const raster::TBitmap32& picture1 = Controller.ImgView().Bitmap();
  constexpr int MaxDicomSide = 65535;
  if (picture1.Width() > MaxDicomSide || picture1.Height() > MaxDicomSide) {
    outcome.Status = platform::TStatus::Failure(Texts.NotWritten + "\n" + Controller.ImageFile1() +
                                                "\nmore than 65535 rows or columns");
    return outcome;
  }

  const int alphaMax = Controller.GaugeAlpha().Max();
  const std::vector<int> alphas =
      PrintAlphaSteps(Request.ImageCount, alphaMax, Controller.GaugeAlpha().Position());
  const std::vector<TMeasure>& measures = Controller.Measures();
  const int count = 2 + int(alphas.size()) + (measures.empty() ? 0 : 1);
  int number = 0;

  // The images written, for the report's references: SOP class and instance.
  std::vector<std::pair<std::string, std::string>> images;
  const auto store = [&](DcmFileFormat& File) {
    OFString uid, sopClass;
    File.getDataset()->findAndGetOFString(DCM_SOPInstanceUID, uid);
    File.getDataset()->findAndGetOFString(DCM_SOPClassUID, sopClass);
    const std::string path = folder + uid.c_str() + ".dcm";
    platform::TResult<std::string> bytes = FileBytes(File);
    std::string why = bytes ? std::string() : bytes.Reason();
    if (bytes && platform::WriteFileAtomically(path, bytes.Value(), &why, PrivateNewFile)) {
      outcome.Files.push_back(path);
      images.emplace_back(sopClass.c_str(), uid.c_str());
      return true;
    }
    outcome.Status = platform::TStatus::Failure(Texts.NotWritten + "\n" + path +
                                                (why.empty() ? "" : "\n" + why));
    return false;
  };
  const auto tell = [&](TDicomObjectKind Kind, const std::string& Label) {
    ++number;
    if (Request.Progress) Request.Progress(number, count, Kind, Label);
  };

  // The two pictures as they were taken (picture 2 in picture 1's frame): original photographs,
  // the second resampled.
  const TDateTime taken[2] = {DateTimeOf(Controller.Facts1().DateTaken),
                              DateTimeOf(Controller.Facts2().DateTaken)};
  for (int which = 0; which < 2; ++which) {
    tell(which == 0 ? TDicomObjectKind::Picture1 : TDicomObjectKind::AlignedPicture2, {});
    std::unique_ptr<raster::TBitmap32> aligned;
    if (which == 1) aligned = AlignedPicture(picture1, *Controller.RotLayer());
    DcmFileFormat file;
    DcmDataset& data = *file.getDataset();
    PutCommon(data, shared, VlPhotographicImageClass, number);
    Put(data, DCM_ImageType, which == 0 ? "ORIGINAL\\PRIMARY" : "DERIVED\\PRIMARY");
    Put(data, DCM_ContentDate, taken[which].Date);
    Put(data, DCM_ContentTime, taken[which].Time);
    Put(data, DCM_AcquisitionDateTime, taken[which].Date + taken[which].Time);
    data.insertEmptyElement(DCM_AcquisitionContextSequence);
    PutPixels(data, which == 0 ? picture1 : *aligned, shared, false);
    if (!store(file)) return outcome;
  }

  // The captures, whole picture 1 at each opacity of the print, as secondary captures made now.
  for (const int alpha : alphas) {
    const std::string label = OpacityLabel(alpha, alphaMax);
    tell(TDicomObjectKind::Capture, label);
    const std::unique_ptr<raster::TBitmap32> shot = renderer.Render(alpha, label);
    if (!shot) {
      outcome.Status = platform::TStatus::Failure(Texts.NothingToExport);
      return outcome;
    }
    const TDateTime made = Now();
    DcmFileFormat file;
    DcmDataset& data = *file.getDataset();
    PutCommon(data, shared, SecondaryCaptureImageClass, number);
    Put(data, DCM_ImageType, "DERIVED\\SECONDARY");
    Put(data, DCM_ConversionType, "WSD");
    Put(data, DCM_SecondaryCaptureDeviceManufacturer, Manufacturer);
    Put(data, DCM_SecondaryCaptureDeviceSoftwareVersions, TESSALY_VERSION);
    Put(data, DCM_ContentDate, made.Date);
    Put(data, DCM_ContentTime, made.Time);
    Put(data, DCM_DateOfSecondaryCapture, made.Date);
    Put(data, DCM_TimeOfSecondaryCapture, made.Time);
    PutPixels(data, *shot, shared, true);
    if (!store(file)) return outcome;
  }

  // The measurements: a text finding per measure, one per outline pair's change, and the images
  // of this export.
  if (measures.empty()) return outcome;
  tell(TDicomObjectKind::Report, {});
  DSRDocument report(DSRTypes::DT_BasicTextSR);
  report.setSpecificCharacterSetType(DSRTypes::CS_UTF8);
  report.setPatientName(shared.PatientName.c_str());
  report.setPatientID(shared.PatientId.c_str());
  report.setPatientBirthDate(shared.BirthDate.c_str());
  report.setStudyDate(shared.Study.Date.c_str());
  report.setStudyTime(shared.Study.Time.c_str());
  report.setManufacturer(Manufacturer);
  report.setSoftwareVersions(TESSALY_VERSION);
  report.createNewSeriesInStudy(shared.StudyUid.c_str());
  report.setSeriesNumber("2");
  report.setInstanceNumber("1");
  DSRDocumentTree& tree = report.getTree();
  tree.addContentItem(DSRTypes::RT_isRoot, DSRTypes::VT_Container);
  tree.getCurrentContentItem().setConceptName(
      DSRCodedEntryValue("18748-4", "LN", "Diagnostic Imaging Report"));
  DSRTypes::E_AddMode mode = DSRTypes::AM_belowCurrent;
  const auto finding = [&](const std::string& Text) {
    tree.addContentItem(DSRTypes::RT_contains, DSRTypes::VT_Text, mode);
    mode = DSRTypes::AM_afterCurrent;
    tree.getCurrentContentItem().setConceptName(CODE_DCM_Finding);
    tree.getCurrentContentItem().setStringValue(Text.c_str(), false);
  };
  const std::string& separator = Controller.DecimalSeparator();
  const std::vector<TMeasurementRow> rows =
      MeasurementRows(measures, Controller.MeasureFrame(), separator);
  for (const TMeasurementRow& row : rows) {
    std::string text =
        row.Name + ", " + row.Picture + ": " + Tr(ReportLengthText) + " " + row.Length;
    if (!row.Area.empty()) text += ", " + Tr(ReportAreaText) + " " + row.Area;
    finding(text);
  }
  for (const TMeasurementRow& row : rows) {
    if (!row.Change.empty()) finding(row.Name + ", " + Tr(ReportChangeText) + ": " + row.Change);
  }
  // The pictures and captures measured on, so that the archive's viewer links the report to
  // them; the evidence lists what the report refers to.
  for (const auto& image : images) {
    tree.addContentItem(DSRTypes::RT_contains, DSRTypes::VT_Image, DSRTypes::AM_afterCurrent);
    tree.getCurrentContentItem().setImageReference(
        DSRImageReferenceValue(image.first.c_str(), image.second.c_str()), false);
    report.getCurrentRequestedProcedureEvidence().addItem(
        shared.StudyUid.c_str(), shared.SeriesUid.c_str(), image.first.c_str(),
        image.second.c_str());
  }
  report.completeDocument();
  DcmFileFormat file;
  if (const OFCondition written = report.write(*file.getDataset()); written.bad()) {
    outcome.Status = platform::TStatus::Failure(Texts.NotWritten + "\n" + written.text());
    return outcome;
  }
  OFString seriesUid;
  report.getSeriesInstanceUID(seriesUid);
  outcome.ReportSeriesInstanceUid = seriesUid.c_str();
  store(file);
  return outcome;
}

}  // namespace overlay
