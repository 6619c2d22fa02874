// What the command-line tools that take a whole comparison share: the interface file (or two
// picture files) with the patient and the scales, the comparison record of the two pictures,
// and the scene loaded and placed as the record says. tessaly-report and tessaly-dicom both come
// here.
#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "overlay/base/settings.h"
#include "overlay/comparison/comparison_record.h"
#include "overlay/comparison/record_session.h"
#include "overlay/scene/main_controller.h"
#include "platform/command_line.h"
#include "platform/status.h"

namespace overlay {

struct TComparisonInput {
  std::string Interface;                   // the interface file, or empty for two picture files
  std::string Picture1, Picture2;          // set from the interface file when it is given
  int Pp100MM1 = 0, Pp100MM2 = 0;          // likewise
  std::string Date1, Time1, Date2, Time2;  // the visits, likewise
  std::string Record;                      // --record, or empty for the one kept for the pictures
  // Why a scale of the interface file is taken as not known (one outside 1..MaxPp100MM).
  std::string ScaleNote;
};

// The interface file's pictures (a relative path that is not there but beside the interface
// file is taken there) and scales into Input, and its patient into Start; a failure names why.
platform::TStatus ReadComparisonInterface(TComparisonInput& Input, TInterfaceStart& Start);
// What the interface file named, for the record session: its located pictures and its patient.
TNamedComparison NamedComparisonOf(const TComparisonInput& Input, const TInterfaceStart& Start);

// Loads both pictures with their scales, and then their comparison record through Session: the
// one Input names, else the one kept for the two pictures' contents. The pictures are turned as
// the record says they were shown (so that its placement and measures land where they were
// made), else as the settings' [Display] ExifOrientation says. The record is applied whole. A
// named record that cannot be used (missing, damaged, of other pictures, turned otherwise) is a
// failure; a kept one is left out with a line on Err. A failure names the picture that did not
// load.
platform::TStatus OpenComparison(TMainController& Controller, TRecordSession& Session,
                                 const TComparisonInput& Input, const std::string& Program,
                                 std::ostream& Err);

// The language file at Path (TsLang.ini beside the program when Path is empty) for the texts the
// tool writes: a named file that cannot be read is a failure, a missing default file is not.
platform::TStatus ApplyToolLanguage(const std::string& Path);

// The command line of a tool that takes a whole comparison and writes into a folder: --record
// and --pp100mm into Input, as options of Line.
void AddComparisonOptions(platform::TCommandLine& Line, TComparisonInput& Input);
// Its names, INTERFACE.ini OUTDIR or PICTURE1 PICTURE2 OUTDIR, into Input; returns OUTDIR. Raises
// platform::ECommandLineError for another number of names.
std::string TakeComparisonNames(const std::vector<std::string>& Names, TComparisonInput& Input);

// The whole main of a tool that draws a comparison with its labels (tessaly-report,
// tessaly-dicom): guarded as every program entry (platform::RunGuarded), each picture-sized bitmap
// made once (none kept for reuse), and the toolkit's fonts without a display. Command gets the
// arguments without the program's name, and standard output and error.
using TToolCommand = int (*)(const std::vector<std::string>& Args, std::ostream& Out,
                             std::ostream& Err);
int RunComparisonTool(const char* Program, int Argc, char** Argv, TToolCommand Command);

// --count N (0..MaxImageCount) and --pp100mm N1,N2 (N1 alone: picture 2's is 0); each raises
// platform::ECommandLineError for anything else.
int ParseCount(const std::string& Text);
std::pair<int, int> ParseScales(const std::string& Text);

}  // namespace overlay
