#pragma once
// Where the audio of a tagged recording goes.
//
// A recording tagged when it starts holds an ID3v2 tag at its front and, at its end,
// an ID3v1 record and possibly a Lyrics3 block (the trailer). Audio written from the
// file's first byte would overwrite the ID3v2 tag, and audio appended after the
// trailer would bury the trailer inside the audio, where no reader looks for it and
// every player meets it as noise. So a tagged recording is laid out as: the ID3v2
// tag, the audio (old audio, when appending), and nothing after it; the trailer's
// items are all in the ID3v2 tag as well.
#include <cstdint>
#include <string_view>

namespace pellora::capture {

// The bytes of the file between its tags: [audio_begin, audio_end).
struct AudioExtent {
  std::int64_t audio_begin = 0;  // first byte after the ID3v2 tag (0 without one)
  std::int64_t audio_end = 0;    // first byte of the trailer (the file size without one)
};

// How many bytes to read from each end of a file for LocateAudio.
inline constexpr std::size_t kLayoutHeadBytes = 10;
inline constexpr std::size_t kLayoutTailBytes = 128 + 5100 + 20;

// `head`: the file's first bytes (up to kLayoutHeadBytes); `tail`: its last bytes
// (up to kLayoutTailBytes); `size`: its size. A tag whose size field points past the
// end of the file is clamped to the file; the extent is never negative.
AudioExtent LocateAudio(std::string_view head, std::string_view tail, std::int64_t size);

}  // namespace pellora::capture
