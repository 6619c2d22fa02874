// The running program's command-line parameters, as the program entry received them (after
// the window framework has taken its own options). Parameter 1 is the first after the
// program's name.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace platform {

// Set once by the program entry; tests set what a calling application would pass.
void SetProgramParameters(std::vector<std::string> Parameters);
// The number of parameters, and parameter Index (1-based); empty beyond the last. Parameter 0
// is the running program's own file.
int ParamCount();
std::string ParamStr(int Index);

// A program entry's body, run so that no exception leaves the program as an abort: what escapes
// Body (memory that ran out, a broken invariant) becomes one line "<Program>: <what>" on
// standard error and exit status 1. The windows' programs show what escapes their windows
// before; this is for what is left.
int RunGuarded(const char* Program, const std::function<int()>& Body);

}  // namespace platform
