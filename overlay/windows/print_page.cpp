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
#include <charconv>
#include <filesystem>
#include <string_view>
#include <system_error>

#include "overlay/decode/isolated_decode.h"
#include "overlay/scene/main_controller.h"
#include "overlay/scene/texts.h"
#include "platform/file_write.h"
#include "platform/message.h"
#include "platform/paths.h"
#include "platform/shell.h"

namespace overlay {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view Placeholder = "#Image#";
// A line is handled in pieces of at most this many bytes, as a 1024-byte line buffer holds
// them with its terminator; each piece counts as a line of its own.
constexpr std::size_t MaxPieceLength = 1023;
constexpr std::size_t MaxTailLength = 1024;
// White as a platform colour (0x00BBGGRR), so the area around picture 1 prints white.
constexpr raster::TWinColor PrintBackground = 0x00FFFFFF;

// Everything in the temporary folder holds the pictures of a person; nobody else may read them,
// and a link planted at one of the names must not redirect the write.
const platform::TFileWriteOptions PrivateFile{0600, false};

// N of Prefix + N + ".jpg" when Name is exactly that with N written as this program writes
// numbers (decimal, no sign, no leading zero); -1 otherwise.
int CaptureNumber(std::string_view Name, std::string_view Prefix) {
  constexpr std::string_view Suffix = ".jpg";
  if (Name.size() <= Prefix.size() + Suffix.size() || !Name.starts_with(Prefix) ||
      !Name.ends_with(Suffix)) {
    return -1;
  }
  const std::string_view digits =
      Name.substr(Prefix.size(), Name.size() - Prefix.size() - Suffix.size());
  if (digits.size() > 1 && digits.front() == '0') return -1;
  int n = 0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), n);
  if (ec != std::errc() || end != digits.data() + digits.size() || n < 0) return -1;
  return n;
}

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

// Path as a file: address with every byte but the unreserved ones and "/" percent-encoded, which
// also leaves nothing that HTML gives a meaning to, in an attribute or in text.
std::string FileUrl(std::string_view Path) {
  constexpr char Hex[] = "0123456789ABCDEF";
  std::string url = "file://";
  for (const char c : Path) {
    const auto b = static_cast<unsigned char>(c);
    if ((b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || (b >= '0' && b <= '9') || c == '-' ||
        c == '.' || c == '_' || c == '~' || c == '/') {
      url += c;
    } else {
      url += '%';
      url += Hex[b >> 4];
      url += Hex[b & 0x0F];
    }
  }
  return url;
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

std::vector<int> PrintAlphaSteps(int ImageCount, int AlphaMax, int SliderPosition) {
  if (ImageCount <= 0) return {};
  if (ImageCount == 1) return {SliderPosition};
  std::vector<int> steps(static_cast<std::size_t>(ImageCount));
  const int width = AlphaMax / (ImageCount - 1);
  for (int i = 0; i < ImageCount; ++i) steps[std::size_t(i)] = width * i;
  return steps;
}

namespace {

std::string HtmlEscaped(std::string_view Text) {
  std::string out;
  for (const char c : Text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

void ReplaceAll(std::string& Page, std::string_view From, std::string_view To) {
  if (From.empty() || From == To) return;
  for (std::size_t at = Page.find(From); at != std::string::npos;
       at = Page.find(From, at + To.size())) {
    Page.replace(at, From.size(), To);
  }
}

}  // namespace

std::string InLanguage(std::string Page) {
  // The shipped template's own German texts, and its lang, in the window's language; a template
  // of the user's own with other texts stays as it is.
  ReplaceAll(Page, "lang=\"" + std::string(LanguageCodeText.German) + "\"",
             "lang=\"" + HtmlEscaped(Tr(LanguageCodeText)) + "\"");
  for (const TText& text : {PrintTitleText, PrintHintText}) {
    ReplaceAll(Page, text.German, HtmlEscaped(Tr(text)));
  }
  // "Aufnahme 1" .. : the word before a number, in a caption and in an image's alt text.
  ReplaceAll(Page, std::string(PrintCaptureText.German) + " ",
             HtmlEscaped(Tr(PrintCaptureText)) + " ");
  return Page;
}

int WritePrintPage(const std::string& TempDir) {
  return WritePrintPageFrom(platform::LocateProgramFile("output.html").Read, TempDir);
}

int WritePrintPageFrom(const std::string& TemplatePath, const std::string& TempDir) {
  const std::string pagePath = TempDir + "output.html";
  std::string source;
  if (!platform::ReadWholeFile(TemplatePath, &source)) {
    platform::ShowMessage(Tr(PrintNoTemplateText));
    return 1;
  }
  std::string page;
  page.reserve(source.size() + source.size() / 8);
  int n = 0;
  std::size_t pos = 0;
  while (pos < source.size()) {
    const std::size_t limit = std::min(source.size(), pos + MaxPieceLength);
    const std::size_t newline = source.find('\n', pos);
    const std::size_t end = newline < limit ? newline + 1 : limit;
    const std::string_view piece(source.data() + pos, end - pos);
    pos = end;
    const std::size_t at = piece.find(Placeholder);
    if (at == std::string_view::npos) {
      page += piece;
      continue;
    }
    ++n;
    page += piece.substr(0, at);
    page += FileUrl(TempDir + "image" + std::to_string(n) + ".jpg");
    page += piece.substr(at + Placeholder.size(), MaxTailLength);
  }
  page = InLanguage(std::move(page));
  if (!platform::WriteFileAtomically(pagePath, page, nullptr, PrivateFile)) {
    platform::ShowMessage(Tr(PrintPageNotOpenedText, pagePath));
    return 1;
  }
  return 0;
}

platform::TStatus WritePrintCapture(const QImage& Capture, const std::string& TempDir, int Index) {
  const std::string testPath = TempDir + "test" + std::to_string(Index) + ".jpg";
  const std::string imagePath = TempDir + "image" + std::to_string(Index + 1) + ".jpg";

  // FreeImage's JPEG writer runs in the decoder process, on the 24-bit pixels and the
  // resolution the capture's BMP would hold, so its result is the JPEG of that BMP, without the
  // BMP ever being on disk, and a fault in the writer cannot end the program.
  const QImage pixels = Capture.convertToFormat(QImage::Format_BGR888);
  platform::TResult<std::string> jpeg = platform::TStatus::Failure();
  if (!pixels.isNull()) {
    jpeg = EncodeJpegIsolated(pixels.constBits(), std::uint32_t(pixels.width()),
                              std::uint32_t(pixels.height()), std::uint32_t(pixels.bytesPerLine()),
                              std::uint32_t(std::max(pixels.dotsPerMeterX(), 0)),
                              std::uint32_t(std::max(pixels.dotsPerMeterY(), 0)));
  }
  std::string failed, error;
  if (!jpeg) {
    failed = testPath;
    error = "no JPEG could be made of the capture";
  } else if (!platform::WriteFileAtomically(testPath, jpeg.Value(), &error, PrivateFile)) {
    failed = testPath;
  } else if (!platform::WriteFileAtomically(imagePath, jpeg.Value(), &error, PrivateFile)) {
    failed = imagePath;
  }
  if (failed.empty()) return {};
  // The names would otherwise still hold what an earlier print put there.
  RemoveOwnFile(testPath);
  RemoveOwnFile(imagePath);
  return platform::TStatus::Failure(Tr(PrintCaptureNotWrittenText, failed + " (" + error + ")"));
}

void RemoveStaleCaptures(const std::string& TempDir, int ImageCount) {
  const int count = std::max(ImageCount, 0);
  std::error_code ec;
  std::vector<fs::path> stale;
  for (fs::directory_iterator it(TempDir, ec), end; !ec && it != end; it.increment(ec)) {
    if (!it->is_regular_file(ec) || it->is_symlink(ec)) continue;
    const std::string name = it->path().filename().string();
    const int test = CaptureNumber(name, "test");
    const int image = CaptureNumber(name, "image");
    if ((test >= 0 && test >= count) || (image >= 0 && image > count)) stale.push_back(it->path());
  }
  for (const fs::path& path : stale) RemoveOwnFile(path.string());
}

void PrintComparison(QWidget& Window, TMainController& Controller, int ImageCount) {
  PrintComparisonWith(Window, Controller, ImageCount,
                      platform::LocateProgramFile("output.html").Read);
}

void PrintComparisonWith(QWidget& Window, TMainController& Controller, int ImageCount,
                         const std::string& TemplatePath) {
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
  RemoveStaleCaptures(tempDir, ImageCount);

  const std::vector<int> steps =
      PrintAlphaSteps(ImageCount, Controller.GaugeAlpha().Max(), state.Position());
  platform::TStatus stored;
  for (std::size_t i = 0; i < steps.size(); ++i) {
    // Each opacity is set as the slider sets it, so that the overlay and the read-out agree at
    // every step; the read-out lies outside the part of the window that is captured.
    Controller.GaugeAlpha().SetPosition(steps[i]);
    QGuiApplication::changeOverrideCursor(Qt::WaitCursor);
    const QPixmap window = Window.grab();
    view.Invalidate();
    view.Update();
    // The viewport in the view's own coordinates, applied as it is to the window: the view
    // lies one pixel inside its panel's border, so the cut-out takes that border's top and left
    // line and leaves the viewport's last column and row. On a scaled screen the capture has
    // more pixels than the window has units; the same area is cut.
    const raster::TRect r = view.GetViewportRect();
    const qreal ratio = window.devicePixelRatio();
    const QRect cut(qRound(r.Left * ratio), qRound(r.Top * ratio), qRound(r.Width() * ratio),
                    qRound(r.Height() * ratio));
    const QImage capture = window.toImage().copy(cut).convertToFormat(QImage::Format_RGB888);
    platform::TStatus status = WritePrintCapture(capture, tempDir, int(i));
    if (!status && stored) stored = std::move(status);
    // The window paints and runs its timers between captures; the user's input waits for the
    // end, as it would act on the overlay that the print is stepping through.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  }
  state.Restore();
  platform::ShowFailure(stored);

  const std::string pagePath = tempDir + "output.html";
  if (WritePrintPageFrom(TemplatePath, tempDir) != 0) {
    platform::ShowMessage(Tr(PrintPageNotWrittenText, pagePath));
  } else {
    platform::ShellOpen(pagePath);
  }
  state.RestoreCursor();
}

}  // namespace overlay
