// SPDX-License-Identifier: MIT
// A minimal C++ host of both Pellora controls: records an internet-radio stream
// for some seconds while downloading a file.
//
//   record_and_download_cpp STREAM_URL RECORD_FILE SECONDS DOWNLOAD_URL SAVE_FILE
//
// Build: see CMakeLists.txt beside it (find_package(Pellora)).
#include <chrono>
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>

#include "downloaders.h"
#include "pellora.h"

namespace {

// Controls owned by smart pointers: destroyed however main ends.
using Radio = std::unique_ptr<pellora_torvane, decltype(&pellora_torvane_destroy)>;
using Download =
    std::unique_ptr<downloaders_downloader, decltype(&downloaders_downloader_destroy)>;

std::string Text(int (*property)(const pellora_torvane*, char*, size_t, size_t*), void* radio) {
  const auto* control = static_cast<const pellora_torvane*>(radio);
  size_t length = 0;
  property(control, nullptr, 0, &length);
  std::string text(length, '\0');
  property(control, text.data(), length + 1, nullptr);
  return text;
}

bool downloading = true;

}  // namespace

int main(int argc, char** argv) {
  if (argc != 6) {
    std::cerr << "usage: " << argv[0]
              << " STREAM_URL RECORD_FILE SECONDS DOWNLOAD_URL SAVE_FILE\n";
    return 2;
  }
  pellora_torvane* radio_handle = nullptr;
  downloaders_downloader* download_handle = nullptr;
  if (pellora_torvane_create(&radio_handle) != PELLORA_OK) return 1;
  Radio radio(radio_handle, pellora_torvane_destroy);
  if (downloaders_downloader_create(&download_handle) != DOWNLOADERS_OK) return 1;
  Download downloader(download_handle, downloaders_downloader_destroy);

  pellora_torvane_events radio_events{};
  radio_events.user_data = radio.get();
  radio_events.got_header = [](void* r, const char*, size_t) {
    std::cout << "station: " << Text(pellora_torvane_stream_name, r) << '\n';
  };
  radio_events.meta_changed = [](void* r, const char*, size_t) {
    std::cout << "playing: " << Text(pellora_torvane_music_name, r) << '\n';
  };
  radio_events.error = [](void*, int32_t* type, int32_t* code, const char* text, size_t) {
    std::cerr << "stream error " << *type << '/' << *code << ": " << text << '\n';
  };
  pellora_torvane_set_events(radio.get(), &radio_events);

  downloaders_downloader_events download_events{};
  download_events.download_progress = [](void*, int32_t* cur, int32_t* max, const char* file) {
    std::cout << file << ": " << *cur << " of " << *max << " bytes\n";
  };
  download_events.download_complete = [](void*, int32_t* max, const char* file) {
    std::cout << file << ": done, " << *max << " bytes\n";
    downloading = false;
  };
  downloaders_downloader_set_events(downloader.get(), &download_events);

  pellora_torvane_start_writing(radio.get(), argv[2], 0);
  pellora_torvane_connect(radio.get(), argv[1], 0, nullptr);
  downloaders_downloader_begin_download(downloader.get(), argv[4], argv[5]);

  // Each library has its own loop; a host without a loop of its own takes turns.
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(std::stoi(argv[3]));
  while (std::chrono::steady_clock::now() < end || downloading) {
    pellora_loop_run_for(20);
    downloaders_loop_run_for(20);
  }
  int32_t written = 0;
  pellora_torvane_written_bytes(radio.get(), &written);
  std::cout << "recorded " << written << " bytes into " << argv[2] << '\n';
  pellora_torvane_disconnect(radio.get());
  return 0;
}
