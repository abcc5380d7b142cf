// SPDX-License-Identifier: MIT
/* A minimal C host of both Pellora controls: records an internet-radio stream
 * for some seconds while downloading a file.
 *
 *   record_and_download STREAM_URL RECORD_FILE SECONDS DOWNLOAD_URL SAVE_FILE
 *
 * Build: cc record_and_download.c $(pkg-config --cflags --libs pellora downloaders)
 */
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include "downloaders.h"
#include "pellora.h"

static int downloading = 1;

static void on_header(void* control, const char* header, size_t length) {
  (void)header, (void)length;
  char name[256];
  pellora_torvane_stream_name(control, name, sizeof name, NULL);
  printf("station: %s\n", name);
}

static void on_title(void* control, const char* meta, size_t length) {
  (void)meta, (void)length;
  char title[256];
  pellora_torvane_music_name(control, title, sizeof title, NULL);
  printf("playing: %s\n", title);
}

static void on_error(void* user, int32_t* type, int32_t* code, const char* text, size_t length) {
  (void)user, (void)length;
  fprintf(stderr, "stream error %d/%d: %s\n", (int)*type, (int)*code, text);
}

static void on_progress(void* user, int32_t* cur, int32_t* max, const char* file) {
  (void)user;
  printf("%s: %d of %d bytes\n", file, (int)*cur, (int)*max);
}

static void on_complete(void* user, int32_t* max, const char* file) {
  (void)user;
  printf("%s: done, %d bytes\n", file, (int)*max);
  downloading = 0;
}

int main(int argc, char** argv) {
  if (argc != 6) {
    fprintf(stderr, "usage: %s STREAM_URL RECORD_FILE SECONDS DOWNLOAD_URL SAVE_FILE\n", argv[0]);
    return 2;
  }
  pellora_torvane* radio = NULL;
  downloaders_downloader* downloader = NULL;
  if (pellora_torvane_create(&radio) != PELLORA_OK ||
      downloaders_downloader_create(&downloader) != DOWNLOADERS_OK)
    return 1;

  pellora_torvane_events radio_events = {radio, NULL, on_title, on_error, on_header, NULL};
  pellora_torvane_set_events(radio, &radio_events);
  downloaders_downloader_events download_events = {NULL, on_progress, NULL, on_complete};
  downloaders_downloader_set_events(downloader, &download_events);

  pellora_torvane_start_writing(radio, argv[2], 0);
  pellora_torvane_connect(radio, argv[1], 0, NULL);
  downloaders_downloader_begin_download(downloader, argv[4], argv[5]);

  /* Each library has its own loop; a host without a loop of its own takes turns. */
  const time_t end = time(NULL) + atoi(argv[3]);
  while (time(NULL) < end || downloading) {
    pellora_loop_run_for(20);
    downloaders_loop_run_for(20);
  }
  int32_t written = 0;
  pellora_torvane_written_bytes(radio, &written);
  printf("recorded %d bytes into %s\n", (int)written, argv[2]);

  pellora_torvane_disconnect(radio);
  pellora_torvane_destroy(radio);
  downloaders_downloader_destroy(downloader);
  return 0;
}
