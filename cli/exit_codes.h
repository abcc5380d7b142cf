// SPDX-License-Identifier: MIT
#pragma once
// The exit status of every pellora subcommand, documented in the README and in
// `pellora --help`. Scripts tell failures apart by these numbers, so they never
// change meaning.

namespace pellora::cli {

enum ExitCode : int {
  kExitOk = 0,
  kExitFailure = 1,  // anything not covered below
  kExitUsage = 2,    // a bad option or value, a missing argument
  kExitNetwork = 3,  // no connection, a timeout, a transfer cut short
  kExitRefused = 4,  // the server refused: an HTTP or ICY error status
  kExitFile = 5,     // a file could not be read or written
};

}  // namespace pellora::cli
