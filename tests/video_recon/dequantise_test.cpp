#include <gtest/gtest.h>

#include <cstdint>

#include "video/recon/dequantise.h"

using namespace clipnote::h263;

namespace {

int16_t DequantiseOne(int position, int level, int quant, bool intra = false) {
  int8_t levels[64] = {};
  int16_t coefficients[64];
  levels[position] = static_cast<int8_t>(level);
  DequantiseLevels(coefficients, levels, quant, intra);
  return coefficients[zigzagToRaster[position]];
}

TEST(Dequantise, QuantiserParityAndClamp) {
  EXPECT_EQ(DequantiseOne(0, 1, 10), 29);  // even quant: 10 x 3 - 1
  EXPECT_EQ(DequantiseOne(0, 1, 11), 33);
  EXPECT_EQ(DequantiseOne(3, -2, 11), -55);
  EXPECT_EQ(DequantiseOne(5, -127, 31), -2048);  // -7905 clamped
  EXPECT_EQ(DequantiseOne(6, 127, 31), 2047);
}

TEST(Dequantise, ScanPositionsToRaster) {
  const int expected[][2] = {{0, 0}, {2, 8}, {3, 16}, {4, 9}, {61, 55}, {62, 62}, {63, 63}};
  for (const auto& e : expected) EXPECT_EQ(zigzagToRaster[e[0]], e[1]) << e[0];
  bool seen[64] = {};
  for (int k = 0; k < 64; ++k) seen[zigzagToRaster[k]] = true;
  for (bool s : seen) EXPECT_TRUE(s);
}

TEST(Dequantise, IntraDcIsOneStepAboveTheTableAndUnclamped) {
  for (int dc : {1, 128, 254}) {
    int8_t levels[64] = {static_cast<int8_t>(static_cast<uint8_t>(dc)), 1};
    int16_t coefficients[64];
    DequantiseLevels(coefficients, levels, 31, true);
    EXPECT_EQ(coefficients[0], 8 * dc + 8);  // 254 gives 2040
    EXPECT_EQ(coefficients[1], 93);          // AC terms as usual
  }
}

}  // namespace
