// SPDX-License-Identifier: MIT
// `pellora download URL FILE`: one download on the command line's own loop,
// through the container's download service. On a terminal a progress line is
// redrawn as the data arrives; in any case one line reports the outcome, with
// its reason and the URL or file concerned, and the exit status says what kind of
// fault it was (cli/exit_codes.h). `-o -` writes the data to standard output and
// every message to stderr; so does a FIFO or a device. Ctrl-C or SIGTERM
// removes the spool file and ends the process by that signal, and a reader of
// standard output that went away ends it by SIGPIPE, without a word.
#include <unistd.h>

#include <boost/asio/signal_set.hpp>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "cli/commands.h"
#include "cli/download_progress.h"
#include "cli/exit_codes.h"
#include "cli/file_names.h"
#include "hosting/download_service.h"
#include "hosting/event_loop.h"
#include "hosting/file.h"

namespace pellora::cli {
namespace {

using Clock = std::chrono::steady_clock;
constexpr const char* kCommand = "download";

struct DownloadOptions {
  std::string url;
  std::string file;
  std::string output;
  bool quiet = false;
  int timeout_seconds = 30;

  const std::string& Target() const { return output.empty() ? file : output; }
  bool ToStandardOutput() const { return Target() == "-"; }
  // A FIFO or a device (/dev/null) takes the data as it arrives, as standard
  // output does: a spool renamed over it would take its name.
  bool InPlace() const { return ToStandardOutput() || hosting::WritesInPlace(Target()); }
};

// The one download of the command: draws the progress line, saves the data and
// keeps the outcome.
class DownloadRun : public hosting::DownloadListener {
 public:
  DownloadRun(hosting::EventLoop& loop, const DownloadOptions& options, bool show_progress)
      : loop_(loop), options_(options), show_progress_(show_progress) {}

  void OnDownloadProgress(const std::string&, std::int32_t bytes, std::int32_t total) override {
    bytes_ = bytes;
    if (!show_progress_) return;
    const auto now = Clock::now();
    // Redraw ten times a second at most.
    if (drawn_ && now - last_draw_ < std::chrono::milliseconds(100)) return;
    drawn_ = true;
    last_draw_ = now;
    std::fprintf(stderr, "\r%s\033[K", FormatProgressLine(bytes, total, Seconds(now), kBarWidth).c_str());
    std::fflush(stderr);
  }
  void OnDownloadFailed(const std::string&, const hosting::DownloadFailure& failure) override {
    failure_ = failure;
  }
  void OnDownloadComplete(const std::string&, hosting::DownloadData data, std::int32_t total,
                          bool succeeded) override {
    completed_ = true;
    loop_.stop();
    if (!succeeded) return;
    bytes_ = options_.InPlace() ? total : data.Size();
    if (options_.InPlace()) return;
    std::error_code ec;
    data.SaveAs(options_.Target(), ec);
    if (ec)
      failure_ = hosting::DownloadFailure{hosting::DownloadFailureKind::File, 0,
                                          "cannot write " + options_.Target() + ": " + ec.message()};
  }

  bool Completed() const { return completed_; }
  const std::optional<hosting::DownloadFailure>& Failure() const { return failure_; }
  std::int64_t Bytes() const { return bytes_; }
  double Seconds(Clock::time_point now = Clock::now()) const {
    return std::chrono::duration<double>(now - start_).count();
  }
  // Ends the progress line, so that the outcome gets a line of its own.
  void ClearProgress() const {
    if (drawn_) std::fprintf(stderr, "\r\033[K");
  }

 private:
  static constexpr int kBarWidth = 30;
  hosting::EventLoop& loop_;
  const DownloadOptions& options_;
  bool show_progress_;
  Clock::time_point start_ = Clock::now();
  Clock::time_point last_draw_;
  bool drawn_ = false;
  bool completed_ = false;
  std::optional<hosting::DownloadFailure> failure_;
  std::int64_t bytes_ = 0;
};

int ExitCodeOf(hosting::DownloadFailureKind kind) {
  switch (kind) {
    case hosting::DownloadFailureKind::Network:
      return kExitNetwork;
    case hosting::DownloadFailureKind::Refused:
      return kExitRefused;
    case hosting::DownloadFailureKind::File:
      return kExitFile;
  }
  return kExitFailure;
}

// Reports the outcome; returns the exit status.
int Report(const DownloadRun& run, const DownloadOptions& options) {
  run.ClearProgress();
  if (const auto& failure = run.Failure()) {
    PrintFailure(kCommand, options.url + ": " + failure->description);
    return ExitCodeOf(failure->kind);
  }
  if (options.quiet) return kExitOk;
  const double seconds = run.Seconds();
  const std::string where = options.ToStandardOutput() ? "standard output" : options.Target();
  std::fprintf(options.InPlace() ? stderr : stdout, "%s: %s (%lld bytes) in %.2f s, %s/s\n",
               where.c_str(), FormatBytes(run.Bytes()).c_str(), static_cast<long long>(run.Bytes()), seconds,
               FormatBytes(seconds > 0 ? static_cast<std::int64_t>(static_cast<double>(run.Bytes()) / seconds) : 0)
                   .c_str());
  return kExitOk;
}

// A folder as the target saves the download in it, under the URL's file name.
DownloadOptions InFolder(DownloadOptions options) {
  std::error_code ec;
  if (options.ToStandardOutput() || !std::filesystem::is_directory(options.Target(), ec)) return options;
  options.output = (std::filesystem::path(options.Target()) / FileNameOfUrl(options.url)).string();
  options.file.clear();
  return options;
}

int RunDownload(const DownloadOptions& given) {
  if (given.Target().empty()) return UsageError(kCommand, "name the file to write: FILE or -o FILE (- for standard output)");
  if (!given.file.empty() && !given.output.empty())
    return UsageError(kCommand, "name the file once: FILE or -o FILE, not both");
  const DownloadOptions options = InFolder(given);
  hosting::EventLoop loop;
  int signal_number = 0;
  boost::asio::signal_set signals(loop.context(), SIGINT, SIGTERM);
  signals.async_wait([&](const boost::system::error_code& ec, int number) {
    if (ec) return;
    signal_number = number;
    loop.stop();
  });
  int status = kExitOk;
  std::error_code output_failure;
  hosting::File output;  // the FIFO or device written in place
  {
    hosting::DownloadService service(loop);
    const auto run =
        std::make_shared<DownloadRun>(loop, options, ::isatty(STDERR_FILENO) == 1 && !options.quiet);
    hosting::DownloadRequest request;
    request.url = options.url;
    request.tag = options.Target();
    request.newest_copy = true;
    request.spool_directory = hosting::DownloadData::FolderOf(options.Target());
    request.listener = run;
    request.connect_timeout = request.stall_timeout = std::chrono::seconds(options.timeout_seconds);
    if (options.ToStandardOutput()) {
      request.output_descriptor = STDOUT_FILENO;
    } else if (options.InPlace()) {
      // A FIFO waits here for its reader, as with curl.
      output = hosting::File::Open(options.Target(), hosting::OpenMode::Append, output_failure);
      if (output_failure) {
        PrintFailure(kCommand, options.url + ": cannot write " + options.Target() + ": " + output_failure.message());
        return kExitFile;
      }
      request.output_descriptor = output.Descriptor();
    }
    if (const auto refused = service.Start(request)) {
      if (refused->BadUrl())
        return UsageError(kCommand, options.url + ": " + refused->description);
      PrintFailure(kCommand, options.url + ": " + refused->description);
      return kExitFile;
    }
    loop.run();
    if (run->Completed()) status = Report(*run, options);
    // Leaving the scope abandons an interrupted download: its spool file goes.
  }
  signals.cancel();
  if (signal_number != 0) {
    std::fflush(stderr);
    std::signal(signal_number, SIG_DFL);
    std::raise(signal_number);
  }
  return status;
}

}  // namespace

void RegisterDownloadCommand(CLI::App& app, CommandList& commands) {
  auto options = std::make_shared<DownloadOptions>();
  CLI::App* sub = app.add_subcommand("download", "Download a URL (http, https, file) into a file");
  sub->add_option("URL", options->url, "what to download")->required();
  sub->add_option("FILE", options->file, "where to save it (replaced when it exists; in a folder, under the URL's file name; - for standard output)");
  sub->add_option("-o,--output", options->output, "where to save it, as FILE; a folder keeps the URL's file name; - writes to standard output");
  sub->add_flag("-q,--quiet", options->quiet, "no progress line and no summary; failures are still reported");
  sub->add_option("--timeout", options->timeout_seconds,
                  "seconds to wait for the connection, and for the next byte once connected (default 30)")
      ->check(CLI::Range(1, 86400));
  commands.push_back({sub, [options] { return RunDownload(*options); }});
}

}  // namespace pellora::cli
