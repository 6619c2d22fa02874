// What the main window's print button and its menu do with the comparison shown: the print, the
// three exports, the DICOM export and the PACS send and check. The DICOM export and the PACS run
// on threads of their own (long work): while one runs, Working() holds, and WorkEnded runs when it
// ends, so that a placement found meanwhile waits until nothing reads the controller any more.
#pragma once

#include <functional>
#include <string>

#include "overlay/base/settings.h"
#include "overlay/comparison/record_session.h"
#include "overlay/dicom/dicom_export.h"
#include "overlay/output/export_aligned.h"
#include "overlay/scene/main_controller.h"

class QToolButton;
class QWidget;

namespace overlay {

// "Send to PACS" makes its objects in a folder of this name (platform::ProcessFolderPattern) in
// the user's temporary folder; the program's start removes those of ended runs.
inline constexpr const char* PacsFolderPrefix = "dicom-";

struct TOutputWiring {
  std::function<std::string(TExportKind Kind)> ChooseExportFile;  // empty: cancelled
  std::function<std::string()> ChooseDicomFolder;                 // likewise
  std::function<std::string()> SettingsFileToRead;
  std::function<void()> BeforeCaptures;  // the captures show the overlay as its sliders say
  std::function<void()> SaveRecordNow;   // the record's new study or digest written at once
  std::function<void()> WorkEnded;
};

class TComparisonOutput {
 public:
  // Gives Button its menu. Settings: the window's (the number of captures, their resolution).
  TComparisonOutput(QWidget& Window, QToolButton& Button, TMainController& Controller,
                    TRecordSession& Session, const TSettings& Settings, TOutputWiring Wiring);

  void Print();
  // An export entry: a file from ChooseExportFile, then the export with picture 1's known scale.
  void Export(TExportKind Kind);
  // The DICOM entry: a folder from ChooseDicomFolder (closed to others first when the user
  // agrees, DicomFolderUse), then the comparison as DICOM with the interface file's patient, into
  // the study the record keeps (which it keeps from then on).
  void ExportDicom();
  // "Send to PACS": the comparison as the DICOM export makes it (into the study the record
  // keeps) joins the user's outbox, and the outbox goes to the PACS of the settings file, off
  // the window's thread; without both pictures, what waits in the outbox alone. A comparison
  // that went to the PACS as it is now (the record's SentDigest) is not made again
  // (ChoosePacsSend).
  void SendToPacs();
  // The DICOM export's request of the comparison shown, into Folder.
  TDicomExport DicomRequest(const std::string& Folder = {}) const;
  bool Working() const { return FWorking; }

 private:
  // The comparison as DICOM into Folder, the record then keeping its study; false after a
  // failure has been told.
  bool ExportDicomInto(const std::string& Folder);
  template <typename TWork>
  auto RunLongWork(TWork&& Work);

  QWidget& FWindow;
  TMainController& FController;
  TRecordSession& FSession;
  const TSettings& FSettings;
  TOutputWiring FWiring;
  bool FWorking = false;
};

}  // namespace overlay
