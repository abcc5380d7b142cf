// `pellora download URL FILE [--quiet]`: one Downloader on the command line's own
// container. On a terminal a progress line is redrawn as the data arrives; in any
// case one line reports the outcome. Exit 0 when the download completed without an
// error, 1 otherwise.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

#include "cli/commands.h"
#include "cli/download_progress.h"
#include "download/downloader.h"
#include "hosting/container.h"
#include "hosting/download_service.h"
#include "hosting/event_loop.h"

namespace pellora::cli {
namespace {

using Clock = std::chrono::steady_clock;

struct DownloadOptions {
  std::string url;
  std::string file;
  bool quiet = false;
};

// Watches the control's events: draws the progress line and remembers the outcome.
class DownloadReport : public download::DownloaderEvents {
 public:
  DownloadReport(hosting::EventLoop& loop, bool show_progress)
      : loop_(loop), show_progress_(show_progress) {}

  void DownloadProgress(std::int32_t& CurBytes, std::int32_t& MaxBytes, std::string&) override {
    if (!show_progress_) return;
    const auto now = Clock::now();
    // Redraw ten times a second at most; the final state is drawn by Finish.
    if (drawn_ && now - last_draw_ < std::chrono::milliseconds(100)) return;
    drawn_ = true;
    last_draw_ = now;
    std::fprintf(stderr, "\r%s\033[K",
                 FormatProgressLine(CurBytes, MaxBytes, Seconds(now), kBarWidth).c_str());
    std::fflush(stderr);
  }
  void DownloadError(std::string&) override { failed_ = true; }
  void DownloadComplete(std::int32_t& MaxBytes, std::string&) override {
    completed_ = true;
    bytes_ = MaxBytes;
    loop_.stop();
  }

  bool Succeeded() const { return completed_ && !failed_; }
  std::int32_t Bytes() const { return bytes_; }
  double Seconds(Clock::time_point now = Clock::now()) const {
    return std::chrono::duration<double>(now - start_).count();
  }
  // Ends the progress line, so that the outcome gets a line of its own.
  void Finish() const {
    if (drawn_) std::fprintf(stderr, "\r\033[K");
  }

 private:
  static constexpr int kBarWidth = 30;
  hosting::EventLoop& loop_;
  bool show_progress_;
  Clock::time_point start_ = Clock::now();
  Clock::time_point last_draw_;
  bool drawn_ = false;
  bool completed_ = false;
  bool failed_ = false;
  std::int32_t bytes_ = 0;
};

int RunDownload(const DownloadOptions& options) {
  hosting::EventLoop loop;
  hosting::DownloadService service(loop);
  hosting::Site site(loop);  // its message boxes go to stderr
  const bool terminal = ::isatty(STDERR_FILENO) == 1;
  DownloadReport report(loop, terminal && !options.quiet);
  {
    const auto downloader = site.Create<download::Downloader>(service);
    downloader->SetEvents(&report);
    downloader->BeginDownload(options.url, options.file);
    // Returns at DownloadComplete, or at once when the download was refused.
    loop.run();
    site.TerminateControl();
  }
  report.Finish();
  if (!report.Succeeded()) {
    std::fprintf(stderr, "pellora download: could not download %s to %s\n", options.url.c_str(),
                 options.file.c_str());
    return 1;
  }
  if (!options.quiet) {
    const double seconds = report.Seconds();
    std::printf("%s: %s (%d bytes) in %.2f s, %s/s\n", options.file.c_str(),
                FormatBytes(report.Bytes()).c_str(), report.Bytes(), seconds,
                FormatBytes(seconds > 0 ? static_cast<std::int64_t>(report.Bytes() / seconds) : 0).c_str());
  }
  return 0;
}

}  // namespace

void RegisterDownloadCommand(CLI::App& app, CommandList& commands) {
  auto options = std::make_shared<DownloadOptions>();
  CLI::App* sub = app.add_subcommand("download", "Download a URL (http, https, file) into a file");
  sub->add_option("URL", options->url, "what to download")->required();
  sub->add_option("FILE", options->file, "where to save it (replaced when it exists)")->required();
  sub->add_flag("-q,--quiet", options->quiet, "no progress line and no summary; failures are still reported");
  commands.push_back({sub, [options] { return RunDownload(*options); }});
}

}  // namespace pellora::cli
