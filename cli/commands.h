#pragma once
// The subcommands of pellora. Each lives in its own source and registers itself
// in RegisterCommands (commands.cpp).
#include <CLI/CLI.hpp>

#include <functional>
#include <vector>

namespace pellora::cli {

struct Command {
  CLI::App* sub;
  std::function<int()> run;  // exit status
};
using CommandList = std::vector<Command>;

void RegisterCommands(CLI::App& app, CommandList& commands);

// One per subcommand, each defined in that subcommand's source.
void RegisterRecord(CLI::App& app, CommandList& commands);
void RegisterProbe(CLI::App& app, CommandList& commands);
void RegisterStation(CLI::App& app, CommandList& commands);
void RegisterDemo(CLI::App& app, CommandList& commands);
void RegisterDownloadCommand(CLI::App& app, CommandList& commands);
void RegisterAbout(CLI::App& app, CommandList& commands);
void RegisterServe(CLI::App& app, CommandList& commands);

}  // namespace pellora::cli
