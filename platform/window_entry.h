// The body of a window program's entry, once its application exists.
#pragma once

#include <functional>

namespace platform {

// Runs Body (the windows made and shown, the message loop): what escapes it is shown as what
// escapes an event handler is (ShowException of platform/application.h), and the program then
// ends with status 1.
int RunShowingExceptions(const std::function<int()>& Body);

}  // namespace platform
