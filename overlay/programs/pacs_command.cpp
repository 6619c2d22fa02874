#include "overlay/programs/pacs_command.h"

#include <filesystem>
#include <memory>
#include <ostream>

#include "overlay/base/settings.h"
#include "overlay/base/texts.h"
#include "overlay/dicom/outbox.h"
#include "overlay/dicom/pacs.h"
#include "overlay/windows/sprache.h"
#include "platform/command_line.h"
#include "platform/paths.h"

namespace overlay {

namespace {

constexpr const char* Usage =
    "Usage: tessaly-dicom store [--config FILE] [FILES...]\n"
    "       tessaly-dicom echo [--config FILE]\n"
    "\n"
    "store copies DICOM files into the outbox and sends it; echo checks the connection to the\n"
    "PACS.\n"
    "\n"
    "Options:\n"
    "  --config FILE   the Tessaly.ini whose [PACS] names the PACS (default: the program's)\n"
    "  --help          show this text\n";

std::string FileName(const std::string& Path) {
  return std::filesystem::path(Path).filename().string();
}

// A command once its command line is read. The PACS's messages are told in the window's language
// as they are, a line each, as the window shows them.
int RunPacs(const std::string& Command, std::string Config, const std::vector<std::string>& Files,
            std::ostream& Out, std::ostream& Err) {
  // The messages in the window's language, when its file is there.
  if (const std::unique_ptr<TLanguageFile> language = OpenLanguageFile("TsLang.ini")) {
    ApplyMessageTexts(*language);
  }
  // A file named on the command line must be there: its defaults would go to another PACS.
  if (!Config.empty() && !std::filesystem::exists(Config)) {
    Err << "--config " << Config << ": no such file\n";
    return 2;
  }
  if (Config.empty()) Config = platform::LocateProgramFile("Tessaly.ini").Read;
  const platform::TResult<TPacsSettings> settings = ReadPacsSettings(Config);
  if (!settings) {
    Err << settings.Reason() << "\n";
    return 2;
  }

  if (Command == "echo") {
    const platform::TStatus answered = EchoPacs(settings.Value());
    if (!answered) {
      Err << answered.Reason() << "\n";
      return 1;
    }
    Out << Tr(PacsEchoOkText, PacsAddress(settings.Value())) << "\n";
    return 0;
  }

  const platform::TResult<std::vector<TPacsObject>> objects = ReadPacsObjects(Files);
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

}  // namespace

int RunPacsCommand(const std::vector<std::string>& Args, std::ostream& Out, std::ostream& Err) {
  const std::string command = Args.empty() ? std::string() : Args.front();
  std::string config;
  const bool known = command == "store" || command == "echo";
  platform::TCommandLine line(known ? "tessaly-dicom " + command : "tessaly-dicom", Usage, Out,
                              Err);
  line.Option("--config", [&](const std::string& Value) { config = Value; });
  return line.Run({Args.begin() + (Args.empty() ? 0 : 1), Args.end()},
                  [&](const std::vector<std::string>& Files) {
                    if (!known) {
                      throw platform::ECommandLineError(
                          command.empty() ? "a command is missing" : "unknown command " + command);
                    }
                    if (command == "echo" && !Files.empty()) {
                      throw platform::ECommandLineError("echo takes no files");
                    }
                    return RunPacs(command, config, Files, Out, Err);
                  });
}

}  // namespace overlay
