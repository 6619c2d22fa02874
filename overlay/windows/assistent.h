// The two-point positioning assistant window: shows picture 1, then picture 2, takes two
// corresponding points in each and hands the eight coordinates to the overlay alignment. The
// picture can be zoomed (wheel, "100 %" and "Einpassen", keys 1 and 0) and dragged; zoomed in,
// a click names a point to 1/100 pixel. The window's place and size are kept in Tessaly.ini.
#pragma once

#include <QDialog>
#include <functional>
#include <memory>
#include <string>

#include "overlay/align/assistent_logic.h"
#include "overlay/decode/picture_import.h"  // PictureNotLoadedText, for callers and tests

class QImage;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;
class QWidget;

namespace raster {
class TBitmap32;
}

namespace overlay {

class TPictureView;

// The overlay alignment: point 1 in picture 1, point 1 in picture 2, point 2 in picture 1,
// point 2 in picture 2. Returns false when it refused the points (the assistant then stays
// open so the user can mark them again).
using TAlignHandler = std::function<bool(float a1x, float a1y, float b1x, float b1y, float a2x,
                                         float a2y, float b2x, float b2y)>;

// An opaque copy of Bitmap that owns its pixels (TColor32 has the layout of Format_RGB32).
QImage ToQImage(const raster::TBitmap32& Bitmap);

// The widest point an edit must show whole: five-digit coordinates to hundredths.
inline constexpr const char* WidestPointText = "12345.25 x 12345.75";

class TFormAssistent : public QDialog {
 public:
  // The window's size when Tessaly.ini keeps none.
  static constexpr int DefaultWidth = 422;
  static constexpr int DefaultHeight = 490;

  // ApplyLanguage (may be empty) runs once, at the end of construction, when every control
  // exists under its name; its result is ignored. The controls are then laid out for the
  // texts it set, and the minimum width is what that layout needs.
  explicit TFormAssistent(QWidget* Parent = nullptr,
                          std::function<void(QWidget&)> ApplyLanguage = {});
  ~TFormAssistent() override;

  TAlignHandler OnAlign;  // called by "Fertig"

  // Sets PathImage1/PathImage2, takes the window's place and size from Tessaly.ini, enables
  // TimerStart and shows the window modally; returns when it closes, true when "Fertig" applied
  // its points.
  bool Run(const std::string& PathImage1, const std::string& PathImage2);
  // The same without waiting: shows the window modally and returns at once (the run goes on
  // in the caller's event loop).
  void Open(const std::string& PathImage1, const std::string& PathImage2);

  TAssistentLogic& Logic() { return FLogic; }
  TPictureView& Image() { return *FImage; }

  // The handlers, public so that the window can be driven like its controls drive it.
  void TimerStartTimer();
  // A click on the picture (a press released without a drag), naming picture point (X, Y).
  void ImageMouseDown(double X, double Y);
  void ButtonForwClick();
  void ButtonBackClick();
  void ButtonOkClick();
  void ButtonZoom100Click();
  void ButtonZoomFitClick();
  void FormResize();
  void PanelBottomResize();

 protected:
  void resizeEvent(QResizeEvent* Event) override;
  void keyPressEvent(QKeyEvent* Event) override;
  bool eventFilter(QObject* Watched, QEvent* Event) override;
  // Every way the window closes ends here ("Fertig", Escape, the title bar): the window's
  // bounds are written then.
  void done(int Result) override;

 private:
  void Prepare(const std::string& PathImage1, const std::string& PathImage2);
  // Reads Path through the picture import and shows it in Image; on failure tells the user
  // (unless the import already did) and leaves Image as it was.
  bool LoadImage(const std::string& Path);
  // Copies the logic's marks, edits and button states into the controls.
  void SyncControls();
  // Places the labels and edits of the top panel after their texts and sets the minimum size.
  void LayoutTopPanel();
  void RestoreBounds();
  void StoreBounds();

  TAssistentLogic FLogic;

  QWidget* FPanelTop = nullptr;
  QWidget* FPanelBottom = nullptr;
  QLabel* FAutoSized[6] = {};
  QLineEdit* FEdits[4] = {};  // by TAssistentPoint
  QPushButton* FButtonForw = nullptr;
  QPushButton* FButtonOk = nullptr;
  QPushButton* FButtonBack = nullptr;
  QPushButton* FButtonZoom100 = nullptr;
  QPushButton* FButtonZoomFit = nullptr;
  TPictureView* FImage = nullptr;
  QTimer* FTimerStart = nullptr;
};

}  // namespace overlay
