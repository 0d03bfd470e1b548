#include "audio/lsp_decoder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "audio/lsp_tables.h"

namespace clipnote::speech {

namespace {

constexpr double kPi = 3.14159265358979323846;

// A(z) = (F1(z)(1 + z^-1) + F2(z)(1 - z^-1)) / 2 computed directly in double, F1 over the
// even-numbered and F2 over the odd-numbered LSP frequencies; returns -A(1) .. -A(10).
std::vector<double> ReferenceLpc(const LspVector& lsp) {
  std::vector<double> f1 = {1.0}, f2 = {1.0};
  for (int i = 0; i < kLpcOrder; ++i) {
    std::vector<double>& f = i % 2 == 0 ? f1 : f2;
    const double c = std::cos(lsp[i] * kPi / 256.0);
    std::vector<double> next(f.size() + 2, 0.0);
    for (size_t n = 0; n < f.size(); ++n) {
      next[n] += f[n];
      next[n + 1] += -2.0 * c * f[n];
      next[n + 2] += f[n];
    }
    f = next;
  }
  std::vector<double> a(kLpcOrder);
  for (int k = 1; k <= kLpcOrder; ++k) {
    const double sum = f1[k] + f1[k - 1];
    const double difference = f2[k] - f2[k - 1];
    a[k - 1] = -(sum + difference) / 2.0;
  }
  return a;
}

TEST(LspTables, CodebooksAndCosineTableHoldTheTellingValues) {
  EXPECT_NEAR(LspBand0[1][0], -2.10938, 1e-4);
  EXPECT_NEAR(LspBand0[1][1], -10.7188, 1e-4);
  EXPECT_NEAR(LspBand0[1][2], -8.0625, 1e-4);
  EXPECT_NEAR(LspBand2[1][0], 4.69531, 1e-4);
  EXPECT_NEAR(LspBand2[1][3], 2.60938, 1e-4);
  for (int c = 0; c < 3; ++c) EXPECT_EQ(LspBand1[0][c], 0.0f);
  EXPECT_EQ(CosineTable[0], 1.0f);
  EXPECT_FLOAT_EQ(CosineTable[1], 0.999939024f);
  EXPECT_EQ(CosineTable[128], 0.0f);
  EXPECT_EQ(CosineTable[256], -1.0f);
}

TEST(DecodeLsp, IndexZeroPredictsTowardTheMean) {
  EXPECT_EQ(DecodeLsp(LspMeanTable, 0, false), LspMeanTable);

  LspVector previous;
  for (int i = 0; i < kLpcOrder; ++i) previous[i] = LspMeanTable[i] + (i % 2 == 0 ? 4.0f : -2.0f);
  const LspVector good = DecodeLsp(previous, 0, false);
  const LspVector lost = DecodeLsp(previous, 0xFFFFFF, true);  // the index is ignored when lost
  for (int i = 0; i < kLpcOrder; ++i) {
    const float offset = previous[i] - LspMeanTable[i];
    EXPECT_FLOAT_EQ(good[i], LspMeanTable[i] + 0.375f * offset) << i;
    EXPECT_FLOAT_EQ(lost[i], LspMeanTable[i] + 0.71875f * offset) << i;
  }
}

TEST(DecodeLsp, ResidualBandsComeFromTheirIndexBits) {
  const LspVector lsp = DecodeLsp(LspMeanTable, (5u << 16) | (9u << 8) | 200u, false);
  for (int i = 0; i < 3; ++i) EXPECT_FLOAT_EQ(lsp[i], LspMeanTable[i] + LspBand0[5][i]);
  for (int i = 0; i < 3; ++i) EXPECT_FLOAT_EQ(lsp[3 + i], LspMeanTable[3 + i] + LspBand1[9][i]);
  for (int i = 0; i < 4; ++i) EXPECT_FLOAT_EQ(lsp[6 + i], LspMeanTable[6 + i] + LspBand2[200][i]);
}

TEST(DecodeLsp, CloseValuesArePushedApartSymmetrically) {
  // Previous vector chosen so that, at factor 0.375, LSPs 4 and 5 land 1.0 apart.
  LspVector previous = LspMeanTable;
  const float gap = LspMeanTable[5] - LspMeanTable[4];
  previous[4] = LspMeanTable[4] + (gap - 1.0f) / 0.75f;
  previous[5] = LspMeanTable[5] - (gap - 1.0f) / 0.75f;
  const float predicted4 = LspMeanTable[4] + 0.375f * (previous[4] - LspMeanTable[4]);
  const float predicted5 = LspMeanTable[5] + 0.375f * (previous[5] - LspMeanTable[5]);
  const LspVector lsp = DecodeLsp(previous, 0, false);
  const float d = 2.0f + predicted4 - predicted5;
  ASSERT_GT(d, 0.0f);
  EXPECT_FLOAT_EQ(lsp[4], predicted4 - d / 2);
  EXPECT_FLOAT_EQ(lsp[5], predicted5 + d / 2);
  EXPECT_FLOAT_EQ(lsp[5] - lsp[4], 2.0f);
}

TEST(DecodeLsp, GapsWithinTheToleranceEndTheRepair) {
  // LSPs 3, 4, 5 predicted 1.99 apart: the one pass pushes 3-4 apart, then 4-5, which
  // narrows 3-4 again to 1.9925. That is within 1/32 of the spacing, so no second pass runs.
  LspVector previous = LspMeanTable;
  previous[4] = LspMeanTable[4] + (LspMeanTable[3] + 1.99f - LspMeanTable[4]) / 0.375f;
  previous[5] = LspMeanTable[5] + (LspMeanTable[3] + 3.98f - LspMeanTable[5]) / 0.375f;
  const LspVector lsp = DecodeLsp(previous, 0, false);
  EXPECT_NEAR(lsp[4] - lsp[3], 1.9925f, 1e-3f);
  EXPECT_NEAR(lsp[5] - lsp[4], 2.0f, 1e-4f);
  EXPECT_NEAR(lsp[3], LspMeanTable[3] - 0.005f, 1e-4f);
}

TEST(DecodeLsp, EndsAreClampedTo3And252) {
  LspVector previous = LspMeanTable;
  previous[0] = LspMeanTable[0] - 40.0f / 0.375f;  // predicts to mean - 40, below 0
  previous[9] = LspMeanTable[9] + 60.0f / 0.375f;
  const LspVector lsp = DecodeLsp(previous, 0, false);
  EXPECT_EQ(lsp[0], 3.0f);
  EXPECT_EQ(lsp[9], 252.0f);
}

TEST(DecodeLsp, TenthPassMayStillRepairButNotAnEleventh) {
  // The first two LSPs predicted on top of each other at 100 (respectively 120), above LSP 2:
  // each pass halves the remaining overlap, so the pair settles after exactly ten passes
  // (smallest gap 1.981 after the tenth, 1.962 after the ninth), respectively eleven.
  for (const float at : {100.0f, 120.0f}) {
    LspVector previous = LspMeanTable;
    for (int i = 0; i < 2; ++i) previous[i] = LspMeanTable[i] + (at - LspMeanTable[i]) / 0.375f;
    const LspVector lsp = DecodeLsp(previous, 0, false);
    if (at == 100.0f) {
      ASSERT_NE(lsp, previous);
      for (int j = 1; j < kLpcOrder; ++j) EXPECT_GE(lsp[j] - lsp[j - 1], 1.96875f) << j;
    } else {
      EXPECT_EQ(lsp, previous);
    }
  }
}

TEST(DecodeLsp, VectorThatTenPassesCannotRepairFallsBackToThePrevious) {
  // Predictions from a steeply descending vector need far more than ten repair passes.
  LspVector previous;
  for (int i = 0; i < kLpcOrder; ++i) previous[i] = 400.0f - 80.0f * i;
  EXPECT_EQ(DecodeLsp(previous, 0, false), previous);
  for (int i = 0; i < kLpcOrder; ++i) previous[i] = 200.0f - 5.0f * i;
  EXPECT_EQ(DecodeLsp(previous, 0, true), previous);
}

TEST(LspToLpc, MatchesTheProductFormOnTableGridPoints) {
  // Integer LSP values hit the cosine table exactly, leaving only its 2^-15 rounding.
  const LspVector lsp = {10, 23, 41, 70, 95, 121, 150, 177, 203, 230};
  LpcSet a = lsp;
  LspToLpc(a);
  const std::vector<double> expected = ReferenceLpc(lsp);
  for (int k = 0; k < kLpcOrder; ++k) EXPECT_NEAR(a[k], expected[k], 2e-3) << k;
}

TEST(LspToLpc, CosineLookupHoldsItsArgumentInsideTheTable) {
  // Band-0 entry 67 four frames running from the reset state drives lsp[0] below zero
  // through the stability repair, after its clamp to 3.
  LspVector lsp = LspMeanTable;
  for (int frame = 0; frame < 4; ++frame) lsp = DecodeLsp(lsp, 67u << 16, false);
  EXPECT_NEAR(lsp[0], -0.145f, 0.01f);

  // Outside 0..256 the argument is held at the nearer end: a straight continuation of the
  // table would give a cosine beyond 1 and a synthesis filter with a root outside the unit
  // circle.
  const struct {
    float lsp;
    float expected;
  } rows[] = {
      {lsp[0], -1.0f},
      {-3.0f, -1.0f},
      {-1e30f, -1.0f},
      {NAN, -1.0f},
      {0.0f, -1.0f},
      {0.5f, -(CosineTable[0] + 0.5f * (CosineTable[1] - CosineTable[0]))},
      {128.0f, 0.0f},
      {255.5f, -(CosineTable[255] + 0.5f * (CosineTable[256] - CosineTable[255]))},
      {256.0f, 1.0f},
      {256.5f, 1.0f},
      {515.5f, 1.0f},
      {1e30f, 1.0f},
      {INFINITY, 1.0f},
  };
  for (const auto& row : rows) {
    EXPECT_FLOAT_EQ(NegativeCosineOfLsp(row.lsp), row.expected) << row.lsp;
  }

  LpcSet a = lsp;
  LspToLpc(a);
  const std::vector<double> expected = ReferenceLpc(lsp);
  for (int k = 0; k < kLpcOrder; ++k) EXPECT_NEAR(a[k], expected[k], 5e-3) << k;
}

TEST(InterpolateLsp, BlendsPreviousIntoCurrentOverTheFourSubframes) {
  const LspVector previous = LspMeanTable;
  LspVector current;
  for (int i = 0; i < kLpcOrder; ++i) current[i] = LspMeanTable[i] + 8.0f;
  LpcSets lpc;
  InterpolateLsp(lpc, current, previous);
  const float weights[4] = {0.25f, 0.5f, 0.75f, 1.0f};
  for (int k = 0; k < 4; ++k) {
    LspVector blended;
    for (int i = 0; i < kLpcOrder; ++i) {
      blended[i] = current[i] * weights[k] + previous[i] * (1 - weights[k]);
    }
    const std::vector<double> expected = ReferenceLpc(blended);
    for (int j = 0; j < kLpcOrder; ++j) EXPECT_NEAR(lpc[k][j], expected[j], 5e-3) << k << "," << j;
  }
  LpcSet last = current;
  LspToLpc(last);
  EXPECT_EQ(lpc[3], last);
}

}  // namespace

}  // namespace clipnote::speech
