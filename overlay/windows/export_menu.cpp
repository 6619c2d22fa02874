#include "overlay/windows/export_menu.h"

#include <QAction>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMenu>
#include <QScopeGuard>
#include <QToolButton>
#include <array>
#include <utility>

#include "overlay/dicom/outbox.h"
#include "overlay/dicom/pacs.h"
#include "overlay/scene/settings.h"
#include "overlay/scene/texts.h"
#include "overlay/windows/widget_factory.h"
#include "platform/message.h"

namespace overlay {

namespace {

struct TExportEntry {
  TExportKind Kind;
  const TText* Text;
};
constexpr std::array<TExportEntry, 3> ExportEntries{{
    {TExportKind::Aligned, &ExportAlignedMenuText},
    {TExportKind::Side, &ExportSideMenuText},
    {TExportKind::Difference, &ExportDifferenceMenuText},
}};

QString Translated(const TText& Text) {
  return QString::fromStdString(Tr(Text));
}

}  // namespace

void AttachExportMenu(QToolButton& Button, std::function<void()> Print,
                      std::function<void(TExportKind)> Export, std::function<void()> ExportDicom) {
  auto* menu = new QMenu(&Button);
  QAction* print = menu->addAction(Translated(PrintMenuText));
  print->setData(PrintEntry);
  menu->addSeparator();
  QObject::connect(print, &QAction::triggered, &Button, Print);
  std::vector<std::pair<QAction*, const TText*>> texts{{print, &PrintMenuText}};
  for (const TExportEntry& entry : ExportEntries) {
    QAction* action = menu->addAction(Translated(*entry.Text));
    action->setData(int(entry.Kind));
    const TExportKind kind = entry.Kind;
    QObject::connect(action, &QAction::triggered, &Button, [Export, kind] { Export(kind); });
    texts.emplace_back(action, entry.Text);
  }
  menu->addSeparator();
  QAction* dicom = menu->addAction(Translated(DicomExportMenuText));
  dicom->setData(DicomEntry);
  QObject::connect(dicom, &QAction::triggered, &Button, std::move(ExportDicom));
  texts.emplace_back(dicom, &DicomExportMenuText);
  // The language file is read after the window is built. The entries are no named components
  // (the language file names them in [Messages]).
  QObject::connect(menu, &QMenu::aboutToShow, menu, [texts] {
    for (const auto& [action, text] : texts) action->setText(Translated(*text));
  });
  Button.setMenu(menu);
  Button.setPopupMode(QToolButton::MenuButtonPopup);
  QObject::connect(&Button, &QToolButton::clicked, &Button, std::move(Print));
}

QStringList ExportDialogFilters() {
  return {Translated(ExportPngFilterText) + QStringLiteral(" (*.png)"),
          Translated(ExportTiffFilterText) + QStringLiteral(" (*.tif *.tiff)"),
          Translated(ExportJpegFilterText) + QStringLiteral(" (*.jpg *.jpeg)")};
}

QString ExportFilterSuffix(const QString& Filter) {
  // The first pattern of the filter: "(*.tif *.tiff)" gives "tif".
  const qsizetype from = Filter.lastIndexOf(QStringLiteral("(*."));
  if (from < 0) return QStringLiteral("png");
  const qsizetype start = from + 3;
  qsizetype end = start;
  while (end < Filter.size() && Filter[end] != u' ' && Filter[end] != u')') ++end;
  return Filter.mid(start, end - start);
}

std::string RunExportDialog(QWidget* Parent, const std::string& Folder) {
  QFileDialog dialog(Parent);
  SetComponentName(dialog, "ExportDialog");
  dialog.setWindowTitle(Translated(ExportTitleText));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  const QStringList filters = ExportDialogFilters();
  dialog.setNameFilters(filters);
  dialog.selectNameFilter(filters.front());
  dialog.setDefaultSuffix(ExportFilterSuffix(filters.front()));
  QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog,
                   [&dialog](const QString& F) { dialog.setDefaultSuffix(ExportFilterSuffix(F)); });
  if (!Folder.empty() && QFileInfo(QString::fromStdString(Folder)).isDir()) {
    dialog.setDirectory(QString::fromStdString(Folder));
  }
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().front().toStdString();
}

void ExportWithWaitCursor(TMainController& Controller, TExportKind Kind, const std::string& Path,
                          int Pp100MM) {
  platform::TStatus exported;
  {
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    const auto restoreCursor = qScopeGuard([] { QGuiApplication::restoreOverrideCursor(); });
    exported = ExportComparison(Controller, Kind, Path, Pp100MM, ExportTextsOfLanguage());
  }
  // Told without the wait cursor over the message; a success too, with where it went, so that
  // the user knows the file is there and where to find it.
  if (!exported) return platform::ShowFailure(exported);
  platform::ShowMessage(Tr(ExportDoneText, Path));
}

void AttachPacsEntries(QToolButton& Button, std::function<void()> Send,
                       std::function<void()> Check) {
  QMenu* menu = Button.menu();
  if (menu == nullptr) return;
  menu->addSeparator();
  QAction* send = menu->addAction(Translated(PacsSendMenuText));
  send->setData(PacsSendEntry);
  QObject::connect(send, &QAction::triggered, &Button, std::move(Send));
  QAction* check = menu->addAction(Translated(PacsEchoMenuText));
  check->setData(PacsEchoEntry);
  QObject::connect(check, &QAction::triggered, &Button, std::move(Check));
  QObject::connect(menu, &QMenu::aboutToShow, menu, [send, check] {
    send->setText(Translated(PacsSendMenuText));
    check->setText(Translated(PacsEchoMenuText));
  });
}

namespace {

// A folder chosen in a dialog of its own, starting in Folder (when it is one); nothing when the
// user cancels.
std::string RunFolderDialog(QWidget* Parent, const std::string& Folder, const char* Name,
                            const TText& Title) {
  QFileDialog dialog(Parent);
  SetComponentName(dialog, Name);
  dialog.setWindowTitle(Translated(Title));
  dialog.setFileMode(QFileDialog::Directory);
  dialog.setOption(QFileDialog::ShowDirsOnly);
  if (!Folder.empty() && QFileInfo(QString::fromStdString(Folder)).isDir()) {
    dialog.setDirectory(QString::fromStdString(Folder));
  }
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().front().toStdString();
}

}  // namespace

std::string RunDicomFolderDialog(QWidget* Parent, const std::string& Folder) {
  return RunFolderDialog(Parent, Folder, "DicomFolderDialog", DicomFolderTitleText);
}

void SendToPacsWithWaitCursor(const std::string& SettingsFile, const std::string& Folder) {
  const platform::TResult<TPacsSettings> settings = ReadPacsSettings(SettingsFile);
  if (!settings) return platform::ShowFailure(settings.Status());
  platform::TResult<TOutboxRun> run = platform::TStatus::Failure();
  {
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    const auto restoreCursor = qScopeGuard([] { QGuiApplication::restoreOverrideCursor(); });
    run = SendThroughOutbox(settings.Value(), PacsObjectsInFolder(Folder),
                            TOutbox(TOutbox::UserOutboxFolder()));
  }
  // Told without the wait cursor over the message.
  if (!run) return platform::ShowFailure(run.Status());
  std::string text = PacsRunSummary(run.Value());
  if (!run.Value().Failures.empty()) text += "\n\n" + run.Value().Failures.front().Reason();
  platform::ShowMessage(text);
}

void CheckPacsWithWaitCursor(const std::string& SettingsFile) {
  const platform::TResult<TPacsSettings> settings = ReadPacsSettings(SettingsFile);
  if (!settings) return platform::ShowFailure(settings.Status());
  platform::TStatus answered;
  {
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    const auto restoreCursor = qScopeGuard([] { QGuiApplication::restoreOverrideCursor(); });
    answered = EchoPacs(settings.Value());
  }
  if (!answered) return platform::ShowFailure(answered);
  platform::ShowMessage(Tr(PacsEchoOkText, PacsAddress(settings.Value())));
}

TDicomExportOutcome ExportDicomWithWaitCursor(TMainController& Controller,
                                              const TDicomExport& Request) {
  TDicomExportOutcome outcome;
  {
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    const auto restoreCursor = qScopeGuard([] { QGuiApplication::restoreOverrideCursor(); });
    outcome = ExportDicom(Controller, Request, DicomTextsOfLanguage());
  }
  // Told without the wait cursor over the message.
  if (!outcome.Status) platform::ShowFailure(outcome.Status);
  return outcome;
}

}  // namespace overlay
