#include "overlay/scene/measure_edit.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace overlay {

namespace {

double Distance(TMeasurePoint A, TMeasurePoint B) {
  return std::hypot(A.X - B.X, A.Y - B.Y);
}

// From P to the segment A..B.
double DistanceToSegment(TMeasurePoint P, TMeasurePoint A, TMeasurePoint B) {
  const double dx = B.X - A.X, dy = B.Y - A.Y;
  const double length2 = dx * dx + dy * dy;
  const double t =
      length2 > 0 ? std::clamp(((P.X - A.X) * dx + (P.Y - A.Y) * dy) / length2, 0.0, 1.0) : 0.0;
  return Distance(P, {A.X + t * dx, A.Y + t * dy});
}

std::int64_t FloorDiv(double Value, double Divisor) {
  return std::int64_t(std::floor(Value / Divisor));
}

}  // namespace

TMeasurePoint TMeasureScreen::ToScreen(int Picture, TMeasurePoint P) const {
  if (Picture == 2) P = Two.ToOne(P);
  return {Left + P.X * ScaleX + (Picture == 2 ? SideShift : 0), Top + P.Y * ScaleY};
}

TMeasurePoint TMeasureScreen::FromScreen(int Picture, TMeasurePoint S) const {
  const TMeasurePoint p{(S.X - (Picture == 2 ? SideShift : 0) - Left) / ScaleX,
                        (S.Y - Top) / ScaleY};
  return Picture == 2 ? Two.ToTwo(p) : p;
}

int PictureShownAt(const TShownPictures& View, TMeasurePoint At) {
  bool two = false;
  switch (View.Mode) {
    case TViewMode::Flicker:
      two = View.FlickerOverlay;
      break;
    case TViewMode::Blend:
      two = View.Alpha >= 255;
      break;
    case TViewMode::Difference:
      break;
    case TViewMode::Swipe:
      // As the layer draws it: from the first whole column at or right of the line.
      two = At.X >= std::ceil(View.Screen.Left + View.SwipeLine * View.Screen.ScaleX);
      break;
    case TViewMode::Checker: {
      // The squares from picture 1's corner; the one at the corner shows picture 1.
      const double side = std::max(View.CheckerSquare, 1);
      const std::int64_t col = FloorDiv(std::floor(At.X) - std::round(View.Screen.Left), side);
      const std::int64_t row = FloorDiv(std::floor(At.Y) - std::round(View.Screen.Top), side);
      two = ((row + col) & 1) != 0;
      break;
    }
    case TViewMode::Side:
      two = At.X >= View.SideSplit;
      break;
  }
  if (!two) return 1;
  // Where picture 2 does not reach, the view shows picture 1 (or nothing of picture 2).
  const TMeasurePoint own = View.Screen.FromScreen(2, At);
  return own.X >= 0 && own.Y >= 0 && own.X < View.Frame.Width2 && own.Y < View.Frame.Height2 ? 2
                                                                                             : 1;
}

void TMeasureEditor::SetTool(TMeasureTool Tool) {
  FTool = Tool;
  FDrawing.reset();
  FHover.reset();
}

void TMeasureEditor::SetMeasures(std::vector<TMeasure> Measures) {
  FMeasures = std::move(Measures);
  NameUnnamed(FMeasures);
  FDrawing.reset();
}

bool TMeasureEditor::Click(TMeasurePoint P, int Picture, const TMeasureScreen& Screen) {
  if (FTool == TMeasureTool::None) return false;
  if (!FDrawing) {
    FDrawing = TMeasure{
        FTool == TMeasureTool::Ruler ? TMeasureKind::Ruler : TMeasureKind::Outline, Picture, {P}};
    return false;
  }
  TMeasure& m = *FDrawing;
  const TMeasurePoint at = Screen.ToScreen(m.Picture, P);
  // A second click on the same spot (the second press of a double click) adds nothing.
  if (Distance(at, Screen.ToScreen(m.Picture, m.Points.back())) <= Tolerance) return false;
  if (m.Kind == TMeasureKind::Outline &&
      Distance(at, Screen.ToScreen(m.Picture, m.Points.front())) <= Tolerance) {
    return Finish();
  }
  // At the bound an outline takes no more points; it still closes on its first.
  if (m.Points.size() >= MaxMeasurePoints) return false;
  m.Points.push_back(P);
  if (m.Kind == TMeasureKind::Ruler) return Finish();
  return false;
}

bool TMeasureEditor::Finish() {
  if (!FDrawing || FDrawing->Points.size() < (FDrawing->Kind == TMeasureKind::Ruler ? 2u : 3u)) {
    return false;
  }
  FDrawing->Name = DefaultMeasureName(FMeasures, FDrawing->Kind, FDrawing->Picture);
  FMeasures.push_back(std::move(*FDrawing));
  FDrawing.reset();
  FHover.reset();
  return true;
}

bool TMeasureEditor::Cancel() {
  if (FDrawing) {
    FDrawing.reset();
    FHover.reset();
    return true;
  }
  if (FTool == TMeasureTool::None) return false;
  FTool = TMeasureTool::None;
  return true;
}

std::optional<TMeasureHandle> TMeasureEditor::HandleAt(const TMeasureScreen& Screen,
                                                       TMeasurePoint S) const {
  std::optional<TMeasureHandle> found;
  double nearest = Tolerance;
  for (std::size_t m = 0; m < FMeasures.size(); ++m) {
    for (std::size_t p = 0; p < FMeasures[m].Points.size(); ++p) {
      const double d = Distance(S, Screen.ToScreen(FMeasures[m].Picture, FMeasures[m].Points[p]));
      if (d <= nearest) {
        nearest = d;
        found = TMeasureHandle{m, p};
      }
    }
  }
  return found;
}

std::optional<std::size_t> TMeasureEditor::MeasureAt(const TMeasureScreen& Screen,
                                                     TMeasurePoint S) const {
  if (const std::optional<TMeasureHandle> h = HandleAt(Screen, S)) return h->Measure;
  std::optional<std::size_t> found;
  double nearest = Tolerance;
  for (std::size_t m = 0; m < FMeasures.size(); ++m) {
    const TMeasure& measure = FMeasures[m];
    const std::size_t n = measure.Points.size();
    // An outline's lines close on its first point.
    const std::size_t lines = measure.Kind == TMeasureKind::Outline ? n : n - 1;
    for (std::size_t i = 0; i < lines && n > 1; ++i) {
      const double d =
          DistanceToSegment(S, Screen.ToScreen(measure.Picture, measure.Points[i]),
                            Screen.ToScreen(measure.Picture, measure.Points[(i + 1) % n]));
      if (d <= nearest) {
        nearest = d;
        found = m;
      }
    }
  }
  return found;
}

bool TMeasureEditor::MovePoint(TMeasureHandle Handle, TMeasurePoint P) {
  if (Handle.Measure >= FMeasures.size() || Handle.Point >= FMeasures[Handle.Measure].Points.size())
    return false;
  TMeasurePoint& point = FMeasures[Handle.Measure].Points[Handle.Point];
  if (point == P) return false;
  point = P;
  return true;
}

bool TMeasureEditor::DeletePoint(TMeasureHandle Handle) {
  if (Handle.Measure >= FMeasures.size()) return false;
  TMeasure& m = FMeasures[Handle.Measure];
  if (Handle.Point >= m.Points.size()) return false;
  if (m.Kind == TMeasureKind::Ruler || m.Points.size() <= 3) return DeleteMeasure(Handle.Measure);
  m.Points.erase(m.Points.begin() + std::ptrdiff_t(Handle.Point));
  return true;
}

bool TMeasureEditor::DeleteMeasure(std::size_t Index) {
  if (Index >= FMeasures.size()) return false;
  FMeasures.erase(FMeasures.begin() + std::ptrdiff_t(Index));
  return true;
}

TRename TMeasureEditor::Rename(std::size_t Index, std::string_view Name) {
  if (Index >= FMeasures.size()) return TRename::NoMeasure;
  const std::string name = CleanMeasureName(Name);
  TMeasure& m = FMeasures[Index];
  if (name.empty()) return TRename::Empty;
  if (name == m.Name) return TRename::Unchanged;
  for (const TMeasure& other : FMeasures) {
    if (&other != &m && other.Picture == m.Picture && other.Name == name) return TRename::Taken;
  }
  m.Name = name;
  return TRename::Renamed;
}

const TText* TMeasureEditor::Hint() const {
  switch (FTool) {
    case TMeasureTool::None:
      return nullptr;
    case TMeasureTool::Ruler:
      return FDrawing ? &MeasureRulerEndText : &MeasureRulerStartText;
    case TMeasureTool::Outline:
      return FDrawing ? &MeasureOutlineNextText : &MeasureOutlineStartText;
  }
  return nullptr;
}

}  // namespace overlay
