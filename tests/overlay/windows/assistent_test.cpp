// The positioning assistant driven through its real window: mouse presses on the picture,
// button clicks, the start timer; pictures are PNG files written into a temporary folder.
#include "overlay/windows/assistent.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <array>
#include <optional>

#include "platform/message.h"

namespace overlay {
namespace {

using TPoints = std::array<float, 8>;

class AssistentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(Dir.isValid());
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
  QLabel* Image() { return Child<QLabel>("Image"); }
  void Press(int X, int Y, Qt::MouseButton Button = Qt::LeftButton) {
    QTest::mouseClick(Image(), Button, {}, QPoint(X, Y));
  }
  void ClickButton(const char* Name) {
    QTest::mouseClick(Child<QPushButton>(Name), Qt::LeftButton);
  }
  QString EditText(const char* Name) { return Child<QLineEdit>(Name)->text(); }
  QPoint MarkerPos(const char* Name) { return Child<QLabel>(Name)->pos(); }
  bool Hidden(const char* Name) { return MarkerPos(Name).x() == TAssistentLogic::HiddenLeft; }
  QSize Shown() { return Image()->pixmap().size(); }
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
  EXPECT_TRUE(Hidden("I1P1") && Hidden("I1P2") && Hidden("I2P1") && Hidden("I2P2"));

  Press(120, 45);
  EXPECT_EQ(EditText("Edit1P1"), "120 x 45");
  // Centred on the pixel: the picture lies at (2, 2), the marker is 7 x 20.
  EXPECT_EQ(MarkerPos("I1P1"), QPoint(2 + 120 - 3, 2 + 45 - 10));
  EXPECT_EQ(Buttons(), (std::array<bool, 3>{false, false, false}));

  Press(30, 60, Qt::RightButton);
  EXPECT_EQ(EditText("Edit1P2"), "30 x 60");
  EXPECT_EQ(MarkerPos("I1P2"), QPoint(29, 52));
  EXPECT_EQ(Buttons(), (std::array<bool, 3>{false, true, false}));

  // Both points are set: a third press changes nothing.
  Press(5, 5);
  EXPECT_EQ(EditText("Edit1P1"), "120 x 45");
  EXPECT_EQ(EditText("Edit1P2"), "30 x 60");
  EXPECT_EQ(MarkerPos("I1P1"), QPoint(119, 37));
  EXPECT_EQ(Form.Logic().PointState, 3);

  ClickButton("ButtonForw");
  EXPECT_EQ(Shown(), QSize(120, 90));
  EXPECT_TRUE(Hidden("I1P1") && Hidden("I1P2"));
  EXPECT_EQ(EditText("Edit1P1"), "120 x 45");  // the edits keep their texts
  EXPECT_EQ(Buttons(), (std::array<bool, 3>{true, false, false}));

  Press(10, 20, Qt::RightButton);
  EXPECT_EQ(EditText("Edit2P1"), "10 x 20");
  Press(50, 70);
  EXPECT_EQ(EditText("Edit2P2"), "50 x 70");
  EXPECT_EQ(MarkerPos("I2P2"), QPoint(49, 62));
  EXPECT_EQ(Buttons(), (std::array<bool, 3>{true, false, true}));

  ClickButton("ButtonOk");
  ASSERT_TRUE(Aligned.has_value());
  EXPECT_EQ(*Aligned, (TPoints{120, 45, 10, 20, 30, 60, 50, 70}));
  EXPECT_FALSE(Form.isVisible());
  EXPECT_EQ(Form.result(), QDialog::Accepted);
  EXPECT_TRUE(Image()->pixmap().isNull());
  EXPECT_TRUE(Messages.Texts().empty());
}

TEST_F(AssistentTest, BackKeepsTheStoredPointsAndAsksForPointOneAgain) {
  Start();
  MarkAll();
  ClickButton("ButtonBack");
  EXPECT_EQ(Shown(), QSize(200, 150));
  EXPECT_EQ(MarkerPos("I1P1"), QPoint(119, 37));
  EXPECT_EQ(MarkerPos("I1P2"), QPoint(29, 52));
  EXPECT_TRUE(Hidden("I2P1") && Hidden("I2P2"));
  EXPECT_EQ(Buttons(), (std::array<bool, 3>{false, true, true}));

  // One new press replaces point 1 only; "Fertig" pairs it with the old point 2.
  Press(15, 25);
  EXPECT_EQ(Buttons(), (std::array<bool, 3>{false, true, true}));
  ClickButton("ButtonForw");
  EXPECT_EQ(MarkerPos("I2P1"), QPoint(2 + 10 - 3, 2 + 20 - 10));  // picture 2's points shown
  ClickButton("ButtonOk");
  ASSERT_TRUE(Aligned.has_value());
  EXPECT_EQ(*Aligned, (TPoints{15, 25, 10, 20, 30, 60, 50, 70}));
}

TEST_F(AssistentTest, PointOneAtColumnZeroCountsAsUnsetForItsMarkers) {
  Start();
  Press(0, 10);
  Press(40, 50);
  EXPECT_FALSE(Hidden("I1P1"));
  ClickButton("ButtonForw");
  ClickButton("ButtonBack");
  EXPECT_TRUE(Hidden("I1P1") && Hidden("I1P2"));
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
  EXPECT_TRUE(Hidden("I2P1") && Hidden("I2P2"));
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
  EXPECT_EQ(MarkerPos("I2P1"), QPoint(2 + 20 - 3, 2 + 30 - 10));
  // Not at the earlier run's (50, 70): this run has not marked picture 2's point 2.
  EXPECT_TRUE(Hidden("I2P2"));
  EXPECT_EQ(EditText("Edit2P2"), "0 x 0");
}

TEST_F(AssistentTest, DoubleClickThroughTheWindowSetsBothPoints) {
  Start();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&Form));
  // Through the window, as the platform delivers it: the second press comes as a double click.
  QTest::mouseDClick(Form.windowHandle(), Qt::LeftButton, {},
                     Image()->mapTo(&Form, QPoint(50, 40)));
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
  EXPECT_FALSE(Hidden("I1P1"));
  EXPECT_EQ(Shown(), QSize(200, 150));
  EXPECT_EQ(Image()->pixmap().toImage().pixelColor(0, 0), QColor(0, 0, 255));
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

TEST_F(AssistentTest, LargePictureScrollsWithItsMarkers) {
  const std::string big = Write("gross.png", 1500, 1200, QColor(40, 40, 40));
  Start(big, Path2);
  auto* box = Child<QScrollArea>("ScrollBoxImage");
  ASSERT_GT(box->horizontalScrollBar()->maximum(), 0);
  ASSERT_GT(box->verticalScrollBar()->maximum(), 0);

  box->ensureVisible(2 + 1400, 2 + 1100);
  Press(1400, 1100);
  ASSERT_EQ(EditText("Edit1P1"), "1400 x 1100");
  QWidget* viewport = box->viewport();
  const QPoint pixel = Image()->mapTo(viewport, QPoint(1400, 1100));
  const QPoint marker = Child<QLabel>("I1P1")->mapTo(viewport, QPoint(3, 10));
  EXPECT_EQ(marker, pixel);
  EXPECT_TRUE(viewport->rect().contains(marker));

  // Scrolling moves picture and marker together.
  box->horizontalScrollBar()->setValue(box->horizontalScrollBar()->value() - 100);
  EXPECT_EQ(Child<QLabel>("I1P1")->mapTo(viewport, QPoint(3, 10)),
            Image()->mapTo(viewport, QPoint(1400, 1100)));
}

TEST_F(AssistentTest, MarkersAreDrawnOverThePicture) {
  Start();
  Press(120, 45);
  Press(30, 60);
  const QImage shot = Form.grab().toImage();
  if (const QByteArray out = qgetenv("ASSISTENT_GRAB"); !out.isEmpty()) shot.save(out);
  const auto hasColour = [&](const char* Marker, QColor Colour) {
    QLabel* m = Child<QLabel>(Marker);
    const QRect r(m->mapTo(&Form, QPoint(0, 0)), m->size());
    for (int y = r.top(); y <= r.bottom(); ++y) {
      for (int x = r.left(); x <= r.right(); ++x) {
        if (shot.pixelColor(x, y) == Colour) return true;
      }
    }
    return false;
  };
  EXPECT_TRUE(hasColour("I1P1", QColor(255, 255, 255)));
  EXPECT_TRUE(hasColour("I1P2", QColor(255, 0, 0)));
}

}  // namespace
}  // namespace overlay
