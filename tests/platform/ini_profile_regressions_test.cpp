// Inputs the INI profile fuzzer (fuzz/fuzz_ini_profile.cpp) found, reduced to what they caught.
#include <gtest/gtest.h>

#include <string>

#include "platform/ini_profile.h"

namespace {

using platform::TIniText;

// A file whose first line ends with a lone CR gives new lines a lone CR; written in front of an
// empty LF line, that CR joined the LF into one CR LF and the empty line was gone.
TEST(IniProfileRegressions, NewKeyBeforeAnEmptyLfLineKeepsThatLine) {
  TIniText text("[S]\rk=1\n\n[T]\r");
  ASSERT_TRUE(text.Set("S", "j", "2"));
  EXPECT_EQ(text.Bytes(), "[S]\rk=1\nj=2\n\n[T]\r");
  EXPECT_EQ(text.Find("S", "j"), "2");
}

// Deleting the line between a lone CR and an empty LF line joined the two the same way.
TEST(IniProfileRegressions, DeletedKeyBetweenLoneCrAndEmptyLfLineKeepsThatLine) {
  TIniText text("[S]\rk=1\n\nx=2\r");
  ASSERT_TRUE(text.Delete("S", "k"));
  EXPECT_EQ(text.Bytes(), "[S]\r\r\n\nx=2\r");
  EXPECT_FALSE(text.Find("S", "k").has_value());
  EXPECT_EQ(text.Find("S", "x"), "2");
}

// Names in the file lose their tabs, so a key or section written with a tab at an end could not
// be read back under its name, and "\t;" or "\t[" made the new line a comment or a header.
TEST(IniProfileRegressions, NamesWithTabsAtTheirEndsAreRefused) {
  const std::string before = "[S]\r\nk=1\r\n";
  TIniText text(before);
  std::string error;
  EXPECT_FALSE(text.Set("S", "\tk2", "1", nullptr, &error));
  EXPECT_EQ(error, "a name starts or ends with a tab");
  EXPECT_FALSE(text.Set("S", "k2\t", "1"));
  EXPECT_FALSE(text.Set("S", "\t[T]", "1"));
  EXPECT_FALSE(text.Set("S", "\t;k", "1"));
  EXPECT_FALSE(text.Set("\tS", "k", "1"));
  EXPECT_EQ(text.Bytes(), before);
  // A tab inside a name is stored and found as it is.
  ASSERT_TRUE(text.Set("S", "a\tb", "3"));
  EXPECT_EQ(text.Find("S", "a\tb"), "3");
}

// Writing the value a line already holds, with the blanks it has there, changes nothing; it was
// reported as a change (and stored again) when the value ended in a blank.
TEST(IniProfileRegressions, SameValueWithItsTrailingBlankIsNoChange) {
  TIniText text("[S]\r\nk=v \r\n");
  bool changed = true;
  ASSERT_TRUE(text.Set("S", "k", "v ", &changed));
  EXPECT_FALSE(changed);
  EXPECT_EQ(text.Bytes(), "[S]\r\nk=v \r\n");
}

}  // namespace
