#pragma once
// Running the event loop of a test until something has happened.
#include <chrono>
#include <functional>

#include "hosting/event_loop.h"

namespace pellora::testing_support {

// Runs `loop` until `done()` holds or `limit` has passed; returns done().
inline bool RunUntil(hosting::EventLoop& loop, const std::function<bool()>& done,
                     std::chrono::milliseconds limit = std::chrono::seconds(30)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done() && std::chrono::steady_clock::now() < deadline) {
    if (loop.context().stopped()) loop.context().restart();
    loop.context().run_one_for(std::chrono::milliseconds(20));
  }
  return done();
}

}  // namespace pellora::testing_support
