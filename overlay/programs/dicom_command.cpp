#include "overlay/programs/dicom_command.h"

#include <optional>
#include <ostream>

#include "overlay/dicom/dicom_export.h"
#include "overlay/programs/comparison_input.h"
#include "overlay/programs/pacs_command.h"
#include "overlay/scene/overlay_scene.h"
#include "platform/command_line.h"
#include "platform/ini_profile.h"
#include "platform/paths.h"

namespace overlay {

namespace {

constexpr const char* UsageText =
    "Usage: tessaly-dicom COMMAND [options] ...\n"
    "\n"
    "The overlay program's comparison for the clinic's archive, as DICOM.\n"
    "\n"
    "Commands:\n"
    "  export    write the comparison as DICOM files into a folder\n"
    "  store     copy DICOM files into the outbox and send it to the PACS of Tessaly.ini\n"
    "            [PACS] (store [--config FILE] [FILES...]; no files: the outbox alone)\n"
    "  echo      check the connection to that PACS (echo [--config FILE])\n"
    "\n"
    "Options:\n"
    "  --help     show this text (with a command: that command's)\n"
    "  --version  show the version\n";

constexpr const char* ExportUsageText =
    "Usage: tessaly-dicom export [options] INTERFACE.ini OUTDIR\n"
    "       tessaly-dicom export [options] PICTURE1 PICTURE2 OUTDIR\n"
    "\n"
    "Writes the comparison as one new series of DICOM files into OUTDIR (made, readable by\n"
    "you alone, when missing): picture 1 and picture 2 aligned to it as VL Photographic\n"
    "images (with their pixel spacing where the scale is known), the print's captures as\n"
    "Secondary Capture images, and the measurements as a Basic Text SR (a series of its own in\n"
    "the same study). The patient (name, birth date, the additional key PatientID in any\n"
    "case) and the scales come from an interface file; without one, the patient is picture\n"
    "1's when it is a DICOM file. A patient without an ID, a value DICOM does not take, or a\n"
    "DICOM picture of another patient is refused, and nothing is written. The study is\n"
    "picture 1's when it is a DICOM file of the patient, else the one the comparison's record\n"
    "keeps; a new one is made and kept in the record otherwise, so that the next export goes\n"
    "into the same study. Each file is named by its SOP Instance UID and readable by you\n"
    "alone.\n"
    "\n"
    "The placement, the way of drawing, the colour matching and the measures come from the\n"
    "record the overlay program keeps for the two pictures (found by their contents), or\n"
    "from --record.\n"
    "\n"
    "Options:\n"
    "  --record FILE       the comparison record to use (and to keep the study in) instead\n"
    "                      of the one kept for the two pictures\n"
    "  --count N           number of the print's opacity steps, 0..100 (default:\n"
    "                      ImageCount of the settings, else 5); another way of drawing\n"
    "                      takes its three captures, or none with 0\n"
    "  --pp100mm N1,N2     the pictures' pixels per 100 mm, for pictures given as files\n"
    "                      (0: not known)\n"
    "  --language FILE     the language file of the report's texts (default: TsLang.ini\n"
    "                      beside the program)\n"
    "  --help              show this text\n";

// The command line's own English for the export's failures.
const TDicomTexts DicomTexts{
    "nothing to export: both pictures must be loaded",
    "cannot make the folder, or it is not yours alone",
    "cannot write the DICOM file",
    "no patient: the interface file names no patient ID, and picture 1 is no DICOM picture of a "
    "patient",
    "picture %1 belongs to another patient than the export:",
    "the two DICOM pictures belong to different patients:",
    "picture %1",
    "export",
    "differs: %1",
    "too large for a full-resolution capture: %1",
    "cancelled: the files written are removed again"};

struct TExportArguments {
  TComparisonInput Input;
  std::string Folder, Language;
  std::optional<int> Count;
};

const char* KindName(TDicomObjectKind Kind) {
  switch (Kind) {
    case TDicomObjectKind::Picture1:
      return "picture 1 (VL Photographic Image)";
    case TDicomObjectKind::AlignedPicture2:
      return "picture 2 aligned (VL Photographic Image)";
    case TDicomObjectKind::Capture:
      return "capture (Secondary Capture Image)";
    case TDicomObjectKind::Report:
      return "measurements (Basic Text SR)";
  }
  return "";
}

// The export carried out once the command line is read.
int Export(TExportArguments& Request, const platform::TCommandLine& Line, std::ostream& Out,
           std::ostream& Err) {
  // The report's texts in the window's language.
  if (const platform::TStatus language = ApplyToolLanguage(Request.Language); !language) {
    return Line.Fail(language);
  }

  TComparisonInput& input = Request.Input;
  TRecordSession session;
  if (!input.Interface.empty()) {
    TInterfaceStart start;
    if (const platform::TStatus read = ReadComparisonInterface(input, start); !read) {
      return Line.Fail(read);
    }
    session.SetNamed(NamedComparisonOf(input, start));
  }

  TOverlayScene scene;
  TMainController& c = scene.Controller();
  if (const platform::TStatus opened = OpenComparison(c, session, input, Line.Program(), Err);
      !opened) {
    return Line.Fail(opened);
  }
  TDicomExport dicom;
  dicom.Patient = DicomPatientOf(session.Patient());
  dicom.KeptStudyInstanceUid = session.StudyInstanceUid();
  dicom.Folder = Request.Folder;
  dicom.ImageCount = Request.Count.value_or(
      ReadSettings(platform::LocateProgramFile("Tessaly.ini").Read).ImageCount);
  dicom.TakePictures = true;  // the comparison is not drawn again here
  dicom.Progress = [&](int Number, int Count, TDicomObjectKind Kind, const std::string& Label) {
    Out << "object " << Number << " of " << Count << ": " << KindName(Kind)
        << (Label.empty() ? "" : ", " + Label) << std::endl;
  };
  const TDicomExportOutcome outcome = ExportDicom(c, dicom, DicomTexts);
  for (const std::string& file : outcome.Files) Out << "wrote " << file << "\n";
  if (!outcome.Status) return Line.Fail(outcome.Status);

  // The study is kept with the comparison, so that the next export goes into it. A record that
  // is not there yet is made with the comparison as it stands.
  session.SetStudyInstanceUid(outcome.StudyInstanceUid);
  if (const platform::TStatus saved = session.SaveIfChanged(c); !saved) {
    Line.Fail("the study is not kept: " + saved.Reason());  // the export itself is done
  }
  Out << "study " << outcome.StudyInstanceUid << ", series " << outcome.SeriesInstanceUid << "\n";
  return platform::ExitDone;
}

}  // namespace

int RunDicomExportCommand(const std::vector<std::string>& Args, std::ostream& Out,
                          std::ostream& Err) {
  TExportArguments request;
  platform::TCommandLine line("tessaly-dicom export", ExportUsageText, Out, Err);
  AddComparisonOptions(line, request.Input);
  line.Option("--count", [&](const std::string& V) { request.Count = ParseCount(V); })
      .Option("--language", [&](const std::string& V) { request.Language = V; });
  return line.Run(Args, [&](const std::vector<std::string>& Names) {
    request.Folder = TakeComparisonNames(Names, request.Input);
    return Export(request, line, Out, Err);
  });
}

int RunDicomCommand(const std::vector<std::string>& Args, std::ostream& Out, std::ostream& Err) {
  platform::TCommandLine line("tessaly-dicom", UsageText, Out, Err);
  line.OptionsBeforeFirstName();
  return line.Run(Args, [&](const std::vector<std::string>& Names) {
    if (Names.empty()) throw platform::ECommandLineError("no command");
    const std::string& command = Names.front();
    if (command == "export")
      return RunDicomExportCommand({Names.begin() + 1, Names.end()}, Out, Err);
    if (command == "store" || command == "echo") return RunPacsCommand(Names, Out, Err);
    throw platform::ECommandLineError("unknown command " + command);
  });
}

}  // namespace overlay
