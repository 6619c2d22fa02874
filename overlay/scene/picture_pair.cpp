#include "overlay/scene/picture_pair.h"

#include <algorithm>

namespace overlay {

void TPicturePair::SetGivenScale(int Picture, std::string Path, int Pp100MM) {
  Side(Picture).ScalePath = std::move(Path);
  Side(Picture).ScalePp100MM = std::max(Pp100MM, 0);
}

int TPicturePair::GivenScale(int Picture) const {
  return File(Picture) == Side(Picture).ScalePath ? Side(Picture).ScalePp100MM : 0;
}

int TPicturePair::Pp100MM(int Picture, bool Shows) const {
  const int given = Shows ? GivenScale(Picture) : 0;
  return given > 0 ? given : Shows ? FactsPp100MM(Facts(Picture)) : 0;
}

double TPicturePair::ExactScale(int Picture, int Pp100MM) const {
  const TPictureFacts& facts = Facts(Picture);
  return Pp100MM > 0 && FactsPp100MM(facts) == Pp100MM ? 100.0 / facts.PixelSpacingColumn : 0;
}

TMeasureFrame TPicturePair::MeasureFrame(int Pp100MM1, const TPrecisePlacement& Placement,
                                         const raster::TBitmap32* Picture2) const {
  TMeasureFrame frame;
  frame.Pp100MM1 = Pp100MM1;
  frame.Exact1 = ExactScale(1, frame.Pp100MM1);
  frame.Pp100MM2 = Pp100MM(2, Loaded(2));
  frame.Exact2 = ExactScale(2, frame.Pp100MM2);
  frame.Placement = Placement;
  if (Picture2 != nullptr) {
    frame.Width2 = Picture2->Width();
    frame.Height2 = Picture2->Height();
  }
  return frame;
}

void TPicturePair::SetVisit(int Picture, std::string Path, std::string Date, std::string Time) {
  Side(Picture).Visit = {std::move(Path), std::move(Date), std::move(Time)};
}

const TPicturePair::TVisit* TPicturePair::VisitOf(int Picture) const {
  const TSide& side = Side(Picture);
  const bool shown = side.Loaded && side.File == side.Visit.Path;
  return shown && !side.Visit.Date.empty() ? &side.Visit : nullptr;
}

std::string TPicturePair::DateShown(int Picture) const {
  const std::uint64_t exif = Facts(Picture).DateTaken;
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

std::uint64_t TPicturePair::WhenTaken(int Picture) const {
  const TVisit* visit = VisitOf(Picture);
  const std::uint64_t given = visit != nullptr ? VisitDateTaken(visit->Date, visit->Time) : 0;
  return given != 0 ? given : Facts(Picture).DateTaken;
}

}  // namespace overlay
