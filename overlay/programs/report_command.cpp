#include "overlay/programs/report_command.h"

#include <filesystem>
#include <optional>
#include <ostream>

#include "overlay/base/settings.h"
#include "overlay/comparison/comparison_record.h"
#include "overlay/output/report.h"
#include "overlay/programs/comparison_input.h"
#include "overlay/programs/render_command.h"
#include "overlay/scene/overlay_scene.h"
#include "platform/command_line.h"
#include "platform/file_write.h"
#include "platform/paths.h"

namespace overlay {

namespace {

constexpr const char* UsageText =
    "Usage: tessaly-report [options] INTERFACE.ini OUTDIR\n"
    "       tessaly-report [options] PICTURE1 PICTURE2 OUTDIR\n"
    "\n"
    "Writes the print page of the overlay program (OUTDIR/output.html) and its captures\n"
    "(OUTDIR/image1.jpg ...) without a window: picture 2 laid over picture 1 in equal steps\n"
    "of opacity (when the record draws the comparison otherwise, as the difference, swipe,\n"
    "checkerboard or side by side: the comparison so drawn, then picture 1 alone and\n"
    "picture 2 opaque over it), at the pictures' full resolution, with the patient, both pictures' "
    "names\n"
    "and dates, the placement and the measurements of the comparison's record. The patient\n"
    "and the pictures' scales come from an interface file. OUTDIR is made (readable by you\n"
    "alone) when missing; every file in it is readable by you alone. The run only adds\n"
    "files: it refuses an OUTDIR that already holds output.html, image<N>.jpg or\n"
    "test<N>.jpg, and replaces nothing.\n"
    "\n"
    "The placement, the way of drawing, the colour matching and the measures come from the\n"
    "record the overlay program keeps for the two pictures (found by their contents), or\n"
    "from --record; --precise places the overlay itself.\n"
    "\n"
    "Options:\n"
    "  --record FILE       the comparison record to use instead of the one kept for the\n"
    "                      two pictures\n"
    "  --precise A,Z,X,Y   place the overlay: angle A in degrees, zoom factor Z, offsets X\n"
    "                      and Y in picture-1 pixels (as tessaly-align prints them)\n"
    "  --count N           number of opacity steps, 0..100 (default: ImageCount of the\n"
    "                      settings, else 5); another way of drawing takes its three\n"
    "                      captures, or none with 0\n"
    "  --pp100mm N1,N2     the pictures' pixels per 100 mm, for pictures given as files\n"
    "                      (0: not known)\n"
    "  --template FILE     the page's template (default: output.html beside the program)\n"
    "  --language FILE     the language file of the page's texts (default: TsLang.ini\n"
    "                      beside the program)\n"
    "  --help              show this text\n"
    "  --version           show the version\n";

struct TReportRequest {
  TComparisonInput Input;
  std::string Folder, Template, Language;
  std::optional<TPrecisePlacement> Precise;
  std::optional<int> Count;
};

// The report carried out once the command line is read.
int WriteReportOf(TReportRequest& Request, const platform::TCommandLine& Line, std::ostream& Out,
                  std::ostream& Err) {
  // The page's texts in the window's language.
  if (const platform::TStatus language = ApplyToolLanguage(Request.Language); !language) {
    return Line.Fail(language);
  }

  TInterfaceStart start;  // the patient, when an interface file is given
  TComparisonInput& input = Request.Input;
  if (!input.Interface.empty()) {
    if (const platform::TStatus read = ReadComparisonInterface(input, start); !read) {
      return Line.Fail(read);
    }
  }

  // A template that is not there costs no work.
  const std::string templatePath =
      Request.Template.empty() ? platform::LocateProgramFile("output.html").Read : Request.Template;
  if (!platform::FileExists(templatePath)) {
    return Line.Fail("cannot read the page's template " + templatePath);
  }
  std::error_code sizeError;
  if (std::filesystem::file_size(templatePath, sizeError) > platform::MaxReadBytes && !sizeError) {
    return Line.Fail("the page's template " + templatePath + " is too large (more than 16 MiB)");
  }

  std::string error;
  std::string folder = Request.Folder;
  if (!platform::MakeFolders(folder, &error)) return Line.Fail(error);
  // Absolute, so that the page's addresses of its captures are whole paths.
  std::error_code ec;
  folder = std::filesystem::absolute(folder, ec).lexically_normal().string();
  if (ec) return Line.Fail("cannot resolve the folder " + Request.Folder + ": " + ec.message());
  if (folder.back() != '/') folder += '/';
  // The user's folder only gains files: a name a report writes that is already there (an
  // earlier report, or one of the input photographs) is refused before any work.
  if (const platform::TStatus free = ReportFolderFree(folder); !free) return Line.Fail(free);

  TOverlayScene scene;
  TMainController& c = scene.Controller();
  TRecordSession session;
  if (!input.Interface.empty()) session.SetNamed(NamedComparisonOf(input, start));
  if (const platform::TStatus opened = OpenComparison(c, session, input, Line.Program(), Err);
      !opened) {
    return Line.Fail(opened);
  }
  Out << "picture 1: " << input.Picture1 << " (" << c.ImgView().Bitmap().Width() << " x "
      << c.ImgView().Bitmap().Height() << ")\n"
      << "picture 2: " << input.Picture2 << " (" << c.OverlayOriginal()->Width() << " x "
      << c.OverlayOriginal()->Height() << ")\n";
  if (session.Keeps() && platform::FileExists(session.Path())) {
    Out << "record: " << session.Path() << " (" << c.Measures().size() << " measure(s))\n";
  }
  if (Request.Precise && !c.PlacePrecisely(*Request.Precise)) {
    return Line.Fail("--precise: picture 2 so zoomed is too large");
  }

  const TSettings settings = ReadSettings(platform::LocateProgramFile("Tessaly.ini").Read);
  const int count = Request.Count.value_or(settings.ImageCount);

  TReportRun run;
  run.Folder = folder;
  run.TemplatePath = templatePath;
  TReportFacts facts = ReportFactsOf(c);
  SetReportPatient(facts, session.Patient());
  facts.Measures = c.Measures();
  facts.Notes = session.Notes();
  facts.Captures = PrintCapturesOf(c, count);
  run.Facts = facts;
  const raster::TRect whole{0, 0, c.ImgView().Bitmap().Width(), c.ImgView().Bitmap().Height()};
  // The comparison's controller is not drawn again: the renderer takes its pictures.
  TFullResolutionRenderer renderer(c, whole, TFullResolutionRenderer::TPictures::Take);
  if (renderer.TooLarge()) {
    return Line.Fail("too large for a full-resolution capture: " + renderer.PartSize());
  }
  run.Capture = [&](std::size_t Index, const TPrintCapture& Capture) -> platform::TStatus {
    const std::unique_ptr<raster::TBitmap32> shot = renderer.Render(Capture);
    if (!shot) return platform::TStatus::Failure("no capture could be drawn");
    return WriteCaptureJpeg(*shot, input.Pp100MM1, folder, int(Index), /*Replace=*/false);
  };
  run.Progress = [&](std::size_t Index, std::size_t Count, const TPrintCapture& Capture) {
    Out << "capture " << Index + 1 << " of " << Count << ": " << Capture.Label << " -> " << folder
        << "image" << Index + 1 << ".jpg" << std::endl;
  };
  const TReportOutcome outcome = WriteReport(run);
  if (!outcome.Captures) return Line.Fail(outcome.Captures.Reason());
  if (!outcome.Page) return Line.Fail(outcome.Page.Reason());
  Out << "wrote " << outcome.PagePath << "\n";
  return platform::ExitDone;
}

}  // namespace

int RunReportCommand(const std::vector<std::string>& Args, std::ostream& Out, std::ostream& Err) {
  TReportRequest request;
  platform::TCommandLine line("tessaly-report", UsageText, Out, Err);
  AddComparisonOptions(line, request.Input);
  line.Option("--precise", [&](const std::string& V) { request.Precise = ParsePrecise(V); })
      .Option("--count", [&](const std::string& V) { request.Count = ParseCount(V); })
      .Option("--template", [&](const std::string& V) { request.Template = V; })
      .Option("--language", [&](const std::string& V) { request.Language = V; });
  return line.Run(Args, [&](const std::vector<std::string>& Names) {
    request.Folder = TakeComparisonNames(Names, request.Input);
    return WriteReportOf(request, line, Out, Err);
  });
}

}  // namespace overlay
