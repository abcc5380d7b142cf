// SPDX-License-Identifier: MIT
#pragma once
// One stream recorded by `pellora record` (and `pellora demo`): a Torvane control
// with the policies a person expects of a recorder on top of the control's own
// behaviour.
//
//  - The answer decides: audio is recorded; a playlist (PLS, M3U, XSPF, ASX; see
//    stream_answer.h) is read and its entries are tried in order until one
//    answers with audio (an HLS playlist is refused); anything else (a web page,
//    JSON ...) is refused with its content type. Nothing is written for a refused
//    answer.
//  - The file is touched only once audio arrives: a new file, or one replaced,
//    is written under a temporary name beside it (working_file.h), created with
//    the first audio byte and renamed into place then; a failed recording leaves
//    no file behind and an existing file untouched. With `append` the audio goes
//    after the existing file's end. "-" records to standard output; a FIFO or a
//    device is written in place, as the audio arrives.
//  - `tag`: the audio that arrives before the first title is held (in the
//    working file, at most `title_hold_bytes` or `kTitleWait`), then the tags of
//    that title are written in front of it; past the bound the tags are written
//    without a title.
//  - `follow_redirects`: a redirection is followed, at most `kMaxRedirects` hops.
//  - A stream that the server ends after audio arrived is a success; with
//    `reconnect` it is connected again: at once when the connection brought
//    audio for at least `kSteadyConnection`. After a shorter one, a socket error,
//    a stall (`stall_timeout` without a byte), a close before any audio, or an
//    answer refused (an error status, a bad server, no audio) once the stream
//    has played, `reconnect` retries after 1, 2, 4 … (at most 30) s and gives
//    up after `kMaxFruitlessReconnects` such tries in a row; the audio of every
//    connection goes to the same file (tagged only the first time). On the
//    first connection a refused answer is final and never retried.
// Everything runs on the loop's thread.
#include <boost/asio/steady_timer.hpp>

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "capture/torvane.h"
#include "cli/chunk_watch.h"
#include "cli/cue_recorder.h"
#include "cli/exit_codes.h"
#include "cli/split_recorder.h"
#include "cli/stream_failure.h"
#include "cli/working_file.h"

namespace pellora::cli {

class EventPrinter;

struct RecordingSettings {
  std::string output_file;    // the file ("-": standard output); empty: named after the station
  std::string output_folder;  // for station-named files ("" = current folder)
  std::string name_base;      // names those files instead of the station's name (made safe)
  bool append = false;        // append to an existing file instead of replacing it
  bool tag = false;
  std::string comments, encoded_by, copyright, languages;
  bool follow_redirects = false;
  bool reconnect = false;
  bool strict = false;  // refuse "HTTP/1.x 200" answers as the control does by itself
  std::string ca_file;  // https: trust these authorities instead of the system's
  bool insecure = false;  // https: accept any certificate
  std::uint64_t max_bytes = 0;  // 0: no limit
  std::chrono::milliseconds stall_timeout{15000};
  std::uint64_t title_hold_bytes = 1024 * 1024;  // audio held for the first title, at most
  // One file per song into split->folder instead of one file (see split_recorder.h);
  // output_file, append and tag do not apply then.
  std::optional<SplitSettings> split;
  bool cue = false;           // write NAME.cue beside a continuous recording (see cue_recorder.h)
  std::string title_charset;  // for the cue sheet's titles ("" = the automatic choice)
};

inline constexpr int kMaxRedirects = 5;
inline constexpr int kMaxFruitlessReconnects = 5;
inline constexpr std::chrono::seconds kSteadyConnection{5};
inline constexpr int kMaxNestedPlaylists = 3;
inline constexpr std::chrono::seconds kTitleWait{10};
inline constexpr const char* kStandardOutput = "-";

using RecordFailure = StreamFailure;

class StreamRecorder : private capture::TorvaneEvents, private capture::TorvaneAudioSink {
 public:
  // `claim_name` takes a station-derived file name for this recorder; it returns
  // false when another recorder of the same run has it already. `events` (may be
  // null) prints every event.
  StreamRecorder(hosting::EventLoop& loop, std::string url, RecordingSettings settings,
                 std::function<bool(const std::string&)> claim_name, EventPrinter* events);
  ~StreamRecorder() override;

  // Receives notes for a person (which playlist entry is recorded ...), UTF-8.
  void OnNote(std::function<void(const std::string&)> note) { note_ = std::move(note); }
  // Connects; `finished` is called once the recorder has ended for good.
  void Start(std::function<void()> finished);
  // Stops the recording and disconnects; a success once audio arrived, unless it
  // had failed before.
  void Stop();
  // Called about four times a second by the owner: checks whether the stream
  // stalled.
  void Tick();

  const std::string& url() const { return url_; }
  bool finished() const { return finished_; }
  // Why the recording failed; empty after a success.
  const std::string& failure() const { return failure_.message; }
  int exit_code() const { return failure_.exit_code; }
  // The recording file ("" until it is chosen; "-" for standard output).
  const std::string& file() const { return file_; }
  // Audio bytes written over every connection.
  std::uint64_t written_bytes() const;
  // Titles seen while recording.
  std::size_t title_count() const { return title_count_; }
  // The title playing now (as the station sent it: bytes).
  std::string title() const;
  // With `split`: the song splitter, for its figures.
  const SplitRecorder* songs() const { return split_.get(); }

 private:
  enum class Phase { Connecting, Audio, Playlist };

  void StateChanged() override;
  void MetaChanged(std::string& meta) override;
  void Error(capture::EErrType& type, std::int32_t& code, std::string& description) override;
  void GotHeader(std::string& header) override;
  void AudioSlice(std::span<const char> audio) override;
  void BeginSongs();

  void Connect(const std::string& url);
  void Disconnect();
  void BeginAudio(const std::string& header);
  void OpenOutput();
  std::string DataPath() const;
  void ApplyTags();
  void CommitOutput();
  std::string ChooseFile();
  void BeginPlaylist();
  void EndPlaylist();
  void TryNextEntry();
  void AfterChunk();
  std::uint64_t ReceiveBudget() const;
  void OnConnectionClosed();
  void OnStreamError(capture::EErrType type, std::int32_t code, const std::string& description);
  void ConnectionFailed(RecordFailure failure, bool retryable);
  void ScheduleReconnect(RecordFailure why);
  void Finish(RecordFailure failure);
  void FinishOutput();
  void Note(const std::string& text) const;

  hosting::EventLoop& loop_;
  std::string url_;
  RecordingSettings settings_;
  std::function<bool(const std::string&)> claim_name_;
  EventPrinter* events_;
  std::function<void(const std::string&)> note_;
  ChunkWatchingSite site_;
  std::shared_ptr<capture::Torvane> torvane_;
  std::unique_ptr<SplitRecorder> split_;
  std::unique_ptr<CueRecorder> cue_;
  boost::asio::steady_timer title_wait_;
  boost::asio::steady_timer reconnect_timer_;
  std::function<void()> on_finished_;

  // Where the connection goes.
  Phase phase_ = Phase::Connecting;
  std::string home_url_;        // the URL (or playlist entry) being recorded
  std::string connection_url_;  // the URL of this connection (after redirections)
  bool live_ = false;           // a connection of ours is open; its end is news
  std::uint64_t end_epoch_ = 0;
  bool audio_found_ = false;    // home_url_ has delivered audio
  std::deque<std::string> entries_;  // playlist entries still to try
  std::string content_type_;  // of this connection's answer
  std::string playlist_url_;
  std::size_t entry_count_ = 0, entry_number_ = 0;
  int playlists_read_ = 0;
  WorkingFile playlist_text_;
  int redirects_ = 0;
  int fruitless_reconnects_ = 0;

  // Where the audio goes.
  std::string file_;
  bool to_stdout_ = false;
  WorkingFile output_;  // a new (or replaced) file until its audio arrived
  WorkingFile hold_;    // the audio before the first title, when appending to an existing file
  bool output_opened_ = false;
  bool output_waits_for_audio_ = false;  // opened (and created) at the first audio byte
  bool has_titles_ = false;               // the stream carries metadata blocks
  bool tags_pending_ = false;
  bool was_writing_ = false;
  std::uint64_t written_earlier_ = 0;     // by recordings of earlier connections
  std::uint64_t written_now_ = 0;         // by the recording open now
  std::uint64_t written_at_connect_ = 0;  // written_bytes() when the connection began
  std::uint64_t chunk_audio_ = 0;         // audio bytes of the chunk the control handles now
  std::size_t title_count_ = 0;
  std::int64_t last_received_ = -1;
  std::chrono::steady_clock::time_point last_progress_;
  std::chrono::steady_clock::time_point started_;
  std::chrono::steady_clock::time_point connected_at_;
  bool finished_ = false;
  RecordFailure failure_;
};

}  // namespace pellora::cli
