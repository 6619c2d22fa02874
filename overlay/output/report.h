// The print page and its captures, without a window: the page filled in from its template, the
// captures at the pictures' full resolution, and the report's facts (the patient, the pictures
// and their dates, the placement, the measurements). The print button and tessaly-report both
// come here; the window only adds its own way of capturing the screen.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "overlay/base/texts.h"
#include "overlay/comparison/comparison.h"
#include "overlay/comparison/measure.h"
#include "overlay/comparison/sliders.h"
#include "overlay/scene/view_status.h"
#include "platform/status.h"
#include "raster/core.h"

namespace overlay {

class TMainController;
class TOverlayScene;
class TCornerLabelLayer;

// The master alpha of each capture: (AlphaMax / (ImageCount - 1)) * i with integer division,
// so the last step may fall short of AlphaMax (255 and 5 give 0, 63, 126, 189, 252). One
// capture has no step width; it shows the overlay as the slider does. Zero or a negative count
// gives no capture.
std::vector<int> PrintAlphaSteps(int ImageCount, int AlphaMax, int SliderPosition);

// What one capture of the print shows: the comparison as the view draws it (at the capture's
// opacity), or a picture alone as the flicker shows it (picture 1; picture 2 opaque over it).
enum class TCaptureShows { Comparison, Picture1, Picture2 };
struct TPrintCapture {
  TCaptureShows Shows = TCaptureShows::Comparison;
  int Alpha = 0;      // the opacity slider's position for it
  std::string Label;  // what it shows, in its corner and under it on the page
  bool operator==(const TPrintCapture&) const = default;
};

// The captures of a print of a comparison drawn in Mode (the flicker, which a print ends, is no
// way of drawing; given as Mode, it counts as the blend). Blended, the page is the opacity series:
// PrintAlphaSteps' opacities, each labelled with OpacityLabel. In every other way of drawing the
// opacity plays no part, and that series would be ImageCount copies of one picture under labels
// that claim otherwise; whoever prints there wants what they look at. So: the comparison as drawn,
// labelled with the way's name ("Differenz"), then picture 1 alone and picture 2 opaque over it
// ("Bild 1", "Bild 2"), the two pictures that way compares. ImageCount, the number of opacity
// steps, does not apply to them; zero or less still gives no capture.
std::vector<TPrintCapture> PrintCaptures(TViewMode Mode, int ImageCount, int AlphaMax,
                                         int SliderPosition);
// The same for Controller's way of drawing, opacity slider and its range. The print, the DICOM
// export's secondary captures and tessaly-report all take their captures from here.
std::vector<TPrintCapture> PrintCapturesOf(TMainController& Controller, int ImageCount);
// Controller shows Capture: the opacity slider at its position, and picture 1 or picture 2 alone
// through the flicker (ended otherwise), whose label names the picture and its date.
void ShowPrintCapture(TMainController& Controller, const TPrintCapture& Capture);

// What the page tells of the comparison besides its captures. Empty texts stay empty.
struct TReportFacts {
  std::string Name, Firstname, Birthdate;  // the patient of the pictures
  bool NoPatient = false;                  // the pictures have no known patient: the page says so
  std::string Picture1, Picture2;          // the pictures' paths; the page shows their names
  std::string Date1, Date2;                // when each was taken (PictureDate)
  TPrecisePlacement Placement;
  bool MatchColours = false;
  std::vector<TMeasure> Measures;
  TMeasureFrame Frame;  // the scales and the placement the measures are measured with
  std::string Notes;
  std::string DecimalSeparator = ".";
  // The way of drawing; any but the blend has the page's note say what the captures show.
  TViewMode Mode = TViewMode::Blend;
  // The captures, whose labels fill the page's "#Opacity#" placeholders in their order.
  std::vector<TPrintCapture> Captures;
};

// The facts Controller knows: the pictures, their dates, the placement, the colour matching, the
// scales, the number format, the way of drawing. The patient, the measures, the notes and the
// captures are the caller's.
TReportFacts ReportFactsOf(TMainController& Controller);

// The patient of the comparison onto the page: its name and birth date, or "no patient".
void SetReportPatient(TReportFacts& Facts, const TComparisonPatient& Patient);

// The measurements as the page's table lists them, a row per measure: its name ("Umriss 1", or
// what the user named it; an outline pair shares its name; unnamed ones take their defaults),
// its picture ("Bild 2"), its length, its area (an outline's; empty for a ruler) and, on
// picture 2's outline of a pair, the change of the area (empty elsewhere).
struct TMeasurementRow {
  std::string Name, Picture, Length, Area, Change;
};
std::vector<TMeasurementRow> MeasurementRows(const std::vector<TMeasure>& Measures,
                                             const TMeasureFrame& Frame,
                                             const std::string& DecimalSeparator);

// When a picture was taken: its EXIF date as FormatDateTaken shows it, else the file's time of
// its last change in the same form, else nothing.
std::string PictureDate(const std::string& DateTaken, const std::string& Path);

// The page's placeholders and their texts, each escaped for HTML: #Patient# ("Name, Firstname,
// * Birthdate"), #Name#, #Firstname#, #Birthdate#, #Picture1#, #Picture2# (file names),
// #Date1#, #Date2#, #Placement#, #ColourMatch#, #Measurements# (a table of every measure and
// each outline pair's change), #Notes#; the n-th #Opacity# is the n-th capture's label. The
// page's own words come from the language file, by their names without "Messages.": #Language#
// (the lang attribute), #PrintTitle#, #PrintHint#, #PrintCapture#, #ReportPatient#,
// #FlickerPicture1#, #FlickerPicture2#, #ReportPlacement#, #ReportColourMatch#,
// #ReportMeasurements#, #ReportNotes#; in a way of drawing other than the blend, #PrintHint# is the
// note PrintModeHintText with the way's name. Replaced in one pass, so that a text that looks like
// a placeholder stays text. A failure when the page would grow beyond 64 MiB (a template may name a
// long table any number of times).
platform::TResult<std::string> FillReportPlaceholders(std::string_view Page,
                                                      const TReportFacts& Facts);
// The page's words of those placeholders (named by their TText names without "Messages.").
std::span<const TText> ReportPageTexts();

// The capture's label: "Deckkraft 49 %".
std::string OpacityLabel(int Alpha, int AlphaMax);

// Writes Folder + "output.html" from the template at TemplatePath: every line (or piece of at
// most 1023 bytes of a longer line) is copied with the first "#Image#" in it replaced by the
// file: address of Folder + "image" + n + ".jpg", n counting the replaced placeholders of the
// whole template from 1. Every byte of the path but letters, digits, "-", ".", "_", "~" and "/"
// is percent-encoded in it, so that no folder name can change the page's markup or the picture
// it names. The template's bytes are kept as they are, line endings included; then its words
// (FillReportPlaceholders' texts) are filled in, in the window's language, and with Facts the
// report's placeholders too (without, they stay as they are). The failure's reason is for the user;
// a template over platform::MaxReadBytes, or one whose page would exceed 64 MiB, is refused as too
// large, by the name it was given. Without Replace (a folder of the user's), an output.html
// already there fails the write and stays.
platform::TStatus WriteReportPage(const std::string& TemplatePath, const std::string& Folder,
                                  const TReportFacts* Facts, bool Replace = true);

// Stores capture Index (24-bit BGR rows from the top, Stride bytes apart) as Folder + "test" +
// Index + ".jpg" and, under the name the page's placeholders give, Folder + "image" + (Index +
// 1) + ".jpg", with the resolution given in dots per metre. The JPEG is made from the pixels
// in memory, in the decoder process; nothing uncompressed of the photo is ever on disk. A
// failure's reason names the file that could not be had; the two names then hold no picture of
// an earlier print either.
platform::TStatus WriteCaptureJpeg(const std::uint8_t* Bgr, int Width, int Height, int Stride,
                                   int DotsPerMeterX, int DotsPerMeterY, const std::string& Folder,
                                   int Index);
// The same for a bitmap (alpha dropped), at Pp100MM's resolution when that is 1..MaxPp100MM.
// Without Replace (a folder of the user's), a name already taken fails the write and is left as
// it is.
platform::TStatus WriteCaptureJpeg(const raster::TBitmap32& Capture, int Pp100MM,
                                   const std::string& Folder, int Index, bool Replace = true);

// Deletes the captures an earlier, longer print left in Folder: test<N>.jpg with
// N >= ImageCount and image<N>.jpg with N > ImageCount, regular files of this user only. A page
// never shows a picture that this print did not take. Only for the program's own print folder.
void RemoveStaleCaptures(const std::string& Folder, int ImageCount);

// A folder the user gives must hold none of the entries a report writes or its page could show
// (output.html, image<N>.jpg, test<N>.jpg, of any kind): a report there only adds files and
// never replaces one (an input photo may bear such a name). The failure names them, sorted.
platform::TStatus ReportFolderFree(const std::string& Folder);

// The part of picture 1 that Controller's view shows, in picture-1 pixels, within the picture.
raster::TRect VisiblePicturePart(TMainController& Controller);
// Controller's comparison drawn as its view draws it (the way of drawing, the colour matching,
// the placement to the bit, the measures) but at the pictures' own resolution over Part of
// picture 1, with the scale bar where picture 1's scale is known. The scene for it is made once
// (both pictures copied, the colours matched); each Render sets only the overlay's opacity and
// the label in the upper-left corner (or shows a picture alone, ShowPrintCapture, under the
// flicker's label of it). Render gives nothing for an empty part or without both
// pictures, and for a part whose scene no bitmap can hold (TooLarge).
class TFullResolutionRenderer {
 public:
  // Copy: the scene gets copies of Controller's pictures (the window goes on showing them).
  // Take: it takes them over, so that a tool holds each picture once instead of twice (a
  // 268-megapixel pair is 1 GiB a copy); Controller then has none and must not draw again.
  enum class TPictures { Copy, Take };
  TFullResolutionRenderer(TMainController& Controller, const raster::TRect& Part,
                          TPictures Pictures = TPictures::Copy);
  ~TFullResolutionRenderer();
  TFullResolutionRenderer(const TFullResolutionRenderer&) = delete;
  TFullResolutionRenderer& operator=(const TFullResolutionRenderer&) = delete;
  std::unique_ptr<raster::TBitmap32> Render(const TPrintCapture& Capture);
  std::unique_ptr<raster::TBitmap32> Render(int Alpha, const std::string& Label) {
    return Render({TCaptureShows::Comparison, Alpha, Label});
  }
  // The part and the scene view's scroll bars exceed raster::MaxBitmapPixels: no scene was made,
  // and the caller tells the user so, with PartSize ("16370 x 16370").
  bool TooLarge() const { return FTooLarge; }
  const std::string& PartSize() const { return FPartSize; }
  // The scene's own controller: the pictures and the placement copied, for work that must not
  // touch the window's while it runs on another thread. Null when no scene was made.
  const TMainController* SceneController();

 private:
  std::unique_ptr<TOverlayScene> FScene;
  bool FTooLarge = false;
  std::string FPartSize;
  TCornerLabelLayer* FLabel = nullptr;  // owned by the scene's view
};
// One capture of that kind.
std::unique_ptr<raster::TBitmap32> RenderFullResolution(TMainController& Controller,
                                                        const raster::TRect& Part, int Alpha,
                                                        const std::string& Label);

// One run of the report: the captures in turn, then the page. Capture takes and writes capture
// Index; Progress is told before each capture. The first capture that could
// not be written, or is not at the place the page names (Folder made absolute), is in Captures;
// the page's failure in Page.
struct TReportRun {
  std::string Folder;  // ends with "/"; a relative one is taken from the working folder
  // The program's own private print folder, whose captures of an earlier print are removed.
  // Otherwise (a folder the user gave) the run writes nothing when the folder holds any of
  // ReportNamesInTheWay, and says which.
  bool OwnFolder = false;
  std::string TemplatePath;
  TReportFacts Facts;  // its Captures say how many captures and what each shows
  std::function<platform::TStatus(std::size_t Index, const TPrintCapture& Capture)> Capture;
  std::function<void(std::size_t Index, std::size_t Count, const TPrintCapture& Capture)> Progress;
};
struct TReportOutcome {
  platform::TStatus Captures, Page;
  std::string PagePath;
};
TReportOutcome WriteReport(const TReportRun& Run);

}  // namespace overlay
