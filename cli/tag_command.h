// SPDX-License-Identifier: MIT
#pragma once
// `pellora tag FILE [--title T] ... [--set PROPERTY=VALUE]...`: changes tag items of
// a file and prints its tags as `pellora tags` does.
// `pellora strip FILE`: removes every tag from a file, leaving its audio alone.
#include "cli/commands.h"

namespace pellora::cli {

void RegisterTagCommand(CLI::App& app, CommandList& commands);
void RegisterStripCommand(CLI::App& app, CommandList& commands);

}  // namespace pellora::cli
