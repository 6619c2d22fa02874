#include "overlay/scene/view_tools.h"

#include "overlay/base/texts.h"

namespace overlay {

namespace {

// A mouse position names the middle of its screen pixel.
TMeasurePoint PixelCentre(raster::TPoint P) {
  return {P.X + 0.5, P.Y + 0.5};
}

}  // namespace

bool TViewTools::MeasureMouseDown(raster::TPoint ControlPos) {
  if (!Enabled() || !raster::PtInRect(FView.GetViewportRect(), ControlPos)) return false;
  const TMeasurePoint at = PixelCentre(ControlPos);
  const TMeasureScreen screen = Screen();
  if (!FEditor.Drawing()) {
    FMeasureDrag = FEditor.HandleAt(screen, at);
    if (FMeasureDrag) {
      FHistory.BeginGesture();  // the whole drag is one step
      return true;
    }
  }
  if (FEditor.Tool() == TMeasureTool::None) return false;
  const std::optional<TMeasure>& drawing = FEditor.Drawing();
  const int picture = drawing ? drawing->Picture : PictureShownAt(Shown(), at);
  Edited(FEditor.Click(screen.FromScreen(picture, at), picture, screen));
  return true;
}

bool TViewTools::MeasureMouseMove(raster::TPoint ControlPos, bool LeftHeld) {
  const TMeasurePoint at = PixelCentre(ControlPos);
  if (FMeasureDrag) {
    if (!LeftHeld) {
      MeasureMouseUp();
      return false;
    }
    const int picture = FEditor.Measures()[FMeasureDrag->Measure].Picture;
    if (FEditor.MovePoint(*FMeasureDrag, Screen().FromScreen(picture, at))) Edited(true);
    return true;
  }
  if (const std::optional<TMeasure>& drawing = FEditor.Drawing()) {
    FEditor.SetHover(Screen().FromScreen(drawing->Picture, at));
    Edited(false);
  }
  return false;
}

bool TViewTools::MeasureMouseUp() {
  if (!FMeasureDrag) return false;
  EndMeasureDrag();
  return true;
}

void TViewTools::EndMeasureDrag() {
  if (!FMeasureDrag) return;
  FMeasureDrag.reset();
  FHistory.EndGesture();
}

bool TViewTools::FinishMeasure() {
  if (!FEditor.Finish()) return false;
  Edited(true);
  return true;
}

bool TViewTools::CancelMeasure() {
  if (!FEditor.Cancel()) return false;
  Edited(false);
  return true;
}

bool TViewTools::DeleteMeasurePoint(raster::TPoint ControlPos) {
  const std::optional<TMeasureHandle> handle = FEditor.HandleAt(Screen(), PixelCentre(ControlPos));
  if (FMeasureDrag || !handle || !FEditor.DeletePoint(*handle)) return false;
  Edited(true);
  return true;
}

bool TViewTools::DeleteMeasureAt(raster::TPoint ControlPos) {
  const std::optional<std::size_t> index = MeasureIndexAt(ControlPos);
  if (FMeasureDrag || !index || !FEditor.DeleteMeasure(*index)) return false;
  Edited(true);
  return true;
}

std::optional<std::size_t> TViewTools::MeasureIndexAt(raster::TPoint ControlPos) const {
  return FEditor.MeasureAt(Screen(), PixelCentre(ControlPos));
}

platform::TStatus TViewTools::RenameMeasure(std::size_t Index, std::string_view Name) {
  switch (FEditor.Rename(Index, Name)) {
    case TRename::Renamed:
      Edited(true);
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

bool TViewTools::MouseDown(raster::TPoint ControlPos) {
  if (MeasureMouseDown(ControlPos)) return true;
  FSwipeDrag = SwipeTo(ControlPos);
  if (!FSwipeDrag) BeginPan(ControlPos);
  return false;
}

void TViewTools::MouseMove(raster::TShiftState Shift, raster::TPoint ControlPos) {
  // A dragged measure's point takes the move from the swipe's line and the pan.
  if (MeasureMouseMove(ControlPos, (Shift & raster::ssLeft) != 0)) return;
  if (FSwipeDrag) {
    if (Shift & raster::ssLeft) SwipeTo(ControlPos);
  } else {
    PanMove(Shift, ControlPos);
  }
}

void TViewTools::MouseUp() {
  MeasureMouseUp();
  FSwipeDrag = false;
  EndPan();
}

bool TViewTools::SwipeTo(raster::TPoint ControlPos) {
  if (FModes.Mode() != TViewMode::Swipe || !Enabled()) return false;
  FModes.SetSwipeLine(FView.ControlToBitmap(ControlPos).X);
  return true;
}

bool TViewTools::WheelZooms(raster::TPoint MousePos) const {
  return Enabled() && raster::PtInRect(FView.GetViewportRect(), MousePos);
}

bool TViewTools::WheelZoom(int AngleDelta, raster::TPoint MousePos, raster::TGaugeBar& ZoomBar) {
  if (!WheelZooms(MousePos)) return false;
  const int notches = FWheel.Add(AngleDelta);
  if (notches == 0) return true;
  const raster::TFloatPoint anchor = ViewToBitmap(FView, MousePos);
  const int before = ZoomBar.Position();
  ZoomBar.SetPosition(before + notches);
  if (ZoomBar.Position() == before) return true;
  // The handler zoomed about the viewport centre; the picture now goes where the anchor lies
  // under the mouse again, within half a pixel, also where the scroll bars could not take it
  // (from Fit the picture is about the viewport's size and centred across its shorter side).
  const raster::TFloatPoint now = BitmapToView(FView, anchor);
  const raster::TRect shown = FView.GetBitmapRect();
  FView.PlaceBitmapAt(float(double(shown.Left) + MousePos.X - now.X),
                      float(double(shown.Top) + MousePos.Y - now.Y));
  return true;
}

void TViewTools::BeginPan(raster::TPoint MousePos) {
  FPan.Begin(MousePos, {FView.HScroll().Position(), FView.VScroll().Position()});
}

void TViewTools::PanMove(raster::TShiftState Shift, raster::TPoint MousePos) {
  if (!FPan.Active()) return;
  if ((Shift & raster::ssLeft) == 0) {
    FPan.End();
    return;
  }
  const raster::TFloatPoint target = FPan.Target(MousePos);
  ScrollToward(FView, target.X, target.Y);
}

TMeasureScreen MeasureScreenOf(raster::TImgView32& View, const TViewModes& Modes,
                               const TPrecisePlacement& Placement,
                               const raster::TBitmap32* Picture2) {
  TMeasureScreen screen;
  const raster::TRect r = View.GetBitmapRect();
  const raster::TBitmap32& picture = View.Bitmap();
  if (!picture.Empty() && r.Width() > 0 && r.Height() > 0) {
    screen.ScaleX = double(r.Width()) / picture.Width();
    screen.ScaleY = double(r.Height()) / picture.Height();
    screen.Left = r.Left;
    screen.Top = r.Top;
  }
  if (Picture2 != nullptr) {
    screen.Two = PictureTwoMapping(Placement, Picture2->Width(), Picture2->Height());
  }
  // The flicker shows whole pictures, side by side or not.
  if (Modes.Shown() == TViewMode::Side) {
    const raster::TRect port = View.GetViewportRect();
    screen.SideShift = (port.Right - port.Left) / 2;
  }
  return screen;
}

TShownPictures ShownPicturesOf(raster::TImgView32& View, const TViewModes& Modes, int Alpha,
                               const TMeasureScreen& Screen, const TMeasureFrame& Frame) {
  TShownPictures shown;
  shown.Mode = Modes.Shown();
  shown.FlickerOverlay = Modes.FlickerOverlay();
  shown.Alpha = Alpha;
  shown.SwipeLine = Modes.SwipeLine();
  shown.CheckerSquare = Modes.CheckerSquare();
  shown.Screen = Screen;
  shown.SideSplit = View.GetViewportRect().Left + shown.Screen.SideShift;
  shown.Frame = Frame;
  return shown;
}

}  // namespace overlay
