#include "audio/encoder/lsp_quantiser.h"

#include <algorithm>
#include <limits>

#include "audio/lsp_tables.h"

namespace clipnote::speech {

namespace {

constexpr float kPrediction = 0.375f;  // the decoder's factor for good frames

template <int kWidth>
uint32_t SearchBand(const float (*codebook)[kWidth], const float* target, const float* weight) {
  uint32_t best = 0;
  double bestError = std::numeric_limits<double>::max();
  for (uint32_t e = 0; e < 256; ++e) {
    double error = 0;
    for (int i = 0; i < kWidth; ++i) {
      const double d = static_cast<double>(target[i]) - codebook[e][i];
      error += weight[i] * d * d;
    }
    if (error < bestError) {
      bestError = error;
      best = e;
    }
  }
  return best;
}

}  // namespace

uint32_t QuantiseLsp(const LspVector& lsp, const LspVector& previous) {
  float target[kLpcOrder];
  float weight[kLpcOrder];
  for (int i = 0; i < kLpcOrder; ++i) {
    const float predicted = (previous[i] - LspMeanTable[i]) * kPrediction;
    target[i] = lsp[i] - LspMeanTable[i] - predicted;
    // Close neighbours mark a formant peak, which an error there moves most: the weight is
    // the mean of the inverse distances to both neighbours (the band edges at the ends).
    const float below = i > 0 ? lsp[i] - lsp[i - 1] : lsp[i];
    const float above = i < kLpcOrder - 1 ? lsp[i + 1] - lsp[i] : 256.0f - lsp[i];
    weight[i] = 0.5f / std::max(below, 1.0f) + 0.5f / std::max(above, 1.0f);
  }
  const uint32_t band0 = SearchBand<3>(LspBand0, target, weight);
  const uint32_t band1 = SearchBand<3>(LspBand1, target + 3, weight + 3);
  const uint32_t band2 = SearchBand<4>(LspBand2, target + 6, weight + 6);
  return band0 << 16 | band1 << 8 | band2;
}

LspVector InterpolationTarget(const LspVector sub[3], const bool known[3], const LspVector& last,
                              const LspVector& previous) {
  static constexpr double kShare[3] = {0.25, 0.5, 0.75};
  constexpr double kLastWeight = 3.0;
  LspVector target;
  for (int i = 0; i < kLpcOrder; ++i) {
    double sum = kLastWeight * last[i], norm = kLastWeight;
    for (int s = 0; s < 3; ++s) {
      if (!known[s]) continue;
      sum += kShare[s] * (sub[s][i] - (1.0 - kShare[s]) * previous[i]);
      norm += kShare[s] * kShare[s];
    }
    target[i] = static_cast<float>(sum / norm);
  }
  return target;
}

}  // namespace clipnote::speech
