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
  const std::string& FirstLine() const { return first_line_; }
  static constexpr std::size_t kMaxFirstLine = 200;

 private:
  std::function<void()> after_chunk_;
  std::function<std::uint64_t()> budget_;
  std::string first_line_;
};

}  // namespace pellora::cli
