// SPDX-License-Identifier: MIT
#include "cli/working_file.h"

#include <sys/stat.h>

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

}  // namespace

std::error_code WorkingFile::Create(const std::string& final_path) {
  Discard();
  const std::filesystem::path target(final_path);
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
  if (::fchmod(file.Descriptor(), NewFileMode()) != 0) ec.assign(errno, std::generic_category());
  std::error_code close_failure;
  file.Close(close_failure);
  if (!ec) ec = close_failure;
  final_path_ = final_path;
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
