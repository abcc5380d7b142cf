// SPDX-License-Identifier: MIT
// Prefetched blocks of the scan's file reader: reads inside a block come from it,
// every other read from the file, and both give the file's bytes.
#include <gtest/gtest.h>

#include "tags/file_reader.h"
#include "tests/tags/tag_bytes.h"

namespace pellora::tags {
namespace {

std::string Digits(std::size_t n) {
  std::string out;
  for (std::size_t i = 0; i < n; ++i) out += char('0' + i % 10);
  return out;
}

class PrefetchedReader : public ::testing::Test {
 protected:
  void SetUp() override {
    std::error_code ec;
    file_ = hosting::File::Open(temp_.Path(), hosting::OpenMode::ReadWrite, ec);
    ASSERT_TRUE(file_.IsOpen());
  }
  testing::TempFile temp_{Digits(1000)};
  hosting::File file_;
};

TEST_F(PrefetchedReader, ReadsInsideABlockComeFromMemory) {
  FileReader reader(file_);
  reader.Prefetch(0, 100);
  reader.Prefetch(900, 500);  // clamped to the file's end
  temp_.Write(std::string(1000, 'x'));  // the blocks keep what was there
  EXPECT_EQ(reader.ReadUpTo(10, 5), "01234");
  EXPECT_EQ(reader.ReadUpTo(995, 50), "56789");
  EXPECT_EQ(*reader.ReadExactly(900, 3), "012");
  EXPECT_EQ(reader.ReadUpTo(98, 4), "xxxx");  // straddles the block: read from the file
  EXPECT_EQ(reader.ReadUpTo(500, 2), "xx");
}

TEST_F(PrefetchedReader, AThirdBlockReplacesTheOlder) {
  FileReader reader(file_);
  reader.Prefetch(0, 10);
  reader.Prefetch(100, 10);
  reader.Prefetch(200, 10);
  temp_.Write(std::string(1000, 'x'));
  EXPECT_EQ(reader.ReadUpTo(0, 2), "xx");
  EXPECT_EQ(reader.ReadUpTo(100, 2), "01");
  EXPECT_EQ(reader.ReadUpTo(200, 2), "01");
}

TEST_F(PrefetchedReader, BlocksOutsideTheFileHoldNothing) {
  FileReader reader(file_);
  reader.Prefetch(-5, 10);
  reader.Prefetch(1000, 10);
  EXPECT_EQ(reader.ReadUpTo(0, 3), "012");
  EXPECT_EQ(reader.ReadUpTo(1000, 3), "");
  EXPECT_FALSE(reader.ReadExactly(999, 2).has_value());
}

}  // namespace
}  // namespace pellora::tags
