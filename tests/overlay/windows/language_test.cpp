// Every text a window shows has its entry in both shipped language files, and with the English
// file applied no window, menu, dialog, message or print page of the program shows German.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QTest>
#include <QToolButton>
#include <QUrl>
#include <algorithm>
#include <cctype>
#include <fstream>
#include <set>

#include "overlay/base/texts.h"
#include "overlay/windows/about_box.h"
#include "overlay/windows/assistent.h"
#include "overlay/windows/form_main.h"
#include "overlay/windows/print_page.h"
#include "overlay/windows/sprache.h"
#include "platform/control_host.h"
#include "platform/message.h"
#include "tests/support/temp_folder.h"

namespace overlay {
namespace {

struct TShown {
  std::string Entry;  // the language file's entry that gives it: "FormMain.LabelX.Caption"
  std::string Text;
};

// What the window and every named object in it show: title, captions, menu entries, tool tips.
std::vector<TShown> TextsOf(QWidget& Window) {
  const std::string section = Window.objectName().toStdString();
  std::vector<TShown> shown;
  const auto add = [&](const std::string& Entry, const QString& Text) {
    if (!Text.isEmpty()) shown.push_back({Entry, Text.toStdString()});
  };
  add(section + ".Caption", Window.windowTitle());
  for (QObject* o : Window.findChildren<QObject*>()) {
    const std::string name = section + "." + o->objectName().toStdString();
    if (o->objectName().isEmpty()) continue;
    if (auto* label = qobject_cast<QLabel*>(o)) add(name + ".Caption", label->text());
    if (auto* button = qobject_cast<QAbstractButton*>(o)) add(name + ".Caption", button->text());
    if (auto* action = qobject_cast<QAction*>(o); action != nullptr && !action->isSeparator()) {
      add(name + ".Caption", action->text());
    }
    if (auto* widget = qobject_cast<QWidget*>(o)) add(name + ".Hint", widget->toolTip());
  }
  return shown;
}

std::unique_ptr<TLanguageFile> Shipped(const char* Language) {
  auto file = OpenLanguageFileAt(std::string(TESSALY_SOURCE_DIR) + "/data/lang/" + Language +
                                 "/TsLang.ini");
  EXPECT_NE(file, nullptr) << Language;
  return file;
}

TEST(Language, EveryShownTextIsInBothFilesAndTheEnglishRunShowsNoGerman) {
  const std::unique_ptr<TLanguageFile> de = Shipped("de"), en = Shipped("en");
  ASSERT_TRUE(de && en);
  const testsupport::TTempFolder dir("tessaly_language");
  TFormMainHooks hooks;
  hooks.SettingsFile = dir.File("gone/Tessaly.ini");  // cannot be written
  TFormMain main(hooks);
  TFormAssistent assistent;
  TAboutBox about;
  const std::vector<QWidget*> windows{&main, &assistent, &about};

  // Complete: each built-in text has its entry in both files, and so has each program text.
  const auto has = [](const TLanguageFile& File, const std::string& Entry) {
    const std::string section = Entry.substr(0, Entry.find('.'));
    return File.ReadString(section, Entry, "\x01") != "\x01";
  };
  for (QWidget* w : windows) {
    for (const TShown& s : TextsOf(*w)) {
      // A mark, the program's name and numbers are no words of a language.
      if (s.Text == "x" || s.Text == "Tessaly" ||
          std::none_of(s.Text.begin(), s.Text.end(), [](char C) { return std::isalpha(C); })) {
        continue;
      }
      EXPECT_TRUE(has(*de, s.Entry)) << "German file lacks " << s.Entry << " (" << s.Text << ")";
      EXPECT_TRUE(has(*en, s.Entry)) << "English file lacks " << s.Entry << " (" << s.Text << ")";
    }
  }
  for (const TText& t : ProgramTexts()) {
    EXPECT_TRUE(has(*de, std::string(t.Name))) << t.Name;
    EXPECT_TRUE(has(*en, std::string(t.Name))) << t.Name;
  }

  // The English run: the windows, every message the program shows, its dialogs and its page.
  ApplyLanguage(*en, windows);
  std::vector<std::string> seen;
  for (QWidget* w : windows) {
    for (const TShown& s : TextsOf(*w)) seen.push_back(s.Text);
  }
  const auto picture = [&](const char* Name, int W, int H) {
    QImage image(W, H, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    EXPECT_TRUE(image.save(QString::fromStdString(dir / Name)));
    return dir / Name;
  };
  {
    platform::MessageRecorder messages;
    std::ofstream(dir / "letter.png") << "Dear colleague";
    // A BMP header that claims 60000 x 60000 pixels.
    std::string bmp(54, '\0');
    const auto put = [&](std::size_t At, std::uint32_t V) {
      for (int i = 0; i < 4; ++i) bmp[At + i] = char((V >> (8 * i)) & 0xFF);
    };
    bmp[0] = 'B', bmp[1] = 'M';
    put(2, 54), put(10, 54), put(14, 40), put(18, 60000), put(22, 60000);
    bmp[26] = 1, bmp[28] = 24;
    std::ofstream(dir / "huge.bmp", std::ios::binary) << bmp;
    for (const char* name : {"missing.png", "letter.png", "huge.bmp"})
      main.OpenPicture(1, dir / name);
    main.OpenPicture(1, picture("one.png", 200, 150));
    main.OpenPicture(2, picture("two.png", 80, 60));
    TMainController& c = main.Controller();
    c.AlignOverlay(10, 10, 5, 5, 10, 10, 40, 40);
    std::uint64_t generation = 0;
    c.PrepareAutoAlign(&generation);
    c.ApplyAutoAlign(TAutoAlignResult{}, generation);
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(dir / "one.png"))});
    const QPoint view = main.ImgViewHost()->geometry().center();
    QDragEnterEvent enter(view, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&main, &enter);
    QDropEvent drop(QPointF(view), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&main, &drop);
    main.ButtonCloseClick();
    WritePrintPageFrom(dir / "no-template.html", dir.File(""));
    WritePrintPageFrom(std::string(TESSALY_SOURCE_DIR) + "/data/output.html", dir / "gone/");
    EXPECT_EQ(messages.Texts().size(),
              9u);  // three pictures, alignment twice, drop, settings, page twice
    for (const std::string& m : messages.Texts()) seen.push_back(m);

    for (bool difference : {false, true}) {
      main.findChild<QAction*>("MenuDifference")->setChecked(difference);
      QTest::keyClick(&main, Qt::Key_Right, Qt::AltModifier);
      seen.push_back(main.findChild<QLabel*>("LabelStatusMode")->text().toStdString());
    }
    c.StartFlicker();
    seen.push_back(StatusModeText(c.ViewStatusAt({})));
    c.StopFlicker();
  }
  QFileDialog dialog;
  main.PrepareOpenPictureDialog(dialog);
  seen.push_back(dialog.windowTitle().toStdString());
  for (const QString& f : dialog.nameFilters()) seen.push_back(f.toStdString());
  // The print button's menu, as it opens.
  QMenu* print = main.findChild<QToolButton*>("BitBtnPrint")->menu();
  Q_EMIT print->aboutToShow();
  for (QAction* a : print->actions()) seen.push_back(a->text().toStdString());
  const std::unique_ptr<QMenu> recent = main.RecentMenu(1);
  seen.push_back(recent->title().toStdString());
  for (QAction* a : recent->actions()) seen.push_back(a->text().toStdString());
  // The print page from the shipped template.
  ASSERT_EQ(WritePrintPageFrom(std::string(TESSALY_SOURCE_DIR) + "/data/output.html", dir.File("")),
            0);
  std::ifstream page(dir / "output.html");
  const std::string html{std::istreambuf_iterator<char>(page), {}};
  EXPECT_NE(html.find("<html lang=\"en\">"), std::string::npos);
  EXPECT_NE(html.find("Capture 3"), std::string::npos);
  seen.push_back(html);

  // German: what the German file says where the English one says otherwise, and any umlaut.
  std::set<std::string> german;
  for (const std::string& section : de->SectionNames()) {
    for (const std::string& entry : de->EntryNames(section)) {
      const std::string d = de->ReadString(section, entry, ""),
                        e = en->ReadString(section, entry, "");
      if (d != e && d.size() >= 4 && d.find("%1") == std::string::npos) german.insert(d);
    }
  }
  for (const std::string& text : seen) {
    for (const char* umlaut : {"ä", "ö", "ü", "ß", "Ä", "Ö", "Ü"}) {
      EXPECT_EQ(text.find(umlaut), std::string::npos) << text;
    }
    for (const std::string& g : german) EXPECT_EQ(text.find(g), std::string::npos) << text;
  }
}

}  // namespace
}  // namespace overlay
