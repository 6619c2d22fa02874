#include "overlay/decode/decoder_channel.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace overlay::decoder {

void TFd::Reset(int Fd) {
  if (FFd >= 0) ::close(FFd);
  FFd = Fd;
}

bool SendMessage(int Socket, const std::uint8_t* Data, std::size_t Size, int PassFd) {
  iovec iov{const_cast<std::uint8_t*>(Data), Size};
  msghdr msg{};
  msg.msg_iov = &iov;
  msg.msg_iovlen = 1;
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
  if (PassFd >= 0) {
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    cmsghdr* header = CMSG_FIRSTHDR(&msg);
    header->cmsg_level = SOL_SOCKET;
    header->cmsg_type = SCM_RIGHTS;
    header->cmsg_len = CMSG_LEN(sizeof(int));
    std::memcpy(CMSG_DATA(header), &PassFd, sizeof(int));
  }
  for (;;) {
    const ssize_t sent = ::sendmsg(Socket, &msg, MSG_NOSIGNAL);
    if (sent >= 0) return std::size_t(sent) == Size;
    if (errno != EINTR) return false;
  }
}

bool ReceiveMessage(int Socket, std::uint8_t* Buffer, std::size_t Capacity, std::size_t* Size,
                    TFd* Received, bool NonBlocking) {
  iovec iov{Buffer, Capacity};
  msghdr msg{};
  msg.msg_iov = &iov;
  msg.msg_iovlen = 1;
  // Room for a few descriptors, so that a peer sending several is seen doing so (and every one
  // it sent is closed) instead of some being dropped unnoticed.
  alignas(cmsghdr) char control[CMSG_SPACE(4 * sizeof(int))];
  msg.msg_control = control;
  msg.msg_controllen = sizeof control;
  ssize_t got;
  do {
    got = ::recvmsg(Socket, &msg, MSG_CMSG_CLOEXEC | (NonBlocking ? MSG_DONTWAIT : 0));
  } while (got < 0 && errno == EINTR);
  if (got < 0) return false;

  int count = 0;
  TFd first;
  for (cmsghdr* header = CMSG_FIRSTHDR(&msg); header != nullptr;
       header = CMSG_NXTHDR(&msg, header)) {
    if (header->cmsg_level != SOL_SOCKET || header->cmsg_type != SCM_RIGHTS) continue;
    const std::size_t n = (header->cmsg_len - CMSG_LEN(0)) / sizeof(int);
    for (std::size_t i = 0; i < n; ++i) {
      int fd;
      std::memcpy(&fd, CMSG_DATA(header) + i * sizeof(int), sizeof(int));
      if (count++ == 0) {
        first.Reset(fd);
      } else {
        ::close(fd);
      }
    }
  }
  if (got == 0 || count > 1 || (msg.msg_flags & (MSG_TRUNC | MSG_CTRUNC)) != 0) return false;
  *Size = std::size_t(got);
  if (Received != nullptr) *Received = std::move(first);
  return true;
}

}  // namespace overlay::decoder
