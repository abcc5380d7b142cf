// SPDX-License-Identifier: MIT
#pragma once
// The demo station running on a thread of its own, for tests that talk to it over
// loopback with blocking sockets (or through the built pellora binary).
#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>

#include <future>
#include <memory>
#include <thread>

#include "cli/station.h"

namespace pellora::testing_support {

class StationRunner {
 public:
  explicit StationRunner(cli::StationOptions options) {
    station_ = std::make_unique<cli::DemoStation>(io_, std::move(options));
    thread_ = std::thread([this] { io_.run(); });
  }
  ~StationRunner() {
    std::promise<void> stopped;
    boost::asio::post(io_, [&] {
      station_->Stop();
      stopped.set_value();
    });
    stopped.get_future().wait();
    io_.stop();
    thread_.join();
  }

  std::uint16_t port() const { return station_->port(); }
  std::string url() const { return station_->url(); }
  // The listener count, read on the station's thread.
  std::size_t listener_count() {
    std::promise<std::size_t> count;
    boost::asio::post(io_, [&] { count.set_value(station_->listener_count()); });
    return count.get_future().get();
  }

 private:
  boost::asio::io_context io_;
  std::unique_ptr<cli::DemoStation> station_;
  std::thread thread_;
};

}  // namespace pellora::testing_support
