#include "raster/row_pool.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <stdexcept>
#include <thread>
#include <vector>

#include "raster/cpu.h"

// Try-locking a mutex that the calling thread already holds is undefined behaviour; glibc
// happens to answer it with EBUSY, which hides it. This program's pthread_mutex_trylock
// counts such calls (glibc records the owning thread's id in the mutex) and then does the
// real work.
namespace {
std::atomic<int> gSelfTryLocks{0};
}  // namespace

extern "C" int pthread_mutex_trylock(pthread_mutex_t* Mutex) {
  using TTryLock = int (*)(pthread_mutex_t*);
  static const TTryLock real =
      reinterpret_cast<TTryLock>(dlsym(RTLD_NEXT, "pthread_mutex_trylock"));
  if (Mutex->__data.__owner == gettid()) gSelfTryLocks.fetch_add(1);
  return real(Mutex);
}

namespace raster {
namespace {

struct TThreadCountScope {
  explicit TThreadCountScope(int Count) : Saved(RasterThreadCount()) {
    SetRasterThreadCount(Count);
  }
  ~TThreadCountScope() { SetRasterThreadCount(Saved); }
  int Saved;
};

// Enough pixels per row that every call is split over the threads.
constexpr std::int64_t Wide = std::int64_t(1) << 16;

// A job that calls ForRows again (from the calling thread's part and from the workers' parts)
// gets its nested rows at once on its own thread, in one part, without touching the pool's
// locks again.
TEST(RowPool, NestedCallRunsInlineOnItsOwnThread) {
  TThreadCountScope threads(2);
  constexpr std::int32_t Outer = 64, Inner = 16;
  std::vector<std::atomic<int>> done(std::size_t(Outer) * Inner);
  std::atomic<int> outerParts{0}, elsewhere{0}, split{0};
  gSelfTryLocks = 0;
  ForRows(0, Outer, Wide, [&](std::int32_t First, std::int32_t Last) {
    ++outerParts;
    const std::thread::id me = std::this_thread::get_id();
    for (std::int32_t y = First; y < Last; ++y) {
      ForRows(0, Inner, Wide, [&](std::int32_t F, std::int32_t L) {
        if (std::this_thread::get_id() != me) ++elsewhere;
        if (F != 0 || L != Inner) ++split;
        for (std::int32_t r = F; r < L; ++r) ++done[std::size_t(y) * Inner + std::size_t(r)];
      });
    }
  });
  EXPECT_EQ(outerParts.load(), 2);
  EXPECT_EQ(elsewhere.load(), 0);
  EXPECT_EQ(split.load(), 0);
  EXPECT_EQ(gSelfTryLocks.load(), 0);
  for (const std::atomic<int>& d : done) ASSERT_EQ(d.load(), 1);

  // An exception from a nested part reaches the outermost caller, and the pool still works.
  EXPECT_THROW(ForRows(0, Outer, Wide,
                       [&](std::int32_t, std::int32_t) {
                         ForRows(0, Inner, Wide, [](std::int32_t, std::int32_t) {
                           throw std::runtime_error("nested");
                         });
                       }),
               std::runtime_error);
  std::atomic<int> rows{0};
  ForRows(0, Outer, Wide, [&](std::int32_t F, std::int32_t L) { rows += L - F; });
  EXPECT_EQ(rows.load(), Outer);
  EXPECT_EQ(gSelfTryLocks.load(), 0);
}

}  // namespace
}  // namespace raster
