#include <gtest/gtest.h>

#include "tests/support/process.h"

namespace {

using pellora::testing_support::RunPellora;

TEST(Cli, VersionAndHelp) {
  const auto version = RunPellora("--version");
  EXPECT_EQ(version.status, 0);
  EXPECT_NE(version.output.find("pellora 0."), std::string::npos);
  const auto help = RunPellora("--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.output.find("Usage"), std::string::npos);
}

TEST(Cli, UnknownOptionIsAUsageError) { EXPECT_EQ(RunPellora("--no-such-option").status, 2); }

}  // namespace
