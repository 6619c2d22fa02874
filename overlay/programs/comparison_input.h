// What the command-line tools that take a whole comparison share: the interface file (or two
// picture files) with the patient and the scales, the comparison record of the two pictures,
// and the scene loaded and placed as the record says. tessaly-report and tessaly-dicom both come
// here.
#pragma once

#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "overlay/base/settings.h"
#include "overlay/comparison/comparison_record.h"
#include "overlay/comparison/record_session.h"
#include "overlay/scene/main_controller.h"
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

// The command line of a tool that takes a whole comparison and writes into a folder: options,
// each with a value ("--name value" or "--name=value"; "--" ends them), and then INTERFACE.ini
// OUTDIR or PICTURE1 PICTURE2 OUTDIR into Input and Folder. --record and --pp100mm go into Input;
// every other option to Option, which raises ECommandLineError (render_command.h) for one it
// does not know, as this does for a missing value or a wrong number of names. False when --help
// (-h) or, with a VersionLine, --version was asked for and answered on Out.
using TToolOption = std::function<void(const std::string& Name, const std::string& Value)>;
bool ParseComparisonArguments(const std::vector<std::string>& Args, const char* Usage,
                              const char* VersionLine, TComparisonInput& Input, std::string& Folder,
                              const TToolOption& Option, std::ostream& Out);

// --count N (0..MaxImageCount) and --pp100mm N1,N2 (N1 alone: picture 2's is 0); each raises
// ECommandLineError (render_command.h) for anything else.
int ParseCount(const std::string& Text);
std::pair<int, int> ParseScales(const std::string& Text);

}  // namespace overlay
