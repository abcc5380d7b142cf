// SPDX-License-Identifier: MIT
// The C API of libpellora.so as a C++ host links it: result codes, strings out,
// re-entrant destruction, registration records.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "pellora.h"
#include "tests/support/loopback_port.h"

namespace {

namespace fs = std::filesystem;

using pellora::testing_support::UnusedLoopbackPort;

struct Seen {
  pellora_torvane* control = nullptr;
  bool destroy_on_error = false;
  std::vector<std::string> events;
};

pellora_torvane_events RecordingEvents(Seen& seen) {
  pellora_torvane_events events{};
  events.user_data = &seen;
  events.state_changed = [](void* user) { static_cast<Seen*>(user)->events.push_back("state"); };
  events.error = [](void* user, int32_t* type, int32_t* code, const char*, size_t) {
    auto& seen = *static_cast<Seen*>(user);
    seen.events.push_back("error " + std::to_string(*type) + " " + std::to_string(*code));
    *type = 0;  // changes through the references are ignored
    if (seen.destroy_on_error) pellora_torvane_destroy(seen.control);
  };
  return events;
}

class TorvaneCApi : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(pellora_torvane_create(&control), PELLORA_OK); }
  void TearDown() override {
    pellora_torvane_destroy(control);
    EXPECT_EQ(DllCanUnloadNow(), COMPONENT_OK);
  }
  pellora_torvane* control = nullptr;
};

TEST_F(TorvaneCApi, TextsGoOutThroughCallerBuffers) {
  ASSERT_EQ(pellora_torvane_set_id3_comments(control, "recorded live"), PELLORA_OK);
  size_t length = 0;
  EXPECT_EQ(pellora_torvane_get_id3_comments(control, nullptr, 0, &length), PELLORA_OK);
  EXPECT_EQ(length, 13u);
  char exact[14];
  EXPECT_EQ(pellora_torvane_get_id3_comments(control, exact, sizeof exact, nullptr), PELLORA_OK);
  EXPECT_STREQ(exact, "recorded live");
  char small[5];
  EXPECT_EQ(pellora_torvane_get_id3_comments(control, small, sizeof small, &length),
            PELLORA_E_BUFFER_TOO_SMALL);
  EXPECT_STREQ(small, "reco");
  EXPECT_EQ(length, 13u);
  EXPECT_EQ(pellora_torvane_get_id3_comments(control, small, 0, nullptr),
            PELLORA_E_BUFFER_TOO_SMALL);
}

TEST_F(TorvaneCApi, NewControlIsIdle) {
  int connected = 1, writing = 1, tagging = 1, present = 1;
  int32_t received = -1;
  int16_t bit_rate = -1;
  EXPECT_EQ(pellora_torvane_is_connected(control, &connected), PELLORA_OK);
  EXPECT_EQ(pellora_torvane_is_writing(control, &writing), PELLORA_OK);
  EXPECT_EQ(pellora_torvane_get_write_id3_tag_to_file(control, &tagging), PELLORA_OK);
  EXPECT_EQ(pellora_torvane_received_bytes(control, &received), PELLORA_OK);
  EXPECT_EQ(pellora_torvane_stream_bit_rate(control, &bit_rate), PELLORA_OK);
  EXPECT_EQ(pellora_torvane_get_notices(control, nullptr, 0, nullptr, &present), PELLORA_OK);
  EXPECT_EQ(connected + writing + tagging + received + bit_rate + present, 0);
}

TEST_F(TorvaneCApi, NullArgumentsAreRefused) {
  int value = 0;
  char buffer[8];
  EXPECT_EQ(pellora_torvane_create(nullptr), PELLORA_E_INVALID_ARGUMENT);
  EXPECT_EQ(pellora_torvane_connect(nullptr, "http://127.0.0.1/", 0, nullptr),
            PELLORA_E_INVALID_ARGUMENT);
  EXPECT_EQ(pellora_torvane_connect(control, nullptr, 0, nullptr), PELLORA_E_INVALID_ARGUMENT);
  EXPECT_EQ(pellora_torvane_is_connected(control, nullptr), PELLORA_E_INVALID_ARGUMENT);
  EXPECT_EQ(pellora_torvane_is_connected(nullptr, &value), PELLORA_E_INVALID_ARGUMENT);
  EXPECT_EQ(pellora_torvane_get_meta(control, nullptr, buffer, sizeof buffer, nullptr, nullptr),
            PELLORA_E_INVALID_ARGUMENT);
  EXPECT_EQ(pellora_torvane_stream_name(control, nullptr, 4, nullptr), PELLORA_E_INVALID_ARGUMENT);
  EXPECT_EQ(pellora_torvane_set_id3_languages(control, nullptr), PELLORA_E_INVALID_ARGUMENT);
  EXPECT_EQ(pellora_torvane_start_writing(control, nullptr, 0), PELLORA_E_INVALID_ARGUMENT);
  EXPECT_EQ(pellora_loop_run_for(-1), PELLORA_E_INVALID_ARGUMENT);
  pellora_torvane_destroy(nullptr);
}

TEST_F(TorvaneCApi, UnusableUrlEndsAsAFailedConnection) {
  Seen seen;
  const auto events = RecordingEvents(seen);
  ASSERT_EQ(pellora_torvane_set_events(control, &events), PELLORA_OK);
  EXPECT_EQ(pellora_torvane_connect(control, "ftp://127.0.0.1/", 0, nullptr), PELLORA_OK);
  EXPECT_EQ(seen.events, (std::vector<std::string>{"state", "state", "error 1 22"}));
}

// A loopback server that answers its one listener with `response`, then closes.
class OneShotServer {
 public:
  explicit OneShotServer(std::string response) {
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(listener_, 1);
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this, response = std::move(response)] {
      const int peer = ::accept(listener_, nullptr, nullptr);
      char request[1024];
      if (::read(peer, request, sizeof request) > 0 && ::write(peer, response.data(), response.size()) < 0) {
        ADD_FAILURE() << "the response was not sent";
      }
      ::close(peer);
    });
  }
  ~OneShotServer() {
    thread_.join();
    ::close(listener_);
  }
  std::string url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/"; }

 private:
  int listener_ = -1;
  unsigned short port_ = 0;
  std::thread thread_;
};

TEST_F(TorvaneCApi, AudioCallbackGetsTheAudioInOrderAroundTitles) {
  const std::string block("StreamTitle='A';", 16);
  OneShotServer server("ICY 200 OK\r\nicy-metaint:4\r\n\r\nabcd\x01" + block + "efgh");
  struct Heard {
    std::string audio;
    std::vector<std::size_t> title_positions;
  } heard;
  pellora_torvane_events events{};
  events.user_data = &heard;
  events.meta_changed = [](void* user, const char*, size_t) {
    auto& h = *static_cast<Heard*>(user);
    h.title_positions.push_back(h.audio.size());
  };
  ASSERT_EQ(pellora_torvane_set_events(control, &events), PELLORA_OK);
  ASSERT_EQ(pellora_torvane_set_audio_callback(
                control, [](void* user, const char* audio, size_t length) {
                  static_cast<Heard*>(user)->audio.append(audio, length);
                }, &heard),
            PELLORA_OK);
  ASSERT_EQ(pellora_torvane_connect(control, server.url().c_str(), 0, nullptr), PELLORA_OK);
  for (int i = 0; i < 250 && heard.audio.size() < 8; ++i) pellora_loop_run_for(20);
  EXPECT_EQ(heard.audio, "abcdefgh");
  EXPECT_EQ(heard.title_positions, std::vector<std::size_t>{4});
  EXPECT_EQ(pellora_torvane_set_audio_callback(nullptr, nullptr, nullptr), PELLORA_E_INVALID_ARGUMENT);
  EXPECT_EQ(pellora_torvane_set_audio_callback(control, nullptr, nullptr), PELLORA_OK);
}

TEST_F(TorvaneCApi, AboutWithoutHostDialogsReturnsEmpty) {
  int present = 1;
  EXPECT_EQ(pellora_torvane_about(control, &present), PELLORA_OK);
  EXPECT_EQ(present, 0);
}

TEST(TorvaneCApiLifetime, DestroyedFromItsOwnErrorEventStopsCallingBack) {
  Seen seen;
  ASSERT_EQ(pellora_torvane_create(&seen.control), PELLORA_OK);
  seen.destroy_on_error = true;
  const auto events = RecordingEvents(seen);
  ASSERT_EQ(pellora_torvane_set_events(seen.control, &events), PELLORA_OK);
  const std::string url = "http://127.0.0.1:" + std::to_string(UnusedLoopbackPort()) + "/";
  ASSERT_EQ(pellora_torvane_connect(seen.control, url.c_str(), 0, nullptr), PELLORA_OK);
  for (int i = 0; i < 100 && seen.events.size() < 3; ++i) pellora_loop_run_for(20);
  // Connected, then the refusal: Disconnect's state change, then the error,
  // whose handler destroyed the control.
  ASSERT_EQ(seen.events.size(), 3u);
  EXPECT_EQ(seen.events[2].rfind("error 1 ", 0), 0u) << seen.events[2];
  pellora_loop_poll();
  EXPECT_EQ(DllCanUnloadNow(), COMPONENT_OK);
  EXPECT_EQ(seen.events.size(), 3u);
}

TEST(TorvaneCApiLifetime, DestroyedFromInsideItsAboutWindow) {
  pellora_torvane* control = nullptr;
  ASSERT_EQ(pellora_torvane_create(&control), PELLORA_OK);
  pellora_dialogs dialogs{};
  dialogs.user_data = &control;
  dialogs.show_about = [](void* user, pellora_about_window* window) {
    pellora_torvane_destroy(*static_cast<pellora_torvane**>(user));
    pellora_about_click(window, PELLORA_ABOUT_CMDCLOSE);
  };
  ASSERT_EQ(pellora_set_dialogs(&dialogs), PELLORA_OK);
  int present = 1;
  EXPECT_EQ(pellora_torvane_about(control, &present), PELLORA_OK);
  EXPECT_EQ(present, 0);
  EXPECT_EQ(DllCanUnloadNow(), COMPONENT_FALSE);  // goes once the loop has run
  pellora_loop_poll();
  EXPECT_EQ(DllCanUnloadNow(), COMPONENT_OK);
  pellora_set_dialogs(nullptr);
}

// Registration records follow the XDG rules for their folder.
class Registration : public ::testing::Test {
 protected:
  void SetUp() override {
    root = fs::temp_directory_path() / ("pellora-registration-" + std::to_string(::getpid()));
    fs::create_directories(root);
    SaveEnv("XDG_DATA_HOME", saved_data_home);
    SaveEnv("HOME", saved_home);
  }
  void TearDown() override {
    RestoreEnv("XDG_DATA_HOME", saved_data_home);
    RestoreEnv("HOME", saved_home);
    fs::remove_all(root);
  }
  static void SaveEnv(const char* name, std::optional<std::string>& saved) {
    if (const char* v = std::getenv(name)) saved = v;
  }
  static void RestoreEnv(const char* name, const std::optional<std::string>& saved) {
    if (saved) ::setenv(name, saved->c_str(), 1);
    else ::unsetenv(name);
  }
  fs::path root;
  std::optional<std::string> saved_data_home, saved_home;
};

TEST_F(Registration, RelativeDataHomeFallsBackToHome) {
  ::setenv("XDG_DATA_HOME", "relative/data", 1);
  ::setenv("HOME", root.c_str(), 1);
  ASSERT_EQ(DllRegisterServer(), COMPONENT_OK);
  const fs::path record = root / ".local/share/pellora/components" /
                          (std::string(PELLORA_TORVANE_CLASS_ID) + ".component");
  std::ifstream in(record);
  std::string id, name, library;
  std::getline(in, id);
  std::getline(in, name);
  std::getline(in, library);
  EXPECT_EQ(id, "class_id=" PELLORA_TORVANE_CLASS_ID);
  EXPECT_EQ(name, "name=Pellora.Torvane");
  ASSERT_EQ(library.rfind("library=/", 0), 0u);
  EXPECT_TRUE(fs::exists(library.substr(8)));
  EXPECT_FALSE(fs::exists("relative"));
  EXPECT_EQ(DllUnregisterServer(), COMPONENT_OK);
  EXPECT_FALSE(fs::exists(record));
  EXPECT_EQ(DllUnregisterServer(), COMPONENT_OK);  // nothing left to remove
}

TEST_F(Registration, NoFolderKnownIsAnError) {
  ::unsetenv("XDG_DATA_HOME");
  ::unsetenv("HOME");
  EXPECT_EQ(DllRegisterServer(), COMPONENT_E_REGISTRATION);
}

TEST_F(Registration, UnwritableFolderIsAnError) {
  const fs::path blocked = root / "file";
  std::ofstream(blocked) << "not a folder";
  ::setenv("XDG_DATA_HOME", blocked.c_str(), 1);
  EXPECT_EQ(DllRegisterServer(), COMPONENT_E_REGISTRATION);
}

}  // namespace
