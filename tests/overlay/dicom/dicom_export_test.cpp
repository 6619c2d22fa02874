// The patient's name and birth date as DICOM writes them, and the study an export goes into.
#include "overlay/dicom/dicom_export.h"

#include <gtest/gtest.h>

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

TEST(DicomExport, TheStudyIsPicture1sElseTheKeptOneElseANewOne) {
  TPictureFacts fromDicom;
  fromDicom.StudyInstanceUid = "1.2.840.99";
  EXPECT_EQ(ChooseStudyInstanceUid(fromDicom, "1.2.3"), "1.2.840.99");
  EXPECT_EQ(ChooseStudyInstanceUid(TPictureFacts{}, "1.2.3"), "1.2.3");
  const std::string made = ChooseStudyInstanceUid(TPictureFacts{}, "");
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
  EXPECT_NE(ChooseStudyInstanceUid(TPictureFacts{}, ""), made);
}

}  // namespace
}  // namespace overlay
