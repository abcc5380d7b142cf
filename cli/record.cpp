// pellora record URL [-o FILE] [--append] [--duration SECONDS] [--max-bytes N] [--json-events]
//
// Connects a Torvane to the stream, records its audio into FILE (default
// "stream.mp3") and stops after SECONDS, once N audio bytes were written (the
// chunk that reaches N is written whole, so the file may hold up to 32 KiB
// more), or on SIGINT/SIGTERM. Exit 0 then; a stream error exits 1 with its
// description on stderr. With --json-events every event is printed as one JSON
// object a line on stdout.
#include <asio/signal_set.hpp>
#include <asio/steady_timer.hpp>
#include <nlohmann/json.hpp>

#include <csignal>
#include <cstdio>
#include <memory>
#include <optional>

#include "capture/torvane.h"
#include "cli/commands.h"
#include "hosting/event_loop.h"
#include "text/text.h"

namespace pellora::cli {
namespace {

using capture::EErrType;

struct RecordOptions {
  std::string url;
  std::string file = "stream.mp3";
  bool append = false;
  double duration = 0;        // seconds; 0 = no limit
  std::int64_t max_bytes = 0;  // 0 = no limit
  bool json_events = false;
};

// The control's socket, with a look at every chunk once the control has
// processed it.
class WatchedSocket : public hosting::Socket, private hosting::SocketEvents {
 public:
  WatchedSocket(std::unique_ptr<hosting::Socket> inner, std::function<void()> after_chunk)
      : inner_(std::move(inner)), after_chunk_(std::move(after_chunk)) {
    inner_->SetEvents(this);
  }
  void SetEvents(hosting::SocketEvents* events) override { control_ = events; }
  std::error_code Connect(const std::string& host, std::uint16_t port) override {
    return inner_->Connect(host, port);
  }
  void Send(std::string_view text) override { inner_->Send(text); }
  void Close() override { inner_->Close(); }

 private:
  void OnConnect() override { control_->OnConnect(); }
  void OnDataArrival(std::span<const char> data) override {
    control_->OnDataArrival(data);
    after_chunk_();
  }
  void OnError(std::int32_t number, const std::string& description) override {
    control_->OnError(number, description);
  }

  std::unique_ptr<hosting::Socket> inner_;
  std::function<void()> after_chunk_;
  hosting::SocketEvents* control_ = nullptr;
};

class RecordSite : public hosting::Site {
 public:
  RecordSite(hosting::EventLoop& loop, std::function<void()> after_chunk)
      : hosting::Site(loop), after_chunk_(std::move(after_chunk)) {}
  std::unique_ptr<hosting::Socket> CreateSocket() override {
    return std::make_unique<WatchedSocket>(hosting::Site::CreateSocket(), after_chunk_);
  }

 private:
  std::function<void()> after_chunk_;
};

// Byte text (one character a byte) as a JSON string.
std::string Text(const std::string& bytes) { return text::Latin1ToUtf8(bytes); }

class RecordSession : public capture::TorvaneEvents {
 public:
  explicit RecordSession(const RecordOptions& options)
      : options_(options),
        site_(loop_, [this] { CheckByteLimit(); }),
        signals_(loop_.context(), SIGINT, SIGTERM),
        timer_(loop_.context()) {}

  int Run() {
    control_ = site_.Create<capture::Torvane>();
    control_->SetEvents(this);
    signals_.async_wait([this](const std::error_code& ec, int) {
      if (!ec) Finish();
    });
    if (options_.duration > 0) {
      timer_.expires_after(std::chrono::duration_cast<std::chrono::steady_clock::duration>(
          std::chrono::duration<double>(options_.duration)));
      timer_.async_wait([this](const std::error_code& ec) {
        if (!ec) Finish();
      });
    }
    if (const std::error_code refused = control_->Connect(options_.url)) {
      std::fprintf(stderr, "pellora record: %s\n", refused.message().c_str());
      return 1;
    }
    if (!finished_) control_->StartWriting(options_.file, options_.append);
    if (!finished_) loop_.run();
    control_->SetEvents(nullptr);
    if (failure_) {
      std::fprintf(stderr, "pellora record: %s\n", Text(*failure_).c_str());
      return 1;
    }
    return 0;
  }

 private:
  void StateChanged() override { Print({{"event", "StateChanged"}}); }
  void MetaChanged(std::string& meta) override { Print({{"event", "MetaChanged"}, {"meta", Text(meta)}}); }
  void GotHeader(std::string& header) override {
    Print({{"event", "GotHeader"}, {"Header", Text(header)}});
  }
  void Error(EErrType& type, std::int32_t& code, std::string& description) override {
    Print({{"event", "Error"}, {"ErrType", type}, {"ErrCode", code}, {"Description", Text(description)}});
    if (!failure_) failure_ = description;
    Finish();
  }

  void Print(const nlohmann::json& event) {
    if (!options_.json_events) return;
    std::fprintf(stdout, "%s\n", event.dump().c_str());
    std::fflush(stdout);
  }

  void CheckByteLimit() {
    if (options_.max_bytes > 0 && control_->WrittenBytesTotal() >= options_.max_bytes) Finish();
  }

  void Finish() {
    if (finished_) return;
    finished_ = true;
    control_->StopWriting();
    control_->Disconnect();
    signals_.cancel();
    timer_.cancel();
    loop_.stop();
  }

  const RecordOptions& options_;
  hosting::EventLoop loop_;
  RecordSite site_;
  asio::signal_set signals_;
  asio::steady_timer timer_;
  std::shared_ptr<capture::Torvane> control_;
  std::optional<std::string> failure_;
  bool finished_ = false;
};

}  // namespace

void RegisterRecord(CLI::App& app, CommandList& commands) {
  auto options = std::make_shared<RecordOptions>();
  CLI::App* sub = app.add_subcommand("record", "Record an internet-radio stream's audio to a file");
  sub->add_option("URL", options->url, "Stream URL, e.g. http://host:8000/live")->required();
  sub->add_option("-o,--output", options->file, "File to record into (created if missing)")
      ->capture_default_str();
  sub->add_flag("--append", options->append, "Add to the end of the file instead of overwriting it");
  sub->add_option("--duration", options->duration, "Stop after this many seconds")
      ->check(CLI::PositiveNumber);
  sub->add_option("--max-bytes", options->max_bytes, "Stop once this many audio bytes are written")
      ->check(CLI::PositiveNumber);
  sub->add_flag("--json-events", options->json_events, "Print every event as a JSON line on stdout");
  commands.push_back({sub, [options] { return RecordSession(*options).Run(); }});
}

}  // namespace pellora::cli
