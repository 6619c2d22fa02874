// Sending to the clinic's PACS from the command line: "store" puts DICOM files into the user's
// outbox and sends everything waiting there; "echo" checks the connection. The PACS is the
// [PACS] section of Tessaly.ini (overlay/base/settings.h); the messages are in the window's
// language (TsLang.ini).
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace overlay {

// Arguments without the program name: "store [--config FILE] [FILES...]" (without files: the
// outbox alone) or "echo [--config FILE]". A line per object on Out as it is done; failures on
// Err. Returns 0 when everything was sent (echo: the PACS answered), 1 when objects are left in
// the outbox or were moved from it into the quarantine folder (each named; echo: the PACS did not
// answer, or answered with a failure) or an object could not be put into the outbox (another
// with its instance UID waits there), 2 for a bad command line, a --config file that is missing or
// cannot be read, a setting that is refused or a file that is no DICOM object (then nothing is
// queued). The files are parsed only in the decoder process before they are queued or sent
// (overlay/dicom/pacs.h), so no file ends this one.
int RunPacsCommand(const std::vector<std::string>& Args, std::ostream& Out, std::ostream& Err);

}  // namespace overlay
