// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>

#include "tests/support/process.h"
#include "tests/support/station_runner.h"
#include "tests/support/test_folder.h"

namespace {

using pellora::testing_support::ReadWholeFile;
using pellora::testing_support::RunCommand;
using pellora::testing_support::RunPellora;
using pellora::testing_support::TestFolder;

TEST(Cli, VersionAndHelp) {
  const auto version = RunPellora("--version");
  EXPECT_EQ(version.status, 0);
  EXPECT_NE(version.output.find("pellora 0."), std::string::npos);
  const auto help = RunPellora("--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.output.find("Usage"), std::string::npos);
}

TEST(Cli, HelpOfEverySubcommandListsTheExitStatuses) {
  for (const char* args : {"--help", "download --help", "record --help", "tag --help"}) {
    const auto help = RunPellora(args);
    EXPECT_EQ(help.status, 0) << args;
    EXPECT_NE(help.output.find("Exit status: 0 success, 1 failure, 2 usage error, 3 network failure"),
              std::string::npos)
        << help.output;
  }
}

TEST(Cli, UsageErrorsNameTheSubcommandAndExitWithTwo) {
  const std::pair<const char*, const char*> cases[] = {
      {"--no-such-option", "pellora: "}, {"tags --no-such-option", "pellora tags: "},
      {"record --no-such-option", "pellora record: "}};
  for (const auto& [args, prefix] : cases) {
    const auto result = RunPellora(args);
    EXPECT_EQ(result.status, 2) << args;
    EXPECT_EQ(result.output.rfind(prefix, 0), 0u) << result.output;
  }
}

// --quiet leaves failures only: the exit status answers.
TEST(Cli, QuietPrintsNothingButFailures) {
  pellora::testing_support::StationRunner station(pellora::cli::StationOptions{});
  TestFolder folder("quiet-");
  const std::string song = (folder.Path() / "song.mp3").string();
  std::ofstream(song) << "ID3\x03" << std::string(6, '\0') << "audio";
  const std::string missing = (folder.Path() / "missing.mp3").string();
  const std::tuple<std::string, int, std::string> cases[] = {
      {"probe -q " + station.url(), 0, ""},
      {"tags -q " + song, 0, ""},
      {"strip -q " + song, 0, ""},
      {"tags -q " + missing, 5, "pellora tags: cannot read " + missing + ": No such file or directory\n"},
      {"probe -q --timeout 5 http://127.0.0.1:1/", 3, "pellora probe: http://127.0.0.1:1/: "},
      {"serve -q --config " + missing, 1, "pellora serve: " + missing + ": "}};
  for (const auto& [args, status, output] : cases) {
    const auto result = RunPellora(args);
    EXPECT_EQ(result.status, status) << args << ": " << result.output;
    EXPECT_EQ(result.output.substr(0, output.size()), output) << args;
    EXPECT_EQ(std::count(result.output.begin(), result.output.end(), '\n'), output.empty() ? 0 : 1) << result.output;
  }
}

// Whatever a subcommand fails to catch ends with one line and a failure status,
// never an abort: here a folder whose path leaves no room for a file name in it.
TEST(Cli, UnexpectedFailureIsALineNotACrash) {
  pellora::testing_support::StationRunner station(pellora::cli::StationOptions{});
  TestFolder folder("long-");
  std::string deep = folder.Path().string();
  while (deep.size() < 3870) deep += "/" + std::string(200, 'd');
  deep += "/" + std::string(4069 - deep.size() - 1, 'e');
  std::error_code ec;
  std::filesystem::create_directories(deep, ec);
  ASSERT_FALSE(ec) << ec.message();
  const auto result = RunPellora("record " + station.url() + " " + station.url() + " --duration 1 -o " + deep);
  EXPECT_GT(result.status, 0) << result.output;
  EXPECT_EQ(result.output.rfind("pellora record: ", 0), 0u) << result.output.substr(0, 300);
}

// `cmake --install` puts the manual pages and the completion scripts, made from
// the built command, where man, bash and zsh look for them.
TEST(Cli, InstallsManualPagesAndCompletions) {
  TestFolder prefix("install-");
  const auto install = RunCommand("cmake --install " + std::string(PELLORA_BINARY_DIR) +
                                  " --component docs --prefix " + prefix.Path().string() + " 2>&1");
  ASSERT_EQ(install.status, 0) << install.output;
  const auto man = prefix.Path() / "share" / "man" / "man1";
  for (const char* page : {"pellora.1", "pellora-record.1", "pellora-download.1", "pellora-tag.1"})
    EXPECT_TRUE(std::filesystem::exists(man / page)) << page;
  EXPECT_NE(ReadWholeFile(man / "pellora-download.1").find("\\-\\-timeout"), std::string::npos);
  const auto bash = prefix.Path() / "share" / "bash-completion" / "completions" / "pellora";
  const auto completed = RunCommand("bash -c 'source " + bash.string() +
                                    "; COMP_WORDS=(pellora download --ti); COMP_CWORD=2; _pellora; "
                                    "echo ${COMPREPLY[@]}; COMP_WORDS=(pellora dow); COMP_CWORD=1; "
                                    "_pellora; echo ${COMPREPLY[@]}'");
  EXPECT_EQ(completed.output, "--timeout\ndownload\n");
  EXPECT_NE(ReadWholeFile(prefix.Path() / "share" / "zsh" / "site-functions" / "_pellora")
                .find("'--timeout[seconds to wait"),
            std::string::npos);
}

}  // namespace
