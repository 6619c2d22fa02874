#include "overlay/windows/print_page.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QWidget>
#include <algorithm>
#include <optional>
#include <string_view>
#include <system_error>

#include "overlay/base/texts.h"
#include "overlay/scene/main_controller.h"
#include "platform/file_write.h"
#include "platform/message.h"
#include "platform/paths.h"
#include "platform/shell.h"

namespace overlay {
namespace {

// White as a platform colour (0x00BBGGRR), so the area around picture 1 prints white.
constexpr raster::TWinColor PrintBackground = 0x00FFFFFF;

// Removes Path when it is a regular file of this user (never what a link points to, never a
// folder, never another user's file in a folder they share with us).
void RemoveOwnFile(const std::string& Path) {
  struct stat st {};
  if (::lstat(Path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid()) {
    ::unlink(Path.c_str());
  }
}

// Earlier versions went from the capture to its JPEG through Folder + "temp.bmp"; a kill at the
// wrong moment left it, an uncompressed photo of a patient. Removed when it is this user's BMP.
void RemoveFormerIntermediate(const std::string& Folder) {
  const std::string path = Folder + "temp.bmp";
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return;
  struct stat st {};
  char magic[2] = {};
  const bool ours = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
                    ::read(fd, magic, 2) == 2 && magic[0] == 'B' && magic[1] == 'M';
  ::close(fd);
  if (ours) RemoveOwnFile(path);
}

// The state that the captures change, put back by Restore, or on the way out of an exception
// so the window is never left white with a waiting cursor.
class TPrintState {
 public:
  explicit TPrintState(TMainController& Controller)
      : FController(Controller),
        FColor(Controller.ImgView().Color()),
        FPosition(Controller.GaugeAlpha().Position()) {
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
  }
  ~TPrintState() {
    Restore();
    RestoreCursor();
  }
  int Position() const { return FPosition; }
  void Restore() {
    if (FRestored) return;
    FRestored = true;
    FController.StopFlicker();  // a capture of a picture alone shows it through the flicker
    FController.ImgView().SetColor(FColor);
    FController.GaugeAlpha().SetPosition(FPosition);
  }
  void RestoreCursor() {
    if (FCursorRestored) return;
    FCursorRestored = true;
    QGuiApplication::restoreOverrideCursor();
  }

 private:
  TMainController& FController;
  raster::TWinColor FColor;
  int FPosition;
  bool FRestored = false;
  bool FCursorRestored = false;
};

}  // namespace

int WritePrintPage(const std::string& TempDir) {
  return WritePrintPageFrom(platform::LocateProgramFile("output.html").Read, TempDir);
}

int WritePrintPageFrom(const std::string& TemplatePath, const std::string& TempDir) {
  const platform::TStatus written = WriteReportPage(TemplatePath, TempDir, nullptr);
  platform::ShowFailure(written);
  return written ? 0 : 1;
}

platform::TStatus WritePrintCapture(const QImage& Capture, const std::string& TempDir, int Index) {
  // The 24-bit pixels and the resolution the capture's BMP would hold, so the result is the JPEG
  // of that BMP, without the BMP ever being on disk.
  const QImage pixels = Capture.convertToFormat(QImage::Format_BGR888);
  return WriteCaptureJpeg(pixels.isNull() ? nullptr : pixels.constBits(), pixels.width(),
                          pixels.height(), int(pixels.bytesPerLine()), pixels.dotsPerMeterX(),
                          pixels.dotsPerMeterY(), TempDir, Index);
}

void PrintComparison(QWidget& Window, TMainController& Controller, int ImageCount) {
  PrintComparisonWith(Window, Controller, ImageCount,
                      platform::LocateProgramFile("output.html").Read);
}

void PrintComparisonWith(QWidget& Window, TMainController& Controller, int ImageCount,
                         const std::string& TemplatePath, const TPrintExtras& Extras) {
  std::string error;
  const std::string tempDir = platform::TempDirectory(&error);
  if (tempDir.empty()) {
    platform::ShowMessage(Tr(PrintNoFolderText, error));
    return;
  }
  raster::TImgView32& view = Controller.ImgView();
  TPrintState state(Controller);
  view.SetColor(PrintBackground);
  if (const std::string shared = platform::TempVariableFolder(); !shared.empty()) {
    RemoveFormerIntermediate(shared);
  }
  RemoveFormerIntermediate(tempDir);

  TReportRun run;
  run.Folder = tempDir;
  run.OwnFolder = true;  // the program's private print folder: an earlier print's captures go
  run.TemplatePath = TemplatePath;
  run.Facts = ReportFactsOf(Controller);
  SetReportPatient(run.Facts, Extras.Patient);
  run.Facts.Measures = Extras.Measures;
  run.Facts.Notes = Extras.Notes;
  run.Facts.Captures = PrintCapturesOf(Controller, ImageCount);
  const int pp100 = Controller.ScaleBar().Pp100MM();
  std::optional<TFullResolutionRenderer> renderer;
  if (Extras.FullResolution) renderer.emplace(Controller, VisiblePicturePart(Controller));
  if (renderer && renderer->TooLarge()) {
    platform::ShowMessage(Tr(FullResolutionTooLargeText, renderer->PartSize()));
    return;
  }
  run.Capture = [&](std::size_t Index, const TPrintCapture& Capture) -> platform::TStatus {
    // Each opacity is set as the slider sets it, so that the overlay and the read-out agree at
    // every step; the read-out lies outside the part of the window that is captured.
    ShowPrintCapture(Controller, Capture);
    QGuiApplication::changeOverrideCursor(Qt::WaitCursor);
    platform::TStatus status;
    if (renderer) {
      const std::unique_ptr<raster::TBitmap32> shot = renderer->Render(Capture);
      status = shot ? WriteCaptureJpeg(*shot, pp100, tempDir, int(Index))
                    : platform::TStatus::Failure(
                          Tr(PrintCaptureNotWrittenText,
                             tempDir + "image" + std::to_string(Index + 1) + ".jpg"));
    } else {
      const QPixmap window = Window.grab();
      view.Invalidate();
      view.Update();
      // The viewport in the view's own coordinates, applied as it is to the window: the view
      // lies one pixel inside its panel's border, so the cut-out takes that border's top and
      // left line and leaves the viewport's last column and row. On a scaled screen the
      // capture has more pixels than the window has units; the same area is cut.
      const raster::TRect r = view.GetViewportRect();
      const qreal ratio = window.devicePixelRatio();
      const QRect cut(qRound(r.Left * ratio), qRound(r.Top * ratio), qRound(r.Width() * ratio),
                      qRound(r.Height() * ratio));
      const QImage capture = window.toImage().copy(cut).convertToFormat(QImage::Format_RGB888);
      status = WritePrintCapture(capture, tempDir, int(Index));
    }
    // The window paints and runs its timers between captures; the user's input waits for the
    // end, as it would act on the overlay that the print is stepping through.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    return status;
  };
  const TReportOutcome outcome = WriteReport(run);
  state.Restore();
  platform::ShowFailure(outcome.Captures);
  if (!outcome.Page) {
    platform::ShowFailure(outcome.Page);
    platform::ShowMessage(Tr(PrintPageNotWrittenText, outcome.PagePath));
  } else {
    platform::ShellOpen(outcome.PagePath);
  }
  state.RestoreCursor();
}

}  // namespace overlay
