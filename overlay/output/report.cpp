#include "overlay/output/report.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <ctime>
#include <filesystem>
#include <optional>
#include <system_error>
#include <unordered_map>

#include "overlay/base/settings.h"
#include "overlay/base/texts.h"
#include "overlay/decode/isolated_decode.h"
#include "overlay/scene/main_controller.h"
#include "overlay/scene/measure_edit.h"
#include "overlay/scene/overlay_scene.h"
#include "platform/file_write.h"

namespace overlay {

namespace {

namespace fs = std::filesystem;

constexpr std::string_view ImagePlaceholder = "#Image#";
// A line is handled in pieces of at most this many bytes, as a 1024-byte line buffer holds
// them with its terminator; each piece counts as a line of its own.
constexpr std::size_t MaxPieceLength = 1023;
constexpr std::size_t MaxTailLength = 1024;
// The most bytes of a page: a template repeats its placeholders' texts as often as it names them
// (a table of thousands of measures 200 000 times would take gigabytes), and a page beyond this
// is no print anyone reads.
constexpr std::size_t MaxPageBytes = std::size_t(64) << 20;
// A capture this many pixels across or more has its scale bar and label drawn once more as
// large, so that they read on paper as on the screen.
constexpr double MarkMagnificationStep = 960;

// Everything of a report holds the pictures or the data of a person; nobody else may read it,
// and a link planted at one of the names must not redirect the write.
const platform::TFileWriteOptions PrivateFile{0600, false};

std::string HtmlEscaped(std::string_view Text) {
  std::string out;
  out.reserve(Text.size());
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
      case '\'':
        out += "&apos;";
        break;
      default:
        out += c;
    }
  }
  return out;
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

// Folder as an absolute path ending in "/": a page's file: address of a relative path would
// make its first folder the address's host, and the page would show no capture.
std::string AbsoluteFolder(const std::string& Folder) {
  std::error_code ec;
  std::string absolute = fs::absolute(fs::path(Folder), ec).lexically_normal().string();
  if (ec || absolute.empty()) return Folder;
  if (absolute.back() != '/') absolute += '/';
  return absolute;
}

std::string FileName(const std::string& Path) {
  return fs::path(Path).filename().string();
}

std::string PlacementText(const TPrecisePlacement& P, const std::string& Separator) {
  return Tr(ReportAngleText) + " " + FormatDecimal(P.Angle, 2, Separator) + "\u00b0, " +
         Tr(ReportZoomText) + " " + FormatDecimal(P.Zoom, 4, Separator) + ", X " +
         FormatDecimal(P.X, 1, Separator) + " px, Y " + FormatDecimal(P.Y, 1, Separator) + " px";
}

// The table of the measures, a line of MeasurementRows each.
std::string MeasurementsTable(const TReportFacts& Facts) {
  if (Facts.Measures.empty()) return "<p>" + HtmlEscaped(Tr(ReportNoMeasurementsText)) + "</p>";
  std::string html = "<table class=\"messungen\"><thead><tr>";
  for (const TText& head :
       {ReportMeasureText, ReportPictureText, ReportLengthText, ReportAreaText, ReportChangeText}) {
    html += "<th>" + HtmlEscaped(Tr(head)) + "</th>";
  }
  html += "</tr></thead><tbody>\n";
  for (const TMeasurementRow& row :
       MeasurementRows(Facts.Measures, Facts.Frame, Facts.DecimalSeparator)) {
    html += "<tr><td>" + HtmlEscaped(row.Name) + "</td><td>" + HtmlEscaped(row.Picture) +
            "</td><td>" + HtmlEscaped(row.Length) + "</td><td>" + HtmlEscaped(row.Area) +
            "</td><td>" + HtmlEscaped(row.Change) + "</td></tr>\n";
  }
  return html + "</tbody></table>";
}

std::string PatientText(const TReportFacts& Facts) {
  if (Facts.NoPatient) return Tr(NoPatientText);
  std::string text = Facts.Name;
  if (!Facts.Firstname.empty()) text += (text.empty() ? "" : ", ") + Facts.Firstname;
  if (!Facts.Birthdate.empty()) text += (text.empty() ? "* " : ", * ") + Facts.Birthdate;
  return text;
}

}  // namespace

void SetReportPatient(TReportFacts& Facts, const TComparisonPatient& Patient) {
  Facts.Name = Patient.Name;
  Facts.Firstname = Patient.Firstname;
  Facts.Birthdate = Patient.Birthdate;
  Facts.NoPatient = !Patient.Known();
}

std::vector<TMeasurementRow> MeasurementRows(const std::vector<TMeasure>& Given,
                                             const TMeasureFrame& Frame,
                                             const std::string& DecimalSeparator) {
  // Measures not named yet (handed over from elsewhere than the editor) by their defaults.
  std::vector<TMeasure> Measures = Given;
  NameUnnamed(Measures);
  std::unordered_map<std::size_t, std::size_t> pairedWith;  // picture 2's -> picture 1's
  for (const auto& [one, two] : OutlinePairs(Measures)) pairedWith[two] = one;
  std::vector<TMeasurementRow> rows;
  rows.reserve(Measures.size());
  for (std::size_t i = 0; i < Measures.size(); ++i) {
    const TMeasure& m = Measures[i];
    const TMeasurement value = Measure(m, Frame);
    const bool outline = m.Kind == TMeasureKind::Outline;
    TMeasurementRow row;
    row.Name = m.Name;
    row.Picture = Tr(m.Picture == 2 ? FlickerPicture2Text : FlickerPicture1Text);
    row.Length = FormatLength(value, DecimalSeparator);
    if (outline) row.Area = FormatArea(value, DecimalSeparator);
    if (const auto found = pairedWith.find(i); found != pairedWith.end()) {
      const std::optional<TAreaChange> c =
          AreaChange(Measure(Measures[found->second], Frame), value);
      if (c) row.Change = FormatAreaChange(*c, DecimalSeparator);
    }
    rows.push_back(std::move(row));
  }
  return rows;
}

std::vector<int> PrintAlphaSteps(int ImageCount, int AlphaMax, int SliderPosition) {
  if (ImageCount <= 0) return {};
  if (ImageCount == 1) return {SliderPosition};
  std::vector<int> steps(static_cast<std::size_t>(ImageCount));
  const int width = AlphaMax / (ImageCount - 1);
  for (int i = 0; i < ImageCount; ++i) steps[std::size_t(i)] = width * i;
  return steps;
}

std::vector<TPrintCapture> PrintCaptures(TViewMode Mode, int ImageCount, int AlphaMax,
                                         int SliderPosition) {
  std::vector<TPrintCapture> captures;
  if (Mode == TViewMode::Blend || Mode == TViewMode::Flicker) {
    for (const int alpha : PrintAlphaSteps(ImageCount, AlphaMax, SliderPosition)) {
      captures.push_back({TCaptureShows::Comparison, alpha, OpacityLabel(alpha, AlphaMax)});
    }
    return captures;
  }
  if (ImageCount <= 0) return captures;
  // The slider stays where it is: in these ways it changes nothing that is drawn.
  captures.push_back({TCaptureShows::Comparison, SliderPosition, Tr(ViewModeText(Mode))});
  captures.push_back({TCaptureShows::Picture1, SliderPosition, Tr(FlickerPicture1Text)});
  captures.push_back({TCaptureShows::Picture2, SliderPosition, Tr(FlickerPicture2Text)});
  return captures;
}

std::vector<TPrintCapture> PrintCapturesOf(TMainController& Controller, int ImageCount) {
  return PrintCaptures(Controller.DrawnMode(), ImageCount, Controller.GaugeAlpha().Max(),
                       Controller.GaugeAlpha().Position());
}

void ShowPrintCapture(TMainController& Controller, const TPrintCapture& Capture) {
  // The flicker ends first: a slider left where it is would not end it.
  Controller.StopFlicker();
  Controller.GaugeAlpha().SetPosition(Capture.Alpha);
  if (Capture.Shows == TCaptureShows::Comparison) return;
  Controller.StartFlicker();  // picture 1 alone
  if (Capture.Shows == TCaptureShows::Picture2) Controller.FlickerTick();
}

std::string PictureDate(const std::string& DateTaken, const std::string& Path) {
  if (!DateTaken.empty()) return DateTaken;
  struct stat st {};
  if (Path.empty() || ::stat(Path.c_str(), &st) != 0) return {};
  std::tm local{};
  if (::localtime_r(&st.st_mtime, &local) == nullptr) return {};
  char text[32];
  return std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &local) > 0 ? text : "";
}

TReportFacts ReportFactsOf(TMainController& Controller) {
  TReportFacts facts;
  facts.Picture1 = Controller.ImageFile1();
  facts.Picture2 = Controller.ImageFile2();
  facts.Date1 = PictureDate(Controller.DateShown(1), facts.Picture1);
  facts.Date2 = PictureDate(Controller.DateShown(2), facts.Picture2);
  facts.Placement = Controller.Placement();
  facts.MatchColours = Controller.ColourMatchOn();
  facts.Frame = Controller.MeasureFrame();
  facts.DecimalSeparator = Controller.DecimalSeparator();
  facts.Mode = Controller.DrawnMode();
  return facts;
}

std::string OpacityLabel(int Alpha, int AlphaMax) {
  const long percent = AlphaMax > 0 ? std::lround(100.0 * Alpha / AlphaMax) : 0;
  return Tr(PrintOpacityText, std::to_string(percent));
}

namespace {

// The page's placeholders filled in one pass: its words always, the report's facts when given
// (without them their placeholders stay as they are).
platform::TResult<std::string> FillPlaceholders(std::string_view Page, const TReportFacts* Given) {
  std::unordered_map<std::string_view, std::string> values;
  for (const TText& text : ReportPageTexts()) {
    values.emplace(text.Name.substr(text.Name.find('.') + 1), HtmlEscaped(Tr(text)));
  }
  if (Given != nullptr) {
    const TReportFacts& Facts = *Given;
    const std::string& sep = Facts.DecimalSeparator;
    // The opacity series' note would tell of steps these captures do not take.
    if (Facts.Mode != TViewMode::Blend && Facts.Mode != TViewMode::Flicker) {
      values.insert_or_assign("PrintHint",
                              HtmlEscaped(Tr(PrintModeHintText, Tr(ViewModeText(Facts.Mode)))));
    }
    values.insert({
        {"Patient", HtmlEscaped(PatientText(Facts))},
        {"Name", HtmlEscaped(Facts.Name)},
        {"Firstname", HtmlEscaped(Facts.Firstname)},
        {"Birthdate", HtmlEscaped(Facts.Birthdate)},
        {"Picture1", HtmlEscaped(FileName(Facts.Picture1))},
        {"Picture2", HtmlEscaped(FileName(Facts.Picture2))},
        {"Date1", HtmlEscaped(Facts.Date1)},
        {"Date2", HtmlEscaped(Facts.Date2)},
        {"Placement", HtmlEscaped(PlacementText(Facts.Placement, sep))},
        {"ColourMatch", HtmlEscaped(Tr(Facts.MatchColours ? ReportOnText : ReportOffText))},
        {"Measurements", MeasurementsTable(Facts)},
        {"Notes", HtmlEscaped(Facts.Notes)},
    });
  }
  std::string page;
  page.reserve(std::min(MaxPageBytes, Page.size() + Page.size() / 4));
  bool tooLarge = false;
  const auto append = [&](std::string_view Text) {
    if (page.size() + Text.size() > MaxPageBytes) tooLarge = true;
    if (!tooLarge) page += Text;
  };
  std::size_t opacities = 0;
  std::size_t pos = 0;
  while (pos < Page.size() && !tooLarge) {
    const std::size_t open = Page.find('#', pos);
    if (open == std::string_view::npos) break;
    const std::size_t close = Page.find('#', open + 1);
    if (close == std::string_view::npos) break;
    const std::string_view name = Page.substr(open + 1, close - open - 1);
    append(Page.substr(pos, open - pos));
    if (name == "Opacity" && Given != nullptr) {
      if (opacities < Given->Captures.size()) append(HtmlEscaped(Given->Captures[opacities].Label));
      ++opacities;
      pos = close + 1;
    } else if (const auto found = values.find(name); found != values.end()) {
      append(found->second);
      pos = close + 1;
    } else {
      append("#");  // the closing one may open the next placeholder
      pos = open + 1;
    }
  }
  append(Page.substr(std::min(pos, Page.size())));
  if (tooLarge) return platform::TStatus::Failure("the page would be larger than 64 MiB");
  return page;
}

}  // namespace

std::span<const TText> ReportPageTexts() {
  // The template holds no text of its own, so that the page is all in the window's language.
  static constexpr TText Texts[] = {
      LanguageCodeText,      PrintTitleText,         PrintHintText,       PrintCaptureText,
      ReportPatientText,     FlickerPicture1Text,    FlickerPicture2Text, ReportPlacementText,
      ReportColourMatchText, ReportMeasurementsText, ReportNotesText};
  return Texts;
}

platform::TResult<std::string> FillReportPlaceholders(std::string_view Page,
                                                      const TReportFacts& Facts) {
  return FillPlaceholders(Page, &Facts);
}

platform::TStatus WriteReportPage(const std::string& TemplatePath, const std::string& Given,
                                  const TReportFacts* Facts, bool Replace) {
  const std::string Folder = AbsoluteFolder(Given);
  const std::string pagePath = Folder + "output.html";
  const platform::TStatus tooLarge =
      platform::TStatus::Failure(Tr(PrintPageTooLargeText, TemplatePath));
  std::string source;
  if (struct stat st{}; ::stat(TemplatePath.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
                        std::uint64_t(st.st_size) > platform::MaxReadBytes) {
    return tooLarge;
  }
  if (!platform::ReadWholeFile(TemplatePath, &source)) {
    return platform::TStatus::Failure(Tr(PrintNoTemplateText));
  }
  std::string page;
  page.reserve(std::min(MaxPageBytes, source.size() + source.size() / 8));
  int n = 0;
  std::size_t pos = 0;
  while (pos < source.size()) {
    const std::size_t limit = std::min(source.size(), pos + MaxPieceLength);
    const std::size_t newline = source.find('\n', pos);
    const std::size_t end = newline < limit ? newline + 1 : limit;
    const std::string_view piece(source.data() + pos, end - pos);
    pos = end;
    const std::size_t at = piece.find(ImagePlaceholder);
    if (at == std::string_view::npos) {
      page += piece;
      continue;
    }
    ++n;
    page += piece.substr(0, at);
    page += FileUrl(Folder + "image" + std::to_string(n) + ".jpg");
    page += piece.substr(at + ImagePlaceholder.size(), MaxTailLength);
    if (page.size() > MaxPageBytes) return tooLarge;
  }
  platform::TResult<std::string> filled = FillPlaceholders(page, Facts);
  if (!filled) return tooLarge;
  page = std::move(filled).Value();
  platform::TFileWriteOptions options = PrivateFile;
  options.Replace = Replace;
  if (!platform::WriteFileAtomically(pagePath, page, nullptr, options)) {
    return platform::TStatus::Failure(Tr(PrintPageNotOpenedText, pagePath));
  }
  return {};
}

namespace {

// Capture Index's JPEG under both names, or why it could not be had; the names then hold no
// picture of an earlier print either.
platform::TStatus StoreCapture(const platform::TResult<std::string>& Jpeg,
                               const std::string& Folder, int Index, bool Replace = true) {
  const std::string testPath = Folder + "test" + std::to_string(Index) + ".jpg";
  const std::string imagePath = Folder + "image" + std::to_string(Index + 1) + ".jpg";
  // Into a folder of the user's, a name is only ever taken, never replaced: a file that appeared
  // there since the folder was found free stays, and so does a name this call did not write.
  platform::TFileWriteOptions options = PrivateFile;
  options.Replace = Replace;
  std::string failed, error;
  bool testWritten = false;
  if (!Jpeg) {
    failed = testPath;
    error = "no JPEG could be made of the capture";
  } else if (!platform::WriteFileAtomically(testPath, Jpeg.Value(), &error, options)) {
    failed = testPath;
  } else if (testWritten = true;
             !platform::WriteFileAtomically(imagePath, Jpeg.Value(), &error, options)) {
    failed = imagePath;
  }
  if (failed.empty()) return {};
  if (Replace || testWritten) RemoveOwnFile(testPath);
  if (Replace) RemoveOwnFile(imagePath);
  return platform::TStatus::Failure(Tr(PrintCaptureNotWrittenText, failed + " (" + error + ")"));
}

}  // namespace

platform::TStatus WriteCaptureJpeg(const std::uint8_t* Bgr, int Width, int Height, int Stride,
                                   int DotsPerMeterX, int DotsPerMeterY, const std::string& Folder,
                                   int Index) {
  // FreeImage's JPEG writer runs in the decoder process, so a fault in the writer cannot end
  // the program.
  platform::TResult<std::string> jpeg = platform::TStatus::Failure();
  if (Bgr != nullptr && Width > 0 && Height > 0) {
    jpeg = EncodeJpegIsolated(Bgr, std::uint32_t(Width), std::uint32_t(Height),
                              std::uint32_t(Stride), std::uint32_t(std::max(DotsPerMeterX, 0)),
                              std::uint32_t(std::max(DotsPerMeterY, 0)));
  }
  return StoreCapture(jpeg, Folder, Index);
}

platform::TStatus WriteCaptureJpeg(const raster::TBitmap32& Capture, int Pp100MM,
                                   const std::string& Folder, int Index, bool Replace) {
  TEncodeSettings settings;
  settings.Format = decoder::TEncodeFormat::Jpeg;
  // Pixels per 100 mm to pixels per metre, in 64 bits: ten times a scale above 214748364 is no
  // int. One outside the sane range is no scale at all, rather than a wrapped one.
  const std::int64_t perMetre = std::int64_t(Pp100MM) * 10;
  settings.DotsPerMeterX = settings.DotsPerMeterY =
      Pp100MM >= 1 && Pp100MM <= MaxPp100MM ? std::uint32_t(perMetre) : 0;
  return StoreCapture(EncodePictureIsolated(Capture, settings), Folder, Index, Replace);
}

void RemoveStaleCaptures(const std::string& Folder, int ImageCount) {
  const int count = std::max(ImageCount, 0);
  std::error_code ec;
  std::vector<fs::path> stale;
  for (fs::directory_iterator it(Folder, ec), end; !ec && it != end; it.increment(ec)) {
    if (!it->is_regular_file(ec) || it->is_symlink(ec)) continue;
    const std::string name = it->path().filename().string();
    const int test = CaptureNumber(name, "test");
    const int image = CaptureNumber(name, "image");
    if ((test >= 0 && test >= count) || (image >= 0 && image > count)) stale.push_back(it->path());
  }
  for (const fs::path& path : stale) RemoveOwnFile(path.string());
}

raster::TRect VisiblePicturePart(TMainController& Controller) {
  raster::TImgView32& view = Controller.ImgView();
  if (view.Bitmap().Empty()) return {};
  view.UpdateCache();
  const raster::TRect shown = view.CachedBitmapRect();
  const raster::TRect viewport = view.GetViewportRect();
  const double scale = view.Scale();
  if (!(scale > 0) || shown.Width() <= 0) return {};
  const auto toPicture = [&](int Control, int Origin) { return (Control - Origin) / scale; };
  const int w = view.Bitmap().Width(), h = view.Bitmap().Height();
  const int left = std::clamp(int(std::floor(toPicture(viewport.Left, shown.Left))), 0, w);
  const int top = std::clamp(int(std::floor(toPicture(viewport.Top, shown.Top))), 0, h);
  const int right = std::clamp(int(std::ceil(toPicture(viewport.Right, shown.Left))), 0, w);
  const int bottom = std::clamp(int(std::ceil(toPicture(viewport.Bottom, shown.Top))), 0, h);
  if (right <= left || bottom <= top) return {};
  return {left, top, right, bottom};
}

TFullResolutionRenderer::TFullResolutionRenderer(TMainController& Controller,
                                                 const raster::TRect& Part, TPictures Pictures) {
  const raster::TBitmap32& one = Controller.ImgView().Bitmap();
  const raster::TBitmap32* two = Controller.OverlayOriginal();
  if (!Controller.ControlsEnabled() || two == nullptr || Part.Width() <= 0 || Part.Height() <= 0) {
    return;
  }
  // A view of its own, at scale 1, whose viewport is the part: drawn by the same stages and
  // layers as the window's, so the capture is the window's drawing without its reduction.
  const int bars = raster::TCustomImgView32::SystemScrollBarSize;
  // A picture the import accepts may still be too large for it (16370 x 16370, 1000000 x 268):
  // refused here rather than failing inside the scene.
  FPartSize = std::to_string(Part.Width()) + " x " + std::to_string(Part.Height());
  FTooLarge = (std::int64_t(Part.Width()) + bars) * (std::int64_t(Part.Height()) + bars) >
              raster::MaxBitmapPixels;
  if (FTooLarge) return;
  FScene = std::make_unique<TOverlayScene>(Part.Width() + bars, Part.Height() + bars);
  TOverlayScene& scene = *FScene;
  TMainController& c = scene.Controller();
  c.SetNumberFormat(Controller.DecimalSeparator(), ".");
  raster::TBitmap32 copy1, copy2;
  std::unique_ptr<raster::TBitmap32> original2;
  if (Pictures == TPictures::Take && Controller.RotLayer() != nullptr) {
    // The overlay's bitmap (its original's colours, or matched ones that the colour matching
    // below makes anew from the original) and its original change hands; nothing is copied.
    copy1.TakeOver(Controller.ImgView().Bitmap());
    copy2.TakeOver(*Controller.RotLayer()->Bitmap());
    original2 = Controller.TakeOverlayOriginal();
  } else {
    copy1.Assign(&one);
    copy2.Assign(two);
  }
  c.SetImage1(Controller.ImageFile1(), copy1);
  c.SetImage2(Controller.ImageFile2(), copy2, std::move(original2));
  TSliderPositions sliders = Controller.Sliders();
  sliders.ViewZoom = 0;
  scene.ApplySliders(sliders);
  if (Controller.Precise()) c.PlacePrecisely(Controller.Placement());
  c.SetDifferenceView(Controller.DifferenceView());
  // The squares are screen pixels: as large on the capture, for the picture, as on the screen.
  const double viewScale = Controller.ImgView().Scale();
  c.SetCheckerSquare(std::clamp(int(std::lround(Controller.CheckerSquare() / viewScale)),
                                TMainController::MinCheckerSquare,
                                TMainController::MaxCheckerSquare));
  if (Controller.Swipe()) {
    c.SetSwipe(true);
    c.SetSwipeLine(Controller.SwipeLine());
  }
  c.SetChecker(Controller.Checker());
  c.SetSide(Controller.Side());
  c.SetColourMatch(Controller.ColourMatchOn());

  const int magnification =
      std::max(1, int(std::lround(std::max(Part.Width(), Part.Height()) / MarkMagnificationStep)));
  c.SetPictureFacts(Controller.Facts1(), Controller.Facts2());
  c.SetVisitDates(Controller);  // the flicker's label of a picture alone dates it as the page does
  c.SetPictureScale(Controller.ImageFile1(), Controller.ScaleBar().Pp100MM());
  c.SetPictureScale2(Controller.ImageFile2(), Controller.MeasureFrame().Pp100MM2);
  c.SetMarkMagnification(magnification);
  c.SetMeasures(Controller.Measures());
  FLabel = scene.View().Layers().Add<TCornerLabelLayer>();
  FLabel->SetView(&scene.View());
  FLabel->SetMagnification(magnification);

  // The part's top-left pixel at the viewport's top-left corner: at scale 1 the scroll
  // positions are the picture's pixels left of and above the viewport.
  raster::TImgView32& view = scene.View();
  // A capture is drawn a few times at most: the backdrop's copy would cost a picture-sized
  // bitmap (4 bytes per pixel, 1 GiB at 268 megapixels) to save a copy of picture 1 per capture.
  view.SetBackdropCache(false);
  view.HScroll().SetPosition(float(Part.Left));
  view.VScroll().SetPosition(float(Part.Top));
  view.UpdateImage();
}

TFullResolutionRenderer::~TFullResolutionRenderer() = default;

const TMainController* TFullResolutionRenderer::SceneController() {
  return FScene ? &FScene->Controller() : nullptr;
}

std::unique_ptr<raster::TBitmap32> TFullResolutionRenderer::Render(const TPrintCapture& Capture) {
  if (FScene == nullptr) return nullptr;
  ShowPrintCapture(FScene->Controller(), Capture);
  // A picture alone is named by the flicker's label, with its date, in the same corner.
  FLabel->SetText(Capture.Shows == TCaptureShows::Comparison ? Capture.Label : std::string());
  // Drawn into the view's buffer alone, whose pixels then change hands: no screen and no copy
  // of the picture's size beside it (8 bytes per pixel of picture 1). Opaque, as a screen shows
  // it.
  raster::TImgView32& view = FScene->View();
  raster::TBitmap32& buffer = view.PaintBuffer();
  const raster::TRect viewport = view.GetViewportRect();
  auto shot = std::make_unique<raster::TBitmap32>();
  if (viewport.Width() <= 0 || viewport.Height() <= 0) return shot;
  if (buffer.Width() == viewport.Width() && buffer.Height() == viewport.Height()) {
    shot->TakeOver(buffer);
    view.SetBufferValid(false);
  } else {
    shot->SetSize(viewport.Width(), viewport.Height());
    for (std::int32_t y = 0; y < viewport.Height(); ++y) {
      std::copy_n(buffer.GetScanLine(y), viewport.Width(), shot->GetScanLine(y));
    }
  }
  for (std::int32_t y = 0; y < shot->Height(); ++y) {
    raster::TColor32* row = shot->GetScanLine(y);
    for (std::int32_t x = 0; x < shot->Width(); ++x) row[x] |= 0xFF000000u;
  }
  return shot;
}

std::unique_ptr<raster::TBitmap32> RenderFullResolution(TMainController& Controller,
                                                        const raster::TRect& Part, int Alpha,
                                                        const std::string& Label) {
  return TFullResolutionRenderer(Controller, Part).Render(Alpha, Label);
}

platform::TStatus ReportFolderFree(const std::string& Folder) {
  std::vector<std::string> names;
  std::error_code ec;
  for (fs::directory_iterator it(Folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name == "output.html" || CaptureNumber(name, "test") >= 0 ||
        CaptureNumber(name, "image") >= 0) {
      names.push_back(name);
    }
  }
  if (names.empty()) return {};
  std::sort(names.begin(), names.end());
  std::string list;
  for (const std::string& name : names) list += (list.empty() ? "" : ", ") + name;
  return platform::TStatus::Failure(Folder + " already holds files a report writes (" + list +
                                    "); it replaces none: give a new or empty folder");
}

TReportOutcome WriteReport(const TReportRun& Run) {
  TReportOutcome outcome;
  const std::vector<TPrintCapture>& captures = Run.Facts.Captures;
  const std::string folder = AbsoluteFolder(Run.Folder);
  outcome.PagePath = folder + "output.html";
  if (Run.OwnFolder) {
    RemoveStaleCaptures(folder, int(captures.size()));
  } else if (platform::TStatus free = ReportFolderFree(folder); !free) {
    outcome.Captures = outcome.Page = std::move(free);
    return outcome;
  }
  for (std::size_t i = 0; i < captures.size(); ++i) {
    if (Run.Progress) Run.Progress(i, captures.size(), captures[i]);
    platform::TStatus status = Run.Capture(i, captures[i]);
    // The page names each capture by its absolute path: one that is not there, whatever the
    // capture said (written elsewhere, removed since), is a failure, not a page without it.
    const std::string image = folder + "image" + std::to_string(i + 1) + ".jpg";
    if (struct stat st{}; status && (::lstat(image.c_str(), &st) != 0 || !S_ISREG(st.st_mode))) {
      status = platform::TStatus::Failure(Tr(PrintCaptureNotWrittenText, image));
    }
    if (!status && outcome.Captures) outcome.Captures = std::move(status);
  }
  outcome.Page = WriteReportPage(Run.TemplatePath, folder, &Run.Facts, Run.OwnFolder);
  return outcome;
}

}  // namespace overlay
