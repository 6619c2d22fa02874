// tessaly: the overlay program.
#include <QApplication>
#include <QFileInfo>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "overlay/programs/picture_files.h"
#include "overlay/programs/program.h"
#include "overlay/windows/form_main.h"
#include "platform/command_line.h"

namespace {

// TESSALY_SNAPSHOT=FILE: once start-up is done, the main window is written to FILE as a
// picture and the program ends (status 1 when the picture could not be written). This lets a
// calling chain run to its end without a display or a user.
int RunForSnapshot(int argc, char** argv, const std::string& File) {
  int status = 0;
  const int loop = overlay::RunTessaly(argc, argv, [&](overlay::TProgramWindows& Windows) {
    QApplication::processEvents();
    QWidget& main = *Windows.FormMain;
    // The format by the file's extension, as a picture's save would choose it; PNG without one.
    QByteArray format = QFileInfo(QString::fromStdString(File)).suffix().toLatin1().toLower();
    if (format.isEmpty()) format = "png";
    if (const platform::TStatus written =
            overlay::WriteImageAtomically(main.grab().toImage(), File, format.constData());
        written) {
      // The caption belongs to the window frame, which the picture does not show.
      std::cout << "tessaly: snapshot of \"" << main.windowTitle().toStdString() << "\" written to "
                << File << std::endl;
    } else {
      std::cerr << "tessaly: the snapshot could not be written to " << File << ": "
                << written.Reason() << "\n";
      status = 1;
    }
    QApplication::exit(status);
  });
  return status ? status : loop;
}

}  // namespace

int main(int argc, char** argv) {
  return platform::RunGuarded("tessaly", [&] {
    if (overlay::AnswerInformationalArguments({argv + std::min(argc, 1), argv + argc}, std::cout)) {
      return 0;
    }
    if (const char* snapshot = std::getenv("TESSALY_SNAPSHOT"); snapshot && *snapshot) {
      return RunForSnapshot(argc, argv, snapshot);
    }
    return overlay::RunTessaly(argc, argv);
  });
}
