// Checks of values before they go into a DICOM object.
#pragma once

#include <string_view>

namespace overlay {

// A UID as DICOM allows it: at most 64 characters, components of digits separated by dots, no
// component empty or with a leading zero (but "0" itself).
bool IsValidDicomUid(std::string_view Uid);

}  // namespace overlay
