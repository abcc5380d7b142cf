#include "cli/stream_recorder.h"

#include <boost/asio/post.hpp>

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "cli/event_printer.h"
#include "cli/file_names.h"
#include "hosting/event_loop.h"
#include "hosting/file.h"

namespace pellora::cli {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kLongestReconnectDelay = std::chrono::seconds(30);

std::int64_t FileSize(const std::string& path) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(path, ec);
  return ec ? -1 : std::int64_t(size);
}

std::string Seconds(std::chrono::milliseconds d) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", double(d.count()) / 1000);
  return text;
}

}  // namespace

StreamRecorder::StreamRecorder(hosting::EventLoop& loop, std::string url, RecordingSettings settings,
                               std::function<bool(const std::string&)> claim_name, EventPrinter* events)
    : loop_(loop),
      url_(std::move(url)),
      settings_(std::move(settings)),
      claim_name_(std::move(claim_name)),
      events_(events),
      site_(loop, [this] { AfterChunk(); }),
      title_wait_(loop.context()),
      reconnect_timer_(loop.context()) {
  torvane_ = site_.Create<capture::Torvane>();
  torvane_->SetEvents(this);
  torvane_->AcceptHttpOk(!settings_.strict);
  torvane_->CaFile(settings_.ca_file);
  torvane_->Insecure(settings_.insecure);
  torvane_->WriteID3TagToFile(settings_.tag);
  torvane_->ID3Comments(settings_.comments);
  torvane_->ID3EncodedBy(settings_.encoded_by);
  torvane_->ID3Copyright(settings_.copyright);
  torvane_->ID3Languages(settings_.languages);
}

StreamRecorder::~StreamRecorder() {
  torvane_->SetEvents(nullptr);
  torvane_->Disconnect();
  site_.TerminateControl();
}

void StreamRecorder::Start(std::function<void()> finished) {
  on_finished_ = std::move(finished);
  Connect(url_);
}

void StreamRecorder::Stop() { Finish({}); }

std::uint64_t StreamRecorder::written_bytes() const { return written_earlier_ + written_now_; }

std::string StreamRecorder::title() const { return torvane_->MusicName(); }

void StreamRecorder::Connect(const std::string& url) {
  last_received_ = -1;
  last_progress_ = Clock::now();
  written_at_connect_ = written_bytes();
  if (const auto refused = torvane_->Connect(url, true)) return Finish(refused.message());
  // A file known in advance is opened at once, so that a file that cannot be
  // written is reported before anything else; a tagged file waits for the title.
  const bool file_known = !file_.empty() || !settings_.output_file.empty();
  if (file_known && (!settings_.tag || wrote_before_)) BeginWriting();
}

void StreamRecorder::StateChanged() {
  if (events_) events_->StateChanged(url_);
  // The control's count starts again with each recording; keep the total.
  if (was_writing_ && !torvane_->IsWriting()) {
    written_earlier_ += written_now_;
    written_now_ = 0;
  }
  was_writing_ = torvane_->IsWriting();
  // The server ended the stream, and the control the connection with it.
  if (!torvane_->IsConnected() && torvane_->StreamEnded() && !finished_) {
    boost::asio::post(loop_.context(), [this] {
      if (!finished_ && !torvane_->IsConnected()) OnStreamEnded();
    });
  }
}

void StreamRecorder::OnStreamEnded() {
  if (settings_.reconnect) return ScheduleReconnect("the server ended the stream");
  Finish(written_bytes() > 0 ? "" : "the server ended the stream before any audio");
}

// The control writes audio only while it handles a chunk, so its count read here
// is always up to date.
void StreamRecorder::AfterChunk() {
  if (torvane_->IsWriting()) written_now_ = std::uint64_t(torvane_->WrittenBytesTotal());
  if (settings_.max_bytes > 0 && written_bytes() >= settings_.max_bytes) Finish({});
}

void StreamRecorder::GotHeader(std::string& header) {
  if (events_) events_->GotHeader(url_, header);
  if (torvane_->IsWriting() || finished_) return;
  const auto metaint = torvane_->GetHeader("icy-metaint").value_or("");
  const bool has_titles = !metaint.empty() && metaint != "0";
  if (!settings_.tag || !has_titles || wrote_before_) return BeginWriting();
  waiting_for_title_ = true;
  title_wait_.expires_after(kTitleWait);
  title_wait_.async_wait([this](boost::system::error_code ec) {
    if (!ec && waiting_for_title_) BeginWriting();
  });
}

void StreamRecorder::MetaChanged(std::string& meta) {
  if (events_) events_->MetaChanged(url_, meta);
  if (waiting_for_title_) BeginWriting();
}

void StreamRecorder::Error(capture::EErrType& type, std::int32_t& code, std::string& description) {
  if (events_) events_->Error(url_, type, code, description);
  OnStreamError(type, code, description);
}

void StreamRecorder::BeginWriting() {
  waiting_for_title_ = false;
  title_wait_.cancel();
  if (finished_) return;
  const bool append = settings_.append || wrote_before_;
  if (file_.empty()) file_ = ChooseFile();
  if (!append) {
    // A new recording replaces the file; the control alone would overwrite it from
    // the start and leave a longer old file's end behind the new audio.
    std::error_code ignored;
    hosting::File::Open(file_, hosting::OpenMode::WriteTruncate, ignored);
  }
  torvane_->StartWriting(file_, append);
  if (!torvane_->IsWriting()) return;  // the Error event has ended the recorder
  wrote_before_ = true;
  torvane_->WriteID3TagToFile(false);  // a reconnection appends audio to tags already written
}

std::string StreamRecorder::ChooseFile() {
  if (!settings_.output_file.empty()) return settings_.output_file;
  const std::string base = SafeFileName(torvane_->StreamName(), url_);
  const std::string extension = ExtensionForContentType(torvane_->GetHeader("content-type").value_or(""));
  const std::filesystem::path folder(settings_.output_folder);
  for (int n = 1;; ++n) {
    const std::string name = n == 1 ? base + extension : base + " (" + std::to_string(n) + ")" + extension;
    const std::string path = (folder / name).string();
    if (!claim_name_(path)) continue;
    if (settings_.append || !std::filesystem::exists(path)) return path;
  }
}

void StreamRecorder::OnStreamError(capture::EErrType type, std::int32_t code, const std::string& description) {
  if (finished_) return;
  if (type == capture::TErr_Stream && code == capture::Err_Stream_Redirection) {
    if (!settings_.follow_redirects) return Finish("redirected to " + description + " (--follow-redirects follows it)");
    if (redirects_ >= kMaxRedirects)
      return Finish("more than " + std::to_string(kMaxRedirects) + " redirections (last to " + description + ")");
    ++redirects_;
    const std::string target = description;
    boost::asio::post(loop_.context(), [this, target] {
      if (!finished_) Connect(target);
    });
    return;
  }
  if (type == capture::TErr_WSock && settings_.reconnect) return ScheduleReconnect(description);
  Finish(description);
}

void StreamRecorder::ScheduleReconnect(const std::string& why) {
  torvane_->Disconnect();
  waiting_for_title_ = false;
  if (written_bytes() > written_at_connect_)
    fruitless_reconnects_ = 0;
  else if (++fruitless_reconnects_ > kMaxFruitlessReconnects)
    return Finish(why + "; gave up after " + std::to_string(kMaxFruitlessReconnects) +
                  " reconnections without audio");
  const auto delay = std::min<std::chrono::steady_clock::duration>(
      std::chrono::seconds(1 << std::min(fruitless_reconnects_, 5)), kLongestReconnectDelay);
  reconnect_timer_.expires_after(delay);
  reconnect_timer_.async_wait([this](boost::system::error_code ec) {
    if (ec || finished_) return;
    redirects_ = 0;
    Connect(url_);
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
  const std::string why = "no data received for " + Seconds(settings_.stall_timeout) + " seconds";
  if (settings_.reconnect) return ScheduleReconnect(why);
  Finish(why);
}

void StreamRecorder::Finish(std::string failure) {
  if (finished_) return;
  finished_ = true;
  failure_ = std::move(failure);
  title_wait_.cancel();
  reconnect_timer_.cancel();
  torvane_->Disconnect();
  // The control writes whole chunks; cut the file to the exact limit.
  if (settings_.max_bytes > 0 && written_bytes() > settings_.max_bytes) {
    const std::int64_t excess = std::int64_t(written_bytes() - settings_.max_bytes);
    const std::int64_t size = FileSize(file_);
    std::error_code ignored;
    if (size >= excess) std::filesystem::resize_file(file_, std::uint64_t(size - excess), ignored);
  }
  if (on_finished_) boost::asio::post(loop_.context(), on_finished_);
}

}  // namespace pellora::cli
