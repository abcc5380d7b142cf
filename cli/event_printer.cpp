// SPDX-License-Identifier: MIT
#include "cli/event_printer.h"

#include <nlohmann/json.hpp>

#include <cstdio>

#include "cli/json_text.h"
#include "text/text.h"

namespace pellora::cli {
namespace {

std::string Bytes(const std::string& bytes) { return text::Latin1ToUtf8(bytes); }

void Print(bool name_streams, const std::string& url, nlohmann::ordered_json event) {
  if (name_streams) event["url"] = Bytes(url);
  const std::string line = JsonText(event) + "\n";
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fflush(stdout);
}

}  // namespace

void EventPrinter::StateChanged(const std::string& url) {
  Print(name_streams_, url, {{"event", "StateChanged"}});
}

void EventPrinter::GotHeader(const std::string& url, const std::string& header) {
  Print(name_streams_, url, {{"event", "GotHeader"}, {"Header", Bytes(header)}});
}

void EventPrinter::MetaChanged(const std::string& url, const std::string& meta) {
  Print(name_streams_, url, {{"event", "MetaChanged"}, {"meta", Bytes(meta)}});
}

void EventPrinter::Error(const std::string& url, capture::EErrType type, std::int32_t code,
                         const std::string& description) {
  Print(name_streams_, url,
        {{"event", "Error"}, {"ErrType", int(type)}, {"ErrCode", code}, {"Description", Bytes(description)}});
}

void EventPrinter::SongSaved(const std::string& url, const SavedSong& song) {
  Print(name_streams_, url,
        {{"event", "SongSaved"},
         {"path", text::StreamTextToUtf8(song.path)},
         {"artist", song.artist},
         {"title", song.title},
         {"bytes", song.bytes},
         {"seconds", song.seconds},
         {"complete", song.complete}});
}

}  // namespace pellora::cli
