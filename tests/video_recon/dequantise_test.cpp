#include <gtest/gtest.h>

#include <cstdint>

#include "video/recon/dequantise.h"

namespace {

struct Block {
  int8_t levels[64] = {};
  int16_t coefficients[64];
};

TEST(Dequantise, OddAndEvenQuantiser) {
  Block b;
  b.levels[0] = 1;
  DequantiseLevels(b.coefficients, b.levels, 10, false);
  EXPECT_EQ(b.coefficients[0], 29);  // 10 x 3 - 1
  DequantiseLevels(b.coefficients, b.levels, 11, false);
  EXPECT_EQ(b.coefficients[0], 33);  // 11 x 3
  b.levels[0] = -2;
  DequantiseLevels(b.coefficients, b.levels, 11, false);
  EXPECT_EQ(b.coefficients[0], -55);
}

TEST(Dequantise, ClampsToTwelveBits) {
  Block b;
  b.levels[5] = -127;
  b.levels[6] = 127;
  DequantiseLevels(b.coefficients, b.levels, 31, false);
  EXPECT_EQ(b.coefficients[zigzagToRaster[5]], -2048);  // -31 x 255 = -7905
  EXPECT_EQ(b.coefficients[zigzagToRaster[6]], 2047);
}

TEST(Dequantise, ScanPositionsReachTheirRasterIndex) {
  EXPECT_EQ(zigzagToRaster[0], 0);
  EXPECT_EQ(zigzagToRaster[2], 8);
  EXPECT_EQ(zigzagToRaster[3], 16);
  EXPECT_EQ(zigzagToRaster[4], 9);
  EXPECT_EQ(zigzagToRaster[61], 55);
  EXPECT_EQ(zigzagToRaster[62], 62);
  EXPECT_EQ(zigzagToRaster[63], 63);
  bool seen[64] = {};
  for (int k = 0; k < 64; ++k) seen[zigzagToRaster[k]] = true;
  for (int i = 0; i < 64; ++i) EXPECT_TRUE(seen[i]) << i;

  Block b;
  b.levels[61] = 1;
  b.levels[62] = 2;
  b.levels[63] = 3;
  DequantiseLevels(b.coefficients, b.levels, 1, false);
  EXPECT_EQ(b.coefficients[55], 3);
  EXPECT_EQ(b.coefficients[62], 5);
  EXPECT_EQ(b.coefficients[63], 7);
  int nonzero = 0;
  for (int16_t c : b.coefficients) nonzero += c != 0;
  EXPECT_EQ(nonzero, 3);
}

TEST(Dequantise, IntraDcIsOneStepAboveTheTableAndUnclamped) {
  Block b;
  for (int dc : {1, 128, 254}) {
    b.levels[0] = static_cast<int8_t>(static_cast<uint8_t>(dc));
    b.levels[1] = 1;
    DequantiseLevels(b.coefficients, b.levels, 31, true);
    EXPECT_EQ(b.coefficients[0], 8 * dc + 8);  // 254 gives 2040, beyond the AC clamp
    EXPECT_EQ(b.coefficients[1], 93);          // AC terms dequantised as usual
  }
}

}  // namespace
