// SPDX-License-Identifier: MIT
#include "cli/chunk_watch.h"

#include <algorithm>

namespace pellora::cli {
namespace {

// Passes everything through to the real socket and its control, keeps the first
// line of each connection, and calls the watcher after each chunk the control has
// handled.
class WatchedSocket : public hosting::Socket, private hosting::SocketEvents {
 public:
  WatchedSocket(std::unique_ptr<hosting::Socket> inner, const std::function<void()>& after_chunk,
                const std::function<std::uint64_t()>& budget, std::string& first_line)
      : inner_(std::move(inner)), after_chunk_(after_chunk), budget_(budget), first_line_(first_line) {
    inner_->SetEvents(this);
  }
  void SetEvents(hosting::SocketEvents* events) override { control_ = events; }
  std::error_code Connect(const std::string& host, std::uint16_t port) override {
    first_line_.clear();
    first_line_done_ = false;
    closed_ = false;
    return inner_->Connect(host, port);
  }
  void Send(std::string_view text) override { inner_->Send(text); }
  void Close() override {
    closed_ = true;
    inner_->Close();
  }
  void UseTls(std::optional<hosting::TlsSettings> tls) override { inner_->UseTls(std::move(tls)); }

 private:
  void OnConnect() override {
    if (control_) control_->OnConnect();
  }
  void OnDataArrival(std::span<const char> data) override {
    KeepFirstLine(data);
    while (!data.empty() && !closed_) {
      const std::uint64_t allowed = budget_ ? budget_() : data.size();
      if (allowed == 0) return;
      const auto piece = data.first(std::size_t(std::min<std::uint64_t>(allowed, data.size())));
      data = data.subspan(piece.size());
      if (control_) control_->OnDataArrival(piece);
      after_chunk_();
    }
  }
  void OnError(std::int32_t number, const std::string& description) override {
    if (control_) control_->OnError(number, description);
  }
  void OnClose() override {
    if (control_) control_->OnClose();
  }

  void KeepFirstLine(std::span<const char> data) {
    for (std::size_t i = 0; i < data.size() && !first_line_done_; ++i) {
      if (data[i] == '\r' || data[i] == '\n' || first_line_.size() >= ChunkWatchingSite::kMaxFirstLine)
        first_line_done_ = true;
      else
        first_line_.push_back(data[i]);
    }
  }

  std::unique_ptr<hosting::Socket> inner_;
  const std::function<void()>& after_chunk_;
  const std::function<std::uint64_t()>& budget_;
  std::string& first_line_;
  bool first_line_done_ = false;
  bool closed_ = false;
  hosting::SocketEvents* control_ = nullptr;
};

}  // namespace

std::unique_ptr<hosting::Socket> ChunkWatchingSite::CreateSocket() {
  return std::make_unique<WatchedSocket>(hosting::Site::CreateSocket(), after_chunk_, budget_, first_line_);
}

}  // namespace pellora::cli
