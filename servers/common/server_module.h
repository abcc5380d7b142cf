// SPDX-License-Identifier: MIT
#pragma once
// What the shared entry points need from the library they are built into: its
// control classes and its count of live objects. Each component server defines
// ServerClasses(); everything else here is shared.
#include <span>

#include "hosting/event_loop.h"
#include "servers/common/component_server.h"

namespace pellora::servers {

// The control classes of this library.
std::span<const component_class_factory* const> ServerClasses();

// Objects of this library that are alive: control instances, including those
// whose destruction is still pending.
class ObjectCount {
 public:
  static void Add() { ++count_; }
  static void Remove() { --count_; }
  static long Live() { return count_; }

 private:
  static inline long count_ = 0;
};

// The one event loop of this library, on which all of its controls run.
hosting::EventLoop& LibraryLoop();

}  // namespace pellora::servers
