#pragma once
// A site whose controls' sockets report each chunk to the host once the control
// has processed it. The recorder learns this way, exactly and at no cost, how many
// audio bytes every chunk added, and can stop at a byte limit right away.
#include <functional>
#include <memory>

#include "hosting/container.h"
#include "hosting/tcp_socket.h"

namespace pellora::cli {

class ChunkWatchingSite : public hosting::Site {
 public:
  // `after_chunk` runs after the control's own handling of every chunk.
  ChunkWatchingSite(hosting::EventLoop& loop, std::function<void()> after_chunk)
      : hosting::Site(loop), after_chunk_(std::move(after_chunk)) {}

  std::unique_ptr<hosting::Socket> CreateSocket() override;

 private:
  std::function<void()> after_chunk_;
};

}  // namespace pellora::cli
