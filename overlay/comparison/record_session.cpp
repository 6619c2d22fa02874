#include "overlay/comparison/record_session.h"

#include <ctime>

#include "overlay/base/texts.h"
#include "platform/content_hash.h"

namespace overlay {

TRecordSession::TRecordSession(std::string Folder) : FFolder(std::move(Folder)) {}

void TRecordSession::Close() {
  FComparison = {};
  FOffered.reset();
  FPath.clear();
  FOfferedPath.clear();
  FPending = false;
  FFailureTold = false;
}

TRecordSession::TOpened TRecordSession::Open(const TComparisonView& View,
                                             const std::string& Named) {
  Close();
  const TComparison shown = View.Shown();
  DecidePatient(shown);
  if (!View.BothLoaded()) return {};
  TComparison& c = FComparison;
  c.Picture1.Path = shown.Picture1.Path;
  c.Picture2.Path = shown.Picture2.Path;
  c.Picture1.Sha256 = platform::Sha256OfFile(c.Picture1.Path);
  c.Picture2.Sha256 = platform::Sha256OfFile(c.Picture2.Path);
  c.Picture1.Orientation = shown.Picture1.Orientation;
  c.Picture2.Orientation = shown.Picture2.Orientation;
  if (c.Picture1.Sha256.empty() || c.Picture2.Sha256.empty()) return {};
  const std::string path =
      Named.empty() ? ComparisonRecordPath(c.Picture1.Sha256, c.Picture2.Sha256, FFolder) : Named;
  platform::TResult<TComparisonRecord> found = ReadComparisonRecord(path);
  if (!found) {
    if (!found.Reason().empty()) return {TFound::Refused, found.Status()};
    if (!Named.empty()) {
      return {TFound::Refused, platform::TStatus::Failure("no record at " + path)};
    }
    FPath = path;  // made at the first save
    return {TFound::None, {}};
  }
  if (platform::TStatus fits =
          CheckRecordPictures(found.Value(), c.Picture1.Sha256, c.Picture2.Sha256,
                              c.Picture1.Orientation, c.Picture2.Orientation);
      !fits) {
    return {TFound::Refused, platform::TStatus::Failure(fits.Reason() + "\n\n[" + path + "]")};
  }
  const raster::TBitmap32* two = View.Picture2();
  if (two != nullptr && !PlacementFits(found.Value().Placement, two->Width(), two->Height())) {
    return {TFound::Refused,
            platform::TStatus::Failure(
                Tr(RecordDamagedText,
                   "[Placement] Zoom: " + Tr(RecordZoomTooLargeText) + "\n\n[" + path + "]"))};
  }
  FOffered = std::move(found).Value();
  FOfferedPath = path;
  return {TFound::Offered, {}};
}

bool TRecordSession::Offer(TComparisonView& View, const std::function<bool()>& Ask) {
  if (!FOffered) return false;
  if (!Ask()) {
    // Left in its file untouched; nothing of it plays a part.
    Decline();
    return false;
  }
  Accept(View);
  return true;
}

std::string TRecordSession::SaveStateText(bool Shown) const {
  if (!Shown) return {};
  if (!Keeps()) return Tr(RecordNotKeptText);
  if (!FLastSaved) return {};
  const std::time_t at = std::chrono::system_clock::to_time_t(*FLastSaved);
  std::tm local{};
  char clock[16] = {};
  if (::localtime_r(&at, &local) == nullptr ||
      std::strftime(clock, sizeof clock, "%H:%M:%S", &local) == 0) {
    return {};
  }
  return Tr(RecordSavedText, clock);
}

std::optional<std::string> TRecordSession::Caption(const std::string& Path1,
                                                   const std::string& Path2) const {
  if (!Patient().Known() && NamedPicturesShown(FNamed, Path1, Path2)) return std::nullopt;
  return PatientCaption(Patient());
}

void TRecordSession::DecidePatient(const TComparisonView& View) {
  DecidePatient(View.Shown());
}

void TRecordSession::DecidePatient(const TComparison& Shown) {
  FComparison.Patient = PatientOfPictures(FNamed, Shown.Picture1.Path, Shown.Picture1.Facts,
                                          Shown.Picture2.Path, Shown.Picture2.Facts);
}

void TRecordSession::Accept(TComparisonView& View) {
  if (!FOffered) return;
  const TComparisonRecord& r = *FOffered;
  View.ShowRecord(r);
  FComparison.Record.Notes = r.Notes;
  FComparison.Record.StudyInstanceUid = r.StudyInstanceUid;
  FComparison.Record.SentDigest = r.SentDigest;
  FPath = FOfferedPath;
  FOffered.reset();
  // Applying it is no change of the comparison: the file holds it as it is.
  FPending = false;
}

void TRecordSession::Decline() {
  FOffered.reset();
  FOfferedPath.clear();
  FPath.clear();
  FPending = false;
}

void TRecordSession::SetNotes(std::string Notes) {
  if (Notes == FComparison.Record.Notes) return;
  FComparison.Record.Notes = std::move(Notes);
  Changed();
}

void TRecordSession::SetStudyInstanceUid(std::string Uid) {
  if (Uid == FComparison.Record.StudyInstanceUid) return;
  FComparison.Record.StudyInstanceUid = std::move(Uid);
  Changed();
}

void TRecordSession::SetSentDigest(std::string Digest) {
  if (Digest == FComparison.Record.SentDigest) return;
  FComparison.Record.SentDigest = std::move(Digest);
  Changed();
}

TComparison TRecordSession::Comparison(const TComparisonView& View) const {
  TComparison c = View.Shown();
  c.Picture1.Sha256 = c.Record.Sha1 = FComparison.Picture1.Sha256;
  c.Picture2.Sha256 = c.Record.Sha2 = FComparison.Picture2.Sha256;
  c.Patient = FComparison.Patient;
  c.Record.Notes = FComparison.Record.Notes;
  c.Record.StudyInstanceUid = FComparison.Record.StudyInstanceUid;
  c.Record.SentDigest = FComparison.Record.SentDigest;
  return c;
}

platform::TStatus TRecordSession::SaveIfChanged(const TComparisonView& View) {
  if (!FPending || FPath.empty() || !View.BothLoaded()) return {};
  if (platform::TStatus saved = WriteComparisonRecord(FPath, Comparison(View).Record); !saved) {
    // Still pending: the next change or Close tries again.
    const bool tell = !FFailureTold;
    FFailureTold = true;
    return tell ? saved : platform::TStatus::Failure();
  }
  FPending = false;
  FFailureTold = false;
  FLastSaved = std::chrono::system_clock::now();
  return {};
}

}  // namespace overlay
