// Starting the receiving program and waiting for its end: what TInterfaceBA::CallProgram does,
// as plain functions of the program file and its parameters.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/status.h"

namespace iface {

// What a call of the receiving program did. Status: success when the program was started
// (whatever its exit status), else a failure whose reason is the text for the user (the missing
// program, or the failed command line). SystemReason: the system's reason why a program that
// exists could not be started, empty otherwise.
struct TProgramCall {
  platform::TStatus Status;
  std::string SystemReason;
};

// Success when a file exists at Program; otherwise a failure whose reason says so.
platform::TStatus ProgramFileExists(const std::string& Program);

// The command line as text, for logs: the quoted program and the quoted non-empty parameters,
// nothing escaped. The program itself gets the arguments as they are.
std::string CommandLineText(const std::string& Program, const std::vector<std::string>& Parameters);

// Starts Program with the non-empty Parameters as its arguments (never through a shell), with
// the signal handling of a fresh start, and returns when it has ended, handling the caller's
// pending events at least every 100 ms. A started program counts as ready for input at once.
// Running, when given, is told the program's process id once it has started and -1 once it has
// ended and been reaped, so that an event handled meanwhile may signal it (never a reused id).
TProgramCall RunProgram(const std::string& Program, const std::vector<std::string>& Parameters,
                        const std::function<void(pid_t)>& Running = {});

}  // namespace iface
