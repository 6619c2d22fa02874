// The main window's logic without any widget: the image view with picture 1, the rotation
// layer with picture 2 and its unscaled copy, the six gauge bars and the texts of the
// read-only fields, the two load sequences, UpdateControls and the placement's history. Where
// the overlay stands is TOverlayPlacement's, how it is drawn TViewModes', the view's mouse tools
// TViewTools', what is known of the pictures TPicturePair's; the controller forwards the
// window's calls to them. The Qt window (TFormMain) places and shows these objects and wires its
// buttons to the operations here; the command-line renderer drives the same object headless.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "controls/image_view.h"
#include "controls/range_bars.h"
#include "controls/rot_layer.h"
#include "overlay/align/auto_align.h"
#include "overlay/comparison/colour_match.h"
#include "overlay/comparison/comparison.h"
#include "overlay/comparison/measure.h"
#include "overlay/comparison/placement_history.h"
#include "overlay/decode/picture_import.h"
#include "overlay/scene/bar_handlers.h"
#include "overlay/scene/drawing_modes.h"
#include "overlay/scene/measure_edit.h"
#include "overlay/scene/measure_layer.h"
#include "overlay/scene/overlay_colours.h"
#include "overlay/scene/overlay_placement.h"
#include "overlay/scene/picture_pair.h"
#include "overlay/scene/scale_bar.h"
#include "overlay/scene/view_input.h"
#include "overlay/scene/view_status.h"
#include "overlay/scene/view_tools.h"
#include "platform/status.h"
#include "raster/core.h"

namespace overlay {

// The read-only fields whose texts the controller keeps.
enum class TField {
  EditX,
  EditY,
  EditAngle,
  EditZoom,
  EditZoomOvl,
  EditTransp,
  EditImage1,
  EditImage2
};
constexpr int FieldCount = 8;

class TMainController : public TComparisonView, private TPlacementHost {
 public:
  explicit TMainController(int ViewWidth = MainViewWidth, int ViewHeight = MainViewHeight);
  ~TMainController();
  TMainController(const TMainController&) = delete;
  TMainController& operator=(const TMainController&) = delete;

  raster::TImgView32& ImgView() { return *FImgView; }
  const raster::TImgView32& ImgView() const { return *FImgView; }
  raster::TGaugeBar& GaugeBar1() { return FGaugeBar1; }  // angle
  raster::TGaugeBar& GaugeBar2() { return FGaugeBar2; }  // X offset
  raster::TGaugeBar& GaugeBar3() { return FGaugeBar3; }  // Y offset
  raster::TGaugeBar& GaugeBar4() { return FGaugeBar4; }  // view zoom
  raster::TGaugeBar& GaugeBar5() { return FGaugeBar5; }  // overlay zoom
  raster::TGaugeBar& GaugeAlpha() { return FGaugeAlpha; }

  raster::TRotLayer* RotLayer() const override { return FRotLayer; }
  const raster::TBitmap32* OverlayOriginal() const override { return FOverlayOriginal.get(); }
  // A tool's last use of its pictures (TFullResolutionRenderer taking them): the overlay's
  // original handed over; this controller must not be asked to draw or place the overlay again.
  std::unique_ptr<raster::TBitmap32> TakeOverlayOriginal() { return std::move(FOverlayOriginal); }
  const std::string& ImageFile1() const { return FPictures.File(1); }
  const std::string& ImageFile2() const { return FPictures.File(2); }
  // The paths a calling application named, before (or without) loading them, and a path shown
  // in its name field.
  void SetImageFile1(std::string Path) { FPictures.SetFile(1, std::move(Path)); }
  void SetImageFile2(std::string Path) { FPictures.SetFile(2, std::move(Path)); }
  void ShowPath(TField Field, std::string Path) { SetText(Field, std::move(Path)); }
  bool Image1Loaded() const { return FPictures.Loaded(1); }
  bool Image2Loaded() const { return FPictures.Loaded(2); }
  bool ControlsEnabled() const override { return Image1Loaded() && Image2Loaded(); }

  // What the record session reads and shows (controller_comparison.cpp).
  bool BothLoaded() const override { return ControlsEnabled(); }
  TComparison Shown() const override;
  const raster::TBitmap32* Picture2() const override { return OverlayOriginal(); }
  void ShowRecord(const TComparisonRecord& Record) override;
  TSliderPositions Sliders() const;

  const std::string& Text(TField Field) const { return FTexts[std::size_t(Field)]; }
  // The separators of the two zoom read-outs; any text, multi-byte ones included.
  void SetNumberFormat(std::string DecimalSeparator, std::string ThousandSeparator);
  const std::string& DecimalSeparator() const override { return FDecimalSeparator; }

  // Told of every read-out change, and of every UpdateControls with whether the overlay
  // controls (the six bars, ButtonAssistent and BitBtnPrint) are enabled, so a window can
  // follow.
  std::function<void(TField, const std::string&)> OnText;
  std::function<void(bool Enabled)> OnEnabledChanged;
  // After each step of the placement's history the user makes (and undo and redo, also of a
  // measure): the window keeps the comparison record.
  std::function<void()> OnPlacementChanged;

  // The load sequences. Each reads the picture through the picture import first; when no
  // picture arrives (missing file, unknown or undecodable format) the user is told once, with
  // the file and the reason, and nothing changes: the previous picture, its path and the flags
  // stay, and false is returned. An exception (memory, a failing decode) leaves the previous
  // state whole as well.
  bool LoadImage1(const std::string& Path);
  bool LoadImage2(const std::string& Path);
  // LoadImage1 of Path1 and LoadImage2 of Path2, both decoded at once (LoadPicturesTogether);
  // WhileWaiting runs on this thread while they decode.
  void LoadBothImages(const std::string& Path1, const std::string& Path2,
                      const std::function<void()>& WhileWaiting);
  // The same with a picture already decoded; its pixels are taken over (Picture is left
  // empty). Original: the overlay's copy of picture 2, when made already (CommitImage2).
  void SetImage1(const std::string& Path, raster::TBitmap32& Picture);
  void SetImage2(const std::string& Path, raster::TBitmap32& Picture,
                 std::unique_ptr<raster::TBitmap32> Original = nullptr);
  // The positioning assistant's run: BeginAssistant puts the overlay back at the placing
  // sliders' start, as one step of the history (undone like any other), the view's zoom, the
  // opacity and the measures as they are. Picture 2's file is read again first: false, with
  // everything as it was, when it cannot be read any more (the user has been told); when it
  // holds another picture by now, that is taken as a new picture 2 (as LoadImage2 does), so that
  // the overlay is the picture the assistant shows. EndAssistant after the run: unless its
  // points were applied (Aligned), the placement and the history are again those the run started
  // from.
  bool BeginAssistant();
  void EndAssistant(bool Aligned);

  void UpdateControls();

  // The change handlers of the six bars (GaugeBar2Change serves GaugeBar3 too). Each does
  // nothing unless both the layer and the unscaled copy exist.
  void GaugeBar1Change() { FPlace.AngleChanged(); }
  void GaugeBar2Change() { FPlace.OffsetChanged(); }
  void GaugeBar4Change();
  void GaugeBar5Change() { FPlace.OverlayZoomChanged(); }
  void GaugeAlphaChange();

  // The view zoom that shows picture 1 whole in the viewport, side by side in its half (the largest
  // such GaugeBar4 position), and 100 % (one screen pixel per picture pixel), through GaugeBar4 and
  // its handler. False, with nothing changed, unless both pictures are loaded.
  bool FitView();
  bool ActualSizeView();

  // Turns, zooms and moves the overlay so that picture 2's two points meet picture 1's, and
  // leaves it exactly there (PlaceExactly); the sliders show the nearest slider state.
  // Points: point 1 in picture 1 (a1), in picture 2 (b1), point 2 in picture 1 (a2), in
  // picture 2 (b2). Two coinciding points in either picture define no turn or zoom: they are
  // refused with CoincidentPointsText and false, the overlay unchanged.
  bool AlignOverlay(float a1x, float a1y, float b1x, float b1y, float a2x, float a2y, float b2x,
                    float b2y);

  // The automatic alignment in its three steps, for a window that runs the long one on a
  // worker thread: PrepareAutoAlign reduces the two pictures now (null unless both are loaded)
  // and notes which pictures they were; the job's Run finds the placement, on any thread;
  // ApplyAutoAlign, back here, places the overlay exactly at the fit (PlacePrecisely; the
  // sliders show the nearest slider state, at their ends for a fit beyond them) and returns
  // true. A result of other pictures than the present ones is dropped (false); an unreliable one
  // shows AlignRefusalText (why) and leaves the overlay as it is (false).
  std::unique_ptr<TAlignmentJob> PrepareAutoAlign(std::uint64_t* Generation) const;
  bool ApplyAutoAlign(const TAutoAlignResult& Result, std::uint64_t Generation);
  // Moves the angle, X, Y and overlay-zoom sliders, in that order, running each handler.
  void ApplyPlacement(const TPlacement& Placement) { FPlace.ApplyPlacement(Placement); }
  // Places the overlay turned by Degrees (-180..180) and zoomed by Factor so that picture 2's
  // point Source lies on picture 1's point Target, also between slider steps: the layer's own
  // scale completes the whole-pixel bitmap size. The sliders show the nearest slider state
  // without moving the overlay, and the read-outs the placement itself, marked with
  // BetweenStepsMark; a placement on slider steps is the slider state itself.
  void PlaceExactly(double Degrees, float Factor, raster::TFloatPoint Target,
                    raster::TFloatPoint Source);
  // The same for a placement given in the sliders' terms, which may lie beyond the bars' ends:
  // a bar then stands at its end and its read-out shows the value. Moved afterwards, such a bar
  // moves the value from where it is by as much as the bar moves (dragged: as the mouse moves
  // from where the drag started), and the other bars leave it where it is.
  // False, with nothing changed, when picture 2 so zoomed is more than a bitmap holds
  // (PlacementFits).
  bool PlacePrecisely(const TPrecisePlacement& Placement) {
    return FPlace.PlacePrecisely(Placement);
  }
  bool Precise() const { return FPlace.Precise(); }
  // Undo and redo of the placement (the four placing sliders, or a placement between their
  // steps): every slider move, nudge, alignment and assistant result is one step, and so is a
  // gesture between BeginGesture and EndGesture (a thumb dragged). Loading a picture starts a
  // new history; ResetPlacement returns to the placement right after loading, as a step of its
  // own. Each returns false, with nothing changed, when there is nothing to do, and while a
  // gesture is open (a thumb held, a measure's point dragged), whose step is not finished yet.
  // Undo while a measure is being drawn drops only that measure, as CancelMeasure does.
  bool Undo();
  bool Redo();
  bool ResetPlacement();
  void BeginGesture() override;
  void EndGesture() override;
  TPlacementState PlacementState() const;

  // Exposure and colour matching (FitColourMatch): while on, the overlay shows picture 2 through
  // the per-channel tables fitted at the present placement, refitted after each placement
  // change (a dragged slider once it is let go) and each new picture; off, picture 2 as loaded.
  void SetColourMatch(bool On);
  bool ColourMatchOn() const { return FColours.On(); }
  const TColourMatch& ColourMatch() const { return FColours.Match(); }

  // How the overlay is drawn (TViewModes), the flicker aside: blended, as the difference, swipe,
  // checkerboard or side by side.
  TViewMode DrawnMode() const { return FModes->Mode(); }
  const TViewModes& DrawingModes() const { return *FModes; }
  // The status bar's state with the mouse at ControlPos over the view (none: elsewhere).
  TViewStatus ViewStatusAt(std::optional<raster::TPoint> ControlPos);
  // Where the overlay stands: the precise placement, or the sliders' state.
  TPrecisePlacement Placement() const { return FPlace.Placement(); }
  // The difference view: the overlay is drawn as the per-channel absolute difference from
  // picture 1 (raster::dmDifference) instead of blended, so that what has not changed turns
  // black. The sliders keep their meaning; the opacity plays no part while it is on. It stays
  // on for a picture 2 loaded meanwhile.
  void SetDifferenceView(bool On) { FModes->Set(TViewMode::Difference, On); }
  bool DifferenceView() const { return DrawnMode() == TViewMode::Difference; }
  // Swipe: picture 1 left of a vertical line (SwipeLine, in picture-1 pixels; at first the
  // middle of picture 1), the overlay opaque right of it. Checkerboard: squares of CheckerSquare
  // screen pixels, anchored at picture 1's corner, showing picture 1 and the opaque overlay in
  // turn. Each way of drawing ends the one before.
  void SetSwipe(bool On) { FModes->Set(TViewMode::Swipe, On); }
  bool Swipe() const { return DrawnMode() == TViewMode::Swipe; }
  void SetChecker(bool On) { FModes->Set(TViewMode::Checker, On); }
  bool Checker() const { return DrawnMode() == TViewMode::Checker; }
  // Side by side: picture 1 in the viewport's left half, the placed overlay alone in the right
  // half, half a viewport over, so that a point of picture 1 and the overlay's point on it lie
  // at the same place in both halves; zoom and scroll are the view's, so they are linked. The
  // mouse (SetSideCursor, view coordinates) shows as a cross in both halves. The view's scroll
  // range then covers picture 1 in a half-width viewport (SetSplitViewport), so each half
  // reaches every part of its picture.
  void SetSide(bool On) { FModes->Set(TViewMode::Side, On); }
  // One of the ways of drawing, the others ended (the flicker is no way of drawing here).
  void ShowMode(TViewMode Mode) { FModes->Show(Mode); }
  bool Side() const { return DrawnMode() == TViewMode::Side; }
  void SetSideCursor(std::optional<raster::TPoint> ControlPos) {
    FModes->SetSideCursor(ControlPos);
  }
  void SetSwipeLine(double X) { FModes->SetSwipeLine(X); }
  double SwipeLine() const { return FModes->SwipeLine(); }
  static constexpr int MinCheckerSquare = TViewModes::MinCheckerSquare;
  static constexpr int MaxCheckerSquare = TViewModes::MaxCheckerSquare;
  void SetCheckerSquare(int Pixels) { FModes->SetCheckerSquare(Pixels); }
  int CheckerSquare() const { return FModes->CheckerSquare(); }
  // Flicker: the view alternates between picture 1 alone and the overlay fully opaque, the
  // opacity slider left where it is (the overlay is drawn opaque, not blended). StartFlicker shows
  // picture 1 alone; each FlickerTick (the window's timer, a test's own clock) the other state.
  // StopFlicker, which every slider change runs first, shows the overlay as its sliders say again.
  void StartFlicker();
  void FlickerTick() { FModes->FlickerTick(); }
  void StopFlicker() override { FModes->StopFlicker(); }
  bool Flickering() const { return FModes->Flickering(); }
  // The label in the view's corner that names the picture the flicker shows.
  const TCornerLabelLayer& FlickerLabel() const { return *FFlickerLabel; }
  bool FlickerShowsOverlay() const { return Flickering() && FModes->FlickerOverlay(); }
  // [Display] ExifOrientation: pictures loaded from now on are turned upright by their EXIF
  // orientation tag (the sliders then refer to the upright picture), or kept as stored.
  void SetExifOrientation(bool On) {
    FOrientation = On ? TPictureOrientation::Upright : TPictureOrientation::AsStored;
  }
  // The scale bar: Pp100MM is what a calling application gave for the picture at Path. It holds
  // while picture 1 is that file (another picture 1 has no known scale), and it turns the bar
  // on when above 0. SetScaleBar shows or hides the bar; it can show only with a known scale.
  void SetPictureScale(std::string Path, int Pp100MM);
  // Picture 2's scale as the calling application gave it for the file at Path; it holds while
  // picture 2 is that file. Only measuring uses it.
  void SetPictureScale2(std::string Path, int Pp100MM) {
    FPictures.SetGivenScale(2, std::move(Path), Pp100MM);
  }
  // What the pictures' files said, for a scene showing copies of the same pictures (the print's
  // captures), so that it measures with their unrounded scales as this one does.
  void SetPictureFacts(TPictureFacts One, TPictureFacts Two);
  // What a measure needs: both pictures' known scales (0 where none is), the placement and
  // picture 2's size.
  TMeasureFrame MeasureFrame() const;
  // Measuring on the view (TMeasureEditor): rulers and outlines drawn with a tool, their points
  // dragged and deleted, each change a step of the history (a drag one step), shown by the
  // measure layer. New pictures start without measures; the assistant's reload keeps them.
  // Positions are the view's (control) coordinates.
  const TMeasureEditor& MeasureEditor() const { return FMeasureEditor; }
  const std::vector<TMeasure>& Measures() const { return FMeasureEditor.Measures(); }
  // Measures of a restored record: a step of the history like any other change. Picture 2's of
  // an old record, in picture-1 coordinates under its placement, become picture 2's own here,
  // where picture 2's size is known; unnamed ones take their default names.
  void SetMeasures(std::vector<TMeasure> Measures);
  void SetMeasureTool(TMeasureTool Tool);
  TMeasureTool MeasureTool() const { return FMeasureEditor.Tool(); }
  // A left press: on a finished measure's point (nothing being drawn) it starts dragging that
  // point; with a tool on it adds a point. False, with nothing done, otherwise (the press then
  // pans or moves the swipe's line).
  bool MeasureMouseDown(raster::TPoint ControlPos) { return FTools->MeasureMouseDown(ControlPos); }
  // The dragged point follows the mouse (true), or the measure being drawn previews its next
  // point; a move without the left button held ends a drag (its release went elsewhere).
  bool MeasureMouseMove(raster::TPoint ControlPos, bool LeftHeld) {
    return FTools->MeasureMouseMove(ControlPos, LeftHeld);
  }
  bool MeasureMouseUp() { return FTools->MeasureMouseUp(); }
  // Enter or a double click; Escape (the measure being drawn, else the tool); the Delete key on
  // a point; the whole measure under the mouse. Each returns false when it did nothing.
  bool FinishMeasure() { return FTools->FinishMeasure(); }
  bool CancelMeasure() { return FTools->CancelMeasure(); }
  bool DeleteMeasurePoint(raster::TPoint ControlPos) {
    return FTools->DeleteMeasurePoint(ControlPos);
  }
  bool DeleteMeasureAt(raster::TPoint ControlPos) { return FTools->DeleteMeasureAt(ControlPos); }
  // The finished measure under the mouse (a point of it or one of its lines), for a rename.
  std::optional<std::size_t> MeasureIndexAt(raster::TPoint ControlPos) {
    return FTools->MeasureIndexAt(ControlPos);
  }
  // Measure Index takes Name (TMeasureEditor::Rename), a step of the history; refused with the
  // reason the user reads when it is empty or another measure of its picture has it.
  platform::TStatus RenameMeasure(std::size_t Index, std::string_view Name) {
    return FTools->RenameMeasure(Index, Name);
  }
  // After each change of the measures, undo and redo included: the window keeps the record.
  std::function<void()> OnMeasuresChanged;
  // Where the measures lie on the view now, and what the view shows for PictureShownAt.
  TMeasureScreen MeasureScreen();
  TShownPictures ShownPictures();
  const TMeasureLayer& MeasureLayer() const { return *FMeasureLayer; }
  bool ScaleBarAvailable() const { return FScaleBar->Pp100MM() > 0; }
  // Whether picture 1's scale is its own (a DICOM file's spacing, FFacts1), not the calling
  // application's: the DICOM export then writes that spacing as the file gave it.
  bool Scale1FromFacts() const { return ScaleBarAvailable() && !FPictures.ScaleGivenForFile(1); }
  // Likewise for picture 2's scale (MeasureFrame's Pp100MM2).
  bool Scale2FromFacts() const {
    return Image2Loaded() && !FPictures.ScaleGivenForFile(2) && FactsPp100MM(Facts2()) > 0;
  }
  void SetScaleBar(bool On);
  bool ScaleBarShown() const { return FScaleBarOn && ScaleBarAvailable(); }
  const TScaleBarLayer& ScaleBar() const { return *FScaleBar; }
  // The scale bar, the measures and the flicker's label drawn Value times as large, for a capture
  // at full resolution.
  void SetMarkMagnification(int Value) {
    FScaleBar->SetMagnification(Value);
    FMeasureLayer->SetMagnification(Value);
    FFlickerLabel->SetMagnification(Value);
  }
  // When each picture was taken, as its EXIF data says ("2025-08-12 14:03"); empty when unknown.
  std::string DateTaken1() const { return FormatDateTaken(Facts1().DateTaken); }
  std::string DateTaken2() const { return FormatDateTaken(Facts2().DateTaken); }
  // The visit a calling application gave for picture Picture (1 or 2), the interface file's Date
  // and Time as it holds them: they hold while that picture is the file at Path, as the scale
  // does, and win over the EXIF date (a photo taken at home, a camera's clock wrong).
  void SetVisitDate(int Picture, std::string Path, std::string Date, std::string Time);
  // Both visits of Other, for a copy of its comparison (a capture's scene).
  void SetVisitDates(const TMainController& Other) { FPictures.CopyVisits(Other.FPictures); }
  // When picture Picture was taken as the flicker's label and the page show it: the visit's date
  // where one holds ("03.02.2026 14:03", followed by the EXIF date in brackets where that is
  // another day), else the EXIF date; empty when neither is known.
  std::string DateShown(int Picture) const { return FPictures.DateShown(Picture); }
  // The same as YYYYMMDDhhmmss for the DICOM objects: the visit's where it holds and reads as a
  // date, else the EXIF date; 0 when neither is known.
  std::uint64_t WhenTaken(int Picture) const { return FPictures.WhenTaken(Picture); }
  // What each picture's file said besides its pixels (empty for a picture set, not loaded).
  const TPictureFacts& Facts1() const { return FPictures.Facts(1); }
  const TPictureFacts& Facts2() const { return FPictures.Facts(2); }
  // Counts every picture 1 or 2 that is set.
  std::uint64_t PicturesGeneration() const { return FGeneration; }

  // Direct input on the window and the view, acting only through the sliders (SetPosition, so
  // the handlers and read-outs follow and the bars clamp) and the view's scroll bars.
  // The slider Key nudges moves; false, with nothing changed, unless both pictures are loaded.
  // An offset beyond its bar's end moves from its value, either way.
  bool NudgeKey(TNudgeKey Key, bool Shift);
  // Key with Alt: the arrows move the overlay by FineNudgeStep picture-1 pixels and Page Up /
  // Page Down turn it by FineNudgeStep degrees, in the directions of NudgeKey, leaving it
  // between slider steps (PlacePrecisely); plus and minus zoom the view as without Alt.
  static constexpr double FineNudgeStep = 0.1;
  bool FineNudgeKey(TNudgeKey Key);
  // One GaugeBar4 step per wheel notch at MousePos (view coordinates), keeping the point of
  // picture 1 under the mouse where it was, within half a screen pixel (PlaceBitmapAt). False, with
  // nothing changed, unless both pictures are loaded and MousePos lies in the viewport (the scroll
  // bars keep their own wheel).
  bool WheelZoom(int AngleDelta, raster::TPoint MousePos) {
    return FTools->WheelZoom(AngleDelta, MousePos, FGaugeBar4);
  }
  // whether WheelZoom takes a wheel there
  bool WheelZooms(raster::TPoint MousePos) { return FTools->WheelZooms(MousePos); }
  bool Panning() const { return FTools->Active() == TViewTool::Pan; }
  // The view's mouse tools: the left button's press, moves and release go to the one they are
  // for (a measure's point, the swipe's line, the pan).
  const TViewTools& ViewTools() const { return *FTools; }
  TViewTools& ViewTools() { return *FTools; }

 private:
  // Sets a flag for one scope.
  class TSliderQuiet {
   public:
    explicit TSliderQuiet(bool& Flag) : FFlag(Flag) { FFlag = true; }
    ~TSliderQuiet() { FFlag = false; }
    TSliderQuiet(const TSliderQuiet&) = delete;
    TSliderQuiet& operator=(const TSliderQuiet&) = delete;

   private:
    bool& FFlag;
  };
  void RefitColours();
  // TPlacementHost: what placing the overlay needs of the controller (the rest is public).
  bool InGesture() const override { return FHistory.InGesture(); }
  void ShowReadOut(TPlacingBar Bar, std::string Text) override;
  void SetText(TField Field, std::string Text);
  void RecordPlacement() override;
  void RestorePlacement(const TPlacementState& State);
  // Undo or redo: the history's step, then the overlay placed there.
  bool StepThroughHistory(std::optional<TPlacementState> (TPlacementHistory::*Step)());
  // The overlay zoom's read-out for the slider's position.
  std::string OverlayZoomText() const override;
  void CommitImage1(const std::string& Path, raster::TBitmap32& Picture);
  // Original: the overlay's copy of Picture (OverlayOriginalOf), when made already (a load
  // makes it on its own thread); else it is made here.
  void CommitImage2(const std::string& Path, raster::TBitmap32& Picture,
                    std::unique_ptr<raster::TBitmap32> Original = nullptr);
  void UpdateScaleBar();
  // Picture 1's facts once it is set, and the scale they may bring.
  void SetFacts1(TPictureFacts Facts);
  // The measures changed (a step of the history when Finished), or only the one being drawn.
  void MeasuresEdited(bool Finished);

  std::unique_ptr<raster::TImgView32> FImgView;
  raster::TGaugeBar FGaugeBar1, FGaugeBar2, FGaugeBar3, FGaugeBar4, FGaugeBar5, FGaugeAlpha;
  raster::TRotLayer* FRotLayer = nullptr;      // owned by the view's layer collection
  TScaleBarLayer* FScaleBar = nullptr;         // likewise; always on top
  TMeasureLayer* FMeasureLayer = nullptr;      // likewise, above the overlay
  TCornerLabelLayer* FFlickerLabel = nullptr;  // likewise
  TMeasureEditor FMeasureEditor;
  TPicturePair FPictures;
  bool FScaleBarOn = false;
  std::unique_ptr<raster::TBitmap32> FOverlayOriginal;
  // Where the overlay stands: at the slider state, or at a precise placement the bars show only
  // as its nearest state.
  TOverlayPlacement FPlace{*this, FGaugeBar1, FGaugeBar2, FGaugeBar3, FGaugeBar5};
  // While the history's own step is restored, or the sliders are set back to their start by a
  // load: no new step.
  bool FNoStep = false;
  TPlacementHistory FHistory;
  // While the assistant runs: the placement and the history it started from.
  struct TAssistantStart {
    TPlacementState State;
    TPlacementHistory History;
  };
  std::optional<TAssistantStart> FAssistantStart;
  // Colour matching: on or off, the fit now applied, picture 2 as loaded while the overlay's
  // copy holds its matched colours.
  TOverlayColours FColours;
  bool FRefitting = false;
  std::uint64_t FGeneration = 0;
  TPictureOrientation FOrientation = TPictureOrientation::AsStored;
  std::array<std::string, FieldCount> FTexts;
  std::string FDecimalSeparator = ".";
  std::string FThousandSeparator = ",";
  // The ways of drawing and the view's tools, which use the view, the editor and the history
  // above (and so are declared after them, to go first).
  std::unique_ptr<TViewModes> FModes;
  std::unique_ptr<TViewTools> FTools;
};

// The comparison Controller shows (TMainController::Shown).
TComparison ComparisonOf(const TMainController& Controller);

}  // namespace overlay
