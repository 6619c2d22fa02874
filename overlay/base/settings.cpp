#include "overlay/base/settings.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <functional>
#include <tuple>

#include "interface/interfaceba.h"
#include "overlay/base/texts.h"
#include "overlay/decode/orientation.h"
#include "platform/ini_profile.h"
#include "platform/paths.h"

namespace overlay {

TSettings ReadSettings(const std::string& Path) {
  platform::TIniFile ini(Path);
  TSettings s;
  if (ini.ReadBool("AutoLoad", "FormProperties", false)) {
    TWindowBounds b;
    b.Top = ini.ReadInteger("FormOptions", "Top", 10);
    b.Left = ini.ReadInteger("FormOptions", "Left", 10);
    b.Height = ini.ReadInteger("FormOptions", "Height", 450);
    b.Width = ini.ReadInteger("FormOptions", "Width", 620);
    s.Bounds = b;
  }
  s.ImageCount = std::min(ini.ReadInteger("Output", "ImageCount", 5), MaxImageCount);
  s.FullResolution = ini.ReadInteger("Output", "FullResolution", 1) != 0;
  // The assistant reads the same key through the same function.
  s.ExifOrientation = ReadExifOrientationSetting(Path);
  const int flicker = ini.ReadInteger("Display", "FlickerMs", 500);
  s.FlickerMs = flicker >= 100 && flicker <= 5000 ? flicker : 500;
  s.MatchColours = ini.ReadInteger("Display", "MatchColours", 0) == 1;
  const int square = ini.ReadInteger("Display", "CheckerSquare", 64);
  s.CheckerSquare = square >= 4 && square <= 1024 ? square : 64;
  s.OpenDialog.Filter = ini.ReadString("OpenDialog", "Filter", "");
  s.OpenDialog.Folder = ini.ReadString("OpenDialog", "Folder", "");
  for (int i = 1; i <= MaxRecentPictures; ++i) {
    const std::string file = ini.ReadString("Recent", "File" + std::to_string(i), "");
    std::vector<std::string>& recent = s.OpenDialog.Recent;
    if (!file.empty() && platform::FileExists(file) &&
        std::find(recent.begin(), recent.end(), file) == recent.end()) {
      recent.push_back(file);
    }
  }
  // INT_MIN, which no window stores, tells a missing key.
  const auto assistent = [&](const char* Key) {
    return ini.ReadInteger("Assistent", Key, INT_MIN);
  };
  const TAssistentBounds a{assistent("Left"), assistent("Top"), assistent("Width"),
                           assistent("Height")};
  if (a.Left != INT_MIN && a.Top != INT_MIN && a.Width != INT_MIN && a.Height != INT_MIN) {
    s.AssistentBounds = a;
  }
  return s;
}

std::vector<std::string> WithRecentPicture(std::vector<std::string> Recent,
                                           const std::string& Path) {
  Recent.erase(std::remove(Recent.begin(), Recent.end(), Path), Recent.end());
  Recent.insert(Recent.begin(), Path);
  if (Recent.size() > std::size_t(MaxRecentPictures)) Recent.resize(MaxRecentPictures);
  return Recent;
}

namespace {

// Keys written by Fill go to the file in one replacement that keeps everything else in it.
platform::TStatus WriteInOneReplacement(
    const std::string& Path, const std::function<void(platform::TIniFile&)>& Fill,
    const platform::TFileWriteOptions& Options = platform::ProfileWriteOptions()) {
  platform::TIniFile ini(Path, Options);
  ini.BeginUpdate();
  Fill(ini);
  if (ini.Save()) return {};
  return platform::TStatus::Failure(Tr(SettingsNotWrittenText, Path));
}

}  // namespace

platform::TStatus WriteOpenDialogSettings(const std::string& Path,
                                          const TOpenDialogSettings& Dialog) {
  platform::TFileWriteOptions ownerOnly = platform::ProfileWriteOptions();
  ownerOnly.Mode = 0600;
  return WriteInOneReplacement(
      Path,
      [&](platform::TIniFile& Ini) {
        Ini.WriteString("OpenDialog", "Filter", Dialog.Filter);
        Ini.WriteString("OpenDialog", "Folder", Dialog.Folder);
        for (int i = 1; i <= MaxRecentPictures; ++i) {
          const std::string key = "File" + std::to_string(i);
          if (std::size_t(i) <= Dialog.Recent.size()) {
            Ini.WriteString("Recent", key, Dialog.Recent[std::size_t(i - 1)]);
          } else {
            Ini.DeleteKey("Recent", key);
          }
        }
      },
      ownerOnly);
}

platform::TStatus WriteSettings(const std::string& Path, const TWindowBounds& Bounds) {
  return WriteInOneReplacement(Path, [&](platform::TIniFile& Ini) {
    Ini.WriteBool("AutoLoad", "FormProperties", true);
    Ini.WriteInteger("FormOptions", "Top", Bounds.Top);
    Ini.WriteInteger("FormOptions", "Left", Bounds.Left);
    Ini.WriteInteger("FormOptions", "Height", Bounds.Height);
    Ini.WriteInteger("FormOptions", "Width", Bounds.Width);
  });
}

platform::TStatus WriteMatchColours(const std::string& Path, bool On) {
  return WriteInOneReplacement(
      Path, [&](platform::TIniFile& Ini) { Ini.WriteBool("Display", "MatchColours", On); });
}

platform::TStatus WriteAssistentBounds(const std::string& Path, const TAssistentBounds& Bounds) {
  return WriteInOneReplacement(Path, [&](platform::TIniFile& Ini) {
    Ini.WriteInteger("Assistent", "Left", Bounds.Left);
    Ini.WriteInteger("Assistent", "Top", Bounds.Top);
    Ini.WriteInteger("Assistent", "Width", Bounds.Width);
    Ini.WriteInteger("Assistent", "Height", Bounds.Height);
  });
}

TAssistentBounds ClampIntoScreens(const TAssistentBounds& Stored,
                                  const std::vector<TAssistentBounds>& Screens, int MinWidth,
                                  int MinHeight) {
  TAssistentBounds b = Stored;
  b.Width = std::max(b.Width, MinWidth);
  b.Height = std::max(b.Height, MinHeight);
  if (Screens.empty()) return b;
  // The screen that shows most of the window; the first when none shows any of it.
  // In 64 bits: stored values are any 32-bit numbers.
  const auto shown = [&](const TAssistentBounds& S) {
    using L = long long;
    const L w = std::min(L(S.Left) + S.Width, L(b.Left) + b.Width) - std::max(S.Left, b.Left);
    const L h = std::min(L(S.Top) + S.Height, L(b.Top) + b.Height) - std::max(S.Top, b.Top);
    return w > 0 && h > 0 ? w * h : 0;
  };
  const TAssistentBounds* screen = &Screens.front();
  for (const TAssistentBounds& s : Screens) {
    if (shown(s) > shown(*screen)) screen = &s;
  }
  b.Width = std::max(std::min(b.Width, screen->Width), MinWidth);
  b.Height = std::max(std::min(b.Height, screen->Height), MinHeight);
  // Within the screen where the window fits; its top-left corner in sight where it does not.
  b.Left = std::max(std::min(b.Left, screen->Left + screen->Width - b.Width), screen->Left);
  b.Top = std::max(std::min(b.Top, screen->Top + screen->Height - b.Height), screen->Top);
  return b;
}

namespace {

// The additional pair that names the patient's ID, whatever the case of its name: the calling
// applications write "PatientID", "PatientId" or "patientid", and a pair missed for its case
// would export the patient's pictures without an ID.
constexpr std::string_view PatientIdName = "PatientID";

bool IsPatientIdName(std::string_view Name) {
  return Name.size() == PatientIdName.size() &&
         std::equal(Name.begin(), Name.end(), PatientIdName.begin(), [](char A, char B) {
           return std::tolower(static_cast<unsigned char>(A)) ==
                  std::tolower(static_cast<unsigned char>(B));
         });
}

// An AE title as the association carries it: at most 16 characters of the default repertoire
// without the backslash (the value separator) and without controls; spaces only between others
// count, so a title of spaces alone names nobody.
// A host name (labels of letters, digits and hyphens, none starting or ending with a hyphen) or
// an IPv4 address, at most 64 characters: no port (that is Port's), no scheme, no spaces. The
// toolkit would take "host:port" and quietly connect to that port instead.
bool ValidHost(const std::string& Host) {
  constexpr std::size_t MaxHost = 64, MaxLabel = 63;
  if (Host.empty() || Host.size() > MaxHost) return false;
  bool numeric = true;
  int labels = 0;
  std::size_t start = 0;
  for (;;) {
    const std::size_t dot = std::min(Host.find('.', start), Host.size());
    const std::string label = Host.substr(start, dot - start);
    if (label.empty() || label.size() > MaxLabel || label.front() == '-' || label.back() == '-') {
      return false;
    }
    for (const char c : label) {
      if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-') return false;
      if (!std::isdigit(static_cast<unsigned char>(c))) numeric = false;
    }
    if (numeric && (label.size() > 3 || std::stoi(label) > 255)) numeric = false;
    ++labels;
    if (dot == Host.size()) break;
    start = dot + 1;
  }
  // All digits is an address, and then a whole one ("10.1" or "300.1.1.1" is neither).
  const bool digitsOnly = Host.find_first_not_of("0123456789.") == std::string::npos;
  return !digitsOnly || (numeric && labels == 4);
}

bool ValidAeTitle(const std::string& Title) {
  constexpr std::size_t MaxAeTitle = 16;
  if (Title.size() > MaxAeTitle) return false;
  if (Title.find_first_not_of(' ') == std::string::npos) return false;
  return std::all_of(Title.begin(), Title.end(), [](char C) {
    const auto c = static_cast<unsigned char>(C);
    return c >= 0x20 && c < 0x7f && c != '\\';
  });
}

}  // namespace

platform::TResult<TPacsSettings> ReadPacsSettings(const std::string& Path) {
  platform::TIniFile ini(Path);
  TPacsSettings s;
  // A file that is there but cannot be read (a folder, a FIFO, a device, no permission) is no
  // empty one: its defaults would send elsewhere than the user set.
  if (!ini.ReadFailure().empty()) {
    return platform::TStatus::Failure(Tr(PacsSettingRefusedText, Path + ": " + ini.ReadFailure()));
  }
  const auto refuse = [](const std::string& Key, const std::string& Value) {
    return platform::TStatus::Failure(Tr(PacsSettingRefusedText, "[PACS] " + Key + "=" + Value));
  };
  s.CallingAE = ini.ReadString("PACS", "CallingAE", s.CallingAE);
  if (!ValidAeTitle(s.CallingAE)) return refuse("CallingAE", s.CallingAE);
  s.CalledAE = ini.ReadString("PACS", "CalledAE", s.CalledAE);
  if (!ValidAeTitle(s.CalledAE)) return refuse("CalledAE", s.CalledAE);
  s.Host = ini.ReadString("PACS", "Host", s.Host);
  if (!ValidHost(s.Host)) {
    return platform::TStatus::Failure(refuse("Host", s.Host).Reason() + " " +
                                      Tr(PacsHostInvalidText));
  }
  // As text, so that "4242x" or "99999" is refused rather than read as something else.
  const std::string port = ini.ReadString("PACS", "Port", std::to_string(s.Port));
  const bool digits =
      !port.empty() && port.size() <= 5 &&
      std::all_of(port.begin(), port.end(), [](char C) { return C >= '0' && C <= '9'; });
  if (!digits || std::stoi(port) < 1 || std::stoi(port) > 65535) return refuse("Port", port);
  s.Port = std::stoi(port);
  const int timeout = ini.ReadInteger("PACS", "Timeout", s.TimeoutSeconds);
  if (timeout >= 1 && timeout <= 600) s.TimeoutSeconds = timeout;
  return s;
}

TInterfaceStart ReadInterfaceStart() {
  iface::TInterfaceBA ba(iface::miReceive, {/*CameraAndResultDB=*/false});
  ba.Read();
  TInterfaceStart start;
  start.Status = ba.LastReadStatus();
  start.Count = ba.GetCount();
  if (start.Count > 1) {
    const iface::TSubjectData subject = ba.GetSubject(0);
    // Two spaces before the asterisk, which marks the birth date.
    start.Caption = "Tessaly - [" + iface::DisplayText(subject.Name) + ", " +
                    iface::DisplayText(subject.Firstname) + "  *" +
                    iface::DisplayText(subject.Birthdate) + "]";
    start.ImageFile1 = ba.GetImage(0).Image;
    start.ImageFile2 = ba.GetImage(1).Image;
    for (auto [index, scale, outside] : {std::tuple{0, &start.Pp100MM1, &start.OutsidePp100MM1},
                                         std::tuple{1, &start.Pp100MM2, &start.OutsidePp100MM2}}) {
      const int given = ba.GetImage(index).Pp100MM;
      // 0 (or the record's -1) says the file knows no scale; anything else outside the range
      // would overflow the densities and measures made from it.
      const bool sound = given >= 1 && given <= MaxPp100MM;
      *scale = sound ? given : 0;
      *outside = sound || given == 0 || given == -1 ? 0 : given;
    }
    start.Name = iface::DisplayText(subject.Name);
    start.Firstname = iface::DisplayText(subject.Firstname);
    start.Birthdate = iface::DisplayText(subject.Birthdate);
    start.Date1 = iface::DisplayText(ba.GetImage(0).Date);
    start.Time1 = iface::DisplayText(ba.GetImage(0).Time);
    start.Date2 = iface::DisplayText(ba.GetImage(1).Date);
    start.Time2 = iface::DisplayText(ba.GetImage(1).Time);
    const std::vector<std::string>& names = ba.GetAdditionalNames();
    for (std::size_t k = 0; k < names.size() && k < ba.GetAdditionalValues().size(); ++k) {
      if (IsPatientIdName(names[k])) {
        start.PatientId = iface::DisplayText(ba.GetAdditionalValues()[k]);
        break;
      }
    }
  }
  return start;
}

}  // namespace overlay
