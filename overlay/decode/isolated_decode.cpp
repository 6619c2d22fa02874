#include "overlay/decode/isolated_decode.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "overlay/decode/decoder_channel.h"
#include "overlay/decode/decoder_protocol.h"
#include "platform/file_io.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "raster/cpu.h"
#include "raster/row_pool.h"

extern char** environ;

namespace overlay {

namespace {

using Clock = std::chrono::steady_clock;
using decoder::TFd;

constexpr double DefaultTimeoutSeconds = 30.0;
// After its reply the decoder only exits; it gets this long before it is killed.
constexpr auto ExitGrace = std::chrono::seconds(1);

// Function-local, as a test program sets it from a static initializer of its own.
std::mutex& ProgramLock() {
  static std::mutex lock;
  return lock;
}
std::string& ProgramOverride() {
  static std::string path;
  return path;
}
std::atomic<bool> ToldCannotStart{false};

int MillisecondsUntil(Clock::time_point Deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(Deadline - Clock::now());
  return int(std::clamp<std::int64_t>(left.count(), 0, 1 << 30));
}

// The length of a memfd that the decoder sent, as far as it can be relied on: one that is not
// sealed against shrinking could lose its end while it is read, so it counts as holding
// nothing.
std::uint64_t SealedLength(const TFd& Memory) {
  if (!Memory.Valid()) return 0;
  const int seals = ::fcntl(Memory.Get(), F_GET_SEALS);
  struct stat st {};
  if (seals < 0 || (seals & F_SEAL_SHRINK) == 0 || ::fstat(Memory.Get(), &st) != 0 ||
      !S_ISREG(st.st_mode) || st.st_size < 0) {
    return 0;
  }
  return std::uint64_t(st.st_size);
}

// A started decoder, waiting for its request on Socket.
struct TStarted {
  pid_t Pid = -1;
  TFd Socket;
  std::string Program;
};

// Kills and reaps a decoder (harmless for one that has exited and waits to be reaped).
void Kill(pid_t Pid) {
  if (Pid < 0) return;
  ::kill(Pid, SIGKILL);
  int status = 0;
  while (::waitpid(Pid, &status, 0) < 0 && errno == EINTR) {
  }
}

// The decoder's environment: ours, with glibc's malloc told to ask for transparent huge pages
// for its large blocks. FreeImage keeps a whole picture in one block, and a decoder is a new
// process that takes all of its memory afresh; on small pages that is one fault per 4 KiB, which
// costs more than the JPEG decoding itself (a 24-megapixel JPEG: about 250 ms instead of 80 ms).
// Tunables already set for us are kept; one that says how to use huge pages wins.
std::vector<std::string> DecoderEnvironment() {
  constexpr const char* HugePages = "glibc.malloc.hugetlb=1";
  const std::string prefix = "GLIBC_TUNABLES=";
  std::vector<std::string> environment;
  bool tunables = false;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    std::string text(*entry);
    if (text.rfind(prefix, 0) == 0) {
      tunables = true;
      if (text.find("glibc.malloc.hugetlb=") == std::string::npos) {
        text += (text.size() > prefix.size() ? ":" : "");
        text += HugePages;
      }
    }
    environment.push_back(std::move(text));
  }
  if (!tunables) environment.push_back(prefix + HugePages);
  return environment;
}

bool Spawn(TStarted* Started) {
  int pair[2];
  if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) return false;
  TFd mine(pair[0]), theirs(pair[1]);
  const std::string program = DecoderProgram();

  // The decoder gets our standard streams (its diagnostics reach the same place as ours), its
  // socket, and no other descriptor that this process may have open without close-on-exec.
  platform::TSpawnOptions options;
  options.Environment = DecoderEnvironment();
  options.PassFd = theirs.Get();
  options.PassAs = decoder::ChildSocketFd;
  const auto [pid, error] = platform::SpawnProgram(
      program, {program, "--socket=" + std::to_string(decoder::ChildSocketFd)}, options);
  if (error != 0) {
    // Without the decoder no picture can be opened; decoding here instead would bring back
    // the crashes it exists for. Said once, on the error stream, as it is a fault of the
    // installation and not of the picture.
    if (!ToldCannotStart.exchange(true)) {
      std::fprintf(stderr,
                   "tessaly: the picture decoder %s cannot be started (%s); no picture can be "
                   "opened\n",
                   program.c_str(), std::strerror(error));
    }
    return false;
  }
  Started->Pid = pid;
  Started->Socket = std::move(mine);
  Started->Program = program;
  return true;
}

// The decoders started in advance. Loading FreeImage and the libraries behind it, and taking
// the heap the decode will use, costs a new process tens of milliseconds; a decoder started
// ahead has done that by the time its request comes, and waits for it blocked on its socket.
class TSpare {
 public:
  ~TSpare() {
    // Not in a child that a fork of this process made: the decoders are not its children.
    if (FOwner == ::getpid()) Discard();
  }
  // A waiting decoder for Program, if there is one that is still alive.
  bool Take(const std::string& Program, TStarted* Started) {
    std::lock_guard<std::mutex> lock(FLock);
    // The longest waiting first: it is the most likely to be ready.
    while (!FStarted.empty()) {
      TStarted spare = std::move(FStarted.front());
      FStarted.erase(FStarted.begin());
      // A waiting decoder never writes; a readable socket means it has gone.
      pollfd p{spare.Socket.Get(), POLLIN, 0};
      if (spare.Program == Program && ::poll(&p, 1, 0) == 0) {
        *Started = std::move(spare);
        return true;
      }
      spare.Socket.Reset();
      Kill(spare.Pid);
    }
    return false;
  }
  // Starts decoders until WaitingDecoders wait.
  void Refill() {
    std::lock_guard<std::mutex> lock(FLock);
    while (FStarted.size() < WaitingDecoders) {
      TStarted started;
      if (!Spawn(&started)) return;
      FStarted.push_back(std::move(started));
      FOwner = ::getpid();
    }
  }
  void Discard() {
    std::lock_guard<std::mutex> lock(FLock);
    for (TStarted& spare : FStarted) {
      spare.Socket.Reset();
      Kill(spare.Pid);
    }
    FStarted.clear();
  }

 private:
  std::mutex FLock;
  std::vector<TStarted> FStarted;
  pid_t FOwner = -1;
};

TSpare& Spare() {
  static TSpare spare;
  return spare;
}

// The memfds of the last pictures, kept for the next decode requests: their pages are there
// already, and taking and clearing 100 MB of fresh pages costs more than a decoder start (on a
// virtual machine whose host takes freed memory back, many times more). One per decoder that
// waits, so that two pictures decoding at once both find one; each of at most KeptMemoryLimit
// bytes, the most recently kept handed out first.
class TKeptMemory {
 public:
  static constexpr std::uint64_t KeptMemoryLimit = std::uint64_t(256) << 20;
  TFd Take() {
    std::lock_guard<std::mutex> lock(FLock);
    if (FMemory.empty()) return {};
    TFd memory = std::move(FMemory.back());
    FMemory.pop_back();
    return memory;
  }
  void Keep(TFd Memory, std::uint64_t Length) {
    if (Length > KeptMemoryLimit) return;
    std::lock_guard<std::mutex> lock(FLock);
    if (FMemory.size() >= std::size_t(WaitingDecoders)) FMemory.erase(FMemory.begin());
    FMemory.push_back(std::move(Memory));
  }

 private:
  std::mutex FLock;
  std::vector<TFd> FMemory;
};

TKeptMemory& KeptMemory() {
  static TKeptMemory kept;
  return kept;
}

// Reads Bytes from the start of Memory into Target, in bands over the engine's threads.
bool ReadAll(const TFd& Memory, void* Target, std::size_t Bytes, std::size_t RowBytes,
             std::int32_t Rows) {
  std::atomic<bool> complete{true};
  raster::ForRows(0, Rows, std::int64_t(RowBytes / 4), [&](std::int32_t First, std::int32_t Last) {
    const std::size_t start = std::size_t(First) * RowBytes;
    const std::size_t end = std::min(Bytes, std::size_t(Last) * RowBytes);
    if (start < end &&
        !platform::ReadAt(Memory.Get(), static_cast<char*>(Target) + start, end - start, start)) {
      complete = false;
    }
  });
  return complete;
}

// One decoder process for one request. Whatever happens, the destructor leaves no process, no
// zombie and no descriptor behind, and a decoder waiting for the next request.
class TDecoderProcess {
 public:
  TDecoderProcess() = default;
  ~TDecoderProcess() {
    Finish(false);
    if (FStarted) Spare().Refill();
  }
  TDecoderProcess(const TDecoderProcess&) = delete;
  TDecoderProcess& operator=(const TDecoderProcess&) = delete;

  // Takes the spare decoder or starts one; the time limit runs from here.
  bool Start() {
    TStarted started;
    if (!Spare().Take(DecoderProgram(), &started) && !Spawn(&started)) return false;
    FPid = started.Pid;
    FSocket = std::move(started.Socket);
    FStarted = true;
    FDeadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                   std::chrono::duration<double>(DecoderTimeoutSeconds()));
    return true;
  }

  // Sends the request, then starts a decoder for a next request while this one works (this
  // thread only waits meanwhile), so that its libraries are loaded by the time this one has
  // answered.
  bool Send(const std::vector<std::uint8_t>& Message, int PassFd) {
    const bool sent = decoder::SendMessage(FSocket.Get(), Message.data(), Message.size(), PassFd);
    Spare().Refill();
    return sent;
  }

  // The decoder's one reply, waited for until the deadline.
  bool Receive(std::uint8_t* Buffer, std::size_t Capacity, std::size_t* Size, TFd* Memory) {
    if (!WaitReadable(FDeadline)) return false;
    return decoder::ReceiveMessage(FSocket.Get(), Buffer, Capacity, Size, Memory, true);
  }

  // Ends the decoder: an orderly one (it has answered) is given a moment to exit by itself;
  // any other is killed at once. Then it is reaped.
  void Finish(bool Orderly) {
    if (FPid < 0) return;
    if (Orderly) {
      // Its end of the socket closes when it has exited.
      WaitReadable(std::min(FDeadline, Clock::now() + ExitGrace));
    }
    FSocket.Reset();
    Kill(FPid);
    FPid = -1;
  }

  // Whether the time limit has passed.
  bool Expired() const { return Clock::now() >= FDeadline; }

  // For a decoder that closed its socket without an answer: the signal that ended it, once it
  // has ended (it is given ExitGrace); 0 when it exited, or has not ended by then (Finish kills
  // it).
  int EndSignal() {
    if (FPid < 0) return 0;
    const int pidFd = int(::syscall(SYS_pidfd_open, FPid, 0));
    if (pidFd >= 0) {
      pollfd p{pidFd, POLLIN, 0};
      const auto grace = std::chrono::duration_cast<std::chrono::milliseconds>(ExitGrace);
      while (::poll(&p, 1, int(grace.count())) < 0 && errno == EINTR) {
      }
      ::close(pidFd);
    }
    int status = 0;
    if (::waitpid(FPid, &status, WNOHANG) != FPid) return 0;
    FPid = -1;  // reaped: nothing left for Finish to kill
    FSocket.Reset();
    return WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  }

 private:
  // Until the socket has a message or its peer has gone; false at the deadline.
  bool WaitReadable(Clock::time_point Deadline) {
    pollfd p{FSocket.Get(), POLLIN, 0};
    for (;;) {
      const int r = ::poll(&p, 1, MillisecondsUntil(Deadline));
      if (r > 0) return true;
      if (r == 0) return false;
      if (errno != EINTR) return false;
    }
  }

  Clock::time_point FDeadline;
  pid_t FPid = -1;
  TFd FSocket;
  bool FStarted = false;
};

std::uint32_t DecoderThreads() {
  return std::uint32_t(std::clamp(raster::RasterThreadCount(), 1, 256));
}

}  // namespace

std::string DecoderProgram() {
  {
    std::lock_guard<std::mutex> lock(ProgramLock());
    if (!ProgramOverride().empty()) return ProgramOverride();
  }
  return platform::ProgramDirectory() + "tessaly-decode";
}

void SetDecoderProgram(std::string Path) {
  {
    std::lock_guard<std::mutex> lock(ProgramLock());
    ProgramOverride() = std::move(Path);
  }
  Spare().Discard();
}

void StartDecoderInAdvance() {
  Spare().Refill();
}

double DecoderTimeoutSeconds() {
  if (const char* text = std::getenv("TESSALY_DECODE_TIMEOUT"); text != nullptr) {
    char* end = nullptr;
    const double seconds = std::strtod(text, &end);
    if (end != text && *end == '\0' && seconds > 0 && seconds <= 24 * 3600.0) return seconds;
  }
  return DefaultTimeoutSeconds;
}

TIsolatedPicture DecodePictureIsolated(const std::string& Path) {
  TIsolatedPicture result;
  result.Status = TIsolatedStatus::NoDecoder;
  if (Path.empty() || Path.size() > decoder::MaxPathLength) return result;
  TDecoderProcess process;
  if (!process.Start()) return result;
  // From here on, whatever goes wrong went wrong in the decoder, on this file.
  result.Status = TIsolatedStatus::Damaged;

  decoder::TRequest request;
  request.Kind = decoder::TRequestKind::DecodePicture;
  request.Threads = DecoderThreads();
  request.Path = Path;
  // The memory of the last picture goes with the request, for the decoder to fill again.
  const TFd reuse = KeptMemory().Take();
  if (!process.Send(decoder::EncodeRequest(request), reuse.Get())) return result;

  std::uint8_t message[decoder::MaxReplySize + 1];
  std::size_t size = 0;
  TFd memory;
  if (!process.Receive(message, sizeof message, &size, &memory)) return result;
  const std::uint64_t length = SealedLength(memory);
  decoder::TReply reply;
  if (!decoder::ParseDecoderReply(message, size, decoder::TRequestKind::DecodePicture, length,
                                  &reply)) {
    return result;
  }
  switch (reply.Status) {
    case decoder::TReplyStatus::CannotDecode:
      return result;
    case decoder::TReplyStatus::NotPicture:
      result.Status = TIsolatedStatus::NotPicture;
      return result;
    case decoder::TReplyStatus::TooLarge:
      result.Status = TIsolatedStatus::TooLarge;
      result.Width = reply.Width;
      result.Height = reply.Height;
      return result;
    case decoder::TReplyStatus::NoMemory:
      result.Status = TIsolatedStatus::NoMemory;
      return result;
    case decoder::TReplyStatus::Ok:
      break;
  }

  auto bitmap = std::make_unique<raster::TBitmap32>();
  try {
    bitmap->SetSizeForOverwrite(std::int32_t(reply.Width), std::int32_t(reply.Height));
  } catch (const raster::EBitmapError&) {
    result.Status = TIsolatedStatus::NoMemory;
    return result;
  }
  // The decoder has written the final layout; one copy into the bitmap's own memory, read
  // rather than mapped (no page tables to build and tear down for memory that is read once).
  if (!ReadAll(memory, bitmap->PixelBuffer(), std::size_t(reply.Bytes),
               std::size_t(reply.Width) * 4, std::int32_t(reply.Height))) {
    return result;
  }
  KeptMemory().Keep(std::move(memory), length);
  process.Finish(true);
  result.Status = TIsolatedStatus::Picture;
  result.Width = reply.Width;
  result.Height = reply.Height;
  result.Bitmap = std::move(bitmap);
  result.Orientation = int(reply.Orientation);
  result.Facts.DateTaken = reply.DateTaken;
  result.Facts.PixelSpacingRow = reply.PixelSpacingRow;
  result.Facts.PixelSpacingColumn = reply.PixelSpacingColumn;
  result.Facts.StudyInstanceUid = std::move(reply.StudyInstanceUid);
  result.Facts.Frames = reply.Frames;
  // Both within their enumerations' range: ParseDecoderReply checked them.
  result.Facts.SpacingSource = TSpacingSource(reply.SpacingSource);
  result.Facts.Lossy = TLossyCompression(reply.Lossy);
  result.Facts.PatientName = std::move(reply.PatientName);
  result.Facts.PatientId = std::move(reply.PatientId);
  result.Facts.PatientBirthDate = std::move(reply.PatientBirthDate);
  return result;
}

TIsolatedObject ReadDicomObjectIsolated(const std::string& Path) {
  TIsolatedObject result;
  if (Path.empty() || Path.size() > decoder::MaxPathLength) return result;
  TDecoderProcess process;
  if (!process.Start()) return result;
  decoder::TRequest request;
  request.Kind = decoder::TRequestKind::ReadDicomObject;
  request.Path = Path;
  if (!process.Send(decoder::EncodeRequest(request), -1)) return result;
  // From here on, whatever goes wrong went wrong in the decoder, on this file.
  result.Check = TObjectCheck::Died;
  std::uint8_t message[decoder::MaxObjectReplySize + 1];
  std::size_t size = 0;
  TFd none;
  if (!process.Receive(message, sizeof message, &size, &none)) {
    if (process.Expired()) {
      result.Check = TObjectCheck::TimedOut;
    } else {
      result.Signal = process.EndSignal();
    }
    return result;
  }
  if (!decoder::ParseObjectReply(message, size, &result.Reply) || none.Valid()) return result;
  process.Finish(true);
  result.Check = TObjectCheck::Answered;
  return result;
}

namespace {

// An encode request whose pixels Fill writes into the memfd it is given (Bytes of them).
platform::TResult<std::string> EncodeIsolated(decoder::TRequest Request,
                                              const std::function<bool(int Fd)>& Fill) {
  // No file image has no reason to show: the caller tells the user what it could not do.
  const platform::TStatus none = platform::TStatus::Failure();
  Request.Kind = decoder::TRequestKind::EncodePicture;
  Request.Threads = 1;
  const std::vector<std::uint8_t> message = decoder::EncodeRequest(Request);
  // The request is checked as the decoder will check it, so that nothing is sent in vain.
  if (!decoder::ParseRequest(message.data(), message.size(), &Request)) return none;
  const std::uint64_t bytes = decoder::EncodeRequestBytes(Request);

  // The pixels go over in a memfd sealed against every change, so the decoder reads exactly
  // what was written here.
  TFd pixels(::memfd_create("tessaly-encode", MFD_CLOEXEC | MFD_ALLOW_SEALING));
  if (!pixels.Valid() || ::ftruncate(pixels.Get(), off_t(bytes)) != 0) return none;
  if (!Fill(pixels.Get())) return none;
  if (::fcntl(pixels.Get(), F_ADD_SEALS,
              F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL) != 0) {
    return none;
  }

  TDecoderProcess process;
  if (!process.Start() || !process.Send(message, pixels.Get())) return none;
  pixels.Reset();
  std::uint8_t answer[decoder::MaxReplySize + 1];
  std::size_t size = 0;
  TFd memory;
  if (!process.Receive(answer, sizeof answer, &size, &memory)) return none;
  decoder::TReply reply;
  if (!decoder::ParseDecoderReply(answer, size, decoder::TRequestKind::EncodePicture,
                                  SealedLength(memory), &reply) ||
      reply.Status != decoder::TReplyStatus::Ok) {
    return none;
  }
  std::string data(std::size_t(reply.Bytes), '\0');
  if (!platform::ReadAt(memory.Get(), data.data(), data.size(), 0)) return none;
  process.Finish(true);
  return data;
}

decoder::TRequest EncodeRequestFor(std::uint32_t Width, std::uint32_t Height, std::uint32_t Pitch,
                                   const TEncodeSettings& Settings) {
  decoder::TRequest request;
  request.Width = Width;
  request.Height = Height;
  request.Pitch = Pitch;
  request.DotsPerMeterX = Settings.DotsPerMeterX;
  request.DotsPerMeterY = Settings.DotsPerMeterY;
  request.Format = Settings.Format;
  request.TextKey = Settings.TextKey;
  request.Text = Settings.Text;
  return request;
}

}  // namespace

platform::TResult<std::string> EncodePictureIsolated(const std::uint8_t* Pixels,
                                                     std::uint32_t Width, std::uint32_t Height,
                                                     std::uint32_t Pitch,
                                                     const TEncodeSettings& Settings) {
  if (Pixels == nullptr) return platform::TStatus::Failure();
  return EncodeIsolated(EncodeRequestFor(Width, Height, Pitch, Settings), [&](int Fd) {
    return platform::WriteAt(Fd, Pixels, std::size_t(Pitch) * Height, 0);
  });
}

platform::TResult<std::string> EncodePictureIsolated(const raster::TBitmap32& Picture,
                                                     const TEncodeSettings& Settings) {
  if (Picture.Empty()) return platform::TStatus::Failure();
  const auto width = std::uint32_t(Picture.Width()), height = std::uint32_t(Picture.Height());
  const std::size_t pitch = std::size_t(width) * 3;
  return EncodeIsolated(
      EncodeRequestFor(width, height, std::uint32_t(pitch), Settings), [&](int Fd) {
        // Converted in bands, so that the 24-bit copy never holds the whole picture at once.
        const std::int32_t bandRows = std::int32_t(std::max<std::size_t>(1, (1 << 20) / pitch));
        std::vector<std::uint8_t> band(std::size_t(bandRows) * pitch);
        for (std::int32_t first = 0; first < std::int32_t(height); first += bandRows) {
          const std::int32_t last = std::min(std::int32_t(height), first + bandRows);
          std::uint8_t* out = band.data();
          for (std::int32_t y = first; y < last; ++y) {
            const raster::TColor32* row = Picture.GetScanLine(y);
            for (std::uint32_t x = 0; x < width; ++x) {
              *out++ = std::uint8_t(raster::BlueComponent(row[x]));
              *out++ = std::uint8_t(raster::GreenComponent(row[x]));
              *out++ = std::uint8_t(raster::RedComponent(row[x]));
            }
          }
          if (!platform::WriteAt(Fd, band.data(), std::size_t(last - first) * pitch,
                                 std::uint64_t(first) * pitch)) {
            return false;
          }
        }
        return true;
      });
}

platform::TResult<std::string> EncodeJpegIsolated(const std::uint8_t* Pixels, std::uint32_t Width,
                                                  std::uint32_t Height, std::uint32_t Pitch,
                                                  std::uint32_t DotsPerMeterX,
                                                  std::uint32_t DotsPerMeterY) {
  TEncodeSettings settings;
  settings.Format = decoder::TEncodeFormat::Jpeg;
  settings.DotsPerMeterX = DotsPerMeterX;
  settings.DotsPerMeterY = DotsPerMeterY;
  return EncodePictureIsolated(Pixels, Width, Height, Pitch, settings);
}

}  // namespace overlay
