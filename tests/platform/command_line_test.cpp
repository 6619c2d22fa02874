#include "platform/command_line.h"

#include <gtest/gtest.h>

#include <sstream>

namespace platform {
namespace {

constexpr const char* Usage = "Usage: tool [--verbose] [--size N] NAME...\n";
constexpr const char* TryHelp = "Try 'tool --help' for more information.\n";

struct TRun {
  int Status;
  std::string Out, Err;
};

// A tool with an option without a value and one with a value; it prints what it read, and fails
// without a name. CommandFirst: the options stand before the first name only.
TRun RunTool(const std::vector<std::string>& Args, bool CommandFirst = false) {
  std::ostringstream out, err;
  bool verbose = false;
  std::string size;
  TCommandLine line("tool", Usage, out, err);
  line.Flag("--verbose", [&] { verbose = true; }).Option("--size", [&](const std::string& V) {
    if (V == "bad") throw ECommandLineError("--size is not bad");
    size = V;
  });
  if (CommandFirst) line.OptionsBeforeFirstName();
  const int status = line.Run(Args, [&](const std::vector<std::string>& Names) {
    out << "verbose=" << verbose << " size=" << size;
    for (const std::string& n : Names) out << " [" << n << "]";
    return Names.empty() ? line.Fail("no names") : ExitDone;
  });
  return {status, out.str(), err.str()};
}

TEST(CommandLine, ReadsOptionsAndNamesAndTellsWhatItCannotUse) {
  const std::string version = "tool " + std::string(ProgramVersion()) + "\n";
  const struct {
    std::vector<std::string> Args;
    bool CommandFirst;
    TRun Expected;
  } cases[] = {
      {{"--verbose", "--size", "3", "a"}, false, {0, "verbose=1 size=3 [a]", ""}},
      {{"--size=-4", "a", "-", "-5"}, false, {0, "verbose=0 size=-4 [a] [-] [-5]", ""}},
      {{"--size", "--verbose", "a"}, false, {0, "verbose=0 size=--verbose [a]", ""}},
      {{"a", "--", "--verbose", "-h"}, false, {0, "verbose=0 size= [a] [--verbose] [-h]", ""}},
      {{"--verbose", "get", "--size", "-h"}, true, {0, "verbose=1 size= [get] [--size] [-h]", ""}},
      {{"a", "--size"}, false, {2, "", "tool: --size needs a value\n" + std::string(TryHelp)}},
      {{"--bogus", "a"}, false, {2, "", "tool: unknown option --bogus\n" + std::string(TryHelp)}},
      {{"--verbose=1", "a"},
       false,
       {2, "", "tool: --verbose takes no value\n" + std::string(TryHelp)}},
      {{"--size", "bad", "a"}, false, {2, "", "tool: --size is not bad\n" + std::string(TryHelp)}},
      {{"a", "--help", "--bogus"}, false, {0, Usage, ""}},
      {{"-h"}, false, {0, Usage, ""}},
      {{"--version", "a"}, false, {0, version, ""}},
      {{}, false, {1, "verbose=0 size=", "tool: no names\n"}},
  };
  for (const auto& c : cases) {
    const TRun run = RunTool(c.Args, c.CommandFirst);
    EXPECT_EQ(run.Status, c.Expected.Status) << c.Expected.Out << c.Expected.Err;
    EXPECT_EQ(run.Out, c.Expected.Out);
    EXPECT_EQ(run.Err, c.Expected.Err);
  }
}

TEST(CommandLine, PutsAReasonOnOneLine) {
  EXPECT_EQ(OneLine("cannot write\n/a/b.png"), "cannot write: /a/b.png");
  EXPECT_EQ(OneLine("Das Bild ist beschädigt.\n\n[/a/b.jpg]"),
            "Das Bild ist beschädigt. [/a/b.jpg]");
}

}  // namespace
}  // namespace platform
