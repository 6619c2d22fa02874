#include "platform/command_line.h"

#include <exception>
#include <iostream>

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

int RunGuarded(const char* Program, const std::function<int()>& Body) {
  try {
    return Body();
  } catch (const std::exception& e) {
    std::cerr << Program << ": " << e.what() << std::endl;
  } catch (...) {
    std::cerr << Program << ": unknown error" << std::endl;
  }
  return 1;
}

}  // namespace platform
