#include "cli/tags_command.h"

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/tags_json.h"
#include "tags/id3.h"
#include "text/text.h"

namespace pellora::cli {
namespace {

struct TagsOptions {
  std::vector<std::string> files;
  bool json = false;
};

// Says why the scan read nothing, when it could not read the file; the scan
// itself opens the file once and never waits on a FIFO.
bool ScanWasRead(const tags::clsID3& id3, const std::string& path) {
  const std::error_code& ec = id3.ScanError();
  if (!ec) return true;
  std::cerr << "pellora tags: cannot read " << path << ": "
            << (ec == std::errc::not_supported ? "not a regular file" : ec.message()) << '\n';
  return false;
}

// Continuation lines of a multi-line value (lyrics) start under the value column.
std::string IndentLines(const std::string& value, std::size_t indent) {
  std::string out;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '\r' && i + 1 < value.size() && value[i + 1] == '\n') continue;
    if (value[i] == '\r' || value[i] == '\n') out += '\n' + std::string(indent, ' ');
    else out += value[i];
  }
  return out;
}

int RunTags(const TagsOptions& options) {
  int status = 0;
  auto all = nlohmann::ordered_json::array();
  bool first_table = true;
  for (const std::string& path : options.files) {
    tags::clsID3 id3;
    id3.FileName(text::StreamTextToUtf16(path));
    if (!ScanWasRead(id3, path)) {
      status = 1;
      continue;
    }
    if (options.json) {
      all.push_back(TagsToJson(id3));
      continue;
    }
    if (!first_table) std::cout << '\n';
    first_table = false;
    PrintTagsTable(id3);
  }
  if (options.json && options.files.size() > 1) std::cout << all.dump(2) << '\n';
  if (options.json && options.files.size() == 1 && !all.empty()) std::cout << all[0].dump(2) << '\n';
  return status;
}

}  // namespace

void PrintTagsTable(const tags::clsID3& id3) {
  const auto rows = TagsToRows(id3);
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
  sub->add_flag("--json", options->json, "Print one JSON object per file (an array for several files)");
  commands.push_back({sub, [options] { return RunTags(*options); }});
}

}  // namespace pellora::cli
