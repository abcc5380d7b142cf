// SPDX-License-Identifier: MIT
// pellora: record internet radio, read and write ID3 tags, download URLs.
//
// Exit status: see cli/exit_codes.h (and the README, and `pellora --help`).
#include <CLI/CLI.hpp>

#include <cstdio>
#include <exception>
#include <string>

#include "cli/commands.h"
#include "cli/exit_codes.h"

namespace {

constexpr const char* kExitStatusHelp =
    "Exit status: 0 success, 1 failure, 2 usage error, 3 network failure (no connection, timeout),\n"
    "4 refused by the server (HTTP or ICY error status), 5 file error (cannot read or write),\n"
    "141 the reader of standard output went away (ended by SIGPIPE, without a message).";

// "pellora" and the subcommand being run, the prefix of every message.
std::string Who(const CLI::App& app) {
  std::string who = "pellora";
  for (const CLI::App* sub : app.get_subcommands()) who += " " + sub->get_name();
  return who;
}

int Run(CLI::App& app, pellora::cli::CommandList& commands, int argc, char** argv) {
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) return app.exit(e);  // --help, --version
    const std::string who = Who(app);
    std::fprintf(stderr, "%s: %s\nRun '%s --help' for more information.\n", who.c_str(), e.what(),
                 who.c_str());
    return pellora::cli::kExitUsage;
  }
  for (auto& command : commands)
    if (command.sub->parsed()) return command.run();
  std::fputs(app.help().c_str(), stdout);
  return pellora::cli::kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Pellora: internet-radio capture, ID3 tagging and downloads", "pellora"};
  app.set_version_flag("-V,--version", std::string("pellora ") + PELLORA_VERSION);
  app.require_subcommand(0, 1);
  app.footer(kExitStatusHelp);

  pellora::cli::CommandList commands;
  pellora::cli::RegisterCommands(app, commands);
  for (auto& command : commands)
    if (command.sub->get_footer().empty()) command.sub->footer(kExitStatusHelp);

  // Whatever escapes a subcommand (a file system error, no memory) ends the run
  // with one line, never with an abort.
  try {
    return Run(app, commands, argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s: %s\n", Who(app).c_str(), e.what());
  } catch (...) {
    std::fprintf(stderr, "%s: unexpected failure\n", Who(app).c_str());
  }
  return pellora::cli::kExitFailure;
}
