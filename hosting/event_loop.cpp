// SPDX-License-Identifier: MIT
#include "hosting/event_loop.h"

namespace pellora::hosting {

EventLoop::EventLoop() : context_(1) {}

std::size_t EventLoop::run() {
  if (context_.stopped()) context_.restart();
  return context_.run();
}

std::size_t EventLoop::run_for(std::chrono::steady_clock::duration d) {
  if (context_.stopped()) context_.restart();
  return context_.run_for(d);
}

std::size_t EventLoop::poll() {
  if (context_.stopped()) context_.restart();
  return context_.poll();
}

void EventLoop::stop() { context_.stop(); }

}  // namespace pellora::hosting
