// SPDX-License-Identifier: MIT
#include "cli/stream_answer.h"

#include <algorithm>
#include <array>
#include <cctype>

#include "text/text.h"

namespace pellora::cli {
using text::AsciiLower;

namespace {

std::string_view Trim(std::string_view text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

// "Audio/MPEG; charset=x" -> "audio/mpeg".
std::string MediaType(std::string_view content_type) {
  return AsciiLower(Trim(content_type.substr(0, content_type.find(';'))));
}

constexpr std::array<std::string_view, 10> kPlaylistTypes = {
    "audio/x-scpls",         "audio/scpls",          "audio/x-mpegurl",     "audio/mpegurl",
    "application/x-mpegurl", "application/vnd.apple.mpegurl", "application/xspf+xml",
    "video/x-ms-asf",        "video/x-ms-asx",       "audio/x-ms-asx"};

}  // namespace

std::string HeaderField(std::string_view header, std::string_view name) {
  std::size_t start = header.find('\n');  // the status line is no field
  while (start != std::string_view::npos && start + 1 < header.size()) {
    const std::size_t line_start = start + 1;
    const std::size_t end = header.find('\n', line_start);
    std::string_view line = header.substr(line_start, end == std::string_view::npos ? end : end - line_start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) break;
    const auto colon = line.find(':');
    if (colon != std::string_view::npos && EqualsIgnoringCase(Trim(line.substr(0, colon)), name))
      return std::string(Trim(line.substr(colon + 1)));
    start = end;
  }
  return {};
}

std::string StatusLine(std::string_view header) {
  std::string_view line = header.substr(0, header.find('\n'));
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return std::string(line);
}

bool HasPlaylistExtension(std::string_view url) {
  std::string_view path = url;
  if (const auto scheme = path.find("://"); scheme != std::string_view::npos) {
    path.remove_prefix(scheme + 3);
    const auto slash = path.find('/');
    path = slash == std::string_view::npos ? std::string_view() : path.substr(slash);
  }
  path = path.substr(0, path.find_first_of("?#"));
  const std::string lower = AsciiLower(path);
  for (std::string_view extension : {".pls", ".m3u", ".m3u8", ".xspf", ".asx", ".wax", ".wvx"})
    if (lower.ends_with(extension)) return true;
  return false;
}

AnswerKind ClassifyAnswer(std::string_view content_type, std::string_view url) {
  const std::string type = MediaType(content_type);
  if (std::find(kPlaylistTypes.begin(), kPlaylistTypes.end(), type) != kPlaylistTypes.end())
    return AnswerKind::Playlist;
  if (type.starts_with("audio/") || type == "application/ogg") return AnswerKind::Audio;
  if (HasPlaylistExtension(url)) return AnswerKind::Playlist;
  if (type.empty() || type == "application/octet-stream") return AnswerKind::Audio;
  return AnswerKind::NotAudio;
}

}  // namespace pellora::cli
