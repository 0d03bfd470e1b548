// clipnote-decode export: the default message (its two clips in a message executable
// made here) to .mp4 and .webm, checked with ffprobe and decoded back with ffmpeg.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "audio/speech_comparison.h"
#include "message/pe_builder.h"
#include "support/test_support.h"

namespace {

namespace sc = speech_comparison;
using support::ReadFile;
using support::RunShell;
using support::WriteFile;

const std::string kTool = std::string(CLIPNOTE_BINARY_DIR) + "/tools/clipnote-decode/clipnote-decode";
const std::string kResources = std::string(CLIPNOTE_SOURCE_DIR) + "/resources/";
constexpr size_t kPictureBytes = 176 * 144 * 3 / 2;

std::string Output(const std::string& command) { return RunShell(command).Output(); }

std::vector<double> Numbers(const std::string& text) {
  std::vector<double> numbers;
  const char* p = text.c_str();
  while (*p != '\0') {
    char* end;
    const double value = std::strtod(p, &end);
    if (end == p) {
      ++p;
    } else {
      numbers.push_back(value);
      p = end;
    }
  }
  return numbers;
}

double Psnr(const uint8_t* a, const uint8_t* b, size_t n) {
  double sum = 0;
  for (size_t i = 0; i < n; ++i) sum += (a[i] - b[i]) * (a[i] - b[i]);
  return sum == 0 ? 99 : 10 * std::log10(255.0 * 255.0 * n / sum);
}

std::vector<int16_t> Samples(const std::vector<uint8_t>& bytes, size_t skip) {
  std::vector<int16_t> samples;
  for (size_t i = skip; i + 1 < bytes.size(); i += 2) samples.push_back(static_cast<int16_t>(bytes[i] | bytes[i + 1] << 8));
  return samples;
}

TEST(ExportCommand, DefaultMessageKeepsPictureTimesAndSpeech) {
  if (!support::HaveTool("ffmpeg") || !support::HaveTool("ffprobe")) GTEST_SKIP() << "ffmpeg and ffprobe are needed";
  if (Output(kTool + " export").find("no ffmpeg libraries") != std::string::npos) GTEST_SKIP() << "built without libav";
  const std::string dir = support::ScratchDir();
  const std::vector<uint8_t> movie = ReadFile(kResources + "message.263");
  WriteFile(dir + "/message.exe",
                pe_builder::Build({{263, "MOVIE", 0x409, movie}, {723, "VOICE", 0x409, ReadFile(kResources + "message.723")}})
                    .bytes);

  // What our decoders give: every picture with its tick, and the speech.
  ASSERT_EQ(RunShell(kTool + " video '" + dir + "/message.exe' '" + dir + "/ours.yuv' --verbose > '" + dir + "/ticks.txt'").status, 0);
  ASSERT_EQ(RunShell(kTool + " audio '" + dir + "/message.exe' '" + dir + "/ours.wav'").status, 0);
  const std::vector<uint8_t> ours = ReadFile(dir + "/ours.yuv");
  const std::vector<int16_t> speech = Samples(ReadFile(dir + "/ours.wav"), 44);
  std::vector<double> ticks;
  {
    const std::vector<uint8_t> lines = ReadFile(dir + "/ticks.txt");
    int32_t total = 0, previous = 0;
    const std::vector<double> fields = Numbers(std::string(lines.begin(), lines.end()));
    // "picture N tr T ... result R": the temporal references, wrapping at 256.
    for (size_t i = 0; i + 2 < fields.size() && ticks.size() < ours.size() / kPictureBytes; i += 3) {
      const int32_t tr = static_cast<int32_t>(fields[i + 1]);
      if (!ticks.empty()) total += (tr - previous + 256) % 256;
      previous = tr;
      ticks.push_back(total / 30.0);
    }
  }
  ASSERT_EQ(ticks.size(), ours.size() / kPictureBytes);
  const double videoSeconds = ticks.back(), speechSeconds = speech.size() / 8000.0;

  for (const char* extension : {".mp4", ".webm"}) {
    SCOPED_TRACE(extension);
    const std::string file = dir + "/message" + extension;
    std::filesystem::remove(file);
    ASSERT_EQ(RunShell(kTool + " export '" + dir + "/message.exe' '" + file + "'").status, 0);
    EXPECT_NE(RunShell(kTool + " export '" + dir + "/message.exe' '" + file + "'").status, 0) << "overwrote";
    const double timeBase = std::string(extension) == ".webm" ? 0.001 : 1.0 / 15360;

    // Every picture at its tick time; both streams as long as the message's tracks.
    const std::vector<double> pts = Numbers(Output(
        "ffprobe -v error -select_streams v -show_entries packet=pts_time -of csv=p=0 '" + file + "' | sort -n"));
    ASSERT_EQ(pts.size(), ticks.size());
    for (size_t i = 0; i < pts.size(); ++i) ASSERT_NEAR(pts[i], ticks[i], timeBase) << "picture " << i;
    const std::vector<double> durations = Numbers(Output(
        "ffprobe -v error -show_entries format=duration:stream=codec_type -of csv=p=0 '" + file +
        "' >/dev/null; ffprobe -v error -show_entries stream=duration:stream_tags=DURATION -of csv=p=0 '" + file + "'"));
    ASSERT_GE(durations.size(), 2u);
    // Tag durations read as h:m:s; the last number of each line is the seconds.
    const double videoDuration = durations.size() == 2 ? durations[0] : durations[2];
    const double audioDuration = durations.size() == 2 ? durations[1] : durations[5];
    EXPECT_NEAR(videoDuration, videoSeconds, 0.27) << "one picture's spacing at most";
    EXPECT_NEAR(audioDuration, speechSeconds, 0.03) << "one speech frame";

    // Decoded back: the pictures at their times, and the speech from sample 0.
    ASSERT_TRUE(RunShell("ffmpeg -v error -y -i '" + file + "' -map 0:v -fps_mode passthrough -f rawvideo -pix_fmt yuv420p '" +
                         dir + "/back.yuv' -map 0:a -ac 1 -ar 8000 -f s16le '" + dir + "/back.pcm'").status == 0);
    const std::vector<uint8_t> back = ReadFile(dir + "/back.yuv");
    ASSERT_EQ(back.size(), ours.size());
    double worst = 99;
    for (size_t i = 0; i < ticks.size(); ++i) {
      worst = std::min(worst, Psnr(&back[i * kPictureBytes], &ours[i * kPictureBytes], 176 * 144));
    }
    const std::vector<int16_t> backSpeech = Samples(ReadFile(dir + "/back.pcm"), 0);
    // ffmpeg may keep the padding of the last AAC frame (1024 samples) that the file marks as past the end.
    EXPECT_GE(backSpeech.size() + 240, speech.size());
    EXPECT_LE(backSpeech.size(), speech.size() + 1024);
    const sc::Agreement agreement = sc::Compare(speech, backSpeech);
    std::printf("[ figures  ] %s: worst picture PSNR %.2f dB, speech segmental SNR %.2f dB\n", extension, worst,
                agreement.segmentalSnr);
    EXPECT_GE(worst, 35.0);
    EXPECT_GE(agreement.segmentalSnr, 15.0);
  }
}

// A message with one track gives a file with that stream alone; what cannot be exported
// is refused with the reason (1), a command line it does not take with 2.
TEST(ExportCommand, ATrackAloneIsExportedAloneAndTheRestRefused) {
  if (!support::HaveTool("ffprobe")) GTEST_SKIP() << "ffprobe is needed";
  if (Output(kTool + " export").find("no ffmpeg libraries") != std::string::npos) GTEST_SKIP() << "built without libav";
  const std::string dir = support::ScratchDir();
  const std::vector<uint8_t> movie = ReadFile(std::string(CLIPNOTE_SOURCE_DIR) + "/tests/video_recon/data/small_qcif.263");
  const std::vector<uint8_t> frames = ReadFile(std::string(CLIPNOTE_SOURCE_DIR) + "/tests/audio/data/hello_63.723");
  std::vector<uint8_t> voice = {0x80, 0x7F, 0, 0};  // 32640 bytes: every frame
  voice.insert(voice.end(), frames.begin(), frames.end());
  const std::vector<uint8_t> noFrames = {0, 0, 0, 0};
  const struct {
    const char* what;
    std::string input;  // written to dir
    std::vector<uint8_t> bytes;
    std::string arguments;  // after the input; "OUT" stands for dir
    int status;
    std::string said;  // the streams ffprobe lists, or what the tool says
  } rows[] = {
      {"speech alone", "speech.exe", pe_builder::Build({{263, "MOVIE", 0x409, {}}, {723, "VOICE", 0x409, voice}}).bytes,
       "OUT/speech.mp4", 0, "audio\n"},
      {"pictures alone", "pictures.exe",
       pe_builder::Build({{263, "MOVIE", 0x409, movie}, {723, "VOICE", 0x409, noFrames}}).bytes, "OUT/pictures.webm", 0,
       "video\n"},
      {"a raw stream named otherwise", "speech.bin", frames, "OUT/raw.mkv --raw", 0, "audio\n"},
      {"neither", "empty.exe", pe_builder::Build({{263, "MOVIE", 0x409, {}}, {723, "VOICE", 0x409, noFrames}}).bytes,
       "OUT/empty.mp4", 1, "the message holds neither pictures nor speech"},
      {"no picture the player reads", "cif4.263", {0, 0, 0x80, 2, 0x1C, 0, 0, 0}, "OUT/cif4.mp4", 1,
       "the video is not a baseline H.263 QCIF or CIF clip"},
      {"another container", "pictures.263", movie, "OUT/pictures.avi", 2, "the output must end in .mp4, .webm or .mkv"},
      {"an unknown option", "pictures.263", movie, "OUT/pictures.mp4 --fast", 2, "unknown option --fast"},
      {"no output", "pictures.263", movie, "", 2, "expects more: MESSAGE OUT.mp4|OUT.webm|OUT.mkv\nTry"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    WriteFile(dir + "/" + row.input, row.bytes);
    std::string arguments = row.arguments;
    if (const size_t at = arguments.find("OUT"); at != std::string::npos) arguments.replace(at, 3, dir);
    const std::string out = arguments.substr(0, arguments.find(' '));
    const support::RunResult run = RunShell(kTool + " export '" + dir + "/" + row.input + "' " + arguments);
    const std::string said = run.Output();
    EXPECT_EQ(run.status, row.status) << said;
    if (row.status != 0) {
      EXPECT_NE(said.find(row.said), std::string::npos) << said;
      EXPECT_FALSE(!out.empty() && std::filesystem::exists(out)) << "a refused export left " << out;
      continue;
    }
    EXPECT_EQ(Output("ffprobe -v error -show_entries stream=codec_type -of csv=p=0 '" + out + "'"), row.said);
  }
}

}  // namespace
