// SPDX-License-Identifier: MIT
#define _POSIX_C_SOURCE 200809L
#include "c_host.h"

#include <arpa/inet.h>
#include <dlfcn.h>
#include <netinet/in.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

int c_host_checks = 0;
int c_host_failures = 0;

int load_entry_points(const char* path, entry_points* out) {
  memset(out, 0, sizeof *out);
  out->library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (!out->library) {
    fprintf(stderr, "dlopen %s: %s\n", path, dlerror());
    return -1;
  }
  /* dlsym hands out data pointers; POSIX guarantees they convert to functions. */
  *(void**)&out->get_class_object = dlsym(out->library, "DllGetClassObject");
  *(void**)&out->can_unload_now = dlsym(out->library, "DllCanUnloadNow");
  *(void**)&out->register_server = dlsym(out->library, "DllRegisterServer");
  *(void**)&out->unregister_server = dlsym(out->library, "DllUnregisterServer");
  return out->get_class_object && out->can_unload_now && out->register_server &&
                 out->unregister_server
             ? 0
             : -1;
}

void* api(const entry_points* server, const char* name) {
  void* fn = dlsym(server->library, name);
  if (!fn) {
    fprintf(stderr, "missing C API function %s\n", name);
    exit(1);
  }
  return fn;
}

void check_registration(const entry_points* server, const char* class_id) {
  char data_home[] = "/tmp/pellora-c-host-data-XXXXXX";
  CHECK(mkdtemp(data_home) != NULL);
  setenv("XDG_DATA_HOME", data_home, 1);
  CHECK(server->register_server() == COMPONENT_OK);
  char record_path[512];
  snprintf(record_path, sizeof record_path, "%s/pellora/components/%s.component", data_home,
           class_id);
  FILE* record = fopen(record_path, "r");
  CHECK(record != NULL);
  char library[512] = "";
  char line[600];
  while (record && fgets(line, sizeof line, record))
    if (strncmp(line, "library=", 8) == 0) sscanf(line + 8, "%511[^\n]", library);
  if (record) fclose(record);
  void* again = dlopen(library, RTLD_NOW | RTLD_NOLOAD);
  CHECK(again == server->library);
  if (again) dlclose(again);
  CHECK(server->unregister_server() == COMPONENT_OK);
  CHECK(access(record_path, F_OK) != 0);
  char folder[600];
  snprintf(folder, sizeof folder, "%s/pellora/components", data_home);
  rmdir(folder);
  snprintf(folder, sizeof folder, "%s/pellora", data_home);
  rmdir(folder);
  rmdir(data_home);
}

struct server_script {
  int listener;
  const char* reply;
  size_t reply_length;
  const char* rest;
  size_t rest_length;
  unsigned pause_ms;
};

static struct server_script script;
static pthread_t server_thread;

static void send_all(int fd, const char* data, size_t length) {
  while (length > 0) {
    ssize_t n = send(fd, data, length, MSG_NOSIGNAL);
    if (n <= 0) return;
    data += n;
    length -= (size_t)n;
  }
}

static void* serve(void* unused) {
  (void)unused;
  int client = accept(script.listener, NULL, NULL);
  close(script.listener);
  if (client < 0) return NULL;
  char request[4096];
  ssize_t got = recv(client, request, sizeof request, 0); /* the request, unread */
  (void)got;
  send_all(client, script.reply, script.reply_length);
  struct timespec pause = {script.pause_ms / 1000, (long)(script.pause_ms % 1000) * 1000000L};
  nanosleep(&pause, NULL);
  send_all(client, script.rest, script.rest_length);
  /* Hold the connection until the client closes it. */
  while (recv(client, request, sizeof request, 0) > 0) {
  }
  close(client);
  return NULL;
}

unsigned short serve_once(const char* reply, size_t reply_length, const char* rest,
                          size_t rest_length, unsigned pause_ms) {
  int listener = socket(AF_INET, SOCK_STREAM, 0);
  if (listener < 0) return 0;
  struct sockaddr_in address;
  memset(&address, 0, sizeof address);
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (bind(listener, (struct sockaddr*)&address, sizeof address) != 0 ||
      listen(listener, 1) != 0 ||
      getsockname(listener, (struct sockaddr*)&address, &length) != 0) {
    close(listener);
    return 0;
  }
  script = (struct server_script){listener, reply, reply_length, rest, rest_length, pause_ms};
  if (pthread_create(&server_thread, NULL, serve, NULL) != 0) {
    close(listener);
    return 0;
  }
  return ntohs(address.sin_port);
}

void serve_once_join(void) { pthread_join(server_thread, NULL); }

int c_host_summary(const char* name) {
  printf("%s: %d passed, %d failed\n", name, c_host_checks - c_host_failures, c_host_failures);
  return c_host_failures == 0 ? 0 : 1;
}
