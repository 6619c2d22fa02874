#include "overlay/programs/pacs_command.h"

#include <filesystem>
#include <memory>
#include <ostream>

#include "overlay/base/settings.h"
#include "overlay/base/texts.h"
#include "overlay/dicom/outbox.h"
#include "overlay/dicom/pacs.h"
#include "overlay/windows/sprache.h"
#include "platform/paths.h"

namespace overlay {

namespace {

constexpr const char* Usage =
    "usage: store [--config FILE] [FILES...]   copy DICOM files into the outbox and send it\n"
    "       echo [--config FILE]               check the connection to the PACS\n"
    "  --config FILE   the Tessaly.ini whose [PACS] names the PACS (default: the program's)\n";

std::string FileName(const std::string& Path) {
  return std::filesystem::path(Path).filename().string();
}

}  // namespace

int RunPacsCommand(const std::vector<std::string>& Args, std::ostream& Out, std::ostream& Err) {
  const auto usage = [&](const std::string& Why) {
    Err << Why << "\n" << Usage;
    return 2;
  };
  if (Args.empty()) return usage("a command is missing");
  const std::string& command = Args.front();
  if (command != "store" && command != "echo") return usage("unknown command " + command);
  std::string config;
  std::vector<std::string> files;
  for (std::size_t i = 1; i < Args.size(); ++i) {
    if (Args[i] == "--config") {
      if (i + 1 == Args.size()) return usage("--config needs a file");
      config = Args[++i];
    } else if (Args[i].rfind("--", 0) == 0) {
      return usage("unknown option " + Args[i]);
    } else {
      files.push_back(Args[i]);
    }
  }
  if (command == "echo" && !files.empty()) return usage("echo takes no files");

  // The messages in the window's language, when its file is there.
  if (const std::unique_ptr<TLanguageFile> language = OpenLanguageFile("TsLang.ini")) {
    ApplyMessageTexts(*language);
  }
  // A file named on the command line must be there: its defaults would go to another PACS.
  if (!config.empty() && !std::filesystem::exists(config)) {
    Err << "--config " << config << ": no such file\n";
    return 2;
  }
  if (config.empty()) config = platform::LocateProgramFile("Tessaly.ini").Read;
  const platform::TResult<TPacsSettings> settings = ReadPacsSettings(config);
  if (!settings) {
    Err << settings.Reason() << "\n";
    return 2;
  }

  if (command == "echo") {
    const platform::TStatus answered = EchoPacs(settings.Value());
    if (!answered) {
      Err << answered.Reason() << "\n";
      return 1;
    }
    Out << Tr(PacsEchoOkText, PacsAddress(settings.Value())) << "\n";
    return 0;
  }

  const platform::TResult<std::vector<TPacsObject>> objects = ReadPacsObjects(files);
  if (!objects) {
    Err << objects.Reason() << "\n";
    return 2;
  }
  const platform::TResult<TOutboxRun> sent = SendThroughOutbox(
      settings.Value(), objects.Value(), TOutbox(TOutbox::UserOutboxFolder()),
      [&](std::size_t Number, std::size_t Count, const TPacsObject& Object,
          const TStoreOutcome& Outcome) {
        Out << Number << "/" << Count << (Outcome.Stored ? " sent " : " not sent ")
            << FileName(Object.File) << "\n"
            << std::flush;
      });
  if (!sent) {
    Err << sent.Reason() << "\n";
    return 1;
  }
  const TOutboxRun& run = sent.Value();
  for (const platform::TStatus& failure : run.Failures) Err << failure.Reason() << "\n";
  Out << PacsRunSummary(run) << "\n";
  for (const std::string& moved : run.Quarantined) Err << "quarantined: " << moved << "\n";
  for (const std::string& left : run.Left) Err << "left in the outbox: " << left << "\n";
  return run.Left.empty() && run.Quarantined.empty() ? 0 : 1;
}

}  // namespace overlay
