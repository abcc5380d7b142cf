// SPDX-License-Identifier: MIT
/*
 * pellora_tags.h: the C API of the tag store in libpellora.so. Reads, writes
 * and strips the ID3v1, ID3v2 and Lyrics3 tags of a file and reads what the
 * first MPEG audio frame between them says.
 *
 *   pellora_tags* tags;
 *   if (pellora_tags_open("song.mp3", &tags, NULL) == PELLORA_OK) {
 *     char title[256];
 *     pellora_tags_get_text(tags, "Title", title, sizeof title, NULL);
 *     pellora_tags_set_text(tags, "Album", "Live");
 *     pellora_tags_update(tags);
 *     pellora_tags_destroy(tags);
 *   }
 *
 * Conventions are those of pellora.h: every function returns PELLORA_OK (0) or
 * a negative code (pellora_tags_error_text describes it), never throws, and
 * copies texts out into caller buffers (a buffer too small gets what fits without
 * cutting a UTF-8 character). Tag texts go in and come out as UTF-8.
 * File names are bytes, passed to the system as they are. Nothing here needs
 * the event loop; a handle may be used from any one thread at a time.
 *
 * Property names are those of the tag store: the text items listed by
 * pellora_tags_text_name ("Comments", "Album", ... "PublisherURL"), and the
 * numbers
 *   GenreID (settable), ID3v1Exists, ID3v2Exists, Lyrics3v1Exists,
 *   Lyrics3v2Exists, ID3RevisionV2, AudioStart, AudioSize, IsVbr, VbrFrames,
 *   VbrBytes, VbrQuality, VbriTocEntries, VbriTocEntrySize, Layer,
 *   MPEGVersion, ChannelMode, Padding, Encoding, SamplingRateFrequency,
 *   FrameSamples                                  (pellora_tags_get_int)
 *   BitRate, FrameSize, length                    (pellora_tags_get_double)
 */
#ifndef PELLORA_TAGS_H
#define PELLORA_TAGS_H

#include <stddef.h>
#include <stdint.h>

#include "pellora.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Results beyond those of pellora.h. */
enum pellora_tags_result {
  PELLORA_E_UNKNOWN_PROPERTY = -20, /* no property of that name and kind */
  PELLORA_E_CANNOT_READ = -21,      /* open: not a regular file that can be read */
  PELLORA_E_NOT_UTF8 = -22,         /* a text going in is not UTF-8 */
  PELLORA_E_NO_VALUE = -23,         /* FrameSize of a VBR header counting no frames;
                                       a genre number without a name */
  PELLORA_E_UNCHANGED = -24,        /* update/strip failed before the file was
                                       touched: it holds its old content
                                       (pellora_tags_os_error says why) */
  PELLORA_E_KEPT_COPY = -25,        /* writing the file failed midway: its complete
                                       new content is in pellora_tags_kept_copy */
  PELLORA_E_OUT_OF_RANGE = -26,     /* a number the property cannot hold */
  PELLORA_E_TAG_TOO_LARGE = -27,    /* update: the new ID3v2 tag, or one of its frames,
                                       is larger than its size field can say (a
                                       revision-2 frame over 16 MiB, a tag over
                                       256 MiB); the file is unchanged */
  PELLORA_E_FILE_GONE = -28,        /* update/strip: the file the handle was opened on
                                       is no longer at its path (moved or deleted);
                                       nothing is created */
  PELLORA_E_NOT_REGULAR = -29,      /* update/strip: the path now names something
                                       other than a regular file (a folder, a FIFO);
                                       nothing is changed */
  PELLORA_E_DAMAGED_TAG = -30       /* update/strip: the file's ID3v2 tag claims more
                                       bytes than the file holds, so the audio lies
                                       inside its claim; the file is unchanged */
};

typedef struct pellora_tags pellora_tags;

/* Reads the tags of the file at `path` into a new handle (*out). A path that is
 * not a regular file that can be read gives PELLORA_E_CANNOT_READ, *out NULL
 * and, when `os_error` is given, the errno value that says why (EOPNOTSUPP for
 * something other than a regular file or folder: a FIFO, a device). */
PELLORA_API int pellora_tags_open(const char* path, pellora_tags** out, int* os_error);
/* Frees the handle; NULL is allowed. */
PELLORA_API void pellora_tags_destroy(pellora_tags* tags);
/* Reads the file again; the values set since are lost. */
PELLORA_API int pellora_tags_refresh(pellora_tags* tags, int* os_error);

/* The text items: their count and their names in declared order (NULL for an
 * index out of range). */
PELLORA_API int pellora_tags_text_count(void);
PELLORA_API const char* pellora_tags_text_name(int index);

PELLORA_API int pellora_tags_get_text(const pellora_tags* tags, const char* name, char* buffer,
                                      size_t size, size_t* length);
/* Stores the value as it is (no trimming, no validation): the file changes on
 * pellora_tags_update. */
PELLORA_API int pellora_tags_set_text(pellora_tags* tags, const char* name, const char* utf8);

PELLORA_API int pellora_tags_get_int(const pellora_tags* tags, const char* name, int64_t* value);
/* Only GenreID can be set, to a 32-bit signed value. */
PELLORA_API int pellora_tags_set_int(pellora_tags* tags, const char* name, int64_t value);
/* Non-finite results (a division by zero) come back as infinity or NaN. */
PELLORA_API int pellora_tags_get_double(const pellora_tags* tags, const char* name, double* value);

/* The three bytes after the sync byte of the first frame header. */
PELLORA_API int pellora_tags_frame_header(const pellora_tags* tags, uint8_t header[3]);
/* The table of contents of the Xing/Info header (100 bytes, or none). */
PELLORA_API int pellora_tags_vbr_toc(const pellora_tags* tags, uint8_t* buffer, size_t size,
                                     size_t* length);

/* Rewrites the file with the values held: a new ID3v2 tag, the audio unchanged,
 * the Lyrics3 block and ID3v1 record where the values call for them. The
 * handle's values stay as they were set (refresh reads the file again). Only the
 * regular file at the handle's path is rewritten: when it has been moved or
 * deleted since the handle was opened, the result is PELLORA_E_FILE_GONE and no
 * file is created (unlike the C++ class, which makes a file holding the tags
 * alone). After a failure the file holds its old content, except after
 * PELLORA_E_KEPT_COPY. */
PELLORA_API int pellora_tags_update(pellora_tags* tags);
/* Removes every tag from the file and empties the handle's values; the same
 * results as pellora_tags_update. */
PELLORA_API int pellora_tags_strip(pellora_tags* tags);
/* The errno value that says why the last update or strip failed: the system's
 * reason the file could not be found or opened for writing, or no temporary copy
 * made in the temporary folder (TEMP, else TMPDIR, else /tmp), or ENOSPC when the
 * file's device or that folder's has no room for its new content. 0 after a success, after PELLORA_E_NOT_REGULAR
 * and PELLORA_E_TAG_TOO_LARGE, and when the system names no reason; 0 for NULL. */
PELLORA_API int pellora_tags_os_error(const pellora_tags* tags);
/* After PELLORA_E_KEPT_COPY: the temporary file holding the new content. */
PELLORA_API int pellora_tags_kept_copy(const pellora_tags* tags, char* buffer, size_t size,
                                       size_t* length);

/* The genre table: the name of a genre number (PELLORA_E_NO_VALUE when the
 * table has none), and the number of a free text ("Hip-Hop" -> 7; 12 "Other"
 * when nothing matches, 255 for blank text). */
PELLORA_API int pellora_tags_genre_name(int32_t genre_id, char* buffer, size_t size, size_t* length);
PELLORA_API int pellora_tags_genre_id(const char* utf8, int32_t* genre_id);

/* A short English description of a result code of either header. */
PELLORA_API const char* pellora_tags_error_text(int code);

#ifdef __cplusplus
}
#endif

#endif
