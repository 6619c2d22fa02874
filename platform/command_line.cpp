#include "platform/command_line.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <exception>
#include <iostream>

#include "platform/paths.h"

#ifndef TESSALY_VERSION
#define TESSALY_VERSION "unknown"
#endif

namespace platform {

namespace {
std::vector<std::string>& Parameters() {
  static std::vector<std::string> parameters;
  return parameters;
}

// "<Program>: <Reason>" on a line of Err.
int Tell(std::ostream& Err, std::string_view Program, std::string_view Reason) {
  Err << Program << ": " << Reason << "\n";
  return ExitFailed;
}
}  // namespace

void SetProgramParameters(std::vector<std::string> Parameters_) {
  Parameters() = std::move(Parameters_);
}

int ParamCount() {
  return int(Parameters().size());
}

std::string ParamStr(int Index) {
  if (Index == 0) return ProgramFile();
  if (Index < 1 || Index > ParamCount()) return {};
  return Parameters()[std::size_t(Index - 1)];
}

int RunGuarded(const char* Program, const std::function<int()>& Body) {
  try {
    return Body();
  } catch (const std::exception& e) {
    Tell(std::cerr, Program, e.what());
  } catch (...) {
    Tell(std::cerr, Program, "unknown error");
  }
  return ExitFailed;
}

const char* ProgramVersion() {
  return TESSALY_VERSION;
}

std::string OneLine(std::string Text) {
  for (std::size_t at; (at = Text.find('\n')) != std::string::npos;) {
    // A line that ends a sentence needs no colon after it.
    const bool ended = at > 0 && std::string_view(".:;!?").find(Text[at - 1]) != std::string::npos;
    Text.replace(at, Text.find_first_not_of('\n', at) - at, ended ? " " : ": ");
  }
  return Text;
}

double ParseNumber(const std::string& Option, std::string_view Text) {
  if (!Text.empty() && Text.front() == '+') Text.remove_prefix(1);
  double value = 0;
  const auto [end, ec] = std::from_chars(Text.data(), Text.data() + Text.size(), value);
  if (Text.empty() || ec != std::errc() || end != Text.data() + Text.size() ||
      !std::isfinite(value)) {
    throw ECommandLineError(Option + " needs numbers, not \"" + std::string(Text) + "\"");
  }
  return value;
}

void ExpectNames(const std::vector<std::string>& Names, std::size_t Min, std::size_t Max,
                 const std::string& Expected) {
  if (Names.size() < Min || Names.size() > Max) {
    throw ECommandLineError("expected " + Expected + ", got " + std::to_string(Names.size()) +
                            " name(s)");
  }
}

TCommandLine::TCommandLine(std::string Program, std::string Usage, std::ostream& Out,
                           std::ostream& Err)
    : FProgram(std::move(Program)), FUsage(std::move(Usage)), FOut(Out), FErr(Err) {}

TCommandLine& TCommandLine::Flag(std::string Name, std::function<void()> Take) {
  FOptions.push_back(
      {std::move(Name), false, [Take = std::move(Take)](const std::string&) { Take(); }});
  return *this;
}

TCommandLine& TCommandLine::Option(std::string Name,
                                   std::function<void(const std::string& Value)> Take) {
  FOptions.push_back({std::move(Name), true, std::move(Take)});
  return *this;
}

TCommandLine& TCommandLine::OptionsBeforeFirstName() {
  FOptionsBeforeFirstName = true;
  return *this;
}

bool TCommandLine::Answered(const std::string& Argument) const {
  if (Argument == "-h" || Argument == "--help") {
    FOut << FUsage;
    return true;
  }
  if (Argument == "--version") {
    FOut << FProgram.substr(0, FProgram.find(' ')) << " " << ProgramVersion() << "\n";
    return true;
  }
  return false;
}

bool TCommandLine::AnswerFirst(const std::vector<std::string>& Args) const {
  return !Args.empty() && Answered(Args.front());
}

std::optional<std::vector<std::string>> TCommandLine::Names(
    const std::vector<std::string>& Args) const {
  std::vector<std::string> names;
  bool optionsEnded = false;
  for (std::size_t i = 0; i < Args.size(); ++i) {
    const std::string& arg = Args[i];
    if (optionsEnded || (arg.rfind("--", 0) != 0 && arg != "-h")) {
      names.push_back(arg);
      optionsEnded = optionsEnded || FOptionsBeforeFirstName;
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    if (Answered(arg)) return std::nullopt;
    const std::size_t eq = arg.find('=');
    const std::string name = arg.substr(0, eq);
    const auto entry = std::find_if(FOptions.begin(), FOptions.end(),
                                    [&](const TEntry& E) { return E.Name == name; });
    if (entry == FOptions.end()) throw ECommandLineError("unknown option " + name);
    if (!entry->TakesValue && eq != std::string::npos) {
      throw ECommandLineError(name + " takes no value");
    }
    if (!entry->TakesValue || eq != std::string::npos) {
      entry->Take(eq == std::string::npos ? std::string() : arg.substr(eq + 1));
    } else if (i + 1 < Args.size()) {
      entry->Take(Args[++i]);
    } else {
      throw ECommandLineError(name + " needs a value");
    }
  }
  return names;
}

int TCommandLine::Run(const std::vector<std::string>& Args, const TBody& Body) const {
  try {
    const std::optional<std::vector<std::string>> names = Names(Args);
    return names ? Body(*names) : ExitDone;
  } catch (const ECommandLineError& e) {
    Tell(FErr, FProgram, e.what());
    FErr << "Try '" << FProgram << " --help' for more information.\n";
    return ExitUsage;
  } catch (const std::exception& e) {
    return Fail(e.what());
  }
}

int TCommandLine::Fail(std::string_view Reason) const {
  return Tell(FErr, FProgram, Reason);
}

}  // namespace platform
