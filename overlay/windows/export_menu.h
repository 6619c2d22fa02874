// The print button's menu: the print itself (a click on the button still prints; its arrow opens
// the menu), the three exports of the comparison, each through a save dialog, all through the
// scene's ExportComparison, and the DICOM export into a folder (ExportDicom).
#pragma once

#include <QFileDialog>
#include <QStringList>
#include <functional>
#include <string>

#include "overlay/dicom/dicom_export.h"
#include "overlay/dicom/outbox.h"
#include "overlay/output/export_aligned.h"
#include "overlay/scene/main_controller.h"

class QToolButton;
class QWidget;

namespace overlay {

// Gives Button its menu: Print runs on a click and on the first entry, Export with the kind of
// an export entry, ExportDicom on the last entry. The entries are program texts (texts.h), set
// in the language in use each time the menu opens; each entry's data is PrintEntry, its
// int(TExportKind) or DicomEntry.
inline constexpr int PrintEntry = -1;
inline constexpr int DicomEntry = -2;
void AttachExportMenu(QToolButton& Button, std::function<void()> Print,
                      std::function<void(TExportKind)> Export, std::function<void()> ExportDicom);

// The save dialog's filters ("PNG-Bild (*.png)", TIFF, JPEG), and the extension the file gets
// under each when its name has none.
QStringList ExportDialogFilters();
QString ExportFilterSuffix(const QString& Filter);

// The save dialog for an export, starting in Folder (when it is one): the chosen path, or
// nothing when the user cancels.
std::string RunExportDialog(QWidget* Parent, const std::string& Folder);

// The export under the wait cursor; a failure is told once.
void ExportWithWaitCursor(TMainController& Controller, TExportKind Kind, const std::string& Path,
                          int Pp100MM);

// The PACS entries after the exports: "Send to PACS" runs Send, "Check PACS connection" Check.
// Their data are PacsSendEntry and PacsEchoEntry.
inline constexpr int PacsSendEntry = -3;
inline constexpr int PacsEchoEntry = -4;
void AttachPacsEntries(QToolButton& Button, std::function<void()> Send,
                       std::function<void()> Check);

// The PACS send off the window's thread (RunWithProgress): the comparison Export makes (when
// there is one) joins the user's outbox, and everything waiting there goes to the PACS Settings
// name. A cancel leaves what was not sent in the outbox (and of the export, nothing at all).
struct TPacsSendOutcome {
  TDicomExportOutcome Exported;  // what the export made; nothing when there was none
  platform::TResult<TOutboxRun> Run = platform::TStatus::Failure();  // failed: nothing queued
  TPacsObjectNames Names;  // the export's objects by picture and kind
};
TPacsSendOutcome SendToPacsWithProgress(QWidget* Parent, const TPacsSettings& Settings,
                                        TDicomExportJob* Export);
// Tells the user what a send came to: the export's failure or cancel; else what was sent and
// what is left, by picture and kind, with the first reason an object was not sent (a warning
// then); or why nothing could be sent.
void TellPacsSend(const TPacsSendOutcome& Outcome);
// The check off the window's thread, told either way.
void CheckPacsWithProgress(QWidget* Parent, const std::string& SettingsFile);
// A folder dialog that also takes the name of a folder not made yet (typed into it, in a folder
// that exists), so that an export can go into a new folder, which it then makes the user's
// alone; Qt's dialog refuses such a name, and its New Folder button makes folders open to others.
class TFolderDialog : public QFileDialog {
 public:
  explicit TFolderDialog(QWidget* Parent = nullptr);
  // The folder chosen, existing or to be made; empty before the dialog was accepted.
  std::string Chosen() const;
  void accept() override;

 private:
  std::string FNewFolder;
};
// The folder dialog of the DICOM export, starting in Folder (when it is one): the chosen folder
// (perhaps one to make), or nothing when the user cancels.
std::string RunDicomFolderDialog(QWidget* Parent, const std::string& Folder);
// The DICOM export off the window's thread, with its progress and a cancel; a failure is told
// once.
TDicomExportOutcome ExportDicomWithProgress(QWidget* Parent, TDicomExportJob& Export);

}  // namespace overlay
