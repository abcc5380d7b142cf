#include "cli/record_session.h"

#include <csignal>
#include <cstdio>

#include "cli/status_line.h"
#include "hosting/event_loop.h"
#include "text/text.h"

namespace pellora::cli {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kTickPeriod = std::chrono::milliseconds(250);
constexpr auto kStatusPeriod = std::chrono::seconds(1);

}  // namespace

RecordSession::RecordSession(hosting::EventLoop& loop, const std::vector<std::string>& urls,
                             const RecordingSettings& settings, SessionOptions options)
    : loop_(loop),
      options_(options),
      tick_(loop.context()),
      deadline_(loop.context()),
      signals_(loop.context(), SIGINT, SIGTERM) {
  if (options_.json_events) printer_.emplace(urls.size() > 1);
  auto claim_name = [this](const std::string& path) { return claimed_names_.insert(path).second; };
  for (const auto& url : urls)
    recorders_.push_back(std::make_unique<StreamRecorder>(loop, url, settings, claim_name,
                                                          printer_ ? &*printer_ : nullptr));
}

int RecordSession::Run(const std::string& program) {
  started_ = Clock::now();
  next_status_ = started_;
  signals_.async_wait([this](boost::system::error_code ec, int) {
    if (!ec) StopAll();
  });
  if (options_.duration.count() > 0) {
    deadline_.expires_after(options_.duration);
    deadline_.async_wait([this](boost::system::error_code ec) {
      if (!ec) StopAll();
    });
  }
  for (auto& recorder : recorders_) recorder->Start([this] { OnRecorderFinished(); });
  Tick();
  loop_.run();
  ClearStatus();

  int status = 0;
  for (const auto& recorder : recorders_) {
    if (recorder->failure().empty()) continue;
    status = 1;
    const std::string where = recorders_.size() > 1 ? recorder->url() + ": " : "";
    std::fprintf(stderr, "%s: %s%s\n", program.c_str(), where.c_str(),
                 text::StreamTextToUtf8(recorder->failure()).c_str());
  }
  return status;
}

void RecordSession::Tick() {
  for (auto& recorder : recorders_) recorder->Tick();
  if (options_.status_line && Clock::now() >= next_status_) {
    DrawStatus();
    next_status_ += kStatusPeriod;
  }
  tick_.expires_after(kTickPeriod);
  tick_.async_wait([this](boost::system::error_code ec) {
    if (!ec && !ended_) Tick();
  });
}

void RecordSession::StopAll() {
  for (auto& recorder : recorders_) recorder->Stop();
}

void RecordSession::OnRecorderFinished() {
  for (const auto& recorder : recorders_)
    if (!recorder->finished()) return;
  ended_ = true;
  tick_.cancel();
  deadline_.cancel();
  signals_.cancel();
  loop_.stop();
}

void RecordSession::DrawStatus() {
  RecordingStatus status;
  status.elapsed = Clock::now() - started_;
  status.streams = recorders_.size();
  status.running = 0;
  for (const auto& recorder : recorders_) {
    status.bytes += recorder->written_bytes();
    if (!recorder->finished()) ++status.running;
    if (const auto songs = recorder->songs_saved()) status.songs_saved = status.songs_saved.value_or(0) + *songs;
  }
  if (recorders_.size() == 1) status.title = text::StreamTextToUtf8(recorders_.front()->title());
  const std::string line = "\r" + FormatStatus(status, TerminalWidth() - 1) + "\033[K";
  std::fputs(line.c_str(), stderr);
  std::fflush(stderr);
  status_drawn_ = true;
}

void RecordSession::ClearStatus() {
  if (!status_drawn_) return;
  std::fputs("\r\033[K", stderr);
  std::fflush(stderr);
}

}  // namespace pellora::cli
