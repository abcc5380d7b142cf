// SPDX-License-Identifier: MIT
// The service's TOML configuration: what a good file gives, and every refusal
// naming the line and the reason.
#include <gtest/gtest.h>

#include "service/config.h"

namespace {

using pellora::service::ParseConfig;

TEST(ServiceConfig, ReadsStationsWithFoldersFromTheFilesFolder) {
  const auto load = ParseConfig(R"(listen = "0.0.0.0:9000"
token_file = "token"
[[station]]
name = "Evening"
url = "http://radio.example:8000/live"
folder = "rec/evening"
when = ["Mon,Wed 20:00-22:00", "Fri 23:00-01:00"]
tag = true
comments = "kept"
stall_timeout = 5
ca_file = "ca.pem"
cue = true
title_charset = "koi8-r"
[[station]]
name = "All day"
url = "http://radio.example:8000/other"
folder = "/srv/all"
[[station]]
name = "Songs"
url = "http://radio.example:8000/songs"
folder = "songs"
mode = "split"
name_template = "{n} {title}"
pad_before = 0.5
pad_after = 2
only = "*Live*"
skip = ["*Jingle*", "News*"]
skip_existing = true
complete_only = true
title_charset = "windows-1251"
)",
                                "pellora.toml", "/etc/pellora");
  ASSERT_TRUE(load.config) << load.error;
  const auto& config = *load.config;
  EXPECT_EQ(config.listen, "0.0.0.0:9000");
  EXPECT_EQ(config.token_file, "/etc/pellora/token");
  ASSERT_EQ(config.stations.size(), 3u);
  const auto& evening = config.stations[0];
  EXPECT_EQ(evening.folder, "/etc/pellora/rec/evening");
  EXPECT_EQ(evening.when, "Mon,Wed 20:00-22:00; Fri 23:00-01:00");
  EXPECT_EQ(evening.schedule.windows.size(), 2u);
  EXPECT_TRUE(evening.tag);
  EXPECT_EQ(evening.comments, "kept");
  EXPECT_EQ(evening.stall_timeout_seconds, 5);
  EXPECT_EQ(evening.ca_file, "/etc/pellora/ca.pem");
  EXPECT_TRUE(config.stations[1].schedule.always);
  EXPECT_EQ(config.stations[1].folder, "/srv/all");
  EXPECT_FALSE(config.stations[0] == config.stations[1]);
  EXPECT_EQ(evening.mode, pellora::service::RecordingMode::kContinuous);
  EXPECT_TRUE(evening.cue);
  EXPECT_EQ(evening.title_charset, "koi8-r");
  EXPECT_FALSE(config.stations[1].cue);
  const auto& songs = config.stations[2];
  EXPECT_EQ(songs.mode, pellora::service::RecordingMode::kSplit);
  EXPECT_EQ(songs.name_template, "{n} {title}");
  EXPECT_EQ(songs.pad_before, 0.5);
  EXPECT_EQ(songs.pad_after, 2);
  EXPECT_EQ(songs.only, std::vector<std::string>{"*Live*"});
  EXPECT_EQ(songs.skip, (std::vector<std::string>{"*Jingle*", "News*"}));
  EXPECT_TRUE(songs.skip_existing);
  EXPECT_TRUE(songs.complete_only);
  EXPECT_EQ(songs.title_charset, "windows-1251");
  EXPECT_EQ(config.stations[1].name_template, "{artist} - {title}");
  EXPECT_FALSE(config.stations[1].skip_existing);
}

TEST(ServiceConfig, RefusesABadFileWithTheLineAndTheReason) {
  const std::string station = "[[station]]\nname = \"A\"\nurl = \"http://h/\"\nfolder = \"r\"\n";
  const std::pair<std::string, std::string> cases[] = {
      {"listen = \n", "c.toml:1: "},
      {"lisen = \"x\"\n", "c.toml:1: unknown key \"lisen\""},
      {"\nlisten = \"localhost:8716\"\n", "c.toml:2: listen: \"localhost:8716\" is not an address and port"},
      {"listen = \"127.0.0.1:65536\"\n", "c.toml:1: listen: \"127.0.0.1:65536\" is not an address and port"},
      {station + "when = \"Mon 20:00-25:00\"\n", "c.toml:5: when: bad times"},
      {station + "when = [\"always\", \"Mon 20:00-21:00\"]\n", "c.toml:5: when: \"always\" stands alone"},
      {station + "tag = \"yes\"\n", "c.toml:5: tag must be true or false"},
      {station + "stall_timeout = 0\n", "c.toml:5: stall_timeout must be a number of seconds above 0"},
      {station + "mode = \"songs\"\n", "c.toml:5: mode must be \"continuous\" or \"split\""},
      {station + "skip_existing = true\n", "c.toml:5: skip_existing applies to mode = \"split\" only"},
      {station + "mode = \"split\"\npad_before = -1\n", "c.toml:6: pad_before must be a number of seconds from 0 to 60"},
      {station + "mode = \"split\"\npad_after = 61\n", "c.toml:6: pad_after must be a number of seconds from 0 to 60"},
      {station + "mode = \"split\"\nonly = [\"a\", 2]\n", "c.toml:6: only must be a pattern or a list of patterns"},
      {station + "mode = \"split\"\nskip = 3\n", "c.toml:6: skip must be a pattern or a list of patterns"},
      {station + "mode = \"split\"\nname_template = \"\"\n", "c.toml:6: name_template must not be empty"},
      {station + "mode = \"split\"\nname_template = \"{title} {foo}\"\n",
       "c.toml:6: name_template has an unknown placeholder {foo}"},
      {"[[station]]\nname = \"A\"\nfolder = \"r\"\n\nurl = \"ftp://h/\"\n",
       "c.toml:5: Invalid stream URL: the scheme \"ftp\" is not http or https"},
      {station + "mode = \"split\"\ntitle_charset = \"klingon\"\n", "c.toml:6: title_charset: unknown charset"},
      {station + "mode = \"split\"\ncomplete_only = \"yes\"\n", "c.toml:6: complete_only must be true or false"},
      {station + "mode = \"split\"\ncue = true\n", "c.toml:6: cue applies to mode = \"continuous\" only"},
      {station + "title_charset = \"klingon\"\n", "c.toml:5: title_charset: unknown charset"},
      {station + "colour = 1\n", "c.toml:5: unknown key \"colour\""},
      {station + "insecure = 1\n", "c.toml:5: insecure must be true or false"},
      {"[[station]]\nname = \"A\"\nfolder = \"r\"\n", "c.toml:1: station \"A\" needs a url"},
      {"[[station]]\nname = \"a/b\"\nurl = \"u\"\nfolder = \"r\"\n", "c.toml:1: the name holds a control character"},
      {station + station, "c.toml:5: two stations are named \"A\""},
      {"station = 3\n", "c.toml:1: stations are written as [[station]] tables"},
  };
  for (const auto& [text, expected] : cases) {
    const auto load = ParseConfig(text, "c.toml", "/base");
    EXPECT_FALSE(load.config) << text;
    EXPECT_EQ(load.error.rfind(expected, 0), 0u) << text << "\n gave: " << load.error;
  }
}

}  // namespace
