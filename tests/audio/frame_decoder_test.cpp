// The frame decoder's state handling: concealment of lost speech frames, the hand-over to
// comfort noise, and the voicing analysis that decides how a lost frame is concealed.

#include "audio/frame_decoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "audio/audio_decoder.h"
#include "audio/constructed_streams.h"
#include "audio/decoder_state.h"
#include "audio/excitation_tables.h"
#include "audio/frame_packer.h"
#include "audio/next_random.h"
#include "audio/sid_gain.h"
#include "audio/speech_comparison.h"
#include "audio/voicing_analysis.h"
#include "support/test_support.h"

namespace clipnote::speech {

namespace {

using History = std::array<float, kHistorySamples>;

std::vector<uint8_t> HelloClip() { return support::ReadFile(CLIPNOTE_SOURCE_DIR "/tests/audio/data/hello_63.723"); }

class FrameDecoderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(decoder_.Create());
    decoder_.Reset(Rate::Rate53);
    clip_ = HelloClip();
    ASSERT_GT(clip_.size(), 200u);
  }
  void TearDown() override { decoder_.Release(); }

  // Decodes the next frame of the clip; false at its end.
  bool DecodeNext() {
    if (offset_ >= clip_.size()) return false;
    decoder_.TakeFrame(clip_.data(), static_cast<uint32_t>(clip_.size()), offset_);
    decoder_.DecodeFrame(false);
    return true;
  }

  void DecodeBytes(const std::vector<uint8_t>& frame, bool lost = false) {
    std::memcpy(decoder_.frame, frame.data(), frame.size());
    decoder_.DecodeFrame(lost);
  }

  // Decodes clip frames until one leaves a voiced (or unvoiced) analysis behind.
  void DecodeUntilVoiced(bool voiced) {
    for (int frames = 0; DecodeNext(); ++frames) {
      if (frames >= 5 && (decoderState.concealLag != 0) == voiced) return;
    }
    FAIL() << "the clip has no such frame";
  }

  AudioDecoder decoder_;
  std::vector<uint8_t> clip_;
  uint32_t offset_ = 0;
};

// The history after one voiced concealment of `history`: the last period repeated over the
// frame, at three quarters of its amplitude.
History ConcealedHistory(const History& history, int lag) {
  float e[kExcitationSamples];
  std::copy(history.begin(), history.end(), e);
  for (int n = kHistorySamples; n < kExcitationSamples; ++n) e[n] = e[n - lag];
  History next;
  for (int n = 0; n < kHistorySamples; ++n) next[n] = e[kFrameSamples + n] * 0.75f;
  return next;
}

double Energy(const History& h) {
  double sum = 0;
  for (float v : h) sum += static_cast<double>(v) * v;
  return sum;
}

TEST_F(FrameDecoderTest, LostVoicedFramesRepeatThePitchAtFallingGainThenGoSilent) {
  DecodeUntilVoiced(true);
  const int lag = decoderState.concealLag;
  const float gain = decoderState.concealGain;
  const History original = decoderState.excitationHistory;

  decoder_.DecodeFrame(true);
  EXPECT_EQ(decoderState.erasureCount, 1);
  EXPECT_EQ(decoderState.concealLag, lag);
  EXPECT_FLOAT_EQ(decoderState.concealGain, gain * 0.75f);
  const History first = ConcealedHistory(original, lag);
  EXPECT_EQ(decoderState.excitationHistory, first);
  EXPECT_EQ(comfortNoiseState.noiseSeed, 12345);

  decoder_.DecodeFrame(true);
  EXPECT_EQ(decoderState.erasureCount, 2);
  const History second = ConcealedHistory(first, lag);
  EXPECT_EQ(decoderState.excitationHistory, second);
  // Two concealments scale the continued period by 0.75 squared.
  EXPECT_NEAR(Energy(second), Energy(ConcealedHistory(ConcealedHistory(original, lag), lag)), 1e-3);
  EXPECT_FLOAT_EQ(decoderState.concealGain, gain * 0.5625f);

  decoder_.DecodeFrame(true);
  EXPECT_EQ(decoderState.erasureCount, 3);
  EXPECT_EQ(Energy(decoderState.excitationHistory), 0.0);
  // Only the decaying response of the filter memories remains.
  double firstHalf = 0, secondHalf = 0;
  for (int n = 0; n < 120; ++n) firstHalf += std::fabs(decoder_.samples[n]);
  for (int n = 120; n < 240; ++n) secondHalf += std::fabs(decoder_.samples[n]);
  EXPECT_LE(secondHalf, firstHalf);

  decoder_.DecodeFrame(true);
  EXPECT_EQ(decoderState.erasureCount, 3);  // capped
  for (int n = 0; n < 240; ++n) EXPECT_TRUE(std::isfinite(decoder_.samples[n]));

  ASSERT_TRUE(DecodeNext());
  EXPECT_EQ(decoderState.erasureCount, 0);
}

TEST_F(FrameDecoderTest, LostUnvoicedFrameIsScaledNoiseAndClearsTheHistory) {
  DecodeUntilVoiced(false);
  const float gain = decoderState.concealGain;
  int16_t seed = decoderState.concealSeed;
  for (int n = 0; n < 240; ++n) NextRandom(seed);

  decoder_.DecodeFrame(true);
  EXPECT_EQ(decoderState.erasureCount, 1);
  EXPECT_FLOAT_EQ(decoderState.concealGain, gain * 0.75f);
  EXPECT_EQ(decoderState.concealSeed, seed);
  EXPECT_EQ(Energy(decoderState.excitationHistory), 0.0);
}

TEST_F(FrameDecoderTest, GoodFrameSetsConcealGainFromItsLastTwoAmplitudes) {
  test_frames::ActiveCodes codes;
  codes.gainWord[2] = 5 * 24 + 17;
  codes.gainWord[3] = 3 * 24 + 8;
  DecodeBytes(test_frames::PackActive(codes, Rate::Rate53));
  EXPECT_EQ(decoderState.erasureCount, 0);
  EXPECT_EQ(decoderState.concealGain, FixedGainTable[(17 + 8) / 2]);
  EXPECT_EQ(decoder_.rate, Rate::Rate53);
}

TEST_F(FrameDecoderTest, FrameWithAnImpossibleLagIsConcealedLikeALostOne) {
  DecodeUntilVoiced(true);
  const History original = decoderState.excitationHistory;
  const int lag = decoderState.concealLag;
  test_frames::ActiveCodes codes;
  codes.lagCode[1] = 126;
  DecodeBytes(test_frames::PackActive(codes, Rate::Rate53));
  EXPECT_EQ(decoderState.erasureCount, 1);
  EXPECT_EQ(decoderState.excitationHistory, ConcealedHistory(original, lag));
  EXPECT_EQ(decoder_.rate, Rate::Rate53);
}

TEST_F(FrameDecoderTest, LostFrameDuringSilenceContinuesTheComfortNoise) {
  DecodeUntilVoiced(true);
  DecodeBytes(test_frames::PackSid(0, 30));
  const int16_t lag = decoderState.concealLag;
  const float gain = decoderState.concealGain;
  const float noiseGain = comfortNoiseState.noiseGain;

  decoder_.DecodeFrame(true);
  EXPECT_EQ(comfortNoiseState.previousFrameType, FrameType::Untransmitted);
  EXPECT_EQ(decoderState.erasureCount, 0);
  EXPECT_EQ(decoderState.concealLag, lag);
  EXPECT_EQ(decoderState.concealGain, gain);
  EXPECT_EQ(comfortNoiseState.noiseGain, noiseGain);  // smoothing toward the same target

  test_frames::ActiveCodes bad;
  bad.lagCode[0] = 127;
  DecodeBytes(test_frames::PackActive(bad, Rate::Rate63));
  EXPECT_EQ(comfortNoiseState.previousFrameType, FrameType::Untransmitted);
  EXPECT_EQ(decoderState.erasureCount, 0);
  EXPECT_EQ(decoderState.concealLag, lag);
}

TEST_F(FrameDecoderTest, SilenceAfterSpeechStartsFromTheSpeechAndRestartsTheNoiseSequence) {
  DecodeUntilVoiced(true);
  EXPECT_EQ(comfortNoiseState.noiseSeed, 12345);
  // The noise takes the envelope of the last speech frame until a SID frame brings one.
  const LspVector speechLsp = decoderState.previousLsp;
  EXPECT_EQ(comfortNoiseState.sidLsp, speechLsp);
  // The energy of the last 120 excitation samples (no clipping in ordinary speech).
  double energy = 0;
  for (int n = 25; n < kHistorySamples; ++n) {
    energy += static_cast<double>(decoderState.excitationHistory[n]) * decoderState.excitationHistory[n];
  }
  EXPECT_NEAR(comfortNoiseState.sidGain, energy, energy * 1e-5);
  const float sidGain = comfortNoiseState.sidGain;

  DecodeBytes(test_frames::PackUntransmitted());
  EXPECT_EQ(comfortNoiseState.noiseGain, DecodeSidGain(QuantiseSidGain(sidGain)));
  EXPECT_NE(comfortNoiseState.noiseSeed, 12345);
  EXPECT_EQ(decoderState.previousLsp, speechLsp);
  const int16_t seedAfterOneFrame = comfortNoiseState.noiseSeed;

  ASSERT_TRUE(DecodeNext());
  EXPECT_EQ(comfortNoiseState.noiseSeed, 12345);
  EXPECT_EQ(comfortNoiseState.previousFrameType, FrameType::Active);
  DecodeBytes(test_frames::PackSid(0, 20));
  EXPECT_EQ(comfortNoiseState.noiseSeed, seedAfterOneFrame);  // the same random sequence
  EXPECT_EQ(comfortNoiseState.noiseGain, DecodeSidGain(20));  // taken at once after speech
}

TEST_F(FrameDecoderTest, LspRepairedBelowZeroStillGivesFiniteSpeech) {
  // Band-0 entry 67 four frames running: the stability repair takes lsp[0] below zero after
  // its clamp to 3, and the cosine lookup must stay inside its table.
  test_frames::ActiveCodes codes;
  codes.lspIndex = 67u << 16;
  for (int s = 0; s < 4; ++s) codes.gainWord[s] = 30 * 24 + 16;
  codes.positionLow[0] = 1234;
  for (int frame = 0; frame < 4; ++frame) {
    DecodeBytes(test_frames::PackActive(codes, Rate::Rate63));
    for (int n = 0; n < kFrameSamples; ++n) ASSERT_TRUE(std::isfinite(decoder_.samples[n])) << n;
  }
  EXPECT_NEAR(decoderState.previousLsp[0], -0.145f, 0.01f);
}

TEST_F(FrameDecoderTest, RunOfValidFramesWithLspBelowZeroRecoversAfterIt) {
  // Band-0 entry 67 in 36 frames running keeps lsp[0] below zero for most of them. That must
  // not leave the filters overflowing into NaN (which silenced the rest of the clip): a few
  // frames after the run the output is the unedited clip's again.
  constexpr size_t kFirst = 10;
  constexpr size_t kLast = 45;
  constexpr size_t kSettled = kLast + 5;
  const std::vector<int16_t> reference = speech_comparison::DecodeWithClipnote(clip_);
  ASSERT_EQ(reference.size(), 68u * kFrameSamples);
  clip_ = test_frames::WithBand0Run(clip_, kFirst, kLast, 67);

  // The synthesis filter stays stable through the run. It rings loud there (a root near
  // z = 1; its memory reaches about 5e6), but a cosine beyond 1 made it grow to about 1e19.
  float lowestLsp = 256.0f;
  float loudest = 0.0f;
  std::vector<uint8_t> pcm(reference.size() * 2);
  uint32_t count = 0;
  while (DecodeNext()) {
    lowestLsp = std::min(lowestLsp, decoderState.previousLsp[0]);
    for (float y : decoderState.synthesisMemory) loudest = std::max(loudest, std::fabs(y));
    EXPECT_TRUE(DecoderStatesAreFinite()) << "after frame " << count / 480;
    decoder_.StorePcm(pcm.data(), count);
  }
  EXPECT_LT(lowestLsp, -0.1f);
  EXPECT_LT(loudest, 1e9f);

  std::vector<int16_t> edited(reference.size());
  std::vector<bool> settled(reference.size());
  for (size_t i = 0; i < edited.size(); ++i) {
    edited[i] = static_cast<int16_t>(pcm[2 * i] | pcm[2 * i + 1] << 8);
    settled[i] = i >= kSettled * kFrameSamples;
  }
  const speech_comparison::Agreement after = speech_comparison::Compare(reference, edited, settled);
  EXPECT_GT(after.segments, 10);
  EXPECT_GE(after.segmentalSnr, 25.0);
}

TEST_F(FrameDecoderTest, NonFiniteStateIsResetNotCarriedIntoLaterFrames) {
  const struct {
    const char* name;
    void (*poison)();
  } cases[] = {
      {"tilt", [] { decoderState.tiltState = NAN; }},
      {"scale gain", [] { decoderState.scaleGain = INFINITY; }},
      {"conceal gain", [] { decoderState.concealGain = -INFINITY; }},
      {"previous LSP", [] { decoderState.previousLsp[4] = NAN; }},
      {"excitation history", [] { decoderState.excitationHistory[100] = INFINITY; }},
      {"synthesis memory", [] { decoderState.synthesisMemory[3] = NAN; }},
      {"zero memory", [] { decoderState.postZeroMemory[9] = -INFINITY; }},
      {"pole memory", [] { decoderState.postPoleMemory[0] = INFINITY; }},
      {"noise gain", [] { comfortNoiseState.noiseGain = NAN; }},
      {"SID gain", [] { comfortNoiseState.sidGain = INFINITY; }},
      {"SID LSP", [] { comfortNoiseState.sidLsp[0] = NAN; }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    decoder_.Reset(Rate::Rate53);
    offset_ = 0;
    for (int frame = 0; frame < 20; ++frame) ASSERT_TRUE(DecodeNext());
    c.poison();
    ASSERT_TRUE(DecodeNext());
    EXPECT_TRUE(DecoderStatesAreFinite());
    // The speech goes on: the clip's loud frames that follow are not silenced.
    float peak = 0.0f;
    while (DecodeNext()) {
      for (int n = 0; n < kFrameSamples; ++n) peak = std::max(peak, std::fabs(decoder_.samples[n]));
    }
    EXPECT_GT(peak, 5000.0f);
  }
}

// An excitation buffer holding a unit impulse in the lagged segment, 130 samples before
// `a` in the analysed segment, plus an uncorrelated sample `b`.
std::array<float, kExcitationSamples> ImpulsePair(float a, float b) {
  std::array<float, kExcitationSamples> e{};
  e[135 + 10] = 1.0f;
  e[265 + 10] = a;
  e[265 + 90] = b;  // 80 samples from the other: outside every searched lag
  return e;
}

TEST(VoicingAnalysis, VoicedWhenTheCorrelationSquaredExceedsAnEighthOfTheEnergies) {
  // R = a, E0 = a^2 + b^2, El = 1: voiced exactly when 7 a^2 > b^2.
  Voicing v = AnalyseVoicing(ImpulsePair(1.0f, 2.6f).data(), 128);
  EXPECT_EQ(v.concealLag, 130);
  EXPECT_FLOAT_EQ(v.energy, 1.0f + 2.6f * 2.6f);
  v = AnalyseVoicing(ImpulsePair(1.0f, 2.7f).data(), 128);
  EXPECT_EQ(v.concealLag, 0);
  // A negative correlation is never voiced.
  v = AnalyseVoicing(ImpulsePair(-1.0f, 0.0f).data(), 130);
  EXPECT_EQ(v.concealLag, 0);
  // Outside the search range (lag 130 is 4 from 126) nothing is found.
  EXPECT_EQ(AnalyseVoicing(ImpulsePair(1.0f, 0.0f).data(), 126).concealLag, 0);
  EXPECT_EQ(AnalyseVoicing(ImpulsePair(1.0f, 0.0f).data(), 133).concealLag, 130);
}

TEST(VoicingAnalysis, FindsThePeriodOfAPeriodicExcitation) {
  std::array<float, kExcitationSamples> e{};
  for (int n = 0; n < kExcitationSamples; ++n) e[n] = n % 47 == 0 ? 1000.0f : 0.0f;
  EXPECT_EQ(AnalyseVoicing(e.data(), 45).concealLag, 47);
  EXPECT_EQ(AnalyseVoicing(e.data(), 49).concealLag, 47);
  EXPECT_EQ(AnalyseVoicing(e.data(), 60).concealLag, 0);

  std::mt19937 random(3);
  std::normal_distribution<float> noise(0.0f, 100.0f);
  for (float& v : e) v = noise(random);
  EXPECT_EQ(AnalyseVoicing(e.data(), 60).concealLag, 0);
  // Lags beyond 142 are held there, so the search stays inside the buffer.
  EXPECT_EQ(AnalyseVoicing(e.data(), 500).concealLag, 0);
}

}  // namespace

}  // namespace clipnote::speech
