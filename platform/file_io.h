// Reading and writing a stretch of a file whole. One pread or pwrite may move fewer bytes than
// asked for, or none when a signal arrives first; these loops go on until every byte has gone.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

// Reads Bytes from Fd, starting at Offset, into Target. False on an error (errno says which)
// and when the file ends before Bytes have been read.
bool ReadAt(int Fd, void* Target, std::size_t Bytes, std::uint64_t Offset);

// Writes Bytes of Data to Fd, starting at Offset. False on an error (errno says which).
bool WriteAt(int Fd, const void* Data, std::size_t Bytes, std::uint64_t Offset);

}  // namespace platform
