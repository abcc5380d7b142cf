// SPDX-License-Identifier: MIT
#pragma once
// What the demo station sends one listener after the response header: the silent
// MPEG audio, with an ICY metadata block after every `metaint` audio bytes when the
// listener asked for metadata. The title follows the audio's position: it changes
// every `title_seconds` seconds of audio, cycling through the titles. A block holds
// the title only when it differs from the last one sent to this listener; otherwise
// the block is the single length byte 0, as Shoutcast-style servers do.
#include <cstdint>
#include <string>
#include <vector>

#include "cli/silent_frames.h"

namespace pellora::cli {

// The metadata block for `title` and `url`: a length byte N and N * 16 bytes of
// "StreamTitle='…';StreamUrl='…';" padded with NUL bytes. A title too long for the
// largest block (255 * 16 bytes) is cut.
std::string IcyMetadataBlock(const std::string& title, const std::string& url);

struct IcyStreamSettings {
  int bit_rate_kbps = 128;
  std::uint32_t metaint = 8192;   // 0: no metadata
  std::vector<std::string> titles;
  double title_seconds = 4;
  std::string title_url;          // the StreamUrl field of every block
};

class IcyStream {
 public:
  explicit IcyStream(const IcyStreamSettings& settings);

  // Appends the stream bytes that carry the next `audio_bytes` audio bytes to `out`,
  // with every metadata block due among them.
  void Produce(std::size_t audio_bytes, std::string& out);
  // Audio bytes produced so far.
  std::uint64_t audio_position() const { return audio_.position(); }
  // The title playing at the current audio position (empty without titles).
  const std::string& CurrentTitle() const;

 private:
  void AppendMetadata(std::string& out);

  const IcyStreamSettings& settings_;
  SilentAudioStream audio_;
  std::uint64_t bytes_per_title_;
  std::uint32_t audio_since_block_ = 0;
  std::string last_title_sent_;
  bool sent_any_block_ = false;
};

}  // namespace pellora::cli
