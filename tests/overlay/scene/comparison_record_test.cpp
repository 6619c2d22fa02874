// The comparison record: written and read back to the bit, measures that are gone stay gone, a
// damaged file is refused with the reason, and only the user can read what it names.
#include "overlay/scene/comparison_record.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "overlay/scene/auto_align.h"
#include "platform/content_hash.h"
#include "tests/support/temp_folder.h"

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
  WriteComparisonRecord(path, r);
  EXPECT_EQ(fs::status(path).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(fs::status(dir / "records").permissions() & fs::perms::all, fs::perms::owner_all);
  platform::TResult<TComparisonRecord> back = ReadComparisonRecord(path);
  ASSERT_TRUE(back) << back.Reason();
  EXPECT_EQ(back.Value(), r);

  // One outline fewer: the other is not read back from the file's leftovers.
  r.Measures.pop_back();
  WriteComparisonRecord(path, r);
  back = ReadComparisonRecord(path);
  ASSERT_TRUE(back);
  EXPECT_EQ(back.Value().Measures, r.Measures);

  // The study of a DICOM export, in a record that had none: kept from then on, also by a writer
  // that never read it.
  r.StudyInstanceUid = "1.2.276.0.7230010.3.1.2.42";
  WriteComparisonRecord(path, r);
  EXPECT_EQ(ReadComparisonRecord(path).Value(), r);
  TComparisonRecord unaware = r;
  unaware.StudyInstanceUid.clear();
  WriteComparisonRecord(path, unaware);
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
  WriteComparisonRecord(dir / "again.ini", old.Value());
  const TComparisonRecord again = ReadComparisonRecord(dir / "again.ini").Value();
  EXPECT_EQ(again.Measures, m);
  m[1] = OwnPoints(m[1], now);
  TComparisonRecord own = again;
  own.Measures = m;
  own.Placement = now.Placement;
  WriteComparisonRecord(dir / "own.ini", own);
  const TComparisonRecord back = ReadComparisonRecord(dir / "own.ini").Value();
  EXPECT_EQ(back.Measures, m);
  EXPECT_NEAR(Measure(back.Measures[1], now).Area, 20000.0, 1e-6);
}

}  // namespace
}  // namespace overlay
