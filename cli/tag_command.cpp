// SPDX-License-Identifier: MIT
#include "cli/tag_command.h"

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "cli/exit_codes.h"
#include "cli/json_text.h"
#include "cli/tags_command.h"
#include "cli/tags_json.h"
#include "hosting/file.h"
#include "tags/id3.h"
#include "text/text.h"

namespace pellora::cli {
namespace {

struct TagOptions {
  std::vector<std::string> files;
  // (property, value) in the order they are applied: the named options, then --set.
  std::vector<std::pair<tags::TextItem, std::string>> items;
  std::optional<std::string> track;
  std::optional<std::int32_t> genre_id;
  std::vector<std::string> assignments;  // --set PROPERTY=VALUE
  bool json = false;
  bool quiet = false;
  bool exact_padding = false;
};

// The tag store creates a missing file and reports nothing, so the command checks
// first that the file is there and readable, and names the reason when it is not.
bool CanRead(const char* command, const std::string& file_name) {
  const std::string path = text::EscapeForTerminal(file_name);
  std::error_code ec;
  // Anything else is refused before it is opened: opening a FIFO blocks.
  if (std::filesystem::exists(file_name, ec) && !hosting::IsRegularFile(file_name)) {
    std::cerr << "pellora " << command << ": " << path << " is not a regular file\n";
    return false;
  }
  const auto file = hosting::File::Open(file_name, hosting::OpenMode::Read, ec);
  if (file.IsOpen()) return true;
  std::cerr << "pellora " << command << ": cannot read " << path << ": " << ec.message() << '\n';
  return false;
}

// Says what happened when the rewrite did not leave the file with its new content,
// and when an interrupted earlier rewrite had to be finished first.
bool ReportOutcome(const char* command, const tags::clsID3& id3, const std::string& file_name, bool quiet) {
  const std::string path = text::EscapeForTerminal(file_name);
  using Outcome = tags::clsID3::RewriteOutcome;
  if (id3.RolledForward() && !quiet)
    std::cerr << "pellora " << command << ": finished an interrupted earlier rewrite of " << path << '\n';
  switch (id3.LastRewriteOutcome()) {
    case Outcome::Rewritten: return true;
    case Outcome::KeptCopy:
      std::cerr << "pellora " << command << ": writing " << path << " failed midway; its complete new content is in "
                << text::EscapeForTerminal(id3.KeptCopyPath()) << '\n';
      return false;
    case Outcome::TagTooLarge:
      std::cerr << "pellora " << command << ": " << path
                << " was left unchanged: the new ID3v2 tag would be larger than its size field can say "
                   "(256 MiB)\n";
      return false;
    case Outcome::Unchanged:
    case Outcome::NotRun: break;
  }
  std::cerr << "pellora " << command << ": " << path
            << " was left unchanged (not writable, or no room for the temporary copy in TEMP, TMPDIR or /tmp)\n";
  return false;
}

std::u16string ArgumentText(const std::string& value) { return text::StreamTextToUtf16(value); }

// Turns --set assignments into (property, value) pairs; false (with the reason on
// stderr) for an unknown name, before any file is touched.
bool ParseAssignments(const std::vector<std::string>& assignments,
                      std::vector<std::pair<tags::TextItem, std::string>>& items) {
  for (const std::string& assignment : assignments) {
    const auto equals = assignment.find('=');
    const auto item = equals == std::string::npos ? std::nullopt
                                                   : tags::clsID3::FindItem(assignment.substr(0, equals));
    if (!item) {
      std::cerr << "pellora tag: --set needs PROPERTY=VALUE with a text property such as Title; got '"
                << text::EscapeForTerminal(assignment) << "'\n";
      return false;
    }
    items.emplace_back(*item, assignment.substr(equals + 1));
  }
  return true;
}

// True when the items and the genre number of two records are the same.
bool SameValues(const tags::clsID3& a, const tags::clsID3& b) {
  for (int i = 0; i < tags::kTextItemCount; ++i)
    if (a.Text(tags::TextItem(i)) != b.Text(tags::TextItem(i))) return false;
  return a.GenreID() == b.GenreID();
}

// "N" sets the track number; "N/TOTAL" sets the total as well.
void ApplyTrack(const std::string& track, tags::clsID3& id3) {
  const auto slash = track.find('/');
  id3.TrackNumber(ArgumentText(track.substr(0, slash)));
  if (slash != std::string::npos) id3.TracksTotal(ArgumentText(track.substr(slash + 1)));
}

// Tags one file; a file whose values would not change is not rewritten.
int TagOne(const TagOptions& options, const std::vector<std::pair<tags::TextItem, std::string>>& items,
           const std::string& path, nlohmann::ordered_json& printed) {
  if (!CanRead("tag", path)) return kExitFile;
  tags::clsID3 id3;
  id3.AbsorbPadding(!options.exact_padding);
  id3.FileName(text::PathToUtf16(path));
  const tags::clsID3 before = id3;
  for (const auto& [item, value] : items) id3.SetText(item, ArgumentText(value));
  if (options.track) ApplyTrack(*options.track, id3);
  if (options.genre_id) id3.GenreID(*options.genre_id);
  if (!SameValues(before, id3)) {
    id3.UpdateID3Tags();
    if (!ReportOutcome("tag", id3, path, options.quiet)) return kExitFile;
    id3.RefreshID3Tags();
  }
  if (options.quiet) return 0;
  if (options.json) {
    printed.push_back(TagsToJson(id3));
    return 0;
  }
  if (options.files.size() > 1) std::cout << "==> " << text::EscapeForTerminal(path) << " <==\n";
  PrintTagsTable(id3);
  return 0;
}

int RunTag(const TagOptions& options) {
  hosting::RemoveTemporariesOnSignals();
  auto items = options.items;
  if (!ParseAssignments(options.assignments, items)) return 2;
  int status = 0;
  bool first = true;
  auto printed = nlohmann::ordered_json::array();
  for (const std::string& path : options.files) {
    if (!first && !options.quiet && !options.json) std::cout << '\n';
    first = false;
    status = std::max(status, TagOne(options, path, printed));
  }
  // One object for one file, an array for several, as `tags --json` prints them.
  if (!printed.empty()) std::cout << JsonText(options.files.size() == 1 ? printed[0] : printed, 2) << '\n';
  return status;
}

// "N" or "N/TOTAL" with whole numbers, or nothing (which clears both).
std::string CheckTrack(const std::string& track) {
  const auto whole = [](std::string_view digits) {
    return !digits.empty() && digits.size() <= 9 && digits.find_first_not_of("0123456789") == std::string::npos;
  };
  const auto slash = track.find('/');
  const std::string_view number = std::string_view(track).substr(0, slash);
  if (track.empty() || (whole(number) && (slash == std::string::npos || whole(track.substr(slash + 1)))))
    return {};
  return "needs NUMBER or NUMBER/TOTAL (whole numbers), not '" + text::EscapeForTerminal(track) + "'";
}

int RunStrip(const std::string& path, bool quiet) {
  if (!CanRead("strip", path)) return kExitFile;
  hosting::RemoveTemporariesOnSignals();
  tags::clsID3 id3;
  id3.FileName(text::PathToUtf16(path));
  id3.DeleteID3Tags();
  return ReportOutcome("strip", id3, path, quiet) ? kExitOk : kExitFile;
}

void AddItemOption(CLI::App* sub, TagOptions& options, const char* flag, tags::TextItem item, const char* help) {
  sub->add_option_function<std::string>(
      flag, [&options, item](const std::string& value) { options.items.emplace_back(item, value); }, help);
}

}  // namespace

void RegisterTagCommand(CLI::App& app, CommandList& commands) {
  auto options = std::make_shared<TagOptions>();
  CLI::App* sub = app.add_subcommand("tag", "Change tag items of MP3 files and print their tags");
  sub->add_option("FILE", options->files, "Files to tag")->required();
  AddItemOption(sub, *options, "--title", tags::TextItem::Title, "Title");
  AddItemOption(sub, *options, "--artist", tags::TextItem::Artist, "Artist");
  AddItemOption(sub, *options, "--album", tags::TextItem::Album, "Album");
  AddItemOption(sub, *options, "--year", tags::TextItem::Year, "Year");
  AddItemOption(sub, *options, "--comment", tags::TextItem::Comments, "Comment");
  AddItemOption(sub, *options, "--genre", tags::TextItem::Genre, "Genre text");
  sub->add_option("--track", options->track, "Track number, or NUMBER/TOTAL")
      ->check(CLI::Validator(CheckTrack, "NUMBER[/TOTAL]"));
  sub->add_option("--genre-id", options->genre_id, "Genre number (0-147, 255 unknown, -1 remix, -2 cover)")
      ->check(CLI::Range(-2, 255));
  sub->add_option("--set", options->assignments, "Any text property by its name: --set Composer=Bach")
      ->allow_extra_args(false);
  sub->add_flag("--json", options->json, "Print the new tags as JSON");
  sub->add_flag("-q,--quiet", options->quiet, "Print nothing but failures");
  sub->add_flag("--exact-padding", options->exact_padding,
                "Keep the old padding length, moving the audio when the tag's size changes "
                "(by default the padding absorbs the change and the tag is rewritten in place when it fits)");
  commands.push_back({sub, [options] { return RunTag(*options); }});
}

void RegisterStripCommand(CLI::App& app, CommandList& commands) {
  struct StripOptions {
    std::string path;
    bool quiet = false;
  };
  auto options = std::make_shared<StripOptions>();
  CLI::App* sub = app.add_subcommand("strip", "Remove every ID3 and Lyrics3 tag from an MP3 file");
  sub->add_option("FILE", options->path, "File to strip")->required();
  sub->add_flag("-q,--quiet", options->quiet, "Print nothing but failures");
  commands.push_back({sub, [options] { return RunStrip(options->path, options->quiet); }});
}

}  // namespace pellora::cli
