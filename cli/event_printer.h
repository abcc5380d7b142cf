// SPDX-License-Identifier: MIT
#pragma once
// `--json-events`: every event of the recorded streams as one JSON object a line on
// stdout, e.g. {"event":"MetaChanged","meta":"StreamTitle='…';"}. Byte text is
// given as JSON strings of one character per byte (U+0000 … U+00FF), so that the
// bytes the station sent can be recovered exactly. With several streams each
// object also names its stream's URL ("url"). Other observers of a recorder's
// events (the service's counters) derive from it and override what they need.
#include <cstdint>
#include <string>

#include "capture/torvane.h"
#include "cli/split_recorder.h"

namespace pellora::cli {

class EventPrinter {
 public:
  explicit EventPrinter(bool name_streams) : name_streams_(name_streams) {}
  virtual ~EventPrinter() = default;

  virtual void StateChanged(const std::string& url);
  virtual void GotHeader(const std::string& url, const std::string& header);
  virtual void MetaChanged(const std::string& url, const std::string& meta);
  virtual void Error(const std::string& url, capture::EErrType type, std::int32_t code,
                     const std::string& description);
  // {"event":"SongSaved","path":…,"artist":…,"title":…,"bytes":n,"seconds":x,"complete":bool}
  // (texts in UTF-8).
  virtual void SongSaved(const std::string& url, const SavedSong& song);

 private:
  bool name_streams_;
};

}  // namespace pellora::cli
