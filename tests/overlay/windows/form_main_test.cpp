// The real main window under the offscreen platform, driven through Qt Test's event helpers.
#include "overlay/windows/form_main.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QDropEvent>
#include <QImage>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QProgressDialog>
#include <QPushButton>
#include <QScopeGuard>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "overlay/base/texts.h"
#include "overlay/decode/picture_import.h"
#include "overlay/programs/render_command.h"
#include "overlay/scene/measure_layer.h"
#include "overlay/windows/export_menu.h"
#include "platform/command_line.h"
#include "platform/control_host.h"
#include "platform/message.h"
#include "tests/support/scripted_pacs.h"
#include "tests/support/temp_folder.h"

namespace overlay {
namespace {

namespace fs = std::filesystem;

class FormMainTest : public ::testing::Test {
 protected:
  FormMainTest() {
    Picture1 = Write("one.png", 300, 200, Qt::darkCyan);
    Picture2 = Write("two.png", 101, 60, Qt::yellow);  // odd width
  }
  std::string Write(const std::string& Name, int W, int H, Qt::GlobalColor Color) {
    QImage image(W, H, QImage::Format_RGB32);
    image.fill(Color);
    const std::string path = (Dir / Name).string();
    EXPECT_TRUE(image.save(QString::fromStdString(path)));
    return path;
  }
  // The window's dialogs and places as the test gives them: the open dialog answers Chosen;
  // Records: where the comparison records lie; Settings: the settings file.
  TFormMainHooks Hooks(std::string Records = {}, std::string Settings = {}) {
    TFormMainHooks hooks;
    hooks.ChooseFile = [this] { return Chosen; };
    hooks.RecordFolder = std::move(Records);
    hooks.SettingsFile = std::move(Settings);
    return hooks;
  }
  // Clicks one of the window's buttons; the dialog answers Path.
  void Choose(TFormMain& W, const char* Button, const std::string& Path) {
    Chosen = Path;
    auto* button = W.findChild<QPushButton*>(Button);
    ASSERT_NE(button, nullptr) << Button;
    QTest::mouseClick(button, Qt::LeftButton);
  }
  void LoadBoth(TFormMain& W) {
    Choose(W, "ButtonImage1", Picture1);
    Choose(W, "ButtonImage2", Picture2);
  }
  // The entry of the print button's menu whose data is Data.
  static QAction* PrintMenuEntry(TFormMain& W, int Data) {
    for (QAction* a : W.findChild<QToolButton*>("BitBtnPrint")->menu()->actions()) {
      if (a->data() == Data) return a;
    }
    return nullptr;
  }
  void Show(TFormMain& W) {
    W.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&W));
  }
  // The patient of an interface file of Picture1 and Picture2, as the calling application
  // starts the window with one (the DICOM export takes no comparison without a patient).
  void GivePatient(TFormMain& W) {
    const std::string file = (Dir / "interface.ini").string();
    std::ofstream(file)
        << "[General]\nCount=2\n[Subject0]\nName=Roe\nFirstName=Jane\n[Image0]\nImage=" << Picture1
        << "\n[Subject1]\nName=Roe\n[Image1]\nImage=" << Picture2
        << "\n[Additional]\nAdd0Name=PatientID\nAdd0Value=A-1\n";
    platform::SetProgramParameters({file});
    EXPECT_EQ(W.ReadInterfaceFile(), 2);
    platform::SetProgramParameters({});
  }
  static bool OverlayControlsEnabled(TFormMain& W, bool Expected) {
    for (const char* name : {"GaugeBar1", "GaugeBar2", "GaugeBar3", "GaugeBar4", "GaugeBar5",
                             "GaugeAlpha", "ButtonAssistent", "ButtonAutoAlign", "BitBtnPrint"}) {
      auto* w = W.findChild<QWidget*>(name);
      if (w == nullptr || w->isEnabled() != Expected) return false;
    }
    TMainController& c = W.Controller();
    for (raster::TGaugeBar* bar : {&c.GaugeBar1(), &c.GaugeBar2(), &c.GaugeBar3(), &c.GaugeBar4(),
                                   &c.GaugeBar5(), &c.GaugeAlpha()}) {
      if (bar->Enabled() != Expected) return false;
    }
    return true;
  }
  static QString Text(TFormMain& W, TField Field) { return W.Edit(Field)->text(); }
  // Picture-1 pixel (X, Y) as the window shows it.
  static QColor ShownPixel(TFormMain& W, int X, int Y) {
    const raster::TPoint p = W.Controller().ImgView().BitmapToControl({X, Y});
    return W.ImgViewHost()->grab().toImage().pixelColor(p.X, p.Y);
  }
  // A click on the arrow button at the end of a slider.
  static void ClickNext(TFormMain& W, raster::TGaugeBar& Bar) {
    QWidget* host = W.BarHost(Bar);
    QTest::mouseClick(host, Qt::LeftButton, {}, QPoint(host->width() - 4, host->height() / 2));
  }

  const testsupport::TTempFolder Temp{"tessaly_form_main"};
  const fs::path Dir = Temp.Path();
  std::string Picture1, Picture2, Chosen;
};

TEST_F(FormMainTest, OverlayControlsAreEnabledExactlyWhenBothPicturesAreLoadedInEitherOrder) {
  for (bool secondFirst : {true, false}) {
    TFormMain w(Hooks());
    Show(w);
    EXPECT_TRUE(OverlayControlsEnabled(w, false));
    Choose(w, secondFirst ? "ButtonImage2" : "ButtonImage1", secondFirst ? Picture2 : Picture1);
    EXPECT_TRUE(OverlayControlsEnabled(w, false));
    Choose(w, secondFirst ? "ButtonImage1" : "ButtonImage2", secondFirst ? Picture1 : Picture2);
    EXPECT_TRUE(OverlayControlsEnabled(w, true));
    EXPECT_EQ(Text(w, TField::EditImage1).toStdString(), Picture1);
    EXPECT_EQ(Text(w, TField::EditImage2).toStdString(), Picture2);
    EXPECT_EQ(w.Controller().RotLayer()->BitmapCenter(), (raster::TFloatPoint{50, 30}));
  }
}

TEST_F(FormMainTest, ClicksOnTheSlidersDriveTheOverlayAndTheReadOuts) {
  TFormMain w(Hooks());
  Show(w);
  LoadBoth(w);
  TMainController& c = w.Controller();
  // Both offset sliders share one handler, which refreshes both read-outs.
  ClickNext(w, c.GaugeBar3());
  EXPECT_EQ(c.GaugeBar3().Position(), 1);
  EXPECT_EQ(Text(w, TField::EditY), "1");
  EXPECT_EQ(Text(w, TField::EditX), "0");
  ClickNext(w, c.GaugeBar2());
  EXPECT_EQ(Text(w, TField::EditX), "1");
  EXPECT_EQ(c.RotLayer()->Position(), (raster::TFloatPoint{51, 31}));
  ClickNext(w, c.GaugeBar1());
  EXPECT_EQ(c.RotLayer()->Angle(), 1.0f);
  EXPECT_EQ(Text(w, TField::EditAngle), "1");
  ClickNext(w, c.GaugeAlpha());
  EXPECT_EQ(c.RotLayer()->Bitmap()->MasterAlpha(), 121u);
  EXPECT_EQ(Text(w, TField::EditTransp), "121");

  // A position the bar already has runs no handler: an angle set on the layer directly stays.
  c.RotLayer()->SetAngle(12.5f);
  c.GaugeBar1().SetPosition(1);
  EXPECT_EQ(c.RotLayer()->Angle(), 12.5f);
}

TEST_F(FormMainTest, ZoomReadOutsAndTheOverlayZoomExample) {
  TFormMain w(Hooks());
  Choose(w, "ButtonImage1", Picture1);
  Choose(w, "ButtonImage2", Write("square.png", 100, 100, Qt::red));
  TMainController& c = w.Controller();
  EXPECT_EQ(Text(w, TField::EditZoom), "1.0");  // until the first change
  // As many decimals as one step changes: every step shows, none shows more than it changes.
  for (const auto& [position, text] :
       {std::pair{-100, "0.100"}, std::pair{-99, "0.102"}, std::pair{0, "1.00"},
        std::pair{1, "1.02"}, std::pair{99, "9.8"}, std::pair{100, "10.0"}}) {
    c.GaugeBar4().SetPosition(position);
    EXPECT_EQ(Text(w, TField::EditZoom), text) << position;
  }
  for (const auto& [position, text] :
       {std::pair{-16, "0.964"}, std::pair{-15, "0.966"}, std::pair{-400, "0.3981"},
        std::pair{-399, "0.3990"}, std::pair{500, "3.162"}}) {
    c.GaugeBar5().SetPosition(position);
    EXPECT_EQ(Text(w, TField::EditZoomOvl), text) << position;
  }
  EXPECT_EQ(c.RotLayer()->Bitmap()->Width(), 316);
  EXPECT_EQ(c.RotLayer()->Bitmap()->Height(), 316);
}

// Ctrl+0 shows picture 1 whole at the largest zoom step that still fits, Ctrl+1 at one screen
// pixel per picture pixel; the view's menu offers both with their keys (after the ways of
// drawing), and only once there is something to do.
TEST_F(FormMainTest, FitAndActualSizeThroughTheZoomSlider) {
  TFormMain w(Hooks());
  Show(w);
  platform::TControlHostWidget* view = w.ImgViewHost();
  EXPECT_EQ(view->contextMenuPolicy(), Qt::NoContextMenu);
  Choose(w, "ButtonImage1", Write("wide.png", 2900, 900, Qt::darkCyan));
  Choose(w, "ButtonImage2", Picture2);
  EXPECT_EQ(view->contextMenuPolicy(), Qt::ActionsContextMenu);
  TMainController& c = w.Controller();
  const raster::TRect port = c.ImgView().GetViewportRect();
  // Whether the view now shows the whole picture, as it lays it out itself.
  const auto whole = [&] {
    const raster::TRect shown = c.ImgView().GetBitmapRect();
    return shown.Right - shown.Left <= port.Right - port.Left &&
           shown.Bottom - shown.Top <= port.Bottom - port.Top;
  };

  QTest::keyClick(&w, Qt::Key_0, Qt::ControlModifier);
  const int fit = c.Sliders().ViewZoom;
  EXPECT_LT(fit, 0);
  EXPECT_TRUE(whole());
  c.GaugeBar4().SetPosition(fit + 1);  // one step more no longer fits
  EXPECT_FALSE(whole());
  c.GaugeBar4().SetPosition(fit);
  EXPECT_EQ(c.ImgView().Scale(), ViewZoomFactor(fit));
  QTest::keyClick(&w, Qt::Key_1, Qt::ControlModifier);
  EXPECT_EQ(c.Sliders().ViewZoom, 0);
  EXPECT_EQ(c.ImgView().Scale(), 1.0f);

  QStringList shown;
  for (QAction* a : view->actions()) {
    if (!a->isSeparator()) shown << a->text() + " " + a->shortcut().toString();
  }
  EXPECT_TRUE(shown.contains("Einpassen Ctrl+0")) << shown.join(", ").toStdString();
  EXPECT_TRUE(shown.contains("100 % Ctrl+1")) << shown.join(", ").toStdString();
  // The ways of drawing first, each with its key, in the menu's order.
  EXPECT_EQ(shown.mid(0, 5), QStringList({"Differenz D", "Vorhang S", "Nebeneinander B",
                                          "Schachbrett C", "Blinken F"}));
}

TEST_F(FormMainTest, ZoomReadOutsUseTheLocalesSeparator) {
  QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
  TFormMain w(Hooks());
  QLocale::setDefault(QLocale::c());
  LoadBoth(w);
  w.Controller().GaugeBar4().SetPosition(-100);
  EXPECT_EQ(Text(w, TField::EditZoom), "0,100");
}

TEST_F(FormMainTest, LoadingPicture1AgainResetsEverySlider) {
  TFormMain w(Hooks());
  LoadBoth(w);
  TMainController& c = w.Controller();
  c.GaugeBar1().SetPosition(30);
  c.GaugeBar2().SetPosition(-20);
  c.GaugeBar4().SetPosition(40);
  c.GaugeBar5().SetPosition(-200);
  c.GaugeAlpha().SetPosition(7);
  Choose(w, "ButtonImage1", Picture1);
  EXPECT_EQ(c.Sliders(), TSliderPositions{});
  EXPECT_EQ(c.ImgView().Scale(), 1.0f);
  EXPECT_EQ(c.RotLayer()->Bitmap()->Width(), 101);
  EXPECT_EQ(Text(w, TField::EditZoom), "1.00");
  EXPECT_EQ(Text(w, TField::EditTransp), "120");
}

TEST_F(FormMainTest, APictureThatDoesNotLoadChangesNothing) {
  TFormMain w(Hooks());
  LoadBoth(w);
  w.Controller().GaugeBar1().SetPosition(15);
  platform::MessageRecorder recorder;
  const std::string missing = (Dir / "missing.png").string();
  Choose(w, "ButtonImage1", missing);
  const std::string gif = (Dir / "animated.gif").string();
  { std::ofstream(gif) << "GIF89a"; }
  Choose(w, "ButtonImage2", gif);
  fs::path broken = Dir / "broken.png";
  { std::ofstream(broken) << "not a picture"; }
  Choose(w, "ButtonImage2", broken.string());
  // Each told once, with its file and why, as a failure (the warning icon).
  for (const platform::Message& m : recorder.Messages()) {
    EXPECT_EQ(m.Icon, platform::MessageIcon::Warning) << m.Text;
  }
  const TPictureFailureTexts says;
  EXPECT_EQ(recorder.Texts(),
            (std::vector<std::string>{PictureFailureText(says.Missing, missing),
                                      PictureFailureText("Unknown file format *.gif", gif),
                                      PictureFailureText(says.NotPicture, broken.string())}));
  EXPECT_EQ(Text(w, TField::EditImage1).toStdString(), Picture1);
  EXPECT_EQ(Text(w, TField::EditImage2).toStdString(), Picture2);
  EXPECT_TRUE(OverlayControlsEnabled(w, true));
  EXPECT_EQ(w.Controller().Sliders().Angle, 15);
  EXPECT_EQ(w.Controller().RotLayer()->Bitmap()->Width(), 101);
  EXPECT_EQ(w.Controller().ImgView().Bitmap().Width(), 300);
}

TEST_F(FormMainTest, TheAssistantOpensOnAFreshlyResetOverlayOrNotAtAll) {
  TSliderPositions atOpening{1, 1, 1, 1, 1, 1};
  std::vector<std::string> paths;
  TMainController* opened = nullptr;
  TFormMainHooks hooks = Hooks();
  hooks.OnAssistent = [&](const std::string& P1, const std::string& P2) {
    atOpening = opened->Sliders();
    paths = {P1, P2};
    return false;
  };
  TFormMain w(hooks);
  LoadBoth(w);
  TMainController& c = w.Controller();
  opened = &c;
  c.GaugeBar1().SetPosition(40);
  c.GaugeBar5().SetPosition(120);
  QTest::mouseClick(w.findChild<QPushButton*>("ButtonAssistent"), Qt::LeftButton);
  EXPECT_EQ(atOpening, TSliderPositions{});
  EXPECT_EQ(paths, (std::vector<std::string>{Picture1, Picture2}));

  // Picture 2 gone from the disk: the user is told, the overlay stays as it is.
  c.GaugeBar1().SetPosition(40);
  paths.clear();
  fs::remove(Picture2);
  platform::MessageRecorder recorder;
  QTest::mouseClick(w.findChild<QPushButton*>("ButtonAssistent"), Qt::LeftButton);
  EXPECT_TRUE(paths.empty());
  ASSERT_EQ(recorder.Texts().size(), 1u);
  EXPECT_NE(recorder.Texts()[0].find("[" + Picture2 + "]"), std::string::npos);
  EXPECT_EQ(c.Sliders().Angle, 40);
  EXPECT_NE(c.OverlayOriginal(), nullptr);
}

// The assistant's start is one step of the history: cancelled, the overlay stands where it
// stood and the earlier steps can still be undone; applied, its start and its result are steps of
// their own. The measures stay as they were throughout.
TEST_F(FormMainTest, TheAssistantIsOneStepAndCancellingItPutsTheOverlayBack) {
  bool apply = false;
  TMainController* opened = nullptr;
  TFormMainHooks hooks = Hooks();
  hooks.OnAssistent = [&](const std::string&, const std::string&) {
    return apply && opened->AlignOverlay(0, 0, 0, 0, 50, 0, 50, 0);
  };
  TFormMain w(hooks);
  LoadBoth(w);
  TMainController& c = w.Controller();
  opened = &c;
  c.SetMeasures({TMeasure{TMeasureKind::Ruler, 2, {{10, 10}, {60, 40}}}});
  const std::vector<TMeasure> measures = c.Measures();
  c.GaugeBar1().SetPosition(40);
  QTest::mouseClick(w.findChild<QPushButton*>("ButtonAssistent"), Qt::LeftButton);  // Escape
  EXPECT_EQ(c.Sliders().Angle, 40);
  EXPECT_EQ(c.Measures(), measures);
  ASSERT_TRUE(c.Undo());  // the slider's step, not the assistant's
  EXPECT_EQ(c.Sliders().Angle, 0);
  ASSERT_TRUE(c.Redo());
  EXPECT_FALSE(c.Redo());

  apply = true;
  c.GaugeBar2().SetPosition(30);
  QTest::mouseClick(w.findChild<QPushButton*>("ButtonAssistent"), Qt::LeftButton);  // "Fertig"
  EXPECT_EQ(c.Sliders(), TSliderPositions{});
  c.GaugeBar2().SetPosition(7);
  ASSERT_TRUE(c.Undo() && c.Undo());  // the nudge, then the assistant's start
  EXPECT_EQ(c.Sliders().OffsetX, 30);
  EXPECT_EQ(c.Sliders().Angle, 40);
  EXPECT_EQ(c.Measures(), measures);
}

TEST_F(FormMainTest, BottomPanelsAreLaidOutForTheClientWidth) {
  TFormMain w(Hooks());
  Show(w);
  w.resize(MainClientWidth, MainClientHeight);
  EXPECT_EQ(w.findChild<QWidget*>("GaugeBar2")->width(), 328);
  EXPECT_EQ(w.findChild<QWidget*>("EditX")->x(), 416);
  EXPECT_EQ(w.findChild<QWidget*>("EditZoom")->x(), 905);
  EXPECT_EQ(w.Controller().GaugeBar2().Width(), 328);  // the hosted bar follows its widget
  w.resize(1201, MainClientHeight);
  EXPECT_EQ(w.findChild<QWidget*>("GaugeAlpha")->geometry(), QRect(680, 9, 439, 20));
  EXPECT_EQ(w.findChild<QWidget*>("ButtonClose")->x() + 80,
            1127 + ZoomReadOutWidth);  // EditZoom's right edge
  EXPECT_EQ(w.findChild<QWidget*>("ImgView")->height(),
            MainClientHeight - 166 - StatusBarHeight - 2);
}

// The automatic-alignment button sits beside the assistant's and overlaps no other control of
// the bottom panel, at the smallest client width as at the designed one and a wide one.
TEST_F(FormMainTest, TheAutoAlignButtonOverlapsNoOtherControl) {
  TFormMain w(Hooks());
  Show(w);
  for (int width : {MainMinClientWidth, MainClientWidth, 1400}) {
    w.resize(width, MainClientHeight);
    const QWidget* button = w.findChild<QWidget*>("ButtonAutoAlign");
    const QWidget* assistant = w.findChild<QWidget*>("ButtonAssistent");
    EXPECT_EQ(button->geometry().right() + 1 + 8, assistant->x()) << width;
    for (const QObject* child : button->parentWidget()->children()) {
      const auto* other = qobject_cast<const QWidget*>(child);
      if (other == nullptr || other == button) continue;
      EXPECT_FALSE(other->geometry().intersects(button->geometry()))
          << width << ": " << other->objectName().toStdString();
    }
  }
}

// A click aligns the overlay on a worker thread and applies the result through the sliders;
// a pair without common content shows the message and leaves every slider as it was.
TEST_F(FormMainTest, AutoAlignAppliesTheFoundPlacementOrShowsWhyNot) {
  QImage photo(
      QString::fromStdString(std::string(TESSALY_TESTDATA) + "/photos-large/NT96650_pcb_002.JPG"));
  ASSERT_FALSE(photo.isNull());
  photo = photo.scaled(800, 600, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
  QImage turned(photo.size(), QImage::Format_RGB32);
  turned.fill(Qt::gray);
  {
    QPainter painter(&turned);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.translate(400 + 30, 300 - 20);
    painter.rotate(-4);
    painter.scale(1.06, 1.06);
    painter.translate(-400, -300);
    painter.drawImage(0, 0, photo);
  }
  const std::string one = (Dir / "board.png").string(), two = (Dir / "turned.png").string();
  ASSERT_TRUE(photo.save(QString::fromStdString(one)));
  ASSERT_TRUE(turned.save(QString::fromStdString(two)));

  TFormMain w(Hooks());
  Show(w);
  Choose(w, "ButtonImage1", one);
  Choose(w, "ButtonImage2", two);
  TMainController& c = w.Controller();
  const TAutoAlignResult expected = AutoAlign(*LoadPicture(one).Value(), *LoadPicture(two).Value());
  ASSERT_TRUE(expected.Reliable());
  auto* button = w.findChild<QPushButton*>("ButtonAutoAlign");
  platform::MessageRecorder recorder;
  QTest::mouseClick(button, Qt::LeftButton);
  EXPECT_FALSE(button->isEnabled());
  ASSERT_TRUE(QTest::qWaitFor([&] { return !w.AutoAligning(); }, 60000));
  EXPECT_TRUE(button->isEnabled());
  // The focus is on the view, so that Space presses nothing and the arrows nudge.
  EXPECT_EQ(QApplication::focusWidget(), w.ImgViewHost());
  // The overlay stands at the fit itself, the sliders at their nearest steps.
  ASSERT_TRUE(c.Precise());
  EXPECT_EQ(c.Placement(), expected.Precise);
  EXPECT_NEAR(expected.Precise.Angle, -4, 0.1);
  EXPECT_EQ(c.RotLayer()->Angle(), float(expected.Precise.Angle));
  const TPlacement p = NearestSteps(expected.Precise);
  EXPECT_EQ(c.GaugeBar1().Position(), p.Angle);
  EXPECT_EQ(c.GaugeBar2().Position(), p.OffsetX);
  EXPECT_EQ(c.GaugeBar3().Position(), p.OffsetY);
  EXPECT_EQ(c.GaugeBar5().Position(), p.OverlayZoom);
  EXPECT_TRUE(Text(w, TField::EditAngle).startsWith(QString::fromUtf8(BetweenStepsMark)));
  EXPECT_TRUE(recorder.Texts().empty());

  // Picture 2 without anything of picture 1.
  Choose(w, "ButtonImage2", Write("plain.png", 400, 300, Qt::yellow));
  ClickNext(w, c.GaugeBar2());
  const TSliderPositions before = c.Sliders();
  QTest::mouseClick(button, Qt::LeftButton);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !w.AutoAligning(); }, 60000));
  EXPECT_EQ(c.Sliders(), before);
  // With its reason: a plain picture has no features to match.
  TAutoAlignResult none;
  none.Failure = TAlignFailure::TooFewMatches;
  EXPECT_EQ(recorder.Texts(), std::vector<std::string>{AlignRefusalText(none)});
}

// Ctrl+Z waits while a slider is held (the step is not finished), not for a release that went
// elsewhere.
TEST_F(FormMainTest, UndoWaitsForAHeldSliderNotForALostRelease) {
  TFormMain w(Hooks());
  Show(w);
  LoadBoth(w);
  TMainController& c = w.Controller();
  c.GaugeBar2().SetPosition(5);
  QTest::mousePress(w.BarHost(c.GaugeBar2()), Qt::LeftButton, {}, {5, 5});  // one step left
  QTest::keyClick(&w, Qt::Key_Z, Qt::ControlModifier);
  EXPECT_EQ(c.Sliders().OffsetX, 4);
  QTest::mouseRelease(w.findChild<QWidget*>("EditX"), Qt::LeftButton, {}, {5, 5});
  QTest::keyClick(&w, Qt::Key_Z, Qt::ControlModifier);
  EXPECT_EQ(c.Sliders().OffsetX, 5);
}

// Each change is one step back and forward, a press held on a slider one step however far it
// moves; the overlay comes back exactly as it stood, between the steps too; Ctrl+R returns to the
// loaded state as a step of its own, and a new picture 2 starts afresh.
TEST_F(FormMainTest, UndoRedoAndResetStepThroughThePlacements) {
  TFormMain w(Hooks());
  Show(w);
  LoadBoth(w);
  TMainController& c = w.Controller();
  struct TShown {
    TPlacementState State;
    raster::TFloatPoint Position, Zoom;
    float Angle;
    int Width;
    bool operator==(const TShown&) const = default;
  };
  const auto shown = [&] {
    const raster::TRotLayer& l = *c.RotLayer();
    return TShown{c.PlacementState(), l.Position(), l.Zoom(), l.Angle(), l.Bitmap()->Width()};
  };
  std::vector<TShown> seen{shown()};

  QWidget* bar = w.BarHost(c.GaugeBar2());
  QTest::mousePress(bar, Qt::LeftButton, {}, {5, 5});       // on the left arrow: one step left...
  for (int p : {10, 20, 35}) c.GaugeBar2().SetPosition(p);  // ...then dragged, while held
  QTest::mouseRelease(bar, Qt::LeftButton, {}, {5, 5});
  seen.push_back(shown());
  c.GaugeAlpha().SetPosition(200);  // the opacity is no placement
  QTest::keyClick(&w, Qt::Key_PageUp);
  seen.push_back(shown());
  ASSERT_TRUE(c.AlignOverlay(40, 30, 10, 10, 140, 110, 90, 60));  // the assistant's result
  ASSERT_TRUE(c.Precise());
  seen.push_back(shown());
  QTest::keyClick(&w, Qt::Key_Right, Qt::AltModifier);
  seen.push_back(shown());
  c.GaugeBar5().SetPosition(c.GaugeBar5().Position() + 3);  // back to the steps
  seen.push_back(shown());
  EXPECT_EQ(seen[1].State.Steps.OffsetX, 35);

  for (std::size_t i = seen.size() - 1; i > 0; --i) {
    QTest::keyClick(&w, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(shown(), seen[i - 1]) << i;
  }
  QTest::keyClick(&w, Qt::Key_Z, Qt::ControlModifier);  // nothing before the start
  EXPECT_EQ(shown(), seen[0]);
  for (std::size_t i = 1; i < 4; ++i) {
    QTest::keyClick(&w, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(shown(), seen[i]) << i;
  }
  QTest::keyClick(&w, Qt::Key_R, Qt::ControlModifier);
  EXPECT_EQ(shown(), seen[0]);
  QTest::keyClick(&w, Qt::Key_Z, Qt::ControlModifier);
  EXPECT_EQ(shown(), seen[3]);
  EXPECT_EQ(c.GaugeAlpha().Position(), 200);

  Choose(w, "ButtonImage2", Picture2);
  QTest::keyClick(&w, Qt::Key_Z, Qt::ControlModifier);
  EXPECT_EQ(c.PlacementState(), TPlacementState{});
}

// Files dropped on the window: two on the view load as pictures 1 and 2 by their age, one on a
// row loads there, anything else is told once and changes nothing.
TEST_F(FormMainTest, DroppedPicturesLoadWhereTheyFall) {
  TFormMain w(Hooks());
  Show(w);
  const std::string older = Write("older.png", 120, 90, Qt::red);
  const std::string newer = Write("newer.png", 80, 60, Qt::blue);
  fs::last_write_time(older, fs::last_write_time(newer) - std::chrono::hours(24));
  const auto drop = [&](QPoint At, const std::vector<std::string>& Paths) {
    QMimeData mime;
    QList<QUrl> urls;
    for (const std::string& p : Paths) urls << QUrl::fromLocalFile(QString::fromStdString(p));
    mime.setUrls(urls);
    // As a drag arrives: entering first, which makes the window the drop's target.
    QDragEnterEvent enter(At, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&w, &enter);
    QDropEvent event(QPointF(At), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&w, &event);
  };
  const QPoint view = w.ImgViewHost()->geometry().center();
  const QWidget* names = w.findChild<QWidget*>("PanelName");
  const QPoint row1 = names->geometry().topLeft() + QPoint(60, 20);
  const QPoint row2 = names->geometry().topRight() + QPoint(-60, 20);

  drop(view, {newer, older});
  EXPECT_EQ(Text(w, TField::EditImage1).toStdString(), older);
  EXPECT_EQ(Text(w, TField::EditImage2).toStdString(), newer);
  drop(row2, {Picture1});
  EXPECT_EQ(Text(w, TField::EditImage2).toStdString(), Picture1);
  EXPECT_EQ(w.OpenDialogSettings().Recent.front(), Picture1);

  platform::MessageRecorder recorder;
  drop(view, {Picture2});         // one picture on the view
  drop(row1, {Picture2, older});  // two on a row
  drop(row1, {Dir.string()});     // a folder
  ASSERT_EQ(recorder.Texts().size(), 3u);
  EXPECT_EQ(recorder.Texts()[0], Tr(DropHelpText));
  EXPECT_EQ(Text(w, TField::EditImage1).toStdString(), older);
  EXPECT_EQ(Text(w, TField::EditImage2).toStdString(), Picture1);
}

// Key N matches picture 2's colours to picture 1's (a darker retake comes out as bright as
// picture 1), says so in the status bar and is kept for the next start; N again shows picture 2
// exactly as loaded.
TEST_F(FormMainTest, ColourMatchingBrightensADarkerRetakeAndOffGivesPictureTwoBack) {
  QImage photo(
      QString::fromStdString(std::string(TESSALY_TESTDATA) + "/photos-large/NT96650_pcb_002.JPG"));
  ASSERT_FALSE(photo.isNull());
  const QImage one = photo.scaled(400, 300).convertToFormat(QImage::Format_RGB32);
  QImage two = one;
  for (int y = 0; y < two.height(); ++y) {
    auto* row = reinterpret_cast<QRgb*>(two.scanLine(y));
    for (int x = 0; x < two.width(); ++x) {
      row[x] = qRgb(qRed(row[x]) * 7 / 10, qGreen(row[x]) * 8 / 10, qBlue(row[x]) * 9 / 10);
    }
  }
  ASSERT_TRUE(one.save(QString::fromStdString((Dir / "lit.png").string())));
  ASSERT_TRUE(two.save(QString::fromStdString((Dir / "dim.png").string())));
  TFormMain w(Hooks({}, (Dir / "Tessaly.ini").string()));
  Show(w);
  Choose(w, "ButtonImage1", (Dir / "lit.png").string());
  Choose(w, "ButtonImage2", (Dir / "dim.png").string());
  TMainController& c = w.Controller();
  const auto pixels = [&] {
    const raster::TBitmap32& b = *c.RotLayer()->Bitmap();
    return std::vector<raster::TColor32>(b.PixelBuffer(),
                                         b.PixelBuffer() + std::size_t(b.Width()) * b.Height());
  };
  const std::vector<raster::TColor32> loaded = pixels();

  QTest::keyClick(&w, Qt::Key_N);
  ASSERT_TRUE(c.ColourMatch().Fitted);
  EXPECT_NEAR(c.ColourMatch().Gain[2], 10.0 / 7, 0.05);  // red
  EXPECT_NEAR(c.ColourMatch().Gain[1], 10.0 / 8, 0.05);
  EXPECT_NEAR(c.ColourMatch().Gain[0], 10.0 / 9, 0.05);
  EXPECT_NE(pixels(), loaded);
  EXPECT_TRUE(w.findChild<QLabel*>("LabelStatusMode")->text().contains(QString::fromUtf8("R×1.4")));
  TFormMain next(Hooks({}, w.SettingsFile()));
  next.LoadSettings();
  EXPECT_TRUE(next.Controller().ColourMatchOn());

  QTest::keyClick(&w, Qt::Key_N);
  EXPECT_FALSE(c.ColourMatch().Fitted);
  EXPECT_EQ(pixels(), loaded);
}

// A comparison is kept: a second window given the same pictures, renamed and moved, offers it
// and restores the placement, the view and the measures (an outline clicked on the view: U,
// three clicks, Enter); a damaged record is told once and changes nothing.
TEST_F(FormMainTest, TheComparisonRecordReopensForTheSamePicturesWhereverTheyLie) {
  const std::string records = (Dir / "records/").string();
  const TMeasure outline{
      TMeasureKind::Outline, 1, {{20.5, 20.5}, {120.5, 20.5}, {120.5, 90.5}}, "Umriss 1"};
  TMeasure renamed = outline;
  renamed.Name = "Naevus";
  {
    TFormMain w(Hooks(records));
    Show(w);
    Choose(w, "ButtonImage1", Picture1);
    Choose(w, "ButtonImage2", Picture2);
    TMainController& c = w.Controller();
    QTest::keyClick(&w, Qt::Key_U);
    for (const auto& [x, y] : {std::pair{20, 20}, std::pair{120, 20}, std::pair{120, 90}}) {
      const raster::TPoint p = c.ImgView().BitmapToControl({x, y});
      QTest::mouseClick(w.ImgViewHost(), Qt::LeftButton, {}, QPoint(p.X, p.Y));
    }
    QTest::keyClick(w.ImgViewHost(), Qt::Key_Return);
    ASSERT_EQ(c.Measures(), std::vector<TMeasure>{outline});
    // The tool off, a double click on its line asks for its name.
    QTest::keyClick(&w, Qt::Key_U);
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
      if (auto* dialog = qobject_cast<QInputDialog*>(QApplication::activeModalWidget())) {
        dialog->setTextValue("Naevus");
        dialog->accept();
      }
    });
    answer.start(10);
    const raster::TPoint line = c.ImgView().BitmapToControl({70, 20});
    QTest::mouseDClick(w.ImgViewHost(), Qt::LeftButton, {}, QPoint(line.X, line.Y));
    answer.stop();
    ASSERT_EQ(c.Measures(), std::vector<TMeasure>{renamed});
    w.activateWindow();  // its keys again, the dialog gone
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    w.SetNotes(" \"grew\"\n");
    // In the record a moment later, without an export, a load or Close.
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
          const platform::TResult<TComparisonRecord> kept = ReadComparisonRecord(w.RecordPath());
          return kept && kept.Value().Measures == c.Measures() &&
                 kept.Value().Notes == " \"grew\"\n";
        },
        5000));
    EXPECT_TRUE(w.findChild<QLabel*>("LabelStatusSaved")->text().startsWith("Gespeichert um "));
    QTest::keyClick(&w, Qt::Key_PageUp);
    QTest::keyClick(&w, Qt::Key_Right, Qt::AltModifier);  // between the steps
    QTest::keyClick(&w, Qt::Key_S);
  }  // closed with the change still pending: written all the same
  const TPrecisePlacement placed{1, 1, 0.1, 0};
  fs::create_directories(Dir / "moved");
  const std::string one = (Dir / "moved" / "before.png").string();
  const std::string two = (Dir / "moved" / "after.png").string();
  fs::copy_file(Picture1, one);
  fs::copy_file(Picture2, two);

  TFormMain next(Hooks(records));
  Show(next);
  platform::MessageRecorder recorder;
  recorder.Answer = true;
  Choose(next, "ButtonImage1", one);
  Choose(next, "ButtonImage2", two);
  EXPECT_EQ(recorder.Texts(), std::vector<std::string>{Tr(RestoreRecordText)});
  EXPECT_EQ(next.Controller().Placement(), placed);
  EXPECT_TRUE(next.Controller().Swipe());
  EXPECT_EQ(next.Controller().Measures(), std::vector<TMeasure>{renamed});
  // Its handle on the second point, in picture 1's colour, left of the swipe's line.
  EXPECT_EQ(ShownPixel(next, 120, 20),
            QColor(qRed(MeasureColour1), qGreen(MeasureColour1), qBlue(MeasureColour1)));
  EXPECT_NE(ShownPixel(next, 200, 150), ShownPixel(next, 120, 20));
  const std::string path = next.RecordPath();
  ASSERT_TRUE(fs::exists(path));

  // Declined: the file keeps every byte whatever is done meanwhile, and nothing of it shows.
  const auto bytes = [&] {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  const std::string kept = bytes();
  recorder.Clear();
  recorder.Answer = false;
  {
    TFormMain declining(Hooks(records));
    Show(declining);
    Choose(declining, "ButtonImage1", one);
    Choose(declining, "ButtonImage2", two);
    EXPECT_TRUE(declining.Controller().Measures().empty());
    QTest::keyClick(&declining, Qt::Key_Right);
    declining.SaveRecordNow();
  }
  EXPECT_EQ(bytes(), kept);

  std::ofstream(path) << "[Placement]\nAngle=ten\n";
  recorder.Clear();
  TFormMain third(Hooks(records));
  Show(third);
  Choose(third, "ButtonImage1", one);
  Choose(third, "ButtonImage2", two);
  ASSERT_EQ(recorder.Texts().size(), 1u);
  EXPECT_NE(recorder.Texts()[0].find(path), std::string::npos);
  EXPECT_EQ(third.Controller().Placement(), TPrecisePlacement{});
  QTest::keyClick(&third, Qt::Key_Right);
  third.SaveRecordNow();
  EXPECT_EQ(bytes(), "[Placement]\nAngle=ten\n");
}

TEST_F(FormMainTest, AnotherPictureThanTheInterfaceFilesTakesItsPatientAway) {
  std::ofstream(Dir / "interface.ini")
      << "[General]\nCount=2\n[Subject0]\nName=Muster\nFirstName=Erika\n"
      << "BirthDate=12.08.1964\n[Image0]\nImage=" << Picture1 << "\n[Image1]\nImage=" << Picture2
      << "\n";
  platform::SetProgramParameters({(Dir / "interface.ini").string()});
  const auto restore = qScopeGuard([] { platform::SetProgramParameters({}); });
  TFormMain w(Hooks((Dir / "records/").string()));
  const platform::MessageRecorder noLanguageFile;
  w.FormCreate();
  EXPECT_EQ(w.windowTitle().toStdString(), "Tessaly - [Muster, Erika  *12.08.1964]");
  EXPECT_EQ(w.RecordSession().Patient().Name, "Muster");
  Choose(w, "ButtonImage2", Write("three.png", 90, 50, Qt::red));
  EXPECT_EQ(w.windowTitle().toStdString(), "Tessaly");
  EXPECT_FALSE(w.RecordSession().Patient().Known());
}

TEST_F(FormMainTest, FineNudgesLeaveTheOverlayBetweenStepsAsTheRendererDrawsIt) {
  QImage photo(
      QString::fromStdString(std::string(TESSALY_TESTDATA) + "/photos-large/NT96650_pcb_002.JPG"));
  ASSERT_FALSE(photo.isNull());
  const std::string one = (Dir / "board.png").string(), two = (Dir / "part.png").string();
  ASSERT_TRUE(photo.scaled(1200, 900).save(QString::fromStdString(one)));
  ASSERT_TRUE(photo.copy(500, 300, 701, 451).save(QString::fromStdString(two)));  // odd sides
  TFormMain w(Hooks());
  Show(w);
  Choose(w, "ButtonImage1", one);
  Choose(w, "ButtonImage2", two);
  TMainController& c = w.Controller();
  c.GaugeBar5().SetPosition(37);
  const auto press = [&](Qt::Key Key, int Times) {
    for (int i = 0; i < Times; ++i) QTest::keyClick(&w, Key, Qt::AltModifier);
  };
  press(Qt::Key_Right, 3);
  press(Qt::Key_PageUp, 2);
  press(Qt::Key_Up, 1);
  ASSERT_TRUE(c.Precise());
  const TPrecisePlacement p = c.Placement();
  EXPECT_NEAR(p.X, 0.3, 1e-12);
  EXPECT_NEAR(p.Angle, 0.2, 1e-12);
  EXPECT_NEAR(p.Y, -0.1, 1e-12);
  EXPECT_EQ(float(p.Zoom), OverlayZoomFactor(37));
  EXPECT_EQ(Text(w, TField::EditX), QString::fromUtf8(BetweenStepsMark) + "0.3");
  EXPECT_EQ(c.GaugeBar2().Position(), 0);  // the slider shows the nearest step

  // The renderer with the same placement draws the window's viewport to the bit.
  const auto exact = [](double V) { return FormatExact(V); };
  const std::string out = (Dir / "precise.png").string();
  std::ostringstream said, err;
  ASSERT_EQ(
      RunRenderCommand(
          {"--precise", exact(p.Angle) + "," + exact(p.Zoom) + "," + exact(p.X) + "," + exact(p.Y),
           one, two, out},
          said, err),
      0)
      << err.str();
  const raster::TRect viewport = c.ImgView().GetViewportRect();
  const QImage shown = w.ImgViewHost()
                           ->grab()
                           .toImage()
                           .copy(viewport.Left, viewport.Top, viewport.Width(), viewport.Height())
                           .convertToFormat(QImage::Format_RGB32);
  const QImage rendered = QImage(QString::fromStdString(out)).convertToFormat(QImage::Format_RGB32);
  ASSERT_EQ(rendered.size(), shown.size());
  EXPECT_TRUE(rendered == shown);

  // Three nudges back land on the slider state itself; a slider move from between the steps
  // gives the slider state exactly.
  press(Qt::Key_Left, 3);
  press(Qt::Key_PageDown, 2);
  press(Qt::Key_Down, 1);
  EXPECT_FALSE(c.Precise());
  EXPECT_EQ(c.RotLayer()->Zoom().X, 1.0f);
  EXPECT_EQ(Text(w, TField::EditX), "0");
  press(Qt::Key_Right, 1);
  ClickNext(w, c.GaugeBar1());
  EXPECT_FALSE(c.Precise());
  EXPECT_EQ(c.RotLayer()->Angle(), 1.0f);
  EXPECT_EQ(c.RotLayer()->Position().X, float(701 / 2));
}

// Key D (the context menu's "Differenz" entry) draws the overlay as the per-channel difference
// from picture 1, following the sliders; D again blends it as before.
TEST_F(FormMainTest, TheDifferenceViewShowsTheChannelDifferenceAndFollowsTheSliders) {
  TFormMain w(Hooks());
  Show(w);
  LoadBoth(w);
  TMainController& c = w.Controller();
  const auto pixel = [&](int X, int Y) { return ShownPixel(w, X, Y); };
  auto* action = w.findChild<QAction*>("MenuDifference");
  ASSERT_NE(action, nullptr);
  EXPECT_TRUE(w.ImgViewHost()->actions().contains(action));  // the view's context menu
  const QColor blended = pixel(50, 30);

  QTest::keyClick(&w, Qt::Key_D);
  EXPECT_TRUE(c.DifferenceView());
  // |dark cyan (0, 128, 128) - yellow (255, 255, 0)| where the overlay lies, picture 1 beside.
  EXPECT_EQ(pixel(50, 30), QColor(255, 127, 128));
  EXPECT_EQ(pixel(150, 30), QColor(Qt::darkCyan));
  c.GaugeBar2().SetPosition(40);  // the overlay 40 pixels to the right
  EXPECT_EQ(pixel(20, 30), QColor(Qt::darkCyan));
  EXPECT_EQ(pixel(120, 30), QColor(255, 127, 128));
  EXPECT_EQ(c.Sliders().Alpha, AlphaSlider.Initial);  // the opacity is left alone

  QTest::keyClick(&w, Qt::Key_D);
  EXPECT_FALSE(c.DifferenceView());
  EXPECT_EQ(pixel(50, 30), blended);
}

// The print button's arrow opens its menu: the print, the three exports, the PACS's two entries.
// The aligned picture's entry writes picture 2 in picture 1's frame, at picture 1's size, to the
// file its save dialog names (here the test's), the user's alone; a file of no export format is
// told once, by its reason, and not written.
TEST_F(FormMainTest, ThePrintButtonsMenuExportsTheAlignedPicture) {
  std::optional<TExportKind> asked;
  std::string path = (Dir / "aligned.TIFF").string();
  TFormMainHooks hooks = Hooks();
  hooks.ChooseExportFile = [&](TExportKind Kind) {
    asked = Kind;
    return path;
  };
  TFormMain w(hooks);
  Show(w);
  LoadBoth(w);
  auto* button = w.findChild<QToolButton*>("BitBtnPrint");
  ASSERT_NE(button, nullptr);
  ASSERT_NE(button->menu(), nullptr);
  EXPECT_EQ(button->popupMode(), QToolButton::MenuButtonPopup);
  QStringList entries;
  for (QAction* a : button->menu()->actions()) {
    if (!a->isSeparator()) entries << a->text();
  }
  EXPECT_EQ(
      entries,
      QStringList(
          {QString::fromUtf8("Drucken…"), QString::fromUtf8("Ausgerichtetes Bild exportieren…"),
           QString::fromUtf8("Nebeneinander exportieren…"),
           QString::fromUtf8("Differenzbild exportieren…"), QString::fromUtf8("DICOM exportieren…"),
           QString::fromUtf8("An PACS senden"), QString::fromUtf8("PACS-Verbindung prüfen")}));
  w.Controller().GaugeBar2().SetPosition(40);  // picture 2 from column 40 on

  QAction* entry = PrintMenuEntry(w, int(TExportKind::Aligned));
  ASSERT_NE(entry, nullptr);
  platform::MessageRecorder recorder;
  entry->trigger();
  EXPECT_EQ(asked, TExportKind::Aligned);
  // Confirmed with where it went.
  EXPECT_EQ(recorder.Texts(), std::vector<std::string>{Tr(ExportDoneText, path)});
  EXPECT_EQ(fs::status(path).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
  const std::unique_ptr<raster::TBitmap32> exported = LoadPicture(path).Value();
  ASSERT_NE(exported, nullptr);
  EXPECT_EQ(exported->Width(), 300);
  EXPECT_EQ(exported->Height(), 200);
  EXPECT_EQ(exported->GetPixel(90, 30) & 0xFFFFFFu, 0xFFFF00u);  // picture 2, yellow
  EXPECT_EQ(exported->GetPixel(20, 30) & 0xFFFFFFu, 0u);         // left of it: nothing
  EXPECT_EQ(exported->GetPixel(90, 150) & 0xFFFFFFu, 0u);        // below it

  path = (Dir / "aligned.gif").string();
  recorder.Clear();
  entry->trigger();
  EXPECT_EQ(recorder.Texts(), std::vector<std::string>{Tr(ExportUnknownFormatText) + "\n" + path});
  EXPECT_FALSE(fs::exists(path));
}

// "Send to PACS" with the PACS away: the comparison, as the DICOM export makes it, waits in the
// user's outbox, and the message says what is left and why; the check says the same reason.
TEST_F(FormMainTest, SendingToAnAbsentPacsLeavesTheComparisonInTheOutboxAndSaysWhy) {
  ::setenv("XDG_DATA_HOME", (Dir / "data").c_str(), 1);
  TFormMain w(Hooks((Dir / "records/").string(), (Dir / "Tessaly.ini").string()));
  // One capture; port 1 on the loopback: nothing listens there.
  std::ofstream(w.SettingsFile()) << "[Output]\nImageCount=1\n[PACS]\nHost=127.0.0.1\nPort=1\n";
  w.LoadSettings();
  GivePatient(w);
  Show(w);
  LoadBoth(w);
  QAction *send = PrintMenuEntry(w, PacsSendEntry), *check = PrintMenuEntry(w, PacsEchoEntry);
  ASSERT_TRUE(send != nullptr && check != nullptr);
  platform::MessageRecorder recorder;
  send->trigger();
  // Both pictures and the one capture; nothing of them is left outside the outbox.
  const std::vector<fs::path> waiting(fs::directory_iterator(Dir / "data/tessaly/outbox"), {});
  EXPECT_EQ(waiting.size(), 3u);
  const std::string unreachable =
      Tr(PacsUnreachableText, "127.0.0.1:1") + "\n" + Tr(PacsConnectionRefusedText);
  ASSERT_EQ(recorder.Texts().size(), 1u);
  EXPECT_EQ(recorder.Texts()[0].rfind(Tr(PacsLeftText, "").substr(0, 10), 0), 0u)
      << recorder.Texts()[0];
  EXPECT_NE(recorder.Texts()[0].find(unreachable), std::string::npos) << recorder.Texts()[0];
  // The objects by picture and kind, never by their UIDs or paths; a failure's icon.
  EXPECT_NE(recorder.Texts()[0].find(Tr(PacsObjectPicture1Text) + ", " + Tr(PacsObjectAlignedText)),
            std::string::npos)
      << recorder.Texts()[0];
  EXPECT_EQ(recorder.Texts()[0].find(".dcm"), std::string::npos) << recorder.Texts()[0];
  EXPECT_EQ(recorder.Messages()[0].Icon, platform::MessageIcon::Warning);
  check->trigger();
  EXPECT_EQ(recorder.Texts().back(), unreachable);
  ::unsetenv("XDG_DATA_HOME");
}

// A send of twenty objects to a PACS that answers slowly runs off the window's thread: the window
// repaints and the progress counts while the PACS works, a cancel ends the send, and every object
// not confirmed waits in the outbox. The retry sends what waits without making the comparison
// again: the PACS ends up with the twenty (the one in flight at the cancel perhaps twice, which
// to a PACS is the same instance).
TEST_F(FormMainTest, ASlowPacsSendKeepsTheWindowPaintingCountsAndCanBeCancelledLosingNothing) {
  ::setenv("XDG_DATA_HOME", (Dir / "data").c_str(), 1);
  testsupport::TScriptedPacs pacs(false, testsupport::TScriptedPacs::Takes, {}, 2,
                                  std::chrono::milliseconds(150));
  ASSERT_TRUE(pacs.Listening());
  TFormMain w(Hooks((Dir / "records/").string(), (Dir / "Tessaly.ini").string()));
  // 18 captures and the two pictures: twenty objects.
  std::ofstream(w.SettingsFile()) << "[Output]\nImageCount=18\n[PACS]\nHost=127.0.0.1\nPort="
                                  << pacs.Port() << "\nTimeout=30\n";
  w.LoadSettings();
  GivePatient(w);
  Show(w);
  LoadBoth(w);
  QAction* send = PrintMenuEntry(w, PacsSendEntry);
  ASSERT_NE(send, nullptr);
  struct TPaints : QObject {
    int Count = 0;
    bool eventFilter(QObject*, QEvent* Event) override {
      Count += Event->type() == QEvent::Paint;
      return false;
    }
  } paints;
  w.installEventFilter(&paints);
  const QString sending = QString::fromStdString(Tr(PacsProgressText, ""));
  int sendingMaximum = 0, paintsWhileSending = -1;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    auto* dialog = w.findChild<QProgressDialog*>("WorkProgress");
    if (dialog == nullptr || dialog->wasCanceled()) return;
    w.update();
    if (!dialog->labelText().startsWith(sending)) return;
    sendingMaximum = dialog->maximum();
    if (dialog->value() >= 3) {
      paintsWhileSending = paints.Count;
      dialog->findChild<QPushButton*>()->click();
    }
  });
  poll.start(10);
  platform::MessageRecorder recorder;
  paints.Count = 0;
  send->trigger();
  poll.stop();
  EXPECT_EQ(sendingMaximum, 20);
  EXPECT_GT(paintsWhileSending, 0);
  const TOutbox outbox((Dir / "data/tessaly/outbox/").string());
  const int stored = pacs.Stores();
  EXPECT_GE(stored, 3);
  EXPECT_LT(stored, 20);
  EXPECT_GE(int(outbox.Waiting().size()), 20 - stored);  // nothing lost
  ASSERT_EQ(recorder.Texts().size(), 1u);
  EXPECT_EQ(recorder.Texts()[0].rfind(Tr(PacsRunCancelledText), 0), 0u) << recorder.Texts()[0];

  recorder.Clear();
  send->trigger();
  EXPECT_TRUE(outbox.Waiting().empty());
  EXPECT_GE(pacs.Stores(), 20);
  EXPECT_LE(pacs.Stores(), 21);
  // Sent as it is and nothing waits: the user is asked, and No sends nothing.
  recorder.Clear();
  send->trigger();
  EXPECT_EQ(recorder.Texts(), std::vector<std::string>{Tr(PacsUnchangedText)});
  ::unsetenv("XDG_DATA_HOME");
}

// The DICOM folder dialog takes the name of a folder not made yet (Qt's own refuses it), and an
// existing folder as before.
TEST_F(FormMainTest, TheDicomFolderDialogTakesANewFoldersName) {
  for (const std::string name : {"new folder", "existing"}) {
    if (name == "existing") fs::create_directory(Dir / name);
    TFolderDialog dialog;
    dialog.setDirectory(QString::fromStdString(Dir.string()));
    dialog.selectFile(QString::fromStdString(name));
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Accepted) << name;
    EXPECT_EQ(dialog.Chosen(), (Dir / name).string());
  }
}

// An export cancelled midway leaves nothing of it: the objects written are removed, and the
// folder it made.
TEST_F(FormMainTest, ACancelledDicomExportLeavesNothing) {
  TFormMain w(Hooks((Dir / "records/").string()));
  GivePatient(w);
  Show(w);
  LoadBoth(w);
  TDicomExport request;
  request.Folder = (Dir / "dicom").string();
  request.Patient = {"Roe", "Jane", "", "A-1", "", ""};
  request.ImageCount = 3;
  TDicomExportJob job(w.Controller(), request, DicomTextsOfLanguage());
  ASSERT_TRUE(job.Refusal().Ok()) << job.Refusal().Reason();
  platform::TCancel cancel;
  int told = 0;
  const TDicomExportOutcome outcome =
      job.Run(&cancel, [&](int Number, int, TDicomObjectKind, const std::string&) {
        told = Number;
        if (Number == 3) cancel.Cancel();
      });
  EXPECT_EQ(told, 3);
  EXPECT_EQ(outcome.Status.Reason(), Tr(DicomExportCancelledText));
  EXPECT_TRUE(outcome.Files.empty());
  EXPECT_FALSE(fs::exists(Dir / "dicom"));
}

// The menu's DICOM entry writes the comparison into the folder its dialog names (the two
// pictures and a capture per print opacity, each the user's alone), and the record keeps the
// study, so that the next export goes into it. Without a patient it writes nothing and says so.
TEST_F(FormMainTest, ThePrintButtonsMenuExportsDicomIntoTheStudyTheRecordKeeps) {
  std::string folder = (Dir / "dicom1").string();
  TFormMainHooks hooks = Hooks((Dir / "records/").string(), (Dir / "Tessaly.ini").string());
  hooks.ChooseDicomFolder = [&] { return folder; };
  TFormMain w(hooks);
  std::ofstream(w.SettingsFile()) << "[Output]\nImageCount=2\n";
  w.LoadSettings();
  Show(w);
  LoadBoth(w);
  QAction* entry = PrintMenuEntry(w, DicomEntry);
  ASSERT_NE(entry, nullptr);
  platform::MessageRecorder recorder;
  entry->trigger();
  EXPECT_EQ(recorder.Texts(), std::vector<std::string>{Tr(DicomNoPatientText)});
  EXPECT_FALSE(fs::exists(folder));
  recorder.Clear();
  GivePatient(w);
  entry->trigger();
  EXPECT_EQ(recorder.Texts(), std::vector<std::string>{Tr(DicomExportDoneText, folder)});
  int files = 0;
  for (const auto& file : fs::directory_iterator(folder)) {
    ++files;
    EXPECT_EQ(file.status().permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
  }
  EXPECT_EQ(files, 2 + 2);
  platform::TResult<TComparisonRecord> kept = ReadComparisonRecord(w.RecordPath());
  ASSERT_TRUE(kept) << kept.Reason();
  const std::string study = kept.Value().StudyInstanceUid;
  EXPECT_FALSE(study.empty());

  folder = (Dir / "dicom2").string();
  entry->trigger();
  EXPECT_TRUE(fs::exists(folder));
  EXPECT_EQ(ReadComparisonRecord(w.RecordPath()).Value().StudyInstanceUid, study);

  // A folder as the dialog's New Folder button makes it (0755): closed to others when the user
  // agrees, and only then written into.
  folder = (Dir / "made-by-the-dialog").string();
  fs::create_directory(folder);
  fs::permissions(folder, fs::perms(0755));
  recorder.Clear();
  recorder.Answer = false;
  entry->trigger();
  EXPECT_EQ(recorder.Texts(), std::vector<std::string>{Tr(DicomFolderOpenText, folder)});
  EXPECT_TRUE(fs::is_empty(folder));
  recorder.Answer = true;
  entry->trigger();
  EXPECT_EQ(fs::status(folder).permissions() & fs::perms::all, fs::perms::owner_all);
  EXPECT_FALSE(fs::is_empty(folder));
}

// Key F flickers between picture 1 alone and the overlay fully opaque, one state per tick of
// its clock (here the test's), without touching the opacity slider or picture 1's backdrop; a
// slider change ends it and the overlay shows as its sliders say.
TEST_F(FormMainTest, FlickerAlternatesBothStatesUntilASliderMoves) {
  TFormMain w(Hooks());
  Show(w);
  LoadBoth(w);
  TMainController& c = w.Controller();
  raster::TImgView32& view = c.ImgView();
  const auto pixel = [&](int X, int Y) { return ShownPixel(w, X, Y); };
  const QColor blended = pixel(50, 30);
  const TSliderPositions sliders = c.Sliders();
  auto* action = w.findChild<QAction*>("MenuFlicker");
  ASSERT_NE(action, nullptr);
  EXPECT_TRUE(w.ImgViewHost()->actions().contains(action));

  QTest::keyClick(&w, Qt::Key_F);
  ASSERT_TRUE(c.Flickering());
  for (int tick = 0; tick < 4; ++tick) {
    SCOPED_TRACE(tick);
    EXPECT_TRUE(view.BackdropValid());  // a flicker step repaints from the kept backdrop
    EXPECT_EQ(pixel(50, 30), tick % 2 == 0 ? QColor(Qt::darkCyan) : QColor(Qt::yellow));
    EXPECT_EQ(c.FlickerLabel().Text(), tick % 2 == 0 ? "Bild 1" : "Bild 2");
    EXPECT_EQ(c.Sliders(), sliders);
    w.FlickerTick();
  }
  c.GaugeBar3().SetPosition(5);
  EXPECT_FALSE(c.Flickering());
  EXPECT_EQ(c.FlickerLabel().Text(), "");
  w.FlickerTick();
  EXPECT_FALSE(action->isChecked());
  EXPECT_EQ(pixel(50, 40), blended);
}

TEST_F(FormMainTest, AMissingLanguageFileIsReportedAtStart) {
  TFormMain w(Hooks());
  platform::MessageRecorder recorder;
  w.FormCreate();  // no TsLang.ini beside the test program
  EXPECT_EQ(recorder.Texts(),
            std::vector<std::string>{"Sprachdatei fehlt.\nNo language file.\n\n[TsLang.ini]"});
  EXPECT_EQ(w.findChild<QPushButton*>("ButtonClose")->text(), QString::fromUtf8("Schließen"));
}

// An exception escaping an event handler is shown and the program goes on.
class Thrower : public QObject {
 public:
  bool event(QEvent* E) override {
    if (E->type() == QEvent::User) throw std::runtime_error("Kein Speicher");
    return QObject::event(E);
  }
};

TEST(Application, AnEscapingExceptionIsShownAndTheEventLoopGoesOn) {
  platform::MessageRecorder recorder;
  Thrower t;
  QEvent e(QEvent::User);
  EXPECT_TRUE(QCoreApplication::sendEvent(&t, &e));
  ASSERT_EQ(recorder.Messages().size(), 1u);
  EXPECT_EQ(recorder.Messages()[0].Text, "Kein Speicher");
  EXPECT_EQ(recorder.Messages()[0].Icon, platform::MessageIcon::Error);
}

}  // namespace
}  // namespace overlay
