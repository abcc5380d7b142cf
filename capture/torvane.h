// SPDX-License-Identifier: MIT
#pragma once
// Torvane: the stream capture control.
//
// A host creates it on a site (`site.Create<Torvane>()`), gives it an event sink
// (`SetEvents`), calls `Connect` with a stream URL such as
// "http://host:8000/live", and learns of everything that happens through the
// sink: the response header (`GotHeader`), song titles (`MetaChanged`), state
// changes (`StateChanged`, then read `IsConnected`/`IsWriting`) and failures
// (`Error`). `StartWriting` records the stream's audio, byte for byte and without
// the in-band metadata, into a file until `StopWriting` or `Disconnect`.
//
// Everything runs on the thread of the site's event loop. Methods report failures
// as `Error` events, never as failed calls; the one exception is `Connect`, which
// returns the socket's refusal to even start a connection.
//
// Event handlers run synchronously inside the operation that raises them and may
// call any method, including `Disconnect` and `StartWriting`, and may drop the
// host's last reference to the control: the control keeps itself alive until
// the raising operation has finished, which then goes on with the members as the
// handler left them. When a handler ended the connection, the rest of the chunk
// being processed is dropped.
//
// Errors (the three arguments of the `Error` event):
//   TErr_Misc   Err_Misc_AlreadyConnected   "Déjà connecté à une autre source. ..."
//   TErr_WSock  the socket's number          the socket's description (numbers:
//               hosting/tcp_socket.h; an unusable URL gives 22 with a text that
//               says why, see `Connect`)
//   TErr_WSock  kClosedEarlyError (10101)   the server closed too early (see below)
//               kHeaderTimeoutError (110)   no complete header in time (see below)
//               10020, 10021                a TLS connection failed: "certificate
//                                           verify failed: ..." or "TLS handshake
//                                           failed: ..." (hosting/tcp_socket.h)
//   TErr_Stream Err_Stream_BadServer        "Stream Bad Server Request" (the
//               response is neither ICY nor an HTTP redirection, or its header
//               grows past 64 KiB); "Stream Bad Server Request: malformed
//               chunked body" (a chunk line or trailer that breaks the coding)
//               Err_Stream_Redirection      the value of the Location field
//               Err_Stream_LimitReached     "Stream Limit Reached..."  (ICY 400)
//               Err_Stream_Unavaible        "Stream Unavaible..."      (ICY 401)
//               Err_Stream_Forbidden        "Stream Forbidden..."      (ICY 403)
//               Err_Stream_NotFound         "Stream not Found..."      (ICY 404)
//   TErr_FileIO one of the seven Err_FileIO_ codes, with "Device IO Error",
//               "Disk Full", "Device Unavaible", "Permission Denied",
//               "Disk not Ready", "Access Error", "Path not Found"
#include <boost/asio/steady_timer.hpp>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <system_error>
#include <vector>

#include "capture/body_framing.h"
#include "capture/response_parser.h"
#include "capture/stream_parser.h"
#include "hosting/container.h"
#include "hosting/file.h"
#include "hosting/tcp_socket.h"

namespace pellora::tags {
class clsID3;
}

namespace pellora::capture {

// The family of an error.
enum EErrType : std::int32_t {
  TErr_WSock = 1,
  TErr_FileIO = 2,
  TErr_Stream = 3,
  TErr_Misc = 4,
};

// The code of an error (for TErr_WSock the socket's own number is used instead).
enum EErrCode : std::int32_t {
  Err_Stream_BadServer = 31,
  Err_Stream_Redirection = 32,
  Err_Stream_LimitReached = 33,
  Err_Stream_Unavaible = 34,
  Err_Stream_Forbidden = 35,
  Err_Stream_NotFound = 36,
  Err_Misc_AlreadyConnected = 41,
  Err_FileIO_DeviceUnavaible = 21,
  Err_FileIO_DiskNotReady = 22,
  Err_FileIO_DeviceIOError = 23,
  Err_FileIO_DiskFull = 24,
  Err_FileIO_PermissionDenied = 25,
  Err_FileIO_AccessError = 26,
  Err_FileIO_PathNotFound = 27,
};

// The events of a Torvane, in their interface order. Every argument is passed by
// reference; each is the handler's own copy, so changing it changes nothing in
// the control. Default handlers do nothing.
class TorvaneEvents {
 public:
  virtual ~TorvaneEvents() = default;
  // IsConnected or IsWriting changed (or a recording failed to start).
  virtual void StateChanged() {}
  // A complete metadata block's text differs from the previous one.
  virtual void MetaChanged(std::string& meta) { (void)meta; }
  // Something failed; see the table at the top of this file.
  virtual void Error(EErrType& ErrType, std::int32_t& ErrCode, std::string& Description) {
    (void)ErrType, (void)ErrCode, (void)Description;
  }
  // The response header is complete and accepted; its fields are stored. Once a
  // connection. `header` ends with its empty line (CR LF CR LF).
  virtual void GotHeader(std::string& header) { (void)header; }
  // Part of the interface for hosts that expect it; the control never raises it.
  virtual void BeforeStateChanged(bool& WriteID3Tag) { (void)WriteID3Tag; }
};

// Receives the stream's audio as the control separates it from the metadata, for
// hosts that do more with it than record it whole (split it into songs, relay
// it). Beyond the control's interface; without a sink nothing changes.
class TorvaneAudioSink {
 public:
  virtual ~TorvaneAudioSink() = default;
  // One run of audio bytes, in stream order and as soon as the chunk walk reaches
  // it: the audio before a metadata block arrives before that block's
  // MetaChanged, the audio after it afterwards, so the host knows exactly where
  // in the audio each title begins. Every audio byte of the body comes here once,
  // whether a recording is open or not. The bytes are valid for the call only.
  // The handler may call any method; once it ended the connection, no more of
  // the chunk is delivered.
  virtual void AudioSlice(std::span<const char> audio) = 0;
};

// Errors the control reports with TErr_WSock besides the socket's own:
// A URL that cannot be used (EINVAL), with a text that says why.
inline constexpr std::int32_t kUnusableUrlError = 22;
// The server closed the connection before the response header was complete
// ("The server closed the connection before the response header was complete"),
// or before the end of a body whose length or chunks it had announced ("The
// server closed the connection before the end of the body").
inline constexpr std::int32_t kClosedEarlyError = 10101;
// The response header was not complete within HeaderTimeout of Connect
// (ETIMEDOUT): "No complete response header within 15 seconds".
inline constexpr std::int32_t kHeaderTimeoutError = 110;

// Grants tests access to the control's inner counters.
class TorvaneProbe;

class Torvane : public hosting::Control,
                private hosting::SocketEvents,
                public std::enable_shared_from_this<Torvane> {
 public:
  explicit Torvane(hosting::Site& site);
  ~Torvane() override;
  Torvane(const Torvane&) = delete;
  Torvane& operator=(const Torvane&) = delete;

  // The receiver of the events (not owned; reset it to nullptr before it goes).
  void SetEvents(TorvaneEvents* events) { events_ = events; }

  // --- The 25 members, in interface order -------------------------------------

  // 1. Connects to `url`: "[http://|https://]host[:port][/path[?query]]". A URL
  // without a port uses port 80 (https: 443); a host may be a bracketed IPv6
  // literal ("[::1]:8000"). An https URL is connected over TLS (see CaFile and
  // Insecure); the request, the parsing and the events are the same.
  // Does nothing for an empty URL. While connected: with `DisconnectFirst` the
  // old connection is ended first, otherwise an `Error` (Err_Misc_AlreadyConnected)
  // is raised and nothing changes. On success IsConnected is True and
  // StateChanged is raised at once; the connection itself completes later. A URL
  // that cannot be used (another scheme than http, a port that is not a number
  // from 1 to 65535, no host, blanks or control characters) connects nowhere: it
  // ends like a failed connection, with StateChanged twice and then `Error`
  // (TErr_WSock, 22, a text saying what is wrong). Returns the socket's refusal
  // to start a connection (IsConnected then stays False), otherwise no error.
  // When a handler of the events of the old connection's end connects anew
  // (with DisconnectFirst), that connection stands and this call connects nowhere.
  std::error_code Connect(const std::string& url, bool DisconnectFirst = false);
  // 2. Ends the connection: closes the socket, stops a recording, clears every
  // stream value, then StateChanged. Does nothing when not connected.
  void Disconnect();
  // 3. The value of field `Var` ("Var='value';") in the last metadata block;
  // empty when absent or unterminated.
  std::optional<std::string> GetMeta(const std::string& Var) const;
  // 4. The value of header field `Var` ("Var:value" CR LF), blanks (code 32) at
  // both ends removed, other white space kept; empty when absent or when nothing
  // follows the colon. The first field of that name counts. Names match whole and
  // without regard to case ("icy-metaint" finds "Icy-MetaInt:"; "name" does not
  // find "icy-name:"), as HTTP field names do. Fields are looked up among the
  // complete lines received so far, so the host may ask while the header is still
  // arriving; after Disconnect there are none.
  std::optional<std::string> GetHeader(const std::string& Var) const;
  // 5. Records from now on into `File` (created when missing, never shortened):
  // from its first byte, or after its last one with `Append`. A running
  // recording is stopped first; an empty name only stops. Failures raise
  // `Error` (TErr_FileIO) and then StateChanged with IsWriting False.
  void StartWriting(const std::string& File, bool Append = false);
  // 6. Closes the recording file; WrittenBytes becomes 0; StateChanged.
  // Does nothing when not recording.
  void StopWriting();
  // 7. The icy-url header value (not the URL passed to Connect).
  std::string StreamURL() const { return stream_url_; }
  // 8. StreamTitle of the last metadata block.
  std::string MusicName() const { return music_name_; }
  // 9. A recording file is open.
  bool IsWriting() const { return is_writing_; }
  // 10. A connection was requested and has not ended: by Disconnect, a failure,
  // or the end of the stream (see StreamEnded).
  bool IsConnected() const { return is_connected_; }
  // 11. StreamUrl of the last metadata block.
  std::string MusicURL() const { return music_url_; }
  // 12. icy-br (0 when absent or not a number from -32768 to 32767).
  std::int16_t StreamBitRate() const { return stream_bit_rate_; }
  // 13. icy-genre.
  std::string StreamGenre() const { return stream_genre_; }
  // 14. icy-pub (a non-zero number, or "true" in any case; False otherwise).
  bool StreamPublic() const { return stream_public_; }
  // 15. icy-name.
  std::string StreamName() const { return stream_name_; }
  // 16. The header fields icy-notice1, icy-notice2, ... up to the first missing
  // or empty one, joined by CR LF; empty when there is none.
  std::optional<std::string> GetNotices() const;
  // 17. Bytes received since the connection began (header, audio, metadata),
  // saturated at 2,147,483,647; ReceivedBytesTotal has the full count.
  std::int32_t ReceivedBytes() const { return Saturate(received_bytes_); }
  // 18. Bytes of non-empty metadata blocks, each with its length byte; saturated.
  std::int32_t ReceivedMetaInfo() const { return Saturate(received_meta_info_); }
  // 19. Audio bytes written since the recording began; saturated.
  std::int32_t WrittenBytes() const { return Saturate(written_bytes_); }
  // 20-23. Texts for the tags of a tagged recording.
  std::string ID3Comments() const { return id3_comments_; }
  void ID3Comments(std::string text) { id3_comments_ = std::move(text); }
  std::string ID3EncodedBy() const { return id3_encoded_by_; }
  void ID3EncodedBy(std::string text) { id3_encoded_by_ = std::move(text); }
  std::string ID3Copyright() const { return id3_copyright_; }
  void ID3Copyright(std::string text) { id3_copyright_ = std::move(text); }
  std::string ID3Languages() const { return id3_languages_; }
  void ID3Languages(std::string text) { id3_languages_ = std::move(text); }
  // 24. Tag each recording file from the stream before its audio is written.
  bool WriteID3TagToFile() const { return write_id3_tag_; }
  void WriteID3TagToFile(bool on) { write_id3_tag_ = on; }
  // 25. Shows the About window; always returns empty.
  std::optional<std::string> About();

  // --- Beyond the 25 members --------------------------------------------------

  // Also accept servers whose response begins "HTTP/1.0 200" or "HTTP/1.1 200"
  // as if it were "ICY 200". Default False.
  bool AcceptHttpOk() const { return accept_http_ok_; }
  void AcceptHttpOk(bool on) { accept_http_ok_ = on; }

  // The receiver of the audio slices (not owned; nullptr, the default, for
  // none; reset it before it goes). See TorvaneAudioSink.
  void SetAudioSink(TorvaneAudioSink* sink) { audio_sink_ = sink; }

  // True once the last connection ended because its stream ended: the server
  // closed it in order after a complete header (and a complete body, when its
  // length or chunks say where the body ends), or the body's length or last
  // chunk was reached. The control then ends the connection as Disconnect does:
  // a recording is closed (StateChanged with IsWriting False), the stream values
  // are cleared, and StateChanged is raised with IsConnected False; no Error.
  // Read it in that StateChanged to tell the end of a stream from other ends.
  // Connect sets it False.
  bool StreamEnded() const { return stream_ended_; }

  // TLS for https URLs, used from the next Connect. CaFile: a PEM file of the
  // authorities to trust instead of the system's CA store (as curl's --cacert);
  // default empty. Insecure: accept any certificate for any name (as curl's -k);
  // default False. The peer's certificate is otherwise checked against the
  // authorities and the URL's host; a failed check is an Error (TErr_WSock, 10020,
  // "certificate verify failed: <why>") after Disconnect's events, and there is
  // never a fallback to plain text.
  const std::string& CaFile() const { return ca_file_; }
  void CaFile(std::string path) { ca_file_ = std::move(path); }
  bool Insecure() const { return insecure_; }
  void Insecure(bool on) { insecure_ = on; }

  // The response header must be complete this long after Connect, or the
  // connection ends as a failure: Disconnect's events, then Error (TErr_WSock,
  // 110, "No complete response header within 15 seconds"). Guards against a
  // server that sends its header a byte at a time, or never. Default 15 s; zero
  // or less: no limit. Used from the next Connect.
  std::chrono::milliseconds HeaderTimeout() const { return header_timeout_; }
  void HeaderTimeout(std::chrono::milliseconds limit) { header_timeout_ = limit; }

  // The system's reason for the last file failure reported (TErr_FileIO), for a
  // host that shows it ("No space left on device") or tells a reader that went
  // away (EPIPE) from a real failure. Empty until a file failure.
  std::error_code FileFailure() const { return file_failure_; }

  // The counters in full, never saturated.
  std::int64_t ReceivedBytesTotal() const { return received_bytes_; }
  std::int64_t ReceivedMetaInfoTotal() const { return received_meta_info_; }
  std::int64_t WrittenBytesTotal() const { return written_bytes_; }

  // --- Container notifications ------------------------------------------------
  void Initialize() override;
  void InitProperties() override;
  // Keeps the fixed extent: height 825, then width 720 twips.
  void Resize() override;
  // Releases the tag store; the connection and a recording stay as they are.
  void Terminate() override;

 private:
  friend class TorvaneProbe;

  static std::int32_t Saturate(std::int64_t count);

  // Connection (connection.cpp).
  bool SplitUrl(const std::string& url, std::string& problem);
  void StartHeaderTimer();
  void OnHeaderTimeout();
  std::string Request() const;
  void OnConnect() override;
  void OnDataArrival(std::span<const char> data) override;
  void OnError(std::int32_t number, const std::string& description) override;
  void OnClose() override;
  void ClearStreamState();

  // Response and stream (stream_response.cpp).
  void ProcessChunk(std::span<const char> chunk);
  std::optional<std::span<const char>> CollectHeader(std::span<const char> chunk);
  bool PassesFirstBytesTest();
  void RefuseBadServer();
  bool AcceptHeader();
  void StoreHeaderFields();
  bool Demultiplex(std::span<const char> data, std::vector<std::span<const char>>& slices,
                   std::uint64_t epoch);
  bool TakeMetadataBlock(std::string_view block, std::uint64_t epoch);
  void DecodeBody(std::span<const char> body);
  void StartBodyFraming();
  void EndOfStream();
  const std::string& StatusLine() const { return response_.StatusLine(); }

  // Recording (recording.cpp, recording_tags.cpp).
  void WriteAudio(std::span<const std::span<const char>> slices);
  void ReportFileError(const std::error_code& failure);
  // Tags RecordPath and sets `audio_position` to where its audio goes: after the
  // ID3v2 tag, or after the old audio with `append`; the trailer is cut off.
  std::error_code TagRecordingFile(bool append, std::optional<std::int64_t>& audio_position);

  // Events.
  std::shared_ptr<Torvane> KeepAlive();
  void RaiseStateChanged();
  void RaiseMetaChanged(std::string meta);
  void RaiseError(EErrType type, std::int32_t code, std::string description);
  void RaiseGotHeader(std::string header);

  hosting::Site& site_;
  TorvaneEvents* events_ = nullptr;
  TorvaneAudioSink* audio_sink_ = nullptr;
  std::error_code file_failure_;
  std::unique_ptr<hosting::Socket> socket_;  // WS

  // The connection.
  std::string request_url_;
  std::string host_;
  std::int32_t port_ = 0;
  std::string path_;
  bool tls_ = false;
  std::string ca_file_;
  bool insecure_ = false;
  std::chrono::milliseconds header_timeout_{15000};
  boost::asio::steady_timer header_timer_;
  bool is_connected_ = false;
  bool stream_ended_ = false;
  // Counts connections begun and ended, so that an operation raising events can
  // tell that a handler ended (or replaced) the connection it works for.
  std::uint64_t connection_epoch_ = 0;

  // The response header.
  bool waiting_for_header_ = false;
  bool first_bytes_checked_ = false;
  ResponseParser response_;
  std::string stream_name_, stream_genre_, stream_url_;
  std::int16_t stream_bit_rate_ = 0;
  bool stream_public_ = false;
  bool accept_http_ok_ = false;

  // The body.
  BodyFraming framing_;
  StreamParser parser_;
  std::string meta_text_;
  std::string music_name_, music_url_;
  std::int64_t received_bytes_ = 0;
  std::int64_t received_meta_info_ = 0;
  std::vector<std::span<const char>> slice_pool_;

  // The recording.
  bool is_writing_ = false;
  std::string record_path_;
  hosting::File record_file_;
  std::int64_t written_bytes_ = 0;
  bool write_id3_tag_ = false;
  std::string id3_comments_, id3_encoded_by_, id3_copyright_, id3_languages_;
  std::unique_ptr<tags::clsID3> tag_store_;
};

}  // namespace pellora::capture
