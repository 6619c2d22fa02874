// The picture import through the decoder process: every shared test file, the three that crash
// FreeImage included; the decoder's failures (a crash, a hang, a lying or missing decoder); the
// reply parser; the print page's JPEG through the decoder against the former in-process route.
#include "overlay/decode/isolated_decode.h"

#include <FreeImage.h>
#include <dirent.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <QBuffer>
#include <QImage>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "overlay/decode/decoder_protocol.h"
#include "overlay/decode/picture_import.h"
#include "overlay/scene/picture_loading.h"
#include "overlay/windows/print_page.h"
#include "platform/message.h"
#include "tests/support/temp_folder.h"
#include "tests/support/wait.h"

namespace overlay {
namespace {

namespace fs = std::filesystem;
using raster::TBitmap32;

std::string TestFile(const std::string& Name) {
  return std::string(TESSALY_TESTDATA) + "/" + Name;
}

const std::set<std::string> CrashFreeImage = {
    "malformed/truncated_exif_dpi.jpg",
    "malformed/m2-336db1cd76254717eb50a8602b651fbf.tif",
    "malformed/m10-42c19f8e79e582bef107f372f18a074b.tif",
};

// The decoder's heap normally lies on huge pages; there a wild read of FreeImage may land in
// mapped memory or not, depending on where the heap starts, and a crasher then decodes or
// crashes by chance. These tests keep the decoder on small pages, where the three files crash
// FreeImage every time.
[[maybe_unused]] const bool SmallPagesForTheDecoder = [] {
  ::setenv("GLIBC_TUNABLES", "glibc.malloc.hugetlb=0", 1);
  return true;
}();

// Under the address sanitizer's allocator, FreeImage's wild read in the Exif segment of
// truncated_exif_dpi.jpg lands in mapped memory and the file decodes instead of crashing the
// decoder; the other two crash (are aborted by the sanitizer) there too.
#if defined(__has_feature)  // clang's way to tell
#if __has_feature(address_sanitizer)
#define DECODER_UNDER_ASAN 1
#endif
#elif defined(__SANITIZE_ADDRESS__)  // gcc's
#define DECODER_UNDER_ASAN 1
#endif
#if defined(DECODER_UNDER_ASAN)
constexpr bool ExifCrasherDecodes = true;
#else
constexpr bool ExifCrasherDecodes = false;
#endif
bool CrashesDecoder(const std::string& Name) {
  return CrashFreeImage.count(Name) != 0 &&
         !(ExifCrasherDecodes && Name == "malformed/truncated_exif_dpi.jpg");
}

struct TempFolder : testsupport::TTempFolder {
  TempFolder() : TTempFolder("isolated_decode_test") {}
  // A stand-in decoder: a shell script with Body.
  std::string Script(const std::string& Name, const std::string& Body) const {
    const std::string path = File(Name);
    std::ofstream(path) << "#!/bin/sh\n" << Body << "\n";
    fs::permissions(path, fs::perms::owner_all);
    return path;
  }
};

// Restores the real decoder and the default time limit after a test that changed them.
struct StandIn {
  explicit StandIn(const std::string& Program, const char* Timeout = nullptr) {
    SetDecoderProgram(Program);
    if (Timeout != nullptr) ::setenv("TESSALY_DECODE_TIMEOUT", Timeout, 1);
  }
  ~StandIn() {
    SetDecoderProgram(TESSALY_DECODE_EXE);
    ::unsetenv("TESSALY_DECODE_TIMEOUT");
  }
};

// What this process holds: open descriptors, shared-memory mappings, child processes (and
// whether one of them is a zombie).
struct Holdings {
  int Descriptors = 0;
  int SharedMappings = 0;
  int Children = 0;
  int Zombies = 0;
};
Holdings Now() {
  Holdings h;
  for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
    (void)entry;
    ++h.Descriptors;
  }
  std::ifstream maps("/proc/self/maps");
  for (std::string line; std::getline(maps, line);)
    h.SharedMappings += line.find("memfd:") != std::string::npos;
  for (const auto& task : fs::directory_iterator("/proc/self/task")) {
    std::ifstream children(task.path() / "children");
    for (int pid; children >> pid;) {
      ++h.Children;
      std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
      std::string line;
      std::getline(stat, line);
      const auto close = line.rfind(')');
      if (close != std::string::npos && line.size() > close + 2 && line[close + 2] == 'Z') {
        ++h.Zombies;
      }
    }
  }
  return h;
}

bool SamePixels(const TBitmap32& A, const TBitmap32& B) {
  return A.Width() == B.Width() && A.Height() == B.Height() &&
         std::memcmp(A.PixelBuffer(), B.PixelBuffer(),
                     std::size_t(A.Width()) * std::size_t(A.Height()) * 4) == 0;
}

// Every file of the shared test data goes through LoadPicture and this process goes on. The
// three crashers give no picture and no reason; every other file gives what FreeImage in this
// process gives: the same reasons and the same pixels.
TEST(IsolatedDecode, EveryTestFileSurvivesTheCrashersGiveNoPictureTheRestAsInProcess) {
  std::vector<std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(TESSALY_TESTDATA)) {
    if (entry.is_regular_file()) {
      files.push_back(fs::relative(entry.path(), fs::path(TESSALY_TESTDATA)).string());
    }
  }
  std::sort(files.begin(), files.end());
  ASSERT_GT(files.size(), 130u);
  int crashers = 0, compared = 0;
  for (const std::string& name : files) {
    SCOPED_TRACE(name);
    const TPictureResult isolatedLoad = LoadPicture(TestFile(name));
    const std::unique_ptr<TBitmap32>& isolated = isolatedLoad.Value();
    if (CrashFreeImage.count(name)) {
      if (!CrashesDecoder(name)) continue;  // it survived this process; nothing else to hold
      ++crashers;
      EXPECT_EQ(isolated, nullptr);
      EXPECT_EQ(isolatedLoad.Reason(),
                PictureFailureText(TPictureFailureTexts().Damaged, TestFile(name)));
      continue;
    }
    const TPictureResult inProcessLoad = LoadPictureInProcess(TestFile(name));
    const std::unique_ptr<TBitmap32>& inProcess = inProcessLoad.Value();
    EXPECT_EQ(isolatedLoad.Reason(), inProcessLoad.Reason());
    ASSERT_EQ(isolated == nullptr, inProcess == nullptr);
    if (isolated != nullptr) {
      EXPECT_TRUE(SamePixels(*isolated, *inProcess));
      ++compared;
    }
  }
  EXPECT_EQ(crashers, ExifCrasherDecodes ? 2 : 3);
  EXPECT_GT(compared, 90);
}

// A picture asked for by name that crashes the decoder gets the one "damaged" message.
TEST(IsolatedDecode, ACrasherAskedForByNameGivesItsOneMessage) {
  platform::MessageRecorder recorder;
  std::vector<std::string> expected;
  for (const std::string& name : CrashFreeImage) {
    if (!CrashesDecoder(name)) continue;
    EXPECT_EQ(LoadPictureOrTell(TestFile(name)).Picture, nullptr);
    expected.push_back(PictureFailureText(TPictureFailureTexts().Damaged, TestFile(name)));
  }
  ASSERT_FALSE(expected.empty());
  EXPECT_EQ(recorder.Texts(), expected);
}

// Crashes leave nothing behind: no zombie, no descriptor, no mapping. The decoders wait for the
// next requests and the memory of the last picture is kept for them, as before.
TEST(IsolatedDecode, CrashesLeaveNoProcessDescriptorOrMappingBehind) {
  ASSERT_NE(LoadPicture(TestFile("formats/jpeg/hopper.jpg")).Value(), nullptr);
  const Holdings before = Now();
  EXPECT_EQ(before.Children, WaitingDecoders);  // the decoders for the next requests
  for (int round = 0; round < 2; ++round) {
    for (const std::string& name : CrashFreeImage) {
      if (CrashesDecoder(name)) {
        EXPECT_EQ(LoadPicture(TestFile(name)).Value(), nullptr);
      }
    }
    EXPECT_NE(LoadPicture(TestFile("formats/png/basn6a08.png")).Value(), nullptr);
  }
  const Holdings after = Now();
  EXPECT_EQ(after.Descriptors, before.Descriptors);
  EXPECT_EQ(after.SharedMappings, 0);
  EXPECT_EQ(after.Children, WaitingDecoders);
  EXPECT_EQ(after.Zombies, 0);
}

// A waiting decoder whose program is gone (killed, so nothing of it tidies up) ends as well: it
// sees its socket close. Orphans come to this process, made their reaper, so the test can wait for
// them.
TEST(IsolatedDecode, AWaitingDecoderEndsWithItsProgram) {
  ASSERT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t program = ::fork();
  ASSERT_GE(program, 0);
  if (program == 0) {
    StartDecoderInAdvance();
    (void)!::write(ready[1], "r", 1);
    for (;;) ::pause();
  }
  char c = 0;
  ASSERT_EQ(::read(ready[0], &c, 1), 1);
  ::kill(program, SIGKILL);
  ASSERT_EQ(::waitpid(program, nullptr, 0), program);
  // The decoders, now ours: they end by themselves, before any time limit of the decoding.
  int orphans = 0;
  EXPECT_TRUE(testsupport::WaitUntil(
      [&] {
        int status = 0;
        while (::waitpid(-1, &status, WNOHANG) > 0) ++orphans;
        return orphans >= WaitingDecoders;
      },
      std::chrono::seconds(10)));
  EXPECT_EQ(orphans, WaitingDecoders);
  ::close(ready[0]);
  ::close(ready[1]);
  ::prctl(PR_SET_CHILD_SUBREAPER, 0);
}

// A decoder that never answers is killed at the configured time and reaped, while the one
// started for the next request waits on. Each stand-in notes its process id when it starts, and
// again two seconds later if it is still alive.
TEST(IsolatedDecode, AHangingDecoderIsKilledAfterTheConfiguredTime) {
  TempFolder folder;
  const std::string started = folder.File("started"), alive = folder.File("alive");
  const StandIn standIn(folder.Script("hang", "echo $$ >> " + started + "\nsleep 2\necho $$ >> " +
                                                  alive + "\nexec sleep 600"),
                        "0.3");
  const TPictureResult hung = LoadPicture(TestFile("formats/jpeg/hopper.jpg"));
  EXPECT_EQ(hung.Value(), nullptr);
  EXPECT_EQ(hung.Reason(), PictureFailureText(TPictureFailureTexts().Damaged,
                                              TestFile("formats/jpeg/hopper.jpg")));
  std::set<int> gone, living, noted;
  // Wait until both stand-ins have started, one of them is gone and one has noted that it lived
  // past its two seconds. A process that is gone writes no more notes, so a killed one that had
  // outlived its time would be among the notes by then.
  const bool settled = testsupport::WaitUntil(
      [&] {
        gone.clear();
        living.clear();
        noted.clear();
        std::ifstream first(started);
        for (int pid; first >> pid;) {
          // Killed and reaped: no process of that id, not even a zombie, remains.
          (fs::exists("/proc/" + std::to_string(pid)) ? living : gone).insert(pid);
        }
        std::ifstream later(alive);
        for (int pid; later >> pid;) noted.insert(pid);
        return gone.size() + living.size() == 1 + WaitingDecoders && !gone.empty() &&
               noted.size() == std::size_t(WaitingDecoders);
      },
      std::chrono::seconds(20));
  EXPECT_TRUE(settled);
  EXPECT_EQ(gone.size(), 1u);                              // the one that had the request
  EXPECT_EQ(living.size(), std::size_t(WaitingDecoders));  // those waiting for the next
  EXPECT_EQ(noted, living);                                // the killed one never got past its time
  EXPECT_EQ(Now().Zombies, 0);
}

// A decoder that crashes, exits without a word, or answers nonsense gives no picture; so does a
// decoder that cannot be started, which is said once on the error stream.
TEST(IsolatedDecode, CrashingSilentLyingAndMissingDecodersGiveNoPicture) {
  TempFolder folder;
  platform::MessageRecorder recorder;
  for (
      const std::string& body :
      {std::string("kill -SEGV $$"), std::string("exit 0"), std::string("printf garbage >&3"),
       // A reply of the right size and magic, but a picture of 1 x 1 without its memory.
       std::string(
           R"(printf 'TSR1\000\000\000\000\001\000\000\000\001\000\000\000\004\000\000\000\000\000\000\000' >&3)")}) {
    SCOPED_TRACE(body);
    const StandIn standIn(folder.Script("standin", body));
    const TPictureResult loaded = LoadPicture(TestFile("formats/jpeg/hopper.jpg"));
    EXPECT_EQ(loaded.Value(), nullptr);
    EXPECT_EQ(loaded.Reason(), PictureFailureText(TPictureFailureTexts().Damaged,
                                                  TestFile("formats/jpeg/hopper.jpg")));
  }
  const StandIn missing(folder.File("no-such-decoder"));
  ::testing::internal::CaptureStderr();
  const TPictureResult jpeg = LoadPicture(TestFile("formats/jpeg/hopper.jpg"));
  const TPictureResult png = LoadPicture(TestFile("formats/png/basn6a08.png"));
  const std::string errors = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(jpeg.Value(), nullptr);
  EXPECT_EQ(png.Value(), nullptr);
  EXPECT_EQ(jpeg.Reason(), PictureNotLoadedText(TestFile("formats/jpeg/hopper.jpg")));
  EXPECT_EQ(png.Reason(), PictureNotLoadedText(TestFile("formats/png/basn6a08.png")));
  EXPECT_TRUE(recorder.Texts().empty());
  EXPECT_NE(errors.find("no-such-decoder cannot be started"), std::string::npos) << errors;
  EXPECT_EQ(errors.find("cannot be started"), errors.rfind("cannot be started")) << errors;
  EXPECT_EQ(Now().Zombies, 0);
}

std::vector<std::uint8_t> Reply(std::uint32_t Status, std::uint32_t W, std::uint32_t H,
                                std::uint64_t Bytes) {
  return decoder::EncodeReply({decoder::TReplyStatus(Status), W, H, Bytes});
}

TEST(ParseDecoderReply, AcceptsConsistentRepliesOnly) {
  using decoder::TRequestKind;
  const auto parse = [](const std::vector<std::uint8_t>& Bytes, TRequestKind Kind,
                        std::uint64_t Memory) {
    decoder::TReply reply;
    return decoder::ParseDecoderReply(Bytes.data(), Bytes.size(), Kind, Memory, &reply);
  };
  const auto picture = TRequestKind::DecodePicture;
  const auto jpeg = TRequestKind::EncodePicture;
  // Accepted.
  EXPECT_TRUE(parse(Reply(0, 3, 2, 24), picture, 4096));
  EXPECT_TRUE(parse(Reply(0, 16384, 16384, std::uint64_t(16384) * 16384 * 4), picture,
                    std::uint64_t(1) << 30));
  EXPECT_TRUE(parse(Reply(1, 0, 0, 0), picture, 0));
  EXPECT_TRUE(parse(Reply(2, 65535, 32767, 0), picture, 0));
  EXPECT_TRUE(parse(Reply(3, 0, 0, 0), jpeg, 0));
  EXPECT_TRUE(parse(Reply(0, 0, 0, 1000), jpeg, 1000));
  // Refused.
  EXPECT_FALSE(parse(Reply(0, 3, 2, 24), picture, 23));    // more than the memory holds
  EXPECT_FALSE(parse(Reply(0, 3, 2, 20), picture, 4096));  // bytes not Width * Height * 4
  EXPECT_FALSE(parse(Reply(0, 0, 2, 0), picture, 4096));   // empty picture
  EXPECT_FALSE(parse(Reply(0, 16385, 16384, std::uint64_t(16385) * 16384 * 4), picture,
                     ~std::uint64_t(0)));  // above the pixel limit
  // 2^32 * 4 wraps to 0 in 32 bits; the check must not.
  EXPECT_FALSE(parse(Reply(0, 65536, 65536, 0), picture, ~std::uint64_t(0)));
  EXPECT_FALSE(parse(Reply(2, 16384, 16384, 0), picture, 0));  // "too large" but is not
  EXPECT_FALSE(parse(Reply(1, 1, 0, 0), picture, 0));          // stray fields
  EXPECT_FALSE(parse(Reply(3, 0, 0, 8), picture, 0));
  EXPECT_FALSE(parse(Reply(4, 1, 0, 0), picture, 0));  // stray fields
  EXPECT_FALSE(parse(Reply(5, 0, 0, 0), picture, 0));  // unknown status
  EXPECT_FALSE(parse(Reply(0, 0, 0, 1001), jpeg, 1000));
  EXPECT_FALSE(parse(Reply(0, 0, 0, 0), jpeg, 1000));
  EXPECT_FALSE(parse(Reply(0, 3, 2, 24), jpeg, 4096));
  EXPECT_FALSE(parse(Reply(2, 65535, 32767, 0), jpeg, 0));
  // The date taken: a real one with a picture, nothing else, and never with another status.
  const auto dated = [](std::uint32_t Status, std::uint64_t Bytes, std::uint64_t Date) {
    decoder::TReply r{decoder::TReplyStatus(Status),
                      Status == 0 ? 3u : 0u,
                      Status == 0 ? 2u : 0u,
                      Bytes,
                      0,
                      Date};
    return decoder::EncodeReply(r);
  };
  EXPECT_TRUE(parse(dated(0, 24, 20250812140305), picture, 4096));
  EXPECT_FALSE(parse(dated(0, 24, 20251312140305), picture, 4096));  // month 13
  EXPECT_FALSE(parse(dated(0, 24, 20250812240305), picture, 4096));  // hour 24
  EXPECT_FALSE(parse(dated(0, 24, 17991231000000), picture, 4096));
  EXPECT_FALSE(parse(dated(1, 0, 20250812140305), picture, 0));
  // A DICOM picture's spacing (both finite and positive, or none) and study UID (digits and
  // dots, at most 64), only with a picture; the UID's length must be the message's rest.
  const auto dicom = [](std::uint32_t Status, double Row, double Column, std::string Uid) {
    decoder::TReply r{decoder::TReplyStatus(Status), Status == 0 ? 3u : 0u, Status == 0 ? 2u : 0u,
                      Status == 0 ? 24u : 0u};
    std::tie(r.PixelSpacingRow, r.PixelSpacingColumn, r.StudyInstanceUid) =
        std::tuple(Row, Column, std::move(Uid));
    r.SpacingSource = Row != 0 ? 1 : 0;  // Pixel Spacing
    return decoder::EncodeReply(r);
  };
  EXPECT_TRUE(parse(dicom(0, 0.05, 0.04, "1.2.840.10008"), picture, 4096));
  EXPECT_TRUE(parse(dicom(0, 0, 0, std::string(64, '1')), picture, 4096));
  for (const double bad : {0.0, -0.05, std::nan(""), HUGE_VAL}) {
    EXPECT_FALSE(parse(dicom(0, 0.05, bad, ""), picture, 4096)) << bad;
  }
  EXPECT_FALSE(parse(dicom(0, 0, 0, std::string(65, '1')), picture, 4096));
  EXPECT_FALSE(parse(dicom(0, 0, 0, "1.2.3a"), picture, 4096));
  EXPECT_FALSE(parse(dicom(1, 0.05, 0.05, ""), picture, 0));
  EXPECT_FALSE(parse(dicom(1, 0, 0, "1.2"), picture, 0));
  // Where the spacing came from agrees with it (a source of none or of the detector alone has
  // none); the compression and the patient's texts keep their limits, and come with a picture
  // only.
  const auto facts = [](std::uint32_t Status, double Spacing, std::uint32_t Source,
                        std::uint32_t Lossy, std::size_t Name) {
    decoder::TReply r{decoder::TReplyStatus(Status), Status == 0 ? 3u : 0u, Status == 0 ? 2u : 0u,
                      Status == 0 ? 24u : 0u};
    r.PixelSpacingRow = r.PixelSpacingColumn = Spacing;
    r.SpacingSource = Source;
    r.Lossy = Lossy;
    r.PatientName = std::string(Name, 'x');
    r.PatientId = r.PatientBirthDate = Name > 0 ? "1" : "";
    return decoder::EncodeReply(r);
  };
  EXPECT_TRUE(parse(facts(0, 0.7, 2, 4, decoder::MaxPatientTextLength), picture, 4096));
  EXPECT_TRUE(parse(facts(0, 0, 3, 1, 0), picture, 4096));
  EXPECT_FALSE(parse(facts(0, 0.7, 0, 0, 0), picture, 4096));
  EXPECT_FALSE(parse(facts(0, 0.7, 3, 0, 0), picture, 4096));
  EXPECT_FALSE(parse(facts(0, 0, 1, 0, 0), picture, 4096));
  EXPECT_FALSE(parse(facts(0, 0, 4, 0, 0), picture, 4096));
  EXPECT_FALSE(parse(facts(0, 0, 0, 5, 0), picture, 4096));
  EXPECT_FALSE(parse(facts(0, 0, 0, 0, decoder::MaxPatientTextLength + 1), picture, 4096));
  EXPECT_FALSE(parse(facts(1, 0, 0, 1, 0), picture, 0));
  EXPECT_FALSE(parse(facts(1, 0, 0, 0, 3), picture, 0));
  std::vector<std::uint8_t> bytes = dicom(0, 0, 0, "1.2");
  bytes.pop_back();
  EXPECT_FALSE(parse(bytes, picture, 4096));  // the UID's length is not the rest
  bytes = Reply(1, 0, 0, 0);
  bytes[0] ^= 1;
  EXPECT_FALSE(parse(bytes, picture, 0));  // magic
  bytes = Reply(1, 0, 0, 0);
  bytes.push_back(0);
  EXPECT_FALSE(parse(bytes, picture, 0));
  bytes.resize(decoder::ReplySize - 1);
  EXPECT_FALSE(parse(bytes, picture, 0));
  decoder::TReply reply;
  EXPECT_FALSE(decoder::ParseDecoderReply(nullptr, 0, picture, 0, &reply));
}

// An encode request carries its format and text through the bytes and back, and a request the
// decoder could misread (a text without its key, a key a PNG refuses, lengths that do not add
// up to the message, an unknown format) is refused.
TEST(ParseRequest, EncodeRequestsKeepTheirTextAndRefuseWhatDoesNotAddUp) {
  decoder::TRequest request;
  request.Kind = decoder::TRequestKind::EncodePicture;
  request.Width = 5;
  request.Height = 2;
  request.Pitch = 16;
  request.DotsPerMeterX = request.DotsPerMeterY = 9170;
  request.Format = decoder::TEncodeFormat::Png;
  request.TextKey = "Placement";
  request.Text = "angle=1.5 zoom=1 x=-2 y=3";
  const auto parse = [](const std::vector<std::uint8_t>& Bytes, decoder::TRequest* Out) {
    return decoder::ParseRequest(Bytes.data(), Bytes.size(), Out);
  };
  decoder::TRequest back;
  ASSERT_TRUE(parse(decoder::EncodeRequest(request), &back));
  EXPECT_EQ(back.Format, decoder::TEncodeFormat::Png);
  EXPECT_EQ(back.TextKey, request.TextKey);
  EXPECT_EQ(back.Text, request.Text);
  EXPECT_EQ(back.DotsPerMeterX, 9170u);
  EXPECT_EQ(decoder::EncodeRequestBytes(back), 32u);

  const auto refused = [&](decoder::TRequest R) {
    return !parse(decoder::EncodeRequest(R), &back);
  };
  decoder::TRequest r = request;
  r.TextKey.clear();  // a text without its key
  EXPECT_TRUE(refused(r));
  r = request;
  r.TextKey = " Placement";
  EXPECT_TRUE(refused(r));
  r.TextKey = std::string(decoder::MaxTextKeyLength + 1, 'k');
  EXPECT_TRUE(refused(r));
  r = request;
  r.Text = std::string("a\0b", 3);
  EXPECT_TRUE(refused(r));
  r.Text = std::string(decoder::MaxTextLength, 't');
  EXPECT_FALSE(refused(r));
  r = request;
  r.Format = decoder::TEncodeFormat(4);
  EXPECT_TRUE(refused(r));
  r = request;
  r.Pitch = 14;  // less than three bytes a pixel
  EXPECT_TRUE(refused(r));
  // The key's length grown by one while the message stays: the lengths no longer add up.
  std::vector<std::uint8_t> bytes = decoder::EncodeRequest(request);
  bytes[decoder::RequestHeaderSize + 24] += 1;
  EXPECT_FALSE(parse(bytes, &back));
  bytes = decoder::EncodeRequest(request);
  bytes.push_back('x');
  EXPECT_FALSE(parse(bytes, &back));
}

// The answer to a DICOM object request: the three UIDs with Ok and only then, each of digits and
// dots within its limit, the lengths adding up to the message.
TEST(ParseObjectReply, AcceptsConsistentRepliesOnly) {
  using decoder::TObjectStatus;
  const std::string sc = "1.2.840.10008.5.1.4.1.1.7", uid = "1.2.3", syntax = "1.2.840.10008.1.2.1";
  const struct {
    decoder::TObjectReply Reply;
    bool Accepted;
  } cases[] = {
      {{TObjectStatus::Ok, sc, uid, syntax}, true},
      {{TObjectStatus::TooDeep, "", "", ""}, true},
      {{TObjectStatus::Ok, sc, "", syntax}, false},                    // an object without instance
      {{TObjectStatus::NotDicom, sc, "", ""}, false},                  // a refusal with a UID
      {{TObjectStatus::Ok, sc, uid + "a", syntax}, false},             // not digits and dots
      {{TObjectStatus::Ok, sc, std::string(65, '1'), syntax}, false},  // too long
      {{TObjectStatus(6), "", "", ""}, false},                         // unknown status
  };
  for (const auto& c : cases) {
    const std::vector<std::uint8_t> bytes = decoder::EncodeObjectReply(c.Reply);
    decoder::TObjectReply back;
    EXPECT_EQ(decoder::ParseObjectReply(bytes.data(), bytes.size(), &back), c.Accepted)
        << int(c.Reply.Status) << " " << c.Reply.SopInstanceUid;
  }
  std::vector<std::uint8_t> bytes = decoder::EncodeObjectReply(cases[0].Reply);
  bytes.pop_back();  // the lengths no longer add up to the message
  decoder::TObjectReply back;
  EXPECT_FALSE(decoder::ParseObjectReply(bytes.data(), bytes.size(), &back));
}

// A deflated DICOM file of 2 MB whose private element holds 2^31 zero bytes: DCMTK would hold
// them all inflated. The decoder refuses it without taking more than a little memory.
TEST(IsolatedObject, ADeflatedFileThatInflatesBeyondTheBoundIsRefusedCheaply) {
  TempFolder folder;
  std::string file(128, '\0');
  file += "DICM";
  const std::string syntax = "1.2.840.10008.1.2.1.99";  // Deflated Explicit VR Little Endian
  file += std::string("\x02\x00\x10\x00UI\x16\x00", 8) + syntax;
  // The data set: (0009,1000) OB of 2^31 bytes, deflated as a header, then one block of 1 MiB
  // of zeros flushed whole, so that it may be repeated, and the end.
  z_stream z{};
  ASSERT_EQ(deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 9, Z_DEFAULT_STRATEGY),
            Z_OK);
  const auto deflated = [&](std::string In, int Flush) {
    std::string out(In.size() + 4096, '\0');
    z.next_in = reinterpret_cast<Bytef*>(In.data());
    z.avail_in = uInt(In.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = uInt(out.size());
    EXPECT_NE(deflate(&z, Flush), Z_STREAM_ERROR);
    out.resize(out.size() - z.avail_out);
    return out;
  };
  file += deflated(std::string("\x09\x00\x00\x10OB\0\0\0\0\0\x80", 12), Z_FULL_FLUSH);
  const std::string zeros = deflated(std::string(1 << 20, '\0'), Z_FULL_FLUSH);
  for (int i = 0; i < 2048; ++i) file += zeros;
  file += deflated("", Z_FINISH);
  deflateEnd(&z);
  std::ofstream(folder.File("bomb.dcm"), std::ios::binary) << file;
  ASSERT_LT(file.size(), std::size_t(3) << 20);

  const TIsolatedObject read = ReadDicomObjectIsolated(folder.File("bomb.dcm"));
  EXPECT_EQ(read.Check, TObjectCheck::Answered);
  EXPECT_EQ(read.Reply.Status, decoder::TObjectStatus::TooLarge);
  rusage children{};
  ASSERT_EQ(::getrusage(RUSAGE_CHILDREN, &children), 0);
  EXPECT_LT(children.ru_maxrss, 256 * 1024);  // kilobytes
}

// The print page's JPEG, now written in the decoder process, is byte for byte the JPEG that
// FreeImage in this process makes of the capture's BMP file.
TEST(IsolatedEncode, ThePrintCaptureIsTheJpegOfItsBmp) {
  TempFolder folder;
  QImage capture(37, 21, QImage::Format_RGB888);  // odd width: padded rows
  for (int y = 0; y < capture.height(); ++y) {
    for (int x = 0; x < capture.width(); ++x)
      capture.setPixel(x, y, qRgb(7 * x, 11 * y, 3 * x * y));
  }
  capture.setDotsPerMeterX(3780);
  capture.setDotsPerMeterY(2835);
  QByteArray bmp;
  {
    QBuffer buffer(&bmp);
    buffer.open(QIODevice::WriteOnly);
    capture.save(&buffer, "BMP");
  }
  FIMEMORY* in = FreeImage_OpenMemory(reinterpret_cast<BYTE*>(bmp.data()), DWORD(bmp.size()));
  FIBITMAP* dib = FreeImage_LoadFromMemory(FIF_BMP, in, 0);
  ASSERT_NE(dib, nullptr);
  FIMEMORY* out = FreeImage_OpenMemory(nullptr, 0);
  ASSERT_TRUE(FreeImage_SaveToMemory(FIF_JPEG, dib, out, 0));
  BYTE* data = nullptr;
  DWORD size = 0;
  ASSERT_TRUE(FreeImage_AcquireMemory(out, &data, &size));
  const std::string expected(reinterpret_cast<const char*>(data), size);
  FreeImage_CloseMemory(out);
  FreeImage_Unload(dib);
  FreeImage_CloseMemory(in);

  const std::string dir = folder.Path().string() + "/";
  ASSERT_TRUE(WritePrintCapture(capture, dir, 0));
  std::ifstream file(dir + "test0.jpg", std::ios::binary);
  std::stringstream written;
  written << file.rdbuf();
  EXPECT_EQ(written.str(), expected);

  // Without a decoder there is no JPEG, and no earlier one stays under the names.
  const StandIn missing(folder.File("no-such-decoder"));
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(WritePrintCapture(capture, dir, 0));
  ::testing::internal::GetCapturedStderr();
  EXPECT_FALSE(fs::exists(dir + "test0.jpg"));
  EXPECT_FALSE(fs::exists(dir + "image1.jpg"));
}

}  // namespace
}  // namespace overlay
