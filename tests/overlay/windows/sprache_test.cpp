#include "overlay/windows/sprache.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>

#include "overlay/decode/picture_import.h"
#include "platform/paths.h"

namespace overlay {
namespace {

// A small main window with the controls the rules treat differently.
struct TWindow {
  std::unique_ptr<QWidget> Form = std::make_unique<QWidget>();
  QPushButton* ButtonClose;
  QLabel* LabelTransp;
  QLineEdit* EditX;
  QToolButton* BitBtnPrint;

  explicit TWindow(const char* Name = "FormMain") {
    Form->setObjectName(Name);
    Form->setWindowTitle("Tessaly");
    auto* panel = new QWidget(Form.get());
    panel->setObjectName("PanelControls");
    ButtonClose = new QPushButton(QString::fromUtf8("Schließen"), panel);
    ButtonClose->setObjectName("ButtonClose");
    LabelTransp = new QLabel("Tranparenz", panel);
    LabelTransp->setObjectName("LabelTransp");
    LabelTransp->adjustSize();
    EditX = new QLineEdit("0", panel);
    EditX->setObjectName("EditX");
    BitBtnPrint = new QToolButton(panel);
    BitBtnPrint->setObjectName("BitBtnPrint");
  }
  QString Close() const { return ButtonClose->text(); }
};

void Apply(TWindow& W, const std::string& Text) {
  TranslateForm(*W.Form, TLanguageFile::FromBytes(Text));
}

TEST(SpracheTest, NamesCompareWithoutCaseAndValuesStandAsWritten) {
  TWindow w;
  Apply(
      w,
      "[formmain]\nformmain.buttonclose.caption=Close\r\nFORMMAIN.LABELTRANSP.CAPTION= Opacity\n");
  EXPECT_EQ(w.Close(), "Close");  // the CR of a CRLF line is not part of the value
  EXPECT_EQ(w.LabelTransp->text(), " Opacity");
}

TEST(SpracheTest, EntriesThatDoNotApplyLeaveTheDesignedText) {
  const QString designed = QString::fromUtf8("Schließen");
  for (const char* text : {
           "[FormMain]\nFormMain.ButtonClose.Caption=\n",         // empty value
           "[FormMain]\nFormMain.ButtonClose.Caption = Close\n",  // name ends with a blank
           "[FormMain]\n;FormMain.ButtonClose.Caption=Close\n",   // comment
           "FormMain.ButtonClose.Caption=Close\n[FormMain]\n",    // before the first section
           "[AboutBox]\nFormMain.ButtonClose.Caption=Close\n",    // another window's section
           " [FormMain]\nFormMain.ButtonClose.Caption=Close\n",   // no section line
       }) {
    TWindow w;
    Apply(w, text);
    EXPECT_EQ(w.Close(), designed) << text;
  }
}

TEST(SpracheTest, FirstEntryOfANameCountsAcrossRepeatedSections) {
  const TLanguageFile file = TLanguageFile::FromBytes(
      "[FormMain]\nFormMain.ButtonClose.Caption=First\nformmain.BUTTONCLOSE.caption=Second\n"
      "[Other]\nX=1\n[FORMMAIN]\nFormMain.ButtonClose.Caption=Third\nFormMain.LabelX.Caption=X\n");
  EXPECT_EQ(file.ReadString("FormMain", "FormMain.ButtonClose.Caption", "-"), "First");
  EXPECT_EQ(file.ReadString("formmain", "FormMain.LabelX.Caption", "-"), "X");
  EXPECT_EQ(file.ReadString("FormMain", "FormMain.Missing", "-"), "-");
  EXPECT_EQ(file.SectionNames(), (std::vector<std::string>{"FormMain", "Other"}));
}

TEST(SpracheTest, CaptionsHintsAndSkippedControls) {
  TWindow w;
  Apply(w,
        "[FormMain]\nFormMain.Caption=Overlay\nFormMain.EditX.Caption=9\n"
        "FormMain.PanelControls.Caption=Panel\nFormMain.BitBtnPrint.Hint=Print\n"
        "FormMain.EditX.Hint=X offset\n");
  EXPECT_EQ(w.Form->windowTitle(), "Overlay");
  EXPECT_EQ(w.EditX->text(), "0");  // an edit has no caption
  EXPECT_EQ(w.BitBtnPrint->toolTip(), "Print");
  EXPECT_EQ(w.EditX->toolTip(), "X offset");
  QObject plain;
  EXPECT_FALSE(SetTextProperty(plain, "Hint", "x"));  // not a widget: no hint
  EXPECT_FALSE(SetTextProperty(*w.ButtonClose, "Caption", ""));
  EXPECT_FALSE(SetTextProperty(*w.ButtonClose, "Colour", "red"));
}

TEST(SpracheTest, LabelSizedToItsTextKeepsFittingAFixedOneKeepsItsBounds) {
  TWindow w;
  auto* marker = new QLabel("x", w.Form.get());
  marker->setObjectName("I1P1");
  marker->setGeometry(34, 34, 7, 20);
  Apply(w,
        "[FormMain]\nFormMain.LabelTransp.Caption=Transparency of the overlay\n"
        "FormMain.I1P1.Caption=+\n");
  EXPECT_EQ(w.LabelTransp->size(), w.LabelTransp->sizeHint());
  EXPECT_EQ(marker->geometry(), QRect(34, 34, 7, 20));
  EXPECT_EQ(marker->text(), "+");
}

TEST(SpracheTest, NestedWindowKeepsItsOwnTexts) {
  TWindow w;
  auto* dialog = new QDialog(w.Form.get());
  dialog->setObjectName("AboutBox");
  auto* ok = new QPushButton("OK", dialog);
  ok->setObjectName("ButtonClose");
  Apply(w, "[FormMain]\nFormMain.ButtonClose.Caption=Close\n");
  EXPECT_EQ(w.Close(), "Close");
  EXPECT_EQ(ok->text(), "OK");
}

TEST(SpracheTest, ComboBoxItemsReplacedOnlyByNonEmptyTexts) {
  TWindow w;
  auto* combo = new QComboBox(w.Form.get());
  combo->setObjectName("ComboMode");
  combo->addItems({"eins", "zwei", "drei"});
  Apply(w,
        "[FormMain]\nFormMain.ComboMode.Items[0]=one\nFormMain.ComboMode.Items[1]=\n"
        "FormMain.ComboMode.Items[3]=four\n");
  EXPECT_EQ(combo->count(), 3);
  EXPECT_EQ(combo->itemText(0), "one");
  EXPECT_EQ(combo->itemText(1), "zwei");
  EXPECT_EQ(combo->itemText(2), "drei");
}

TEST(SpracheTest, NotUtf8IsReadAsLatin1) {
  TWindow w;
  Apply(w,
        "[FormMain]\nFormMain.ButtonClose.Caption=Schlie\xDF"
        "en!\n");
  EXPECT_EQ(w.Close(), QString::fromUtf8("Schließen!"));
  // A byte-order mark does not hide the first section.
  Apply(w,
        "\xEF\xBB\xBF[FormMain]\nFormMain.ButtonClose.Caption=Schlie\xC3\x9F"
        "en?\n");
  EXPECT_EQ(w.Close(), QString::fromUtf8("Schließen?"));
}

// Writes a language file beside the test program, where the program looks for it.
struct TFileBesideProgram {
  std::string Name = "sprache_test_" + std::to_string(::getpid()) + ".ini";
  std::string Path = platform::ProgramDirectory() + Name;
  explicit TFileBesideProgram(const std::string& Text) {
    std::ofstream(Path, std::ios::binary) << Text;
  }
  ~TFileBesideProgram() { std::filesystem::remove(Path); }
};

TEST(SpracheTest, ApplyLanguageTranslatesRegisteredWindowsUntilTheyAreDestroyed) {
  TWindow main("FormMain"), about("AboutBox");
  RegisterProgramWindow(main.Form.get());
  RegisterProgramWindow(about.Form.get());
  RegisterProgramWindow(main.Form.get());
  {
    auto gone = std::make_unique<TWindow>("FormAssistent");
    RegisterProgramWindow(gone->Form.get());
  }
  const std::vector<QWidget*> windows = ProgramWindows();
  ASSERT_GE(windows.size(), 2u);
  EXPECT_EQ(std::vector<QWidget*>(windows.end() - 2, windows.end()),
            (std::vector<QWidget*>{main.Form.get(), about.Form.get()}));

  EXPECT_FALSE(ApplyLanguage("sprache_test_missing_" + std::to_string(::getpid()) + ".ini"));
  EXPECT_EQ(main.Close(), QString::fromUtf8("Schließen"));

  const TFileBesideProgram file(
      "[FormMain]\nFormMain.ButtonClose.Caption=Close\n[AboutBox]\nAboutBox.Caption=About\n");
  ASSERT_TRUE(ApplyLanguage(file.Name));
  EXPECT_EQ(main.Close(), "Close");
  EXPECT_EQ(about.Form->windowTitle(), "About");
  EXPECT_EQ(about.Close(), QString::fromUtf8("Schließen"));
  EXPECT_EQ(OpenLanguageFileAt(platform::ProgramDirectory()), nullptr);  // not a regular file
}

TEST(SpracheTest, ShippedLanguageFilesMatch) {
  const std::string dir = std::string(TESSALY_SOURCE_DIR) + "/data/lang/";
  const auto de = OpenLanguageFileAt(dir + "de/TsLang.ini");
  const auto en = OpenLanguageFileAt(dir + "en/TsLang.ini");
  ASSERT_NE(de, nullptr);
  ASSERT_NE(en, nullptr);
  const std::vector<std::string> windows{"FormMain", "FormAssistent", "AboutBox", "Messages"};
  EXPECT_EQ(de->SectionNames(), windows);
  EXPECT_EQ(en->SectionNames(), windows);
  for (const std::string& window : windows) {
    const std::vector<std::string> names = de->EntryNames(window);
    EXPECT_FALSE(names.empty()) << window;
    const std::vector<std::string> english = en->EntryNames(window);
    EXPECT_EQ(std::set<std::string>(names.begin(), names.end()),
              std::set<std::string>(english.begin(), english.end()))
        << window;
    for (const std::string& name : names) {
      EXPECT_TRUE(name.starts_with(window + ".")) << name;
      EXPECT_NE(de->ReadString(window, name, ""), "") << name;
      EXPECT_NE(en->ReadString(window, name, ""), "") << name;
    }
  }
  // Set elsewhere: by an interface file, and from the program's version record.
  for (const auto* file : {de.get(), en.get()}) {
    EXPECT_EQ(file->ReadString("FormMain", "FormMain.Caption", "-"), "-");
    EXPECT_EQ(file->ReadString("AboutBox", "AboutBox.LabelBuild.Caption", "-"), "-");
  }
  // German is the built-in language, and its umlauts arrive as UTF-8.
  EXPECT_EQ(de->ReadString("FormMain", "FormMain.ButtonClose.Caption", ""), "Schließen");

  // The messages follow the language applied: a picture that does not load is told in English
  // after the English file, and as built in after the German one, which repeats the built-in
  // texts.
  ApplyLanguage(*en, {});
  EXPECT_EQ(LoadPicture("/nonexistent/a.jpg").Reason(),
            "The file does not exist.\n\n[/nonexistent/a.jpg]");
  EXPECT_EQ(TooLargeText(70000, 5), "The picture is too large: 70000 x 5 pixels");
  ApplyLanguage(*de, {});
  const TPictureFailureTexts builtIn, german = PictureFailureTexts();
  for (auto text : {&TPictureFailureTexts::Missing, &TPictureFailureTexts::CannotRead,
                    &TPictureFailureTexts::NotPicture, &TPictureFailureTexts::Damaged,
                    &TPictureFailureTexts::TooLarge, &TPictureFailureTexts::NotLoaded}) {
    EXPECT_EQ(german.*text, builtIn.*text);
  }
}

}  // namespace
}  // namespace overlay
