// tessaly-report: the print button's page and captures without a window, for scripts and
// batches: the comparison of an interface file's two pictures (or of two picture files) as its
// record or the command line places it, written into a folder.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace overlay {

// The whole program: arguments without the program name; messages go to Out and Err. Returns
// the exit status (0 done, 1 a file could not be read or written, 2 bad command line).
int RunReportCommand(const std::vector<std::string>& Args, std::ostream& Out, std::ostream& Err);

}  // namespace overlay
