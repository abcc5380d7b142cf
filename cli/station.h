// SPDX-License-Identifier: MIT
#pragma once
// The built-in demo station: an ICY server on the loopback interface that serves
// generated MPEG-1 Layer III silence with song titles in the metadata blocks, so that
// Pellora can be tried and tested on a machine without internet.
//
// Each listener that sends a request gets "ICY 200 OK" (or "HTTP/1.0 200 OK" with
// `http_ok`), every icy-* field, and the stream of IcyStream from its first frame.
// With `Icy-MetaData:1` in the request the stream carries metadata every `metaint`
// bytes; without it, audio only (as Shoutcast-style servers do). The audio is paced
// at the bit rate after a first burst (at least one second, and at least up to the
// first metadata block) so that a listener learns the title at once; with `fast`
// each listener gets data as fast as it reads. Any number of listeners are served at
// once on the one loop; a listener that closes its connection is dropped.
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "cli/icy_stream.h"

namespace pellora::cli {

struct StationOptions {
  std::uint16_t port = 0;  // 0: a free port chosen by the system
  int bit_rate_kbps = 128;  // must satisfy SilentFrames::IsValidBitRate
  std::uint32_t metaint = 8192;
  std::vector<std::string> titles;  // empty: DefaultStationTitles()
  double title_seconds = 4;         // seconds of audio between two titles
  bool fast = false;
  bool http_ok = false;
  std::string name = "Pellora Demo Radio";
  std::string genre = "Ambient";
};

// The titles played when none are given (UTF-8, one of them beyond ASCII).
std::vector<std::string> DefaultStationTitles();

class DemoStation {
 public:
  // Listens on 127.0.0.1 at `options.port` and accepts listeners on `io`'s thread.
  // Throws std::system_error when the port cannot be bound.
  DemoStation(boost::asio::io_context& io, StationOptions options);
  ~DemoStation();
  DemoStation(const DemoStation&) = delete;
  DemoStation& operator=(const DemoStation&) = delete;

  std::uint16_t port() const { return port_; }
  // "http://127.0.0.1:PORT/", the station's URL (also its icy-url).
  std::string url() const;
  std::size_t listener_count() const { return listeners_.size(); }
  // Stops accepting and closes every listener's connection. Idempotent.
  void Stop();

 private:
  class Listener;
  friend class Listener;

  void Accept();
  void Tick();
  void Forget(Listener* listener);
  std::vector<std::shared_ptr<Listener>> Snapshot() const;
  std::string ResponseHeader(bool with_metadata) const;

  boost::asio::io_context& io_;
  StationOptions options_;
  IcyStreamSettings stream_settings_;
  IcyStreamSettings audio_only_settings_;
  boost::asio::ip::tcp::acceptor acceptor_;
  boost::asio::steady_timer tick_;
  std::uint16_t port_ = 0;
  bool stopped_ = false;
  std::unordered_map<Listener*, std::shared_ptr<Listener>> listeners_;
  // Handlers of the acceptor and the timer may run after the station is gone; they
  // hold this token weakly and do nothing once it expired.
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

}  // namespace pellora::cli
