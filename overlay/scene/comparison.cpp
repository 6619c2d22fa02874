#include "overlay/scene/comparison.h"

#include <sys/stat.h>

#include "overlay/scene/main_controller.h"

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

TComparisonPatient PatientOfPictures(const TNamedComparison& Named, const std::string& Path1,
                                     const TPictureFacts& Facts1, const std::string& Path2,
                                     const TPictureFacts& Facts2) {
  if (Named.Patient.Known() && SameFile(Named.Picture1, Path1) && SameFile(Named.Picture2, Path2)) {
    return Named.Patient;
  }
  (void)Facts1;
  (void)Facts2;
  return {};
}

std::string PatientCaption(const TComparisonPatient& Patient) {
  if (!Patient.Known()) return "Tessaly";
  // Two spaces before the asterisk, which marks the birth date.
  return "Tessaly - [" + Patient.Name + ", " + Patient.Firstname + "  *" + Patient.Birthdate + "]";
}

TComparison ComparisonOf(const TMainController& Controller) {
  TComparison c;
  const TMeasureFrame frame = Controller.MeasureFrame();
  const auto picture = [](const std::string& Path, const TPictureFacts& Facts, int Pp100MM) {
    TComparisonPicture p;
    p.Path = Path;
    p.Orientation = Facts.ShownOrientation;
    p.Facts = Facts;
    p.Pp100MM = Pp100MM;
    p.ScaleSource = Pp100MM <= 0                     ? TScaleSource::None
                    : Pp100MM == FactsPp100MM(Facts) ? TScaleSource::PictureFacts
                                                     : TScaleSource::Caller;
    return p;
  };
  c.Picture1 = picture(Controller.ImageFile1(), Controller.Facts1(), frame.Pp100MM1);
  c.Picture2 = picture(Controller.ImageFile2(), Controller.Facts2(), frame.Pp100MM2);
  TComparisonRecord& r = c.Record;
  r.Picture1 = c.Picture1.Path;
  r.Picture2 = c.Picture2.Path;
  r.Sha1 = c.Picture1.Sha256;
  r.Sha2 = c.Picture2.Sha256;
  r.Orientation1 = c.Picture1.Orientation;
  r.Orientation2 = c.Picture2.Orientation;
  r.Placement = Controller.Placement();
  r.Mode = std::string(ViewModeName(Controller.DrawnMode()));
  r.MatchColours = Controller.ColourMatchOn();
  r.Measures = Controller.Measures();
  return c;
}

}  // namespace overlay
