#include "hosting/download_data.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

}  // namespace

DownloadData::DownloadData(DownloadData&& other) noexcept
    : file_(std::move(other.file_)),
      path_(std::exchange(other.path_, {})),
      size_(std::exchange(other.size_, 0)),
      pending_(std::move(other.pending_)) {}

DownloadData& DownloadData::operator=(DownloadData&& other) noexcept {
  if (this != &other) {
    RemoveSpool();
    file_ = std::move(other.file_);
    path_ = std::exchange(other.path_, {});
    size_ = std::exchange(other.size_, 0);
    pending_ = std::move(other.pending_);
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
  if (TryReplaceByRename(path, ec)) return;
  CopyInto(path, ec);
}

bool DownloadData::TryReplaceByRename(const std::string& path, std::error_code& ec) {
  if (path_.empty()) return false;
  struct stat target {};
  if (::lstat(path.c_str(), &target) == 0) {
    // Only a plain file of ours is replaced; links and others' files are written
    // in place, so they keep being what they are.
    if (!S_ISREG(target.st_mode) || target.st_nlink != 1 || target.st_uid != ::geteuid())
      return false;
    if (::access(path.c_str(), W_OK) != 0) {
      ec = LastError();
      return true;
    }
    if (::fchmod(file_.Descriptor(), target.st_mode & 07777) != 0) return false;
  } else if (errno != ENOENT) {
    ec = LastError();
    return true;
  }
  if (::rename(path_.c_str(), path.c_str()) == 0) {
    path_.clear();
    return true;
  }
  if (errno == EXDEV) return false;
  ec = LastError();
  return true;
}

void DownloadData::CopyInto(const std::string& path, std::error_code& ec) {
  File target = File::Open(path, OpenMode::WriteTruncate, ec);
  if (ec) return;
  loff_t from = 0;
  while (from < size_) {
    const ssize_t n = ::copy_file_range(file_.Descriptor(), &from, target.Descriptor(), nullptr,
                                        static_cast<std::size_t>(size_ - from), 0);
    if (n > 0) continue;
    if (n < 0 && errno == EINTR) continue;
    if (n == 0 || errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP) {
      ::lseek(target.Descriptor(), from, SEEK_SET);
      CopyThroughBuffer(file_, from, size_ - from, target, ec);
      break;
    }
    ec = LastError();
    return;
  }
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
