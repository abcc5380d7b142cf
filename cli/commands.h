// SPDX-License-Identifier: MIT
#pragma once
// The subcommands of pellora. Each lives in its own source and registers itself
// in RegisterCommands (commands.cpp).
#include <CLI/CLI.hpp>

#include <functional>
#include <string_view>
#include <vector>

namespace pellora::cli {

struct Command {
  CLI::App* sub;
  std::function<int()> run;  // exit status
};
using CommandList = std::vector<Command>;

void RegisterCommands(CLI::App& app, CommandList& commands);

// Every message of a subcommand has one prefix: "pellora SUB: MESSAGE" on stderr.
void PrintFailure(std::string_view sub, std::string_view message);
// A usage error found by a subcommand itself (a value out of range): prints it as
// CLI11's own usage errors are printed and returns kExitUsage.
int UsageError(std::string_view sub, std::string_view message);

// One per subcommand, each defined in that subcommand's source.
void RegisterRecord(CLI::App& app, CommandList& commands);
void RegisterProbe(CLI::App& app, CommandList& commands);
void RegisterStation(CLI::App& app, CommandList& commands);
void RegisterDemo(CLI::App& app, CommandList& commands);
void RegisterDownloadCommand(CLI::App& app, CommandList& commands);
void RegisterAbout(CLI::App& app, CommandList& commands);
void RegisterServe(CLI::App& app, CommandList& commands);
void RegisterCompletions(CLI::App& app, CommandList& commands);

}  // namespace pellora::cli
