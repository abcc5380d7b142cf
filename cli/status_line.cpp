#include "cli/status_line.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>

namespace pellora::cli {
namespace {

std::string Clock(std::chrono::steady_clock::duration elapsed) {
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(elapsed).count();
  char buffer[32];
  if (seconds >= 3600)
    std::snprintf(buffer, sizeof buffer, "%lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
                  static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
  else
    std::snprintf(buffer, sizeof buffer, "%02lld:%02lld", static_cast<long long>(seconds / 60),
                  static_cast<long long>(seconds % 60));
  return buffer;
}

std::string Rate(const RecordingStatus& status) {
  const double seconds = std::chrono::duration<double>(status.elapsed).count();
  if (seconds < 0.5) return "";
  return std::to_string(static_cast<long long>(double(status.bytes) * 8 / 1000 / seconds)) + " kbit/s";
}

std::string CutToWidth(std::string text, std::size_t width) {
  if (text.size() <= width) return text;
  std::size_t end = width;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return text.substr(0, end);
}

}  // namespace

std::string FormatBytes(std::uint64_t bytes) {
  static const char* const kUnits[] = {"KB", "MB", "GB", "TB"};
  if (bytes < 1024) return std::to_string(bytes) + " B";
  double value = double(bytes) / 1024;
  int unit = 0;
  while (value >= 1024 && unit < 3) value /= 1024, ++unit;
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.1f %s", value, kUnits[unit]);
  return buffer;
}

std::string FormatStatus(const RecordingStatus& status, std::size_t width) {
  std::string line = Clock(status.elapsed);
  if (status.streams > 1)
    line += "  " + std::to_string(status.running) + "/" + std::to_string(status.streams) + " streams";
  line += "  " + FormatBytes(status.bytes);
  if (const std::string rate = Rate(status); !rate.empty()) line += "  " + rate;
  if (status.streams == 1 && !status.title.empty()) line += "  " + status.title;
  return CutToWidth(std::move(line), width);
}

std::size_t TerminalWidth() {
  winsize size{};
  if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}

}  // namespace pellora::cli
