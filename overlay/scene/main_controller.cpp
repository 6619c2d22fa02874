#include "overlay/scene/main_controller.h"

#include <algorithm>

#include "overlay/align/two_point.h"
#include "overlay/base/texts.h"
#include "overlay/scene/picture_loading.h"
#include "platform/message.h"

namespace overlay {

using raster::TBitmap32;
using raster::TFloatPoint;
using raster::TGaugeBar;

TMainController::TMainController(int ViewWidth, int ViewHeight)
    : FImgView(std::make_unique<raster::TImgView32>()) {
  SetUpMainView(*FImgView, ViewWidth, ViewHeight);
  FScaleBar = FImgView->Layers().Add<TScaleBarLayer>();
  FScaleBar->SetView(FImgView.get());
  FScaleBar->SetVisible(false);
  FFlickerLabel = FImgView->Layers().Add<TCornerLabelLayer>();
  FFlickerLabel->SetView(FImgView.get());
  FModes = std::make_unique<TViewModes>(*FImgView, *FFlickerLabel);
  FModes->DateShown = [this](int Picture) { return DateShown(Picture); };
  FTools = std::make_unique<TViewTools>(*FImgView, FMeasureEditor, FHistory, *FModes);
  FTools->Enabled = [this] { return ControlsEnabled(); };
  FTools->Screen = [this] { return MeasureScreen(); };
  FTools->Shown = [this] { return ShownPictures(); };
  FTools->Edited = [this](bool Finished) { MeasuresEdited(Finished); };
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
      FModes->StopFlicker();
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

void TMainController::StartFlicker() {
  if (ControlsEnabled()) FModes->StartFlicker();
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

void TMainController::ShowReadOut(TPlacingBar Bar, std::string Text) {
  constexpr TField fields[] = {TField::EditAngle, TField::EditX, TField::EditY,
                               TField::EditZoomOvl};
  SetText(fields[std::size_t(Bar)], std::move(Text));
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
  FPictures.SetFacts(2, facts);
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
    FPictures.SetFacts(2, loaded[1].Value().Facts);
  }
}

void TMainController::SetImage1(const std::string& Path, TBitmap32& Picture) {
  FPictures.SetFacts(1, {});  // the loads that know it set it afterwards (SetFacts1)
  CommitImage1(Path, Picture);
  FPictures.SetLoaded(1);
  UpdateControls();
}

void TMainController::SetImage2(const std::string& Path, TBitmap32& Picture,
                                std::unique_ptr<TBitmap32> Original) {
  CommitImage2(Path, Picture, std::move(Original));
  FPictures.SetFacts(2, {});
  FPictures.SetLoaded(2);
  UpdateControls();
}

void TMainController::CommitImage1(const std::string& Path, TBitmap32& Picture) {
  FImgView->Bitmap().TakeOver(Picture);  // cannot fail: the pixels change hands
  ++FGeneration;
  FPictures.SetFile(1, Path);
  // The measures belonged to the comparison that is left.
  FMeasureEditor.SetMeasures({});
  FTools->EndMeasureDrag();
  FMeasureLayer->Update();
  SetText(TField::EditImage1, Path);
  UpdateScaleBar();
}

void TMainController::UpdateScaleBar() {
  // The scale a calling application gave holds for its picture only, and only once it shows.
  FScaleBar->SetPp100MM(FPictures.Pp100MM(1, !FImgView->Bitmap().Empty()));
  FScaleBar->SetVisible(ScaleBarShown());
}

void TMainController::SetFacts1(TPictureFacts Facts) {
  FPictures.SetFacts(1, std::move(Facts));
  const int before = FScaleBar->Pp100MM();
  UpdateScaleBar();
  // A scale the picture brings turns the bar on, as the calling application's does.
  if (before == 0 && FScaleBar->Pp100MM() > 0) SetScaleBar(true);
}

void TMainController::SetPictureScale(std::string Path, int Pp100MM) {
  FPictures.SetGivenScale(1, std::move(Path), Pp100MM);
  FScaleBarOn = Pp100MM > 0;
  UpdateScaleBar();
}

void TMainController::SetPictureFacts(TPictureFacts One, TPictureFacts Two) {
  FPictures.SetFacts(1, std::move(One));
  FPictures.SetFacts(2, std::move(Two));
  UpdateScaleBar();
}

TMeasureFrame TMainController::MeasureFrame() const {
  return FPictures.MeasureFrame(FScaleBar->Pp100MM(), Placement(), FOverlayOriginal.get());
}

void TMainController::SetScaleBar(bool On) {
  FScaleBarOn = On;
  FScaleBar->SetVisible(ScaleBarShown());
}

void TMainController::CommitImage2(const std::string& Path, TBitmap32& Picture,
                                   std::unique_ptr<TBitmap32> Original) {
  FModes->StopFlicker();
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
    bitmap.SetDrawMode(FModes->DrawMode());
    layer->SetPaintRegion(FModes->Region());
    bitmap.SetMasterAlpha(std::uint32_t(FGaugeAlpha.Position()));
    bitmap.SetStretchFilter(raster::sfLinear);
  }
  bitmap.Changed();

  if (FRotLayer != nullptr) FImgView->Layers().DeleteLayer(FRotLayer);
  FRotLayer = layer;
  FModes->SetLayer(layer);
  FPlace.Drop();      // the new layer stands at the slider state
  FColours.Forget();  // the colours are fitted anew for the new picture
  FMeasureEditor.SetMeasures({});
  FTools->EndMeasureDrag();
  FMeasureLayer->BringToFront();
  FScaleBar->BringToFront();
  FFlickerLabel->BringToFront();
  ++FGeneration;
  FOverlayOriginal = std::move(original);
  FPictures.SetFile(2, Path);
  SetText(TField::EditImage2, Path);

  FRotLayer->SetScaled(true);
  // With the sliders at 0 the overlay's top-left corner lies on picture 1's top-left corner.
  FRotLayer->SetPosition(centre);
}

bool TMainController::BeginAssistant() {
  if (!ControlsEnabled() || FHistory.InGesture()) return false;
  // The user asked for the assistant and must learn why it does not open.
  // Its notes were told when it was loaded first.
  const std::string file2 = FPictures.File(2);
  TLoadedPictureResult loaded = LoadPictureWithFacts(file2, FOrientation);
  TellPictureFailure(loaded.Status(), file2);
  auto [picture, facts] = std::move(loaded).Value();
  if (picture == nullptr) return false;
  // The overlay is kept as loaded (the measures stay on the very pixels they were drawn on)
  // unless the file now holds another picture, whose points the assistant would take.
  const TBitmap32& loaded2 = FColours.Loaded(*FOverlayOriginal);
  const bool same = picture->Width() == loaded2.Width() && picture->Height() == loaded2.Height() &&
                    std::equal(picture->PixelBuffer(),
                               picture->PixelBuffer() +
                                   std::size_t(picture->Width()) * std::size_t(picture->Height()),
                               loaded2.PixelBuffer());
  if (!same) {
    SetImage2(file2, *picture);
    FPictures.SetFacts(2, facts);
  }
  FAssistantStart = TAssistantStart{PlacementState(), FHistory};
  FModes->StopFlicker();
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
  const TSliderQuiet resetting(FNoStep);
  // A bar already at its start runs no handler, yet after a placement between the steps its
  // read-out still shows that placement (and, after a new picture 1, the overlay still stands
  // there): the placing bars' handlers then run all the same, so that every read-out and the
  // overlay show the state after the reset. Otherwise the zoom read-outs keep their first text.
  const auto marked = [this](TField Field) { return Text(Field).starts_with(BetweenStepsMark); };
  const bool between = FPlace.Precise() || marked(TField::EditAngle) || marked(TField::EditX) ||
                       marked(TField::EditY) || marked(TField::EditZoomOvl);
  // Every bar's handler then applies its own start, values beyond the bars' ends too.
  FPlace.DropPrecise();
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
  state.Steps = FPlace.Bars();
  state.Precise = FPlace.PreciseOne();
  state.Measures = FMeasureEditor.Measures();
  return state;
}

void TMainController::RecordPlacement() {
  // Sliders shown quietly for a precise placement, and the history's own moves, are no step.
  if (FPlace.ShowingOnBars() || FNoStep || !ControlsEnabled()) return;
  FHistory.Record(PlacementState());
  if (!FHistory.InGesture()) RefitColours();
  if (OnPlacementChanged) OnPlacementChanged();
}

void TMainController::RestorePlacement(const TPlacementState& State) {
  const TSliderQuiet restoring(FNoStep);
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
    FTools->EndMeasureDrag();
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
  if (FPlace.Held()) {
    // The bar let go of shows the value's nearest step again, and a value that came back onto
    // the steps is the slider state. No step of its own: the drag's step holds the placement.
    FPlace.Hold(std::nullopt);
    if (const std::optional<TPrecisePlacement> placement = FPlace.PreciseOne()) {
      const TSliderQuiet restoring(FNoStep);
      PlacePrecisely(*placement);
    }
  }
  // A dragged slider is refitted once, when it is let go.
  RefitColours();
}

// ---------------------------------------------------------------------------------------
// Measuring

TMeasureScreen TMainController::MeasureScreen() {
  return MeasureScreenOf(*FImgView, *FModes, Placement(), FOverlayOriginal.get());
}

TShownPictures TMainController::ShownPictures() {
  return ShownPicturesOf(*FImgView, *FModes, FGaugeAlpha.Position(), MeasureScreen(),
                         MeasureFrame());
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
  FTools->EndMeasureDrag();
  MeasuresEdited(true);
}

void TMainController::SetMeasureTool(TMeasureTool Tool) {
  FMeasureEditor.SetTool(Tool);
  FMeasureLayer->Update();
}

// ---------------------------------------------------------------------------------------
// Colour matching

void TMainController::SetColourMatch(bool On) {
  FColours.SetOn(On);
  RefitColours();
}

void TMainController::RefitColours() {
  if (FRefitting || FRotLayer == nullptr || FOverlayOriginal == nullptr) return;
  const TSliderQuiet refitting(FRefitting);
  if (!FColours.Refit(FImgView->Bitmap(), *FOverlayOriginal, Placement(), ControlsEnabled())) {
    return;
  }
  // The overlay's bitmap again from its unscaled copy, at the zoom it shows.
  RebuildOverlayBitmap(*FRotLayer->Bitmap(), *FOverlayOriginal,
                       FPlace.Precise() ? float(FPlace.PreciseOne()->Zoom)
                                        : OverlayZoomFactor(FGaugeBar5.Position()));
}

// ---------------------------------------------------------------------------------------
// Slider handlers

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

TViewStatus TMainController::ViewStatusAt(std::optional<raster::TPoint> ControlPos) {
  TViewStatus status;
  status.Pp100MM = FScaleBar->Pp100MM();
  status.Mode = FModes->Shown();
  status.Precise = FPlace.Precise();
  if (const TColourMatch& match = FColours.Match(); match.Fitted) {
    status.Gains = std::array<double, 3>{match.Gain[2], match.Gain[1], match.Gain[0]};
  }
  SetPixelUnder(status, *FImgView, ControlPos);
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
  const std::optional<TPrecisePlacement> placement =
      TwoPointPlacement({a1x, a1y}, {b1x, b1y}, {a2x, a2y}, {b2x, b2y}, FOverlayOriginal->Width(),
                        FOverlayOriginal->Height());
  if (!placement) {
    platform::ShowWarning(Tr(CoincidentPointsText));
    return false;
  }
  PlacePrecisely(*placement);
  return true;
}

void TMainController::PlaceExactly(double Degrees, float Factor, TFloatPoint Target,
                                   TFloatPoint Source) {
  PlacePrecisely(PlacementThrough(Degrees, Factor, FOverlayOriginal->Width(),
                                  FOverlayOriginal->Height(), Target, Source));
}

bool TMainController::FineNudgeKey(TNudgeKey Key) {
  if (!ControlsEnabled()) return false;
  const std::optional<TPrecisePlacement> p =
      TOverlayPlacement::FineNudged(Placement(), NudgeFor(Key, false), FineNudgeStep);
  if (!p) return NudgeKey(Key, false);  // the view's zoom has no finer steps
  PlacePrecisely(*p);
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

void TMainController::SetVisitDate(int Picture, std::string Path, std::string Date,
                                   std::string Time) {
  FPictures.SetVisit(Picture, std::move(Path), std::move(Date), std::move(Time));
  FModes->RelabelFlicker();
}

// ---------------------------------------------------------------------------------------
// Direct input

bool TMainController::NudgeKey(TNudgeKey Key, bool Shift) {
  if (!ControlsEnabled()) return false;
  const TNudge nudge = NudgeFor(Key, Shift);
  if (const std::optional<TPrecisePlacement> beyond = FPlace.NudgedBeyondBar(nudge)) {
    PlacePrecisely(*beyond);
    return true;
  }
  TGaugeBar& bar = nudge.Slider == TNudgeSlider::ViewZoom  ? FGaugeBar4
                   : nudge.Slider == TNudgeSlider::Angle   ? FGaugeBar1
                   : nudge.Slider == TNudgeSlider::OffsetX ? FGaugeBar2
                                                           : FGaugeBar3;
  bar.SetPosition(bar.Position() + nudge.Delta);
  return true;
}

}  // namespace overlay
