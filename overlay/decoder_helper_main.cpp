// tessaly-decode: FreeImage's work for Tessaly in a process of its own (see
// overlay/isolated_decode.h). It answers one request on the socket at file descriptor 3 and
// exits; when FreeImage crashes on a damaged file, only this process ends.
#include <FreeImage.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "overlay/decoder_channel.h"
#include "overlay/decoder_protocol.h"
#include "overlay/picture_import_p.h"
#include "raster/cpu.h"

namespace {

using overlay::decoder::TFd;
using overlay::decoder::TReply;
using overlay::decoder::TReplyStatus;
using overlay::decoder::TRequest;

// A memfd for the result, sealed against shrinking and growing once it is filled, so the
// parent may map it without fear of losing pages under its mapping.
TFd NewMemory(const char* Name, std::size_t Bytes) {
  TFd fd(::memfd_create(Name, MFD_CLOEXEC | MFD_ALLOW_SEALING));
  if (!fd.Valid() || ::ftruncate(fd.Get(), off_t(Bytes)) != 0) return {};
  // The pages are taken now: a full memory gives "no memory" here instead of SIGBUS while
  // the pixels are written.
  int error;
  do {
    error = ::posix_fallocate(fd.Get(), 0, off_t(Bytes));
  } while (error == EINTR);
  if (error != 0) return {};
  return fd;
}

bool Seal(const TFd& Memory) {
  return ::fcntl(Memory.Get(), F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_SEAL) == 0;
}

struct TMapping {
  void* Start = MAP_FAILED;
  std::size_t Length = 0;
  ~TMapping() {
    if (Start != MAP_FAILED) ::munmap(Start, Length);
  }
};

TReply Decode(const TRequest& Request, TFd* Memory) {
  TMapping mapping;
  const overlay::detail::TDecodeResult result = overlay::detail::DecodeWithFreeImage(
      Request.Path, [&](unsigned Width, unsigned Height) -> raster::TColor32* {
        const std::size_t bytes = std::size_t(Width) * Height * 4;
        TFd fd = NewMemory("tessaly-picture", bytes);
        if (!fd.Valid()) return nullptr;
        void* start =
            ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_POPULATE, fd.Get(), 0);
        if (start == MAP_FAILED) return nullptr;
        mapping.Start = start;
        mapping.Length = bytes;
        *Memory = std::move(fd);
        return static_cast<raster::TColor32*>(start);
      });
  TReply reply;
  switch (result.Status) {
    case overlay::detail::TDecodeStatus::Ok:
      if (!Seal(*Memory)) return {TReplyStatus::NoMemory, 0, 0, 0};
      return {TReplyStatus::Ok, std::uint32_t(result.Width), std::uint32_t(result.Height),
              std::uint64_t(result.Width) * result.Height * 4};
    case overlay::detail::TDecodeStatus::TooLarge:
      return {TReplyStatus::TooLarge, std::uint32_t(result.Width), std::uint32_t(result.Height), 0};
    case overlay::detail::TDecodeStatus::NoMemory:
      return {TReplyStatus::NoMemory, 0, 0, 0};
    case overlay::detail::TDecodeStatus::CannotDecode:
      break;
  }
  return {};
}

struct TDib {
  FIBITMAP* Handle = nullptr;
  ~TDib() {
    if (Handle != nullptr) FreeImage_Unload(Handle);
  }
};
struct TFreeImageMemory {
  FIMEMORY* Handle = FreeImage_OpenMemory(nullptr, 0);
  ~TFreeImageMemory() {
    if (Handle != nullptr) FreeImage_CloseMemory(Handle);
  }
};

// The pixels come in a memfd the parent sealed; the JPEG goes back in one of our own.
TReply EncodeJpeg(const TRequest& Request, const TFd& Pixels, TFd* Memory) {
  const std::uint64_t bytes = overlay::decoder::EncodeRequestBytes(Request);
  struct stat st {};
  if (!Pixels.Valid() || ::fstat(Pixels.Get(), &st) != 0 || st.st_size < 0 ||
      std::uint64_t(st.st_size) < bytes || Request.Pitch > 0x7FFFFFFFu) {
    return {};
  }
  TMapping mapping;
  mapping.Start = ::mmap(nullptr, std::size_t(bytes), PROT_READ, MAP_SHARED, Pixels.Get(), 0);
  if (mapping.Start == MAP_FAILED) return {TReplyStatus::NoMemory, 0, 0, 0};
  mapping.Length = std::size_t(bytes);
  // FreeImage takes a non-const pointer but only reads the rows.
  TDib dib{FreeImage_ConvertFromRawBits(
      static_cast<BYTE*>(mapping.Start), int(Request.Width), int(Request.Height),
      int(Request.Pitch), 24, FI_RGBA_RED_MASK, FI_RGBA_GREEN_MASK, FI_RGBA_BLUE_MASK, TRUE)};
  if (dib.Handle == nullptr) return {TReplyStatus::NoMemory, 0, 0, 0};
  FreeImage_SetDotsPerMeterX(dib.Handle, Request.DotsPerMeterX);
  FreeImage_SetDotsPerMeterY(dib.Handle, Request.DotsPerMeterY);
  TFreeImageMemory jpeg;
  BYTE* data = nullptr;
  DWORD size = 0;
  if (jpeg.Handle == nullptr || !FreeImage_SaveToMemory(FIF_JPEG, dib.Handle, jpeg.Handle, 0) ||
      !FreeImage_AcquireMemory(jpeg.Handle, &data, &size) || size == 0) {
    return {};
  }
  TFd fd = NewMemory("tessaly-jpeg", size);
  if (!fd.Valid()) return {TReplyStatus::NoMemory, 0, 0, 0};
  for (std::size_t done = 0; done < size;) {
    const ssize_t n = ::pwrite(fd.Get(), data + done, size - done, off_t(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return {TReplyStatus::NoMemory, 0, 0, 0};
    done += std::size_t(n);
  }
  if (!Seal(fd)) return {TReplyStatus::NoMemory, 0, 0, 0};
  *Memory = std::move(fd);
  return {TReplyStatus::Ok, 0, 0, size};
}

}  // namespace

int main(int argc, char** argv) {
  const std::string expected = "--socket=" + std::to_string(overlay::decoder::ChildSocketFd);
  if (argc != 2 || argv[1] != expected) {
    std::fprintf(stderr, "tessaly-decode: the picture decoder of Tessaly, started by it only\n");
    return 2;
  }
  // A crash on a damaged file is expected here and handled by the parent: no core file. And
  // when the parent goes, the work is for nobody.
  const rlimit noCore{0, 0};
  ::setrlimit(RLIMIT_CORE, &noCore);
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);

  const int socket = overlay::decoder::ChildSocketFd;
  std::uint8_t message[overlay::decoder::RequestHeaderSize + overlay::decoder::MaxPathLength];
  std::size_t size = 0;
  TFd passed;
  TRequest request;
  if (!overlay::decoder::ReceiveMessage(socket, message, sizeof message, &size, &passed, false) ||
      !overlay::decoder::ParseRequest(message, size, &request)) {
    return 3;
  }
  raster::SetRasterThreadCount(int(request.Threads));

  TFd memory;
  const TReply reply = request.Kind == overlay::decoder::TRequestKind::DecodePicture
                           ? Decode(request, &memory)
                           : EncodeJpeg(request, passed, &memory);
  const std::vector<std::uint8_t> answer = overlay::decoder::EncodeReply(reply);
  const bool sent = overlay::decoder::SendMessage(
      socket, answer.data(), answer.size(), reply.Status == TReplyStatus::Ok ? memory.Get() : -1);
  // Nothing is left to clean up that the end of the process does not clean up faster; exit
  // handlers (and a leak check of a sanitizer build, which would report FreeImage's caches)
  // are skipped.
  std::fflush(stderr);
  ::_exit(sent ? 0 : 4);
}
