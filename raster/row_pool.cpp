#include "raster/row_pool.h"

#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#include "raster/cpu.h"

namespace raster {
namespace {

// A small persistent pool. A job splits a range of rows into contiguous parts, one per
// thread; each row is computed the same way whichever thread runs it, so the result does not
// depend on the split. One job at a time: a caller that finds the pool busy (another thread
// drawing) runs its rows itself, and so does a nested call from inside a part, which must not
// even try the job lock: on the calling thread it is already held by that very thread.
thread_local bool tInsidePart = false;

// Marks the running thread as inside a part for one scope.
class TPartScope {
 public:
  TPartScope() : FOuter(tInsidePart) { tInsidePart = true; }
  ~TPartScope() { tInsidePart = FOuter; }
  TPartScope(const TPartScope&) = delete;
  TPartScope& operator=(const TPartScope&) = delete;

 private:
  bool FOuter;
};

class RowPool {
 public:
  using Job = TRowJob;

  static RowPool& Instance() {
    // Never destroyed: workers may still wait on it while the program exits.
    static RowPool* pool = new RowPool;
    return *pool;
  }

  void Run(std::int32_t First, std::int32_t Last, int Parts, const Job& Fn) {
    if (Parts <= 1 || tInsidePart) {
      Fn(First, Last);
      return;
    }
    std::unique_lock<std::mutex> busy(FJobLock, std::try_to_lock);
    if (!busy.owns_lock()) {
      TPartScope part;
      Fn(First, Last);
      return;
    }
    {
      std::lock_guard<std::mutex> lock(FLock);
      while (int(FWorkers.size()) < Parts - 1) {
        const int index = int(FWorkers.size()) + 1;
        FWorkers.emplace_back([this, index] { WorkerLoop(index); });
      }
      FJob = &Fn;
      FFirst = First;
      FLast = Last;
      FParts = Parts;
      FPending = Parts - 1;
      ++FGeneration;
    }
    FStart.notify_all();
    std::exception_ptr error;
    try {
      TPartScope part;
      Fn(Part(First, Last, Parts, 0), Part(First, Last, Parts, 1));
    } catch (...) {
      error = std::current_exception();
    }
    std::unique_lock<std::mutex> lock(FLock);
    FDone.wait(lock, [this] { return FPending == 0; });
    FJob = nullptr;
    if (!error) error = FError;
    FError = nullptr;
    lock.unlock();
    if (error) std::rethrow_exception(error);
  }

 private:
  static std::int32_t Part(std::int32_t First, std::int32_t Last, int Parts, int K) {
    return First + std::int32_t(std::int64_t(Last - First) * K / Parts);
  }

  void WorkerLoop(int Index) {
    std::uint64_t seen = 0;
    std::unique_lock<std::mutex> lock(FLock);
    for (;;) {
      FStart.wait(lock, [&] { return FGeneration != seen; });
      seen = FGeneration;
      if (Index >= FParts) continue;
      const Job* job = FJob;
      const std::int32_t begin = Part(FFirst, FLast, FParts, Index);
      const std::int32_t end = Part(FFirst, FLast, FParts, Index + 1);
      lock.unlock();
      std::exception_ptr error;
      try {
        TPartScope part;
        (*job)(begin, end);
      } catch (...) {
        error = std::current_exception();
      }
      lock.lock();
      if (error && !FError) FError = error;
      if (--FPending == 0) FDone.notify_one();
    }
  }

  std::mutex FJobLock;
  std::mutex FLock;
  std::condition_variable FStart, FDone;
  std::vector<std::thread> FWorkers;
  const Job* FJob = nullptr;
  std::int32_t FFirst = 0, FLast = 0;
  int FParts = 1;
  int FPending = 0;
  std::uint64_t FGeneration = 0;
  std::exception_ptr FError;
};

}  // namespace

void ForRows(std::int32_t First, std::int32_t Last, std::int64_t PixelsPerRow, const TRowJob& Fn) {
  const std::int64_t rows = std::int64_t(Last) - First;
  if (rows <= 0) return;
  int parts = RasterThreadCount();
  if (rows * PixelsPerRow < 32768) parts = 1;
  if (parts > rows) parts = int(rows);
  RowPool::Instance().Run(First, Last, parts, Fn);
}

}  // namespace raster
