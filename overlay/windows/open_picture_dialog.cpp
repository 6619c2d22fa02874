#include "overlay/windows/open_picture_dialog.h"

#include <QAction>
#include <QFileInfo>
#include <QUrl>

#include "overlay/base/texts.h"
#include "overlay/decode/picture_import.h"
#include "overlay/windows/widget_factory.h"
#include "overlay/windows/window_layout.h"

namespace overlay {

void PrepareOpenPictureDialog(QFileDialog& Dialog, const TOpenDialogSettings& Settings) {
  QStringList filters;
  for (const std::string& f :
       PictureDialogFilters(ImportedExtensions(), Tr(AllPicturesText), Tr(AllFilesText))) {
    filters << QString::fromStdString(f);
  }
  SetComponentName(Dialog, "OpenPictureDialog");
  Dialog.setWindowTitle(QString::fromStdString(Tr(OpenPictureTitle)));
  Dialog.setFileMode(QFileDialog::ExistingFile);
  Dialog.setAcceptMode(QFileDialog::AcceptOpen);
  // "Alle Bilder" with its forty patterns would fill the screen's width.
  Dialog.setOption(QFileDialog::HideNameFilterDetails);
  Dialog.setNameFilters(filters);
  QString chosen = filters.front();
  for (const QString& f : filters) {
    if (FilterPatterns(f.toStdString()) == Settings.Filter) chosen = f;
  }
  Dialog.selectNameFilter(chosen);
  if (!Settings.Folder.empty() && QFileInfo(QString::fromStdString(Settings.Folder)).isDir()) {
    Dialog.setDirectory(QString::fromStdString(Settings.Folder));
  }
  // The folders of the recent pictures in the dialog's sidebar, after its own places.
  QList<QUrl> places = Dialog.sidebarUrls();
  for (const std::string& picture : Settings.Recent) {
    const QUrl folder =
        QUrl::fromLocalFile(QFileInfo(QString::fromStdString(picture)).absolutePath());
    if (!places.contains(folder)) places << folder;
  }
  Dialog.setSidebarUrls(places);
}

std::string RunOpenPictureDialog(QWidget* Parent, TOpenDialogSettings& Settings) {
  QFileDialog dialog(Parent);
  PrepareOpenPictureDialog(dialog, Settings);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  const std::string path = dialog.selectedFiles().front().toStdString();
  // With the details hidden the dialog names the filter without its patterns.
  const QString chosen = dialog.selectedNameFilter();
  for (const QString& f : dialog.nameFilters()) {
    if (f == chosen || f.startsWith(chosen + QStringLiteral(" ("))) {
      Settings.Filter = FilterPatterns(f.toStdString());
    }
  }
  Settings.Folder = QFileInfo(dialog.selectedFiles().front()).absolutePath().toStdString();
  return path;
}

std::unique_ptr<QMenu> RecentPicturesMenu(QWidget* Parent, int Picture,
                                          const std::vector<std::string>& Recent,
                                          const std::function<void(const std::string&)>& Open) {
  auto menu = std::make_unique<QMenu>(Parent);
  menu->setObjectName(QStringLiteral("MenuRecent%1").arg(Picture));
  menu->setTitle(QString::fromStdString(Tr(RecentPicturesText)));
  for (const std::string& path : Recent) {
    const QFileInfo file(QString::fromStdString(path));
    // The name first, so that the list reads at a glance; the folder tells two alike apart.
    QAction* entry =
        menu->addAction(file.fileName() + QStringLiteral("  —  ") + file.absolutePath());
    QObject::connect(entry, &QAction::triggered, menu.get(), [Open, path] { Open(path); });
  }
  if (Recent.empty()) {
    menu->addAction(QString::fromStdString(Tr(NoRecentPicturesText)))->setEnabled(false);
  }
  return menu;
}

}  // namespace overlay
