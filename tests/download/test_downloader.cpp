// SPDX-License-Identifier: MIT
#include "download/downloader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <vector>

#include "hosting/event_loop.h"
#include "tests/support/http_peer.h"
#include "tests/capture/loop_wait.h"
#include "tests/support/test_folder.h"

namespace pellora::download {
namespace {

namespace fs = std::filesystem;
using testing_support::HttpPeer;
using testing_support::RunUntil;
using testing_support::TestFolder;
using testing_support::ReadWholeFile;

struct Event {
  std::string name;  // "Progress", "Error", "Complete"
  std::int32_t cur = 0, max = 0;
  std::string file;
};

// Writes down every event; changes the by-reference arguments to show that the
// control does not care.
class Recorder : public DownloaderEvents {
 public:
  void DownloadProgress(std::int32_t& CurBytes, std::int32_t& MaxBytes, std::string& SaveFile) override {
    events.push_back({"Progress", CurBytes, MaxBytes, SaveFile});
    SaveFile = "changed";
  }
  void DownloadError(std::string& SaveFile) override {
    events.push_back({"Error", 0, 0, SaveFile});
    SaveFile = "changed";
  }
  void DownloadComplete(std::int32_t& MaxBytes, std::string& SaveFile) override {
    events.push_back({"Complete", 0, MaxBytes, SaveFile});
    ++completions;
    MaxBytes = -1;
  }
  // The events of one download, progress events left out.
  std::vector<std::string> Outcome(const std::string& file) const {
    std::vector<std::string> out;
    for (const Event& e : events)
      if (e.file == file && e.name != "Progress")
        out.push_back(e.name == "Error" ? e.name : e.name + " " + std::to_string(e.max));
    return out;
  }
  std::vector<Event> events;
  int completions = 0;
};

// Answers every message box and keeps what it was asked.
class ScriptedDialogs : public hosting::Dialogs {
 public:
  struct Box {
    std::string text;
    int style;
    std::string title;
  };
  int MessageBox(std::string_view text, int style, std::string_view title) override {
    boxes.push_back({std::string(text), style, std::string(title)});
    return hosting::kAnswerOk;
  }
  void ShowModal(hosting::ModalWindow&) override {}
  bool OpenUrl(const std::string&) override { return false; }
  std::vector<Box> boxes;
};

class DownloaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    control = site.Create<Downloader>(service);
    control->SetEvents(&recorder);
  }
  std::string Target(const std::string& name) const { return (folder / name).string(); }
  void Download(const std::string& path, const std::string& file) {
    const int before = recorder.completions;
    control->BeginDownload(peer.Url(path), file);
    EXPECT_TRUE(RunUntil(loop, [&] { return recorder.completions > before; }));
  }
  std::vector<Event> ProgressOf(const std::string& file) const {
    std::vector<Event> out;
    for (const Event& e : recorder.events)
      if (e.file == file && e.name == "Progress") out.push_back(e);
    return out;
  }

  HttpPeer peer;
  hosting::EventLoop loop;
  hosting::DownloadService service{loop};
  ScriptedDialogs dialogs;
  hosting::Site site{loop, &dialogs};
  Recorder recorder;
  std::shared_ptr<Downloader> control;
  TestFolder test_folder{"downloader-"};
  const fs::path& folder = test_folder.Path();
};

TEST_F(DownloaderTest, SizedFileReportsGrowingProgressThenCompletes) {
  const std::string file = Target("sized.bin");
  Download("/slow/250000", file);
  const auto progress = ProgressOf(file);
  ASSERT_GE(progress.size(), 2u);
  for (std::size_t i = 0; i < progress.size(); ++i) {
    EXPECT_EQ(progress[i].max, 250000);
    if (i > 0) {
      EXPECT_GT(progress[i].cur, progress[i - 1].cur);
    }
  }
  EXPECT_EQ(progress.back().cur, 250000);
  EXPECT_EQ(recorder.Outcome(file), (std::vector<std::string>{"Complete 250000"}));
  EXPECT_EQ(recorder.events.back().name, "Complete");
  EXPECT_EQ(ReadWholeFile(file), HttpPeer::Body(250000));
}

struct Case {
  const char* name;
  const char* path;
  std::vector<std::string> outcome;
  std::size_t bytes;  // of the file left, when one is expected
  bool file_expected;
};

class DownloaderOutcome : public DownloaderTest, public ::testing::WithParamInterface<Case> {};

TEST_P(DownloaderOutcome, RaisesTheEventsAndLeavesTheFile) {
  const Case& c = GetParam();
  const std::string file = Target("out.bin");
  Download(c.path, file);
  EXPECT_EQ(recorder.Outcome(file), c.outcome);
  EXPECT_EQ(fs::exists(file), c.file_expected);
  if (c.file_expected) {
    EXPECT_EQ(ReadWholeFile(file), HttpPeer::Body(c.bytes));
  }
  for (const Event& e : ProgressOf(file)) EXPECT_NE(e.max, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Loopback, DownloaderOutcome,
    ::testing::Values(
        Case{"ChunkedWithoutSize", "/chunked/150000", {"Complete 150000"}, 150000, true},
        Case{"NotFound", "/missing", {"Error", "Complete 0"}, 0, false},
        Case{"Redirect", "/redirect/99999", {"Complete 99999"}, 99999, true},
        Case{"RedirectToLocalFile", "/redirect-to-file", {"Error", "Complete 0"}, 0, false},
        Case{"EmptyResource", "/sized/0", {"Complete 0"}, 0, true}),
    [](const auto& info) { return info.param.name; });

TEST_F(DownloaderTest, DestroyedMidDownloadAbandonsItAtOnce) {
  const std::string file = Target("stalled.bin");
  control->BeginDownload(peer.Url("/stall/5000"), file);
  ASSERT_TRUE(RunUntil(loop, [&] { return !ProgressOf(file).empty(); }));
  ASSERT_EQ(service.RunningCount(), 1u);
  site.TerminateControl();
  control.reset();
  EXPECT_EQ(service.RunningCount(), 0u);
  EXPECT_TRUE(fs::is_empty(folder)) << "the spool file stayed";
  EXPECT_EQ(recorder.completions, 0);
}

TEST_F(DownloaderTest, ChunkedDownloadRaisesNoProgress) {
  const std::string file = Target("chunked.bin");
  Download("/chunked/300000", file);
  EXPECT_TRUE(ProgressOf(file).empty());
}

TEST_F(DownloaderTest, MissingFolderIsAnErrorNotASuccess) {
  const std::string file = Target("no-such-folder/out.bin");
  Download("/sized/1000", file);
  EXPECT_EQ(recorder.Outcome(file), (std::vector<std::string>{"Error", "Complete 1000"}));
  EXPECT_FALSE(fs::exists(file));
  EXPECT_TRUE(dialogs.boxes.empty());
}

TEST_F(DownloaderTest, TargetThatIsAFolderIsAnErrorAndStaysAFolder) {
  const std::string file = Target("a-folder");
  fs::create_directory(file);
  Download("/sized/1000", file);
  EXPECT_EQ(recorder.Outcome(file), (std::vector<std::string>{"Error", "Complete 1000"}));
  EXPECT_TRUE(fs::is_directory(file));
  EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);
}

TEST_F(DownloaderTest, LongerOldFileKeepsNoStaleBytes) {
  const std::string file = Target("old.bin");
  std::ofstream(file, std::ios::binary) << std::string(500000, 'x');
  Download("/sized/1234", file);
  EXPECT_EQ(ReadWholeFile(file), HttpPeer::Body(1234));
}

TEST_F(DownloaderTest, TwoDownloadsAtOnceEachNamedByItsPath) {
  const std::string first = Target("first.bin"), second = Target("second.bin");
  control->BeginDownload(peer.Url("/slow/200000"), first);
  control->BeginDownload(peer.Url("/slow/300000"), second);
  ASSERT_TRUE(RunUntil(loop, [&] { return recorder.completions == 2; }));
  EXPECT_EQ(recorder.Outcome(first), (std::vector<std::string>{"Complete 200000"}));
  EXPECT_EQ(recorder.Outcome(second), (std::vector<std::string>{"Complete 300000"}));
  for (const Event& e : ProgressOf(first)) EXPECT_EQ(e.max, 200000);
  for (const Event& e : ProgressOf(second)) EXPECT_EQ(e.max, 300000);
  // They ran side by side: the second made progress before the first was done.
  const auto first_done = std::find_if(recorder.events.begin(), recorder.events.end(), [&](const Event& e) {
    return e.name == "Complete" && e.file == first;
  });
  EXPECT_TRUE(std::any_of(recorder.events.begin(), first_done,
                          [&](const Event& e) { return e.file == second; }));
  EXPECT_EQ(ReadWholeFile(first), HttpPeer::Body(200000));
  EXPECT_EQ(ReadWholeFile(second), HttpPeer::Body(300000));
}

TEST_F(DownloaderTest, RefusedStartShowsTheWarningAndRaisesNothing) {
  const std::string file = Target("never.bin");
  control->BeginDownload("gopher://127.0.0.1/x", file);
  loop.run_for(std::chrono::milliseconds(100));
  ASSERT_EQ(dialogs.boxes.size(), 1u);
  EXPECT_EQ(dialogs.boxes[0].text,
            "1:Error in call to BeginDownload().\r\n\r\nError Description: Unsupported protocol");
  EXPECT_EQ(dialogs.boxes[0].style, hosting::kMbOk | hosting::kMbIconCritical);
  EXPECT_EQ(dialogs.boxes[0].title, "Warning");
  EXPECT_TRUE(recorder.events.empty());
  EXPECT_FALSE(fs::exists(file));
}

TEST_F(DownloaderTest, HandlerMayDropTheControl) {
  struct Dropper : Recorder {
    std::shared_ptr<Downloader>* control = nullptr;
    void DownloadProgress(std::int32_t& c, std::int32_t& m, std::string& f) override {
      Recorder::DownloadProgress(c, m, f);
      control->reset();
    }
  } dropper;
  dropper.control = &control;
  control->SetEvents(&dropper);
  control->BeginDownload(peer.Url("/slow/200000"), Target("dropped.bin"));
  ASSERT_TRUE(RunUntil(loop, [&] { return !dropper.events.empty(); }));
  EXPECT_TRUE(RunUntil(loop, [&] { return service.RunningCount() == 0; }));
  EXPECT_EQ(dropper.events.size(), 1u);
}

TEST(DownloaderWarning, TextHasThreeLines) {
  EXPECT_EQ(WarningText("SizeIt", -5, "Bad"), "-5:Error in call to SizeIt().\r\n\r\nError Description: Bad");
}

class DownloaderSize : public ::testing::TestWithParam<hosting::Extent> {};

TEST_P(DownloaderSize, ResizingKeepsThirtyTwoPixelsSquare) {
  hosting::EventLoop loop;
  hosting::DownloadService service(loop);
  hosting::Site site(loop);
  const auto control = site.Create<Downloader>(service);
  EXPECT_EQ(site.GetExtent(), (hosting::Extent{480, 480}));
  site.SetExtent(GetParam());
  EXPECT_EQ(site.GetExtent(), (hosting::Extent{480, 480}));
  site.SetWidth(GetParam().width + 15);
  EXPECT_EQ(site.GetExtent(), (hosting::Extent{480, 480}));
}

INSTANTIATE_TEST_SUITE_P(Extents, DownloaderSize,
                         ::testing::Values(hosting::Extent{0, 0}, hosting::Extent{3000, 2000},
                                           hosting::Extent{480, 15}, hosting::Extent{-30, 480}));

}  // namespace
}  // namespace pellora::download
