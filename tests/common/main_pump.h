#pragma once
// For tests that play the window's thread without an event loop: run the main thread's
// queued synchronous calls until a condition holds, for a bounded time.
#include <chrono>

#include "platform/thread/loop_thread.h"

namespace testnet {

// Runs queued calls until `done()` is true; false when `timeoutMs` passed first.
template <class Done>
bool PumpUntil(Done done, int timeoutMs = 5000) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    mainthread::WaitAndRunQueuedCalls(5);
  }
  return true;
}

// Runs queued calls for about `ms` milliseconds, whatever happens.
inline void PumpFor(int ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < deadline) mainthread::WaitAndRunQueuedCalls(5);
}

}  // namespace testnet
