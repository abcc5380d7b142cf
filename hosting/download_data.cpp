// SPDX-License-Identifier: MIT
#include "hosting/download_data.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <utility>
#include <vector>

namespace pellora::hosting {
namespace {

std::error_code LastError() { return {errno, std::generic_category()}; }

constexpr std::size_t kGatherBytes = std::size_t{1} << 20;

std::string UniqueSpoolName(const std::string& directory) {
  static std::mt19937_64 random{std::random_device{}()};
  char name[64];
  std::snprintf(name, sizeof name, "/.pellora-download-%016llx",
                static_cast<unsigned long long>(random()));
  return (directory.empty() ? std::string(".") : directory) + name;
}

// Opens a new, exclusive file in `directory`; retries the rare name collision.
File CreateExclusive(const std::string& directory, std::string& path, std::error_code& ec) {
  for (int attempt = 0; attempt < 16; ++attempt) {
    path = UniqueSpoolName(directory);
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      ec.clear();
      return File::Adopt(fd);
    }
    ec = LastError();
    if (errno != EEXIST) break;
  }
  path.clear();
  return {};
}

std::string TemporaryFolder() {
  const char* tmp = std::getenv("TMPDIR");
  return tmp && *tmp ? tmp : "/tmp";
}

// Copies `count` bytes from `in` to the current position of `out` through a buffer,
// for file systems between which the kernel cannot copy.
void CopyThroughBuffer(const File& in, std::int64_t from, std::int64_t count, File& out,
                       std::error_code& ec) {
  std::vector<char> buffer(std::size_t{1} << 20);
  while (count > 0) {
    const auto want = static_cast<std::size_t>(std::min<std::int64_t>(count, buffer.size()));
    const std::size_t got = in.ReadAt(from, std::span<char>(buffer.data(), want), ec);
    if (ec) return;
    if (got == 0) {
      ec = std::make_error_code(std::errc::io_error);  // the spool shrank under us
      return;
    }
    out.Write(std::span<const char>(buffer.data(), got), ec);
    if (ec) return;
    from += static_cast<std::int64_t>(got);
    count -= static_cast<std::int64_t>(got);
  }
}

// Copies bytes [from, from + count) of `in` to the start of `out`, in the kernel
// where it can.
void CopyRange(const File& in, std::int64_t from, std::int64_t count, File& out, std::error_code& ec) {
  loff_t in_at = from, out_at = 0;
  const loff_t end = from + count;
  while (in_at < end) {
    const ssize_t n = ::copy_file_range(in.Descriptor(), &in_at, out.Descriptor(), &out_at,
                                        static_cast<std::size_t>(end - in_at), 0);
    if (n > 0) continue;
    if (n < 0 && errno == EINTR) continue;
    if (n == 0 || errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP) {
      ::lseek(out.Descriptor(), out_at, SEEK_SET);
      CopyThroughBuffer(in, in_at, end - in_at, out, ec);
      return;
    }
    ec = LastError();
    return;
  }
}

}  // namespace

std::string DownloadData::FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

DownloadData::DownloadData(DownloadData&& other) noexcept
    : file_(std::move(other.file_)),
      path_(std::exchange(other.path_, {})),
      size_(std::exchange(other.size_, 0)),
      pending_(std::move(other.pending_)),
      mode_(std::exchange(other.mode_, std::nullopt)) {}

DownloadData& DownloadData::operator=(DownloadData&& other) noexcept {
  if (this != &other) {
    RemoveSpool();
    file_ = std::move(other.file_);
    path_ = std::exchange(other.path_, {});
    size_ = std::exchange(other.size_, 0);
    pending_ = std::move(other.pending_);
    mode_ = std::exchange(other.mode_, std::nullopt);
  }
  return *this;
}

DownloadData::~DownloadData() { RemoveSpool(); }

DownloadData DownloadData::CreateSpool(const std::string& directory, std::error_code& ec) {
  DownloadData data;
  data.file_ = CreateExclusive(directory, data.path_, ec);
  if (ec) data.file_ = CreateExclusive(TemporaryFolder(), data.path_, ec);
  return data;
}

void DownloadData::Append(std::span<const char> bytes, std::error_code& ec) {
  ec.clear();
  if (pending_.size() + bytes.size() > kGatherBytes) {
    Flush(ec);
    if (ec) return;
  }
  if (bytes.size() >= kGatherBytes) {
    file_.Write(bytes, ec);
    if (!ec) size_ += static_cast<std::int64_t>(bytes.size());
    return;
  }
  if (pending_.capacity() < kGatherBytes) pending_.reserve(kGatherBytes);
  pending_.insert(pending_.end(), bytes.begin(), bytes.end());
}

void DownloadData::Flush(std::error_code& ec) {
  ec.clear();
  if (pending_.empty()) return;
  file_.Write(pending_, ec);
  if (ec) return;
  size_ += static_cast<std::int64_t>(pending_.size());
  pending_.clear();
}

std::size_t DownloadData::ReadAt(std::int64_t offset, std::span<char> out, std::error_code& ec) {
  Flush(ec);
  if (ec || offset >= size_) return 0;
  const auto available = static_cast<std::size_t>(size_ - offset);
  return file_.ReadAt(offset, out.first(std::min(out.size(), available)), ec);
}

void DownloadData::SaveAs(const std::string& path, std::error_code& ec) {
  ec.clear();
  if (!file_.IsOpen()) {
    ec = std::make_error_code(std::errc::bad_file_descriptor);
    return;
  }
  Flush(ec);
  if (ec) return;
  // A symbolic link stays a link: the file it leads to is what gets replaced.
  const std::string target = FollowLinks(path);
  switch (HowToReplace(target, ec)) {
    case Replacement::Refused:
      return;
    case Replacement::InPlace:
      return CopyInto(target, ec);
    case Replacement::ByRename:
      if (TryRename(target, ec) || ec) return;
      if (ReplaceThroughSibling(target, ec) || ec) return;
      return CopyInto(target, ec);
  }
}

DownloadData::Replacement DownloadData::HowToReplace(const std::string& target, std::error_code& ec) {
  struct stat info {};
  if (::lstat(target.c_str(), &info) != 0) {
    if (errno == ENOENT) return Replacement::ByRename;
    ec = LastError();
    return Replacement::Refused;
  }
  // Hard links, others' files and anything but a plain file are written in
  // place, so that they keep being what they are.
  if (!S_ISREG(info.st_mode) || info.st_nlink != 1 || info.st_uid != ::geteuid())
    return Replacement::InPlace;
  if (::access(target.c_str(), W_OK) != 0) {
    ec = LastError();
    return Replacement::Refused;
  }
  mode_ = info.st_mode & 07777;
  return Replacement::ByRename;
}

bool DownloadData::TryRename(const std::string& target, std::error_code& ec) {
  if (path_.empty()) return false;
  if (mode_ && ::fchmod(file_.Descriptor(), *mode_) != 0) return false;
  if (::rename(path_.c_str(), target.c_str()) == 0) {
    path_.clear();
    return true;
  }
  // Another file system, or a folder we may not write: other ways remain.
  if (errno == EXDEV || errno == EACCES || errno == EPERM) return false;
  ec = LastError();
  return true;
}

bool DownloadData::ReplaceThroughSibling(const std::string& target, std::error_code& ec) {
  std::string sibling_path;
  File sibling = CreateExclusive(FolderOf(target), sibling_path, ec);
  if (ec) {
    ec.clear();
    return false;
  }
  CopyRange(file_, 0, size_, sibling, ec);
  if (!ec && mode_ && ::fchmod(sibling.Descriptor(), *mode_) != 0) ec = LastError();
  if (!ec) sibling.Close(ec);
  if (!ec && ::rename(sibling_path.c_str(), target.c_str()) != 0) ec = LastError();
  if (ec) ::unlink(sibling_path.c_str());
  return true;
}

void DownloadData::CopyInto(const std::string& path, std::error_code& ec) {
  File target = File::Open(path, OpenMode::ReadWrite, ec);
  if (ec) return;
  // The old content stays until the space for the new is known to be there.
  if (::fallocate(target.Descriptor(), FALLOC_FL_KEEP_SIZE, 0, std::max<off_t>(size_, 1)) != 0 &&
      errno != EOPNOTSUPP && errno != ENOSYS) {
    ec = LastError();
    return;
  }
  CopyRange(file_, 0, size_, target, ec);
  if (!ec && ::ftruncate(target.Descriptor(), size_) != 0) ec = LastError();
  if (ec) return;
  target.Close(ec);
}

void DownloadData::RemoveSpool() {
  if (!path_.empty()) ::unlink(path_.c_str());
  path_.clear();
  file_.Close();
  pending_ = {};
}

}  // namespace pellora::hosting
