// SPDX-License-Identifier: MIT
#include "servers/common/c_api_support.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "text/text.h"

namespace pellora::servers {

int CopyOut(std::string_view text, char* buffer, std::size_t size, std::size_t* length) {
  if (length) *length = text.size();
  if (!buffer) return size == 0 ? kOk : kInvalidArgument;
  if (size == 0) return kBufferTooSmall;
  const std::size_t copied = text::Utf8CutLength(text, size - 1);
  std::memcpy(buffer, text.data(), copied);
  buffer[copied] = '\0';
  return copied == text.size() ? kOk : kBufferTooSmall;
}

std::int64_t RunLoop() {
  try {
    return static_cast<std::int64_t>(LibraryLoop().run());
  } catch (...) {
    return kFailed;
  }
}

std::int64_t RunLoopFor(std::int32_t milliseconds) {
  if (milliseconds < 0) return kInvalidArgument;
  try {
    const std::chrono::milliseconds limit(milliseconds);
    return static_cast<std::int64_t>(LibraryLoop().run_for(limit));
  } catch (...) {
    return kFailed;
  }
}

std::int64_t PollLoop() {
  try {
    return static_cast<std::int64_t>(LibraryLoop().poll());
  } catch (...) {
    return kFailed;
  }
}

void StopLoop() { LibraryLoop().stop(); }

}  // namespace pellora::servers
