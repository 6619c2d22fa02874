// The main window's open-picture dialog and the recent pictures' menu of its "..." buttons.
#pragma once

#include <QFileDialog>
#include <QMenu>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "overlay/base/settings.h"

namespace overlay {

// The dialog as the "..." buttons show it: its filters (all pictures first, all files last), the
// filter and folder chosen last, the recent pictures' folders in its sidebar after its own places.
void PrepareOpenPictureDialog(QFileDialog& Dialog, const TOpenDialogSettings& Settings);
// Shows it over Parent: the chosen path, or nothing when the user cancels; the filter and the
// folder chosen are kept in Settings for the next time.
std::string RunOpenPictureDialog(QWidget* Parent, TOpenDialogSettings& Settings);
// The recent pictures as a menu ("MenuRecent<Picture>") whose entries run Open with their path.
std::unique_ptr<QMenu> RecentPicturesMenu(QWidget* Parent, int Picture,
                                          const std::vector<std::string>& Recent,
                                          const std::function<void(const std::string&)>& Open);

}  // namespace overlay
