// tessaly-dicom: the comparison for the clinic's archive from the command line. Its subcommands
// each have a function of their own; RunDicomCommand only chooses one.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace overlay {

// The whole program: arguments without the program name (the subcommand first); messages go to
// Out and Err. Returns the exit status (0 done, 1 a file could not be read or written, 2 bad
// command line).
int RunDicomCommand(const std::vector<std::string>& Args, std::ostream& Out, std::ostream& Err);

// tessaly-dicom export [options] INTERFACE.ini|PICTURE1 PICTURE2 OUTDIR: the arguments after
// the subcommand.
int RunDicomExportCommand(const std::vector<std::string>& Args, std::ostream& Out,
                          std::ostream& Err);

}  // namespace overlay
