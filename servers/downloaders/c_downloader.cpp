// SPDX-License-Identifier: MIT
// The Downloader control behind the C API: a handle owns the control, its site
// on the library's loop, and the adapter that turns its events into the host's
// callbacks. All controls share the library's one download service.
#include <memory>
#include <string>

#include "download/downloader.h"
#include "hosting/download_service.h"
#include "servers/common/c_api_support.h"
#include "servers/downloaders/downloaders.h"
#include "servers/downloaders/host_dialogs.h"

using pellora::download::Downloader;
using namespace pellora::servers;

namespace {

pellora::hosting::DownloadService& LibraryDownloadService() {
  static pellora::hosting::DownloadService service(LibraryLoop());
  return service;
}

// Passes the control's events to the host's callbacks, unless the host has
// destroyed the handle meanwhile.
class CallbackSink final : public pellora::download::DownloaderEvents {
 public:
  explicit CallbackSink(const CountedHandle& handle) : handle_(handle) {}
  void Set(const downloaders_downloader_events* events) {
    events_ = events ? *events : downloaders_downloader_events{};
  }

  void DownloadProgress(std::int32_t& cur, std::int32_t& max, std::string& save_file) override {
    handle_.Notify(events_.download_progress,
         [&] { events_.download_progress(events_.user_data, &cur, &max, save_file.c_str()); });
  }
  void DownloadError(std::string& save_file) override {
    handle_.Notify(events_.download_error,
         [&] { events_.download_error(events_.user_data, save_file.c_str()); });
  }
  void DownloadComplete(std::int32_t& max, std::string& save_file) override {
    handle_.Notify(events_.download_complete,
         [&] { events_.download_complete(events_.user_data, &max, save_file.c_str()); });
  }

 private:
  const CountedHandle& handle_;
  downloaders_downloader_events events_{};
};

}  // namespace

struct downloaders_downloader : CountedHandle {
  downloaders_downloader() : site(LibraryLoop(), &LibraryDialogs()), sink(*this) {}
  ~downloaders_downloader() {
    if (control) control->SetEvents(nullptr);
  }

  pellora::hosting::Site site;
  CallbackSink sink;
  std::shared_ptr<Downloader> control;
};


extern "C" {

int downloaders_downloader_create(downloaders_downloader** control) {
  if (!control) return DOWNLOADERS_E_INVALID_ARGUMENT;
  *control = nullptr;
  return Guarded([&] {
    auto handle = std::make_unique<downloaders_downloader>();
    handle->control = handle->site.Create<Downloader>(LibraryDownloadService());
    handle->control->SetEvents(&handle->sink);
    *control = handle.release();
    return kOk;
  });
}

void downloaders_downloader_destroy(downloaders_downloader* control) {
  if (!control) return;
  try {
    CountedHandle::Destroy(std::unique_ptr<downloaders_downloader>(control),
                           [](downloaders_downloader& h) {
                             h.control->SetEvents(nullptr);
                             h.site.TerminateControl();
                           });
  } catch (...) {
    // Nothing to report to: the handle is gone for the host either way.
  }
}

int downloaders_downloader_set_events(downloaders_downloader* control,
                                      const downloaders_downloader_events* events) {
  if (!control) return DOWNLOADERS_E_INVALID_ARGUMENT;
  control->sink.Set(events);
  return DOWNLOADERS_OK;
}

int downloaders_downloader_begin_download(downloaders_downloader* control, const char* url,
                                          const char* save_file) {
  if (!url || !save_file) return DOWNLOADERS_E_INVALID_ARGUMENT;
  return WithHandle(control, [&](downloaders_downloader& h) {
    h.control->BeginDownload(url, save_file);
    return kOk;
  });
}

int downloaders_downloader_size_it(downloaders_downloader* control) {
  return WithHandle(control, [](downloaders_downloader& h) {
    h.control->SizeIt();
    return kOk;
  });
}

int downloaders_downloader_extent(const downloaders_downloader* control, int32_t* width,
                                  int32_t* height) {
  if (!width || !height) return DOWNLOADERS_E_INVALID_ARGUMENT;
  return WithHandle(control, [&](const downloaders_downloader& h) {
    const auto extent = h.site.GetExtent();
    *width = extent.width;
    *height = extent.height;
    return kOk;
  });
}

int downloaders_downloader_last_error(const downloaders_downloader* control, char* buffer, size_t size,
                                      size_t* length) {
  return WithHandle(control, [&](const downloaders_downloader& h) {
    return CopyOut(h.control->LastError(), buffer, size, length);
  });
}

}  // extern "C"

namespace {

void* CreateInstance() {
  downloaders_downloader* control = nullptr;
  return downloaders_downloader_create(&control) == DOWNLOADERS_OK ? control : nullptr;
}

void DestroyInstance(void* instance) {
  downloaders_downloader_destroy(static_cast<downloaders_downloader*>(instance));
}

const component_class_factory kDownloaderFactory{DOWNLOADERS_DOWNLOADER_CLASS_ID,
                                                 "Downloaders.Downloader", CreateInstance,
                                                 DestroyInstance};
const component_class_factory* const kClasses[] = {&kDownloaderFactory};

}  // namespace

std::span<const component_class_factory* const> pellora::servers::ServerClasses() {
  return kClasses;
}
