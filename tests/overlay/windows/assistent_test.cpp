// The positioning assistant driven through its real window: clicks, drags and the wheel on the
// picture view, keys, button clicks, the start timer; pictures are PNG files written into a
// temporary folder, which also holds the program's Tessaly.ini.
#include "overlay/windows/assistent.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>
#include <array>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <optional>

#include "overlay/base/settings.h"
#include "overlay/windows/picture_view.h"
#include "overlay/windows/sprache.h"
#include "platform/message.h"
#include "platform/paths.h"

namespace overlay {
namespace {

using TPoints = std::array<float, 8>;

// The program's folder and the user's settings folders inside a temporary folder, so that the
// window reads and writes Tessaly.ini there and nowhere else.
struct TSettingsFolders {
  QTemporaryDir Dir;
  std::optional<std::string> OldConfigHome, OldConfigDirs;
  TSettingsFolders() {
    for (auto [name, old] : {std::pair{"XDG_CONFIG_HOME", &OldConfigHome},
                             std::pair{"XDG_CONFIG_DIRS", &OldConfigDirs}}) {
      if (const char* value = getenv(name)) *old = value;
    }
    setenv("XDG_CONFIG_HOME", Dir.filePath("config").toUtf8().constData(), 1);
    setenv("XDG_CONFIG_DIRS", Dir.filePath("etc").toUtf8().constData(), 1);
    platform::OverrideProgramDirectory(Dir.path().toStdString() + "/");
  }
  ~TSettingsFolders() {
    platform::OverrideProgramDirectory("");
    for (auto [name, old] : {std::pair{"XDG_CONFIG_HOME", &OldConfigHome},
                             std::pair{"XDG_CONFIG_DIRS", &OldConfigDirs}}) {
      if (*old) {
        setenv(name, (*old)->c_str(), 1);
      } else {
        unsetenv(name);
      }
    }
  }
  std::string Settings() const { return Dir.filePath("Tessaly.ini").toStdString(); }
};

class AssistentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(Dir.isValid());
    ASSERT_TRUE(Folders.Dir.isValid());
    Path1 = Write("bild1.png", 200, 150, QColor(0, 0, 255));
    Path2 = Write("bild2.png", 120, 90, QColor(0, 128, 0));
    Form.OnAlign = [this](float a1x, float a1y, float b1x, float b1y, float a2x, float a2y,
                          float b2x, float b2y) {
      Aligned = TPoints{a1x, a1y, b1x, b1y, a2x, a2y, b2x, b2y};
      return AlignResult;
    };
  }
  void TearDown() override { Form.close(); }

  std::string Write(const char* Name, int Width, int Height, QColor Colour) {
    QImage image(Width, Height, QImage::Format_RGB32);
    image.fill(Colour);
    const QString path = Dir.filePath(QString::fromLatin1(Name));
    EXPECT_TRUE(image.save(path, "PNG"));
    return path.toStdString();
  }

  // 40 x 30 pixels, each of its own colour.
  static QImage Grid() {
    QImage grid(40, 30, QImage::Format_RGB32);
    for (int y = 0; y < grid.height(); ++y) {
      for (int x = 0; x < grid.width(); ++x) grid.setPixelColor(x, y, QColor(x * 6, y * 8, 77));
    }
    return grid;
  }
  std::string WriteGrid() {
    const QString path = Dir.filePath("raster.png");
    EXPECT_TRUE(Grid().save(path, "PNG"));
    return path.toStdString();
  }

  // Opens the window and waits for its start timer.
  void Start(const std::string& First, const std::string& Second) {
    auto* timer = Form.findChild<QTimer*>("TimerStart");
    ASSERT_NE(timer, nullptr);
    QSignalSpy fired(timer, &QTimer::timeout);
    Form.Open(First, Second);
    ASSERT_TRUE(fired.wait(5000));
  }
  void Start() { Start(Path1, Path2); }

  template <class T>
  T* Child(const char* Name) {
    T* child = Form.findChild<T*>(QString::fromLatin1(Name));
    EXPECT_NE(child, nullptr) << Name;
    return child;
  }
  TPictureView& View() { return Form.Image(); }
  // Where the view shows picture point (X, Y) of its continuous coordinates.
  QPointF At(double X, double Y) {
    const TPointD v = View().Zoom().ToView({X, Y});
    return {v.X, v.Y};
  }
  void Mouse(QEvent::Type Type, QPointF Where, Qt::MouseButton Button = Qt::LeftButton) {
    const Qt::MouseButtons held = Type == QEvent::MouseButtonRelease ? Qt::NoButton : Button;
    QMouseEvent e(Type, Where, View().mapToGlobal(Where),
                  Type == QEvent::MouseMove ? Qt::NoButton : Button, held, Qt::NoModifier);
    QApplication::sendEvent(&View(), &e);
  }
  void ClickAt(QPointF Where, Qt::MouseButton Button = Qt::LeftButton) {
    Mouse(QEvent::MouseButtonPress, Where, Button);
    Mouse(QEvent::MouseButtonRelease, Where, Button);
  }
  // A click on the centre of picture pixel (X, Y).
  void Press(int X, int Y, Qt::MouseButton Button = Qt::LeftButton) {
    ClickAt(At(X + 0.5, Y + 0.5), Button);
  }
  void Wheel(QPointF Where, int AngleDelta) {
    QWheelEvent e(Where, View().mapToGlobal(Where), {}, {0, AngleDelta}, Qt::NoButton,
                  Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(&View(), &e);
  }
  void ClickButton(const char* Name) {
    QTest::mouseClick(Child<QPushButton>(Name), Qt::LeftButton);
  }
  QString EditText(const char* Name) { return Child<QLineEdit>(Name)->text(); }
  TMarkerPos Mark(TAssistentPoint Point) { return Form.Logic().Markers[Point]; }
  bool Hidden(TAssistentPoint Point) { return !Mark(Point).Shown; }
  bool NoneShown() {
    return Hidden(apImage1Point1) && Hidden(apImage1Point2) && Hidden(apImage2Point1) &&
           Hidden(apImage2Point2);
  }
  QSize Shown() { return View().Picture().size(); }
  std::array<bool, 3> Buttons() {
    return {Child<QPushButton>("ButtonBack")->isEnabled(),
            Child<QPushButton>("ButtonForw")->isEnabled(),
            Child<QPushButton>("ButtonOk")->isEnabled()};
  }
  // Marks both points in picture 1 and in picture 2.
  void MarkAll() {
    Press(120, 45);
    Press(30, 60, Qt::RightButton);
    ClickButton("ButtonForw");
    Press(10, 20, Qt::RightButton);
    Press(50, 70);
  }

  QTemporaryDir Dir;
  TSettingsFolders Folders;  // before the window, which writes into them when it closes
  std::string Path1, Path2;
  TFormAssistent Form;
  std::optional<TPoints> Aligned;
  bool AlignResult = true;
  platform::MessageRecorder Messages;
};

TEST_F(AssistentTest, RunThroughBothPicturesWithEitherMouseButton) {
  Start();
  EXPECT_EQ(Shown(), QSize(200, 150));
  EXPECT_EQ(Buttons(), (std::array<bool, 3>{false, false, false}));
  EXPECT_TRUE(NoneShown());

  Press(120, 45);
  EXPECT_EQ(EditText("Edit1P1"), "120 x 45");
  EXPECT_EQ(Mark(apImage1Point1), (TMarkerPos{120, 45, true}));
  EXPECT_EQ(Buttons(), (std::array<bool, 3>{false, false, false}));

  Press(30, 60, Qt::RightButton);
  EXPECT_EQ(EditText("Edit1P2"), "30 x 60");
  EXPECT_EQ(Mark(apImage1Point2), (TMarkerPos{30, 60, true}));
  EXPECT_EQ(Buttons(), (std::array<bool, 3>{false, true, false}));

  // Both points are set: a third press changes nothing.
  Press(5, 5);
  EXPECT_EQ(EditText("Edit1P1"), "120 x 45");
  EXPECT_EQ(EditText("Edit1P2"), "30 x 60");
  EXPECT_EQ(Mark(apImage1Point1), (TMarkerPos{120, 45, true}));
  EXPECT_EQ(Form.Logic().PointState, 3);

  ClickButton("ButtonForw");
  EXPECT_EQ(Shown(), QSize(120, 90));
  EXPECT_TRUE(Hidden(apImage1Point1) && Hidden(apImage1Point2));
  EXPECT_EQ(EditText("Edit1P1"), "120 x 45");  // the edits keep their texts
  EXPECT_EQ(Buttons(), (std::array<bool, 3>{true, false, false}));

  Press(10, 20, Qt::RightButton);
  EXPECT_EQ(EditText("Edit2P1"), "10 x 20");
  Press(50, 70);
  EXPECT_EQ(EditText("Edit2P2"), "50 x 70");
  EXPECT_EQ(Mark(apImage2Point2), (TMarkerPos{50, 70, true}));
  EXPECT_EQ(Buttons(), (std::array<bool, 3>{true, false, true}));

  ClickButton("ButtonOk");
  ASSERT_TRUE(Aligned.has_value());
  EXPECT_EQ(*Aligned, (TPoints{120, 45, 10, 20, 30, 60, 50, 70}));
  EXPECT_FALSE(Form.isVisible());
  EXPECT_EQ(Form.result(), QDialog::Accepted);
  EXPECT_TRUE(View().Picture().isNull());
  EXPECT_TRUE(Messages.Texts().empty());
}

TEST_F(AssistentTest, BackKeepsTheStoredPointsAndAsksForPointOneAgain) {
  Start();
  MarkAll();
  ClickButton("ButtonBack");
  EXPECT_EQ(Shown(), QSize(200, 150));
  EXPECT_EQ(Mark(apImage1Point1), (TMarkerPos{120, 45, true}));
  EXPECT_EQ(Mark(apImage1Point2), (TMarkerPos{30, 60, true}));
  EXPECT_TRUE(Hidden(apImage2Point1) && Hidden(apImage2Point2));
  EXPECT_EQ(Buttons(), (std::array<bool, 3>{false, true, true}));

  // One new press replaces point 1 only; "Fertig" pairs it with the old point 2.
  Press(15, 25);
  EXPECT_EQ(Buttons(), (std::array<bool, 3>{false, true, true}));
  ClickButton("ButtonForw");
  EXPECT_EQ(Mark(apImage2Point1), (TMarkerPos{10, 20, true}));  // picture 2's points shown
  ClickButton("ButtonOk");
  ASSERT_TRUE(Aligned.has_value());
  EXPECT_EQ(*Aligned, (TPoints{15, 25, 10, 20, 30, 60, 50, 70}));
}

TEST_F(AssistentTest, PointOneAtColumnZeroCountsAsUnsetForItsMarkers) {
  Start();
  Press(0, 10);
  Press(40, 50);
  EXPECT_FALSE(Hidden(apImage1Point1));
  ClickButton("ButtonForw");
  ClickButton("ButtonBack");
  EXPECT_TRUE(Hidden(apImage1Point1) && Hidden(apImage1Point2));
  EXPECT_EQ(Form.Logic().X1[0], 0);
}

TEST_F(AssistentTest, RefusedAlignmentStaysOpenAndALaterRunStartsAfresh) {
  Start();
  MarkAll();
  AlignResult = false;
  ClickButton("ButtonOk");
  ASSERT_TRUE(Aligned.has_value());
  EXPECT_TRUE(Form.isVisible());
  EXPECT_EQ(Shown(), QSize(120, 90));
  EXPECT_EQ(Buttons(), (std::array<bool, 3>{true, false, true}));

  AlignResult = true;
  ClickButton("ButtonOk");
  EXPECT_FALSE(Form.isVisible());

  // The previous run left "<< Zurück" and "Fertig" enabled; the new run must not offer them.
  Start();
  EXPECT_EQ(Buttons(), (std::array<bool, 3>{false, false, false}));
  EXPECT_EQ(EditText("Edit2P2"), "0 x 0");
  EXPECT_TRUE(NoneShown());
  EXPECT_EQ(Form.Logic().Step, 1);
  EXPECT_EQ(Form.Logic().PointState, 1);
}

TEST_F(AssistentTest, PointTwoOfAnEarlierRunGetsNoMarker) {
  Start();
  MarkAll();
  ClickButton("ButtonOk");
  Start();
  Press(40, 40);
  Press(60, 60);
  ClickButton("ButtonForw");
  Press(20, 30);  // picture 2's point 1 only
  ClickButton("ButtonBack");
  ClickButton("ButtonForw");
  EXPECT_EQ(Mark(apImage2Point1), (TMarkerPos{20, 30, true}));
  // Not at the earlier run's (50, 70): this run has not marked picture 2's point 2.
  EXPECT_TRUE(Hidden(apImage2Point2));
  EXPECT_EQ(EditText("Edit2P2"), "0 x 0");
}

TEST_F(AssistentTest, DoubleClickThroughTheWindowSetsBothPoints) {
  Start();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&Form));
  // Through the window, as the platform delivers it: the second press comes as a double click.
  QTest::mouseDClick(Form.windowHandle(), Qt::LeftButton, {},
                     View().mapTo(&Form, At(50, 40).toPoint()));
  EXPECT_EQ(EditText("Edit1P1"), "50 x 40");
  EXPECT_EQ(EditText("Edit1P2"), "50 x 40");
  EXPECT_EQ(Form.Logic().PointState, 3);
}

TEST_F(AssistentTest, ModalRunEndsWithTheAlignment) {
  auto* timer = Child<QTimer>("TimerStart");
  // Runs after the window's own start handler, inside the modal loop.
  QObject::connect(timer, &QTimer::timeout, &Form, [this] {
    MarkAll();
    ClickButton("ButtonOk");
  });
  Form.Run(Path1, Path2);
  ASSERT_TRUE(Aligned.has_value());
  EXPECT_EQ(*Aligned, (TPoints{120, 45, 10, 20, 30, 60, 50, 70}));
  EXPECT_FALSE(timer->isActive());
}

TEST_F(AssistentTest, UnreadablePictureChangesNothing) {
  const QString broken = Dir.filePath("kaputt.png");
  QFile file(broken);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("no picture at all");
  file.close();

  Start(Path1, broken.toStdString());
  Press(120, 45);
  Press(30, 60);
  ClickButton("ButtonForw");
  EXPECT_EQ(Messages.Texts(), std::vector<std::string>{PictureFailureText(
                                  TPictureFailureTexts().NotPicture, broken.toStdString())});
  EXPECT_EQ(Form.Logic().Step, 1);
  EXPECT_EQ(Form.Logic().PointState, 3);
  EXPECT_EQ(Buttons(), (std::array<bool, 3>{false, true, false}));
  EXPECT_FALSE(Hidden(apImage1Point1));
  EXPECT_EQ(Shown(), QSize(200, 150));
  EXPECT_EQ(View().Picture().pixelColor(0, 0), QColor(0, 0, 255));
}

TEST_F(AssistentTest, UnknownTypeIsToldOnceAndARunThatCannotStartOffersNothing) {
  Start();
  MarkAll();
  ASSERT_EQ(Buttons(), (std::array<bool, 3>{true, false, true}));

  const std::string missing = Dir.filePath("fehlt.xyz").toStdString();
  const std::string unknown = Write("bild.xyz", 10, 10, Qt::black);  // a PNG by another name
  Start(unknown, Path2);
  ASSERT_EQ(Messages.Texts().size(), 1u);  // the import's own message only
  EXPECT_NE(Messages.Texts()[0], PictureNotLoadedText(unknown));
  Messages.Clear();
  Start(missing, Path2);
  EXPECT_EQ(Messages.Texts(),
            std::vector<std::string>{PictureFailureText(TPictureFailureTexts().Missing, missing)});
  EXPECT_EQ(Buttons(), (std::array<bool, 3>{false, false, false}));
  EXPECT_EQ(Shown(), QSize(120, 90));  // the picture control keeps what it showed
  Press(5, 5);
  EXPECT_EQ(EditText("Edit1P1"), "120 x 45");
}

// At 100 % a click anywhere on a pixel names it; zoomed in (12 wheel notches at once: 8 times)
// the point is the position within the pixel, its centre naming the whole pixel. The fractions
// reach the alignment, and the pixels are drawn as squares under the marks.
TEST_F(AssistentTest, ZoomedInAClickNamesAPointWithinThePixel) {
  Start(Path1, WriteGrid());
  ASSERT_EQ(View().Zoom().Scale(), 1);
  ClickAt(At(7, 3));                           // the pixel's top-left corner
  ClickAt(At(7.999, 3.999), Qt::RightButton);  // just inside its bottom-right corner
  EXPECT_EQ(EditText("Edit1P1"), "7 x 3");
  EXPECT_EQ(EditText("Edit1P2"), "7 x 3");
  ClickButton("ButtonForw");

  Wheel(At(7.5, 3.5), 12 * 120);
  ASSERT_EQ(View().Zoom().Scale(), 8);
  ClickAt(At(7.5, 3.5));
  ClickAt(At(7.75, 3.5));
  EXPECT_EQ(EditText("Edit2P1"), "7 x 3");
  EXPECT_EQ(EditText("Edit2P2"), "7.25 x 3");
  ClickButton("ButtonOk");
  ASSERT_TRUE(Aligned.has_value());
  EXPECT_EQ(*Aligned, (TPoints{7, 3, 7, 3, 7, 3, 7.25f, 3}));
}

TEST_F(AssistentTest, ZoomedInPixelsAreSquaresAndMarksStandOnTheirPoints) {
  const QImage grid = Grid();
  Start(WriteGrid(), Path2);
  Wheel(At(20, 15), 12 * 120);
  ASSERT_EQ(View().Zoom().Scale(), 8);
  ClickAt(At(21.25, 12.5));  // point 1 at (20.75, 12), right of a pixel's centre
  const QImage shot = View().grab().toImage();
  // Every screen pixel of picture pixel (18, 16) shows its colour, none of its neighbours' do.
  const QPointF corner = At(18, 16);
  for (int dy = 0; dy < 8; ++dy) {
    for (int dx = 0; dx < 8; ++dx) {
      ASSERT_EQ(shot.pixelColor(corner.toPoint() + QPoint(dx, dy)), grid.pixelColor(18, 16))
          << dx << ", " << dy;
    }
  }
  EXPECT_NE(shot.pixelColor(corner.toPoint() + QPoint(8, 0)), grid.pixelColor(18, 16));
  // The white "x" crosses at the clicked place, not at the pixel's centre.
  const QPoint mark = At(21.25, 12.5).toPoint();
  EXPECT_EQ(shot.pixelColor(mark - QPoint(1, 1)), QColor(Qt::white));
  EXPECT_EQ(shot.pixelColor(mark + QPoint(4, 0)), grid.pixelColor(21, 12));
}

// A press that moves more than three screen pixels pans the picture and sets nothing; one that
// moves less is a click at the place of the press.
TEST_F(AssistentTest, ADragPansAndAClickThatWobblesSetsThePointItPressed) {
  const std::string big = Write("gross.png", 1500, 1200, QColor(40, 40, 40));
  Start(big, Path2);
  EXPECT_LT(View().Zoom().Scale(), 1);  // fitted
  QTest::keyClick(&Form, Qt::Key_1);
  ASSERT_EQ(View().Zoom().Scale(), 1);
  const double x = View().Zoom().OffsetX(), y = View().Zoom().OffsetY();
  const QPointF from(200, 150);
  Mouse(QEvent::MouseButtonPress, from);
  Mouse(QEvent::MouseMove, from + QPointF(3, -3));
  EXPECT_EQ(View().Zoom().OffsetX(), x);  // not yet a drag
  Mouse(QEvent::MouseMove, from + QPointF(25, -10));
  Mouse(QEvent::MouseButtonRelease, from + QPointF(25, -10));
  EXPECT_EQ(View().Zoom().OffsetX(), x + 25);
  EXPECT_EQ(View().Zoom().OffsetY(), y - 10);
  EXPECT_EQ(Form.Logic().PointState, 1);
  EXPECT_EQ(EditText("Edit1P1"), "0 x 0");

  const TPointD pressed = View().Zoom().ToPicture({from.x(), from.y()});
  Mouse(QEvent::MouseButtonPress, from, Qt::RightButton);
  Mouse(QEvent::MouseMove, from + QPointF(3, 2), Qt::RightButton);
  Mouse(QEvent::MouseButtonRelease, from + QPointF(3, 2), Qt::RightButton);
  EXPECT_EQ(Form.Logic().X1[0], std::floor(pressed.X));
  EXPECT_EQ(Form.Logic().Y1[0], std::floor(pressed.Y));
  EXPECT_EQ(View().Zoom().OffsetX(), x + 25);

  QTest::keyClick(&Form, Qt::Key_0);
  EXPECT_TRUE(View().Zoom().Fitted());
  ClickButton("ButtonZoom100");
  EXPECT_EQ(View().Zoom().Scale(), 1);
  ClickButton("ButtonZoomFit");
  EXPECT_EQ(View().Zoom().Scale(), View().Zoom().FitScale());
}

// The window's place and size go into Tessaly.ini when it closes, keeping the file's other
// keys, and come back when it opens again; stored bounds that no screen shows are pulled onto
// one.
TEST_F(AssistentTest, PlaceAndSizeSurviveClosingAndReopening) {
  { std::ofstream(Folders.Settings()) << "[Output]\nImageCount=3\n"; }
  Start();
  Form.move(30, 40);
  Form.resize(600, 450);
  Form.reject();
  const TSettings stored = ReadSettings(Folders.Settings());
  ASSERT_TRUE(stored.AssistentBounds.has_value());
  EXPECT_EQ(*stored.AssistentBounds, (TAssistentBounds{30, 40, 600, 450}));
  EXPECT_EQ(stored.ImageCount, 3);

  TFormAssistent again;
  again.Open(Path1, Path2);
  EXPECT_EQ(again.pos(), QPoint(30, 40));
  EXPECT_EQ(again.size(), QSize(600, 450));
  again.reject();

  EXPECT_TRUE(WriteAssistentBounds(Folders.Settings(), {-9000, 20000, 50, 20}));
  TFormAssistent lost;
  lost.Open(Path1, Path2);
  const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
  EXPECT_EQ(lost.size(), lost.minimumSize());
  EXPECT_TRUE(screen.contains(lost.frameGeometry()))
      << lost.frameGeometry().x() << " " << lost.frameGeometry().y() << " "
      << lost.frameGeometry().width() << " " << lost.frameGeometry().height() << " in "
      << screen.width() << " " << screen.height();
  lost.reject();

  // A settings file that cannot be replaced (a folder in its place) is told, and the window
  // closes all the same.
  std::filesystem::remove(Folders.Settings());
  std::filesystem::create_directory(Folders.Settings());
  Messages.Clear();
  Start();
  Form.reject();
  EXPECT_FALSE(Form.isVisible());
  EXPECT_EQ(Messages.Texts(), std::vector<std::string>{"nach " + Folders.Settings() +
                                                       " kann nicht geschrieben werden"});
}

TEST_F(AssistentTest, MarkersAreDrawnOverThePicture) {
  Start();
  Press(120, 45);
  Press(30, 60);
  const QImage shot = Form.grab().toImage();
  if (const QByteArray out = qgetenv("ASSISTENT_GRAB"); !out.isEmpty()) shot.save(out);
  const auto hasColour = [&](TAssistentPoint Point, QColor Colour) {
    const QPoint centre =
        View().mapTo(&Form, At(Mark(Point).X + 0.5, Mark(Point).Y + 0.5).toPoint());
    for (int y = centre.y() - 4; y <= centre.y() + 4; ++y) {
      for (int x = centre.x() - 4; x <= centre.x() + 4; ++x) {
        if (shot.pixelColor(x, y) == Colour) return true;
      }
    }
    return false;
  };
  EXPECT_TRUE(hasColour(apImage1Point1, QColor(255, 255, 255)));
  EXPECT_TRUE(hasColour(apImage1Point2, QColor(255, 0, 0)));
  EXPECT_FALSE(hasColour(apImage1Point2, QColor(255, 255, 255)));
}

// At its least width, in German and in English, no two controls of a panel overlap, each lies
// inside its panel, and an edit shows the widest point whole.
TEST_F(AssistentTest, AtTheLeastWidthNothingOverlapsInEitherLanguage) {
  const std::string dir = std::string(TESSALY_SOURCE_DIR) + "/data/lang/";
  for (const char* language : {"de", "en"}) {
    const auto file = OpenLanguageFileAt(dir + language + "/TsLang.ini");
    ASSERT_NE(file, nullptr);
    TFormAssistent form(nullptr, [&](QWidget& W) { ApplyLanguage(*file, {&W}); });
    form.show();
    form.resize(form.minimumSize());
    QApplication::processEvents();
    EXPECT_EQ(form.findChild<QPushButton*>("ButtonZoomFit")->text(),
              std::string(language) == "en" ? "Fit" : "Einpassen");
    for (const char* panel : {"PanelTop", "PanelBottom"}) {
      const QWidget* p = form.findChild<QWidget*>(panel);
      const QList<QWidget*> controls = p->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
      for (qsizetype i = 0; i < controls.size(); ++i) {
        EXPECT_TRUE(p->rect().contains(controls[i]->geometry()))
            << language << " " << controls[i]->objectName().toStdString();
        for (qsizetype j = i + 1; j < controls.size(); ++j) {
          EXPECT_FALSE(controls[i]->geometry().intersects(controls[j]->geometry()))
              << language << " " << controls[i]->objectName().toStdString() << " "
              << controls[j]->objectName().toStdString();
        }
      }
    }
    // A text wider than its edit scrolls: its end would then stand less than its width
    // away from its start.
    QLineEdit* edit = form.findChild<QLineEdit*>("Edit2P2");
    edit->setText(QString::fromLatin1(WidestPointText));
    const auto cursorX = [&](int Position) {
      edit->setCursorPosition(Position);
      edit->grab();  // the edit scrolls its text when it paints
      return edit->inputMethodQuery(Qt::ImCursorRectangle).toRect().center().x();
    };
    const int end = cursorX(int(edit->text().size()));
    EXPECT_EQ(end - cursorX(0), edit->fontMetrics().horizontalAdvance(edit->text())) << language;
    if (const QByteArray out = qgetenv("ASSISTENT_GRAB"); !out.isEmpty()) {
      form.grab().save(QString::fromUtf8(out) + "." + language + ".png");
    }
  }
}

}  // namespace
}  // namespace overlay
