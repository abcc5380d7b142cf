// SPDX-License-Identifier: MIT
// The C API of libdownloaders.so as a C++ host links it: failures reach the
// host as events or as the warning box, and a host may destroy a control from
// any of its callbacks.
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "downloaders.h"

namespace {

namespace fs = std::filesystem;

struct Seen {
  downloaders_downloader* control = nullptr;
  bool destroy_in_callbacks = false;
  std::vector<std::string> events;
};

void Record(void* user, std::string event) {
  auto& seen = *static_cast<Seen*>(user);
  seen.events.push_back(std::move(event));
  if (seen.destroy_in_callbacks) {
    downloaders_downloader_destroy(seen.control);
    seen.destroy_in_callbacks = false;
  }
}

downloaders_downloader_events RecordingEvents(Seen& seen) {
  downloaders_downloader_events events{};
  events.user_data = &seen;
  events.download_progress = [](void* user, int32_t* cur, int32_t* max, const char*) {
    Record(user, "progress " + std::to_string(*cur) + "/" + std::to_string(*max));
  };
  events.download_error = [](void* user, const char* file) {
    char reason[256];
    const int result = downloaders_downloader_last_error(static_cast<Seen*>(user)->control, reason,
                                                         sizeof reason, nullptr);
    Record(user, std::string("error ") + fs::path(file).filename().string() + " (" +
                     (result == DOWNLOADERS_OK ? reason : "no reason") + ")");
  };
  events.download_complete = [](void* user, int32_t* max, const char* file) {
    Record(user, "complete " + std::to_string(*max) + " " + fs::path(file).filename().string());
  };
  return events;
}

int CountWarning(void* user, const char*, int, const char*) {
  auto& seen = *static_cast<Seen*>(user);
  seen.events.push_back("warning");
  if (seen.destroy_in_callbacks) downloaders_downloader_destroy(seen.control);
  return DOWNLOADERS_ANSWER_OK;
}

class DownloaderCApi : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = fs::temp_directory_path() / ("pellora-downloaders-" + std::to_string(::getpid()));
    fs::create_directories(folder);
    ASSERT_EQ(downloaders_downloader_create(&seen.control), DOWNLOADERS_OK);
    events = RecordingEvents(seen);
    ASSERT_EQ(downloaders_downloader_set_events(seen.control, &events), DOWNLOADERS_OK);
    ASSERT_EQ(downloaders_set_message_box(CountWarning, &seen), DOWNLOADERS_OK);
  }
  void TearDown() override {
    if (!destroyed_by_test) downloaders_downloader_destroy(seen.control);
    downloaders_loop_poll();
    EXPECT_EQ(DllCanUnloadNow(), COMPONENT_OK);
    downloaders_set_message_box(nullptr, nullptr);
    fs::remove_all(folder);
  }
  void RunUntil(std::size_t count) {
    for (int i = 0; i < 250 && seen.events.size() < count; ++i) downloaders_loop_run_for(20);
  }

  fs::path folder;
  Seen seen;
  downloaders_downloader_events events{};
  bool destroyed_by_test = false;
};

TEST_F(DownloaderCApi, MissingSourceGivesErrorThenCompleteWithNothingWritten) {
  const std::string url = "file://" + (folder / "missing.bin").string();
  const std::string target = (folder / "target.bin").string();
  ASSERT_EQ(downloaders_downloader_begin_download(seen.control, url.c_str(), target.c_str()),
            DOWNLOADERS_OK);
  RunUntil(2);
  const std::string reason = "Couldn't open file " + (folder / "missing.bin").string();
  EXPECT_EQ(seen.events, (std::vector<std::string>{"error target.bin (" + reason + ")", "complete 0 target.bin"}));
  EXPECT_FALSE(fs::exists(target));
}

TEST_F(DownloaderCApi, RefusedUrlShowsTheWarningAndRaisesNothing) {
  ASSERT_EQ(downloaders_downloader_begin_download(seen.control, "gopher://127.0.0.1/",
                                                  (folder / "t").c_str()),
            DOWNLOADERS_OK);
  downloaders_loop_poll();
  EXPECT_EQ(seen.events, (std::vector<std::string>{"warning"}));
}

TEST_F(DownloaderCApi, DestroyedFromItsWarningBox) {
  seen.destroy_in_callbacks = true;
  destroyed_by_test = true;
  EXPECT_EQ(downloaders_downloader_begin_download(seen.control, "gopher://127.0.0.1/",
                                                  (folder / "t").c_str()),
            DOWNLOADERS_OK);
  EXPECT_EQ(DllCanUnloadNow(), COMPONENT_FALSE);  // goes once the loop has run
}

TEST_F(DownloaderCApi, DestroyedFromItsFirstEventRaisesNoMore) {
  const std::string url = "file://" + (folder / "missing.bin").string();
  seen.destroy_in_callbacks = true;
  destroyed_by_test = true;
  ASSERT_EQ(downloaders_downloader_begin_download(seen.control, url.c_str(),
                                                  (folder / "t.bin").c_str()),
            DOWNLOADERS_OK);
  RunUntil(1);
  downloaders_loop_run_for(50);
  EXPECT_EQ(seen.events,
            (std::vector<std::string>{"error t.bin (Couldn't open file " + (folder / "missing.bin").string() + ")"}));
}

TEST_F(DownloaderCApi, SizeItKeepsThirtyTwoPixels) {
  int32_t width = 0, height = 0;
  EXPECT_EQ(downloaders_downloader_size_it(seen.control), DOWNLOADERS_OK);
  EXPECT_EQ(downloaders_downloader_extent(seen.control, &width, &height), DOWNLOADERS_OK);
  EXPECT_EQ(width, 480);
  EXPECT_EQ(height, 480);
  EXPECT_EQ(downloaders_downloader_extent(seen.control, nullptr, &height),
            DOWNLOADERS_E_INVALID_ARGUMENT);
  EXPECT_EQ(downloaders_downloader_begin_download(nullptr, "file:///x", "/tmp/x"),
            DOWNLOADERS_E_INVALID_ARGUMENT);
  EXPECT_EQ(downloaders_downloader_begin_download(seen.control, nullptr, "/tmp/x"),
            DOWNLOADERS_E_INVALID_ARGUMENT);
}

}  // namespace
