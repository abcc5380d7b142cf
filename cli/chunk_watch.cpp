#include "cli/chunk_watch.h"

namespace pellora::cli {
namespace {

// Passes everything through to the real socket and its control, and calls the
// watcher after each chunk the control has handled.
class WatchedSocket : public hosting::Socket, private hosting::SocketEvents {
 public:
  WatchedSocket(std::unique_ptr<hosting::Socket> inner, const std::function<void()>& after_chunk)
      : inner_(std::move(inner)), after_chunk_(after_chunk) {
    inner_->SetEvents(this);
  }
  void SetEvents(hosting::SocketEvents* events) override { control_ = events; }
  std::error_code Connect(const std::string& host, std::uint16_t port) override {
    return inner_->Connect(host, port);
  }
  void Send(std::string_view text) override { inner_->Send(text); }
  void Close() override { inner_->Close(); }
  void UseTls(std::optional<hosting::TlsSettings> tls) override { inner_->UseTls(std::move(tls)); }

 private:
  void OnConnect() override {
    if (control_) control_->OnConnect();
  }
  void OnDataArrival(std::span<const char> data) override {
    if (control_) control_->OnDataArrival(data);
    after_chunk_();
  }
  void OnError(std::int32_t number, const std::string& description) override {
    if (control_) control_->OnError(number, description);
  }
  void OnClose() override {
    if (control_) control_->OnClose();
  }

  std::unique_ptr<hosting::Socket> inner_;
  const std::function<void()>& after_chunk_;
  hosting::SocketEvents* control_ = nullptr;
};

}  // namespace

std::unique_ptr<hosting::Socket> ChunkWatchingSite::CreateSocket() {
  return std::make_unique<WatchedSocket>(hosting::Site::CreateSocket(), after_chunk_);
}

}  // namespace pellora::cli
