// tessaly-decode: FreeImage's and DCMTK's work for Tessaly in a process of its own (see
// overlay/isolated_decode.h). It answers one request on the socket at file descriptor 3 and
// exits; when FreeImage crashes on a damaged file, or DCMTK's parser overflows the stack on a
// DICOM object the PACS client asked it to read, only this process ends.
#include <FreeImage.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "overlay/decode/decoder_channel.h"
#include "overlay/decode/decoder_protocol.h"
#include "overlay/decode/dicom_object.h"
#include "overlay/decode/picture_import_p.h"
#include "platform/command_line.h"
#include "platform/file_io.h"
#include "raster/cpu.h"

#if defined(__SANITIZE_ADDRESS__)
#define TESSALY_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TESSALY_ADDRESS_SANITIZER 1
#endif
#endif
#ifndef TESSALY_ADDRESS_SANITIZER
#define TESSALY_ADDRESS_SANITIZER 0
#endif

namespace {

using overlay::decoder::TFd;
using overlay::decoder::TReply;
using overlay::decoder::TReplyStatus;
using overlay::decoder::TRequest;

// A new memfd of Bytes for a result.
TFd NewMemory(const char* Name, std::size_t Bytes) {
  TFd fd(::memfd_create(Name, MFD_CLOEXEC | MFD_ALLOW_SEALING));
  if (!fd.Valid()) return {};
  // The pages are taken now: a full memory gives "no memory" here instead of SIGBUS while
  // the pixels are written.
  int error;
  do {
    error = ::posix_fallocate(fd.Get(), 0, off_t(Bytes));
  } while (error == EINTR);
  if (error != 0) return {};
  return fd;
}

// Memory for Bytes of pixels: the memfd that the parent sent back from its last picture when
// it can hold them (its pages exist already, which spares taking and clearing them anew), else
// a new one.
TFd PictureMemory(TFd Reuse, std::size_t Bytes) {
  struct stat st {};
  const int seals = Reuse.Valid() ? ::fcntl(Reuse.Get(), F_GET_SEALS) : -1;
  if (seals >= 0 && (seals & (F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_FUTURE_WRITE)) == 0 &&
      ::fstat(Reuse.Get(), &st) == 0 && st.st_size >= 0) {
    if (std::uint64_t(st.st_size) >= Bytes) return Reuse;
    int error;
    do {
      error = ::posix_fallocate(Reuse.Get(), 0, off_t(Bytes));
    } while (error == EINTR);
    if (error == 0) return Reuse;
  }
  return NewMemory("tessaly-picture", Bytes);
}

// The parent maps or reads a result only from a memfd that cannot shrink (it could lose pages
// under a mapping); growing stays allowed, so that the memory can serve a larger picture next.
bool Seal(const TFd& Memory) {
  return ::fcntl(Memory.Get(), F_ADD_SEALS, F_SEAL_SHRINK) == 0;
}

struct TMapping {
  void* Start = MAP_FAILED;
  std::size_t Length = 0;
  ~TMapping() {
    if (Start != MAP_FAILED) ::munmap(Start, Length);
  }
};

// The pixels are converted straight into a mapping of the memfd, its page tables built in one
// go when it is mapped (MAP_POPULATE): a fault per page while converting costs more than
// copying the page on a virtual machine, but populating the whole mapping at once costs far
// less than converting into a band and copying that into the memfd through the kernel.
TReply Decode(const TRequest& Request, TFd Reuse, TFd* Memory) {
  const overlay::detail::TDecodeResult result = overlay::detail::DecodePictureFile(
      Request.Path, [&](FIBITMAP* Dib, unsigned Width, unsigned Height) {
        const std::size_t bytes = std::size_t(Width) * 4 * Height;
        TFd fd = PictureMemory(std::move(Reuse), bytes);
        if (!fd.Valid()) return false;
        TMapping mapping;
        mapping.Start =
            ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_POPULATE, fd.Get(), 0);
        if (mapping.Start == MAP_FAILED) return false;
        mapping.Length = bytes;
        overlay::detail::ConvertDib(Dib, static_cast<raster::TColor32*>(mapping.Start), 0,
                                    std::int32_t(Height));
        *Memory = std::move(fd);
        return true;
      });
  switch (result.Status) {
    case overlay::detail::TDecodeStatus::Ok: {
      if (!Seal(*Memory)) return {TReplyStatus::NoMemory, 0, 0, 0};
      const overlay::TPictureFacts& facts = result.Facts;
      return overlay::decoder::PictureReply(std::uint32_t(result.Width),
                                            std::uint32_t(result.Height),
                                            std::uint32_t(result.Orientation), facts);
    }
    case overlay::detail::TDecodeStatus::TooLarge:
      return {TReplyStatus::TooLarge, std::uint32_t(result.Width), std::uint32_t(result.Height), 0};
    case overlay::detail::TDecodeStatus::NoMemory:
      return {TReplyStatus::NoMemory, 0, 0, 0};
    case overlay::detail::TDecodeStatus::NotPicture:
      return {TReplyStatus::NotPicture, 0, 0, 0};
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

FREE_IMAGE_FORMAT FreeImageFormat(overlay::decoder::TEncodeFormat Format) {
  switch (Format) {
    case overlay::decoder::TEncodeFormat::Png:
      return FIF_PNG;
    case overlay::decoder::TEncodeFormat::Tiff:
      return FIF_TIFF;
    case overlay::decoder::TEncodeFormat::Jpeg:
      break;
  }
  return FIF_JPEG;
}

// The pixels come in a memfd the parent sealed; the file image goes back in one of our own. The
// new bitmap holds the pixels and what the request names, nothing else: no metadata of any file
// can reach the result.
TReply EncodePicture(const TRequest& Request, const TFd& Pixels, TFd* Memory) {
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
  // A PNG without a resolution has no pHYs chunk. A TIFF or JPEG always states one, and a zero
  // there is one that readers stumble over; it keeps the new bitmap's customary 72 dots per
  // inch, which tells no scale.
  // JPEG holds dots per inch in 16 bits: a density above that is not stated, rather than
  // wrapped round to a wrong one (2 580 118 dots per metre are 65 535 per inch).
  constexpr std::uint32_t MaxJpegDotsPerMeter = 2580118;
  const bool fits = Request.Format != overlay::decoder::TEncodeFormat::Jpeg ||
                    (Request.DotsPerMeterX <= MaxJpegDotsPerMeter &&
                     Request.DotsPerMeterY <= MaxJpegDotsPerMeter);
  if (fits && (Request.DotsPerMeterX != 0 || Request.DotsPerMeterY != 0 ||
               Request.Format == overlay::decoder::TEncodeFormat::Png)) {
    FreeImage_SetDotsPerMeterX(dib.Handle, Request.DotsPerMeterX);
    FreeImage_SetDotsPerMeterY(dib.Handle, Request.DotsPerMeterY);
  }
  // A comment (a PNG's text chunk); none at all without a key, so that a print capture is the
  // very JPEG it always was.
  if (!Request.TextKey.empty() &&
      !FreeImage_SetMetadataKeyValue(FIMD_COMMENTS, dib.Handle, Request.TextKey.c_str(),
                                     Request.Text.c_str())) {
    return {TReplyStatus::NoMemory, 0, 0, 0};
  }
  TFreeImageMemory encoded;
  BYTE* data = nullptr;
  DWORD size = 0;
  if (encoded.Handle == nullptr ||
      !FreeImage_SaveToMemory(FreeImageFormat(Request.Format), dib.Handle, encoded.Handle, 0) ||
      !FreeImage_AcquireMemory(encoded.Handle, &data, &size) || size == 0) {
    return {};
  }
  TFd fd = NewMemory("tessaly-encoded", size);
  if (!fd.Valid()) return {TReplyStatus::NoMemory, 0, 0, 0};
  if (!platform::WriteAt(fd.Get(), data, size, 0)) return {TReplyStatus::NoMemory, 0, 0, 0};
  if (!Seal(fd)) return {TReplyStatus::NoMemory, 0, 0, 0};
  *Memory = std::move(fd);
  return {TReplyStatus::Ok, 0, 0, size};
}

int Main(int argc, char** argv) {
  const std::string expected = "--socket=" + std::to_string(overlay::decoder::ChildSocketFd);
  if (argc != 2 || argv[1] != expected) {
    std::fprintf(stderr, "tessaly-decode: the picture decoder of Tessaly, started by it only\n");
    return 2;
  }
  // A crash on a damaged file is expected here and handled by the parent: no core file.
  const rlimit noCore{0, 0};
  ::setrlimit(RLIMIT_CORE, &noCore);
#if !TESSALY_ADDRESS_SANITIZER
  // A file that asks for more memory than any picture needs gets an allocation failure here,
  // not the machine's memory: the largest picture is 1 GiB of pixels, held as the file's
  // bitmap, its 32-bit form and the shared result, with 1 GiB to spare. (ASan reserves
  // terabytes of address space up front, so its build goes without.)
  constexpr rlim_t AddressSpace = rlim_t(4) << 30;
  const rlimit space{AddressSpace, AddressSpace};
  ::setrlimit(RLIMIT_AS, &space);
#endif

  const int socket = overlay::decoder::ChildSocketFd;
  // When the parent goes, the work is for nobody: its end of the socket closes with it, also
  // when it is killed, and a thread of its own sees that while FreeImage works (or hangs).
  // Not the parent-death signal: that follows the thread that started this process, and
  // decoders are started, one ahead, from whichever thread of the parent loads a picture, so
  // a loading thread that ends would take the waiting decoder with it.
  std::thread([fd = socket] {
    pollfd p{fd, POLLRDHUP, 0};
    for (;;) {
      const int r = ::poll(&p, 1, -1);
      if (r < 0 && errno == EINTR) continue;
      if (r < 0 || (p.revents & POLLNVAL) != 0) return;
      if ((p.revents & (POLLHUP | POLLRDHUP | POLLERR)) != 0) ::_exit(4);
    }
  }).detach();
  std::uint8_t message[overlay::decoder::MaxRequestSize];
  std::size_t size = 0;
  TFd passed;
  TRequest request;
  if (!overlay::decoder::ReceiveMessage(socket, message, sizeof message, &size, &passed, false) ||
      !overlay::decoder::ParseRequest(message, size, &request)) {
    return 3;
  }
  raster::SetRasterThreadCount(int(request.Threads));

  if (request.Kind == overlay::decoder::TRequestKind::ReadDicomObject) {
    const std::vector<std::uint8_t> answer =
        overlay::decoder::EncodeObjectReply(overlay::detail::ReadDicomObjectFile(request.Path));
    const bool sent = overlay::decoder::SendMessage(socket, answer.data(), answer.size(), -1);
    std::fflush(stderr);
    ::_exit(sent ? 0 : 4);
  }
  TFd memory;
  const TReply reply = request.Kind == overlay::decoder::TRequestKind::DecodePicture
                           ? Decode(request, std::move(passed), &memory)
                           : EncodePicture(request, passed, &memory);
  const std::vector<std::uint8_t> answer = overlay::decoder::EncodeReply(reply);
  const bool sent = overlay::decoder::SendMessage(
      socket, answer.data(), answer.size(), reply.Status == TReplyStatus::Ok ? memory.Get() : -1);
  // Nothing is left to clean up that the end of the process does not clean up faster; exit
  // handlers (and a leak check of a sanitizer build, which would report FreeImage's caches)
  // are skipped.
  std::fflush(stderr);
  ::_exit(sent ? 0 : 4);
}

}  // namespace

int main(int argc, char** argv) {
  return platform::RunGuarded("tessaly-decode", [&] { return Main(argc, argv); });
}
