// Tessaly's settings file and what the program takes from an interface file at start, as plain
// functions the main window calls and tests call without a window.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/status.h"

namespace overlay {

// The window's outer bounds as the settings file stores them.
struct TWindowBounds {
  int Top = 10, Left = 10, Height = 450, Width = 620;
};

// The most captures one print takes: each costs a paint of the window, an encoder process and
// two files, and a stored value of millions would hold the window for hours and fill the disk.
constexpr int MaxImageCount = 100;

// The most pictures the recent list keeps.
constexpr int MaxRecentPictures = 10;

// What the open-picture dialog keeps between runs.
struct TOpenDialogSettings {
  std::string Filter;  // [OpenDialog] Filter: the patterns of the filter chosen last
  std::string Folder;  // [OpenDialog] Folder: the folder of the picture chosen last
  // [Recent] File1 .. File10: the pictures loaded last, newest first. Reading drops the files
  // that no longer exist.
  std::vector<std::string> Recent;
};

// Recent with Path in front, once, and at most MaxRecentPictures long.
std::vector<std::string> WithRecentPicture(std::vector<std::string> Recent,
                                           const std::string& Path);

// The positioning assistant's place and inner size, as [Assistent] stores them.
struct TAssistentBounds {
  int Left = 0, Top = 0, Width = 0, Height = 0;
  friend bool operator==(const TAssistentBounds&, const TAssistentBounds&) = default;
};

struct TSettings {
  std::optional<TWindowBounds> Bounds;  // only when AutoLoad/FormProperties is true
  // [Assistent] Left, Top, Width, Height: only when all four are stored.
  std::optional<TAssistentBounds> AssistentBounds;
  // [Output] ImageCount, at most MaxImageCount (a larger value reads as that); 0 or less: no
  // capture.
  int ImageCount = 5;
  // [Output] FullResolution = 0: the print's captures are the screen's pixels of the view;
  // anything else (or nothing): the visible part at the pictures' own resolution.
  bool FullResolution = true;
  // [Display] ExifOrientation = 1: pictures 1 and 2 of the main window and the assistant's
  // pictures are turned and mirrored as their EXIF orientation tag says (overlay/orientation.h).
  // The sliders' offsets and angle and the assistant's points then refer to the upright
  // picture, not to the pixels as stored. 0, any other value or none: pictures as stored.
  bool ExifOrientation = false;
  // [Display] FlickerMs: how long the flicker shows each of its two states, 100 to 5000 ms;
  // anything else (or nothing) gives 500.
  int FlickerMs = 500;
  // [Display] MatchColours = 1: picture 2's exposure and colours matched to picture 1's.
  bool MatchColours = false;
  // [Display] CheckerSquare: the checkerboard's side in screen pixels, 4 to 1024; else 64.
  int CheckerSquare = 64;
  TOpenDialogSettings OpenDialog;
};

// A missing file or key reads as its default; nothing is created by reading.
TSettings ReadSettings(const std::string& Path);
// AutoLoad/FormProperties = 1 and the four bounds, stored in one replacement of the file
// (ImageCount and everything else in it stay as they are). A failure's reason is
// SettingsNotWrittenText of Path ("nach <Path> kann nicht geschrieben werden"); the file then
// stays as it was.
platform::TStatus WriteSettings(const std::string& Path, const TWindowBounds& Bounds);
// The open dialog's filter and folder and the recent list, in one replacement of the file
// (everything else stays). The paths say whose pictures they were, so the file is then
// readable by its owner only (0600). Fails as WriteSettings does.
platform::TStatus WriteOpenDialogSettings(const std::string& Path,
                                          const TOpenDialogSettings& Dialog);
// [Display] MatchColours, as WriteSettings writes.
platform::TStatus WriteMatchColours(const std::string& Path, bool On);

// [Assistent] Left, Top, Width, Height, stored as WriteSettings stores the main window's bounds.
platform::TStatus WriteAssistentBounds(const std::string& Path, const TAssistentBounds& Bounds);

// Stored bounds made usable on the screens there are now (their available areas): a window
// that no screen shows enough of goes onto the first screen; the size is at least the minimum
// and at most the screen (unless the minimum is larger), and the place keeps the whole window on
// that screen. Bounds that a screen shows whole come back as they are.
TAssistentBounds ClampIntoScreens(const TAssistentBounds& Stored,
                                  const std::vector<TAssistentBounds>& Screens, int MinWidth,
                                  int MinHeight);

// [PACS] of Tessaly.ini: the clinic's archive that "Send to PACS" stores to. The AE titles are
// what the association names on both sides; Host and Port where the archive listens; Timeout
// (1 to 600 s, else 10) bounds the connection, the negotiation and each answer.
struct TPacsSettings {
  std::string CallingAE = "TESSALY";
  std::string CalledAE = "ORTHANC";
  std::string Host = "localhost";
  int Port = 4242;
  int TimeoutSeconds = 10;
};
// The [PACS] section, each missing key its default. Refused, with the reason in the window's
// language (the key and its value), when an AE title is empty, longer than 16 characters or holds
// a backslash or a control character, when the host is no host name or IPv4 address of at most 64
// characters (a port in it, "host:4242", is Port's), when the port is not 1 to 65535, or when the
// file is there but cannot be read (a folder, a FIFO, a device: its defaults are no setting).
platform::TResult<TPacsSettings> ReadPacsSettings(const std::string& Path);

// What the start-up takes from the interface file of the command line.
// The largest scale a picture may have, in pixels per 100 mm (10 000 pixels per mm, a
// microscope's): beyond it the interface file's or the command line's scale is no scale, and
// the densities written from it would no longer fit their fields.
constexpr int MaxPp100MM = 1000000;

struct TInterfaceStart {
  int Count = 0;
  std::string Caption;                 // set when Count > 1
  std::string ImageFile1, ImageFile2;  // set when Count > 1
  int Pp100MM1 = 0;                    // picture 1's pixels per 100 mm; 0 or less: not known
  int Pp100MM2 = 0;                    // picture 2's
  // A scale the file gives outside 1..MaxPp100MM, as it gives it, which is read as not known
  // (the Pp100MM above 0); 0 where the file gives none or a sound one.
  int OutsidePp100MM1 = 0, OutsidePp100MM2 = 0;
  // The patient as shown (iface::DisplayText), and each picture's date and time as the file
  // gives them; for the report.
  std::string Name, Firstname, Birthdate;
  std::string Date1, Time1, Date2, Time2;
  // The patient's ID where the file has one: the value of the additional pair named PatientID,
  // in any case (the interface record has no field of its own for it); for the DICOM export.
  std::string PatientId;
  // A named file that could not be read (iface::TInterfaceBA::LastReadStatus), for the user.
  platform::TStatus Status;
};
TInterfaceStart ReadInterfaceStart();

}  // namespace overlay
