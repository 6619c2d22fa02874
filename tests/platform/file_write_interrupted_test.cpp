// A file being replaced while the disk fills up or the program is killed: the old file stays
// whole.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "platform/file_write.h"
#include "tests/support/wait.h"

namespace {

namespace fs = std::filesystem;

std::string ReadBytes(const std::string& Path) {
  std::ifstream in(Path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string FreshDir(const char* Name) {
  const std::string dir = testing::TempDir() + Name + "/";
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

TEST(FileWriteInterrupted, AFullDiskReportsTheFailureAndKeepsTheOldFile) {
  const std::string dir = FreshDir("file_write_full");
  const std::string path = dir + "Tessaly.ini";
  std::ofstream(path) << "[Main]\nLeft=10\n";
  // In a child: a file size limit makes every write past 64 KiB fail as on a full disk.
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit{65536, 65536};
    setrlimit(RLIMIT_FSIZE, &limit);
    std::string error;
    const bool written = platform::WriteFileAtomically(path, std::string(1 << 20, 'x'), &error);
    _exit(!written && !error.empty() ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the write did not fail";
  EXPECT_EQ(ReadBytes(path), "[Main]\nLeft=10\n");
  // No half-written temporary file stays behind.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
}

// Runs Write in a child and kills it (SIGKILL) once Started(child) holds: a write cut off in
// the middle, by a kill that nothing can catch.
template <class TWrite, class TStarted>
void KillWriterMidway(TWrite Write, TStarted Started) {
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    Write();
    _exit(0);
  }
  const bool started =
      testsupport::WaitUntil([&] { return Started(child); }, std::chrono::seconds(10));
  kill(child, SIGKILL);
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(started);
  EXPECT_TRUE(WIFSIGNALED(status)) << "the writer ended before it could be killed";
}

TEST(FileWriteInterrupted, AKillInTheMiddleOfTheWriteLeavesTheOldFile) {
  const std::string dir = FreshDir("file_write_killed");
  const std::string path = dir + "MVIni0.ini";
  std::ofstream(path) << "old";
  KillWriterMidway(
      [&] { platform::WriteFileAtomically(path, std::string(std::size_t(1) << 30, 'x')); },
      // once its temporary file has started to fill
      [&](pid_t) {
        for (const auto& e : fs::directory_iterator(dir)) {
          std::error_code ec;
          if (e.path().filename().string().starts_with(".MVIni0.ini.") && e.file_size(ec) > 0)
            return true;
        }
        return false;
      });
  EXPECT_EQ(ReadBytes(path), "old");
}

// A new file (the launcher's MVIni file) that must not replace anything: killed in the middle of
// its write, it leaves nothing at all, neither under its name nor beside it.
TEST(FileWriteInterrupted, AKillInTheMiddleOfANewFileLeavesNoFile) {
  const std::string dir = FreshDir("file_write_new_killed");
  const std::string path = dir + "MVIni0.ini";
  KillWriterMidway(
      [&] {
        platform::TFileWriteOptions options;
        options.Replace = false;
        options.Mode = 0600;
        platform::WriteFileAtomically(path, std::string(std::size_t(1) << 30, 'x'), nullptr,
                                      options);
      },
      // once the file it fills (seen through its descriptors) holds bytes
      [&](pid_t Child) {
        std::error_code ec;
        for (const auto& e : fs::directory_iterator("/proc/" + std::to_string(Child) + "/fd", ec)) {
          const std::string target = fs::read_symlink(e.path(), ec).string();
          if (target.starts_with(dir) && fs::file_size(e.path(), ec) > 0 && !ec) return true;
        }
        return false;
      });
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 0);
  // And a name that is taken is never replaced.
  std::ofstream(path) << "theirs";
  platform::TFileWriteOptions options;
  options.Replace = false;
  std::string error;
  EXPECT_FALSE(platform::WriteFileAtomically(path, "mine", &error, options));
  EXPECT_EQ(error, "File exists");
  EXPECT_EQ(ReadBytes(path), "theirs");
}

}  // namespace
