// SPDX-License-Identifier: MIT
#include "hosting/download_service.h"

#include <gtest/gtest.h>

#include <unistd.h>

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
  void OnDownloadFailed(const std::string& tag, const DownloadFailure& why) override {
    tags.push_back(tag);
    failures.push_back(why);
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
  std::vector<DownloadFailure> failures;
  int completions = 0;
  DownloadData data;
  std::int32_t completed_total = -1;
  bool succeeded = false;
};

class DownloadServiceTest : public ::testing::Test {
 protected:
  std::shared_ptr<Recorder> Download(const std::string& url, bool newest_copy = true,
                                     std::chrono::seconds stall_timeout = std::chrono::seconds(60)) {
    auto recorder = std::make_shared<Recorder>();
    DownloadRequest request{url, DownloadResultKind::ByteArray, "tag", newest_copy, ::testing::TempDir(),
                            recorder};
    request.stall_timeout = stall_timeout;
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
  EXPECT_EQ(r->failures.size(), o.succeeded ? 0u : 1u);
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

// Each failure says what kind of fault it was, and why, in one line.
TEST_F(DownloadServiceTest, FailuresSayWhy) {
  std::string ended_url;
  {
    HttpPeer ended;
    ended_url = ended.Url("/sized/10");
  }
  struct Case {
    std::string url;
    DownloadFailureKind kind;
    long status;
    std::string says;
  };
  const Case cases[] = {
      {peer.Url("/missing"), DownloadFailureKind::Refused, 404, "the server answered HTTP status 404"},
      {peer.Url("/choices"), DownloadFailureKind::Refused, 300, "HTTP status 300 (a redirection without"},
      {peer.Url("/redirect-to-file"), DownloadFailureKind::Refused, 302, "HTTP status 302, a redirection to a scheme other than http or https"},
      {ended_url, DownloadFailureKind::Network, 0, "Failed to connect to 127.0.0.1 port"},
      {peer.Url("/redirect-to-closed"), DownloadFailureKind::Network, 0,
       "redirected to http://127.0.0.1:1/gone: Failed to connect to 127.0.0.1 port 1"},
      {peer.Url("/stall/1000"), DownloadFailureKind::Network, 0, "stalled: less than a byte a second for 1 s"},
      {"file://" + ::testing::TempDir(), DownloadFailureKind::File, 0, "Is a directory"},
      {"file:///no/such/file", DownloadFailureKind::File, 0, "Couldn't open file /no/such/file"},
  };
  for (const Case& c : cases) {
    const auto r = Download(c.url, true, std::chrono::seconds(1));
    ASSERT_EQ(r->failures.size(), 1u) << c.url;
    EXPECT_FALSE(r->succeeded) << c.url;
    EXPECT_EQ(r->failures[0].kind, c.kind) << c.url;
    if (c.status) {
      EXPECT_EQ(r->failures[0].http_status, c.status) << c.url;
    }
    EXPECT_NE(r->failures[0].description.find(c.says), std::string::npos) << r->failures[0].description;
    EXPECT_EQ(r->failures[0].description.find('\n'), std::string::npos) << c.url;
  }
}

TEST_F(DownloadServiceTest, StreamsToADescriptorInsteadOfASpool) {
  int pipe_ends[2];
  ASSERT_EQ(::pipe(pipe_ends), 0);
  auto recorder = std::make_shared<Recorder>();
  DownloadRequest request{peer.Url("/sized/20000"), DownloadResultKind::ByteArray, "tag", true,
                          ::testing::TempDir(), recorder};
  request.output_descriptor = pipe_ends[1];
  ASSERT_FALSE(service.Start(request).has_value());
  ASSERT_TRUE(RunUntil(loop, [&] { return recorder->completions > 0; }));
  ::close(pipe_ends[1]);
  std::string streamed(30000, '\0');
  std::size_t got = 0;
  for (ssize_t n; (n = ::read(pipe_ends[0], streamed.data() + got, streamed.size() - got)) > 0;) got += n;
  ::close(pipe_ends[0]);
  EXPECT_TRUE(recorder->succeeded);
  EXPECT_EQ(recorder->completed_total, 20000);
  EXPECT_FALSE(recorder->data.IsOpen());
  EXPECT_EQ(streamed.substr(0, got), HttpPeer::Body(20000));
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

TEST_F(DownloadServiceTest, AbandonForEndsAStalledDownloadAtOnce) {
  auto recorder = std::make_shared<Recorder>();
  DownloadRequest request{peer.Url("/stall/5000"), DownloadResultKind::ByteArray, "tag", true,
                          ::testing::TempDir(), recorder};
  ASSERT_FALSE(service.Start(request).has_value());
  ASSERT_TRUE(RunUntil(loop, [&] { return !recorder->progress.empty(); }));
  service.AbandonFor(recorder.get());
  EXPECT_EQ(service.RunningCount(), 0u);
  EXPECT_EQ(recorder->completions, 0);
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
