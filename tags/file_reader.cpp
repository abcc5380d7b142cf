#include "tags/file_reader.h"

#include <algorithm>

namespace pellora::tags {

FileReader::FileReader(const hosting::File& file) : file_(file) {
  std::error_code ec;
  const std::int64_t size = file.Size(ec);
  length_ = size > 0 ? size : 0;
}

std::string FileReader::ReadUpTo(std::int64_t offset, std::int64_t count) const {
  if (offset < 0 || offset >= length_ || count <= 0) return {};
  std::error_code ec;
  return file_.ReadAt(offset, static_cast<std::size_t>(std::min(count, length_ - offset)), ec);
}

std::optional<std::string> FileReader::ReadExactly(std::int64_t offset, std::int64_t count) const {
  if (offset < 0 || count < 0 || count > length_ - offset) return std::nullopt;
  std::string bytes = ReadUpTo(offset, count);
  if (std::int64_t(bytes.size()) != count) return std::nullopt;
  return bytes;
}

}  // namespace pellora::tags
