#include "capture/tagged_layout.h"

#include <algorithm>
#include <cctype>
#include <string>

namespace pellora::capture {
namespace {

constexpr std::int64_t kId3v1Size = 128;
constexpr std::string_view kLyricsBegin = "LYRICSBEGIN";
constexpr std::string_view kLyrics3v1End = "LYRICSEND";
constexpr std::string_view kLyrics3v2End = "LYRICS200";
constexpr std::size_t kLyrics3v2SizeDigits = 6;
constexpr std::size_t kLyrics3v1MaxSize = 5100 + 11 + 9;

std::int64_t Id3v2Size(std::string_view head) {
  if (head.size() < 10 || head.substr(0, 3) != "ID3") return 0;
  std::int64_t size = 0;
  for (int i = 6; i < 10; ++i) {
    const auto byte = static_cast<unsigned char>(head[i]);
    if (byte & 0x80) return 0;  // not a synchsafe size: not a tag
    size = size << 7 | byte;
  }
  const bool footer = static_cast<unsigned char>(head[5]) & 0x10;
  return 10 + size + (footer ? 10 : 0);
}

bool EndsWith(std::string_view text, std::string_view end) {
  return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

// The size of a Lyrics3 block that ends exactly where `before` ends; 0 without one.
std::size_t Lyrics3Size(std::string_view before) {
  if (EndsWith(before, kLyrics3v2End) && before.size() >= kLyrics3v2End.size() + kLyrics3v2SizeDigits) {
    const auto digits = before.substr(before.size() - kLyrics3v2End.size() - kLyrics3v2SizeDigits, kLyrics3v2SizeDigits);
    if (!std::all_of(digits.begin(), digits.end(), [](unsigned char c) { return std::isdigit(c); })) return 0;
    const std::size_t size = std::stoul(std::string(digits)) + kLyrics3v2SizeDigits + kLyrics3v2End.size();
    if (size > before.size() || before.substr(before.size() - size, kLyricsBegin.size()) != kLyricsBegin) return 0;
    return size;
  }
  if (EndsWith(before, kLyrics3v1End)) {
    const auto window = before.substr(before.size() - std::min(before.size(), kLyrics3v1MaxSize));
    const auto begin = window.rfind(kLyricsBegin);
    return begin == std::string_view::npos ? 0 : window.size() - begin;
  }
  return 0;
}

}  // namespace

AudioExtent LocateAudio(std::string_view head, std::string_view tail, std::int64_t size) {
  AudioExtent extent;
  size = std::max<std::int64_t>(size, 0);
  extent.audio_begin = std::min(Id3v2Size(head), size);
  std::int64_t trailer = 0;
  if (tail.size() >= std::size_t(kId3v1Size) && tail.substr(tail.size() - kId3v1Size, 3) == "TAG") {
    trailer = kId3v1Size;
    trailer += std::int64_t(Lyrics3Size(tail.substr(0, tail.size() - kId3v1Size)));
  }
  extent.audio_end = std::max(extent.audio_begin, size - trailer);
  return extent;
}

}  // namespace pellora::capture
