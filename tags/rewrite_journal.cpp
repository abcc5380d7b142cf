// SPDX-License-Identifier: MIT
#include "tags/rewrite_journal.h"

#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <cstdlib>

#include "hosting/file.h"

namespace pellora::tags {
namespace {

constexpr std::string_view kMagic = "pellora rewrite journal 1\n";
constexpr std::int64_t kLargestJournal = 3 * 4096 + 256;

// A field as its length, a colon, its bytes and a newline: paths may hold any byte.
void PutField(std::string& out, std::string_view value) {
  out += std::to_string(value.size());
  out += ':';
  out += value;
  out += '\n';
}

std::optional<std::string> TakeField(std::string_view& in) {
  const auto colon = in.find(':');
  std::size_t length = 0;
  if (colon == std::string_view::npos ||
      std::from_chars(in.data(), in.data() + colon, length).ptr != in.data() + colon ||
      in.size() - colon - 1 < length + 1 || in[colon + 1 + length] != '\n')
    return std::nullopt;
  std::string value(in.substr(colon + 1, length));
  in.remove_prefix(colon + 2 + length);
  return value;
}

std::string Folder(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

std::string TemporaryFolder() {
  for (const char* name : {"TEMP", "TMPDIR"})
    if (const char* value = std::getenv(name); value && *value) return value;
  return "/tmp";
}

std::optional<std::string> JournalPathOf(const std::string& folder, const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return JournalPathFor(folder, st.st_dev, st.st_ino);
}

std::string JournalPathFor(const std::string& folder, std::uint64_t device, std::uint64_t inode) {
  std::string name = folder;
  if (!name.empty() && name.back() != '/') name += '/';
  return name + "pellora-journal-" + std::to_string(device) + "-" + std::to_string(inode);
}

bool JournalExists(const std::string& folder, std::uint64_t device, std::uint64_t inode) {
  return ::access(JournalPathFor(folder, device, inode).c_str(), F_OK) == 0;
}

bool WriteJournal(const std::string& journal_path, const RewriteJournal& journal) {
  std::string bytes(kMagic);
  PutField(bytes, journal.file);
  PutField(bytes, journal.copy);
  PutField(bytes, std::to_string(journal.length));
  const std::string next = journal_path + ".new";
  std::error_code ec;
  // Locked while it is written and renamed: a reader that finds it locked leaves
  // it alone (see RemoveAbandonedJournal).
  hosting::File file = hosting::File::Open(next, hosting::OpenMode::ReadWrite, ec);
  if (!ec && !file.TryLockExclusive()) ec = std::make_error_code(std::errc::resource_unavailable_try_again);
  if (!ec) file.Truncate(0, ec);
  if (!ec) file.Write(bytes, ec);
  if (!ec) file.Sync(ec);
  if (ec || ::rename(next.c_str(), journal_path.c_str()) != 0) {
    if (file.IsOpen() && file.TryLockExclusive()) ::unlink(next.c_str());
    return false;
  }
  file.Close(ec);
  hosting::SyncFolder(Folder(journal_path), ec);
  return !ec;
}

std::optional<RewriteJournal> ReadJournal(const std::string& journal_path) {
  std::error_code ec;
  const hosting::File file = hosting::File::Open(journal_path, hosting::OpenMode::Read, ec);
  if (ec) return std::nullopt;
  const std::string bytes = file.ReadAt(0, std::size_t(kLargestJournal), ec);
  std::string_view in = bytes;
  if (ec || !in.starts_with(kMagic)) return std::nullopt;
  in.remove_prefix(kMagic.size());
  RewriteJournal journal;
  const auto file_name = TakeField(in), copy = TakeField(in), length = TakeField(in);
  if (!file_name || !copy || !length || !in.empty()) return std::nullopt;
  const auto parsed = std::from_chars(length->data(), length->data() + length->size(), journal.length);
  if (parsed.ptr != length->data() + length->size() || journal.length < 0) return std::nullopt;
  journal.file = *file_name;
  journal.copy = *copy;
  return journal;
}

std::string ReplacementPathOf(const std::string& path) {
  const auto slash = path.rfind('/');
  const std::size_t name_at = slash == std::string::npos ? 0 : slash + 1;
  return path.substr(0, name_at) + "." + path.substr(name_at) + ".pellora-new.mp3";
}

void RemoveAbandonedReplacement(const std::string& path) {
  const std::string replacement = ReplacementPathOf(path);
  std::error_code ec;
  const hosting::File file = hosting::File::Open(replacement, hosting::OpenMode::Read, ec);
  // Unlocked means its writer is dead, or has just renamed it over the file and
  // closed it: then the name is gone already and the unlink does nothing.
  if (file.IsOpen() && file.TryLockExclusive()) ::unlink(replacement.c_str());
}

namespace {

// A journal whose writing was cut short (its writer died before renaming it into
// place). Unlocked means its writer is gone; a live writer holds the lock.
void RemoveAbandonedJournal(const std::string& next) {
  std::error_code ec;
  const hosting::File file = hosting::File::Open(next, hosting::OpenMode::Read, ec);
  if (file.IsOpen() && file.TryLockExclusive()) ::unlink(next.c_str());
}

}  // namespace

bool RollForward(const std::string& folder, const std::string& path) {
  const auto journal_path = JournalPathOf(folder, path);
  if (!journal_path) return false;
  RemoveAbandonedJournal(*journal_path + ".new");
  if (::access(journal_path->c_str(), F_OK) != 0) return false;
  const auto journal = ReadJournal(*journal_path);
  std::error_code ec;
  hosting::File copy;
  if (journal) copy = hosting::File::Open(journal->copy, hosting::OpenMode::Read, ec);
  if (!journal || !copy.IsOpen() || copy.Size(ec) != journal->length) {
    ::unlink(journal_path->c_str());  // stale: the file was never touched, or is whole
    return false;
  }
  hosting::File file = hosting::File::Open(path, hosting::OpenMode::ReadWrite, ec);
  if (ec) return false;
  std::string buffer(1 << 20, '\0');
  for (std::int64_t at = 0; at < journal->length && !ec; at += std::int64_t(buffer.size())) {
    const auto chunk = std::size_t(std::min<std::int64_t>(journal->length - at, std::int64_t(buffer.size())));
    const std::size_t got = copy.ReadAt(at, std::span<char>(buffer.data(), chunk), ec);
    if (!ec && got != chunk) ec = std::make_error_code(std::errc::io_error);
    if (!ec) file.WriteAt(at, std::span<const char>(buffer.data(), chunk), ec);
  }
  if (!ec) file.Truncate(journal->length, ec);
  if (!ec) file.Sync(ec);
  if (ec) return false;  // the journal stays for the next attempt
  ::unlink(journal->copy.c_str());
  ::unlink(journal_path->c_str());
  return true;
}

}  // namespace pellora::tags
