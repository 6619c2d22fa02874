#include "overlay/comparison/comparison_record.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "overlay/base/number_format.h"
#include "overlay/base/texts.h"
#include "overlay/comparison/dicom_values.h"
#include "platform/file_write.h"
#include "platform/ini_profile.h"
#include "platform/paths.h"

namespace overlay {

namespace {

bool ParseDouble(std::string_view Text, double* Value) {
  while (!Text.empty() && Text.front() == ' ') Text.remove_prefix(1);
  while (!Text.empty() && Text.back() == ' ') Text.remove_suffix(1);
  if (Text.empty()) return false;
  const auto [end, ec] = std::from_chars(Text.data(), Text.data() + Text.size(), *Value);
  return ec == std::errc() && end == Text.data() + Text.size() && std::isfinite(*Value);
}

std::string PointsText(const std::vector<TMeasurePoint>& Points) {
  std::string text;
  for (const TMeasurePoint& p : Points) {
    if (!text.empty()) text += ';';
    text += FormatExact(p.X) + " " + FormatExact(p.Y);
  }
  return text;
}

bool ParsePoints(std::string_view Text, std::vector<TMeasurePoint>* Points) {
  Points->clear();
  while (!Text.empty()) {
    const std::size_t semi = std::min(Text.find(';'), Text.size());
    const std::string_view pair = Text.substr(0, semi);
    const std::size_t space = pair.find(' ');
    TMeasurePoint p;
    if (space == std::string_view::npos || !ParseDouble(pair.substr(0, space), &p.X) ||
        !ParseDouble(pair.substr(space + 1), &p.Y)) {
      return false;
    }
    Points->push_back(p);
    Text.remove_prefix(std::min(semi + 1, Text.size()));
  }
  return true;
}

// The notes as one value of any length that reads back byte for byte: the profile read takes
// the blanks off a value's ends and one pair of quotes round it, and a line break would end it.
std::string Escaped(const std::string& Text) {
  std::string out;
  for (std::size_t i = 0; i < Text.size(); ++i) {
    const char c = Text[i];
    const bool atEnd = i == 0 || i + 1 == Text.size();
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\0':
        out += "\\0";
        break;
      case '"':
        out += "\\q";
        break;
      case ' ':
        out += atEnd ? "\\s" : " ";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string Unescaped(const std::string& Text) {
  std::string out;
  for (std::size_t i = 0; i < Text.size(); ++i) {
    if (Text[i] == '\\' && i + 1 < Text.size()) {
      const char c = Text[++i];
      out += c == 'n'   ? '\n'
             : c == 'r' ? '\r'
             : c == 't' ? '\t'
             : c == '0' ? '\0'
             : c == 'q' ? '"'
             : c == 's' ? ' '
                        : c;
    } else {
      out += Text[i];
    }
  }
  return out;
}

bool IsSha256Text(const std::string& Text) {
  return Text.size() == 64 && std::all_of(Text.begin(), Text.end(), [](char c) {
           return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
         });
}

}  // namespace

std::string ComparisonRecordPath(const std::string& Sha1, const std::string& Sha2,
                                 const std::string& Folder) {
  const std::string dir =
      Folder.empty() ? platform::UserFolder(platform::TFileKind::Data) + "records/" : Folder;
  return dir + Sha1 + "-" + Sha2 + ".ini";
}

platform::TResult<TComparisonRecord> ReadComparisonRecord(const std::string& Path) {
  if (!platform::FileExists(Path)) return platform::TStatus::Failure();
  platform::TProfileFile file(Path);
  const auto damaged = [&](const std::string& Where) {
    return platform::TStatus::Failure(Tr(RecordDamagedText, Where + "\n\n[" + Path + "]"));
  };
  if (!file.ReadFailure().empty()) return damaged(file.ReadFailure());
  TComparisonRecord r;
  const auto text = [&](const char* Section, const char* Key) {
    return file.Get(Section, Key, "");
  };
  r.Picture1 = text("Pictures", "Picture1");
  r.Picture2 = text("Pictures", "Picture2");
  r.Sha1 = text("Pictures", "Sha1");
  r.Sha2 = text("Pictures", "Sha2");
  if (!IsSha256Text(r.Sha1)) return damaged("[Pictures] Sha1");
  if (!IsSha256Text(r.Sha2)) return damaged("[Pictures] Sha2");
  for (auto [key, value] :
       {std::pair{"Orientation1", &r.Orientation1}, std::pair{"Orientation2", &r.Orientation2}}) {
    const std::string given = text("Pictures", key);
    if (given.empty()) continue;  // an older record: its pictures were shown as stored
    if (given.size() != 1 || given[0] < '1' || given[0] > '8') {
      return damaged(std::string("[Pictures] ") + key);
    }
    *value = given[0] - '0';
  }
  for (auto [key, value] :
       {std::pair{"Angle", &r.Placement.Angle}, std::pair{"Zoom", &r.Placement.Zoom},
        std::pair{"X", &r.Placement.X}, std::pair{"Y", &r.Placement.Y}}) {
    if (!ParseDouble(text("Placement", key), value))
      return damaged(std::string("[Placement] ") + key);
  }
  if (const std::optional<TPlacementFault> fault = PlacementFault(r.Placement)) {
    return damaged("[Placement] " + fault->Key + " " + fault->Why);
  }
  r.Mode = text("View", "Mode");
  if (!ViewModeOfName(r.Mode)) return damaged("[View] Mode");
  r.MatchColours = text("View", "MatchColours") == "1";
  for (const std::string& section : file.SectionNames()) {
    const bool ruler = section.rfind("Ruler", 0) == 0, outline = section.rfind("Outline", 0) == 0;
    if (!ruler && !outline) continue;
    const std::optional<std::string> points = file.Find(section, "Points");
    if (!points) continue;  // a section a later record left empty
    TMeasure m;
    m.Kind = ruler ? TMeasureKind::Ruler : TMeasureKind::Outline;
    const std::string picture = text(section.c_str(), "Picture");
    if (picture != "1" && picture != "2") return damaged("[" + section + "] Picture");
    m.Picture = picture == "1" ? 1 : 2;
    if (!ParsePoints(*points, &m.Points) || m.Points.size() < (ruler ? 2u : 3u) ||
        (ruler && m.Points.size() != 2)) {
      return damaged("[" + section + "] Points");
    }
    if (m.Points.size() > MaxMeasurePoints) {
      return damaged("[" + section + "] Points: more than " + std::to_string(MaxMeasurePoints));
    }
    for (const TMeasurePoint& p : m.Points) {
      if (std::abs(p.X) > FarthestMeasurePoint || std::abs(p.Y) > FarthestMeasurePoint) {
        return damaged("[" + section + "] Points: a point lies outside -1000000..1000000");
      }
    }
    m.Name = CleanMeasureName(Unescaped(text(section.c_str(), "Name")));
    if (m.Picture == 2 && text(section.c_str(), "Space") != "2") {
      // Written before picture 2's points were its own: as the view showed them then.
      m.Under = r.Placement;
      if (const std::optional<std::string> under = file.Find(section, "Under")) {
        std::vector<TMeasurePoint> pair;
        if (!ParsePoints(*under, &pair) || pair.size() != 2 || !(pair[0].Y > 0)) {
          return damaged("[" + section + "] Under");
        }
        m.Under = TPrecisePlacement{pair[0].X, pair[0].Y, pair[1].X, pair[1].Y};
        if (const std::optional<TPlacementFault> fault = PlacementFault(*m.Under)) {
          return damaged("[" + section + "] Under " + fault->Key + " " + fault->Why);
        }
      }
    }
    r.Measures.push_back(std::move(m));
  }
  // A name once and for all: a record of unnamed measures pairs its outlines by their order.
  NameUnnamed(r.Measures);
  // Whole, however long: the profile read would cut it at 2047 characters.
  r.Notes = Unescaped(file.Find("Notes", "Text").value_or(""));
  r.StudyInstanceUid = text("Dicom", "StudyInstanceUID");
  // It goes into every DICOM object of the next export.
  if (!r.StudyInstanceUid.empty() && !IsValidDicomUid(r.StudyInstanceUid)) {
    return damaged("[Dicom] StudyInstanceUID");
  }
  // Only asked about: one that is no digest is as none (the comparison counts as not sent).
  r.SentDigest = text("Dicom", "SentDigest");
  if (r.SentDigest.size() != 64 ||
      r.SentDigest.find_first_not_of("0123456789abcdef") != std::string::npos) {
    r.SentDigest.clear();
  }
  return r;
}

platform::TStatus WriteComparisonRecord(const std::string& Path, const TComparisonRecord& Record) {
  // The records name pictures of patients: the folder is the user's alone. One that cannot be
  // made fails the write below, which tells why.
  if (const std::size_t slash = Path.rfind('/'); slash != std::string::npos && slash > 0) {
    platform::MakeFolders(Path.substr(0, slash));
  }
  platform::TFileWriteOptions options = platform::ProfileWriteOptions();
  options.Mode = 0600;
  options.FollowSymlink = false;
  platform::TIniFile ini(Path, options);
  ini.BeginUpdate();
  ini.WriteString("Pictures", "Picture1", Record.Picture1);
  ini.WriteString("Pictures", "Picture2", Record.Picture2);
  ini.WriteString("Pictures", "Sha1", Record.Sha1);
  ini.WriteString("Pictures", "Sha2", Record.Sha2);
  ini.WriteString("Pictures", "Orientation1", std::to_string(Record.Orientation1));
  ini.WriteString("Pictures", "Orientation2", std::to_string(Record.Orientation2));
  ini.WriteString("Placement", "Angle", FormatExact(Record.Placement.Angle));
  ini.WriteString("Placement", "Zoom", FormatExact(Record.Placement.Zoom));
  ini.WriteString("Placement", "X", FormatExact(Record.Placement.X));
  ini.WriteString("Placement", "Y", FormatExact(Record.Placement.Y));
  ini.WriteString("View", "Mode", Record.Mode);
  ini.WriteString("View", "MatchColours", Record.MatchColours ? "1" : "0");
  // Earlier measures that are gone leave no points behind.
  {
    platform::TProfileFile old(Path);
    for (const std::string& section : old.SectionNames()) {
      if (section.rfind("Ruler", 0) != 0 && section.rfind("Outline", 0) != 0) continue;
      for (const std::string& key : old.KeyNames(section)) ini.DeleteKey(section, key);
    }
  }
  int rulers = 0, outlines = 0;
  for (const TMeasure& m : Record.Measures) {
    const std::string section = m.Kind == TMeasureKind::Ruler
                                    ? "Ruler" + std::to_string(++rulers)
                                    : "Outline" + std::to_string(++outlines);
    ini.WriteString(section, "Picture", std::to_string(m.Picture));
    if (!m.Name.empty()) ini.WriteString(section, "Name", Escaped(m.Name));
    ini.WriteString(section, "Points", PointsText(m.Points));
    if (m.Picture != 2) continue;
    if (m.Under) {
      // Not yet made picture 2's own (no picture 2 to do it with): kept with its placement.
      ini.WriteString(section, "Under",
                      PointsText({{m.Under->Angle, m.Under->Zoom}, {m.Under->X, m.Under->Y}}));
    } else {
      ini.WriteString(section, "Space", "2");
    }
  }
  ini.WriteString("Notes", "Text", Escaped(Record.Notes));
  // Kept once made, even by a writer that did not read it.
  if (!Record.StudyInstanceUid.empty()) {
    ini.WriteString("Dicom", "StudyInstanceUID", Record.StudyInstanceUid);
  }
  if (!Record.SentDigest.empty()) ini.WriteString("Dicom", "SentDigest", Record.SentDigest);
  const platform::TStatus saved = ini.Save();
  if (saved) return {};
  return platform::TStatus::Failure(Tr(RecordNotSavedText, Path + " (" + saved.Reason() + ")"));
}

platform::TStatus CheckRecordPictures(const TComparisonRecord& Record, const std::string& Sha1,
                                      const std::string& Sha2, int Orientation1, int Orientation2) {
  std::string differs;
  const auto note = [&](bool Same, const std::string& What) {
    if (!Same) differs += (differs.empty() ? "" : " ") + What;
  };
  note(Record.Sha1 == Sha1, Tr(RecordPictureDiffersText, "1"));
  note(Record.Sha2 == Sha2, Tr(RecordPictureDiffersText, "2"));
  if (Record.Sha1 == Sha1) {
    note(Record.Orientation1 == Orientation1, Tr(RecordOrientationDiffersText, "1"));
  }
  if (Record.Sha2 == Sha2) {
    note(Record.Orientation2 == Orientation2, Tr(RecordOrientationDiffersText, "2"));
  }
  if (differs.empty()) return {};
  return platform::TStatus::Failure(Tr(RecordOtherPicturesText, differs));
}

}  // namespace overlay
