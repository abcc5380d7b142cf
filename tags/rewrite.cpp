// SPDX-License-Identifier: MIT
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
#include <random>
#include <utility>
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
#include "tags/rewrite_journal.h"
#include "tags/tag_locator.h"
#include "text/text.h"

namespace pellora::tags {
namespace {

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

// "mp3" + local date and time as yyyyMMddHHmmss, then "-" and a unique part.
std::string TemporaryPrefix() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y%m%d%H%M%S", &local);
  return std::string("mp3") + stamp + "-";
}

// A temporary file that is removed when the rewrite ends, unless its name is given
// away. Where the file system allows it, the file has no name while it is written,
// so that a process killed meanwhile leaves nothing behind; it is named when it is
// complete. Otherwise it is named at once and removed on SIGINT, SIGTERM and SIGHUP.
class TemporaryFile {
 public:
  TemporaryFile() = default;
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  ~TemporaryFile() {
    file_.Close();
    if (path_.empty()) return;
    ::unlink(path_.c_str());
    hosting::UnregisterTemporary(path_);
  }

  // In `folder`; its name will be `prefix`, a unique part and ".mp3".
  bool Create(const std::string& folder, const std::string& prefix, std::error_code& ec) {
    folder_ = folder;
    prefix_ = prefix;
    file_ = hosting::File::CreateAnonymous(folder, ec);
    if (file_.IsOpen()) return true;
    if (ec != std::errc::operation_not_supported && ec != std::errc::is_a_directory &&
        ec != std::errc::invalid_argument)
      return false;
    file_ = hosting::File::CreateUnique(folder, prefix, ".mp3", path_, ec);
    if (file_.IsOpen()) hosting::RegisterTemporary(path_);
    return file_.IsOpen();
  }

  // Beside the file it will replace, to be named `name` (ReplacementPathOf), and
  // locked, so that a later process can tell a replacement left by a killed
  // rewrite from one a live rewrite is writing.
  bool CreateReplacement(const std::string& folder, const std::string& name, std::error_code& ec) {
    folder_ = folder;
    exact_name_ = name;
    file_ = hosting::File::CreateAnonymous(folder, ec);
    if (!file_.IsOpen()) {
      if (ec != std::errc::operation_not_supported && ec != std::errc::is_a_directory &&
          ec != std::errc::invalid_argument)
        return false;
      file_ = hosting::File::CreateExclusive(name, ec);
      if (!file_.IsOpen()) return false;
      path_ = name;
      hosting::RegisterTemporary(path_);
    }
    return file_.TryLockExclusive();
  }

  // Gives the complete file its name. `before_naming`, when given, is called with
  // the chosen name first (and again should that name be taken meanwhile).
  template <typename BeforeNaming>
  bool Name(std::error_code& ec, BeforeNaming before_naming) {
    if (!path_.empty()) return before_naming(path_);
    if (!exact_name_.empty()) {
      if (!before_naming(exact_name_)) return false;
      file_.LinkAs(exact_name_, ec);
      if (ec) return false;
      path_ = exact_name_;
      hosting::RegisterTemporary(path_);
      return true;
    }
    std::random_device random;
    for (int attempt = 0; attempt < 16; ++attempt) {
      char unique[16];
      std::snprintf(unique, sizeof unique, "%08x", unsigned(random()));
      std::string candidate = folder_ + (folder_.ends_with('/') ? "" : "/") + prefix_ + unique + ".mp3";
      if (!before_naming(candidate)) return false;
      file_.LinkAs(candidate, ec);
      if (!ec) {
        path_ = std::move(candidate);
        hosting::RegisterTemporary(path_);
        return true;
      }
      if (ec != std::errc::file_exists) return false;
    }
    return false;
  }
  bool Name(std::error_code& ec) {
    return Name(ec, [](const std::string&) { return true; });
  }

  // The named file is no longer removed: its name now belongs to the caller.
  std::string Release() {
    hosting::UnregisterTemporary(path_);
    return std::exchange(path_, std::string());
  }

  hosting::File& file() { return file_; }
  const std::string& path() const { return path_; }

 private:
  hosting::File file_;
  std::string folder_, prefix_, exact_name_, path_;
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

// Makes `tail` the end of the file from `offset` on.
bool WriteTail(hosting::File& file, std::int64_t offset, const std::string& tail) {
  std::error_code ec;
  file.WriteAt(offset, tail, ec);
  if (!ec) file.Truncate(offset + std::int64_t(tail.size()), ec);
  return !ec;
}

// Rewrites the tags where they stand, when the new ID3v2 tag has the old one's
// size: the audio stays put, and the trailer after it may change its size. Each
// tag is written with one write of the bytes that differ; on a failure the old
// bytes are put back.
bool PatchTagsInPlace(hosting::File& file, std::int64_t length, const std::string& head, std::int64_t tail_offset,
                      const std::string& tail) {
  std::string old_tail;
  if (!ReadRange(file, length, tail_offset, length - tail_offset, old_tail)) return false;
  const std::int64_t new_length = tail_offset + std::int64_t(tail.size());
  std::error_code ec;
  if (new_length > length) file.Reserve(new_length, ec);
  if (ec) return false;
  const bool tail_written =
      tail.size() == old_tail.size() ? PatchInPlace(file, length, tail_offset, tail) : WriteTail(file, tail_offset, tail);
  if (tail_written && PatchInPlace(file, new_length, 0, head)) return true;
  WriteTail(file, tail_offset, old_tail);
  return false;
}

struct RewriteResult {
  clsID3::RewriteOutcome outcome = clsID3::RewriteOutcome::Unchanged;
  std::string kept_copy;
};

// Writes the whole new content into `target`, checks its length and flushes it.
bool WriteContent(const hosting::File& source, hosting::File& target, const NewContent& content) {
  std::error_code ec;
  const auto head_length = std::int64_t(content.head.size());
  const std::int64_t audio_length = content.audio_end - content.audio_start;
  target.WriteAt(0, content.head, ec);
  if (ec) return false;
  if (audio_length > 0 && !CopyRange(source, content.audio_start, target, head_length, audio_length)) return false;
  target.WriteAt(head_length + audio_length, content.tail, ec);
  if (ec || target.Size(ec) != content.Length() || ec) return false;
  target.Sync(ec);
  return !ec;
}

std::string FolderOf(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

enum class ReplaceResult { Replaced, Unchanged, NotHere };

// Writes the new file beside the old one, gives it the old one's owner, mode,
// extended attributes and times, flushes it and renames it over the old one:
// whatever kills the process or the machine, the name holds the old content or the
// new, never a mix. NotHere when the file cannot be replaced that way (its folder
// is not writable, its owner cannot be kept); nothing has changed then.
ReplaceResult ReplaceByRename(const hosting::File& file, const std::string& path, const hosting::FileTimes& times,
                              const NewContent& content) {
  char* resolved = ::realpath(path.c_str(), nullptr);  // a symbolic link keeps pointing at the file
  if (!resolved) return ReplaceResult::NotHere;
  const std::string target = resolved;
  std::free(resolved);
  const std::string folder = FolderOf(target);
  std::error_code ec;
  RemoveAbandonedReplacement(target);
  TemporaryFile temp;
  if (!temp.CreateReplacement(folder, ReplacementPathOf(target), ec) ||
      !hosting::CopyOwnerModeAndAttributes(file, temp.file()))
    return ReplaceResult::NotHere;
  if (!WriteContent(file, temp.file(), content) || !hosting::SetFileTimes(temp.file(), times) || !temp.Name(ec))
    return ReplaceResult::Unchanged;
  if (::rename(temp.path().c_str(), target.c_str()) != 0) return ReplaceResult::NotHere;
  temp.Release();
  hosting::SyncFolder(folder, ec);
  return ReplaceResult::Replaced;
}

// Writes the new content completely to a temporary file, names it in a journal,
// reserves the room the file needs, and only then copies it over the file (created
// here when `file` is not open yet). Should the process die while copying, the
// next one rolls the copy forward from the journal.
RewriteResult RewriteThroughTemporary(hosting::File& file, const std::string& path, const NewContent& content) {
  std::error_code ec;
  TemporaryFile temp;
  const std::string folder = TemporaryFolder();
  if (!temp.Create(folder, TemporaryPrefix(), ec) || !WriteContent(file, temp.file(), content)) return {};

  const bool create = !file.IsOpen();
  if (create) file = hosting::File::Open(path, hosting::OpenMode::ReadWrite, ec);
  const auto journal_path = file.IsOpen() ? JournalPathOf(folder, path) : std::nullopt;
  // The journal comes first and the copy's name second, so that no complete copy
  // is ever named by nothing; a journal whose copy is missing is stale.
  const auto write_journal = [&](const std::string& copy_path) {
    return WriteJournal(*journal_path, {path, copy_path, content.Length()});
  };
  if (!journal_path || !temp.Name(ec, write_journal)) {
    if (journal_path) ::unlink(journal_path->c_str());
    if (create && file.IsOpen()) ::unlink(path.c_str());
    return {};
  }
  const std::string copy_path = temp.Release();  // the journal holds it now
  hosting::File& copy = temp.file();
  file.Reserve(content.Length(), ec);
  if (ec) {  // not enough space: nothing of the file has been overwritten
    ::unlink(copy_path.c_str());
    ::unlink(journal_path->c_str());
    if (create) ::unlink(path.c_str());
    return {};
  }
  // From here on the file changes; should the copy fail, the complete new content
  // stays in the copy that the journal names.
  if (!CopyRange(copy, 0, file, 0, content.Length()) || (file.Truncate(content.Length(), ec), ec) ||
      (file.Sync(ec), ec))
    return {clsID3::RewriteOutcome::KeptCopy, copy_path};
  ::unlink(copy_path.c_str());
  ::unlink(journal_path->c_str());
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
  const hosting::File file = hosting::File::Open(text::Utf16ToPath(file_name_), hosting::OpenMode::Read, ec);
  if (ec) return std::nullopt;
  const FileReader reader(file);
  const TagLayout layout = TagLocator(reader).Locate(/*read_body=*/false);
  if (reader.Failed()) return std::nullopt;
  const std::int64_t begin = std::min(layout.id3v2_end, layout.length);
  return AudioBounds{begin, std::max(layout.AudioEnd(), begin)};
}

void clsID3::RewriteFile(bool keep_tags) {
  rewrite_outcome_ = RewriteOutcome::Unchanged;
  kept_copy_path_.clear();
  const std::string path = text::Utf16ToPath(file_name_);
  if (path.empty()) return;

  rolled_forward_ |= RollForward(TemporaryFolder(), path);
  hosting::FileTimes times;
  const bool exists = hosting::GetFileTimes(path, times);
  if (!exists && !keep_tags) return;  // nothing to strip; no empty file is made up
  std::error_code ec;
  hosting::File file;
  std::int64_t length = 0;
  // Only regular files are rewritten; opening a FIFO would block.
  if (exists && !hosting::IsRegularFile(path)) return;
  if (exists) {
    // Opened for writing at once: a file that cannot be written is found out before
    // anything is built, and only regular files are rewritten.
    file = hosting::File::Open(path, hosting::OpenMode::ReadWrite, ec);
    struct stat st {};
    if (ec || ::fstat(file.Descriptor(), &st) != 0 || !S_ISREG(st.st_mode)) return;
    length = st.st_size;
  }

  const FileReader reader(file);
  const TagLayout layout = TagLocator(reader).Locate(keep_tags);
  if (reader.Failed()) return;
  // The audio of such a file lies inside the tag's claimed extent: cutting the tag
  // off as it claims would leave nothing of it.
  if (layout.id3v2_header && layout.id3v2_end > length) {
    rewrite_outcome_ = RewriteOutcome::DamagedTag;
    return;
  }
  NewContent content;
  content.audio_start = std::min(layout.id3v2_end, length);
  content.audio_end = std::max(layout.AudioEnd(), content.audio_start);
  if (keep_tags) {
    const bool version2 = layout.lyrics3_marker == TagLayout::Lyrics3Marker::Version2;
    std::optional<std::size_t> fill_tag_to;
    if (absorb_padding_ && layout.id3v2_header && layout.id3v2_end <= length)
      fill_tag_to = std::size_t(layout.id3v2_end);
    auto tag = detail::BuildID3v2Tag(*this, layout.id3v2_header, layout.id3v2_body, fill_tag_to);
    if (tag.bytes.empty()) {
      rewrite_outcome_ = RewriteOutcome::TagTooLarge;
      return;
    }
    content.head = std::move(tag.bytes);
    id3_revision_v2_ = tag.revision;
    tag_unsynchronised_ = false;
    content.tail = detail::BuildTrailer(*this, version2 ? std::string_view(layout.lyrics3_block) : std::string_view());
  } else if (layout.id3v2_header) {
    id3_revision_v2_ = static_cast<std::uint8_t>((*layout.id3v2_header)[3]);
    tag_unsynchronised_ = detail::ReadTagHeaderFlags(*layout.id3v2_header).unsynchronised;
  }

  const bool same_head_size = exists && layout.id3v2_end <= length &&
                              std::int64_t(content.head.size()) == layout.id3v2_end;
  if (same_head_size && PatchTagsInPlace(file, length, content.head, content.audio_end, content.tail)) {
    rewrite_outcome_ = RewriteOutcome::Rewritten;
  } else {
    // Also the fallback of a failed patch, which has put the old bytes back.
    struct stat st {};
    const bool single_link = exists && ::fstat(file.Descriptor(), &st) == 0 && st.st_nlink == 1;
    const ReplaceResult replaced =
        single_link ? ReplaceByRename(file, path, times, content) : ReplaceResult::NotHere;
    if (replaced == ReplaceResult::Replaced) {
      rewrite_outcome_ = RewriteOutcome::Rewritten;
      return;  // the new file already carries the old times
    }
    if (replaced == ReplaceResult::NotHere) {
      const RewriteResult result = RewriteThroughTemporary(file, path, content);
      rewrite_outcome_ = result.outcome;
      kept_copy_path_ = result.kept_copy;
    }
  }
  file.Close();
  if (exists && rewrite_outcome_ == RewriteOutcome::Rewritten) hosting::SetFileTimes(path, times);
}

}  // namespace pellora::tags
