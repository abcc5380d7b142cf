// SPDX-License-Identifier: MIT
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>

#include "hosting/file.h"
#include "tags/frame_search.h"
#include "tags/file_reader.h"
#include "tags/id3.h"
#include "tags/rewrite_journal.h"
#include "tags/tag_locator.h"
#include "tags/vbr_header.h"
#include "text/text.h"

namespace pellora::tags {
namespace {

// The audio is searched in windows that start small, since the first frame
// usually follows the tag at once, and grow up to a bound that keeps memory flat.
constexpr std::int64_t kFirstWindow = 2048;
constexpr std::int64_t kLargestWindow = 256 * 1024;
constexpr std::int64_t kHeadPrefetch = 8 * 1024;
constexpr std::int64_t kTailPrefetch = 2 * 1024;

struct AudioAnalysis {
  std::optional<mpeg::FrameCandidate> frame;  // the first accepted frame
  std::optional<mpeg::FrameCandidate> last;   // the last candidate examined
  // Read from the accepted frame only: a rejected candidate, or the ID3v1 record
  // when there was none, holds no VBR header of the stream.
  mpeg::VbrHeaders vbr;
};

std::span<const std::uint8_t> AsBytes(std::string_view bytes) {
  return {reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()};
}

// The bytes after the accepted frame's 0xFF that may hold its VBR headers, taken
// from the last window when it holds them.
std::string VbrHeaderBytes(const FileReader& file, std::int64_t sync, std::int64_t audio_end,
                           std::int64_t window_start, std::string_view window) {
  const std::int64_t first = sync + 1;
  const std::int64_t count = std::min<std::int64_t>(std::int64_t(mpeg::kVbrHeaderSpan), audio_end - first);
  if (first + count <= window_start + std::int64_t(window.size()))
    return std::string(window.substr(std::size_t(first - window_start), std::size_t(count)));
  return file.ReadUpTo(first, count);
}

// Finds the first frame in [start, audio_end) and reads its VBR headers.
AudioAnalysis AnalyseAudio(const FileReader& file, std::int64_t start, std::int64_t audio_end) {
  AudioAnalysis result;
  mpeg::FrameSearch search(start, audio_end);
  std::int64_t window_length = kFirstWindow;
  std::int64_t window_start = start;
  std::string window;
  while (!search.Done()) {
    window_start = search.NextOffset();
    window = file.ReadUpTo(window_start, std::min(window_length, search.Remaining()));
    if (window.empty()) break;  // the file is shorter than it was
    search.Feed(AsBytes(window));
    window_length = std::min(window_length * 4, kLargestWindow);
  }
  result.frame = search.Found();
  result.last = search.LastCandidate();
  if (result.frame) {
    const std::string after_sync = VbrHeaderBytes(file, result.frame->sync, audio_end, window_start, window);
    result.vbr = mpeg::ReadVbrHeaders(AsBytes(after_sync), result.frame->header);
  }
  return result;
}

// Opens `path` for the scan with one open and one fstat: only a regular file is
// scanned. The open does not wait (a FIFO would otherwise block it until a writer
// came); a FIFO, a directory or a device is refused after the fstat, which also
// gives the file's length and identity.
hosting::File OpenForScan(const std::string& path, struct stat& st, std::error_code& ec) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    ec = std::error_code(errno, std::generic_category());
    return {};
  }
  hosting::File file = hosting::File::Adopt(fd);
  if (::fstat(fd, &st) != 0) {
    ec = std::error_code(errno, std::generic_category());
    return {};
  }
  if (!S_ISREG(st.st_mode)) {
    ec = std::make_error_code(S_ISDIR(st.st_mode) ? std::errc::is_a_directory : std::errc::not_supported);
    return {};
  }
  ec.clear();
  return file;
}

// Opens the file for the scan, after finishing a rewrite that an earlier process
// left half done (or removing its unused replacement). The journal is looked for
// by the open file's identity, so a file that was never rewritten costs one
// lookup for the replacement and one for the journal beside its open and fstat.
hosting::File OpenWhole(const std::string& path, struct stat& st, bool& rolled_forward, std::error_code& ec) {
  RemoveAbandonedReplacement(path);
  hosting::File file = OpenForScan(path, st, ec);
  if (!file.IsOpen()) return file;
  const std::string folder = TemporaryFolder();
  if (!JournalExists(folder, st.st_dev, st.st_ino)) return file;
  file = {};
  rolled_forward |= RollForward(folder, path);
  return OpenForScan(path, st, ec);
}

}  // namespace

// Reads the tags in the order of the file's layout: the ID3v2 tag at the start,
// then the ID3v1 record at the end, the Lyrics3 block before it, and the ID3v1
// items, which fill only what the other two left empty. Last comes the first
// audio frame between the tags. The file is open only for the scan.
void clsID3::ReadTags() {
  ResetForScan();
  // Only a regular file is scanned: a directory or device holds no tags. Anything
  // else counts as a file that cannot be opened.
  const std::string path = text::Utf16ToPath(file_name_);
  struct stat st {};
  const auto file = OpenWhole(path, st, rolled_forward_, scan_error_);
  if (!file.IsOpen()) {
    id3_revision_v2_ = 3;
    return;
  }
  FileReader reader(file, st.st_size);
  // The tags and the first frame usually lie in the first and last few KiB.
  reader.Prefetch(0, kHeadPrefetch);
  reader.Prefetch(std::max<std::int64_t>(0, reader.Length() - kTailPrefetch), kTailPrefetch);
  const std::int64_t audio_search_start = ReadID3v2(reader);
  const TagLayout layout = TagLocator(reader).Locate(/*read_body=*/false);
  id3v1_exists_ = layout.id3v1;
  const std::int64_t audio_end = ReadLyrics3(layout);
  if (layout.id3v1) ReadID3v1Fields(reader.ReadUpTo(layout.length - 128, 128));
  const AudioAnalysis audio = AnalyseAudio(reader, audio_search_start, audio_end);

  // Positions are 1-based: AudioStart is the first byte after the frame's header.
  if (audio.last) frame_header_ = audio.last->header;
  audio_start_ = audio.frame ? audio.frame->sync + 5 : 0;
  // A VBR header cannot describe more than the audio it stands in: a VBRI table
  // whose entry count and size claim gigabytes leaves nothing, not a negative size.
  audio_size_ = std::max<std::int64_t>(0, audio_end - audio_start_ - audio.vbr.length);
  is_vbr_ = audio.vbr.is_vbr;
  vbr_frames_ = audio.vbr.frames;
  vbr_bytes_ = audio.vbr.bytes;
  vbr_toc_ = audio.vbr.toc;
  vbr_quality_ = audio.vbr.quality;
  vbri_toc_entries_ = audio.vbr.vbri_toc_entries;
  vbri_toc_entry_size_ = audio.vbr.vbri_toc_entry_size;
}

}  // namespace pellora::tags
