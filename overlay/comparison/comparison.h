// The comparison as one value: the two pictures with what is known of each (path, contents,
// orientation as shown, the file's facts, the scale and where it came from), the patient they
// show and where that came from, and what the comparison record keeps of the work on them
// (placement, way of drawing, measures, notes, study). The record session
// (overlay/comparison/record_session.h) keeps it for the window and the tools alike.
#pragma once

#include <string>

#include "overlay/base/settings.h"
#include "overlay/comparison/comparison_record.h"
#include "overlay/decode/picture_import.h"
#include "raster/core.h"

namespace overlay {

// Where the patient of a comparison came from. A patient belongs to the pictures it was given
// with: the interface file's only while both pictures are the ones it named.
enum class TPatientSource { None, InterfaceFile, DicomPicture };

struct TComparisonPatient {
  std::string Name, Firstname;
  std::string Birthdate;  // "DD.MM.YYYY", as shown
  std::string PatientId;
  TPatientSource Source = TPatientSource::None;
  bool Known() const { return Source != TPatientSource::None; }
  friend bool operator==(const TComparisonPatient&, const TComparisonPatient&) = default;
};

// Where a picture's scale came from.
enum class TScaleSource { None, Caller, PictureFacts };

struct TComparisonPicture {
  std::string Path, Sha256;
  int Orientation = 1;  // the EXIF orientation it is shown turned by; 1: as stored
  TPictureFacts Facts;
  int Pp100MM = 0;
  TScaleSource ScaleSource = TScaleSource::None;
};

// What a calling application named: the interface file's two pictures and their patient.
struct TNamedComparison {
  std::string Picture1, Picture2;
  TComparisonPatient Patient;  // Source InterfaceFile, or None when the file names nobody
};

struct TComparison {
  TComparisonPicture Picture1, Picture2;
  TComparisonPatient Patient;
  // The record's file form of the rest; its pictures' hashes and orientations are Picture1's
  // and Picture2's.
  TComparisonRecord Record;
};

// The patient an interface file names (Source InterfaceFile), or none when it names nobody.
TComparisonPatient NamedPatientOf(const TInterfaceStart& Start);
// What it named: its two pictures as given and its patient.
TNamedComparison NamedComparisonOf(const TInterfaceStart& Start);

// Whether two paths lead to the same file (device and inode), so that "the picture the interface
// file named" does not depend on how a path is spelled; false when either is not there.
bool SameFile(const std::string& A, const std::string& B);

// Whether the pictures at Path1 and Path2 are the ones Named gave (the same files, or the same
// paths when they are not there).
bool NamedPicturesShown(const TNamedComparison& Named, const std::string& Path1,
                        const std::string& Path2);
// The patient a DICOM picture's facts name (name, first name, birth date as shown, ID), or none
// for a picture that names nobody.
TComparisonPatient PatientOfFacts(const TPictureFacts& Facts);
// The patient of the pictures shown at Path1 and Path2: the named one while both are the files
// Named gave; else the patient a DICOM picture brings (picture 1's, else picture 2's), when both
// DICOM pictures that bring one agree; else none.
TComparisonPatient PatientOfPictures(const TNamedComparison& Named, const std::string& Path1,
                                     const TPictureFacts& Facts1, const std::string& Path2,
                                     const TPictureFacts& Facts2);

// The main window's caption: "Tessaly - [Name, Firstname  *Birthdate]" for a known patient, else
// "Tessaly".
std::string PatientCaption(const TComparisonPatient& Patient);

// What shows a comparison (the main window's controller, the scene of a command-line tool): the
// record session reads the comparison from it and shows a kept record on it.
class TComparisonView {
 public:
  virtual ~TComparisonView() = default;
  // Both pictures are loaded.
  virtual bool BothLoaded() const = 0;
  // The comparison as shown: its pictures, scales, placement, way of drawing, colour matching
  // and measures; the pictures' hashes, the patient, the notes and the study are the caller's
  // (the record session hashes the pictures once, when they are loaded).
  virtual TComparison Shown() const = 0;
  // Picture 2 as loaded, before any placement; null without one.
  virtual const raster::TBitmap32* Picture2() const = 0;
  // Shows a kept record: its placement, way of drawing, colour matching and measures.
  virtual void ShowRecord(const TComparisonRecord& Record) = 0;
};

}  // namespace overlay
