#include "raster/cpu.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <thread>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#define RASTER_X86 1
#else
#define RASTER_X86 0
#endif

namespace raster {

namespace {

#if RASTER_X86
struct TCpuFeatures {
  bool MMX = false;
  bool SSE2 = false;
  bool AVX2 = false;
};

// XCR0 through XGETBV. Written as inline assembly so that this file needs no -mxsave; only
// executed after CPUID has reported OSXSAVE.
std::uint64_t ReadXCR0() {
  std::uint32_t eax = 0, edx = 0;
  __asm__ volatile("xgetbv" : "=a"(eax), "=d"(edx) : "c"(0));
  return (std::uint64_t(edx) << 32) | eax;
}

TCpuFeatures DetectFeatures() {
  TCpuFeatures f;
  // __get_cpuid_max answers 0 when the identification instruction itself is missing.
  const unsigned maxLeaf = __get_cpuid_max(0, nullptr);
  if (maxLeaf < 1) return f;
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return f;
  const unsigned family = (eax >> 8) & 0xF;  // bits 8-11 of the signature
  f.MMX = family >= 5 && (edx & (1u << 23)) != 0;
  f.SSE2 = (edx & (1u << 26)) != 0;

  // AVX2 needs the processor bit and an operating system that saves the YMM state.
  const bool osxsave = (ecx & (1u << 27)) != 0;
  const bool avx = (ecx & (1u << 28)) != 0;
  if (osxsave && avx && maxLeaf >= 7 && (ReadXCR0() & 0x6) == 0x6) {
    unsigned a7 = 0, b7 = 0, c7 = 0, d7 = 0;
    __cpuid_count(7, 0, a7, b7, c7, d7);
    f.AVX2 = (b7 & (1u << 5)) != 0;
  }
  return f;
}

const TCpuFeatures& Features() {
  static const TCpuFeatures features = DetectFeatures();
  return features;
}
#endif

// 0 until first asked for; then the count in force.
std::atomic<int> threadCount{0};

int DefaultThreadCount() {
  int count = int(std::thread::hardware_concurrency());
  if (const char* env = std::getenv("RASTER_THREADS"); env != nullptr && *env != '\0') {
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(env, &end, 10);
    // A value that is not a whole decimal number is ignored.
    if (errno == 0 && end != env && *end == '\0') {
      count = value > INT_MAX ? INT_MAX : value < 1 ? 1 : int(value);
    }
  }
  return count < 1 ? 1 : count;
}

}  // namespace

#if RASTER_X86
bool HasMMX() {
  return Features().MMX;
}
bool HasSSE2() {
  return Features().SSE2;
}
bool HasAVX2() {
  return Features().AVX2;
}
#else
bool HasMMX() {
  return false;
}
bool HasSSE2() {
  return false;
}
bool HasAVX2() {
  return false;
}
#endif

int RasterThreadCount() {
  int count = threadCount.load(std::memory_order_relaxed);
  if (count == 0) {
    int expected = 0;
    const int computed = DefaultThreadCount();
    // Whoever gets here first decides; a SetRasterThreadCount that came in between wins.
    if (!threadCount.compare_exchange_strong(expected, computed)) return expected;
    count = computed;
  }
  return count;
}

void SetRasterThreadCount(int Count) {
  threadCount.store(Count < 1 ? 1 : Count, std::memory_order_relaxed);
}

}  // namespace raster
