// SPDX-License-Identifier: MIT
#pragma once
// `pellora serve`: the stations of a configuration file recorded on one loop, the
// history, and the HTTP API with the dashboard, all on the caller's loop thread.
//
// Signals: SIGHUP reloads the file (stations added, removed or changed; the others
// go on undisturbed; a bad file is refused and the running configuration kept);
// SIGTERM and SIGINT close every recording and end Run().
#include <boost/asio/signal_set.hpp>
#include <boost/asio/steady_timer.hpp>

#include <chrono>
#include <ctime>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "service/config.h"
#include "service/history.h"
#include "service/http_server.h"
#include "service/station_runtime.h"

namespace pellora::hosting {
class EventLoop;
}

namespace pellora::service {

struct ServeOptions {
  std::string config_path;
  std::string listen;      // overrides the file's when not empty
  std::string token_file;  // overrides the file's when not empty
};

class Service {
 public:
  Service(hosting::EventLoop& loop, ServeOptions options);
  ~Service();
  Service(const Service&) = delete;
  Service& operator=(const Service&) = delete;

  // Loads the configuration, opens the history and listens; false with `error`
  // ("FILE:LINE: reason", an unusable address …) when it cannot.
  bool Start(std::string& error);
  // Records until SIGTERM or SIGINT; returns the exit status.
  int Run();

  // Reads the file again; "" when applied, else why it was refused.
  std::string Reload();

  const std::vector<std::unique_ptr<StationRuntime>>& stations() const { return stations_; }
  StationRuntime* Find(const std::string& name) const;
  History& history() { return *history_; }
  // The token every request must carry; empty: none needed (loopback only).
  const std::string& token() const { return token_; }
  boost::asio::ip::tcp::endpoint endpoint() const { return server_->endpoint(); }
  std::time_t started() const { return started_; }

  // JSON texts shared by the API and the event stream.
  std::string StationsJson() const;
  std::string StationJson(const StationRuntime& station) const;

 private:
  bool ReadToken(const ServiceConfig& config, std::string& error);
  void Apply(ServiceConfig config);
  void Tick();
  void Shutdown();
  void WaitForSignal();
  void WaitForReload();

  hosting::EventLoop& loop_;
  ServeOptions options_;
  ServiceConfig config_;
  std::unique_ptr<History> history_;
  std::vector<std::unique_ptr<StationRuntime>> stations_;
  std::unordered_map<std::string, StationRuntime*> by_name_;  // of stations_
  std::unique_ptr<HttpServer> server_;
  boost::asio::signal_set stop_signals_;
  boost::asio::signal_set reload_signal_;
  boost::asio::steady_timer tick_;
  std::chrono::steady_clock::time_point next_sample_;
  std::set<std::string> changed_;  // stations whose view changed since the last tick
  bool beyond_loopback_ = false;
  std::string token_;
  std::time_t started_ = 0;
  bool ended_ = false;
};

}  // namespace pellora::service
