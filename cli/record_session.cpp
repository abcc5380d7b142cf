// SPDX-License-Identifier: MIT
#include "cli/record_session.h"

#include <pthread.h>
#include <signal.h>

#include <csignal>
#include <cstdio>

#include "cli/download_progress.h"
#include "cli/exit_codes.h"
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
  for (const auto& url : urls) {
    recorders_.push_back(std::make_unique<StreamRecorder>(loop, url, settings, claim_name,
                                                          printer_ ? &*printer_ : nullptr));
    if (!options_.quiet) recorders_.back()->OnNote([this](const std::string& note) { PrintLine(note); });
  }
}

int RecordSession::Run(const std::string& program) {
  program_ = program;
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
  // The recordings are over and their files whole. A second SIGINT or SIGTERM
  // (`timeout` signals the process and then its group; a person presses Ctrl-C
  // twice) must not end the process by the signal once the handler is gone and
  // turn a clean stop into status 130: from here on both stay pending until exit.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  ::pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
  ClearStatus();

  int status = kExitOk;
  for (const auto& recorder : recorders_) {
    if (recorder->exit_code() == kExitOk) {
      if (!options_.quiet) PrintSummary(*recorder);
      continue;
    }
    if (status == kExitOk) status = recorder->exit_code();
    if (!recorder->failure().empty())  // a reader that went away is no news
      PrintLine(text::StreamTextToUtf8(recorder->url()) + ": " + recorder->failure());
  }
  return status;
}

// One line on stderr, below the status line, which the next tick draws again.
void RecordSession::PrintLine(const std::string& utf8) {
  ClearStatus();
  const std::string line = program_ + ": " + text::EscapeForTerminal(utf8) + "\n";
  std::fputs(line.c_str(), stderr);
  std::fflush(stderr);
}

void RecordSession::PrintSummary(const StreamRecorder& recorder) {
  const std::string elapsed = FormatDuration(std::chrono::duration<double>(Clock::now() - started_).count());
  if (const SplitRecorder* songs = recorder.songs()) {
    const std::string folder = songs->folder().empty() ? "." : songs->folder();
    return PrintLine(text::StreamTextToUtf8(recorder.url()) + ": " + std::to_string(songs->saved()) +
                     (songs->saved() == 1 ? " song" : " songs") + " saved (" +
                     std::to_string(songs->saved_incomplete()) + " incomplete) into " + folder + ", " +
                     FormatBytes(std::int64_t(songs->saved_bytes())) + " (" + std::to_string(songs->saved_bytes()) +
                     " bytes) in " + elapsed);
  }
  if (recorder.file().empty()) return;  // stopped before anything was recorded
  const std::string file = recorder.file() == kStandardOutput ? "standard output" : recorder.file();
  const std::size_t titles = recorder.title_count();
  PrintLine(file + ": " + FormatBytes(std::int64_t(recorder.written_bytes())) + " (" +
            std::to_string(recorder.written_bytes()) + " bytes) in " + elapsed + ", " + std::to_string(titles) +
            (titles == 1 ? " title" : " titles"));
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
    if (const SplitRecorder* songs = recorder->songs()) status.songs_saved = status.songs_saved.value_or(0) + songs->saved();
  }
  if (recorders_.size() == 1) status.title = text::EscapeForTerminal(text::StreamTextToUtf8(recorders_.front()->title()));
  const std::string line = "\r" + FormatStatus(status, TerminalWidth() - 1) + "\033[K";
  std::fputs(line.c_str(), stderr);
  std::fflush(stderr);
  status_drawn_ = true;
}

void RecordSession::ClearStatus() {
  if (!status_drawn_) return;
  status_drawn_ = false;
  std::fputs("\r\033[K", stderr);
  std::fflush(stderr);
}

}  // namespace pellora::cli
