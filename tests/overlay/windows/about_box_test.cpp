#include "overlay/windows/about_box.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <fstream>

#include "overlay/windows/icons.h"
#include "overlay/windows/sprache.h"
#include "platform/shell.h"

namespace {

using overlay::TAboutBox;

QLabel* Label(TAboutBox& Box, const char* Name) {
  QLabel* label = Box.findChild<QLabel*>(QString::fromLatin1(Name));
  EXPECT_NE(label, nullptr) << Name;
  return label;
}

TEST(AboutBox, LinksOpenTheirAddressesThroughTheShell) {
  TAboutBox box;
  box.FormCreate();
  platform::ShellOpenRecorder shell;
  QLabel* internet = Label(box, "LabelInternet");
  internet->setText(QStringLiteral("  https://vertrieb.example.org \t "));
  QTest::mouseClick(internet, Qt::LeftButton);
  QTest::mouseClick(Label(box, "Label2"), Qt::LeftButton);
  // A release outside the link (the press was taken back) opens nothing.
  QTest::mousePress(internet, Qt::LeftButton);
  QTest::mouseRelease(internet, Qt::LeftButton, {}, QPoint(-5, -5));
  EXPECT_EQ(shell.Targets(),
            (std::vector<std::string>{"https://vertrieb.example.org", overlay::MakerAddress}));
}

TEST(AboutBox, BuildIsTheRecordsFileVersionAndTheLanguageFollows) {
  // This binary carries a record (tests/overlay/CMakeLists.txt).
  QString buildWhenLanguageApplied;
  QLabel* build = nullptr;
  TAboutBox box(nullptr, [&] { buildWhenLanguageApplied = build->text(); });
  build = Label(box, "LabelBuild");
  EXPECT_EQ(build->text(), "2.0.0.0");
  EXPECT_TRUE(buildWhenLanguageApplied.isNull());
  box.FormCreate();
  EXPECT_EQ(build->text(), "7.6.5.4");
  EXPECT_EQ(buildWhenLanguageApplied, "7.6.5.4");

  const std::string plain = ::testing::TempDir() + "about_box_no_record";
  std::ofstream(plain) << "no record here\n";
  box.VersionFile = plain;
  box.FormCreate();
  EXPECT_EQ(build->text(), "");
}

TEST(AboutBox, ShowsDetachedWithoutBlockingAndOkHides) {
  QWidget owner;
  auto* box = new TAboutBox(&owner);
  box->FormCreate();
  overlay::ShowAboutBox(*box);
  EXPECT_EQ(box->parentWidget(), nullptr);
  EXPECT_TRUE(box->isVisible());
  EXPECT_FALSE(box->isModal());
  EXPECT_TRUE(box->windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_TRUE(box->isWindow());
  EXPECT_EQ(box->size(), QSize(319, 239));
  QTest::mouseClick(box->findChild<QPushButton*>("OKButton"), Qt::LeftButton);
  EXPECT_FALSE(box->isVisible());
  overlay::ShowAboutBox(*box);  // shown again after OK, as the info button does
  EXPECT_TRUE(box->isVisible());
  delete box;
}

// Every caption fits its control, every control lies inside its parent, and no two overlap;
// with the built-in texts and with each shipped language file.
void ExpectTextsFit(TAboutBox& Box, const std::string& Language) {
  for (QWidget* parent : {static_cast<QWidget*>(&Box), Box.findChild<QWidget*>("Panel1")}) {
    std::vector<QWidget*> texts;
    for (QObject* child : parent->children()) {
      auto* w = qobject_cast<QWidget*>(child);
      if (!w) continue;
      EXPECT_TRUE(parent->rect().contains(w->geometry()))
          << Language << ": " << w->objectName().toStdString();
      if (qobject_cast<QLabel*>(w) || qobject_cast<QPushButton*>(w)) texts.push_back(w);
    }
    for (QWidget* w : texts) {
      // A button's size hint holds the style's minimum width; what matters is its caption.
      auto* button = qobject_cast<QPushButton*>(w);
      const QSize need =
          button ? button->fontMetrics().size(Qt::TextSingleLine, button->text()) + QSize(8, 4)
                 : w->sizeHint();
      EXPECT_TRUE(need.width() <= w->width() && need.height() <= w->height())
          << Language << ": " << w->objectName().toStdString() << " needs " << need.width() << "x"
          << need.height() << ", has " << w->width() << "x" << w->height();
      for (QWidget* other : texts) {
        EXPECT_TRUE(w == other || !w->geometry().intersects(other->geometry()))
            << Language << ": " << w->objectName().toStdString() << " overlaps "
            << other->objectName().toStdString();
      }
    }
  }
}

TEST(AboutBox, EveryTextFits) {
  TAboutBox builtIn;
  builtIn.FormCreate();
  ExpectTextsFit(builtIn, "built-in");
  for (const char* language : {"de", "en"}) {
    TAboutBox box;
    const auto file = overlay::OpenLanguageFileAt(std::string(TESSALY_SOURCE_DIR) + "/data/lang/" +
                                                  language + "/TsLang.ini");
    ASSERT_NE(file, nullptr) << language;
    box.ApplyLanguageHook = [&] { overlay::ApplyLanguage(*file, {&box}); };
    box.FormCreate();
    ExpectTextsFit(box, language);
  }
}

TEST(AboutBox, GlyphsAreBundled) {
  // The other windows find the glyphs by these names.
  for (const char* name : {":/icons/info.svg", ":/icons/printer.svg", ":/icons/tessaly.svg"}) {
    overlay::InitIcons();
    const QPixmap pixmap = QIcon(QString::fromLatin1(name)).pixmap(32, 32);
    ASSERT_FALSE(pixmap.isNull()) << name;
    const QImage image = pixmap.toImage();
    EXPECT_GT(image.pixelColor(16, 16).alpha(), 0) << name << " draws nothing in its middle";
  }
  const QPixmap icon = Label(*std::make_unique<TAboutBox>(), "ProgramIcon")->pixmap();
  EXPECT_EQ(icon.size(), QSize(56, 56));
}

}  // namespace
