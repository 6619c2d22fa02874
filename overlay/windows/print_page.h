// The print button's work: the comparison captured several times while the overlay's opacity
// steps from transparent towards opaque, each capture stored as a JPEG in the temporary folder,
// and a web page built from the template beside the program that lays the captures out for
// printing, then opened with the user's browser.
#pragma once

#include <string>
#include <vector>

#include "platform/status.h"

class QImage;
class QWidget;

namespace overlay {

class TMainController;

// The master alpha of each capture: (AlphaMax / (ImageCount - 1)) * i with integer division,
// so the last step may fall short of AlphaMax (255 and 5 give 0, 63, 126, 189, 252). One
// capture has no step width; it shows the overlay as the slider does. Zero or a negative count
// gives no capture.
std::vector<int> PrintAlphaSteps(int ImageCount, int AlphaMax, int SliderPosition);

// The page TempDir + "output.html" written from the template beside the program, or from
// TemplatePath: every line (or piece of at most 1023 bytes of a longer line) is copied with the
// first "#Image#" in it replaced by the file: address of TempDir + "image" + n + ".jpg", n
// counting the replaced placeholders of the whole template from 1. Every byte of the path but
// letters, digits, "-", ".", "_", "~" and "/" is percent-encoded in it, so that no folder name
// (quotes, "<", "&", "#", "%", blanks) can change the page's markup or the picture it names.
// The template's bytes are kept as they are, line endings included. 0 on success; 1 after the
// failure has been shown.
int WritePrintPage(const std::string& TempDir);
// Page, the shipped template filled in, with its German texts and lang in the window's language
// (the language file's [Messages]); other texts stay as they are.
std::string InLanguage(std::string Page);
int WritePrintPageFrom(const std::string& TemplatePath, const std::string& TempDir);

// Stores capture Index (24 bits, the cut-out of the view) as TempDir + "test" + Index + ".jpg"
// and, under the name the page's placeholders give, TempDir + "image" + (Index + 1) + ".jpg".
// The JPEG is made from the pixels in memory; nothing uncompressed of the photo is ever on
// disk. A failure's reason names the file that could not be had ("Cannot write output file:
// " + path); the two names then hold no picture of an earlier print either.
platform::TStatus WritePrintCapture(const QImage& Capture, const std::string& TempDir, int Index);

// Deletes the captures an earlier, longer print left in TempDir: test<N>.jpg with
// N >= ImageCount and image<N>.jpg with N > ImageCount, regular files of this user only. A page
// never shows a picture that this print did not take.
void RemoveStaleCaptures(const std::string& TempDir, int ImageCount);

// The whole print click on the main window and its controller: the captures, the page, and
// the page opened (or "Error creating output file: " + page path shown), all in
// platform::TempDirectory(), the user's private folder (without one, that is told and nothing
// is captured). Each capture's opacity is set through the opacity slider, the overlay and the
// read-out following it. Between captures the window paints and runs its timers, the user's
// input waits for the end, and the wait cursor stays. The first capture that cannot be stored
// is told once, after the captures. An uncompressed capture that an older version may have
// left (temp.bmp of this user, in TEMP or in the folder) is deleted. The view's colour, the
// slider and so the overlay's opacity are as before afterwards.
void PrintComparison(QWidget& Window, TMainController& Controller, int ImageCount);
// The same with the template at TemplatePath instead of the one beside the program.
void PrintComparisonWith(QWidget& Window, TMainController& Controller, int ImageCount,
                         const std::string& TemplatePath);

}  // namespace overlay
