// SPDX-License-Identifier: MIT
#include "hosting/download_service.h"

#include <curl/curl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <boost/asio/post.hpp>
#include <boost/asio/posix/stream_descriptor.hpp>
#include <boost/asio/steady_timer.hpp>

#include <cerrno>
#include <chrono>
#include <limits>
#include <map>
#include <unordered_map>
#include <vector>

#include "hosting/event_loop.h"

namespace pellora::hosting {
namespace {

struct EasyCleanup {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct MultiCleanup {
  void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
struct SlistCleanup {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
struct UrlCleanup {
  void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
struct CurlFree {
  void operator()(char* text) const { curl_free(text); }
};

// Read buffer of each transfer: large enough that a fast loopback transfer is not
// dominated by callbacks and spool writes.
constexpr long kReceiveBufferBytes = 256 * 1024;
constexpr long kMaxRedirects = 20;

void InitialiseCurlOnce() {
  static const CURLcode result = curl_global_init(CURL_GLOBAL_DEFAULT);
  (void)result;  // a failed initialisation shows as a failing curl_easy_init
}

DownloadStartFailure FailureOf(CURLcode code) {
  return {static_cast<std::int32_t>(code), curl_easy_strerror(code)};
}

// Refuses what libcurl would only refuse once the transfer ran: URLs it cannot
// parse and schemes other than the three the service reads.
std::optional<DownloadStartFailure> CheckUrl(const std::string& url) {
  std::unique_ptr<CURLU, UrlCleanup> parsed(curl_url());
  if (!parsed) return FailureOf(CURLE_OUT_OF_MEMORY);
  const CURLUcode rc = curl_url_set(parsed.get(), CURLUPART_URL, url.c_str(), 0);
  if (rc == CURLUE_UNSUPPORTED_SCHEME) return FailureOf(CURLE_UNSUPPORTED_PROTOCOL);
  if (rc != CURLUE_OK) return FailureOf(CURLE_URL_MALFORMAT);
  char* raw_scheme = nullptr;
  if (curl_url_get(parsed.get(), CURLUPART_SCHEME, &raw_scheme, 0) != CURLUE_OK)
    return FailureOf(CURLE_URL_MALFORMAT);
  const std::unique_ptr<char, CurlFree> scheme(raw_scheme);
  const std::string_view s(scheme.get());
  if (s != "http" && s != "https" && s != "file") return FailureOf(CURLE_UNSUPPORTED_PROTOCOL);
  return std::nullopt;
}

// The local path a file:// URL names (empty for other schemes).
std::string LocalPathOf(const std::string& url) {
  std::unique_ptr<CURLU, UrlCleanup> parsed(curl_url());
  if (!parsed || curl_url_set(parsed.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK) return {};
  char* raw = nullptr;
  if (curl_url_get(parsed.get(), CURLUPART_SCHEME, &raw, 0) != CURLUE_OK) return {};
  const std::unique_ptr<char, CurlFree> scheme(raw);
  if (std::string_view(scheme.get()) != "file") return {};
  if (curl_url_get(parsed.get(), CURLUPART_PATH, &raw, CURLU_URLDECODE) != CURLUE_OK) return {};
  const std::unique_ptr<char, CurlFree> path(raw);
  return path.get();
}

// One download in flight.
struct Transfer {
  std::uint64_t id = 0;
  std::string tag;
  std::weak_ptr<DownloadListener> listener;
  const DownloadListener* owner = nullptr;  // for AbandonFor, once the listener is gone
  std::unique_ptr<CURL, EasyCleanup> easy;
  std::unique_ptr<curl_slist, SlistCleanup> headers;
  DownloadData data;
  int output_descriptor = -1;
  std::int64_t streamed = 0;  // bytes written to output_descriptor
  std::error_code spool_error;
  bool progress_pending = false;
  std::string local_path;  // of a file:// URL
  std::chrono::seconds connect_timeout{0}, stall_timeout{0};
  char error_text[CURL_ERROR_SIZE] = {};

  std::int64_t Received() const { return output_descriptor >= 0 ? streamed : data.Size(); }
};

// Only a 2xx answer is the resource (file:// has no status): not an error page,
// nor the body of a redirection that was not followed.
bool IsResourceStatus(long status) { return status == 0 || (status >= 200 && status < 300); }

void WriteAll(int fd, std::span<const char> bytes, std::error_code& ec) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ec = {n < 0 ? errno : EIO, std::generic_category()};
      return;
    }
    bytes = bytes.subspan(static_cast<std::size_t>(n));
  }
}

std::size_t WriteToSpool(char* bytes, std::size_t size, std::size_t count, void* user) {
  auto& transfer = *static_cast<Transfer*>(user);
  const std::size_t length = size * count;
  long status = 0;
  curl_easy_getinfo(transfer.easy.get(), CURLINFO_RESPONSE_CODE, &status);
  if (!IsResourceStatus(status)) return 0;  // ends the transfer before anything is kept
  const std::span<const char> piece(bytes, length);
  if (transfer.output_descriptor >= 0) {
    WriteAll(transfer.output_descriptor, piece, transfer.spool_error);
    if (!transfer.spool_error) transfer.streamed += static_cast<std::int64_t>(length);
  } else {
    transfer.data.Append(piece, transfer.spool_error);
  }
  if (transfer.spool_error) return 0;  // libcurl then ends the transfer with a write error
  transfer.progress_pending = true;
  return length;
}

bool IsFolder(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// One line that says why a finished transfer is not the resource.
DownloadFailure DescribeFailure(const Transfer& transfer, CURLcode result, long status) {
  using Kind = DownloadFailureKind;
  if (transfer.spool_error) {
    const char* what = transfer.output_descriptor >= 0 ? "cannot write the output: " : "cannot write the spool file: ";
    return {Kind::File, 0, what + transfer.spool_error.message()};
  }
  std::string detail = transfer.error_text[0] ? transfer.error_text : curl_easy_strerror(result);
  if (result == CURLE_TOO_MANY_REDIRECTS) return {Kind::Refused, status, detail};
  // A redirection followed to an http(s) target leaves its status behind when
  // the target fails before answering (no status of its own, and no Location
  // left to follow): the target's reason is the one to tell.
  long followed = 0;
  char* unfollowed = nullptr;
  char* target = nullptr;
  curl_easy_getinfo(transfer.easy.get(), CURLINFO_REDIRECT_COUNT, &followed);
  curl_easy_getinfo(transfer.easy.get(), CURLINFO_REDIRECT_URL, &unfollowed);
  curl_easy_getinfo(transfer.easy.get(), CURLINFO_EFFECTIVE_URL, &target);
  const std::string_view target_url = target ? target : "";
  const bool http_target = target_url.starts_with("http://") || target_url.starts_with("https://");
  if (followed > 0 && !unfollowed && http_target && status >= 300 && status < 400 && result != CURLE_OK &&
      result != CURLE_HTTP_RETURNED_ERROR) {
    status = 0;
    detail = "redirected to " + std::string(target_url) + ": " + detail;
  }
  if (!IsResourceStatus(status) || result == CURLE_HTTP_RETURNED_ERROR) {
    const std::string text = "the server answered HTTP status " + std::to_string(status);
    if (status < 300 || status >= 400) return {Kind::Refused, status, text};
    if (result == CURLE_UNSUPPORTED_PROTOCOL)
      return {Kind::Refused, status, text + ", a redirection to a scheme other than http or https (not followed)"};
    return {Kind::Refused, status, text + " (a redirection without a Location to follow)"};
  }
  switch (result) {
    case CURLE_OK:
      return {Kind::File, 0, "cannot read " + transfer.local_path + ": Is a directory"};
    case CURLE_UNSUPPORTED_PROTOCOL:  // a redirection to another scheme
      return {Kind::Refused, status, detail};
    case CURLE_FILE_COULDNT_READ_FILE:
    case CURLE_READ_ERROR:
      return {Kind::File, 0, detail};
    case CURLE_OPERATION_TIMEDOUT: {
      // libcurl's text tells the low-speed limit from the connect timeout.
      const bool connected = status != 0 || transfer.Received() > 0 || detail.find("too slow") != std::string::npos;
      if (!connected)
        return {Kind::Network, 0, "no connection within " + std::to_string(transfer.connect_timeout.count()) + " s"};
      return {Kind::Network, 0,
              "stalled: less than a byte a second for " + std::to_string(transfer.stall_timeout.count()) + " s"};
    }
    default:
      return {Kind::Network, 0, detail};
  }
}

}  // namespace

class DownloadService::Engine {
 public:
  explicit Engine(EventLoop& loop);
  ~Engine();
  std::optional<DownloadStartFailure> Start(const DownloadRequest& request);
  std::size_t RunningCount() const { return transfers_.size(); }
  void AbandonFor(const DownloadListener* listener);

 private:
  enum class Direction { Read, Write };
  // A socket of libcurl's that the loop watches; the descriptor is libcurl's and
  // is released, never closed, by the service.
  struct Watch {
    explicit Watch(boost::asio::io_context& context) : descriptor(context) {}
    boost::asio::posix::stream_descriptor descriptor;
    int wanted = 0;  // CURL_POLL_IN / CURL_POLL_OUT bits
    bool reading = false, writing = false;
  };

  static int OnSocket(CURL* easy, curl_socket_t s, int what, void* self, void* socket_data);
  static int OnTimer(CURLM* multi, long timeout_ms, void* self);

  std::unique_ptr<CURL, EasyCleanup> NewEasy(Transfer& transfer, const DownloadRequest& request);
  int WatchSocket(curl_socket_t s, int what);
  void ArmWait(curl_socket_t s, const std::shared_ptr<Watch>& watch, Direction direction);
  void OnReady(curl_socket_t s, const std::shared_ptr<Watch>& watch, Direction direction);
  void ArmTimer(long timeout_ms);
  void Act(curl_socket_t s, int events);
  void Dispatch();
  void NotifyProgress(Transfer& transfer);
  void Complete(CURL* easy, CURLcode result);
  void Abandon(std::uint64_t id);

  EventLoop& loop_;
  // Handlers queued on the loop check this before touching the engine.
  std::shared_ptr<int> alive_ = std::make_shared<int>();
  boost::asio::steady_timer timer_;
  std::unique_ptr<CURLM, MultiCleanup> multi_;
  std::unordered_map<curl_socket_t, std::shared_ptr<Watch>> watches_;
  std::map<std::uint64_t, std::unique_ptr<Transfer>> transfers_;
  std::uint64_t next_id_ = 1;
};

DownloadService::Engine::Engine(EventLoop& loop) : loop_(loop), timer_(loop.context()) {
  InitialiseCurlOnce();
  multi_.reset(curl_multi_init());
  if (!multi_) return;
  curl_multi_setopt(multi_.get(), CURLMOPT_SOCKETFUNCTION, &Engine::OnSocket);
  curl_multi_setopt(multi_.get(), CURLMOPT_SOCKETDATA, this);
  curl_multi_setopt(multi_.get(), CURLMOPT_TIMERFUNCTION, &Engine::OnTimer);
  curl_multi_setopt(multi_.get(), CURLMOPT_TIMERDATA, this);
}

DownloadService::Engine::~Engine() {
  alive_.reset();
  for (auto& [id, transfer] : transfers_) curl_multi_remove_handle(multi_.get(), transfer->easy.get());
  multi_.reset();  // may still report sockets to forget, so the watches live on until here
  for (auto& [s, watch] : watches_) watch->descriptor.release();
  watches_.clear();
  timer_.cancel();
}

std::unique_ptr<CURL, EasyCleanup> DownloadService::Engine::NewEasy(Transfer& transfer,
                                                                   const DownloadRequest& request) {
  std::unique_ptr<CURL, EasyCleanup> easy(curl_easy_init());
  if (!easy) return easy;
  CURL* e = easy.get();
  curl_easy_setopt(e, CURLOPT_URL, request.url.c_str());
  curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https,file");
  // A server must not be able to send us to a local file.
  curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(e, CURLOPT_MAXREDIRS, kMaxRedirects);
  // An error page is not the resource: status 400 and above fails the transfer.
  curl_easy_setopt(e, CURLOPT_FAILONERROR, 1L);
  curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(e, CURLOPT_BUFFERSIZE, kReceiveBufferBytes);
  curl_easy_setopt(e, CURLOPT_USERAGENT, "Pellora");
  curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &WriteToSpool);
  curl_easy_setopt(e, CURLOPT_WRITEDATA, &transfer);
  curl_easy_setopt(e, CURLOPT_PRIVATE, &transfer);
  curl_easy_setopt(e, CURLOPT_ERRORBUFFER, transfer.error_text);
  curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT, static_cast<long>(request.connect_timeout.count()));
  curl_easy_setopt(e, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(e, CURLOPT_LOW_SPEED_TIME, static_cast<long>(request.stall_timeout.count()));
  if (request.newest_copy) {
    curl_slist* list = curl_slist_append(nullptr, "Cache-Control: no-cache");
    if (list) list = curl_slist_append(list, "Pragma: no-cache");
    transfer.headers.reset(list);
    curl_easy_setopt(e, CURLOPT_HTTPHEADER, list);
  }
  return easy;
}

std::optional<DownloadStartFailure> DownloadService::Engine::Start(const DownloadRequest& request) {
  if (!multi_) return FailureOf(CURLE_FAILED_INIT);
  if (auto refused = CheckUrl(request.url)) return refused;
  auto transfer = std::make_unique<Transfer>();
  transfer->id = next_id_++;
  transfer->tag = request.tag;
  transfer->listener = request.listener;
  transfer->owner = request.listener.lock().get();
  transfer->local_path = LocalPathOf(request.url);
  transfer->connect_timeout = request.connect_timeout;
  transfer->stall_timeout = request.stall_timeout;
  transfer->output_descriptor = request.output_descriptor;
  if (request.output_descriptor < 0) {
    std::error_code ec;
    transfer->data = DownloadData::CreateSpool(request.spool_directory, ec);
    if (ec) return DownloadStartFailure{CURLE_WRITE_ERROR, "Cannot create a spool file: " + ec.message()};
  }
  transfer->easy = NewEasy(*transfer, request);
  if (!transfer->easy) return FailureOf(CURLE_OUT_OF_MEMORY);
  if (const CURLMcode rc = curl_multi_add_handle(multi_.get(), transfer->easy.get()); rc != CURLM_OK)
    return DownloadStartFailure{static_cast<std::int32_t>(rc), curl_multi_strerror(rc)};
  const std::uint64_t id = transfer->id;
  transfers_.emplace(id, std::move(transfer));
  return std::nullopt;
}

int DownloadService::Engine::OnSocket(CURL*, curl_socket_t s, int what, void* self, void*) {
  return static_cast<Engine*>(self)->WatchSocket(s, what);
}

int DownloadService::Engine::OnTimer(CURLM*, long timeout_ms, void* self) {
  static_cast<Engine*>(self)->ArmTimer(timeout_ms);
  return 0;
}

int DownloadService::Engine::WatchSocket(curl_socket_t s, int what) {
  auto found = watches_.find(s);
  if (what == CURL_POLL_REMOVE) {
    if (found != watches_.end()) {
      found->second->descriptor.release();
      watches_.erase(found);
    }
    return 0;
  }
  if (found == watches_.end()) {
    auto watch = std::make_shared<Watch>(loop_.context());
    boost::system::error_code ec;
    watch->descriptor.assign(s, ec);
    if (ec) return -1;  // libcurl fails the transfer
    found = watches_.emplace(s, std::move(watch)).first;
  }
  const std::shared_ptr<Watch> watch = found->second;
  watch->wanted = what;
  if (what & CURL_POLL_IN) ArmWait(s, watch, Direction::Read);
  if (what & CURL_POLL_OUT) ArmWait(s, watch, Direction::Write);
  return 0;
}

// libcurl expects to hear of a socket as long as it is ready (level-triggered),
// while the loop's epoll reports only changes; a socket that libcurl left readable
// would never be reported again. So a wait starts only on a socket that is not
// ready yet; a ready one is handled on the next turn of the loop.
void DownloadService::Engine::ArmWait(curl_socket_t s, const std::shared_ptr<Watch>& watch,
                                      Direction direction) {
  bool& waiting = direction == Direction::Read ? watch->reading : watch->writing;
  if (waiting) return;
  waiting = true;
  auto on_ready = [this, s, watch, direction, alive = std::weak_ptr<int>(alive_)](const boost::system::error_code& ec) {
    if (alive.expired()) return;
    (direction == Direction::Read ? watch->reading : watch->writing) = false;
    if (!ec) OnReady(s, watch, direction);
  };
  pollfd probe{s, static_cast<short>(direction == Direction::Read ? POLLIN : POLLOUT), 0};
  if (::poll(&probe, 1, 0) > 0) {
    boost::asio::post(loop_.context(), [on_ready = std::move(on_ready)] { on_ready({}); });
    return;
  }
  const auto kind = direction == Direction::Read ? boost::asio::posix::descriptor_base::wait_read
                                                 : boost::asio::posix::descriptor_base::wait_write;
  watch->descriptor.async_wait(kind, std::move(on_ready));
}

void DownloadService::Engine::OnReady(curl_socket_t s, const std::shared_ptr<Watch>& watch,
                                      Direction direction) {
  const int flag = direction == Direction::Read ? CURL_POLL_IN : CURL_POLL_OUT;
  // The socket may have been forgotten, or its number reused, since the wait began.
  const auto current = [&] {
    const auto found = watches_.find(s);
    return found != watches_.end() && found->second == watch && (watch->wanted & flag);
  };
  if (!current()) return;
  Act(s, direction == Direction::Read ? CURL_CSELECT_IN : CURL_CSELECT_OUT);
  if (current()) ArmWait(s, watch, direction);
}

void DownloadService::Engine::ArmTimer(long timeout_ms) {
  timer_.cancel();
  if (timeout_ms < 0) return;
  // libcurl must not be called from inside its own callback: even a timeout of 0
  // goes through the loop.
  timer_.expires_after(std::chrono::milliseconds(timeout_ms));
  timer_.async_wait([this, alive = std::weak_ptr<int>(alive_)](const boost::system::error_code& ec) {
    if (!ec && !alive.expired()) Act(CURL_SOCKET_TIMEOUT, 0);
  });
}

void DownloadService::Engine::Act(curl_socket_t s, int events) {
  int running = 0;
  curl_multi_socket_action(multi_.get(), s, events, &running);
  Dispatch();
}

// Notifies outside of libcurl's callbacks, so that a handler may start downloads.
// Progress goes first, so the last progress of a download precedes its completion.
void DownloadService::Engine::Dispatch() {
  std::vector<std::uint64_t> progressed;
  for (const auto& [id, transfer] : transfers_)
    if (transfer->progress_pending) progressed.push_back(id);
  for (const std::uint64_t id : progressed) {
    const auto found = transfers_.find(id);
    if (found != transfers_.end()) NotifyProgress(*found->second);
  }
  std::vector<std::pair<CURL*, CURLcode>> finished;
  int queued = 0;
  while (const CURLMsg* message = curl_multi_info_read(multi_.get(), &queued))
    if (message->msg == CURLMSG_DONE) finished.emplace_back(message->easy_handle, message->data.result);
  for (const auto& [easy, result] : finished) Complete(easy, result);
}

void DownloadService::Engine::NotifyProgress(Transfer& transfer) {
  transfer.progress_pending = false;
  const auto listener = transfer.listener.lock();
  if (!listener) return Abandon(transfer.id);
  curl_off_t announced = -1;
  curl_easy_getinfo(transfer.easy.get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced);
  const std::string tag = transfer.tag;
  listener->OnDownloadProgress(tag, SaturateToInt32(transfer.Received()), SaturateToInt32(announced));
}

void DownloadService::Engine::Complete(CURL* easy, CURLcode result) {
  Transfer* finished = nullptr;
  curl_easy_getinfo(easy, CURLINFO_PRIVATE, &finished);
  auto node = transfers_.extract(finished->id);
  if (node.empty()) return;
  const std::unique_ptr<Transfer> transfer = std::move(node.mapped());
  long status = 0;
  curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
  if (!transfer->spool_error && transfer->data.IsOpen()) transfer->data.Flush(transfer->spool_error);
  // libcurl reads a folder named by a file:// URL as an empty file.
  const bool folder = !transfer->local_path.empty() && IsFolder(transfer->local_path);
  const bool succeeded = result == CURLE_OK && IsResourceStatus(status) && !transfer->spool_error && !folder;
  std::optional<DownloadFailure> failure;
  if (!succeeded) failure = DescribeFailure(*transfer, result, status);
  curl_multi_remove_handle(multi_.get(), easy);
  const auto listener = transfer->listener.lock();
  if (!listener) return;
  if (failure) {
    listener->OnDownloadFailed(transfer->tag, *failure);
    return listener->OnDownloadComplete(transfer->tag, DownloadData(), 0, false);
  }
  const std::int32_t total = SaturateToInt32(transfer->Received());
  listener->OnDownloadComplete(transfer->tag, std::move(transfer->data), total, true);
}

void DownloadService::Engine::Abandon(std::uint64_t id) {
  const auto found = transfers_.find(id);
  if (found == transfers_.end()) return;
  curl_multi_remove_handle(multi_.get(), found->second->easy.get());
  transfers_.erase(found);
}

void DownloadService::Engine::AbandonFor(const DownloadListener* listener) {
  std::vector<std::uint64_t> ids;
  for (const auto& [id, transfer] : transfers_)
    if (transfer->owner == listener) ids.push_back(id);
  for (const std::uint64_t id : ids) Abandon(id);
}

std::int32_t SaturateToInt32(std::int64_t count) {
  if (count <= 0) return 0;
  if (count > std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
  return static_cast<std::int32_t>(count);
}

DownloadService::DownloadService(EventLoop& loop) : engine_(std::make_unique<Engine>(loop)) {}

DownloadService::~DownloadService() = default;

std::optional<DownloadStartFailure> DownloadService::Start(const DownloadRequest& request) {
  return engine_->Start(request);
}

std::size_t DownloadService::RunningCount() const { return engine_->RunningCount(); }

void DownloadService::AbandonFor(const DownloadListener* listener) { engine_->AbandonFor(listener); }

}  // namespace pellora::hosting
