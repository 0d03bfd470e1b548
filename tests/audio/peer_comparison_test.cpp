// Our decoder against the ffmpeg command-line decoder on the same streams. Ours is floating
// point and not bit-exact, so the figures measure differences of arithmetic; a wrong filter,
// constant or sign shows up as a collapse of the segmental SNR.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <random>

#include "audio/frame_packer.h"
#include "audio/frame_unpacker.h"
#include "audio/speech_comparison.h"

namespace {

namespace sc = speech_comparison;
using test_frames::ActiveCodes;

constexpr double kRequiredSegmentalSnr = 15.0;

bool HavePeerTools() {
  return sc::HaveTool("ffmpeg") && sc::HaveTool("espeak-ng");
}

// Splits a stream into its frames by their first bytes.
std::vector<std::vector<uint8_t>> SplitFrames(const std::vector<uint8_t>& stream) {
  std::vector<std::vector<uint8_t>> frames;
  for (size_t at = 0; at < stream.size();) {
    const size_t length = static_cast<size_t>(CodedFrameLength(stream[at]));
    frames.emplace_back(stream.begin() + at, stream.begin() + std::min(at + length, stream.size()));
    at += length;
  }
  return frames;
}

// The raw codes of an unpacked 6.3 kbit/s speech frame, for re-packing.
ActiveCodes CodesOf(const std::vector<uint8_t>& frame) {
  uint8_t buffer[kMaxCodedFrameBytes] = {};
  std::memcpy(buffer, frame.data(), frame.size());
  FrameType type = FrameType::Active;
  Rate rate = Rate::Rate63;
  const FrameParams p = UnpackFrame(buffer, false, type, rate);
  ActiveCodes c;
  c.lspIndex = static_cast<uint32_t>(p.lspIndex);
  for (int h = 0; h < 2; ++h) c.lagCode[h] = static_cast<uint32_t>(p.openLoopLag[h] - 18);
  c.lagDelta[0] = static_cast<uint32_t>(p.sub[1].lagDelta);
  c.lagDelta[1] = static_cast<uint32_t>(p.sub[3].lagDelta);
  for (int s = 0; s < 4; ++s) {
    c.gainWord[s] = static_cast<uint32_t>(p.sub[s].gainIndex * 24 + p.sub[s].amplitudeIndex);
    c.grid[s] = static_cast<uint32_t>(p.sub[s].grid);
  }
  return c;
}

bool IsSpeech(const std::vector<uint8_t>& frame) { return (frame[0] & 3) == 0; }

void Report(const char* name, const sc::Agreement& a, size_t samples) {
  std::printf("[ figures  ] %s: %zu samples, SNR %.2f dB, segmental SNR %.2f dB (%d segments)\n",
              name, samples, a.snr, a.segmentalSnr, a.segments);
}

class PeerComparison : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HavePeerTools()) GTEST_SKIP() << "ffmpeg and espeak-ng are needed";
    directory_ = sc::ScratchDirectory();
  }

  std::vector<uint8_t> Speech(const std::string& name, const std::string& voice,
                              const std::string& text) {
    std::vector<uint8_t> stream = sc::MakeSpeechStream(directory_, name, voice, text);
    EXPECT_FALSE(stream.empty()) << "could not make " << name;
    return stream;
  }

  // Decodes with both decoders, checks the length and returns the agreement.
  sc::Agreement Compare(const std::string& name, const std::vector<uint8_t>& stream) {
    const std::vector<int16_t> reference = sc::DecodeWithFfmpeg(directory_, name, stream);
    const std::vector<int16_t> ours = sc::DecodeWithClipnote(stream);
    EXPECT_FALSE(reference.empty());
    EXPECT_EQ(ours.size(), reference.size()) << name;
    const sc::Agreement agreement = sc::Compare(reference, ours);
    Report(name.c_str(), agreement, ours.size());
    RecordProperty(name + "_snr", std::to_string(agreement.snr));
    RecordProperty(name + "_segmental_snr", std::to_string(agreement.segmentalSnr));
    return agreement;
  }

  std::string directory_;
};

TEST_F(PeerComparison, EspeakSpeechAt63) {
  const struct {
    const char* name;
    const char* voice;
    const char* text;
  } clips[] = {
      {"speech_en", "en", "The quick brown fox jumps over the lazy dog. Seven silver spoons."},
      {"speech_en_f", "en+f3", "Please call me back when you get this message, it is about Friday."},
      {"speech_de", "de", "Guten Morgen, heute ist ein schoener Tag fuer einen Spaziergang."},
  };
  for (const auto& clip : clips) {
    const std::vector<uint8_t> stream = Speech(clip.name, clip.voice, clip.text);
    if (stream.empty()) continue;
    const sc::Agreement a = Compare(clip.name, stream);
    EXPECT_GE(a.segmentalSnr, kRequiredSegmentalSnr) << clip.name;
  }
}

TEST_F(PeerComparison, FiveThreeFramesWithRandomPulses) {
  // The speech's envelope, lags and gains, re-coded at 5.3 kbit/s with random pulses, mixed
  // with 6.3 kbit/s frames so that the rate switches too.
  const std::vector<uint8_t> speech = Speech("rate53_source", "en", "Testing the lower rate of the coder.");
  std::mt19937 random(53);
  std::vector<uint8_t> stream;
  int index = 0;
  for (const std::vector<uint8_t>& frame : SplitFrames(speech)) {
    if (!IsSpeech(frame) || (index++ / 20) % 3 == 2) {
      test_frames::Append(stream, frame);
      continue;
    }
    ActiveCodes c = CodesOf(frame);
    const ActiveCodes pulses = test_frames::RandomActiveCodes(random, Rate::Rate53);
    for (int s = 0; s < 4; ++s) {
      c.positionLow[s] = pulses.positionLow[s];
      c.signs[s] = pulses.signs[s];
    }
    test_frames::Append(stream, test_frames::PackActive(c, Rate::Rate53));
  }
  const sc::Agreement a = Compare("rate53", stream);
  EXPECT_GE(a.segmentalSnr, kRequiredSegmentalSnr);
}

TEST_F(PeerComparison, SilenceDescriptorsAndUntransmittedFrames) {
  // Talk spurts separated by silences of both kinds: SID then untransmitted frames, and
  // untransmitted frames straight after speech (gain estimated from the speech), with SID
  // updates of a different level inside the silence.
  const std::vector<uint8_t> speech = Speech("silence_source", "en", "One. Two. Three. Four. Five.");
  const std::vector<std::vector<uint8_t>> frames = SplitFrames(speech);
  std::vector<uint8_t> stream;
  for (size_t i = 0; i < frames.size(); ++i) {
    test_frames::Append(stream, frames[i]);
    if (i % 25 != 24 || !IsSpeech(frames[i])) continue;
    const uint32_t lspIndex = CodesOf(frames[i]).lspIndex;
    if ((i / 25) % 2 == 0) {
      test_frames::Append(stream, test_frames::PackSid(lspIndex, 20));
    }
    for (int n = 0; n < 8; ++n) test_frames::Append(stream, test_frames::PackUntransmitted());
    test_frames::Append(stream, test_frames::PackSid(lspIndex, 30));
    for (int n = 0; n < 6; ++n) test_frames::Append(stream, test_frames::PackUntransmitted());
  }
  // The comfort noise itself differs from ffmpeg's: after a reset ffmpeg glides the noise gain
  // up from zero where the first silence frame takes its gain at once here; for untransmitted
  // frames straight after speech it settles at a far lower level than the quantised energy of
  // the speech's last 120 excitation samples used here; and in some pulse pairs it takes the
  // other root of the pulse-amplitude equation, which flips their sign. The speech around the
  // silences must still agree.
  const sc::Agreement a = Compare("silence", stream);
  EXPECT_GE(a.segmentalSnr, 12.0);
}

TEST_F(PeerComparison, ErasedFrames) {
  // Invalid lag codes and gain indices at their limits, single and in runs of up to four.
  const std::vector<uint8_t> speech = Speech("erased_source", "en", "Some frames of this sentence are lost on the way.");
  const std::vector<std::vector<uint8_t>> frames = SplitFrames(speech);
  std::vector<uint8_t> stream;
  for (size_t i = 0; i < frames.size(); ++i) {
    const size_t phase = i % 30;
    const bool erase = phase == 10 || (phase >= 20 && phase < 20 + 1 + (i / 30) % 4);
    if (!erase || !IsSpeech(frames[i])) {
      test_frames::Append(stream, frames[i]);
      continue;
    }
    ActiveCodes c = CodesOf(frames[i]);
    if (i % 2 == 0) {
      c.lagCode[i % 4 == 0 ? 0 : 1] = 124 + static_cast<uint32_t>(i % 4);
    } else {
      c.lagCode[0] = 60;
      c.gainWord[1] = 170 * 24;  // at the limit of the 170-entry table
    }
    test_frames::Append(stream, test_frames::PackActive(c, Rate::Rate63));
  }
  const sc::Agreement a = Compare("erased", stream);
  EXPECT_GE(a.segmentalSnr, kRequiredSegmentalSnr);
}

}  // namespace
