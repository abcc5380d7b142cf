// SPDX-License-Identifier: MIT
// Feeds arbitrary bytes, as the content of a file, to the whole scan of the tag
// store (tags, first audio frame, Xing/Info/VBRI headers), reads every MPEG
// property, and checks what must hold of any file:
//  - the frame found lies between the tags and has a plausible header;
//  - the frame search gives the same result however the audio is split into
//    windows (the first input byte picks a window length).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <span>
#include <stdexcept>

#include "fuzz/memory_file.h"
#include "tags/frame_search.h"
#include "tags/id3.h"

namespace {

using pellora::tags::mpeg::FrameSearch;

void Check(bool holds) {
  if (!holds) std::abort();
}

void ReadEveryMpegProperty(const pellora::tags::clsID3& id3) {
  volatile double sink = id3.BitRate() + id3.length() + id3.Layer() + id3.MPEGVersion() + id3.ChannelMode() +
                         id3.Padding() + id3.Encoding() + id3.SamplingRateFrequency() + id3.FrameSamples();
  try {
    sink = id3.FrameSize();
  } catch (const std::domain_error&) {
    Check(id3.IsVbr() && id3.VbrFrames() == 0);  // the only failure it may report
  }
  static_cast<void>(sink);
}

void CheckScan(const pellora::tags::clsID3& id3, std::size_t size) {
  Check(id3.AudioStart() == 0 || (id3.AudioStart() >= 5 && id3.AudioStart() <= std::int64_t(size) + 1));
  if (id3.AudioStart() > 0) Check(pellora::tags::mpeg::IsPlausible(id3.FrameHeader()));
  Check(id3.VbrToc().empty() || id3.VbrToc().size() == 100);
}

std::optional<std::int64_t> SearchInWindows(std::span<const std::uint8_t> audio, std::size_t window) {
  FrameSearch search(0, std::int64_t(audio.size()));
  while (!search.Done()) {
    const auto at = std::size_t(search.NextOffset());
    search.Feed(audio.subspan(at, std::min<std::size_t>(window, audio.size() - at)));
  }
  if (!search.Found()) return std::nullopt;
  return search.Found()->sync;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static pellora::fuzz::MemoryFile file("fuzz_scan");
  file.Replace(data, size);
  pellora::tags::clsID3 id3;
  id3.FileName(file.Path());
  CheckScan(id3, size);
  ReadEveryMpegProperty(id3);

  if (size > 1) {
    const std::span<const std::uint8_t> audio(data + 1, size - 1);
    const std::size_t window = 4 + data[0] % 64;
    Check(SearchInWindows(audio, window) == SearchInWindows(audio, audio.size()));
  }
  return 0;
}
