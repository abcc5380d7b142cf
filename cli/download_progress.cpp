// SPDX-License-Identifier: MIT
#include "cli/download_progress.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

namespace pellora::cli {

std::string FormatBytes(std::int64_t bytes) {
  static constexpr std::array<const char*, 5> kUnits{"KiB", "MiB", "GiB", "TiB", "PiB"};
  if (bytes < 1024) return std::to_string(bytes) + " B";
  double value = static_cast<double>(bytes) / 1024;
  std::size_t unit = 0;
  while (value >= 1024 && unit + 1 < kUnits.size()) {
    value /= 1024;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
  return text;
}

std::string FormatDuration(double seconds) {
  if (seconds < 0 || !std::isfinite(seconds)) return "--:--";
  const auto whole = static_cast<long long>(std::llround(seconds));
  char text[32];
  if (whole >= 3600)
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", whole / 3600, whole / 60 % 60, whole % 60);
  else
    std::snprintf(text, sizeof text, "%lld:%02lld", whole / 60, whole % 60);
  return text;
}

std::string FormatProgressLine(std::int64_t bytes, std::int64_t total, double elapsed_seconds,
                               int bar_width) {
  const double rate = elapsed_seconds > 0 ? static_cast<double>(bytes) / elapsed_seconds : 0.0;
  if (total <= 0) return FormatBytes(bytes) + "  " + FormatBytes(static_cast<std::int64_t>(rate)) + "/s";
  const double fraction = std::clamp(static_cast<double>(bytes) / static_cast<double>(total), 0.0, 1.0);
  const int filled = static_cast<int>(fraction * bar_width);
  const double left =
      rate > 0 && total > 0 ? static_cast<double>(std::max<std::int64_t>(total - bytes, 0)) / rate : -1.0;
  char head[32];
  std::snprintf(head, sizeof head, "] %3d%%  ", static_cast<int>(fraction * 100));
  return "[" + std::string(static_cast<std::size_t>(filled), '#') +
         std::string(static_cast<std::size_t>(bar_width - filled), ' ') + head + FormatBytes(bytes) +
         " / " + FormatBytes(total) + "  " + FormatBytes(static_cast<std::int64_t>(rate)) +
         "/s  ETA " + FormatDuration(left);
}

}  // namespace pellora::cli
