// SPDX-License-Identifier: MIT
// `pellora record`: records one or more internet-radio streams, each into a file.
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>

#include "cli/commands.h"
#include "cli/exit_codes.h"
#include "cli/record_session.h"
#include "cli/seconds_option.h"
#include "hosting/event_loop.h"
#include "hosting/file.h"
#include "songs/song_naming.h"
#include "text/text.h"

namespace pellora::cli {
namespace {

struct RecordCommand {
  std::vector<std::string> urls;
  std::string from_file;
  std::string output;
  std::optional<double> duration_seconds;
  double stall_seconds = 15;
  bool json_events = false;
  bool quiet = false;
  RecordingSettings settings;
  bool split = false;
  SplitSettings split_settings;
  std::string song_option;  // the first option given that acts on songs only
};

// What only --split acts on.
constexpr const char* kSongOptions[] = {"--name", "--pad-before", "--pad-after", "--only",
                                        "--skip", "--skip-existing", "--complete-only"};
// Seconds of the neighbouring songs a song file may take.
constexpr double kLongestPad = 60;

int UsageError(const std::string& why) {
  std::fprintf(stderr, "pellora record: %s\n", text::EscapeForTerminal(why).c_str());
  return kExitUsage;
}

bool IsFolder(const std::string& path) {
  std::error_code ignored;
  return !path.empty() && (path.back() == '/' || std::filesystem::is_directory(path, ignored));
}

// One URL a line; blank lines and lines starting with '#' are skipped.
bool ReadUrlList(const std::string& path, std::vector<std::string>& urls) {
  std::ifstream in(path);
  if (!in) return false;
  for (std::string line; std::getline(in, line);) {
    const auto first = line.find_first_not_of(" \t\r");
    if (first == std::string::npos || line[first] == '#') continue;
    const auto last = line.find_last_not_of(" \t\r");
    urls.push_back(line.substr(first, last - first + 1));
  }
  return true;
}

int RunRecord(RecordCommand command) {
  if (!command.from_file.empty() && !ReadUrlList(command.from_file, command.urls)) {
    std::fprintf(stderr, "pellora record: cannot read %s\n", text::EscapeForTerminal(command.from_file).c_str());
    return kExitFile;
  }
  if (command.urls.empty()) return UsageError("no URL given (name one or use --from FILE)");
  RecordingSettings settings = command.settings;
  settings.title_charset = command.split_settings.title_charset;
  if (!settings.title_charset.empty() && !text::IsKnownCharset(settings.title_charset))
    return UsageError("unknown charset " + settings.title_charset);
  if (!command.split && !command.song_option.empty())
    return UsageError(command.song_option + " acts on songs: it needs --split");
  if (command.split) {
    if (command.output == kStandardOutput) return UsageError("--split writes files, not -o -");
    if (settings.cue) return UsageError("--cue marks the titles of one recording; --split makes a file per song");
    if (settings.append) return UsageError("--append adds to one recording; --split makes a file per song");
    if (const auto problem = songs::NameTemplateProblem(command.split_settings.name_template); !problem.empty())
      return UsageError("--name " + problem);
    auto& split = command.split_settings;
    split.folder = command.output;
    split.folder_per_station = command.urls.size() > 1;
    std::error_code ec;
    if (!split.folder.empty()) std::filesystem::create_directories(split.folder, ec);
    if (ec) {
      std::fprintf(stderr, "pellora record: cannot create the folder %s: %s\n",
                   text::EscapeForTerminal(split.folder).c_str(), ec.message().c_str());
      return kExitFile;
    }
    settings.split = split;
    command.output.clear();
  }
  settings.stall_timeout = std::chrono::milliseconds(static_cast<long long>(command.stall_seconds * 1000));
  const bool to_stdout = command.output == kStandardOutput;
  if (to_stdout && command.urls.size() > 1) return UsageError("-o - records one stream only");
  // A FIFO or a device (/dev/stdout, /dev/null) takes the audio as it arrives, as - does.
  if ((to_stdout || hosting::WritesInPlace(command.output)) && (settings.tag || settings.append || settings.cue))
    return UsageError("--tag, --append and --cue need a regular file, not " +
                      (to_stdout ? std::string("-o -") : command.output));
  if (to_stdout && command.json_events) return UsageError("--json-events prints to standard output, so not with -o -");
  // -o names the file of one stream, or the folder of station-named files: always
  // with several streams, and with one when it names a folder.
  if (command.urls.size() > 1 || IsFolder(command.output)) {
    if (!command.output.empty()) {
      std::error_code ec;
      std::filesystem::create_directories(command.output, ec);
      if (ec) {
        std::fprintf(stderr, "pellora record: cannot create the folder %s: %s\n",
                     text::EscapeForTerminal(command.output).c_str(), ec.message().c_str());
        return kExitFile;
      }
    }
    settings.output_folder = command.output;
  } else {
    settings.output_file = command.output;
  }
  SessionOptions options;
  if (command.duration_seconds)
    options.duration = std::chrono::milliseconds(static_cast<long long>(*command.duration_seconds * 1000));
  options.json_events = command.json_events;
  options.quiet = command.quiet;
  options.status_line = ::isatty(STDERR_FILENO) == 1 && !command.json_events && !command.quiet;
  // A reader of -o - that goes away ends the recording in order (the files of
  // the run are made whole), and then the process by SIGPIPE.
  std::signal(SIGPIPE, SIG_IGN);

  hosting::EventLoop loop;
  RecordSession session(loop, command.urls, settings, options);
  const int status = session.Run();
  if (status == kExitReaderGone) {
    std::signal(SIGPIPE, SIG_DFL);
    std::raise(SIGPIPE);
  }
  return status;
}

}  // namespace

void RegisterRecord(CLI::App& app, CommandList& commands) {
  auto command = std::make_shared<RecordCommand>();
  auto& s = command->settings;
  auto* sub = app.add_subcommand("record", "Record internet-radio streams (ICY) into files");
  sub->add_option("url", command->urls, "stream URLs, e.g. http://host:8000/live; several record at once");
  sub->add_option("--from", command->from_file, "read stream URLs from FILE, one a line")->check(CLI::ExistingFile);
  sub->add_option("-o,--output", command->output,
                  "the file to record into, or - for standard output (default: named after the station); "
                  "a folder (always with several URLs) holds files named after the stations");
  sub->add_flag("--append", s.append, "append to the file instead of replacing it");
  sub->add_option("--duration", command->duration_seconds, "stop after SECONDS (0.001 to a year)")
      ->check(Seconds(0.001));
  sub->add_flag("-q,--quiet", command->quiet, "no status line, notes or summary; failures are still reported");
  sub->add_option("--max-bytes", s.max_bytes, "stop each stream once N audio bytes are written")
      ->check(CLI::Validator(
          [](std::string& input) -> std::string {
            std::int64_t value = 0;  // signed, so that "-5" is not taken for a huge number
            return CLI::detail::lexical_cast(input, value) && value > 0 ? "" : "must be a number of bytes from 1";
          },
          "N"));
  sub->add_flag("--json-events", command->json_events, "print every event as one JSON object a line");
  sub->add_flag("--tag", s.tag, "write ID3 tags (station, genre, title of the moment) before the audio");
  sub->add_option("--comments", s.comments, "comment for the tags");
  sub->add_option("--encoded-by", s.encoded_by, "encoded-by text for the tags");
  sub->add_option("--copyright", s.copyright, "copyright text for the tags");
  sub->add_option("--languages", s.languages, "languages for the tags");
  sub->add_flag("--follow-redirects", s.follow_redirects, "follow redirections (at most 5)");
  sub->add_flag("--reconnect", s.reconnect, "reconnect after errors or silence, appending to the same file");
  sub->add_option("--stall-timeout", command->stall_seconds,
                  "seconds without any byte after which a stream counts as dropped; also the limit for a whole header")
      ->capture_default_str()
      ->check(Seconds(0.001));
  sub->add_option("--ca-file", s.ca_file, "https: trust the authorities in FILE (PEM) instead of the system's")
      ->check(CLI::ExistingFile);
  sub->add_flag("--insecure", s.insecure, "https: accept any certificate for any host (no check)");
  sub->add_flag("--strict", s.strict, "refuse servers that answer \"HTTP/1.x 200\" instead of \"ICY 200\"");
  sub->add_flag("--cue", s.cue, "write NAME.cue beside the recording: a track per title, where it began");
  auto& split = command->split_settings;
  sub->add_flag("--split", command->split, "one file per song, into the folder given by -o (default: here)");
  sub->add_option("--name", split.name_template,
                  "song file names: {artist} {title} {station} {n} {date} {time}")
      ->capture_default_str();
  sub->add_option("--pad-before", split.pad_before, "seconds of the song before copied into each song file")
      ->check(Seconds(0, kLongestPad));
  sub->add_option("--pad-after", split.pad_after, "seconds of the song after copied into each song file")
      ->check(Seconds(0, kLongestPad));
  sub->add_option("--only", split.only, "save only songs whose title matches PATTERN (*, ?, [..]; repeatable)");
  sub->add_option("--skip", split.skip, "do not save songs whose title matches PATTERN (repeatable)");
  sub->add_flag("--skip-existing", split.skip_existing, "do not record a song whose file exists already");
  sub->add_flag("--complete-only", split.complete_only,
                "drop the first and last song (joined or cut) instead of keeping them in incomplete/");
  sub->add_option("--title-charset", split.title_charset,
                  "charset of titles that are not UTF-8 (default: Windows-1252 or Latin-1); --split, --cue");
  commands.push_back({sub, [command, sub] {
    for (const char* option : kSongOptions)
      if (command->song_option.empty() && sub->count(option) > 0) command->song_option = option;
    return RunRecord(*command);
  }});
}

}  // namespace pellora::cli
