// SPDX-License-Identifier: MIT
#pragma once
// Records a Torvane's events as short texts, in order, and lets a test react to
// one from inside the handler.
#include <functional>
#include <string>
#include <vector>

#include "capture/torvane.h"

namespace pellora::capture {

struct EventLog : TorvaneEvents {
  void StateChanged() override { Add("StateChanged"); }
  void MetaChanged(std::string& meta) override { Add("MetaChanged:" + meta); }
  void Error(EErrType& type, std::int32_t& code, std::string& description) override {
    Add("Error:" + std::to_string(type) + ":" + std::to_string(code) + ":" + description);
  }
  void GotHeader(std::string& header) override { Add("GotHeader:" + header); }
  void BeforeStateChanged(bool&) override { Add("BeforeStateChanged"); }

  void Add(const std::string& event) {
    events.push_back(event);
    if (react) react(event);
  }

  std::vector<std::string> events;
  std::function<void(const std::string&)> react;
};

// The control's inner position in the stream, and counters started near their
// limits, for tests.
class TorvaneProbe {
 public:
  static std::int64_t AudioCount(const Torvane& t) { return t.parser_.AudioCount(); }
  static bool MetaPending(const Torvane& t) { return t.parser_.MetaPending(); }
  static void StartCountersAt(Torvane& t, std::int64_t received, std::int64_t written) {
    t.received_bytes_ = received;
    t.written_bytes_ = written;
  }
};

}  // namespace pellora::capture
