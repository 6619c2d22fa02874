// Where the running program lies. Every file that a program finds by a bare name (settings,
// language file, print template, tables) lies in its directory.
#pragma once

#include <string>

namespace platform {

// The running program's executable, resolved through /proc/self/exe; empty when it cannot be
// read.
std::string ProgramFile();
// The directory of ProgramFile, ending in "/" (just "/" for a program in the root, "./" when
// the executable cannot be found).
std::string ProgramDirectory();

// Whether a regular file (links followed) lies at Path, and whether a folder does; an empty
// Path is neither. These are the "exists" of every file the programs find by name.
bool FileExists(const std::string& Path);
bool DirectoryExists(const std::string& Path);

// Makes ProgramDirectory answer Directory (ending in "/") instead, so that a test can give the
// code under test a program directory of its own; an empty Directory restores the real one.
void OverrideProgramDirectory(std::string Directory);

}  // namespace platform
