// SPDX-License-Identifier: MIT
#include "cli/working_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "hosting/file.h"

namespace pellora::cli {
namespace {

mode_t NewFileMode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

// The replacement of `old_path` looks like it to its users: all of it where the
// system allows, else at least its group (where allowed) and its permission bits,
// so that a private recording stays private.
std::error_code TakeLooksOf(const std::string& old_path, hosting::File& replacement) {
  struct stat old {};
  if (::stat(old_path.c_str(), &old) != 0) {
    if (::fchmod(replacement.Descriptor(), NewFileMode()) != 0) return {errno, std::generic_category()};
    return {};
  }
  std::error_code unreadable;
  const hosting::File source = hosting::File::Open(old_path, hosting::OpenMode::Read, unreadable);
  if (!unreadable && hosting::CopyOwnerModeAndAttributes(source, replacement)) return {};
  [[maybe_unused]] const int group_kept = ::fchown(replacement.Descriptor(), uid_t(-1), old.st_gid);
  if (::fchmod(replacement.Descriptor(), old.st_mode & 07777) != 0) return {errno, std::generic_category()};
  return {};
}

// Where the recording goes: the file a symbolic link leads to, also when it
// does not exist yet, so that the link stays a link.
std::filesystem::path ReplacedFile(const std::string& path) {
  std::filesystem::path target = hosting::FollowLinks(path);
  std::error_code ec;
  if (std::filesystem::is_symlink(target, ec)) {
    const std::filesystem::path named = std::filesystem::read_symlink(target, ec);
    if (!ec) target = target.parent_path() / named;
  }
  return target;
}

}  // namespace

std::error_code WorkingFile::Create(const std::string& final_path) {
  Discard();
  const std::filesystem::path target = ReplacedFile(final_path);
  const std::filesystem::path folder = target.has_parent_path() ? target.parent_path() : ".";
  // Cut so that the temporary name stays within the file system's 255 bytes.
  std::string prefix = ".";
  prefix.append(target.filename().string(), 0, 100);
  prefix.push_back('.');
  std::error_code ec;
  hosting::File file = hosting::File::CreateUnique(folder.string(), prefix, ".part", path_, ec);
  if (ec) {
    path_.clear();
    return ec;
  }
  ec = TakeLooksOf(target.string(), file);
  std::error_code close_failure;
  file.Close(close_failure);
  if (!ec) ec = close_failure;
  final_path_ = target.string();
  return ec;
}

std::error_code WorkingFile::Commit() {
  if (!Active()) return {};
  if (std::rename(path_.c_str(), final_path_.c_str()) != 0) return {errno, std::generic_category()};
  path_.clear();
  return {};
}

void WorkingFile::Discard() {
  if (!Active()) return;
  std::error_code ignored;
  std::filesystem::remove(path_, ignored);
  path_.clear();
}

}  // namespace pellora::cli
