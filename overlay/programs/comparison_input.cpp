#include "overlay/programs/comparison_input.h"

#include <QGuiApplication>
#include <charconv>
#include <filesystem>
#include <iostream>
#include <memory>
#include <ostream>
#include <string_view>
#include <tuple>

#include "overlay/decode/orientation.h"
#include "overlay/windows/sprache.h"
#include "platform/command_line.h"
#include "platform/content_hash.h"
#include "platform/paths.h"
#include "platform/pixel_memory.h"

namespace overlay {

platform::TStatus ReadComparisonInterface(TComparisonInput& Input, TInterfaceStart& Start) {
  platform::SetProgramParameters({Input.Interface});
  Start = ReadInterfaceStart();
  if (!Start.Status) return Start.Status;
  if (Start.Count < 2) {
    return platform::TStatus::Failure("the interface file names no two pictures: " +
                                      Input.Interface);
  }
  // A path relative to the working folder, as the calling application means it; one that is
  // not there but beside the interface file (a file moved with its pictures) is taken there.
  const auto located = [&](const std::string& Path) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path beside = fs::path(Input.Interface).parent_path() / Path;
    return fs::path(Path).is_relative() && !fs::exists(Path, ec) && fs::exists(beside, ec)
               ? beside.string()
               : Path;
  };
  Input.Picture1 = located(Start.ImageFile1);
  Input.Picture2 = located(Start.ImageFile2);
  Input.Pp100MM1 = std::max(Start.Pp100MM1, 0);
  Input.Pp100MM2 = std::max(Start.Pp100MM2, 0);
  Input.Date1 = Start.Date1;
  Input.Time1 = Start.Time1;
  Input.Date2 = Start.Date2;
  Input.Time2 = Start.Time2;
  for (const auto& [picture, outside] :
       {std::pair{1, Start.OutsidePp100MM1}, {2, Start.OutsidePp100MM2}}) {
    if (outside == 0) continue;
    Input.ScaleNote += (Input.ScaleNote.empty() ? "" : "; ") + std::string("Pp100MM ") +
                       std::to_string(outside) + " of picture " + std::to_string(picture) +
                       " lies outside 1.." + std::to_string(MaxPp100MM) + " (no scale)";
  }
  return {};
}

TNamedComparison NamedComparisonOf(const TComparisonInput& Input, const TInterfaceStart& Start) {
  TNamedComparison named;
  named.Picture1 = Input.Picture1;
  named.Picture2 = Input.Picture2;
  named.Patient = NamedPatientOf(Start);
  return named;
}

platform::TStatus OpenComparison(TMainController& Controller, TRecordSession& Session,
                                 const TComparisonInput& Input, const std::string& Program,
                                 std::ostream& Err) {
  bool upright = ReadExifOrientationSetting(platform::LocateProgramFile("Tessaly.ini").Read);
  std::string recordPath = Input.Record;
  if (recordPath.empty()) {
    const std::string sha1 = platform::Sha256OfFile(Input.Picture1);
    const std::string sha2 = platform::Sha256OfFile(Input.Picture2);
    if (!sha1.empty() && !sha2.empty()) recordPath = ComparisonRecordPath(sha1, sha2);
  }
  if (!recordPath.empty()) {
    if (const platform::TResult<TComparisonRecord> r = ReadComparisonRecord(recordPath)) {
      upright = r.Value().Orientation1 > 1 || r.Value().Orientation2 > 1;
    }
  }
  Controller.SetExifOrientation(upright);
  if (!Input.ScaleNote.empty()) Err << Program << ": " << Input.ScaleNote << "\n";
  Controller.SetPictureScale(Input.Picture1, Input.Pp100MM1);
  Controller.SetPictureScale2(Input.Picture2, Input.Pp100MM2);
  Controller.SetVisitDate(1, Input.Picture1, Input.Date1, Input.Time1);
  Controller.SetVisitDate(2, Input.Picture2, Input.Date2, Input.Time2);
  Controller.LoadBothImages(Input.Picture1, Input.Picture2, [] {});
  if (!Controller.Image1Loaded()) {
    return platform::TStatus::Failure("picture 1 could not be loaded: " + Input.Picture1);
  }
  if (!Controller.Image2Loaded()) {
    return platform::TStatus::Failure("picture 2 could not be loaded: " + Input.Picture2);
  }
  const TRecordSession::TOpened opened = Session.Open(Controller, Input.Record);
  switch (opened.Found) {
    case TRecordSession::TFound::Offered:
      Session.Accept(Controller);
      break;
    case TRecordSession::TFound::Refused:
      if (!Input.Record.empty()) return opened.Status;
      Err << Program << ": " << opened.Status.Reason() << " (left out)\n";
      break;
    case TRecordSession::TFound::None:
    case TRecordSession::TFound::Unkept:
      break;
  }
  return {};
}

platform::TStatus ApplyToolLanguage(const std::string& Path) {
  const std::unique_ptr<TLanguageFile> language =
      Path.empty() ? OpenLanguageFile("TsLang.ini") : OpenLanguageFileAt(Path);
  if (language != nullptr) {
    ApplyMessageTexts(*language);
  } else if (!Path.empty()) {
    return platform::TStatus::Failure("cannot read the language file " + Path);
  }
  return {};
}

void AddComparisonOptions(platform::TCommandLine& Line, TComparisonInput& Input) {
  Line.Option("--record", [&Input](const std::string& Value) { Input.Record = Value; })
      .Option("--pp100mm", [&Input](const std::string& Value) {
        std::tie(Input.Pp100MM1, Input.Pp100MM2) = ParseScales(Value);
      });
}

std::string TakeComparisonNames(const std::vector<std::string>& Names, TComparisonInput& Input) {
  platform::ExpectNames(Names, 2, 3, "INTERFACE.ini OUTDIR or PICTURE1 PICTURE2 OUTDIR");
  if (Names.size() == 2) {
    Input.Interface = Names[0];
  } else {
    Input.Picture1 = Names[0];
    Input.Picture2 = Names[1];
  }
  return Names.back();
}

int RunComparisonTool(const char* Program, int Argc, char** Argv, TToolCommand Command) {
  return platform::RunGuarded(Program, [&] {
    platform::InstallMappedPixelAllocator().SetKeepReleased(false);
    // The labels and the scale bar's length are text, and text needs the toolkit's fonts; no
    // window is ever shown, so no display is needed either.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    int qtArgc = 1;
    QGuiApplication application(qtArgc, Argv);
    return Command({Argv + 1, Argv + Argc}, std::cout, std::cerr);
  });
}

namespace {

// A whole number 0..Max, all of Text; raises ECommandLineError Why otherwise.
int WholeNumber(std::string_view Text, int Max, const std::string& Why) {
  int n = -1;
  const auto [end, ec] = std::from_chars(Text.data(), Text.data() + Text.size(), n);
  if (Text.empty() || ec != std::errc() || end != Text.data() + Text.size() || n < 0 || n > Max) {
    throw platform::ECommandLineError(Why);
  }
  return n;
}

}  // namespace

int ParseCount(const std::string& Text) {
  return WholeNumber(Text, MaxImageCount,
                     "--count needs a whole number 0.." + std::to_string(MaxImageCount) +
                         ", not \"" + Text + "\"");
}

std::pair<int, int> ParseScales(const std::string& Text) {
  const std::string why = "--pp100mm needs N1,N2 (whole numbers 0.." + std::to_string(MaxPp100MM) +
                          "), not \"" + Text + "\"";
  const std::size_t comma = Text.find(',');
  if (comma == std::string::npos) return {WholeNumber(Text, MaxPp100MM, why), 0};
  return {WholeNumber(std::string_view(Text).substr(0, comma), MaxPp100MM, why),
          WholeNumber(std::string_view(Text).substr(comma + 1), MaxPp100MM, why)};
}

}  // namespace overlay
