// tessaly-dicom export on the sample pair with an interface file and a record, read back with
// DCMTK and checked by dcmdump and dciodvfy as an archive would take the objects in.
#include "overlay/programs/dicom_command.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmsr/dsrdoc.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "overlay/comparison/comparison_record.h"
#include "platform/content_hash.h"
#include "raster/bmp.h"
#include "tests/support/dicom_files.h"
#include "tests/support/temp_folder.h"

namespace overlay {
namespace {

namespace fs = std::filesystem;
using testsupport::TTempFolder;

const std::string Sample = std::string(TESSALY_SOURCE_DIR) + "/data/sample/";

int Dicom(const std::vector<std::string>& Args, std::string* Out, std::string* Err) {
  std::ostringstream out, err;
  const int status = RunDicomCommand(Args, out, err);
  *Out = out.str();
  *Err = err.str();
  return status;
}

// What a tool prints, standard error included.
std::string ToolOutput(const std::string& Command) {
  std::string text;
  if (FILE* pipe = ::popen((Command + " 2>&1").c_str(), "r")) {
    char buffer[4096];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) text += buffer;
    ::pclose(pipe);
  }
  return text;
}

// The lines of Text that begin with one of Marks.
std::string LinesStartingWith(const std::string& Text, std::initializer_list<const char*> Marks) {
  std::istringstream lines(Text);
  std::string found;
  for (std::string line; std::getline(lines, line);) {
    for (const char* mark : Marks) {
      if (line.rfind(mark, 0) == 0) found += line + "\n";
    }
  }
  return found;
}

std::string Text(DcmItem& Data, const DcmTagKey& Tag) {
  OFString value;
  Data.findAndGetOFStringArray(Tag, value);
  return value.c_str();
}

struct TExported {
  std::string Path, SopClass, Modality, Study, Series, PatientName, BirthDate, PatientId,
      PixelSpacing, Instance;
};

// Every object in Folder; the report's texts, and the instances it refers to.
std::vector<TExported> ReadFolder(const std::string& Folder, std::string* ReportTexts,
                                  std::set<std::string>* Referenced = nullptr) {
  std::vector<TExported> objects;
  for (const auto& entry : fs::directory_iterator(Folder)) {
    DcmFileFormat file;
    EXPECT_TRUE(file.loadFile(entry.path().c_str()).good()) << entry.path();
    DcmDataset& data = *file.getDataset();
    objects.push_back({entry.path().string(), Text(data, DCM_SOPClassUID), Text(data, DCM_Modality),
                       Text(data, DCM_StudyInstanceUID), Text(data, DCM_SeriesInstanceUID),
                       Text(data, DCM_PatientName), Text(data, DCM_PatientBirthDate),
                       Text(data, DCM_PatientID), Text(data, DCM_PixelSpacing),
                       Text(data, DCM_SOPInstanceUID)});
    if (objects.back().Modality == "SR") {
      DSRDocument report;
      EXPECT_TRUE(report.read(data).good());
      DSRDocumentTree& tree = report.getTree();
      if (tree.gotoRoot() > 0) {
        do {
          DSRContentItem& item = tree.getCurrentContentItem();
          if (item.getValueType() == DSRTypes::VT_Image && Referenced != nullptr) {
            Referenced->insert(item.getImageReference().getSOPInstanceUID().c_str());
          }
          *ReportTexts += item.getStringValue().c_str();
          *ReportTexts += "\n";
        } while (tree.iterate() > 0);
      }
    }
  }
  return objects;
}

TEST(DicomCommand, ExportsTheComparisonIntoOneStudyTheRecordKeeps) {
  TTempFolder dir;
  fs::copy_file(Sample + "NT96650_pcb_002.JPG", dir / "visit1.jpg");
  fs::copy_file(Sample + "NT96650_pcb_004.JPG", dir / "visit2.jpg");
  std::ofstream(dir / "interface.ini") << "[General]\nCount=2\n"
                                       << "[Subject0]\nName=Müller\nFirstName=Jürgen\n"
                                       << "BirthDate=12.08.1964\n"
                                       << "[Image0]\nImage=visit1.jpg\nPp100MM=2000\n"
                                       << "[Subject1]\nName=Müller\n"
                                       << "[Image1]\nImage=visit2.jpg\nPp100MM=1000\n"
                                       << "[Additional]\nAdd0Name=PatientID\nAdd0Value=P-4711\n";
  TComparisonRecord record;
  record.Sha1 = platform::Sha256OfFile(dir / "visit1.jpg");
  record.Sha2 = platform::Sha256OfFile(dir / "visit2.jpg");
  record.Placement = {0, 1.01, 0, 0};
  const std::vector<TMeasurePoint> square{{0, 0}, {1000, 0}, {1000, 1000}, {0, 1000}};
  record.Measures = {{TMeasureKind::Outline, 1, square, "Outline 1"},
                     {TMeasureKind::Outline, 2, square, "Outline 1"}};
  EXPECT_TRUE(WriteComparisonRecord(dir / "record.ini", record));

  const std::string language = std::string(TESSALY_SOURCE_DIR) + "/data/lang/en/TsLang.ini";
  std::string out, err;
  ASSERT_EQ(Dicom({"export", "--record", dir / "record.ini", "--count", "2", "--language", language,
                   dir / "interface.ini", dir / "first"},
                  &out, &err),
            0)
      << err;
  EXPECT_NE(out.find("object 4 of 5: capture (Secondary Capture Image), Opacity 100 %"),
            std::string::npos)
      << out;
  EXPECT_EQ(fs::status(dir / "first").permissions() & fs::perms::all, fs::perms(0700));

  std::string reportTexts;
  std::set<std::string> referenced, images;
  const std::vector<TExported> objects = ReadFolder(dir / "first", &reportTexts, &referenced);
  ASSERT_EQ(objects.size(), 5u);
  std::map<std::string, int> classes;
  std::set<std::string> studies, imageSeries, reportSeries;
  for (const TExported& o : objects) {
    ++classes[o.SopClass];
    studies.insert(o.Study);
    (o.Modality == "SR" ? reportSeries : imageSeries).insert(o.Series);
    EXPECT_EQ(o.PatientName, "Müller^Jürgen") << o.Path;
    EXPECT_EQ(o.BirthDate, "19640812") << o.Path;
    EXPECT_EQ(o.PatientId, "P-4711") << o.Path;
    EXPECT_EQ(fs::status(o.Path).permissions() & fs::perms::all, fs::perms(0600)) << o.Path;
    EXPECT_EQ(o.Path.find("ller"), std::string::npos) << o.Path;
    if (o.Modality != "SR") {
      images.insert(o.Instance);
      EXPECT_EQ(o.Modality, "XC") << o.Path;
      // 2000 pixels per 100 mm: 0.05 mm apart.
      EXPECT_EQ(o.PixelSpacing, "0.05\\0.05") << o.Path;
    }
    // The archive's view: dcmdump reads every object without a complaint, and the IOD check
    // finds no error.
    const std::string dump = ToolOutput("dcmdump '" + o.Path + "'");
    EXPECT_NE(dump.find("# Dicom-Data-Set"), std::string::npos) << dump;  // it did read it
    EXPECT_EQ(LinesStartingWith(dump, {"E:", "F:"}), "") << o.Path;
    EXPECT_EQ(dump.find("rror"), std::string::npos) << o.Path;
    const std::string check = ToolOutput("dciodvfy '" + o.Path + "'");
    // The IOD it checked against, on a line of its own.
    const char* iod = o.Modality == "SR"                          ? "BasicTextSR\n"
                      : o.SopClass == "1.2.840.10008.5.1.4.1.1.7" ? "SCImage\n"
                                                                  : "VLPhotographicImage\n";
    EXPECT_NE(check.find(iod), std::string::npos) << check;
    EXPECT_EQ(LinesStartingWith(check, {"Error"}), "") << o.Path << "\n" << check;
  }
  EXPECT_EQ(classes["1.2.840.10008.5.1.4.1.1.77.1.4"], 2);  // VL Photographic Image
  EXPECT_EQ(classes["1.2.840.10008.5.1.4.1.1.7"], 2);       // Secondary Capture
  EXPECT_EQ(classes["1.2.840.10008.5.1.4.1.1.88.11"], 1);   // Basic Text SR
  ASSERT_EQ(studies.size(), 1u);
  EXPECT_EQ(imageSeries.size(), 1u);
  EXPECT_EQ(reportSeries.size(), 1u);
  EXPECT_NE(*imageSeries.begin(), *reportSeries.begin());
  EXPECT_EQ(referenced, images);  // the report links every picture and capture
  // Picture 1's square at 20 pixels per mm; picture 2's in its own pixels at 10, whatever the
  // placement.
  for (const std::string expected : {"Outline 1, Picture 1: Length 70.7 mm, Area 2500.0 mm²",
                                     "Outline 1, Picture 2: Length 141.4 mm, Area 10000.0 mm²",
                                     "Outline 1, Change: +7500.0 mm² (+300.0 %)"}) {
    EXPECT_NE(reportTexts.find(expected), std::string::npos) << expected << "\n" << reportTexts;
  }

  // The study is kept in the record, and the next export goes into it, in a series of its own.
  platform::TResult<TComparisonRecord> kept = ReadComparisonRecord(dir / "record.ini");
  ASSERT_TRUE(kept);
  EXPECT_EQ(kept.Value().StudyInstanceUid, *studies.begin());
  EXPECT_EQ(kept.Value().Measures, record.Measures);
  ASSERT_EQ(Dicom({"export", "--record", dir / "record.ini", "--count", "0", dir / "interface.ini",
                   dir / "second"},
                  &out, &err),
            0)
      << err;
  std::string secondTexts;
  const std::vector<TExported> second = ReadFolder(dir / "second", &secondTexts);
  ASSERT_EQ(second.size(), 3u);
  for (const TExported& o : second) {
    EXPECT_EQ(o.Study, *studies.begin()) << o.Path;
    EXPECT_FALSE(imageSeries.count(o.Series) || reportSeries.count(o.Series)) << o.Path;
  }

  // Drawn as the swipe, the captures are the print's of it: the swipe and each picture alone.
  TComparisonRecord swipe = kept.Value();
  swipe.Mode = "swipe";
  EXPECT_TRUE(WriteComparisonRecord(dir / "record.ini", swipe));
  ASSERT_EQ(Dicom({"export", "--record", dir / "record.ini", "--count", "5", "--language", language,
                   dir / "interface.ini", dir / "third"},
                  &out, &err),
            0)
      << err;
  for (const char* capture : {"object 3 of 6: capture (Secondary Capture Image), Swipe\n",
                              "object 5 of 6: capture (Secondary Capture Image), Picture 2\n"}) {
    EXPECT_NE(out.find(capture), std::string::npos) << out;
  }
}

TEST(DicomCommand, RefusesWhatItCannotUse) {
  TTempFolder dir;
  std::string out, err;
  EXPECT_EQ(Dicom({}, &out, &err), 2);
  EXPECT_EQ(Dicom({"fetch"}, &out, &err), 2);
  EXPECT_EQ(Dicom({"export", dir / "only-one"}, &out, &err), 2);
  EXPECT_EQ(Dicom({"export", "--count", "101", "a.ini", dir / "r"}, &out, &err), 2);
  // A scale whose densities would overflow.
  EXPECT_EQ(Dicom({"export", "--pp100mm", "2000,1000001", "a.ini", dir / "r"}, &out, &err), 2);
  EXPECT_NE(err.find("--pp100mm needs"), std::string::npos) << err;
  // A folder others may look into is not taken for a patient's pictures.
  fs::create_directory(dir / "open");
  fs::permissions(dir / "open", fs::perms(0755));
  std::ofstream(dir / "interface.ini")
      << "[General]\nCount=2\n[Subject0]\nName=Roe\n[Image0]\nImage=" << Sample
      << "NT96650_pcb_002.JPG\n[Subject1]\nName=Roe\n[Image1]\nImage=" << Sample
      << "NT96650_pcb_004.JPG\n[Additional]\nAdd0Name=PatientID\nAdd0Value=A-1\n";
  EXPECT_EQ(Dicom({"export", dir / "interface.ini", dir / "open"}, &out, &err), 1);
  EXPECT_NE(err.find("not yours alone"), std::string::npos) << err;
  EXPECT_TRUE(fs::is_empty(dir / "open"));

  // A record of other pictures, or one whose placement no slider reaches, is refused, naming
  // why, before anything is written.
  TComparisonRecord other;
  other.Sha1 = platform::Sha256OfFile(Sample + "NT96650_pcb_004.JPG");
  other.Sha2 = platform::Sha256OfFile(Sample + "NT96650_pcb_002.JPG");
  EXPECT_TRUE(WriteComparisonRecord(dir / "other.ini", other));
  TComparisonRecord far = other;
  std::swap(far.Sha1, far.Sha2);
  EXPECT_TRUE(WriteComparisonRecord(dir / "far.ini", far));
  {
    std::ifstream in(dir / "far.ini");
    std::string text{std::istreambuf_iterator<char>(in), {}};
    text.replace(text.find("Zoom=1"), 6, "Zoom=1e6");
    std::ofstream(dir / "far.ini") << text;
  }
  for (const auto& [record, why] : {std::pair{"other.ini", "Picture 1 has other contents"},
                                    std::pair{"far.ini", "[Placement] Zoom"}}) {
    err.clear();
    EXPECT_EQ(
        Dicom({"export", "--record", dir / record, "--language",
               std::string(TESSALY_SOURCE_DIR) + "/data/lang/en/TsLang.ini",
               Sample + "NT96650_pcb_002.JPG", Sample + "NT96650_pcb_004.JPG", dir / "refused"},
              &out, &err),
        1);
    EXPECT_NE(err.find(why), std::string::npos) << err;
    EXPECT_FALSE(fs::exists(dir / "refused"));
  }

  // A pair the import takes whose full-resolution scene no bitmap can hold: refused before any
  // file is made.
  raster::TBitmap32 wide;
  wide.SetSize(16'000'000, 1);
  std::ofstream bmp(dir / "wide.bmp", std::ios::binary);
  raster::bmp::Encode(wide, bmp);
  bmp.close();
  std::ofstream(dir / "wide.ini")
      << "[General]\nCount=2\n[Subject0]\nName=Roe\n[Image0]\nImage=wide.bmp\n[Image1]\n"
      << "Image=wide.bmp\n[Additional]\nAdd0Name=PatientID\nAdd0Value=A-1\n";
  EXPECT_EQ(Dicom({"export", dir / "wide.ini", dir / "r"}, &out, &err), 1);
  EXPECT_NE(err.find("wide.bmp\nmore than 65535 rows or columns"), std::string::npos) << err;
  EXPECT_FALSE(fs::exists(dir / "r"));
}

// Picture 1 a DICOM photograph of Jane Roe (ID A-1) 0.7 mm apart, picture 2 a JPEG, in Dir;
// an interface file of those two with the patient lines Patient; a record that places them.
void MakeDicomPair(const TTempFolder& Dir, const std::string& Patient) {
  const std::string dicom = Dir / "jane.dcm";
  testsupport::MakeDicomWithTools(*testsupport::SampleCrop(200, 150), dicom, "0.7\\0.7",
                                  "1.2.826.0.1.3680043.2.1143.77");
  testsupport::RunDicomTool("dcmodify -nb -i \"(0010,0010)=Roe^Jane\" -i \"(0010,0020)=A-1\" " +
                            dicom);
  fs::copy_file(Sample + "NT96650_pcb_004.JPG", Dir / "photo.jpe",
                fs::copy_options::overwrite_existing);
  std::ofstream(Dir / "interface.ini")
      << "[General]\nCount=2\n[Subject0]\n"
      << Patient << "\n[Image0]\nImage=" << dicom
      << "\n[Subject1]\nName=Roe\n[Image1]\nImage=" << (Dir / "photo.jpe") << "\n";
  TComparisonRecord record;
  record.Sha1 = platform::Sha256OfFile(dicom);
  record.Sha2 = platform::Sha256OfFile(Dir / "photo.jpe");
  record.Placement = {0, 0.1, 0, 0};
  EXPECT_TRUE(WriteComparisonRecord(Dir / "record.ini", record));
}

// A patient DICOM does not take, none at all, or another than picture 1's is refused before
// anything is written, the folder included; the refusal names the field, or both patients.
TEST(DicomCommand, RefusesAPatientThatIsNoneOrNotThePictures) {
  const TTempFolder dir;
  const std::string id = "[Additional]\nAdd0Name=PatientID\nAdd0Value=";
  const struct {
    std::string Patient;
    std::vector<std::string> Said;
  } cases[] = {
      {"Name=Doe\nFirstName=John\n" + id + "B-2",
       {"picture 1 belongs to another patient", "Roe^Jane, ID A-1", "Doe^John, ID B-2",
        "Patient ID, Patient's Name"}},
      {"Name=Roe\nFirstName=Jane\n" + id + "A123\\B456", {"Patient ID: ", "A123\\B456"}},
      {"Name=Roe\nFirstName=Jane\n", {"no patient"}},
      {"Name=Roe\nFirstName=Jane\n" + id + "   ", {"no patient"}},
      {"Name=Roe\nFirstName=Jane\n" + id + std::string(200, '1'), {"Patient ID: "}},
      {"Name=" + std::string(300, 'R') + "\n" + id + "A-1", {"Patient's Name: "}},
      {"Name=Ro" + std::string(1, '\x01') + "e\n" + id + "A-1", {"Patient's Name: ", "Ro\\x01e"}},
  };
  for (const auto& c : cases) {
    MakeDicomPair(dir, c.Patient);
    std::string out, err;
    EXPECT_EQ(Dicom({"export", "--record", dir / "record.ini", dir / "interface.ini", dir / "out"},
                    &out, &err),
              1)
        << c.Patient;
    for (const std::string& said : c.Said) {
      EXPECT_NE(err.find(said), std::string::npos) << said << "\n" << err;
    }
    EXPECT_FALSE(fs::exists(dir / "out")) << c.Patient;
  }
}

// Picture 1's patient and study, its spacing exactly as it gave it and where it came from, and
// each picture's lossy compression by what it is (the JPEG named .jpe, the uncompressed DICOM
// file); the patient ID's key in any case.
TEST(DicomCommand, ExportsTheDicomPicturesOwnSpacingPatientAndCompression) {
  const TTempFolder dir;
  MakeDicomPair(dir, "Name=Roe\nFirstName=Jane\n[Additional]\nAdd0Name=patientid\nAdd0Value=A-1");
  std::string out, err;
  ASSERT_EQ(Dicom({"export", "--record", dir / "record.ini", "--count", "1", dir / "interface.ini",
                   dir / "out"},
                  &out, &err),
            0)
      << err;
  std::map<std::string, std::string> lossy;  // by instance number
  int objects = 0;
  for (const auto& entry : fs::directory_iterator(dir / "out")) {
    DcmFileFormat file;
    ASSERT_TRUE(file.loadFile(entry.path().c_str()).good());
    DcmDataset& data = *file.getDataset();
    ++objects;
    EXPECT_EQ(Text(data, DCM_PatientID), "A-1");
    EXPECT_EQ(Text(data, DCM_PatientName), "Roe^Jane");
    EXPECT_EQ(Text(data, DCM_StudyInstanceUID), "1.2.826.0.1.3680043.2.1143.77");
    EXPECT_EQ(Text(data, DCM_PixelSpacing), "0.7\\0.7");
    lossy[Text(data, DCM_InstanceNumber)] =
        Text(data, DCM_LossyImageCompression) + " " + Text(data, DCM_LossyImageCompressionMethod);
    if (Text(data, DCM_SOPClassUID) == "1.2.840.10008.5.1.4.1.1.7") {
      EXPECT_EQ(Text(data, DCM_PixelSpacingCalibrationDescription),
                "From the DICOM picture's Pixel Spacing");
    }
  }
  EXPECT_EQ(objects, 3);
  EXPECT_EQ(lossy, (std::map<std::string, std::string>{
                       {"1", "00 "}, {"2", "01 ISO_10918_1"}, {"3", "01 ISO_10918_1"}}));
}

}  // namespace
}  // namespace overlay
