// Where the files found by name are read and written: a program folder the user cannot write
// (an installation) against a portable one, with the user's and an administrator's copies.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>

#include "platform/file_write.h"
#include "platform/ini_profile.h"
#include "platform/paths.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

void Put(const fs::path& Path, const std::string& Bytes) {
  fs::create_directories(Path.parent_path());
  std::ofstream(Path, std::ios::binary) << Bytes;
}

// Root writes into any folder, read-only or not, so as root the body runs in a child process
// as an unprivileged user; it makes its own folders there, in the folder all users share.
void RunUnprivileged(const std::function<void(const fs::path&)>& Body) {
  const auto inFolder = [&] {
    char pattern[] = "/tmp/tessaly_program_files_XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const fs::path dir = pattern;
    Body(dir);
    std::error_code ec;
    fs::permissions(dir / "program", fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(dir, ec);
  };
  if (::geteuid() != 0) {
    inFolder();
    return;
  }
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(3);
    inFolder();
    ::_exit(::testing::Test::HasFailure() ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the unprivileged part failed";
}

// The folders the rule looks at, all inside Dir.
struct TFolders {
  explicit TFolders(const fs::path& Dir)
      : Program(Dir / "program"),
        User(Dir / "config" / "tessaly"),
        State(Dir / "state" / "tessaly"),
        Admin1(Dir / "etc1" / "tessaly"),
        Admin2(Dir / "etc2" / "tessaly") {
    fs::create_directories(Program);
    ::setenv("XDG_CONFIG_HOME", (Dir / "config").c_str(), 1);
    ::setenv("XDG_STATE_HOME", (Dir / "state").c_str(), 1);
    // A relative entry is no folder of the rule's.
    const std::string dirs = (Dir / "etc1").string() + ":relative:" + (Dir / "etc2").string();
    ::setenv("XDG_CONFIG_DIRS", dirs.c_str(), 1);
    OverrideProgramDirectory(Program.string() + "/");
  }
  ~TFolders() { OverrideProgramDirectory(""); }
  fs::path Program, User, State, Admin1, Admin2;
};

TEST(ProgramFiles, AReadOnlyProgramFolderWritesIntoTheUsersFolderAndFindsItThere) {
  RunUnprivileged([](const fs::path& Dir) {
    TFolders f(Dir);
    Put(f.Program / "Tessaly.ini", "[Output]\r\nImageCount=3\r\n");
    Put(f.Program / "camera.ini", "[Cam]\r\nPp100MM=1\r\n");
    fs::permissions(f.Program, fs::perms::owner_read | fs::perms::owner_exec);
    ASSERT_FALSE(ProgramFolderWritable());

    // The shipped settings are read, and the first write starts from them in the user's folder.
    TProgramFileLocation settings = LocateProgramFile("Tessaly.ini");
    EXPECT_EQ(settings.Read, (f.Program / "Tessaly.ini").string());
    EXPECT_EQ(settings.Write, (f.User / "Tessaly.ini").string());
    ASSERT_TRUE(PrepareToWrite(settings));
    TIniFile(settings.Write).WriteInteger("FormOptions", "Top", 40);
    EXPECT_EQ(fs::status(f.User).permissions() & fs::perms::all, fs::perms::owner_all);
    settings = LocateProgramFile("Tessaly.ini");
    EXPECT_EQ(settings.Read, settings.Write);
    EXPECT_EQ(TIniFile(settings.Read).ReadInteger("Output", "ImageCount", 0), 3);
    EXPECT_EQ(TIniFile(settings.Read).ReadInteger("FormOptions", "Top", 0), 40);

    // The camera table: the user's copy before the administrators' (in their order, either
    // spelling) before the shipped one.
    const auto camera = [] {
      return LocateProgramFile(std::vector<std::string>{"camera.ini", "Camera.ini"}).Read;
    };
    EXPECT_EQ(camera(), (f.Program / "camera.ini").string());
    Put(f.Admin2 / "Camera.ini", "");
    EXPECT_EQ(camera(), (f.Admin2 / "Camera.ini").string());
    Put(f.Admin1 / "camera.ini", "");
    EXPECT_EQ(camera(), (f.Admin1 / "camera.ini").string());
    Put(f.User / "Camera.ini", "");
    EXPECT_EQ(camera(), (f.User / "Camera.ini").string());

    // The log and the interface files handed on go to the user's state folder, never to an
    // administrator's.
    Put(f.Admin1 / "Kestrin.log", "");
    EXPECT_EQ(LocateProgramFile("Kestrin.log", TFileKind::State).Write,
              (f.State / "Kestrin.log").string());
    EXPECT_EQ(WritableFolder(TFileKind::State), f.State.string() + "/");
    EXPECT_TRUE(fs::is_directory(f.State));
  });
}

TEST(ProgramFiles, APortableProgramFolderKeepsItsFilesBesideThePrograms) {
  RunUnprivileged([](const fs::path& Dir) {
    TFolders f(Dir);
    ASSERT_TRUE(ProgramFolderWritable());
    EXPECT_EQ(WritableFolder(TFileKind::State), f.Program.string() + "/");
    // Nothing anywhere: read and written beside the program.
    TProgramFileLocation settings = LocateProgramFile("Tessaly.ini");
    EXPECT_EQ(settings.Read, (f.Program / "Tessaly.ini").string());
    EXPECT_EQ(settings.Write, settings.Read);

    // An administrator's defaults are read until the program's own file exists, and its first
    // write keeps them.
    Put(f.Admin2 / "Tessaly.ini", "[Output]\nImageCount=7\n");
    settings = LocateProgramFile("Tessaly.ini");
    EXPECT_EQ(settings.Read, (f.Admin2 / "Tessaly.ini").string());
    EXPECT_EQ(settings.Write, (f.Program / "Tessaly.ini").string());
    ASSERT_TRUE(PrepareToWrite(settings));
    TIniFile(settings.Write).WriteInteger("FormOptions", "Left", 9);
    settings = LocateProgramFile("Tessaly.ini");
    EXPECT_EQ(settings.Read, (f.Program / "Tessaly.ini").string());
    EXPECT_EQ(TIniFile(settings.Read).ReadInteger("Output", "ImageCount", 0), 7);
    EXPECT_FALSE(fs::exists(f.User));  // nothing was put into the user's folder

    // A user's copy wins for reading and writing alike.
    Put(f.User / "Tessaly.ini", "");
    settings = LocateProgramFile("Tessaly.ini");
    EXPECT_EQ(settings.Read, (f.User / "Tessaly.ini").string());
    EXPECT_EQ(settings.Write, settings.Read);
  });
}

}  // namespace
}  // namespace platform
