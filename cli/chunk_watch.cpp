// SPDX-License-Identifier: MIT
#include "cli/chunk_watch.h"

#include <algorithm>
#include <string_view>

#include "cli/stream_answer.h"
#include "text/text.h"

namespace pellora::cli {
namespace {

std::string FirstLineOf(std::string_view bytes) {
  return std::string(bytes.substr(0, std::min(bytes.find_first_of("\r\n"), ChunkWatchingSite::kMaxFirstLine)));
}

// Passes everything through to the real socket and its control, keeps the first
// bytes of each connection, and calls the watcher after each chunk the control
// has handled.
class WatchedSocket : public hosting::Socket, private hosting::SocketEvents {
 public:
  WatchedSocket(std::unique_ptr<hosting::Socket> inner, const std::function<void()>& after_chunk,
                const std::function<std::uint64_t()>& budget, std::string& first_bytes)
      : inner_(std::move(inner)), after_chunk_(after_chunk), budget_(budget), first_bytes_(first_bytes) {
    inner_->SetEvents(this);
  }
  void SetEvents(hosting::SocketEvents* events) override { control_ = events; }
  std::error_code Connect(const std::string& host, std::uint16_t port) override {
    first_bytes_.clear();
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
    // Before the control sees them: a refusal is told while the chunk is handled.
    first_bytes_.append(data.data(), std::min(data.size(), ChunkWatchingSite::kMaxKept - first_bytes_.size()));
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

  std::unique_ptr<hosting::Socket> inner_;
  const std::function<void()>& after_chunk_;
  const std::function<std::uint64_t()>& budget_;
  std::string& first_bytes_;
  bool closed_ = false;
  hosting::SocketEvents* control_ = nullptr;
};

}  // namespace

std::unique_ptr<hosting::Socket> ChunkWatchingSite::CreateSocket() {
  return std::make_unique<WatchedSocket>(hosting::Site::CreateSocket(), after_chunk_, budget_, first_bytes_);
}

std::string ChunkWatchingSite::FirstLine() const { return FirstLineOf(first_bytes_); }

std::string ChunkWatchingSite::PlainTextBody() const {
  const auto end = first_bytes_.find("\r\n\r\n");
  if (end == std::string::npos) return {};
  const std::string_view header = std::string_view(first_bytes_).substr(0, end + 2);
  if (!text::AsciiLower(HeaderField(header, "content-type")).starts_with("text/plain")) return {};
  return FirstLineOf(std::string_view(first_bytes_).substr(end + 4));
}

}  // namespace pellora::cli
