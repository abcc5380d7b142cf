// SPDX-License-Identifier: MIT
#include "hosting/file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

namespace pellora::hosting {
namespace {

namespace fs = std::filesystem;

class FileTest : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("pellora-file-" + std::to_string(::getpid()));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Path(const char* name) const { return (dir_ / name).string(); }
  fs::path dir_;
};

TEST_F(FileTest, ReadsAreBoundedByWhatTheFileHolds) {
  std::error_code ec;
  File f = File::Open(Path("a"), OpenMode::ReadWrite, ec);
  ASSERT_FALSE(ec);
  const std::string data = "0123456789";
  f.WriteAt(0, data, ec);
  ASSERT_FALSE(ec);
  EXPECT_EQ(f.Size(ec), 10);
  EXPECT_EQ(f.ReadAt(4, 1u << 30, ec), "456789");  // a huge request allocates only 6
  EXPECT_EQ(f.ReadAt(10, 5, ec), "");
  EXPECT_EQ(f.ReadAt(-3, 5, ec), "");
  char buf[4];
  EXPECT_EQ(f.ReadAt(8, std::span<char>(buf, 4), ec), 2u);
}

TEST_F(FileTest, AppendAndTruncate) {
  std::error_code ec;
  {
    File f = File::Open(Path("b"), OpenMode::WriteTruncate, ec);
    f.Write(std::string(1000, 'a'), ec);
  }
  {
    File f = File::Open(Path("b"), OpenMode::Append, ec);
    f.Write(std::string(500, 'b'), ec);
  }
  EXPECT_EQ(fs::file_size(Path("b")), 1500u);
  File f = File::Open(Path("b"), OpenMode::ReadWrite, ec);
  f.Truncate(3, ec);
  EXPECT_EQ(f.ReadAt(0, 10, ec), "aaa");
}

TEST_F(FileTest, GatheredWriteKeepsEveryPieceInOrder) {
  std::error_code ec;
  File f = File::Open(Path("g"), OpenMode::WriteTruncate, ec);
  // More pieces than one system call takes, some of them empty.
  std::vector<std::string> texts;
  std::string expected;
  for (int i = 0; i < 200; ++i) {
    texts.push_back(i % 7 == 0 ? "" : std::string(static_cast<std::size_t>(i), static_cast<char>('a' + i % 26)));
    expected += texts.back();
  }
  std::vector<std::span<const char>> pieces(texts.begin(), texts.end());
  EXPECT_EQ(f.WriteGather(pieces, ec), expected.size());
  ASSERT_FALSE(ec);
  File r = File::Open(Path("g"), OpenMode::Read, ec);
  EXPECT_EQ(r.ReadAt(0, expected.size() + 1, ec), expected);
}

TEST_F(FileTest, GatheredWriteReportsAFullDevice) {
  std::error_code ec;
  File f = File::Open("/dev/full", OpenMode::ReadWrite, ec);
  ASSERT_FALSE(ec);
  const std::string text = "abc";
  const std::span<const char> piece(text);
  EXPECT_EQ(f.WriteGather(std::span(&piece, 1), ec), 0u);
  EXPECT_EQ(ClassifyError(ec), FileFailure::DiskFull);
}

TEST_F(FileTest, OpenFailuresAreClassified) {
  std::error_code ec;
  File f = File::Open(Path("missing/x"), OpenMode::WriteTruncate, ec);
  EXPECT_FALSE(f.IsOpen());
  EXPECT_EQ(ClassifyError(ec), FileFailure::PathNotFound);
}

struct ErrnoCase {
  int err;
  FileFailure kind;
};
class ErrnoClassification : public testing::TestWithParam<ErrnoCase> {};
TEST_P(ErrnoClassification, MapsToItsKind) {
  EXPECT_EQ(ClassifyErrno(GetParam().err), GetParam().kind);
}
INSTANTIATE_TEST_SUITE_P(
    All, ErrnoClassification,
    testing::Values(ErrnoCase{EIO, FileFailure::DeviceIOError}, ErrnoCase{ENOSPC, FileFailure::DiskFull},
                    ErrnoCase{EDQUOT, FileFailure::DiskFull}, ErrnoCase{EFBIG, FileFailure::DiskFull},
                    ErrnoCase{ENXIO, FileFailure::DeviceUnavailable},
                    ErrnoCase{ENODEV, FileFailure::DeviceUnavailable},
                    ErrnoCase{EACCES, FileFailure::PermissionDenied},
                    ErrnoCase{EPERM, FileFailure::PermissionDenied},
                    ErrnoCase{EROFS, FileFailure::PermissionDenied},
                    ErrnoCase{ENOMEDIUM, FileFailure::DiskNotReady},
                    ErrnoCase{ENOENT, FileFailure::PathNotFound},
                    ErrnoCase{ENOTDIR, FileFailure::PathNotFound},
                    ErrnoCase{EBADF, FileFailure::AccessError}));

TEST_F(FileTest, TimesKeepNanoseconds) {
  std::error_code ec;
  { File f = File::Open(Path("t"), OpenMode::WriteTruncate, ec); }
  const FileTimes set{1000000000, 123456789, 1100000000, 987654321};
  ASSERT_TRUE(SetFileTimes(Path("t"), set));
  FileTimes got;
  ASSERT_TRUE(GetFileTimes(Path("t"), got));
  EXPECT_EQ(got.access_nsec, 123456789);
  EXPECT_EQ(got.modify_sec, 1100000000);
  EXPECT_EQ(got.modify_nsec, 987654321);
}

TEST_F(FileTest, OnlyRegularFilesAreRegular) {
  std::error_code ec;
  File::Open(Path("plain"), OpenMode::WriteTruncate, ec);
  ASSERT_FALSE(ec);
  fs::create_symlink(Path("plain"), Path("link"));
  ASSERT_EQ(::mkfifo(Path("fifo").c_str(), 0600), 0);
  EXPECT_TRUE(IsRegularFile(Path("plain")));
  EXPECT_TRUE(IsRegularFile(Path("link")));
  EXPECT_FALSE(IsRegularFile(Path("fifo")));
  EXPECT_FALSE(IsRegularFile(dir_.string()));
  EXPECT_FALSE(IsRegularFile(Path("missing")));
  EXPECT_FALSE(IsRegularFile("/dev/null"));
}

}  // namespace
}  // namespace pellora::hosting
