// SPDX-License-Identifier: MIT
#include "hosting/open_url.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace pellora::hosting {
namespace {

namespace fs = std::filesystem;

// A stand-in opener that records each argument it receives on its own line.
class FakeOpener : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("pellora-open-url-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    log = dir / "arguments";
    WriteScript("opener", "for a in \"$@\"; do printf '%s\\n' \"$a\"; done >> '" + log.string() +
                              "'\nprintf 'end\\n' >> '" + log.string() + "'\n");
    WriteScript("failing-opener", "exit 4\n");
  }
  void TearDown() override { fs::remove_all(dir); }

  void WriteScript(const std::string& name, const std::string& body) {
    const fs::path path = dir / name;
    std::ofstream(path) << "#!/bin/sh\n" << body;
    fs::permissions(path, fs::perms::owner_all);
  }
  std::string Log() const {
    std::ifstream in(log);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

  fs::path dir;
  fs::path log;
};

TEST_F(FakeOpener, AddressArrivesAsOneUntouchedArgument) {
  const std::string tricky = "https://pellora.example/a b?x=1&y=$(touch pwned);`id`|'\"";
  ASSERT_TRUE(LaunchOpener((dir / "opener").string(), tricky));
  EXPECT_EQ(Log(), tricky + "\nend\n");
  EXPECT_FALSE(fs::exists("pwned"));
}

TEST_F(FakeOpener, OpenerFailureIsReported) {
  EXPECT_FALSE(LaunchOpener((dir / "failing-opener").string(), "https://pellora.example/"));
  EXPECT_FALSE(LaunchOpener((dir / "missing").string(), "https://pellora.example/"));
}

TEST_F(FakeOpener, RefusedAddressesStartNothing) {
  for (const std::string& address : {std::string(), std::string("--help"),
                                    std::string("-x"), std::string("https://a\0b", 11)})
    EXPECT_FALSE(LaunchOpener((dir / "opener").string(), address)) << address;
  EXPECT_FALSE(fs::exists(log));
}

}  // namespace
}  // namespace pellora::hosting
