// One message with at most one file descriptor over a SOCK_SEQPACKET socket: the transport
// between Tessaly and its decoder process (the messages themselves: decoder_protocol.h).
#pragma once

#include <cstddef>
#include <cstdint>

namespace overlay::decoder {

// The decoder's end of the socket pair, at this file descriptor in the decoder process.
constexpr int ChildSocketFd = 3;

// Owns a file descriptor; closes it when destroyed or reset.
class TFd {
 public:
  TFd() = default;
  explicit TFd(int Fd) : FFd(Fd) {}
  ~TFd() { Reset(); }
  TFd(TFd&& Other) noexcept : FFd(Other.Release()) {}
  TFd& operator=(TFd&& Other) noexcept {
    if (this != &Other) Reset(Other.Release());
    return *this;
  }
  TFd(const TFd&) = delete;
  TFd& operator=(const TFd&) = delete;

  int Get() const { return FFd; }
  bool Valid() const { return FFd >= 0; }
  int Release() {
    const int fd = FFd;
    FFd = -1;
    return fd;
  }
  void Reset(int Fd = -1);

 private:
  int FFd = -1;
};

// Sends Size bytes as one message, with PassFd (when >= 0) attached. Never raises SIGPIPE: a
// closed peer gives false.
bool SendMessage(int Socket, const std::uint8_t* Data, std::size_t Size, int PassFd);

// Receives one message of at most Capacity bytes into Buffer; a descriptor that came with it
// goes to *Received (close-on-exec). False at the end of the stream, on an error, for a message
// that did not fit, and when more than one descriptor came (every one is closed then).
// NonBlocking makes a socket without a waiting message give false at once.
bool ReceiveMessage(int Socket, std::uint8_t* Buffer, std::size_t Capacity, std::size_t* Size,
                    TFd* Received, bool NonBlocking);

}  // namespace overlay::decoder
