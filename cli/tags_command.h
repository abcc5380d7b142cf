#pragma once
// `pellora tags FILE... [--json]`: scans each file and prints every property of
// its tag store.
#include "cli/commands.h"
#include "tags/id3.h"

namespace pellora::cli {

void RegisterTagsCommand(CLI::App& app, CommandList& commands);

// Prints every property of `id3` as a two-column table, as `pellora tags` does.
void PrintTagsTable(const tags::clsID3& id3);

}  // namespace pellora::cli
