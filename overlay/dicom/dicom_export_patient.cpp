// The patient the export writes and the study it goes into: the names and dates as DICOM writes
// them, the patient chosen and checked against the DICOM pictures' own.
#include <dcmtk/config/osconfig.h>  // first of DCMTK's headers, as its own sources have it
#include <dcmtk/dcmdata/dcuid.h>

#include <algorithm>
#include <cstdio>

#include "overlay/comparison/dicom_values.h"
#include "overlay/dicom/dicom_export.h"
#include "overlay/dicom/dicom_export_p.h"

namespace overlay {

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

}  // namespace overlay
