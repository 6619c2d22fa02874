// Inside the DICOM export, what its files share: the putter that checks every value before DCMTK
// takes it (dicom_export_putter.cpp), the parts of the image objects (dicom_export_objects.cpp)
// and the measurements' report (dicom_export_report.cpp). The job that makes and writes them is
// dicom_export.cpp, the patient's choice dicom_export_patient.cpp.
#pragma once

#include <dcmtk/config/osconfig.h>  // first of DCMTK's headers, as its own sources have it
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcitem.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "overlay/decode/picture_import.h"
#include "platform/file_write.h"
#include "platform/status.h"
#include "raster/core.h"

#ifndef TESSALY_VERSION
#define TESSALY_VERSION "unknown"
#endif

namespace overlay {

// The equipment that made the objects: this program, as the General Equipment and SC Equipment
// modules name it.
inline constexpr const char* Manufacturer = "Tessaly";

// A new UID under Root (one of DCMTK's SITE_..._UID_ROOT).
std::string NewUid(const char* Root);

struct TDateTime {
  std::string Date, Time;  // "YYYYMMDD", "HHMMSS"
};
// Now, in the local time.
TDateTime Now();
// The EXIF date (YYYYMMDDhhmmss), else now.
TDateTime DateTimeOf(std::uint64_t DateTaken);

// What every object of one export shares.
struct TShared {
  std::string PatientName, PatientId, BirthDate;
  std::string StudyUid, SeriesUid;
  TDateTime Study, Created;
  std::string PixelSpacing;  // "row\column", empty when the scale is not known
  std::string SpacingDescription;
};

// Puts values into an object, each checked against its element's value representation and
// multiplicity first; the first value refused, or not taken by DCMTK, is kept in Status and
// nothing more is put, so that the object is never written.
class TPutter {
 public:
  explicit TPutter(DcmItem& Item) : FItem(Item) {}
  ~TPutter();
  TPutter(const TPutter&) = delete;
  TPutter& operator=(const TPutter&) = delete;

  void Put(const DcmTagKey& Tag, const std::string& Value);
  void PutUint16(const DcmTagKey& Tag, Uint16 Value);
  // Pixel Data (OB) of Rows rows of RowBytes bytes each, which Row(Y, Out) writes. They go into
  // a file without a name in the user's private temporary folder, which the element reads as
  // the object is written: the object never holds a camera picture's pixels beside the bitmap
  // they come from. Where no such file can be made, into the element's own buffer.
  void PutPixelData(std::size_t RowBytes, int Rows,
                    const std::function<void(int Y, Uint8* Out)>& Row);
  void PutEmptySequence(const DcmTagKey& Tag);
  const platform::TStatus& Status() const { return FStatus; }

 private:
  void Taken(DcmTag Tag, const OFCondition& Condition);
  void Fail(DcmTag Tag, const std::string& Why);
  // The pixels in a file without a name (its descriptor, or -1 when none can be made).
  static int PixelFile(std::size_t RowBytes, int Rows,
                       const std::function<void(int Y, Uint8* Out)>& Row, std::size_t Length);

  DcmItem& FItem;
  platform::TStatus FStatus;
  std::vector<int> FFiles;  // the pixel files, open until the object is written
};

// A decimal string (DS, 16 characters at most) that reads back as Value: the shortest one that
// does, or the closest that fits.
std::string DecimalString(double Value);

// A VL Photographic Image of one of the two pictures, dated when it was taken: picture 1 as it
// was taken (Original), or picture 2 resampled into picture 1's frame.
void PutPhotograph(TPutter& Data, const TShared& Shared, int InstanceNumber, bool Original,
                   const TDateTime& Taken, const raster::TBitmap32& Picture,
                   TLossyCompression Lossy);
// A Secondary Capture made now of the print's Shot, whose pixels come from both pictures (Lossy:
// theirs).
void PutCapture(TPutter& Data, const TShared& Shared, int InstanceNumber,
                const raster::TBitmap32& Shot, const std::vector<TLossyCompression>& Lossy);

// Makes File's bytes (Explicit VR Little Endian) piece by piece, a megabyte at a time, for
// platform::WriteFileInPieces: the file is never held whole beside its object.
platform::TFilePieces FilePieces(DcmFileFormat& File);

// The measurements as a Basic Text SR in a series of its own of the shared study, into File: a
// text finding each, and a reference to each of Images (SOP class, instance) measured on. Its
// series' UID, or the first setter's refusal (every one fails the report: an SR without its
// patient's ID must never reach the archive).
platform::TResult<std::string> MakeMeasurementReport(
    DcmFileFormat& File, const TShared& Shared, const std::vector<std::string>& Findings,
    const std::vector<std::pair<std::string, std::string>>& Images);

}  // namespace overlay
