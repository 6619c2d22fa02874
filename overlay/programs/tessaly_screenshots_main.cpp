// tessaly-screenshots: starts the overlay program's real windows through the program entry,
// loads a picture pair through the main window's buttons, moves the sliders, draws measures on
// the view, marks two points in the assistant, zooms it in on point 1 and saves what each window
// shows (printing each measure's label):
//   tessaly-screenshots DIR PICTURE1 PICTURE2
// or starts it with an interface file, as a calling application does, and saves the main window
// as main-interface.png:
//   tessaly-screenshots --interface DIR INTERFACE-FILE
// or, for an interface file that gives picture 1 its scale, zooms the view out and saves the
// window with its scale bar as main-scalebar.png:
//   tessaly-screenshots --scale-bar DIR INTERFACE-FILE
// or loads a picture pair and clicks the print button, the page going where a print of the
// real program goes (TEMP, ...); instead of opening the page it prints "opened PAGE", and each
// message as "message: TEXT" (exit status 0 when a page was opened):
//   tessaly-screenshots --print PICTURE1 PICTURE2
#include <stdlib.h>

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QThread>
#include <QTimer>
#include <QToolButton>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "overlay/programs/program.h"
#include "overlay/windows/about_box.h"
#include "overlay/windows/assistent.h"
#include "overlay/windows/form_main.h"
#include "overlay/windows/picture_view.h"
#include "platform/command_line.h"
#include "platform/control_host.h"
#include "platform/message.h"
#include "platform/shell.h"

namespace {

void Click(QWidget* Target, QPointF At) {
  for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
    QMouseEvent e(type, At, Target->mapToGlobal(At), Qt::LeftButton,
                  type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(Target, &e);
  }
}

// Picture 1 and 2 as the main window's buttons load them once the user picked them.
void LoadPair(overlay::TFormMain& Main, const std::string& One, const std::string& Two) {
  Main.OpenPicture(1, One);
  Main.OpenPicture(2, Two);
}

bool Save(QWidget& Window, const std::string& Path) {
  QApplication::processEvents();
  const bool ok = Window.grab().save(QString::fromStdString(Path));
  std::cout << (ok ? "wrote " : "could not write ") << Path << "\n";
  return ok;
}

}  // namespace

const char* const Usage =
    "usage: tessaly-screenshots DIR PICTURE1 PICTURE2\n"
    "       tessaly-screenshots --interface DIR INTERFACE-FILE\n"
    "       tessaly-screenshots --scale-bar DIR INTERFACE-FILE\n"
    "       tessaly-screenshots --print PICTURE1 PICTURE2\n";

int Shoot(const std::string& Program, const std::string& mode,
          const std::vector<std::string>& Names) {  // mode: "" or the flag given
  // The windows keep comparison records of the pairs they show; the screenshots' go nowhere.
  std::string data = std::filesystem::temp_directory_path() / "tessaly-screenshots-XXXXXX";
  if (::mkdtemp(data.data()) == nullptr) return 1;
  qputenv("XDG_DATA_HOME", QByteArray::fromStdString(data));
  struct TRemove {
    std::string Path;
    ~TRemove() {
      std::error_code ec;
      std::filesystem::remove_all(Path, ec);
    }
  } removed{data};
  // The window framework's own arguments: the program, and the interface file where one is
  // given, as a calling application starts the program.
  std::string program = Program, interface = mode.empty() || mode == "--print" ? "" : Names[1];
  std::vector<char*> qt{program.data()};
  if (!interface.empty()) qt.push_back(interface.data());
  qt.push_back(nullptr);
  int qtArgc = int(qt.size()) - 1;
  char** qtArgv = qt.data();
  if (mode == "--print") {
    const std::string one = Names[0], two = Names[1];
    platform::MessageRecorder messages;
    platform::ShellOpenRecorder opened;
    overlay::RunTessaly(qtArgc, qtArgv, [&](overlay::TProgramWindows& W) {
      overlay::TFormMain& main = *W.FormMain;
      LoadPair(main, one, two);
      main.findChild<QToolButton*>("BitBtnPrint")->click();
      QApplication::quit();
    });
    for (const std::string& text : messages.Texts()) std::cout << "message: " << text << "\n";
    for (const std::string& page : opened.Targets()) std::cout << "opened " << page << "\n";
    return opened.Targets().empty() ? 1 : 0;
  }
  if (mode == "--interface" || mode == "--scale-bar") {
    const std::string dir = Names[0];
    std::filesystem::create_directories(dir);
    int status = 1;
    overlay::RunTessaly(qtArgc, qtArgv, [&](overlay::TProgramWindows& W) {
      // The caption belongs to the window frame, which a grab of the window does not show.
      std::cout << "caption: " << W.FormMain->windowTitle().toStdString() << "\n";
      if (mode == "--interface") {
        status = Save(*W.FormMain, dir + "/main-interface.png") ? 0 : 1;
      } else {
        overlay::TMainController& c = W.FormMain->Controller();
        c.GaugeBar4().SetPosition(-45);
        const bool shown = c.ScaleBarShown();
        std::cout << "scale bar " << (shown ? "shown" : "not shown") << "\n";
        status = Save(*W.FormMain, dir + "/main-scalebar.png") && shown ? 0 : 1;
        // The mouse over a via of picture 1: the status bar names it in pixels and millimetres.
        const raster::TPoint at = c.ImgView().BitmapToControl({795, 296});
        QWidget* view = W.FormMain->ImgViewHost();
        QMouseEvent move(QEvent::MouseMove, QPointF(at.X, at.Y),
                         view->mapToGlobal(QPointF(at.X, at.Y)), Qt::NoButton, Qt::NoButton,
                         Qt::NoModifier);
        QApplication::sendEvent(view, &move);
        const QString said = W.FormMain->findChild<QLabel*>("LabelStatusPosition")->text();
        std::cout << "status: " << said.toStdString() << "\n";
        if (!Save(*W.FormMain, dir + "/main-status.png") || !said.contains(" mm")) status = 1;
      }
      QApplication::quit();
    });
    return status;
  }
  const std::string dir = Names[0], one = Names[1], two = Names[2];
  std::filesystem::create_directories(dir);
  int status = 1;
  // No box may wait for an answer: the pair is loaded twice, and the second time its record
  // asks to be restored (No). Whatever would have been shown is printed at the end.
  platform::MessageRecorder quiet;
  overlay::RunTessaly(qtArgc, qtArgv, [&](overlay::TProgramWindows& W) {
    overlay::TFormMain& main = *W.FormMain;
    LoadPair(main, one, two);
    overlay::TMainController& c = main.Controller();
    c.GaugeBar4().SetPosition(-45);
    c.GaugeBar1().SetPosition(4);
    c.GaugeBar2().SetPosition(60);
    c.GaugeBar3().SetPosition(-40);
    c.GaugeAlpha().SetPosition(150);
    bool ok = Save(main, dir + "/main.png");

    // The automatic alignment from the state above; its worker posts the result back.
    main.findChild<QPushButton*>("ButtonAutoAlign")->click();
    while (main.AutoAligning()) {
      QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    ok = Save(main, dir + "/main-auto-align.png") && ok;

    // Two fine nudges to the right with Alt: the read-outs show the placement between the
    // slider steps.
    for (int i = 0; i < 2; ++i) {
      QKeyEvent press(QEvent::KeyPress, Qt::Key_Right, Qt::AltModifier);
      QCoreApplication::sendEvent(&main, &press);
    }
    ok = Save(main, dir + "/main-precise.png") && c.Precise() && ok;
    const overlay::TPrecisePlacement placed = c.Placement();

    // The difference view of the aligned pair: what has not changed turns black.
    QAction* difference = main.findChild<QAction*>("MenuDifference");
    difference->trigger();
    ok = Save(main, dir + "/main-difference.png") && ok;
    difference->trigger();
    // The swipe at the middle of picture 1, and the checkerboard.
    for (const auto& [name, file] :
         {std::pair{"MenuSwipe", "/main-swipe.png"}, std::pair{"MenuChecker", "/main-checker.png"},
          std::pair{"MenuSide", "/main-side.png"}}) {
      QAction* mode = main.findChild<QAction*>(name);
      mode->trigger();
      ok = Save(main, dir + file) && ok;
      mode->trigger();
    }
    // The flicker showing picture 2, its label in the corner with the date it was taken.
    {
      QAction* flicker = main.findChild<QAction*>("MenuFlicker");
      flicker->trigger();
      main.FlickerTick();
      ok = Save(main, dir + "/main-flicker-label.png") && ok;
      std::cout << "flicker label: " << c.FlickerLabel().Text() << "\n";
      flicker->trigger();
    }
    // Picture 2 as a darker retake (another lamp), in the difference view with its colours
    // matched: what stays is the change, not the lighting. Then the real picture 2 again.
    {
      QImage dark(QString::fromStdString(two));
      dark = dark.convertToFormat(QImage::Format_RGB32);
      for (int y = 0; y < dark.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(dark.scanLine(y));
        for (int x = 0; x < dark.width(); ++x) {
          row[x] = qRgb(qRed(row[x]) * 6 / 10, qGreen(row[x]) * 7 / 10, qBlue(row[x]) * 8 / 10);
        }
      }
      const std::string darkPath = dir + "/.retake-darker.png";
      dark.save(QString::fromStdString(darkPath));
      main.OpenPicture(2, darkPath);
      c.PlacePrecisely(placed);
      c.GaugeBar4().SetPosition(-45);  // the overview again
      difference->trigger();
      QAction* match = main.findChild<QAction*>("MenuMatchColours");
      match->trigger();
      ok = Save(main, dir + "/main-matched-difference.png") && c.ColourMatch().Fitted && ok;
      match->trigger();
      difference->trigger();
      std::filesystem::remove(darkPath);
      main.OpenPicture(2, two);
    }

    // Measuring on the aligned pair, with both pictures' scales as an interface file gives
    // them (picture 2 taken from a little closer): the switch's outline on picture 1, then, at
    // full opacity, on picture 2 a little larger, and in the blend again a ruler along the
    // pads, all clicked on the view.
    {
      c.PlacePrecisely(placed);
      c.GaugeBar4().SetPosition(-45);
      c.SetPictureScale(one, 1524);
      c.SetPictureScale2(two, 1579);
      QWidget* view = main.ImgViewHost();
      const auto clickAt = [&](double X, double Y) {
        const overlay::TMeasureScreen screen = c.MeasureScreen();
        Click(view, QPointF(screen.Left + X * screen.ScaleX, screen.Top + Y * screen.ScaleY));
      };
      const auto key = [&main](Qt::Key Key) {
        QKeyEvent press(QEvent::KeyPress, Key, Qt::NoModifier);
        QCoreApplication::sendEvent(&main, &press);
      };
      main.findChild<QAction*>("MenuOutline")->trigger();
      for (const auto& [x, y] : {std::pair{655, 470}, std::pair{1460, 470}, std::pair{1460, 1300},
                                 std::pair{655, 1300}}) {
        clickAt(x, y);
      }
      key(Qt::Key_Return);
      c.GaugeAlpha().SetPosition(255);
      for (const auto& [x, y] : {std::pair{630, 440}, std::pair{1490, 450}, std::pair{1500, 1330},
                                 std::pair{640, 1335}, std::pair{630, 440}}) {
        clickAt(x, y);
      }
      c.GaugeAlpha().SetPosition(150);
      main.findChild<QAction*>("MenuRuler")->trigger();
      clickAt(280, 470);
      clickAt(280, 1130);
      key(Qt::Key_Escape);  // the tool off
      ok = Save(main, dir + "/main-measure.png") && c.Measures().size() == 3 && ok;
      for (std::size_t i = 0; i < c.Measures().size(); ++i) {
        for (const std::string& line :
             overlay::MeasureLabel(c.Measures(), i, c.MeasureFrame(), ".")) {
          std::cout << "measure " << i + 1 << " (picture " << c.Measures()[i].Picture
                    << "): " << line << "\n";
        }
      }
    }

    // The open dialog with its filter list open; the list is a window of its own, so the
    // screen is taken.
    {
      QFileDialog dialog(&main);
      main.PrepareOpenPictureDialog(dialog);
      dialog.setOption(QFileDialog::DontUseNativeDialog);
      dialog.setDirectory(
          QString::fromStdString(std::filesystem::absolute(one).parent_path().string()));
      dialog.resize(760, 460);
      dialog.move(120, 120);
      dialog.show();
      auto* types = dialog.findChild<QComboBox*>("fileTypeCombo");
      if (types != nullptr) types->showPopup();
      QApplication::processEvents();
      QThread::msleep(200);
      QApplication::processEvents();
      const QRect area =
          dialog.frameGeometry().united(types != nullptr && types->view()->window()->isVisible()
                                            ? types->view()->window()->frameGeometry()
                                            : QRect());
      const bool grabbed = dialog.screen()
                               ->grabWindow(0, area.x(), area.y(), area.width(), area.height())
                               .save(QString::fromStdString(dir + "/open-dialog.png"));
      std::cout << (grabbed ? "wrote " : "could not write ") << dir << "/open-dialog.png\n";
      ok = grabbed && ok;
      if (types != nullptr) types->hidePopup();
      dialog.reject();
    }

    main.findChild<QToolButton*>("BitBtnInfo")->click();
    ok = Save(*W.AboutBox, dir + "/about.png") && ok;
    W.AboutBox->hide();

    // The assistant runs modally; its points are marked from the loop it runs.
    overlay::TFormAssistent& assistent = *W.FormAssistent;
    auto* poll = new QTimer(&assistent);
    QObject::connect(poll, &QTimer::timeout, [&, poll] {
      if (!assistent.isVisible() || assistent.Logic().Step != 1) return;
      poll->stop();
      // At its default size, whatever size a run from this folder left in Tessaly.ini.
      assistent.resize(overlay::TFormAssistent::DefaultWidth,
                       overlay::TFormAssistent::DefaultHeight);
      // Two vias of the sample pair's picture 1, on their pixel centres in the fitted picture.
      overlay::TPictureView& image = assistent.Image();
      const auto viewPoint = [&image](double X, double Y) {
        const overlay::TPointD v = image.Zoom().ToView({X + 0.5, Y + 0.5});
        return QPointF(v.X, v.Y);
      };
      Click(&image, viewPoint(795, 296));
      Click(&image, viewPoint(1560, 985));
      bool shot = Save(assistent, dir + "/assistant.png");
      // Eight times about point 1, which is then moved to the middle: its pixels as squares,
      // the mark on its centre.
      image.ZoomAbout(8 / image.Zoom().Scale(), viewPoint(795, 296));
      const QPointF mark = viewPoint(795, 296);
      image.PanBy(image.width() / 2.0 - mark.x(), image.height() / 2.0 - mark.y());
      shot = Save(assistent, dir + "/assistant-zoomed.png") && shot;
      assistent.reject();
      status = ok && shot ? 0 : 1;
      QApplication::quit();
    });
    poll->start(50);
    main.findChild<QPushButton*>("ButtonAssistent")->click();
  });
  for (const std::string& text : quiet.Texts()) std::cout << "message: " << text << "\n";
  return status;
}

int main(int argc, char** argv) {
  return platform::RunGuarded("tessaly-screenshots", [&] {
    std::string mode;
    platform::TCommandLine line("tessaly-screenshots", Usage, std::cout, std::cerr);
    for (const char* name : {"--interface", "--scale-bar", "--print"}) {
      line.Flag(name, [&mode, name] {
        if (!mode.empty())
          throw platform::ECommandLineError("one of --interface, --scale-bar, --print");
        mode = name;
      });
    }
    return line.Run({argv + 1, argv + argc}, [&](const std::vector<std::string>& Names) {
      const std::size_t count = mode.empty() ? 3 : 2;
      platform::ExpectNames(Names, count, count,
                            mode.empty()        ? "DIR PICTURE1 PICTURE2"
                            : mode == "--print" ? "PICTURE1 PICTURE2"
                                                : "DIR INTERFACE-FILE");
      return Shoot(argv[0], mode, Names);
    });
  });
}
