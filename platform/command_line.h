// The command line of every program: the window programs' parameters after the window framework
// has taken its own options, and the one frame every command-line tool reads its arguments with
// (a table of options, the names that are no options, --help, --version, the exit statuses and
// the one form of a failure on standard error). Parameter 1 is the first after the program's
// name.
#pragma once

#include <cstddef>
#include <functional>
#include <iosfwd>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"

namespace platform {

// Set once by the program entry; tests set what a calling application would pass.
void SetProgramParameters(std::vector<std::string> Parameters);
// The number of parameters, and parameter Index (1-based); empty beyond the last. Parameter 0
// is the running program's own file.
int ParamCount();
std::string ParamStr(int Index);

// A program entry's body, run so that no exception leaves the program as an abort: what escapes
// Body (memory that ran out, a broken invariant) becomes one line "<Program>: <what>" on
// standard error and exit status 1. The windows' programs show what escapes their windows
// before; this is for what is left.
int RunGuarded(const char* Program, const std::function<int()>& Body);

// The exit statuses of every tool: done, failed (a file not read or written, no result), and a
// command line that cannot be carried out.
constexpr int ExitDone = 0;
constexpr int ExitFailed = 1;
constexpr int ExitUsage = 2;

// A command line that cannot be carried out; its text says why, for the usage line.
class ECommandLineError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The version every program was built as ("0.9.0").
const char* ProgramVersion();

// A reason's lines as one line of standard error: each run of line breaks becomes ": ", or a
// blank after a line that ends in a full stop (or :;!?).
std::string OneLine(std::string Text);

// An option's value as a number ("+" allowed, finite); ECommandLineError "<Option> needs numbers,
// not "<Text>"" for anything else.
double ParseNumber(const std::string& Option, std::string_view Text);
// Raises ECommandLineError "expected <Expected>, got N name(s)" unless Min <= Names.size() <= Max.
void ExpectNames(const std::vector<std::string>& Names, std::size_t Min, std::size_t Max,
                 const std::string& Expected);

// A tool's command line as a table of options. An argument that starts with "--" is an option:
// "--name" alone, or with a value as "--name value" or "--name=value" (the next argument is the
// value whatever it looks like). "--" ends the options, "-h" and "--help" print the usage text,
// "--version" the version line; every other argument ("-" alone, "-5", "-name") is a name, such
// as a file's.
class TCommandLine {
 public:
  using TBody = std::function<int(const std::vector<std::string>& Names)>;

  // Program begins every message ("tessaly-dicom export"), its first word the version line;
  // Usage is what --help prints on Out. Failures go to Err.
  TCommandLine(std::string Program, std::string Usage, std::ostream& Out, std::ostream& Err);

  // An option without a value ("--json").
  TCommandLine& Flag(std::string Name, std::function<void()> Take);
  // An option with a value; Take raises ECommandLineError for a value it refuses.
  TCommandLine& Option(std::string Name, std::function<void(const std::string& Value)> Take);
  // Options stand only before the first name, and every argument after it is a name: the
  // arguments of a command (tessaly-dicom export ..., iniprofile set FILE SECTION KEY VALUE).
  TCommandLine& OptionsBeforeFirstName();

  // Reads Args (without the program's name) and runs Body with the names. Returns ExitDone for
  // --help and --version (answered on Out), else Body's status. An ECommandLineError raised while
  // reading, or by Body for what it checks across options and names before any work, gives one
  // line "<Program>: <why>" and a pointer to --help on Err and ExitUsage; another exception
  // escaping Body is a failure (Fail).
  int Run(const std::vector<std::string>& Args, const TBody& Body) const;

  // For a program whose arguments another reads (the window framework its options, then the
  // program its files): answers "-h", "--help" or "--version" as the first argument, as Run
  // does. True when it did.
  bool AnswerFirst(const std::vector<std::string>& Args) const;

  // The one way a tool tells a failure: "<Program>: <Reason>" on Err. Returns ExitFailed.
  int Fail(std::string_view Reason) const;
  int Fail(const TStatus& Status) const { return Fail(Status.Reason()); }
  const std::string& Program() const { return FProgram; }

 private:
  struct TEntry {
    std::string Name;
    bool TakesValue;
    std::function<void(const std::string& Value)> Take;
  };
  // True when Argument was --help or --version, answered.
  bool Answered(const std::string& Argument) const;
  // The names of Args, having given every option to its Take; nothing when --help or --version
  // was answered.
  std::optional<std::vector<std::string>> Names(const std::vector<std::string>& Args) const;

  std::string FProgram, FUsage;
  std::ostream& FOut;
  std::ostream& FErr;
  std::vector<TEntry> FOptions;
  bool FOptionsBeforeFirstName = false;
};

}  // namespace platform
