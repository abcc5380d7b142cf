// SPDX-License-Identifier: MIT
/* A host written in C that loads libdownloaders.so at run time, finds
 * Downloader by its class identifier, downloads a file:// URL through it, and
 * checks the entry points. */
#define _POSIX_C_SOURCE 200809L
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "c_host.h"
#include "downloaders.h"

static int (*set_events)(downloaders_downloader*, const downloaders_downloader_events*);
static int (*begin_download)(downloaders_downloader*, const char*, const char*);
static int (*extent)(const downloaders_downloader*, int32_t*, int32_t*);
static int (*set_message_box)(downloaders_message_box_fn, void*);
static int64_t (*loop_run_for)(int32_t);

static void load_api(const entry_points* s) {
  *(void**)&set_events = api(s, "downloaders_downloader_set_events");
  *(void**)&begin_download = api(s, "downloaders_downloader_begin_download");
  *(void**)&extent = api(s, "downloaders_downloader_extent");
  *(void**)&set_message_box = api(s, "downloaders_set_message_box");
  *(void**)&loop_run_for = api(s, "downloaders_loop_run_for");
}

struct recorder {
  int progress;
  int32_t last_cur;
  int32_t progress_max;
  int errors;
  int completions;
  int32_t complete_max;
  char save_file[512];
  int warnings;
  char warning_title[64];
  char warning_text[512];
};

static void on_progress(void* user, int32_t* cur, int32_t* max, const char* save_file) {
  struct recorder* r = user;
  r->progress++;
  CHECK(*cur >= r->last_cur);
  r->last_cur = *cur;
  r->progress_max = *max;
  (void)save_file;
}

static void on_error(void* user, const char* save_file) {
  (void)save_file;
  ((struct recorder*)user)->errors++;
}

static void on_complete(void* user, int32_t* max, const char* save_file) {
  struct recorder* r = user;
  r->completions++;
  r->complete_max = *max;
  snprintf(r->save_file, sizeof r->save_file, "%s", save_file);
}

static int on_message_box(void* user, const char* text, int style, const char* title) {
  struct recorder* r = user;
  (void)style;
  r->warnings++;
  snprintf(r->warning_title, sizeof r->warning_title, "%s", title);
  snprintf(r->warning_text, sizeof r->warning_text, "%s", text);
  return DOWNLOADERS_ANSWER_OK;
}

static void download(downloaders_downloader* control, const char* folder) {
  struct recorder r;
  memset(&r, 0, sizeof r);
  downloaders_downloader_events events = {&r, on_progress, on_error, on_complete};
  CHECK(set_events(control, &events) == DOWNLOADERS_OK);
  CHECK(set_message_box(on_message_box, &r) == DOWNLOADERS_OK);

  char source[512], target[512], url[600];
  snprintf(source, sizeof source, "%s/source.bin", folder);
  snprintf(target, sizeof target, "%s/target.bin", folder);
  snprintf(url, sizeof url, "file://%s", source);
  char content[5000];
  for (size_t i = 0; i < sizeof content; ++i) content[i] = (char)(i * 7);
  FILE* f = fopen(source, "wb");
  CHECK(f && fwrite(content, 1, sizeof content, f) == sizeof content);
  if (f) fclose(f);

  /* A URL the service refuses: the warning box, and no event. */
  CHECK(begin_download(control, "gopher://127.0.0.1/", target) == DOWNLOADERS_OK);
  CHECK(r.warnings == 1 && strcmp(r.warning_title, "Warning") == 0);
  CHECK(strstr(r.warning_text, ":Error in call to BeginDownload().\r\n\r\nError Description: "));

  CHECK(begin_download(control, url, target) == DOWNLOADERS_OK);
  for (int i = 0; i < 200 && r.completions == 0; ++i) loop_run_for(20);
  CHECK(r.completions == 1 && r.errors == 0);
  CHECK(r.complete_max == (int32_t)sizeof content);
  CHECK(strcmp(r.save_file, target) == 0);
  CHECK(r.progress == 0 || r.progress_max == (int32_t)sizeof content);
  char copy[6000];
  f = fopen(target, "rb");
  size_t got = f ? fread(copy, 1, sizeof copy, f) : 0;
  if (f) fclose(f);
  CHECK(got == sizeof content && memcmp(copy, content, got) == 0);
  CHECK(r.warnings == 1);
  unlink(source);
  unlink(target);
  CHECK(set_message_box(NULL, NULL) == DOWNLOADERS_OK);
  CHECK(set_events(control, NULL) == DOWNLOADERS_OK);
}

int main(void) {
  entry_points server;
  if (load_entry_points(DOWNLOADERS_LIBRARY, &server) != 0) return 1;
  load_api(&server);

  CHECK(server.can_unload_now() == COMPONENT_OK);
  const component_class_factory* factory = NULL;
  CHECK(server.get_class_object("c2885e1a-441d-46c9-a870-3e7577385260", &factory) ==
        COMPONENT_E_CLASS_NOT_AVAILABLE); /* Torvane lives in the other library */
  CHECK(server.get_class_object(DOWNLOADERS_DOWNLOADER_CLASS_ID, &factory) == COMPONENT_OK);
  CHECK(factory && strcmp(factory->name, "Downloaders.Downloader") == 0);

  downloaders_downloader* control = factory->create_instance();
  CHECK(control != NULL);
  CHECK(server.can_unload_now() == COMPONENT_FALSE);
  int32_t width = 0, height = 0;
  CHECK(extent(control, &width, &height) == DOWNLOADERS_OK && width == 480 && height == 480);

  char folder[] = "/tmp/pellora-c-host-download-XXXXXX";
  CHECK(mkdtemp(folder) != NULL);
  download(control, folder);
  factory->destroy_instance(control);
  CHECK(server.can_unload_now() == COMPONENT_OK);

  rmdir(folder);
  check_registration(&server, DOWNLOADERS_DOWNLOADER_CLASS_ID);

  dlclose(server.library);
  return c_host_summary("c_host_downloaders");
}
