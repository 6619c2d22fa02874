// The language file reader and TranslateForm on a window of every control kind the texts
// reach (labels, buttons, a memo, a check list, a radio group, a combo box, a nested panel and
// a dialog of its own), created without a display. Every text the window shows afterwards must
// be the file's value for it, and every entry the file lists must read back.
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QWidget>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "fuzz/fuzz_common.h"
#include "overlay/windows/sprache.h"

namespace {

using fuzz::Check;

QApplication* App = nullptr;

std::string Text(const QString& S) {
  return S.toStdString();
}

// The file's value for Name, where a non-empty one replaces the built-in text.
void CheckText(const overlay::TLanguageFile& File, const std::string& Name, const QString& Shown,
               const char* BuiltIn, const char* What) {
  const std::string v = File.ReadString("FormFuzz", Name, "");
  Check(Text(Shown) == (v.empty() ? std::string(BuiltIn) : v), What);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* Argc, char*** Argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  App = new QApplication(*Argc, *Argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  const overlay::TLanguageFile file =
      overlay::TLanguageFile::FromBytes(std::string(reinterpret_cast<const char*>(Data), Size));
  for (const std::string& section : file.SectionNames()) {
    for (const std::string& entry : file.EntryNames(section)) {
      const std::string a = file.ReadString(section, entry, "\x01"),
                        b = file.ReadString(section, entry, "\x02");
      Check(a == b, "a listed entry reads as absent");
    }
  }

  QWidget window;
  window.setObjectName("FormFuzz");
  window.setWindowTitle("Fenster");
  auto* label = new QLabel("Bezeichnung", &window);
  label->setObjectName("Label1");
  label->adjustSize();
  auto* button = new QPushButton("Knopf", &window);
  button->setObjectName("Button1");
  auto* memo = new QPlainTextEdit(&window);
  memo->setObjectName("Memo1");
  memo->setPlainText("eins\nzwei\n");
  auto* list = new QListWidget(&window);
  list->setObjectName("CheckList1");
  list->addItems({"a", "b", "c"});
  auto* radios = new QGroupBox("Gruppe", &window);
  radios->setObjectName("RadioGroup1");
  for (const char* t : {"r0", "r1"}) new QRadioButton(t, radios);
  auto* combo = new QComboBox(&window);
  combo->setObjectName("Combo1");
  combo->addItems({"x", "y"});
  auto* panel = new QWidget(&window);
  panel->setObjectName("Panel1");
  auto* inner = new QLabel("Innen", panel);
  inner->setObjectName("Label2");
  auto* dialog = new QDialog(&window);
  dialog->setObjectName("Dialog1");
  auto* dialogLabel = new QLabel("Dialog", dialog);
  dialogLabel->setObjectName("Label3");

  overlay::TranslateForm(window, file);

  CheckText(file, "FormFuzz.Caption", window.windowTitle(), "Fenster", "window title");
  CheckText(file, "FormFuzz.Label1.Caption", label->text(), "Bezeichnung", "label caption");
  CheckText(file, "FormFuzz.Label1.Hint", label->toolTip(), "", "label hint");
  CheckText(file, "FormFuzz.Button1.Caption", button->text(), "Knopf", "button caption");
  CheckText(file, "FormFuzz.Label2.Caption", inner->text(), "Innen", "nested label caption");
  CheckText(file, "FormFuzz.Combo1.Items[0]", combo->itemText(0), "x", "combo item");
  CheckText(file, "FormFuzz.RadioGroup1.Items[1]",
            radios->findChildren<QRadioButton*>().value(1)->text(), "r1", "radio item");
  Check(Text(dialogLabel->text()) == "Dialog", "a dialog's control took the window's texts");
  Check(list->count() == 3 && combo->count() == 2, "items were added or removed");
  const std::string item = file.ReadString("FormFuzz", "FormFuzz.CheckList1.Items[2]", "fsdef");
  Check(Text(list->item(2)->text()) == (item == "fsdef" ? std::string("c") : item),
        "check list item");
  return 0;
}
