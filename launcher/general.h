// The launcher's log: one plain text file (beside the program, or where platform/paths.h places
// it) that says what a run did and why it failed. Every run starts a new log.
#pragma once

#include <string>

namespace launcher {

// The program directory + "Kestrin.log".
std::string LogFileName();
// Appends Text and a line end (CR LF). The file is opened and closed for every line, so each
// line is on disk when the call returns; a line that cannot be written is dropped.
void WriteLog(const std::string& Text);
// Deletes the log; nothing happens when there is none.
void DeleteLogFile();

}  // namespace launcher
