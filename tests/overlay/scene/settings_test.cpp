// Tessaly's settings file and its start with an interface file, with the real main window under
// the offscreen platform.
#include "overlay/base/settings.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QImage>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <filesystem>
#include <fstream>
#include <tuple>

#include "overlay/base/texts.h"
#include "overlay/windows/form_main.h"
#include "overlay/windows/window_layout.h"
#include "platform/command_line.h"
#include "platform/file_write.h"
#include "platform/ini_profile.h"
#include "platform/message.h"
#include "platform/paths.h"
#include "platform/shell.h"

namespace overlay {
namespace {

namespace fs = std::filesystem;

class SettingsTest : public ::testing::Test {
 protected:
  SettingsTest() {
    Dir = fs::temp_directory_path() / ("tessaly_settings_" + std::to_string(::getpid()));
    fs::create_directories(Dir);
    Settings = (Dir / "Tessaly.ini").string();
  }
  ~SettingsTest() override {
    platform::SetProgramParameters({});
    std::error_code ec;
    fs::remove_all(Dir, ec);
  }
  // A main window whose settings file is File.
  static TFormMainHooks At(const std::string& File) {
    TFormMainHooks hooks;
    hooks.SettingsFile = File;
    return hooks;
  }
  std::string Write(const std::string& Name, const std::string& Bytes) {
    const std::string path = (Dir / Name).string();
    std::ofstream(path, std::ios::binary) << Bytes;
    return path;
  }
  std::string Picture(const std::string& Name) {
    QImage image(120, 80, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    const std::string path = (Dir / Name).string();
    EXPECT_TRUE(image.save(QString::fromStdString(path)));
    return path;
  }
  static std::string Read(const std::string& Path) {
    std::ifstream in(Path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  fs::path Dir;
  std::string Settings;
};

TEST_F(SettingsTest, StoredValuesReadAsTheProfileFunctionsReadThem) {
  const auto read = [&](const std::string& Text) { return ReadSettings(Write("s.ini", Text)); };
  const std::string bounds = "[FormOptions]\nTop=100\nLeft=50\nHeight=500\nWidth=900\n";
  EXPECT_FALSE(read("[AutoLoad]\nFormProperties=0\n" + bounds).Bounds);
  EXPECT_FALSE(read("[AutoLoad]\nFormProperties=yes\n" + bounds).Bounds);
  const TSettings s = read(
      "[autoload]\nformproperties=1\n[FormOptions]\nTop=0x20\nLeft=abc\n"
      "[Output]\nImageCount=3\n");
  ASSERT_TRUE(s.Bounds);
  EXPECT_EQ(s.Bounds->Top, 32);
  EXPECT_EQ(s.Bounds->Left, 10);
  EXPECT_EQ(s.Bounds->Width, 620);
  EXPECT_EQ(s.ImageCount, 3);
  // [Display]: pictures upright only for 1, the flicker's interval only within its bounds.
  const TSettings on = read("[Display]\nExifOrientation=1\nFlickerMs=250\n");
  EXPECT_TRUE(on.ExifOrientation);
  EXPECT_EQ(on.FlickerMs, 250);
  const TSettings off = read("[Display]\nExifOrientation=2\nFlickerMs=20\n");
  EXPECT_FALSE(off.ExifOrientation);
  EXPECT_EQ(off.FlickerMs, 500);
  // A missing file reads as the defaults and is not created.
  const std::string missing = (Dir / "none.ini").string();
  EXPECT_EQ(ReadSettings(missing).ImageCount, 5);
  EXPECT_FALSE(fs::exists(missing));
}

// The assistant's bounds count only when all four keys are there; on the screens of now they
// are kept when a screen shows them whole, else pulled onto the screen that shows most of them
// (the first when none does), at least the minimum and at most that screen large.
TEST_F(SettingsTest, AssistentBoundsAreReadWholeAndPulledOntoAScreen) {
  EXPECT_FALSE(
      ReadSettings(Write("s.ini", "[Assistent]\nLeft=1\nTop=2\nWidth=3\n")).AssistentBounds);
  EXPECT_TRUE(WriteAssistentBounds(Settings, {-5, 6, 700, 800}));
  EXPECT_EQ(ReadSettings(Settings).AssistentBounds, (TAssistentBounds{-5, 6, 700, 800}));

  const std::vector<TAssistentBounds> screens{{0, 0, 1920, 1080}, {1920, 0, 1280, 1024}};
  const auto clamp = [&](TAssistentBounds B) { return ClampIntoScreens(B, screens, 400, 200); };
  EXPECT_EQ(clamp({2000, 100, 600, 450}), (TAssistentBounds{2000, 100, 600, 450}));
  EXPECT_EQ(clamp({1900, 50, 600, 450}), (TAssistentBounds{1920, 50, 600, 450}));
  EXPECT_EQ(clamp({3000, 900, 600, 450}), (TAssistentBounds{2600, 574, 600, 450}));
  EXPECT_EQ(clamp({-9000, 20000, 50, 20}), (TAssistentBounds{0, 880, 400, 200}));
  EXPECT_EQ(clamp({100, 100, 5000, 3000}), (TAssistentBounds{0, 0, 1920, 1080}));
  EXPECT_EQ(clamp({2147483000, 2147483000, 2147483000, 9}), (TAssistentBounds{0, 880, 1920, 200}));
}

// A print of millions of captures would hold the window and fill the disk.
TEST_F(SettingsTest, ImageCountReadsAsAtMostOneHundred) {
  const auto count = [&](const std::string& Value) {
    return ReadSettings(Write("s.ini", "[Output]\nImageCount=" + Value + "\n")).ImageCount;
  };
  EXPECT_EQ(count("2147483647"), 100);
  EXPECT_EQ(count("101"), 100);
  EXPECT_EQ(count("100"), 100);
  EXPECT_EQ(count("-7"), -7);
}

// [PACS]: each key read as written, missing ones as the defaults, and every value an
// association could not carry refused with the key it came from.
TEST_F(SettingsTest, PacsSettingsAreReadOrRefusedWithTheKey) {
  const auto read = [&](const std::string& Keys) {
    return ReadPacsSettings(Write("s.ini", "[PACS]\n" + Keys));
  };
  const platform::TResult<TPacsSettings> defaults = ReadPacsSettings((Dir / "none.ini").string());
  ASSERT_TRUE(defaults.Ok());
  EXPECT_EQ(defaults.Value().CallingAE, "TESSALY");
  EXPECT_EQ(defaults.Value().CalledAE, "ORTHANC");
  EXPECT_EQ(defaults.Value().Host, "localhost");
  EXPECT_EQ(defaults.Value().Port, 4242);
  const platform::TResult<TPacsSettings> set = read(
      "CallingAE=ABCDEFGHIJKLMNOP\nCalledAE=ARCHIV 2\nHost=pacs.klinik\nPort=104\nTimeout=30\n");
  ASSERT_TRUE(set.Ok()) << set.Reason();
  EXPECT_EQ(set.Value().CallingAE, "ABCDEFGHIJKLMNOP");
  EXPECT_EQ(set.Value().CalledAE, "ARCHIV 2");
  EXPECT_EQ(set.Value().Host, "pacs.klinik");
  EXPECT_EQ(set.Value().Port, 104);
  EXPECT_EQ(set.Value().TimeoutSeconds, 30);
  EXPECT_EQ(read("Timeout=0\n").Value().TimeoutSeconds, 10);

  const auto refusal = [&](const std::string& Key, const std::string& Value) {
    return read(Key + "=" + Value + "\n").Reason();
  };
  EXPECT_EQ(refusal("CallingAE", "ABCDEFGHIJKLMNOPQ"),
            Tr(PacsSettingRefusedText, "[PACS] CallingAE=ABCDEFGHIJKLMNOPQ"));
  EXPECT_EQ(refusal("CalledAE", "PACS\\1"), Tr(PacsSettingRefusedText, "[PACS] CalledAE=PACS\\1"));
  EXPECT_FALSE(read("CalledAE=A\tB\n").Ok());
  EXPECT_FALSE(read("Host=\n").Ok());
  for (const char* port : {"0", "65536", "4242x", "-1", "99999999999"}) {
    EXPECT_EQ(refusal("Port", port),
              Tr(PacsSettingRefusedText, std::string("[PACS] Port=") + port));
  }
  EXPECT_EQ(read("Port=65535\n").Value().Port, 65535);
  // A host with a port would quietly override Port; one the toolkit cannot use gets its text.
  for (const std::string& host :
       std::vector<std::string>{"127.0.0.1:53859", std::string(78, 'h'), "pacs klinik",
                                "pacs.-klinik", "300.1.1.1", "10.1", "pacs/dicom"}) {
    EXPECT_EQ(refusal("Host", host),
              Tr(PacsSettingRefusedText, "[PACS] Host=" + host) + " " + Tr(PacsHostInvalidText));
  }
  EXPECT_EQ(read("Host=192.168.1.20\n").Value().Host, "192.168.1.20");
}

TEST_F(SettingsTest, CloseStoresTheBoundsAndTheNextStartShowsThem) {
  // A user's own entries survive; ImageCount is never written.
  Write("Tessaly.ini", "; mine\r\n[Output]\r\nImageCount=3\r\n");
  TFormMain first(At(Settings));
  first.LoadSettings();
  EXPECT_EQ(first.Settings().ImageCount, 3);
  first.move(40, 30);
  first.resize(900, 500);
  first.show();
  first.ButtonCloseClick();
  EXPECT_FALSE(first.isVisible());
  EXPECT_EQ(Read(Settings),
            "; mine\r\n[Output]\r\nImageCount=3\r\n[AutoLoad]\r\nFormProperties=1\r\n"
            "[FormOptions]\r\nTop=30\r\nLeft=40\r\nHeight=530\r\nWidth=908\r\n");

  TFormMain next(At(Settings));
  next.LoadSettings();
  EXPECT_EQ(next.pos(), QPoint(40, 30));
  EXPECT_EQ(next.size(), QSize(900, 500));
  EXPECT_EQ(next.Settings().ImageCount, 3);
}

// The open dialog through the "..." button as a user drives it: a typed path to a PNG opens
// whatever filter is chosen, the filter and folder come back next time, and the pictures loaded
// are offered again, newest first, by the button's menu; a stored file that is gone is not.
TEST_F(SettingsTest, TheOpenDialogFindsEveryPictureAndRemembersFilterFolderAndRecentPictures) {
  fs::create_directories(Dir / "photos");
  const std::string first = Picture("photos/IMG_0001.PNG"), second = Picture("second.png");
  const std::string gone = Picture("gone.png");
  TFormMain w(At(Settings));
  w.LoadSettings();
  w.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));

  QStringList offered;
  const auto typeIntoTheDialog = [&](const std::string& Path, const char* Filter) {
    QTimer::singleShot(0, [&, Path, Filter] {
      auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
      ASSERT_NE(dialog, nullptr);
      offered = dialog->nameFilters();
      for (const QString& f : offered) {
        if (f.contains(QLatin1String(Filter))) dialog->selectNameFilter(f);
      }
      auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
      ASSERT_NE(name, nullptr);
      name->setText(QString::fromStdString(Path));
      auto* buttons = dialog->findChild<QDialogButtonBox*>("buttonBox");
      ASSERT_NE(buttons, nullptr);
      QPushButton* open = buttons->button(QDialogButtonBox::Open);
      EXPECT_TRUE(open->isEnabled()) << Path;
      open->click();
    });
  };
  typeIntoTheDialog(gone, "(*.bmp)");
  QTest::mouseClick(w.findChild<QPushButton*>("ButtonImage2"), Qt::LeftButton);
  typeIntoTheDialog(second, "(*.bmp)");
  QTest::mouseClick(w.findChild<QPushButton*>("ButtonImage2"), Qt::LeftButton);
  typeIntoTheDialog(first, "(*)");
  QTest::mouseClick(w.findChild<QPushButton*>("ButtonImage1"), Qt::LeftButton);
  EXPECT_EQ(w.Edit(TField::EditImage1)->text().toStdString(), first);
  EXPECT_EQ(w.Edit(TField::EditImage2)->text().toStdString(), second);

  // All pictures first, with both spellings in both cases; the old filters in their order;
  // all files last.
  ASSERT_GE(offered.size(), 3);
  for (const char* pattern : {"*.png", "*.PNG", "*.jpeg", "*.JPG", "*.tiff", "*.TIF", "*.pcx"}) {
    EXPECT_TRUE(offered.front().split(' ').contains(QLatin1String(pattern))) << pattern;
  }
  QStringList old;
  for (const std::string& f : NameFilters(OpenPictureFilter)) old << QString::fromStdString(f);
  EXPECT_EQ(offered.mid(1, old.size()), old);
  EXPECT_EQ(offered.back(), QStringLiteral("Alle Dateien (*)"));

  fs::remove(gone);
  TFormMain next(At(Settings));
  next.LoadSettings();
  EXPECT_EQ(next.OpenDialogSettings().Recent, (std::vector<std::string>{first, second}));
  QFileDialog dialog;
  next.PrepareOpenPictureDialog(dialog);
  EXPECT_EQ(dialog.selectedNameFilter(), QStringLiteral("Alle Dateien"));  // named, patterns hidden
  EXPECT_EQ(fs::path(dialog.directory().absolutePath().toStdString()), Dir / "photos");
  EXPECT_TRUE(dialog.sidebarUrls().contains(
      QUrl::fromLocalFile(QString::fromStdString((Dir / "photos").string()))));
  // Whose pictures these were is nobody else's business.
  EXPECT_EQ(fs::status(Settings).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);

  const std::unique_ptr<QMenu> menu = next.RecentMenu(2);
  ASSERT_EQ(menu->actions().size(), 2);
  EXPECT_TRUE(menu->actions()[0]->text().startsWith("IMG_0001.PNG"));
  menu->actions()[0]->trigger();
  EXPECT_EQ(next.Edit(TField::EditImage2)->text().toStdString(), first);
  EXPECT_EQ(next.OpenDialogSettings().Recent.size(), 2u);  // moved to the front, not added
}

TEST_F(SettingsTest, ASettingsFileThatCannotBeWrittenKeepsTheWindowOpen) {
  TFormMain w(At((Dir / "gone" / "Tessaly.ini").string()));
  w.show();
  platform::MessageRecorder recorder;
  w.ButtonCloseClick();
  EXPECT_EQ(recorder.Texts(), std::vector<std::string>{"nach " + w.SettingsFile() +
                                                       " kann nicht geschrieben werden"});
  EXPECT_TRUE(w.isVisible());
}

// The window reads an administrator's settings until it has its own file, and its first write
// keeps what they said.
// A link planted as Tessaly.ini must not make the settings write into the file it points to.
TEST_F(SettingsTest, ALinkPlantedAsTheSettingsFileIsReplacedNeverWrittenThrough) {
  const std::string victim = Write("victim.ini", "[Mine]\nSecret=1\n");
  fs::permissions(victim, fs::perms::owner_read | fs::perms::owner_write);
  fs::create_symlink(victim, Settings);
  EXPECT_TRUE(WriteSettings(Settings, TWindowBounds{1, 2, 300, 400}));
  EXPECT_EQ(Read(victim), "[Mine]\nSecret=1\n");
  ASSERT_TRUE(fs::is_regular_file(fs::symlink_status(Settings)));
  const TSettings written = ReadSettings(Settings);
  ASSERT_TRUE(written.Bounds.has_value());
  EXPECT_EQ(written.Bounds->Width, 400);
  // What was read through the link is no more open than it was in its own file.
  EXPECT_EQ(fs::status(Settings).permissions() & (fs::perms::group_all | fs::perms::others_all),
            fs::perms::none);
}

// Latin-1 (Windows-1252) from a calling program and UTF-8 show the same caption.
TEST_F(SettingsTest, ACaptionFromALatin1AndFromAUtf8InterfaceFileReadsTheSame) {
  const auto caption = [&](const std::string& Name, const std::string& First) {
    const std::string file =
        Write("i.ini", "[General]\nCount=2\n[Subject0]\nName=" + Name + "\nFirstname=" + First +
                           "\nBirthdate=01.02.1950\n");
    platform::SetProgramParameters({file});
    return ReadInterfaceStart().Caption;
  };
  const std::string expected = "Tessaly - [M\u00fcller \u20ac, J\u00fcrgen  *01.02.1950]";
  EXPECT_EQ(caption("M\xfcller \x80", "J\xfcrgen"), expected);
  EXPECT_EQ(caption("M\u00fcller \u20ac", "J\u00fcrgen"), expected);
}

// A scale outside 1..MaxPp100MM (ten times it is no int, nor a JPEG's density) is no scale,
// and which one it was is kept to be told.
TEST_F(SettingsTest, AnInterfaceScaleOutsideItsRangeIsNoScale) {
  for (const auto& [given, scale, outside] :
       {std::tuple{"917", 917, 0}, std::tuple{"1000000", 1000000, 0}, std::tuple{"0", 0, 0},
        std::tuple{"1000001", 0, 1000001}, std::tuple{"300000000", 0, 300000000},
        std::tuple{"-5", 0, -5}}) {
    platform::SetProgramParameters({Write(
        "i.ini", "[General]\nCount=2\n[Image0]\nPp100MM=" + std::string(given) + "\n[Image1]\n")});
    const TInterfaceStart start = ReadInterfaceStart();
    EXPECT_EQ(start.Pp100MM1, scale) << given;
    EXPECT_EQ(start.OutsidePp100MM1, outside) << given;
  }
}

TEST_F(SettingsTest, AnAdministratorsSettingsAreReadAndKeptByTheFirstWrite) {
  fs::create_directories(Dir / "etc" / "tessaly");
  Write("etc/tessaly/Tessaly.ini", "[Output]\nImageCount=3\n[Display]\nFlickerMs=900\n");
  fs::create_directories(Dir / "program");
  const char* dirs = getenv("XDG_CONFIG_DIRS");
  const std::string keep = dirs ? dirs : "";
  setenv("XDG_CONFIG_DIRS", (Dir / "etc").c_str(), 1);
  platform::OverrideProgramDirectory((Dir / "program").string() + "/");
  {
    TFormMain w;
    EXPECT_EQ(w.SettingsFile(), (Dir / "program" / "Tessaly.ini").string());
    w.LoadSettings();
    EXPECT_EQ(w.Settings().ImageCount, 3);
    w.show();
    w.ButtonCloseClick();
  }
  platform::OverrideProgramDirectory("");
  if (dirs)
    setenv("XDG_CONFIG_DIRS", keep.c_str(), 1);
  else
    unsetenv("XDG_CONFIG_DIRS");
  const TSettings written = ReadSettings((Dir / "program" / "Tessaly.ini").string());
  EXPECT_TRUE(written.Bounds.has_value());
  EXPECT_EQ(written.ImageCount, 3);
  EXPECT_EQ(written.FlickerMs, 900);
}

TEST_F(SettingsTest, StartWithAnInterfaceFileLoadsTwoPicturesAndShowsTheSubject) {
  const std::string one = Picture("one.png"), two = Picture("two.png");
  const auto start = [&](int Count) {
    std::string file = "[General]\nCount=" + std::to_string(Count) + "\n";
    for (int i = 0; i < Count; ++i)
      file += "[Image" + std::to_string(i) + "]\nImage=" + (i % 2 ? two : one) + "\n";
    file += "[Subject0]\nName=Muster\nFirstName=Erika\nBirthDate=01.02.1960\n";
    platform::SetProgramParameters({Write("interface.ini", file)});
    auto w = std::make_unique<TFormMain>(At(Settings));
    platform::MessageRecorder messages;  // the language file is missing beside the test
    w->FormCreate();
    return w;
  };
  const auto two_ = start(2);
  EXPECT_EQ(two_->windowTitle().toStdString(), "Tessaly - [Muster, Erika  *01.02.1960]");
  EXPECT_TRUE(two_->Controller().ControlsEnabled());
  EXPECT_EQ(two_->Edit(TField::EditImage2)->text().toStdString(), two);

  const auto three = start(3);
  EXPECT_EQ(three->windowTitle().toStdString(), "Tessaly - [Muster, Erika  *01.02.1960]");
  EXPECT_FALSE(three->Controller().Image1Loaded());
  EXPECT_TRUE(three->Edit(TField::EditImage1)->text().isEmpty());

  const auto one_ = start(1);
  EXPECT_EQ(one_->windowTitle().toStdString(), "Tessaly");

  // The print button of the started window takes as many captures as the settings say.
  Write("Tessaly.ini", "[Output]\nImageCount=3\n");
  const auto printing = start(2);
  const fs::path temp = Dir / "temp";
  fs::create_directories(temp);
  const char* oldTemp = getenv("TEMP");
  const std::string keep = oldTemp ? oldTemp : "";
  setenv("TEMP", temp.c_str(), 1);
  platform::ShellOpenRecorder opened;
  platform::MessageRecorder messages;  // no print template beside the test program
  printing->show();
  QTest::mouseClick(printing->findChild<QToolButton*>("BitBtnPrint"), Qt::LeftButton);
  const std::string out = platform::TempDirectory();
  if (oldTemp)
    setenv("TEMP", keep.c_str(), 1);
  else
    unsetenv("TEMP");
  for (int i = 0; i < 4; ++i)
    EXPECT_EQ(fs::exists(out + "test" + std::to_string(i) + ".jpg"), i < 3) << i;
}

// A start whose two pictures do not load tells each once, naming it, in the order of the file,
// after the language (so in the window's language); the window is on screen meanwhile.
TEST_F(SettingsTest, AStartWhosePicturesDoNotLoadTellsEachOnceInOrder) {
  const std::string missing = (Dir / "missing.jpg").string();
  const std::string letter = Write("letter.png", "Dear colleague");
  platform::SetProgramParameters(
      {Write("interface.ini", "[General]\nCount=2\n[Image0]\nImage=" + missing +
                                  "\n[Image1]\nImage=" + letter + "\n")});
  TFormMain w(At(Settings));
  platform::MessageRecorder messages;
  w.FormCreate();
  const TPictureFailureTexts says;
  EXPECT_EQ(messages.Texts(),
            (std::vector<std::string>{"Sprachdatei fehlt.\nNo language file.\n\n[TsLang.ini]",
                                      PictureFailureText(says.Missing, missing),
                                      PictureFailureText(says.NotPicture, letter)}));
  EXPECT_TRUE(w.isVisible());
  EXPECT_FALSE(w.Controller().ControlsEnabled());
  EXPECT_EQ(w.Edit(TField::EditImage2)->text().toStdString(), letter);
}

}  // namespace
}  // namespace overlay
