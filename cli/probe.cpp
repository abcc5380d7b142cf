// SPDX-License-Identifier: MIT
// `pellora probe`: connects to a stream, waits for its header and first title, and
// prints what the station says about itself.
#include <boost/asio/steady_timer.hpp>
#include <nlohmann/json.hpp>

#include <boost/asio/post.hpp>

#include <cstdio>
#include <deque>
#include <filesystem>
#include <memory>

#include "capture/torvane.h"
#include "cli/chunk_watch.h"
#include "cli/commands.h"
#include "cli/exit_codes.h"
#include "cli/playlist.h"
#include "cli/seconds_option.h"
#include "cli/stream_answer.h"
#include "cli/stream_failure.h"
#include "cli/stream_recorder.h"
#include "cli/working_file.h"
#include "hosting/file.h"
#include "hosting/event_loop.h"
#include "text/text.h"

namespace pellora::cli {
namespace {

constexpr int kMaxProbeRedirects = 5;

struct ProbeCommand {
  std::string url;
  bool json = false;
  bool strict = false;
  std::string ca_file;
  bool insecure = false;
  bool quiet = false;
  double timeout_seconds = 10;
};

// What the probe learnt, as UTF-8 for a person.
struct ProbeResult {
  std::string url, status;
  std::vector<std::pair<std::string, std::string>> fields;  // header lines after the status
  std::string name, genre, station_url, title, title_url;
  int bit_rate = 0;
  bool is_public = false;
  long long metaint = 0;
  std::vector<std::string> notices;
};

std::string Person(const std::string& bytes) { return text::StreamTextToUtf8(bytes); }

std::string Terminal(const std::string& utf8) { return text::EscapeForTerminal(utf8); }

class Prober : private capture::TorvaneEvents {
 public:
  Prober(hosting::EventLoop& loop, const ProbeCommand& command)
      : loop_(loop), site_(loop, [] {}), timeout_(loop.context()), command_(command) {
    torvane_ = site_.Create<capture::Torvane>();
    torvane_->SetEvents(this);
    // The probe judges the answer itself (`strict` included), so that a playlist
    // served by a web server is read as `record` reads it.
    torvane_->AcceptHttpOk(true);
    torvane_->CaFile(command.ca_file);
    torvane_->Insecure(command.insecure);
  }
  ~Prober() override {
    torvane_->SetEvents(nullptr);
    torvane_->Disconnect();
    site_.TerminateControl();
  }

  // Runs the probe; fills `result` or returns why it failed.
  StreamFailure Run(ProbeResult& result) {
    url_ = command_.url;
    if (const auto refused = torvane_->Connect(url_)) return {kExitNetwork, refused.message()};
    timeout_.expires_after(std::chrono::milliseconds(static_cast<long long>(command_.timeout_seconds * 1000)));
    timeout_.async_wait([this](boost::system::error_code ec) {
      if (ec) return;
      if (header_.empty()) failure_ = {kExitNetwork, "no answer within the timeout"};
      Done();
    });
    loop_.run();
    if (failure_.exit_code == kExitOk) result = result_;
    else if (!playlist_url_.empty())
      failure_.message = NoPlaylistEntryAnswered(playlist_url_, entry_count_, url_, failure_.message);
    return failure_;
  }

 private:
  void GotHeader(std::string& header) override {
    const std::string type = HeaderField(header, "content-type");
    const std::string status = StatusLine(header);
    if (ClassifyAnswer(type, url_) == AnswerKind::Playlist) return BeginPlaylist(type);
    if (ClassifyAnswer(type, url_) == AnswerKind::NotAudio)
      failure_ = NotAudio(type);
    else if (command_.strict && status.starts_with("HTTP/"))
      failure_ = {kExitRefused, "not an ICY server (it answered \"" + Person(status) + "\", which --strict refuses)"};
    if (failure_.exit_code != kExitOk) return Done();
    header_ = header;
    Collect();
    if (result_.metaint <= 0) Done();
  }
  void MetaChanged(std::string&) override {
    result_.title = Person(torvane_->MusicName());
    result_.title_url = Person(torvane_->MusicURL());
    Done();
  }

  // A playlist's text is recorded into a temporary file until the server ends
  // it; then its entries are probed in order until one answers.
  void BeginPlaylist(const std::string& type) {
    if (++playlists_ > kMaxNestedPlaylists) {
      failure_ = {kExitRefused, "more than " + std::to_string(kMaxNestedPlaylists) + " playlists"};
      return Done();
    }
    playlist_type_ = type;
    std::error_code ec;
    const auto folder = std::filesystem::temp_directory_path(ec) / "pellora-playlist";
    if (!ec) ec = playlist_text_.Create(folder.string());
    if (ec) {
      failure_ = {kExitFile, "cannot create a temporary file: " + ec.message()};
      return Done();
    }
    reading_playlist_ = true;
    torvane_->StartWriting(playlist_text_.Path());
  }
  void StateChanged() override {
    if (torvane_->IsConnected()) return;
    if (reading_playlist_) {
      boost::asio::post(loop_.context(), [this] {
        if (reading_playlist_) EndPlaylist();
      });
    } else if (!header_.empty()) {
      // The stream ended before its first title: what its header said is the
      // answer, unless an Error that follows at once tells why it ended.
      boost::asio::post(loop_.context(), [this] { Done(); });
    }
  }
  void EndPlaylist() {
    reading_playlist_ = false;
    torvane_->StopWriting();
    std::error_code ec;
    const hosting::File file = hosting::File::Open(playlist_text_.Path(), hosting::OpenMode::Read, ec);
    const std::string text = ec ? std::string() : file.ReadAt(0, kMaxPlaylistBytes, ec);
    playlist_text_.Discard();
    const Playlist playlist = ParsePlaylist(text, url_);
    if (playlist.kind == Playlist::Kind::Hls) failure_ = {kExitRefused, "HLS streams are not supported yet"};
    if (playlist.kind == Playlist::Kind::NotAPlaylist) failure_ = NotAudio(playlist_type_);
    if (playlist.kind == Playlist::Kind::Entries && playlist.entries.empty())
      failure_ = {kExitRefused, "the playlist names no http(s) stream"};
    if (failure_.exit_code != kExitOk) return Done();
    playlist_url_ = url_;
    entry_count_ = playlist.entries.size();
    entries_.assign(playlist.entries.begin(), playlist.entries.end());
    NextEntry();
  }
  void NextEntry() {
    url_ = entries_.front();
    entries_.pop_front();
    redirects_ = 0;
    boost::asio::post(loop_.context(), [this] {
      if (done_) return;
      if (const auto refused = torvane_->Connect(url_, true)) failure_ = {kExitNetwork, refused.message()}, Done();
    });
  }

  void Error(capture::EErrType& type, std::int32_t& code, std::string& description) override {
    reading_playlist_ = false;
    if (type == capture::TErr_Stream && code == capture::Err_Stream_Redirection && redirects_ < kMaxProbeRedirects) {
      const Redirection redirection = FollowRedirection(description, url_, site_.FirstLine());
      if (redirection.failure.exit_code != kExitOk) {
        failure_ = redirection.failure;
        return Done();
      }
      ++redirects_;
      url_ = redirection.target;
      if (const auto refused = torvane_->Connect(url_, true)) failure_ = {kExitNetwork, refused.message()}, Done();
      return;
    }
    if (!entries_.empty() && header_.empty() && type != capture::TErr_FileIO) return NextEntry();
    failure_ = DescribeStreamError(type, code, description, site_.FirstLine(), site_.PlainTextBody());
    Done();
  }

  void Done() {
    if (done_) return;
    done_ = true;
    timeout_.cancel();
    torvane_->Disconnect();
    loop_.stop();
  }

  // The header's fields, read while the control still holds them.
  void Collect() {
    ProbeResult& r = result_;
    r.url = url_;
    std::size_t line_start = 0;
    for (bool first = true;; first = false) {
      const auto end = header_.find("\r\n", line_start);
      if (end == std::string::npos || end == line_start) break;
      const std::string line = header_.substr(line_start, end - line_start);
      line_start = end + 2;
      if (first) {
        r.status = Person(line);
        continue;
      }
      const auto colon = line.find(':');
      if (colon == std::string::npos) continue;
      const auto value_start = line.find_first_not_of(' ', colon + 1);
      r.fields.emplace_back(Person(line.substr(0, colon)),
                            Person(value_start == std::string::npos ? "" : line.substr(value_start)));
    }
    r.name = Person(torvane_->StreamName());
    r.genre = Person(torvane_->StreamGenre());
    r.station_url = Person(torvane_->StreamURL());
    r.bit_rate = torvane_->StreamBitRate();
    r.is_public = torvane_->StreamPublic();
    r.metaint = std::atoll(torvane_->GetHeader("icy-metaint").value_or("0").c_str());
    const std::string notices = torvane_->GetNotices().value_or("");
    for (std::size_t start = 0; !notices.empty();) {
      const auto end = notices.find("\r\n", start);
      r.notices.push_back(Person(notices.substr(start, end - start)));
      if (end == std::string::npos) break;
      start = end + 2;
    }
  }

  hosting::EventLoop& loop_;
  ChunkWatchingSite site_;
  boost::asio::steady_timer timeout_;
  const ProbeCommand& command_;
  std::shared_ptr<capture::Torvane> torvane_;
  std::string url_, header_, playlist_type_;
  std::string playlist_url_;  // the playlist whose entries are tried
  std::size_t entry_count_ = 0;
  WorkingFile playlist_text_;
  std::deque<std::string> entries_;
  bool reading_playlist_ = false;
  int playlists_ = 0;
  StreamFailure failure_;
  int redirects_ = 0;
  bool done_ = false;
  ProbeResult result_;
};

void PrintText(const ProbeResult& r) {
  auto line = [](const char* label, const std::string& value) {
    if (!value.empty()) std::printf("%-11s %s\n", label, Terminal(value).c_str());
  };
  line("URL:", r.url);
  line("Status:", r.status);
  line("Station:", r.name);
  line("Genre:", r.genre);
  line("Web site:", r.station_url);
  line("Bit rate:", r.bit_rate ? std::to_string(r.bit_rate) + " kbit/s" : "");
  line("Public:", r.is_public ? "yes" : "no");
  line("Metadata:", r.metaint > 0 ? "every " + std::to_string(r.metaint) + " bytes" : "none");
  for (std::size_t i = 0; i < r.notices.size(); ++i) line(i == 0 ? "Notices:" : "", r.notices[i]);
  line("Title:", r.title);
  line("Title URL:", r.title_url);
}

void PrintJson(const ProbeResult& r) {
  nlohmann::ordered_json header = nlohmann::ordered_json::object();
  for (const auto& [name, value] : r.fields) header[name] = value;
  const nlohmann::ordered_json out = {
      {"url", r.url},           {"Status", r.status},       {"StreamName", r.name},
      {"StreamGenre", r.genre}, {"StreamURL", r.station_url}, {"StreamBitRate", r.bit_rate},
      {"StreamPublic", r.is_public}, {"MetaInterval", r.metaint}, {"Notices", r.notices},
      {"MusicName", r.title},   {"MusicURL", r.title_url},  {"Header", header}};
  // Every character beyond ASCII as \uXXXX: exact, and nothing reaches a terminal raw.
  std::printf("%s\n", out.dump(2, ' ', true).c_str());
}

int RunProbe(const ProbeCommand& command) {
  hosting::EventLoop loop;
  Prober prober(loop, command);
  ProbeResult result;
  if (const StreamFailure failure = prober.Run(result); failure.exit_code != kExitOk) {
    std::fprintf(stderr, "pellora probe: %s: %s\n", Terminal(Person(command.url)).c_str(),
                 Terminal(failure.message).c_str());
    return failure.exit_code;
  }
  if (command.quiet) return kExitOk;
  command.json ? PrintJson(result) : PrintText(result);
  return kExitOk;
}

}  // namespace

void RegisterProbe(CLI::App& app, CommandList& commands) {
  auto command = std::make_shared<ProbeCommand>();
  auto* sub = app.add_subcommand("probe", "Show a stream's header fields, notices and current title");
  sub->add_option("url", command->url, "stream URL, e.g. http://host:8000/live")->required();
  sub->add_flag("--json", command->json, "print JSON instead of text");
  sub->add_flag("-q,--quiet", command->quiet, "print nothing but failures: the exit status says whether it answers");
  sub->add_flag("--strict", command->strict, "refuse servers that answer \"HTTP/1.x 200\"");
  sub->add_option("--ca-file", command->ca_file, "https: trust the authorities in FILE (PEM) instead of the system's")
      ->check(CLI::ExistingFile);
  sub->add_flag("--insecure", command->insecure, "https: accept any certificate for any host (no check)");
  sub->add_option("--timeout", command->timeout_seconds, "seconds to wait for the header and first title")
      ->capture_default_str()
      ->check(Seconds(0.001));
  commands.push_back({sub, [command] { return RunProbe(*command); }});
}

}  // namespace pellora::cli
