// Polling for the window tests, which watch another process's window change.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

using TClock = std::chrono::steady_clock;

// Polls condition every 50 ms until it holds or timeout passes.
inline bool WaitFor(const std::function<bool()>& condition, TClock::duration timeout) {
  auto end = TClock::now() + timeout;
  for (;;) {
    if (condition()) return true;
    if (TClock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}
