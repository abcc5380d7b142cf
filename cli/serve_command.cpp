// SPDX-License-Identifier: MIT
// `pellora serve`: the recording service (schedules, history, HTTP API, dashboard,
// metrics) of the stations named in a configuration file.
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include "cli/commands.h"
#include "hosting/event_loop.h"
#include "service/service.h"
#include "text/text.h"

namespace pellora::cli {
namespace {

// Each recording holds a socket and a file, each HTTP client a socket: a few
// hundred stations need more than the 1024 descriptors a process (a systemd
// service too) gets by default. The hard limit is the process's to take; the
// loop waits with epoll, which has no ceiling of its own.
void RaiseDescriptorLimit() {
  constexpr rlim_t kEnough = 65536;
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= std::min(limit.rlim_max, kEnough)) return;
  limit.rlim_cur = std::min(limit.rlim_max, kEnough);
  ::setrlimit(RLIMIT_NOFILE, &limit);
}

int RunServe(const service::ServeOptions& options, bool quiet) {
  RaiseDescriptorLimit();
  hosting::EventLoop loop;
  service::Service service(loop, options);
  std::string error;
  if (!service.Start(error)) {
    PrintFailure("serve", error);
    return 1;
  }
  if (quiet) return service.Run();
  const auto endpoint = service.endpoint();
  // Listening on every address, the link names this machine: 0.0.0.0 is no
  // address a browser can open.
  char name[256] = "localhost";
  if (endpoint.address().is_unspecified() && ::gethostname(name, sizeof name - 1) != 0) std::strcpy(name, "localhost");
  const std::string host = endpoint.address().is_unspecified() ? name
                           : endpoint.address().is_v6()       ? "[" + endpoint.address().to_string() + "]"
                                                               : endpoint.address().to_string();
  const std::size_t stations = service.stations().size();
  std::printf("pellora serve: %zu station%s; dashboard and API on http://%s:%u/\n", stations,
              stations == 1 ? "" : "s", text::EscapeForTerminal(host).c_str(), unsigned(endpoint.port()));
  std::fflush(stdout);
  return service.Run();
}

}  // namespace

void RegisterServe(CLI::App& app, CommandList& commands) {
  auto options = std::make_shared<service::ServeOptions>();
  auto* sub = app.add_subcommand("serve", "Record the stations of a configuration file on schedule, with a dashboard");
  sub->add_option("--config", options->config_path, "the TOML configuration file")->required();
  sub->add_option("--listen", options->listen, "address and port of the API and dashboard (default 127.0.0.1:8716)");
  sub->add_option("--token-file", options->token_file, "file holding the token requests must carry");
  auto quiet = std::make_shared<bool>(false);
  sub->add_flag("-q,--quiet", *quiet, "no line at start; failures are still reported");
  commands.push_back({sub, [options, quiet] { return RunServe(*options, *quiet); }});
}

}  // namespace pellora::cli
