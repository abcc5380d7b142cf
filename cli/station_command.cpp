// SPDX-License-Identifier: MIT
// `pellora station`: runs the built-in demo station until SIGINT or SIGTERM.
#include <boost/asio/signal_set.hpp>

#include <csignal>
#include <cstdio>
#include <memory>
#include <system_error>

#include "cli/commands.h"
#include "cli/silent_frames.h"
#include "cli/station.h"
#include "hosting/event_loop.h"

namespace pellora::cli {
namespace {

int RunStation(StationOptions options, bool quiet) {
  const int options_bit_rate = options.bit_rate_kbps;
  hosting::EventLoop loop;
  std::unique_ptr<DemoStation> station;
  try {
    station = std::make_unique<DemoStation>(loop.context(), std::move(options));
  } catch (const std::system_error& e) {
    std::fprintf(stderr, "pellora station: cannot listen: %s\n", e.what());
    return 1;
  }
  if (!quiet)
    std::printf("Pellora demo station on %s (%d kbit/s); Ctrl-C stops it\n", station->url().c_str(),
                options_bit_rate);
  std::fflush(stdout);
  boost::asio::signal_set signals(loop.context(), SIGINT, SIGTERM);
  signals.async_wait([&](boost::system::error_code, int) { station->Stop(); });
  loop.run();
  return 0;
}

}  // namespace

void RegisterStation(CLI::App& app, CommandList& commands) {
  auto options = std::make_shared<StationOptions>();
  auto quiet = std::make_shared<bool>(false);
  auto* sub = app.add_subcommand("station", "Run the built-in demo ICY station on 127.0.0.1");
  sub->add_option("--port", options->port, "TCP port (0: any free port, printed at start)")->capture_default_str();
  sub->add_option("--metaint", options->metaint, "audio bytes between two metadata blocks (0: none)")
      ->capture_default_str();
  sub->add_option("--title", options->titles, "a song title to play (repeatable; default: built-in titles)");
  sub->add_option("--title-seconds", options->title_seconds, "seconds of audio between two titles")
      ->capture_default_str()
      ->check(CLI::PositiveNumber);
  sub->add_option("--bitrate", options->bit_rate_kbps, "MPEG-1 Layer III bit rate in kbit/s")
      ->capture_default_str()
      ->check(CLI::Validator(
          [](const std::string& value) {
            return SilentFrames::IsValidBitRate(std::atoi(value.c_str())) ? std::string()
                                                                          : "not an MPEG-1 Layer III bit rate";
          },
          "KBPS"));
  sub->add_option("--name", options->name, "station name (icy-name)")->capture_default_str();
  sub->add_option("--genre", options->genre, "station genre (icy-genre)")->capture_default_str();
  sub->add_flag("--fast", options->fast, "send as fast as listeners read instead of at the bit rate");
  sub->add_flag("-q,--quiet", *quiet, "no banner (choose the port with --port)");
  sub->add_flag("--http-ok", options->http_ok, "answer \"HTTP/1.0 200 OK\" instead of \"ICY 200 OK\"");
  commands.push_back({sub, [options, quiet] { return RunStation(*options, *quiet); }});
}

}  // namespace pellora::cli
