// The patient's name and birth date as DICOM writes them, the patient and the study an export
// goes into, and the values DICOM takes.
#include "overlay/dicom/dicom_export.h"

#include <gtest/gtest.h>

#include "overlay/base/texts.h"
#include "overlay/comparison/dicom_values.h"

namespace overlay {
namespace {

TEST(DicomExport, BirthDatesAreCalendarDatesOrNothing) {
  EXPECT_EQ(DicomDate("12.08.1964"), "19640812");
  EXPECT_EQ(DicomDate("1.2.2000"), "20000201");
  EXPECT_EQ(DicomDate("29.02.2000"), "20000229");  // divisible by 400: a leap year
  EXPECT_EQ(DicomDate("29.02.1900"), "");          // by 100 only: none
  EXPECT_EQ(DicomDate("29.02.1964"), "19640229");
  EXPECT_EQ(DicomDate("31.04.1964"), "");
  EXPECT_EQ(DicomDate("00.01.1964"), "");
  EXPECT_EQ(DicomDate("12.13.1964"), "");
  for (const char* other : {"", "1964-08-12", "12.08.64", "12.08.19640", "12.08.1964.",
                            "123.8.1964", "12/08/1964", " 12.08.1964", "12..1964"}) {
    EXPECT_EQ(DicomDate(other), "") << other;
  }
}

TEST(DicomExport, PersonNamesKeepTheirLettersAndLoseTheSeparators) {
  EXPECT_EQ(DicomPersonName("Müller", "Jürgen"), "Müller^Jürgen");
  EXPECT_EQ(DicomPersonName("Müller", ""), "Müller");
  // A "^" or "=" of the file's name would start another component or group of the name.
  EXPECT_EQ(DicomPersonName("O^Neil=X", "A\\nn"), "ONeilX^Ann");
}

// A DICOM picture of the patient named Name with ID Id (Frames: it is a DICOM file).
TPictureFacts DicomOf(const std::string& Name, const std::string& Id,
                      const std::string& BirthDate = "") {
  TPictureFacts facts;
  facts.Frames = 1;
  facts.PatientName = Name;
  facts.PatientId = Id;
  facts.PatientBirthDate = BirthDate;
  return facts;
}

const TDicomTexts Texts{"nothing",           "folder",        "not written", "no patient",
                        "picture %1 other:", "two differ:",   "picture %1",  "export",
                        "differs: %1",       "too large: %1", "cancelled"};

// The export's patient: the interface file's, else picture 1's as DICOM stores it; refused
// without an ID, and for a DICOM picture of anybody else, with both named and what differs.
TEST(DicomExport, ThePatientIsTheInterfaceFilesOrPicture1sAndNobodyElses) {
  const TDicomPatient mueller{"Müller", "Jürgen", "12.08.1964", "P-4711", {}, {}};
  const TPictureFacts photo;  // no DICOM file: no patient of its own
  const TPictureFacts same = DicomOf("MUELLER^JÜRGEN", "P-4711");
  struct TCase {
    TDicomPatient Given;
    TPictureFacts Facts1, Facts2;
    std::string Expected;  // "Name|ID|birth date" chosen, or the refusal
  } cases[] = {
      {mueller, photo, photo, "Müller^Jürgen|P-4711|19640812"},
      {mueller, DicomOf(" müller ^JÜRGEN^Karl", "P-4711 ", "19640812"), photo,
       "Müller^Jürgen|P-4711|19640812"},
      {{}, DicomOf("Roe^Jane", "B-2", "19700102"), photo, "Roe^Jane|B-2|19700102"},
      {{}, DicomOf("Roe^Jane", "B-2"), DicomOf("ROE^JANE", "B-2"), "Roe^Jane|B-2|"},
      {mueller, DicomOf("Roe^Jane", "B-2"), photo,
       "picture 1 other:\npicture 1: Roe^Jane, ID B-2\n"
       "export: Müller^Jürgen, ID P-4711, *19640812\ndiffers: Patient ID, Patient's Name"},
      {mueller, photo, DicomOf("Müller^Jürgen", "P-4712"),
       "picture 2 other:\n"
       "picture 2: Müller^Jürgen, ID P-4712\nexport: Müller^Jürgen, ID P-4711, *19640812\n"
       "differs: Patient ID"},
      {mueller, same, DicomOf("Müller^Jürgen", "P-4711", "19640813"),
       "picture 2 other:\npicture 2: Müller^Jürgen, ID P-4711, *19640813\n"
       "export: Müller^Jürgen, ID P-4711, *19640812\ndiffers: Patient's Birth Date"},
      {{},
       DicomOf("Roe^Jane", "B-2"),
       DicomOf("Roe^John", "B-2"),
       "two differ:\npicture 2: Roe^John, ID B-2\npicture 1: Roe^Jane, ID B-2\n"
       "differs: Patient's Name"},
      {{}, photo, photo, "no patient"},
      {{}, photo, DicomOf("Roe^Jane", "B-2"), "no patient"},  // picture 1 is nobody's
      {{"Müller", "Jürgen", "", "  ", {}, {}}, same, photo, "no patient"},
      {{"Müller", "Jürgen", "", "", {}, {}}, same, photo, "no patient"},
      {{}, DicomOf("Roe^Jane", ""), photo, "no patient"},
      {{"Müller", "", "", "A123\\B456", {}, {}},
       photo,
       photo,
       "Patient ID: " + Tr(DicomValueBackslashText) + "\nA123\\B456"},
      {{"Müller", "", "", std::string(65, '7'), {}, {}},
       photo,
       photo,
       "Patient ID: " + Tr(DicomValueTooLongText, "64") + "\n" + std::string(65, '7')},
      {{std::string(300, 'x'), "", "", "P-1", {}, {}},
       photo,
       photo,
       "Patient's Name: " + Tr(DicomValueTooLongText, "64") + "\n" + std::string(80, 'x') + "..."},
      {{"Mül\tler", "", "", "P-1", {}, {}},
       photo,
       photo,
       "Patient's Name: " + Tr(DicomValueControlText) + "\nMül\\x09ler"},
      {{},
       DicomOf("Roe^Jane", "B-2", "1970"),
       photo,
       "Patient's Birth Date: " + Tr(DicomValueInvalidText, "DA") + "\n1970"},
  };
  for (const TCase& c : cases) {
    const platform::TResult<TDicomPatient> chosen =
        ChooseDicomPatient(c.Given, c.Facts1, c.Facts2, Texts);
    const std::string got = chosen ? DicomPatientName(chosen.Value()) + "|" +
                                         DicomPatientId(chosen.Value()) + "|" +
                                         DicomPatientBirthDate(chosen.Value())
                                   : chosen.Reason();
    EXPECT_EQ(got, c.Expected);
  }
}

TEST(DicomExport, TheStudyIsPicture1sOfThePatientElseTheKeptOneElseANewOne) {
  TPictureFacts fromDicom = DicomOf("Roe^Jane", "B-2");
  fromDicom.StudyInstanceUid = "1.2.840.99";
  const TDicomPatient jane = PatientOfDicomFacts(fromDicom);
  const TDicomPatient other{"Roe", "John", "", "B-3", {}, {}};
  EXPECT_EQ(ChooseStudyInstanceUid(fromDicom, jane, "1.2.3"), "1.2.840.99");
  EXPECT_EQ(ChooseStudyInstanceUid(fromDicom, other, "1.2.3"), "1.2.3");  // not John's study
  EXPECT_EQ(ChooseStudyInstanceUid(TPictureFacts{}, jane, "1.2.3"), "1.2.3");
  // A UID DICOM does not take is never written: a leading zero, or longer than 64.
  fromDicom.StudyInstanceUid = "1.02.3";
  EXPECT_EQ(ChooseStudyInstanceUid(fromDicom, jane, "1.2.3"), "1.2.3");
  EXPECT_NE(ChooseStudyInstanceUid(TPictureFacts{}, jane, "1." + std::string(110, '1')),
            "1." + std::string(110, '1'));
  const std::string made = ChooseStudyInstanceUid(TPictureFacts{}, jane, "");
  // Components of digits without a leading zero, two or more, dot-separated.
  std::vector<std::string> components{""};
  for (const char c : made) {
    if (c == '.') {
      components.emplace_back();
    } else {
      components.back().push_back(c);
    }
  }
  EXPECT_GE(components.size(), 2u) << made;
  for (const std::string& c : components) {
    EXPECT_TRUE(!c.empty() && c.find_first_not_of("0123456789") == std::string::npos &&
                (c == "0" || c.front() != '0'))
        << made;
  }
  EXPECT_LE(made.size(), 64u);
  EXPECT_NE(ChooseStudyInstanceUid(TPictureFacts{}, jane, ""), made);
}

// Each value representation's limits, one value inside and one outside each.
TEST(DicomValues, EachValueRepresentationTakesItsOwnValuesOnly) {
  using V = TDicomVr;
  const std::string name64 = "Müller^" + std::string(57, 'j');  // 64 characters, 65 bytes
  struct TCase {
    V Vr;
    std::string Value;
    bool Taken;
  } cases[] = {
      {V::LO, "", true},  // no value
      {V::LO, "P-4711 Müller", true},
      {V::LO, std::string(64, 'x'), true},
      {V::LO, std::string(65, 'x'), false},
      {V::LO, "A123\\B456", false},
      {V::LO, "A\x01", false},
      {V::LO, "A\xC2\x85", false},  // NEL, a C1 control
      {V::LO, "M\xFCller", false},  // Latin-1, no UTF-8
      {V::LO, "\xC0\xAF", false},   // an overlong form
      {V::PN, name64, true},
      {V::PN, name64 + "x", false},
      {V::PN, "A^B^C^D^E", true},
      {V::PN, "A^B^C^D^E^F", false},
      {V::PN, "A=B=C", true},
      {V::PN, "A=B=C=D", false},
      {V::PN, "A\\B", false},
      {V::SH, std::string(16, 'x'), true},
      {V::SH, std::string(17, 'x'), false},
      {V::CS, "ORIGINAL", true},
      {V::CS, "original", false},
      {V::DA, "20000229", true},
      {V::DA, "19000229", false},
      {V::DA, "2000-02-2", false},
      {V::TM, "235960.123456", true},
      {V::TM, "2400", false},
      {V::TM, "1200.5", false},
      {V::DT, "20251208142205", true},
      {V::DT, "20251308", false},
      {V::DS, "0.7", true},
      {V::DS, "-1.5e-3", true},
      {V::DS, "0.69999999999999996", false},
      {V::DS, "1,5", false},
      {V::IS, "-2147483648", true},
      {V::IS, "2147483648", false},
      {V::UI, "1.2.840.10008.5.1.4.1.1.7", true},
      {V::UI, "0.0", true},
      {V::UI, "1.02.3", false},
      {V::UI, "1..2", false},
      {V::UI, "1.2.", false},
      {V::UI, "1." + std::string(63, '1'), false},
      {V::UT, "line\r\nnext\\with a backslash", true},
      {V::UT, "bell\a", false},
  };
  for (const TCase& c : cases) {
    EXPECT_EQ(bool(CheckDicomValue(c.Vr, "Field", c.Value)), c.Taken)
        << DicomVrName(c.Vr) << " " << c.Value;
  }
  EXPECT_EQ(
      CheckDicomValue(V::SH, "Study ID", std::string(17, 'x')).Reason().rfind("Study ID: ", 0), 0u);
  EXPECT_TRUE(CheckDicomValues(V::DS, "Pixel Spacing", "0.7\\0.7", 2));
  EXPECT_FALSE(CheckDicomValues(V::DS, "Pixel Spacing", "0.7\\0.7\\0.7", 2));
  EXPECT_FALSE(CheckDicomValues(V::DS, "Pixel Spacing", "0.7\\x", 2));
  // The lead's check of a record's study: a 112-character UID was once taken by the archive.
  EXPECT_TRUE(IsValidDicomUid("2.25.329800735698586629295641978511506172918"));
  EXPECT_FALSE(IsValidDicomUid("1.2.826.0.1.3680043.2.1143." + std::string(85, '1')));
  EXPECT_FALSE(IsValidDicomUid(""));
}

}  // namespace
}  // namespace overlay
