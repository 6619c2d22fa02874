#include "overlay/dicom/dicom_export.h"

#include <dcmtk/config/osconfig.h>  // first of DCMTK's headers, as its own sources have it
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcdicent.h>
#include <dcmtk/dcmdata/dcdict.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcistrmf.h>
#include <dcmtk/dcmdata/dcostrmb.h>
#include <dcmtk/dcmdata/dcpixel.h>
#include <dcmtk/dcmdata/dcuid.h>
#include <dcmtk/dcmsr/codes/dcm.h>
#include <dcmtk/dcmsr/dsrdoc.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstdio>
#include <ctime>
#include <memory>
#include <tuple>

#include "overlay/base/number_format.h"
#include "overlay/base/texts.h"
#include "overlay/comparison/dicom_values.h"
#include "overlay/output/export_aligned.h"
#include "overlay/output/report.h"
#include "overlay/scene/main_controller.h"
#include "platform/content_hash.h"
#include "platform/file_io.h"
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
// distance, or from the DICOM picture's own spacing in the patient's plane: a geometric one, at
// the plane photographed. The description says which (LO: 64 at most).
constexpr const char* SpacingCalibrationType = "GEOMETRY";
constexpr const char* CallerSpacingDescription =
    "Pixels per 100 mm at the plane photographed, from the caller";
constexpr const char* PixelSpacingDescription = "From the DICOM picture's Pixel Spacing";
constexpr const char* MagnifiedSpacingDescription =
    "From the DICOM picture's Imager Pixel Spacing and magnification";

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

// What every object of one export shares.
struct TShared {
  std::string PatientName, PatientId, BirthDate;
  std::string StudyUid, SeriesUid;
  TDateTime Study, Created;
  std::string PixelSpacing;  // "row\column", empty when the scale is not known
  std::string SpacingDescription;
};

// The value representations this export writes as text, by DCMTK's dictionary.
bool TextVr(DcmEVR Vr, TDicomVr* Out) {
  constexpr std::pair<DcmEVR, TDicomVr> Vrs[] = {
      {EVR_AE, TDicomVr::AE}, {EVR_CS, TDicomVr::CS}, {EVR_DA, TDicomVr::DA},
      {EVR_DS, TDicomVr::DS}, {EVR_DT, TDicomVr::DT}, {EVR_IS, TDicomVr::IS},
      {EVR_LO, TDicomVr::LO}, {EVR_LT, TDicomVr::LT}, {EVR_PN, TDicomVr::PN},
      {EVR_SH, TDicomVr::SH}, {EVR_ST, TDicomVr::ST}, {EVR_TM, TDicomVr::TM},
      {EVR_UI, TDicomVr::UI}, {EVR_UT, TDicomVr::UT}};
  for (const auto& [evr, vr] : Vrs) {
    if (evr == Vr) {
      *Out = vr;
      return true;
    }
  }
  return false;
}

// Puts values into an object, each checked against its element's value representation and
// multiplicity first; the first value refused, or not taken by DCMTK, is kept in Status and
// nothing more is put, so that the object is never written.
class TPutter {
 public:
  explicit TPutter(DcmItem& Item) : FItem(Item) {}

  void Put(const DcmTagKey& Tag, const std::string& Value) {
    if (!FStatus) return;
    DcmTag tag(Tag);
    TDicomVr vr{};
    if (!TextVr(tag.getEVR(), &vr)) {
      Fail(tag, "no text value representation");
      return;
    }
    int maxValues = 1;
    {
      const DcmDataDictionary& dictionary = dcmDataDict.rdlock();
      if (const DcmDictEntry* entry = dictionary.findEntry(Tag, nullptr)) {
        maxValues = entry->getVMMax() == DcmVariableVM ? INT_MAX : entry->getVMMax();
      }
      dcmDataDict.rdunlock();
    }
    const bool text = vr == TDicomVr::LT || vr == TDicomVr::ST || vr == TDicomVr::UT;
    FStatus = maxValues > 1 && !text ? CheckDicomValues(vr, tag.getTagName(), Value, maxValues)
                                     : CheckDicomValue(vr, tag.getTagName(), Value);
    if (FStatus) Taken(tag, FItem.putAndInsertString(Tag, Value.c_str()));
  }
  void PutUint16(const DcmTagKey& Tag, Uint16 Value) {
    if (FStatus) Taken(DcmTag(Tag), FItem.putAndInsertUint16(Tag, Value));
  }
  // Pixel Data (OB) of Rows rows of RowBytes bytes each, which Row(Y, Out) writes. They go into
  // a file without a name in the user's private temporary folder, which the element reads as
  // the object is written: the object never holds a camera picture's pixels beside the bitmap
  // they come from. Where no such file can be made, into the element's own buffer.
  void PutPixelData(std::size_t RowBytes, int Rows,
                    const std::function<void(int Y, Uint8* Out)>& Row) {
    if (!FStatus) return;
    const std::size_t size = RowBytes * std::size_t(Rows);
    // DICOM values are of even length: an odd one ends with a pad byte.
    const std::size_t length = size + (size & 1);
    if (length > 0xFFFFFFFEu) return Taken(DcmTag(DCM_PixelData), EC_TooManyBytesRequested);
    auto element = std::make_unique<DcmPixelData>(DcmTag(DCM_PixelData, EVR_OB));
    OFCondition c = EC_Normal;
    const int fd = PixelFile(RowBytes, Rows, Row, length);
    if (fd >= 0) {
      FFiles.push_back(fd);
      c = element->createValueFromTempFile(
          new DcmInputFileStreamFactory(("/proc/self/fd/" + std::to_string(fd)).c_str(), 0),
          Uint32(length), EBO_LittleEndian);
    } else {
      Uint8* bytes = nullptr;
      c = element->createUint8Array(Uint32(size), bytes);
      for (int y = 0; c.good() && y < Rows; ++y) Row(y, bytes + std::size_t(y) * RowBytes);
    }
    if (c.good()) {
      c = FItem.insert(element.get(), true);
      if (c.good()) element.release();  // the item's now
    }
    Taken(DcmTag(DCM_PixelData), c);
  }
  ~TPutter() {
    for (const int fd : FFiles) ::close(fd);
  }
  TPutter(const TPutter&) = delete;
  TPutter& operator=(const TPutter&) = delete;
  void PutEmptySequence(const DcmTagKey& Tag) {
    if (FStatus) Taken(DcmTag(Tag), FItem.insertEmptyElement(Tag));
  }
  const platform::TStatus& Status() const { return FStatus; }

 private:
  void Taken(DcmTag Tag, const OFCondition& Condition) {
    if (Condition.bad()) Fail(Tag, Condition.text());
  }
  void Fail(DcmTag Tag, const std::string& Why) {
    FStatus = platform::TStatus::Failure(std::string(Tag.getTagName()) + ": " + Why);
  }

  DcmItem& FItem;
  platform::TStatus FStatus;
  std::vector<int> FFiles;  // the pixel files, open until the object is written

  // The pixels in a file without a name (its descriptor, or -1 when none can be made).
  static int PixelFile(std::size_t RowBytes, int Rows,
                       const std::function<void(int Y, Uint8* Out)>& Row, std::size_t Length) {
    const std::string folder = platform::TempDirectory();
    if (folder.empty() || ::access("/proc/self/fd", F_OK) != 0) return -1;
    const int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0) return -1;
    // A band of rows at a time: a megabyte or one row.
    const std::size_t band =
        std::max<std::size_t>(1, (std::size_t(1) << 20) / std::max<std::size_t>(RowBytes, 1));
    std::vector<Uint8> buffer(band * RowBytes + 1, 0);
    off_t offset = 0;
    bool ok = true;
    for (int y = 0; ok && y < Rows; y += int(band)) {
      const int rows = std::min(int(band), Rows - y);
      for (int r = 0; r < rows; ++r) Row(y + r, buffer.data() + std::size_t(r) * RowBytes);
      std::size_t bytes = std::size_t(rows) * RowBytes;
      if (y + rows == Rows && Length > std::size_t(offset) + bytes) buffer[bytes++] = 0;  // pad
      ok = platform::WriteAt(fd, buffer.data(), bytes, offset);
      offset += off_t(bytes);
    }
    if (!ok) {
      ::close(fd);
      return -1;
    }
    return fd;
  }
};

// A decimal string (DS, 16 characters at most) that reads back as Value: the shortest one that
// does, or the closest that fits.
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

// The file's bytes: preamble, meta information and the data set in Explicit VR Little Endian.
// Makes File's bytes (Explicit VR Little Endian) piece by piece, a megabyte at a time, for
// platform::WriteFileInPieces: the file is never held whole beside its object.
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

std::string DicomPatientName(const TDicomPatient& Patient) {
  return !Patient.PersonName.empty() ? Patient.PersonName
                                     : DicomPersonName(Patient.Name, Patient.Firstname);
}

std::string DicomPatientId(const TDicomPatient& Patient) {
  const std::size_t first = Patient.PatientId.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return Patient.PatientId.substr(first, Patient.PatientId.find_last_not_of(' ') + 1 - first);
}

std::string DicomPatientBirthDate(const TDicomPatient& Patient) {
  return !Patient.PersonName.empty() || !Patient.BirthDate.empty() ? Patient.BirthDate
                                                                   : DicomDate(Patient.Birthdate);
}

TDicomPatient PatientOfDicomFacts(const TPictureFacts& Facts) {
  TDicomPatient patient;
  if (Facts.Frames == 0) return patient;  // no DICOM file
  patient.PersonName = Facts.PatientName;
  patient.PatientId = Facts.PatientId;
  patient.BirthDate = Facts.PatientBirthDate;
  return patient;
}

namespace {

// Family and given name of a person name's first (alphabetic) group, each without the spaces
// around it, with the letters A-Z and À-Þ in lower case and ä, ö, ü, ß written out, so that
// "MUELLER^JÜRGEN" and "Müller^Jürgen" are the same name.
std::pair<std::string, std::string> ComparableName(const std::string& PersonName) {
  const std::string group = PersonName.substr(0, PersonName.find('='));
  std::string parts[2];
  std::size_t start = 0;
  for (int k = 0; k < 2 && start <= group.size(); ++k) {
    const std::size_t end = std::min(group.find('^', start), group.size());
    std::string part = group.substr(start, end - start);
    const std::size_t first = part.find_first_not_of(' ');
    part = first == std::string::npos ? std::string()
                                      : part.substr(first, part.find_last_not_of(' ') + 1 - first);
    for (std::size_t i = 0; i < part.size(); ++i) {
      auto& c = reinterpret_cast<unsigned char&>(part[i]);
      if (c >= 'A' && c <= 'Z') {
        c = static_cast<unsigned char>(c + 32);
      } else if (c == 0xC3 && i + 1 < part.size()) {
        // U+00C0..U+00DE but U+00D7 (the multiplication sign) in UTF-8: C3 80..9E.
        auto& next = reinterpret_cast<unsigned char&>(part[i + 1]);
        if (next >= 0x80 && next <= 0x9E && next != 0x97)
          next = static_cast<unsigned char>(next + 0x20);
        ++i;
      }
    }
    // German umlauts as they are written without them ("MUELLER" for "Müller"), as systems of a
    // smaller character set store them.
    for (const auto& [letter, written] :
         {std::pair("\xC3\xA4", "ae"), std::pair("\xC3\xB6", "oe"), std::pair("\xC3\xBC", "ue"),
          std::pair("\xC3\x9F", "ss")}) {
      for (std::size_t at = part.find(letter); at != std::string::npos;
           at = part.find(letter, at)) {
        part.replace(at, 2, written);
      }
    }
    parts[k] = std::move(part);
    start = end + 1;
  }
  return {parts[0], parts[1]};
}

// One line naming a patient: "Label: Name, ID id, *YYYYMMDD".
std::string PatientLine(const std::string& Label, const TDicomPatient& Patient) {
  const std::string birth = DicomPatientBirthDate(Patient);
  return Label + ": " + DicomPatientName(Patient) + ", ID " + DicomPatientId(Patient) +
         (birth.empty() ? "" : ", *" + birth);
}

std::string WithArgument(const std::string& Text, const std::string& Argument) {
  std::string out = Text;
  const std::size_t at = out.find("%1");
  if (at != std::string::npos) out.replace(at, 2, Argument);
  return out;
}

}  // namespace

bool SameDicomPatient(const TDicomPatient& A, const TDicomPatient& B, std::string* Fields) {
  std::vector<std::string> differ;
  if (DicomPatientId(A) != DicomPatientId(B)) differ.push_back("Patient ID");
  const std::string nameA = DicomPatientName(A), nameB = DicomPatientName(B);
  if (!nameA.empty() && !nameB.empty() && ComparableName(nameA) != ComparableName(nameB)) {
    differ.push_back("Patient's Name");
  }
  const std::string birthA = DicomPatientBirthDate(A), birthB = DicomPatientBirthDate(B);
  if (!birthA.empty() && !birthB.empty() && birthA != birthB) {
    differ.push_back("Patient's Birth Date");
  }
  if (Fields != nullptr) {
    Fields->clear();
    for (const std::string& field : differ) *Fields += (Fields->empty() ? "" : ", ") + field;
  }
  return differ.empty();
}

platform::TResult<TDicomPatient> ChooseDicomPatient(const TDicomPatient& Given,
                                                    const TPictureFacts& Facts1,
                                                    const TPictureFacts& Facts2,
                                                    const TDicomTexts& Texts) {
  const TDicomPatient pictures[2] = {PatientOfDicomFacts(Facts1), PatientOfDicomFacts(Facts2)};
  const bool dicom[2] = {Facts1.Frames > 0, Facts2.Frames > 0};
  const auto namesAnybody = [](const TDicomPatient& P) {
    return !DicomPatientId(P).empty() || !DicomPatientName(P).empty();
  };
  const bool given = namesAnybody(Given);
  // A patient the calling application did not name is picture 1's, never picture 2's alone: a
  // picture 1 of no patient would go into the archive as picture 2's patient's.
  const TDicomPatient patient = given || !dicom[0] ? Given : pictures[0];
  if (DicomPatientId(patient).empty()) return platform::TStatus::Failure(Texts.NoPatient);
  platform::TStatus valid = CheckDicomValue(TDicomVr::LO, "Patient ID", DicomPatientId(patient));
  if (valid) valid = CheckDicomValue(TDicomVr::PN, "Patient's Name", DicomPatientName(patient));
  if (valid) {
    valid = CheckDicomValue(TDicomVr::DA, "Patient's Birth Date", DicomPatientBirthDate(patient));
  }
  if (!valid) return valid;
  for (int k = 0; k < 2; ++k) {
    std::string fields;
    if (!dicom[k] || SameDicomPatient(patient, pictures[k], &fields)) continue;
    const std::string number = std::to_string(k + 1);
    const std::string sentence =
        given ? WithArgument(Texts.OtherPatient, number) : Texts.TwoPatients;
    const std::string other = given ? Texts.ExportPatient : WithArgument(Texts.PicturePatient, "1");
    return platform::TStatus::Failure(
        sentence + "\n" + PatientLine(WithArgument(Texts.PicturePatient, number), pictures[k]) +
        "\n" + PatientLine(other, patient) + "\n" + WithArgument(Texts.PatientDiffers, fields));
  }
  return patient;
}

std::string ChooseStudyInstanceUid(const TPictureFacts& Facts1, const TDicomPatient& Patient,
                                   const std::string& Kept) {
  if (Facts1.Frames > 0 && IsValidDicomUid(Facts1.StudyInstanceUid) &&
      SameDicomPatient(PatientOfDicomFacts(Facts1), Patient)) {
    return Facts1.StudyInstanceUid;
  }
  if (IsValidDicomUid(Kept)) return Kept;
  return NewUid(SITE_STUDY_UID_ROOT);
}

TDicomPatient DicomPatientOf(const TComparisonPatient& Patient) {
  TDicomPatient p;
  p.Name = Patient.Name;
  p.Firstname = Patient.Firstname;
  p.Birthdate = Patient.Birthdate;
  p.PatientId = Patient.PatientId;
  return p;
}

TDicomTexts DicomTextsOfLanguage() {
  return {Tr(ExportNothingText),          Tr(DicomNoFolderText),       Tr(DicomNotWrittenText),
          Tr(DicomNoPatientText),         Tr(DicomOtherPatientText),   Tr(DicomTwoPatientsText),
          Tr(DicomPicturePatientText),    Tr(DicomExportPatientText),  Tr(DicomPatientDiffersText),
          Tr(FullResolutionTooLargeText), Tr(DicomExportCancelledText)};
}

struct TDicomExportJob::TState {
  TDicomExport Request;
  TDicomTexts Texts;
  TDicomExportOutcome Outcome;  // a refusal when made, else what Run made
  TShared Shared;
  std::vector<std::string> Findings;
  std::unique_ptr<TFullResolutionRenderer> Renderer;
  std::vector<TPrintCapture> Captures;
  TLossyCompression Lossy1{}, Lossy2{};
  TDateTime Taken[2];
};

TDicomExportJob::TDicomExportJob(TMainController& Controller, const TDicomExport& Request,
                                 const TDicomTexts& Texts)
    : F(std::make_unique<TState>()) {
  F->Request = Request;
  F->Texts = Texts;
  TDicomExportOutcome& outcome = F->Outcome;
  TShared& shared = F->Shared;
  if (!Controller.ControlsEnabled() || Controller.RotLayer() == nullptr) {
    outcome.Status = platform::TStatus::Failure(Texts.NothingToExport);
    return;
  }
  const TPictureFacts& facts1 = Controller.Facts1();
  const TPictureFacts& facts2 = Controller.Facts2();

  // Everything the objects share, checked before anything (the folder included) is written: a
  // patient or a study that cannot go into the archive leaves no trace.
  platform::TResult<TDicomPatient> patient =
      ChooseDicomPatient(Request.Patient, facts1, facts2, Texts);
  if (!patient) {
    outcome.Status = patient.Status();
    return;
  }
  shared.PatientName = DicomPatientName(patient.Value());
  shared.PatientId = DicomPatientId(patient.Value());
  shared.BirthDate = DicomPatientBirthDate(patient.Value());
  shared.StudyUid = ChooseStudyInstanceUid(facts1, patient.Value(), Request.KeptStudyInstanceUid);
  shared.SeriesUid = NewUid(SITE_SERIES_UID_ROOT);
  shared.Study = DateTimeOf(Controller.WhenTaken(1));
  shared.Created = Now();
  const int pp100mm = Controller.MeasureFrame().Pp100MM1;
  const bool ownSpacing = Controller.Scale1FromFacts() && facts1.PixelSpacingColumn > 0 &&
                          (facts1.SpacingSource == TSpacingSource::PixelSpacing ||
                           facts1.SpacingSource == TSpacingSource::MagnifiedImagerSpacing);
  if (ownSpacing) {
    // Exactly as the picture gave it (rows apart, columns apart), not through the whole pixels
    // per 100 mm of the scale bar: 0.7 mm stays 0.7 mm.
    shared.PixelSpacing =
        DecimalString(facts1.PixelSpacingRow) + "\\" + DecimalString(facts1.PixelSpacingColumn);
    shared.SpacingDescription = facts1.SpacingSource == TSpacingSource::PixelSpacing
                                    ? PixelSpacingDescription
                                    : MagnifiedSpacingDescription;
  } else if (pp100mm > 0 && pp100mm <= MaxExportPp100MM) {
    const std::string spacing = DecimalString(100.0 / pp100mm);
    shared.PixelSpacing = spacing + "\\" + spacing;
    shared.SpacingDescription = CallerSpacingDescription;
  }
  for (const auto& [vr, field, value] :
       {std::tuple(TDicomVr::UI, "Study Instance UID", shared.StudyUid),
        std::tuple(TDicomVr::UI, "Series Instance UID", shared.SeriesUid),
        std::tuple(TDicomVr::DA, "Study Date", shared.Study.Date),
        std::tuple(TDicomVr::TM, "Study Time", shared.Study.Time)}) {
    if (platform::TStatus valid = CheckDicomValue(vr, field, value); !valid) {
      outcome.Status = std::move(valid);
      return;
    }
  }
  if (platform::TStatus valid =
          CheckDicomValues(TDicomVr::DS, "Pixel Spacing", shared.PixelSpacing, 2);
      !valid) {
    outcome.Status = std::move(valid);
    return;
  }
  outcome.StudyInstanceUid = shared.StudyUid;
  outcome.SeriesInstanceUid = shared.SeriesUid;

  // Rows and Columns are 16-bit.
  const raster::TBitmap32& picture1 = Controller.ImgView().Bitmap();
  constexpr int MaxDicomSide = 65535;
  if (picture1.Width() > MaxDicomSide || picture1.Height() > MaxDicomSide) {
    outcome.Status = platform::TStatus::Failure(Texts.NotWritten + "\n" + Controller.ImageFile1() +
                                                "\nmore than 65535 rows or columns");
    return;
  }

  // The report's texts, checked before the first object is written too.
  const std::vector<TMeasure>& measures = Controller.Measures();
  std::vector<std::string>& findings = F->Findings;
  if (!measures.empty()) {
    const std::string& separator = Controller.DecimalSeparator();
    const std::vector<TMeasurementRow> rows =
        MeasurementRows(measures, Controller.MeasureFrame(), separator);
    for (const TMeasurementRow& row : rows) {
      std::string text =
          row.Name + ", " + row.Picture + ": " + Tr(ReportLengthText) + " " + row.Length;
      if (!row.Area.empty()) text += ", " + Tr(ReportAreaText) + " " + row.Area;
      findings.push_back(std::move(text));
    }
    for (const TMeasurementRow& row : rows) {
      if (!row.Change.empty()) {
        findings.push_back(row.Name + ", " + Tr(ReportChangeText) + ": " + row.Change);
      }
    }
    for (const std::string& finding : findings) {
      if (platform::TStatus valid = CheckDicomValue(TDicomVr::UT, "Text Value", finding); !valid) {
        outcome.Status = std::move(valid);
        return;
      }
    }
  }

  // The captures' scene, made last: it copies the pictures (or takes them, for a tool) and the
  // placement, so that Run reads nothing of Controller. A comparison too large for it is refused
  // before any file.
  F->Captures = PrintCapturesOf(Controller, Request.ImageCount);
  F->Lossy1 = facts1.Lossy;
  F->Lossy2 = facts2.Lossy;
  F->Taken[0] = DateTimeOf(Controller.WhenTaken(1));
  F->Taken[1] = DateTimeOf(Controller.WhenTaken(2));
  F->Renderer = std::make_unique<TFullResolutionRenderer>(
      Controller, raster::TRect{0, 0, picture1.Width(), picture1.Height()},
      Request.TakePictures ? TFullResolutionRenderer::TPictures::Take
                           : TFullResolutionRenderer::TPictures::Copy);
  if (F->Renderer->TooLarge()) {
    std::string why = Texts.TooLarge;
    if (const std::size_t at = why.find("%1"); at != std::string::npos) {
      why.replace(at, 2, F->Renderer->PartSize());
    }
    outcome.Status = platform::TStatus::Failure(why);
    return;
  }
  if (F->Renderer->SceneController() == nullptr) {
    outcome.Status = platform::TStatus::Failure(Texts.NothingToExport);
    return;
  }
}

TDicomExportJob::~TDicomExportJob() = default;

const platform::TStatus& TDicomExportJob::Refusal() const {
  return F->Outcome.Status;
}

TDicomExportOutcome TDicomExportJob::Run(platform::TCancel* Cancel,
                                         const TDicomProgress& Progress) {
  // Runs once: a second run would make the same UIDs again.
  TDicomExportOutcome outcome = std::exchange(F->Outcome, {});
  if (!outcome.Status) return outcome;
  if (!F->Renderer) {
    outcome.Status = platform::TStatus::Failure(F->Texts.NothingToExport);
    return outcome;
  }
  const TDicomExport& Request = F->Request;
  const TDicomTexts& Texts = F->Texts;
  const TShared& shared = F->Shared;
  const std::vector<std::string>& findings = F->Findings;
  TFullResolutionRenderer& renderer = *F->Renderer;
  const TMainController& scene = *renderer.SceneController();
  const raster::TBitmap32& picture1 = scene.ImgView().Bitmap();
  std::string folder = Request.Folder;
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  std::string error;
  const std::size_t slash = folder.rfind('/');
  const bool madeFolder = !platform::FileExists(folder);
  if ((slash != std::string::npos && slash > 0 &&
       !platform::MakeFolders(folder.substr(0, slash), &error)) ||
      !platform::MakePrivateFolder(folder, &error)) {
    outcome.Status = platform::TStatus::Failure(Texts.NoFolder + "\n" + Request.Folder +
                                                (error.empty() ? "" : "\n" + error));
    return outcome;
  }
  folder += '/';

  const std::vector<TPrintCapture>& captures = F->Captures;
  const int count = 2 + int(captures.size()) + (findings.empty() ? 0 : 1);
  int number = 0;

  // The images written, for the report's references: SOP class and instance.
  std::vector<std::pair<std::string, std::string>> images;
  const auto notWritten = [&](const std::string& Why) {
    outcome.Status = platform::TStatus::Failure(Texts.NotWritten + (Why.empty() ? "" : "\n" + Why));
    return false;
  };
  const auto store = [&](DcmFileFormat& File, const platform::TStatus& Made) {
    if (!Made) return notWritten(Made.Reason());
    OFString uid, sopClass;
    File.getDataset()->findAndGetOFString(DCM_SOPInstanceUID, uid);
    File.getDataset()->findAndGetOFString(DCM_SOPClassUID, sopClass);
    const std::string path = folder + uid.c_str() + ".dcm";
    std::string why;
    if (platform::WriteFileInPieces(path, FilePieces(File), &why, PrivateNewFile)) {
      outcome.Files.push_back(path);
      images.emplace_back(sopClass.c_str(), uid.c_str());
      return true;
    }
    return notWritten(path + (why.empty() ? "" : "\n" + why));
  };
  // Before each object: a cancel removes what this export wrote, so that no half comparison is
  // left behind, and the folder when the export made it and it is empty again.
  const auto tell = [&](TDicomObjectKind Kind, const std::string& Label) {
    if (Cancel != nullptr && Cancel->Cancelled()) {
      for (const std::string& file : outcome.Files) ::unlink(file.c_str());
      outcome.Files.clear();
      if (madeFolder) ::rmdir(folder.substr(0, folder.size() - 1).c_str());
      outcome.Status = platform::TStatus::Failure(Texts.Cancelled);
      outcome.Cancelled = true;
      return false;
    }
    ++number;
    if (const TDicomProgress& told = Progress ? Progress : Request.Progress) {
      told(number, count, Kind, Label);
    }
    return true;
  };

  // The two pictures as they were taken (picture 2 in picture 1's frame): original photographs,
  // the second resampled.
  const TDateTime(&taken)[2] = F->Taken;
  for (int which = 0; which < 2; ++which) {
    if (!tell(which == 0 ? TDicomObjectKind::Picture1 : TDicomObjectKind::AlignedPicture2, {})) {
      return outcome;
    }
    std::unique_ptr<raster::TBitmap32> aligned;
    // The job's own scene: its layer may draw the aligned picture itself.
    if (which == 1) aligned = AlignedPictureInPlace(picture1, *scene.RotLayer());
    DcmFileFormat file;
    TPutter data(*file.getDataset());
    PutCommon(data, shared, VlPhotographicImageClass, number);
    data.Put(DCM_ImageType, which == 0 ? "ORIGINAL\\PRIMARY" : "DERIVED\\PRIMARY");
    data.Put(DCM_ContentDate, taken[which].Date);
    data.Put(DCM_ContentTime, taken[which].Time);
    data.Put(DCM_AcquisitionDateTime, taken[which].Date + taken[which].Time);
    data.PutEmptySequence(DCM_AcquisitionContextSequence);
    PutPixels(data, which == 0 ? picture1 : *aligned, shared, {which == 0 ? F->Lossy1 : F->Lossy2},
              false);
    aligned.reset();  // in the object now: not held while the file is written
    if (!store(file, data.Status())) return outcome;
  }

  // The captures of the print, over whole picture 1, as secondary captures made now.
  for (const TPrintCapture& capture : captures) {
    if (!tell(TDicomObjectKind::Capture, capture.Label)) return outcome;
    std::unique_ptr<raster::TBitmap32> shot = renderer.Render(capture);
    if (!shot) {
      outcome.Status = platform::TStatus::Failure(Texts.NothingToExport);
      return outcome;
    }
    const TDateTime made = Now();
    DcmFileFormat file;
    TPutter data(*file.getDataset());
    PutCommon(data, shared, SecondaryCaptureImageClass, number);
    data.Put(DCM_ImageType, "DERIVED\\SECONDARY");
    data.Put(DCM_ConversionType, "WSD");
    data.Put(DCM_SecondaryCaptureDeviceManufacturer, Manufacturer);
    data.Put(DCM_SecondaryCaptureDeviceSoftwareVersions, TESSALY_VERSION);
    data.Put(DCM_ContentDate, made.Date);
    data.Put(DCM_ContentTime, made.Time);
    data.Put(DCM_DateOfSecondaryCapture, made.Date);
    data.Put(DCM_TimeOfSecondaryCapture, made.Time);
    PutPixels(data, *shot, shared, {F->Lossy1, F->Lossy2}, true);
    shot.reset();
    if (!store(file, data.Status())) return outcome;
  }

  // The measurements: a text finding per measure, one per outline pair's change, and the images
  // of this export.
  if (findings.empty() || !tell(TDicomObjectKind::Report, {})) return outcome;
  DSRDocument report(DSRTypes::DT_BasicTextSR);
  // Every setter's refusal is the export's failure: an SR without its patient's ID must never
  // reach the archive.
  platform::TStatus made;
  const auto accepted = [&made](const char* What, const OFCondition& Condition) {
    if (made && Condition.bad()) {
      made = platform::TStatus::Failure(std::string(What) + ": " + Condition.text());
    }
  };
  const auto added = [&made](const char* What, std::size_t Node) {
    if (made && Node == 0) made = platform::TStatus::Failure(std::string(What) + ": not added");
  };
  accepted("SpecificCharacterSet", report.setSpecificCharacterSetType(DSRTypes::CS_UTF8));
  accepted("PatientName", report.setPatientName(shared.PatientName.c_str()));
  accepted("PatientID", report.setPatientID(shared.PatientId.c_str()));
  accepted("PatientBirthDate", report.setPatientBirthDate(shared.BirthDate.c_str()));
  accepted("StudyDate", report.setStudyDate(shared.Study.Date.c_str()));
  accepted("StudyTime", report.setStudyTime(shared.Study.Time.c_str()));
  accepted("Manufacturer", report.setManufacturer(Manufacturer));
  accepted("SoftwareVersions", report.setSoftwareVersions(TESSALY_VERSION));
  accepted("StudyInstanceUID", report.createNewSeriesInStudy(shared.StudyUid.c_str()));
  accepted("SeriesNumber", report.setSeriesNumber("2"));
  accepted("InstanceNumber", report.setInstanceNumber("1"));
  DSRDocumentTree& tree = report.getTree();
  added("root container", tree.addContentItem(DSRTypes::RT_isRoot, DSRTypes::VT_Container));
  accepted("ConceptNameCodeSequence",
           tree.getCurrentContentItem().setConceptName(
               DSRCodedEntryValue("18748-4", "LN", "Diagnostic Imaging Report")));
  DSRTypes::E_AddMode mode = DSRTypes::AM_belowCurrent;
  for (const std::string& finding : findings) {
    added("finding", tree.addContentItem(DSRTypes::RT_contains, DSRTypes::VT_Text, mode));
    mode = DSRTypes::AM_afterCurrent;
    accepted("ConceptNameCodeSequence",
             tree.getCurrentContentItem().setConceptName(CODE_DCM_Finding));
    accepted("TextValue", tree.getCurrentContentItem().setStringValue(finding.c_str(), false));
  }
  // The pictures and captures measured on, so that the archive's viewer links the report to
  // them; the evidence lists what the report refers to.
  for (const auto& image : images) {
    added("image", tree.addContentItem(DSRTypes::RT_contains, DSRTypes::VT_Image,
                                       DSRTypes::AM_afterCurrent));
    accepted("ReferencedSOPSequence",
             tree.getCurrentContentItem().setImageReference(
                 DSRImageReferenceValue(image.first.c_str(), image.second.c_str()), false));
    accepted("CurrentRequestedProcedureEvidenceSequence",
             report.getCurrentRequestedProcedureEvidence().addItem(
                 shared.StudyUid.c_str(), shared.SeriesUid.c_str(), image.first.c_str(),
                 image.second.c_str()));
  }
  accepted("completeDocument", report.completeDocument());
  if (!made) {
    notWritten(made.Reason());
    return outcome;
  }
  DcmFileFormat file;
  if (const OFCondition written = report.write(*file.getDataset()); written.bad()) {
    notWritten(written.text());
    return outcome;
  }
  OFString seriesUid;
  report.getSeriesInstanceUID(seriesUid);
  outcome.ReportSeriesInstanceUid = seriesUid.c_str();
  store(file, {});
  return outcome;
}

std::string DicomExportDigest(const TMainController& Controller, const TComparison& Comparison,
                              const TDicomExport& Request) {
  // Each value on a line of its own, after its name: no two comparisons give the same text.
  std::string text;
  const auto add = [&text](std::string_view Name, const std::string& Value) {
    text.append(Name).append("=").append(std::to_string(Value.size())).append(":");
    text.append(Value).append("\n");
  };
  const TComparisonRecord& r = Comparison.Record;
  for (const TComparisonPicture* p : {&Comparison.Picture1, &Comparison.Picture2}) {
    add("picture", p->Sha256 + " " + std::to_string(p->Orientation));
  }
  const TDicomPatient patient = Request.Patient;
  for (const std::string* v : {&patient.Name, &patient.Firstname, &patient.Birthdate,
                               &patient.PatientId, &patient.PersonName, &patient.BirthDate}) {
    add("patient", *v);
  }
  // Not the kept study: the first export sets it, and the same comparison goes into it anyway.
  add("count", std::to_string(Request.ImageCount));
  const TPrecisePlacement placement = Controller.Placement();
  add("placement", FormatExact(placement.Angle) + " " + FormatExact(placement.Zoom) + " " +
                       FormatExact(placement.X) + " " + FormatExact(placement.Y));
  const TSliderPositions sliders = Controller.Sliders();
  add("sliders", std::to_string(sliders.Angle) + " " + std::to_string(sliders.OffsetX) + " " +
                     std::to_string(sliders.OffsetY) + " " + std::to_string(sliders.OverlayZoom) +
                     " " + std::to_string(sliders.Alpha) + " " +
                     std::to_string(Controller.Precise()));
  add("view", r.Mode + " " + std::to_string(Controller.DifferenceView()) + " " +
                  std::to_string(Controller.Checker()) + " " + std::to_string(Controller.Side()) +
                  " " + std::to_string(Controller.Swipe()) + " " +
                  FormatExact(Controller.SwipeLine()) + " " +
                  std::to_string(Controller.CheckerSquare()) + " " +
                  FormatExact(Controller.ImgView().Scale()) + " " +
                  std::to_string(Controller.ColourMatchOn()));
  add("scale", std::to_string(Controller.MeasureFrame().Pp100MM1) + " " +
                   std::to_string(Controller.MeasureFrame().Pp100MM2) + " " +
                   std::to_string(Controller.ScaleBar().Pp100MM()) + " " +
                   std::to_string(Controller.Scale1FromFacts()) + " " +
                   Controller.DecimalSeparator());
  add("taken",
      std::to_string(Controller.WhenTaken(1)) + " " + std::to_string(Controller.WhenTaken(2)));
  for (const TMeasure& m : Controller.Measures()) {
    std::string points;
    for (const TMeasurePoint& p : m.Points)
      points += FormatExact(p.X) + "," + FormatExact(p.Y) + ";";
    add("measure", std::to_string(int(m.Kind)) + " " + std::to_string(m.Picture) + " " + m.Name +
                       " " + points);
  }
  add("notes", r.Notes);
  // The labels and sentences in the language the objects are written in.
  for (const TText* t : {&PrintCaptureText, &ReportLengthText, &ReportAreaText, &ReportChangeText,
                         &ReportPictureText}) {
    add("text", Tr(*t));
  }
  add("version", TESSALY_VERSION);
  return platform::Sha256OfText(text);
}

TDicomExportOutcome ExportDicom(TMainController& Controller, const TDicomExport& Request,
                                const TDicomTexts& Texts) {
  return TDicomExportJob(Controller, Request, Texts).Run();
}

}  // namespace overlay
