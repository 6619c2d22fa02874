// The print button's work: the comparison captured several times while the overlay's opacity
// steps from transparent towards opaque (in another way of drawing: as drawn, then each picture
// alone, PrintCaptures), each capture stored as a JPEG in the temporary folder,
// and a web page built from the template beside the program that lays the captures out for
// printing, then opened with the user's browser.
#pragma once

#include <string>
#include <vector>

#include "overlay/output/report.h"
#include "platform/status.h"

class QImage;
class QWidget;

namespace overlay {

class TMainController;

// The page TempDir + "output.html" written from the template beside the program, or from
// TemplatePath, as WriteReportPage writes it without the report's facts. 0 on success; 1 after
// the failure has been shown.
int WritePrintPage(const std::string& TempDir);
int WritePrintPageFrom(const std::string& TemplatePath, const std::string& TempDir);

// Stores capture Index (24 bits, the cut-out of the view) as WriteCaptureJpeg does, at the
// capture's own resolution.
platform::TStatus WritePrintCapture(const QImage& Capture, const std::string& TempDir, int Index);

// The whole print click on the main window and its controller: the captures, the page, and
// the page opened (or "Error creating output file: " + page path shown), all in
// platform::TempDirectory(), the user's private folder (without one, that is told and nothing
// is captured). Each capture is shown as ShowPrintCapture shows it: its opacity set through the
// opacity slider, the overlay and the read-out following it; a picture alone through the
// flicker. Between captures the window paints and runs its timers, the user's
// input waits for the end, and the wait cursor stays. The first capture that cannot be stored
// is told once, after the captures. An uncompressed capture that an older version may have
// left (temp.bmp of this user, in TEMP or in the folder) is deleted. The view's colour, the
// slider and so the overlay's opacity are as before afterwards, and no flicker runs.
void PrintComparison(QWidget& Window, TMainController& Controller, int ImageCount);
// What the window adds to the page: the patient, the measures and notes of the record, and
// whether the captures are taken at the pictures' full resolution over the visible part
// (RenderFullResolution, each labelled with what it shows) instead of from the screen.
struct TPrintExtras {
  TComparisonPatient Patient;  // the pictures' patient; none: the page says "no patient"
  std::vector<TMeasure> Measures;
  std::string Notes;
  bool FullResolution = false;
};
// The same with the template at TemplatePath instead of the one beside the program.
void PrintComparisonWith(QWidget& Window, TMainController& Controller, int ImageCount,
                         const std::string& TemplatePath, const TPrintExtras& Extras = {});

}  // namespace overlay
