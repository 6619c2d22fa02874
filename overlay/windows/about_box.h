// The information window: program icon, name, version, the build number from the program
// file's version record, credits and two links that the shell opens. Shown without blocking.
#pragma once

#include <QDialog>
#include <functional>
#include <string>

class QLabel;

namespace overlay {

// The maker's web address, which Label2 shows and opens.
extern const char* const MakerAddress;

class TAboutBox : public QDialog {
 public:
  // ApplyLanguageHook may also be set afterwards; FormCreate runs it.
  explicit TAboutBox(QWidget* Parent = nullptr, std::function<void()> ApplyLanguageHook = {});

  // The language step of FormCreate, run after LabelBuild is filled; the program entry applies
  // the language file here.
  std::function<void()> ApplyLanguageHook;
  // The file whose version record gives the build number: the running program, unless a test
  // says otherwise.
  std::string VersionFile;

  // Called once by whoever creates the box: fills LabelBuild, then applies the language file.
  void FormCreate();
  void OKButtonClick();
  void Label2Click();
  void LabelInternetClick();

 protected:
  bool eventFilter(QObject* Watched, QEvent* Event) override;

 private:
  QLabel* FLabelBuild = nullptr;
  QLabel* FLabel2 = nullptr;
  QLabel* FLabelContactMedium = nullptr;
  QLabel* FLabelInternet = nullptr;
};

// BitBtnInfoClick: the box leaves any parent window (keeping its window flags) and shows on
// top, without blocking.
void ShowAboutBox(TAboutBox& Box);

}  // namespace overlay
