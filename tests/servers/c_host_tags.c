// SPDX-License-Identifier: MIT
/* A host written in C, linked against libpellora.so as a C program would be,
 * that reads, writes and strips the tags of real files through pellora_tags.h
 * and checks the bytes it leaves. */
#define _POSIX_C_SOURCE 200809L
#include <errno.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "c_host.h"
#include "pellora_tags.h"

enum { kFrameLength = 417, kFrames = 10 };

/* MPEG-1 Layer III, 128 kbit/s, 44.1 kHz, joint stereo; frame k carries k. When
 * `xing` is set, the first frame holds a Xing header that counts nothing. */
static size_t make_audio(unsigned char* audio, int xing) {
  memset(audio, 0, kFrameLength * kFrames);
  for (int k = 0; k < kFrames; ++k) {
    unsigned char* frame = audio + k * kFrameLength;
    frame[0] = 0xFF, frame[1] = 0xFB, frame[2] = 0x90, frame[3] = 0x40;
    frame[40] = (unsigned char)k;
  }
  if (xing) memcpy(audio + 36, "Xing\0\0\0\0", 8);
  return kFrameLength * kFrames;
}

static void write_file(const char* path, const void* bytes, size_t length) {
  FILE* f = fopen(path, "wb");
  CHECK(f && fwrite(bytes, 1, length, f) == length);
  if (f) fclose(f);
}

/* The whole file into `out` (at most `size` bytes); its length. */
static size_t read_file(const char* path, unsigned char* out, size_t size) {
  FILE* f = fopen(path, "rb");
  if (!f) return 0;
  size_t n = fread(out, 1, size, f);
  fclose(f);
  return n;
}

static int contains(const unsigned char* bytes, size_t length, const void* part, size_t part_length) {
  for (size_t i = 0; i + part_length <= length; ++i)
    if (memcmp(bytes + i, part, part_length) == 0) return 1;
  return 0;
}

static int64_t get_int(const pellora_tags* tags, const char* name) {
  int64_t value = -12345;
  CHECK(pellora_tags_get_int(tags, name, &value) == PELLORA_OK);
  return value;
}

static void check_mpeg_values(const char* path) {
  pellora_tags* tags = NULL;
  CHECK(pellora_tags_open(path, &tags, NULL) == PELLORA_OK);
  if (!tags) return;
  CHECK(get_int(tags, "Layer") == 1 && get_int(tags, "MPEGVersion") == 2 && get_int(tags, "ChannelMode") == 1);
  CHECK(get_int(tags, "SamplingRateFrequency") == 44100 && get_int(tags, "FrameSamples") == 1152);
  CHECK(get_int(tags, "AudioStart") == 5 && get_int(tags, "AudioSize") == kFrameLength * kFrames - 5);
  CHECK(get_int(tags, "ID3v2Exists") == 0 && get_int(tags, "GenreID") == 255);
  double bit_rate = 0, frame_size = 0, length = 0;
  CHECK(pellora_tags_get_double(tags, "BitRate", &bit_rate) == PELLORA_OK && bit_rate == 128000.0);
  CHECK(pellora_tags_get_double(tags, "FrameSize", &frame_size) == PELLORA_OK &&
        fabs(frame_size - 1152.0 / 8 * 128000 / 44100) < 1e-9);
  CHECK(pellora_tags_get_double(tags, "length", &length) == PELLORA_OK &&
        fabs(length - (kFrameLength * kFrames - 5) / 128000.0 * 8) < 1e-12);
  uint8_t header[3] = {0};
  CHECK(pellora_tags_frame_header(tags, header) == PELLORA_OK && header[0] == 0xFB && header[1] == 0x90 &&
        header[2] == 0x40);
  size_t toc_length = 99;
  CHECK(pellora_tags_vbr_toc(tags, NULL, 0, &toc_length) == PELLORA_OK && toc_length == 0);
  pellora_tags_destroy(tags);
}

/* Writes a title beyond Latin-1 and an album, reads them back, strips them, and
 * checks that the audio came through byte for byte each time. */
static void check_round_trip(const char* path, const unsigned char* audio, size_t audio_length) {
  static unsigned char bytes[1 << 16];
  pellora_tags* tags = NULL;
  CHECK(pellora_tags_open(path, &tags, NULL) == PELLORA_OK);
  if (!tags) return;
  CHECK(pellora_tags_set_text(tags, "Title", "\xCE\xA9 \xF0\x9F\x8E\xB5") == PELLORA_OK); /* Ω 🎵 */
  CHECK(pellora_tags_set_text(tags, "Album", "Live") == PELLORA_OK);
  CHECK(pellora_tags_set_text(tags, "Genre", "Rock") == PELLORA_OK);
  CHECK(pellora_tags_set_int(tags, "GenreID", 17) == PELLORA_OK);
  CHECK(pellora_tags_update(tags) == PELLORA_OK);
  pellora_tags_destroy(tags);

  size_t length = read_file(path, bytes, sizeof bytes);
  static const char title_frame[] = "TIT2\0\0\0\x0B\0\0\x01\xFF\xFE\xA9\x03 \0\x3C\xD8\xB5\xDF";
  CHECK(memcmp(bytes, "ID3\x03\0\0", 6) == 0);
  CHECK(contains(bytes, length, title_frame, sizeof title_frame - 1));
  CHECK(contains(bytes, length, "TALB\0\0\0\x05\0\0\0Live", 15));
  CHECK(contains(bytes, length, "TCON\0\0\0\x09\0\0\0(17)Rock", 19));
  CHECK(length > 128 && memcmp(bytes + length - 128, "TAG? ?\0", 7) == 0 && bytes[length - 1] == 17);
  CHECK(contains(bytes, length, audio, audio_length));

  tags = NULL;
  CHECK(pellora_tags_open(path, &tags, NULL) == PELLORA_OK);
  if (!tags) return;
  char title[16];
  size_t title_length = 0;
  CHECK(pellora_tags_get_text(tags, "Title", title, sizeof title, &title_length) == PELLORA_OK);
  CHECK(title_length == 7 && strcmp(title, "\xCE\xA9 \xF0\x9F\x8E\xB5") == 0);
  char cut[4];
  CHECK(pellora_tags_get_text(tags, "Title", cut, sizeof cut, &title_length) == PELLORA_E_BUFFER_TOO_SMALL);
  CHECK(title_length == 7 && strlen(cut) == 3);
  char half_emoji[6]; /* room for 5 bytes: the cut falls inside the emoji, which is left out whole */
  CHECK(pellora_tags_get_text(tags, "Title", half_emoji, sizeof half_emoji, NULL) == PELLORA_E_BUFFER_TOO_SMALL);
  CHECK(strcmp(half_emoji, "\xCE\xA9 ") == 0);
  char genre[16];
  CHECK(pellora_tags_get_text(tags, "Genre", genre, sizeof genre, NULL) == PELLORA_OK && strcmp(genre, "Rock") == 0);
  CHECK(get_int(tags, "GenreID") == 17 && get_int(tags, "ID3v2Exists") == 1 && get_int(tags, "ID3v1Exists") == 1);
  CHECK(get_int(tags, "ID3RevisionV2") == 3);

  CHECK(pellora_tags_strip(tags) == PELLORA_OK);
  CHECK(get_int(tags, "ID3v2Exists") == 0 && get_int(tags, "GenreID") == 255);
  pellora_tags_destroy(tags);
  length = read_file(path, bytes, sizeof bytes);
  CHECK(length == audio_length && memcmp(bytes, audio, audio_length) == 0);
}

static void check_failures(const char* folder, const char* path) {
  pellora_tags* tags = (pellora_tags*)1;
  int os_error = 0;
  char missing[512];
  snprintf(missing, sizeof missing, "%s/missing.mp3", folder);
  CHECK(pellora_tags_open(missing, &tags, &os_error) == PELLORA_E_CANNOT_READ && !tags && os_error == ENOENT);
  CHECK(pellora_tags_open(folder, &tags, &os_error) == PELLORA_E_CANNOT_READ && os_error == EISDIR);
  CHECK(pellora_tags_open(NULL, &tags, NULL) == PELLORA_E_INVALID_ARGUMENT);
  CHECK(strcmp(pellora_tags_error_text(PELLORA_E_CANNOT_READ), "cannot read the file") == 0);

  CHECK(pellora_tags_open(path, &tags, NULL) == PELLORA_OK);
  if (!tags) return;
  int64_t value = 0;
  double number = 0;
  CHECK(pellora_tags_set_text(tags, "Titel", "x") == PELLORA_E_UNKNOWN_PROPERTY);
  CHECK(pellora_tags_get_int(tags, "Title", &value) == PELLORA_E_UNKNOWN_PROPERTY);
  CHECK(pellora_tags_get_double(tags, "Layer", &number) == PELLORA_E_UNKNOWN_PROPERTY);
  CHECK(pellora_tags_set_int(tags, "Layer", 1) == PELLORA_E_UNKNOWN_PROPERTY);
  CHECK(pellora_tags_set_text(tags, "Title", "caf\xE9") == PELLORA_E_NOT_UTF8);
  CHECK(pellora_tags_set_int(tags, "GenreID", INT64_C(1) << 40) == PELLORA_E_OUT_OF_RANGE);
  /* A Xing header that counts no frames: FrameSize has no value. */
  CHECK(get_int(tags, "IsVbr") == 1);
  CHECK(pellora_tags_get_double(tags, "FrameSize", &number) == PELLORA_E_NO_VALUE);

  /* A second link sends the rewrite through the temporary folder, which is missing. */
  char link_path[600];
  snprintf(link_path, sizeof link_path, "%s.link", path);
  CHECK(link(path, link_path) == 0 && setenv("TEMP", missing, 1) == 0);
  CHECK(pellora_tags_set_text(tags, "Title", "x") == PELLORA_OK);
  CHECK(pellora_tags_update(tags) == PELLORA_E_UNCHANGED && pellora_tags_os_error(tags) == ENOENT);
  CHECK(unsetenv("TEMP") == 0 && unlink(link_path) == 0);

  /* Moved away since it was opened: no file holding the tags alone appears. */
  char moved[600];
  snprintf(moved, sizeof moved, "%s.moved", path);
  CHECK(rename(path, moved) == 0);
  CHECK(pellora_tags_update(tags) == PELLORA_E_FILE_GONE && pellora_tags_os_error(tags) == ENOENT);
  CHECK(pellora_tags_strip(tags) == PELLORA_E_FILE_GONE && access(path, F_OK) != 0);

  /* The file became a folder meanwhile: nothing can be written. */
  CHECK(mkdir(path, 0700) == 0);
  CHECK(pellora_tags_update(tags) == PELLORA_E_NOT_REGULAR && pellora_tags_os_error(tags) == 0);
  CHECK(pellora_tags_strip(tags) == PELLORA_E_NOT_REGULAR);
  pellora_tags_destroy(tags);
  rmdir(path);
  unlink(moved);
}

/* A revision-2 frame holds at most 16 MiB: a longer text is refused as such. */
static void check_tag_too_large(const char* folder) {
  static const unsigned char v22[] = "ID3\x02\0\0\0\0\0\x0ATT2\0\0\x04\0Old";
  char path[512];
  snprintf(path, sizeof path, "%s/v22.mp3", folder);
  write_file(path, v22, sizeof v22 - 1);
  pellora_tags* tags = NULL;
  CHECK(pellora_tags_open(path, &tags, NULL) == PELLORA_OK);
  char* lyrics = malloc((17u << 20) + 1);
  if (tags && lyrics) {
    memset(lyrics, 'x', 17u << 20);
    lyrics[17u << 20] = '\0';
    CHECK(pellora_tags_set_text(tags, "Lyrics", lyrics) == PELLORA_OK);
    CHECK(pellora_tags_update(tags) == PELLORA_E_TAG_TOO_LARGE && pellora_tags_os_error(tags) == 0);
  }
  free(lyrics);
  pellora_tags_destroy(tags);
  unsigned char bytes[64];
  CHECK(read_file(path, bytes, sizeof bytes) == sizeof v22 - 1 && memcmp(bytes, v22, sizeof v22 - 1) == 0);

  /* A tag that claims more than the file holds: the audio inside its claim stays. */
  static const unsigned char damaged[] = "ID3\x03\0\0\x7F\x7F\x7F\x7FTIT2\0\0\0\x02\0\0\0x\xFF\xFB\x90\x64";
  write_file(path, damaged, sizeof damaged - 1);
  tags = NULL;
  CHECK(pellora_tags_open(path, &tags, NULL) == PELLORA_OK);
  CHECK(pellora_tags_update(tags) == PELLORA_E_DAMAGED_TAG && pellora_tags_strip(tags) == PELLORA_E_DAMAGED_TAG);
  pellora_tags_destroy(tags);
  CHECK(read_file(path, bytes, sizeof bytes) == sizeof damaged - 1 && memcmp(bytes, damaged, sizeof damaged - 1) == 0);
  unlink(path);
}

static void check_genre_table(void) {
  char name[32];
  size_t length = 0;
  int32_t id = 0;
  CHECK(pellora_tags_genre_name(17, name, sizeof name, &length) == PELLORA_OK && strcmp(name, "Rock") == 0);
  CHECK(pellora_tags_genre_name(200, name, sizeof name, &length) == PELLORA_E_NO_VALUE && length == 0);
  CHECK(pellora_tags_genre_id("hip hop", &id) == PELLORA_OK && id == 7);
  CHECK(pellora_tags_genre_id("", &id) == PELLORA_OK && id == 255);
  CHECK(pellora_tags_text_count() == 37);
  CHECK(strcmp(pellora_tags_text_name(0), "Comments") == 0 && pellora_tags_text_name(37) == NULL);
}

int main(void) {
  char folder[] = "/tmp/pellora-c-tags-XXXXXX";
  if (!mkdtemp(folder)) return 1;
  char path[512];
  snprintf(path, sizeof path, "%s/song.mp3", folder);
  static unsigned char audio[kFrameLength * kFrames];

  const size_t audio_length = make_audio(audio, 0);
  write_file(path, audio, audio_length);
  check_mpeg_values(path);
  check_round_trip(path, audio, audio_length);
  write_file(path, audio, make_audio(audio, 1));
  check_failures(folder, path);
  check_tag_too_large(folder);
  check_genre_table();

  rmdir(folder);
  return c_host_summary("c_host_tags");
}
