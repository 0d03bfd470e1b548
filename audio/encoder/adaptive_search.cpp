#include "audio/encoder/adaptive_search.h"

#include <algorithm>
#include <limits>

#include "audio/correlation.h"
#include "audio/encoder/encoder_kernels.h"
#include "audio/encoder/perceptual_weighting.h"
#include "audio/excitation_tables.h"

namespace clipnote::speech {

namespace {

constexpr int kTaps = kAdaptiveTaps;
constexpr int kLaggedSamples = kSubframeSamples + kTaps - 1;
// 5 correlations with the target, then the 15 products of the filtered vectors.
constexpr int kTerms = kTapCorrelations;

// Per gain entry, the coefficients that turn the 20 correlations into the error reduction
// 2 sum g[k] <t, f[k]> - sum g[k] g[l] <f[k], f[l]>.
struct GainTerms {
  float small[85][kTerms];
  float large[170][kTerms];
};

void FillTerms(const float taps[], float terms[kTerms]) {
  int at = 0;
  for (int k = 0; k < kTaps; ++k) terms[at++] = 2.0f * taps[k];
  for (int k = 0; k < kTaps; ++k) {
    for (int l = k; l < kTaps; ++l) terms[at++] = (k == l ? -1.0f : -2.0f) * taps[k] * taps[l];
  }
}

const GainTerms& Terms() {
  static const GainTerms terms = [] {
    GainTerms t{};
    for (int e = 0; e < 85; ++e) FillTerms(AdaptiveGainTable85[e], t.small[e]);
    for (int e = 0; e < 170; ++e) FillTerms(AdaptiveGainTable170[e], t.large[e]);
    return t;
  }();
  return terms;
}

// The 64 samples the decoder's adaptive vector filters for lag T.
void Lagged(const float history[kHistorySamples], int lag, float r[kLaggedSamples]) {
  r[0] = history[kHistorySamples - 2 - lag];
  r[1] = history[kHistorySamples - 1 - lag];
  for (int i = 0; i < kLaggedSamples - 2; ++i) r[2 + i] = history[kHistorySamples - lag + i % lag];
}

}  // namespace

AdaptiveChoice SearchAdaptiveCodebook(const float history[kHistorySamples],
                                      const float target[kSubframeSamples],
                                      const float h[kSubframeSamples], int firstLag, int lastLag,
                                      bool smallTable) {
  const GainTerms& terms = Terms();
  const int entries = smallTable ? 85 : 170;
  const float(*table)[kTerms] = smallTable ? terms.small : terms.large;
  const double targetEnergy = Dot(target, target, kSubframeSamples);

  AdaptiveChoice best;
  best.lag = std::clamp(firstLag, 17, kHistorySamples - 2);
  best.error = targetEnergy;  // entry 0 is all zeros: no adaptive contribution
  double bestGain = 0;
  for (int lag = std::max(firstLag, 17); lag <= std::min(lastLag, kHistorySamples - 2); ++lag) {
    float r[kLaggedSamples];
    Lagged(history, lag, r);
    float filtered[kTaps][kSubframeSamples];
    for (int k = 0; k < kTaps; ++k) ConvolveSubframe(r + k, h, filtered[k]);
    float c[kTerms];
    speechEncoderKernels.tapCorrelations(target, filtered, c);
    double gains[170];
    speechEncoderKernels.scoreGains(table, entries, c, gains);
    for (int e = 1; e < entries; ++e) {
      const double gain = gains[e];
      if (gain > bestGain) {
        bestGain = gain;
        best.lag = lag;
        best.gainIndex = e;
      }
    }
  }
  best.error = targetEnergy - bestGain;
  return best;
}

}  // namespace clipnote::speech
