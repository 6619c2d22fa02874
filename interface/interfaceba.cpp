#include "interface/interfaceba.h"

#include <filesystem>
#include <new>
#include <system_error>

#include "platform/command_line.h"
#include "platform/ini_profile.h"
#include "platform/paths.h"

namespace iface {

namespace {

constexpr const char* FlagRefusal =
    "Wert kann nicht gesetzt werden. (Wert kann nur im Modus 'miSend' gesetzt werden";
constexpr const char* FlagsRefusal =
    "Werte können nicht gesetzt werden. (Wert kann nur im Modus 'miSend' gesetzt werden";
constexpr const char* IndexRefusal =
    "Internal error: TInterfaceBA::SetSubjects: Count nicht im gültigen Bereich";
constexpr const char* WriteModeRefusal =
    "Error: WriteIni() kann nicht ausgeführt werden. (Kann nur im Modus 'miSend' ausgeführt "
    "werden";
constexpr const char* SenderRefusal =
    "Error: Sender is missing. WriteIni() kann nicht ausgeführt werden.";

bool HasDirectoryPart(const std::string& Path) {
  return Path.find('/') != std::string::npos;
}

std::string Numbered(const char* Prefix, std::int32_t I, const char* Suffix = "") {
  return Prefix + std::to_string(I) + Suffix;
}

// Field = Value when Sendable is a success; Sendable, the refusal or the success, is passed on.
template <class T>
platform::TStatus SetWhen(platform::TStatus Sendable, T& Field, const T& Value) {
  if (Sendable) Field = Value;
  return Sendable;
}

}  // namespace

namespace {

// The length of the valid UTF-8 sequence at Text[At], or 0 (overlong forms, surrogates and
// code points above U+10FFFF are not valid).
std::size_t Utf8SequenceLength(std::string_view Text, std::size_t At) {
  const auto byte = [&](std::size_t I) { return std::uint8_t(Text[I]); };
  const std::uint8_t lead = byte(At);
  if (lead < 0x80) return 1;
  std::size_t length;
  std::uint8_t low = 0x80, high = 0xBF;  // the range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (At + length > Text.size()) return 0;
  if (byte(At + 1) < low || byte(At + 1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i)
    if (byte(At + i) < 0x80 || byte(At + i) > 0xBF) return 0;
  return length;
}

bool IsUtf8(std::string_view Text) {
  for (std::size_t at = 0; at < Text.size();) {
    const std::size_t n = Utf8SequenceLength(Text, at);
    if (n == 0) return false;
    at += n;
  }
  return true;
}

void AppendUtf8(std::string& Out, char32_t C) {
  if (C < 0x80) {
    Out += char(C);
  } else if (C < 0x800) {
    Out += char(0xC0 | (C >> 6));
    Out += char(0x80 | (C & 0x3F));
  } else {
    Out += char(0xE0 | (C >> 12));
    Out += char(0x80 | ((C >> 6) & 0x3F));
    Out += char(0x80 | (C & 0x3F));
  }
}

// Windows-1252 from 0x80 to 0x9F; 0xFFFD where the code page defines nothing. The other bytes
// are the same code points as in Latin-1.
constexpr char16_t Windows1252High[32] = {
    0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};

}  // namespace

std::string DisplayText(std::string_view FileText) {
  if (IsUtf8(FileText)) return std::string(FileText);
  std::string out;
  out.reserve(FileText.size() * 2);
  for (const char c : FileText) {
    const std::uint8_t b = std::uint8_t(c);
    AppendUtf8(out, b >= 0x80 && b <= 0x9F ? char32_t(Windows1252High[b - 0x80]) : char32_t(b));
  }
  return out;
}

std::string CameraTablePath() {
  // A clinic's own table (the user's or an administrator's copy) before the shipped example.
  return platform::LocateProgramFile(std::vector<std::string>{"camera.ini", "Camera.ini"}).Read;
}

TInterfaceBA::TInterfaceBA(TModeInterface Mode, TReadOptions Options) : FOptions(Options) {
  FMode = miSend;
  static_cast<void>(ResetFlags());  // never refused in miSend
  FMode = Mode;
  const std::string dir = platform::ProgramDirectory();
  FResultImageDirectory = dir;
  FResultFile = dir + "result.txt";
  FResultFileDetail = dir + "detail.txt";
}

platform::TStatus TInterfaceBA::Sendable(const char* Refusal) const {
  if (FMode == miSend) return {};
  return platform::TStatus::Failure(Refusal);
}

platform::TStatus TInterfaceBA::SetAutomatic(bool Value) {
  return SetWhen(Sendable(FlagRefusal), FAutomatic, Value);
}
platform::TStatus TInterfaceBA::SetResult(bool Value) {
  return SetWhen(Sendable(FlagRefusal), FResult, Value);
}
platform::TStatus TInterfaceBA::SetResultDetail(bool Value) {
  return SetWhen(Sendable(FlagRefusal), FResultDetail, Value);
}
platform::TStatus TInterfaceBA::SetResultImage(bool Value) {
  return SetWhen(Sendable(FlagRefusal), FResultImage, Value);
}
platform::TStatus TInterfaceBA::SetStoppAtEnd(bool Value) {
  return SetWhen(Sendable(FlagRefusal), FStoppAtEnd, Value);
}
platform::TStatus TInterfaceBA::SetResultRequest(bool Value) {
  return SetWhen(Sendable(FlagRefusal), FResultRequest, Value);
}
platform::TStatus TInterfaceBA::SetResultFileAppend(bool Value) {
  return SetWhen(Sendable(FlagRefusal), FResultFileAppend, Value);
}
platform::TStatus TInterfaceBA::SetProgramFile(const std::string& Value) {
  return SetWhen(Sendable(FlagRefusal), FProgramFile, Value);
}

platform::TStatus TInterfaceBA::ResetFlags() {
  platform::TStatus sendable = Sendable(FlagsRefusal);
  if (!sendable) return sendable;
  FAutomatic = FResult = FResultDetail = FResultImage = false;
  FStoppAtEnd = FResultRequest = true;
  FResultFileAppend = false;
  return sendable;
}

void TInterfaceBA::SetMode(TModeInterface NewMode) {
  if (NewMode == FMode) return;
  const std::string dir = platform::ProgramDirectory();
  if (NewMode == miSend) {
    // Defaults that only the receiving side fills in are not handed on.
    if (FResultImageDirectory == dir) FResultImageDirectory.clear();
    if (FResultFile == dir + "result.txt") FResultFile.clear();
    if (FResultFileDetail == dir + "detail.txt") FResultFileDetail.clear();
  } else {
    if (FResultImageDirectory.empty()) FResultImageDirectory = dir;
    if (FResultFile.empty()) FResultFile = dir + "result.txt";
    if (FResultFileDetail.empty()) FResultFileDetail = dir + "detail.txt";
  }
  FMode = NewMode;
}

TImageData TInterfaceBA::GetImage(std::int32_t Index) const {
  if (Index < 0 || Index >= std::int32_t(FImages.size())) return {};
  return FImages[std::size_t(Index)];
}

TSubjectData TInterfaceBA::GetSubject(std::int32_t Index) const {
  if (Index < 0 || Index >= std::int32_t(FSubjects.size())) return {};
  return FSubjects[std::size_t(Index)];
}

platform::TStatus TInterfaceBA::SetImage(std::int32_t Index, const TImageData& Record) {
  if (Index < 0 || Index >= FCount || Index >= std::int32_t(FImages.size())) {
    return platform::TStatus::Failure(IndexRefusal);
  }
  FImages[std::size_t(Index)] = Record;
  return {};
}

void TInterfaceBA::AllocateRecords() {
  const std::size_t n = FCount > 0 ? std::size_t(FCount) : 0;
  std::vector<TImageData> images(n);
  std::vector<TSubjectData> subjects(n);
  FImages.swap(images);
  FSubjects.swap(subjects);
}

void TInterfaceBA::AddAdditional(const std::string& Name, const std::string& Value) {
  FAdditionalNames.push_back(Name);
  FAdditionalValues.push_back(Value);
}

void TInterfaceBA::ClearAdditional() {
  FAdditionalNames.clear();
  FAdditionalValues.clear();
}

bool TInterfaceBA::Read() {
  FImages.clear();
  FSubjects.clear();
  FReadStatus = {};
  const std::string path = platform::ParamStr(1);
  std::error_code ec;
  if (path.empty() || !std::filesystem::exists(path, ec)) {
    // The records are gone, so no count may claim them.
    FCount = 0;
    return false;
  }
  bool read = false;
  try {
    platform::TProfileFile first(path);
    if (!Readable(first))
      read = false;
    else if (first.HasSection("RecordData"))
      read = ReadRecordDataForm();
    else
      read = ReadInterfaceForm(path);
  } catch (const std::bad_alloc&) {
    read = false;
  }
  if (!read) {
    FImages.clear();
    FSubjects.clear();
    FCount = 0;
  }
  return FCount > 0;
}

bool TInterfaceBA::Readable(platform::TProfileFile& File) {
  if (File.ReadFailure().empty()) return true;
  FReadStatus =
      platform::TStatus::Failure("Cannot read " + File.Path() + ": " + File.ReadFailure());
  return false;
}

bool TInterfaceBA::ReadRecordDataForm() {
  std::int32_t count = 1;
  for (int p = 2; p <= platform::ParamCount(); ++p)
    if (platform::FileExists(platform::ParamStr(p))) ++count;
  FCount = count;
  AllocateRecords();
  // The count skips missing files among the further parameters, the reading does not: a
  // missing file gives a picture with empty texts.
  for (std::int32_t i = 0; i < FCount; ++i) {
    platform::TProfileFile file(platform::ParamStr(i + 1));
    if (!Readable(file)) return false;
    platform::TIniFile ini(file.Path());
    TImageData& image = FImages[std::size_t(i)];
    TSubjectData& subject = FSubjects[std::size_t(i)];
    if (FOptions.CameraAndResultDB) {
      ReadCameraEntry(ini.ReadString("RecordData", "Cameratype", ""), image);
    } else {
      image.Pp100MM = image.ExclusionCircleRadiusInPixel = 0;
      image.ExclusionCircleX0InPixel = image.ExclusionCircleY0InPixel = 0;
    }
    image.Image = ini.ReadString("RecordData", "filename", "");
    image.Date = ini.ReadString("RecordData", "Aufnahmedatum", "");
    subject.Name = ini.ReadString("RecordData", "Name", "");
    subject.Firstname = ini.ReadString("RecordData", "Vorname", "");
    subject.Birthdate = ini.ReadString("RecordData", "Geburtsdatum", "");
  }
  return true;
}

bool TInterfaceBA::ReadInterfaceForm(const std::string& Path) {
  platform::TIniFile ini(Path);
  // One snapshot of the file serves all its keys: a file that names many pictures is read
  // once, not checked on disk again for each of its keys, and a file changed while it is read
  // cannot mix two versions. Nothing is written.
  ini.BeginUpdate();
  FSender = ini.ReadString("General", "Sender", "");
  FReceiver = ini.ReadString("General", "Receiver", "");
  FCount = ini.ReadInteger("General", "Count", 0);
  if (FCount < 0 || FCount > MaxInterfaceCount) {
    // A damaged or hostile count: no records rather than gigabytes of them.
    FCount = 0;
    return true;
  }
  if (FCount > 0) AllocateRecords();
  for (std::int32_t i = 0; i < FCount; ++i) {
    const std::string section = Numbered("Image", i), person = Numbered("Subject", i);
    TImageData& image = FImages[std::size_t(i)];
    TSubjectData& subject = FSubjects[std::size_t(i)];
    image.Image = ini.ReadString(section, "Image", "");
    if (FOptions.CameraAndResultDB)
      image.ResultFileDB = ini.ReadString(section, "ResultFileDB", "");
    image.Date = ini.ReadString(section, "Date", "");
    image.Time = ini.ReadString(section, "Time", "");
    image.Pp100MM = ini.ReadInteger(section, "Pp100MM", 0);
    image.ExclusionCircleRadiusInPixel =
        ini.ReadInteger(section, "ExclusionCircleRadiusInPixel", 0);
    image.ExclusionCircleX0InPixel = ini.ReadInteger(section, "ExclusionCircleX0InPixel", 0);
    image.ExclusionCircleY0InPixel = ini.ReadInteger(section, "ExclusionCircleY0InPixel", 0);
    subject.Name = ini.ReadString(person, "Name", "");
    subject.Firstname = ini.ReadString(person, "Firstname", "");
    subject.Birthdate = ini.ReadString(person, "Birthdate", "");
  }
  FAutomatic = ini.ReadBool("Analysis", "Automatic", false);
  FResult = ini.ReadBool("Analysis", "Result", false);
  FResultDetail = ini.ReadBool("Analysis", "ResultDetail", false);
  FResultImage = ini.ReadBool("Analysis", "ResultImage", false);
  FStoppAtEnd = ini.ReadBool("Analysis", "StoppAtEnd", true);
  FResultRequest = ini.ReadBool("Analysis", "ResultRequest", true);
  FResultFileAppend = ini.ReadBool("Analysis", "ResultFileAppend", false);

  const std::string dir = platform::ProgramDirectory();
  std::string directory = ini.ReadString("Analysis", "ResultImageDirectory", dir);
  if (!directory.empty() && directory.back() == '/') directory.pop_back();
  FResultImageDirectory = directory + "/";
  FResultFile = ini.ReadString("Analysis", "ResultFile", "result.txt");
  if (!HasDirectoryPart(FResultFile)) FResultFile = dir + FResultFile;
  FResultFileDetail = ini.ReadString("Analysis", "ResultFileDetail", "detail.txt");
  if (!HasDirectoryPart(FResultFileDetail)) FResultFileDetail = dir + FResultFileDetail;
  if (FOptions.CameraAndResultDB) {
    FResultFileDB = ini.ReadString("Analysis", "ResultFileDB", "");
    if (!FResultFileDB.empty() && !HasDirectoryPart(FResultFileDB))
      FResultFileDB = dir + FResultFileDB;
  }

  ClearAdditional();
  for (std::int32_t k = 0;; ++k) {
    const std::string name = ini.ReadString("Additional", Numbered("Add", k, "Name"), "");
    if (name.empty()) break;
    AddAdditional(name, ini.ReadString("Additional", Numbered("Add", k, "Value"), ""));
  }
  return true;
}

platform::TStatus TInterfaceBA::WriteIni(const std::string& Path,
                                         const platform::TFileWriteOptions& Options) {
  if (FMode != miSend) return platform::TStatus::Failure(WriteModeRefusal);
  if (FSender.empty()) return platform::TStatus::Failure(SenderRefusal);
  platform::TIniFile ini(Path, Options);
  ini.BeginUpdate();
  ini.WriteInteger("General", "Count", FCount);
  ini.WriteString("General", "Sender", FSender);
  ini.WriteString("General", "Receiver", FReceiver);
  for (std::int32_t i = 0; i < FCount && i < std::int32_t(FImages.size()); ++i) {
    const std::string section = Numbered("Image", i), person = Numbered("Subject", i);
    const TImageData& image = FImages[std::size_t(i)];
    const TSubjectData& subject = FSubjects[std::size_t(i)];
    ini.WriteString(person, "Name", subject.Name);
    ini.WriteString(person, "FirstName", subject.Firstname);
    ini.WriteString(person, "BirthDate", subject.Birthdate);
    ini.WriteString(section, "Image", image.Image);
    if (!image.ResultFileDB.empty())
      ini.WriteString(section, "ResultFileDB", image.ResultFileDB);
    else
      ini.DeleteKey(section, "ResultFileDB");
    ini.WriteString(section, "Date", image.Date);
    ini.WriteString(section, "Time", image.Time);
    ini.WriteInteger(section, "ExclusionCircleRadiusInPixel", image.ExclusionCircleRadiusInPixel);
    ini.WriteInteger(section, "ExclusionCircleX0InPixel", image.ExclusionCircleX0InPixel);
    ini.WriteInteger(section, "ExclusionCircleY0InPixel", image.ExclusionCircleY0InPixel);
    ini.WriteInteger(section, "Pp100MM", image.Pp100MM);
  }
  if (!FProgramFile.empty()) ini.WriteString("Analysis", "Prog", FProgramFile);
  if (FAutomatic) ini.WriteBool("Analysis", "Automatic", true);
  if (FResult) ini.WriteBool("Analysis", "Result", true);
  if (FResultDetail) ini.WriteBool("Analysis", "ResultDetail", true);
  if (FResultImage) ini.WriteBool("Analysis", "ResultImage", true);
  if (!FStoppAtEnd) ini.WriteBool("Analysis", "StoppAtEnd", false);
  if (!FResultRequest) ini.WriteBool("Analysis", "ResultRequest", false);
  if (FResultFileAppend) ini.WriteBool("Analysis", "ResultFileAppend", true);
  if (!FResultFile.empty()) ini.WriteString("Analysis", "ResultFile", FResultFile);
  if (!FResultFileDetail.empty())
    ini.WriteString("Analysis", "ResultFileDetail", FResultFileDetail);
  if (!FResultFileDB.empty()) ini.WriteString("Analysis", "ResultFileDB", FResultFileDB);
  if (!FResultImageDirectory.empty())
    ini.WriteString("Analysis", "ResultImageDirectory", FResultImageDirectory);
  for (std::size_t j = 0; j < FAdditionalNames.size() && j < FAdditionalValues.size(); ++j) {
    ini.WriteString("Additional", Numbered("Add", std::int32_t(j), "Name"), FAdditionalNames[j]);
    ini.WriteString("Additional", Numbered("Add", std::int32_t(j), "Value"), FAdditionalValues[j]);
  }
  // Nothing was written when this fails: the file holds what it held before.
  if (!ini.Save()) {
    return platform::TStatus::Failure("nach " + Path + " kann nicht geschrieben werden");
  }
  return {};
}

void TInterfaceBA::ReadCameraEntry(const std::string& CameraType, TImageData& Record) const {
  Record.Pp100MM = Record.ExclusionCircleRadiusInPixel = 0;
  Record.ExclusionCircleX0InPixel = Record.ExclusionCircleY0InPixel = 0;
  if (CameraType.empty()) return;
  const std::string path = CameraTablePath();
  if (!platform::FileExists(path)) return;
  platform::TIniFile ini(path);
  if (!ini.SectionExists(CameraType)) return;
  Record.Pp100MM = ini.ReadInteger(CameraType, "Pp100MM", 0);
  Record.ExclusionCircleRadiusInPixel =
      ini.ReadInteger(CameraType, "ExclusionCircleRadiusInPixel", 0);
  Record.ExclusionCircleX0InPixel = ini.ReadInteger(CameraType, "ExclusionCircleX0InPixel", 0);
  Record.ExclusionCircleY0InPixel = ini.ReadInteger(CameraType, "ExclusionCircleY0InPixel", 0);
}

}  // namespace iface
