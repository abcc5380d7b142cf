// SPDX-License-Identifier: MIT
#pragma once
// Runs an event loop until a condition holds or a time limit passes.
#include <chrono>
#include <functional>

#include "hosting/event_loop.h"

namespace pellora::testing_support {

inline bool RunUntil(hosting::EventLoop& loop, const std::function<bool()>& done,
                     std::chrono::milliseconds limit = std::chrono::seconds(10)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    loop.run_for(std::chrono::milliseconds(5));
  }
  return true;
}

}  // namespace pellora::testing_support
