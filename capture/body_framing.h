// SPDX-License-Identifier: MIT
#pragma once
// The framing of a response body, undone before the ICY demultiplexer sees it:
//   - until the close (no length and no transfer coding): every byte is body;
//   - Content-Length: that many bytes, then the body has ended;
//   - Transfer-Encoding: chunked: chunks of "size[;extensions] CR LF data CR LF",
//     a last chunk of size 0, trailer lines and an empty line.
// `BodyFraming` is fed the bytes after the header in any cutting and hands out
// the body data as views into them (no copies). Everything it keeps is bounded: a
// chunk-size line by kMaxChunkLineBytes, the trailers by kMaxTrailerBytes, a chunk
// size by 2^60; the size is only counted down, never allocated.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

namespace pellora::capture {

inline constexpr std::size_t kMaxChunkLineBytes = 4096;
inline constexpr std::size_t kMaxTrailerBytes = 64 * 1024;

class BodyFraming {
 public:
  enum class Status { Going, Ended, Malformed };

  void StartUntilClose() { Start(Mode::UntilClose, 0); }
  void StartLength(std::uint64_t length) { Start(Mode::Length, length); }
  void StartChunked() { Start(Mode::Chunked, 0); }

  // Whether the body is complete when the connection closes now.
  bool CompleteAtClose() const { return mode_ == Mode::UntilClose || state_ == State::Done; }

  // Walks `bytes`; `on_data(std::span<const char>)` receives each run of body data
  // (never empty) and returns false to stop the walk at once. Ended: the body is
  // complete (bytes after it are ignored). Malformed: a chunk line or a trailer is
  // not as the coding requires.
  template <class OnData>
  Status Feed(std::span<const char> bytes, OnData&& on_data) {
    if (mode_ == Mode::UntilClose) {
      if (!bytes.empty()) on_data(bytes);
      return Status::Going;
    }
    const char* at = bytes.data();
    const char* const end = at + bytes.size();
    while (at < end || state_ == State::Done) {
      if (state_ == State::Done) return Status::Ended;
      if (state_ == State::Data) {
        const auto take = static_cast<std::size_t>(
            std::min<std::uint64_t>(remaining_, static_cast<std::uint64_t>(end - at)));
        remaining_ -= take;
        at += take;
        if (remaining_ == 0) state_ = mode_ == Mode::Length ? State::Done : State::DataCR;
        if (!on_data(std::span<const char>(at - take, take))) return Status::Going;
        continue;
      }
      if (!Step(*at++)) return Status::Malformed;
    }
    return state_ == State::Done ? Status::Ended : Status::Going;
  }

 private:
  enum class Mode { UntilClose, Length, Chunked };
  enum class State { Size, SizeBlank, Extension, SizeLF, Data, DataCR, DataLF, TrailerStart, Trailer,
                     TrailerLF, EndLF, Done };

  void Start(Mode mode, std::uint64_t length) {
    mode_ = mode;
    remaining_ = length;
    state_ = mode == Mode::Length ? (length == 0 ? State::Done : State::Data) : State::Size;
    NewSizeLine();
    trailer_bytes_ = 0;
  }
  void NewSizeLine() {
    size_ = 0;
    digits_ = 0;
    line_bytes_ = 0;
  }

  static int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  }

  // One byte of a chunked body outside the data; false when it is malformed.
  bool Step(char c) {
    switch (state_) {
      case State::Size:
      case State::SizeBlank:
      case State::Extension:
        return SizeLineByte(c);
      case State::SizeLF:
        if (c != '\n') return false;
        state_ = size_ == 0 ? State::TrailerStart : State::Data;
        remaining_ = size_;
        return true;
      case State::DataCR:
        state_ = State::DataLF;
        return c == '\r';
      case State::DataLF:
        state_ = State::Size;
        NewSizeLine();
        return c == '\n';
      case State::TrailerStart:
      case State::Trailer:
        if (++trailer_bytes_ > kMaxTrailerBytes) return false;
        if (c == '\n') return false;
        state_ = c == '\r' ? (state_ == State::TrailerStart ? State::EndLF : State::TrailerLF) : State::Trailer;
        return true;
      case State::TrailerLF:
        state_ = State::TrailerStart;
        return c == '\n';
      case State::EndLF:
        state_ = State::Done;
        return c == '\n';
      case State::Data:
      case State::Done:
        break;
    }
    return false;
  }

  // "size [blanks] [;extensions] CR": hex digits, then optional blanks, then
  // extensions up to the CR (their content is not used).
  bool SizeLineByte(char c) {
    if (++line_bytes_ > kMaxChunkLineBytes || c == '\n') return false;
    if (c == '\r') {
      state_ = State::SizeLF;
      return digits_ > 0;
    }
    if (state_ == State::Extension) return true;
    if (c == ';') {
      state_ = State::Extension;
      return digits_ > 0;
    }
    if (c == ' ' || c == '\t') {
      state_ = State::SizeBlank;
      return digits_ > 0;
    }
    const int digit = HexValue(c);
    if (digit < 0 || state_ == State::SizeBlank || size_ >= (std::uint64_t{1} << 56)) return false;
    size_ = size_ * 16 + static_cast<std::uint64_t>(digit);
    ++digits_;
    return true;
  }

  Mode mode_ = Mode::UntilClose;
  State state_ = State::Size;
  std::uint64_t remaining_ = 0;  // data bytes of the chunk (or the body) still due
  std::uint64_t size_ = 0;
  std::size_t digits_ = 0;
  std::size_t line_bytes_ = 0;
  std::size_t trailer_bytes_ = 0;
};

}  // namespace pellora::capture
