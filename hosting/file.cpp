// SPDX-License-Identifier: MIT
#include "hosting/file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/uio.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <utility>
#include <vector>

namespace pellora::hosting {
namespace {

std::error_code LastError() { return {errno, std::generic_category()}; }

int OpenFlags(OpenMode mode) {
  switch (mode) {
    case OpenMode::Read: return O_RDONLY;
    case OpenMode::ReadWrite: return O_RDWR | O_CREAT;
    case OpenMode::WriteTruncate: return O_WRONLY | O_CREAT | O_TRUNC;
    case OpenMode::Append: return O_WRONLY | O_CREAT | O_APPEND;
  }
  return O_RDONLY;
}

}  // namespace

FileFailure ClassifyErrno(int err) {
  switch (err) {
    case EIO: return FileFailure::DeviceIOError;
    case ENOSPC: case EDQUOT: case EFBIG: return FileFailure::DiskFull;
    case ENXIO: case ENODEV: return FileFailure::DeviceUnavailable;
    case EACCES: case EPERM: case EROFS: return FileFailure::PermissionDenied;
    case ENOMEDIUM: return FileFailure::DiskNotReady;
    case ENOENT: case ENOTDIR: return FileFailure::PathNotFound;
    default: return FileFailure::AccessError;
  }
}

File::File(File&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

File::~File() { Close(); }

File File::Open(const std::string& path, OpenMode mode, std::error_code& ec) {
  File f;
  f.fd_ = ::open(path.c_str(), OpenFlags(mode) | O_CLOEXEC, 0666);
  ec = f.fd_ < 0 ? LastError() : std::error_code();
  return f;
}

File File::CreateUnique(const std::string& folder, const std::string& prefix,
                        const std::string& suffix, std::string& path, std::error_code& ec) {
  std::string name = folder;
  if (!name.empty() && name.back() != '/') name += '/';
  name += prefix + "XXXXXX" + suffix;
  File f;
  f.fd_ = ::mkostemps(name.data(), static_cast<int>(suffix.size()), O_CLOEXEC);
  ec = f.fd_ < 0 ? LastError() : std::error_code();
  if (f.fd_ >= 0) path = name;
  return f;
}

File File::CreateExclusive(const std::string& path, std::error_code& ec) {
  File f;
  f.fd_ = ::open(path.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0600);
  ec = f.fd_ < 0 ? LastError() : std::error_code();
  return f;
}

bool File::TryLockExclusive() const { return ::flock(fd_, LOCK_EX | LOCK_NB) == 0; }

bool IsRegularFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

WriteObstacle FindWriteObstacle(const std::string& path, const std::string& spare_folder) {
  struct stat file {};
  if (::stat(path.c_str(), &file) != 0) return {LastError(), path};
  if (!S_ISREG(file.st_mode)) return {std::make_error_code(std::errc::not_supported), path};
  const std::error_code no_room = std::make_error_code(std::errc::no_space_on_device);
  // A device whose free space cannot be asked for counts as having room.
  const auto room = [length = std::int64_t(file.st_size)](const std::string& where) {
    struct statvfs st {};
    return ::statvfs(where.c_str(), &st) != 0 || std::int64_t(st.f_bavail) * std::int64_t(st.f_frsize) >= length;
  };
  std::error_code ec;
  File::Open(path, OpenMode::ReadWrite, ec);
  if (ec) return {ec, path};
  if (!room(path)) return {no_room, path};
  File::CreateAnonymous(spare_folder, ec);
  const bool unnamed_files = ec != std::errc::operation_not_supported && ec != std::errc::is_a_directory &&
                             ec != std::errc::invalid_argument;
  if (!unnamed_files) ec = ::access(spare_folder.c_str(), W_OK | X_OK) == 0 ? std::error_code() : LastError();
  if (ec) return {ec, spare_folder, true};
  if (!room(spare_folder)) return {no_room, spare_folder, true};
  return {};
}

bool WritesInPlace(const std::string& path) {
  for (const char* descriptors : {"/dev/stdin", "/dev/stdout", "/dev/stderr", "/dev/fd/", "/proc/self/fd/"})
    if (path.starts_with(descriptors)) return true;
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode);
}

std::string FollowLinks(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
  char resolved[PATH_MAX];
  return ::realpath(path.c_str(), resolved) ? std::string(resolved) : path;
}

std::int64_t File::Size(std::error_code& ec) const {
  struct stat st {};
  if (::fstat(fd_, &st) != 0) {
    ec = LastError();
    return -1;
  }
  ec.clear();
  return st.st_size;
}

std::size_t File::ReadAt(std::int64_t offset, std::span<char> out, std::error_code& ec) const {
  ec.clear();
  std::size_t done = 0;
  while (done < out.size()) {
    const ssize_t n = ::pread(fd_, out.data() + done, out.size() - done, offset + done);
    if (n < 0) {
      if (errno == EINTR) continue;
      ec = LastError();
      break;
    }
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return done;
}

std::string File::ReadAt(std::int64_t offset, std::size_t count, std::error_code& ec) const {
  const std::int64_t size = Size(ec);
  if (ec || offset < 0 || offset >= size) return {};
  const auto available = static_cast<std::uint64_t>(size - offset);
  std::string out(std::min<std::uint64_t>(count, available), '\0');
  out.resize(ReadAt(offset, std::span<char>(out.data(), out.size()), ec));
  return out;
}

void File::WriteAt(std::int64_t offset, std::span<const char> data, std::error_code& ec) {
  ec.clear();
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::pwrite(fd_, data.data() + done, data.size() - done, offset + done);
    if (n < 0) {
      if (errno == EINTR) continue;
      ec = LastError();
      return;
    }
    done += static_cast<std::size_t>(n);
  }
}

void File::Write(std::span<const char> data, std::error_code& ec) {
  ec.clear();
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(fd_, data.data() + done, data.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      ec = LastError();
      return;
    }
    done += static_cast<std::size_t>(n);
  }
}

std::size_t File::WriteGather(std::span<const std::span<const char>> pieces, std::error_code& ec) {
  ec.clear();
  std::size_t written = 0;
  std::size_t next = 0;     // first piece not completely written
  std::size_t offset = 0;   // bytes of that piece already written
  while (next < pieces.size()) {
    std::array<iovec, 64> vector{};
    std::size_t count = 0;
    for (std::size_t i = next; i < pieces.size() && count < vector.size(); ++i) {
      const std::size_t skip = i == next ? offset : 0;
      if (pieces[i].size() == skip) continue;
      vector[count++] = {const_cast<char*>(pieces[i].data() + skip), pieces[i].size() - skip};
    }
    if (count == 0) break;
    const ssize_t n = ::writev(fd_, vector.data(), static_cast<int>(count));
    if (n < 0) {
      if (errno == EINTR) continue;
      ec = LastError();
      return written;
    }
    written += static_cast<std::size_t>(n);
    // Step over what the kernel took.
    for (std::size_t left = static_cast<std::size_t>(n); next < pieces.size();) {
      const std::size_t rest = pieces[next].size() - offset;
      if (left < rest) {
        offset += left;
        break;
      }
      left -= rest;
      ++next;
      offset = 0;
    }
  }
  return written;
}

void File::Truncate(std::int64_t size, std::error_code& ec) {
  ec = ::ftruncate(fd_, size) == 0 ? std::error_code() : LastError();
}

void File::Seek(std::int64_t offset, std::error_code& ec) {
  ec = ::lseek(fd_, offset, SEEK_SET) >= 0 ? std::error_code() : LastError();
}

void File::Sync(std::error_code& ec) {
  ec = ::fsync(fd_) == 0 ? std::error_code() : LastError();
}

void File::Close(std::error_code& ec) {
  ec.clear();
  if (fd_ < 0) return;
  if (::close(std::exchange(fd_, -1)) != 0) ec = LastError();
}

void File::Reserve(std::int64_t size, std::error_code& ec) {
  ec.clear();
  if (size <= 0) return;
  if (::fallocate(fd_, FALLOC_FL_KEEP_SIZE, 0, size) == 0) return;
  if (errno != EOPNOTSUPP && errno != ENOSYS) {
    ec = LastError();
    return;
  }
  // Claim the growth by writing it; the bytes already in the file have their blocks.
  const std::int64_t length = Size(ec);
  if (ec || length >= size) return;
  const std::vector<char> zeros(std::size_t(std::min<std::int64_t>(size - length, 1 << 20)), '\0');
  for (std::int64_t at = length; at < size && !ec; at += std::int64_t(zeros.size()))
    WriteAt(at, std::span<const char>(zeros.data(), std::size_t(std::min<std::int64_t>(size - at, zeros.size()))), ec);
  if (!ec) Sync(ec);
  if (ec) {
    std::error_code ignored;
    Truncate(length, ignored);
  }
}

File File::CreateAnonymous(const std::string& folder, std::error_code& ec) {
  File f;
  f.fd_ = ::open(folder.empty() ? "." : folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  ec = f.fd_ < 0 ? LastError() : std::error_code();
  return f;
}

void File::LinkAs(const std::string& path, std::error_code& ec) const {
  const std::string self = "/proc/self/fd/" + std::to_string(fd_);
  ec = ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0 ? std::error_code()
                                                                                        : LastError();
}

bool CopyOwnerModeAndAttributes(const File& from, File& to) {
  struct stat st {};
  if (::fstat(from.Descriptor(), &st) != 0) return false;
  if (::fchown(to.Descriptor(), st.st_uid, st.st_gid) != 0) return false;
  if (::fchmod(to.Descriptor(), st.st_mode & 07777) != 0) return false;
  const ssize_t names_length = ::flistxattr(from.Descriptor(), nullptr, 0);
  if (names_length < 0) return errno == ENOTSUP;
  std::vector<char> names(std::size_t(names_length) + 1, '\0');
  if (::flistxattr(from.Descriptor(), names.data(), names.size()) < 0) return false;
  std::vector<char> value;
  for (const char* name = names.data(); *name; name += std::strlen(name) + 1) {
    const ssize_t length = ::fgetxattr(from.Descriptor(), name, nullptr, 0);
    if (length < 0) return false;
    value.resize(std::size_t(length));
    if (::fgetxattr(from.Descriptor(), name, value.data(), value.size()) != length) return false;
    if (::fsetxattr(to.Descriptor(), name, value.data(), value.size(), 0) != 0) return false;
  }
  return true;
}

void SyncFolder(const std::string& folder, std::error_code& ec) {
  std::error_code open_ec;
  File dir = File::Open(folder.empty() ? "." : folder, OpenMode::Read, open_ec);
  if (open_ec) {
    ec = open_ec;
    return;
  }
  dir.Sync(ec);
}

namespace {

// Fixed storage that a signal handler can walk: no allocation, no locks.
constexpr std::size_t kTemporarySlots = 4;
constexpr std::size_t kTemporaryPathMax = 4096;
struct TemporarySlot {
  std::atomic<bool> used{false};
  char path[kTemporaryPathMax] = {};
};
TemporarySlot temporary_slots[kTemporarySlots];

void RemoveTemporariesAndDie(int signal_number) {
  for (auto& slot : temporary_slots)
    if (slot.used.load()) ::unlink(slot.path);
  ::signal(signal_number, SIG_DFL);
  ::raise(signal_number);
}

}  // namespace

void RegisterTemporary(const std::string& path) {
  if (path.size() >= kTemporaryPathMax) return;
  for (auto& slot : temporary_slots) {
    if (slot.used.load()) continue;
    std::memcpy(slot.path, path.c_str(), path.size() + 1);
    slot.used.store(true);
    return;
  }
}

void UnregisterTemporary(const std::string& path) {
  for (auto& slot : temporary_slots)
    if (slot.used.load() && path == slot.path) slot.used.store(false);
}

void RemoveTemporariesOnSignals() {
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction action {};
    action.sa_handler = RemoveTemporariesAndDie;
    sigemptyset(&action.sa_mask);
    ::sigaction(signal_number, &action, nullptr);
  }
}

bool GetFileTimes(const std::string& path, FileTimes& times) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return false;
  times = {st.st_atim.tv_sec, st.st_atim.tv_nsec, st.st_mtim.tv_sec, st.st_mtim.tv_nsec};
  return true;
}

bool SetFileTimes(const File& file, const FileTimes& times) {
  const struct timespec ts[2] = {{times.access_sec, times.access_nsec},
                                 {times.modify_sec, times.modify_nsec}};
  return ::futimens(file.Descriptor(), ts) == 0;
}

bool SetFileTimes(const std::string& path, const FileTimes& times) {
  const struct timespec ts[2] = {{times.access_sec, times.access_nsec},
                                 {times.modify_sec, times.modify_nsec}};
  return ::utimensat(AT_FDCWD, path.c_str(), ts, 0) == 0;
}

}  // namespace pellora::hosting
