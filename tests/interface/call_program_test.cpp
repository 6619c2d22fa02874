// Starting the receiving program: its command line as logged, and the arguments it really
// gets.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QTimer>
#include <csignal>
#include <filesystem>
#include <fstream>

#include "interface/interfaceba.h"
#include "platform/message.h"

namespace {

using iface::TInterfaceBA;

std::string ReadBytes(const std::string& Path) {
  std::ifstream in(Path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(CallProgram, TheProgramGetsEachParameterExactlyAsGiven) {
  // A folder with a blank in its name; parameters with blanks, quotes and an empty one.
  const std::string dir = testing::TempDir() + "call program/";
  std::filesystem::create_directories(dir);
  const std::string prog = dir + "record args.sh";
  std::ofstream(prog) << "#!/bin/sh\nprintf '[%s]\\n' \"$@\" > \"$(dirname \"$0\")/args.txt\"\n"
                         "exit 7\n";
  chmod(prog.c_str(), 0755);

  TInterfaceBA ba(iface::miSend);
  EXPECT_TRUE(ba.SetProgramFile(prog));
  EXPECT_EQ(ba.BuildCommandLine(), "\"" + prog + "\"");
  ba.Parameters() = {"a b", "", "say \"hi\"", "$HOME;*"};
  EXPECT_EQ(ba.BuildCommandLine(), "\"" + prog + "\" \"a b\" \"say \"hi\"\" \"$HOME;*\"");
  platform::MessageRecorder boxes;
  // Started, so a success, whatever the program's exit status.
  const TInterfaceBA::TProgramCall call = ba.CallProgram();
  EXPECT_TRUE(call.Status.Ok());
  EXPECT_EQ(call.SystemReason, "");
  EXPECT_EQ(ReadBytes(dir + "args.txt"), "[a b]\n[say \"hi\"]\n[$HOME;*]\n");
  EXPECT_EQ(boxes.Texts(), std::vector<std::string>{});
}

TEST(CallProgram, AProgramThatCrashesStillCountsAsStartedAndEnded) {
  const std::string prog = testing::TempDir() + "crashing receiver.sh";
  std::ofstream(prog) << "#!/bin/sh\nkill -SEGV $$\n";
  chmod(prog.c_str(), 0755);
  TInterfaceBA ba(iface::miSend);
  EXPECT_TRUE(ba.SetProgramFile(prog));
  platform::MessageRecorder boxes;
  EXPECT_TRUE(ba.CallProgram().Status.Ok());
  EXPECT_EQ(boxes.Texts(), std::vector<std::string>{});
}

TEST(CallProgram, WhileAProgramRunsTheCallersEventsAreHandledUntilItEnds) {
  // A receiver that would never end on its own; the caller's own timer ends it.
  const std::string dir = testing::TempDir() + "endless/";
  std::filesystem::create_directories(dir);
  const std::string prog = dir + "endless.sh";
  std::ofstream(prog) << "#!/bin/sh\necho $$ > \"$(dirname \"$0\")/pid\"\nexec sleep 1000\n";
  chmod(prog.c_str(), 0755);
  std::filesystem::remove(dir + "pid");
  TInterfaceBA ba(iface::miSend);
  EXPECT_TRUE(ba.SetProgramFile(prog));
  int ticks = 0;
  QTimer timer;
  QObject::connect(&timer, &QTimer::timeout, [&] {
    ++ticks;
    std::ifstream in(dir + "pid");
    pid_t pid = 0;
    if (in >> pid && pid > 0 && ticks >= 3) ::kill(pid, SIGTERM);
  });
  timer.start(50);
  EXPECT_TRUE(ba.CallProgram().Status.Ok());
  EXPECT_GE(ticks, 3);
}

// The reason is the caller's to show; the record shows nothing itself.
TEST(CallProgram, AMissingProgramIsNeverStarted) {
  TInterfaceBA ba(iface::miSend);
  platform::MessageRecorder boxes;
  const TInterfaceBA::TProgramCall none = ba.CallProgram();
  EXPECT_FALSE(none.Status.Ok());
  EXPECT_TRUE(ba.SetProgramFile(testing::TempDir() + "no such program"));
  const TInterfaceBA::TProgramCall missing = ba.CallProgram();
  EXPECT_FALSE(missing.Status.Ok());
  EXPECT_EQ(missing.SystemReason, "");
  EXPECT_EQ((std::vector<std::string>{none.Status.Reason(), missing.Status.Reason()}),
            (std::vector<std::string>{"Das Programm '' existiert nicht! [ProgramFile]",
                                      "Das Programm '" + testing::TempDir() +
                                          "no such program' existiert nicht! "
                                          "[ProgramFile]"}));
  EXPECT_TRUE(boxes.Texts().empty());
}

}  // namespace
