#pragma once
// One stream recorded by `pellora record` (and `pellora demo`): a Torvane control
// with the policies a person expects of a recorder on top of the control's own
// behaviour.
//
//  - A file named in advance is opened as soon as the connection is asked for, a
//    file named after the station once the header has arrived; with tagging on,
//    the file is opened once the first title is known (or `kTitleWait` after the
//    header), so that the tags carry the song of the moment.
//  - `follow_redirects`: a redirection is followed, at most `kMaxRedirects` hops.
//  - `reconnect`: after a socket error, or when no byte arrived for
//    `stall_timeout` (the control does not notice a server that closed), the
//    stream is connected again after a growing delay (1, 2, 4 … at most 30 s) and
//    its audio is appended to the same file (tagged only the first time). A refused
//    status (ICY 400/401/403/404) or a bad server is never retried; after
//    `kMaxFruitlessReconnects` reconnects in a row that brought no audio the
//    recorder gives up.
//  - Without `reconnect`, a stream silent for `stall_timeout` ends the recording as
//    a failure.
// Everything runs on the loop's thread.
#include <boost/asio/steady_timer.hpp>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "capture/torvane.h"
#include "cli/chunk_watch.h"

namespace pellora::cli {

class EventPrinter;

struct RecordingSettings {
  std::string output_file;    // the file; empty: named after the station in `output_folder`
  std::string output_folder;  // for station-named files ("" = current folder)
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
};

inline constexpr int kMaxRedirects = 5;
inline constexpr int kMaxFruitlessReconnects = 5;
inline constexpr std::chrono::seconds kTitleWait{10};

class StreamRecorder : private capture::TorvaneEvents {
 public:
  // `claim_name` takes a station-derived file name for this recorder; it returns
  // false when another recorder of the same run has it already. `events` (may be
  // null) prints every event.
  StreamRecorder(hosting::EventLoop& loop, std::string url, RecordingSettings settings,
                 std::function<bool(const std::string&)> claim_name, EventPrinter* events);
  ~StreamRecorder() override;

  // Connects; `finished` is called once the recorder has ended for good.
  void Start(std::function<void()> finished);
  // Stops the recording and disconnects; a success unless it had failed before.
  void Stop();
  // Called about four times a second by the owner: checks whether the stream
  // stalled.
  void Tick();

  const std::string& url() const { return url_; }
  bool finished() const { return finished_; }
  // Why the recording failed; empty after a success.
  const std::string& failure() const { return failure_; }
  // The recording file ("" until it is opened).
  const std::string& file() const { return file_; }
  // Audio bytes written over every connection.
  std::uint64_t written_bytes() const;
  // The title playing now (as the station sent it: bytes).
  std::string title() const;

 private:
  void StateChanged() override;
  void MetaChanged(std::string& meta) override;
  void Error(capture::EErrType& type, std::int32_t& code, std::string& description) override;
  void GotHeader(std::string& header) override;

  void Connect(const std::string& url);
  void BeginWriting();
  std::string ChooseFile();
  void OnStreamError(capture::EErrType type, std::int32_t code, const std::string& description);
  void ScheduleReconnect(const std::string& why);
  void OnStreamEnded();
  void Finish(std::string failure);
  void AfterChunk();

  hosting::EventLoop& loop_;
  std::string url_;
  RecordingSettings settings_;
  std::function<bool(const std::string&)> claim_name_;
  EventPrinter* events_;
  ChunkWatchingSite site_;
  std::shared_ptr<capture::Torvane> torvane_;
  boost::asio::steady_timer title_wait_;
  boost::asio::steady_timer reconnect_timer_;
  std::function<void()> on_finished_;

  std::string file_;
  bool waiting_for_title_ = false;
  bool wrote_before_ = false;  // the file was opened by an earlier connection
  int redirects_ = 0;
  int fruitless_reconnects_ = 0;
  bool was_writing_ = false;
  std::uint64_t written_earlier_ = 0;   // by recordings of earlier connections
  std::uint64_t written_now_ = 0;       // by the recording of this connection
  std::uint64_t written_at_connect_ = 0;  // written_bytes() when the connection began
  std::int64_t last_received_ = -1;
  std::chrono::steady_clock::time_point last_progress_;
  bool finished_ = false;
  std::string failure_;
};

}  // namespace pellora::cli
