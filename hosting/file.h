// SPDX-License-Identifier: MIT
#pragma once
// Binary file access: an RAII file handle with positioned reads and writes that
// finish short transfers, and the classification of file failures.
//
// Every read is bounds-checked against what the file really holds: asking for more
// than is there returns what is there, never uninitialised bytes.
#include <cstdint>
#include <span>
#include <string>
#include <system_error>

namespace pellora::hosting {

// The seven kinds of file failure a control reports.
enum class FileFailure {
  DeviceUnavailable,  // ENXIO, ENODEV
  DiskNotReady,       // ENOMEDIUM
  DeviceIOError,      // EIO
  DiskFull,           // ENOSPC, EDQUOT, EFBIG
  PermissionDenied,   // EACCES, EPERM, EROFS
  AccessError,        // any other failure
  PathNotFound,       // ENOENT, ENOTDIR
};

FileFailure ClassifyErrno(int err);
inline FileFailure ClassifyError(const std::error_code& ec) { return ClassifyErrno(ec.value()); }

enum class OpenMode {
  Read,           // existing file, read only
  ReadWrite,      // read and write, created when missing, never truncated
  WriteTruncate,  // write only, created when missing, emptied
  Append,         // write only at the end, created when missing
};

class File {
 public:
  File() = default;
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  ~File();

  // Opens `path`; on failure the result is closed and `ec` says why.
  static File Open(const std::string& path, OpenMode mode, std::error_code& ec);
  // Creates a new file in `folder` named prefix + a unique part + suffix, exclusively
  // (O_EXCL, mode 0600): it never opens an existing file, so no stale bytes can leak
  // into what is written. On success `path` holds the name; on failure the result
  // is closed and `ec` says why (ENOENT when the folder is missing).
  static File CreateUnique(const std::string& folder, const std::string& prefix,
                           const std::string& suffix, std::string& path, std::error_code& ec);
  // Creates a file without a name in `folder` (O_TMPFILE, mode 0600): if the process
  // dies before LinkAs names it, the kernel frees it and nothing is left behind. On
  // a file system without unnamed files `ec` is EOPNOTSUPP (or EISDIR, EINVAL).
  static File CreateAnonymous(const std::string& folder, std::error_code& ec);
  // Creates the file `path`, which must not exist (O_EXCL, mode 0600).
  static File CreateExclusive(const std::string& path, std::error_code& ec);
  // Gives an unnamed file (CreateAnonymous) the name `path`, which must not exist.
  void LinkAs(const std::string& path, std::error_code& ec) const;
  // Adopts an open descriptor (the File closes it).
  static File Adopt(int fd) { File f; f.fd_ = fd; return f; }

  bool IsOpen() const { return fd_ >= 0; }
  // Takes an exclusive advisory lock (flock) without waiting: false when another
  // open of the same file holds one. The lock ends when the file is closed, or
  // when its process dies.
  bool TryLockExclusive() const;
  int Descriptor() const { return fd_; }

  // Size of the file in bytes, or -1 with `ec` set.
  std::int64_t Size(std::error_code& ec) const;

  // Reads up to out.size() bytes at `offset`, looping over short reads; returns the
  // count read (less only at the end of the file, or on error with `ec` set).
  std::size_t ReadAt(std::int64_t offset, std::span<char> out, std::error_code& ec) const;
  // Reads at most `count` bytes at `offset`, never allocating more than the file holds.
  std::string ReadAt(std::int64_t offset, std::size_t count, std::error_code& ec) const;

  // Writes all of `data` at `offset`, looping over short writes.
  void WriteAt(std::int64_t offset, std::span<const char> data, std::error_code& ec);
  // Writes all of `data` at the current position (appending in Append mode).
  void Write(std::span<const char> data, std::error_code& ec);
  // Writes all the `pieces`, one after the other, at the current position, with
  // as few system calls as the kernel allows (writev), looping over short writes.
  // Returns the bytes written (all of them unless `ec` is set).
  std::size_t WriteGather(std::span<const std::span<const char>> pieces, std::error_code& ec);

  void Truncate(std::int64_t size, std::error_code& ec);
  // Moves the position that Write uses to `offset` from the start.
  void Seek(std::int64_t offset, std::error_code& ec);
  // Reserves disk space for the file's first `size` bytes, so that writing them cannot
  // run out of space. Where the file system cannot reserve (ext2 answers
  // EOPNOTSUPP), the file grows to `size` by writing zeros past its end, which
  // claims the same space; its first bytes are never touched. Either the space is
  // there, or `ec` says why and the file keeps its length.
  void Reserve(std::int64_t size, std::error_code& ec);
  // Flushes the file's data to its device.
  void Sync(std::error_code& ec);
  // Closes now; reports the failure of the close itself.
  void Close(std::error_code& ec);
  void Close() { std::error_code ignored; Close(ignored); }

 private:
  int fd_ = -1;
};

// Access and modification times of a file, with full (nanosecond) precision.
// Linux keeps no settable creation time, so none is saved.
struct FileTimes {
  std::int64_t access_sec = 0, access_nsec = 0;
  std::int64_t modify_sec = 0, modify_nsec = 0;
};
bool GetFileTimes(const std::string& path, FileTimes& times);

// True when `path` names a regular file (following symbolic links). Readers of
// untrusted paths check this first: opening a FIFO for reading blocks until a
// writer comes, and a directory or device holds no file content.
bool IsRegularFile(const std::string& path);
// True when writing `path` must go to what it names, as the bytes arrive: a
// FIFO, a device or a socket (links followed), or a descriptor of the process
// (/dev/stdout, /dev/fd/N, /proc/self/fd/N) whatever it is. A file put in its
// place by a rename would silently take over its name.
bool WritesInPlace(const std::string& path);
// What writing `path` changes: a symbolic link is followed to the file it leads
// to, so that replacing that file leaves the link a link. A link to nothing yet
// comes back as it is (writing through it creates what it names).
std::string FollowLinks(const std::string& path);
bool SetFileTimes(const std::string& path, const FileTimes& times);
bool SetFileTimes(const File& file, const FileTimes& times);

// What keeps a new content as large as the regular file at `path` from being
// written over it, for telling a person why a rewrite failed, as far as the system
// says without trying: the reason the file is not there or not a regular file
// (ENOTSUP), the reason it cannot be opened for writing, no room
// (ENOSPC) on its device, the reason no file can be made in `spare_folder` (where
// a rewrite that cannot replace the file beside itself puts the new content), or
// no room there. `path` names what the reason is about (the file or the folder);
// an empty `error` when none applies. Nothing is written.
struct WriteObstacle {
  std::error_code error;
  std::string path;
  bool in_spare_folder = false;
};
WriteObstacle FindWriteObstacle(const std::string& path, const std::string& spare_folder);

// Makes `to` look like `from` to its users: owner and group, permission bits and
// every extended attribute (ACLs included). False when any of them cannot be
// copied, for example an owner that only the superuser may give.
bool CopyOwnerModeAndAttributes(const File& from, File& to);

// Flushes the entries of `folder` (a rename, a new name) to its device.
void SyncFolder(const std::string& folder, std::error_code& ec);

// Temporary files that must not outlive an interrupted process: a path registered
// here is unlinked when SIGINT, SIGTERM or SIGHUP ends the process, once
// RemoveTemporariesOnSignals has installed the handlers (the command line does).
// A handful of paths at a time; registering more than that is ignored.
void RegisterTemporary(const std::string& path);
void UnregisterTemporary(const std::string& path);
void RemoveTemporariesOnSignals();

}  // namespace pellora::hosting
