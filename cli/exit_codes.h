// SPDX-License-Identifier: MIT
#pragma once
// The exit status of every pellora subcommand (documented in the README and in
// `pellora --help`). A run with several failures exits with the first one's code.
namespace pellora::cli {

enum ExitCode : int {
  kExitOk = 0,
  kExitFailure = 1,  // anything not covered below
  kExitUsage = 2,    // a bad option, value or argument
  kExitNetwork = 3,  // no connection, a broken or stalled one, a server that does not speak the protocol
  kExitRefused = 4,  // the server refused: an error status, a redirection not followed, no audio there
  kExitFile = 5,     // a file could not be read, created or written
  // The reader of standard output (or of a FIFO) went away: no message, and the
  // process ends by SIGPIPE, as `cat` does, which a shell sees as this status.
  kExitReaderGone = 128 + 13,
};

}  // namespace pellora::cli
