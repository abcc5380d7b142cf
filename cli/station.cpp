// SPDX-License-Identifier: MIT
#include "cli/station.h"

#include <boost/asio/read_until.hpp>
#include <boost/asio/write.hpp>

#include <algorithm>
#include <array>
#include <cctype>
#include <chrono>

#include "text/text.h"

namespace pellora::cli {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kMaxRequestBytes = 16 * 1024;
constexpr std::size_t kFastPieceBytes = 64 * 1024;
constexpr auto kTickPeriod = std::chrono::milliseconds(250);

// True when the request holds "Icy-MetaData: 1" (any case, blanks allowed).
bool WantsMetadata(const std::string& request) {
  const std::string lower = text::AsciiLower(request);
  const std::string key = "\r\nicy-metadata:";
  const auto at = lower.find(key);
  if (at == std::string::npos) return false;
  const auto value = lower.find_first_not_of(" \t", at + key.size());
  return value != std::string::npos && lower[value] == '1';
}

}  // namespace

std::vector<std::string> DefaultStationTitles() {
  return {"Beyoncé - Loopback Love", "Pellora Demo - Silence in 44.1 kHz",
          "The Sockets - Don't Drop the Frames", "Sigur Rós - Hljóð (demo edit)"};
}

// One listener's connection: reads the request, answers with the header, then sends
// the stream (paced by the station's tick, or as fast as it is read).
class DemoStation::Listener : public std::enable_shared_from_this<Listener> {
 public:
  Listener(DemoStation& station, boost::asio::ip::tcp::socket socket)
      : station_(&station), socket_(std::move(socket)) {}

  void Start() { ReadRequest(); }

  // Sends what the listener is due now, unless a write is still under way.
  void Pump() {
    if (closed_ || !stream_ || writing_) return;
    const std::size_t audio = station_->options_.fast ? kFastPieceBytes : Allowance();
    if (audio == 0 && outbox_.empty()) return;
    stream_->Produce(audio, outbox_);
    writing_ = true;
    boost::asio::async_write(socket_, boost::asio::buffer(outbox_), [self = shared_from_this()](boost::system::error_code ec, std::size_t) {
      self->writing_ = false;
      if (self->closed_) return;
      if (ec) return self->Close();
      self->outbox_.clear();
      // Paced listeners wait for the next tick: pumping now would send the few
      // bytes due since the last one, many small pieces instead of one a tick.
      if (self->station_->options_.fast) self->Pump();
    });
  }

  // Ends the connection; the station forgets the listener. Idempotent.
  void Close() {
    if (closed_) return;
    closed_ = true;
    boost::system::error_code ignored;
    socket_.close(ignored);
    station_->Forget(this);
  }

 private:
  void ReadRequest() {
    boost::asio::async_read_until(socket_, boost::asio::dynamic_buffer(request_, kMaxRequestBytes), "\r\n\r\n",
                           [self = shared_from_this()](boost::system::error_code ec, std::size_t) {
                             if (self->closed_) return;
                             if (ec) return self->Close();
                             self->Answer();
                           });
  }

  void Answer() {
    const bool with_metadata = WantsMetadata(request_);
    const auto& settings = with_metadata ? station_->stream_settings_ : station_->audio_only_settings_;
    stream_ = std::make_unique<IcyStream>(settings);
    outbox_ = station_->ResponseHeader(with_metadata);
    started_ = Clock::now();
    WatchForClose();
    Pump();
  }

  // A listener sends nothing after its request; a read that ends means it left.
  void WatchForClose() {
    socket_.async_read_some(boost::asio::buffer(discard_), [self = shared_from_this()](boost::system::error_code ec, std::size_t) {
      if (self->closed_) return;
      if (ec) return self->Close();
      self->WatchForClose();
    });
  }

  // Audio bytes due by now: the first burst plus the bit rate since the start.
  std::size_t Allowance() const {
    const std::uint64_t rate = std::uint64_t(station_->options_.bit_rate_kbps) * 125;
    const std::uint64_t burst = std::max<std::uint64_t>(rate, station_->options_.metaint);
    const auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - started_).count();
    const std::uint64_t due = burst + std::uint64_t(elapsed) * rate / 1'000'000;
    return due > stream_->audio_position() ? std::size_t(due - stream_->audio_position()) : 0;
  }

  DemoStation* station_;
  boost::asio::ip::tcp::socket socket_;
  std::string request_;
  std::unique_ptr<IcyStream> stream_;
  std::string outbox_;
  std::array<char, 512> discard_{};
  Clock::time_point started_;
  bool writing_ = false;
  bool closed_ = false;
};

DemoStation::DemoStation(boost::asio::io_context& io, StationOptions options)
    : io_(io),
      options_(std::move(options)),
      acceptor_(io, boost::asio::ip::tcp::endpoint(boost::asio::ip::make_address("127.0.0.1"), options_.port)),
      tick_(io) {
  if (options_.titles.empty()) options_.titles = DefaultStationTitles();
  port_ = acceptor_.local_endpoint().port();
  stream_settings_ = {options_.bit_rate_kbps, options_.metaint, options_.titles, options_.title_seconds,
                      url() + "now-playing"};
  audio_only_settings_ = stream_settings_;
  audio_only_settings_.metaint = 0;
  Accept();
  if (!options_.fast) Tick();
}

DemoStation::~DemoStation() { Stop(); }

std::string DemoStation::url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/"; }

void DemoStation::Stop() {
  if (stopped_) return;
  stopped_ = true;
  boost::system::error_code ignored;
  acceptor_.close(ignored);
  tick_.cancel();
  for (const auto& listener : Snapshot()) listener->Close();
}

void DemoStation::Accept() {
  acceptor_.async_accept([this, alive = std::weak_ptr<int>(alive_)](boost::system::error_code ec, boost::asio::ip::tcp::socket socket) {
    if (alive.expired() || stopped_) return;
    if (!ec) {
      socket.set_option(boost::asio::ip::tcp::no_delay(true), ec);
      auto listener = std::make_shared<Listener>(*this, std::move(socket));
      listeners_.emplace(listener.get(), listener);
      listener->Start();
    }
    Accept();
  });
}

void DemoStation::Tick() {
  for (const auto& listener : Snapshot()) listener->Pump();
  tick_.expires_after(kTickPeriod);
  tick_.async_wait([this, alive = std::weak_ptr<int>(alive_)](boost::system::error_code ec) {
    if (!ec && !alive.expired() && !stopped_) Tick();
  });
}

void DemoStation::Forget(Listener* listener) { listeners_.erase(listener); }

// A copy, since closing or pumping a listener may change the set.
std::vector<std::shared_ptr<DemoStation::Listener>> DemoStation::Snapshot() const {
  std::vector<std::shared_ptr<Listener>> all;
  all.reserve(listeners_.size());
  for (const auto& entry : listeners_) all.push_back(entry.second);
  return all;
}

std::string DemoStation::ResponseHeader(bool with_metadata) const {
  std::string header = options_.http_ok ? "HTTP/1.0 200 OK\r\n" : "ICY 200 OK\r\n";
  header += "icy-notice1:<BR>Pellora demo station: generated MPEG audio silence<BR>\r\n";
  header += "icy-notice2:Pellora demo station/1.0<BR>\r\n";
  header += "icy-name:" + options_.name + "\r\n";
  header += "icy-genre:" + options_.genre + "\r\n";
  header += "icy-url:" + url() + "\r\n";
  header += "content-type:audio/mpeg\r\n";
  header += "icy-pub:0\r\n";
  if (with_metadata && options_.metaint > 0) header += "icy-metaint:" + std::to_string(options_.metaint) + "\r\n";
  header += "icy-br:" + std::to_string(options_.bit_rate_kbps) + "\r\n\r\n";
  return header;
}

}  // namespace pellora::cli
