// SPDX-License-Identifier: MIT
#include "hosting/download_data.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "tests/support/test_folder.h"

namespace pellora::hosting {
namespace {

namespace fs = std::filesystem;

using testing_support::ReadWholeFile;
using testing_support::TestFolder;

class DownloadDataTest : public ::testing::Test {
 protected:
  DownloadData Spool(const std::string& directory, const std::string& content) {
    std::error_code ec;
    DownloadData data = DownloadData::CreateSpool(directory, ec);
    EXPECT_FALSE(ec) << ec.message();
    data.Append(content, ec);
    EXPECT_FALSE(ec) << ec.message();
    return data;
  }
  std::size_t EntriesIn(const fs::path& dir) {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir), fs::directory_iterator()));
  }

  TestFolder test_folder{"download-data-"};
  const fs::path& folder = test_folder.Path();
};

TEST_F(DownloadDataTest, SpoolsNextToTheTargetAndReadsBack) {
  DownloadData data = Spool(folder, "0123456789");
  EXPECT_EQ(fs::path(data.SpoolPath()).parent_path(), folder);
  EXPECT_EQ(data.Size(), 10);
  std::string part(4, '\0');
  std::error_code ec;
  EXPECT_EQ(data.ReadAt(7, std::span<char>(part.data(), part.size()), ec), 3u);
  EXPECT_EQ(part.substr(0, 3), "789");
}

TEST_F(DownloadDataTest, FallsBackToTheTemporaryFolder) {
  DownloadData data = Spool((folder / "no-such-folder").string(), "x");
  EXPECT_TRUE(data.IsOpen());
  EXPECT_NE(fs::path(data.SpoolPath()).parent_path(), folder / "no-such-folder");
}

TEST_F(DownloadDataTest, UnsavedSpoolIsRemoved) {
  { DownloadData data = Spool(folder, "abc"); }
  EXPECT_EQ(EntriesIn(folder), 0u);
}

// The rename path (spool beside the target) and the copy path (spool elsewhere)
// give the same results.
class SaveAs : public DownloadDataTest, public ::testing::WithParamInterface<bool> {
 protected:
  // Elsewhere is a tmpfs when there is one, so that saving has to copy.
  std::string SpoolFolder() {
    if (GetParam()) return folder.string();
    return fs::is_directory("/dev/shm") ? "/dev/shm" : ::testing::TempDir();
  }
};

TEST_P(SaveAs, ReplacesALongerFileLeavingNoStaleBytes) {
  const fs::path target = folder / "target.bin";
  std::ofstream(target, std::ios::binary) << std::string(5000, 'o');
  ::chmod(target.c_str(), 0640);
  DownloadData data = Spool(SpoolFolder(), "new content");
  std::error_code ec;
  data.SaveAs(target.string(), ec);
  EXPECT_FALSE(ec) << ec.message();
  EXPECT_EQ(ReadWholeFile(target), "new content");
  EXPECT_EQ(fs::status(target).permissions(), fs::perms(0640));
  data = DownloadData();
  EXPECT_EQ(EntriesIn(folder), 1u);  // no spool left behind
}

TEST_P(SaveAs, CreatesAMissingFile) {
  const fs::path target = folder / "new.bin";
  DownloadData data = Spool(SpoolFolder(), std::string(300000, 'z'));
  std::error_code ec;
  data.SaveAs(target.string(), ec);
  EXPECT_FALSE(ec) << ec.message();
  EXPECT_EQ(ReadWholeFile(target), std::string(300000, 'z'));
}

TEST_P(SaveAs, WritesThroughASymbolicLink) {
  const fs::path real = folder / "real.bin";
  const fs::path link = folder / "link.bin";
  std::ofstream(real, std::ios::binary) << "old old old";
  fs::create_symlink(real, link);
  DownloadData data = Spool(SpoolFolder(), "new");
  std::error_code ec;
  data.SaveAs(link.string(), ec);
  EXPECT_FALSE(ec) << ec.message();
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(ReadWholeFile(real), "new");
}

// A write that cannot complete (a file-size limit stands in for a full disk) leaves
// the file that a symbolic link leads to with its old content, or the whole new.
TEST_P(SaveAs, LinkedTargetKeepsOldOrWholeNewContentWhenWritesFail) {
  const fs::path real = fs::path(SpoolFolder()) / ("linked-" + std::to_string(::getpid()) + ".bin");
  const fs::path link = folder / "link.bin";
  const std::string old_content(100000, 'o'), new_content(300000, 'n');
  std::ofstream(real, std::ios::binary) << old_content;
  fs::create_symlink(real, link);
  DownloadData data = Spool(folder.string(), new_content);
  std::error_code ec;
  data.Flush(ec);
  rlimit saved{};
  ::getrlimit(RLIMIT_FSIZE, &saved);
  const auto saved_handler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit limited = saved;
  limited.rlim_cur = 200000;
  ::setrlimit(RLIMIT_FSIZE, &limited);
  data.SaveAs(link.string(), ec);
  ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, saved_handler);
  const std::string now = ReadWholeFile(real);
  fs::remove(real);
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_TRUE(now == old_content || (now == new_content && !ec)) << now.size() << " bytes, " << ec.message();
}

TEST_P(SaveAs, FailsForAMissingFolderOrAFolder) {
  DownloadData data = Spool(SpoolFolder(), "data");
  std::error_code ec;
  data.SaveAs((folder / "missing" / "x.bin").string(), ec);
  EXPECT_TRUE(ec);
  data.SaveAs(folder.string(), ec);
  EXPECT_TRUE(ec);
  EXPECT_TRUE(fs::is_directory(folder));
}

TEST_P(SaveAs, FailsForAReadOnlyFileAndKeepsIt) {
  if (::geteuid() == 0) GTEST_SKIP() << "root may write read-only files";
  const fs::path target = folder / "locked.bin";
  std::ofstream(target, std::ios::binary) << "keep me";
  ::chmod(target.c_str(), 0444);
  DownloadData data = Spool(SpoolFolder(), "data");
  std::error_code ec;
  data.SaveAs(target.string(), ec);
  EXPECT_TRUE(ec);
  EXPECT_EQ(ReadWholeFile(target), "keep me");
}

INSTANTIATE_TEST_SUITE_P(SpoolPlace, SaveAs, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Beside" : "Elsewhere"; });

}  // namespace
}  // namespace pellora::hosting
