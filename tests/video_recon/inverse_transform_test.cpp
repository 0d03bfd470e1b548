#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>

#include "video/recon/inverse_transform.h"

namespace {

int32_t* Weights() {
  static int32_t w[6];
  ComputeIdctWeightsInto(w);
  return w;
}

// The stages of the row and column transforms without their DC short-cuts,
// written independently, for comparing the short-cuts against the full path.
// Values stay far from overflow here, so plain int64 arithmetic is exact.
void FullPath(int16_t* b, int stride, bool column) {
  const int32_t* w = Weights();
  const int64_t w1 = w[kW1], w2 = w[kW2], w3 = w[kW3], w5 = w[kW5], w6 = w[kW6], w7 = w[kW7];
  const int64_t r = column ? 4 : 0;
  const int sh = column ? 3 : 0;
  int64_t in[8];
  for (int i = 0; i < 8; ++i) in[i] = b[i * stride];
  int64_t x0 = column ? (in[0] + 32) * 256 : in[0] * 2048 + 128;
  int64_t x1 = in[4] * (column ? 256 : 2048), x2 = in[6], x3 = in[2], x4 = in[1], x5 = in[7],
          x6 = in[5], x7 = in[3];
  int64_t x8 = w7 * (x4 + x5) + r;
  x4 = (x8 + (w1 - w7) * x4) >> sh;
  x5 = (x8 - (w1 + w7) * x5) >> sh;
  x8 = w3 * (x6 + x7) + r;
  x6 = (x8 - (w3 - w5) * x6) >> sh;
  x7 = (x8 - (w3 + w5) * x7) >> sh;
  x8 = x0 + x1;
  x0 -= x1;
  x1 = w6 * (x3 + x2) + r;
  x2 = (x1 - (w2 + w6) * x2) >> sh;
  x3 = (x1 + (w2 - w6) * x3) >> sh;
  x1 = x4 + x6;
  x4 -= x6;
  x6 = x5 + x7;
  x5 -= x7;
  x7 = x8 + x3;
  x8 -= x3;
  x3 = x0 + x2;
  x0 -= x2;
  x2 = (181 * (x4 + x5) + 128) >> 8;
  x4 = (181 * (x4 - x5) + 128) >> 8;
  const int out = column ? 14 : 8;
  const int64_t v[8] = {x7 + x1, x3 + x2, x0 + x4, x8 + x6, x8 - x6, x0 - x4, x3 - x2, x7 - x1};
  for (int i = 0; i < 8; ++i) b[i * stride] = static_cast<int16_t>(v[i] >> out);
}

TEST(InverseTransform, WeightsAreTruncatedNotRounded) {
  const int32_t* w = Weights();
  EXPECT_EQ(w[kW1], 2840);  // rounding would give 2841
  EXPECT_EQ(w[kW2], 2675);  // rounding would give 2676
  EXPECT_EQ(w[kW3], 2408);
  EXPECT_EQ(w[kW5], 1609);
  EXPECT_EQ(w[kW6], 1108);
  EXPECT_EQ(w[kW7], 565);
}

TEST(InverseTransform, RowShortCutMatchesFullPath) {
  for (int dc = -2048; dc <= 2047; ++dc) {
    int16_t fast[8] = {static_cast<int16_t>(dc)};
    int16_t full[8] = {static_cast<int16_t>(dc)};
    IdctRowWith(Weights(), fast);
    FullPath(full, 1, false);
    for (int i = 0; i < 8; ++i) ASSERT_EQ(fast[i], full[i]) << dc;
  }
}

TEST(InverseTransform, ColumnShortCutMatchesFullPathOverRowOutputs) {
  // Row outputs of real coefficients lie within 8 x (-2048..2047). The
  // short-cut clamps to -256..255 where the full path would leave 256 for the
  // final clamp; after that clamp both agree.
  for (int dc = -16384; dc <= 16376; ++dc) {
    int16_t fast[64] = {static_cast<int16_t>(dc)};
    int16_t full[64] = {static_cast<int16_t>(dc)};
    IdctColumnWith(Weights(), fast);
    FullPath(full, 8, true);
    for (int i = 0; i < 8; ++i) {
      ASSERT_EQ(fast[8 * i], std::clamp<int>(full[8 * i], -256, 255)) << dc;
    }
  }
}

TEST(InverseTransform, FullRowsAndColumnsMatchTheStagesAsWritten) {
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> coefficient(-300, 300);
  for (int trial = 0; trial < 2000; ++trial) {
    int16_t row[8], rowFull[8];
    for (int i = 0; i < 8; ++i) row[i] = rowFull[i] = static_cast<int16_t>(coefficient(rng));
    row[3] = rowFull[3] = 1;  // force the full path
    IdctRowWith(Weights(), row);
    FullPath(rowFull, 1, false);
    for (int i = 0; i < 8; ++i) ASSERT_EQ(row[i], rowFull[i]);

    int16_t col[64] = {}, colFull[64] = {};
    for (int i = 0; i < 8; ++i) col[8 * i] = colFull[8 * i] = static_cast<int16_t>(8 * coefficient(rng));
    col[8] = colFull[8] = 5;
    IdctColumnWith(Weights(), col);
    FullPath(colFull, 8, true);
    for (int i = 0; i < 8; ++i) ASSERT_EQ(col[8 * i], colFull[8 * i]);
  }
}

TEST(InverseTransform, IntraDcOnlyBlocks) {
  const int cases[][2] = {{128, 129}, {254, 255}, {1, 2}};
  for (const auto& c : cases) {
    int16_t coefficients[64] = {static_cast<int16_t>(8 * c[0] + 8)};
    uint8_t samples[64];
    IdctToPixelsWith(Weights(), samples, coefficients);
    for (uint8_t s : samples) ASSERT_EQ(s, c[1]) << c[0];
  }
}

TEST(InverseTransform, InterDcOnlyResidualAndItsClamp) {
  const int cases[][2] = {{0, 0}, {29, 4}, {33, 4}, {-2048, -256}, {2047, 255}, {-9, -1}};
  for (const auto& c : cases) {
    int16_t coefficients[64] = {static_cast<int16_t>(c[0])};
    IdctToResidualWith(Weights(), coefficients);
    for (int16_t r : coefficients) ASSERT_EQ(r, c[1]) << c[0];
  }
}

TEST(InverseTransform, CloseToTheExactTransform) {
  std::mt19937 rng(11);
  std::uniform_int_distribution<int> coefficient(-256, 255);
  const double pi = std::acos(-1.0);
  int worst = 0;
  for (int trial = 0; trial < 500; ++trial) {
    int16_t block[64];
    double exact[64];
    for (int i = 0; i < 64; ++i) block[i] = static_cast<int16_t>(trial % 4 == 0 && i > 10 ? 0 : coefficient(rng));
    for (int y = 0; y < 8; ++y) {
      for (int x = 0; x < 8; ++x) {
        double sum = 0;
        for (int v = 0; v < 8; ++v) {
          for (int u = 0; u < 8; ++u) {
            const double cu = u == 0 ? std::sqrt(0.5) : 1.0, cv = v == 0 ? std::sqrt(0.5) : 1.0;
            sum += cu * cv * block[8 * v + u] * std::cos((2 * x + 1) * u * pi / 16) *
                   std::cos((2 * y + 1) * v * pi / 16);
          }
        }
        exact[8 * y + x] = sum / 4;
      }
    }
    int16_t copy[64];
    for (int i = 0; i < 64; ++i) copy[i] = block[i];
    IdctToResidualWith(Weights(), copy);
    for (int i = 0; i < 64; ++i) {
      const double clamped = std::fmin(255.0, std::fmax(-256.0, std::floor(exact[i] + 0.5)));
      worst = std::max(worst, static_cast<int>(std::fabs(copy[i] - clamped)));
    }
  }
  EXPECT_LE(worst, 1);
}

TEST(InverseTransform, ExtremeBlocksWrapWithoutFault) {
  // Contrived coefficients at the clamp limits drive the 32-bit arithmetic to
  // wrap; the transform must still finish and keep its clamps.
  int16_t coefficients[64];
  for (int i = 0; i < 64; ++i) coefficients[i] = (i * 7) % 3 == 0 ? -2048 : 2047;
  uint8_t samples[64];
  IdctToPixelsWith(Weights(), samples, coefficients);
  int16_t extreme[64];
  for (int i = 0; i < 64; ++i) extreme[i] = static_cast<int16_t>(i % 2 ? 32767 : -32768);
  IdctToResidualWith(Weights(), extreme);
  for (int16_t r : extreme) {
    EXPECT_GE(r, -256);
    EXPECT_LE(r, 255);
  }
}

}  // namespace
