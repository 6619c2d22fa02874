#include "platform/command_line.h"

#include "platform/paths.h"

namespace platform {

namespace {
std::vector<std::string>& Parameters() {
  static std::vector<std::string> parameters;
  return parameters;
}
}  // namespace

void SetProgramParameters(std::vector<std::string> Parameters_) {
  Parameters() = std::move(Parameters_);
}

int ParamCount() {
  return int(Parameters().size());
}

std::string ParamStr(int Index) {
  if (Index == 0) return ProgramFile();
  if (Index < 1 || Index > ParamCount()) return {};
  return Parameters()[std::size_t(Index - 1)];
}

}  // namespace platform
