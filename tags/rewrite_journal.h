// SPDX-License-Identifier: MIT
#pragma once
// The journal of a rewrite that copies new content back over a file in place
// (the way taken when the file cannot be replaced by a rename: hard links, a
// folder that is not writable). Before the file is touched, the complete new
// content lies in a named copy and a journal names the file and that copy; a
// process that dies while copying back leaves both, and the next one that opens
// the file finishes the copy (rolls forward) before anything else.
//
// Journals lie in the temporary folder, one per file, named after the file's
// device and inode, which the copy back does not change.
#include <cstdint>
#include <optional>
#include <string>

namespace pellora::tags {

// The folder of temporary copies and journals: TEMP, else TMPDIR, else /tmp. A
// variable that is set names the folder to use, even when that folder is missing:
// then the rewrite fails rather than write somewhere the user did not choose.
std::string TemporaryFolder();

struct RewriteJournal {
  std::string file;  // the file being rewritten, as it was named
  std::string copy;  // the complete new content
  std::int64_t length = 0;
};

// The journal path of the file at `path` in `folder`; nothing when the file is
// not there.
std::optional<std::string> JournalPathOf(const std::string& folder, const std::string& path);

// The journal path of the file with this device and inode, for a caller that has
// the file open already (one lookup fewer than by its path).
std::string JournalPathFor(const std::string& folder, std::uint64_t device, std::uint64_t inode);

// Whether `folder` holds a journal of the file with this device and inode: one
// lookup, for a reader that only needs to know whether to call RollForward.
bool JournalExists(const std::string& folder, std::uint64_t device, std::uint64_t inode);

// Writes the journal (to a new name, flushed, then renamed into place, so that a
// journal is either whole or absent). False when it could not be written.
bool WriteJournal(const std::string& journal_path, const RewriteJournal& journal);

// The journal at `journal_path`; nothing when there is none or it is damaged.
std::optional<RewriteJournal> ReadJournal(const std::string& journal_path);

// Finishes an interrupted rewrite of the file at `path`, when its journal in
// `folder` says there is one: copies the complete new content over the file, then
// removes the copy and the journal. A journal whose copy is gone or incomplete is
// stale (the rewrite never began or already ended) and is removed, as is a journal
// whose writing was cut short. True when the file was rolled forward.
//
// A reader that only needs the file whole can first ask JournalExists: a journal
// cut short while being written left the file untouched.
bool RollForward(const std::string& folder, const std::string& path);

// The name beside `path` under which a rewrite that replaces the file writes the
// new one before renaming it over the old: ".NAME.pellora-new.mp3" in its folder.
// The writer holds an exclusive lock on it for as long as it lives.
std::string ReplacementPathOf(const std::string& path);

// Removes the replacement beside `path` that a rewrite killed between naming it
// and renaming it left behind; the file itself then holds its old content, whole.
// A replacement whose writer is alive (it holds the lock) is left alone.
void RemoveAbandonedReplacement(const std::string& path);

}  // namespace pellora::tags
