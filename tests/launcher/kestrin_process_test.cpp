// The built launcher as its own process, in a program folder of its own: what a stop signal does
// to a run, and two runs at once in one folder.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/process.h"
#include "tests/support/temp_folder.h"
#include "tests/support/wait.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Lines = std::vector<std::string>;

std::string ReadBytes(const std::string& Path) {
  std::ifstream in(Path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteBytes(const std::string& Path, const std::string& Bytes,
                fs::perms Mode = fs::perms(0644)) {
  std::ofstream(Path, std::ios::binary) << Bytes;
  fs::permissions(Path, Mode);
}

class KestrinProcess : public testing::Test {
 protected:
  void SetUp() override {
    fs::copy_file(KESTRIN_PROGRAM, Dir / "kestrin");
    fs::copy_file(EXIFREADER_LIBRARY, Dir / "libexifreader.so");
    WriteBytes(Dir / "camera.ini", "[x]\n");
    // It exists, so the calibration has nothing to say about it.
    WriteBytes(Dir / "a.jpg", "picture");
  }

  // An interface file for Receiver, and a receiver script of that name with Body.
  std::string Input(const std::string& Name, const std::string& Receiver, const std::string& Body) {
    WriteBytes(Dir / (Receiver + ".sh"), "#!/bin/sh\nd=$(dirname \"$0\")\n" + Body,
               fs::perms(0755));
    std::ofstream(Dir / "Kestrin.ini", std::ios::app)
        << "[" << Receiver << "]\nProgFile=" << Receiver << ".sh\n";
    WriteBytes(Dir / Name, "[General]\nCount=1\nSender=Praxis\nReceiver=" + Receiver +
                               "\n[Subject0]\nName=Muster\nBirthDate=01.02.1960\n[Image0]\nImage=" +
                               Dir / "a.jpg" + "\n");
    return Dir / Name;
  }

  pid_t Start(const std::string& InputFile) {
    const platform::TSpawned started =
        platform::SpawnProgram(Dir / "kestrin", {Dir / "kestrin", InputFile});
    EXPECT_EQ(started.Error, 0);
    return started.Pid;
  }

  // The wait status of Pid once it has ended; -1 when it does not end in time (then killed).
  static int EndOf(pid_t Pid) {
    int status = -1;
    const bool ended =
        testsupport::WaitUntil([&] { return waitpid(Pid, &status, WNOHANG) == Pid; }, 30s);
    if (!ended) {
      kill(Pid, SIGKILL);
      waitpid(Pid, &status, 0);
      return -1;
    }
    return status;
  }

  Lines Log() const {
    Lines lines;
    const std::string bytes = ReadBytes(Dir / "Kestrin.log");
    for (std::size_t at = 0; at < bytes.size();) {
      const std::size_t end = bytes.find("\r\n", at);
      if (end == std::string::npos) break;
      lines.push_back(bytes.substr(at, end - at));
      at = end + 2;
    }
    return lines;
  }

  testsupport::TTempFolder Dir{"kestrin_process"};
};

TEST_F(KestrinProcess, AStopSignalEndsTheReceiverRemovesTheFileAndClosesTheLog) {
  // The second receiver ignores the signal, so it must be killed.
  for (const std::string trap : {"", "trap '' TERM\n"}) {
    SCOPED_TRACE(trap.empty() ? "a receiver that ends on SIGTERM" : "one that ignores it");
    fs::remove(Dir / "pid");
    const std::string input = Input("in.ini", trap.empty() ? "Plain" : "Deaf",
                                    trap +
                                        "echo $$ > \"$d/pid.new\"\nmv \"$d/pid.new\" \"$d/pid\"\n"
                                        "exec sleep 1000\n");
    const pid_t kestrin = Start(input);
    ASSERT_TRUE(testsupport::WaitUntil([&] { return fs::exists(Dir / "pid"); }, 30s));
    const pid_t receiver = std::stoi(ReadBytes(Dir / "pid"));
    ASSERT_TRUE(fs::exists(Dir / "MVIni0.ini"));

    kill(kestrin, SIGTERM);
    const int status = EndOf(kestrin);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << "status " << status;
    const bool receiverGone = kill(receiver, 0) != 0 && errno == ESRCH;
    EXPECT_TRUE(receiverGone);
    if (!receiverGone) kill(receiver, SIGKILL);
    EXPECT_FALSE(fs::exists(Dir / "MVIni0.ini"));
    EXPECT_FALSE(fs::exists(Dir / "MVIni0.lock"));
    const Lines log = Log();
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(log[log.size() - 3], "Stopped by SIGTERM");
    EXPECT_TRUE(log[log.size() - 2].ends_with(" Close"));
    EXPECT_EQ(log.back(), "---------------------");
  }
}

TEST_F(KestrinProcess, TwoRunsInOneFolderKeepTheLogAndTheirLinesTogether) {
  const std::string first = Input("first.ini", "Waiter",
                                  "touch \"$d/waiting\"\n"
                                  "while [ ! -e \"$d/go-on\" ]; do sleep 0.02; done\n");
  const std::string second = Input("second.ini", "Quick", "exit 0\n");
  const pid_t a = Start(first);
  ASSERT_TRUE(testsupport::WaitUntil([&] { return fs::exists(Dir / "waiting"); }, 30s));
  // The second run starts, runs and ends while the first waits for its receiver.
  EXPECT_EQ(EndOf(Start(second)), 0);
  WriteBytes(Dir / "go-on", "");
  EXPECT_EQ(EndOf(a), 0);

  const Lines log = Log();
  const auto block = [&](std::size_t From, const std::string& Input, const std::string& Receiver,
                         const std::string& Number) {
    SCOPED_TRACE(Input);
    ASSERT_GE(log.size(), From + 7);
    EXPECT_TRUE(log[From].ends_with(" Start"));
    EXPECT_EQ(log[From + 1], "This program was called with:" + Dir / "kestrin");
    EXPECT_EQ(log[From + 2], "This program was called with:" + Input);
    EXPECT_EQ(log[From + 3], "IniAnaFile:" + Dir / "Kestrin.ini");
    EXPECT_EQ(log[From + 4], "Programcall:\"" + Dir / (Receiver + ".sh") + "\" \"" +
                                 Dir / ("MVIni" + Number + ".ini") + "\"");
    EXPECT_TRUE(log[From + 5].ends_with(" Close"));
    EXPECT_EQ(log[From + 6], "---------------------");
  };
  EXPECT_EQ(log.size(), 14u);
  block(0, first, "Waiter", "0");
  block(7, second, "Quick", "1");
}

}  // namespace
