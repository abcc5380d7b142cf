// SPDX-License-Identifier: MIT
// The tag store behind the C API: a handle owns one clsID3; properties are
// reached by their names, texts cross as UTF-8.
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

#include "servers/common/c_api_support.h"
#include "servers/pellora/pellora_tags.h"
#include "hosting/file.h"
#include "tags/id3.h"
#include "tags/rewrite_journal.h"
#include "text/text.h"

using pellora::tags::clsID3;
using pellora::tags::TextItem;
using namespace pellora::servers;

struct pellora_tags {
  clsID3 store;
  int os_error = 0;  // the errno behind the last failed update or strip
};

namespace {

constexpr const char* kTextNames[] = {
#define PELLORA_ITEM_NAME(name) #name,
    PELLORA_ID3_TEXT_ITEMS(PELLORA_ITEM_NAME)
#undef PELLORA_ITEM_NAME
};

// The numbers of the store by name, as 64-bit integers.
struct IntProperty {
  std::string_view name;
  std::int64_t (*get)(const clsID3&);
};
constexpr IntProperty kIntProperties[] = {
    {"GenreID", [](const clsID3& t) -> std::int64_t { return t.GenreID(); }},
    {"ID3v1Exists", [](const clsID3& t) -> std::int64_t { return t.ID3v1Exists(); }},
    {"ID3v2Exists", [](const clsID3& t) -> std::int64_t { return t.ID3v2Exists(); }},
    {"Lyrics3v1Exists", [](const clsID3& t) -> std::int64_t { return t.Lyrics3v1Exists(); }},
    {"Lyrics3v2Exists", [](const clsID3& t) -> std::int64_t { return t.Lyrics3v2Exists(); }},
    {"ID3RevisionV2", [](const clsID3& t) -> std::int64_t { return t.ID3RevisionV2(); }},
    {"AudioStart", [](const clsID3& t) -> std::int64_t { return t.AudioStart(); }},
    {"AudioSize", [](const clsID3& t) -> std::int64_t { return t.AudioSize(); }},
    {"IsVbr", [](const clsID3& t) -> std::int64_t { return t.IsVbr(); }},
    {"VbrFrames", [](const clsID3& t) -> std::int64_t { return t.VbrFrames(); }},
    {"VbrBytes", [](const clsID3& t) -> std::int64_t { return t.VbrBytes(); }},
    {"VbrQuality", [](const clsID3& t) -> std::int64_t { return t.VbrQuality(); }},
    {"VbriTocEntries", [](const clsID3& t) -> std::int64_t { return t.VbriTocEntries(); }},
    {"VbriTocEntrySize", [](const clsID3& t) -> std::int64_t { return t.VbriTocEntrySize(); }},
    {"Layer", [](const clsID3& t) -> std::int64_t { return t.Layer(); }},
    {"MPEGVersion", [](const clsID3& t) -> std::int64_t { return t.MPEGVersion(); }},
    {"ChannelMode", [](const clsID3& t) -> std::int64_t { return t.ChannelMode(); }},
    {"Padding", [](const clsID3& t) -> std::int64_t { return t.Padding(); }},
    {"Encoding", [](const clsID3& t) -> std::int64_t { return t.Encoding(); }},
    {"SamplingRateFrequency", [](const clsID3& t) -> std::int64_t { return t.SamplingRateFrequency(); }},
    {"FrameSamples", [](const clsID3& t) -> std::int64_t { return t.FrameSamples(); }},
};

bool Valid(const pellora_tags* tags, const char* name) { return tags && name; }

int ScanResult(const clsID3& store, int* os_error) {
  const std::error_code& ec = store.ScanError();
  if (os_error) *os_error = ec.value();
  return ec ? int(PELLORA_E_CANNOT_READ) : int(kOk);
}

// The errno that best explains a rewrite that left the file unchanged (or its new
// content in a copy); 0 when the system names none.
int FailureErrno(const std::string& path) {
  return pellora::hosting::FindWriteObstacle(path, pellora::tags::TemporaryFolder()).error.value();
}

// Runs an update or strip of the handle's file. The file must still be the regular
// file the handle was opened on: a handle never creates a file, so a file moved or
// deleted since is reported, not replaced by one holding the tags alone.
int Rewrite(pellora_tags& tags, void (clsID3::*rewrite)()) {
  tags.os_error = 0;
  const std::string path = pellora::tags::PathFromFileName(tags.store.FileName());
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    tags.os_error = errno;
    return tags.os_error == ENOENT ? int(PELLORA_E_FILE_GONE) : int(PELLORA_E_UNCHANGED);
  }
  if (!S_ISREG(st.st_mode)) return PELLORA_E_NOT_REGULAR;
  (tags.store.*rewrite)();
  switch (tags.store.LastRewriteOutcome()) {
    case clsID3::RewriteOutcome::Rewritten: return kOk;
    case clsID3::RewriteOutcome::TagTooLarge: return PELLORA_E_TAG_TOO_LARGE;
    case clsID3::RewriteOutcome::DamagedTag: return PELLORA_E_DAMAGED_TAG;
    case clsID3::RewriteOutcome::KeptCopy:
      tags.os_error = FailureErrno(path);
      return PELLORA_E_KEPT_COPY;
    case clsID3::RewriteOutcome::NotRun:
    case clsID3::RewriteOutcome::Unchanged: break;
  }
  tags.os_error = FailureErrno(path);
  return PELLORA_E_UNCHANGED;
}

}  // namespace

extern "C" {

int pellora_tags_open(const char* path, pellora_tags** out, int* os_error) {
  if (os_error) *os_error = 0;
  if (!path || !out) return kInvalidArgument;
  *out = nullptr;
  return Guarded([&] {
    auto tags = std::make_unique<pellora_tags>();
    tags->store.FileName(pellora::tags::FileNameFromPath(path));  // as the command line does
    const int result = ScanResult(tags->store, os_error);
    if (result == kOk) *out = tags.release();
    return result;
  });
}

void pellora_tags_destroy(pellora_tags* tags) { delete tags; }

int pellora_tags_refresh(pellora_tags* tags, int* os_error) {
  if (os_error) *os_error = 0;
  if (!tags) return kInvalidArgument;
  return Guarded([&] {
    tags->store.RefreshID3Tags();
    return ScanResult(tags->store, os_error);
  });
}

int pellora_tags_text_count(void) { return int(std::size(kTextNames)); }

const char* pellora_tags_text_name(int index) {
  return index >= 0 && index < pellora_tags_text_count() ? kTextNames[index] : nullptr;
}

int pellora_tags_get_text(const pellora_tags* tags, const char* name, char* buffer, size_t size,
                          size_t* length) {
  if (!Valid(tags, name)) return kInvalidArgument;
  return Guarded([&] {
    const auto item = clsID3::FindItem(name);
    if (!item) return int(PELLORA_E_UNKNOWN_PROPERTY);
    return CopyOut(pellora::tags::Utf8FromText(tags->store.Text(*item)), buffer, size, length);
  });
}

int pellora_tags_set_text(pellora_tags* tags, const char* name, const char* utf8) {
  if (!Valid(tags, name) || !utf8) return kInvalidArgument;
  return Guarded([&] {
    const auto item = clsID3::FindItem(name);
    if (!item) return int(PELLORA_E_UNKNOWN_PROPERTY);
    if (!pellora::text::IsValidUtf8(utf8)) return int(PELLORA_E_NOT_UTF8);
    tags->store.SetText(*item, pellora::tags::TextFromUtf8(utf8));
    return int(kOk);
  });
}

int pellora_tags_get_int(const pellora_tags* tags, const char* name, int64_t* value) {
  if (!Valid(tags, name) || !value) return kInvalidArgument;
  for (const auto& property : kIntProperties)
    if (property.name == name) return StoreOut(value, property.get(tags->store));
  return PELLORA_E_UNKNOWN_PROPERTY;
}

int pellora_tags_set_int(pellora_tags* tags, const char* name, int64_t value) {
  if (!Valid(tags, name)) return kInvalidArgument;
  if (std::string_view(name) != "GenreID") return PELLORA_E_UNKNOWN_PROPERTY;
  if (value < std::numeric_limits<std::int32_t>::min() || value > std::numeric_limits<std::int32_t>::max())
    return PELLORA_E_OUT_OF_RANGE;
  tags->store.GenreID(static_cast<std::int32_t>(value));
  return kOk;
}

int pellora_tags_get_double(const pellora_tags* tags, const char* name, double* value) {
  if (!Valid(tags, name) || !value) return kInvalidArgument;
  const std::string_view property = name;
  if (property == "BitRate") return StoreOut(value, tags->store.BitRate());
  if (property == "length") return StoreOut(value, tags->store.length());
  if (property != "FrameSize") return PELLORA_E_UNKNOWN_PROPERTY;
  try {
    return StoreOut(value, tags->store.FrameSize());
  } catch (const std::domain_error&) {
    return PELLORA_E_NO_VALUE;
  }
}

int pellora_tags_frame_header(const pellora_tags* tags, uint8_t header[3]) {
  if (!tags || !header) return kInvalidArgument;
  std::memcpy(header, tags->store.FrameHeader().data(), 3);
  return kOk;
}

int pellora_tags_vbr_toc(const pellora_tags* tags, uint8_t* buffer, size_t size, size_t* length) {
  if (!tags || (!buffer && size > 0)) return kInvalidArgument;
  const auto& toc = tags->store.VbrToc();
  if (length) *length = toc.size();
  if (size > 0) std::memcpy(buffer, toc.data(), std::min(size, toc.size()));
  return size < toc.size() ? kBufferTooSmall : kOk;
}

int pellora_tags_update(pellora_tags* tags) {
  if (!tags) return kInvalidArgument;
  return Guarded([&] { return Rewrite(*tags, &clsID3::UpdateID3Tags); });
}

int pellora_tags_strip(pellora_tags* tags) {
  if (!tags) return kInvalidArgument;
  return Guarded([&] { return Rewrite(*tags, &clsID3::DeleteID3Tags); });
}

int pellora_tags_os_error(const pellora_tags* tags) { return tags ? tags->os_error : 0; }

int pellora_tags_kept_copy(const pellora_tags* tags, char* buffer, size_t size, size_t* length) {
  if (!tags) return kInvalidArgument;
  return Guarded([&] { return CopyOut(tags->store.KeptCopyPath(), buffer, size, length); });
}

int pellora_tags_genre_name(int32_t genre_id, char* buffer, size_t size, size_t* length) {
  return Guarded([&] {
    const std::u16string name = clsID3::GenreName(genre_id);
    if (name.empty()) {
      if (length) *length = 0;
      return int(PELLORA_E_NO_VALUE);
    }
    return CopyOut(pellora::tags::Utf8FromText(name), buffer, size, length);
  });
}

int pellora_tags_genre_id(const char* utf8, int32_t* genre_id) {
  if (!utf8 || !genre_id) return kInvalidArgument;
  if (!pellora::text::IsValidUtf8(utf8)) return PELLORA_E_NOT_UTF8;
  return Guarded([&] { return StoreOut(genre_id, clsID3::ToGenreID(pellora::tags::TextFromUtf8(utf8))); });
}

const char* pellora_tags_error_text(int code) {
  switch (code) {
    case PELLORA_OK: return "success";
    case PELLORA_E_INVALID_ARGUMENT: return "invalid argument";
    case PELLORA_E_BUFFER_TOO_SMALL: return "buffer too small";
    case PELLORA_E_FAILED: return "internal failure";
    case PELLORA_E_OUT_OF_MEMORY: return "out of memory";
    case PELLORA_E_CONNECT_REFUSED: return "connection refused";
    case PELLORA_E_UNKNOWN_PROPERTY: return "no such property";
    case PELLORA_E_CANNOT_READ: return "cannot read the file";
    case PELLORA_E_NOT_UTF8: return "text is not UTF-8";
    case PELLORA_E_NO_VALUE: return "no value";
    case PELLORA_E_UNCHANGED: return "the file could not be changed; it holds its old content";
    case PELLORA_E_KEPT_COPY: return "writing the file failed midway; its new content is kept in a temporary copy";
    case PELLORA_E_OUT_OF_RANGE: return "value out of range";
    case PELLORA_E_TAG_TOO_LARGE: return "the new tag is larger than its size field can say; the file is unchanged";
    case PELLORA_E_FILE_GONE: return "the file is no longer there; nothing was written";
    case PELLORA_E_NOT_REGULAR: return "not a regular file; nothing was written";
    case PELLORA_E_DAMAGED_TAG:
      return "its ID3v2 tag claims more bytes than the file holds (a damaged tag); the file is unchanged";
    default: return "unknown result code";
  }
}

}  // extern "C"
