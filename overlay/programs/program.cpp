#include "overlay/programs/program.h"

#include <QIcon>
#include <QTimer>
#include <iostream>
#include <memory>

#include "overlay/scene/picture_loading.h"
#include "overlay/windows/about_box.h"
#include "overlay/windows/assistent.h"
#include "overlay/windows/form_main.h"
#include "overlay/windows/icons.h"
#include "overlay/windows/sprache.h"
#include "platform/application.h"
#include "platform/command_line.h"
#include "platform/file_write.h"
#include "platform/pixel_memory.h"
#include "platform/window_entry.h"

namespace overlay {

namespace {

constexpr const char* UsageText =
    "Usage: tessaly [INTERFACE-FILE]\n"
    "\n"
    "Tessaly lays one photograph over another: picture 1 in a zoomable, scrollable view,\n"
    "picture 2 over it as a semi-transparent layer that six sliders move, turn, zoom and\n"
    "fade, or that a two-point assistant aligns.\n"
    "\n"
    "INTERFACE-FILE  an interface file written by a calling application; when it names\n"
    "                exactly two pictures, both are loaded at the start.\n"
    "\n"
    "The window texts come from TsLang.ini beside the program; the window's place and size\n"
    "(stored by the Close button) and the number of print captures (Output/ImageCount, 5 by\n"
    "default, at most 100: a larger value counts as 100) are kept in Tessaly.ini beside it.\n"
    "Copies in ~/.config/tessaly or /etc/xdg/tessaly are read first, and where the\n"
    "program's folder cannot be written (an installation) Tessaly.ini is written to\n"
    "~/.config/tessaly.\n"
    "\n"
    "The print page and its captures go into a folder of the user's own, tessaly-UID in\n"
    "TEMP or TMPDIR, else ~/.cache/tessaly-tmp, else tessaly-UID in /tmp.\n"
    "\n"
    "Environment:\n"
    "  TESSALY_SNAPSHOT=FILE  once started, write a picture of the window to FILE and end\n"
    "\n"
    "Options:\n"
    "  --help        show this text\n"
    "  --version     show the version\n";

}  // namespace

bool AnswerInformationalArguments(const std::vector<std::string>& Args, std::ostream& Out) {
  return platform::TCommandLine("tessaly", UsageText, Out, std::cerr).AnswerFirst(Args);
}

int RunTessaly(int Argc, char** Argv, const std::function<void(TProgramWindows&)>& AfterStart) {
  platform::InstallMappedPixelAllocator();
  platform::TApplication app(Argc, Argv);
  // What is left once the window framework has taken its own options.
  platform::SetProgramParameters(std::vector<std::string>(Argv + 1, Argv + Argc));
  QApplication::setApplicationName(QStringLiteral("Tessaly"));
  QGuiApplication::setDesktopFileName(QStringLiteral("org.tessaly.Tessaly"));
  QApplication::setWindowIcon(ProgramIcon());
  // The bitmap's own file loader (used wherever a picture is read straight into a bitmap)
  // opens every format the main window opens.
  RegisterPictureDecoder();
  // What an earlier run that ended abruptly left of its folders for the PACS (the patient's
  // pictures as DICOM objects).
  if (const std::string temp = platform::TempDirectory(); !temp.empty()) {
    platform::RemoveFoldersOfEndedProcesses(temp, PacsFolderPrefix);
  }

  return platform::RunShowingExceptions([&] {
    // The three windows in their order; each applies the language file to all windows that
    // exist when it is created.
    // The main window's entry points open the two windows made after it.
    TFormAssistent* assistentShown = nullptr;
    TAboutBox* aboutShown = nullptr;
    TFormMainHooks hooks;
    hooks.OnInfo = [&aboutShown] { ShowAboutBox(*aboutShown); };
    hooks.OnAssistent = [&assistentShown](const std::string& PathImage1,
                                          const std::string& PathImage2) {
      return assistentShown->Run(PathImage1, PathImage2);
    };
    auto formMain = std::make_unique<TFormMain>(std::move(hooks));
    formMain->FormCreate();
    auto formAssistent = std::make_unique<TFormAssistent>(
        formMain.get(), [](QWidget&) { ApplyLanguage("TsLang.ini"); });
    auto aboutBox = std::make_unique<TAboutBox>();
    aboutBox->ApplyLanguageHook = [] { ApplyLanguage("TsLang.ini"); };
    aboutBox->FormCreate();

    TFormMain& main = *formMain;
    TFormAssistent& assistent = *formAssistent;
    assistentShown = formAssistent.get();
    aboutShown = aboutBox.get();
    assistent.OnAlign = [&main](float a1x, float a1y, float b1x, float b1y, float a2x, float a2y,
                                float b2x, float b2y) {
      return main.Controller().AlignOverlay(a1x, a1y, b1x, b1y, a2x, a2y, b2x, b2y);
    };

    main.show();
    TProgramWindows windows{formMain.get(), formAssistent.get(), aboutBox.get()};
    if (AfterStart) {
      // Once the loop runs, so that the windows are on screen.
      QTimer::singleShot(0, &main, [&] { AfterStart(windows); });
    }
    // Leaving this body frees the windows in the reverse order of their creation (the about
    // box and the assistant before the main window they refer to), all before the application.
    return app.exec();
  });
}

}  // namespace overlay
