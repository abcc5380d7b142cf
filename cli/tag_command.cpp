// SPDX-License-Identifier: MIT
#include "cli/tag_command.h"

#include <algorithm>
#include <charconv>
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
#include "tags/rewrite_journal.h"
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

// The system's reason a rewrite left the file unchanged, as far as it can tell.
std::string WhyUnchanged(const std::string& file_name) {
  const hosting::WriteObstacle obstacle = hosting::FindWriteObstacle(file_name, tags::TemporaryFolder());
  if (!obstacle.error) return "its new content could not be written";
  if (obstacle.in_spare_folder)
    return "no temporary copy can be made in " + text::EscapeForTerminal(obstacle.path) +
           " (TEMP, else TMPDIR, else /tmp): " + obstacle.error.message();
  return "cannot write it: " + obstacle.error.message();
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
    case Outcome::DamagedTag:
      std::cerr << "pellora " << command << ": " << path
                << " was left unchanged: its ID3v2 tag claims more bytes than the file holds (a damaged tag; "
                   "rewriting it would cut off the audio)\n";
      return false;
    case Outcome::Unchanged:
    case Outcome::NotRun: break;
  }
  std::cerr << "pellora " << command << ": " << path << " was left unchanged: " << WhyUnchanged(file_name) << '\n';
  return false;
}

std::u16string ArgumentText(const std::string& value) { return text::StreamTextToUtf16(value); }

// A count as the number properties hold it: up to nine digits.
bool IsWholeNumber(std::string_view digits) {
  return !digits.empty() && digits.size() <= 9 && digits.find_first_not_of("0123456789") == std::string::npos;
}

constexpr std::int32_t kLowestGenreId = -2, kHighestGenreId = 255;

// The reason a --set value cannot be stored; empty when it can.
std::string CheckAssignedValue(std::string_view name, const std::string& value) {
  const bool number = name == "TrackNumber" || name == "TracksTotal" || name == "DiscNumber" || name == "DiscsTotal";
  if (number && !value.empty() && !IsWholeNumber(value))
    return "--set " + std::string(name) + " needs a whole number (or nothing), not '" +
           text::EscapeForTerminal(value) + "'";
  return {};
}

// A --set GenreID value: a whole number from -2 to 255.
std::optional<std::int32_t> ParseGenreId(const std::string& value) {
  std::int32_t id = 0;
  const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), id);
  if (error != std::errc() || end != value.data() + value.size() || id < kLowestGenreId || id > kHighestGenreId)
    return std::nullopt;
  return id;
}

// Turns --set assignments into (property, value) pairs, and GenreID into the genre
// number; false (with the reason on stderr) for an unknown name or a value the
// property cannot hold, before any file is touched.
bool ParseAssignments(TagOptions& options) {
  for (const std::string& assignment : options.assignments) {
    const auto equals = assignment.find('=');
    const std::string name = assignment.substr(0, equals);
    const std::string value = equals == std::string::npos ? "" : assignment.substr(equals + 1);
    if (equals != std::string::npos && name == "GenreID") {
      options.genre_id = ParseGenreId(value);
      if (options.genre_id) continue;
      std::cerr << "pellora tag: --set GenreID needs a number from -2 to 255, not '" << text::EscapeForTerminal(value)
                << "'\n";
      return false;
    }
    const auto item = equals == std::string::npos ? std::nullopt : tags::clsID3::FindItem(name);
    if (!item) {
      std::cerr << "pellora tag: --set needs PROPERTY=VALUE with a text property such as Title; got '"
                << text::EscapeForTerminal(assignment) << "'\n";
      return false;
    }
    if (const std::string why = CheckAssignedValue(name, value); !why.empty()) {
      std::cerr << "pellora tag: " << why << '\n';
      return false;
    }
    options.items.emplace_back(*item, value);
  }
  return true;
}

// A total is stored with its number ("3/12"): the reason the values set cannot be
// stored when they leave a total without its number; empty when they can. A file
// that already held one is not refused for an edit of something else.
std::string TotalWithoutNumber(const tags::clsID3& before, const tags::clsID3& after) {
  const auto dropped = [&](tags::TextItem number, tags::TextItem total) {
    return !after.Text(total).empty() && after.Text(number).empty() &&
           (after.Text(total) != before.Text(total) || after.Text(number) != before.Text(number));
  };
  if (dropped(tags::TextItem::TrackNumber, tags::TextItem::TracksTotal))
    return "a TracksTotal is stored with a TrackNumber, which the file has not: give both (--track N/TOTAL)";
  if (dropped(tags::TextItem::DiscNumber, tags::TextItem::DiscsTotal))
    return "a DiscsTotal is stored with a DiscNumber, which the file has not: give both";
  return {};
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
int TagOne(const TagOptions& options, const std::string& path, nlohmann::ordered_json& printed) {
  if (!CanRead("tag", path)) return kExitFile;
  tags::clsID3 id3;
  id3.AbsorbPadding(!options.exact_padding);
  id3.FileName(text::PathToUtf16(path));
  const tags::clsID3 before = id3;
  for (const auto& [item, value] : options.items) id3.SetText(item, ArgumentText(value));
  if (options.track) ApplyTrack(*options.track, id3);
  if (options.genre_id) id3.GenreID(*options.genre_id);
  if (const std::string why = TotalWithoutNumber(before, id3); !why.empty()) {
    std::cerr << "pellora tag: " << text::EscapeForTerminal(path) << " was left unchanged: " << why << '\n';
    return kExitUsage;
  }
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

int RunTag(TagOptions options) {
  hosting::RemoveTemporariesOnSignals();
  if (!ParseAssignments(options)) return kExitUsage;
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
  const auto slash = track.find('/');
  const std::string_view number = std::string_view(track).substr(0, slash);
  if (track.empty() || (IsWholeNumber(number) && (slash == std::string::npos || IsWholeNumber(track.substr(slash + 1)))))
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
      ->check(CLI::Range(kLowestGenreId, kHighestGenreId));
  sub->add_option("--set", options->assignments, "Any text property, or GenreID, by its name: --set Composer=Bach")
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
