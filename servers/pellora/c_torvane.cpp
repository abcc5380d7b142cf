// SPDX-License-Identifier: MIT
// The Torvane control behind the C API: a handle owns the control, its site on
// the library's loop, and the adapter that turns its events into the host's
// callbacks.
#include <algorithm>
#include <climits>
#include <memory>
#include <optional>
#include <string>

#include "capture/torvane.h"
#include "servers/common/c_api_support.h"
#include "servers/pellora/host_dialogs.h"
#include "servers/pellora/pellora.h"

using pellora::capture::EErrType;
using pellora::capture::Torvane;
using namespace pellora::servers;

namespace {

// Passes the control's events to the host's callbacks, unless the host has
// destroyed the handle meanwhile.
class CallbackSink final : public pellora::capture::TorvaneEvents {
 public:
  explicit CallbackSink(const CountedHandle& handle) : handle_(handle) {}
  void Set(const pellora_torvane_events* events) {
    events_ = events ? *events : pellora_torvane_events{};
  }

  void StateChanged() override {
    handle_.Notify(events_.state_changed, [&] { events_.state_changed(events_.user_data); });
  }
  void MetaChanged(std::string& meta) override {
    handle_.Notify(events_.meta_changed,
         [&] { events_.meta_changed(events_.user_data, meta.c_str(), meta.size()); });
  }
  void Error(EErrType& type, std::int32_t& code, std::string& description) override {
    std::int32_t c_type = type;
    handle_.Notify(events_.error, [&] {
      events_.error(events_.user_data, &c_type, &code, description.c_str(), description.size());
    });
  }
  void GotHeader(std::string& header) override {
    handle_.Notify(events_.got_header,
         [&] { events_.got_header(events_.user_data, header.c_str(), header.size()); });
  }
  void BeforeStateChanged(bool& write_id3_tag) override {
    int c_flag = write_id3_tag;
    handle_.Notify(events_.before_state_changed,
         [&] { events_.before_state_changed(events_.user_data, &c_flag); });
  }

 private:
  const CountedHandle& handle_;
  pellora_torvane_events events_{};
};

// Passes the audio slices to the host's audio callback.
class AudioCallbackSink final : public pellora::capture::TorvaneAudioSink {
 public:
  explicit AudioCallbackSink(const CountedHandle& handle) : handle_(handle) {}
  void Set(pellora_audio_callback callback, void* user_data) {
    callback_ = callback;
    user_data_ = user_data;
  }
  bool active() const { return callback_ != nullptr; }

  void AudioSlice(std::span<const char> audio) override {
    handle_.Notify(callback_, [&] { callback_(user_data_, audio.data(), audio.size()); });
  }

 private:
  const CountedHandle& handle_;
  pellora_audio_callback callback_ = nullptr;
  void* user_data_ = nullptr;
};

}  // namespace

struct pellora_torvane : CountedHandle {
  pellora_torvane() : site(LibraryLoop(), &LibraryDialogs()), sink(*this), audio_sink(*this) {}
  ~pellora_torvane() {
    if (control) {
      control->SetEvents(nullptr);
      control->SetAudioSink(nullptr);
    }
  }

  pellora::hosting::Site site;
  CallbackSink sink;
  AudioCallbackSink audio_sink;
  std::shared_ptr<Torvane> control;
};

namespace {

// Runs `body` on the control of a valid handle.
template <class Handle, class Body>
int With(Handle* handle, Body body) {
  return WithHandle(handle, [&](auto& h) { return body(*h.control); });
}

int CopyOptional(const std::optional<std::string>& value, char* buffer, size_t size,
                 size_t* length, int* present) {
  if (present) *present = value.has_value();
  return CopyOut(value.value_or(std::string()), buffer, size, length);
}

}  // namespace

extern "C" {

int pellora_torvane_create(pellora_torvane** control) {
  if (!control) return PELLORA_E_INVALID_ARGUMENT;
  *control = nullptr;
  return Guarded([&] {
    auto handle = std::make_unique<pellora_torvane>();
    handle->control = handle->site.Create<Torvane>();
    handle->control->SetEvents(&handle->sink);
    *control = handle.release();
    return kOk;
  });
}

void pellora_torvane_destroy(pellora_torvane* control) {
  if (!control) return;
  try {
    CountedHandle::Destroy(std::unique_ptr<pellora_torvane>(control), [](pellora_torvane& h) {
      h.control->SetEvents(nullptr);
      h.control->SetAudioSink(nullptr);
      h.site.TerminateControl();
    });
  } catch (...) {
    // Nothing to report to: the handle is gone for the host either way.
  }
}

int pellora_torvane_set_events(pellora_torvane* control, const pellora_torvane_events* events) {
  if (!control) return PELLORA_E_INVALID_ARGUMENT;
  control->sink.Set(events);
  return PELLORA_OK;
}

int pellora_torvane_set_audio_callback(pellora_torvane* control, pellora_audio_callback callback,
                                       void* user_data) {
  return With(control, [&](Torvane& t) {
    control->audio_sink.Set(callback, user_data);
    t.SetAudioSink(control->audio_sink.active() ? &control->audio_sink : nullptr);
    return kOk;
  });
}

int pellora_torvane_connect(pellora_torvane* control, const char* url, int disconnect_first,
                            int32_t* socket_error) {
  if (!url) return PELLORA_E_INVALID_ARGUMENT;
  return With(control, [&](Torvane& t) {
    const std::error_code refused = t.Connect(url, disconnect_first != 0);
    if (socket_error) *socket_error = refused.value();
    return refused ? PELLORA_E_CONNECT_REFUSED : PELLORA_OK;
  });
}

int pellora_torvane_disconnect(pellora_torvane* control) {
  return With(control, [](Torvane& t) { t.Disconnect(); return kOk; });
}

int pellora_torvane_get_meta(const pellora_torvane* control, const char* var, char* buffer,
                             size_t size, size_t* length, int* present) {
  if (!var) return PELLORA_E_INVALID_ARGUMENT;
  return With(control, [&](const Torvane& t) {
    return CopyOptional(t.GetMeta(var), buffer, size, length, present);
  });
}

int pellora_torvane_get_header(const pellora_torvane* control, const char* var, char* buffer,
                               size_t size, size_t* length, int* present) {
  if (!var) return PELLORA_E_INVALID_ARGUMENT;
  return With(control, [&](const Torvane& t) {
    return CopyOptional(t.GetHeader(var), buffer, size, length, present);
  });
}

int pellora_torvane_start_writing(pellora_torvane* control, const char* file, int append) {
  if (!file) return PELLORA_E_INVALID_ARGUMENT;
  return With(control, [&](Torvane& t) { t.StartWriting(file, append != 0); return kOk; });
}

int pellora_torvane_stop_writing(pellora_torvane* control) {
  return With(control, [](Torvane& t) { t.StopWriting(); return kOk; });
}

#define PELLORA_TEXT_PROPERTY(c_name, member)                                               \
  int c_name(const pellora_torvane* control, char* buffer, size_t size, size_t* length) { \
    return With(control,                                                                  \
                [&](const Torvane& t) { return CopyOut(t.member(), buffer, size, length); }); \
  }

PELLORA_TEXT_PROPERTY(pellora_torvane_stream_url, StreamURL)
PELLORA_TEXT_PROPERTY(pellora_torvane_music_name, MusicName)
PELLORA_TEXT_PROPERTY(pellora_torvane_music_url, MusicURL)
PELLORA_TEXT_PROPERTY(pellora_torvane_stream_genre, StreamGenre)
PELLORA_TEXT_PROPERTY(pellora_torvane_stream_name, StreamName)
PELLORA_TEXT_PROPERTY(pellora_torvane_get_id3_comments, ID3Comments)
PELLORA_TEXT_PROPERTY(pellora_torvane_get_id3_encoded_by, ID3EncodedBy)
PELLORA_TEXT_PROPERTY(pellora_torvane_get_id3_copyright, ID3Copyright)
PELLORA_TEXT_PROPERTY(pellora_torvane_get_id3_languages, ID3Languages)
PELLORA_TEXT_PROPERTY(pellora_torvane_get_ca_file, CaFile)
#undef PELLORA_TEXT_PROPERTY

#define PELLORA_VALUE_PROPERTY(c_name, type, member)                                   \
  int c_name(const pellora_torvane* control, type* value) {                           \
    return With(control, [&](const Torvane& t) { return StoreOut(value, t.member()); }); \
  }

PELLORA_VALUE_PROPERTY(pellora_torvane_is_writing, int, IsWriting)
PELLORA_VALUE_PROPERTY(pellora_torvane_is_connected, int, IsConnected)
PELLORA_VALUE_PROPERTY(pellora_torvane_stream_bit_rate, int16_t, StreamBitRate)
PELLORA_VALUE_PROPERTY(pellora_torvane_stream_public, int, StreamPublic)
PELLORA_VALUE_PROPERTY(pellora_torvane_received_bytes, int32_t, ReceivedBytes)
PELLORA_VALUE_PROPERTY(pellora_torvane_received_meta_info, int32_t, ReceivedMetaInfo)
PELLORA_VALUE_PROPERTY(pellora_torvane_written_bytes, int32_t, WrittenBytes)
PELLORA_VALUE_PROPERTY(pellora_torvane_get_write_id3_tag_to_file, int, WriteID3TagToFile)
PELLORA_VALUE_PROPERTY(pellora_torvane_get_accept_http_ok, int, AcceptHttpOk)
PELLORA_VALUE_PROPERTY(pellora_torvane_get_insecure, int, Insecure)
PELLORA_VALUE_PROPERTY(pellora_torvane_stream_ended, int, StreamEnded)
PELLORA_VALUE_PROPERTY(pellora_torvane_received_bytes_total, int64_t, ReceivedBytesTotal)
PELLORA_VALUE_PROPERTY(pellora_torvane_written_bytes_total, int64_t, WrittenBytesTotal)
#undef PELLORA_VALUE_PROPERTY

#define PELLORA_TEXT_SETTER(c_name, member)                                          \
  int c_name(pellora_torvane* control, const char* text) {                          \
    if (!text) return PELLORA_E_INVALID_ARGUMENT;                                   \
    return With(control, [&](Torvane& t) { t.member(std::string(text)); return kOk; }); \
  }

PELLORA_TEXT_SETTER(pellora_torvane_set_id3_comments, ID3Comments)
PELLORA_TEXT_SETTER(pellora_torvane_set_id3_encoded_by, ID3EncodedBy)
PELLORA_TEXT_SETTER(pellora_torvane_set_id3_copyright, ID3Copyright)
PELLORA_TEXT_SETTER(pellora_torvane_set_id3_languages, ID3Languages)
PELLORA_TEXT_SETTER(pellora_torvane_set_ca_file, CaFile)
#undef PELLORA_TEXT_SETTER

int pellora_torvane_get_notices(const pellora_torvane* control, char* buffer, size_t size,
                                size_t* length, int* present) {
  return With(control, [&](const Torvane& t) {
    return CopyOptional(t.GetNotices(), buffer, size, length, present);
  });
}

int pellora_torvane_set_write_id3_tag_to_file(pellora_torvane* control, int value) {
  return With(control, [&](Torvane& t) { t.WriteID3TagToFile(value != 0); return kOk; });
}

int pellora_torvane_set_accept_http_ok(pellora_torvane* control, int value) {
  return With(control, [&](Torvane& t) { t.AcceptHttpOk(value != 0); return kOk; });
}

int pellora_torvane_set_insecure(pellora_torvane* control, int value) {
  return With(control, [&](Torvane& t) { t.Insecure(value != 0); return kOk; });
}

int pellora_torvane_get_header_timeout(const pellora_torvane* control, int32_t* milliseconds) {
  return With(control, [&](const Torvane& t) {
    return StoreOut(milliseconds, static_cast<int32_t>(std::clamp<std::int64_t>(
                                      t.HeaderTimeout().count(), INT32_MIN, INT32_MAX)));
  });
}

int pellora_torvane_set_header_timeout(pellora_torvane* control, int32_t milliseconds) {
  return With(control, [&](Torvane& t) { t.HeaderTimeout(std::chrono::milliseconds(milliseconds)); return kOk; });
}

int pellora_torvane_about(pellora_torvane* control, int* present) {
  return With(control, [&](Torvane& t) {
    const auto result = t.About();
    return StoreOut(present, result.has_value());
  });
}

}  // extern "C"

namespace {

void* CreateInstance() {
  pellora_torvane* control = nullptr;
  return pellora_torvane_create(&control) == PELLORA_OK ? control : nullptr;
}

void DestroyInstance(void* instance) {
  pellora_torvane_destroy(static_cast<pellora_torvane*>(instance));
}

const component_class_factory kTorvaneFactory{PELLORA_TORVANE_CLASS_ID, "Pellora.Torvane",
                                              CreateInstance, DestroyInstance};
const component_class_factory* const kClasses[] = {&kTorvaneFactory};

}  // namespace

std::span<const component_class_factory* const> pellora::servers::ServerClasses() {
  return kClasses;
}
