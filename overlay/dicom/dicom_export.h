// The comparison as DICOM objects for the clinic's archive, one new series in the patient's
// study: picture 1 and the aligned picture 2 as VL Photographic Images (with their pixel
// spacing where the scale is known), the report's captures (the print's opacities and labels, at
// full resolution) as Secondary Capture images, and the measurements as a Basic Text SR in a
// series of its own of the same study (an SR series holds SR documents only), referring to the
// images. Every object is
// written as its own file, uncompressed (Explicit VR Little Endian), named by its SOP Instance
// UID. The window's entry and tessaly-dicom export both come here.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "overlay/decode/picture_import.h"
#include "platform/status.h"

namespace overlay {

class TMainController;

// The patient as the interface file gives it (shown texts, UTF-8).
struct TDicomPatient {
  std::string Name, Firstname;
  std::string Birthdate;  // "DD.MM.YYYY"
  std::string PatientId;  // empty when the interface file has none
};

// Patient's Name: "Name^Firstname", without a trailing "^" when there is no first name; the
// characters DICOM gives a meaning in a name ("^", "=", "\") are left out of each part.
std::string DicomPersonName(const std::string& Name, const std::string& Firstname);
// "YYYYMMDD" of "DD.MM.YYYY" (one or two digits for day and month); empty for anything that is
// no calendar date in that form.
std::string DicomDate(std::string_view InterfaceDate);

// The study the comparison's objects go into: picture 1's when it came from DICOM, else the one
// the comparison record keeps, else a new one.
std::string ChooseStudyInstanceUid(const TPictureFacts& Facts1, const std::string& Kept);

// What kind of object a file holds, for the progress line.
enum class TDicomObjectKind { Picture1, AlignedPicture2, Capture, Report };

struct TDicomExport {
  std::string Folder;  // made (0700) when missing; an existing one must be the user's own
  TDicomPatient Patient;
  std::string KeptStudyInstanceUid;  // the record's, or empty
  int ImageCount = 5;                // the captures, at PrintAlphaSteps' opacities
  // Told before each object is made: its number from 1, of Count, its kind and, for a
  // capture, its label.
  std::function<void(int Number, int Count, TDicomObjectKind Kind, const std::string& Label)>
      Progress;
};

struct TDicomExportOutcome {
  platform::TStatus Status;
  std::string StudyInstanceUid;         // the one used: for the record
  std::string SeriesInstanceUid;        // the pictures and the captures
  std::string ReportSeriesInstanceUid;  // the SR's series; empty without measures
  std::vector<std::string> Files;       // written, in order
};

// The sentences of the export's failures; a window takes DicomTextsOfLanguage(), a command-line
// tool its own English. The file and the system's or the toolkit's reason follow on lines of
// their own.
struct TDicomTexts {
  std::string NothingToExport;  // not both pictures loaded
  std::string NoFolder;         // the folder cannot be made or is not the user's own
  std::string NotWritten;       // an object could not be made or written
  std::string TooLarge;         // no full-resolution capture can be made (%1: the size)
};
TDicomTexts DicomTextsOfLanguage();

// Writes the comparison Controller shows (placement, way of drawing, colour matching, measures,
// scales) as Request says. Content Date and Time of each picture are its EXIF date, else now;
// of the captures and the report, now. Stops at the first object that cannot be written.
TDicomExportOutcome ExportDicom(TMainController& Controller, const TDicomExport& Request,
                                const TDicomTexts& Texts);

}  // namespace overlay
