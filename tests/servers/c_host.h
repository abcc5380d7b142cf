// SPDX-License-Identifier: MIT
/* Small helpers of the C test hosts: checks that count, loading a library's
 * entry points, and a one-shot loopback server. */
#ifndef PELLORA_TESTS_C_HOST_H
#define PELLORA_TESTS_C_HOST_H

#include <stddef.h>

#include "component_server.h"

extern int c_host_checks;
extern int c_host_failures;

#define CHECK(condition)                                                         \
  do {                                                                           \
    ++c_host_checks;                                                             \
    if (!(condition)) {                                                          \
      ++c_host_failures;                                                         \
      fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
    }                                                                            \
  } while (0)

/* The entry points of a dlopened component server. */
typedef struct entry_points {
  void* library;
  component_get_class_object_fn get_class_object;
  component_can_unload_now_fn can_unload_now;
  component_register_fn register_server;
  component_register_fn unregister_server;
} entry_points;

/* Opens `path` and finds its four entry points; 0 on success. */
int load_entry_points(const char* path, entry_points* out);
/* The C API function `name` of a loaded library (fails the run when missing). */
void* api(const entry_points* server, const char* name);

/* Registers the server in a fresh data folder, checks that the record of
 * `class_id` leads back to the loaded library, unregisters it and checks that
 * the record is gone. */
void check_registration(const entry_points* server, const char* class_id);

/* Serves `reply` (then the pause, then `rest`) to the first client of a
 * loopback port, in a thread of its own; returns the port, 0 on failure. */
unsigned short serve_once(const char* reply, size_t reply_length, const char* rest,
                          size_t rest_length, unsigned pause_ms);
/* Waits for the server thread to end. */
void serve_once_join(void);

/* Prints the closing line and returns the exit status. */
int c_host_summary(const char* name);

#endif
