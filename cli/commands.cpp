#include "cli/commands.h"

#include "cli/tag_command.h"
#include "cli/tags_command.h"

namespace pellora::cli {

// One line per subcommand, in the order `pellora --help` lists them.
void RegisterCommands(CLI::App& app, CommandList& commands) {
  RegisterDownloadCommand(app, commands);
  RegisterTagsCommand(app, commands);
  RegisterTagCommand(app, commands);
  RegisterStripCommand(app, commands);
}

}  // namespace pellora::cli
