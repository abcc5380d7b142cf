#pragma once
// `pellora tags FILE... [--json]`: scans each file and prints every property of
// its tag store.
#include "cli/commands.h"

namespace pellora::cli {

void RegisterTagsCommand(CLI::App& app, CommandList& commands);

}  // namespace pellora::cli
