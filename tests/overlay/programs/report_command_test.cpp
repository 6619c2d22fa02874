// tessaly-report on an interface file and a record, as a script runs it: the page tells the
// patient, the pictures, the placement and the measures, and names only pictures of this run.
#include "overlay/programs/report_command.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <exiv2/exiv2.hpp>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "overlay/comparison/comparison_record.h"
#include "platform/content_hash.h"
#include "raster/bmp.h"
#include "tests/support/temp_folder.h"

namespace overlay {
namespace {

namespace fs = std::filesystem;
using testsupport::TTempFolder;

const std::string Sample = std::string(TESSALY_SOURCE_DIR) + "/data/sample/";

int Report(const std::vector<std::string>& Args, std::string* Out, std::string* Err) {
  std::ostringstream out, err;
  const int status = RunReportCommand(Args, out, err);
  *Out = out.str();
  *Err = err.str();
  return status;
}

std::string ReadFile(const std::string& Path) {
  std::ifstream in(Path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(ReportCommand, WritesThePageOfTheRecordWithEverythingItNamesFromThisRun) {
  TTempFolder dir;
  // The pictures under other names than the record's, as a calling application keeps them.
  fs::copy_file(Sample + "NT96650_pcb_002.JPG", dir / "visit1.jpg");
  fs::copy_file(Sample + "NT96650_pcb_004.JPG", dir / "visit2.jpg");
  std::ofstream(dir / "interface.ini")
      << "[General]\nCount=2\n"
      << "[Subject0]\nName=O'Neil <Tom> & \"Jerry\"\n"
      << "FirstName=Ann\nBirthDate=01.02.1950\n"
      << "[Image0]\nImage=" << (dir / "visit1.jpg") << "\nPp100MM=2000\n"
      << "[Subject1]\nName=X\n[Image1]\nImage=" << (dir / "visit2.jpg") << "\nPp100MM=1000\n";
  TComparisonRecord record;
  record.Sha1 = platform::Sha256OfFile(dir / "visit1.jpg");
  record.Sha2 = platform::Sha256OfFile(dir / "visit2.jpg");
  record.Placement = {1.5, 1.01, 3.4, -2.5};
  record.Mode = "difference";
  const std::vector<TMeasurePoint> square{{0, 0}, {1000, 0}, {1000, 1000}, {0, 1000}};
  record.Measures = {{TMeasureKind::Outline, 1, square, "Outline 1"},
                     {TMeasureKind::Outline, 2, square, "Outline 1"}};
  EXPECT_TRUE(WriteComparisonRecord(dir / "record.ini", record));
  // Relative, as a script in its own folder gives it: the page's addresses are still whole paths.
  const std::string out = fs::relative(dir / "report", fs::current_path());
  const auto started = fs::file_time_type::clock::now() - std::chrono::seconds(1);

  std::string stdOut, stdErr;
  ASSERT_EQ(Report({"--record", dir / "record.ini", "--count", "3", "--template",
                    std::string(TESSALY_SOURCE_DIR) + "/data/output.html", "--language",
                    std::string(TESSALY_SOURCE_DIR) + "/data/lang/en/TsLang.ini",
                    dir / "interface.ini", out},
                   &stdOut, &stdErr),
            0)
      << stdErr;
  // The record draws the difference: the captures show it and each picture alone.
  EXPECT_NE(stdOut.find("capture 1 of 3: Difference ->"), std::string::npos) << stdOut;
  EXPECT_NE(stdOut.find("capture 3 of 3: Picture 2 ->"), std::string::npos) << stdOut;

  const std::string page = ReadFile(out + "/output.html");
  for (const std::string& expected :
       {std::string("O&apos;Neil &lt;Tom&gt; &amp; &quot;Jerry&quot;, Ann, * 01.02.1950"),
        std::string("visit1.jpg &middot; 2015-06-06 00:05"), std::string("visit2.jpg &middot; "),
        std::string("Angle 1.50°, Zoom 1.0100, X 3.4 px, Y -2.5 px"),
        std::string(">Colour matching<"),
        // 1000 pixels of picture 1 at 20 per mm; picture 2's square, in its own pixels, at 10
        // per mm whatever the placement.
        std::string("<td>Outline 1</td><td>Picture 1</td><td>70.7 mm</td><td>2500.0 mm²</td>"),
        std::string("<td>Outline 1</td><td>Picture 2</td><td>141.4 mm</td><td>10000.0 mm²</td>"
                    "<td>+7500.0 mm² (+300.0 %)</td>"),
        std::string("Capture 1 &middot; Difference"), std::string("Capture 3 &middot; Picture 2"),
        std::string("in the mode &quot;Difference&quot;")}) {
    EXPECT_NE(page.find(expected), std::string::npos) << expected << "\n" << page;
  }
  EXPECT_EQ(page.find("<Tom>"), std::string::npos);
  // Every picture the page names is in the folder, private, and from this run.
  constexpr std::string_view Source = "src=\"file://";
  int named = 0;
  for (std::size_t at = page.find(Source); at != std::string::npos; at = page.find(Source, at)) {
    at += Source.size();
    const std::string path = page.substr(at, page.find('"', at) - at);
    EXPECT_EQ(path.front(), '/') << path;
    if (fs::exists(path)) {
      ++named;
      EXPECT_GE(fs::last_write_time(path), started) << path;
      EXPECT_EQ(fs::status(path).permissions() & fs::perms::all, fs::perms(0600)) << path;
    }
  }
  EXPECT_EQ(named, 3);
}

TEST(ReportCommand, OnlyAddsFilesToTheUsersFolder) {
  // The photographs bear the names of a report's captures, beside an earlier page: whatever the
  // count, nothing is deleted or replaced, and the refusal names what is in the way.
  TTempFolder dir;
  fs::copy_file(Sample + "NT96650_pcb_002.JPG", dir / "image1.jpg");
  fs::copy_file(Sample + "NT96650_pcb_004.JPG", dir / "test0.jpg");
  std::ofstream(dir / "output.html") << "an earlier page";
  const std::string before1 = ReadFile(dir / "image1.jpg"), before2 = ReadFile(dir / "test0.jpg");
  for (const std::string count : {"0", "3"}) {
    std::string out, err;
    EXPECT_EQ(Report({"--count", count, "--template",
                      std::string(TESSALY_SOURCE_DIR) + "/data/output.html", dir / "image1.jpg",
                      dir / "test0.jpg", dir.Path().string()},
                     &out, &err),
              1)
        << count;
    EXPECT_NE(err.find("(image1.jpg, output.html, test0.jpg)"), std::string::npos) << err;
    EXPECT_EQ(ReadFile(dir / "image1.jpg"), before1);
    EXPECT_EQ(ReadFile(dir / "test0.jpg"), before2);
    EXPECT_EQ(ReadFile(dir / "output.html"), "an earlier page");
  }
}

TEST(ReportCommand, RefusesWhatItCannotUse) {
  TTempFolder dir;
  std::string out, err;
  EXPECT_EQ(Report({dir / "only-one"}, &out, &err), 2);
  EXPECT_EQ(Report({"--count", "101", "a.ini", dir / "r"}, &out, &err), 2);
  std::ofstream(dir / "damaged.ini") << "[Placement]\nAngle=left\n";
  EXPECT_EQ(Report({"--record", dir / "damaged.ini", "--template",
                    std::string(TESSALY_SOURCE_DIR) + "/data/output.html",
                    Sample + "NT96650_pcb_002.JPG", Sample + "NT96650_pcb_004.JPG", dir / "r"},
                   &out, &err),
            1);
  EXPECT_NE(err.find("damaged.ini"), std::string::npos) << err;
  EXPECT_FALSE(fs::exists(dir / "r/output.html"));
  // A pair the import takes whose full-resolution scene no bitmap can hold.
  raster::TBitmap32 wide;
  wide.SetSize(16'000'000, 1);
  std::ofstream bmp(dir / "wide.bmp", std::ios::binary);
  raster::bmp::Encode(wide, bmp);
  bmp.close();
  EXPECT_EQ(Report({"--template", std::string(TESSALY_SOURCE_DIR) + "/data/output.html",
                    dir / "wide.bmp", dir / "wide.bmp", dir / "r"},
                   &out, &err),
            1);
  EXPECT_NE(err.find("too large for a full-resolution capture: 16000000 x 1"), std::string::npos)
      << err;
  EXPECT_FALSE(fs::exists(dir / "r/output.html"));
}

TEST(ReportCommand, LoadsThePicturesTurnedAsTheirRecordWasMade) {
  TTempFolder dir;
  // A portrait phone photo: stored 59 x 100, shown upright 100 x 59.
  const std::string photo = dir / "portrait.jpg";
  fs::copy_file(std::string(TESSALY_TESTDATA) + "/photos-exif/Fujifilm_FinePix_E500.jpg", photo);
  {
    auto image = Exiv2::ImageFactory::open(photo);
    image->readMetadata();
    image->exifData()["Exif.Image.Orientation"] = std::uint16_t(6);
    image->writeMetadata();
  }
  fs::copy_file(photo, dir / "retake.jpg");
  std::ofstream(dir / "retake.jpg", std::ios::app) << "trailing bytes: other contents";
  TComparisonRecord record;
  record.Sha1 = platform::Sha256OfFile(photo);
  record.Sha2 = platform::Sha256OfFile(dir / "retake.jpg");
  record.Orientation1 = record.Orientation2 = 6;
  EXPECT_TRUE(WriteComparisonRecord(dir / "record.ini", record));
  std::string out, err;
  const std::string page = std::string(TESSALY_SOURCE_DIR) + "/data/output.html";
  ASSERT_EQ(Report({"--record", dir / "record.ini", "--count", "1", "--template", page, photo,
                    dir / "retake.jpg", dir / "page"},
                   &out, &err),
            0)
      << err;
  EXPECT_NE(out.find("portrait.jpg (100 x 59)"), std::string::npos) << out;
  EXPECT_NE(out.find("retake.jpg (100 x 59)"), std::string::npos) << out;
  // A record of the pictures as stored is not applied to them turned, nor the other way round.
  record.Orientation2 = 1;
  EXPECT_TRUE(WriteComparisonRecord(dir / "record.ini", record));
  EXPECT_EQ(Report({"--record", dir / "record.ini", "--template", page, "--language",
                    std::string(TESSALY_SOURCE_DIR) + "/data/lang/en/TsLang.ini", photo,
                    dir / "retake.jpg", dir / "page2"},
                   &out, &err),
            1);
  EXPECT_NE(err.find("Picture 2 is turned another way"), std::string::npos) << err;
}

}  // namespace
}  // namespace overlay
