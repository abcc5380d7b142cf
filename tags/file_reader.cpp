// SPDX-License-Identifier: MIT
#include "tags/file_reader.h"

#include <algorithm>

namespace pellora::tags {

FileReader::FileReader(const hosting::File& file) : file_(file) {
  std::error_code ec;
  const std::int64_t size = file.Size(ec);
  length_ = size > 0 ? size : 0;
  failed_ = file.IsOpen() && bool(ec);  // a file not opened is an empty one
}

std::string FileReader::ReadUpTo(std::int64_t offset, std::int64_t count) const {
  if (offset < 0 || offset >= length_ || count <= 0) return {};
  count = std::min(count, length_ - offset);
  if (const Block* block = BlockHolding(offset, count))
    return block->bytes.substr(static_cast<std::size_t>(offset - block->offset), static_cast<std::size_t>(count));
  return ReadFromFile(offset, count);
}

std::string FileReader::ReadFromFile(std::int64_t offset, std::int64_t count) const {
  std::string bytes(static_cast<std::size_t>(count), '\0');
  std::error_code ec;
  bytes.resize(file_.ReadAt(offset, std::span<char>(bytes.data(), bytes.size()), ec));
  if (ec) failed_ = true;
  return bytes;
}

void FileReader::Prefetch(std::int64_t offset, std::int64_t count) {
  Block& block = blocks_[older_block_];
  older_block_ = 1 - older_block_;
  block = {offset, {}};
  if (offset < 0 || offset >= length_ || count <= 0) return;
  block.bytes = ReadFromFile(offset, std::min(count, length_ - offset));
}

const FileReader::Block* FileReader::BlockHolding(std::int64_t offset, std::int64_t count) const {
  for (const Block& block : blocks_)
    if (offset >= block.offset && offset + count <= block.offset + std::int64_t(block.bytes.size())) return &block;
  return nullptr;
}

std::optional<std::string> FileReader::ReadExactly(std::int64_t offset, std::int64_t count) const {
  if (offset < 0 || count < 0 || count > length_ - offset) return std::nullopt;
  std::string bytes = ReadUpTo(offset, count);
  if (std::int64_t(bytes.size()) != count) return std::nullopt;
  return bytes;
}

}  // namespace pellora::tags
