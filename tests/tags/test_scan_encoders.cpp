// SPDX-License-Identifier: MIT
// Files made by a real encoder (lame): the scan must report what the encoder
// wrote, and playing times must agree with ffprobe's.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "tags/id3.h"
#include "tests/support/process.h"

namespace pellora::tags {
namespace {

namespace fs = std::filesystem;
using testing_support::RunCommand;

struct EncodedCase {
  const char* name;
  const char* lame_options;
  int version, layer, sampling_rate, channel_mode;
  bool vbr_header;  // a Xing or Info header is expected
  bool is_vbr;
  double constant_bit_rate;  // 0 for VBR
};

void PrintTo(const EncodedCase& c, std::ostream* os) { *os << c.name; }

// ffprobe's view of a file: key=value pairs of its stream and format entries.
std::map<std::string, std::string> Probe(const fs::path& file) {
  const auto result = RunCommand("ffprobe -v error -count_frames -show_entries "
                                 "stream=nb_read_frames:format=duration,bit_rate -of default=nw=1 '" +
                                 file.string() + "'");
  std::map<std::string, std::string> values;
  std::istringstream lines(result.output);
  for (std::string line; std::getline(lines, line);)
    if (const auto eq = line.find('='); eq != std::string::npos) values[line.substr(0, eq)] = line.substr(eq + 1);
  return values;
}

class EncoderOutput : public ::testing::TestWithParam<EncodedCase> {
 protected:
  static void SetUpTestSuite() {
    dir_ = fs::temp_directory_path() / ("pellora-lame-" + std::to_string(::getpid()));
    fs::create_directories(dir_);
    const auto made = RunCommand("ffmpeg -hide_banner -loglevel error -y -f lavfi -i "
                                 "'sine=frequency=440:duration=3' -ac 2 -ar 44100 '" +
                                 (dir_ / "tone.wav").string() + "' 2>&1");
    ASSERT_EQ(made.status, 0) << made.output;
  }
  static void TearDownTestSuite() { fs::remove_all(dir_); }

  fs::path Encode(const EncodedCase& c) {
    const fs::path mp3 = dir_ / (std::string(c.name) + ".mp3");
    const auto result = RunCommand(std::string("lame --quiet ") + c.lame_options + " '" +
                                   (dir_ / "tone.wav").string() + "' '" + mp3.string() + "' 2>&1");
    EXPECT_EQ(result.status, 0) << result.output;
    return mp3;
  }

  static inline fs::path dir_;
};

TEST_P(EncoderOutput, AgreesWithTheEncoderAndFfprobe) {
  const EncodedCase& c = GetParam();
  const fs::path mp3 = Encode(c);
  clsID3 id3;
  id3.FileName(mp3.u16string());

  EXPECT_EQ(id3.MPEGVersion(), c.version);
  EXPECT_EQ(id3.Layer(), c.layer);
  EXPECT_EQ(id3.SamplingRateFrequency(), c.sampling_rate);
  EXPECT_EQ(id3.ChannelMode(), c.channel_mode);
  EXPECT_EQ(id3.IsVbr(), c.is_vbr);
  if (c.constant_bit_rate != 0) {
    EXPECT_EQ(id3.BitRate(), c.constant_bit_rate);
  }

  const auto probe = Probe(mp3);
  ASSERT_TRUE(probe.count("duration") && probe.count("nb_read_frames") && probe.count("bit_rate"));
  const double ffprobe_duration = std::stod(probe.at("duration"));
  const double frame_duration = double(id3.FrameSamples()) / id3.SamplingRateFrequency();
  if (c.vbr_header) {
    // The header counts the audio frames: ffprobe reads them all (the last may be
    // dropped as padding).
    EXPECT_NEAR(id3.VbrFrames(), std::stoi(probe.at("nb_read_frames")), 1);
    EXPECT_EQ(id3.VbrBytes(), std::int64_t(fs::file_size(mp3)));  // lame counts the whole stream
  } else {
    EXPECT_EQ(id3.VbrFrames(), 0);
  }
  // A variable bit rate's time comes from the frame count, as ffprobe's does; a
  // constant one from the audio size, which still holds an Info frame.
  EXPECT_NEAR(id3.length(), ffprobe_duration, c.is_vbr ? 1e-5 : frame_duration);
  if (c.is_vbr) {
    // Average bit rate: bytes over time, as ffprobe computes it.
    EXPECT_NEAR(id3.BitRate(), std::stod(probe.at("bit_rate")), id3.BitRate() * 0.001);
  }
}

INSTANTIATE_TEST_SUITE_P(Lame, EncoderOutput, ::testing::Values(
    EncodedCase{"Cbr128", "-b 128 -t", 2, 1, 44100, 1, false, false, 128000},
    EncodedCase{"Cbr128WithInfo", "-b 128", 2, 1, 44100, 1, true, false, 128000},
    EncodedCase{"VbrWithXing", "-V 2", 2, 1, 44100, 1, true, true, 0},
    EncodedCase{"Mpeg2Vbr22050", "-V 5 --resample 22.05", 3, 1, 22050, 1, true, true, 0},
    EncodedCase{"Mpeg2Cbr22050Stereo", "-m s -b 32 --resample 22.05 -t", 3, 1, 22050, 0, false, false, 32000},
    EncodedCase{"MonoCbr64", "-m m -b 64 -t", 2, 1, 44100, 3, false, false, 64000},
    EncodedCase{"MonoVbr", "-m m -V 4", 2, 1, 44100, 3, true, true, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(EncoderOutput, TaggedFileStartsItsAudioAfterTheTag) {
  const fs::path mp3 = Encode({"Tagged", "-b 128 --add-id3v2 --tt Skyline --ta Nobody --tl Demo --ty 2024", 0, 0,
                               0, 0, false, false, 0});
  clsID3 id3;
  id3.FileName(mp3.u16string());
  EXPECT_TRUE(id3.ID3v2Exists());
  EXPECT_TRUE(id3.ID3v1Exists());
  EXPECT_EQ(id3.Title(), u"Skyline");
  EXPECT_EQ(id3.Artist(), u"Nobody");
  EXPECT_EQ(id3.Year(), u"2024");
  EXPECT_EQ(id3.VbrFrames(), std::stoi(Probe(mp3).at("nb_read_frames")));
  // The first frame is the Info frame right after the tag.
  std::string head(10, '\0');
  std::ifstream(mp3, std::ios::binary).read(head.data(), 10);
  const std::int64_t tag_size = 10 + ((head[6] & 0x7F) << 21 | (head[7] & 0x7F) << 14 | (head[8] & 0x7F) << 7 |
                                      (head[9] & 0x7F));
  EXPECT_EQ(id3.AudioStart(), tag_size + 5);
  EXPECT_EQ(id3.AudioSize(), std::int64_t(fs::file_size(mp3)) - 128 - tag_size - 4 - 1 - 120);
}

}  // namespace
}  // namespace pellora::tags
