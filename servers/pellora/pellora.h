// SPDX-License-Identifier: MIT
/*
 * pellora.h: the C API of libpellora.so, the component server of the stream
 * capture control Torvane and its About window.
 *
 * A host creates a control (pellora_torvane_create, or through the entry
 * points of component_server.h), gives it its event callbacks, calls
 * pellora_torvane_connect with a stream URL, and runs the library's event loop
 * (pellora_loop_run, or pellora_loop_poll from its own loop). Everything runs
 * on the thread that runs the loop: every callback, and every function must be
 * called there. The library starts no thread of its own; the one exception is
 * resolving a host name (not a numeric address such as 127.0.0.1 or [::1]),
 * which Boost.Asio's resolver runs on a helper thread that it starts at the first
 * name and keeps until the library's loop ends; its result is still delivered on
 * the loop's thread.
 *
 * Conventions:
 *   - Every function returns PELLORA_OK (0) or a negative PELLORA_E_* code; no
 *     exception ever leaves the library. Values come back through pointers.
 *   - Strings going in are NUL-terminated bytes. Strings coming out are copied
 *     into a caller buffer: (buffer, size, &length) stores the full length in
 *     `length` (may be NULL), copies what fits with a NUL, and returns
 *     PELLORA_E_BUFFER_TOO_SMALL when it did not all fit. Pass NULL and 0 to
 *     ask for the length only. Stream texts are bytes as received (one byte per
 *     character), not necessarily UTF-8.
 *   - "Variant" results (get_meta, get_header, get_notices, about) may be
 *     empty, which *present reports as 0.
 *   - Booleans are int: 0 is False, anything else True.
 */
#ifndef PELLORA_H
#define PELLORA_H

#include <stddef.h>
#include <stdint.h>

#include "component_server.h"

#ifdef __cplusplus
extern "C" {
#endif

#define PELLORA_API COMPONENT_EXPORT

/* The class identifier of Torvane, for DllGetClassObject. */
#define PELLORA_TORVANE_CLASS_ID "c2885e1a-441d-46c9-a870-3e7577385260"

enum pellora_result {
  PELLORA_OK = 0,
  PELLORA_E_INVALID_ARGUMENT = -1, /* a null handle, pointer or string */
  PELLORA_E_BUFFER_TOO_SMALL = -2, /* the text was cut to fit the buffer */
  PELLORA_E_FAILED = -3,           /* an unexpected failure inside the library */
  PELLORA_E_OUT_OF_MEMORY = -4,
  PELLORA_E_CONNECT_REFUSED = -5   /* connect: the socket refused to start */
};

/* EErrType: the family of an error event. */
enum pellora_err_type {
  PELLORA_TERR_WSOCK = 1,
  PELLORA_TERR_FILEIO = 2,
  PELLORA_TERR_STREAM = 3,
  PELLORA_TERR_MISC = 4
};

/* EErrCode: the code of an error event (for PELLORA_TERR_WSOCK the socket's
 * own error number instead). */
enum pellora_err_code {
  PELLORA_ERR_STREAM_BADSERVER = 31,
  PELLORA_ERR_STREAM_REDIRECTION = 32,
  PELLORA_ERR_STREAM_LIMITREACHED = 33,
  PELLORA_ERR_STREAM_UNAVAIBLE = 34,
  PELLORA_ERR_STREAM_FORBIDDEN = 35,
  PELLORA_ERR_STREAM_NOTFOUND = 36,
  PELLORA_ERR_MISC_ALREADYCONNECTED = 41,
  PELLORA_ERR_FILEIO_DEVICEUNAVAIBLE = 21,
  PELLORA_ERR_FILEIO_DISKNOTREADY = 22,
  PELLORA_ERR_FILEIO_DEVICEIOERROR = 23,
  PELLORA_ERR_FILEIO_DISKFULL = 24,
  PELLORA_ERR_FILEIO_PERMISSIONDENIED = 25,
  PELLORA_ERR_FILEIO_ACCESSERROR = 26,
  PELLORA_ERR_FILEIO_PATHNOTFOUND = 27
};

/* ---- The event loop -------------------------------------------------------- */

/* Runs the loop until pellora_loop_stop or until no work is left; returns the
 * handlers run, or a negative code. */
PELLORA_API int64_t pellora_loop_run(void);
/* Runs the loop for at most `milliseconds`. */
PELLORA_API int64_t pellora_loop_run_for(int32_t milliseconds);
/* Runs what is ready now without blocking (for hosts with a loop of their own). */
PELLORA_API int64_t pellora_loop_poll(void);
/* Makes a running pellora_loop_run return; may be called from a callback. */
PELLORA_API void pellora_loop_stop(void);

/* ---- Torvane ----------------------------------------------------------------- */

typedef struct pellora_torvane pellora_torvane;

/* The events of __Torvane. Arguments are passed by reference, as the control
 * raises them; what a callback changes through them is ignored. Texts are valid
 * for the call only; `length` counts their bytes (they are also NUL-terminated).
 * A NULL member ignores its event. Callbacks may call any function of this API,
 * including pellora_torvane_destroy on their own control. */
typedef struct pellora_torvane_events {
  void* user_data;
  /* IsConnected or IsWriting changed; read them to learn which. */
  void (*state_changed)(void* user_data);
  /* The text of a new metadata block. */
  void (*meta_changed)(void* user_data, const char* meta, size_t length);
  /* Something failed: err_type is a pellora_err_type, err_code a pellora_err_code
   * or a socket error number. */
  void (*error)(void* user_data, int32_t* err_type, int32_t* err_code, const char* description,
                size_t length);
  /* The response header is complete and accepted (ends with CR LF CR LF). */
  void (*got_header)(void* user_data, const char* header, size_t length);
  /* Declared by the interface; never raised. */
  void (*before_state_changed)(void* user_data, int* write_id3_tag);
} pellora_torvane_events;

/* A new control, created, initialised and sized as a container does. */
PELLORA_API int pellora_torvane_create(pellora_torvane** control);
/* Ends a control (NULL is ignored): its container's termination, then its end,
 * which closes its connection and recording file. Called from one of the
 * control's own callbacks, the control stops calling back at once and goes
 * when the loop next runs. */
PELLORA_API void pellora_torvane_destroy(pellora_torvane* control);
/* Sets the callbacks (copied; NULL removes them all). */
PELLORA_API int pellora_torvane_set_events(pellora_torvane* control,
                                           const pellora_torvane_events* events);

/* 1. Connects to "[http://|https://]host[:port][/path]" (default port 80, or
 * 443 for https, which is TLS with the certificate checked: see
 * pellora_torvane_set_ca_file). With disconnect_first an open
 * connection is ended first; without, an open connection gives an error event
 * (PELLORA_ERR_MISC_ALREADYCONNECTED). Other failures come as error events too;
 * only a socket that refuses to start gives PELLORA_E_CONNECT_REFUSED, with its
 * error number in *socket_error (may be NULL). */
PELLORA_API int pellora_torvane_connect(pellora_torvane* control, const char* url,
                                        int disconnect_first, int32_t* socket_error);
/* 2. Ends the connection and a recording, clears the stream's values. */
PELLORA_API int pellora_torvane_disconnect(pellora_torvane* control);
/* 3. The value of `var` in the last metadata block ("var='value';"). */
PELLORA_API int pellora_torvane_get_meta(const pellora_torvane* control, const char* var,
                                         char* buffer, size_t size, size_t* length, int* present);
/* 4. The value of the header field `var`, blanks at both ends removed: the
 * first field whose whole name equals `var` in any case ("icy-metaint" finds
 * "Icy-MetaInt:"); absent (*present 0) when there is none or nothing follows its
 * colon. */
PELLORA_API int pellora_torvane_get_header(const pellora_torvane* control, const char* var,
                                           char* buffer, size_t size, size_t* length,
                                           int* present);
/* 5. Records the stream's audio into `file`, from its start or, with append,
 * after its end. Failures come as error events. */
PELLORA_API int pellora_torvane_start_writing(pellora_torvane* control, const char* file,
                                              int append);
/* 6. Closes the recording file. */
PELLORA_API int pellora_torvane_stop_writing(pellora_torvane* control);
/* 7. The icy-url header value. */
PELLORA_API int pellora_torvane_stream_url(const pellora_torvane* control, char* buffer,
                                           size_t size, size_t* length);
/* 8. StreamTitle of the last metadata block. */
PELLORA_API int pellora_torvane_music_name(const pellora_torvane* control, char* buffer,
                                           size_t size, size_t* length);
/* 9. A recording file is open. */
PELLORA_API int pellora_torvane_is_writing(const pellora_torvane* control, int* value);
/* 10. A connection was requested and not ended by disconnect. */
PELLORA_API int pellora_torvane_is_connected(const pellora_torvane* control, int* value);
/* 11. StreamUrl of the last metadata block. */
PELLORA_API int pellora_torvane_music_url(const pellora_torvane* control, char* buffer,
                                          size_t size, size_t* length);
/* 12. icy-br. */
PELLORA_API int pellora_torvane_stream_bit_rate(const pellora_torvane* control, int16_t* value);
/* 13. icy-genre. */
PELLORA_API int pellora_torvane_stream_genre(const pellora_torvane* control, char* buffer,
                                             size_t size, size_t* length);
/* 14. icy-pub. */
PELLORA_API int pellora_torvane_stream_public(const pellora_torvane* control, int* value);
/* 15. icy-name. */
PELLORA_API int pellora_torvane_stream_name(const pellora_torvane* control, char* buffer,
                                            size_t size, size_t* length);
/* 16. icy-notice1, icy-notice2, ... joined by CR LF. */
PELLORA_API int pellora_torvane_get_notices(const pellora_torvane* control, char* buffer,
                                            size_t size, size_t* length, int* present);
/* 17.-19. Byte counters (saturated at INT32_MAX; see the _total variants). */
PELLORA_API int pellora_torvane_received_bytes(const pellora_torvane* control, int32_t* value);
PELLORA_API int pellora_torvane_received_meta_info(const pellora_torvane* control,
                                                   int32_t* value);
PELLORA_API int pellora_torvane_written_bytes(const pellora_torvane* control, int32_t* value);
/* 20.-23. Texts for the tags of a tagged recording. */
PELLORA_API int pellora_torvane_get_id3_comments(const pellora_torvane* control, char* buffer,
                                                 size_t size, size_t* length);
PELLORA_API int pellora_torvane_set_id3_comments(pellora_torvane* control, const char* text);
PELLORA_API int pellora_torvane_get_id3_encoded_by(const pellora_torvane* control, char* buffer,
                                                   size_t size, size_t* length);
PELLORA_API int pellora_torvane_set_id3_encoded_by(pellora_torvane* control, const char* text);
PELLORA_API int pellora_torvane_get_id3_copyright(const pellora_torvane* control, char* buffer,
                                                  size_t size, size_t* length);
PELLORA_API int pellora_torvane_set_id3_copyright(pellora_torvane* control, const char* text);
PELLORA_API int pellora_torvane_get_id3_languages(const pellora_torvane* control, char* buffer,
                                                  size_t size, size_t* length);
PELLORA_API int pellora_torvane_set_id3_languages(pellora_torvane* control, const char* text);
/* 24. Tag each recording file before its audio is written. */
PELLORA_API int pellora_torvane_get_write_id3_tag_to_file(const pellora_torvane* control,
                                                          int* value);
PELLORA_API int pellora_torvane_set_write_id3_tag_to_file(pellora_torvane* control, int value);
/* 25. Shows the About window modally (see pellora_set_dialogs) and returns once
 * it was closed; *present is always 0 (the result is empty). */
PELLORA_API int pellora_torvane_about(pellora_torvane* control, int* present);

/* Beyond the interface: accept "HTTP/1.x 200" responses as "ICY 200". */
PELLORA_API int pellora_torvane_get_accept_http_ok(const pellora_torvane* control, int* value);
PELLORA_API int pellora_torvane_set_accept_http_ok(pellora_torvane* control, int value);
/* Beyond the interface: the stream's audio as the control separates it from the
 * metadata, one run of bytes a call, in stream order: the audio before a
 * metadata block comes before that block's meta_changed, the audio after it
 * afterwards. Every audio byte of the body comes once, whether a recording is
 * open or not; `audio` is valid for the call only. NULL removes the callback.
 * The callback may call any function of this API. */
typedef void (*pellora_audio_callback)(void* user_data, const char* audio, size_t length);
PELLORA_API int pellora_torvane_set_audio_callback(pellora_torvane* control,
                                                   pellora_audio_callback callback,
                                                   void* user_data);
/* TLS of https URLs, from the next connect. ca_file: PEM file of the trusted
 * authorities instead of the system's store ("" = the system's). insecure:
 * accept any certificate for any host (as curl -k). A certificate that fails the
 * check gives an error event (PELLORA_TERR_WSOCK, 10020, "certificate verify
 * failed: <why>"); other TLS failures give 10021 ("TLS handshake failed: ...").
 * There is never a fallback to plain text. */
PELLORA_API int pellora_torvane_get_ca_file(const pellora_torvane* control, char* buffer, size_t size,
                                            size_t* length);
PELLORA_API int pellora_torvane_set_ca_file(pellora_torvane* control, const char* path);
PELLORA_API int pellora_torvane_get_insecure(const pellora_torvane* control, int* value);
PELLORA_API int pellora_torvane_set_insecure(pellora_torvane* control, int value);
/* The response header must be complete this many milliseconds after connect
 * (default 15000; 0 or less: no limit), or the connection ends with an error
 * event (PELLORA_TERR_WSOCK, 110, "No complete response header within 15
 * seconds"). */
PELLORA_API int pellora_torvane_get_header_timeout(const pellora_torvane* control, int32_t* milliseconds);
PELLORA_API int pellora_torvane_set_header_timeout(pellora_torvane* control, int32_t milliseconds);
/* Nonzero once the last connection ended because the stream ended: the server
 * closed it after a complete response, or the body's Content-Length or last
 * chunk was reached. The control then ends the connection as disconnect does
 * (state_changed for a closed recording, then state_changed with is_connected
 * 0), with no error event. A close before the header was complete is an error
 * event instead (PELLORA_TERR_WSOCK, 10101). Zero again after connect. */
PELLORA_API int pellora_torvane_stream_ended(const pellora_torvane* control, int* value);
/* The byte counters in full. */
PELLORA_API int pellora_torvane_received_bytes_total(const pellora_torvane* control,
                                                     int64_t* value);
PELLORA_API int pellora_torvane_written_bytes_total(const pellora_torvane* control,
                                                    int64_t* value);

/* ---- Dialogs and the About window ------------------------------------------------- */

/* The About window while it is shown. */
typedef struct pellora_about_window pellora_about_window;

/* Its controls, as pellora_about_text and pellora_about_click name them. */
enum pellora_about_control {
  PELLORA_ABOUT_FORM = 0,     /* the caption: "About Pellora <version>" */
  PELLORA_ABOUT_CMDCLOSE = 1, /* "&Close" */
  PELLORA_ABOUT_PICTURE1 = 2, /* pictures: what they show */
  PELLORA_ABOUT_IMAGE2 = 3,
  PELLORA_ABOUT_FRAME1 = 4,
  PELLORA_ABOUT_LABEL2 = 5,
  PELLORA_ABOUT_LBLFORUM = 6, /* link: pellora_about_link gives its address */
  PELLORA_ABOUT_LABEL1 = 7,
  PELLORA_ABOUT_LBLGROUP = 8
};

/* The text of a control of the window. */
PELLORA_API int pellora_about_text(const pellora_about_window* window, int control, char* buffer,
                                   size_t size, size_t* length);
/* The address of a link label (PELLORA_ABOUT_LBLFORUM, PELLORA_ABOUT_LBLGROUP). */
PELLORA_API int pellora_about_link(const pellora_about_window* window, int control, char* buffer,
                                   size_t size, size_t* length);
/* The font of the window and its links: "Courier New". */
PELLORA_API int pellora_about_font(const pellora_about_window* window, char* buffer, size_t size,
                                   size_t* length);
/* A click on cmdClose, lblForum or lblGroup. A link asks first through the
 * message_box callback (style 68: Yes/No, information) and opens on Yes. */
PELLORA_API int pellora_about_click(pellora_about_window* window, int control);
/* The window's own close button. */
PELLORA_API int pellora_about_close(pellora_about_window* window);
/* Whether the window is still open. */
PELLORA_API int pellora_about_is_open(const pellora_about_window* window, int* value);

/* Answers of message_box. */
enum pellora_answer { PELLORA_ANSWER_OK = 1, PELLORA_ANSWER_YES = 6, PELLORA_ANSWER_NO = 7 };

/* How the host shows dialogs. Every member may be NULL: a missing message_box
 * answers No to questions, a missing show_about closes the window at once, and a
 * missing open_url opens the address with xdg-open. */
typedef struct pellora_dialogs {
  void* user_data;
  /* A modal message box; style is buttons + icon (4 = Yes/No, 64 = information).
   * Returns a pellora_answer. */
  int (*message_box)(void* user_data, const char* text, int style, const char* title);
  /* Shows the About window modally: returns once it is closed (clicks and the
   * close button go through the pellora_about_* functions). A window still open
   * on return is closed. */
  void (*show_about)(void* user_data, pellora_about_window* window);
  /* Opens an address in the browser; returns nonzero on success. */
  int (*open_url)(void* user_data, const char* address);
} pellora_dialogs;

/* Sets the dialogs of every control of the library (copied; NULL restores the
 * defaults). */
PELLORA_API int pellora_set_dialogs(const pellora_dialogs* dialogs);

#ifdef __cplusplus
}
#endif

#endif /* PELLORA_H */
