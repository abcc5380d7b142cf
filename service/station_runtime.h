// SPDX-License-Identifier: MIT
#pragma once
// One station of the service while it runs: decides from its schedule (and a
// person's start/stop) when to record, records through the command line's
// StreamRecorder (which reconnects after drops), keeps the history of what it
// saved, and counts what the API and the metrics show.
//
// Recording policy:
//  - A station records while its schedule is open, unless a person stopped it;
//    a person can start it outside its windows. Such an override lasts until the
//    schedule next opens or closes (for `always`, until the next start or stop).
//  - Each window is one recording, a file named after the station and the
//    window's start. A window that already has a recording in the history (the
//    service was restarted during it) goes on appending to that recording.
//  - A split station saves a run of songs instead, a file each (see
//    cli/split_recorder.h), every one entered in the history; with
//    skip_existing a song the history holds complete is not saved again, also
//    after a restart and when its file was moved away.
//  - A recorder that gave up (a refused stream, too many fruitless reconnects, a
//    file failure) leaves the station failed; it tries again after kRetryDelay
//    while it should still record.
#include <array>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "cli/event_printer.h"
#include "cli/stream_recorder.h"
#include "service/config.h"

namespace pellora::hosting {
class EventLoop;
}

namespace pellora::service {

class History;
struct SavedEntry;

enum class StationState { kWaiting, kRecording, kStopped, kFailed };
const char* StateName(StationState state);

// Error kinds counted per station (the control's error families).
enum class ErrorKind { kSocket, kStream, kFile, kOther };
inline constexpr std::array<const char*, 4> kErrorKindNames{"socket", "stream", "file", "other"};

inline constexpr std::chrono::seconds kRetryDelay{30};
inline constexpr std::size_t kRateSamples = 60;

class StationRuntime : private cli::EventPrinter {
 public:
  // `changed` is called when what a viewer sees changed (state, title, file);
  // `song_saved` with every song saved, as the history holds it.
  StationRuntime(hosting::EventLoop& loop, StationConfig config, History* history, std::function<void()> changed,
                 std::function<void(const SavedEntry&)> song_saved);
  ~StationRuntime() override;
  StationRuntime(const StationRuntime&) = delete;
  StationRuntime& operator=(const StationRuntime&) = delete;

  // About four times a second: stall checks, the schedule, the recorder's progress.
  void Tick(std::time_t now);
  // Once a second: the rate sample.
  void SampleRate();
  void StartNow();
  void StopNow();
  // Closes the recording (SIGTERM, removal, reload).
  void Shutdown();

  const StationConfig& config() const { return config_; }
  StationState state() const;
  std::string title() const;  // UTF-8
  std::uint64_t bytes() const;
  std::uint64_t rate() const { return rates_.empty() ? 0 : rates_.back(); }
  const std::deque<std::uint64_t>& rates() const { return rates_; }
  std::uint64_t recordings() const { return recordings_; }
  std::uint64_t songs() const { return songs_; }
  std::uint64_t reconnects() const { return reconnects_; }
  const std::array<std::uint64_t, 4>& errors() const { return errors_; }
  const std::string& last_error() const { return last_error_; }
  const std::string& file() const { return file_; }
  // The window open now or next (none for `always`).
  std::optional<Interval> window() const { return window_; }

 private:
  void GotHeader(const std::string& url, const std::string& header) override;
  void Error(const std::string& url, capture::EErrType type, std::int32_t code,
             const std::string& description) override;
  void StateChanged(const std::string&) override {}
  void MetaChanged(const std::string&, const std::string&) override {}
  void SongSaved(const std::string& url, const cli::SavedSong& song) override;
  cli::SplitSettings SongSettings() const;

  void Decide(std::time_t now);
  void Begin(std::time_t now);
  void End();
  void Follow(std::time_t now);
  void NoteFile(std::time_t now);

  hosting::EventLoop& loop_;
  StationConfig config_;
  History* history_;
  std::function<void()> changed_;
  std::function<void(const SavedEntry&)> song_saved_;
  std::unique_ptr<cli::StreamRecorder> recorder_;
  std::optional<Interval> window_;
  bool scheduled_open_ = false;
  std::optional<bool> override_;  // a person's start (true) or stop (false)
  std::time_t next_check_ = 0;  // when the window must be looked up again
  std::time_t recording_window_ = 0;
  std::time_t retry_at_ = 0;
  std::int64_t history_id_ = 0;
  std::string file_;
  std::string title_;
  std::string raw_title_;  // title_ as the station sent it
  std::string last_error_;
  bool failed_ = false;
  int headers_ = 0;  // of the current recorder's connections
  std::uint64_t bytes_before_ = 0;  // by earlier recorders of this run
  std::uint64_t bytes_at_sample_ = 0;
  std::deque<std::uint64_t> rates_;
  std::uint64_t recordings_ = 0;
  std::uint64_t songs_ = 0;
  std::uint64_t reconnects_ = 0;
  std::array<std::uint64_t, 4> errors_{};
};

}  // namespace pellora::service
