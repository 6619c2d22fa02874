// A cancel one thread asks for and another's long work heeds. The work looks at Cancelled()
// between its steps; a step that blocks (a network read waiting for an answer) sets a hook that
// ends the wait at once (shutting its connection), so that a cancel never waits for a timeout.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <utility>

namespace platform {

class TCancel {
 public:
  // Any thread. The hook set then runs now, once.
  void Cancel() {
    const std::lock_guard lock(FMutex);
    FCancelled = true;
    if (FHook) std::exchange(FHook, {})();
  }
  bool Cancelled() const { return FCancelled; }
  // The working thread, around a step that blocks: Hook runs at a cancel, on the cancelling
  // thread, while the lock keeps ClearHook (and so the end of what Hook touches) waiting. Set
  // after a cancel, it runs at once.
  void SetHook(std::function<void()> Hook) {
    const std::lock_guard lock(FMutex);
    if (FCancelled) return Hook();
    FHook = std::move(Hook);
  }
  void ClearHook() {
    const std::lock_guard lock(FMutex);
    FHook = {};
  }

 private:
  std::mutex FMutex;
  std::atomic<bool> FCancelled{false};
  std::function<void()> FHook;
};

// Clears a hook at the end of a scope.
class TCancelHook {
 public:
  TCancelHook(TCancel* Cancel, std::function<void()> Hook) : FCancel(Cancel) {
    if (FCancel != nullptr) FCancel->SetHook(std::move(Hook));
  }
  ~TCancelHook() {
    if (FCancel != nullptr) FCancel->ClearHook();
  }
  TCancelHook(const TCancelHook&) = delete;
  TCancelHook& operator=(const TCancelHook&) = delete;

 private:
  TCancel* FCancel;
};

}  // namespace platform
