#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>

#include "video/recon/inverse_transform.h"

using namespace clipnote::h263;

namespace {

const int32_t* Weights() {
  static int32_t w[6];
  ComputeIdctWeightsInto(w);
  return w;
}

TEST(InverseTransform, WeightsAreTruncatedNotRounded) {
  const int32_t expected[6] = {2840, 2675, 2408, 1609, 1108, 565};  // rounding: 2841, 2676
  for (int i = 0; i < 6; ++i) EXPECT_EQ(Weights()[i], expected[i]);
}

TEST(InverseTransform, DcOnlyBlocks) {
  const int intra[][2] = {{128, 129}, {254, 255}, {1, 2}};  // INTRADC -> sample
  for (const auto& c : intra) {
    int16_t coefficients[64] = {static_cast<int16_t>(8 * c[0] + 8)};
    uint8_t samples[64];
    IdctToPixelsWith(Weights(), samples, coefficients);
    for (uint8_t s : samples) ASSERT_EQ(s, c[1]) << c[0];
  }
  const int inter[][2] = {{0, 0}, {29, 4}, {33, 4}, {-2048, -256}, {2047, 255}, {-9, -1}};
  for (const auto& c : inter) {
    int16_t coefficients[64] = {static_cast<int16_t>(c[0])};
    IdctToResidualWith(Weights(), coefficients);
    for (int16_t r : coefficients) ASSERT_EQ(r, c[1]) << c[0];
  }
}

// A wrong weight, sign or shift shows up as a large error against the exact
// orthonormal IDCT; the integer transform stays within one step of it.
TEST(InverseTransform, WithinOneOfTheExactTransform) {
  std::mt19937 rng(11);
  std::uniform_int_distribution<int> coefficient(-256, 255);
  const double pi = std::acos(-1.0);
  auto basis = [&](int n, int k) { return (k == 0 ? std::sqrt(0.125) : 0.5) * std::cos((2 * n + 1) * k * pi / 16); };
  int worst = 0;
  for (int trial = 0; trial < 300; ++trial) {
    int16_t block[64], transformed[64];
    for (int i = 0; i < 64; ++i) block[i] = transformed[i] = static_cast<int16_t>(coefficient(rng));
    IdctToResidualWith(Weights(), transformed);
    for (int i = 0; i < 64; ++i) {
      double exact = 0;
      for (int j = 0; j < 64; ++j) exact += block[j] * basis(i / 8, j / 8) * basis(i % 8, j % 8);
      const double expected = std::clamp(std::floor(exact + 0.5), -256.0, 255.0);
      worst = std::max(worst, static_cast<int>(std::fabs(transformed[i] - expected)));
    }
  }
  EXPECT_LE(worst, 1);
}

TEST(InverseTransform, ExtremeBlocksWrapWithoutFault) {
  int16_t extreme[64];
  for (int i = 0; i < 64; ++i) extreme[i] = static_cast<int16_t>(i % 3 ? 32767 : -32768);
  IdctToResidualWith(Weights(), extreme);
  for (int16_t r : extreme) EXPECT_TRUE(r >= -256 && r <= 255);
}

}  // namespace
