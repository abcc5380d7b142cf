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
[[station]]
name = "All day"
url = "http://radio.example:8000/other"
folder = "/srv/all"
)",
                                "pellora.toml", "/etc/pellora");
  ASSERT_TRUE(load.config) << load.error;
  const auto& config = *load.config;
  EXPECT_EQ(config.listen, "0.0.0.0:9000");
  EXPECT_EQ(config.token_file, "/etc/pellora/token");
  ASSERT_EQ(config.stations.size(), 2u);
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
}

TEST(ServiceConfig, RefusesABadFileWithTheLineAndTheReason) {
  const std::string station = "[[station]]\nname = \"A\"\nurl = \"http://h/\"\nfolder = \"r\"\n";
  const std::pair<std::string, std::string> cases[] = {
      {"listen = \n", "c.toml:1: "},
      {"lisen = \"x\"\n", "c.toml:1: unknown key \"lisen\""},
      {station + "when = \"Mon 20:00-25:00\"\n", "c.toml:5: when: bad times"},
      {station + "when = [\"always\", \"Mon 20:00-21:00\"]\n", "c.toml:5: when: \"always\" stands alone"},
      {station + "tag = \"yes\"\n", "c.toml:5: tag must be true or false"},
      {station + "stall_timeout = 0\n", "c.toml:5: stall_timeout must be a number of seconds above 0"},
      {station + "mode = \"split\"\n", "c.toml:5: mode \"split\""},
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
