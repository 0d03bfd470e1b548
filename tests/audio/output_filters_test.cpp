#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>

#include "audio/decoder_state.h"
#include "audio/formant_postfilter.h"
#include "audio/gain_scaling.h"
#include "audio/output_chain.h"
#include "audio/synthesis_filter.h"

namespace clipnote::speech {

namespace {

class OutputFilters : public ::testing::Test {
 protected:
  void SetUp() override { ResetDecoderStates(); }
  LpcSet lpc{};
  float x[kSubframeSamples] = {};
};

TEST_F(OutputFilters, SynthesisIsAllPoleAndCarriesItsMemory) {
  lpc[0] = 0.5f;
  x[0] = 1.0f;
  Synthesize(x, lpc);
  for (int n = 0; n < kSubframeSamples; ++n) EXPECT_FLOAT_EQ(x[n], std::pow(0.5f, n));
  float next[kSubframeSamples] = {};
  Synthesize(next, lpc);
  EXPECT_FLOAT_EQ(next[0], std::pow(0.5f, 60));
}

TEST_F(OutputFilters, FormantPostfilterWeightsZerosAndPoles) {
  // a[0] = 0.5 alone: (1 - 0.325 z^-1) / (1 - 0.375 z^-1); an impulse has no tilt (r1 = 0).
  lpc[0] = 0.5f;
  x[0] = 1.0f;
  EXPECT_FLOAT_EQ(FormantPostfilter(x, lpc), 1.0f);
  EXPECT_FLOAT_EQ(x[0], 1.0f);
  EXPECT_NEAR(x[1], 0.05f, 1e-6f);
  EXPECT_NEAR(x[2], 0.01875f, 1e-6f);
  EXPECT_EQ(decoderState.tiltState, 0.0f);
}

TEST_F(OutputFilters, FormantPostfilterTiltFollowsTheSmoothedFirstCorrelation) {
  for (float& v : x) v = 1.0f;  // r1 / r0 = 59 / 60
  EXPECT_FLOAT_EQ(FormantPostfilter(x, lpc), 60.0f);
  const float tilt = 0.25f * 59.0f / 60.0f;
  EXPECT_FLOAT_EQ(decoderState.tiltState, tilt);
  EXPECT_FLOAT_EQ(x[0], 1.0f);
  for (int n = 1; n < kSubframeSamples; ++n) EXPECT_FLOAT_EQ(x[n], 1.0f - 0.25f * tilt);

  float silent[kSubframeSamples] = {};
  FormantPostfilter(silent, lpc);
  EXPECT_FLOAT_EQ(decoderState.tiltState, 0.75f * tilt);
  EXPECT_FLOAT_EQ(silent[0], -0.25f * 0.75f * tilt);  // tail of the previous subframe
}

TEST_F(OutputFilters, GainScalingSmoothsTowardTheEnergyRatio) {
  for (float& v : x) v = 1.0f;
  ScaleGain(x, 240.0f);  // sqrt(240 / 60) = 2: the gain moves from 1 toward 2
  for (int n = 0; n < kSubframeSamples; ++n) {
    const float gain = 2.0f - std::pow(0.9375f, n + 1);
    EXPECT_NEAR(x[n], gain * 1.0625f, 1e-5f) << n;
  }
  float silent[kSubframeSamples] = {};
  const float before = decoderState.scaleGain;
  ScaleGain(silent, 0.0f);  // silence drives the gain toward 1
  EXPECT_NEAR(decoderState.scaleGain, 1.0f + (before - 1.0f) * std::pow(0.9375f, 60), 1e-5f);
  for (float v : silent) EXPECT_EQ(v, 0.0f);
}

// Each filter's sum is formed first and the input joins it afterwards: memory terms that
// cancel exactly leave a small input intact, where adding them to the input one at a time
// would lose it against the first large term.
TEST_F(OutputFilters, FilterSumsAreFormedBeforeTheInputJoinsThem) {
  constexpr float kSmall = 0x1p-30f;
  constexpr float kLarge = 0x1p30f;
  const PostfilterWeights& w = kPostfilterWeights;
  const struct {
    const char* stage;
    LpcSet lpc;
    std::array<float, kLpcOrder> DecoderState::*memory;
    bool synthesis;
  } rows[] = {
      {"synthesis", {1.0f, 1.0f}, &DecoderState::synthesisMemory, true},
      // Coefficients whose weighted zero (pole) terms are equal: w1 x w0 and w0 x w1.
      {"postfilter zeros", {w.zero[1], w.zero[0]}, &DecoderState::postZeroMemory, false},
      {"postfilter poles", {w.pole[1], w.pole[0]}, &DecoderState::postPoleMemory, false},
  };
  for (const auto& row : rows) {
    ResetDecoderStates();
    (decoderState.*row.memory)[0] = kLarge;
    (decoderState.*row.memory)[1] = -kLarge;
    float samples[kSubframeSamples] = {kSmall};
    if (row.synthesis) {
      Synthesize(samples, row.lpc);
    } else {
      FormantPostfilter(samples, row.lpc);
    }
    EXPECT_EQ(samples[0], kSmall) << row.stage;
  }
}

// The frame-wide chain interleaves the stages of neighbouring subframes; every output bit and
// every carried state must still equal the stages run one subframe after another.
TEST(OutputChain, FrameChainEqualsTheStagesRunSubframeBySubframe) {
  uint32_t seed = 1;
  auto next = [&seed](float scale) {
    seed = seed * 1664525u + 1013904223u;
    return scale * (static_cast<float>(seed >> 8) / 8388608.0f - 1.0f);
  };
  float reference[kFrameSamples];
  float chained[kFrameSamples];
  DecoderState referenceState;
  DecoderState chainedState;
  ResetDecoderStates();
  referenceState = decoderState;
  chainedState = decoderState;
  for (int frame = 0; frame < 6; ++frame) {
    LpcSets lpc{};
    for (auto& set : lpc) {
      // Mildly resonant sets; one frame of silence drives the gain and tilt toward rest.
      set[0] = 0.9f + next(0.3f);
      set[1] = -0.4f + next(0.2f);
      for (int j = 2; j < kLpcOrder; ++j) set[j] = next(0.05f);
    }
    const float level = frame == 3 ? 0.0f : 3000.0f;
    for (int n = 0; n < kFrameSamples; ++n) reference[n] = chained[n] = next(level);

    decoderState = referenceState;
    for (int s = 0; s < kSubframesPerFrame; ++s) {
      float* subframe = reference + s * kSubframeSamples;
      Synthesize(subframe, lpc[s]);
      ScaleGain(subframe, FormantPostfilter(subframe, lpc[s]));
    }
    referenceState = decoderState;

    decoderState = chainedState;
    FilterFrameOutput(chained, lpc);
    chainedState = decoderState;

    EXPECT_EQ(std::memcmp(reference, chained, sizeof reference), 0) << "frame " << frame;
    EXPECT_EQ(std::memcmp(&referenceState, &chainedState, sizeof referenceState), 0)
        << "frame " << frame;
  }
}

}  // namespace

}  // namespace clipnote::speech
