#include <gtest/gtest.h>

#include <cmath>

#include "audio/sid_gain.h"

namespace clipnote::speech {

namespace {

// An energy whose normalised value (0.008333 x energy in single precision) is exactly x.
float EnergyFor(float x) {
  float energy = x / 0.008333f;
  for (int i = 0; i < 64 && 0.008333f * energy != x; ++i) {
    energy = std::nextafter(energy, 0.008333f * energy < x ? INFINITY : 0.0f);
  }
  EXPECT_EQ(0.008333f * energy, x);
  return energy;
}

TEST(SidGain, DecodedLevelsOfTheThreeSegments) {
  EXPECT_EQ(DecodeSidGain(0), 0.0f);
  EXPECT_EQ(DecodeSidGain(15), 30.0f);
  EXPECT_EQ(DecodeSidGain(16), 32.0f);
  EXPECT_EQ(DecodeSidGain(31), 92.0f);
  EXPECT_EQ(DecodeSidGain(32), 96.0f);
  EXPECT_EQ(DecodeSidGain(47), 216.0f);
  EXPECT_EQ(DecodeSidGain(48), 224.0f);
  EXPECT_EQ(DecodeSidGain(63), 344.0f);
  EXPECT_EQ(DecodeSidGain(64), 344.0f);
  EXPECT_EQ(DecodeSidGain(-1), 0.0f);
}

TEST(SidGain, QuantiserSegmentBoundaries) {
  EXPECT_EQ(QuantiseSidGain(0.0f), 0);
  EXPECT_EQ(QuantiseSidGain(EnergyFor(1024.0f)), 16);   // first level of segment 1
  EXPECT_EQ(QuantiseSidGain(EnergyFor(9216.0f)), 32);   // first level of segment 2
  EXPECT_EQ(QuantiseSidGain(EnergyFor(115616.0f)), 62); // tie between 336^2 and 344^2: down
  EXPECT_EQ(QuantiseSidGain(EnergyFor(115617.0f)), 63);
  EXPECT_EQ(QuantiseSidGain(1e30f), 63);
}

TEST(SidGain, EveryLevelQuantisesToItselfAndTiesFollowTheSearchSide) {
  for (int index = 0; index < 64; ++index) {
    const float level = DecodeSidGain(index);
    EXPECT_EQ(QuantiseSidGain(EnergyFor(level * level)), index) << index;
  }
  // Midpoints in the squared domain. The search ends on an odd code j, and a tie goes down
  // when x is below level j squared, up otherwise: both times toward the even code.
  EXPECT_EQ(QuantiseSidGain(EnergyFor(10.0f)), 2);    // 2^2 | 4^2, search ends at j = 1
  EXPECT_EQ(QuantiseSidGain(EnergyFor(842.0f)), 14);  // 28^2 | 30^2, search ends at j = 15
}

}  // namespace

}  // namespace clipnote::speech
