#include "overlay/scene/settings.h"

#include <algorithm>

#include "interface/interfaceba.h"
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
  // The assistant reads the same key through the same function.
  s.ExifOrientation = ReadExifOrientationSetting(Path);
  const int flicker = ini.ReadInteger("Display", "FlickerMs", 500);
  s.FlickerMs = flicker >= 100 && flicker <= 5000 ? flicker : 500;
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
  return s;
}

std::vector<std::string> WithRecentPicture(std::vector<std::string> Recent,
                                           const std::string& Path) {
  Recent.erase(std::remove(Recent.begin(), Recent.end(), Path), Recent.end());
  Recent.insert(Recent.begin(), Path);
  if (Recent.size() > std::size_t(MaxRecentPictures)) Recent.resize(MaxRecentPictures);
  return Recent;
}

void WriteOpenDialogSettings(const std::string& Path, const TOpenDialogSettings& Dialog) {
  platform::TFileWriteOptions options = platform::ProfileWriteOptions();
  options.Mode = 0600;
  platform::TIniFile ini(Path, options);
  ini.BeginUpdate();
  ini.WriteString("OpenDialog", "Filter", Dialog.Filter);
  ini.WriteString("OpenDialog", "Folder", Dialog.Folder);
  for (int i = 1; i <= MaxRecentPictures; ++i) {
    const std::string key = "File" + std::to_string(i);
    if (std::size_t(i) <= Dialog.Recent.size()) {
      ini.WriteString("Recent", key, Dialog.Recent[std::size_t(i - 1)]);
    } else {
      ini.DeleteKey("Recent", key);
    }
  }
  ini.UpdateFile();
}

void WriteSettings(const std::string& Path, const TWindowBounds& Bounds) {
  platform::TIniFile ini(Path);
  ini.BeginUpdate();
  ini.WriteBool("AutoLoad", "FormProperties", true);
  ini.WriteInteger("FormOptions", "Top", Bounds.Top);
  ini.WriteInteger("FormOptions", "Left", Bounds.Left);
  ini.WriteInteger("FormOptions", "Height", Bounds.Height);
  ini.WriteInteger("FormOptions", "Width", Bounds.Width);
  ini.UpdateFile();
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
    start.Pp100MM1 = ba.GetImage(0).Pp100MM;
  }
  return start;
}

}  // namespace overlay
