// SPDX-License-Identifier: MIT
#pragma once
// A file written under a temporary name beside the name it is meant for, so that
// the person's file holds its old content until the new one is worth having:
// `Commit` renames it over the final name in one step; otherwise it is removed
// (by `Discard` or when the object goes). Created exclusively, with the
// permissions a new file gets (0666 less the umask).
#include <string>
#include <system_error>

namespace pellora::cli {

class WorkingFile {
 public:
  WorkingFile() = default;
  ~WorkingFile() { Discard(); }
  WorkingFile(const WorkingFile&) = delete;
  WorkingFile& operator=(const WorkingFile&) = delete;

  // Creates ".NAME.XXXXXX.part" (empty) in the folder of `final_path`.
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
