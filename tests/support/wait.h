// Waiting for something another process or thread does, without guessing how long it takes.
#pragma once

#include <chrono>
#include <thread>

namespace testsupport {

// Asks Condition every few milliseconds until it holds or Timeout has passed; says whether it
// held.
template <typename TCondition>
bool WaitUntil(TCondition&& Condition, std::chrono::milliseconds Timeout) {
  const auto deadline = std::chrono::steady_clock::now() + Timeout;
  for (;;) {
    if (Condition()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

}  // namespace testsupport
