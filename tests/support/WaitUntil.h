#pragma once

// Waiting for what another thread, a scripted peer or the broker brings about: a test asks again until
// it holds, within a deadline that a loaded machine does not reach by chance.

#include <chrono>
#include <functional>
#include <thread>

namespace velmor::testing {

// How long a test waits for something that is sure to come; reaching it means the test failed.
inline constexpr std::chrono::milliseconds GenerousWait{60000};

// Asks Condition every Interval until it holds or Limit has passed; whether it held in the end.
inline bool WaitUntil(const std::function<bool()>& Condition, std::chrono::milliseconds Limit = GenerousWait,
                      std::chrono::milliseconds Interval = std::chrono::milliseconds{20}) {
  const auto deadline = std::chrono::steady_clock::now() + Limit;
  while (!Condition()) {
    if (std::chrono::steady_clock::now() >= deadline)
      return false;
    std::this_thread::sleep_for(Interval);
  }
  return true;
}

}  // namespace velmor::testing
