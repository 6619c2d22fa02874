// tessaly-calibrate: a picture's scale from the printed marker in it, from the command line.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace overlay {

// The whole program: arguments without the program name; messages go to Out and Err. Returns
// the exit status (0 calibrated, 1 no usable marker or a file not read or written, 2 bad
// command line).
int RunCalibrateCommand(const std::vector<std::string>& Args, std::ostream& Out, std::ostream& Err);

}  // namespace overlay
