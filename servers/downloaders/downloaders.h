// SPDX-License-Identifier: MIT
/*
 * downloaders.h: the C API of libdownloaders.so, the component server of the
 * Downloader control, which downloads the resource at a URL (http, https,
 * file) into a file and reports progress, failure and completion as events.
 *
 * A host creates a control (downloaders_downloader_create, or through the
 * entry points of component_server.h), gives it its event callbacks, calls
 * downloaders_downloader_begin_download, and runs the library's event loop
 * (downloaders_loop_run, or downloaders_loop_poll from its own loop). Every
 * event arrives on the thread that runs the loop; the library starts no thread.
 *
 * Conventions (as in pellora.h): every function returns DOWNLOADERS_OK (0) or
 * a negative DOWNLOADERS_E_* code, and no exception leaves the library; strings
 * going in are NUL-terminated; Booleans are int.
 *
 * Failures: a download that cannot even be started is not an error of the
 * call. As the control's container would, the library shows the message box
 * titled "Warning" (see downloaders_set_message_box) and the call returns
 * DOWNLOADERS_OK without any event.
 */
#ifndef DOWNLOADERS_H
#define DOWNLOADERS_H

#include <stddef.h>
#include <stdint.h>

#include "component_server.h"

#ifdef __cplusplus
extern "C" {
#endif

#define DOWNLOADERS_API COMPONENT_EXPORT

/* The class identifier of Downloader, for DllGetClassObject. */
#define DOWNLOADERS_DOWNLOADER_CLASS_ID "7090c007-ebce-40db-b2fe-08d5f4aaa134"

enum downloaders_result {
  DOWNLOADERS_OK = 0,
  DOWNLOADERS_E_INVALID_ARGUMENT = -1, /* a null handle, pointer or string */
  DOWNLOADERS_E_BUFFER_TOO_SMALL = -2, /* the text was cut to fit; *length says how long it is */
  DOWNLOADERS_E_FAILED = -3,           /* an unexpected failure inside the library */
  DOWNLOADERS_E_OUT_OF_MEMORY = -4
};

/* ---- The event loop -------------------------------------------------------- */

/* Runs the loop until downloaders_loop_stop or until no work is left (every
 * download finished); returns the handlers run, or a negative code. */
DOWNLOADERS_API int64_t downloaders_loop_run(void);
/* Runs the loop for at most `milliseconds`. */
DOWNLOADERS_API int64_t downloaders_loop_run_for(int32_t milliseconds);
/* Runs what is ready now without blocking (for hosts with a loop of their own). */
DOWNLOADERS_API int64_t downloaders_loop_poll(void);
/* Makes a running downloaders_loop_run return; may be called from a callback. */
DOWNLOADERS_API void downloaders_loop_stop(void);

/* ---- Downloader ------------------------------------------------------------ */

typedef struct downloaders_downloader downloaders_downloader;

/* The events of __Downloader. Arguments are passed by reference, as the
 * control raises them; what a callback changes through them is ignored.
 * save_file is the path given to begin_download, valid for the call only. A
 * NULL member ignores its event. Callbacks may call any function of this API,
 * including downloaders_downloader_destroy on their own control. */
typedef struct downloaders_downloader_events {
  void* user_data;
  /* Bytes received so far of a download whose size is known. */
  void (*download_progress)(void* user_data, int32_t* cur_bytes, int32_t* max_bytes,
                            const char* save_file);
  /* The download failed (its size is reported as 0); download_complete follows. */
  void (*download_error)(void* user_data, const char* save_file);
  /* The download ended; on success save_file holds its max_bytes bytes. */
  void (*download_complete)(void* user_data, int32_t* max_bytes, const char* save_file);
} downloaders_downloader_events;

/* A new control, created, initialised and sized as a container does. */
DOWNLOADERS_API int downloaders_downloader_create(downloaders_downloader** control);
/* Ends a control (NULL is ignored) and abandons its running downloads without
 * further events. Called from one of the control's own callbacks, the control
 * stops calling back at once and goes when the loop next runs. */
DOWNLOADERS_API void downloaders_downloader_destroy(downloaders_downloader* control);
/* Sets the callbacks (copied; NULL removes them all). */
DOWNLOADERS_API int downloaders_downloader_set_events(downloaders_downloader* control,
                                                      const downloaders_downloader_events* events);

/* 1. Starts downloading `url` into `save_file` and returns at once. */
DOWNLOADERS_API int downloaders_downloader_begin_download(downloaders_downloader* control,
                                                          const char* url,
                                                          const char* save_file);
/* 2. Sets the control's extent to 32 x 32 pixels. */
DOWNLOADERS_API int downloaders_downloader_size_it(downloaders_downloader* control);
/* The control's extent, in twips. */
DOWNLOADERS_API int downloaders_downloader_extent(const downloaders_downloader* control,
                                                  int32_t* width, int32_t* height);

/* Why the download whose download_error is being raised failed, in one line of
 * UTF-8 (the server's status, the network's reason, or the file that could not
 * be written): call it from that callback. It keeps the latest failure's reason
 * until the next one; empty before any. The text and a NUL go into `buffer` of
 * `size` bytes, its length (without the NUL) into *length when length is given;
 * a NULL buffer of size 0 asks only for the length. A buffer too small receives
 * as much as fits and the result is DOWNLOADERS_E_BUFFER_TOO_SMALL. */
DOWNLOADERS_API int downloaders_downloader_last_error(const downloaders_downloader* control,
                                                      char* buffer, size_t size, size_t* length);

/* ---- Dialogs --------------------------------------------------------------- */

/* Answers of a message box. */
enum downloaders_answer { DOWNLOADERS_ANSWER_OK = 1 };

/* How the host shows a modal message box (style: buttons + icon, 16 = critical);
 * returns a downloaders_answer. NULL restores the default, a line on stderr. */
typedef int (*downloaders_message_box_fn)(void* user_data, const char* text, int style,
                                          const char* title);
DOWNLOADERS_API int downloaders_set_message_box(downloaders_message_box_fn message_box,
                                                void* user_data);

#ifdef __cplusplus
}
#endif

#endif /* DOWNLOADERS_H */
