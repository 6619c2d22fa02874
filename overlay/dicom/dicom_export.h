// The comparison as DICOM objects for the clinic's archive, one new series in the patient's
// study: picture 1 and the aligned picture 2 as VL Photographic Images (with their pixel
// spacing where the scale is known), the report's captures (the print's, PrintCaptures, with their
// labels, at full resolution) as Secondary Capture images, and the measurements as a Basic Text SR
// in a series of its own of the same study (an SR series holds SR documents only), referring to the
// images. Every object is
// written as its own file, uncompressed (Explicit VR Little Endian), named by its SOP Instance
// UID. The window's entry and tessaly-dicom export both come here.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "overlay/comparison/comparison.h"
#include "overlay/decode/picture_import.h"
#include "platform/cancel.h"
#include "platform/status.h"

namespace overlay {

class TMainController;

// The patient as the interface file gives it (shown texts, UTF-8), or as a DICOM picture does
// (PatientOfDicomFacts).
struct TDicomPatient {
  std::string Name, Firstname;
  std::string Birthdate;  // "DD.MM.YYYY"
  std::string PatientId;  // empty when the interface file has none
  // A DICOM picture's Patient's Name and Birth Date as the file stores them (PN, DA); where
  // PersonName is not empty, these two stand for Name, Firstname and Birthdate.
  std::string PersonName, BirthDate;
};

// The comparison's patient as the export takes it (the window and tessaly-dicom export alike).
TDicomPatient DicomPatientOf(const TComparisonPatient& Patient);

// Patient's Name: "Name^Firstname", without a trailing "^" when there is no first name; the
// characters DICOM gives a meaning in a name ("^", "=", "\") are left out of each part.
std::string DicomPersonName(const std::string& Name, const std::string& Firstname);
// "YYYYMMDD" of "DD.MM.YYYY" (one or two digits for day and month); empty for anything that is
// no calendar date in that form.
std::string DicomDate(std::string_view InterfaceDate);
// A patient's Patient's Name, Patient ID (without the spaces around it, which DICOM does not
// count) and Patient's Birth Date as the export writes them.
std::string DicomPatientName(const TDicomPatient& Patient);
std::string DicomPatientId(const TDicomPatient& Patient);
std::string DicomPatientBirthDate(const TDicomPatient& Patient);

// The sentences of the export's failures; a window takes DicomTextsOfLanguage(), a command-line
// tool its own English. The file and the system's or the toolkit's reason follow on lines of
// their own.
struct TDicomTexts {
  std::string NothingToExport;  // not both pictures loaded
  std::string NoFolder;         // the folder cannot be made or is not the user's own
  std::string NotWritten;       // an object could not be made or written
  // The patient refused: none (no patient ID from the interface file, and picture 1 is no DICOM
  // picture of a patient); a DICOM picture (%1 its number) of another patient than the
  // export's; two DICOM pictures of different patients. The patients follow, a line each: the
  // picture's (%1 its number) and the export's, then the fields that differ (%1).
  std::string NoPatient, OtherPatient, TwoPatients;
  std::string PicturePatient, ExportPatient, PatientDiffers;
  std::string TooLarge;   // no full-resolution capture can be made (%1: the size)
  std::string Cancelled;  // the user cancelled: what was written is gone again
};
TDicomTexts DicomTextsOfLanguage();

// The patient a DICOM picture's facts name (PatientName, PatientId, PatientBirthDate as the file
// stores them); nobody (all empty) for a picture that is no DICOM file.
TDicomPatient PatientOfDicomFacts(const TPictureFacts& Facts);
// Whether the two name the same patient: the same Patient ID, and, where both give them, the
// same family and given names (letters compared without their case, spaces around them and
// the further name components not counted) and the same birth date. Fields lists the fields
// that differ, DICOM's names of them ("Patient ID, Patient's Name").
bool SameDicomPatient(const TDicomPatient& A, const TDicomPatient& B,
                      std::string* Fields = nullptr);
// The patient of the export: Given (the interface file's) when it names anybody (an ID or a
// name); else picture 1's when picture 1 is a DICOM picture (Frames > 0) that names one.
// Refused, with the reason in Texts' words: no patient ID (NoPatient); a value that is no valid
// DICOM value (CheckDicomValue: "Patient ID: ..."); a DICOM picture of another patient
// (OtherPatient, or TwoPatients when the patient is picture 1's), both patients named and what
// differs.
platform::TResult<TDicomPatient> ChooseDicomPatient(const TDicomPatient& Given,
                                                    const TPictureFacts& Facts1,
                                                    const TPictureFacts& Facts2,
                                                    const TDicomTexts& Texts);

// The study the comparison's objects go into: picture 1's when it came from DICOM and is of
// Patient, else the one the comparison record keeps, else a new one. A UID DICOM does not take
// (IsValidDicomUid) is never chosen.
std::string ChooseStudyInstanceUid(const TPictureFacts& Facts1, const TDicomPatient& Patient,
                                   const std::string& Kept);

// What kind of object a file holds, for the progress line.
enum class TDicomObjectKind { Picture1, AlignedPicture2, Capture, Report };

// Told before each object is made: its number from 1, of Count, its kind and, for a capture,
// its label.
using TDicomProgress =
    std::function<void(int Number, int Count, TDicomObjectKind Kind, const std::string& Label)>;

struct TDicomExport {
  std::string Folder;  // made (0700) when missing; an existing one must be the user's own
  TDicomPatient Patient;
  std::string KeptStudyInstanceUid;  // the record's, or empty
  int ImageCount = 5;                // the print's opacity steps (PrintCaptures)
  TDicomProgress Progress;
  // A tool's export, the controller's last use: the export takes its pictures over instead of
  // copying them (TFullResolutionRenderer::TPictures::Take), and the controller must not draw
  // again. The window's keeps them.
  bool TakePictures = false;
};

struct TDicomExportOutcome {
  platform::TStatus Status;
  std::string StudyInstanceUid;         // the one used: for the record
  std::string SeriesInstanceUid;        // the pictures and the captures
  std::string ReportSeriesInstanceUid;  // the SR's series; empty without measures
  std::vector<std::string> Files;       // written, in order
  bool Cancelled = false;               // the user cancelled (Status says so): no failure
};

// Writes the comparison Controller shows (placement, way of drawing, colour matching, measures,
// scales) as Request says. Content Date and Time of each picture are its EXIF date, else now;
// of the captures and the report, now. Before anything is written (the folder included), the
// patient is chosen and checked (ChooseDicomPatient) and every value of the patient and the
// study is checked as a DICOM value; every other value is checked as it is put, and a value
// refused or not taken by DCMTK fails the export. The pixel spacing is picture 1's scale: the
// DICOM picture's own spacing exactly as it gave it, when the scale is its (Scale1FromFacts),
// else 100 mm over the pixels per 100 mm; its calibration text says which. Lossy Image
// Compression is "01" for what came from a lossy source (TPictureFacts::Lossy): picture 1's
// image, picture 2's, and the captures of either. Stops at the first object that cannot be
// written.
TDicomExportOutcome ExportDicom(TMainController& Controller, const TDicomExport& Request,
                                const TDicomTexts& Texts);

// What the export of the comparison as it stands would write, as a SHA-256 (hexadecimal): the
// pictures' contents and orientations, the patient, the placement, the way of drawing, the
// colour matching, the measures, the notes, the scales, the captures' opacities and the
// language of their labels. Equal digests make objects of the same content (only their UIDs and
// times of making differ), so a comparison already sent need not be sent again.
std::string DicomExportDigest(const TMainController& Controller, const TComparison& Comparison,
                              const TDicomExport& Request);

// The same in two steps, so that a window can run the long one off its thread while its
// controller goes on: made on the controller's thread, the job checks the patient and every
// shared value and copies what it needs of the controller (the pictures and the placement into
// a scene of its own); Run, on any thread and once, writes the objects. A Cancel, looked at
// before each object, ends the run with Texts.Cancelled and removes what it wrote (and the
// folder, when it made it).
class TDicomExportJob {
 public:
  TDicomExportJob(TMainController& Controller, const TDicomExport& Request,
                  const TDicomTexts& Texts);
  ~TDicomExportJob();
  TDicomExportJob(const TDicomExportJob&) = delete;
  TDicomExportJob& operator=(const TDicomExportJob&) = delete;
  // Why Run will write nothing (the export refused when made); success otherwise.
  const platform::TStatus& Refusal() const;
  // Progress, when given, is told in place of the request's.
  TDicomExportOutcome Run(platform::TCancel* Cancel = nullptr, const TDicomProgress& Progress = {});

 private:
  struct TState;
  std::unique_ptr<TState> F;
};

}  // namespace overlay
