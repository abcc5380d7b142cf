// SPDX-License-Identifier: MIT
#pragma once
// The host's one event loop. Every notification of every control (socket data,
// download progress, timers) is delivered on the thread that runs it; nothing in
// Pellora locks.
#include <boost/asio/io_context.hpp>

#include <chrono>
#include <cstddef>

namespace pellora::hosting {

class EventLoop {
 public:
  EventLoop();
  EventLoop(const EventLoop&) = delete;
  EventLoop& operator=(const EventLoop&) = delete;

  // Runs until stop() or until no work is left; returns the handlers run.
  std::size_t run();
  // Runs for at most `d`; returns the handlers run.
  std::size_t run_for(std::chrono::steady_clock::duration d);
  // Runs every handler that is ready now, without blocking (for GUI hosts that
  // pump the loop from their own).
  std::size_t poll();
  // Makes run()/run_for() return as soon as possible. Later calls start afresh.
  void stop();

  boost::asio::io_context& context() { return context_; }

 private:
  boost::asio::io_context context_;
};

}  // namespace pellora::hosting
