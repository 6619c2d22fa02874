// The comparison record of the pictures a view shows, found, offered, applied and saved by
// one piece of code that the window and the command-line tools share.
//
// Open looks for the record of the pictures now shown (by their contents, wherever they lie) or
// takes the one the user names, and checks that it was made of these pictures turned as they are
// shown (CheckRecordPictures) and that every value in it is sound (ReadComparisonRecord). A
// record found is offered: Accept applies it and keeps it; Decline leaves its file as it is and
// lets nothing of it play a part (its measures, notes and study included), and the comparison is
// then not saved, since saving would replace the declined file. Every change is saved by
// SaveIfChanged; the window calls it a moment after each change, when the pictures change and at
// Close.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include "overlay/comparison/comparison.h"
#include "platform/status.h"

namespace overlay {

class TRecordSession {
 public:
  // Folder: where the kept records lie; empty for the user's data folder's "records/".
  explicit TRecordSession(std::string Folder = {});
  void SetFolder(std::string Folder) { FFolder = std::move(Folder); }

  // What Open found.
  enum class TFound {
    None,     // no record yet: one is made at the first save
    Offered,  // a sound record of these pictures, to Accept or Decline
    Refused,  // damaged, or of other pictures: Reason says why; its file stays as it is
    Unkept,   // a picture cannot be read (or not both are loaded): no record is kept
  };
  struct TOpened {
    TFound Found = TFound::Unkept;
    platform::TStatus Status;  // the refusal, with its reason, for Refused
  };

  // The pictures View shows now (the one before is closed first, its pending change
  // saved by the caller). Named: a record file the user gave, used in place of the one kept
  // for the pictures; it is then where saves go as well.
  TOpened Open(const TComparisonView& View, const std::string& Named = {});
  // The record Open offered, if any, put to the user: Ask says whether it is taken (Accept) or
  // not (Decline). True when it now shows on View.
  bool Offer(TComparisonView& View, const std::function<bool()>& Ask);
  // The offered record, when Open offered one.
  const std::optional<TComparisonRecord>& Offered() const { return FOffered; }
  // Shows the offered record on View (placement, way of drawing, colour matching, measures) and
  // keeps its notes and study.
  void Accept(TComparisonView& View);
  void Decline();
  // No pictures: nothing is kept, nothing saved.
  void Close();

  // A change of the comparison, saved by the next SaveIfChanged; whether a save is due (a record
  // is kept), so that the window writes it a moment later.
  bool Changed() {
    FPending = true;
    return Keeps();
  }
  bool Pending() const { return FPending; }
  // Saves the comparison as View shows it, with the notes and the study, when a change is
  // pending and a record is kept. A record that cannot be written is told once: the first
  // failure of a run of them carries the reason, the next ones none, until a save succeeds.
  platform::TStatus SaveIfChanged(const TComparisonView& View);
  // Whether saves go to a file, which, and when the last one was written.
  bool Keeps() const { return !FPath.empty(); }
  const std::string& Path() const { return FPath; }
  std::optional<std::chrono::system_clock::time_point> LastSaved() const { return FLastSaved; }
  // Whether the work is safe, for the status bar while both pictures show (Shown): that it is not
  // kept, or when it was last saved (local time); empty otherwise.
  std::string SaveStateText(bool Shown) const;

  // The notes and the study of the DICOM export: each a change.
  const std::string& Notes() const { return FComparison.Record.Notes; }
  void SetNotes(std::string Notes);
  const std::string& StudyInstanceUid() const { return FComparison.Record.StudyInstanceUid; }
  void SetStudyInstanceUid(std::string Uid);
  // What the comparison was when it last went to the PACS (DicomExportDigest): a change.
  const std::string& SentDigest() const { return FComparison.Record.SentDigest; }
  void SetSentDigest(std::string Digest);

  // The patient a calling application named with its pictures; Open decides from it the
  // patient of the pictures then shown (PatientOfPictures).
  void SetNamed(TNamedComparison Named) { FNamed = std::move(Named); }
  // The patient of the pictures View shows (or is about to show), decided again.
  void DecidePatient(const TComparisonView& View);
  const TNamedComparison& Named() const { return FNamed; }
  const TComparisonPatient& Patient() const { return FComparison.Patient; }
  // The window's caption while the pictures at Path1 and Path2 show (PatientCaption); none while
  // they are the ones the calling application named and it named nobody: the caption it gave
  // stays.
  std::optional<std::string> Caption(const std::string& Path1, const std::string& Path2) const;

  // The comparison as View shows it now, with the hashes, the patient, the notes and the study
  // this session keeps.
  TComparison Comparison(const TComparisonView& View) const;

 private:
  void DecidePatient(const TComparison& Shown);

  std::string FFolder;
  TNamedComparison FNamed;
  TComparison FComparison;  // the pictures' hashes and orientations, patient, notes, study
  std::optional<TComparisonRecord> FOffered;
  std::string FPath;         // where saves go; empty: not kept
  std::string FOfferedPath;  // where the offered record lies
  bool FPending = false;
  bool FFailureTold = false;
  std::optional<std::chrono::system_clock::time_point> FLastSaved;
};

}  // namespace overlay
