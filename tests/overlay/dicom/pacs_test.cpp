// The PACS client and its outbox against a real Orthanc of the test's own, through the command
// the DICOM program runs.
#include "overlay/dicom/pacs.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

// clang-format off
#include <dcmtk/config/osconfig.h>  // first, as the toolkit's headers expect
// clang-format on
#include <dcmtk/dcmdata/dcuid.h>
#include <dcmtk/dcmnet/assoc.h>
#include <dcmtk/dcmnet/dimse.h>
#include <sys/wait.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <atomic>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <set>
#include <sstream>
#include <thread>

#include "overlay/base/texts.h"
#include "overlay/comparison/comparison_record.h"
#include "overlay/dicom/outbox.h"
#include "overlay/programs/dicom_command.h"
#include "overlay/programs/pacs_command.h"
#include "platform/content_hash.h"
#include "tests/support/orthanc.h"
#include "tests/support/scripted_pacs.h"
#include "tests/support/temp_folder.h"

namespace overlay {
namespace {

constexpr const char* VlPhotographic = "1.2.840.10008.5.1.4.1.1.77.1.4";
constexpr const char* SecondaryCapture = "1.2.840.10008.5.1.4.1.1.7";
constexpr const char* StudyUid = "1.2.826.0.1.3680043.9.7777.4242";

// A photograph made a DICOM object by img2dcm (VL Photographic or Secondary Capture), the
// patient, the study and the pixel spacing set by dcmodify. Empty when a tool failed.
std::string MakeObject(const testsupport::TTempFolder& Folder, const std::string& Name,
                       bool VlPhoto) {
  const std::string path = Folder / Name;
  const std::string picture = std::string(TESSALY_TESTDATA) + "/formats/jpeg/hopper.jpg";
  const std::string make = std::string("img2dcm ") + (VlPhoto ? "-vlp " : "-sc ") + picture + " " +
                           path + " >/dev/null 2>&1";
  const std::string modify = std::string("dcmodify -nb -i 'SpecificCharacterSet=ISO_IR 192' ") +
                             "-i 'PatientName=Müller^Anna' -i 'PatientBirthDate=19700102' " +
                             "-i 'PixelSpacing=0.1\\0.1' -i 'StudyInstanceUID=" + StudyUid + "' " +
                             path + " >/dev/null 2>&1";
  return std::system(make.c_str()) == 0 && std::system(modify.c_str()) == 0 ? path : "";
}

QJsonValue Json(const testsupport::TOrthanc& Orthanc, const std::string& Path) {
  const QJsonDocument d = QJsonDocument::fromJson(QByteArray::fromStdString(Orthanc.Get(Path)));
  return d.isArray() ? QJsonValue(d.array()) : QJsonValue(d.object());
}

struct TRun {
  int Status;
  std::string Out, Err;
};

class PacsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The user's outbox lies in the test's data folder.
    ::setenv("XDG_DATA_HOME", (FHome / "data").c_str(), 1);
    ASSERT_TRUE(FOrthanc.Start()) << FOrthanc.Log();
    WriteConfig(FOrthanc.DicomPort(), 5);
  }
  void WriteConfig(int Port, int Timeout) {
    std::ofstream(FConfig) << "[PACS]\nCallingAE=TESSALY\nCalledAE=" << FOrthanc.Aet
                           << "\nHost=127.0.0.1\nPort=" << Port << "\nTimeout=" << Timeout << "\n";
  }
  TRun Command(std::vector<std::string> Args) {
    Args.insert(Args.begin() + 1, {"--config", FConfig});
    std::ostringstream out, err;
    const int status = RunPacsCommand(Args, out, err);
    return {status, out.str(), err.str()};
  }
  // A VL Photographic Image and a Secondary Capture put into Outbox.
  bool QueueTwoObjects(const TOutbox& Outbox) {
    const platform::TResult<std::vector<TPacsObject>> objects =
        ReadPacsObjects({MakeObject(FFiles, "a.dcm", true), MakeObject(FFiles, "b.dcm", false)});
    return objects.Ok() && Outbox.Open().Ok() && Outbox.Add(objects.Value()).Ok();
  }
  std::string Address() const { return "127.0.0.1:" + std::to_string(FOrthanc.DicomPort()); }
  std::string OutboxFolder() const { return FHome / "data/tessaly/outbox/"; }

  testsupport::TTempFolder FHome{"tessaly_pacs"};
  testsupport::TTempFolder FFiles{"tessaly_pacs_files"};
  std::string FConfig = FHome / "Tessaly.ini";
  testsupport::TOrthanc FOrthanc;
};

TEST_F(PacsTest, StoredObjectsReadBackAndAStoppedPacsKeepsThemInTheOutbox) {
  const TRun echo = Command({"echo"});
  EXPECT_EQ(echo.Status, 0) << echo.Err;
  EXPECT_NE(echo.Out.find(Tr(PacsEchoOkText, Address())), std::string::npos) << echo.Out;

  const std::string photo = MakeObject(FFiles, "photo.dcm", true);
  const std::string capture = MakeObject(FFiles, "capture.dcm", false);
  ASSERT_FALSE(photo.empty() || capture.empty());
  const TRun stored = Command({"store", photo, capture});
  EXPECT_EQ(stored.Status, 0) << stored.Out << stored.Err;
  EXPECT_NE(stored.Out.find("2/2 sent"), std::string::npos) << stored.Out;
  EXPECT_TRUE(TOutbox(OutboxFolder()).Waiting().empty());

  // One patient, one study, its two series; each instance as it was made.
  const QJsonArray patients = Json(FOrthanc, "/patients").toArray();
  ASSERT_EQ(patients.size(), 1) << FOrthanc.Get("/patients");
  const QJsonArray studies =
      Json(FOrthanc, "/patients/" + patients[0].toString().toStdString())["Studies"].toArray();
  ASSERT_EQ(studies.size(), 1);
  const QJsonObject study =
      Json(FOrthanc, "/studies/" + studies[0].toString().toStdString()).toObject();
  EXPECT_EQ(study["MainDicomTags"]["StudyInstanceUID"].toString().toStdString(), StudyUid);
  const QJsonArray series = study["Series"].toArray();
  ASSERT_EQ(series.size(), 2);
  std::set<std::string> classes;
  for (const QJsonValue& s : series) {
    const QJsonArray instances =
        Json(FOrthanc, "/series/" + s.toString().toStdString())["Instances"].toArray();
    ASSERT_EQ(instances.size(), 1);
    const QJsonObject tags =
        Json(FOrthanc, "/instances/" + instances[0].toString().toStdString() + "/tags?simplify")
            .toObject();
    classes.insert(tags["SOPClassUID"].toString().toStdString());
    EXPECT_EQ(tags["PatientName"].toString(), QStringLiteral("Müller^Anna"));
    EXPECT_EQ(tags["PatientBirthDate"].toString(), QStringLiteral("19700102"));
    EXPECT_EQ(tags["PixelSpacing"].toString(), QStringLiteral("0.1\\0.1"));
  }
  EXPECT_EQ(classes, (std::set<std::string>{VlPhotographic, SecondaryCapture}));

  // The PACS gone: the check and the store say it could not be reached, the object waits.
  FOrthanc.Stop();
  const std::string unreachable = Tr(PacsUnreachableText, Address());
  const TRun noEcho = Command({"echo"});
  EXPECT_EQ(noEcho.Status, 1);
  EXPECT_NE(noEcho.Err.find(unreachable + "\n" + Tr(PacsConnectionRefusedText)), std::string::npos)
      << noEcho.Err;
  const std::string later = MakeObject(FFiles, "later.dcm", true);
  const TRun kept = Command({"store", later});
  EXPECT_EQ(kept.Status, 1);
  EXPECT_NE(kept.Err.find(unreachable), std::string::npos) << kept.Err;
  const std::vector<std::string> waiting = TOutbox(OutboxFolder()).Waiting();
  ASSERT_EQ(waiting.size(), 1u);
  EXPECT_NE(kept.Err.find("left in the outbox: " + waiting[0]), std::string::npos) << kept.Err;
  const platform::TResult<TPacsObject> copy = ReadPacsObject(waiting[0]);
  ASSERT_TRUE(copy.Ok());
  EXPECT_EQ(std::filesystem::path(waiting[0]).filename(), copy.Value().SopInstanceUid + ".dcm");
  struct stat file {
  }, folder{};
  ASSERT_EQ(::stat(waiting[0].c_str(), &file), 0);
  ASSERT_EQ(::stat(OutboxFolder().c_str(), &folder), 0);
  EXPECT_EQ(file.st_mode & 0777, 0600u);
  EXPECT_EQ(folder.st_mode & 0777, 0700u);

  // Back on the same storage: the next send, without new files, empties the outbox.
  ASSERT_TRUE(FOrthanc.Start()) << FOrthanc.Log();
  const TRun resent = Command({"store"});
  EXPECT_EQ(resent.Status, 0) << resent.Err;
  EXPECT_TRUE(TOutbox(OutboxFolder()).Waiting().empty());
  EXPECT_EQ(Json(FOrthanc, "/instances").toArray().size(), 3);
}

// The comparison itself, as tessaly-dicom exports it from the sample pair and its record,
// stored and read back from the archive: one study, the pictures' series and the report's.
TEST_F(PacsTest, TheExportedComparisonArrivesAsOneStudyWithItsScale) {
  const std::string sample = std::string(TESSALY_SOURCE_DIR) + "/data/sample/";
  std::ofstream(FFiles / "interface.ini")
      << "[General]\nCount=2\n[Subject0]\nName=Müller\nFirstName=Anna\nBirthDate=02.01.1970\n"
      << "[Image0]\nImage=" << sample << "NT96650_pcb_002.JPG\nPp100MM=2000\n"
      << "[Subject1]\nName=Müller\n[Image1]\nImage=" << sample
      << "NT96650_pcb_004.JPG\nPp100MM=2000\n[Additional]\nAdd0Name=PatientID\nAdd0Value=M-1970\n";
  TComparisonRecord record;
  record.Sha1 = platform::Sha256OfFile(sample + "NT96650_pcb_002.JPG");
  record.Sha2 = platform::Sha256OfFile(sample + "NT96650_pcb_004.JPG");
  record.Placement = {-0.016, 0.9651, 38.6, 35.3};
  const std::vector<TMeasurePoint> square{{640, 460}, {1500, 460}, {1500, 1320}, {640, 1320}};
  record.Measures = {{TMeasureKind::Outline, 1, square}, {TMeasureKind::Outline, 2, square}};
  EXPECT_TRUE(WriteComparisonRecord(FFiles / "record.ini", record));
  std::ostringstream out, err;
  ASSERT_EQ(RunDicomCommand({"export", "--count", "2", "--record", FFiles / "record.ini",
                             FFiles / "interface.ini", FFiles / "series"},
                            out, err),
            0)
      << err.str();
  std::vector<std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(FFiles / "series")) {
    files.push_back(entry.path());
  }
  ASSERT_EQ(files.size(), 5u);  // two pictures, two captures, the report
  std::vector<std::string> store{"store"};
  store.insert(store.end(), files.begin(), files.end());
  const TRun stored = Command(store);
  ASSERT_EQ(stored.Status, 0) << stored.Out << stored.Err;

  const QJsonArray studies = Json(FOrthanc, "/studies").toArray();
  ASSERT_EQ(studies.size(), 1) << FOrthanc.Get("/studies");
  std::multiset<std::string> classes;
  for (const QJsonValue& instance : Json(FOrthanc, "/instances").toArray()) {
    const QJsonObject tags =
        Json(FOrthanc, "/instances/" + instance.toString().toStdString() + "/tags?simplify")
            .toObject();
    const std::string sopClass = tags["SOPClassUID"].toString().toStdString();
    classes.insert(sopClass);
    EXPECT_EQ(tags["PatientName"].toString(), QStringLiteral("Müller^Anna"));
    EXPECT_EQ(tags["PatientBirthDate"].toString(), QStringLiteral("19700102"));
    if (sopClass == VlPhotographic) {
      EXPECT_EQ(tags["PixelSpacing"].toString(), QStringLiteral("0.05\\0.05"));
    }
  }
  EXPECT_EQ(classes.count(VlPhotographic), 2u);
  EXPECT_EQ(classes.count(SecondaryCapture), 2u);
  EXPECT_EQ(classes.size(), 5u);  // and the report
}

TEST_F(PacsTest, AnObjectAnotherRunHoldsIsLeftToIt) {
  const TOutbox outbox(OutboxFolder());
  ASSERT_TRUE(outbox.Open().Ok());
  const platform::TResult<std::vector<TPacsObject>> objects =
      ReadPacsObjects({MakeObject(FFiles, "a.dcm", true), MakeObject(FFiles, "b.dcm", false)});
  ASSERT_TRUE(objects.Ok()) << objects.Reason();
  ASSERT_TRUE(outbox.Add(objects.Value()).Ok());
  // Added again (a second click): still one copy each.
  ASSERT_TRUE(outbox.Add(objects.Value()).Ok());
  const std::vector<std::string> waiting = outbox.Waiting();
  ASSERT_EQ(waiting.size(), 2u);

  // The other run's claim, as it holds it while it sends.
  const int held = ::open(waiting[1].c_str(), O_RDONLY);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);
  const TPacsSettings pacs{"TESSALY", FOrthanc.Aet, "127.0.0.1", FOrthanc.DicomPort(), 5};
  const TOutboxRun first = outbox.Send(pacs);
  EXPECT_EQ(first.Sent, std::vector<std::string>{waiting[0]});
  EXPECT_EQ(first.Left, std::vector<std::string>{waiting[1]});
  EXPECT_TRUE(first.Failures.empty());
  ::close(held);  // that run ended without sending it (killed, or the PACS refused)

  const TOutboxRun second = outbox.Send(pacs);
  EXPECT_EQ(second.Sent, std::vector<std::string>{waiting[1]});
  EXPECT_TRUE(second.Left.empty());
  EXPECT_EQ(Json(FOrthanc, "/instances").toArray().size(), 2);
}

TEST_F(PacsTest, APacsThatNeverAnswersIsUnreachableAfterTheTimeout) {
  // Connections complete in the listen queue, but no association answer ever comes.
  const int silent = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof a;
  ASSERT_EQ(::bind(silent, reinterpret_cast<sockaddr*>(&a), size), 0);
  ASSERT_EQ(::listen(silent, 4), 0);
  ASSERT_EQ(::getsockname(silent, reinterpret_cast<sockaddr*>(&a), &size), 0);
  const TPacsSettings pacs{"TESSALY", "ORTHANC", "127.0.0.1", ntohs(a.sin_port), 1};
  const platform::TStatus echo = EchoPacs(pacs);
  ::close(silent);
  EXPECT_EQ(echo.Reason(),
            Tr(PacsUnreachableText, PacsAddress(pacs)) + "\n" + Tr(PacsNoAnswerText, "1"));
}

TEST_F(PacsTest, AFileThatIsNoDicomObjectQueuesNothing) {
  const std::string text = FFiles / "notes.dcm";
  std::ofstream(text) << "no DICOM here\n";
  const std::string photo = MakeObject(FFiles, "photo.dcm", true);
  const TRun refused = Command({"store", photo, text});
  EXPECT_EQ(refused.Status, 2);
  EXPECT_EQ(refused.Err, Tr(PacsNotDicomText) + "\n" + text + "\n");
  EXPECT_TRUE(TOutbox(OutboxFolder()).Waiting().empty());
  EXPECT_EQ(Command({"send"}).Status, 2);
  EXPECT_EQ(Command({"echo", photo}).Status, 2);
}

// What store cannot send as the user means it is refused before anything goes out, each with its
// reason: an instance UID that is no UID (".1.2" would hide its outbox copy for ever), another
// object under a UID already waiting (another patient's would go instead), a --config that is
// missing or no regular file (its defaults would send elsewhere), a FIFO named like an object
// (reading it would wait for ever).
TEST_F(PacsTest, WhatCannotBeSentFaithfullyIsRefusedAndNothingGoes) {
  const std::string photo = MakeObject(FFiles, "photo.dcm", true);
  ASSERT_FALSE(photo.empty());
  const std::string dotted = MakeObject(FFiles, "dotted.dcm", true);
  ASSERT_EQ(std::system(("dcmodify -nb -i 'SOPInstanceUID=.1.2.826.0.1.3680043.9.7777.5' " +
                         dotted + " >/dev/null 2>&1")
                            .c_str()),
            0);
  // The waiting object and another patient's under its UID.
  const TOutbox outbox(OutboxFolder());
  const platform::TResult<std::vector<TPacsObject>> waiting = ReadPacsObjects({photo});
  ASSERT_TRUE(waiting.Ok() && outbox.Open().Ok() && outbox.Add(waiting.Value()).Ok());
  const std::string queued = outbox.Waiting().at(0);
  const std::string other = FFiles / "other.dcm";
  std::filesystem::copy_file(photo, other);
  ASSERT_EQ(std::system(
                ("dcmodify -nb -i 'PatientName=Andere^Eva' " + other + " >/dev/null 2>&1").c_str()),
            0);
  const std::string fifo = FFiles / "pipe.dcm";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string uid = waiting.Value()[0].SopInstanceUid;
  const struct {
    std::vector<std::string> Args;
    std::string Told;
  } cases[] = {
      {{"store", dotted}, Tr(PacsUidInvalidText, ".1.2.826.0.1.3680043.9.7777.5")},
      {{"store", other}, Tr(PacsUidTakenText, uid + ", " + queued) + "\n" + other},
      {{"store", "--config", FFiles / "none.ini", photo}, "none.ini"},
      {{"store", "--config", "/dev/zero", photo}, "/dev/zero"},
      {{"store", "--config", fifo, photo}, fifo},
      {{"echo", "--config", FFiles.Path().string()}, FFiles.Path().string()},
      {{"store", fifo}, Tr(PacsNotRegularFileText)},
  };
  for (const auto& c : cases) {
    const TRun run = Command(c.Args);
    EXPECT_NE(run.Status, 0) << c.Args.back();
    EXPECT_NE(run.Err.find(c.Told), std::string::npos) << run.Err;
  }
  EXPECT_EQ(outbox.Waiting(), std::vector<std::string>{queued});
  EXPECT_EQ(Json(FOrthanc, "/instances").toArray().size(), 0);
}

// A Secondary Capture whose data set is Levels sequences of undefined length nested in one
// another (explicit VR little endian, every item and sequence closed), written byte by byte.
std::string NestedObject(int Levels, const std::string& SopClass = SecondaryCapture,
                         const std::string& Instance = "1.2.826.0.1.3680043.9.7777.99") {
  std::string bytes;
  const auto u16 = [&](unsigned V) { bytes += char(V & 0xFF), bytes += char(V >> 8 & 0xFF); };
  const auto u32 = [&](std::uint32_t V) { u16(V & 0xFFFF), u16(V >> 16); };
  const auto uid = [&](unsigned Group, unsigned Element, std::string Value) {
    if (Value.size() % 2 != 0) Value += '\0';
    u16(Group), u16(Element), bytes += "UI", u16(unsigned(Value.size())), bytes += Value;
  };
  uid(0x0002, 0x0002, SopClass);
  uid(0x0002, 0x0003, Instance);
  uid(0x0002, 0x0010, UID_LittleEndianExplicitTransferSyntax);
  const std::string meta = std::move(bytes);
  bytes = std::string(128, '\0') + "DICM";
  u16(0x0002), u16(0x0000), bytes += "UL", u16(4), u32(std::uint32_t(meta.size() + 14));
  u16(0x0002), u16(0x0001), bytes += "OB", u16(0), u32(2), u16(0x0100);
  bytes += meta;
  uid(0x0008, 0x0016, SopClass);
  uid(0x0008, 0x0018, Instance);
  for (int i = 0; i < Levels; ++i) {
    u16(0x0040), u16(0xA730), bytes += "SQ", u16(0), u32(0xFFFFFFFF);  // Content Sequence
    u16(0xFFFE), u16(0xE000), u32(0xFFFFFFFF);                         // an item
  }
  for (int i = 0; i < Levels; ++i) {
    u16(0xFFFE), u16(0xE00D), u32(0);  // the item's end
    u16(0xFFFE), u16(0xE0DD), u32(0);  // the sequence's end
  }
  return bytes;
}

// A file nested deeper than any parser's stack, lying in the outbox: the send ends without a
// signal, the file goes into the quarantine with its reason, and the good objects are sent.
TEST_F(PacsTest, AFileThatOverflowsItsParserIsQuarantinedAndTheOthersAreSent) {
  const TOutbox outbox(OutboxFolder());
  ASSERT_TRUE(QueueTwoObjects(outbox));
  const std::string nested = OutboxFolder() + "1.2.826.0.1.3680043.9.7777.99.dcm";
  std::ofstream(nested, std::ios::binary) << NestedObject(200000);

  const std::string err = FFiles / "err.txt";
  const pid_t store = ::fork();
  if (store == 0) {
    const TRun run = Command({"store"});
    std::ofstream(err) << run.Err;
    ::_exit(run.Status);
  }
  ASSERT_GT(store, 0);
  int status = 0;
  ASSERT_EQ(::waitpid(store, &status, 0), store);
  ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 1);
  std::ifstream in(err);
  const std::string told{std::istreambuf_iterator<char>(in), {}};
  const std::string moved = outbox.QuarantineFolder() + "1.2.826.0.1.3680043.9.7777.99.dcm";
  EXPECT_NE(told.find(Tr(PacsNotDicomText)), std::string::npos) << told;
  EXPECT_NE(told.find(moved + ".\n" + nested + "\n"), std::string::npos) << told;
  EXPECT_TRUE(outbox.Waiting().empty());
  struct stat folder {};
  ASSERT_EQ(::stat(outbox.QuarantineFolder().c_str(), &folder), 0);
  EXPECT_EQ(folder.st_mode & 0777, 0700u);
  EXPECT_TRUE(std::filesystem::is_regular_file(moved));
  EXPECT_EQ(Json(FOrthanc, "/instances").toArray().size(), 2);
}

// A send killed while the PACS has its first object: both objects are still in the outbox, the
// claims died with the process, and the next send sends them all.
TEST_F(PacsTest, AKilledSendLeavesEveryObjectForTheNext) {
  const TOutbox outbox(OutboxFolder());
  ASSERT_TRUE(QueueTwoObjects(outbox));
  {
    testsupport::TScriptedPacs hanging(false, testsupport::TScriptedPacs::Hangs);
    ASSERT_TRUE(hanging.Listening());
    const pid_t send = ::fork();
    if (send == 0) {
      const TOutboxRun never = outbox.Send({"TESSALY", "ORTHANC", "127.0.0.1", hanging.Port(), 60});
      ::_exit(never.Sent.empty() ? 3 : 4);
    }
    ASSERT_GT(send, 0);
    const bool arrived =
        testsupport::WaitUntil([&] { return hanging.StoreArrived(); }, std::chrono::seconds(20));
    ::kill(send, SIGKILL);
    int status = 0;
    ::waitpid(send, &status, 0);
    ASSERT_TRUE(arrived);
    EXPECT_TRUE(WIFSIGNALED(status));
  }
  EXPECT_EQ(outbox.Waiting().size(), 2u);
  const TOutboxRun next =
      outbox.Send({"TESSALY", FOrthanc.Aet, "127.0.0.1", FOrthanc.DicomPort(), 5});
  EXPECT_EQ(next.Sent.size(), 2u);
  EXPECT_TRUE(next.Left.empty());
  EXPECT_EQ(Json(FOrthanc, "/instances").toArray().size(), 2);
}

TEST(PacsRefusal, ARefusedAssociationIsToldWithItsReason) {
  testsupport::TScriptedPacs pacs(true, testsupport::TScriptedPacs::Takes);
  ASSERT_TRUE(pacs.Listening());
  const platform::TStatus echo = EchoPacs({"TESSALY", "NOBODY", "127.0.0.1", pacs.Port(), 5});
  EXPECT_EQ(echo.Reason(), Tr(PacsAssociationRefusedText, Tr(PacsCalledAeUnknownText, "NOBODY")));
}

// A check the PACS answers with a failure is that answer, not a transfer that broke off.
TEST(PacsRefusal, AFailedEchoIsToldWithItsStatus) {
  testsupport::TScriptedPacs pacs(false, 0x0110);  // processing failure
  ASSERT_TRUE(pacs.Listening());
  const platform::TStatus echo = EchoPacs({"TESSALY", "ORTHANC", "127.0.0.1", pacs.Port(), 5});
  const std::string sentence = Tr(PacsEchoFailedText);
  EXPECT_EQ(echo.Reason().rfind(sentence.substr(0, sentence.find("%1")) + "0x0110", 0), 0u)
      << echo.Reason();
}

// A PACS that takes the data set and never answers holds the send for one timeout, not for a
// second one while the abort waits for it to close its end; a cancel ends that wait at once.
// Either way the object waits in the outbox, and a cancelled send says it was cancelled.
TEST(PacsRefusal, APacsThatNeverAnswersHoldsTheSendForOneTimeoutOrUntilACancel) {
  for (const bool cancelled : {false, true}) {
    SCOPED_TRACE(cancelled ? "cancelled" : "timed out");
    testsupport::TTempFolder files{"tessaly_pacs_files"};
    const platform::TResult<std::vector<TPacsObject>> objects =
        ReadPacsObjects({MakeObject(files, "a.dcm", true)});
    ASSERT_TRUE(objects.Ok()) << objects.Reason();
    testsupport::TScriptedPacs pacs(false, testsupport::TScriptedPacs::TakesAndHangs);
    ASSERT_TRUE(pacs.Listening());
    const int timeout = cancelled ? 60 : 3;
    platform::TCancel cancel;
    std::future<platform::TResult<TOutboxRun>> send = std::async(std::launch::async, [&] {
      return SendThroughOutbox({"TESSALY", "ORTHANC", "127.0.0.1", pacs.Port(), timeout},
                               objects.Value(), TOutbox(files / "outbox/"), {}, &cancel);
    });
    ASSERT_TRUE(testsupport::WaitUntil([&] { return pacs.Taken(); }, std::chrono::seconds(20)));
    if (cancelled) cancel.Cancel();
    // Given up after one timeout (before, two): the bound lies well between, for a loaded
    // machine; cancelled, well before the minute the PACS would be waited for.
    const auto bound =
        cancelled ? std::chrono::milliseconds(30000) : std::chrono::milliseconds(timeout * 1800);
    ASSERT_EQ(send.wait_for(bound), std::future_status::ready);
    const platform::TResult<TOutboxRun> run = send.get();
    ASSERT_TRUE(run.Ok()) << run.Reason();
    EXPECT_EQ(run.Value().Left.size(), 1u);
    EXPECT_EQ(run.Value().Cancelled, cancelled);
    if (!cancelled) continue;
    ASSERT_EQ(run.Value().Failures.size(), 1u);
    EXPECT_EQ(run.Value().Failures[0].Reason().rfind(Tr(PacsCancelledText), 0), 0u);
    EXPECT_EQ(PacsRunSummary(run.Value()).rfind(Tr(PacsRunCancelledText), 0), 0u);
  }
}

// Objects of more kinds than one association may propose are all sent, the rest in a second one,
// not told that the PACS does not take them.
TEST(PacsRefusal, ObjectsOfMoreKindsThanOneAssociationCarriesAreAllSent) {
  constexpr int Kinds = 130;
  ASSERT_GE(numberOfDcmAllStorageSOPClassUIDs, Kinds);
  // The toolkit's sockets wait for the peer's delayed acknowledgement otherwise, some 90 ms a
  // small object on both ends of the loopback.
  ::setenv("TCP_NODELAY", "1", 1);
  testsupport::TTempFolder files{"tessaly_pacs_files"};
  std::vector<TPacsObject> objects;
  for (int k = 0; k < Kinds; ++k) {
    const std::string path = files / ("k" + std::to_string(k) + ".dcm");
    const std::string instance = "1.2.826.0.1.3680043.9.7777.7." + std::to_string(k + 1);
    std::ofstream(path, std::ios::binary)
        << NestedObject(0, dcmAllStorageSOPClassUIDs[k], instance);
    objects.push_back(
        {path, dcmAllStorageSOPClassUIDs[k], instance, UID_LittleEndianExplicitTransferSyntax});
  }
  testsupport::TScriptedPacs pacs(false, testsupport::TScriptedPacs::Takes, {}, 2);
  ASSERT_TRUE(pacs.Listening());
  const std::vector<TStoreOutcome> outcomes =
      StoreToPacs({"TESSALY", "ORTHANC", "127.0.0.1", pacs.Port(), 5}, objects);
  ASSERT_EQ(outcomes.size(), std::size_t(Kinds));
  for (std::size_t i = 0; i < outcomes.size(); ++i) {
    EXPECT_EQ(outcomes[i].Index, i);
    EXPECT_TRUE(outcomes[i].Stored) << outcomes[i].Status.Reason();
  }
  EXPECT_EQ(pacs.Stores(), Kinds);
}

// An object the PACS did not take, or whose answer names another instance, stays in the outbox
// with the reason.
TEST(PacsRefusal, AnObjectNotConfirmedStaysInTheOutboxWithTheReason) {
  const struct {
    Uint16 Status;
    std::string AnswerFor, Told;
  } cases[] = {
      {0xA700, "", Tr(PacsObjectRejectedText, "0xA700")},  // out of resources
      {0x0000, "1.2.826.0.1.3680043.9.7777.1",
       Tr(PacsOtherInstanceText, "1.2.826.0.1.3680043.9.7777.1")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Told);
    testsupport::TTempFolder files{"tessaly_pacs_files"};
    const TOutbox outbox(files / "outbox/");
    const platform::TResult<std::vector<TPacsObject>> objects =
        ReadPacsObjects({MakeObject(files, "a.dcm", true)});
    ASSERT_TRUE(objects.Ok()) << objects.Reason();
    testsupport::TScriptedPacs pacs(false, c.Status, c.AnswerFor);
    ASSERT_TRUE(pacs.Listening());
    const platform::TResult<TOutboxRun> run = SendThroughOutbox(
        {"TESSALY", "ORTHANC", "127.0.0.1", pacs.Port(), 5}, objects.Value(), outbox);
    ASSERT_TRUE(run.Ok()) << run.Reason();
    const std::vector<std::string> waiting = outbox.Waiting();
    ASSERT_EQ(waiting.size(), 1u);
    EXPECT_TRUE(run.Value().Sent.empty());
    EXPECT_EQ(run.Value().Left, waiting);
    ASSERT_EQ(run.Value().Failures.size(), 1u);
    const std::string& reason = run.Value().Failures[0].Reason();
    const std::size_t code = c.Told.find("0x");  // the status, without the toolkit's name
    const std::string told = code == std::string::npos ? c.Told : c.Told.substr(0, code + 6);
    EXPECT_EQ(reason.rfind(told, 0), 0u) << reason;
    EXPECT_EQ(reason.substr(reason.find('\n') + 1), waiting[0]);
  }
}

}  // namespace
}  // namespace overlay
