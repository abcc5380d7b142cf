// SPDX-License-Identifier: MIT
#pragma once
// `Downloader`: a control that downloads the resource at a URL into a file, through
// its container's download service, and tells the host how it goes.
//
// The control keeps nothing between calls: a download is known only by its target
// path, which travels with it as its tag and names it in every event. Events come
// on the loop thread, in this order for each download: any number of
// DownloadProgress (only while the source has announced a size), then DownloadError
// when the download or the saving of the file failed, then always DownloadComplete.
#include <cstdint>
#include <memory>
#include <string>

#include "hosting/container.h"
#include "hosting/download_service.h"

namespace pellora::download {

// The host's view of a Downloader's events. Arguments are passed by reference as
// the control's event interface does; what a handler changes in them is ignored.
// A handler may call any method of the control and may drop the host's last
// reference to it.
class DownloaderEvents {
 public:
  virtual ~DownloaderEvents() = default;
  // `CurBytes` of `MaxBytes` bytes of the download to `SaveFile` have arrived.
  virtual void DownloadProgress(std::int32_t& /*CurBytes*/, std::int32_t& /*MaxBytes*/,
                                std::string& /*SaveFile*/) {}
  // The download to `SaveFile` failed, or its data could not be written there.
  virtual void DownloadError(std::string& /*SaveFile*/) {}
  // The download to `SaveFile` has ended; `MaxBytes` is the number of bytes
  // downloaded (0 when the download failed). Raised once per download, last.
  virtual void DownloadComplete(std::int32_t& /*MaxBytes*/, std::string& /*SaveFile*/) {}
};

class Downloader : public hosting::Control,
                   public hosting::DownloadListener,
                   public std::enable_shared_from_this<Downloader> {
 public:
  // Side of the control's square face, in pixels.
  static constexpr std::int32_t kFacePixels = 32;

  // Created by `site.Create<Downloader>(service)`; both must outlive the control.
  Downloader(hosting::Site& site, hosting::DownloadService& service);
  // Abandons the downloads still running for this control at once: their sockets
  // close and their spool files go, whether or not the source is sending.
  ~Downloader() override;

  // Sets the sink of the events (nullptr: none). The sink must outlive the control
  // or be reset first.
  void SetEvents(DownloaderEvents* events) { events_ = events; }

  // Starts downloading `url` into the file `SaveFile` and returns at once. Neither
  // is checked beforehand. When the service refuses the download (a malformed URL,
  // a scheme other than http, https or file), the refusal is shown in the
  // container's "Warning" message box and no event follows.
  void BeginDownload(const std::string& url, const std::string& SaveFile);

  // Gives the control its fixed extent: 32 x 32 pixels, in twips. Setting the
  // site's extent cannot fail, so SizeIt never shows a warning.
  void SizeIt();

  // Container notifications: both snap the control back to its fixed size.
  void Initialize() override;
  void Resize() override;

  // Why the download whose DownloadError is being raised failed: the server's
  // status, the network's reason, or the file that could not be written, in one
  // line. Read it in the DownloadError handler; it keeps the latest failure's
  // reason until the next one, and is empty before any.
  const std::string& LastError() const { return last_error_; }

  // Download service notifications.
  void OnDownloadFailed(const std::string& tag, const hosting::DownloadFailure& failure) override;
  void OnDownloadProgress(const std::string& tag, std::int32_t bytes_read,
                          std::int32_t total_bytes) override;
  // Saves the data as the file named by `tag`, replacing what the file held (see
  // DownloadData::SaveAs), then raises DownloadError if the download or the saving
  // failed, then DownloadComplete. A download that succeeded with no bytes leaves
  // an empty file.
  void OnDownloadComplete(const std::string& tag, hosting::DownloadData data,
                          std::int32_t total_bytes, bool succeeded) override;

 private:
  void ShowWarning(const char* method, std::int32_t number, const std::string& description);

  hosting::Site& site_;
  hosting::DownloadService& service_;
  DownloaderEvents* events_ = nullptr;
  std::string last_error_;
};

// The text of the "Warning" box for a failure in `method`: the error number joined
// to ":Error in call to METHOD().", an empty line, and the description.
std::string WarningText(const char* method, std::int32_t number, const std::string& description);

}  // namespace pellora::download
