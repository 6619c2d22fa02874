#include "platform/file_io.h"

#include <unistd.h>

#include <cerrno>

namespace platform {

namespace {

// Calls Transfer(done) until Bytes have gone; Transfer moves the bytes from done on, as pread
// or pwrite, and returns what that call returned.
template <typename TTransfer>
bool TransferAll(std::size_t Bytes, TTransfer Transfer) {
  for (std::size_t done = 0; done < Bytes;) {
    const ssize_t n = Transfer(done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += std::size_t(n);
  }
  return true;
}

}  // namespace

bool ReadAt(int Fd, void* Target, std::size_t Bytes, std::uint64_t Offset) {
  return TransferAll(Bytes, [&](std::size_t Done) {
    return ::pread(Fd, static_cast<char*>(Target) + Done, Bytes - Done, off_t(Offset + Done));
  });
}

bool WriteAt(int Fd, const void* Data, std::size_t Bytes, std::uint64_t Offset) {
  return TransferAll(Bytes, [&](std::size_t Done) {
    return ::pwrite(Fd, static_cast<const char*>(Data) + Done, Bytes - Done, off_t(Offset + Done));
  });
}

}  // namespace platform
