// The server's response: the first-bytes test, the header, its status and
// fields, then the body split into audio and metadata.
#include <algorithm>
#include <array>
#include <string_view>

#include "capture/header_values.h"
#include "capture/torvane.h"

namespace pellora::capture {
namespace {

constexpr std::string_view kHeaderEnd = "\r\n\r\n";
constexpr std::size_t kProbeBytes = 12;  // enough to tell "HTTP/1.1 200" from the rest

enum class Verdict { Accept, Refuse, NeedMore };

// Is `probe` (the first bytes of a response) the start of an ICY response, an
// HTTP redirection (a 3xx status), or, when `http_ok`, of "HTTP/1.x 200"?
Verdict JudgeFirstBytes(std::string_view probe, bool http_ok) {
  const auto may_become = [&](std::string_view wanted) {
    const std::size_t n = std::min(probe.size(), wanted.size());
    return probe.substr(0, n) == wanted.substr(0, n);
  };
  if (probe.starts_with("ICY")) return Verdict::Accept;
  if (http_ok && (probe.starts_with("HTTP/1.0 200") || probe.starts_with("HTTP/1.1 200")))
    return Verdict::Accept;
  if (probe.size() >= 10 && probe.starts_with("HTTP") && probe[9] == '3') return Verdict::Accept;
  const bool undecided = may_become("ICY") ||
                         (probe.size() < 10 && may_become("HTTP")) ||
                         (http_ok && (may_become("HTTP/1.0 200") || may_become("HTTP/1.1 200")));
  return undecided ? Verdict::NeedMore : Verdict::Refuse;
}

struct StatusRefusal {
  std::string_view status;
  EErrCode code;
  const char* description;
};
constexpr std::array<StatusRefusal, 4> kRefusedStatuses{{
    {"ICY 400", Err_Stream_LimitReached, "Stream Limit Reached..."},
    {"ICY 401", Err_Stream_Unavaible, "Stream Unavaible..."},
    {"ICY 403", Err_Stream_Forbidden, "Stream Forbidden..."},
    {"ICY 404", Err_Stream_NotFound, "Stream not Found..."},
}};

}  // namespace

void Torvane::ProcessChunk(std::span<const char> chunk) {
  if (chunk.empty()) return;
  const auto keep = KeepAlive();
  received_bytes_ += static_cast<std::int64_t>(chunk.size());
  if (waiting_for_header_) {
    const auto body = CollectHeader(chunk);
    if (!body) return;
    chunk = *body;
  }
  DemultiplexBody(chunk);
}

// Collects the header; returns the part of `chunk` after it once it is complete
// and accepted, nothing while it is incomplete or when the response was refused.
std::optional<std::span<const char>> Torvane::CollectHeader(std::span<const char> chunk) {
  if (!first_bytes_checked_) {
    bool decided = false;
    if (!PassesFirstBytesTest(chunk, decided)) return std::nullopt;
    if (!decided) {
      header_text_.append(chunk.data(), chunk.size());
      return std::nullopt;
    }
  }
  const auto end = FindHeaderEnd(chunk);
  if (!end) {
    header_text_.append(chunk.data(), chunk.size());
    if (header_text_.size() > kMaxHeaderBytes) {
      // A header that never ends must not hold memory without bound.
      RaiseError(TErr_Stream, Err_Stream_BadServer, "Stream Bad Server Request");
      Disconnect();
    }
    return std::nullopt;
  }
  header_text_.append(chunk.data(), *end);
  waiting_for_header_ = false;
  if (!AcceptHeader()) return std::nullopt;
  return chunk.subspan(*end);
}

bool Torvane::PassesFirstBytesTest(std::span<const char> chunk, bool& decided) {
  std::string probe = header_text_;  // bytes of an undecided start, at most a few
  probe.append(chunk.data(), std::min(chunk.size(), kProbeBytes));
  switch (JudgeFirstBytes(probe, accept_http_ok_)) {
    case Verdict::Accept:
      first_bytes_checked_ = true;
      decided = true;
      return true;
    case Verdict::NeedMore:
      decided = false;
      return true;
    case Verdict::Refuse:
      break;
  }
  const auto keep = KeepAlive();
  RaiseError(TErr_Stream, Err_Stream_BadServer, "Stream Bad Server Request");
  Disconnect();
  return false;
}

// The offset in `chunk` just past the empty line that ends the header, also when
// the CR LF CR LF began in an earlier chunk.
std::optional<std::size_t> Torvane::FindHeaderEnd(std::span<const char> chunk) const {
  // A tiny start kept back by the first-bytes test is searched whole.
  const std::size_t carried = header_text_.size() < 16 ? header_text_.size() : 3;
  std::string seam = header_text_.substr(header_text_.size() - carried);
  seam.append(chunk.data(), std::min<std::size_t>(chunk.size(), kHeaderEnd.size() - 1));
  if (const std::size_t at = seam.find(kHeaderEnd); at != std::string::npos)
    return at + kHeaderEnd.size() > carried ? at + kHeaderEnd.size() - carried : 0;
  const std::string_view text(chunk.data(), chunk.size());
  if (const std::size_t at = text.find(kHeaderEnd); at != std::string_view::npos)
    return at + kHeaderEnd.size();
  return std::nullopt;
}

// Checks the complete header for a redirection and a refused status, stores its
// fields and raises GotHeader. Returns false when the rest of the chunk is to be
// dropped.
bool Torvane::AcceptHeader() {
  const auto keep = KeepAlive();
  const std::uint64_t epoch = connection_epoch_;
  if (const auto location = GetHeader("Location"); location && !location->empty()) {
    Disconnect();
    RaiseError(TErr_Stream, Err_Stream_Redirection, *location);
    return false;
  }
  const std::string status = StatusLine().substr(0, 7);
  for (const StatusRefusal& refusal : kRefusedStatuses) {
    if (status != refusal.status) continue;
    Disconnect();
    RaiseError(TErr_Stream, refusal.code, refusal.description);
    return false;
  }
  StoreHeaderFields();
  RaiseGotHeader(header_text_);
  return connection_epoch_ == epoch;
}

void Torvane::StoreHeaderFields() {
  stream_name_ = GetHeader("icy-name").value_or("");
  stream_genre_ = GetHeader("icy-genre").value_or("");
  stream_url_ = GetHeader("icy-url").value_or("");
  stream_bit_rate_ = HeaderInt16(GetHeader("icy-br"));
  stream_public_ = HeaderFlag(GetHeader("icy-pub"));
  parser_.Start(HeaderInt32(GetHeader("icy-metaint")));
}

void Torvane::DemultiplexBody(std::span<const char> body) {
  const auto keep = KeepAlive();
  const std::uint64_t epoch = connection_epoch_;
  // The slice list is borrowed from the pool, so that a handler pumping the loop
  // (and thus a nested chunk) gets a list of its own.
  std::vector<std::span<const char>> slices;
  slices.swap(slice_pool_);
  slices.clear();
  parser_.Feed(
      body,
      [&](std::span<const char> audio) {
        slices.push_back(audio);
        if (audio_sink_ && connection_epoch_ == epoch) audio_sink_->AudioSlice(audio);
      },
      [&](std::string_view block) { return connection_epoch_ == epoch && TakeMetadataBlock(block, epoch); });
  // Events first, then the chunk's audio, so that a handler that started a new
  // recording receives this chunk's audio in its new file.
  if (connection_epoch_ == epoch) WriteAudio(slices);
  slices.clear();
  slice_pool_.swap(slices);
}

// Takes one complete metadata block; returns false when a handler ended the
// connection.
bool Torvane::TakeMetadataBlock(std::string_view block, std::uint64_t epoch) {
  const std::string previous = std::move(meta_text_);
  meta_text_.assign(block.substr(0, block.find('\0')));
  music_name_ = GetMeta("StreamTitle").value_or("");
  music_url_ = GetMeta("StreamUrl").value_or("");
  received_meta_info_ += static_cast<std::int64_t>(block.size()) + 1;
  if (meta_text_ != previous) RaiseMetaChanged(meta_text_);
  return connection_epoch_ == epoch;
}

}  // namespace pellora::capture
