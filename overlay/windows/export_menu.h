// The print button's menu: the print itself (a click on the button still prints; its arrow opens
// the menu), the three exports of the comparison, each through a save dialog, all through the
// scene's ExportComparison, and the DICOM export into a folder (ExportDicom).
#pragma once

#include <QStringList>
#include <functional>
#include <string>

#include "overlay/dicom/dicom_export.h"
#include "overlay/scene/export_aligned.h"
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

// Under the wait cursor: the DICOM objects directly in Folder join the user's outbox, and
// everything waiting there goes to the PACS that [PACS] of SettingsFile names. Then the user is
// told what was sent and what is left, with the first reason an object was not sent; or why
// nothing could be sent (a refused setting, an outbox that cannot be made).
void SendToPacsWithWaitCursor(const std::string& SettingsFile, const std::string& Folder);
// The check under the wait cursor, told either way.
void CheckPacsWithWaitCursor(const std::string& SettingsFile);
// The folder dialog of the DICOM export, starting in Folder (when it is one): the chosen folder,
// or nothing when the user cancels.
std::string RunDicomFolderDialog(QWidget* Parent, const std::string& Folder);
// The DICOM export under the wait cursor; a failure is told once.
TDicomExportOutcome ExportDicomWithWaitCursor(TMainController& Controller,
                                              const TDicomExport& Request);

}  // namespace overlay
