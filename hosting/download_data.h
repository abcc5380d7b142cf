// SPDX-License-Identifier: MIT
#pragma once
// The data of a finished download, kept in a spool file rather than in memory so
// that a download of any size costs a few buffers, not its length.
//
// The spool file is created next to the download's target when that folder can be
// written, so that saving the data there is a rename; elsewhere (the system's
// temporary folder) it is copied. A spool that is not saved is removed when the
// DownloadData goes.
#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <system_error>
#include <vector>

#include "hosting/file.h"

namespace pellora::hosting {

class DownloadData {
 public:
  DownloadData() = default;
  DownloadData(DownloadData&& other) noexcept;
  DownloadData& operator=(DownloadData&& other) noexcept;
  DownloadData(const DownloadData&) = delete;
  DownloadData& operator=(const DownloadData&) = delete;
  ~DownloadData();

  // Creates an empty spool file in `directory`, or in $TMPDIR (else /tmp) when
  // `directory` cannot take one. The file gets the permissions a newly created file
  // would get (0666 less the umask), since it may become the target itself.
  static DownloadData CreateSpool(const std::string& directory, std::error_code& ec);
  // The folder of `path` ("." for a bare name): where to spool a download that
  // will be saved there, so that saving is a rename.
  static std::string FolderOf(const std::string& path);

  bool IsOpen() const { return file_.IsOpen(); }
  // Where the spool lives (empty once it was saved or removed).
  const std::string& SpoolPath() const { return path_; }
  // Bytes appended so far.
  std::int64_t Size() const { return size_ + static_cast<std::int64_t>(pending_.size()); }

  // Appends `bytes` to the spool. Small pieces are gathered in a buffer of a
  // megabyte first: a network delivers 16 KiB at a time, and one write per piece
  // would cost more than the transfer.
  void Append(std::span<const char> bytes, std::error_code& ec);
  // Writes what Append has gathered; on failure the data is incomplete.
  void Flush(std::error_code& ec);
  // Reads up to out.size() bytes at `offset`; returns the count read.
  std::size_t ReadAt(std::int64_t offset, std::span<char> out, std::error_code& ec);

  // Flushes, then makes `path` hold exactly the data, replacing what it held (an older, longer
  // file keeps no bytes beyond the data). Writing must be allowed as for an
  // in-place write: a read-only file, a missing folder or a path that is a folder
  // fail with `ec` and leave `path` as it was. A symbolic link is followed and
  // stays a link; what it leads to is replaced. A single-link regular file of
  // ours (or a new one) is replaced by a rename, with the old file's permissions:
  // of the spool itself on the same file system, else of a full copy made beside
  // it first; so it holds either its old or its whole new content at every moment,
  // whatever fails (a full disk included). Only a file that a rename would change
  // into another (hard links, another owner) or a folder we may not write is
  // written in place, after its space was reserved. The spool is gone afterwards
  // when the rename was taken.
  void SaveAs(const std::string& path, std::error_code& ec);

 private:
  enum class Replacement { ByRename, InPlace, Refused };
  Replacement HowToReplace(const std::string& target, std::error_code& ec);
  bool TryRename(const std::string& target, std::error_code& ec);
  bool ReplaceThroughSibling(const std::string& target, std::error_code& ec);
  void CopyInto(const std::string& path, std::error_code& ec);
  void RemoveSpool();

  File file_;
  std::string path_;
  std::int64_t size_ = 0;  // bytes in the file
  std::vector<char> pending_;
  std::optional<mode_t> mode_;  // of the file being replaced
};

}  // namespace pellora::hosting
