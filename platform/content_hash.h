// The SHA-256 of a file's contents, to know two pictures again wherever they lie now.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// Lower-case hexadecimal, 64 digits; empty when the file cannot be read.
std::string Sha256OfFile(const std::string& Path);
// The same of Text's bytes.
std::string Sha256OfText(std::string_view Text);

}  // namespace platform
