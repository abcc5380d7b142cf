// SPDX-License-Identifier: MIT
// TagLib's reader of one file, the peer of `pellora tags FILE` for start-up cost:
// reads the tag and the audio properties of FILE and prints a few of them.
//
//   taglib_read_one FILE
#include <taglib/audioproperties.h>
#include <taglib/mpegfile.h>
#include <taglib/tag.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  TagLib::MPEG::File file(argv[1], true, TagLib::AudioProperties::Average);
  if (!file.isValid()) return 1;
  if (const TagLib::Tag* tag = file.tag()) std::printf("Title %s\n", tag->title().toCString(true));
  if (const TagLib::AudioProperties* audio = file.audioProperties())
    std::printf("BitRate %d\nlength %d ms\n", audio->bitrate() * 1000, audio->lengthInMilliseconds());
  return 0;
}
