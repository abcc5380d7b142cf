// SPDX-License-Identifier: MIT
#pragma once
// A run of `pellora record` (or `pellora demo`): any number of streams recorded
// concurrently on the one loop thread, each by its StreamRecorder. The run ends when
// every stream has ended, when the duration has passed, or on SIGINT/SIGTERM; a
// live status line is drawn on standard error when it is a terminal.
#include <boost/asio/signal_set.hpp>
#include <boost/asio/steady_timer.hpp>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "cli/event_printer.h"
#include "cli/stream_recorder.h"

namespace pellora::cli {

struct SessionOptions {
  std::chrono::milliseconds duration{0};  // 0: until the streams end or a signal
  bool json_events = false;
  bool status_line = false;  // draw it (the caller checks that stderr is a terminal)
  bool quiet = false;        // no notes and no summary; failures are still told
};

class RecordSession {
 public:
  // One recorder per URL, all with `settings`; with several URLs the files are
  // named after their stations.
  RecordSession(hosting::EventLoop& loop, const std::vector<std::string>& urls, const RecordingSettings& settings,
                SessionOptions options);

  // Records until the run ends; then prints on stderr one line per stream: a
  // summary ("pellora record: FILE: 1.2 MiB (1234567 bytes) in 0:42, 3 titles")
  // unless quiet, or why it failed ("pellora record: URL: why"). Returns the exit
  // status: 0 when no stream failed, otherwise the exit code of the first that did
  // (exit_codes.h). Notes of the recorders are printed as they come unless quiet.
  // Untrusted text is escaped for the terminal. Other work on the loop (an
  // in-process station) goes on while the run lasts.
  int Run(const std::string& program = "pellora record");

  const std::vector<std::unique_ptr<StreamRecorder>>& recorders() const { return recorders_; }

 private:
  void Tick();
  void StopAll();
  void OnRecorderFinished();
  void DrawStatus();
  void ClearStatus();
  void PrintLine(const std::string& utf8);
  void PrintSummary(const StreamRecorder& recorder);

  hosting::EventLoop& loop_;
  SessionOptions options_;
  std::optional<EventPrinter> printer_;
  std::vector<std::unique_ptr<StreamRecorder>> recorders_;
  std::unordered_set<std::string> claimed_names_;  // station-derived file names in use
  boost::asio::steady_timer tick_;
  boost::asio::steady_timer deadline_;
  boost::asio::signal_set signals_;
  std::chrono::steady_clock::time_point started_;
  std::chrono::steady_clock::time_point next_status_;
  std::string program_ = "pellora record";
  bool status_drawn_ = false;
  bool ended_ = false;
};

}  // namespace pellora::cli
