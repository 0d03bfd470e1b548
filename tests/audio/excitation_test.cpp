#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <set>
#include <vector>

#include "audio/excitation.h"
#include "audio/excitation_tables.h"

namespace clipnote::speech {

namespace {

std::vector<int> PulsePositions(const float* v) {
  std::vector<int> at;
  for (int n = 0; n < kSubframeSamples; ++n) {
    if (v[n] != 0.0f) at.push_back(n);
  }
  return at;
}

SubframeParams Pulses(int positions, int signs, int grid, int amplitudeIndex = 0) {
  SubframeParams sub;
  sub.positions = positions;
  sub.signs = signs;
  sub.grid = grid;
  sub.amplitudeIndex = amplitudeIndex;
  return sub;
}

TEST(MultipulseVector, EveryValidCodeIsADistinctPlacementOfThePulseCount) {
  for (int subframe : {0, 1}) {
    const int pulses = PulseCountTable[subframe];
    std::set<std::vector<int>> seen;
    float v[kSubframeSamples];
    for (int code = 0; code < MaxPositionTable[subframe]; ++code) {
      DecodeFixedVector(v, Pulses(code, 0, 1), 100, subframe, Rate::Rate63);
      std::vector<int> at = PulsePositions(v);
      ASSERT_EQ(static_cast<int>(at.size()), pulses) << "code " << code;
      for (int n : at) ASSERT_EQ(n % 2, 1);  // odd grid
      seen.insert(at);
    }
    EXPECT_EQ(static_cast<int>(seen.size()), MaxPositionTable[subframe]);
  }
}

TEST(MultipulseVector, LowestCodeFillsTheFirstSlotsAndTheLowestPulseTakesTheHighSignBit) {
  float v[kSubframeSamples];
  DecodeFixedVector(v, Pulses(0, 0b100000, 0, 3), 100, 0, Rate::Rate63);
  EXPECT_EQ(PulsePositions(v), (std::vector<int>{0, 2, 4, 6, 8, 10}));
  EXPECT_EQ(v[0], -8.0f);
  for (int n : {2, 4, 6, 8, 10}) EXPECT_EQ(v[n], 8.0f);

  DecodeFixedVector(v, Pulses(MaxPositionTable[1] - 1, 0, 0), 100, 1, Rate::Rate63);
  EXPECT_EQ(PulsePositions(v), (std::vector<int>{50, 52, 54, 56, 58}));
}

TEST(MultipulseVector, InvalidCodeGivesZeroVectorEvenWithPulseTrain) {
  float v[kSubframeSamples];
  for (int code : {MaxPositionTable[0], -1, 0x7FFFFFFF}) {
    SubframeParams sub = Pulses(code, 0, 0, 23);
    sub.pulseTrain = 1;
    DecodeFixedVector(v, sub, 20, 0, Rate::Rate63);
    EXPECT_TRUE(PulsePositions(v).empty());
  }
}

TEST(MultipulseVector, PulseTrainRepeatsOnlyTheOriginalPulsesEveryLag) {
  float v[kSubframeSamples];
  SubframeParams sub = Pulses(0, 0, 0);  // +2 at 0, 2, 4, 6, 8, 10
  sub.pulseTrain = 1;
  DecodeFixedVector(v, sub, 25, 0, Rate::Rate63);
  for (int n = 0; n < kSubframeSamples; ++n) {
    const bool original = n <= 10 && n % 2 == 0;
    const bool once = n >= 25 && n <= 35 && n % 2 == 1;
    const bool twice = n >= 50 && n % 2 == 0;
    EXPECT_EQ(v[n], (original || once || twice) ? 2.0f : 0.0f) << n;
  }
  DecodeFixedVector(v, sub, 60, 0, Rate::Rate63);  // no train at lag 60
  EXPECT_EQ(PulsePositions(v).size(), 6u);
}

TEST(AlgebraicVector, PositionsSignsAndDroppedPulses) {
  float v[kSubframeSamples];
  // Pulse codes 1, 2, 3, 7 on the odd grid: 8+0+1, 16+2+1, 24+4+1, 56+6+1 = 63 (dropped).
  SubframeParams sub = Pulses(1 | 2 << 3 | 3 << 6 | 7 << 9, 0b0101, 1, 1);
  DecodeFixedVector(v, sub, 100, 0, Rate::Rate53);
  EXPECT_EQ(PulsePositions(v), (std::vector<int>{9, 19, 29}));
  EXPECT_EQ(v[9], 4.0f);   // sign bit set: positive
  EXPECT_EQ(v[19], -4.0f);
  EXPECT_EQ(v[29], 4.0f);
}

TEST(AlgebraicVector, SharpeningFeedsBackFromTheLagAndCanBeOff) {
  float v[kSubframeSamples];
  // gainIndex 1: lag offset 0, gain 2489/32768. Lag 57 (open-loop 57, delta 1).
  SubframeParams sub = Pulses(0, 0xF, 0, 0);  // +2 at 0, 2, 4, 6
  sub.gainIndex = 1;
  sub.lagDelta = 1;
  DecodeFixedVector(v, sub, 57, 0, Rate::Rate53);
  const float b = 2489.0f / 32768.0f;
  EXPECT_EQ(PulsePositions(v), (std::vector<int>{0, 2, 4, 6, 57, 59}));
  EXPECT_FLOAT_EQ(v[57], 2.0f * b);
  EXPECT_FLOAT_EQ(v[59], 2.0f * b);

  // In place: with lag 20 the first copy is sharpened again 20 samples later.
  DecodeFixedVector(v, sub, 20, 0, Rate::Rate53);
  EXPECT_FLOAT_EQ(v[20], 2.0f * b);
  EXPECT_FLOAT_EQ(v[40], 2.0f * b * b);

  sub.gainIndex = 0;  // lag offset 60: off
  DecodeFixedVector(v, sub, 20, 0, Rate::Rate53);
  EXPECT_EQ(PulsePositions(v).size(), 4u);
}

// A sharpened sample is its own value plus the gain times the earlier one, summed in double
// and rounded once: 3034 + 0.441619873 x 3034 is 4373.87451 (rounding the product first
// would give 4373.875).
TEST(AlgebraicVector, SharpeningRoundsEachSampleOnce) {
  float v[kSubframeSamples];
  // +3034 at 0 and 18 (pulses 2 and 3 fall at 60 and 63, dropped); gainIndex 20: lag offset 0,
  // gain 14471/32768; lag 18.
  SubframeParams sub = Pulses(0 | 2 << 3 | 7 << 6 | 7 << 9, 0x3, 0, 19);
  sub.gainIndex = 20;
  sub.lagDelta = 1;
  DecodeFixedVector(v, sub, 18, 0, Rate::Rate53);
  EXPECT_EQ(v[0], 3034.0f);
  EXPECT_EQ(v[18], 4373.87451171875f);
}

// A history whose sample n is n + 1, so each read shows where it came from.
struct RampHistory {
  float h[kHistorySamples];
  RampHistory() {
    for (int n = 0; n < kHistorySamples; ++n) h[n] = static_cast<float>(n + 1);
  }
};

// Without periodic repetition (lag >= 62) the vector is the five-tap filtering of
// history[143 - lag + i .. 147 - lag + i].
void ExpectFilteredPast(const float* out, const float* history, int lag,
                        const float (*table)[kAdaptiveGainColumns], int entry) {
  for (int i = 0; i < kSubframeSamples; ++i) {
    double sum = 0.0;
    for (int k = 0; k < 5; ++k) sum += history[143 - lag + i + k] * table[entry][k];
    ASSERT_FLOAT_EQ(out[i], static_cast<float>(sum)) << "lag " << lag << " sample " << i;
  }
}

TEST(AdaptiveVector, LongLagFiltersThePastAndTheTableFollowsRateAndOpenLoopLag) {
  RampHistory ramp;
  float out[kSubframeSamples];
  DecodeAdaptiveVector(out, ramp.h, 0, 99, 2, 7, Rate::Rate53);  // lag 100
  ExpectFilteredPast(out, ramp.h, 100, AdaptiveGainTable170, 7);

  // The history is only read back to the lag, so shorter lags are checked on their first
  // sample: the 85-entry table only at 6.3 kbit/s with an open-loop lag below 58.
  auto first = [&](int openLoopLag, Rate rate, int entry, const float (*table)[kAdaptiveGainColumns]) {
    DecodeAdaptiveVector(out, ramp.h, 0, openLoopLag, 1, entry, rate);
    double sum = 0.0;
    for (int k = 0; k < 5; ++k) sum += ramp.h[143 - openLoopLag + k] * table[entry][k];
    EXPECT_FLOAT_EQ(out[0], static_cast<float>(sum)) << openLoopLag;
  };
  first(57, Rate::Rate63, 5, AdaptiveGainTable85);
  first(58, Rate::Rate63, 5, AdaptiveGainTable170);
  first(57, Rate::Rate53, 5, AdaptiveGainTable170);

  DecodeAdaptiveVector(out, ramp.h, 0, 100, 1, 0, Rate::Rate53);  // entry 0: all zeros
  EXPECT_TRUE(PulsePositions(out).empty());
  DecodeAdaptiveVector(out, ramp.h, 0, 57, 1, 85, Rate::Rate63);  // beyond the 85 entries
  EXPECT_TRUE(PulsePositions(out).empty());
}

TEST(AdaptiveVector, ShortLagRepeatsTheLastPeriod) {
  float h[kHistorySamples] = {};
  h[kHistorySamples - 20] = 1.0f;  // one impulse 20 samples back; lag 20
  float out[kSubframeSamples];
  DecodeAdaptiveVector(out, h, 0, 20, 1, 1, Rate::Rate63);  // lag < 58 at 6.3: 85-entry table
  for (int i = 0; i < kSubframeSamples; ++i) {
    // The impulse sits at R[2], R[22], R[42], R[62]: out[i] = tap[2 + 20m - i].
    float expect = 0.0f;
    for (int k = 0; k < 5; ++k) {
      if ((i + k - 2) % 20 == 0) expect += AdaptiveGainTable85[1][k];
    }
    EXPECT_FLOAT_EQ(out[i], expect) << i;
  }
}

TEST(AdaptiveVector, IndexOffsetReadsAsIfOneSubframeWereAppended) {
  RampHistory ramp;
  float shifted[kHistorySamples];
  for (int n = 0; n < kHistorySamples; ++n) {
    shifted[n] = n + 60 < kHistorySamples ? ramp.h[n + 60] : std::numeric_limits<float>::quiet_NaN();
  }
  float a[kSubframeSamples], b[kSubframeSamples];
  for (int lag : {122, 130, 143}) {
    DecodeAdaptiveVector(a, ramp.h, 60, lag, 1, 12, Rate::Rate63);
    DecodeAdaptiveVector(b, shifted, 0, lag, 1, 12, Rate::Rate63);
    for (int i = 0; i < kSubframeSamples; ++i) ASSERT_EQ(a[i], b[i]) << lag << " " << i;
  }
}

TEST(AdaptiveVector, DamagedLagsStayInsideTheHistory) {
  // Run under AddressSanitizer: no combination may read outside the 145 samples.
  RampHistory ramp;
  float out[kSubframeSamples];
  for (int offset : {0, 60, -5, 200}) {
    for (int lag : {-1000, -1, 0, 1, 2, 61, 62, 121, 143, 144, 145, 146, 206, 1000}) {
      for (int delta : {-5, 0, 3, 9}) {
        DecodeAdaptiveVector(out, ramp.h, offset, lag, delta, 3, Rate::Rate53);
        for (float v : out) ASSERT_TRUE(std::isfinite(v));
      }
    }
  }
}

// The vector equals, bit for bit, the five taps summed in order in double over the past
// repeated with period lag, for every lag a valid frame can have.
TEST(AdaptiveVector, EveryLagMatchesTheTapsSummedInOrder) {
  float h[kHistorySamples];
  uint32_t seed = 99;
  for (float& v : h) {
    seed = seed * 1664525u + 1013904223u;
    v = static_cast<float>(static_cast<int32_t>(seed) >> 16) * 0.731f;
  }
  for (int entry : {1, 40, 84}) {
    for (int lag = 1; lag <= 143; ++lag) {
      float out[kSubframeSamples];
      DecodeAdaptiveVector(out, h, 0, lag, 1, entry, Rate::Rate63);
      const float* taps = lag < 58 ? AdaptiveGainTable85[entry] : AdaptiveGainTable170[entry];
      for (int i = 0; i < kSubframeSamples; ++i) {
        double sum = 0.0;
        for (int k = 0; k < kAdaptiveTaps; ++k) {
          const int j = i + k;  // index into the lagged past, whose first two samples lead in
          const float past = j < 2 ? h[143 - lag + j] : h[145 - lag + (j - 2) % lag];
          sum += static_cast<double>(past) * taps[k];
        }
        ASSERT_EQ(out[i], static_cast<float>(sum)) << "lag " << lag << " sample " << i;
      }
    }
  }
}

}  // namespace

}  // namespace clipnote::speech
