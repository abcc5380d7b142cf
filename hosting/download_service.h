// SPDX-License-Identifier: MIT
#pragma once
// The container's asynchronous download service, on libcurl's multi-socket
// interface joined to the host's event loop.
//
// Start returns at once; the transfer then runs as socket and timer handlers of the
// EventLoop, and its notifications (progress, then exactly one completion) arrive
// on the thread that runs the loop, never from inside libcurl. HTTP, HTTPS and
// file:// URLs are read; HTTP redirects are followed (to HTTP or HTTPS only, at
// most 20). The data is spooled to a file (see DownloadData), so memory stays
// bounded whatever the size. libcurl reads a file:// URL in one go, within one turn
// of the loop: such a download reports its progress once, at its end.
//
// This is the only part of the platform that uses libcurl; it is a target of its
// own so that a library without downloads never links it.
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "hosting/download_data.h"

namespace pellora::hosting {

class EventLoop;

// A byte count as notifications carry it: 32-bit, at most 2,147,483,647, and 0
// for an unknown (negative) count.
std::int32_t SaturateToInt32(std::int64_t count);

// How the data of a completion is handed over. A byte array is the only kind.
enum class DownloadResultKind : int { ByteArray = 2 };

// What kind of fault ended a download, for hosts that tell people why.
enum class DownloadFailureKind {
  Network,  // no connection, a timeout, a transfer cut short, a TLS failure
  Refused,  // the server answered with an error status or a redirection not followed
  File,     // the source file (file://) or the spool could not be read or written
};

// Why a download failed: the kind, the server's HTTP status where it answered
// one (else 0), and one line of description.
struct DownloadFailure {
  DownloadFailureKind kind = DownloadFailureKind::Network;
  long http_status = 0;
  std::string description;
};

// Receives the notifications of the downloads started for it. Totals and counts
// are 32-bit and saturate at 2,147,483,647.
class DownloadListener {
 public:
  virtual ~DownloadListener() = default;
  // Why the download failed; sent just before its failed completion. A listener
  // that does not tell anyone why may leave it out.
  virtual void OnDownloadFailed(const std::string& /*tag*/, const DownloadFailure& /*failure*/) {}
  // Bytes received so far, and the size the source announced (0 while it announced
  // none). Sent whenever more bytes have arrived.
  virtual void OnDownloadProgress(const std::string& tag, std::int32_t bytes_read,
                                  std::int32_t total_bytes) = 0;
  // The end of a download. On success `total_bytes` is the number of bytes
  // received and `data` holds them; on failure (no connection, an HTTP status of
  // 400 or above or a redirection that was not followed, a transfer cut short, the
  // spool could not be written) `succeeded` is false, `total_bytes` is 0 and `data`
  // is empty.
  virtual void OnDownloadComplete(const std::string& tag, DownloadData data,
                                  std::int32_t total_bytes, bool succeeded) = 0;
};

struct DownloadRequest {
  std::string url;
  DownloadResultKind result_kind = DownloadResultKind::ByteArray;
  // Comes back with every notification of this download.
  std::string tag;
  // Ask every cache on the way for the newest copy from the source.
  bool newest_copy = false;
  // Where to spool the data; the place the data will be saved is best, as saving
  // is then a rename. Falls back to the temporary folder when it cannot be used.
  std::string spool_directory;
  // Receives the notifications. The download is abandoned once the listener has
  // gone (see also AbandonFor).
  std::weak_ptr<DownloadListener> listener;
  // A connection not made within this time fails the download, as does a transfer
  // that receives less than a byte a second for `stall_timeout`.
  std::chrono::seconds connect_timeout{30};
  std::chrono::seconds stall_timeout{60};
  // When not -1, the data is written to this descriptor as it arrives (standard
  // output, a pipe) instead of to a spool, and a completion carries no data. A
  // failed write there is a failure of kind File.
  int output_descriptor = -1;
};

// Why a download could not be started: a number and its description.
struct DownloadStartFailure {
  std::int32_t number;
  std::string description;
  // The URL itself is unusable: malformed, or of a scheme the service does not read
  // (libcurl's numbers 3 and 1).
  bool BadUrl() const { return number == 1 || number == 3; }
};

class DownloadService {
 public:
  explicit DownloadService(EventLoop& loop);
  // Abandons every running download without notifications.
  ~DownloadService();
  DownloadService(const DownloadService&) = delete;
  DownloadService& operator=(const DownloadService&) = delete;

  // Starts a download and returns at once; nothing is notified before it returns.
  // A URL that cannot be read (malformed, or of a scheme other than http, https or
  // file) is refused here with libcurl's error number and text, and nothing is
  // notified. The service must outlive its notifications' handlers' calls: a
  // handler may start downloads but must not destroy the service.
  std::optional<DownloadStartFailure> Start(const DownloadRequest& request);

  // Downloads started and not yet completed.
  std::size_t RunningCount() const;

  // Abandons at once, without notifications, every download of `listener`, so
  // that its socket and spool go with it. A listener calls it as it ends.
  void AbandonFor(const DownloadListener* listener);

 private:
  class Engine;
  std::unique_ptr<Engine> engine_;
};

}  // namespace pellora::hosting
