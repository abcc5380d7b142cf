// SPDX-License-Identifier: MIT
#pragma once
// The progress line of `pellora download`: bytes, total, rate and time left.
#include <cstdint>
#include <string>

namespace pellora::cli {

// "12.5 MiB", "812 B": a byte count for people, in binary units.
std::string FormatBytes(std::int64_t bytes);

// "1:05:09", "3:07": seconds as hours:minutes:seconds, hours only when needed;
// "--:--" for a time not known (negative).
std::string FormatDuration(double seconds);

// One line for a terminal: a bar of `bar_width` cells, the percentage, the bytes
// of the total, the mean rate since the start and the time left at that rate.
// Without a known total (0), only the bytes and the rate.
std::string FormatProgressLine(std::int64_t bytes, std::int64_t total, double elapsed_seconds,
                               int bar_width);

}  // namespace pellora::cli
