#include "overlay/windows/comparison_output.h"

#include <QScopeGuard>
#include <QToolButton>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "overlay/base/texts.h"
#include "overlay/dicom/outbox.h"
#include "overlay/windows/export_menu.h"
#include "overlay/windows/print_page.h"
#include "overlay/windows/window_layout.h"
#include "platform/file_write.h"
#include "platform/message.h"
#include "platform/paths.h"

namespace overlay {

template <typename TWork>
auto TComparisonOutput::RunLongWork(TWork&& Work) {
  FWorking = true;
  struct TEnd {
    TComparisonOutput* Output;
    ~TEnd() {
      Output->FWorking = false;
      Output->FWiring.WorkEnded();
    }
  } end{this};
  return Work();
}

TComparisonOutput::TComparisonOutput(QWidget& Window, QToolButton& Button,
                                     TMainController& Controller, TRecordSession& Session,
                                     const TSettings& Settings, TOutputWiring Wiring)
    : FWindow(Window),
      FController(Controller),
      FSession(Session),
      FSettings(Settings),
      FWiring(std::move(Wiring)) {
  AttachExportMenu(
      Button, [this] { Print(); }, [this](TExportKind Kind) { Export(Kind); },
      [this] { ExportDicom(); });
  AttachPacsEntries(
      Button, [this] { SendToPacs(); },
      [this] {
        RunLongWork([this] { CheckPacsWithProgress(&FWindow, FWiring.SettingsFileToRead()); });
      });
}

void TComparisonOutput::Print() {
  FWiring.BeforeCaptures();
  TPrintExtras extras;
  extras.Patient = FSession.Patient();
  extras.Measures = FController.Measures();
  extras.Notes = FSession.Notes();
  extras.FullResolution = FSettings.FullResolution;
  PrintComparisonWith(FWindow, FController, FSettings.ImageCount,
                      platform::LocateProgramFile("output.html").Read, extras);
}

void TComparisonOutput::Export(TExportKind Kind) {
  const std::string path = FWiring.ChooseExportFile(Kind);
  if (path.empty()) return;
  ExportWithWaitCursor(FController, Kind, path, FController.MeasureFrame().Pp100MM1);
}

TDicomExport TComparisonOutput::DicomRequest(const std::string& Folder) const {
  TDicomExport request;
  request.Folder = Folder;
  request.Patient = DicomPatientOf(FSession.Patient());
  request.KeptStudyInstanceUid = FSession.StudyInstanceUid();
  request.ImageCount = FSettings.ImageCount;
  return request;
}

void TComparisonOutput::SendToPacs() {
  const platform::TResult<TPacsSettings> settings = ReadPacsSettings(FWiring.SettingsFileToRead());
  if (!settings) return platform::ShowFailure(settings.Status());
  std::unique_ptr<TDicomExportJob> job;
  std::string digest, folder;
  if (FController.ControlsEnabled()) {
    FWiring.BeforeCaptures();
    const TDicomTexts texts = DicomTextsOfLanguage();
    digest = DicomExportDigest(FController, FSession.Comparison(FController), DicomRequest());
    const bool waiting = !TOutbox(TOutbox::UserOutboxFolder()).Waiting().empty();
    switch (ChoosePacsSend(digest, FSession.SentDigest(), waiting,
                           [] { return platform::AskYesNo(Tr(PacsUnchangedText)); })) {
      case TPacsSendChoice::ExportAnew: {
        // The objects are made in a private folder of their own, from which they join the
        // outbox. Named for this process, so that the next start removes it should this run end
        // abruptly.
        std::string error;
        const std::string temp = platform::TempDirectory(&error);
        folder = platform::ProcessFolderPattern(temp + PacsFolderPrefix);
        if (temp.empty() || ::mkdtemp(folder.data()) == nullptr) {
          platform::ShowWarning(Tr(PrintNoFolderText, temp.empty() ? error : folder));
          return;
        }
        job = std::make_unique<TDicomExportJob>(FController, DicomRequest(folder), texts);
        break;
      }
      case TPacsSendChoice::WaitingOnly:
        break;
      case TPacsSendChoice::Nothing:
        return;
    }
  }
  const auto removeFolder = qScopeGuard([&] {
    std::error_code ec;
    if (!folder.empty()) std::filesystem::remove_all(folder, ec);
  });
  if (job != nullptr && !job->Refusal()) return platform::ShowFailure(job->Refusal());
  const TPacsSendOutcome outcome =
      RunLongWork([&] { return SendToPacsWithProgress(&FWindow, settings.Value(), job.get()); });
  if (job != nullptr && outcome.Exported.Status && outcome.Run) {
    // In the outbox: it goes with this send or the next, and is not made again unchanged.
    FSession.SetStudyInstanceUid(outcome.Exported.StudyInstanceUid);
    FSession.SetSentDigest(digest);
    FWiring.SaveRecordNow();
  }
  TellPacsSend(outcome);
}

void TComparisonOutput::ExportDicom() {
  const std::string folder = FWiring.ChooseDicomFolder();
  if (folder.empty()) return;
  const TDicomFolderUse use = DicomFolderUse(platform::FolderPrivacy(folder), folder);
  if (!use.Refusal.empty()) return platform::ShowWarning(use.Refusal);
  if (!use.Question.empty()) {
    if (!platform::AskYesNo(use.Question)) return;
    if (std::string error; !platform::MakeOwnFolderPrivate(folder, &error)) {
      return platform::ShowWarning(Tr(DicomNoFolderText) + "\n" + error);
    }
  }
  if (ExportDicomInto(folder)) platform::ShowMessage(Tr(DicomExportDoneText, folder));
}

bool TComparisonOutput::ExportDicomInto(const std::string& Folder) {
  FWiring.BeforeCaptures();
  TDicomExportJob job(FController, DicomRequest(Folder), DicomTextsOfLanguage());
  if (!job.Refusal()) {
    platform::ShowFailure(job.Refusal());
    return false;
  }
  const TDicomExportOutcome outcome =
      RunLongWork([&] { return ExportDicomWithProgress(&FWindow, job); });
  if (outcome.Status && outcome.StudyInstanceUid != FSession.StudyInstanceUid()) {
    FSession.SetStudyInstanceUid(outcome.StudyInstanceUid);
    FWiring.SaveRecordNow();
  }
  return bool(outcome.Status);
}

}  // namespace overlay
