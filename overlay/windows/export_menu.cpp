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

#include "overlay/base/settings.h"
#include "overlay/base/texts.h"
#include "overlay/dicom/outbox.h"
#include "overlay/dicom/pacs.h"
#include "overlay/windows/widget_factory.h"
#include "overlay/windows/work_progress.h"
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

TFolderDialog::TFolderDialog(QWidget* Parent) : QFileDialog(Parent) {
  setFileMode(QFileDialog::Directory);
  setOption(QFileDialog::ShowDirsOnly);
  // Qt's own dialog on every desktop: the name typed must reach accept() below.
  setOption(QFileDialog::DontUseNativeDialog);
}

std::string TFolderDialog::Chosen() const {
  if (!FNewFolder.empty()) return FNewFolder;
  const QStringList files = selectedFiles();
  return files.isEmpty() ? std::string() : files.front().toStdString();
}

void TFolderDialog::accept() {
  // A name typed that is no folder yet, in a folder that is: taken as the folder to make, which
  // the export makes the user's alone; the dialog alone would refuse it.
  const QStringList files = selectedFiles();
  if (files.size() == 1) {
    const QFileInfo typed(files.front());
    if (!typed.exists() && !typed.isSymLink() && QFileInfo(typed.absolutePath()).isDir()) {
      FNewFolder = typed.absoluteFilePath().toStdString();
      QDialog::accept();
      return;
    }
  }
  FNewFolder.clear();
  QFileDialog::accept();
}

namespace {

// A folder chosen in a dialog of its own, starting in Folder (when it is one): an existing one
// or a new one's name; nothing when the user cancels.
std::string RunFolderDialog(QWidget* Parent, const std::string& Folder, const char* Name,
                            const TText& Title) {
  TFolderDialog dialog(Parent);
  SetComponentName(dialog, Name);
  dialog.setWindowTitle(Translated(Title));
  if (!Folder.empty() && QFileInfo(QString::fromStdString(Folder)).isDir()) {
    dialog.setDirectory(QString::fromStdString(Folder));
  }
  if (dialog.exec() != QDialog::Accepted) return {};
  return dialog.Chosen();
}

}  // namespace

std::string RunDicomFolderDialog(QWidget* Parent, const std::string& Folder) {
  return RunFolderDialog(Parent, Folder, "DicomFolderDialog", DicomFolderTitleText);
}

namespace {

// The export's objects by picture and kind, for the progress and the messages.
std::string ObjectName(TDicomObjectKind Kind, const std::string& Label) {
  switch (Kind) {
    case TDicomObjectKind::Picture1:
      return Tr(PacsObjectPicture1Text);
    case TDicomObjectKind::AlignedPicture2:
      return Tr(PacsObjectAlignedText);
    case TDicomObjectKind::Capture:
      return Label.empty() ? Tr(PrintCaptureText) : Tr(PrintCaptureText) + " (" + Label + ")";
    case TDicomObjectKind::Report:
      return Tr(PacsObjectReportText);
  }
  return {};
}

std::string OfCount(std::size_t Done, std::size_t Count) {
  return std::to_string(Done) + " / " + std::to_string(Count);
}

// Runs Export on the work's thread, its objects named by Names in the order it makes them.
TDicomExportOutcome RunExport(TDicomExportJob& Export, TWorkProgress& Progress,
                              std::vector<std::string>* Names) {
  return Export.Run(&Progress.Cancel(), [&](int Number, int Count, TDicomObjectKind Kind,
                                            const std::string& Label) {
    Names->push_back(ObjectName(Kind, Label));
    Progress.Step(Number - 1, Count,
                  Tr(DicomProgressText, OfCount(std::size_t(Number), std::size_t(Count))) + "\n" +
                      Names->back());
  });
}

}  // namespace

TPacsSendOutcome SendToPacsWithProgress(QWidget* Parent, const TPacsSettings& Settings,
                                        TDicomExportJob* Export) {
  TPacsSendOutcome outcome;
  RunWithProgress(Parent, Tr(PacsSendMenuText), [&](TWorkProgress& Progress) {
    std::vector<TPacsObject> objects;
    if (Export != nullptr) {
      std::vector<std::string> names;
      outcome.Exported = RunExport(*Export, Progress, &names);
      if (!outcome.Exported.Status) return;
      const platform::TResult<std::vector<TPacsObject>> read =
          ReadPacsObjects(outcome.Exported.Files);
      if (!read) {
        outcome.Run = read.Status();
        return;
      }
      objects = read.Value();
      for (std::size_t i = 0; i < objects.size() && i < names.size(); ++i) {
        outcome.Names[objects[i].SopInstanceUid] = names[i];
      }
    }
    Progress.Step(0, 0, Tr(PacsProgressText, "…"));
    outcome.Run = SendThroughOutbox(
        Settings, objects, TOutbox(TOutbox::UserOutboxFolder()),
        [&](std::size_t Number, std::size_t Count, const TPacsObject&, const TStoreOutcome&) {
          Progress.Step(int(Number), int(Count), Tr(PacsProgressText, OfCount(Number, Count)));
        },
        &Progress.Cancel());
  });
  return outcome;
}

namespace {

// A cancel is no failure: told as what became of the files.
void TellExportFailure(const TDicomExportOutcome& Outcome) {
  if (Outcome.Cancelled) return platform::ShowMessage(Outcome.Status.Reason());
  platform::ShowFailure(Outcome.Status);
}

}  // namespace

void TellPacsSend(const TPacsSendOutcome& Outcome) {
  if (!Outcome.Exported.Status) return TellExportFailure(Outcome.Exported);
  if (!Outcome.Run) return platform::ShowFailure(Outcome.Run.Status());
  const TOutboxRun& run = Outcome.Run.Value();
  const std::string text = PacsRunMessage(run, Outcome.Names);
  if (run.Failures.empty() || run.Cancelled) return platform::ShowMessage(text);
  platform::ShowWarning(text);
}

void CheckPacsWithProgress(QWidget* Parent, const std::string& SettingsFile) {
  const platform::TResult<TPacsSettings> settings = ReadPacsSettings(SettingsFile);
  if (!settings) return platform::ShowFailure(settings.Status());
  platform::TStatus answered;
  RunWithProgress(Parent, Tr(PacsEchoMenuText), [&](TWorkProgress& Progress) {
    Progress.Step(0, 0, PacsAddress(settings.Value()));
    answered = EchoPacs(settings.Value());
  });
  if (!answered) return platform::ShowFailure(answered);
  platform::ShowMessage(Tr(PacsEchoOkText, PacsAddress(settings.Value())));
}

TDicomExportOutcome ExportDicomWithProgress(QWidget* Parent, TDicomExportJob& Export) {
  TDicomExportOutcome outcome;
  RunWithProgress(Parent, Tr(DicomExportMenuText), [&](TWorkProgress& Progress) {
    std::vector<std::string> names;
    outcome = RunExport(Export, Progress, &names);
  });
  if (!outcome.Status) TellExportFailure(outcome);
  return outcome;
}

}  // namespace overlay
