// SPDX-License-Identifier: MIT
/* Prints the title and bit rate of an MP3 file and, given a new title, writes it
 * into the file's tags: the tag store's C API.
 *   retag FILE [NEW-TITLE] */
#include <stdio.h>

#include "pellora_tags.h"

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  pellora_tags* tags;
  int os_error = 0;
  int result = pellora_tags_open(argv[1], &tags, &os_error);
  if (result != PELLORA_OK) {
    fprintf(stderr, "%s: %s (errno %d)\n", argv[1], pellora_tags_error_text(result), os_error);
    return 1;
  }
  char title[256];
  double bit_rate = 0;
  pellora_tags_get_text(tags, "Title", title, sizeof title, NULL);
  pellora_tags_get_double(tags, "BitRate", &bit_rate);
  printf("title: %s\nbit rate: %.0f\n", title, bit_rate);
  if (argc > 2) {
    result = pellora_tags_set_text(tags, "Title", argv[2]);
    if (result == PELLORA_OK) result = pellora_tags_update(tags);
    if (result != PELLORA_OK) fprintf(stderr, "%s: %s\n", argv[1], pellora_tags_error_text(result));
  }
  pellora_tags_destroy(tags);
  return result == PELLORA_OK ? 0 : 1;
}
