#include "cli/commands.h"

#include "cli/tag_command.h"
#include "cli/tags_command.h"

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
}

}  // namespace pellora::cli
