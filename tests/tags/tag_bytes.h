// SPDX-License-Identifier: MIT
#pragma once
// Building tag bytes and files for the tag store's tests.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

#include "tags/id3.h"

namespace pellora::tags::testing {

// A file in a fresh temporary directory, removed with it.
class TempFile {
 public:
  explicit TempFile(const std::string& bytes = {}) {
    char dir_template[] = "/tmp/pellora-tags-XXXXXX";
    dir_ = ::mkdtemp(dir_template);
    path_ = dir_ + "/file.mp3";
    Write(bytes);
  }
  ~TempFile() { std::system(("rm -rf '" + dir_ + "'").c_str()); }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  void Write(const std::string& bytes) const { std::ofstream(path_, std::ios::binary) << bytes; }
  const std::string& Path() const { return path_; }
  const std::string& Dir() const { return dir_; }

 private:
  std::string dir_, path_;
};

inline std::string BigEndian(std::uint32_t value, int count) {
  std::string out;
  for (int i = count - 1; i >= 0; --i) out.push_back(char((value >> (8 * i)) & 0xFF));
  return out;
}

inline std::string Synchsafe(std::uint32_t value) {
  std::string out;
  for (int i = 3; i >= 0; --i) out.push_back(char((value >> (7 * i)) & 0x7F));
  return out;
}

// One frame of the given revision: identifier, size (synchsafe for revision 4),
// flags (none in revision 2), data.
inline std::string Frame(int revision, const std::string& id, const std::string& data, std::uint8_t format_flags = 0) {
  if (revision == 2) return id + BigEndian(std::uint32_t(data.size()), 3) + data;
  const std::string size = revision == 4 ? Synchsafe(std::uint32_t(data.size())) : BigEndian(std::uint32_t(data.size()), 4);
  return id + size + std::string(1, '\0') + std::string(1, char(format_flags)) + data;
}

// A whole tag: header of the revision with `flags`, then `body`.
inline std::string Tag(int revision, const std::string& body, std::uint8_t flags = 0) {
  return std::string("ID3") + char(revision) + '\0' + char(flags) + Synchsafe(std::uint32_t(body.size())) + body;
}

// Reads `bytes` as a file through the public entry.
inline void ReadBytes(clsID3& id3, const std::string& bytes) {
  TempFile file(bytes);
  id3.FileName(std::u16string(file.Path().begin(), file.Path().end()));
}

}  // namespace pellora::tags::testing
