// clipnote-decode audio: G.723.1 clips to the player's WAV image.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "audio/audio_decoder.h"
#include "audio/speech_comparison.h"
#include "audio/wav_image.h"
#include "support/test_support.h"

// The speech decoder's names.
using namespace clipnote::speech;
using support::ReadFile;
using support::Scratch;
using support::WriteFile;

namespace {

const std::string kTool = std::string(CLIPNOTE_BINARY_DIR) + "/tools/clipnote-decode/clipnote-decode";

// The command's status and what it wrote to standard error.
support::RunResult RunTool(const std::string& arguments) { return support::RunShell(kTool + " " + arguments); }

std::vector<uint8_t> HelloStream() {
  return ReadFile(std::string(CLIPNOTE_SOURCE_DIR) + "/tests/audio/data/hello_63.723");
}

// The WAV image the player would build for the frames, through the library directly.
std::vector<uint8_t> ExpectedImage(const std::vector<uint8_t>& frames, uint32_t area) {
  std::vector<uint8_t> image(kWavHeaderBytes + area);
  AudioDecoder decoder;
  EXPECT_TRUE(decoder.Create());
  decoder.Reset(Rate::Rate53);
  uint32_t offset = 0;
  const VoiceDecodeResult result = DecodeVoiceClip(
      decoder, static_cast<uint32_t>(frames.size()), frames.data(), image.data() + kWavHeaderBytes,
      area, offset);
  decoder.Release();
  WriteWavHeader(image.data(), result.pcmBytes);
  image.resize(kWavHeaderBytes + result.pcmBytes);
  return image;
}

TEST(AudioCommand, RawStreamBecomesTheWavImage) {
  const std::vector<uint8_t> frames = HelloStream();
  ASSERT_FALSE(frames.empty());
  WriteFile(Scratch("hello.723"), frames);
  const support::RunResult run = RunTool("audio --raw '" + Scratch("hello.723") + "' '" + Scratch("hello.wav") + "'");
  ASSERT_EQ(run.status, 0) << run.err;
  const std::vector<uint8_t> wav = ReadFile(Scratch("hello.wav"));
  EXPECT_EQ(wav.size(), kWavHeaderBytes + frames.size() / 24 * 480);
  EXPECT_EQ(wav, ExpectedImage(frames, static_cast<uint32_t>(frames.size()) * 480));
}

// Speech made afresh with espeak-ng and encoded by ffmpeg (voices and texts no other test
// uses), decoded by the command and by ffmpeg: the same length, and agreement well above
// what a faithful floating-point decoder needs.
TEST(AudioCommand, FreshSpeechAgreesWithFfmpeg) {
  namespace sc = speech_comparison;
  if (!support::HaveTool("ffmpeg") || !support::HaveTool("espeak-ng")) GTEST_SKIP() << "ffmpeg and espeak-ng are needed";
  const std::string directory = support::ScratchDir();
  const struct {
    const char* name;
    const char* voice;
    const char* text;
  } clips[] = {
      {"fresh_it", "it", "Ricordati di comprare il pane, il latte e due chili di mele rosse."},
      {"fresh_high", "en+f4", "A high voice counts: eleven, twelve, thirteen, and stops."},
  };
  for (const auto& clip : clips) {
    const std::vector<uint8_t> stream = sc::MakeSpeechStream(directory, clip.name, clip.voice, clip.text);
    ASSERT_FALSE(stream.empty()) << clip.name;
    const std::string wavPath = directory + "/" + clip.name + ".ours.wav";
    const support::RunResult run = RunTool("audio --raw '" + directory + "/" + clip.name + ".723' '" + wavPath + "'");
    ASSERT_EQ(run.status, 0) << run.err;
    const std::vector<uint8_t> wav = ReadFile(wavPath);
    ASSERT_GE(wav.size(), kWavHeaderBytes);
    std::vector<int16_t> ours((wav.size() - kWavHeaderBytes) / 2);
    for (size_t i = 0; i < ours.size(); ++i) {
      ours[i] = static_cast<int16_t>(wav[kWavHeaderBytes + 2 * i] | wav[kWavHeaderBytes + 2 * i + 1] << 8);
    }
    const std::vector<int16_t> reference = sc::DecodeWithFfmpeg(directory, clip.name, stream);
    EXPECT_EQ(ours.size(), reference.size()) << clip.name;
    const sc::Agreement agreement = sc::Compare(reference, ours);
    std::printf("[ figures  ] %s: %zu samples, SNR %.2f dB, segmental SNR %.2f dB\n", clip.name,
                ours.size(), agreement.snr, agreement.segmentalSnr);
    EXPECT_GE(agreement.segmentalSnr, 15.0) << clip.name;
  }
}

TEST(AudioCommand, VoiceClipUsesItsPrefixAsTheOutputBound) {
  const std::vector<uint8_t> frames = HelloStream();
  WriteFile(Scratch("hello.voice"), support::MakeVoiceClip(480, frames));  // room for two frames
  const support::RunResult run =
      RunTool("audio --voice '" + Scratch("hello.voice") + "' '" + Scratch("voice.wav") + "'");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("reserved"), std::string::npos) << run.err;
  const std::vector<uint8_t> wav = ReadFile(Scratch("voice.wav"));
  EXPECT_EQ(wav.size(), kWavHeaderBytes + 960);
  EXPECT_EQ(wav, ExpectedImage(frames, 960));
}

TEST(AudioCommand, EmptyVoiceClipGivesAnEmptyWav) {
  WriteFile(Scratch("empty.voice"), {0, 0, 0, 0});
  const support::RunResult run =
      RunTool("audio '" + Scratch("empty.voice") + "' '" + Scratch("empty.wav") + "' --voice");
  ASSERT_EQ(run.status, 0) << run.err;
  const std::vector<uint8_t> wav = ReadFile(Scratch("empty.wav"));
  ASSERT_EQ(wav.size(), kWavHeaderBytes);
  EXPECT_EQ(wav[40], 0);
  EXPECT_EQ(wav[4], 36);
}

TEST(AudioCommand, UnusableInputIsRefusedWithAClearMessage) {
  support::RunResult run = RunTool("audio '" + Scratch("no-such-file.723") + "' '" + Scratch("x.wav") + "'");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("cannot open"), std::string::npos) << run.err;

  const std::string directory = support::ScratchDir();
  run = RunTool("audio '" + directory + "' '" + Scratch("x.wav") + "'");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("cannot read"), std::string::npos) << run.err;

  WriteFile(Scratch("short.voice"), {1, 2, 3});
  run = RunTool("audio --voice '" + Scratch("short.voice") + "' '" + Scratch("x.wav") + "'");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("shorter than its 4-byte length prefix"), std::string::npos) << run.err;

  WriteFile(Scratch("huge.voice"), {0xFF, 0xFF, 0xFF, 0xFF, 0x03});
  run = RunTool("audio --voice '" + Scratch("huge.voice") + "' '" + Scratch("x.wav") + "'");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("too large"), std::string::npos) << run.err;

  // Prefixes the player cannot reserve (an image of 2 GiB or more, up to the largest that
  // does not wrap) are refused before anything is reserved.
  for (const std::vector<uint8_t>& prefix :
       {std::vector<uint8_t>{0xF4, 0xFD, 0xFF, 0x7F}, std::vector<uint8_t>{0xF3, 0xFD, 0xFF, 0xFF}}) {
    std::vector<uint8_t> clip = prefix;
    clip.push_back(0x03);
    WriteFile(Scratch("unreservable.voice"), clip);
    run = RunTool("audio --voice '" + Scratch("unreservable.voice") + "' '" + Scratch("x.wav") + "'");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("cannot reserve 2 GiB"), std::string::npos) << run.err;
  }

  run = RunTool("audio --raw '" + Scratch("short.voice") + "' '" + Scratch("no-such-dir/x.wav") + "'");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("cannot write"), std::string::npos) << run.err;

  EXPECT_EQ(RunTool("audio").status, 2);
  EXPECT_EQ(RunTool("audio a.723 b.wav --loud").status, 2);
}

}  // namespace
