// SPDX-License-Identifier: MIT
#include "cli/stream_recorder.h"

#include <boost/asio/post.hpp>

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "cli/event_printer.h"
#include "cli/file_names.h"
#include "cli/playlist.h"
#include "cli/stream_answer.h"
#include "hosting/event_loop.h"
#include "hosting/file.h"
#include "text/text.h"

namespace pellora::cli {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kLongestReconnectDelay = std::chrono::seconds(30);
// Where `-o -` sends the audio: the process's own standard output, opened anew
// so that the control writes to it as to any file.
constexpr const char* kStandardOutputPath = "/dev/stdout";

std::string Seconds(std::chrono::milliseconds d) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", double(d.count()) / 1000);
  return text;
}

RecordFailure FileFailure(const std::string& what, const std::string& path, const std::error_code& ec) {
  return {kExitFile, what + " " + path + ": " + ec.message()};
}

// Appends the whole of `from` (the held audio, at most about a megabyte) to `to`.
std::error_code AppendFileTo(const std::string& from, const std::string& to) {
  std::error_code ec;
  const hosting::File source = hosting::File::Open(from, hosting::OpenMode::Read, ec);
  const std::int64_t size = ec ? 0 : source.Size(ec);
  const std::string bytes = ec ? std::string() : source.ReadAt(0, std::size_t(size), ec);
  if (ec) return ec;
  hosting::File target = hosting::File::Open(to, hosting::OpenMode::Append, ec);
  if (!ec) target.Write(bytes, ec);
  if (!ec) target.Close(ec);
  return ec;
}

}  // namespace

StreamRecorder::StreamRecorder(hosting::EventLoop& loop, std::string url, RecordingSettings settings,
                               std::function<bool(const std::string&)> claim_name, EventPrinter* events)
    : loop_(loop),
      url_(std::move(url)),
      settings_(std::move(settings)),
      claim_name_(std::move(claim_name)),
      events_(events),
      site_(loop, [this] { AfterChunk(); }, [this] { return ReceiveBudget(); }),
      title_wait_(loop.context()),
      reconnect_timer_(loop.context()) {
  torvane_ = site_.Create<capture::Torvane>();
  torvane_->SetEvents(this);
  // The recorder judges the answer itself (`strict` included), so that a playlist
  // served by a web server can be read.
  torvane_->AcceptHttpOk(true);
  torvane_->CaFile(settings_.ca_file);
  torvane_->Insecure(settings_.insecure);
  // A header that drips in a byte at a time is no progress: it must be whole
  // within the same limit as any silence.
  torvane_->HeaderTimeout(std::chrono::duration_cast<std::chrono::milliseconds>(settings_.stall_timeout));
  torvane_->ID3Comments(settings_.comments);
  torvane_->ID3EncodedBy(settings_.encoded_by);
  torvane_->ID3Copyright(settings_.copyright);
  torvane_->ID3Languages(settings_.languages);
  to_stdout_ = settings_.output_file == kStandardOutput;
  if (to_stdout_) file_ = kStandardOutput;
  if (settings_.split) {
    split_ = std::make_unique<SplitRecorder>(
        *settings_.split,
        [this](const SavedSong& song) {
          if (events_) events_->SongSaved(url_, song);
        },
        [this](const std::string& why) {
          // Heard while the splitter is busy with a frame: end the recorder afterwards.
          boost::asio::post(loop_.context(), [this, why] { Finish({kExitFile, why}); });
        });
  } else if (settings_.cue && !to_stdout_) {
    cue_ = std::make_unique<CueRecorder>(settings_.title_charset, settings_.append);
  }
  torvane_->SetAudioSink(this);
}

StreamRecorder::~StreamRecorder() {
  if (split_) split_->Finish();
  torvane_->SetAudioSink(nullptr);
  torvane_->SetEvents(nullptr);
  torvane_->Disconnect();
  site_.TerminateControl();
}

void StreamRecorder::Start(std::function<void()> finished) {
  on_finished_ = std::move(finished);
  started_ = Clock::now();
  home_url_ = url_;
  Connect(url_);
}

void StreamRecorder::Stop() {
  const std::uint64_t audio = phase_ == Phase::Playlist ? written_earlier_ : written_bytes();
  if (audio > 0) return Finish({});
  // Stopped while waiting: the station never delivered, which a script must not
  // take for a recording.
  const auto waited = std::chrono::round<std::chrono::duration<long long, std::deci>>(Clock::now() - started_);
  Finish({kExitNetwork, "no audio received in " + Seconds(waited) + " s"});
}

std::uint64_t StreamRecorder::written_bytes() const {
  return split_ ? split_->audio_bytes() : written_earlier_ + written_now_;
}

void StreamRecorder::AudioSlice(std::span<const char> audio) {
  if (phase_ == Phase::Audio) chunk_audio_ += audio.size();
  // The control writes this chunk's audio after its events: into the file opened here.
  if (output_waits_for_audio_ && phase_ == Phase::Audio && !finished_ && !audio.empty()) {
    output_waits_for_audio_ = false;
    OpenOutput();
  }
  if (split_ && !finished_ && phase_ == Phase::Audio) split_->Audio(audio);
  if (cue_) cue_->Audio(audio);
}

std::string StreamRecorder::title() const { return torvane_->MusicName(); }

void StreamRecorder::Note(const std::string& text) const {
  if (note_) note_(text);
}

void StreamRecorder::Connect(const std::string& url) {
  phase_ = Phase::Connecting;
  connection_url_ = url;
  last_received_ = -1;
  last_progress_ = Clock::now();
  connected_at_ = last_progress_;
  written_at_connect_ = written_bytes();
  live_ = false;
  if (const auto refused = torvane_->Connect(url, true))
    return ConnectionFailed({kExitNetwork, "cannot connect to " + url + ": " + refused.message()}, true);
  live_ = torvane_->IsConnected();
}

// Our own end of a connection: it is no news when the control reports it.
void StreamRecorder::Disconnect() {
  live_ = false;
  ++end_epoch_;
  torvane_->Disconnect();
}

void StreamRecorder::StateChanged() {
  if (events_) events_->StateChanged(url_);
  // The control's count starts again with each recording; keep the total (of
  // audio: a playlist's text is no part of it). When the end of the body stops
  // the recording, the chunk that reached it has been written but not yet
  // counted: its audio is added here. A recording stopped by a handler in the
  // middle of a chunk has none of that chunk's audio yet.
  if (was_writing_ && !torvane_->IsWriting()) {
    if (torvane_->StreamEnded()) written_now_ += chunk_audio_;
    if (phase_ != Phase::Playlist) written_earlier_ += written_now_;
    written_now_ = 0;
  }
  if (cue_ && !was_writing_ && torvane_->IsWriting()) cue_->WritingStarted(file_);
  const bool stopped_at_the_end = was_writing_ && !torvane_->IsWriting() && torvane_->IsConnected() &&
                                  torvane_->StreamEnded();
  was_writing_ = torvane_->IsWriting();
  if (stopped_at_the_end && tags_pending_ && written_bytes() > 0) {
    // The server ended the stream before the first title. The control stops
    // writing before it forgets the station, so the tags are written now, while
    // they can still name it; the file is complete.
    ApplyTags();
    torvane_->StopWriting();
  }
  if (live_ && !torvane_->IsConnected()) {
    // The connection ended without us. When an Error follows at once (the
    // control ends a connection before it reports why), the error tells; otherwise
    // the server closed the stream.
    live_ = false;
    const std::uint64_t epoch = ++end_epoch_;
    boost::asio::post(loop_.context(), [this, epoch] {
      if (epoch == end_epoch_ && !finished_) OnConnectionClosed();
    });
  }
}

// With a byte limit, the control is handed no more received bytes than audio
// bytes are still wanted (they are never fewer), so the limit is met exactly,
// standard output included.
std::uint64_t StreamRecorder::ReceiveBudget() const {
  if (settings_.max_bytes == 0 || phase_ == Phase::Playlist) return UINT64_MAX;
  return settings_.max_bytes - std::min(settings_.max_bytes, written_bytes());
}

// The control writes audio only while it handles a chunk, so its count read here
// is always up to date.
void StreamRecorder::AfterChunk() {
  chunk_audio_ = 0;
  if (cue_) cue_->ChunkDone();
  if (torvane_->IsWriting()) written_now_ = std::uint64_t(torvane_->WrittenBytesTotal());
  if (finished_) return;
  if (phase_ == Phase::Playlist) {
    if (written_now_ > kMaxPlaylistBytes)
      ConnectionFailed({kExitRefused, "the playlist " + connection_url_ + " is larger than " +
                                          std::to_string(kMaxPlaylistBytes / 1024) + " KiB"},
                       false);
    return;
  }
  if (phase_ != Phase::Audio) return;
  if (tags_pending_ && written_bytes() >= settings_.title_hold_bytes) ApplyTags();
  if (!tags_pending_ && output_.Active() && written_bytes() > 0) CommitOutput();
  if (settings_.max_bytes > 0 && written_bytes() >= settings_.max_bytes) Finish({});
}

void StreamRecorder::GotHeader(std::string& header) {
  if (events_) events_->GotHeader(url_, header);
  if (finished_) return;
  content_type_ = HeaderField(header, "content-type");
  switch (ClassifyAnswer(content_type_, connection_url_)) {
    case AnswerKind::Playlist:
      return BeginPlaylist();
    case AnswerKind::NotAudio:
      return ConnectionFailed(NotAudio(content_type_), written_bytes() > 0);
    case AnswerKind::Audio:
      break;
  }
  const std::string status = StatusLine(header);
  if (settings_.strict && status.starts_with("HTTP/"))
    return ConnectionFailed({kExitRefused, "not an ICY server (it answered \"" + text::StreamTextToUtf8(status) +
                                               "\", which --strict refuses)"},
                            false);
  BeginAudio(header);
}

void StreamRecorder::BeginAudio(const std::string& header) {
  phase_ = Phase::Audio;
  if (!audio_found_ && !playlist_url_.empty())
    Note("recording " + home_url_ + " (entry " + std::to_string(entry_number_) + " of " +
         std::to_string(entry_count_) + " of the playlist " + playlist_url_ + ")");
  audio_found_ = true;
  entries_.clear();
  if (split_) return BeginSongs();
  if (cue_) cue_->Begin(content_type_, torvane_->StreamName());
  has_titles_ = std::strtoll(HeaderField(header, "icy-metaint").c_str(), nullptr, 10) > 0;
  output_waits_for_audio_ = true;
}

// --split: the songs are written as the audio comes.
void StreamRecorder::BeginSongs() {
  StationFacts station;
  station.name = torvane_->StreamName();
  station.genre = torvane_->StreamGenre();
  station.url = torvane_->StreamURL();
  station.content_type = content_type_;
  station.bit_rate_kbps = torvane_->StreamBitRate();
  if (settings_.split->folder_per_station && file_.empty()) {
    // The first header names the station's folder; reconnections keep it.
    const std::string base = SafeFileName(station.name, url_);
    const std::filesystem::path parent(settings_.split->folder.empty() ? "." : settings_.split->folder);
    for (int n = 1; file_.empty(); ++n) {
      const std::string path = (parent / (n == 1 ? base : base + " (" + std::to_string(n) + ")")).string();
      if (claim_name_(path)) file_ = path;
    }
    std::error_code ignored;
    std::filesystem::create_directories(file_, ignored);
    split_->SetFolder(file_);
  }
  split_->Begin(station);
}

// The path the audio goes to now.
std::string StreamRecorder::DataPath() const {
  if (hold_.Active()) return hold_.Path();
  if (output_.Active()) return output_.Path();
  return to_stdout_ ? kStandardOutputPath : file_;
}

void StreamRecorder::OpenOutput() {
  if (!output_opened_) {
    output_opened_ = true;
    if (file_.empty()) file_ = ChooseFile();
    tags_pending_ = settings_.tag && !to_stdout_;
    std::error_code exists_failure;
    const bool append_to_existing =
        !to_stdout_ && settings_.append && std::filesystem::exists(file_, exists_failure);
    if (append_to_existing) {
      // The held audio waits beside the file, which keeps its tags and audio.
      if (tags_pending_)
        if (const auto ec = hold_.Create(file_)) return Finish(FileFailure("cannot create a file beside", file_, ec));
    } else if (!to_stdout_ && !hosting::WritesInPlace(file_)) {
      if (const auto ec = output_.Create(file_)) return Finish(FileFailure("cannot create", file_, ec));
    }
  }
  torvane_->StartWriting(DataPath(), true);
  if (!torvane_->IsWriting()) return;  // the Error event has told why
  if (tags_pending_ && !has_titles_) return ApplyTags();
  if (tags_pending_) {
    title_wait_.expires_after(kTitleWait);
    title_wait_.async_wait([this](boost::system::error_code ec) {
      if (!ec && tags_pending_ && !finished_) ApplyTags();
    });
  }
}

// Writes the tags of the title playing now in front of the audio held so far,
// and goes on recording after it. A handler of MetaChanged calls it, so the audio
// of the chunk that brought the title follows the held audio.
void StreamRecorder::ApplyTags() {
  tags_pending_ = false;
  title_wait_.cancel();
  torvane_->StopWriting();
  torvane_->WriteID3TagToFile(true);
  // Appending to a tagged file: the control tags it and places the audio right
  // after the audio already there (a trailer is cut off).
  torvane_->StartWriting(hold_.Active() ? file_ : DataPath(), true);
  torvane_->WriteID3TagToFile(false);
  if (!torvane_->IsWriting() || !hold_.Active()) return;
  torvane_->StopWriting();
  if (const auto ec = AppendFileTo(hold_.Path(), file_)) return Finish(FileFailure("cannot write", file_, ec));
  hold_.Discard();
  torvane_->StartWriting(file_, true);
}

void StreamRecorder::CommitOutput() {
  if (const auto ec = output_.Commit()) Finish(FileFailure("cannot rename the recording to", file_, ec));
}

std::string StreamRecorder::ChooseFile() {
  if (!settings_.output_file.empty()) return settings_.output_file;
  const std::string& name = settings_.name_base.empty() ? torvane_->StreamName() : settings_.name_base;
  const std::string base = SafeFileName(name, url_);
  const std::string extension = ExtensionForContentType(content_type_);
  const std::filesystem::path folder(settings_.output_folder);
  for (int n = 1;; ++n) {
    const std::string name = n == 1 ? base + extension : base + " (" + std::to_string(n) + ")" + extension;
    const std::string path = (folder / name).string();
    if (!claim_name_(path)) continue;
    if (settings_.append || !std::filesystem::exists(path)) return path;
  }
}

// The answer is a playlist: its text is recorded into a temporary file until the
// server ends it, then read.
void StreamRecorder::BeginPlaylist() {
  if (++playlists_read_ > kMaxNestedPlaylists)
    return ConnectionFailed({kExitRefused, "more than " + std::to_string(kMaxNestedPlaylists) + " playlists"}, false);
  phase_ = Phase::Playlist;
  std::error_code ec;
  const auto folder = std::filesystem::temp_directory_path(ec) / "pellora-playlist";
  if (!ec) ec = playlist_text_.Create(folder.string());
  if (ec) return Finish(FileFailure("cannot create a temporary file in", folder.parent_path().string(), ec));
  torvane_->StartWriting(playlist_text_.Path(), false);
}

void StreamRecorder::EndPlaylist() {
  torvane_->StopWriting();
  std::error_code ec;
  const hosting::File file = hosting::File::Open(playlist_text_.Path(), hosting::OpenMode::Read, ec);
  const std::string text = ec ? std::string() : file.ReadAt(0, kMaxPlaylistBytes, ec);
  playlist_text_.Discard();
  Disconnect();
  const Playlist playlist = ParsePlaylist(text, connection_url_);
  if (playlist.kind == Playlist::Kind::Hls)
    return ConnectionFailed({kExitRefused, "HLS streams are not supported yet"}, false);
  if (playlist.kind == Playlist::Kind::NotAPlaylist) return ConnectionFailed(NotAudio(content_type_), false);
  if (playlist.entries.empty())
    return ConnectionFailed({kExitRefused, "the playlist " + connection_url_ + " names no http(s) stream"}, false);
  playlist_url_ = connection_url_;
  entry_count_ = playlist.entries.size();
  entry_number_ = 0;
  entries_.assign(playlist.entries.begin(), playlist.entries.end());
  TryNextEntry();
}

void StreamRecorder::TryNextEntry() {
  home_url_ = entries_.front();
  entries_.pop_front();
  ++entry_number_;
  redirects_ = 0;
  boost::asio::post(loop_.context(), [this, url = home_url_] {
    if (!finished_) Connect(url);
  });
}

void StreamRecorder::MetaChanged(std::string& meta) {
  if (events_) events_->MetaChanged(url_, meta);
  if (finished_ || phase_ != Phase::Audio) return;
  if (!torvane_->MusicName().empty()) ++title_count_;
  if (split_) split_->Title(torvane_->MusicName());
  if (cue_) cue_->Title(torvane_->MusicName());
  if (tags_pending_) ApplyTags();
}

void StreamRecorder::Error(capture::EErrType& type, std::int32_t& code, std::string& description) {
  if (events_) events_->Error(url_, type, code, description);
  live_ = false;
  ++end_epoch_;  // the error, not a close, ends this connection
  OnStreamError(type, code, description);
}

void StreamRecorder::OnStreamError(capture::EErrType type, std::int32_t code, const std::string& description) {
  if (finished_) return;
  if (type == capture::TErr_Stream && code == capture::Err_Stream_Redirection) {
    const Redirection redirection = FollowRedirection(description, connection_url_, site_.FirstLine());
    if (redirection.failure.exit_code != kExitOk) return ConnectionFailed(redirection.failure, written_bytes() > 0);
    const std::string target = text::StreamTextToUtf8(redirection.target);
    if (!settings_.follow_redirects)
      return ConnectionFailed({kExitRefused, "redirected to " + target + " (--follow-redirects follows it)"}, false);
    if (redirects_ >= kMaxRedirects)
      return ConnectionFailed(
          {kExitRefused, "more than " + std::to_string(kMaxRedirects) + " redirections (last to " + target + ")"},
          false);
    ++redirects_;
    boost::asio::post(loop_.context(), [this, url = redirection.target] {
      if (!finished_) Connect(url);
    });
    return;
  }
  if (type == capture::TErr_FileIO) {
    const std::error_code why = torvane_->FileFailure();
    if (why == std::errc::broken_pipe) return Finish({kExitReaderGone, ""});  // no one listens: nothing to say
    const std::string what = phase_ == Phase::Playlist ? "cannot write a temporary file"
                             : to_stdout_                ? "cannot write to standard output"
                                                         : "cannot write " + file_;
    return Finish({kExitFile, what + ": " + (why ? why.message() : description)});
  }
  // A refused or bad answer is final until audio has arrived; after that, it is
  // what a server answers while its source comes back.
  ConnectionFailed(DescribeStreamError(type, code, description, site_.FirstLine(), site_.PlainTextBody()),
                   type == capture::TErr_WSock || written_bytes() > 0);
}

// The server ended the connection in good order.
void StreamRecorder::OnConnectionClosed() {
  if (phase_ == Phase::Playlist) return EndPlaylist();
  if (written_bytes() > written_at_connect_) {
    if (settings_.reconnect) return ScheduleReconnect({kExitNetwork, "the server ended the stream"});
    return Finish({});
  }
  ConnectionFailed({kExitNetwork, "the server closed the connection before sending any audio"}, true);
}

// This connection brought no (more) audio: the next playlist entry is tried, or
// the stream again with `reconnect`, or the recording ends.
void StreamRecorder::ConnectionFailed(RecordFailure failure, bool retryable) {
  if (finished_) return;
  Disconnect();
  playlist_text_.Discard();
  if (!audio_found_ && !entries_.empty()) {
    Note(home_url_ + ": " + failure.message + "; trying the next entry of the playlist");
    return TryNextEntry();
  }
  if (!audio_found_ && !playlist_url_.empty())
    failure.message = NoPlaylistEntryAnswered(playlist_url_, entry_count_, home_url_, failure.message);
  if (retryable && settings_.reconnect && audio_found_) return ScheduleReconnect(std::move(failure));
  Finish(std::move(failure));
}

void StreamRecorder::ScheduleReconnect(RecordFailure why) {
  Disconnect();
  if (split_) split_->Interrupt();
  if (cue_) cue_->Interrupt();
  // A server that sends a moment of audio and closes (a station's "offline"
  // clip) must not be called again thousands of times a second: only a
  // connection that played a while earns an immediate reconnection.
  const bool played_a_while =
      written_bytes() > written_at_connect_ && Clock::now() - connected_at_ >= kSteadyConnection;
  if (played_a_while)
    fruitless_reconnects_ = 0;
  else if (++fruitless_reconnects_ > kMaxFruitlessReconnects)
    return Finish({why.exit_code, why.message + "; gave up after " + std::to_string(kMaxFruitlessReconnects) +
                                      " reconnections in a row that brought no audio or ended within " +
                                      std::to_string(kSteadyConnection.count()) + " s"});
  // At once after a connection that played a while, then 1, 2, 4 ... s.
  const auto delay = fruitless_reconnects_ == 0
                         ? std::chrono::steady_clock::duration::zero()
                         : std::min<std::chrono::steady_clock::duration>(
                               std::chrono::seconds(1 << std::min(fruitless_reconnects_ - 1, 5)),
                               kLongestReconnectDelay);
  reconnect_timer_.expires_after(delay);
  reconnect_timer_.async_wait([this](boost::system::error_code ec) {
    if (ec || finished_) return;
    redirects_ = 0;
    Connect(home_url_);
  });
}

void StreamRecorder::Tick() {
  if (finished_ || !torvane_->IsConnected()) return;
  const auto received = torvane_->ReceivedBytesTotal();
  const auto now = Clock::now();
  if (received != last_received_) {
    last_received_ = received;
    last_progress_ = now;
    return;
  }
  if (now - last_progress_ < settings_.stall_timeout) return;
  // A server that keeps the connection after the playlist's text ends it so.
  if (phase_ == Phase::Playlist && written_now_ > 0) return EndPlaylist();
  const std::string why = "no data received for " + Seconds(settings_.stall_timeout) +
                          (settings_.stall_timeout == std::chrono::seconds(1) ? " second" : " seconds");
  if (phase_ == Phase::Audio && settings_.reconnect) return ScheduleReconnect({kExitNetwork, why});
  ConnectionFailed({kExitNetwork, why}, phase_ != Phase::Playlist);
}

void StreamRecorder::Finish(RecordFailure failure) {
  if (finished_) return;
  finished_ = true;
  failure_ = std::move(failure);
  reconnect_timer_.cancel();
  // Tags still waiting for a title are written now, without one.
  if (tags_pending_ && written_bytes() > 0 && failure_.exit_code != kExitFile) ApplyTags();
  tags_pending_ = false;
  title_wait_.cancel();
  Disconnect();
  if (split_) split_->Finish();
  if (cue_) cue_->Interrupt();
  FinishOutput();
  if (on_finished_) boost::asio::post(loop_.context(), on_finished_);
}

// The recording's file takes its place when it holds audio and goes otherwise.
void StreamRecorder::FinishOutput() {
  playlist_text_.Discard();
  if (written_bytes() == 0) {
    output_.Discard();
    hold_.Discard();
    return;
  }
  if (hold_.Active()) {  // tags could not be written: the held audio still belongs to the recording
    if (const auto ec = AppendFileTo(hold_.Path(), file_); ec && failure_.exit_code == kExitOk)
      failure_ = FileFailure("cannot write", file_, ec);
    hold_.Discard();
  }
  if (output_.Active())
    if (const auto ec = output_.Commit(); ec && failure_.exit_code == kExitOk)
      failure_ = FileFailure("cannot rename the recording to", file_, ec);
}

}  // namespace pellora::cli
