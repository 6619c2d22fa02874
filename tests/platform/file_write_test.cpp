// The folder the print writes into: a private folder of the user's own, wherever TEMP, TMPDIR
// and HOME point.
#include "platform/file_write.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace {

namespace fs = std::filesystem;

// The environment variables TempDirectory reads, put back as they were at the end.
class TempDirectoryTest : public ::testing::Test {
 protected:
  TempDirectoryTest() {
    for (const char* name : {"TEMP", "TMPDIR", "XDG_CACHE_HOME", "HOME"}) {
      const char* value = getenv(name);
      Kept.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
      unsetenv(name);
    }
    fs::remove_all(Base);
    fs::create_directories(Base);
  }
  ~TempDirectoryTest() override {
    for (const auto& [name, value] : Kept) {
      if (value)
        setenv(name.c_str(), value->c_str(), 1);
      else
        unsetenv(name.c_str());
    }
    fs::remove_all(Base);
  }
  static struct stat Stat(const std::string& Path) {
    struct stat st {};
    EXPECT_EQ(lstat(Path.c_str(), &st), 0) << Path;
    return st;
  }
  static bool Private(const std::string& Dir) {
    const struct stat st = Stat(Dir);
    return S_ISDIR(st.st_mode) && (st.st_mode & 0777) == 0700 && st.st_uid == geteuid();
  }

  const std::string Base = testing::TempDir() + "temp_base_" + std::to_string(getpid());
  const std::string Own = "tessaly-" + std::to_string(geteuid());
  std::vector<std::pair<std::string, std::optional<std::string>>> Kept;
};

TEST_F(TempDirectoryTest, AFolderOfTheUsersOwnInsideTempNeverALinkOrAFolderOpenToOthers) {
  setenv("TEMP", Base.c_str(), 1);
  const std::string named = Base + "/" + Own + "/";
  EXPECT_EQ(platform::TempDirectory(), named);
  EXPECT_TRUE(Private(named));
  unsetenv("TEMP");
  setenv("TMPDIR", (Base + "/").c_str(), 1);
  EXPECT_EQ(platform::TempDirectory(), named);

  // A link at the name, even to a folder of ours, and a folder that others may read are left
  // alone: a fresh folder of our own is taken instead, the same one for the rest of the run.
  fs::rename(named, Base + "/moved");
  fs::create_directory_symlink(Base + "/moved", Base + "/" + Own);
  const std::string fresh = platform::TempDirectory();
  EXPECT_EQ(fresh.rfind(Base + "/" + Own + "-", 0), 0u) << fresh;
  EXPECT_TRUE(Private(fresh));
  fs::remove(Base + "/" + Own);
  fs::create_directory(named);
  fs::permissions(named, fs::perms::owner_all | fs::perms::group_read | fs::perms::others_read);
  EXPECT_EQ(platform::TempDirectory(), fresh);
  EXPECT_EQ(Stat(named).st_mode & 0777, 0744u);

  // A TEMP that names no folder gives none.
  setenv("TMPDIR", (Base + "/missing").c_str(), 1);
  std::string error;
  EXPECT_EQ(platform::TempDirectory(&error), "");
  EXPECT_NE(error.find(Base + "/missing"), std::string::npos) << error;
}

TEST_F(TempDirectoryTest, WithoutTempTheUsersCacheElseAFolderOfItsOwnInTheSystemsTemp) {
  const std::string home = Base + "/home";
  fs::create_directories(home);
  setenv("HOME", home.c_str(), 1);
  EXPECT_EQ(platform::TempDirectory(), home + "/.cache/tessaly-tmp/");
  EXPECT_TRUE(Private(home + "/.cache/tessaly-tmp"));

  // A service user's HOME that does not exist is not made; the system's temporary folder
  // holds a folder of the user's own instead.
  const std::string system = std::string(P_tmpdir) + "/" + Own;
  const bool existed = fs::exists(fs::symlink_status(system));
  setenv("HOME", (Base + "/no-such-home").c_str(), 1);
  const std::string dir = platform::TempDirectory();
  EXPECT_EQ(dir.rfind(system, 0), 0u) << dir;
  EXPECT_TRUE(Private(dir));
  EXPECT_FALSE(fs::exists(Base + "/no-such-home"));
  std::error_code ec;
  if (!existed) fs::remove(system, ec);  // only when empty
}

TEST_F(TempDirectoryTest, AFolderOfAnotherUserUnderTheNameIsNeverTaken) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to own a folder as another user";
  const std::string named = Base + "/" + Own;
  fs::create_directory(named);
  fs::permissions(named, fs::perms::owner_all);
  ASSERT_EQ(chown(named.c_str(), 65534, 65534), 0);
  setenv("TEMP", Base.c_str(), 1);
  const std::string dir = platform::TempDirectory();
  EXPECT_NE(dir, named + "/");
  EXPECT_TRUE(Private(dir)) << dir;
  EXPECT_EQ(Stat(named).st_uid, 65534u);
}

// What a run that ended abruptly left of its folders goes; the folders of a running process, and
// other names, stay.
TEST_F(TempDirectoryTest, FoldersOfEndedProcessesAreRemovedAndOnlyThose) {
  const pid_t ended = fork();
  if (ended == 0) _exit(0);
  ASSERT_EQ(waitpid(ended, nullptr, 0), ended);
  std::string ours = platform::ProcessFolderPattern(Base + "/dicom-");
  ASSERT_NE(mkdtemp(ours.data()), nullptr);
  const std::string id = std::to_string(ended);
  const std::vector<std::pair<std::string, bool>> folders{
      {Base + "/dicom-" + id + "-a1B2c3", false},  // its process has ended
      {ours, true},                                // this one runs
      {Base + "/dicom-" + id + "-a1B2", true},     // not a name the pattern makes
      {Base + "/pacs-" + id + "-a1B2c3", true},    // another prefix
  };
  for (const auto& [path, stays] : folders) {
    fs::create_directories(path + "/objects");
    std::FILE* file = std::fopen((path + "/objects/1.dcm").c_str(), "w");
    ASSERT_NE(file, nullptr);
    std::fclose(file);
  }
  platform::RemoveFoldersOfEndedProcesses(Base, "dicom-");
  for (const auto& [path, stays] : folders) EXPECT_EQ(fs::exists(path), stays) << path;
}

}  // namespace
