#include "overlay/scene/dicom_values.h"

namespace overlay {

bool IsValidDicomUid(std::string_view Uid) {
  if (Uid.empty() || Uid.size() > 64) return false;
  std::size_t start = 0;
  while (start <= Uid.size()) {
    std::size_t dot = Uid.find('.', start);
    if (dot == std::string_view::npos) dot = Uid.size();
    const std::string_view part = Uid.substr(start, dot - start);
    if (part.empty() || (part.size() > 1 && part[0] == '0')) return false;
    for (const char c : part) {
      if (c < '0' || c > '9') return false;
    }
    start = dot + 1;
  }
  return true;
}

}  // namespace overlay
