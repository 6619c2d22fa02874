// The values a DICOM object may hold, checked as text before anything is put into one: each
// value representation's characters, form and length (PS3.5 6.2), in the UTF-8 the export
// declares (ISO_IR 192). No DCMTK here, so that the window, the tools and the record's reader
// can check a value without it; a refusal names the field and says what is wrong with it.
#pragma once

#include <string_view>

#include "platform/status.h"

namespace overlay {

// The value representations the program writes as text.
enum class TDicomVr { AE, CS, DA, DS, DT, IS, LO, LT, PN, SH, ST, TM, UI, UT };

// The two letters of Vr ("PN").
std::string_view DicomVrName(TDicomVr Vr);

// Whether Value is one value of Vr: empty (no value) always is; otherwise, in characters of
// UTF-8 (well-formed, and of the default repertoire alone for CS, DA, DS, DT, IS, TM, UI):
//   AE, CS, SH at most 16, LO 64, ST 1024, LT 10240; no control character (LT, ST, UT: none
//   but CR, LF, FF and TAB) and no backslash, which separates values (LT, ST, UT may hold one);
//   CS only A-Z, 0-9, space and "_"; AE not only spaces;
//   PN at most three groups ("="), each at most five components ("^") and 64 characters;
//   DA a calendar date YYYYMMDD; TM HH[MM[SS[.F{1,6}]]]; DT YYYY[MM[DD[HH[MM[SS[.F]]]]]];
//   DS a decimal number of at most 16 characters, IS a 32-bit integer of at most 12;
//   UI IsValidDicomUid.
// Failure: "Field: " and what is wrong, in the window's language, the value on a line of its
// own (control characters shown as \xNN).
platform::TStatus CheckDicomValue(TDicomVr Vr, std::string_view Field, std::string_view Value);

// CheckDicomValue for each of the values of Value separated by "\" (a multi-valued element),
// at most MaxValues of them.
platform::TStatus CheckDicomValues(TDicomVr Vr, std::string_view Field, std::string_view Value,
                                   int MaxValues);

// A UID as DICOM takes it: 1..64 characters, components of digits separated by single dots,
// none empty and none with a leading zero ("0" itself is one).
bool IsValidDicomUid(std::string_view Uid);

}  // namespace overlay
