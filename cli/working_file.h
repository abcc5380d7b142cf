// SPDX-License-Identifier: MIT
#pragma once
// A file written under a temporary name beside the name it is meant for, so that
// the person's file holds its old content until the new one is worth having:
// `Commit` renames it over the final name in one step; otherwise it is removed
// (by `Discard` or when the object goes). Created exclusively; it takes the
// looks of the file it will replace (owner and group where allowed, permission
// bits, extended attributes), or those a new file gets (0666 less the umask).
// A symbolic link is followed: the file it leads to is replaced, and the link
// stays a link. Only for a regular file or a missing path: a FIFO or a device
// is written in place (hosting::WritesInPlace).
#include <string>
#include <system_error>

namespace pellora::cli {

class WorkingFile {
 public:
  WorkingFile() = default;
  ~WorkingFile() { Discard(); }
  WorkingFile(const WorkingFile&) = delete;
  WorkingFile& operator=(const WorkingFile&) = delete;

  // Creates ".NAME.XXXXXX.part" (empty) in the folder of `final_path` (of the
  // file it leads to, when it is a symbolic link).
  std::error_code Create(const std::string& final_path);
  // True from Create until Commit or Discard.
  bool Active() const { return !path_.empty(); }
  const std::string& Path() const { return path_; }
  const std::string& FinalPath() const { return final_path_; }
  // Renames the file to its final name, replacing what was there.
  std::error_code Commit();
  // Removes the file (nothing when not active).
  void Discard();

 private:
  std::string path_;
  std::string final_path_;
};

}  // namespace pellora::cli
