// The comparison record: what a comparison of two pictures leaves behind, so that it reopens
// when the same two pictures are loaded again, by their contents, wherever they lie now. An INI
// file in the user's data folder, named after the two pictures' SHA-256, readable by the user
// alone (it names the pictures), written in one replacement.
//
//   [Pictures]  Picture1, Picture2 (paths), Sha1, Sha2, Orientation1, Orientation2 (the EXIF
//               orientation each picture was shown turned by, 1 for as stored; absent in older
//               records, which were all made of pictures as stored)
//   [Placement] Angle, Zoom, X, Y (the precise placement, "." decimals, exact to the bit, within
//               the sliders' ranges: PlacementFault)
//   [View]      Mode (blend, difference, swipe, checker, side), MatchColours (0 or 1)
//   [Ruler<N>], [Outline<N>] (N from 1)  Picture (1 or 2), Name (escaped as the notes),
//               Points ("x y;x y;...", in picture Picture's own pixels), Space (2: picture 2's
//               points are its own). Picture 2's points without Space=2 (records written before)
//               are picture-1 coordinates under Under ("angle zoom x y") or else [Placement];
//               they are read as such (TMeasure::Under) and unnamed measures take default names
//   [Notes]     Text, whole, of any length (a line break written as \n, a carriage return as \r,
//               a tab as \t, a quote as \q, a blank at either end as \s, a backslash as \\)
//   [Dicom]     StudyInstanceUID: the study a DICOM export of the comparison made, so that the
//               next export goes into the same study (absent until the first export);
//               SentDigest: DicomExportDigest of the comparison as it last went to the PACS
//               (absent until then), so that it is not sent again unchanged
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "overlay/comparison/measure.h"
#include "overlay/comparison/sliders.h"
#include "overlay/comparison/view_modes.h"
#include "platform/status.h"

namespace overlay {

struct TComparisonRecord {
  std::string Picture1, Picture2, Sha1, Sha2;
  int Orientation1 = 1, Orientation2 = 1;
  TPrecisePlacement Placement;
  std::string Mode = "blend";
  bool MatchColours = false;
  std::vector<TMeasure> Measures;
  std::string Notes;
  std::string StudyInstanceUid;
  std::string SentDigest;
  friend bool operator==(const TComparisonRecord&, const TComparisonRecord&) = default;
};

// The record's file for two pictures of these contents: in Folder (the user's data folder's
// "records/" when empty), "<Sha1>-<Sha2>.ini".
std::string ComparisonRecordPath(const std::string& Sha1, const std::string& Sha2,
                                 const std::string& Folder = {});

// The record at Path, or why it cannot be used ("... is damaged: [Placement] Zoom lies outside
// 0.100..10.000"); a file that does not exist gives a failure without a reason. Every value is
// checked: the hashes, the orientations, the placement (PlacementFault), the view, the measures'
// points and the study's UID.
platform::TResult<TComparisonRecord> ReadComparisonRecord(const std::string& Path);
// Writes Record to Path (its folder made, 0700, when missing; the file 0600). When it cannot be
// written, the reason is RecordNotSavedText of the path and the system's reason in brackets, and
// the old file stays as it was.
platform::TStatus WriteComparisonRecord(const std::string& Path, const TComparisonRecord& Record);

// Whether Record was made of these pictures, turned as they are shown now: refused, with what
// differs, when a picture's contents (SHA-256) or its orientation is not the record's, so that
// a comparison's placement and measures never land on other pictures.
platform::TStatus CheckRecordPictures(const TComparisonRecord& Record, const std::string& Sha1,
                                      const std::string& Sha2, int Orientation1, int Orientation2);

}  // namespace overlay
