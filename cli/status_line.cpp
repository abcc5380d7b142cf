// SPDX-License-Identifier: MIT
#include "cli/status_line.h"

#include "cli/download_progress.h"

#include <sys/ioctl.h>
#include <unistd.h>


namespace pellora::cli {
namespace {

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

std::string FormatStatus(const RecordingStatus& status, std::size_t width) {
  std::string line = FormatDuration(std::chrono::duration<double>(status.elapsed).count());
  if (status.streams > 1)
    line += "  " + std::to_string(status.running) + "/" + std::to_string(status.streams) + " streams";
  line += "  " + FormatBytes(std::int64_t(status.bytes));
  if (const std::string rate = Rate(status); !rate.empty()) line += "  " + rate;
  if (status.songs_saved)
    line += "  " + std::to_string(*status.songs_saved) + (*status.songs_saved == 1 ? " song" : " songs");
  if (status.streams == 1 && !status.title.empty()) line += "  " + status.title;
  return CutToWidth(std::move(line), width);
}

std::size_t TerminalWidth() {
  winsize size{};
  if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}

}  // namespace pellora::cli
