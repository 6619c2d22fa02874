#include "platform/window_entry.h"

#include <exception>

#include "platform/application.h"
#include "platform/command_line.h"

namespace platform {

int RunShowingExceptions(const std::function<int()>& Body) {
  try {
    return Body();
  } catch (const std::exception& e) {
    ShowException(e);
  } catch (...) {
    ShowUnknownException();
  }
  return ExitFailed;
}

}  // namespace platform
