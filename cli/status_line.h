// SPDX-License-Identifier: MIT
#pragma once
// The one-line live status of `pellora record` on a terminal, with the byte and
// time formats of `pellora download`:
//   "0:12  190.5 KiB  127 kbit/s  Beyoncé - Loopback Love"           (one stream)
//   "0:12  3/3 streams  571.6 KiB  381 kbit/s"                      (several)
//   "0:12  190.5 KiB  127 kbit/s  2 songs  Beyoncé - Loopback Love"  (--split)
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace pellora::cli {

struct RecordingStatus {
  std::chrono::steady_clock::duration elapsed{};
  std::uint64_t bytes = 0;   // audio bytes written, all streams together
  std::size_t running = 1;   // streams still recording
  std::size_t streams = 1;   // streams in the run
  std::string title;         // current title of the one stream (UTF-8)
  std::optional<std::size_t> songs_saved;  // with --split: songs saved, all streams together
};

// The status text, at most `width` bytes (cut on a UTF-8 character boundary).
std::string FormatStatus(const RecordingStatus& status, std::size_t width);

// Columns of the terminal on standard error; 80 when unknown.
std::size_t TerminalWidth();

}  // namespace pellora::cli
