// SPDX-License-Identifier: MIT
/* A host written in C that loads libpellora.so at run time, finds Torvane by
 * its class identifier, records a loopback station through it, drives the
 * About window, and checks the entry points. */
#define _POSIX_C_SOURCE 200809L
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "c_host.h"
#include "pellora.h"

/* The C API, looked up in the loaded library. */
static int (*set_events)(pellora_torvane*, const pellora_torvane_events*);
static int (*connect_to)(pellora_torvane*, const char*, int, int32_t*);
static int (*disconnect)(pellora_torvane*);
static int (*start_writing)(pellora_torvane*, const char*, int);
static int (*written_bytes)(const pellora_torvane*, int32_t*);
static int (*is_connected)(const pellora_torvane*, int*);
static int (*music_name)(const pellora_torvane*, char*, size_t, size_t*);
static int (*stream_name)(const pellora_torvane*, char*, size_t, size_t*);
static int (*get_header)(const pellora_torvane*, const char*, char*, size_t, size_t*, int*);
static int (*about)(pellora_torvane*, int*);
static int (*set_dialogs)(const pellora_dialogs*);
static int (*about_text)(const pellora_about_window*, int, char*, size_t, size_t*);
static int (*about_link)(const pellora_about_window*, int, char*, size_t, size_t*);
static int (*about_click)(pellora_about_window*, int);
static int (*about_is_open)(const pellora_about_window*, int*);
static int64_t (*loop_run_for)(int32_t);
static int (*set_insecure)(pellora_torvane*, int);
static int (*set_header_timeout)(pellora_torvane*, int32_t);
static int (*get_header_timeout)(const pellora_torvane*, int32_t*);
static int (*stream_ended)(const pellora_torvane*, int*);

static void load_api(const entry_points* s) {
  *(void**)&set_events = api(s, "pellora_torvane_set_events");
  *(void**)&connect_to = api(s, "pellora_torvane_connect");
  *(void**)&disconnect = api(s, "pellora_torvane_disconnect");
  *(void**)&start_writing = api(s, "pellora_torvane_start_writing");
  *(void**)&written_bytes = api(s, "pellora_torvane_written_bytes");
  *(void**)&is_connected = api(s, "pellora_torvane_is_connected");
  *(void**)&music_name = api(s, "pellora_torvane_music_name");
  *(void**)&stream_name = api(s, "pellora_torvane_stream_name");
  *(void**)&get_header = api(s, "pellora_torvane_get_header");
  *(void**)&about = api(s, "pellora_torvane_about");
  *(void**)&set_dialogs = api(s, "pellora_set_dialogs");
  *(void**)&about_text = api(s, "pellora_about_text");
  *(void**)&about_link = api(s, "pellora_about_link");
  *(void**)&about_click = api(s, "pellora_about_click");
  *(void**)&about_is_open = api(s, "pellora_about_is_open");
  *(void**)&loop_run_for = api(s, "pellora_loop_run_for");
  *(void**)&set_insecure = api(s, "pellora_torvane_set_insecure");
  *(void**)&set_header_timeout = api(s, "pellora_torvane_set_header_timeout");
  *(void**)&get_header_timeout = api(s, "pellora_torvane_get_header_timeout");
  *(void**)&stream_ended = api(s, "pellora_torvane_stream_ended");
}

/* What the event callbacks saw. */
struct recorder {
  pellora_torvane* control;
  const char* record_path;
  int state_changes;
  int headers;
  int errors;
  int32_t last_error_type;
  int32_t last_error_code;
  char meta[256];
};

static void on_state_changed(void* user) { ((struct recorder*)user)->state_changes++; }

static void on_got_header(void* user, const char* header, size_t length) {
  struct recorder* r = user;
  r->headers++;
  CHECK(length >= 4 && memcmp(header + length - 4, "\r\n\r\n", 4) == 0);
  /* Calling back into the control from its own event. */
  CHECK(start_writing(r->control, r->record_path, 0) == PELLORA_OK);
}

static void on_meta_changed(void* user, const char* meta, size_t length) {
  struct recorder* r = user;
  if (length < sizeof r->meta) memcpy(r->meta, meta, length + 1);
}

static void on_error(void* user, int32_t* type, int32_t* code, const char* text, size_t length) {
  struct recorder* r = user;
  (void)text, (void)length;
  r->errors++;
  r->last_error_type = *type;
  r->last_error_code = *code;
}

static const char kHeader[] =
    "ICY 200 OK\r\nicy-name:C Host Station\r\nicy-genre:Test\r\nicy-metaint:8\r\n\r\n";
/* Two metadata intervals of 8 audio bytes, a title block of 32 bytes, an empty
 * block, then 8 more audio bytes. */
static const char kBody[] =
    "AAAAAAAA\002StreamTitle='Song One';\0\0\0\0\0\0\0\0\0BBBBBBBB\000CCCCCCCC";

static void record_from_a_loopback_station(pellora_torvane* control) {
  char path[] = "/tmp/pellora-c-host-XXXXXX";
  int fd = mkstemp(path);
  CHECK(fd >= 0);
  close(fd);
  struct recorder r;
  memset(&r, 0, sizeof r);
  r.control = control;
  r.record_path = path;
  pellora_torvane_events events = {&r, on_state_changed, on_meta_changed, on_error,
                                   on_got_header, NULL};
  CHECK(set_events(control, &events) == PELLORA_OK);

  unsigned short port = serve_once(kHeader, sizeof kHeader - 1, kBody, sizeof kBody - 1, 200);
  CHECK(port != 0);
  char url[64];
  snprintf(url, sizeof url, "http://127.0.0.1:%u/live", port);
  CHECK(connect_to(control, url, 0, NULL) == PELLORA_OK);
  int connected = 0;
  CHECK(is_connected(control, &connected) == PELLORA_OK && connected);

  int32_t written = 0;
  for (int i = 0; i < 100 && written < 24; ++i) {
    loop_run_for(50);
    written_bytes(control, &written);
  }
  CHECK(written == 24);
  CHECK(r.headers == 1);
  CHECK(r.errors == 0);
  CHECK(strcmp(r.meta, "StreamTitle='Song One';") == 0);

  char text[64];
  size_t length = 0;
  CHECK(music_name(control, text, sizeof text, &length) == PELLORA_OK);
  CHECK(strcmp(text, "Song One") == 0 && length == 8);
  CHECK(stream_name(control, text, sizeof text, NULL) == PELLORA_OK);
  CHECK(strcmp(text, "C Host Station") == 0);
  CHECK(stream_name(control, text, 4, &length) == PELLORA_E_BUFFER_TOO_SMALL);
  CHECK(strcmp(text, "C H") == 0 && length == 14);
  int present = 0;
  CHECK(get_header(control, "icy-genre", text, sizeof text, NULL, &present) == PELLORA_OK);
  CHECK(present && strcmp(text, "Test") == 0);

  CHECK(disconnect(control) == PELLORA_OK);
  CHECK(r.state_changes == 4); /* connect, recording on, recording off, disconnect */
  serve_once_join();

  FILE* recording = fopen(path, "rb");
  char audio[64] = {0};
  size_t got = recording ? fread(audio, 1, sizeof audio, recording) : 0;
  if (recording) fclose(recording);
  CHECK(got == 24 && memcmp(audio, "AAAAAAAABBBBBBBBCCCCCCCC", 24) == 0);
  unlink(path);
  CHECK(set_events(control, NULL) == PELLORA_OK);
}

/* An https URL on a server that answers in plain text: the TLS handshake fails
 * (even with certificates unchecked) and nothing of the plain answer is taken. */
static void https_never_falls_back_to_plain_text(pellora_torvane* control) {
  struct recorder r;
  memset(&r, 0, sizeof r);
  r.control = control;
  pellora_torvane_events events = {&r, on_state_changed, on_meta_changed, on_error, on_got_header, NULL};
  CHECK(set_events(control, &events) == PELLORA_OK);
  CHECK(set_insecure(control, 1) == PELLORA_OK);
  CHECK(set_header_timeout(control, 5000) == PELLORA_OK);
  int32_t timeout = 0;
  CHECK(get_header_timeout(control, &timeout) == PELLORA_OK && timeout == 5000);

  unsigned short port = serve_once(kHeader, sizeof kHeader - 1, kBody, sizeof kBody - 1, 0);
  CHECK(port != 0);
  char url[64];
  snprintf(url, sizeof url, "https://127.0.0.1:%u/live", port);
  CHECK(connect_to(control, url, 0, NULL) == PELLORA_OK);
  for (int i = 0; i < 100 && r.errors == 0; ++i) loop_run_for(50);
  CHECK(r.errors == 1 && r.last_error_type == PELLORA_TERR_WSOCK && r.last_error_code == 10021);
  CHECK(r.headers == 0);
  int connected = 1, ended = 1;
  CHECK(is_connected(control, &connected) == PELLORA_OK && !connected);
  CHECK(stream_ended(control, &ended) == PELLORA_OK && !ended);
  serve_once_join();
  CHECK(set_insecure(control, 0) == PELLORA_OK);
  CHECK(set_events(control, NULL) == PELLORA_OK);
}

/* The user in front of the About window: answers No to the forum, Yes to the
 * group, then closes. */
struct about_user {
  int questions;
  int opened;
  char opened_address[256];
  char group_address[256];
  char caption[128];
};

static int answer(void* user, const char* text, int style, const char* title) {
  struct about_user* u = user;
  (void)text, (void)title;
  CHECK(style == 68);
  return ++u->questions == 1 ? PELLORA_ANSWER_NO : PELLORA_ANSWER_YES;
}

static int open_url(void* user, const char* address) {
  struct about_user* u = user;
  u->opened++;
  snprintf(u->opened_address, sizeof u->opened_address, "%s", address);
  return 1;
}

static void use_about(void* user, pellora_about_window* window) {
  struct about_user* u = user;
  about_text(window, PELLORA_ABOUT_FORM, u->caption, sizeof u->caption, NULL);
  about_link(window, PELLORA_ABOUT_LBLGROUP, u->group_address, sizeof u->group_address, NULL);
  CHECK(about_click(window, PELLORA_ABOUT_LBLFORUM) == PELLORA_OK);
  CHECK(about_click(window, PELLORA_ABOUT_LBLGROUP) == PELLORA_OK);
  CHECK(about_click(window, PELLORA_ABOUT_CMDCLOSE) == PELLORA_OK);
  int open = 1;
  CHECK(about_is_open(window, &open) == PELLORA_OK && !open);
}

static void show_about(pellora_torvane* control) {
  struct about_user u;
  memset(&u, 0, sizeof u);
  pellora_dialogs dialogs = {&u, answer, use_about, open_url};
  CHECK(set_dialogs(&dialogs) == PELLORA_OK);
  int present = 1;
  CHECK(about(control, &present) == PELLORA_OK && present == 0);
  CHECK(strncmp(u.caption, "About Pellora ", 14) == 0);
  CHECK(u.questions == 2);
  CHECK(u.opened == 1 && strcmp(u.opened_address, u.group_address) == 0);
  CHECK(set_dialogs(NULL) == PELLORA_OK);
}

int main(void) {
  entry_points server;
  if (load_entry_points(PELLORA_LIBRARY, &server) != 0) return 1;
  load_api(&server);

  CHECK(server.can_unload_now() == COMPONENT_OK);
  const component_class_factory* factory = NULL;
  CHECK(server.get_class_object("00000000-0000-0000-0000-000000000000", &factory) ==
        COMPONENT_E_CLASS_NOT_AVAILABLE);
  CHECK(server.get_class_object(PELLORA_TORVANE_CLASS_ID, NULL) == COMPONENT_E_INVALID_ARGUMENT);
  CHECK(server.get_class_object(PELLORA_TORVANE_CLASS_ID, &factory) == COMPONENT_OK);
  CHECK(factory && strcmp(factory->name, "Pellora.Torvane") == 0);

  pellora_torvane* control = factory->create_instance();
  CHECK(control != NULL);
  CHECK(server.can_unload_now() == COMPONENT_FALSE);
  record_from_a_loopback_station(control);
  https_never_falls_back_to_plain_text(control);
  show_about(control);
  factory->destroy_instance(control);
  CHECK(server.can_unload_now() == COMPONENT_OK);

  check_registration(&server, PELLORA_TORVANE_CLASS_ID);

  dlclose(server.library);
  return c_host_summary("c_host_pellora");
}
