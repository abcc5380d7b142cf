// SPDX-License-Identifier: MIT
// The server's response: the first-bytes test, the header, its status and
// fields, then the body split into audio and metadata.
#include <algorithm>
#include <array>
#include <string_view>

#include "capture/header_values.h"
#include "capture/torvane.h"

namespace pellora::capture {
namespace {

constexpr const char* kBadServer = "Stream Bad Server Request";
constexpr const char* kMalformedBody = "Stream Bad Server Request: malformed chunked body";
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

std::string_view TrimBlanks(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// "gzip, chunked": the codings in the order applied; only a body whose last
// coding is chunked is framed by chunks.
bool LastCodingIsChunked(std::string_view codings) {
  const std::size_t comma = codings.rfind(',');
  return EqualsNoCase(TrimBlanks(comma == std::string_view::npos ? codings : codings.substr(comma + 1)),
                      "chunked");
}

// Decimal digits only (at most 18, so the value fits); anything else is no length.
std::optional<std::uint64_t> ContentLength(std::string_view text) {
  text = TrimBlanks(text);
  if (text.empty() || text.size() > 18) return std::nullopt;
  std::uint64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return value;
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
  // A closed socket delivers nothing; a late chunk must not start a new response.
  if (chunk.empty() || !is_connected_) return;
  const auto keep = KeepAlive();
  received_bytes_ += static_cast<std::int64_t>(chunk.size());
  if (waiting_for_header_) {
    const auto body = CollectHeader(chunk);
    if (!body) return;
    chunk = *body;
  }
  DecodeBody(chunk);
}

// Collects the header; returns the part of `chunk` after it once it is complete
// and accepted, nothing while it is incomplete or when the response was refused.
std::optional<std::span<const char>> Torvane::CollectHeader(std::span<const char> chunk) {
  std::size_t used = 0;
  const ResponseParser::Result result = response_.Parse(chunk, used);
  if (!first_bytes_checked_ && !PassesFirstBytesTest()) return std::nullopt;
  if (result == ResponseParser::Result::Bad) {
    // A header that never ends must not hold memory without bound.
    RefuseBadServer();
    return std::nullopt;
  }
  if (result == ResponseParser::Result::NeedMore) return std::nullopt;
  waiting_for_header_ = false;
  header_timer_.cancel();
  if (!AcceptHeader()) return std::nullopt;
  return chunk.subspan(used);
}

// Judges the first bytes once enough of them arrived; false when the response
// was refused.
bool Torvane::PassesFirstBytesTest() {
  const std::string_view start = std::string_view(response_.Text()).substr(0, kProbeBytes);
  switch (JudgeFirstBytes(start, accept_http_ok_)) {
    case Verdict::Accept:
      first_bytes_checked_ = true;
      return true;
    case Verdict::NeedMore:
      if (!response_.Complete()) return true;
      break;
    case Verdict::Refuse:
      break;
  }
  RefuseBadServer();
  return false;
}

// The error first, then the disconnection, unless the error's handler has
// already ended this connection (or begun another one, which must stand).
void Torvane::RefuseBadServer() {
  const auto keep = KeepAlive();
  const std::uint64_t epoch = connection_epoch_;
  RaiseError(TErr_Stream, Err_Stream_BadServer, kBadServer);
  if (connection_epoch_ == epoch) Disconnect();
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
  StartBodyFraming();
  RaiseGotHeader(response_.Text());
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

// Chunked when the last transfer coding is "chunked"; else as long as a valid
// Content-Length says; else until the server closes.
void Torvane::StartBodyFraming() {
  if (const auto coding = response_.Field("Transfer-Encoding"); coding && LastCodingIsChunked(*coding))
    return framing_.StartChunked();
  if (const auto length = response_.Field("Content-Length")) {
    if (const auto bytes = ContentLength(*length)) return framing_.StartLength(*bytes);
  }
  framing_.StartUntilClose();
}

void Torvane::DecodeBody(std::span<const char> body) {
  const auto keep = KeepAlive();
  const std::uint64_t epoch = connection_epoch_;
  // The slice list is borrowed from the pool, so that a handler pumping the loop
  // (and thus a nested chunk) gets a list of its own.
  std::vector<std::span<const char>> slices;
  slices.swap(slice_pool_);
  slices.clear();
  const BodyFraming::Status status =
      framing_.Feed(body, [&](std::span<const char> data) { return Demultiplex(data, slices, epoch); });
  // Events first, then the chunk's audio, so that a handler that started a new
  // recording receives this chunk's audio in its new file.
  if (connection_epoch_ == epoch) WriteAudio(slices);
  slices.clear();
  slice_pool_.swap(slices);
  if (connection_epoch_ != epoch) return;
  if (status == BodyFraming::Status::Malformed) {
    Disconnect();
    RaiseError(TErr_Stream, Err_Stream_BadServer, kMalformedBody);
  } else if (status == BodyFraming::Status::Ended) {
    EndOfStream();
  }
}

// Splits body data into audio slices and metadata blocks; false when a handler
// ended the connection.
bool Torvane::Demultiplex(std::span<const char> data, std::vector<std::span<const char>>& slices,
                          std::uint64_t epoch) {
  parser_.Feed(
      data,
      [&](std::span<const char> audio) {
        slices.push_back(audio);
        if (audio_sink_ && connection_epoch_ == epoch) audio_sink_->AudioSlice(audio);
      },
      [&](std::string_view block) { return connection_epoch_ == epoch && TakeMetadataBlock(block, epoch); });
  return connection_epoch_ == epoch;
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
