#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>

#include "video/recon/inverse_transform.h"

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

// The transform as described, with no short-cuts: 32-bit wrapping arithmetic
// kept in 64 bits and wrapped after every step, shifts on the wrapped values.
int64_t Wrap(int64_t v) { return static_cast<int32_t>(static_cast<uint32_t>(v)); }

void FullPass(int16_t* b, int gap, bool column) {
  const int64_t w1 = 2840, w2 = 2675, w3 = 2408, w5 = 1609, w6 = 1108, w7 = 565;
  const int64_t round = column ? 4 : 0;
  const int shift = column ? 3 : 0;
  auto stage = [&](int64_t v) { return Wrap(v) >> shift; };
  int64_t x1 = Wrap(int64_t{b[4 * gap]} * (column ? 256 : 2048));
  int64_t x2 = b[6 * gap], x3 = b[2 * gap], x4 = b[gap], x5 = b[7 * gap], x6 = b[5 * gap],
          x7 = b[3 * gap];
  int64_t x0 = Wrap(column ? (int64_t{b[0]} + 32) * 256 : int64_t{b[0]} * 2048 + 128);
  int64_t x8 = Wrap(w7 * (x4 + x5) + round);
  x4 = stage(x8 + (w1 - w7) * x4);
  x5 = stage(x8 - (w1 + w7) * x5);
  x8 = Wrap(w3 * (x6 + x7) + round);
  x6 = stage(x8 - (w3 - w5) * x6);
  x7 = stage(x8 - (w3 + w5) * x7);
  x8 = Wrap(x0 + x1);
  x0 = Wrap(x0 - x1);
  x1 = Wrap(w6 * (x3 + x2) + round);
  x2 = stage(x1 - (w2 + w6) * x2);
  x3 = stage(x1 + (w2 - w6) * x3);
  x1 = Wrap(x4 + x6);
  x4 = Wrap(x4 - x6);
  x6 = Wrap(x5 + x7);
  x5 = Wrap(x5 - x7);
  x7 = Wrap(x8 + x3);
  x8 = Wrap(x8 - x3);
  x3 = Wrap(x0 + x2);
  x0 = Wrap(x0 - x2);
  x2 = Wrap(181 * (x4 + x5) + 128) >> 8;
  x4 = Wrap(181 * (x4 - x5) + 128) >> 8;
  const int64_t out[8] = {x7 + x1, x3 + x2, x0 + x4, x8 + x6, x8 - x6, x0 - x4, x3 - x2, x7 - x1};
  for (int i = 0; i < 8; ++i) {
    b[i * gap] = static_cast<int16_t>(static_cast<uint16_t>(Wrap(out[i]) >> (column ? 14 : 8)));
  }
}

void FullTransform(int16_t block[64]) {
  for (int r = 0; r < 8; ++r) FullPass(block + 8 * r, 1, false);
  for (int c = 0; c < 8; ++c) FullPass(block + c, 8, true);
}

// Blocks that take the short-cuts (DC-only blocks, rows and columns without AC
// terms), ordinary ones and extreme ones, transformed by the decoder and by the
// full path above: the results must agree exactly.
TEST(InverseTransform, ShortCutsAndEverythingElseMatchTheFullPath) {
  std::mt19937 rng(5);
  auto value = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  auto coefficient = [&](int lo, int hi) { return static_cast<int16_t>(value(lo, hi)); };
  for (int trial = 0; trial < 20000; ++trial) {
    int16_t block[64] = {};
    switch (trial % 5) {
      case 0:  // DC only, over the whole int16 range
        block[0] = coefficient(-32768, 32767);
        break;
      case 1:  // only row 0: every column takes its short-cut
        for (int i = 0; i < 8; ++i) block[i] = coefficient(-2048, 2047);
        break;
      case 2:  // some rows with only their first term
        for (int r = 0; r < 8; ++r) {
          const bool full = value(0, 1) != 0;
          for (int i = 0; i < (full ? 8 : 1); ++i) block[8 * r + i] = coefficient(-2048, 2047);
        }
        break;
      case 3:  // a few coefficients, as real blocks have
        for (int k = value(1, 6); k > 0; --k) block[value(0, 63)] = coefficient(-300, 300);
        break;
      default:  // extremes, wrapping on the way
        for (int16_t& c : block) {
          c = value(0, 2) == 0 ? coefficient(-32768, 32767) : value(0, 1) ? 2047 : -2048;
        }
    }
    int16_t full[64], residual[64], forPixels[64];
    std::copy(block, block + 64, full);
    std::copy(block, block + 64, residual);
    std::copy(block, block + 64, forPixels);
    FullTransform(full);
    IdctToResidualWith(Weights(), residual);
    uint8_t samples[64];
    IdctToPixelsWith(Weights(), samples, forPixels);
    for (int i = 0; i < 64; ++i) {
      ASSERT_EQ(residual[i], std::clamp<int>(full[i], -256, 255)) << trial << " at " << i;
      ASSERT_EQ(samples[i], std::clamp<int>(full[i], 0, 255)) << trial << " at " << i;
    }
  }
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
