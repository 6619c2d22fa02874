// tessaly-align: the automatic alignment of two picture files from the command line.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace overlay {

// The whole program: arguments without the program name; messages go to Out and Err. Returns
// the exit status (0 aligned, 1 no reliable alignment or a picture not read, 2 bad command line).
int RunAlignCommand(const std::vector<std::string>& Args, std::ostream& Out, std::ostream& Err);

}  // namespace overlay
