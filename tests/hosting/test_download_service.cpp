#include "hosting/download_service.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <vector>

#include "hosting/event_loop.h"
#include "tests/support/http_peer.h"
#include "tests/support/temp_path.h"
#include "tests/capture/loop_wait.h"

namespace pellora::hosting {
namespace {

using testing_support::HttpPeer;
using testing_support::RunUntil;

struct Progress {
  std::int32_t bytes, total;
};

// Keeps every notification of the downloads started for it.
class Recorder : public DownloadListener {
 public:
  void OnDownloadProgress(const std::string& tag, std::int32_t bytes, std::int32_t total) override {
    tags.push_back(tag);
    progress.push_back({bytes, total});
  }
  void OnDownloadComplete(const std::string& tag, DownloadData d, std::int32_t total,
                          bool ok) override {
    tags.push_back(tag);
    ++completions;
    data = std::move(d);
    completed_total = total;
    succeeded = ok;
  }
  std::string Content() {
    std::string out(static_cast<std::size_t>(data.Size()), '\0');
    std::error_code ec;
    out.resize(data.ReadAt(0, std::span<char>(out.data(), out.size()), ec));
    return out;
  }

  std::vector<std::string> tags;
  std::vector<Progress> progress;
  int completions = 0;
  DownloadData data;
  std::int32_t completed_total = -1;
  bool succeeded = false;
};

class DownloadServiceTest : public ::testing::Test {
 protected:
  std::shared_ptr<Recorder> Download(const std::string& url, bool newest_copy = true) {
    auto recorder = std::make_shared<Recorder>();
    DownloadRequest request{url, DownloadResultKind::ByteArray, "tag", newest_copy, ::testing::TempDir(),
                            recorder};
    EXPECT_FALSE(service.Start(request).has_value()) << url;
    EXPECT_TRUE(RunUntil(loop, [&] { return recorder->completions > 0; })) << url;
    return recorder;
  }

  HttpPeer peer;
  EventLoop loop;
  DownloadService service{loop};
};

struct Outcome {
  const char* path;
  bool succeeded;
  std::size_t bytes;       // of the body, when it succeeded
  bool size_announced;     // progress carries the total
};

class DownloadOutcome : public DownloadServiceTest, public ::testing::WithParamInterface<Outcome> {};

TEST_P(DownloadOutcome, NotifiesProgressThenOneCompletion) {
  const Outcome& o = GetParam();
  ASSERT_NE(peer.Port(), 0);
  const auto r = Download(peer.Url(o.path));
  EXPECT_EQ(r->completions, 1);
  EXPECT_EQ(r->succeeded, o.succeeded);
  EXPECT_EQ(r->completed_total, o.succeeded ? static_cast<std::int32_t>(o.bytes) : 0);
  if (o.succeeded) {
    EXPECT_EQ(r->Content(), HttpPeer::Body(o.bytes));
  } else {
    EXPECT_FALSE(r->data.IsOpen());
  }
  std::int32_t last = 0;
  for (const Progress& p : r->progress) {
    EXPECT_GE(p.bytes, last);
    last = p.bytes;
    EXPECT_EQ(p.total, o.size_announced ? static_cast<std::int32_t>(o.bytes) : 0);
  }
  if (!o.succeeded) {
    EXPECT_TRUE(r->progress.empty());
  }
  if (o.succeeded && o.bytes > 0) {
    ASSERT_FALSE(r->progress.empty());
    EXPECT_EQ(r->progress.back().bytes, static_cast<std::int32_t>(o.bytes));
  }
  for (const std::string& tag : r->tags) EXPECT_EQ(tag, "tag");
}

INSTANTIATE_TEST_SUITE_P(
    Loopback, DownloadOutcome,
    ::testing::Values(Outcome{"/sized/300000", true, 300000, true},
                      Outcome{"/sized/0", true, 0, true},
                      Outcome{"/chunked/200000", true, 200000, false},
                      Outcome{"/redirect/70000", true, 70000, true},
                      Outcome{"/missing", false, 0, false},
                      Outcome{"/redirect-to-file", false, 0, false},
                      Outcome{"/choices", false, 0, false}));

TEST_F(DownloadServiceTest, ReadsLocalFiles) {
  const std::string path = testing_support::UniqueTempPath("service-source.bin");
  std::ofstream(path, std::ios::binary) << HttpPeer::Body(123457);
  const auto r = Download("file://" + path);
  std::remove(path.c_str());
  EXPECT_TRUE(r->succeeded);
  EXPECT_EQ(r->completed_total, 123457);
  EXPECT_EQ(r->Content(), HttpPeer::Body(123457));
}

TEST_F(DownloadServiceTest, NewestCopyAsksCachesToRevalidate) {
  EXPECT_EQ(Download(peer.Url("/cache-headers"), true)->Content(), "Cache-Control=no-cache;Pragma=no-cache");
  EXPECT_EQ(Download(peer.Url("/cache-headers"), false)->Content(), "Cache-Control=None;Pragma=None");
}

TEST_F(DownloadServiceTest, NoServerIsAFailure) {
  // A port on which nothing listens any more: that of a server that has ended.
  std::string url;
  {
    HttpPeer ended;
    url = ended.Url("/sized/10");
  }
  const auto r = Download(url);
  EXPECT_FALSE(r->succeeded);
  EXPECT_EQ(r->completed_total, 0);
}

struct Refusal {
  const char* url;
  std::int32_t number;
  const char* description;
};

class StartRefusal : public DownloadServiceTest, public ::testing::WithParamInterface<Refusal> {};

TEST_P(StartRefusal, RefusesAtOnceAndNotifiesNothing) {
  auto recorder = std::make_shared<Recorder>();
  DownloadRequest request{GetParam().url, DownloadResultKind::ByteArray, "tag", true, "", recorder};
  const auto refused = service.Start(request);
  ASSERT_TRUE(refused.has_value());
  EXPECT_EQ(refused->number, GetParam().number);
  EXPECT_EQ(refused->description, GetParam().description);
  EXPECT_EQ(service.RunningCount(), 0u);
  loop.run_for(std::chrono::milliseconds(50));
  EXPECT_TRUE(recorder->tags.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Urls, StartRefusal,
    ::testing::Values(Refusal{"gopher://example.org/x", 1, "Unsupported protocol"},
                      Refusal{"ftp://example.org/x", 1, "Unsupported protocol"},
                      Refusal{"nonsense://example.org/x", 1, "Unsupported protocol"},
                      Refusal{"no url at all", 3, "URL using bad/illegal format or missing URL"},
                      Refusal{"", 3, "URL using bad/illegal format or missing URL"}));

TEST_F(DownloadServiceTest, AbandonsTheDownloadsOfAListenerThatHasGone) {
  auto recorder = std::make_shared<Recorder>();
  DownloadRequest request{peer.Url("/slow/400000"), DownloadResultKind::ByteArray, "tag", true,
                          ::testing::TempDir(), recorder};
  ASSERT_FALSE(service.Start(request).has_value());
  ASSERT_TRUE(RunUntil(loop, [&] { return !recorder->progress.empty(); }));
  std::weak_ptr<Recorder> watch = recorder;
  recorder.reset();
  EXPECT_TRUE(RunUntil(loop, [&] { return service.RunningCount() == 0; }));
  EXPECT_TRUE(watch.expired());
}

TEST(DownloadCounts, SaturateAtTheLargest32BitNumber) {
  const std::pair<std::int64_t, std::int32_t> cases[] = {
      {-1, 0},  // unknown
      {0, 0},
      {1234, 1234},
      {2147483647, 2147483647},
      {2147483648, 2147483647},
      {std::int64_t{1} << 40, 2147483647},
  };
  for (const auto& [count, carried] : cases) EXPECT_EQ(SaturateToInt32(count), carried) << count;
}

}  // namespace
}  // namespace pellora::hosting
