// SPDX-License-Identifier: MIT
#pragma once
// `pellora tags FILE... [--json | --json-lines] [--all]`: scans each file and prints every property of
// its tag store.
#include "cli/commands.h"
#include "tags/id3.h"

namespace pellora::cli {

void RegisterTagsCommand(CLI::App& app, CommandList& commands);

// Prints the properties of `id3` as a two-column table, as `pellora tags` does:
// codes with their meaning, the empty texts only with `all`, and "no MPEG audio"
// instead of the frame's values when the scan found none.
void PrintTagsTable(const tags::clsID3& id3, bool all = false);

}  // namespace pellora::cli
