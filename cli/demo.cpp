// SPDX-License-Identifier: MIT
// `pellora demo`: the built-in station and a tagged recording of it, in one
// process, so that Pellora can be seen at work without internet.
#include <unistd.h>

#include <cstdio>
#include <memory>

#include "cli/commands.h"
#include "cli/record_session.h"
#include "cli/station.h"
#include "cli/tags_command.h"
#include "hosting/event_loop.h"
#include "tags/id3.h"
#include "text/text.h"

namespace pellora::cli {
namespace {

struct DemoCommand {
  double seconds = 10;
  std::string output = "demo.mp3";
};

int RunDemo(const DemoCommand& command) {
  hosting::EventLoop loop;
  DemoStation station(loop.context(), StationOptions{});
  std::printf("Demo station on %s (128 kbit/s MPEG audio, a new title every 4 s)\n", station.url().c_str());
  std::printf("Recording %g s with tags into %s ...\n", command.seconds, command.output.c_str());
  std::fflush(stdout);

  RecordingSettings settings;
  settings.output_file = command.output;
  settings.tag = true;
  settings.comments = "Recorded by pellora demo";
  settings.encoded_by = std::string("Pellora ") + PELLORA_VERSION;
  settings.languages = "eng";
  SessionOptions options;
  options.duration = std::chrono::milliseconds(static_cast<long long>(command.seconds * 1000));
  options.status_line = ::isatty(STDERR_FILENO) == 1;
  RecordSession session(loop, {station.url()}, settings, options);
  const int status = session.Run("pellora demo");
  station.Stop();
  if (status != 0) return status;

  tags::clsID3 id3;
  id3.FileName(text::StreamTextToUtf16(command.output));
  std::printf("\n$ pellora tags %s\n", command.output.c_str());
  std::fflush(stdout);
  PrintTagsTable(id3);
  return 0;
}

}  // namespace

void RegisterDemo(CLI::App& app, CommandList& commands) {
  auto command = std::make_shared<DemoCommand>();
  auto* sub = app.add_subcommand("demo", "Record the built-in demo station with tags, then show the tags");
  sub->add_option("--seconds", command->seconds, "seconds to record")
      ->capture_default_str()
      ->check(CLI::PositiveNumber);
  sub->add_option("-o,--output", command->output, "the recording")->capture_default_str();
  commands.push_back({sub, [command] { return RunDemo(*command); }});
}

}  // namespace pellora::cli
