// The comparison record: written and read back to the bit, measures that are gone stay gone, a
// damaged file is refused with the reason, and only the user can read what it names; the record
// session that finds, offers, applies and saves it, and the patient the pictures keep.
#include "overlay/comparison/comparison_record.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>

#include "overlay/align/auto_align.h"
#include "overlay/base/texts.h"
#include "overlay/comparison/record_session.h"
#include "overlay/output/report.h"
#include "overlay/scene/overlay_scene.h"
#include "platform/content_hash.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_pictures.h"

namespace overlay {
namespace {

namespace fs = std::filesystem;

TEST(ComparisonRecord, ReadsBackWhatWasWrittenAndRefusesADamagedFile) {
  const testsupport::TTempFolder dir("tessaly_record");
  std::ofstream(dir / "abc.txt") << "abc";
  const std::string sha = platform::Sha256OfFile(dir / "abc.txt");
  EXPECT_EQ(sha, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(platform::Sha256OfFile(dir / "gone.txt"), "");

  TComparisonRecord r;
  r.Picture1 = "/clinic/Müller; Jürgen/before.jpg";
  r.Picture2 = "/clinic/after = 2.jpg";
  r.Sha1 = sha;
  r.Sha2 = std::string(64, 'f');
  r.Placement = {9.92, 0.9650557041168213, 38.60304475495241, -0.1};
  r.Mode = "swipe";
  r.MatchColours = true;
  r.Measures = {{TMeasureKind::Ruler, 1, {{1.5, 2.25}, {300, 400}}, "Messstrecke 1"},
                {TMeasureKind::Outline, 2, {{0, 0}, {10, 0}, {10.125, 10}}, "N\u00e4vus = 2; \\a"},
                {TMeasureKind::Outline, 1, {{5, 5}, {6, 5}, {6, 6}, {5, 6}}, "Umriss 1"}};
  r.Notes = "grew at the edge\nsee C:\\photos";
  const std::string path = ComparisonRecordPath(r.Sha1, r.Sha2, dir.File("records/"));
  EXPECT_TRUE(WriteComparisonRecord(path, r));
  EXPECT_EQ(fs::status(path).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(fs::status(dir / "records").permissions() & fs::perms::all, fs::perms::owner_all);
  platform::TResult<TComparisonRecord> back = ReadComparisonRecord(path);
  ASSERT_TRUE(back) << back.Reason();
  EXPECT_EQ(back.Value(), r);

  // One outline fewer: the other is not read back from the file's leftovers.
  r.Measures.pop_back();
  EXPECT_TRUE(WriteComparisonRecord(path, r));
  back = ReadComparisonRecord(path);
  ASSERT_TRUE(back);
  EXPECT_EQ(back.Value().Measures, r.Measures);

  // The study of a DICOM export, in a record that had none: kept from then on, also by a writer
  // that never read it.
  r.StudyInstanceUid = "1.2.276.0.7230010.3.1.2.42";
  EXPECT_TRUE(WriteComparisonRecord(path, r));
  EXPECT_EQ(ReadComparisonRecord(path).Value(), r);
  TComparisonRecord unaware = r;
  unaware.StudyInstanceUid.clear();
  EXPECT_TRUE(WriteComparisonRecord(path, unaware));
  EXPECT_EQ(ReadComparisonRecord(path).Value().StudyInstanceUid, r.StudyInstanceUid);

  EXPECT_FALSE(ReadComparisonRecord(dir / "none.ini"));
  EXPECT_EQ(ReadComparisonRecord(dir / "none.ini").Reason(), "");
  const auto damaged = [&](const std::string& From, const std::string& To) {
    std::ifstream in(path);
    std::string text{std::istreambuf_iterator<char>(in), {}};
    text.replace(text.find(From), From.size(), To);
    std::ofstream(dir / "damaged.ini") << text;
    return ReadComparisonRecord(dir / "damaged.ini").Reason();
  };
  EXPECT_NE(damaged("Angle=9.92", "Angle=9,92").find("[Placement] Angle"), std::string::npos);
  EXPECT_NE(damaged("Mode=swipe", "Mode=<script>").find("[View] Mode"), std::string::npos);
  EXPECT_NE(damaged("Points=1.5 2.25;300 400", "Points=1.5 2.25").find("[Ruler1] Points"),
            std::string::npos);
  // A point no picture has, which measured "inf px"; an outline of more points than drawing
  // allows, which took half a minute to label at every paint.
  EXPECT_NE(damaged("Points=1.5 2.25", "Points=1.5 -1e308").find("[Ruler1] Points: a point"),
            std::string::npos);
  std::string many = "Points=0 0";
  for (std::size_t i = 1; i <= MaxMeasurePoints; ++i) many += ";" + std::to_string(i) + " 1";
  EXPECT_NE(damaged("Points=0 0", many).find("[Outline1] Points: more than 10000"),
            std::string::npos);
}

// Two small pictures of different contents, loaded in a scene, for the record session.
struct TSessionPair {
  testsupport::TTempFolder Dir{"tessaly_session"};
  TOverlayScene Scene;
  TMainController& C = Scene.Controller();
  std::string One = Dir / "one.bmp", Two = Dir / "two.bmp";
  TSessionPair() {
    raster::TBitmap32 b;
    testsupport::FillPattern(b, 64, 48, 1);
    b.SaveToFile(One);
    testsupport::FillPattern(b, 60, 40, 2);
    b.SaveToFile(Two);
    C.LoadBothImages(One, Two, [] {});
  }
  std::string Bytes(const std::string& Path) const {
    std::ifstream in(Path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
};

TEST(RecordSession, SavesEachChangeKeepsNotesWholeAndLeavesADeclinedRecordUntouched) {
  TSessionPair p;
  const std::string records = p.Dir / "records/";
  TRecordSession session(records);
  ASSERT_EQ(session.Open(p.C).Found, TRecordSession::TFound::None);
  ASSERT_TRUE(session.Keeps());
  // A change is saved by the next save, without anything else happening; X beyond its bar.
  p.C.PlacePrecisely({2.5, 1.25, 888.5, -4});
  session.Changed();
  std::string notes(10000, 'x');
  notes.replace(0, 3, "\" a");
  notes.replace(notes.size() - 4, 4, "b\" \t");
  notes.replace(5000, 6, "\"q\"\r\n\\");
  session.SetNotes(notes);
  ASSERT_TRUE(session.SaveIfChanged(p.C));
  ASSERT_TRUE(session.LastSaved());
  EXPECT_FALSE(session.Pending());
  // The status bar says when, while both pictures show.
  EXPECT_TRUE(std::regex_match(session.SaveStateText(true),
                               std::regex("Gespeichert um [0-2][0-9]:[0-5][0-9]:[0-6][0-9]")))
      << session.SaveStateText(true);
  EXPECT_EQ(session.SaveStateText(false), "");
  // Five saves and reads later, the notes are the same to the byte.
  for (int i = 0; i < 5; ++i) {
    TRecordSession again(records);
    ASSERT_EQ(again.Open(p.C).Found, TRecordSession::TFound::Offered);
    ASSERT_TRUE(again.Offer(p.C, [] { return true; }));
    EXPECT_EQ(again.Notes(), notes);
    again.Changed();
    ASSERT_TRUE(again.SaveIfChanged(p.C));
  }
  EXPECT_EQ(ReadComparisonRecord(session.Path()).Value().Placement,
            (TPrecisePlacement{2.5, 1.25, 888.5, -4}));

  // Declined: the file keeps every byte, and nothing of it plays a part.
  p.C.LoadBothImages(p.One, p.Two, [] {});
  p.C.SetMeasures({{TMeasureKind::Ruler, 1, {{1, 1}, {9, 9}}}});
  session.Changed();
  ASSERT_TRUE(session.SaveIfChanged(p.C));
  const std::string before = p.Bytes(session.Path());
  p.C.LoadBothImages(p.One, p.Two, [] {});
  TRecordSession declined(records);
  ASSERT_EQ(declined.Open(p.C).Found, TRecordSession::TFound::Offered);
  bool asked = false;
  EXPECT_FALSE(declined.Offer(p.C, [&] { return asked = true, false; }));
  EXPECT_TRUE(asked);
  EXPECT_FALSE(declined.Offer(p.C, [] { return true; }));  // once
  EXPECT_EQ(declined.SaveStateText(true), Tr(RecordNotKeptText));
  EXPECT_TRUE(declined.Notes().empty());
  EXPECT_TRUE(p.C.Measures().empty());
  p.C.PlacePrecisely({-7, 0.5, 1, 1});
  declined.Changed();
  EXPECT_TRUE(declined.SaveIfChanged(p.C));
  EXPECT_EQ(p.Bytes(session.Path()), before);

  // A record that cannot be written is told once, then quietly tried again at each change.
  std::ofstream(p.Dir / "not-a-folder") << "x";
  TRecordSession blocked(p.Dir / "not-a-folder/");
  ASSERT_EQ(blocked.Open(p.C).Found, TRecordSession::TFound::None);
  blocked.Changed();
  const platform::TStatus first = blocked.SaveIfChanged(p.C);
  EXPECT_FALSE(first);
  // The file and the system's own reason, as the writer gives them.
  EXPECT_EQ(first.Reason(),
            Tr(RecordNotSavedText, blocked.Path() + " (" + std::strerror(ENOTDIR) + ")"));
  const platform::TStatus again = blocked.SaveIfChanged(p.C);
  EXPECT_FALSE(again);
  EXPECT_EQ(again.Reason(), "");
  EXPECT_TRUE(blocked.Pending());
}

TEST(RecordSession, RefusesARecordOfOtherPicturesOrWithUnsoundValuesNamingWhy) {
  TSessionPair p;
  TRecordSession session(p.Dir / "records/");
  TComparisonRecord r;
  r.Sha1 = platform::Sha256OfFile(p.One);
  r.Sha2 = platform::Sha256OfFile(p.Two);
  const auto opened = [&](const TComparisonRecord& Record, const std::string& Text = {}) {
    EXPECT_TRUE(WriteComparisonRecord(p.Dir / "named.ini", Record));
    if (!Text.empty()) {
      std::string bytes = p.Bytes(p.Dir / "named.ini");
      const std::size_t eq = bytes.find(Text.substr(0, Text.find('=') + 1));
      bytes.replace(eq, bytes.find('\n', eq) - eq, Text);
      std::ofstream(p.Dir / "named.ini", std::ios::binary) << bytes;
    }
    return session.Open(p.C, p.Dir / "named.ini");
  };
  EXPECT_EQ(opened(r).Found, TRecordSession::TFound::Offered);
  TComparisonRecord other = r;
  other.Sha2 = std::string(64, 'a');
  EXPECT_NE(opened(other).Status.Reason().find(Tr(RecordPictureDiffersText, "2")),
            std::string::npos);
  TComparisonRecord turned = r;
  turned.Orientation1 = 6;
  EXPECT_NE(opened(turned).Status.Reason().find(Tr(RecordOrientationDiffersText, "1")),
            std::string::npos);
  const std::string longUid = "StudyInstanceUID=1.2.3.0" + std::string(108, '1');
  for (const auto& [text, key] : std::initializer_list<std::pair<std::string, std::string>>{
           {"Zoom=1e6", "[Placement] Zoom"},

           {"Zoom=1e300", "[Placement] Zoom"},
           {"X=1e308", "[Placement] X"},
           {"Angle=nan", "[Placement] Angle"},
           {"Sha1=../../etc", "[Pictures] Sha1"},
           {longUid, "[Dicom] StudyInstanceUID"},
           {"StudyInstanceUID=1.02.3", "[Dicom] StudyInstanceUID"}}) {
    TComparisonRecord withStudy = r;
    withStudy.StudyInstanceUid = "1.2.3";
    const TRecordSession::TOpened o = opened(withStudy, text);
    EXPECT_EQ(o.Found, TRecordSession::TFound::Refused) << text;
    EXPECT_NE(o.Status.Reason().find(key), std::string::npos) << text << ": " << o.Status.Reason();
  }
  EXPECT_FALSE(session.Keeps());
  // Within the range, a zoom may still ask for more than a bitmap holds.
  EXPECT_TRUE(PlacementFits({0, 3, 0, 0}, 6000, 4000));
  EXPECT_FALSE(PlacementFits({0, 99, 0, 0}, 6000, 4000));
  EXPECT_FALSE(PlacementFits({0, 0.011, 0, 0}, 60, 40));
}

TEST(ComparisonPatient, TheNamedPatientHoldsOnlyForTheNamedPictures) {
  TSessionPair p;
  TNamedComparison named;
  named.Picture1 = p.One;
  named.Picture2 = p.Dir / "./two.bmp";  // spelled otherwise, the same file
  named.Patient = {"Muster", "Erika", "12.08.1964", "P-1", TPatientSource::InterfaceFile};
  TRecordSession session(p.Dir / "records/");
  session.SetNamed(named);
  session.Open(p.C);
  EXPECT_EQ(session.Patient(), named.Patient);
  const auto caption = [&] { return session.Caption(p.C.ImageFile1(), p.C.ImageFile2()); };
  EXPECT_EQ(caption(), "Tessaly - [Muster, Erika  *12.08.1964]");
  fs::copy_file(p.Two, p.Dir / "other.bmp");
  ASSERT_TRUE(p.C.LoadImage2(p.Dir / "other.bmp"));  // the same contents, another file
  session.Open(p.C);
  EXPECT_FALSE(session.Patient().Known());
  EXPECT_EQ(caption(), "Tessaly");
  // A file that names nobody keeps its own caption while its pictures show.
  session.SetNamed({p.One, p.Dir / "other.bmp", {}});
  session.Open(p.C);
  EXPECT_EQ(caption(), std::nullopt);
  TReportFacts facts;
  SetReportPatient(facts, session.Patient());
  EXPECT_EQ(facts.Name, "");
  EXPECT_TRUE(facts.NoPatient);
}

TEST(ComparisonRecord, AnOldRecordsPicture2MeasuresKeepTheirValues) {
  // Written before measures had names and picture 2's points were its own: they are picture-1
  // coordinates under the record's placement, and outlines pair by their order.
  const testsupport::TTempFolder dir("tessaly_record_old");
  const TPrecisePlacement then{20, 1.25, 30.5, -10};
  const int w2 = 400, h2 = 300;
  std::string points;
  for (const auto& [x, y] : {std::pair{100, 50}, std::pair{300, 50}, std::pair{300, 250}}) {
    double x1, y1;
    PreciseMapping(then, w2, h2, x, y, &x1, &y1);
    points += (points.empty() ? "" : ";") + FormatExact(x1) + " " + FormatExact(y1);
  }
  std::ofstream(dir / "old.ini") << "[Pictures]\nSha1=" << std::string(64, 'a')
                                 << "\nSha2=" << std::string(64, 'b')
                                 << "\n[Placement]\nAngle=20\nZoom=1.25\nX=30.5\nY=-10\n"
                                    "[View]\nMode=blend\n"
                                    "[Outline1]\nPicture=1\nPoints=0 0;10 0;10 10\n"
                                    "[Outline2]\nPicture=2\nPoints="
                                 << points << "\n";
  platform::TResult<TComparisonRecord> old = ReadComparisonRecord(dir / "old.ini");
  ASSERT_TRUE(old) << old.Reason();
  std::vector<TMeasure> m = old.Value().Measures;
  ASSERT_EQ(m.size(), 2u);
  EXPECT_EQ(m[0].Name, "Umriss 1");
  EXPECT_EQ(m[1].Name, "Umriss 1");
  // Picture 2's 200 x 200 triangle, whatever the placement is now.
  TMeasureFrame now;
  now.Width2 = w2, now.Height2 = h2;
  now.Placement = {-4, 0.9, 0, 0};
  EXPECT_NEAR(Measure(m[1], now).Area, 20000.0, 1e-6);
  // Written again without picture 2 at hand, then once made picture 2's own: the same values.
  EXPECT_TRUE(WriteComparisonRecord(dir / "again.ini", old.Value()));
  const TComparisonRecord again = ReadComparisonRecord(dir / "again.ini").Value();
  EXPECT_EQ(again.Measures, m);
  m[1] = OwnPoints(m[1], now);
  TComparisonRecord own = again;
  own.Measures = m;
  own.Placement = now.Placement;
  EXPECT_TRUE(WriteComparisonRecord(dir / "own.ini", own));
  const TComparisonRecord back = ReadComparisonRecord(dir / "own.ini").Value();
  EXPECT_EQ(back.Measures, m);
  EXPECT_NEAR(Measure(back.Measures[1], now).Area, 20000.0, 1e-6);
}

}  // namespace
}  // namespace overlay
