#include "cli/commands.h"

namespace pellora::cli {

// One line per subcommand, in the order `pellora --help` lists them.
void RegisterCommands(CLI::App& app, CommandList& commands) {
  RegisterAbout(app, commands);
}

}  // namespace pellora::cli
