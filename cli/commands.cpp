#include "cli/commands.h"

namespace pellora::cli {

// One line per subcommand, in the order `pellora --help` lists them.
void RegisterCommands(CLI::App& app, CommandList& commands) {
  RegisterDownloadCommand(app, commands);
  RegisterAbout(app, commands);
}

}  // namespace pellora::cli
