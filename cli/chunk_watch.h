// SPDX-License-Identifier: MIT
#pragma once
// A site whose controls' sockets report each chunk to the host once the control
// has processed it. The recorder learns this way, exactly and at no cost, how many
// audio bytes every chunk added, and can stop at a byte limit right away.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "hosting/container.h"
#include "hosting/tcp_socket.h"

namespace pellora::cli {

class ChunkWatchingSite : public hosting::Site {
 public:
  // `after_chunk` runs after the control's own handling of every chunk.
  // `budget`, when given, says how many more received bytes the control may be
  // handed now: a chunk is handed over in pieces of at most that size, with
  // `after_chunk` after each, so that a byte limit on the audio (which is never
  // more than the bytes received) is met exactly.
  ChunkWatchingSite(hosting::EventLoop& loop, std::function<void()> after_chunk,
                    std::function<std::uint64_t()> budget = {})
      : hosting::Site(loop), after_chunk_(std::move(after_chunk)), budget_(std::move(budget)) {}

  std::unique_ptr<hosting::Socket> CreateSocket() override;

  // The first line received on the latest connection (bytes, without its line
  // end, at most kMaxFirstLine bytes).
  std::string FirstLine() const;
  // What a server that refuses says in a plain-text body ("max listeners
  // reached", Icecast's 403): the body's first line (bytes, at most
  // kMaxFirstLine), when the answer is text/plain and its header and body began
  // within the first kMaxKept bytes received; else "".
  std::string PlainTextBody() const;
  static constexpr std::size_t kMaxFirstLine = 200;
  static constexpr std::size_t kMaxKept = 2048;

 private:
  std::function<void()> after_chunk_;
  std::function<std::uint64_t()> budget_;
  std::string first_bytes_;  // of the latest connection, at most kMaxKept
};

}  // namespace pellora::cli
