// The interface record that calling applications, the launcher and the overlay program
// exchange, and its INI file in both forms: the interface form (the only one written) and the
// record-data form (one small file per picture, all named on the command line).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "interface/call_program.h"
#include "platform/ini_profile.h"
#include "platform/status.h"

namespace iface {

enum TModeInterface { miSend = 0, miReceive = 1 };

struct TImageData {
  std::string Image;  // the picture file's path
  std::string Date;
  std::string Time;
  std::int32_t Pp100MM = -1;  // picture pixels per 100 mm
  std::int32_t ExclusionCircleRadiusInPixel = -1;
  std::int32_t ExclusionCircleX0InPixel = -1;
  std::int32_t ExclusionCircleY0InPixel = -1;
  std::string ResultFileDB;
};

struct TSubjectData {
  std::string Name, Firstname, Birthdate;
};

// What a program's Read takes from a file beyond the common keys. The overlay program knows
// neither the camera type of the record-data form nor the ResultFileDB keys.
struct TReadOptions {
  bool CameraAndResultDB = true;
};

// The camera table ("camera.ini", or "Camera.ini", as older installations spell it) beside the
// program, or a user's or administrator's copy read first (platform/paths.h).
std::string CameraTablePath();

// A text of an interface file (a name, a birth date) as the UTF-8 text to show: as it is when it
// is valid UTF-8, else read as Windows-1252, which the calling programs on clinic machines write
// ("M\xfcller" shows as "Müller"). The five bytes that Windows-1252 leaves undefined (0x81,
// 0x8D, 0x8F, 0x90, 0x9D) show as U+FFFD, a visible mark, rather than as invisible control
// characters. The records keep the file's bytes: only what is shown is converted, so a file
// written back holds what it held.
std::string DisplayText(std::string_view FileText);

// The most pictures a file may name; a larger Count is taken for a damaged file.
constexpr std::int32_t MaxInterfaceCount = 100000;

class TInterfaceBA {
 public:
  explicit TInterfaceBA(TModeInterface Mode, TReadOptions Options = {});
  virtual ~TInterfaceBA() = default;

  // The seven flags and the receiving program's file: set only in miSend; in miReceive the
  // setter fails with its refusal as the reason and the value stays. Nothing is shown here: the
  // caller tells the user (platform/status.h).
  bool GetAutomatic() const { return FAutomatic; }
  bool GetResult() const { return FResult; }
  bool GetResultDetail() const { return FResultDetail; }
  bool GetResultImage() const { return FResultImage; }
  bool GetStoppAtEnd() const { return FStoppAtEnd; }
  bool GetResultRequest() const { return FResultRequest; }
  bool GetResultFileAppend() const { return FResultFileAppend; }
  const std::string& GetProgramFile() const { return FProgramFile; }
  platform::TStatus SetAutomatic(bool Value);
  platform::TStatus SetResult(bool Value);
  platform::TStatus SetResultDetail(bool Value);
  platform::TStatus SetResultImage(bool Value);
  platform::TStatus SetStoppAtEnd(bool Value);
  platform::TStatus SetResultRequest(bool Value);
  platform::TStatus SetResultFileAppend(bool Value);
  platform::TStatus SetProgramFile(const std::string& Value);
  platform::TStatus ResetFlags();

  const std::string& GetResultImageDirectory() const { return FResultImageDirectory; }
  const std::string& GetResultFile() const { return FResultFile; }
  const std::string& GetResultFileDetail() const { return FResultFileDetail; }
  const std::string& GetResultFileDB() const { return FResultFileDB; }
  void SetResultImageDirectory(std::string Value) { FResultImageDirectory = std::move(Value); }
  void SetResultFile(std::string Value) { FResultFile = std::move(Value); }
  void SetResultFileDetail(std::string Value) { FResultFileDetail = std::move(Value); }
  void SetResultFileDB(std::string Value) { FResultFileDB = std::move(Value); }

  const std::string& GetSender() const { return FSender; }
  const std::string& GetReceiver() const { return FReceiver; }
  void SetSender(std::string Value) { FSender = std::move(Value); }
  void SetReceiver(std::string Value) { FReceiver = std::move(Value); }

  TModeInterface GetMode() const { return FMode; }
  void SetMode(TModeInterface NewMode);

  std::int32_t GetCount() const { return FCount; }
  // Copies of record Index; an Index outside 0 to Count - 1 gives an empty record.
  TImageData GetImage(std::int32_t Index) const;
  TSubjectData GetSubject(std::int32_t Index) const;
  // Replaces all fields of picture record Index (any mode); an Index outside the records is
  // refused, its text the reason.
  platform::TStatus SetImage(std::int32_t Index, const TImageData& Record);
  // Count new records with the defaults (empty texts, -1 in the integers).
  void AllocateRecords();

  const std::vector<std::string>& GetAdditionalNames() const { return FAdditionalNames; }
  const std::vector<std::string>& GetAdditionalValues() const { return FAdditionalValues; }
  void AddAdditional(const std::string& Name, const std::string& Value);
  void ClearAdditional();

  // Arguments for the receiving program.
  std::vector<std::string>& Parameters() { return FParameters; }

  // Starting the receiving program: ProgramFile with the non-empty Parameters as arguments
  // (interface/call_program.h). Success when a file exists at ProgramFile; otherwise a failure
  // whose reason says so.
  platform::TStatus ProgramExists() const;
  // The command line as text, for logs: the quoted program and the quoted non-empty
  // parameters, nothing escaped. The program itself gets the arguments as they are.
  std::string BuildCommandLine() const;
  // What CallProgram did (interface/call_program.h).
  using TProgramCall = iface::TProgramCall;
  // Starts the program and returns when it has ended, handling the caller's pending events at
  // least every 100 ms.
  TProgramCall CallProgram();

  // Reads the file(s) the command line names (parameter 1; in the record-data form also 2 and
  // on). True when at least one picture was found. Only regular files are read (a FIFO or a
  // device would block or never end), each up to platform::MaxReadBytes; any other named file
  // makes the read fail with no records, and LastReadStatus tells why.
  bool Read();
  // Why the last Read found nothing although a file was named: "Cannot read <path>: not a
  // regular file", "...: larger than 16 MiB". Success when it read, or found no file at all.
  const platform::TStatus& LastReadStatus() const { return FReadStatus; }
  // Writes the interface form into Path, key by key into what the file holds, in one
  // replacement of the file (Options: how, platform/file_write.h). Fails when refused or not
  // written, with the refusal or the reason the file could not be written.
  platform::TStatus WriteIni(const std::string& Path, const platform::TFileWriteOptions& Options =
                                                          platform::ProfileWriteOptions());
  // The record's four calibration integers from the camera table beside the program.
  void ReadCameraEntry(const std::string& CameraType, TImageData& Record) const;

 private:
  // Each false when a file could not be read (FReadStatus says why).
  bool Readable(platform::TProfileFile& File);
  bool ReadRecordDataForm();
  bool ReadInterfaceForm(const std::string& Path);
  platform::TStatus Sendable(const char* Refusal) const;

  bool FAutomatic = false, FResult = false, FResultDetail = false, FResultImage = false;
  bool FStoppAtEnd = true, FResultRequest = true, FResultFileAppend = false;
  std::string FProgramFile, FResultImageDirectory, FResultFile, FResultFileDetail, FResultFileDB;
  TModeInterface FMode;
  std::vector<TImageData> FImages;
  std::vector<TSubjectData> FSubjects;
  std::int32_t FCount = 0;
  std::vector<std::string> FAdditionalNames, FAdditionalValues;
  std::string FSender, FReceiver;
  std::vector<std::string> FParameters;
  TReadOptions FOptions;
  platform::TStatus FReadStatus;
};

}  // namespace iface
