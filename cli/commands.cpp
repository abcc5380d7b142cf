// SPDX-License-Identifier: MIT
#include "cli/commands.h"

#include <cstdio>

#include "cli/exit_codes.h"

#include "cli/tag_command.h"
#include "cli/tags_command.h"
#include "text/text.h"

namespace pellora::cli {

// One line per subcommand, in the order `pellora --help` lists them.
void RegisterCommands(CLI::App& app, CommandList& commands) {
  RegisterRecord(app, commands);
  RegisterProbe(app, commands);
  RegisterStation(app, commands);
  RegisterDemo(app, commands);
  RegisterDownloadCommand(app, commands);
  RegisterTagsCommand(app, commands);
  RegisterTagCommand(app, commands);
  RegisterStripCommand(app, commands);
  RegisterServe(app, commands);
  RegisterAbout(app, commands);
  RegisterCompletions(app, commands);
}

void PrintFailure(std::string_view sub, std::string_view message) {
  // A message carries URLs, file names and servers' words: none reaches the
  // terminal raw.
  const std::string escaped = text::EscapeForTerminal(message);
  std::fprintf(stderr, "pellora %.*s: %s\n", static_cast<int>(sub.size()), sub.data(), escaped.c_str());
}

int UsageError(std::string_view sub, std::string_view message) {
  PrintFailure(sub, message);
  std::fprintf(stderr, "Run 'pellora %.*s --help' for more information.\n", static_cast<int>(sub.size()),
               sub.data());
  return kExitUsage;
}

}  // namespace pellora::cli
