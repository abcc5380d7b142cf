// SPDX-License-Identifier: MIT
#include "cli/tags_command.h"

#include <algorithm>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/exit_codes.h"
#include "cli/json_text.h"
#include "cli/tags_json.h"
#include "tags/id3.h"
#include "text/text.h"

namespace pellora::cli {
namespace {

struct TagsOptions {
  std::vector<std::string> files;
  bool json = false;
  bool json_lines = false;
  bool all = false;
  bool quiet = false;
};

// Says why the scan read nothing, when it could not read the file; the scan
// itself opens the file once and never waits on a FIFO.
bool ScanWasRead(const tags::clsID3& id3, const std::string& path) {
  const std::error_code& ec = id3.ScanError();
  if (!ec) return true;
  std::cerr << "pellora tags: cannot read " << text::EscapeForTerminal(path) << ": "
            << (ec == std::errc::not_supported ? "not a regular file" : ec.message()) << '\n';
  return false;
}

// The readable meaning of a code, shown beside it.
std::string CodeName(const std::string& property, const std::string& value) {
  static const struct {
    const char* property;
    const char* names[4];
  } kNames[] = {
      {"Layer", {"reserved", "Layer III", "Layer II", "Layer I"}},
      {"MPEGVersion", {"MPEG-2.5", "reserved", "MPEG-1", "MPEG-2"}},
      {"ChannelMode", {"stereo", "joint stereo", "dual channel", "single channel"}},
      {"Encoding", {"constant bit rate", "variable bit rate", nullptr, nullptr}},
  };
  for (const auto& entry : kNames) {
    if (property != entry.property) continue;
    const int code = value.size() == 1 ? value[0] - '0' : -1;
    return code >= 0 && code < 4 && entry.names[code] ? entry.names[code] : "";
  }
  return "";
}

// Continuation lines of a multi-line value (lyrics) start under the value column;
// each line is escaped, so no text from the file can act on the terminal.
std::string IndentLines(const std::string& value, std::size_t indent) {
  std::string out, line;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '\r' && i + 1 < value.size() && value[i + 1] == '\n') continue;
    if (value[i] != '\r' && value[i] != '\n') {
      line += value[i];
      continue;
    }
    out += text::EscapeForTerminal(line) + '\n' + std::string(indent, ' ');
    line.clear();
  }
  return out + text::EscapeForTerminal(line);
}

// The rows of the table: every property, empty texts left out unless `all`; the
// MPEG rows replaced by one line when the file holds no MPEG audio.
std::vector<std::pair<std::string, std::string>> TableRows(const tags::clsID3& id3, bool all) {
  const bool no_audio = id3.AudioStart() == 0;
  std::vector<std::pair<std::string, std::string>> rows;
  bool in_mpeg = false;
  for (auto& [name, value] : TagsToRows(id3)) {
    in_mpeg = in_mpeg || name == "Layer";
    if (in_mpeg && no_audio && !all) continue;
    if (value.empty() && !all) continue;
    std::string shown = value;
    if (const std::string meaning = CodeName(name, value); !meaning.empty()) shown += " (" + meaning + ")";
    if (name == "GenreID") {
      if (const auto genre = tags::clsID3::GenreName(id3.GenreID()); !genre.empty())
        shown += " (" + text::Utf16ToUtf8(genre) + ")";
    }
    rows.emplace_back(name, shown);
  }
  if (no_audio) rows.emplace_back("no MPEG audio", "");
  return rows;
}

int RunTags(const TagsOptions& options) {
  int status = 0;
  auto all = nlohmann::ordered_json::array();
  const bool headers = options.files.size() > 1;
  bool first_table = true;
  for (const std::string& path : options.files) {
    tags::clsID3 id3;
    id3.FileName(text::PathToUtf16(path));
    if (!ScanWasRead(id3, path)) {
      status = kExitFile;
      continue;
    }
    if (options.quiet) continue;
    if (options.json_lines) {
      std::cout << JsonText(TagsToJson(id3)) << '\n';
      continue;
    }
    if (options.json) {
      all.push_back(TagsToJson(id3));
      continue;
    }
    if (!first_table) std::cout << '\n';
    first_table = false;
    if (headers) std::cout << "==> " << text::EscapeForTerminal(path) << " <==\n";
    PrintTagsTable(id3, options.all);
  }
  if (options.json && options.files.size() > 1) std::cout << JsonText(all, 2) << '\n';
  if (options.json && options.files.size() == 1 && !all.empty()) std::cout << JsonText(all[0], 2) << '\n';
  return status;
}

}  // namespace

void PrintTagsTable(const tags::clsID3& id3, bool all) {
  const auto rows = TableRows(id3, all);
  std::size_t width = 0;
  for (const auto& row : rows) width = std::max(width, row.first.size());
  for (const auto& [name, value] : rows) {
    std::cout << name;
    if (!value.empty()) std::cout << std::string(width - name.size() + 2, ' ') << IndentLines(value, width + 2);
    std::cout << '\n';
  }
}

void RegisterTagsCommand(CLI::App& app, CommandList& commands) {
  auto options = std::make_shared<TagsOptions>();
  CLI::App* sub = app.add_subcommand("tags", "Read the tags and the first audio frame of MP3 files");
  sub->add_option("FILE", options->files, "Files to read")->required();
  auto* json = sub->add_flag("--json", options->json, "Print one JSON object per file (an array for several files)");
  sub->add_flag("--json-lines", options->json_lines, "Print one JSON object per file, one per line, as each is read")
      ->excludes(json);
  sub->add_flag("--all", options->all, "Show the empty properties too");
  sub->add_flag("-q,--quiet", options->quiet, "Print nothing but failures: the exit status says whether every file was read");
  commands.push_back({sub, [options] { return RunTags(*options); }});
}

}  // namespace pellora::cli
