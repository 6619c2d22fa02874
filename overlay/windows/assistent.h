// The two-point positioning assistant window: shows picture 1, then picture 2, takes two
// corresponding points in each and hands the eight coordinates to the overlay alignment.
#pragma once

#include <QDialog>
#include <functional>
#include <memory>
#include <string>

#include "overlay/decode/picture_import.h"  // PictureNotLoadedText, for callers and tests
#include "overlay/scene/assistent_logic.h"

class QImage;
class QLabel;
class QLineEdit;
class QPushButton;
class QScrollArea;
class QTimer;
class QWidget;

namespace raster {
class TBitmap32;
}

namespace overlay {

// The overlay alignment: point 1 in picture 1, point 1 in picture 2, point 2 in picture 1,
// point 2 in picture 2. Returns false when it refused the points (the assistant then stays
// open so the user can mark them again).
using TAlignHandler = std::function<bool(float a1x, float a1y, float b1x, float b1y, float a2x,
                                         float a2y, float b2x, float b2y)>;

// An opaque copy of Bitmap that owns its pixels (TColor32 has the layout of Format_RGB32).
QImage ToQImage(const raster::TBitmap32& Bitmap);

class TFormAssistent : public QDialog {
 public:
  // ApplyLanguage (may be empty) runs once, at the end of construction, when every control
  // exists under its name; its result is ignored.
  explicit TFormAssistent(QWidget* Parent = nullptr,
                          std::function<void(QWidget&)> ApplyLanguage = {});
  ~TFormAssistent() override;

  TAlignHandler OnAlign;  // called by "Fertig"

  // Sets PathImage1/PathImage2, enables TimerStart and shows the window modally; returns when
  // it closes.
  void Run(const std::string& PathImage1, const std::string& PathImage2);
  // The same without waiting: shows the window modally and returns at once (the run goes on
  // in the caller's event loop).
  void Open(const std::string& PathImage1, const std::string& PathImage2);

  TAssistentLogic& Logic() { return FLogic; }

  // The handlers, public so that the window can be driven like its controls drive it.
  void TimerStartTimer();
  void ImageMouseDown(int X, int Y);
  void ButtonForwClick();
  void ButtonBackClick();
  void ButtonOkClick();
  void FormResize();
  void PanelBottomResize();

 protected:
  void resizeEvent(QResizeEvent* Event) override;
  bool eventFilter(QObject* Watched, QEvent* Event) override;
  void done(int Result) override;

 private:
  void Prepare(const std::string& PathImage1, const std::string& PathImage2);
  // Reads Path through the picture import and shows it in Image; on failure tells the user
  // (unless the import already did) and leaves Image as it was.
  bool LoadImage(const std::string& Path);
  TMarkerGeometry Geometry() const;
  // Copies the logic's markers, edits and button states into the controls.
  void SyncControls();
  // The content of the scroll box spans the picture and every marker that is not hidden.
  void UpdateContentSize();

  TAssistentLogic FLogic;

  QWidget* FPanelTop = nullptr;
  QWidget* FPanelBottom = nullptr;
  QLabel* FAutoSized[6] = {};
  QLineEdit* FEdits[4] = {};  // by TAssistentPoint
  QPushButton* FButtonForw = nullptr;
  QPushButton* FButtonOk = nullptr;
  QPushButton* FButtonBack = nullptr;
  QScrollArea* FScrollBoxImage = nullptr;
  QWidget* FContent = nullptr;
  QLabel* FImage = nullptr;
  QLabel* FMarkers[4] = {};  // by TAssistentPoint
  QTimer* FTimerStart = nullptr;
};

}  // namespace overlay
