// SPDX-License-Identifier: MIT
#include "cli/icy_stream.h"

#include <algorithm>

namespace pellora::cli {
namespace {

constexpr std::size_t kMaxBlockBytes = 255 * 16;

}  // namespace

std::string IcyMetadataBlock(const std::string& title, const std::string& url) {
  const std::string head = "StreamTitle='";
  const std::string tail = "';StreamUrl='" + url + "';";
  const std::size_t room = kMaxBlockBytes > head.size() + tail.size() ? kMaxBlockBytes - head.size() - tail.size() : 0;
  std::string text = head + title.substr(0, room) + tail;
  text.resize(std::min(text.size(), kMaxBlockBytes));
  const std::size_t units = (text.size() + 15) / 16;
  text.resize(units * 16, '\0');
  return char(units) + text;
}

IcyStream::IcyStream(const IcyStreamSettings& settings)
    : settings_(settings),
      audio_(settings.bit_rate_kbps),
      bytes_per_title_(std::max<std::uint64_t>(
          1, std::uint64_t(settings.title_seconds * double(audio_.frames().bytes_per_second())))) {}

const std::string& IcyStream::CurrentTitle() const {
  static const std::string none;
  if (settings_.titles.empty()) return none;
  return settings_.titles[audio_.position() / bytes_per_title_ % settings_.titles.size()];
}

void IcyStream::Produce(std::size_t audio_bytes, std::string& out) {
  if (settings_.metaint == 0) {
    audio_.Read(audio_bytes, out);
    return;
  }
  while (audio_bytes > 0) {
    const std::size_t take = std::min<std::size_t>(audio_bytes, settings_.metaint - audio_since_block_);
    audio_.Read(take, out);
    audio_bytes -= take;
    audio_since_block_ += std::uint32_t(take);
    if (audio_since_block_ == settings_.metaint) {
      AppendMetadata(out);
      audio_since_block_ = 0;
    }
  }
}

void IcyStream::AppendMetadata(std::string& out) {
  const std::string& title = CurrentTitle();
  if (sent_any_block_ && title == last_title_sent_) {
    out.push_back('\0');
    return;
  }
  out += IcyMetadataBlock(title, settings_.title_url);
  last_title_sent_ = title;
  sent_any_block_ = true;
}

}  // namespace pellora::cli
