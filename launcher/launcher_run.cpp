#include "launcher/launcher_run.h"

#include <fcntl.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <exception>
#include <filesystem>
#include <string_view>
#include <system_error>

#include "interface/call_program.h"
#include "launcher/calibration.h"
#include "launcher/general.h"
#include "launcher/stop_signals.h"
#include "platform/command_line.h"
#include "platform/file_write.h"
#include "platform/ini_profile.h"
#include "platform/message.h"
#include "platform/paths.h"

namespace launcher {

namespace fs = std::filesystem;

namespace {

std::string SeeLog() {
  return ". For details see " + LogFileName();
}

// Beside the program, or in the user's state folder when the program's folder is not written.
std::string InterfaceFileFolder() {
  std::string dir = platform::WritableFolder(platform::TFileKind::State);
  if (dir.empty()) dir = platform::ProgramDirectory();
  return dir;
}

const char* SignalName(int Signal) {
  switch (Signal) {
    case SIGTERM:
      return "SIGTERM";
    case SIGINT:
      return "SIGINT";
    case SIGHUP:
      return "SIGHUP";
    default:
      return "a signal";
  }
}

}  // namespace

std::string DateTimeText() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[256];
  // The locale the user chose for dates, by the usual precedence; without one (or with C or
  // POSIX, whose "12/09/26" reads differently in every country) the unambiguous ISO 8601 form.
  // The locale is asked for here alone, so the process's own locale (numbers in C) stays.
  const char* chosen = nullptr;
  for (const char* name : {"LC_ALL", "LC_TIME", "LANG"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') {
      chosen = value;
      break;
    }
  }
  const std::string_view name = chosen != nullptr ? chosen : "C";
  if (name != "C" && name != "POSIX") {
    // A locale named but not installed gives the ISO form as well.
    if (const locale_t user = newlocale(LC_TIME_MASK, "", locale_t(nullptr))) {
      const std::size_t n = strftime_l(text, sizeof text, "%c", &local, user);
      freelocale(user);
      if (n > 0) return std::string(text, n);
    }
  }
  const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return std::string(text, n);
}

TLauncherRun::TLauncherRun()
    : FLog(std::make_unique<TLogSession>()),
      FInterface(std::make_unique<iface::TInterfaceBA>(iface::miReceive)) {}

TLauncherRun::~TLauncherRun() = default;

void TLauncherRun::Fail(const std::string& Text) {
  FFailed = true;
  if (ShowWindow) ShowWindow();
  platform::ShowMessage(Text, ErrorCaption, platform::MessageIcon::Error);
}

void TLauncherRun::Start() {
  WriteLog(DateTimeText() + " Start");
  for (const std::string& file : RemoveFilesOfEndedRuns(InterfaceFileFolder()))
    WriteLog("Removed the interface file of an ended run:" + file);
  try {
    RunAnalysis();
  } catch (const std::exception& e) {
    WriteLog(std::string("Error: The run stopped on an unexpected error: ") + e.what());
    Fail(std::string("The run stopped on an unexpected error: ") + e.what() + SeeLog());
  } catch (...) {
    WriteLog("Error: The run stopped on an unexpected error");
    Fail("The run stopped on an unexpected error" + SeeLog());
  }
}

void TLauncherRun::RunAnalysis() {
  const int count = platform::ParamCount();
  if (count <= 0) {
    WriteLog("Error: ParamCount<=0 - ParamCount:" + std::to_string(count));
    Fail("Count of given parameters (ParamCount) smaller 1" + SeeLog());
    return;
  }
  for (int i = 0; i <= count; ++i)
    WriteLog("This program was called with:" + platform::ParamStr(i));

  if (!FInterface->Read()) {
    WriteLog("Error: Read() was not successful");
    if (const platform::TStatus& why = FInterface->LastReadStatus(); !why)
      WriteLog("Error: " + why.Reason());
    Fail("Cannot read given file sucessfully" + SeeLog());
    return;
  }
  const std::string prog = FindProgramFile(FInterface->GetReceiver());
  if (!platform::FileExists(prog)) {
    WriteLog("Error: Can not find ProgramFile for Programname:" +
             iface::DisplayText(FInterface->GetReceiver()));
    Fail("Programfile " + prog + " not found" + SeeLog());
    return;
  }

  // Paths that only hold the receiving defaults are not passed on.
  FInterface->SetMode(iface::miSend);
  CompleteCalibration();

  const platform::TStatus written = WriteOutputFile();
  platform::ShowFailure(written);
  if (written) KeepRequestedCopy();

  // Set only now, so that the generated file carries no Prog key.
  platform::ShowFailure(FInterface->SetProgramFile(prog));
  FInterface->Parameters().push_back(FOutputFileName);
  WriteLog("Programcall:" + FInterface->BuildCommandLine());
  // As TInterfaceBA::CallProgram, knowing the receiver's process while it runs (Stop).
  const iface::TProgramCall call =
      iface::RunProgram(FInterface->GetProgramFile(), FInterface->Parameters(),
                        [this](pid_t Pid) { FReceiver = Pid; });
  if (!call.Status) {
    // The interface's own text first, then the launcher's box with the system's reason.
    platform::ShowFailure(call.Status);
    const std::string reason = call.SystemReason.empty()
                                   ? std::string("the program file does not exist any more")
                                   : call.SystemReason;
    WriteLog("Error: Program could not be started: " + reason);
    Fail("Programfile " + prog + " could not be started: " + reason + SeeLog());
  }
}

void TLauncherRun::CompleteCalibration() {
  for (std::int32_t i = 0; i < FInterface->GetCount(); ++i) {
    iface::TImageData computed;
    computed.Image = FInterface->GetImage(i).Image;
    SetCamProperties(computed);
    // A positive value of the input file always wins.
    iface::TImageData image = FInterface->GetImage(i);
    if (image.Pp100MM <= 0) image.Pp100MM = computed.Pp100MM;
    if (image.ExclusionCircleRadiusInPixel <= 0)
      image.ExclusionCircleRadiusInPixel = computed.ExclusionCircleRadiusInPixel;
    if (image.ExclusionCircleX0InPixel <= 0)
      image.ExclusionCircleX0InPixel = computed.ExclusionCircleX0InPixel;
    if (image.ExclusionCircleY0InPixel <= 0)
      image.ExclusionCircleY0InPixel = computed.ExclusionCircleY0InPixel;
    platform::ShowFailure(FInterface->SetImage(i, image));
  }
}

platform::TStatus TLauncherRun::WriteOutputFile() {
  const std::string dir = InterfaceFileFolder();
  // The write takes the name itself: the bytes go into a file without a name that appears
  // under the name complete, and only where nothing is (a dangling link counts as something).
  // So a kill at any moment leaves no empty or half-written file, and two launchers started
  // together never take the same name. The file holds patient data: the user's alone.
  platform::TFileWriteOptions options;
  options.Mode = 0600;
  options.Replace = false;
  constexpr unsigned LastNumber = 999999;
  platform::TStatus written;
  for (unsigned n = 0; n <= LastNumber; ++n) {
    const std::string path = dir + "MVIni" + std::to_string(n) + ".ini";
    std::error_code ec;
    if (fs::exists(fs::symlink_status(path, ec))) continue;
    // The record that this run owns the number comes first, so that a run starting meanwhile
    // never takes the new file for one of an ended run. Another run still owns this number
    // when its record is there (its file is gone, its record is not).
    if (FRunLock.Take(path) == TRunLock::TTaken::Held) continue;
    written = FInterface->WriteIni(path, options);
    // Taken by another launcher in between: the next number.
    if (!written && fs::exists(fs::symlink_status(path, ec))) {
      FRunLock.Release();
      continue;
    }
    FOutputFileName = path;
    return written;
  }
  return written;
}

void TLauncherRun::KeepRequestedCopy() {
  // For scripts and demonstrations: KESTRIN_COPY_TO names a file that receives a copy of the
  // completed interface file, which itself is removed when the receiver ends.
  const char* target = std::getenv("KESTRIN_COPY_TO");
  if (!target || !*target) return;
  std::string bytes, error;
  platform::TFileWriteOptions options;
  options.Mode = 0600;
  options.FollowSymlink = false;
  if (!platform::ReadWholeFile(FOutputFileName, &bytes) ||
      !platform::WriteFileAtomically(target, bytes, &error, options)) {
    WriteLog("Error: Copy of " + FOutputFileName + " to " + target + " not written: " + error);
  }
}

std::string TLauncherRun::FindProgramFile(const std::string& Name) {
  const std::string programDir = platform::ProgramDirectory();
  // ProgDir stays relative to the program's folder, also in a user's or administrator's copy.
  const std::string ini = platform::LocateProgramFile("Kestrin.ini").Read;
  WriteLog("IniAnaFile:" + ini);
  std::string file, dir;
  if (platform::FileExists(ini)) {
    if (!Name.empty()) {
      platform::TIniFile table(ini);
      file = table.ReadString(Name, "ProgFile", "");
      dir = programDir + table.ReadString(Name, "ProgDir", "");
      if (!dir.empty() && dir.back() == '/') dir.pop_back();
    } else {
      WriteLog("Error: Programname == ''");
    }
  } else {
    WriteLog("Error: IniAnaFile does not exist:" + ini);
  }
  const std::string path = dir + "/" + file;
  const bool dirExists = platform::DirectoryExists(dir), fileExists = platform::FileExists(path);
  if (dirExists && fileExists) return path;
  if (!dirExists) WriteLog("Error: Directory does not exist:" + dir);
  if (!fileExists) {
    WriteLog("Error: File does not exist:");
    WriteLog("      - ProgFileName:" + file);
    WriteLog("      - ProgFile:" + path);
  }
  return {};
}

void TLauncherRun::Close() {
  if (FClosed) return;
  FClosed = true;
  if (!FOutputFileName.empty()) {
    std::error_code ec;
    fs::remove(FOutputFileName, ec);
  }
  FRunLock.Release();
  FInterface.reset();
  WriteLog(DateTimeText() + " Close");
  WriteLog("---------------------");
  FLog->End();
}

void TLauncherRun::Stop(int Signal) {
  WriteLog(std::string("Stopped by ") + SignalName(Signal));
  StopChild(FReceiver, Signal, ReceiverGraceMilliseconds);
  FReceiver = -1;
  Close();
  EndBySignal(Signal);
}

}  // namespace launcher
