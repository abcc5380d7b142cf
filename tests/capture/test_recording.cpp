// SPDX-License-Identifier: MIT
// Recording the audio into files: positions, state changes and file failures.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>

#include "capture/torvane.h"
#include "hosting/event_loop.h"
#include "tests/capture/event_log.h"
#include "tests/support/files.h"
#include "tests/support/scripted_socket.h"
#include "tests/support/temp_path.h"

namespace pellora::capture {
namespace {

using testing_support::ScriptedSite;
using Events = std::vector<std::string>;

using testing_support::ReadFile;

using testing_support::WriteFile;

class Recording : public ::testing::Test {
 protected:
  Recording() : site(loop), control(site.Create<Torvane>()) {
    control->SetEvents(&log);
    control->Connect("h:8000");
    site.socket->Accept();
    site.socket->Deliver("ICY 200 OK\r\n\r\n");  // no metadata: every body byte is audio
    log.events.clear();
  }
  ~Recording() override { std::remove(path.c_str()); }

  hosting::EventLoop loop;
  ScriptedSite site;
  std::shared_ptr<Torvane> control;
  EventLog log;
  std::string path = testing_support::TempPathForCurrentTest("recording_", ".mp3");
};

TEST_F(Recording, AppendKeepsTheOldBytesInFront) {
  const std::string old(1000, 'o'), audio(500, 'a');
  WriteFile(path, old);
  control->StartWriting(path, true);
  site.socket->Deliver(audio);
  EXPECT_EQ(ReadFile(path), old + audio);
  EXPECT_EQ(control->WrittenBytes(), 500);
}

TEST_F(Recording, OverwriteStartsAtTheFirstByteAndNeverShortens) {
  const std::string old(1000, 'o'), audio(500, 'a');
  WriteFile(path, old);
  control->StartWriting(path);
  site.socket->Deliver(audio);
  EXPECT_EQ(ReadFile(path), audio + old.substr(500));
}

TEST_F(Recording, StartAndStopRaiseStateChanged) {
  control->StartWriting(path);
  EXPECT_TRUE(control->IsWriting());
  site.socket->Deliver("abc");
  control->StopWriting();
  EXPECT_FALSE(control->IsWriting());
  EXPECT_EQ(control->WrittenBytes(), 0);
  control->StopWriting();
  EXPECT_EQ(log.events, (Events{"StateChanged", "StateChanged"}));
  site.socket->Deliver("def");
  EXPECT_EQ(ReadFile(path), "abc");
}

TEST_F(Recording, StartWhileRecordingSwitchesFiles) {
  const std::string second = path + ".2";
  control->StartWriting(path);
  site.socket->Deliver("abc");
  control->StartWriting(second);
  EXPECT_EQ(control->WrittenBytes(), 0);
  site.socket->Deliver("de");
  EXPECT_EQ(log.events, (Events{"StateChanged", "StateChanged", "StateChanged"}));
  EXPECT_EQ(ReadFile(path), "abc");
  EXPECT_EQ(ReadFile(second), "de");
  EXPECT_EQ(control->WrittenBytes(), 2);
  control->StopWriting();
  std::remove(second.c_str());
}

TEST_F(Recording, EmptyNameOnlyStops) {
  control->StartWriting(path);
  log.events.clear();
  control->StartWriting("");
  EXPECT_EQ(log.events, Events{"StateChanged"});
  EXPECT_FALSE(control->IsWriting());
}

TEST_F(Recording, DisconnectWhileRecordingRaisesTwice) {
  control->StartWriting(path);
  log.events.clear();
  control->Disconnect();
  EXPECT_EQ(log.events, (Events{"StateChanged", "StateChanged"}));
  EXPECT_FALSE(control->IsWriting());
  EXPECT_EQ(control->WrittenBytes(), 0);
}

TEST_F(Recording, SocketErrorWhileRecording) {
  control->StartWriting(path);
  log.events.clear();
  site.socket->Fail(104, "Connection reset by peer");
  EXPECT_EQ(log.events,
            (Events{"StateChanged", "StateChanged", "Error:1:104:Connection reset by peer"}));
}

TEST_F(Recording, PeerCloseEndsLikeDisconnect) {
  control->StartWriting(path);
  site.socket->Deliver("abc");
  log.events.clear();
  site.socket->PeerClose();
  EXPECT_EQ(log.events, (Events{"StateChanged", "StateChanged"}));  // IsWriting, then IsConnected
  EXPECT_FALSE(control->IsWriting());
  EXPECT_FALSE(control->IsConnected());
  EXPECT_TRUE(control->StreamEnded());
  EXPECT_EQ(ReadFile(path), "abc");
  control->Connect("h:8000");
  EXPECT_FALSE(control->StreamEnded());
}

TEST_F(Recording, FallbackOpenedByTheErrorHandlerStaysOpen) {
  log.react = [&](const std::string& e) {
    if (e.starts_with("Error:2:")) control->StartWriting(path);
  };
  control->StartWriting(path + ".missing/dir/x.mp3");
  EXPECT_EQ(log.events, (Events{"Error:2:27:Path not Found", "StateChanged"}));
  EXPECT_TRUE(control->IsWriting());
  site.socket->Deliver("abc");
  EXPECT_EQ(ReadFile(path), "abc");
}

TEST_F(Recording, WorksBeforeAnyConnection) {
  control->Disconnect();
  control->StartWriting(path);
  EXPECT_TRUE(control->IsWriting());
  control->Connect("h:8000");
  site.socket->Accept();
  site.socket->Deliver("ICY 200 OK\r\n\r\nxyz");
  EXPECT_EQ(ReadFile(path), "xyz");
}

// Creating a file where even root may not: sysfs refuses new files.
std::string UnwritablePath(const std::string& scratch) {
  if (::geteuid() == 0) return "/sys/pellora-recording-test";
  WriteFile(scratch, "");
  ::chmod(scratch.c_str(), 0444);
  return scratch;
}

struct StartFailure {
  const char* name;
  std::string (*path)(const std::string& scratch);
  const char* error;
};

class RecordingStartFailure : public Recording, public ::testing::WithParamInterface<StartFailure> {};

TEST_P(RecordingStartFailure, ReportsThenStateChanged) {
  control->StartWriting(GetParam().path(path));
  EXPECT_EQ(log.events, (Events{GetParam().error, "StateChanged"}));
  EXPECT_FALSE(control->IsWriting());
}

INSTANTIATE_TEST_SUITE_P(
    Files, RecordingStartFailure,
    ::testing::Values(
        StartFailure{"MissingDirectory",
                     [](const std::string& p) { return p + ".missing/dir/file.mp3"; },
                     "Error:2:27:Path not Found"},
        StartFailure{"NotADirectory", [](const std::string&) { return std::string("/dev/null/x.mp3"); },
                     "Error:2:27:Path not Found"},
        StartFailure{"ReadOnly", UnwritablePath, "Error:2:25:Permission Denied"},
        StartFailure{"Directory", [](const std::string&) { return ::testing::TempDir(); },
                     "Error:2:26:Access Error"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Recording, FullDiskStopsTheRecording) {
  control->StartWriting("/dev/full");
  ASSERT_TRUE(control->IsWriting());
  log.events.clear();
  site.socket->Deliver("audio");
  EXPECT_EQ(log.events, (Events{"StateChanged", "Error:2:24:Disk Full"}));
  EXPECT_FALSE(control->IsWriting());
  EXPECT_EQ(control->WrittenBytes(), 0);
  site.socket->Deliver("more");
  EXPECT_EQ(log.events.size(), 2u);  // later chunks are not written
  EXPECT_EQ(control->ReceivedBytes(), 14 + 9);
}

}  // namespace
}  // namespace pellora::capture
