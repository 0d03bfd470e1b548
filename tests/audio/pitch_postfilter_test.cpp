#include <gtest/gtest.h>

#include <cmath>

#include "audio/pitch_postfilter.h"

namespace clipnote::speech {

namespace {

constexpr int kStart3 = kHistorySamples + 3 * kSubframeSamples;  // subframe 3 in E

// E with a pulse every `period` samples across history and frame.
void PeriodicExcitation(float e[kExcitationSamples], int period, float amplitude = 100.0f) {
  for (int n = 0; n < kExcitationSamples; ++n) e[n] = (n % period == 0) ? amplitude : 0.0f;
}

TEST(PitchPostfilter, LastSubframeOnlyLooksBackAndFullCorrelationGetsTheRateGain) {
  float e[kExcitationSamples];
  PeriodicExcitation(e, 40);
  // Double the current subframe: Cx = 2 Ex >= Ex, so g is the rate constant k, and
  // E0 = 4 Ex gives scale = sqrt(4 / (4 + k^2 + 4 k)) = 2 / (2 + k).
  for (int n = kStart3; n < kExcitationSamples; ++n) e[n] *= 2.0f;
  for (Rate rate : {Rate::Rate63, Rate::Rate53}) {
    const float k = rate == Rate::Rate63 ? 0.1875f : 0.25f;
    const PitchPostfilterSet set = PitchPostfilterParams(e, 41, 3, rate);
    EXPECT_EQ(set.lag, -40);
    EXPECT_FLOAT_EQ(set.scale, 2.0f / (2.0f + k));
    EXPECT_FLOAT_EQ(set.gain, k * 2.0f / (2.0f + k));
  }
}

TEST(PitchPostfilter, ForwardLagWinsWhenTheFollowingPeriodCorrelatesBetter) {
  float e[kExcitationSamples] = {};
  for (int n = kHistorySamples; n < kExcitationSamples; n += 30) e[n] = 50.0f;
  const PitchPostfilterSet set = PitchPostfilterParams(e, 30, 0, Rate::Rate53);
  EXPECT_EQ(set.lag, 30);
  EXPECT_GT(set.gain, 0.0f);

  // A forward segment may end exactly at the end of the frame: lag 60 in subframe 2.
  for (float& v : e) v = 0.0f;
  e[kStart3 - 60 + 5] = 50.0f;
  e[kStart3 + 5] = 50.0f;
  EXPECT_EQ(PitchPostfilterParams(e, 60, 2, Rate::Rate53).lag, 60);

  // In subframe 3 no forward segment fits. The buffer continues with a perfect match 30
  // samples on, which must not be seen; a lone pulse has no backward match either.
  float longer[kExcitationSamples + 64] = {};
  longer[kStart3 + 55] = 50.0f;
  longer[kStart3 + 85] = 50.0f;
  const PitchPostfilterSet neutral = PitchPostfilterParams(longer, 30, 3, Rate::Rate53);
  EXPECT_EQ(neutral.lag, 0);
  EXPECT_EQ(neutral.gain, 0.0f);
  EXPECT_EQ(neutral.scale, 1.0f);
}

TEST(PitchPostfilter, WeakCorrelationLeavesTheExcitationUnscaled) {
  float e[kExcitationSamples] = {};
  // Current subframe: pulses of 10 every 40; one period back the same pulses plus a large
  // component no other searched lag sees, so Cx^2 <= 0.25 E0 Ex.
  for (int n = kStart3 - 40; n < kExcitationSamples; n += 40) e[n] = 10.0f;
  for (int n = kStart3 - 35; n <= kStart3 - 5; n += 2) e[n] = 30.0f;
  const PitchPostfilterSet set = PitchPostfilterParams(e, 40, 3, Rate::Rate63);
  EXPECT_EQ(set.lag, -40);
  EXPECT_EQ(set.gain, 0.0f);
  EXPECT_EQ(set.scale, 1.0f);
}

TEST(PitchPostfilter, ApplyMixesTheLaggedExcitation) {
  float e[kExcitationSamples];
  for (int n = 0; n < kExcitationSamples; ++n) e[n] = static_cast<float>(n);
  float samples[kFrameSamples] = {};
  ApplyPitchPostfilter(samples, e, {-100, 0.5f, 2.0f}, 1);
  for (int n = 0; n < kSubframeSamples; ++n) {
    const float x = kHistorySamples + 60 + n;
    EXPECT_FLOAT_EQ(samples[60 + n], 0.5f * (x - 100) + 2.0f * x);
  }
  EXPECT_EQ(samples[0], 0.0f);
  EXPECT_EQ(samples[120], 0.0f);
  // A lag reaching outside E is dropped rather than followed.
  ApplyPitchPostfilter(samples, e, {20, 0.5f, 1.0f}, 3);
  EXPECT_EQ(samples[239], e[kExcitationSamples - 1]);
}

}  // namespace

}  // namespace clipnote::speech
