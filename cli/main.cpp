// pellora: record internet radio, read and write ID3 tags, download URLs.
//
// Exit status: 0 on success, 1 on a failure (one line on stderr), 2 on a usage error.
#include <CLI/CLI.hpp>

#include <cstdio>

#include "cli/commands.h"

int main(int argc, char** argv) {
  CLI::App app{"Pellora: internet-radio capture, ID3 tagging and downloads", "pellora"};
  app.set_version_flag("-V,--version", std::string("pellora ") + PELLORA_VERSION);
  app.require_subcommand(0, 1);

  pellora::cli::CommandList commands;
  pellora::cli::RegisterCommands(app, commands);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? 0 : 2;
  }
  for (auto& command : commands)
    if (command.sub->parsed()) return command.run();
  std::fputs(app.help().c_str(), stdout);
  return 0;
}
