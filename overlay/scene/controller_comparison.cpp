// The controller as the view of a comparison: what the record session, the outputs and the
// export read from it, and a kept record shown on it.
#include "overlay/scene/main_controller.h"

namespace overlay {

TComparison ComparisonOf(const TMainController& Controller) {
  TComparison c;
  const TMeasureFrame frame = Controller.MeasureFrame();
  const auto picture = [](const std::string& Path, const TPictureFacts& Facts, int Pp100MM,
                          bool FromFacts) {
    TComparisonPicture p;
    p.Path = Path;
    p.Orientation = Facts.ShownOrientation;
    p.Facts = Facts;
    p.Pp100MM = Pp100MM;
    p.ScaleSource = Pp100MM <= 0 ? TScaleSource::None
                    : FromFacts  ? TScaleSource::PictureFacts
                                 : TScaleSource::Caller;
    return p;
  };
  c.Picture1 = picture(Controller.ImageFile1(), Controller.Facts1(), frame.Pp100MM1,
                       Controller.Scale1FromFacts());
  c.Picture2 = picture(Controller.ImageFile2(), Controller.Facts2(), frame.Pp100MM2,
                       Controller.Scale2FromFacts());
  TComparisonRecord& r = c.Record;
  r.Picture1 = c.Picture1.Path;
  r.Picture2 = c.Picture2.Path;
  r.Sha1 = c.Picture1.Sha256;
  r.Sha2 = c.Picture2.Sha256;
  r.Orientation1 = c.Picture1.Orientation;
  r.Orientation2 = c.Picture2.Orientation;
  r.Placement = Controller.Placement();
  r.Mode = std::string(ViewModeName(Controller.DrawnMode()));
  r.MatchColours = Controller.ColourMatchOn();
  r.Measures = Controller.Measures();
  return c;
}

TComparison TMainController::Shown() const {
  return ComparisonOf(*this);
}

void TMainController::ShowRecord(const TComparisonRecord& Record) {
  PlacePrecisely(Record.Placement);
  if (const std::optional<TViewMode> mode = ViewModeOfName(Record.Mode)) ShowMode(*mode);
  SetColourMatch(Record.MatchColours);
  SetMeasures(Record.Measures);
}

}  // namespace overlay
