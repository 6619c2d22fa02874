#include "overlay/dicom/dicom_export.h"

#include <dcmtk/config/osconfig.h>  // first of DCMTK's headers, as its own sources have it
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcuid.h>
#include <unistd.h>

#include <memory>
#include <tuple>
#include <utility>

#include "overlay/base/number_format.h"
#include "overlay/base/texts.h"
#include "overlay/comparison/dicom_values.h"
#include "overlay/dicom/dicom_export_p.h"
#include "overlay/output/export_aligned.h"
#include "overlay/output/report.h"
#include "overlay/scene/main_controller.h"
#include "platform/content_hash.h"
#include "platform/file_write.h"
#include "platform/paths.h"

namespace overlay {

namespace {

constexpr const char* CallerSpacingDescription =
    "Pixels per 100 mm at the plane photographed, from the caller";
constexpr const char* PixelSpacingDescription = "From the DICOM picture's Pixel Spacing";
constexpr const char* MagnifiedSpacingDescription =
    "From the DICOM picture's Imager Pixel Spacing and magnification";

// Everything written holds a patient's pictures or data; nothing already at a name is ever
// replaced (the names are new UIDs, so something there is not ours).
const platform::TFileWriteOptions PrivateNewFile{0600, false, false};

}  // namespace

TDicomTexts DicomTextsOfLanguage() {
  return {Tr(ExportNothingText),          Tr(DicomNoFolderText),       Tr(DicomNotWrittenText),
          Tr(DicomNoPatientText),         Tr(DicomOtherPatientText),   Tr(DicomTwoPatientsText),
          Tr(DicomPicturePatientText),    Tr(DicomExportPatientText),  Tr(DicomPatientDiffersText),
          Tr(FullResolutionTooLargeText), Tr(DicomExportCancelledText)};
}

struct TDicomExportJob::TState {
  TDicomExport Request;
  TDicomTexts Texts;
  TDicomExportOutcome Outcome;  // a refusal when made, else what Run made
  TShared Shared;
  std::vector<std::string> Findings;
  std::unique_ptr<TFullResolutionRenderer> Renderer;
  std::vector<TPrintCapture> Captures;
  TLossyCompression Lossy1{}, Lossy2{};
  TDateTime Taken[2];
};

TDicomExportJob::TDicomExportJob(TMainController& Controller, const TDicomExport& Request,
                                 const TDicomTexts& Texts)
    : F(std::make_unique<TState>()) {
  F->Request = Request;
  F->Texts = Texts;
  TDicomExportOutcome& outcome = F->Outcome;
  TShared& shared = F->Shared;
  if (!Controller.ControlsEnabled() || Controller.RotLayer() == nullptr) {
    outcome.Status = platform::TStatus::Failure(Texts.NothingToExport);
    return;
  }
  const TPictureFacts& facts1 = Controller.Facts1();
  const TPictureFacts& facts2 = Controller.Facts2();

  // Everything the objects share, checked before anything (the folder included) is written: a
  // patient or a study that cannot go into the archive leaves no trace.
  platform::TResult<TDicomPatient> patient =
      ChooseDicomPatient(Request.Patient, facts1, facts2, Texts);
  if (!patient) {
    outcome.Status = patient.Status();
    return;
  }
  shared.PatientName = DicomPatientName(patient.Value());
  shared.PatientId = DicomPatientId(patient.Value());
  shared.BirthDate = DicomPatientBirthDate(patient.Value());
  shared.StudyUid = ChooseStudyInstanceUid(facts1, patient.Value(), Request.KeptStudyInstanceUid);
  shared.SeriesUid = NewUid(SITE_SERIES_UID_ROOT);
  shared.Study = DateTimeOf(Controller.WhenTaken(1));
  shared.Created = Now();
  const int pp100mm = Controller.MeasureFrame().Pp100MM1;
  const bool ownSpacing = Controller.Scale1FromFacts() && facts1.PixelSpacingColumn > 0 &&
                          (facts1.SpacingSource == TSpacingSource::PixelSpacing ||
                           facts1.SpacingSource == TSpacingSource::MagnifiedImagerSpacing);
  if (ownSpacing) {
    // Exactly as the picture gave it (rows apart, columns apart), not through the whole pixels
    // per 100 mm of the scale bar: 0.7 mm stays 0.7 mm.
    shared.PixelSpacing =
        DecimalString(facts1.PixelSpacingRow) + "\\" + DecimalString(facts1.PixelSpacingColumn);
    shared.SpacingDescription = facts1.SpacingSource == TSpacingSource::PixelSpacing
                                    ? PixelSpacingDescription
                                    : MagnifiedSpacingDescription;
  } else if (pp100mm > 0 && pp100mm <= MaxExportPp100MM) {
    const std::string spacing = DecimalString(100.0 / pp100mm);
    shared.PixelSpacing = spacing + "\\" + spacing;
    shared.SpacingDescription = CallerSpacingDescription;
  }
  for (const auto& [vr, field, value] :
       {std::tuple(TDicomVr::UI, "Study Instance UID", shared.StudyUid),
        std::tuple(TDicomVr::UI, "Series Instance UID", shared.SeriesUid),
        std::tuple(TDicomVr::DA, "Study Date", shared.Study.Date),
        std::tuple(TDicomVr::TM, "Study Time", shared.Study.Time)}) {
    if (platform::TStatus valid = CheckDicomValue(vr, field, value); !valid) {
      outcome.Status = std::move(valid);
      return;
    }
  }
  if (platform::TStatus valid =
          CheckDicomValues(TDicomVr::DS, "Pixel Spacing", shared.PixelSpacing, 2);
      !valid) {
    outcome.Status = std::move(valid);
    return;
  }
  outcome.StudyInstanceUid = shared.StudyUid;
  outcome.SeriesInstanceUid = shared.SeriesUid;

  // Rows and Columns are 16-bit.
  const raster::TBitmap32& picture1 = Controller.ImgView().Bitmap();
  constexpr int MaxDicomSide = 65535;
  if (picture1.Width() > MaxDicomSide || picture1.Height() > MaxDicomSide) {
    outcome.Status = platform::TStatus::Failure(Texts.NotWritten + "\n" + Controller.ImageFile1() +
                                                "\nmore than 65535 rows or columns");
    return;
  }

  // The report's texts, checked before the first object is written too.
  const std::vector<TMeasure>& measures = Controller.Measures();
  std::vector<std::string>& findings = F->Findings;
  if (!measures.empty()) {
    const std::string& separator = Controller.DecimalSeparator();
    const std::vector<TMeasurementRow> rows =
        MeasurementRows(measures, Controller.MeasureFrame(), separator);
    for (const TMeasurementRow& row : rows) {
      std::string text =
          row.Name + ", " + row.Picture + ": " + Tr(ReportLengthText) + " " + row.Length;
      if (!row.Area.empty()) text += ", " + Tr(ReportAreaText) + " " + row.Area;
      findings.push_back(std::move(text));
    }
    for (const TMeasurementRow& row : rows) {
      if (!row.Change.empty()) {
        findings.push_back(row.Name + ", " + Tr(ReportChangeText) + ": " + row.Change);
      }
    }
    for (const std::string& finding : findings) {
      if (platform::TStatus valid = CheckDicomValue(TDicomVr::UT, "Text Value", finding); !valid) {
        outcome.Status = std::move(valid);
        return;
      }
    }
  }

  // The captures' scene, made last: it copies the pictures (or takes them, for a tool) and the
  // placement, so that Run reads nothing of Controller. A comparison too large for it is refused
  // before any file.
  F->Captures = PrintCapturesOf(Controller, Request.ImageCount);
  F->Lossy1 = facts1.Lossy;
  F->Lossy2 = facts2.Lossy;
  F->Taken[0] = DateTimeOf(Controller.WhenTaken(1));
  F->Taken[1] = DateTimeOf(Controller.WhenTaken(2));
  F->Renderer = std::make_unique<TFullResolutionRenderer>(
      Controller, raster::TRect{0, 0, picture1.Width(), picture1.Height()},
      Request.TakePictures ? TFullResolutionRenderer::TPictures::Take
                           : TFullResolutionRenderer::TPictures::Copy);
  if (F->Renderer->TooLarge()) {
    std::string why = Texts.TooLarge;
    if (const std::size_t at = why.find("%1"); at != std::string::npos) {
      why.replace(at, 2, F->Renderer->PartSize());
    }
    outcome.Status = platform::TStatus::Failure(why);
    return;
  }
  if (F->Renderer->SceneController() == nullptr) {
    outcome.Status = platform::TStatus::Failure(Texts.NothingToExport);
    return;
  }
}

TDicomExportJob::~TDicomExportJob() = default;

const platform::TStatus& TDicomExportJob::Refusal() const {
  return F->Outcome.Status;
}

TDicomExportOutcome TDicomExportJob::Run(platform::TCancel* Cancel,
                                         const TDicomProgress& Progress) {
  // Runs once: a second run would make the same UIDs again.
  TDicomExportOutcome outcome = std::exchange(F->Outcome, {});
  if (!outcome.Status) return outcome;
  if (!F->Renderer) {
    outcome.Status = platform::TStatus::Failure(F->Texts.NothingToExport);
    return outcome;
  }
  const TDicomExport& Request = F->Request;
  const TDicomTexts& Texts = F->Texts;
  const TShared& shared = F->Shared;
  const std::vector<std::string>& findings = F->Findings;
  TFullResolutionRenderer& renderer = *F->Renderer;
  const TMainController& scene = *renderer.SceneController();
  const raster::TBitmap32& picture1 = scene.ImgView().Bitmap();
  std::string folder = Request.Folder;
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  std::string error;
  const std::size_t slash = folder.rfind('/');
  const bool madeFolder = !platform::FileExists(folder);
  if ((slash != std::string::npos && slash > 0 &&
       !platform::MakeFolders(folder.substr(0, slash), &error)) ||
      !platform::MakePrivateFolder(folder, &error)) {
    outcome.Status = platform::TStatus::Failure(Texts.NoFolder + "\n" + Request.Folder +
                                                (error.empty() ? "" : "\n" + error));
    return outcome;
  }
  folder += '/';

  const std::vector<TPrintCapture>& captures = F->Captures;
  const int count = 2 + int(captures.size()) + (findings.empty() ? 0 : 1);
  int number = 0;

  // The images written, for the report's references: SOP class and instance.
  std::vector<std::pair<std::string, std::string>> images;
  const auto notWritten = [&](const std::string& Why) {
    outcome.Status = platform::TStatus::Failure(Texts.NotWritten + (Why.empty() ? "" : "\n" + Why));
    return false;
  };
  const auto store = [&](DcmFileFormat& File, const platform::TStatus& Made) {
    if (!Made) return notWritten(Made.Reason());
    OFString uid, sopClass;
    File.getDataset()->findAndGetOFString(DCM_SOPInstanceUID, uid);
    File.getDataset()->findAndGetOFString(DCM_SOPClassUID, sopClass);
    const std::string path = folder + uid.c_str() + ".dcm";
    std::string why;
    if (platform::WriteFileInPieces(path, FilePieces(File), &why, PrivateNewFile)) {
      outcome.Files.push_back(path);
      images.emplace_back(sopClass.c_str(), uid.c_str());
      return true;
    }
    return notWritten(path + (why.empty() ? "" : "\n" + why));
  };
  // Before each object: a cancel removes what this export wrote, so that no half comparison is
  // left behind, and the folder when the export made it and it is empty again.
  const auto tell = [&](TDicomObjectKind Kind, const std::string& Label) {
    if (Cancel != nullptr && Cancel->Cancelled()) {
      for (const std::string& file : outcome.Files) ::unlink(file.c_str());
      outcome.Files.clear();
      if (madeFolder) ::rmdir(folder.substr(0, folder.size() - 1).c_str());
      outcome.Status = platform::TStatus::Failure(Texts.Cancelled);
      outcome.Cancelled = true;
      return false;
    }
    ++number;
    if (const TDicomProgress& told = Progress ? Progress : Request.Progress) {
      told(number, count, Kind, Label);
    }
    return true;
  };

  // The two pictures as they were taken (picture 2 in picture 1's frame): original photographs,
  // the second resampled.
  const TDateTime(&taken)[2] = F->Taken;
  for (int which = 0; which < 2; ++which) {
    if (!tell(which == 0 ? TDicomObjectKind::Picture1 : TDicomObjectKind::AlignedPicture2, {})) {
      return outcome;
    }
    std::unique_ptr<raster::TBitmap32> aligned;
    // The job's own scene: its layer may draw the aligned picture itself.
    if (which == 1) aligned = AlignedPictureInPlace(picture1, *scene.RotLayer());
    DcmFileFormat file;
    TPutter data(*file.getDataset());
    PutPhotograph(data, shared, number, which == 0, taken[which], which == 0 ? picture1 : *aligned,
                  which == 0 ? F->Lossy1 : F->Lossy2);
    aligned.reset();  // in the object now: not held while the file is written
    if (!store(file, data.Status())) return outcome;
  }

  // The captures of the print, over whole picture 1, as secondary captures made now.
  for (const TPrintCapture& capture : captures) {
    if (!tell(TDicomObjectKind::Capture, capture.Label)) return outcome;
    std::unique_ptr<raster::TBitmap32> shot = renderer.Render(capture);
    if (!shot) {
      outcome.Status = platform::TStatus::Failure(Texts.NothingToExport);
      return outcome;
    }
    DcmFileFormat file;
    TPutter data(*file.getDataset());
    PutCapture(data, shared, number, *shot, {F->Lossy1, F->Lossy2});
    shot.reset();
    if (!store(file, data.Status())) return outcome;
  }

  // The measurements: a text finding per measure, one per outline pair's change, and the images
  // of this export.
  if (findings.empty() || !tell(TDicomObjectKind::Report, {})) return outcome;
  DcmFileFormat file;
  const platform::TResult<std::string> report =
      MakeMeasurementReport(file, shared, findings, images);
  if (!report) {
    notWritten(report.Reason());
    return outcome;
  }
  outcome.ReportSeriesInstanceUid = report.Value();
  store(file, {});
  return outcome;
}

std::string DicomExportDigest(const TMainController& Controller, const TComparison& Comparison,
                              const TDicomExport& Request) {
  // Each value on a line of its own, after its name: no two comparisons give the same text.
  std::string text;
  const auto add = [&text](std::string_view Name, const std::string& Value) {
    text.append(Name).append("=").append(std::to_string(Value.size())).append(":");
    text.append(Value).append("\n");
  };
  const TComparisonRecord& r = Comparison.Record;
  for (const TComparisonPicture* p : {&Comparison.Picture1, &Comparison.Picture2}) {
    add("picture", p->Sha256 + " " + std::to_string(p->Orientation));
  }
  const TDicomPatient patient = Request.Patient;
  for (const std::string* v : {&patient.Name, &patient.Firstname, &patient.Birthdate,
                               &patient.PatientId, &patient.PersonName, &patient.BirthDate}) {
    add("patient", *v);
  }
  // Not the kept study: the first export sets it, and the same comparison goes into it anyway.
  add("count", std::to_string(Request.ImageCount));
  const TPrecisePlacement placement = Controller.Placement();
  add("placement", FormatExact(placement.Angle) + " " + FormatExact(placement.Zoom) + " " +
                       FormatExact(placement.X) + " " + FormatExact(placement.Y));
  const TSliderPositions sliders = Controller.Sliders();
  add("sliders", std::to_string(sliders.Angle) + " " + std::to_string(sliders.OffsetX) + " " +
                     std::to_string(sliders.OffsetY) + " " + std::to_string(sliders.OverlayZoom) +
                     " " + std::to_string(sliders.Alpha) + " " +
                     std::to_string(Controller.Precise()));
  add("view", r.Mode + " " + std::to_string(Controller.DifferenceView()) + " " +
                  std::to_string(Controller.Checker()) + " " + std::to_string(Controller.Side()) +
                  " " + std::to_string(Controller.Swipe()) + " " +
                  FormatExact(Controller.SwipeLine()) + " " +
                  std::to_string(Controller.CheckerSquare()) + " " +
                  FormatExact(Controller.ImgView().Scale()) + " " +
                  std::to_string(Controller.ColourMatchOn()));
  add("scale", std::to_string(Controller.MeasureFrame().Pp100MM1) + " " +
                   std::to_string(Controller.MeasureFrame().Pp100MM2) + " " +
                   std::to_string(Controller.ScaleBar().Pp100MM()) + " " +
                   std::to_string(Controller.Scale1FromFacts()) + " " +
                   Controller.DecimalSeparator());
  add("taken",
      std::to_string(Controller.WhenTaken(1)) + " " + std::to_string(Controller.WhenTaken(2)));
  for (const TMeasure& m : Controller.Measures()) {
    std::string points;
    for (const TMeasurePoint& p : m.Points)
      points += FormatExact(p.X) + "," + FormatExact(p.Y) + ";";
    add("measure", std::to_string(int(m.Kind)) + " " + std::to_string(m.Picture) + " " + m.Name +
                       " " + points);
  }
  add("notes", r.Notes);
  // The labels and sentences in the language the objects are written in.
  for (const TText* t : {&PrintCaptureText, &ReportLengthText, &ReportAreaText, &ReportChangeText,
                         &ReportPictureText}) {
    add("text", Tr(*t));
  }
  add("version", TESSALY_VERSION);
  return platform::Sha256OfText(text);
}

TDicomExportOutcome ExportDicom(TMainController& Controller, const TDicomExport& Request,
                                const TDicomTexts& Texts) {
  return TDicomExportJob(Controller, Request, Texts).Run();
}

}  // namespace overlay
