// The file rewrite behind UpdateID3Tags and DeleteID3Tags.
//
// The file is never left half-written by a failure that could be foreseen: the
// new content is first written completely to a temporary file and checked, and
// only then copied over the file itself. Should that copy fail midway (a device
// error), the complete temporary copy is kept. When the new tags have the sizes of
// the old ones, only the tag bytes that differ are written, in place.
//
// File offsets are 0-based here; an audio end is the offset just past the last
// audio byte.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

#include "hosting/file.h"
#include "tags/codecs.h"
#include "tags/id3.h"
#include "tags/id3v2_format.h"
#include "tags/tag_building.h"
#include "text/text.h"

namespace pellora::tags {
namespace {

constexpr std::int64_t kHeaderLength = 10;
constexpr std::int64_t kID3v1Length = 128;
constexpr std::int64_t kLyrics3v1Window = 5120;  // "LYRICSBEGIN", 5100 bytes, "LYRICSEND"
constexpr std::string_view kLyricsBegin = "LYRICSBEGIN";
constexpr std::size_t kCopyBuffer = 1 << 20;

// Reads exactly `count` bytes at `offset` (fewer only where the file ends); false
// on a read error, so that a failing device never passes for a short file.
bool ReadRange(const hosting::File& file, std::int64_t length, std::int64_t offset, std::int64_t count,
               std::string& out) {
  out.clear();
  if (offset < 0 || offset >= length || count <= 0) return true;
  std::error_code ec;
  out = file.ReadAt(offset, static_cast<std::size_t>(std::min(count, length - offset)), ec);
  return !ec;
}

// Where the old tags lie in the file.
struct OldLayout {
  std::int64_t length = 0;
  std::optional<std::string> id3v2_header;  // a valid ID3v2 header at the start
  std::string id3v2_body;                   // its declared bytes, as far as the file holds them
  std::int64_t audio_start = 0;
  std::int64_t audio_end = 0;
  std::string lyrics3v2_block;  // "LYRICSBEGIN" through the last field, when recognised
};

}  // namespace

// Finds the old tags of a file: the ID3v2 tag (and its footer) at the front, the
// ID3v1 record and a Lyrics3 block at the end.
class clsID3::TagLocator {
 public:
  TagLocator(const hosting::File& file, std::int64_t length) : file_(file) { layout_.length = length; }

  std::optional<OldLayout> Locate(bool read_body) && {
    if (!LocateID3v2(read_body)) return std::nullopt;
    layout_.audio_end = layout_.length;
    if (!LocateID3v1() || !LocateLyrics3()) return std::nullopt;
    return std::move(layout_);
  }

 private:
  bool Read(std::int64_t offset, std::int64_t count, std::string& out) const {
    return ReadRange(file_, layout_.length, offset, count, out);
  }

  bool LocateID3v2(bool read_body) {
    std::string header;
    if (!Read(0, kHeaderLength, header)) return false;
    if (!detail::IsID3v2Header(header)) return true;
    const auto flags = detail::ReadTagHeaderFlags(header);
    const auto size = static_cast<std::int64_t>(BytesToNumber(std::string_view(header).substr(6, 4), true));
    layout_.audio_start = kHeaderLength + size + (flags.footer ? 10 : 0);
    if (read_body && !flags.compressed && !Read(kHeaderLength, size, layout_.id3v2_body)) return false;
    layout_.id3v2_header = std::move(header);
    return true;
  }

  bool LocateID3v1() {
    if (layout_.length < kID3v1Length) return true;
    std::string marker;
    if (!Read(layout_.length - kID3v1Length, 3, marker)) return false;
    if (marker == "TAG") layout_.audio_end = layout_.length - kID3v1Length;
    return true;
  }

  bool LocateLyrics3() {
    std::int64_t& end = layout_.audio_end;
    std::string marker;
    if (end < 9 || !Read(end - 9, 9, marker)) return end < 9;
    if (marker == "LYRICS200") return LocateLyrics3v2();
    if (marker != "LYRICSEND") return true;
    // Lyrics3 v1: the last "LYRICSBEGIN" of the window before "LYRICSEND" opens the
    // block; the window never reaches back into the ID3v2 tag.
    const std::int64_t from = std::max({std::int64_t(0), layout_.audio_start, end - kLyrics3v1Window});
    std::string window;
    if (!Read(from, end - 9 - from, window)) return false;
    const auto begin = window.rfind(kLyricsBegin);
    if (begin != std::string::npos) end = from + std::int64_t(begin);
    return true;
  }

  // A block is recognised when its six size digits point, after the ID3v2 tag, at
  // "LYRICSBEGIN"; anything else stays part of the audio.
  bool LocateLyrics3v2() {
    std::int64_t& end = layout_.audio_end;
    std::string digits, block;
    if (end < 15 || !Read(end - 15, 6, digits)) return end < 15;
    if (digits.size() != 6 || !IsAllDigits(digits)) return true;
    const std::int64_t size = std::stoll(digits);
    const std::int64_t start = end - 15 - size;
    if (start < layout_.audio_start || start < 0) return true;
    if (!Read(start, size, block)) return false;
    if (!block.starts_with(kLyricsBegin)) return true;
    layout_.lyrics3v2_block = std::move(block);
    end = start;
    return true;
  }

  const hosting::File& file_;
  OldLayout layout_;
};

namespace {

// Copies `count` bytes from `source` at `from` to `target` at `to`: by the kernel
// where it can, through a large buffer otherwise.
bool CopyRange(const hosting::File& source, std::int64_t from, hosting::File& target, std::int64_t to,
               std::int64_t count) {
  bool kernel_copy = true;
  std::vector<char> buffer;
  while (count > 0) {
    if (kernel_copy) {
      loff_t in = from, out = to;
      const ssize_t n = ::copy_file_range(source.Descriptor(), &in, target.Descriptor(), &out,
                                          static_cast<std::size_t>(count), 0);
      if (n > 0) {
        from += n, to += n, count -= n;
        continue;
      }
      if (n == 0) return false;  // the source ended early
      if (errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return false;
      kernel_copy = false;
    }
    if (buffer.empty()) buffer.resize(kCopyBuffer);
    const std::size_t chunk = static_cast<std::size_t>(std::min<std::int64_t>(count, kCopyBuffer));
    std::error_code ec;
    const std::size_t got = source.ReadAt(from, std::span<char>(buffer.data(), chunk), ec);
    if (ec || got != chunk) return false;
    target.WriteAt(to, std::span<const char>(buffer.data(), chunk), ec);
    if (ec) return false;
    from += std::int64_t(chunk), to += std::int64_t(chunk), count -= std::int64_t(chunk);
  }
  return true;
}

// TEMP, else TMPDIR, else /tmp. A variable that is set names the folder to use,
// even when that folder is missing: then the update fails rather than write
// somewhere the user did not choose.
std::string TemporaryFolder() {
  for (const char* name : {"TEMP", "TMPDIR"})
    if (const char* value = std::getenv(name); value && *value) return value;
  return "/tmp";
}

// "mp3" + local date and time as yyyyMMddHHmmss, then "-" and a unique part.
std::string TemporaryPrefix() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y%m%d%H%M%S", &local);
  return std::string("mp3") + stamp + "-";
}

// Deletes the temporary file when the rewrite ends, unless it is kept.
class TemporaryFile {
 public:
  bool Create(std::error_code& ec) {
    file_ = hosting::File::CreateUnique(TemporaryFolder(), TemporaryPrefix(), ".mp3", path_, ec);
    return file_.IsOpen();
  }
  TemporaryFile() = default;
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  ~TemporaryFile() {
    file_.Close();
    if (!path_.empty() && !keep_) ::unlink(path_.c_str());
  }
  hosting::File& file() { return file_; }
  const std::string& path() const { return path_; }
  void Keep() { keep_ = true; }

 private:
  hosting::File file_;
  std::string path_;
  bool keep_ = false;
};

// The new content of the file: head, then the old audio range, then the tail.
struct NewContent {
  std::string head;
  std::int64_t audio_start = 0, audio_end = 0;
  std::string tail;
  std::int64_t Length() const { return std::int64_t(head.size()) + audio_end - audio_start + std::int64_t(tail.size()); }
};

// Writes `bytes` at `offset` where they differ from what the file holds there.
// On failure the old bytes are written back.
bool PatchInPlace(hosting::File& file, std::int64_t length, std::int64_t offset, const std::string& bytes) {
  std::string old;
  if (!ReadRange(file, length, offset, std::int64_t(bytes.size()), old) || old.size() != bytes.size()) return false;
  const auto first = std::mismatch(old.begin(), old.end(), bytes.begin()).first - old.begin();
  if (std::size_t(first) == old.size()) return true;
  const auto last = old.size() - (std::mismatch(old.rbegin(), old.rend(), bytes.rbegin()).first - old.rbegin());
  std::error_code ec;
  file.WriteAt(offset + first, std::string_view(bytes).substr(first, last - first), ec);
  if (!ec) return true;
  file.WriteAt(offset + first, std::string_view(old).substr(first, last - first), ec);
  return false;
}

// Patches the head and then the tail; when the tail fails, the head is put back
// as it was, so that the file is never left half old, half new.
bool PatchTagsInPlace(hosting::File& file, std::int64_t length, const std::string& head, std::int64_t tail_offset,
                      const std::string& tail) {
  std::string old_head;
  if (!ReadRange(file, length, 0, std::int64_t(head.size()), old_head) || !PatchInPlace(file, length, 0, head))
    return false;
  if (PatchInPlace(file, length, tail_offset, tail)) return true;
  PatchInPlace(file, length, 0, old_head);
  return false;
}

struct RewriteResult {
  clsID3::RewriteOutcome outcome = clsID3::RewriteOutcome::Unchanged;
  std::string kept_copy;
};

// Writes the new content completely to a temporary file, checks its length, and
// only then copies it over the file (created here when `file` is not open yet).
RewriteResult RewriteThroughTemporary(hosting::File& file, const std::string& path, const NewContent& content) {
  std::error_code ec;
  TemporaryFile temp;
  if (!temp.Create(ec)) return {};
  hosting::File& copy = temp.file();
  const auto head_length = std::int64_t(content.head.size());
  const std::int64_t audio_length = content.audio_end - content.audio_start;
  copy.WriteAt(0, content.head, ec);
  if (ec) return {};
  if (audio_length > 0 && !CopyRange(file, content.audio_start, copy, head_length, audio_length)) return {};
  copy.WriteAt(head_length + audio_length, content.tail, ec);
  if (ec || copy.Size(ec) != content.Length() || ec) return {};

  const bool create = !file.IsOpen();
  if (create) file = hosting::File::Open(path, hosting::OpenMode::ReadWrite, ec);
  if (!file.IsOpen()) return {};
  file.Reserve(content.Length(), ec);
  if (ec) {  // not enough space: nothing has been written yet
    if (create) ::unlink(path.c_str());
    return {};
  }
  // From here on the file changes; should the copy fail, the complete new content
  // stays in the temporary file.
  if (!CopyRange(copy, 0, file, 0, content.Length()) || (file.Truncate(content.Length(), ec), ec)) {
    temp.Keep();
    return {clsID3::RewriteOutcome::KeptCopy, temp.path()};
  }
  return {clsID3::RewriteOutcome::Rewritten, {}};
}

}  // namespace

void clsID3::UpdateID3Tags() { RewriteFile(/*keep_tags=*/true); }

void clsID3::DeleteID3Tags() {
  ClearTagRecord();
  RewriteFile(/*keep_tags=*/false);
}

std::optional<clsID3::AudioBounds> clsID3::LocateAudio() const {
  std::error_code ec;
  const hosting::File file = hosting::File::Open(text::Utf16ToUtf8(file_name_), hosting::OpenMode::Read, ec);
  if (ec) return std::nullopt;
  const std::int64_t length = file.Size(ec);
  if (ec) return std::nullopt;
  const auto layout = TagLocator(file, length).Locate(/*read_body=*/false);
  if (!layout) return std::nullopt;
  const std::int64_t begin = std::min(layout->audio_start, length);
  return AudioBounds{begin, std::max(layout->audio_end, begin)};
}

void clsID3::RewriteFile(bool keep_tags) {
  rewrite_outcome_ = RewriteOutcome::Unchanged;
  kept_copy_path_.clear();
  const std::string path = text::Utf16ToUtf8(file_name_);
  if (path.empty()) return;

  hosting::FileTimes times;
  const bool exists = hosting::GetFileTimes(path, times);
  if (!exists && !keep_tags) return;  // nothing to strip; no empty file is made up
  std::error_code ec;
  hosting::File file;
  std::int64_t length = 0;
  if (exists) {
    // Opened for writing at once: a file that cannot be written is found out before
    // anything is built, and only regular files are rewritten.
    file = hosting::File::Open(path, hosting::OpenMode::ReadWrite, ec);
    struct stat st {};
    if (ec || ::fstat(file.Descriptor(), &st) != 0 || !S_ISREG(st.st_mode)) return;
    length = st.st_size;
  }

  auto layout = TagLocator(file, length).Locate(keep_tags);
  if (!layout) return;
  NewContent content;
  content.audio_start = std::min(layout->audio_start, length);
  content.audio_end = std::max(layout->audio_end, content.audio_start);
  if (keep_tags) {
    auto tag = detail::BuildID3v2Tag(*this, layout->id3v2_header, layout->id3v2_body);
    content.head = std::move(tag.bytes);
    id3_revision_v2_ = tag.revision;
    tag_unsynchronised_ = false;
    content.tail = detail::BuildTrailer(*this, layout->lyrics3v2_block);
  } else if (layout->id3v2_header) {
    id3_revision_v2_ = static_cast<std::uint8_t>((*layout->id3v2_header)[3]);
    tag_unsynchronised_ = detail::ReadTagHeaderFlags(*layout->id3v2_header).unsynchronised;
  }

  const bool same_sizes = exists && layout->audio_start <= length &&
                          std::int64_t(content.head.size()) == layout->audio_start &&
                          std::int64_t(content.tail.size()) == length - layout->audio_end;
  if (same_sizes && PatchTagsInPlace(file, length, content.head, layout->audio_end, content.tail)) {
    rewrite_outcome_ = RewriteOutcome::Rewritten;
  } else {
    // Also the fallback of a failed patch, which has put the old bytes back.
    const RewriteResult result = RewriteThroughTemporary(file, path, content);
    rewrite_outcome_ = result.outcome;
    kept_copy_path_ = result.kept_copy;
  }
  file.Close();
  if (exists && rewrite_outcome_ == RewriteOutcome::Rewritten) hosting::SetFileTimes(path, times);
}

}  // namespace pellora::tags
