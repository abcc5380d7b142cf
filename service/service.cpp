// SPDX-License-Identifier: MIT
#include "service/service.h"

#include <csignal>
#include <cstdio>
#include <fstream>

#include <nlohmann/json.hpp>

#include "hosting/event_loop.h"
#include "service/http_api.h"

namespace pellora::service {
namespace {

using Clock = std::chrono::steady_clock;
using tcp = boost::asio::ip::tcp;
constexpr auto kTickPeriod = std::chrono::milliseconds(250);
constexpr auto kSamplePeriod = std::chrono::seconds(1);
constexpr std::size_t kMinTokenBytes = 16;
constexpr std::size_t kMaxTokenBytes = 4096;

std::string Dump(const nlohmann::json& json) {
  return json.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace

Service::Service(hosting::EventLoop& loop, ServeOptions options)
    : loop_(loop),
      options_(std::move(options)),
      stop_signals_(loop.context(), SIGTERM, SIGINT),
      reload_signal_(loop.context(), SIGHUP),
      tick_(loop.context()) {}

Service::~Service() {
  by_name_.clear();
  stations_.clear();
}

bool Service::Start(std::string& error) {
  auto load = LoadConfig(options_.config_path);
  if (!load.config) {
    error = load.error;
    return false;
  }
  ServiceConfig config = std::move(*load.config);
  if (!options_.listen.empty()) config.listen = options_.listen;
  const auto endpoint = ParseListen(config.listen);
  if (!endpoint) {
    error = ListenProblem(config.listen);
    return false;
  }
  beyond_loopback_ = !endpoint->address().is_loopback();
  if (!ReadToken(config, error)) return false;
  history_ = History::Open(config.state_dir.empty() ? DefaultStateFolder() : config.state_dir, error);
  if (!history_) return false;
  try {
    server_ = std::make_unique<HttpServer>(loop_.context(), *endpoint, MakeApi(*this));
  } catch (const boost::system::system_error& e) {
    error = "cannot listen on " + config.listen + ": " + e.code().message();
    return false;
  }
  started_ = std::time(nullptr);
  Apply(std::move(config));
  return true;
}

int Service::Run() {
  WaitForSignal();
  next_sample_ = Clock::now() + kSamplePeriod;
  Tick();
  loop_.run();
  return 0;
}

void Service::WaitForSignal() {
  stop_signals_.async_wait([this](boost::system::error_code ec, int) {
    if (!ec) Shutdown();
  });
  WaitForReload();
}

void Service::WaitForReload() {
  reload_signal_.async_wait([this](boost::system::error_code ec, int) {
    if (ec || ended_) return;
    Reload();
    WaitForReload();
  });
}

bool Service::ReadToken(const ServiceConfig& config, std::string& error) {
  const std::string& file = options_.token_file.empty() ? config.token_file : options_.token_file;
  if (file.empty()) {
    if (beyond_loopback_) {
      error = "listening on " + config.listen + ", beyond loopback, needs a token file (--token-file or token_file)";
      return false;
    }
    token_.clear();
    return true;
  }
  std::ifstream in(file, std::ios::binary);
  std::string token(kMaxTokenBytes + 1, '\0');
  in.read(token.data(), std::streamsize(token.size()));
  token.resize(std::size_t(in.gcount()));
  while (!token.empty() && std::isspace(static_cast<unsigned char>(token.back()))) token.pop_back();
  if (!in.eof() || token.size() < kMinTokenBytes || token.size() > kMaxTokenBytes) {
    error = file + ": cannot be read, or the token in it is shorter than 16 characters";
    return false;
  }
  token_ = token;
  return true;
}

std::string Service::Reload() {
  auto load = LoadConfig(options_.config_path);
  std::string error;
  if (load.config && !ReadToken(*load.config, error)) load.config.reset();
  if (!load.config) {
    if (error.empty()) error = load.error;
    std::fprintf(stderr, "pellora serve: reload refused, the running configuration stays: %s\n", error.c_str());
    return error;
  }
  if (!options_.listen.empty()) load.config->listen = options_.listen;
  if (load.config->listen != config_.listen || load.config->state_dir != config_.state_dir)
    std::fprintf(stderr, "pellora serve: listen and state_dir take effect at the next start\n");
  Apply(std::move(*load.config));
  std::fprintf(stderr, "pellora serve: reloaded %s: %zu station%s\n", options_.config_path.c_str(), stations_.size(),
               stations_.size() == 1 ? "" : "s");
  server_->Publish("stations", StationsJson());
  return {};
}

// Keeps the stations whose settings did not change, so that their recordings go
// on; ends the removed and changed ones before their successors begin.
void Service::Apply(ServiceConfig config) {
  std::vector<std::unique_ptr<StationRuntime>> kept(config.stations.size());
  for (std::size_t i = 0; i < config.stations.size(); ++i)
    for (auto& running : stations_)
      if (running && running->config() == config.stations[i]) kept[i] = std::move(running);
  by_name_.clear();
  stations_.clear();
  const std::time_t now = std::time(nullptr);
  for (std::size_t i = 0; i < config.stations.size(); ++i) {
    if (!kept[i]) {
      const std::string name = config.stations[i].name;
      kept[i] = std::make_unique<StationRuntime>(
          loop_, config.stations[i], history_.get(), [this, name] { changed_.insert(name); },
          [this](const SavedEntry& song) { server_->Publish("song", SavedJson(*this, song)); });
      kept[i]->Tick(now);
    }
  }
  stations_ = std::move(kept);
  for (const auto& station : stations_) by_name_.emplace(station->config().name, station.get());
  config_ = std::move(config);
}

StationRuntime* Service::Find(const std::string& name) const {
  const auto found = by_name_.find(name);
  return found == by_name_.end() ? nullptr : found->second;
}

void Service::Tick() {
  const std::time_t now = std::time(nullptr);
  for (auto& station : stations_) station->Tick(now);
  if (Clock::now() >= next_sample_) {
    next_sample_ += kSamplePeriod;
    nlohmann::json rates = nlohmann::json::object();
    for (auto& station : stations_) {
      station->SampleRate();
      rates[station->config().name] = {station->bytes(), station->rate()};
    }
    server_->Publish("tick", Dump({{"time", now}, {"rates", rates}}));
  }
  for (const auto& name : changed_)
    if (const auto* station = Find(name)) server_->Publish("station", StationJson(*station));
  changed_.clear();
  history_->Commit();
  tick_.expires_after(kTickPeriod);
  tick_.async_wait([this](boost::system::error_code ec) {
    if (!ec && !ended_) Tick();
  });
}

void Service::Shutdown() {
  if (ended_) return;
  ended_ = true;
  for (auto& station : stations_) station->Shutdown();
  history_->Commit();
  tick_.cancel();
  stop_signals_.cancel();
  reload_signal_.cancel();
  server_->Stop();
  loop_.stop();
}

namespace {

nlohmann::json StationView(const StationRuntime& station) {
  const auto& config = station.config();
  nlohmann::json errors = nlohmann::json::object();
  for (std::size_t i = 0; i < kErrorKindNames.size(); ++i) errors[kErrorKindNames[i]] = station.errors()[i];
  nlohmann::json window = nullptr;
  if (const auto w = station.window()) window = {{"start", w->start}, {"end", w->end}};
  return {
      {"name", config.name},
      {"url", config.url},
      {"when", config.when},
      {"state", StateName(station.state())},
      {"title", station.title()},
      {"file", station.file()},
      {"bytes", station.bytes()},
      {"rate", station.rate()},
      {"mode", config.mode == RecordingMode::kSplit ? "split" : "continuous"},
      {"recordings", station.recordings()},
      {"songs", station.songs()},
      {"reconnects", station.reconnects()},
      {"errors", errors},
      {"last_error", station.last_error()},
      {"window", window},
  };
}

}  // namespace

std::string Service::StationJson(const StationRuntime& station) const { return Dump(StationView(station)); }

std::string Service::StationsJson() const {
  nlohmann::json list = nlohmann::json::array();
  for (const auto& station : stations_) {
    auto json = StationView(*station);
    json["rates"] = station->rates();
    list.push_back(std::move(json));
  }
  return Dump({{"time", std::time(nullptr)}, {"stations", list}});
}

}  // namespace pellora::service
