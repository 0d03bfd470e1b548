#include "audio/lsp_decoder.h"

#include <cmath>

#include "audio/lsp_tables.h"

namespace clipnote::speech {

namespace {

constexpr float kPredictionFactor = 0.375f;
constexpr float kErasedPredictionFactor = 0.71875f;
constexpr float kMinimumSpacing = 2.0f;
constexpr float kErasedMinimumSpacing = 4.0f;
constexpr float kSpacingTolerance = 0.03125f;
constexpr float kLowestLsp = 3.0f;
constexpr float kHighestLsp = 252.0f;
constexpr int kRepairPasses = 10;

bool IsStable(const LspVector& lsp, float spacing) {
  const double least = static_cast<double>(spacing) - kSpacingTolerance;
  for (int j = 1; j < kLpcOrder; ++j) {
    if (static_cast<double>(lsp[j]) - lsp[j - 1] < least) return false;
  }
  return true;
}

}  // namespace

LspVector DecodeLsp(const LspVector& previous, uint32_t indexWord, bool erased) {
  float factor = kPredictionFactor;
  float spacing = kMinimumSpacing;
  if (erased) {
    indexWord = 0;
    factor = kErasedPredictionFactor;
    spacing = kErasedMinimumSpacing;
  }

  const float* band0 = LspBand0[(indexWord >> 16) & 0xFF];
  const float* band1 = LspBand1[(indexWord >> 8) & 0xFF];
  const float* band2 = LspBand2[indexWord & 0xFF];
  const float residual[kLpcOrder] = {band0[0], band0[1], band0[2], band1[0], band1[1],
                                     band1[2], band2[0], band2[1], band2[2], band2[3]};

  // Each value is formed in double and rounded once, as it is stored.
  LspVector lsp;
  for (int i = 0; i < kLpcOrder; ++i) {
    const double mean = LspMeanTable[i];
    lsp[i] = static_cast<float>((previous[i] - mean) * factor + residual[i] + mean);
  }

  for (int pass = 0; pass < kRepairPasses; ++pass) {
    if (lsp[0] < kLowestLsp) lsp[0] = kLowestLsp;
    if (lsp[kLpcOrder - 1] > kHighestLsp) lsp[kLpcOrder - 1] = kHighestLsp;
    for (int j = 1; j < kLpcOrder; ++j) {
      const double overlap = static_cast<double>(spacing) + lsp[j - 1] - lsp[j];
      if (overlap > 0) {
        const double half = overlap * 0.5;
        lsp[j - 1] = static_cast<float>(lsp[j - 1] - half);
        lsp[j] = static_cast<float>(lsp[j] + half);
      }
    }
    if (IsStable(lsp, spacing)) return lsp;
  }
  // Ten passes could not separate the values: keep the last good envelope.
  return previous;
}

float NegativeCosineOfLsp(float lsp) {
  // The argument is held to 0..256, the half of the table that spans 0 to pi. Beyond either
  // end a straight continuation of the table would give a cosine above 1 or below -1: the
  // stability repair can leave lsp[0] below 0 after its clamp to 3 (a run of frames with a
  // low band-0 entry does it), and such a vector would put a root of the synthesis filter
  // outside the unit circle. A NaN from damaged state is held to 0 as well.
  constexpr float kHighest = static_cast<float>(kCosineTableSize / 2);
  const float held = lsp > 0.0f ? (lsp < kHighest ? lsp : kHighest) : 0.0f;
  const int k = static_cast<int>(held);  // at most 256, so entry k + 1 exists
  const double fraction = static_cast<double>(held) - k;
  const double c0 = CosineTable[k];
  const double c1 = CosineTable[k + 1];
  return static_cast<float>(-(c0 + fraction * (c1 - c0)));
}

void LspToLpc(std::array<float, kLpcOrder>& values) {
  float q[kLpcOrder];
  for (int i = 0; i < kLpcOrder; ++i) q[i] = NegativeCosineOfLsp(values[i]);

  // Builds one half-polynomial from q[first], q[first + 2], ..., halving at every stage so
  // that it ends at one sixteenth of the true product of (1 + 2 q z^-1 + z^-2).
  auto build = [&q](int first, float (&poly)[6]) {
    const float q0 = q[first];
    const float q2 = q[first + 2];
    poly[0] = 0.5f;
    poly[1] = q0 + q2;
    poly[2] = static_cast<float>(1.0 + 2.0 * static_cast<double>(q0) * q2);
    poly[3] = poly[4] = poly[5] = 0.0f;
    static constexpr float kTwiceLeading[3] = {1.0f, 0.5f, 0.25f};
    for (int j = 2; j <= 4; ++j) {
      const double p = q[first + 2 * j];
      poly[j + 1] = static_cast<float>(poly[j - 1] + static_cast<double>(poly[j]) * p);
      for (int m = j; m >= 2; --m) {
        poly[m] = static_cast<float>(static_cast<double>(poly[m - 1]) * p +
                                     0.5 * (static_cast<double>(poly[m]) + poly[m - 2]));
      }
      poly[1] = static_cast<float>(0.5 * (static_cast<double>(poly[1]) + kTwiceLeading[j - 2] * p));
      poly[0] = 0.5f * poly[0];
    }
  };

  float p[6];
  float r[6];
  build(0, p);
  build(1, r);
  for (int i = 0; i < 5; ++i) {
    const double sum = static_cast<double>(p[i]) + p[i + 1];
    values[i] = static_cast<float>(8.0 * (static_cast<double>(r[i]) - r[i + 1] - sum));
    values[kLpcOrder - 1 - i] = static_cast<float>(8.0 * (static_cast<double>(r[i + 1]) - r[i] - sum));
  }
}

void InterpolateLsp(LpcSets& lpc, const LspVector& current, const LspVector& previous) {
  static constexpr float kWeights[kSubframesPerFrame] = {0.25f, 0.5f, 0.75f, 1.0f};
  for (int k = 0; k < kSubframesPerFrame; ++k) {
    const float w = kWeights[k];
    for (int i = 0; i < kLpcOrder; ++i) {
      lpc[k][i] = static_cast<float>(static_cast<double>(current[i]) * w +
                                     static_cast<double>(previous[i]) * (1.0 - w));
    }
    LspToLpc(lpc[k]);
  }
}

}  // namespace clipnote::speech
