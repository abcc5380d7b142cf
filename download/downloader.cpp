// SPDX-License-Identifier: MIT
#include "download/downloader.h"

#include <system_error>
#include <utility>

namespace pellora::download {

std::string WarningText(const char* method, std::int32_t number, const std::string& description) {
  return std::to_string(number) + ":Error in call to " + method + "().\r\n\r\nError Description: " +
         description;
}

Downloader::Downloader(hosting::Site& site, hosting::DownloadService& service)
    : site_(site), service_(service) {}

Downloader::~Downloader() { service_.AbandonFor(this); }

void Downloader::Initialize() { SizeIt(); }

void Downloader::Resize() { SizeIt(); }

void Downloader::SizeIt() {
  site_.SetWidth(hosting::Site::PixelsToTwipsX(kFacePixels));
  site_.SetHeight(hosting::Site::PixelsToTwipsY(kFacePixels));
}

void Downloader::BeginDownload(const std::string& url, const std::string& SaveFile) {
  hosting::DownloadRequest request;
  request.url = url;
  request.result_kind = hosting::DownloadResultKind::ByteArray;
  request.tag = SaveFile;
  request.newest_copy = true;
  request.spool_directory = hosting::DownloadData::FolderOf(SaveFile);
  request.listener = weak_from_this();
  if (const auto refused = service_.Start(request))
    ShowWarning("BeginDownload", refused->number, refused->description);
}

void Downloader::OnDownloadProgress(const std::string& tag, std::int32_t bytes_read,
                                    std::int32_t total_bytes) {
  if (total_bytes == 0 || !events_) return;
  std::string SaveFile = tag;
  events_->DownloadProgress(bytes_read, total_bytes, SaveFile);
}

void Downloader::OnDownloadFailed(const std::string& /*tag*/, const hosting::DownloadFailure& failure) {
  last_error_ = failure.description;
}

void Downloader::OnDownloadComplete(const std::string& tag, hosting::DownloadData data,
                                    std::int32_t total_bytes, bool succeeded) {
  // The service holds this listener alive for the whole call, so the host may drop
  // the control from inside the events.
  bool saved = false;
  if (succeeded) {
    std::error_code ec;
    data.SaveAs(tag, ec);
    saved = !ec;
    if (ec) last_error_ = "cannot write " + tag + ": " + ec.message();
  }
  if (!saved && events_) {
    std::string SaveFile = tag;
    events_->DownloadError(SaveFile);
  }
  if (events_) {
    std::string SaveFile = tag;
    std::int32_t MaxBytes = total_bytes;
    events_->DownloadComplete(MaxBytes, SaveFile);
  }
}

void Downloader::ShowWarning(const char* method, std::int32_t number,
                             const std::string& description) {
  site_.GetDialogs().MessageBox(WarningText(method, number, description),
                                hosting::kMbOk | hosting::kMbIconCritical, "Warning");
}

}  // namespace pellora::download
