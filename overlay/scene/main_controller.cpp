#include "overlay/scene/main_controller.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <numbers>

#include "overlay/base/texts.h"
#include "overlay/scene/picture_loading.h"
#include "platform/message.h"

namespace overlay {

using raster::TBitmap32;
using raster::TFloatPoint;
using raster::TGaugeBar;

namespace {

// Picture 2 as the overlay keeps it beside the layer's own bitmap, which the zoom and the colour
// matching rebuild from it.
std::unique_ptr<TBitmap32> OverlayOriginalOf(const TBitmap32& Picture) {
  auto original = std::make_unique<TBitmap32>();
  original->Assign(&Picture);
  original->SetStretchFilter(raster::sfLinear);
  original->SetDrawMode(raster::dmOpaque);
  return original;
}

void SetUpBar(TGaugeBar& Bar, const TSliderRange& Range) {
  Bar.SetBounds(0, 0, MainSliderWidth, MainSliderHeight);
  Bar.SetStyle(raster::rbsMac);
  Bar.SetBackgnd(raster::bgPattern);
  Bar.SetShowHandleGrip(true);
  Bar.SetSmallChange(1);
  Bar.SetLargeChange(1);
  // Max before Min and Position: with the default range 0..100 a minimum of -600 or a
  // position of 120 would otherwise be pulled into the old range.
  Bar.SetMax(Range.Max);
  Bar.SetMin(Range.Min);
  Bar.SetPosition(Range.Initial);
}

}  // namespace

void SetUpMainView(raster::TImgView32& View, int Width, int Height) {
  View.SetBounds(0, 0, Width, Height);
  View.SetColor(MainViewColor);
  View.SetScale(1.0f);
  View.SetSizeGrip(raster::sgNone);
  View.ScrollBars().SetColor(raster::clBtnShadow);
  View.ScrollBars().SetShowHandleGrip(true);
  View.ScrollBars().SetStyle(raster::rbsDefault);
  View.Loaded();
}

TMainController::TMainController(int ViewWidth, int ViewHeight)
    : FImgView(std::make_unique<raster::TImgView32>()) {
  SetUpMainView(*FImgView, ViewWidth, ViewHeight);
  FScaleBar = FImgView->Layers().Add<TScaleBarLayer>();
  FScaleBar->SetView(FImgView.get());
  FScaleBar->SetVisible(false);
  FFlickerLabel = FImgView->Layers().Add<TCornerLabelLayer>();
  FFlickerLabel->SetView(FImgView.get());
  FMeasureLayer = FImgView->Layers().Add<TMeasureLayer>();
  FMeasureLayer->SetView(FImgView.get());
  FMeasureLayer->SetEditor(&FMeasureEditor);
  FMeasureLayer->Screen = [this] { return MeasureScreen(); };
  FMeasureLayer->Frame = [this] { return MeasureFrame(); };
  SetUpBar(FGaugeBar2, OffsetXSlider);
  SetUpBar(FGaugeBar3, OffsetYSlider);
  SetUpBar(FGaugeBar1, AngleSlider);
  SetUpBar(FGaugeBar5, OverlayZoomSlider);
  SetUpBar(FGaugeBar4, ViewZoomSlider);
  SetUpBar(FGaugeAlpha, AlphaSlider);
  FTexts = {"0", "0", "0", "1.0", "1.0", "120", "", ""};

  // Any slider change ends a flicker first, so that the overlay shows as its sliders say.
  // The placing sliders' changes are steps of the placement's history.
  const auto onChange = [this](raster::TGaugeBar& Bar, void (TMainController::*Handler)(),
                               bool Placing) {
    Bar.OnChange = [this, Handler, Placing](raster::TObject*) {
      StopFlicker();
      (this->*Handler)();
      if (Placing) RecordPlacement();
    };
  };
  onChange(FGaugeBar1, &TMainController::GaugeBar1Change, true);
  onChange(FGaugeBar2, &TMainController::GaugeBar2Change, true);
  onChange(FGaugeBar3, &TMainController::GaugeBar2Change, true);
  onChange(FGaugeBar4, &TMainController::GaugeBar4Change, false);
  onChange(FGaugeBar5, &TMainController::GaugeBar5Change, true);
  onChange(FGaugeAlpha, &TMainController::GaugeAlphaChange, false);
  UpdateControls();
}

TMainController::~TMainController() {
  // The view frees its layers, the rotation layer and the scale bar included.
  FRotLayer = nullptr;
  FScaleBar = nullptr;
  FFlickerLabel = nullptr;
  FMeasureLayer = nullptr;
}

TSliderPositions TMainController::Sliders() const {
  return {FGaugeBar1.Position(), FGaugeBar2.Position(), FGaugeBar3.Position(),
          FGaugeBar4.Position(), FGaugeBar5.Position(), FGaugeAlpha.Position()};
}

void TMainController::SetNumberFormat(std::string DecimalSeparator, std::string ThousandSeparator) {
  FDecimalSeparator = std::move(DecimalSeparator);
  FScaleBar->SetDecimalSeparator(FDecimalSeparator);
  FMeasureLayer->SetDecimalSeparator(FDecimalSeparator);
  FThousandSeparator = std::move(ThousandSeparator);
}

void TMainController::SetText(TField Field, std::string Text) {
  FTexts[std::size_t(Field)] = std::move(Text);
  if (OnText) OnText(Field, FTexts[std::size_t(Field)]);
}

// ---------------------------------------------------------------------------------------
// Load sequences

bool TMainController::LoadImage1(const std::string& Path) {
  auto [picture, facts] = LoadPictureOrTell(Path, FOrientation);
  if (picture == nullptr) return false;
  SetImage1(Path, *picture);
  SetFacts1(std::move(facts));
  return true;
}

bool TMainController::LoadImage2(const std::string& Path) {
  auto [picture, facts] = LoadPictureOrTell(Path, FOrientation);
  if (picture == nullptr) return false;
  SetImage2(Path, *picture);
  FFacts2 = facts;
  return true;
}

void TMainController::LoadBothImages(const std::string& Path1, const std::string& Path2,
                                     const std::function<void()>& WhileWaiting) {
  // Picture 2's copy for the overlay is made on its loading thread, while picture 1 may still
  // decode.
  std::unique_ptr<TBitmap32> original2;
  std::vector<TLoadedPictureResult> loaded =
      LoadPicturesTogether({Path1, Path2}, FOrientation, WhileWaiting,
                           [&original2](std::size_t Index, const TBitmap32& Picture) {
                             if (Index == 1) original2 = OverlayOriginalOf(Picture);
                           });
  // Picture 1 first, as one loaded after the other; each failure is told once, in that order.
  TellPictureFailure(loaded[0].Status(), Path1);
  if (loaded[0]) {
    SetImage1(Path1, *loaded[0].Value().Picture);
    TellPictureNotes(loaded[0].Value().Facts, Path1);
    SetFacts1(std::move(loaded[0].Value().Facts));
  }
  TellPictureFailure(loaded[1].Status(), Path2);
  if (loaded[1]) {
    SetImage2(Path2, *loaded[1].Value().Picture, std::move(original2));
    TellPictureNotes(loaded[1].Value().Facts, Path2);
    FFacts2 = loaded[1].Value().Facts;
  }
}

void TMainController::SetImage1(const std::string& Path, TBitmap32& Picture) {
  FFacts1 = {};  // the loads that know it set it afterwards (SetFacts1)
  CommitImage1(Path, Picture);
  FImage1Loaded = true;
  UpdateControls();
}

void TMainController::SetImage2(const std::string& Path, TBitmap32& Picture,
                                std::unique_ptr<TBitmap32> Original) {
  CommitImage2(Path, Picture, std::move(Original));
  FFacts2 = {};
  FImage2Loaded = true;
  UpdateControls();
}

void TMainController::CommitImage1(const std::string& Path, TBitmap32& Picture) {
  FImgView->Bitmap().TakeOver(Picture);  // cannot fail: the pixels change hands
  ++FGeneration;
  FImageFile1 = Path;
  // The measures belonged to the comparison that is left.
  FMeasureEditor.SetMeasures({});
  EndMeasureDrag();
  FMeasureLayer->Update();
  SetText(TField::EditImage1, Path);
  UpdateScaleBar();
}

void TMainController::UpdateScaleBar() {
  // The scale a calling application gave holds for its picture only, and only once it shows.
  const bool shown = !FImgView->Bitmap().Empty();
  const int given = shown && FImageFile1 == FScalePath ? FScalePp100MM : 0;
  // Where it gave none, the picture's own (a DICOM file's pixel spacing).
  FScaleBar->SetPp100MM(given > 0 ? given : shown ? FactsPp100MM(FFacts1) : 0);
  FScaleBar->SetVisible(ScaleBarShown());
}

void TMainController::SetFacts1(TPictureFacts Facts) {
  FFacts1 = std::move(Facts);
  const int before = FScaleBar->Pp100MM();
  UpdateScaleBar();
  // A scale the picture brings turns the bar on, as the calling application's does.
  if (before == 0 && FScaleBar->Pp100MM() > 0) SetScaleBar(true);
}

void TMainController::SetPictureScale(std::string Path, int Pp100MM) {
  FScalePath = std::move(Path);
  FScalePp100MM = std::max(Pp100MM, 0);
  FScaleBarOn = FScalePp100MM > 0;
  UpdateScaleBar();
}

void TMainController::ShowMode(TViewMode Mode) {
  SetDifferenceView(Mode == TViewMode::Difference);
  SetSwipe(Mode == TViewMode::Swipe);
  SetChecker(Mode == TViewMode::Checker);
  SetSide(Mode == TViewMode::Side);
}

void TMainController::SetPictureFacts(TPictureFacts One, TPictureFacts Two) {
  FFacts1 = std::move(One);
  FFacts2 = std::move(Two);
  UpdateScaleBar();
}

void TMainController::SetPictureScale2(std::string Path, int Pp100MM) {
  FScalePath2 = std::move(Path);
  FScalePp100MM2 = std::max(Pp100MM, 0);
}

namespace {

// The picture's own scale unrounded, where its pixel spacing gives the scale in force (Pp100MM,
// its rounding).
double ExactScale(const TPictureFacts& Facts, int Pp100MM) {
  return Pp100MM > 0 && FactsPp100MM(Facts) == Pp100MM ? 100.0 / Facts.PixelSpacingColumn : 0;
}

}  // namespace

TMeasureFrame TMainController::MeasureFrame() const {
  TMeasureFrame frame;
  frame.Pp100MM1 = FScaleBar->Pp100MM();
  frame.Exact1 = ExactScale(FFacts1, frame.Pp100MM1);
  const int given2 = FImage2Loaded && FImageFile2 == FScalePath2 ? FScalePp100MM2 : 0;
  frame.Pp100MM2 = given2 > 0 ? given2 : FImage2Loaded ? FactsPp100MM(FFacts2) : 0;
  frame.Exact2 = ExactScale(FFacts2, frame.Pp100MM2);
  frame.Placement = Placement();
  if (FOverlayOriginal) {
    frame.Width2 = FOverlayOriginal->Width();
    frame.Height2 = FOverlayOriginal->Height();
  }
  return frame;
}

void TMainController::SetScaleBar(bool On) {
  FScaleBarOn = On;
  FScaleBar->SetVisible(ScaleBarShown());
}

void TMainController::CommitImage2(const std::string& Path, TBitmap32& Picture,
                                   std::unique_ptr<TBitmap32> Original) {
  StopFlicker();
  // Everything that can fail (memory for the copy and the new layer) happens before the old
  // overlay is given up, so a failure leaves the previous layer and copy in place and no
  // handler ever finds one without the other.
  std::unique_ptr<TBitmap32> original =
      Original != nullptr ? std::move(Original) : OverlayOriginalOf(Picture);

  raster::TRotLayer* layer = FImgView->Layers().Add<raster::TRotLayer>();
  TBitmap32& bitmap = *layer->Bitmap();
  const TFloatPoint centre{float(Picture.Width() / 2), float(Picture.Height() / 2)};
  {
    raster::TUpdateScope bracket(bitmap);
    bitmap.TakeOver(Picture);
    layer->SetBitmapCenter(centre);
    bitmap.SetDrawMode(OverlayDrawMode());
    layer->SetPaintRegion(OverlayRegion());
    bitmap.SetMasterAlpha(std::uint32_t(FGaugeAlpha.Position()));
    bitmap.SetStretchFilter(raster::sfLinear);
  }
  bitmap.Changed();

  if (FRotLayer != nullptr) FImgView->Layers().DeleteLayer(FRotLayer);
  FRotLayer = layer;
  FPrecise = false;  // the new layer stands at the slider state
  FHeldBar = nullptr;
  FOverlayPristine.reset();  // the colours are fitted anew for the new picture
  FColourMatch = {};
  FMeasureEditor.SetMeasures({});
  EndMeasureDrag();
  FMeasureLayer->BringToFront();
  FScaleBar->BringToFront();
  FFlickerLabel->BringToFront();
  ++FGeneration;
  FOverlayOriginal = std::move(original);
  FImageFile2 = Path;
  SetText(TField::EditImage2, Path);

  FRotLayer->SetScaled(true);
  // With the sliders at 0 the overlay's top-left corner lies on picture 1's top-left corner.
  FRotLayer->SetPosition(centre);
}

bool TMainController::BeginAssistant() {
  if (!ControlsEnabled() || FHistory.InGesture()) return false;
  // The user asked for the assistant and must learn why it does not open.
  // Its notes were told when it was loaded first.
  TLoadedPictureResult loaded = LoadPictureWithFacts(FImageFile2, FOrientation);
  TellPictureFailure(loaded.Status(), FImageFile2);
  auto [picture, facts] = std::move(loaded).Value();
  if (picture == nullptr) return false;
  // The overlay is kept as loaded (the measures stay on the very pixels they were drawn on)
  // unless the file now holds another picture, whose points the assistant would take.
  const TBitmap32& loaded2 = FOverlayPristine ? *FOverlayPristine : *FOverlayOriginal;
  const bool same = picture->Width() == loaded2.Width() && picture->Height() == loaded2.Height() &&
                    std::equal(picture->PixelBuffer(),
                               picture->PixelBuffer() +
                                   std::size_t(picture->Width()) * std::size_t(picture->Height()),
                               loaded2.PixelBuffer());
  if (!same) {
    SetImage2(FImageFile2, *picture);
    FFacts2 = facts;
  }
  FAssistantStart = TAssistantStart{PlacementState(), FHistory};
  StopFlicker();
  ApplyPlacement({});  // one step, like any slider move
  if (OnPlacementChanged) OnPlacementChanged();
  return true;
}

void TMainController::EndAssistant(bool Aligned) {
  if (!FAssistantStart) return;
  TAssistantStart start = std::move(*FAssistantStart);
  FAssistantStart.reset();
  if (Aligned) return;
  // Cancelled: its start leaves no step behind, and the overlay stands where it stood.
  RestorePlacement(start.State);
  FHistory = std::move(start.History);
  RefitColours();
  if (OnPlacementChanged) OnPlacementChanged();
}

void TMainController::UpdateControls() {
  const bool enabled = ControlsEnabled();
  for (TGaugeBar* bar :
       {&FGaugeBar1, &FGaugeBar2, &FGaugeBar3, &FGaugeBar4, &FGaugeBar5, &FGaugeAlpha}) {
    bar->SetEnabled(enabled);
  }
  if (OnEnabledChanged) OnEnabledChanged(enabled);
  if (!enabled) return;
  // The start of a load is no change of the placement.
  const TSliderQuiet resetting(FResetting);
  // A bar already at its start runs no handler, yet after a placement between the steps its
  // read-out still shows that placement (and, after a new picture 1, the overlay still stands
  // there): the placing bars' handlers then run all the same, so that every read-out and the
  // overlay show the state after the reset. Otherwise the zoom read-outs keep their first text.
  const auto marked = [this](TField Field) { return Text(Field).starts_with(BetweenStepsMark); };
  const bool between = FPrecise || marked(TField::EditAngle) || marked(TField::EditX) ||
                       marked(TField::EditY) || marked(TField::EditZoomOvl);
  // Every bar's handler then applies its own start, values beyond the bars' ends too.
  DropPrecise();
  const auto reset = [this, between](TGaugeBar& Bar, int Initial,
                                     void (TMainController::*Handler)()) {
    if (Bar.Position() != Initial) {
      Bar.SetPosition(Initial);
    } else if (between) {
      (this->*Handler)();
    }
  };
  reset(FGaugeBar1, AngleSlider.Initial, &TMainController::GaugeBar1Change);
  reset(FGaugeBar2, OffsetXSlider.Initial, &TMainController::GaugeBar2Change);
  reset(FGaugeBar3, OffsetYSlider.Initial, &TMainController::GaugeBar2Change);
  FGaugeBar4.SetPosition(ViewZoomSlider.Initial);
  reset(FGaugeBar5, OverlayZoomSlider.Initial, &TMainController::GaugeBar5Change);
  FGaugeAlpha.SetPosition(AlphaSlider.Initial);
  // Freshly loaded: the start of a new history, and what Reset returns to.
  FHistory.Reset(PlacementState());
  RefitColours();
}

// ---------------------------------------------------------------------------------------
// Undo and redo

TPlacementState TMainController::PlacementState() const {
  TPlacementState state;
  state.Steps = {FGaugeBar1.Position(), FGaugeBar2.Position(), FGaugeBar3.Position(),
                 FGaugeBar5.Position()};
  if (FPrecise) state.Precise = FPlacement;
  state.Measures = FMeasureEditor.Measures();
  return state;
}

void TMainController::RecordPlacement() {
  // Sliders shown quietly for a precise placement, and the history's own moves, are no step.
  if (FShowingPlacement || FRestoring || FResetting || !ControlsEnabled()) return;
  FHistory.Record(PlacementState());
  if (!FHistory.InGesture()) RefitColours();
  if (OnPlacementChanged) OnPlacementChanged();
}

void TMainController::RestorePlacement(const TPlacementState& State) {
  const TSliderQuiet restoring(FRestoring);
  if (State.Precise) {
    PlacePrecisely(*State.Precise);
  } else {
    ApplyPlacement(State.Steps);
  }
}

bool TMainController::StepThroughHistory(
    std::optional<TPlacementState> (TPlacementHistory::*Step)()) {
  // A step restored under a held thumb or a dragged point would be overwritten by its next move.
  if (!ControlsEnabled() || FHistory.InGesture()) return false;
  const std::optional<TPlacementState> state = (FHistory.*Step)();
  if (!state) return false;
  // A step of the measures leaves the overlay alone, which would otherwise be rebuilt.
  const TPlacementState now = PlacementState();
  if (state->Steps != now.Steps || state->Precise != now.Precise) RestorePlacement(*state);
  if (state->Measures != now.Measures) {
    FMeasureEditor.SetMeasures(state->Measures);
    EndMeasureDrag();
    FMeasureLayer->Update();
    if (OnMeasuresChanged) OnMeasuresChanged();
  }
  if (OnPlacementChanged) OnPlacementChanged();
  return true;
}

bool TMainController::Undo() {
  // The measure being drawn is no step yet: undo drops it alone, as Escape does.
  if (FMeasureEditor.Drawing()) return CancelMeasure();
  return StepThroughHistory(&TPlacementHistory::Undo);
}
bool TMainController::Redo() {
  return StepThroughHistory(&TPlacementHistory::Redo);
}

bool TMainController::ResetPlacement() {
  if (!ControlsEnabled() || FHistory.InGesture()) return false;
  RestorePlacement(FHistory.Start());
  FHistory.Record(PlacementState());  // a step of its own, so that it can be undone
  if (OnPlacementChanged) OnPlacementChanged();
  return true;
}

void TMainController::BeginGesture() {
  FHistory.BeginGesture();
}

void TMainController::EndGesture() {
  FHistory.EndGesture();
  if (FHistory.InGesture()) return;
  if (FHeldBar != nullptr) {
    // The bar let go of shows the value's nearest step again, and a value that came back onto
    // the steps is the slider state. No step of its own: the drag's step holds the placement.
    FHeldBar = nullptr;
    if (FPrecise) {
      const TSliderQuiet restoring(FRestoring);
      const TPrecisePlacement placement = FPlacement;
      PlacePrecisely(placement);
    }
  }
  // A dragged slider is refitted once, when it is let go.
  RefitColours();
}

// ---------------------------------------------------------------------------------------
// Measuring

namespace {

// A mouse position names the middle of its screen pixel.
TMeasurePoint PixelCentre(raster::TPoint P) {
  return {P.X + 0.5, P.Y + 0.5};
}

}  // namespace

TMeasureScreen TMainController::MeasureScreen() {
  TMeasureScreen screen;
  const raster::TRect r = FImgView->GetBitmapRect();
  const TBitmap32& picture = FImgView->Bitmap();
  if (!picture.Empty() && r.Width() > 0 && r.Height() > 0) {
    screen.ScaleX = double(r.Width()) / picture.Width();
    screen.ScaleY = double(r.Height()) / picture.Height();
    screen.Left = r.Left;
    screen.Top = r.Top;
  }
  if (FOverlayOriginal) {
    screen.Two =
        PictureTwoMapping(Placement(), FOverlayOriginal->Width(), FOverlayOriginal->Height());
  }
  // The flicker shows whole pictures, side by side or not.
  if (FSplit == TSplit::Side && !FFlickering) {
    const raster::TRect port = FImgView->GetViewportRect();
    screen.SideShift = (port.Right - port.Left) / 2;
  }
  return screen;
}

TShownPictures TMainController::ShownPictures() {
  TShownPictures shown;
  shown.Mode = FFlickering ? TViewMode::Flicker : DrawnMode();
  shown.FlickerOverlay = FFlickerOverlay;
  shown.Alpha = FGaugeAlpha.Position();
  shown.SwipeLine = SwipeLine();
  shown.CheckerSquare = FCheckerSquare;
  shown.Screen = MeasureScreen();
  shown.SideSplit = FImgView->GetViewportRect().Left + shown.Screen.SideShift;
  shown.Frame = MeasureFrame();
  return shown;
}

void TMainController::MeasuresEdited(bool Finished) {
  FMeasureLayer->Update();
  if (!Finished || !ControlsEnabled()) return;
  FHistory.Record(PlacementState());
  if (OnMeasuresChanged) OnMeasuresChanged();
}

void TMainController::SetMeasures(std::vector<TMeasure> Measures) {
  if (FOverlayOriginal) {
    const TMeasureFrame frame = MeasureFrame();
    for (TMeasure& m : Measures) m = OwnPoints(std::move(m), frame);
  }
  FMeasureEditor.SetMeasures(std::move(Measures));
  EndMeasureDrag();
  MeasuresEdited(true);
}

void TMainController::SetMeasureTool(TMeasureTool Tool) {
  FMeasureEditor.SetTool(Tool);
  FMeasureLayer->Update();
}

bool TMainController::MeasureMouseDown(raster::TPoint ControlPos) {
  if (!ControlsEnabled() || !raster::PtInRect(FImgView->GetViewportRect(), ControlPos)) {
    return false;
  }
  const TMeasurePoint at = PixelCentre(ControlPos);
  const TMeasureScreen screen = MeasureScreen();
  if (!FMeasureEditor.Drawing()) {
    FMeasureDrag = FMeasureEditor.HandleAt(screen, at);
    if (FMeasureDrag) {
      FHistory.BeginGesture();  // the whole drag is one step
      return true;
    }
  }
  if (FMeasureEditor.Tool() == TMeasureTool::None) return false;
  const std::optional<TMeasure>& drawing = FMeasureEditor.Drawing();
  const int picture = drawing ? drawing->Picture : PictureShownAt(ShownPictures(), at);
  MeasuresEdited(FMeasureEditor.Click(screen.FromScreen(picture, at), picture, screen));
  return true;
}

bool TMainController::MeasureMouseMove(raster::TPoint ControlPos, bool LeftHeld) {
  const TMeasurePoint at = PixelCentre(ControlPos);
  if (FMeasureDrag) {
    if (!LeftHeld) {
      MeasureMouseUp();
      return false;
    }
    const int picture = Measures()[FMeasureDrag->Measure].Picture;
    if (FMeasureEditor.MovePoint(*FMeasureDrag, MeasureScreen().FromScreen(picture, at))) {
      MeasuresEdited(true);
    }
    return true;
  }
  if (const std::optional<TMeasure>& drawing = FMeasureEditor.Drawing()) {
    FMeasureEditor.SetHover(MeasureScreen().FromScreen(drawing->Picture, at));
    FMeasureLayer->Update();
  }
  return false;
}

bool TMainController::MeasureMouseUp() {
  if (!FMeasureDrag) return false;
  EndMeasureDrag();
  return true;
}

void TMainController::EndMeasureDrag() {
  if (!FMeasureDrag) return;
  FMeasureDrag.reset();
  FHistory.EndGesture();
}

bool TMainController::FinishMeasure() {
  if (!FMeasureEditor.Finish()) return false;
  MeasuresEdited(true);
  return true;
}

bool TMainController::CancelMeasure() {
  if (!FMeasureEditor.Cancel()) return false;
  MeasuresEdited(false);
  return true;
}

bool TMainController::DeleteMeasurePoint(raster::TPoint ControlPos) {
  const std::optional<TMeasureHandle> handle =
      FMeasureEditor.HandleAt(MeasureScreen(), PixelCentre(ControlPos));
  if (FMeasureDrag || !handle || !FMeasureEditor.DeletePoint(*handle)) return false;
  MeasuresEdited(true);
  return true;
}

std::optional<std::size_t> TMainController::MeasureIndexAt(raster::TPoint ControlPos) {
  return FMeasureEditor.MeasureAt(MeasureScreen(), PixelCentre(ControlPos));
}

platform::TStatus TMainController::RenameMeasure(std::size_t Index, std::string_view Name) {
  switch (FMeasureEditor.Rename(Index, Name)) {
    case TRename::Renamed:
      MeasuresEdited(true);
      return {};
    case TRename::Unchanged:
    case TRename::NoMeasure:
      return {};
    case TRename::Empty:
      return platform::TStatus::Failure(Tr(MeasureNameEmptyText));
    case TRename::Taken:
      return platform::TStatus::Failure(Tr(MeasureNameTakenText, CleanMeasureName(Name)));
  }
  return {};
}

bool TMainController::DeleteMeasureAt(raster::TPoint ControlPos) {
  const std::optional<std::size_t> index =
      FMeasureEditor.MeasureAt(MeasureScreen(), PixelCentre(ControlPos));
  if (FMeasureDrag || !index || !FMeasureEditor.DeleteMeasure(*index)) return false;
  MeasuresEdited(true);
  return true;
}

// ---------------------------------------------------------------------------------------
// Colour matching

void TMainController::SetColourMatch(bool On) {
  FColourMatchOn = On;
  RefitColours();
}

void TMainController::RefitColours() {
  if (FRefitting || FRotLayer == nullptr || FOverlayOriginal == nullptr) return;
  const TSliderQuiet refitting(FRefitting);
  // Always from picture 2 as loaded, never from an earlier match.
  const TBitmap32& source = FOverlayPristine ? *FOverlayPristine : *FOverlayOriginal;
  TColourMatch match;
  if (FColourMatchOn && ControlsEnabled()) {
    match = FitColourMatch(FImgView->Bitmap(), source, Placement());
  }
  const bool same = match.Luts == FColourMatch.Luts;
  FColourMatch = match;
  if (same) return;
  if (FOverlayPristine == nullptr) {
    FOverlayPristine = std::make_unique<TBitmap32>();
    FOverlayPristine->Assign(FOverlayOriginal.get());
  }
  FOverlayOriginal->Assign(FOverlayPristine.get());
  FOverlayOriginal->SetStretchFilter(raster::sfLinear);
  FOverlayOriginal->SetDrawMode(raster::dmOpaque);
  if (match.Luts.IsIdentity()) {
    FOverlayPristine.reset();  // the copy is picture 2 itself again
  } else {
    raster::ApplyChannelLuts(*FOverlayOriginal, match.Luts);
  }
  // The overlay's bitmap again from its unscaled copy, at the zoom it shows.
  RebuildOverlayBitmap(
      *FRotLayer->Bitmap(), *FOverlayOriginal,
      FPrecise ? float(FPlacement.Zoom) : OverlayZoomFactor(FGaugeBar5.Position()));
}

// ---------------------------------------------------------------------------------------
// Slider handlers

void TMainController::GaugeBar1Change() {
  if (FRotLayer == nullptr || FOverlayOriginal == nullptr) return;
  if (LeavePrecisePlacement()) return;
  ApplyOverlayAngle(*FRotLayer, FGaugeBar1.Position());
  SetText(TField::EditAngle, std::to_string(FGaugeBar1.Position()));
}

void TMainController::GaugeBar2Change() {
  if (FRotLayer == nullptr || FOverlayOriginal == nullptr) return;
  if (LeavePrecisePlacement()) return;
  SetText(TField::EditX, std::to_string(FGaugeBar2.Position()));
  SetText(TField::EditY, std::to_string(FGaugeBar3.Position()));
  ApplyOverlayOffset(*FRotLayer, *FOverlayOriginal, FGaugeBar2.Position(), FGaugeBar3.Position());
}

void TMainController::GaugeBar4Change() {
  if (FRotLayer == nullptr || FOverlayOriginal == nullptr) return;
  ApplyViewZoom(*FImgView, FGaugeBar4.Position());
  SetText(TField::EditZoom,
          FormatStepZoom(ViewZoomFactor(FGaugeBar4.Position()), ViewZoomStepRatio(),
                         FDecimalSeparator, FThousandSeparator));
}

std::string TMainController::OverlayZoomText() const {
  return FormatStepZoom(OverlayZoomFactor(FGaugeBar5.Position()), OverlayZoomStepRatio(),
                        FDecimalSeparator, FThousandSeparator);
}

TViewMode TMainController::DrawnMode() const {
  return FDifferenceView             ? TViewMode::Difference
         : FSplit == TSplit::Swipe   ? TViewMode::Swipe
         : FSplit == TSplit::Checker ? TViewMode::Checker
         : FSplit == TSplit::Side    ? TViewMode::Side
                                     : TViewMode::Blend;
}

TViewStatus TMainController::ViewStatusAt(std::optional<raster::TPoint> ControlPos) {
  TViewStatus status;
  status.Pp100MM = FScaleBar->Pp100MM();
  status.Mode = FFlickering ? TViewMode::Flicker : DrawnMode();
  status.Precise = FPrecise;
  if (FColourMatch.Fitted) {
    status.Gains =
        std::array<double, 3>{FColourMatch.Gain[2], FColourMatch.Gain[1], FColourMatch.Gain[0]};
  }
  const TBitmap32& picture = FImgView->Bitmap();
  const raster::TRect port = FImgView->GetViewportRect();
  if (!ControlPos || picture.Empty() || ControlPos->X < port.Left || ControlPos->X >= port.Right ||
      ControlPos->Y < port.Top || ControlPos->Y >= port.Bottom) {
    return status;
  }
  // Over the picture itself, not the backdrop beside it.
  const raster::TRect shown = FImgView->GetBitmapRect();
  if (ControlPos->X < shown.Left || ControlPos->X >= shown.Right || ControlPos->Y < shown.Top ||
      ControlPos->Y >= shown.Bottom) {
    return status;
  }
  const raster::TPoint p = FImgView->ControlToBitmap(*ControlPos);
  status.X = std::clamp(p.X, 0, picture.Width() - 1);
  status.Y = std::clamp(p.Y, 0, picture.Height() - 1);
  return status;
}

bool TMainController::FitView() {
  if (FRotLayer == nullptr || FOverlayOriginal == nullptr) return false;
  // Side by side, each picture has half the viewport's width.
  const raster::TRect viewport = FImgView->GetViewportRect();
  FGaugeBar4.SetPosition(FitViewZoomPosition(FImgView->Bitmap().Width(),
                                             FImgView->Bitmap().Height(), FImgView->ShownWidth(),
                                             viewport.Bottom - viewport.Top));
  return true;
}

bool TMainController::ActualSizeView() {
  if (FRotLayer == nullptr || FOverlayOriginal == nullptr) return false;
  FGaugeBar4.SetPosition(0);  // 10^0: one screen pixel per picture pixel
  return true;
}

void TMainController::GaugeBar5Change() {
  if (FRotLayer == nullptr || FOverlayOriginal == nullptr) return;
  if (LeavePrecisePlacement()) return;
  ApplyOverlayZoom(*FRotLayer, *FOverlayOriginal, FGaugeBar5.Position());
  SetText(TField::EditZoomOvl, OverlayZoomText());
}

void TMainController::GaugeAlphaChange() {
  if (FRotLayer == nullptr || FOverlayOriginal == nullptr) return;
  ApplyOverlayAlpha(*FRotLayer, FGaugeAlpha.Position());
  SetText(TField::EditTransp, std::to_string(FGaugeAlpha.Position()));
}

// ---------------------------------------------------------------------------------------
// Two-point alignment

bool TMainController::AlignOverlay(float a1x, float a1y, float b1x, float b1y, float a2x, float a2y,
                                   float b2x, float b2y) {
  if (FRotLayer == nullptr || FOverlayOriginal == nullptr) return false;
  // Intermediate results in double; every named value is stored as a float.
  const float d1 = float(std::sqrt((double(a1x) - a2x) * (double(a1x) - a2x) +
                                   (double(a1y) - a2y) * (double(a1y) - a2y)));
  const float d2 = float(std::sqrt((double(b1x) - b2x) * (double(b1x) - b2x) +
                                   (double(b1y) - b2y) * (double(b1y) - b2y)));
  if (!(d1 > 0) || !(d2 > 0)) {
    platform::ShowWarning(Tr(CoincidentPointsText));
    return false;
  }
  const float r = float(double(d1) / double(d2));
  if (!std::isfinite(r) || !(r > 0)) {
    platform::ShowWarning(Tr(CoincidentPointsText));
    return false;
  }

  // Directions from point 2 to point 1; a vertical one is a right angle without atan2. The
  // float nearest 1.5707963 lies below pi / 2, which would turn a vertical pair by
  // -89.99999 degrees and leave the angle slider truncated at -89; the float nearest pi / 2
  // gives the right angle itself.
  constexpr float halfPi = std::numbers::pi_v<float> / 2;
  const auto direction = [](double dx, double dy) {
    if (dx == 0) return dy > 0 ? halfPi : -halfPi;
    return float(std::atan2(dy, dx));
  };
  const float alpha1 = direction(double(a1x) - a2x, double(a1y) - a2y);
  const float alpha2 = direction(double(b1x) - b2x, double(b1y) - b2y);
  constexpr double pi = std::numbers::pi;
  float phi = float(double(alpha2) - alpha1);
  if (phi < -pi) phi = float(phi + 2 * pi);  // nothing is folded above pi

  // The turn folded into -180..180 degrees, as the angle slider holds it.
  double degrees = double(phi) * 180 / pi;
  if (degrees > 180) degrees -= 360;
  if (degrees < -180) degrees += 360;
  PlaceExactly(degrees, r, {a2x, a2y}, {b2x, b2y});
  return true;
}

void TMainController::PlaceExactly(double Degrees, float Factor, TFloatPoint Target,
                                   TFloatPoint Source) {
  PlacePrecisely(PlacementThrough(Degrees, Factor, FOverlayOriginal->Width(),
                                  FOverlayOriginal->Height(), Target, Source));
}

bool TMainController::PlacePrecisely(const TPrecisePlacement& Placement) {
  FHeldBar = nullptr;
  return PlaceAt(Placement, nullptr);
}

bool TMainController::PlaceAt(const TPrecisePlacement& Placement, const TGaugeBar* Held) {
  if (!ControlsEnabled() || FRotLayer == nullptr || FOverlayOriginal == nullptr) return false;
  if (!PlacementFits(Placement, FOverlayOriginal->Width(), FOverlayOriginal->Height())) {
    return false;
  }
  StopFlicker();
  // One step, however many sliders it moves.
  const TStep step(*this);
  const TBitmap32& original = *FOverlayOriginal;
  const TLayerSettings settings = LayerSettingsFor(Placement, original.Width(), original.Height());
  FRotLayer->SetBitmapCenter(settings.Center);
  // The slider state nearest to the placement, shown by the sliders; their handlers do not
  // run, so the overlay stays where the placement says.
  const TPlacement steps = NearestSteps(Placement);
  // A held bar stays where the mouse puts it until it is let go (EndGesture).
  if (Held == nullptr && OnSteps(Placement, steps)) {
    ApplyPlacement(steps);
    return true;
  }
  // The bitmap at the whole-pixel size of the zoom; the layer's own scale completes it.
  RebuildOverlayBitmap(*FRotLayer->Bitmap(), original, float(Placement.Zoom));
  FRotLayer->SetAngle(settings.Angle);
  FRotLayer->SetZoom(settings.Zoom);
  FRotLayer->SetPosition(settings.Position);
  {
    const TSliderQuiet quiet(FShowingPlacement);
    for (const auto& [bar, step] :
         {std::pair{&FGaugeBar1, steps.Angle}, std::pair{&FGaugeBar2, steps.OffsetX},
          std::pair{&FGaugeBar3, steps.OffsetY}, std::pair{&FGaugeBar5, steps.OverlayZoom}}) {
      if (bar != Held) bar->SetPosition(step);
    }
  }
  FPrecise = true;
  FPlacement = Placement;
  // The read-outs show the placement itself, marked as lying between slider steps.
  const auto fixed = [this](double Value, int Decimals) {
    return BetweenStepsMark + FormatDecimal(Value, Decimals, FDecimalSeparator);
  };
  SetText(TField::EditAngle, fixed(Placement.Angle, 1));
  SetText(TField::EditX, fixed(Placement.X, 1));
  SetText(TField::EditY, fixed(Placement.Y, 1));
  SetText(TField::EditZoomOvl, fixed(float(Placement.Zoom), 3));
  RecordPlacement();
  return true;
}

TPrecisePlacement TMainController::Placement() const {
  if (FPrecise) return FPlacement;
  return PreciseOf(
      {FGaugeBar1.Position(), FGaugeBar2.Position(), FGaugeBar3.Position(), FGaugeBar5.Position()});
}

bool TMainController::FineNudgeKey(TNudgeKey Key) {
  if (!ControlsEnabled()) return false;
  const TNudge nudge = NudgeFor(Key, false);
  TPrecisePlacement p = Placement();
  // A tenth at a time; a value that comes back to a whole number within rounding is that
  // number, so that ten nudges one way and ten back give the slider state again.
  const auto step = [&nudge](double& Value) {
    Value += FineNudgeStep * nudge.Delta;
    if (const double whole = std::round(Value); std::abs(Value - whole) < 1e-9) Value = whole;
  };
  switch (nudge.Slider) {
    case TNudgeSlider::Angle:
      step(p.Angle);
      if (p.Angle > 180) p.Angle -= 360;
      if (p.Angle < -180) p.Angle += 360;
      break;
    case TNudgeSlider::OffsetX:
      step(p.X);
      break;
    case TNudgeSlider::OffsetY:
      step(p.Y);
      break;
    case TNudgeSlider::ViewZoom:
      return NudgeKey(Key, false);  // the view's zoom has no finer steps
  }
  PlacePrecisely(p);
  return true;
}

void TMainController::DropPrecise() {
  FHeldBar = nullptr;
  if (!FPrecise) return;
  FPrecise = false;
  if (FRotLayer != nullptr) FRotLayer->SetZoom({1, 1});
}

bool TMainController::LeavePrecisePlacement() {
  if (FShowingPlacement) return true;
  if (!FPrecise) return false;
  // A value beyond its bar's end (the bar stands at the end) is kept when another bar moves,
  // and moves from where it is when its own bar moves, by as much as the bar moved: a bar
  // taken from its end never makes the overlay jump to the end. The rest comes to its bar's
  // step, as below. While such a bar is dragged it stays where the mouse puts it, so that the
  // value follows the mouse from the value the drag started from.
  const TPlacement shown = NearestSteps(FPlacement);
  bool kept = false;
  TGaugeBar* moved = nullptr;
  const auto follow = [&](TGaugeBar& Bar, int Shown, bool Beyond, double Value, double Snapped,
                          auto Move) {
    if (!Beyond && &Bar != FHeldBar) return Snapped;
    kept = true;
    const int by = Bar.Position() - (&Bar == FHeldBar ? FHeldPosition : Shown);
    if (by == 0) return Value;
    moved = &Bar;
    return Move(Value, by);
  };
  const auto shift = [](double Value, int By) { return Value + By; };
  TPrecisePlacement p;
  p.Angle = FGaugeBar1.Position();  // the angle slider's range holds every turn
  p.X = follow(FGaugeBar2, shown.OffsetX, !OffsetXSlider.Holds(FPlacement.X), FPlacement.X,
               FGaugeBar2.Position(), shift);
  p.Y = follow(FGaugeBar3, shown.OffsetY, !OffsetYSlider.Holds(FPlacement.Y), FPlacement.Y,
               FGaugeBar3.Position(), shift);
  p.Zoom = follow(FGaugeBar5, shown.OverlayZoom,
                  !OverlayZoomSlider.Holds(OverlayZoomSteps(FPlacement.Zoom)), FPlacement.Zoom,
                  double(OverlayZoomFactor(FGaugeBar5.Position())),
                  [](double Value, int By) { return Value * std::pow(10.0, By / 1000.0); });
  if (kept) {
    TGaugeBar* held = FHistory.InGesture() ? moved != nullptr ? moved : FHeldBar : nullptr;
    const int position = held != nullptr ? held->Position() : 0;
    if (PlaceAt(p, held)) {
      FHeldBar = held;
      FHeldPosition = position;
    } else {
      // Picture 2 so zoomed is more than a bitmap holds: the bars show the placement again.
      const TPrecisePlacement placement = FPlacement;
      PlacePrecisely(placement);
    }
    return true;
  }
  // Back to exactly the slider state the sliders show, as if they had placed the overlay.
  DropPrecise();
  ApplyOverlayAngle(*FRotLayer, FGaugeBar1.Position());
  ApplyOverlayOffset(*FRotLayer, *FOverlayOriginal, FGaugeBar2.Position(), FGaugeBar3.Position());
  ApplyOverlayZoom(*FRotLayer, *FOverlayOriginal, FGaugeBar5.Position());
  SetText(TField::EditAngle, std::to_string(FGaugeBar1.Position()));
  SetText(TField::EditX, std::to_string(FGaugeBar2.Position()));
  SetText(TField::EditY, std::to_string(FGaugeBar3.Position()));
  SetText(TField::EditZoomOvl, OverlayZoomText());
  return true;
}

// ---------------------------------------------------------------------------------------
// Automatic alignment

std::unique_ptr<TAlignmentJob> TMainController::PrepareAutoAlign(std::uint64_t* Generation) const {
  if (!ControlsEnabled() || FRotLayer == nullptr || FOverlayOriginal == nullptr) return nullptr;
  *Generation = FGeneration;
  // The unscaled copy is picture 2 as loaded; the layer's bitmap may be zoomed.
  return std::make_unique<TAlignmentJob>(FImgView->Bitmap(), *FOverlayOriginal,
                                         FRotLayer->BitmapCenter());
}

bool TMainController::ApplyAutoAlign(const TAutoAlignResult& Result, std::uint64_t Generation) {
  if (Generation != FGeneration || !ControlsEnabled()) return false;
  if (!Result.Reliable()) {
    platform::ShowWarning(AlignRefusalText(Result, FDecimalSeparator));
    return false;
  }
  // A reliable fit fits (the alignment has checked it), also beyond the bars' ends.
  return PlacePrecisely(Result.Precise);
}

void TMainController::SetDifferenceView(bool On) {
  StopFlicker();
  FDifferenceView = On;
  if (On) FSplit = TSplit::None;  // one way of comparing at a time
  ShowDrawing();
}

void TMainController::SetSwipe(bool On) {
  StopFlicker();
  if (On) FDifferenceView = false;
  FSplit = On ? TSplit::Swipe : FSplit == TSplit::Swipe ? TSplit::None : FSplit;
  // At first the line halves picture 1.
  if (On && !FSwipeLine) FSwipeLine = FImgView->Bitmap().Width() / 2.0;
  ShowDrawing();
}

void TMainController::SetChecker(bool On) {
  StopFlicker();
  if (On) FDifferenceView = false;
  FSplit = On ? TSplit::Checker : FSplit == TSplit::Checker ? TSplit::None : FSplit;
  ShowDrawing();
}

void TMainController::SetSide(bool On) {
  StopFlicker();
  if (On) FDifferenceView = false;
  FSplit = On ? TSplit::Side : FSplit == TSplit::Side ? TSplit::None : FSplit;
  ShowDrawing();
}

void TMainController::SetSideCursor(std::optional<raster::TPoint> ControlPos) {
  if (ControlPos == FSideCursor) return;
  FSideCursor = ControlPos;
  if (FSplit == TSplit::Side) ShowDrawing();
}

void TMainController::SetSwipeLine(double X) {
  FSwipeLine = X;
  ShowDrawing();
}

void TMainController::SetCheckerSquare(int Pixels) {
  FCheckerSquare = std::clamp(Pixels, MinCheckerSquare, MaxCheckerSquare);
  ShowDrawing();
}

bool TMainController::SwipeTo(raster::TPoint ControlPos) {
  if (FSplit != TSplit::Swipe || !ControlsEnabled()) return false;
  SetSwipeLine(FImgView->ControlToBitmap(ControlPos).X);
  return true;
}

void TMainController::SetVisitDate(int Picture, std::string Path, std::string Date,
                                   std::string Time) {
  (Picture == 1 ? FVisit1 : FVisit2) = {std::move(Path), std::move(Date), std::move(Time)};
  FFlickerLabel->SetText(FlickerLabelText());
}

const TMainController::TVisit* TMainController::VisitOf(int Picture) const {
  const TVisit& v = Picture == 1 ? FVisit1 : FVisit2;
  const bool shown = Picture == 1 ? FImage1Loaded && FImageFile1 == v.Path
                                  : FImage2Loaded && FImageFile2 == v.Path;
  return shown && !v.Date.empty() ? &v : nullptr;
}

std::string TMainController::DateShown(int Picture) const {
  const std::uint64_t exif = (Picture == 1 ? FFacts1 : FFacts2).DateTaken;
  const TVisit* visit = VisitOf(Picture);
  if (visit == nullptr) return FormatDateTaken(exif);
  std::string text = visit->Date + (visit->Time.empty() ? "" : " " + visit->Time);
  // Both where they name different days, so that a wrong one shows.
  const std::uint64_t given = VisitDateTaken(visit->Date, visit->Time);
  if (exif != 0 && given / 1000000 != exif / 1000000) {
    text += " (EXIF " + FormatDateTaken(exif) + ")";
  }
  return text;
}

std::uint64_t TMainController::WhenTaken(int Picture) const {
  const TVisit* visit = VisitOf(Picture);
  const std::uint64_t given = visit != nullptr ? VisitDateTaken(visit->Date, visit->Time) : 0;
  return given != 0 ? given : (Picture == 1 ? FFacts1 : FFacts2).DateTaken;
}

std::string TMainController::FlickerLabelText() const {
  // Which picture shows, and when it was taken.
  const std::string date = DateShown(FFlickerOverlay ? 2 : 1);
  const std::string name = Tr(FFlickerOverlay ? FlickerPicture2Text : FlickerPicture1Text);
  return date.empty() ? name : name + "  " + date;
}

raster::TPaintRegion TMainController::OverlayRegion() const {
  raster::TPaintRegion region;
  if (FSplit == TSplit::Swipe) {
    region.Kind = raster::TPaintRegion::prRightOf;
    region.Line = FSwipeLine.value_or(0);
  } else if (FSplit == TSplit::Checker) {
    region.Kind = raster::TPaintRegion::prChecker;
    region.Square = FCheckerSquare;
  } else if (FSplit == TSplit::Side) {
    region.Kind = raster::TPaintRegion::prSide;
    region.Background = raster::Color32(FImgView->Color());
    region.Cursor = FSideCursor;
  }
  return region;
}

void TMainController::ShowDrawing() {
  // Side by side, picture 1 has the left half, through which the scroll bars must reach all of it.
  FImgView->SetSplitViewport(FSplit == TSplit::Side);
  // The draw mode's change repaints the view; picture 1's backdrop stays as it is.
  if (FRotLayer == nullptr) return;
  FRotLayer->SetPaintRegion(OverlayRegion());
  FRotLayer->Bitmap()->SetDrawMode(OverlayDrawMode());
}

void TMainController::StartFlicker() {
  if (!ControlsEnabled() || FRotLayer == nullptr || FFlickering) return;
  FFlickering = true;
  FFlickerOverlay = true;
  FRotLayer->SetPaintRegion({});  // each state shows a whole picture
  FlickerTick();                  // picture 1 alone first
}

void TMainController::FlickerTick() {
  if (!FFlickering || FRotLayer == nullptr) return;
  FFlickerOverlay = !FFlickerOverlay;
  // Only the layer changes: picture 1's backdrop is kept by the view and not drawn again.
  TBitmap32& bitmap = *FRotLayer->Bitmap();
  // Fully opaque: drawn over picture 1, not blended (a blend at 255 still leaves 1/256).
  if (FFlickerOverlay) bitmap.SetDrawMode(raster::dmOpaque);
  FRotLayer->SetVisible(FFlickerOverlay);
  FFlickerLabel->SetText(FlickerLabelText());
}

void TMainController::StopFlicker() {
  if (!FFlickering) return;
  FFlickering = false;
  if (FRotLayer == nullptr) return;
  // The opacity was never touched; only the draw mode, the region and the visibility come back.
  ShowDrawing();
  FRotLayer->SetVisible(true);
  FFlickerLabel->SetText({});
}

void TMainController::ApplyPlacement(const TPlacement& Placement) {
  const TStep step(*this);
  // Each bar's handler applies its own position, values beyond the bars' ends too.
  DropPrecise();
  // A bar already at its value runs no handler; after a placement between the steps or beyond
  // the bars' ends the overlay lies elsewhere, so the handler runs then all the same.
  const auto set = [](raster::TGaugeBar& Bar, int Position, auto Handler) {
    if (Bar.Position() == Position) {
      Handler();
    } else {
      Bar.SetPosition(Position);
    }
  };
  set(FGaugeBar1, Placement.Angle, [this] { GaugeBar1Change(); });
  set(FGaugeBar2, Placement.OffsetX, [this] { GaugeBar2Change(); });
  set(FGaugeBar3, Placement.OffsetY, [this] { GaugeBar2Change(); });
  set(FGaugeBar5, Placement.OverlayZoom, [this] { GaugeBar5Change(); });
  // A bar already at its value records nothing, though the overlay may have left a placement
  // between the steps.
  RecordPlacement();
}

// ---------------------------------------------------------------------------------------
// Direct input

bool TMainController::NudgeKey(TNudgeKey Key, bool Shift) {
  if (!ControlsEnabled()) return false;
  const TNudge nudge = NudgeFor(Key, Shift);
  TGaugeBar* bar = &FGaugeBar4;
  switch (nudge.Slider) {
    case TNudgeSlider::Angle:
      bar = &FGaugeBar1;
      break;
    case TNudgeSlider::OffsetX:
      bar = &FGaugeBar2;
      break;
    case TNudgeSlider::OffsetY:
      bar = &FGaugeBar3;
      break;
    case TNudgeSlider::ViewZoom:
      break;
  }
  // An offset beyond its bar's end moves from where it is, either way (the bar at its end
  // cannot move outward).
  if (FPrecise && (bar == &FGaugeBar2 || bar == &FGaugeBar3)) {
    TPrecisePlacement p = FPlacement;
    double& value = bar == &FGaugeBar2 ? p.X : p.Y;
    if (!(bar == &FGaugeBar2 ? OffsetXSlider : OffsetYSlider).Holds(value)) {
      value += nudge.Delta;
      PlacePrecisely(p);
      return true;
    }
  }
  bar->SetPosition(bar->Position() + nudge.Delta);
  return true;
}

bool TMainController::WheelZooms(raster::TPoint MousePos) {
  return ControlsEnabled() && raster::PtInRect(FImgView->GetViewportRect(), MousePos);
}

bool TMainController::WheelZoom(int AngleDelta, raster::TPoint MousePos) {
  if (!WheelZooms(MousePos)) return false;
  raster::TImgView32& view = *FImgView;
  const int notches = FWheel.Add(AngleDelta);
  if (notches == 0) return true;
  const TFloatPoint anchor = ViewToBitmap(view, MousePos);
  const int before = FGaugeBar4.Position();
  FGaugeBar4.SetPosition(before + notches);
  if (FGaugeBar4.Position() == before) return true;
  // The handler zoomed about the viewport centre; the picture now goes where the anchor lies
  // under the mouse again, within half a pixel, also where the scroll bars could not take it
  // (from Fit the picture is about the viewport's size and centred across its shorter side).
  const TFloatPoint now = BitmapToView(view, anchor);
  const raster::TRect shown = view.GetBitmapRect();
  view.PlaceBitmapAt(float(double(shown.Left) + MousePos.X - now.X),
                     float(double(shown.Top) + MousePos.Y - now.Y));
  return true;
}

void TMainController::BeginPan(raster::TPoint MousePos) {
  FPan.Begin(MousePos, {FImgView->HScroll().Position(), FImgView->VScroll().Position()});
}

void TMainController::PanMove(raster::TShiftState Shift, raster::TPoint MousePos) {
  if (!FPan.Active()) return;
  if ((Shift & raster::ssLeft) == 0) {
    FPan.End();
    return;
  }
  raster::TImgView32& view = *FImgView;
  const TFloatPoint target = FPan.Target(MousePos);
  ScrollToward(view, target.X, target.Y);
}

void TMainController::EndPan() {
  FPan.End();
}

}  // namespace overlay
