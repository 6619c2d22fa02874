// The information window: program icon, name, version, build number from the program file's
// version record, credits and two links opened by the shell. Shown without blocking.
#pragma once

#include <QDialog>
#include <functional>
#include <string>

class QLabel;

namespace overlay {

class TAboutBox : public QDialog {
 public:
  explicit TAboutBox(QWidget* Parent = nullptr);

  // Run by FormCreate after LabelBuild is filled; the program entry applies the language file.
  std::function<void()> ApplyLanguageHook;
  // Where the build number comes from (the running program unless a test says otherwise).
  std::string ProgramFile;

  void FormCreate();
  void OKButtonClick();
  void Label2Click();
  void LabelInternetClick();

 protected:
  bool eventFilter(QObject* Watched, QEvent* Event) override;

 private:
  QLabel* FLabelBuild = nullptr;
  QLabel* FLabel2 = nullptr;
  QLabel* FLabelInternet = nullptr;
};

// The address the maker link opens.
extern const char* const MakerAddress;

// The info button: the box leaves any parent window and shows, without blocking.
void ShowAboutBox(TAboutBox& Box);

}  // namespace overlay
