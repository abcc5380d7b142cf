// SPDX-License-Identifier: MIT
#include "service/station_runtime.h"

#include <algorithm>
#include <ctime>
#include <filesystem>

#include "service/history.h"
#include "text/text.h"

namespace pellora::service {
namespace {

// "2026-12-07 20-00": the start of a recording in local time, for its file name.
std::string LocalStamp(std::time_t t) {
  std::tm tm{};
  ::localtime_r(&t, &tm);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H-%M", &tm);
  return text;
}

std::uint64_t FileSize(const std::string& path) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(path, ec);
  return ec ? 0 : size;
}

ErrorKind KindOf(capture::EErrType type) {
  switch (type) {
    case capture::TErr_WSock: return ErrorKind::kSocket;
    case capture::TErr_Stream: return ErrorKind::kStream;
    case capture::TErr_FileIO: return ErrorKind::kFile;
    default: return ErrorKind::kOther;
  }
}

}  // namespace

const char* StateName(StationState state) {
  switch (state) {
    case StationState::kWaiting: return "waiting";
    case StationState::kRecording: return "recording";
    case StationState::kStopped: return "stopped";
    case StationState::kFailed: return "failed";
  }
  return "waiting";
}

StationRuntime::StationRuntime(hosting::EventLoop& loop, StationConfig config, History* history,
                               std::function<void()> changed, std::function<void(const SavedEntry&)> song_saved)
    : cli::EventPrinter(false),
      loop_(loop),
      config_(std::move(config)),
      history_(history),
      changed_(std::move(changed)),
      song_saved_(std::move(song_saved)) {}

StationRuntime::~StationRuntime() { End(); }

StationState StationRuntime::state() const {
  if (recorder_) return StationState::kRecording;
  if (override_ == false) return StationState::kStopped;
  if (failed_) return StationState::kFailed;
  return StationState::kWaiting;
}

std::string StationRuntime::title() const { return title_; }

std::uint64_t StationRuntime::bytes() const { return bytes_before_ + (recorder_ ? recorder_->written_bytes() : 0); }

void StationRuntime::Tick(std::time_t now) {
  if (recorder_) recorder_->Tick();
  Decide(now);
  if (recorder_) Follow(now);
}

void StationRuntime::SampleRate() {
  const std::uint64_t total = bytes();
  rates_.push_back(total - bytes_at_sample_);
  if (rates_.size() > kRateSamples) rates_.pop_front();
  bytes_at_sample_ = total;
}

void StationRuntime::StartNow() {
  override_ = true;
  failed_ = false;
  Decide(std::time(nullptr));
  changed_();
}

void StationRuntime::StopNow() {
  override_ = false;
  Decide(std::time(nullptr));
  changed_();
}

void StationRuntime::Shutdown() { End(); }

void StationRuntime::Decide(std::time_t now) {
  // The window changes only at its own edges (an hour at most, in case the clock
  // or the zone was changed).
  if (!config_.schedule.always && now >= next_check_) {
    ::tzset();  // the zone is read again: local time is otherwise the one of the start
    window_ = CurrentOrNextWindow(config_.schedule, now);
    const std::time_t edge = !window_ ? now + 3600 : now < window_->start ? window_->start : window_->end;
    next_check_ = std::min(edge, now + 3600);
  }
  const bool open = config_.schedule.always || (window_ && window_->start <= now);
  if (open != scheduled_open_) {
    scheduled_open_ = open;
    if (!config_.schedule.always) override_.reset();
    changed_();
  }
  const bool want = override_.value_or(open);
  if (want && !recorder_ && (!failed_ || now >= retry_at_)) return Begin(now);
  if (!want && recorder_) End();
}

void StationRuntime::Begin(std::time_t now) {
  const bool in_window = !config_.schedule.always && scheduled_open_ && window_;
  recording_window_ = in_window ? window_->start : now;
  cli::RecordingSettings settings;
  settings.output_folder = config_.folder;
  settings.name_base = config_.name + " " + LocalStamp(recording_window_);
  settings.tag = config_.tag;
  settings.comments = config_.comments;
  settings.encoded_by = config_.encoded_by;
  settings.copyright = config_.copyright;
  settings.languages = config_.languages;
  settings.follow_redirects = config_.follow_redirects;
  settings.strict = config_.strict;
  settings.ca_file = config_.ca_file;
  settings.insecure = config_.insecure;
  settings.reconnect = true;
  settings.stall_timeout = std::chrono::milliseconds(static_cast<long long>(config_.stall_timeout_seconds * 1000));
  if (config_.mode == RecordingMode::kSplit) settings.split = SongSettings();
  settings.cue = config_.cue;
  settings.title_charset = config_.title_charset;
  std::error_code ignored;
  std::filesystem::create_directories(config_.folder, ignored);

  history_id_ = 0;
  if (history_ && in_window && !settings.split) {
    const auto saved = history_->ForWindow(config_.name, recording_window_);
    if (saved && std::filesystem::exists(saved->path)) {
      settings.output_file = saved->path;
      settings.append = true;
      settings.tag = false;  // the tags were written when the window began
      // The cue sheet keeps the tracks before the restart and goes on after them.
      history_id_ = saved->id;
    }
  }
  headers_ = 0;
  failed_ = false;
  recorder_ = std::make_unique<cli::StreamRecorder>(
      loop_, config_.url, settings, [](const std::string&) { return true; },
      static_cast<cli::EventPrinter*>(this));
  recorder_->Start([] {});
  changed_();
}

// Notes the file once it is open, the title as it changes, and the end of a
// recorder that gave up.
void StationRuntime::Follow(std::time_t now) {
  NoteFile(now);
  // Four times a second for every station: the bytes are compared, and only a
  // new title is converted.
  std::string raw_title = recorder_->title();
  const bool new_title = raw_title != raw_title_;
  if (new_title) raw_title_ = std::move(raw_title);
  const std::string title = new_title ? text::StreamTextToUtf8(raw_title_) : title_;
  if (title != title_ && !title.empty()) {
    // The history names a recording after its first title.
    if (title_.empty() && history_ && history_id_ != 0) history_->Update(history_id_, FileSize(file_), title, 0);
    title_ = title;
    changed_();
  }
  if (recorder_->finished()) {
    last_error_ = text::StreamTextToUtf8(recorder_->failure());
    failed_ = !last_error_.empty();
    retry_at_ = now + kRetryDelay.count();
    End();
  }
}

void StationRuntime::NoteFile(std::time_t now) {
  if (!file_.empty() || recorder_->file().empty()) return;
  file_ = recorder_->file();
  if (history_ && history_id_ == 0) history_id_ = history_->Begin(config_.name, file_, title_, recording_window_, now);
  ++recordings_;
  changed_();
}

void StationRuntime::End() {
  if (!recorder_) return;
  NoteFile(std::time(nullptr));  // a file opened since the last tick
  recorder_->Stop();
  bytes_before_ += recorder_->written_bytes();
  if (history_ && history_id_ != 0) history_->Update(history_id_, FileSize(file_), title_, std::time(nullptr));
  recorder_.reset();
  history_id_ = 0;
  file_.clear();
  title_.clear();
  raw_title_.clear();
  changed_();
}

cli::SplitSettings StationRuntime::SongSettings() const {
  cli::SplitSettings split;
  split.folder = config_.folder;
  split.name_template = config_.name_template;
  split.pad_before = config_.pad_before;
  split.pad_after = config_.pad_after;
  split.complete_only = config_.complete_only;
  split.skip_existing = config_.skip_existing;
  split.only = config_.only;
  split.skip = config_.skip;
  split.title_charset = config_.title_charset;
  if (history_)
    split.saved_before = [history = history_, station = config_.name](const std::string& artist,
                                                                       const std::string& title) {
      return history->HasSong(station, artist, title);
    };
  return split;
}

void StationRuntime::SongSaved(const std::string&, const cli::SavedSong& song) {
  ++songs_;
  SavedEntry entry;
  entry.kind = SavedKind::kSong;
  entry.station = config_.name;
  entry.path = song.path;
  entry.artist = song.artist;
  entry.title = song.title;
  entry.window_start = recording_window_;
  entry.ended = std::time(nullptr);
  entry.started = entry.ended - std::time_t(song.seconds);
  entry.bytes = song.bytes;
  entry.seconds = song.seconds;
  entry.complete = song.complete;
  if (history_) entry.id = history_->AddSong(entry);
  song_saved_(entry);
  changed_();
}

void StationRuntime::GotHeader(const std::string&, const std::string&) {
  if (++headers_ > 1) ++reconnects_;
}

void StationRuntime::Error(const std::string&, capture::EErrType type, std::int32_t, const std::string& description) {
  ++errors_[std::size_t(KindOf(type))];
  last_error_ = text::StreamTextToUtf8(description);
  changed_();
}

}  // namespace pellora::service
