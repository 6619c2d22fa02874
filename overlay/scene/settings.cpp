#include "overlay/scene/settings.h"

#include <algorithm>

#include "interface/interfaceba.h"
#include "overlay/decode/orientation.h"
#include "platform/ini_profile.h"

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
  return s;
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
