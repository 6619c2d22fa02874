#include "overlay/comparison/comparison.h"

#include <sys/stat.h>

namespace overlay {

bool SameFile(const std::string& A, const std::string& B) {
  struct stat a {
  }, b{};
  if (A.empty() || B.empty() || ::stat(A.c_str(), &a) != 0 || ::stat(B.c_str(), &b) != 0) {
    return false;
  }
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

TComparisonPatient NamedPatientOf(const TInterfaceStart& Start) {
  TComparisonPatient p;
  if (Start.Count < 2) return p;
  p.Name = Start.Name;
  p.Firstname = Start.Firstname;
  p.Birthdate = Start.Birthdate;
  p.PatientId = Start.PatientId;
  const bool named =
      !p.Name.empty() || !p.Firstname.empty() || !p.Birthdate.empty() || !p.PatientId.empty();
  p.Source = named ? TPatientSource::InterfaceFile : TPatientSource::None;
  return p;
}

TNamedComparison NamedComparisonOf(const TInterfaceStart& Start) {
  TNamedComparison named;
  if (Start.Count < 2) return named;
  named.Picture1 = Start.ImageFile1;
  named.Picture2 = Start.ImageFile2;
  named.Patient = NamedPatientOf(Start);
  return named;
}

bool NamedPicturesShown(const TNamedComparison& Named, const std::string& Path1,
                        const std::string& Path2) {
  const auto same = [](const std::string& A, const std::string& B) {
    return (!A.empty() && A == B) || SameFile(A, B);
  };
  return same(Named.Picture1, Path1) && same(Named.Picture2, Path2);
}

TComparisonPatient PatientOfFacts(const TPictureFacts& Facts) {
  TComparisonPatient p;
  if (Facts.PatientName.empty() && Facts.PatientId.empty()) return p;
  // "Family^Given^Middle^Prefix^Suffix": the first two groups are the names shown.
  const std::string& name = Facts.PatientName;
  const std::size_t caret = name.find('^');
  p.Name = name.substr(0, caret);
  if (caret != std::string::npos) {
    p.Firstname = name.substr(caret + 1, name.find('^', caret + 1) - caret - 1);
  }
  const std::string& d = Facts.PatientBirthDate;  // YYYYMMDD
  if (d.size() == 8) p.Birthdate = d.substr(6, 2) + "." + d.substr(4, 2) + "." + d.substr(0, 4);
  p.PatientId = Facts.PatientId;
  p.Source = TPatientSource::DicomPicture;
  return p;
}

TComparisonPatient PatientOfPictures(const TNamedComparison& Named, const std::string& Path1,
                                     const TPictureFacts& Facts1, const std::string& Path2,
                                     const TPictureFacts& Facts2) {
  if (Named.Patient.Known() && NamedPicturesShown(Named, Path1, Path2)) {
    return Named.Patient;
  }
  const TComparisonPatient one = PatientOfFacts(Facts1), two = PatientOfFacts(Facts2);
  // Two DICOM pictures of different patients have no one patient (an export refuses them).
  if (one.Known() && two.Known() && one.PatientId != two.PatientId) return {};
  return one.Known() ? one : two;
}

std::string PatientCaption(const TComparisonPatient& Patient) {
  if (!Patient.Known()) return "Tessaly";
  // Two spaces before the asterisk, which marks the birth date.
  return "Tessaly - [" + Patient.Name + ", " + Patient.Firstname + "  *" + Patient.Birthdate + "]";
}

}  // namespace overlay
