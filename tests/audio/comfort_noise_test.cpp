#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "audio/comfort_noise.h"
#include "audio/decoder_state.h"
#include "audio/excitation.h"

namespace clipnote::speech {

namespace {

class ComfortNoise : public ::testing::Test {
 protected:
  void SetUp() override { ResetDecoderStates(); }

  void Decode(FrameType type, int sidGainIndex = 0) {
    params = FrameParams{};
    params.sub[0].amplitudeIndex = sidGainIndex;
    DecodeComfortNoise(type, params, samples, lpc, Rate::Rate53);
    comfortNoiseState.previousFrameType = type;  // as the frame decoder records it
  }

  static double PairEnergy(const float* block) {
    double e = 0.0;
    for (int n = 0; n < 120; ++n) e += static_cast<double>(block[n]) * block[n];
    return e;
  }

  FrameParams params;
  float samples[kFrameSamples] = {};
  LpcSets lpc{};
};

TEST_F(ComfortNoise, SilentSpeechHistoryGivesSilence) {
  comfortNoiseState.sidGain = 0.0f;  // energy of the last speech frame's excitation
  Decode(FrameType::Untransmitted);
  EXPECT_EQ(comfortNoiseState.noiseGain, 0.0f);
  for (float v : samples) EXPECT_EQ(v, 0.0f);
}

TEST_F(ComfortNoise, FromSilentHistoryElevenEqualPulsesCarryTheGain) {
  Decode(FrameType::Sid, 18);  // gain 40
  EXPECT_EQ(comfortNoiseState.noiseGain, 40.0f);
  // The first pair has no past to draw on (the second one reads the first).
  const float amplitude = std::sqrt(120.0f * 40.0f * 40.0f / 11.0f);
  int pulses = 0;
  for (int n = 0; n < 120; ++n) {
    if (samples[n] == 0.0f) continue;
    ++pulses;
    EXPECT_NEAR(std::fabs(samples[n]), amplitude, 1e-3f);
  }
  EXPECT_EQ(pulses, 11);
  for (int s = 0; s < 4; ++s) {
    EXPECT_GE(params.openLoopLag[s / 2], 123);
    EXPECT_LE(params.openLoopLag[s / 2], 143);
    EXPECT_GE(params.sub[s].gainIndex, 1);
    EXPECT_LE(params.sub[s].gainIndex, 50);
  }
  // The noise became the excitation history.
  EXPECT_TRUE(std::equal(samples + 95, samples + 240, decoderState.excitationHistory.begin()));
}

TEST_F(ComfortNoise, PulseAmplitudeBringsEachPairToTheTargetEnergy) {
  // With a busy history the adaptive part is not zero and the pulse amplitude solves the
  // quadratic for the pair energy 120 noiseGain^2 (the smaller root).
  for (int n = 0; n < kHistorySamples; ++n) {
    decoderState.excitationHistory[n] = 300.0f * std::sin(0.37f * n) + 50.0f * ((n * 7) % 5);
  }
  for (int frame = 0; frame < 3; ++frame) {
    const auto history = decoderState.excitationHistory;
    Decode(FrameType::Sid, 40);  // gain 160: above what the history alone carries
    const float gain = comfortNoiseState.noiseGain;
    for (int pair = 0; pair < 2; ++pair) {
      EXPECT_NEAR(PairEnergy(samples + 120 * pair), 120.0 * gain * gain, 120.0 * gain * gain * 1e-4)
          << frame << " " << pair;
    }

    // The first pair's adaptive part comes from the history alone, so the pulses (b x sign)
    // are what the block adds to it. With x1 = (sum of adaptive at the pulses x sign) / 11,
    // the two roots are b and -(b + 2 x1): b must be the one of smaller magnitude.
    float adaptive[120];
    DecodeAdaptiveVector(adaptive, history.data(), 0, params.openLoopLag[0], params.sub[0].lagDelta,
                         params.sub[0].gainIndex, Rate::Rate53);
    DecodeAdaptiveVector(adaptive + 60, history.data(), 60, params.openLoopLag[0],
                         params.sub[1].lagDelta, params.sub[1].gainIndex, Rate::Rate53);
    double b2 = 0.0;  // b squared
    double m = 0.0;   // 2 x1 b = (2 / 11) sum of adaptive x pulse
    int pulses = 0;
    for (int n = 0; n < 120; ++n) {
      const double pulse = static_cast<double>(samples[n]) - adaptive[n];
      if (std::fabs(pulse) < 1e-2) continue;
      ++pulses;
      b2 = pulse * pulse;
      m += 2.0 / 11.0 * adaptive[n] * pulse;
    }
    EXPECT_EQ(pulses, 11) << frame;
    EXPECT_GT(std::fabs(m), 0.05 * b2) << frame << ": the roots must differ to tell them apart";
    EXPECT_LE(b2, std::fabs(b2 + m) * 1.0001) << frame;  // |b| <= |b + 2 x1|
  }
}

TEST_F(ComfortNoise, GainGlidesByAnEighthAfterTheFirstSilenceFrame) {
  Decode(FrameType::Sid, 18);  // 40, taken at once after speech
  EXPECT_EQ(comfortNoiseState.noiseGain, 40.0f);
  Decode(FrameType::Sid, 26);  // 72
  EXPECT_FLOAT_EQ(comfortNoiseState.noiseGain, 44.0f);
  Decode(FrameType::Untransmitted);
  EXPECT_FLOAT_EQ(comfortNoiseState.noiseGain, 47.5f);
  EXPECT_EQ(comfortNoiseState.sidGain, 72.0f);
}

// Each glide step is summed in double and rounded once: from 4 toward 248, the seventh step
// gives 152.182205 (rounding 0.875 x noiseGain first would give 152.182190).
TEST_F(ComfortNoise, GainGlideRoundsEachStepOnce) {
  Decode(FrameType::Sid, 2);  // 4, taken at once after speech
  Decode(FrameType::Sid, 51);  // 248
  for (int frame = 0; frame < 6; ++frame) Decode(FrameType::Untransmitted);
  EXPECT_EQ(comfortNoiseState.noiseGain, 152.182205f);
}

TEST_F(ComfortNoise, UntransmittedAfterSpeechQuantisesTheSpeechEnergy) {
  comfortNoiseState.sidGain = 104.0f * 104.0f * 120.0f;  // 120 samples at about 104
  Decode(FrameType::Untransmitted);
  EXPECT_EQ(comfortNoiseState.sidGain, 104.0f);
  EXPECT_EQ(comfortNoiseState.noiseGain, 104.0f);
}

TEST_F(ComfortNoise, EverySilenceAfterSpeechRepeatsTheSameNoise) {
  Decode(FrameType::Sid, 30);
  std::vector<float> first(samples, samples + kFrameSamples);
  const FrameParams firstParams = params;

  // What the frame decoder does after a talk spurt: the seed and frame type start again.
  ResetDecoderStates();
  Decode(FrameType::Sid, 30);
  EXPECT_EQ(std::vector<float>(samples, samples + kFrameSamples), first);
  EXPECT_EQ(params.openLoopLag[0], firstParams.openLoopLag[0]);
  Decode(FrameType::Untransmitted);
  EXPECT_NE(std::vector<float>(samples, samples + kFrameSamples), first);
}

}  // namespace

}  // namespace clipnote::speech
