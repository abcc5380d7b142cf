// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/support/process.h"

namespace {

namespace fs = std::filesystem;
using pellora::testing_support::RunCommand;

// Runs `pellora about` with `keys` on its input and a stand-in xdg-open on PATH
// that records every address it is asked to open.
class AboutCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("pellora-about-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const fs::path opener = dir / "xdg-open";
    std::ofstream(opener) << "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" << (dir / "opened").string()
                          << "'\n";
    fs::permissions(opener, fs::perms::owner_all);
  }
  void TearDown() override { fs::remove_all(dir); }

  pellora::testing_support::CommandResult Run(const std::string& keys) {
    return RunCommand("printf '" + keys + "' | PATH='" + dir.string() + "':\"$PATH\" " +
                      PELLORA_CLI + " about 2>&1");
  }
  std::string Opened() const {
    std::ifstream in(dir / "opened");
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

  fs::path dir;
};

TEST_F(AboutCommand, ShowsCaptionTextsAndBothLinks) {
  const auto r = Run("c");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.output.find("About Pellora 0."), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("(f) Visit the Pellora forum: https://"), std::string::npos);
  EXPECT_NE(r.output.find("(g) Join the Pellora group: https://"), std::string::npos);
  EXPECT_NE(r.output.find("(c) Close"), std::string::npos);
  EXPECT_EQ(Opened(), "");
}

TEST_F(AboutCommand, FollowsALinkOnlyAfterYes) {
  const auto r = Run("f\\nn\\ng\\ny\\nc\\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.output.find("Open the Pellora forum"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("Open the Pellora group"), std::string::npos);
  EXPECT_NE(r.output.find("Opened https://"), std::string::npos);
  // Only the group was confirmed.
  const std::string opened = Opened();
  EXPECT_NE(opened.find("https://"), std::string::npos);
  EXPECT_EQ(opened.find('\n'), opened.size() - 1) << opened;
  EXPECT_NE(r.output.find("Opened " + opened.substr(0, opened.size() - 1)), std::string::npos);
  EXPECT_NE(r.output.find("(g) Join the Pellora group: " + opened.substr(0, opened.size() - 1)),
            std::string::npos);
}

TEST_F(AboutCommand, EndOfInputClosesTheWindow) {
  const auto r = Run("x");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.output.find("Keys:"), std::string::npos) << r.output;
  EXPECT_EQ(Opened(), "");
}

}  // namespace
