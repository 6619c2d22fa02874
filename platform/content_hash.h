// The SHA-256 of a file's contents, to know two pictures again wherever they lie now.
#pragma once

#include <string>

namespace platform {

// Lower-case hexadecimal, 64 digits; empty when the file cannot be read.
std::string Sha256OfFile(const std::string& Path);

}  // namespace platform
