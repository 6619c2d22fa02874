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

#ifndef TESSALY_VERSION
#define TESSALY_VERSION "unknown"
#endif

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

// False when the usage text or version was asked for (already printed).
bool ParseArguments(const std::vector<std::string>& Args, TReportRequest& Request,
                    std::ostream& Out) {
  return ParseComparisonArguments(
      Args, UsageText, "tessaly-report " TESSALY_VERSION, Request.Input, Request.Folder,
      [&Request](const std::string& Name, const std::string& Value) {
        if (Name == "--precise") {
          Request.Precise = ParsePrecise(Value);
        } else if (Name == "--count") {
          Request.Count = ParseCount(Value);
        } else if (Name == "--template") {
          Request.Template = Value;
        } else if (Name == "--language") {
          Request.Language = Value;
        } else {
          throw ECommandLineError("unknown option " + Name);
        }
      },
      Out);
}

}  // namespace

int RunReportCommand(const std::vector<std::string>& Args, std::ostream& Out, std::ostream& Err) {
  TReportRequest request;
  try {
    if (!ParseArguments(Args, request, Out)) return 0;
  } catch (const ECommandLineError& e) {
    Err << "tessaly-report: " << e.what() << "\n"
        << "Try 'tessaly-report --help' for more information.\n";
    return 2;
  }
  const auto fail = [&](const std::string& Why) {
    Err << "tessaly-report: " << Why << "\n";
    return 1;
  };

  // The page's texts in the window's language.
  if (const platform::TStatus language = ApplyToolLanguage(request.Language); !language) {
    return fail(language.Reason());
  }

  TInterfaceStart start;  // the patient, when an interface file is given
  TComparisonInput& input = request.Input;
  if (!input.Interface.empty()) {
    if (const platform::TStatus read = ReadComparisonInterface(input, start); !read) {
      return fail(read.Reason());
    }
  }

  // A template that is not there costs no work.
  const std::string templatePath =
      request.Template.empty() ? platform::LocateProgramFile("output.html").Read : request.Template;
  if (!platform::FileExists(templatePath)) {
    return fail("cannot read the page's template " + templatePath);
  }
  std::error_code sizeError;
  if (std::filesystem::file_size(templatePath, sizeError) > platform::MaxReadBytes && !sizeError) {
    return fail("the page's template " + templatePath + " is too large (more than 16 MiB)");
  }

  std::string error;
  std::string folder = request.Folder;
  if (!platform::MakeFolders(folder, &error)) return fail(error);
  // Absolute, so that the page's addresses of its captures are whole paths.
  std::error_code ec;
  folder = std::filesystem::absolute(folder, ec).lexically_normal().string();
  if (ec) return fail("cannot resolve the folder " + request.Folder + ": " + ec.message());
  if (folder.back() != '/') folder += '/';
  // The user's folder only gains files: a name a report writes that is already there (an
  // earlier report, or one of the input photographs) is refused before any work.
  if (const platform::TStatus free = ReportFolderFree(folder); !free) return fail(free.Reason());

  TOverlayScene scene;
  TMainController& c = scene.Controller();
  TRecordSession session;
  if (!input.Interface.empty()) session.SetNamed(NamedComparisonOf(input, start));
  if (const platform::TStatus opened = OpenComparison(c, session, input, "tessaly-report", Err);
      !opened) {
    return fail(opened.Reason());
  }
  Out << "picture 1: " << input.Picture1 << " (" << c.ImgView().Bitmap().Width() << " x "
      << c.ImgView().Bitmap().Height() << ")\n"
      << "picture 2: " << input.Picture2 << " (" << c.OverlayOriginal()->Width() << " x "
      << c.OverlayOriginal()->Height() << ")\n";
  if (session.Keeps() && platform::FileExists(session.Path())) {
    Out << "record: " << session.Path() << " (" << c.Measures().size() << " measure(s))\n";
  }
  if (request.Precise && !c.PlacePrecisely(*request.Precise)) {
    return fail("--precise: picture 2 so zoomed is too large");
  }

  const TSettings settings = ReadSettings(platform::LocateProgramFile("Tessaly.ini").Read);
  const int count = request.Count.value_or(settings.ImageCount);

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
    return fail("too large for a full-resolution capture: " + renderer.PartSize());
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
  if (!outcome.Captures) return fail(outcome.Captures.Reason());
  if (!outcome.Page) return fail(outcome.Page.Reason());
  Out << "wrote " << outcome.PagePath << "\n";
  return 0;
}

}  // namespace overlay
