// clipnote-decode export: the default message (its two clips in a message executable
// made here) to .mp4 and .webm, checked with ffprobe and decoded back with ffmpeg.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "audio/speech_comparison.h"
#include "message/pe_builder.h"

namespace {

namespace sc = speech_comparison;

const std::string kTool = std::string(CLIPNOTE_BINARY_DIR) + "/tools/clipnote-decode/clipnote-decode";
const std::string kResources = std::string(CLIPNOTE_SOURCE_DIR) + "/resources/";
constexpr size_t kPictureBytes = 176 * 144 * 3 / 2;

std::string Output(const std::string& command) {
  std::FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  std::string output;
  char buffer[4096];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, n);
  pclose(pipe);
  return output;
}

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
  if (!sc::HaveTool("ffmpeg") || !sc::HaveTool("ffprobe")) GTEST_SKIP() << "ffmpeg and ffprobe are needed";
  if (Output(kTool + " export").find("no ffmpeg libraries") != std::string::npos) GTEST_SKIP() << "built without libav";
  const std::string dir = sc::ScratchDirectory() + "/export";
  std::filesystem::create_directories(dir);
  const std::vector<uint8_t> movie = sc::ReadFile(kResources + "message.263");
  sc::WriteFile(dir + "/message.exe",
                pe_builder::Build({{263, "MOVIE", 0x409, movie}, {723, "VOICE", 0x409, sc::ReadFile(kResources + "message.723")}})
                    .bytes);

  // What our decoders give: every picture with its tick, and the speech.
  ASSERT_TRUE(sc::Run(kTool + " video '" + dir + "/message.exe' '" + dir + "/ours.yuv' --verbose > '" + dir + "/ticks.txt'"));
  ASSERT_TRUE(sc::Run(kTool + " audio '" + dir + "/message.exe' '" + dir + "/ours.wav'"));
  const std::vector<uint8_t> ours = sc::ReadFile(dir + "/ours.yuv");
  const std::vector<int16_t> speech = Samples(sc::ReadFile(dir + "/ours.wav"), 44);
  std::vector<double> ticks;
  {
    const std::vector<uint8_t> lines = sc::ReadFile(dir + "/ticks.txt");
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
    ASSERT_TRUE(sc::Run(kTool + " export '" + dir + "/message.exe' '" + file + "' > /dev/null"));
    EXPECT_FALSE(sc::Run(kTool + " export '" + dir + "/message.exe' '" + file + "' 2> /dev/null")) << "overwrote";
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
    ASSERT_TRUE(sc::Run("ffmpeg -v error -y -i '" + file + "' -map 0:v -fps_mode passthrough -f rawvideo -pix_fmt yuv420p '" +
                        dir + "/back.yuv' -map 0:a -ac 1 -ar 8000 -f s16le '" + dir + "/back.pcm'"));
    const std::vector<uint8_t> back = sc::ReadFile(dir + "/back.yuv");
    ASSERT_EQ(back.size(), ours.size());
    double worst = 99;
    for (size_t i = 0; i < ticks.size(); ++i) {
      worst = std::min(worst, Psnr(&back[i * kPictureBytes], &ours[i * kPictureBytes], 176 * 144));
    }
    const std::vector<int16_t> backSpeech = Samples(sc::ReadFile(dir + "/back.pcm"), 0);
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

}  // namespace
