// The two pictures shown, besides their pixels: each one's file, whether it is loaded, what its
// file said (TPictureFacts), and the scale and the visit a calling application gave for a file,
// which hold while that picture is that file; from them the scale in force and the dates shown.
// Picture is 1 or 2 throughout.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "overlay/comparison/measure.h"
#include "overlay/comparison/sliders.h"
#include "overlay/decode/picture_import.h"
#include "raster/core.h"

namespace overlay {

class TPicturePair {
 public:
  const std::string& File(int Picture) const { return Side(Picture).File; }
  void SetFile(int Picture, std::string Path) { Side(Picture).File = std::move(Path); }
  bool Loaded(int Picture) const { return Side(Picture).Loaded; }
  void SetLoaded(int Picture) { Side(Picture).Loaded = true; }
  const TPictureFacts& Facts(int Picture) const { return Side(Picture).Facts; }
  void SetFacts(int Picture, TPictureFacts Facts) { Side(Picture).Facts = std::move(Facts); }

  // The scale a calling application gave for the picture at Path (below 0: none).
  void SetGivenScale(int Picture, std::string Path, int Pp100MM);
  // The given scale, while the picture is its file; 0 otherwise.
  int GivenScale(int Picture) const;
  // Whether a given scale names the picture's file, shown or not.
  bool ScaleGivenForFile(int Picture) const {
    return File(Picture) == Side(Picture).ScalePath && Side(Picture).ScalePp100MM > 0;
  }
  // The scale in force while the picture Shows: the given one, else the picture's own (a DICOM
  // file's pixel spacing); 0 when neither is known or it does not show.
  int Pp100MM(int Picture, bool Shows) const;
  // That scale unrounded, where the picture's pixel spacing gives it (Pp100MM its rounding).
  double ExactScale(int Picture, int Pp100MM) const;

  // What a measure needs: picture 1's scale in force (Pp100MM1, the scale bar's), picture 2's,
  // the placement and picture 2's size (Picture2, the overlay's copy; null while there is none).
  TMeasureFrame MeasureFrame(int Pp100MM1, const TPrecisePlacement& Placement,
                             const raster::TBitmap32* Picture2) const;

  // The visit a calling application gave for the picture at Path: it holds while the picture is
  // loaded from that file, and wins over the EXIF date.
  void SetVisit(int Picture, std::string Path, std::string Date, std::string Time);
  void CopyVisits(const TPicturePair& Other) {
    for (int i = 0; i < 2; ++i) FSides[i].Visit = Other.FSides[i].Visit;
  }
  // "03.02.2026 14:03" (and the EXIF date in brackets where that is another day), else the EXIF
  // date; empty when neither is known.
  std::string DateShown(int Picture) const;
  // The same as YYYYMMDDhhmmss; 0 when neither is known.
  std::uint64_t WhenTaken(int Picture) const;

 private:
  struct TVisit {
    std::string Path, Date, Time;
  };
  struct TSide {
    std::string File;
    bool Loaded = false;
    TPictureFacts Facts;
    std::string ScalePath;
    int ScalePp100MM = 0;
    TVisit Visit;
  };
  TSide& Side(int Picture) { return FSides[Picture == 1 ? 0 : 1]; }
  const TSide& Side(int Picture) const { return FSides[Picture == 1 ? 0 : 1]; }
  const TVisit* VisitOf(int Picture) const;

  std::array<TSide, 2> FSides;
};

}  // namespace overlay
